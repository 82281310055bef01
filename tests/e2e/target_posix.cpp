// POSIX only: the end-to-end target for the native binary (posix_spawn, /proc, errno texts).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "e2e/target.h"
#include "e2e/target_posix.h"

#ifndef SWEEPDIRS_NATIVE_BINARY
#error "SWEEPDIRS_NATIVE_BINARY must name the sweepdirs binary under test"
#endif

extern char** environ;

namespace e2e {
namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "e2e target: %s: %s\n", what, std::strerror(errno));
  std::abort();
}

// Spawns `argv[0]` with `argv`, standard input from /dev/null and standard
// output to `stdoutFd`; when that is negative, standard output and error go
// to /dev/null too, so a leftover process never holds the test's pipes.
pid_t Spawn(const std::vector<std::string>& argv, int stdoutFd, const std::vector<std::string>& extraEnvironment = {}) {
  std::vector<std::string> copies(argv);
  std::vector<char*> pointers;
  for (std::string& arg : copies) pointers.push_back(arg.data());
  pointers.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (stdoutFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = -1;
  std::vector<std::string> environmentCopies(extraEnvironment);
  std::vector<char*> environment;
  for (char** e = environ; *e; ++e) environment.push_back(*e);
  for (std::string& e : environmentCopies) environment.push_back(e.data());
  environment.push_back(nullptr);
  const int result = posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environment.data());
  posix_spawn_file_actions_destroy(&actions);
  if (result != 0) {
    errno = result;
    Fail(pointers[0]);
  }
  return pid;
}

// The copies of sleep started as KEL.EXE, and the folder holding the copy;
// whatever a test leaves running is stopped when the test program ends.
struct KelProcesses {
  pid_t owner = getpid();  // only the process that started them cleans up
  std::string folder;
  std::set<pid_t> running;

  ~KelProcesses() {
    if (getpid() != owner) return;
    for (pid_t pid : running) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (!folder.empty()) {
      unlink((folder + "/KEL.EXE").c_str());
      rmdir(folder.c_str());
    }
  }

  // Copies sleep into a folder of its own as KEL.EXE, once.
  const std::string& Folder() {
    if (!folder.empty()) return folder;
    char tmpl[] = "/tmp/sweepdirs-kel-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) Fail("mkdtemp");
    folder = tmpl;
    const char* source = access("/bin/sleep", X_OK) == 0 ? "/bin/sleep" : "/usr/bin/sleep";
    const std::string image = folder + "/KEL.EXE";
    std::error_code error;
    std::filesystem::copy_file(source, image, error);
    if (error) Fail("copy sleep to KEL.EXE");
    std::filesystem::permissions(image, std::filesystem::perms::owner_all, error);
    if (error) Fail("chmod KEL.EXE");
    return folder;
  }
};

KelProcesses& Kel() {
  static KelProcesses processes;
  return processes;
}

// Runs are wrapped in a private mount namespace once the log places are isolated.
struct Isolation {
  bool on = false;
  std::string base, home;
  ~Isolation() {
    if (on) std::filesystem::remove_all(base);
  }
};

Isolation& Isolated() {
  static Isolation isolation;
  return isolation;
}

}  // namespace

LogPlaces IsolateLogPlaces() {
  Isolation& iso = Isolated();
  if (!iso.on) {
    char pattern[] = "/tmp/sweepdirs-logs-XXXXXX";
    if (!mkdtemp(pattern)) Fail("mkdtemp");
    iso.base = pattern;
    struct passwd* record = getpwuid(getuid());
    if (!record) Fail("getpwuid");
    iso.home = record->pw_dir;
    for (const char* sub : {"/home", "/userhome", "/varlib"})
      if (mkdir((iso.base + sub).c_str(), 0755) != 0) Fail("mkdir");
    // Make sure the machine lets us make a private mount namespace at all.
    const std::string probe = "unshare -m --propagation private sh -c 'mount --bind " + iso.base +
                              "/home /home' >/dev/null 2>&1";
    if (std::system(probe.c_str()) != 0)
      Fail("this machine refuses a private mount namespace (unshare -m as root); the log tests need one");
    iso.on = true;
  }
  const std::string logs = "/AppData/Roaming/KEL/LOGS";
  std::string shownHome = ArgPath(iso.home);
  LogPlaces places;
  places.user = {iso.base + "/userhome" + logs, shownHome + "\\AppData\\Roaming\\KEL\\LOGS"};
  places.otherProfile = {iso.base + "/home/other" + logs, "C:\\home\\other\\AppData\\Roaming\\KEL\\LOGS"};
  places.system = {iso.base + "/varlib/kel/system32/config/systemprofile" + logs,
                   "C:\\var\\lib\\kel\\system32\\config\\systemprofile\\AppData\\Roaming\\KEL\\LOGS"};
  places.profiles = iso.base + "/home";
  return places;
}

