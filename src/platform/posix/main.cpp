// POSIX only: the entry point; wide arguments in, the run status as an 8-bit exit status out.
#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "platform/posix/text.h"

namespace {

// The exit status keeps 8 bits: 0 success, 1 usage printed, 2 command line
// refused (a catalogue id), 3 an action failed (a system code).
int ExitStatusFor(uint32_t runStatus) {
  if (runStatus == 0 || runStatus == 1) return static_cast<int>(runStatus);
  return runStatus > 0xC0020000u ? 2 : 3;
}

}  // namespace

int main(int argc, char** argv) {
  // Output failures are not reported; a closed pipe must not end a removal
  // half way.
  std::signal(SIGPIPE, SIG_IGN);

  std::vector<std::wstring> arguments;
  arguments.reserve(static_cast<size_t>(argc));
  for (int i = 0; i < argc; ++i) arguments.push_back(plat::posix::WideFromUtf8(argv[i]));
  std::vector<wchar_t*> pointers;
  pointers.reserve(arguments.size() + 1);
  for (std::wstring& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);

  const uint32_t runStatus = RunCleanup(argc, pointers.data());
  plat::posix::FlushOutput();
  return ExitStatusFor(runStatus);
}
