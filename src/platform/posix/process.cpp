// POSIX only: the seam's process snapshot, read from /proc on Linux.
#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/text.h"

namespace plat {

struct Snapshot {
  std::vector<uint32_t> ids;  // read at once, so the picture is of one moment
  size_t current = 0;
};

namespace {

// The process id a /proc entry name stands for; false for the other entries.
bool ParseProcessId(const char* name, uint32_t& id) {
  if (*name == '\0') return false;
  uint64_t value = 0;
  for (const char* p = name; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + static_cast<uint64_t>(*p - '0');
    if (value > UINT32_MAX) return false;
  }
  id = static_cast<uint32_t>(value);
  return true;
}

// The file name of the process's executable, as the kernel links it. The
// kernel adds " (deleted)" when the file is gone; the image name is the same.
bool ExecutableName(uint32_t id, std::string& name) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%u/exe", id);
  char target[PATH_MAX];
  const ssize_t length = readlink(path, target, sizeof target);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof target) return false;
  std::string_view text(target, static_cast<size_t>(length));
  constexpr std::string_view kDeleted = " (deleted)";
  if (text.size() > kDeleted.size() && text.substr(text.size() - kDeleted.size()) == kDeleted)
    text.remove_suffix(kDeleted.size());
  const size_t slash = text.rfind('/');
  if (slash != std::string_view::npos) text.remove_prefix(slash + 1);
  if (text.empty()) return false;
  name.assign(text);
  return true;
}

// The command name the kernel keeps (the first 15 bytes of the executable's
// file name); readable where the executable link is not, and set for kernel
// threads, which have no executable.
bool CommandName(uint32_t id, std::string& name) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%u/comm", id);
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[64];
  ssize_t length;
  do {
    length = read(fd, text, sizeof text);
  } while (length < 0 && errno == EINTR);
  close(fd);
  if (length <= 0) return false;
  size_t size = static_cast<size_t>(length);
  if (text[size - 1] == '\n') --size;
  name.assign(text, size);
  return true;
}

}  // namespace

Snapshot* SnapshotOpen() {
  // One look at /proc per candidate: its entries are read straight into a
  // buffer kept for the next look; no image name is read here.
  const int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (proc < 0) {
    posix::RecordError(errno);
    return nullptr;
  }
  auto* snapshot = new (std::nothrow) Snapshot;
  if (snapshot == nullptr) {
    close(proc);
    posix::RecordError(ENOMEM);
    return nullptr;
  }
  snapshot->ids.reserve(512);
  alignas(8) static char buffer[64 * 1024];
  for (;;) {
    const long got = syscall(SYS_getdents64, proc, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (long at = 0; at < got;) {
      unsigned short length;
      std::memcpy(&length, buffer + at + 16, sizeof length);  // d_reclen follows d_ino and d_off
      uint32_t id;
      if (ParseProcessId(buffer + at + 19, id)) snapshot->ids.push_back(id);  // d_name
      at += length;
    }
  }
  close(proc);
  return snapshot;
}

bool SnapshotFirst(Snapshot* snapshot, uint32_t& processId) {
  snapshot->current = 0;
  if (snapshot->ids.empty()) {
    posix::RecordError(ESRCH);
    return false;
  }
  processId = snapshot->ids[0];
  return true;
}

bool SnapshotNext(Snapshot* snapshot, uint32_t& processId) {
  if (snapshot->current + 1 >= snapshot->ids.size()) {
    snapshot->current = snapshot->ids.size();
    posix::RecordError(ESRCH);
    return false;
  }
  processId = snapshot->ids[++snapshot->current];
  return true;
}

std::wstring SnapshotImageName(Snapshot* snapshot) {
  if (snapshot->current >= snapshot->ids.size()) return {};
  const uint32_t id = snapshot->ids[snapshot->current];
  std::string name;
  if (!ExecutableName(id, name) && !CommandName(id, name)) return {};
  return posix::WideFromUtf8(name);
}

void SnapshotClose(Snapshot* snapshot) { delete snapshot; }

}  // namespace plat
