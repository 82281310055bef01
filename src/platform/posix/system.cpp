// POSIX only: the seam's places, names, time, messages, heap and output for Linux.
#include <pwd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/common/catalog_table.h"
#include "platform/common/format_inserts.h"
#include "platform/platform.h"
#include "platform/posix/text.h"
#include "sweepdirs.h"

namespace plat {

namespace {

thread_local uint32_t g_lastError = 0;

// Standard output goes through this buffer; FlushOutput empties it.
char g_output[8192];
size_t g_outputUsed = 0;
bool g_flushAtExit = false;

void AtExitFlush() { posix::FlushOutput(); }

// The stop signals received, counted by the handler (lock-free, so
// async-signal-safe), read by any thread.
std::atomic<int> g_stops{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnStopSignal(int signal) {
  if (g_stops.fetch_add(1) == 0) return;
  // A second stop ends the run at once, as the signal would have: it stays
  // blocked until the handler returns, then finds its default.
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// The home folder of user `user` from the password database; the
// environment is not read.
bool HomeFolder(uid_t user, std::string& home, uint32_t& code) {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 4096);
  for (;;) {
    passwd record;
    passwd* found = nullptr;
    const int result = getpwuid_r(user, &record, buffer.data(), buffer.size(), &found);
    if (result == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (result != 0 || found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] == '\0') {
      code = result != 0 ? static_cast<uint32_t>(result) : ENOENT;
      return false;
    }
    home = found->pw_dir;
    return true;
  }
}

// The home of `user` in Windows form followed by `below`; 0 or the code.
uint32_t HomePath(uid_t user, const wchar_t* below, std::wstring& path) {
  std::string home;
  uint32_t code = 0;
  if (!HomeFolder(user, home, code)) {
    posix::RecordError(static_cast<int>(code));
    return code;
  }
  path = posix::WindowsFormPath(home) + below;
  return 0;
}

}  // namespace

namespace posix {

void RecordError(int code) { g_lastError = static_cast<uint32_t>(code); }

void FlushOutput() {
  size_t done = 0;
  while (done < g_outputUsed) {
    const ssize_t written = write(STDOUT_FILENO, g_output + done, g_outputUsed - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;  // output failures are not reported
    done += static_cast<size_t>(written);
  }
  g_outputUsed = 0;
}

}  // namespace posix

uint32_t LastErrorCode() { return g_lastError; }

uint32_t KnownFolderPath(KnownFolder folder, std::wstring& path) {
  switch (folder) {
    case KnownFolder::RoamingAppData:
      return HomePath(getuid(), L"\\AppData\\Roaming", path);
    case KnownFolder::SystemProfile:
      // The system account is root: its home, where a KEL process run from
      // cron or a systemd unit writes.
      return HomePath(0, L"", path);
    case KnownFolder::UserProfiles:
      path = L"C:\\home";
      return 0;
    case KnownFolder::Windows:
      path = L"C:\\var\\lib\\kel";
      return 0;
    case KnownFolder::System:
      path = L"C:\\var\\lib\\kel\\system32";
      return 0;
  }
  posix::RecordError(EINVAL);
  return EINVAL;
}

const wchar_t* const* PlatformRootExclusions() {
  // Kernel file systems: nothing of KEL's lives there, and walking them is
  // slow or endless.
  static const wchar_t* const kExclusions[] = {L":\\proc", L":\\sys", L":\\dev", nullptr};
  return kExclusions;
}

int CompareNoCase(const wchar_t* a, const wchar_t* b, size_t count) {
  auto fold = [](wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
  for (size_t i = 0; i < count; ++i) {
    const wchar_t ca = fold(a[i]);
    const wchar_t cb = fold(b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == L'\0') return 0;
  }
  return 0;
}

bool ComputerName(wchar_t* buffer, uint32_t capacity, uint32_t& length) {
  char host[256];
  if (gethostname(host, sizeof host) != 0) {
    posix::RecordError(errno);
    return false;
  }
  host[sizeof host - 1] = '\0';
  // The first label only, and at most 15 characters, like a computer name.
  const char* dot = std::strchr(host, '.');
  const size_t bytes = dot != nullptr ? static_cast<size_t>(dot - host) : std::strlen(host);
  std::wstring name = posix::WideFromUtf8(std::string_view(host, bytes));
  if (name.size() > 15) name.resize(15);
  if (name.size() + 1 > capacity) {
    posix::RecordError(ERANGE);
    return false;
  }
  name.copy(buffer, name.size());
  buffer[name.size()] = L'\0';
  length = static_cast<uint32_t>(name.size());
  return true;
}

// The "C" locale's time format ("%X" is "%H:%M:%S" there): the program reads
// no environment variable, so it never takes the user's locale from one.
int TimeOfDayText(wchar_t* buffer, int capacity) {
  const time_t now = time(nullptr);
  tm local;
  if (localtime_r(&now, &local) == nullptr) {
    posix::RecordError(errno != 0 ? errno : EOVERFLOW);
    return 0;
  }
  char text[32];
  const size_t length = strftime(text, sizeof text, "%H:%M:%S", &local);
  if (length == 0) {
    posix::RecordError(ERANGE);
    return 0;
  }
  const int needed = static_cast<int>(length) + 1;
  if (buffer == nullptr) return needed;
  if (capacity < needed) {
    posix::RecordError(ERANGE);
    return 0;
  }
  for (size_t i = 0; i < length; ++i) buffer[i] = static_cast<unsigned char>(text[i]);
  buffer[length] = L'\0';
  return needed;
}

bool CatalogMessage(uint32_t id, const wchar_t* insert1, const wchar_t* insert2,
                    std::wstring& text) {
  const wchar_t* stored = FindCatalogText(id);
  if (stored == nullptr) return false;
  text = ExpandInserts(stored, insert1, insert2);
  return true;
}

bool SystemMessage(uint32_t code, std::wstring& text) {
  // The C library's own English description, whatever the locale.
  if (code > static_cast<uint32_t>(INT32_MAX)) return false;
  const char* description = strerrordesc_np(static_cast<int>(code));
  if (description == nullptr) return false;
  text = posix::WideFromUtf8(description);
  text += L'\n';
  return true;
}

uint32_t SocketsStart() { return 0; }

void SocketsStop() {}

void* HeapAllocate(size_t bytes) {
  void* block = std::malloc(bytes);
  if (block == nullptr) posix::RecordError(ENOMEM);
  return block;
}

void HeapRelease(void* block) { std::free(block); }

void FlushText() { posix::FlushOutput(); }

bool PosixCommandLine() { return true; }
bool IsNativeFormPath(std::wstring_view path) { return posix::InSystemForm(path); }

// The exit status keeps 8 bits: 0 success, 1 usage printed, 2 command line
// refused (a catalogue id), 3 an action failed (a system code), 4 the run
// was interrupted.
uint32_t ExitCodeFor(uint32_t runStatus) {
  if (runStatus == 0 || runStatus == 1) return runStatus;
  if (runStatus == MSG_INTERRUPTED) return 4;
  return runStatus > 0xC0020000u ? 2 : 3;
}

void CatchStop() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction before {};
    // A signal ignored when the program started (nohup, a background job) stays ignored.
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

bool StopAsked() { return g_stops.load(std::memory_order_relaxed) != 0; }

std::string NativeBytes(const std::wstring& text) { return posix::Utf8FromWide(text); }

bool CurrentTime(uint64_t& now, uint32_t& localDate) {
  timespec clock{};
  tm local;
  if (clock_gettime(CLOCK_REALTIME, &clock) != 0 || localtime_r(&clock.tv_sec, &local) == nullptr) {
    posix::RecordError(errno != 0 ? errno : EOVERFLOW);
    return false;
  }
  now = posix::FileTimeOf(clock.tv_sec, clock.tv_nsec);
  localDate = static_cast<uint32_t>((local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday);
  return true;
}

bool LocalDateStart(uint32_t date, uint64_t& time) {
  tm local{};
  local.tm_year = static_cast<int>(date / 10000) - 1900;
  local.tm_mon = static_cast<int>(date / 100 % 100) - 1;
  local.tm_mday = static_cast<int>(date % 100);
  local.tm_isdst = -1;  // as the zone has it on that day
  errno = 0;
  const time_t start = mktime(&local);
  if (start == static_cast<time_t>(-1) && errno != 0) {
    posix::RecordError(errno);
    return false;
  }
  time = posix::FileTimeOf(start, 0);
  return true;
}

bool LocalTimestamp(std::wstring& text) {
  const time_t now = time(nullptr);
  tm local;
  char stamp[40];
  if (localtime_r(&now, &local) == nullptr || strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S%z", &local) == 0)
    return false;
  std::string value = stamp;
  if (value.size() > 2) value.insert(value.size() - 2, 1, ':');  // +0100 -> +01:00
  text = posix::WideFromUtf8(value);
  return true;
}

bool OutputTerminal() { return isatty(STDOUT_FILENO) != 0; }

bool ProgressTerminal(uint32_t& columns) {
  if (!isatty(STDERR_FILENO)) return false;
  winsize size{};
  columns = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
  return true;
}

void WriteProgress(const wchar_t* text, size_t length) { WriteErrorText(text, length); }

void WriteErrorText(const wchar_t* text, size_t length) {
  std::string bytes;
  char unit[4];
  for (size_t i = 0; i < length; ++i) bytes.append(unit, posix::EncodeUtf8(text[i], unit));
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t written = write(STDERR_FILENO, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    done += static_cast<size_t>(written);
  }
}

uint64_t MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

void Pause(uint32_t milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

void WriteText(const wchar_t* text, size_t length) {
  if (!g_flushAtExit) {
    g_flushAtExit = true;
    std::atexit(AtExitFlush);
  }
  for (size_t i = 0; i < length; ++i) {
    if (g_outputUsed + 4 > sizeof g_output) posix::FlushOutput();
    g_outputUsed += posix::EncodeUtf8(text[i], g_output + g_outputUsed);
  }
}

}  // namespace plat
