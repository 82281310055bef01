/* floor_walk: the system-call floor of a directory walk.
 *
 * Per directory exactly: openat, getdents64 until it returns 0 (twice for
 * a directory that fits in one buffer), close.  Subdirectories are found
 * from d_type alone; nothing is stat'ed (except on a file system that leaves
 * d_type unknown, counted in "unknown").  Symlinks are not followed.
 * Directories whose names look like work areas (_TD*, #TD*, KEL_util*) are
 * counted and not entered, as find -prune does.
 *
 *   floor_walk [-a] DIR     -a: enter every directory, prune nothing
 *
 * Prints one line: dirs=N files=N links=N pruned=N unknown=N errors=N
 * ("dirs" counts the directories opened, DIR included).  Exit 1 on errors.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

struct linux_dirent64 {
  uint64_t d_ino;
  int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

enum { kChunk = 32 * 1024 };

static unsigned long dirs, files, links, pruned, unknown, errors;
static int prune = 1;

/* One listing buffer per depth, kept and grown: no allocation per directory. */
static char **buffers;
static size_t *capacities;
static size_t levels;

static char *buffer_at(size_t depth, size_t need) {
  if (depth >= levels) {
    size_t n = levels ? levels * 2 : 64;
    while (n <= depth) n *= 2;
    buffers = realloc(buffers, n * sizeof *buffers);
    capacities = realloc(capacities, n * sizeof *capacities);
    if (!buffers || !capacities) abort();
    memset(buffers + levels, 0, (n - levels) * sizeof *buffers);
    memset(capacities + levels, 0, (n - levels) * sizeof *capacities);
    levels = n;
  }
  if (capacities[depth] < need) {
    size_t c = capacities[depth] ? capacities[depth] : kChunk;
    while (c < need) c *= 2;
    buffers[depth] = realloc(buffers[depth], c);
    if (!buffers[depth]) abort();
    capacities[depth] = c;
  }
  return buffers[depth];
}

static int work_area_name(const char *n) {
  return ((n[0] == '_' || n[0] == '#') && n[1] == 'T' && n[2] == 'D') ||
         strncmp(n, "KEL_util", 8) == 0;
}

/* Reads the whole directory into this depth's buffer, then descends; the
 * descriptor stays open until the children are done (they are opened with
 * openat relative to it) and is closed last. */
static void walk(int fd, size_t depth) {
  ++dirs;
  size_t used = 0;
  for (;;) {
    char *buf = buffer_at(depth, used + kChunk);
    long got = syscall(SYS_getdents64, fd, buf + used, kChunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) { ++errors; break; }
    if (got == 0) break;
    used += (size_t)got;
  }
  for (size_t at = 0; at < used;) {
    struct linux_dirent64 *d = (struct linux_dirent64 *)(buffers[depth] + at);
    at += d->d_reclen;
    const char *n = d->d_name;
    if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
    unsigned char type = d->d_type;
    if (type == DT_UNKNOWN) {
      struct stat st;
      ++unknown;
      if (fstatat(fd, n, &st, AT_SYMLINK_NOFOLLOW) != 0) { ++errors; continue; }
      type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
    }
    if (type == DT_LNK) { ++links; continue; }
    if (type != DT_DIR) { ++files; continue; }
    if (prune && work_area_name(n)) { ++pruned; continue; }
    int child = openat(fd, n, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (child < 0) { ++errors; continue; }
    walk(child, depth + 1);  /* uses deeper slots only: this listing stays put */
  }
  close(fd);
}

int main(int argc, char **argv) {
  int arg = 1;
  if (arg < argc && strcmp(argv[arg], "-a") == 0) { prune = 0; ++arg; }
  if (arg + 1 != argc) {
    fprintf(stderr, "usage: floor_walk [-a] DIR\n");
    return 2;
  }
  /* A chain of directories keeps one descriptor open per level. */
  struct rlimit rl;
  if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max) {
    rl.rlim_cur = rl.rlim_max;
    setrlimit(RLIMIT_NOFILE, &rl);
  }
  int fd = open(argv[arg], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    perror(argv[arg]);
    return 1;
  }
  walk(fd, 0);
  printf("dirs=%lu files=%lu links=%lu pruned=%lu unknown=%lu errors=%lu\n", dirs, files,
         links, pruned, unknown, errors);
  return errors ? 1 : 0;
}