RunResult RunSweepdirs(const std::vector<std::string>& args) { return RunSweepdirsWith(RunSetting(), args); }

RunResult RunSweepdirsWith(const RunSetting& setting, const std::vector<std::string>& args) {
  char path[] = "/tmp/sweepdirs-out-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) Fail("mkstemp");
  unlink(path);

  std::vector<std::string> argv;
  const Isolation& iso = Isolated();
  if (iso.on) {
    argv = {"/usr/bin/unshare", "-m", "--propagation", "private", "sh", "-c",
            "mount --bind \"$1\" /home && mount --bind \"$2\" \"$3\" && mount --bind \"$4\" /var/lib && "
            "shift 4 && exec \"$@\"",
            "sh", iso.base + "/home", iso.base + "/userhome", iso.home, iso.base + "/varlib"};
  }
  if (!setting.shellPrelude.empty()) {
    argv.insert(argv.end(), {"/usr/bin/unshare", "-m", "--propagation", "private", "sh", "-c",
                             setting.shellPrelude + " && exec \"$@\"", "sh"});
  }
  argv.push_back(SWEEPDIRS_NATIVE_BINARY);
  argv.insert(argv.end(), args.begin(), args.end());
  const pid_t pid = Spawn(argv, fd, setting.environment);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) Fail("waitpid");
  }

  RunResult result;
  // A run killed by a signal reports 0x100 + the signal: no exit status of
  // 8 bits looks like it.
  result.exitCode = WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status))
                                      : 0x100u + static_cast<uint32_t>(WTERMSIG(status));
  if (lseek(fd, 0, SEEK_SET) < 0) Fail("lseek");
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Fail("read output");
    if (got == 0) break;
    result.output.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  return result;
}

std::string ArgPath(const std::string& posixPath) {
  std::string text = "C:" + posixPath;
  for (char& c : text)
    if (c == '/') c = '\\';
  return text;
}

std::string Eol() { return "\n"; }

std::string DriveFor(const std::string&) { return std::string(); }

std::string SystemDriveRoot() { return "/"; }

uint32_t StartKel() {
  KelProcesses& kel = Kel();
  const std::string image = kel.Folder() + "/KEL.EXE";
  // posix_spawn returns once the new program runs, so /proc already shows it.
  const pid_t pid = Spawn({image, "3600"}, -1);
  kel.running.insert(pid);
  return static_cast<uint32_t>(pid);
}

void StopKel(uint32_t pid) {
  KelProcesses& kel = Kel();
  const auto found = kel.running.find(static_cast<pid_t>(pid));
  if (found == kel.running.end()) return;
  kill(*found, SIGKILL);
  waitpid(*found, nullptr, 0);
  kel.running.erase(found);
}

std::string HostName() {
  char host[256];
  if (gethostname(host, sizeof host) != 0) Fail("gethostname");
  host[sizeof host - 1] = '\0';
  std::string name(host, std::strcspn(host, "."));
  if (name.size() > 15) name.resize(15);
  for (char& c : name)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return name;
}

uint32_t SystemCode(Sys kind) {
  switch (kind) {
    case Sys::PathNotFound:
      return ENOENT;
    case Sys::AccessDenied:
      return EACCES;
    case Sys::DirNotEmpty:
      return ENOTEMPTY;
  }
  return 0;
}

std::string SystemText(uint32_t code) {
  // The test program never sets a locale, so these are the C locale's texts.
  return std::string(std::strerror(static_cast<int>(code))) + "\n";
}

uint32_t ExitFor(uint32_t runStatus) {
  if (runStatus == 0 || runStatus == 1) return runStatus;
  return runStatus > 0xC0020000u ? 2 : 3;
}

}  // namespace e2e
