// Windows implementation of the platform seam only: the program's entry point.
#include <windows.h>

#include <cstdint>

#include "driver/driver.h"
#include "platform/platform.h"

namespace {

// Every open asks for backup intent. It only counts where the backup and
// restore privileges are enabled, and an administrator's token holds them
// disabled while the system account's has them on: they are enabled here
// wherever the token holds them, so that what is read and removed depends
// on the rights the account holds, not on which account it is.
void EnableBackupPrivileges() {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
  struct {
    DWORD count;
    LUID_AND_ATTRIBUTES privileges[2];
  } wanted{2, {}};
  const bool named = LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", &wanted.privileges[0].Luid) &&
                     LookupPrivilegeValueW(nullptr, L"SeRestorePrivilege", &wanted.privileges[1].Luid);
  wanted.privileges[0].Attributes = wanted.privileges[1].Attributes = SE_PRIVILEGE_ENABLED;
  // Privileges the token does not hold are left out without a word
  // (ERROR_NOT_ALL_ASSIGNED).
  if (named) AdjustTokenPrivileges(token, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&wanted), 0, nullptr, nullptr);
  CloseHandle(token);
  SetLastError(0);
}

struct Run {
  int argc;
  wchar_t** argv;
  uint32_t status;
};

DWORD WINAPI RunOnDeepStack(void* context) {
  auto* run = static_cast<Run*>(context);
  run->status = RunCleanup(run->argc, run->argv);
  return 0;
}

// The removal, the measuring and the one-thread walk recurse once per
// directory level; the main thread's stack (1 MiB unless the executable
// asks otherwise) would end a tree a few thousand levels deep. The run has
// a thread of its own, with the stack the POSIX build gives it; only the
// pages touched are committed.
constexpr SIZE_T kRunStackBytes = SIZE_T{1} << 30;

}  // namespace

// The run status becomes the process exit code with all its 32 bits; output
// still buffered is written by the exit handler that WriteText installs.
extern "C" int wmain(int argc, wchar_t** argv) {
  plat::CatchStop();
  EnableBackupPrivileges();
  Run run{argc, argv, 0};
  HANDLE thread = CreateThread(nullptr, kRunStackBytes, RunOnDeepStack, &run,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  } else {
    run.status = RunCleanup(argc, argv);
  }
  return static_cast<int>(run.status);
}
