// POSIX only: descriptors closed in batches, each thread its own.
#pragma once

namespace plat::posix {

// Closes `fd` soon: with the thread's next batch, and at the latest when
// the thread ends. Nothing may use `fd` after the call.
void CloseSoon(int fd);

}  // namespace plat::posix
