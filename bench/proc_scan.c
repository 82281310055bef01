/* proc_scan: what finding one owner costs by looking at /proc, repeated
 * once per candidate.
 *
 *   proc_scan full N     per candidate: list /proc and read every process's
 *                        image name (readlink exe, else comm), compare each
 *                        with KEL.EXE
 *   proc_scan list N     per candidate: list /proc only (the ids)
 *   proc_scan direct N   per candidate: readlink /proc/<pid>/exe of the one
 *                        pid in question (a dead one)
 *
 * Prints: mode=M candidates=N processes=P us_per_candidate=X matches=K
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

struct linux_dirent64 {
  uint64_t d_ino;
  int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

static int numeric(const char *s) {
  if (!*s) return 0;
  for (; *s; ++s)
    if (*s < '0' || *s > '9') return 0;
  return 1;
}

static int image_is_kel(const char *pid) {
  char path[64], target[4096];
  snprintf(path, sizeof path, "/proc/%s/exe", pid);
  ssize_t n = readlink(path, target, sizeof target - 1);
  const char *name = NULL;
  if (n > 0) {
    target[n] = 0;
    char *slash = strrchr(target, '/');
    name = slash ? slash + 1 : target;
  } else {
    snprintf(path, sizeof path, "/proc/%s/comm", pid);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    n = read(fd, target, sizeof target - 1);
    close(fd);
    if (n <= 0) return 0;
    target[n] = 0;
    name = target;
  }
  return strncasecmp(name, "KEL.EXE", 7) == 0;
}

/* One look at /proc; returns the number of processes seen. */
static int scan(int read_names, long *matches) {
  static char buf[64 * 1024];
  int fd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) { perror("/proc"); exit(1); }
  int procs = 0;
  for (;;) {
    long got = syscall(SYS_getdents64, fd, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (long at = 0; at < got;) {
      struct linux_dirent64 *d = (struct linux_dirent64 *)(buf + at);
      at += d->d_reclen;
      if (!numeric(d->d_name)) continue;
      ++procs;
      if (read_names && image_is_kel(d->d_name)) ++*matches;
    }
  }
  close(fd);
  return procs;
}

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: proc_scan full|list|direct N\n");
    return 2;
  }
  const char *mode = argv[1];
  long n = atol(argv[2]);
  if (n <= 0 || (strcmp(mode, "full") && strcmp(mode, "list") && strcmp(mode, "direct"))) {
    fprintf(stderr, "usage: proc_scan full|list|direct N\n");
    return 2;
  }
  long matches = 0;
  int procs = scan(0, &matches);
  struct timespec t0, t1;
  clock_gettime(CLOCK_MONOTONIC, &t0);
  for (long i = 0; i < n; ++i) {
    if (strcmp(mode, "direct") == 0) {
      char path[64], target[4096];
      snprintf(path, sizeof path, "/proc/%ld/exe", 5000000L + i);
      if (readlink(path, target, sizeof target) > 0) ++matches;
    } else {
      scan(mode[0] == 'f', &matches);
    }
  }
  clock_gettime(CLOCK_MONOTONIC, &t1);
  double us = ((t1.tv_sec - t0.tv_sec) * 1e9 + (t1.tv_nsec - t0.tv_nsec)) / 1e3 / n;
  printf("mode=%s candidates=%ld processes=%d us_per_candidate=%.2f matches=%ld\n", mode, n,
         procs, us, matches);
  return 0;
}
