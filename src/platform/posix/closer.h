// POSIX only: descriptors closed in batches, each thread its own.
#pragma once

namespace plat::posix {

// Closes `fd` soon: with the thread's next batch, and at the latest when
// the thread ends. Nothing may use `fd` after the call.
void CloseSoon(int fd);
// openat(), but when the process is out of descriptors, the thread's batch
// is closed first and the open tried again.
int OpenAt(int dirFd, const char* name, int flags);

}  // namespace plat::posix
