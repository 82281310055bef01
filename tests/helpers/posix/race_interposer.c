/* Test helper, preloaded into sweepdirs: swaps a directory for a link at an
 * exact moment, right before the program's n-th call of fstatat, openat or
 * unlinkat on an entry of a given name. Driven by the environment of the
 * test run (the program itself reads none):
 *   SWEEPDIRS_TEST_RACE=<call>:<name>:<n>   when to swap
 *   SWEEPDIRS_TEST_VICTIM=<dir>             what the link leads to
 *   SWEEPDIRS_TEST_HOLD=<dir>               where the real directory is moved
 * and fails calls as a small descriptor limit and unreadable folders would:
 *   SWEEPDIRS_TEST_FAIL=<n>:<prefix>        on the worker threads, two
 *     directory opens in every n fail with EMFILE (so that a retry fails
 *     too); on any thread an open of a name beginning with <prefix>, EACCES
 *   SWEEPDIRS_TEST_NOID=<prefix>            fstat of a directory whose name
 *     begins with <prefix> fails with EIO (its identity cannot be had)
 *   SWEEPDIRS_TEST_SHORT=<prefix>           on the worker threads an open of a
 *     name beginning with <prefix> fails with EMFILE
 *   SWEEPDIRS_TEST_CLOCK=<ms>               the monotonic clock moves <ms> a call
 *   SWEEPDIRS_TEST_FAULT=<who>:<n>:<errno>[:<prefix>]  the n-th open of a kind
 *     (of a name beginning with <prefix>) fails with <errno>, every one for
 *     n = 0: who is worker or walk (a directory, on a worker or on another
 *     thread), probe (in /proc: every open for the n-th process probed),
 *     mounts (the mount table). An EMFILE on the walk or the probe only while workers run: the
 *     walk can then get it back from them, as one thread would have had it.
 *   SWEEPDIRS_TEST_STOP=<name>:<signal>     the thread that is about to unlink
 *     an entry <name> gets <signal>
 *   SWEEPDIRS_TEST_SLOW=<prefix>:<ms>       a worker thread waits <ms> before
 *     it unlinks an entry whose name begins with <prefix>
 *   SWEEPDIRS_TEST_COUNT=<file>             the directory opens of the walk's
 *     thread and of the workers are written there at the end */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <pthread.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

/* The real call of `name`, looked up once. */
#define REAL(name) \
  static __typeof__(&name) real; \
  if (!real) *(void**)&real = dlsym(RTLD_NEXT, #name)

static int seen;

static void MaybeSwap(const char* call, int dirfd, const char* path) {
  const char* race = getenv("SWEEPDIRS_TEST_RACE");
  const char* victim = getenv("SWEEPDIRS_TEST_VICTIM");
  const char* hold = getenv("SWEEPDIRS_TEST_HOLD");
  char wantCall[32], wantName[256], moved[4096];
  int wantCount = 0;
  if (!race || !victim || !hold || !path) return;
  if (sscanf(race, "%31[^:]:%255[^:]:%d", wantCall, wantName, &wantCount) != 3) return;
  if (strcmp(call, wantCall) != 0 || strcmp(path, wantName) != 0 || ++seen != wantCount) return;
  snprintf(moved, sizeof moved, "%s/moved-%d", hold, (int)getpid());
  if (renameat(dirfd, path, AT_FDCWD, moved) == 0) symlinkat(victim, dirfd, path);
}

/* Threads started and not joined: the program's own cleanup thread, and the workers. */
static int threads;

static int IsWorker(void) {
  char thread[16] = "";
  prctl(PR_GET_NAME, thread);
  return strcmp(thread, "sweepdirs-work") == 0;
}

/* True when `path` (in /proc) is of the nth process probed, in the order
 * first probed (every one for n = 0): a process is judged before its owner
 * is asked for again on whichever thread, so the nth is the same process
 * with any number of threads. /proc itself is of none. */
static int ProbedNth(const char* path, unsigned long nth) {
  static long seen[4096];
  static unsigned long count;
  static int lock;
  if (strncmp(path, "/proc/", 6) == 0) path += 6;
  if (path[0] < '0' || path[0] > '9') return 0;
  const long pid = strtol(path, NULL, 10);
  if (nth == 0) return 1;
  while (__atomic_exchange_n(&lock, 1, __ATOMIC_ACQUIRE)) {
  }
  unsigned long at = 0;
  while (at < count && seen[at] != pid) ++at;
  if (at == count && count < 4096) seen[count++] = pid;
  __atomic_store_n(&lock, 0, __ATOMIC_RELEASE);
  return at + 1 == nth;
}

static int DrawnFault(const char* path, int flags) {
  static unsigned long calls;
  const char* fault = getenv("SWEEPDIRS_TEST_FAULT");
  char who[16], prefix[256] = "";
  unsigned long nth = 0;
  int code = 0;
  if (!fault || !path || sscanf(fault, "%15[^:]:%lu:%d:%255s", who, &nth, &code, prefix) < 3) return 0;
  const int probe = strcmp(path, "/proc") == 0 || (path[0] >= '0' && path[0] <= '9' && !(flags & O_DIRECTORY));
  const int kind = strcmp(path, "/proc/self/mountinfo") == 0 ? 'm' : probe ? 'p'
                   : !(flags & O_DIRECTORY) ? 0 : IsWorker() ? 'k' : 'w';
  if (kind != (strcmp(who, "worker") == 0 ? 'k' : who[0]) || strncmp(path, prefix, strlen(prefix)) != 0) return 0;
  if (code == EMFILE && (kind == 'w' || kind == 'p') && __atomic_load_n(&threads, __ATOMIC_RELAXED) < 2) return 0;
  if (kind == 'p') return ProbedNth(path, nth) ? code : 0;
  const unsigned long count = __atomic_add_fetch(&calls, 1, __ATOMIC_RELAXED);
  return (nth == 0 || count == nth) ? code : 0;
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*body)(void*), void* argument) {
  REAL(pthread_create);
  const int made = real(thread, attributes, body, argument);
  if (made == 0) __atomic_add_fetch(&threads, 1, __ATOMIC_RELAXED);
  return made;
}

