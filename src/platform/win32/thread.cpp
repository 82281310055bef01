// Windows implementation of the platform seam only: threads and gates.
#include <windows.h>

#include <new>

#include "platform/platform.h"

namespace plat {

struct Thread {
  HANDLE handle;
  void (*body)(void*);
  void* argument;
};

struct Gate {
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE woken = CONDITION_VARIABLE_INIT;
};

namespace {

DWORD WINAPI RunBody(void* context) {
  auto* thread = static_cast<Thread*>(context);
  thread->body(thread->argument);
  return 0;
}

}  // namespace

// Handles are limited only by memory.
size_t OpenListingLimit() { return kListingsUnlimited; }

uint32_t ProcessorCount() {
  DWORD_PTR process = 0, system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
    uint32_t count = 0;
    for (; process; process &= process - 1) ++count;
    return count;
  }
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors ? info.dwNumberOfProcessors : 1;
}

Thread* ThreadStart(void (*body)(void*), void* argument) {
  auto* thread = new (std::nothrow) Thread{nullptr, body, argument};
  if (!thread) return nullptr;
  // A stale tree is removed by recursion, one frame per level: reserve
  // room for very deep trees; only the pages touched are committed.
  constexpr SIZE_T kStackBytes = SIZE_T{256} << 20;
  thread->handle = CreateThread(nullptr, kStackBytes, RunBody, thread, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread->handle) return thread;
  delete thread;
  return nullptr;
}

void ThreadJoin(Thread* thread) {
  WaitForSingleObject(thread->handle, INFINITE);
  CloseHandle(thread->handle);
  delete thread;
}

Gate* GateCreate() { return new (std::nothrow) Gate; }
void GateDestroy(Gate* gate) { delete gate; }
void GateEnter(Gate* gate) { AcquireSRWLockExclusive(&gate->lock); }
void GateLeave(Gate* gate) { ReleaseSRWLockExclusive(&gate->lock); }
void GateWait(Gate* gate) { SleepConditionVariableSRW(&gate->woken, &gate->lock, INFINITE, 0); }
void GateWakeAll(Gate* gate) { WakeAllConditionVariable(&gate->woken); }

}  // namespace plat
