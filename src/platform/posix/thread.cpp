// POSIX only: the seam's threads and gates, on pthreads.
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <new>

#include "platform/platform.h"

namespace plat {

struct Thread {
  pthread_t handle;
  void (*body)(void*);
  void* argument;
};

// The lock checks its owner: a thread that leaves or waits on a gate it did
// not enter has broken the program's locking, and the process stops there
// rather than go on with shared state unguarded.
struct Gate {
  pthread_mutex_t lock = PTHREAD_ERRORCHECK_MUTEX_INITIALIZER_NP;
  pthread_cond_t woken = PTHREAD_COND_INITIALIZER;
};

namespace {

void* RunBody(void* context) {
  auto* thread = static_cast<Thread*>(context);
  // Named for whoever looks at the process's threads (ps -L, top -H).
  pthread_setname_np(pthread_self(), "sweepdirs-work");
  thread->body(thread->argument);
  return nullptr;
}

}  // namespace

uint32_t ProcessorCount() {
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
    const int count = CPU_COUNT(&allowed);
    if (count > 0) return static_cast<uint32_t>(count);
  }
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<uint32_t>(online) : 1;
}

size_t OpenListingLimit() {
  rlimit files;
  if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY) return kListingsUnlimited;
  return files.rlim_cur > 16 ? static_cast<size_t>(files.rlim_cur) - 16 : 1;
}

Thread* ThreadStart(void (*body)(void*), void* argument) {
  auto* thread = new (std::nothrow) Thread{{}, body, argument};
  if (!thread) return nullptr;
  // A stale tree is removed by recursion, one frame per level: reserve
  // room for very deep trees; only the pages touched cost memory.
  constexpr size_t kStackBytes = size_t{256} << 20;
  pthread_attr_t attributes;
  bool started = false;
  if (pthread_attr_init(&attributes) == 0) {
    started = pthread_attr_setstacksize(&attributes, kStackBytes) == 0 &&
              pthread_create(&thread->handle, &attributes, RunBody, thread) == 0;
    pthread_attr_destroy(&attributes);
  }
  if (started) return thread;
  delete thread;
  return nullptr;
}

void ThreadJoin(Thread* thread) {
  pthread_join(thread->handle, nullptr);
  delete thread;
}

Gate* GateCreate() { return new (std::nothrow) Gate; }
void GateDestroy(Gate* gate) {
  if (!gate) return;
  pthread_cond_destroy(&gate->woken);
  pthread_mutex_destroy(&gate->lock);
  delete gate;
}
void GateEnter(Gate* gate) {
  if (pthread_mutex_lock(&gate->lock) != 0) abort();
}
void GateLeave(Gate* gate) {
  if (pthread_mutex_unlock(&gate->lock) != 0) abort();
}
void GateWait(Gate* gate) {
  if (pthread_cond_wait(&gate->woken, &gate->lock) != 0) abort();
}
void GateWakeAll(Gate* gate) { pthread_cond_broadcast(&gate->woken); }

}  // namespace plat
