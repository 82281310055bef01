// POSIX only: the seam's process snapshot, looked up in /proc on Linux.
#include <fcntl.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/text.h"

namespace plat {

// The picture of the processes that matter for one question: first this
// process (so the picture is never empty, as a picture of all of them never
// is), then the process asked about, when it runs. Each open is a fresh look,
// taken from the kernel's process table at that moment.
struct Snapshot {
  uint32_t ids[2] = {0, 0};
  size_t count = 1;
  size_t current = 0;
  // The other names of process `ids[namesOf]`, read at the first question.
  size_t namesOf = SIZE_MAX;
  std::vector<std::string> names;
};

namespace {

// /proc, opened at the first look and kept: each lookup is made relative to
// it. -2 before the first look; -1 when /proc is missing or is not the
// process file system (then nothing can be known). Any thread may look: the
// first to open /proc publishes its descriptor once (a thread that comes
// second closes its own), and it never changes after.
std::atomic<int> procFd{-2};

constexpr long kProcSuperMagic = 0x9fa0;

bool OpenProc() {
  int fd = procFd.load(std::memory_order_acquire);
  if (fd == -2) {
    fd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      // A failed open (out of descriptors, say) is not remembered: the next look opens again.
      posix::RecordError(errno);
      return false;
    }
    struct statfs facts;
    if (fstatfs(fd, &facts) != 0 || facts.f_type != kProcSuperMagic) {
      close(fd);
      fd = -1;
    }
    int published = -2;
    if (!procFd.compare_exchange_strong(published, fd, std::memory_order_acq_rel, std::memory_order_acquire)) {
      if (fd >= 0) close(fd);
      fd = published;
    }
  }
  if (fd < 0) posix::RecordError(ENOENT);
  return fd >= 0;
}

// Reads the start of a /proc file into `text`; the length read, or -1.
ssize_t ReadProcFile(const char* path, char* text, size_t size) {
  const int fd = openat(procFd, path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  ssize_t length;
  do {
    length = read(fd, text, size);
  } while (length < 0 && errno == EINTR);
  const int code = errno;
  close(fd);
  errno = code;
  return length;
}

// Whether `id` is a running process: 1 yes, 0 no, -1 unknown (errno set).
// /proc/<id> also answers for a thread that is not its group's leader; such
// an id names no process (a listing of /proc would not show it), hence the
// Tgid test.
int ProcessRuns(uint32_t id) {
  char path[32];
  std::snprintf(path, sizeof path, "%u/status", id);
  char text[1024];
  const ssize_t length = ReadProcFile(path, text, sizeof text - 1);
  if (length < 0) return errno == ENOENT || errno == ESRCH ? 0 : -1;
  text[length] = '\0';
  const char* line = std::strstr(text, "\nTgid:");
  if (line == nullptr) {
    errno = EIO;
    return -1;
  }
  char* end = nullptr;
  const unsigned long group = std::strtoul(line + 6, &end, 10);
  if (end == line + 6) {
    errno = EIO;
    return -1;
  }
  return group == id ? 1 : 0;
}

// The file name of the process's executable, as the kernel links it. The
// kernel adds " (deleted)" when the file is gone; the image name is the same.
bool ExecutableName(const char* process, std::string& name) {
  char path[32];
  std::snprintf(path, sizeof path, "%s/exe", process);
  char target[PATH_MAX];
  const ssize_t length = readlinkat(procFd, path, target, sizeof target);
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
// threads and exited processes not yet waited for, which have no executable.
bool CommandName(const char* process, std::string& name) {
  char path[32];
  std::snprintf(path, sizeof path, "%s/comm", process);
  char text[64];
  const ssize_t length = ReadProcFile(path, text, sizeof text);
  if (length <= 0) return false;
  size_t size = static_cast<size_t>(length);
  if (text[size - 1] == '\n') --size;
  name.assign(text, size);
  return true;
}

// The names of a process that every user may read, whoever owns it: its
// command name, and the base names of its first two arguments (the name a
// wrapper gave it; the script an interpreter runs). Its executable's link
// is readable to its owner and root only.
std::vector<std::string> ReadableNames(const char* process) {
  std::vector<std::string> names;
  std::string name;
  if (CommandName(process, name)) names.push_back(name);
  char path[32];
  std::snprintf(path, sizeof path, "%s/cmdline", process);
  char text[2 * PATH_MAX + 2];
  const ssize_t length = ReadProcFile(path, text, sizeof text);
  std::string_view rest(text, length > 0 ? static_cast<size_t>(length) : 0);
  for (int i = 0; i < 2 && !rest.empty(); ++i) {
    const size_t end = rest.find('\0');
    // An argument cut off by the end of the buffer is left out.
    if (end == std::string_view::npos && static_cast<size_t>(length) == sizeof text) break;
    std::string_view argument = rest.substr(0, end);
    const size_t slash = argument.rfind('/');
    if (slash != std::string_view::npos) argument.remove_prefix(slash + 1);
    if (!argument.empty()) names.emplace_back(argument);
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return names;
}

// The /proc name of the current process of the snapshot.
void ProcessName(const Snapshot* snapshot, char (&process)[16]) {
  // This process by its /proc/self link: its own id may be another in the
  // id space /proc shows.
  std::snprintf(process, sizeof process, "self");
  if (snapshot->current != 0) std::snprintf(process, sizeof process, "%u", snapshot->ids[snapshot->current]);
}

}  // namespace

Snapshot* SnapshotOpen(uint32_t processId) {
  // Only the one id is looked up: no listing of every process, and no
  // image name read here.
  if (!OpenProc()) return nullptr;
  const int runs = ProcessRuns(processId);
  if (runs < 0) {
    posix::RecordError(errno);
    return nullptr;
  }
  auto* snapshot = new (std::nothrow) Snapshot;
  if (snapshot == nullptr) {
    posix::RecordError(ENOMEM);
    return nullptr;
  }
  snapshot->ids[0] = static_cast<uint32_t>(getpid());
  if (runs == 1) {
    snapshot->ids[1] = processId;
    snapshot->count = 2;
  }
  return snapshot;
}

bool SnapshotFirst(Snapshot* snapshot, uint32_t& processId) {
  snapshot->current = 0;
  processId = snapshot->ids[0];
  return true;
}

bool SnapshotNext(Snapshot* snapshot, uint32_t& processId) {
  if (snapshot->current + 1 >= snapshot->count) {
    snapshot->current = snapshot->count;
    posix::RecordError(ESRCH);
    return false;
  }
  processId = snapshot->ids[++snapshot->current];
  return true;
}

std::wstring SnapshotImageName(Snapshot* snapshot) {
  if (snapshot->current >= snapshot->count) return {};
  char process[16];
  ProcessName(snapshot, process);
  std::string name;
  if (!ExecutableName(process, name) && !CommandName(process, name)) return {};
  return posix::WideFromUtf8(name);
}

bool SnapshotOtherName(Snapshot* snapshot, size_t index, std::wstring& name) {
  if (snapshot->current >= snapshot->count) return false;
  if (snapshot->namesOf != snapshot->current) {
    char process[16];
    ProcessName(snapshot, process);
    snapshot->names = ReadableNames(process);
    snapshot->namesOf = snapshot->current;
  }
  if (index >= snapshot->names.size()) return false;
  name = posix::WideFromUtf8(snapshot->names[index]);
  return true;
}

void SnapshotClose(Snapshot* snapshot) { delete snapshot; }

}  // namespace plat
