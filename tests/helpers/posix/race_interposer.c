/* Test helper, preloaded into sweepdirs: swaps a directory for a link at an
 * exact moment, right before the program's n-th call of fstatat, openat or
 * unlinkat on an entry of a given name. Driven by the environment of the
 * test run (the program itself reads none):
 *   SWEEPDIRS_TEST_RACE=<call>:<name>:<n>   when to swap
 *   SWEEPDIRS_TEST_VICTIM=<dir>             what the link leads to
 *   SWEEPDIRS_TEST_HOLD=<dir>               where the real directory is moved */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int seen;

static void MaybeSwap(const char* call, int dirfd, const char* path) {
  const char* race = getenv("SWEEPDIRS_TEST_RACE");
  const char* victim = getenv("SWEEPDIRS_TEST_VICTIM");
  const char* hold = getenv("SWEEPDIRS_TEST_HOLD");
  if (!race || !victim || !hold || !path) return;
  char wantCall[32], wantName[256];
  int wantCount = 0;
  if (sscanf(race, "%31[^:]:%255[^:]:%d", wantCall, wantName, &wantCount) != 3) return;
  if (strcmp(call, wantCall) != 0 || strcmp(path, wantName) != 0) return;
  if (++seen != wantCount) return;
  char moved[4096];
  snprintf(moved, sizeof moved, "%s/moved-%d", hold, (int)getpid());
  if (renameat(dirfd, path, AT_FDCWD, moved) != 0) return;
  if (symlinkat(victim, dirfd, path) != 0) return;
}

int fstatat(int dirfd, const char* path, struct stat* st, int flags) {
  static int (*real)(int, const char*, struct stat*, int);
  if (!real) *(void**)&real = dlsym(RTLD_NEXT, "fstatat");
  MaybeSwap("fstatat", dirfd, path);
  return real(dirfd, path, st, flags);
}

int fstatat64(int dirfd, const char* path, struct stat64* st, int flags) {
  static int (*real)(int, const char*, struct stat64*, int);
  if (!real) *(void**)&real = dlsym(RTLD_NEXT, "fstatat64");
  MaybeSwap("fstatat", dirfd, path);
  return real(dirfd, path, st, flags);
}

static int OpenAt(const char* symbol, int dirfd, const char* path, int flags, mode_t mode) {
  int (*real)(int, const char*, int, ...);
  *(void**)&real = dlsym(RTLD_NEXT, symbol);
  MaybeSwap("openat", dirfd, path);
  return real(dirfd, path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
  va_end(args);
  return OpenAt("openat", dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
  va_end(args);
  return OpenAt("openat64", dirfd, path, flags, mode);
}

int unlinkat(int dirfd, const char* path, int flags) {
  static int (*real)(int, const char*, int);
  if (!real) *(void**)&real = dlsym(RTLD_NEXT, "unlinkat");
  MaybeSwap("unlinkat", dirfd, path);
  return real(dirfd, path, flags);
}