int pthread_join(pthread_t thread, void** result) {
  REAL(pthread_join);
  const int joined = real(thread, result);
  if (joined == 0) __atomic_sub_fetch(&threads, 1, __ATOMIC_RELAXED);
  return joined;
}

/* Directory opens by the walk's thread and by the workers, written to the file
 * SWEEPDIRS_TEST_COUNT names when the program ends: "<walk> <workers>". */
static unsigned long opened[2];

__attribute__((destructor)) static void WriteCounts(void) {
  const char* file = getenv("SWEEPDIRS_TEST_COUNT");
  FILE* out = file ? fopen(file, "w") : NULL;
  if (!out) return;
  fprintf(out, "%lu %lu\n", opened[0], opened[1]);
  fclose(out);
}

static int MaybeFail(const char* path, int flags) {
  if (path && (flags & O_DIRECTORY)) __atomic_add_fetch(&opened[IsWorker()], 1, __ATOMIC_RELAXED);
  const int drawn = DrawnFault(path, flags);
  if (drawn) return drawn;
  static unsigned long calls;
  const char* fail = getenv("SWEEPDIRS_TEST_FAIL");
  char prefix[256];
  unsigned long every = 0;
  const char* shortOf = getenv("SWEEPDIRS_TEST_SHORT");
  if (!path || (!fail && (!shortOf || !*shortOf))) return 0;
  const int worker = IsWorker();
  if (worker && shortOf && *shortOf && strncmp(path, shortOf, strlen(shortOf)) == 0) return EMFILE;
  if (!fail || sscanf(fail, "%lu:%255s", &every, prefix) != 2 || !(flags & O_DIRECTORY)) return 0;
  if (strncmp(path, prefix, strlen(prefix)) == 0) return EACCES;
  if (every && worker && __atomic_add_fetch(&calls, 1, __ATOMIC_RELAXED) % every < 2)
    return EMFILE;
  return 0;
}

/* EIO when `fd` is a directory whose name begins with SWEEPDIRS_TEST_NOID. */
static int NoIdentity(int fd) {
  const char* prefix = getenv("SWEEPDIRS_TEST_NOID");
  char link[64], path[4096];
  if (!prefix || !*prefix) return 0;
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t length = readlink(link, path, sizeof path - 1);
  if (length <= 0) return 0;
  path[length] = '\0';
  const char* name = strrchr(path, '/');
  return name && strncmp(name + 1, prefix, strlen(prefix)) == 0 ? EIO : 0;
}

int fstatat(int dirfd, const char* path, struct stat* st, int flags) {
  REAL(fstatat);
  MaybeSwap("fstatat", dirfd, path);
  return real(dirfd, path, st, flags);
}

int fstatat64(int dirfd, const char* path, struct stat64* st, int flags) {
  REAL(fstatat64);
  MaybeSwap("fstatat", dirfd, path);
  return real(dirfd, path, st, flags);
}

int fstat(int fd, struct stat* st) {
  REAL(fstat);
  const int failure = NoIdentity(fd);
  if (failure) {
    errno = failure;
    return -1;
  }
  return real(fd, st);
}

int clock_gettime(clockid_t clock, struct timespec* now) {
  static unsigned long calls;
  REAL(clock_gettime);
  const char* step = getenv("SWEEPDIRS_TEST_CLOCK");
  if (clock != CLOCK_MONOTONIC || !step || !*step) return real(clock, now);
  const unsigned long ms = __atomic_add_fetch(&calls, 1, __ATOMIC_RELAXED) * strtoul(step, NULL, 10);
  now->tv_sec = (time_t)(ms / 1000);
  now->tv_nsec = (long)(ms % 1000) * 1000000;
  return 0;
}

int unlinkat(int dirfd, const char* path, int flags) {
  REAL(unlinkat);
  const char* stop = getenv("SWEEPDIRS_TEST_STOP");
  char name[256];
  int number = 0;
  if (stop && sscanf(stop, "%255[^:]:%d", name, &number) == 2 && strcmp(path, name) == 0) raise(number);
  const char* slow = getenv("SWEEPDIRS_TEST_SLOW");
  if (slow && sscanf(slow, "%255[^:]:%d", name, &number) == 2 && strncmp(path, name, strlen(name)) == 0 &&
      IsWorker())
    usleep(number * 1000);
  MaybeSwap("unlinkat", dirfd, path);
  return real(dirfd, path, flags);
}

#define OPENAT(name) \
  int name(int dirfd, const char* path, int flags, ...) { \
    va_list args; \
    va_start(args, flags); \
    mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0; \
    va_end(args); \
    REAL(name); \
    MaybeSwap("openat", dirfd, path); \
    int failure = MaybeFail(path, flags); \
    if (failure) { \
      errno = failure; \
      return -1; \
    } \
    return real(dirfd, path, flags, mode); \
  }
OPENAT(openat)
OPENAT(openat64)

#define OPEN(name) \
  int name(const char* path, int flags, ...) { \
    va_list args; \
    va_start(args, flags); \
    mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0; \
    va_end(args); \
    REAL(name); \
    int failure = DrawnFault(path, flags); \
    if (failure) { \
      errno = failure; \
      return -1; \
    } \
    return real(path, flags, mode); \
  }
OPEN(open)
OPEN(open64)
