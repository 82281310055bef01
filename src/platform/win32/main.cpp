// Windows implementation of the platform seam only: the program's entry point.
#include <cstdint>

#include "driver/driver.h"
#include "platform/platform.h"

// The run status becomes the process exit code with all its 32 bits; output
// still buffered is written by the exit handler that WriteText installs.
extern "C" int wmain(int argc, wchar_t** argv) {
  plat::CatchStop();
  return static_cast<int>(RunCleanup(argc, argv));
}
