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
  bool cameBack;  // written by the run's thread before it ends, read after the wait for it
};

// The removal, the measuring and the one-thread walk recurse once per
// directory level, some 260 bytes a level; the main thread's stack (2 MiB,
// as the executable's header asks) would end a tree 8,000 levels deep. The
// run has a thread of its own, with the stack the POSIX build gives it;
// only the pages touched are committed.
constexpr SIZE_T kRunStackBytes = SIZE_T{1} << 30;

// The test build sweepdirs_small_stack leaves the run only
// SWEEPDIRS_TEST_RUN_STACK_LEFT bytes of its thread's stack, to show that a
// deep tree needs that stack (the main thread's is never used). Wine gives
// a thread no less than 1 MiB whatever it asks for, so the thread asks for
// that much and the rest is taken before the run begins.
#ifdef SWEEPDIRS_TEST_RUN_STACK_LEFT
constexpr SIZE_T kThreadStackBytes = SIZE_T{1} << 20;
#else
constexpr SIZE_T kThreadStackBytes = kRunStackBytes;
#endif

DWORD WINAPI RunOnDeepStack(void* context) {
  auto* run = static_cast<Run*>(context);
#ifdef SWEEPDIRS_TEST_RUN_STACK_LEFT
  // Taken in this frame, so that it stays taken while the run goes on.
  ULONG_PTR low = 0, high = 0;
  GetCurrentThreadStackLimits(&low, &high);
  const ULONG_PTR free = reinterpret_cast<ULONG_PTR>(&low) - low;
  if (free > SWEEPDIRS_TEST_RUN_STACK_LEFT) {
    volatile char* taken = static_cast<volatile char*>(__builtin_alloca(free - SWEEPDIRS_TEST_RUN_STACK_LEFT));
    taken[0] = 0;
  }
#endif
  run->status = RunCleanup(run->argc, run->argv);
  run->cameBack = true;
  return 0;
}

// Windows ends the process when the run's thread meets an exception that
// nothing handles (a stack overflow); Wine ends only the thread. A run that
// did not come back ends the program with this code all the same
// (STATUS_UNHANDLED_EXCEPTION), never with the status of a run that went well.
constexpr uint32_t kRunCutOff = 0xC0000144u;

}  // namespace

// The run status becomes the process exit code with all its 32 bits; output
// still buffered is written by the exit handler that WriteText installs.
extern "C" int wmain(int argc, wchar_t** argv) {
  plat::CatchStop();
  EnableBackupPrivileges();
  Run run{argc, argv, 0, false};
  HANDLE thread = CreateThread(nullptr, kThreadStackBytes, RunOnDeepStack, &run,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    if (!run.cameBack) run.status = kRunCutOff;
  } else {
    run.status = RunCleanup(argc, argv);
  }
  return static_cast<int>(run.status);
}
