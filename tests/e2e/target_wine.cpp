// Wine only: the end-to-end target for sweepdirs.exe, run under one temporary Wine prefix.
//
// The prefix is made once per test program (`wineboot -i`) and served by one
// persistent wineserver, so that a run costs a fraction of a second; both go
// when the test program ends. Every program started here gets its standard
// output from a file, never a pipe: Wine's helper services inherit the
// handles of the programs that start them and would hold a pipe open.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <strings.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "e2e/target.h"

#ifndef SWEEPDIRS_WINDOWS_DIR
#error "SWEEPDIRS_WINDOWS_DIR must name the Windows build folder holding sweepdirs.exe"
#endif

extern char** environ;

namespace e2e {
namespace {

// The Windows codes sweepdirs.exe reports (as measured under Wine: listing
// "<missing folder>\*" fails with ERROR_PATH_NOT_FOUND).
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorDirNotEmpty = 145;

// The exit code RunSweepdirs reports when the launcher could not tell the
// program's own: no 32-bit status of sweepdirs.exe looks like it.
constexpr uint32_t kRunFailed = 0xDEAD0000u;

std::string ReadFile(const std::string& path) {
  std::string text;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  return text;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

void SleepMs(long ms) {
  timespec delay{ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&delay, nullptr);
}

std::string WindowsPath(const std::string& posixPath) {
  std::string text = "Z:" + posixPath;
  for (char& c : text)
    if (c == '/') c = '\\';
  return text;
}

// Every line end of a Windows text made CR LF, and exactly one at its end.
std::string WithCrLf(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out + "\r\n";
}

class Wine {
 public:
  Wine() {
    for (const std::string& program : {std::string(SWEEPDIRS_WINDOWS_DIR) + "/sweepdirs.exe",
                                       Helper("launch.exe"), Helper("KEL.EXE"), Helper("winfacts.exe")}) {
      if (access(program.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "e2e target (Wine): %s is missing: build the windows preset first\n",
                     program.c_str());
        std::_Exit(1);
      }
    }
    char pattern[] = "/tmp/sweepdirs-wine-XXXXXX";
    if (mkdtemp(pattern) == nullptr) Fail("mkdtemp");
    root_ = pattern;
    prefix_ = root_ + "/prefix";
    home_ = root_ + "/home";
    if (mkdir(prefix_.c_str(), 0700) != 0 || mkdir(home_.c_str(), 0700) != 0) Fail("mkdir");
    MakeEnvironment();

    // A persistent server first, so that wineboot and every later program
    // share it; wineserver returns once it is ready in the background.
    if (Wait(Spawn({"wineserver", "-p"}, "/dev/null")) != 0) Fail("wineserver -p");
    serverStarted_ = true;
    if (Wait(Spawn({"wineboot", "-i"}, "/dev/null")) != 0) Fail("wineboot -i");
    KeepDriveCInside();

    // What the platform itself says, asked once for all the common facts.
    const std::vector<std::string> facts =
        Facts({"host", "message", std::to_string(kErrorPathNotFound), "message",
               std::to_string(kErrorAccessDenied), "message", std::to_string(kErrorDirNotEmpty)});
    if (facts.size() != 4) Fail("winfacts.exe");
    host_ = facts[0];
    texts_[kErrorPathNotFound] = WithCrLf(facts[1]);
    texts_[kErrorAccessDenied] = WithCrLf(facts[2]);
    texts_[kErrorDirNotEmpty] = WithCrLf(facts[3]);
  }

  ~Wine() { Shutdown(); }

  RunResult Run(const std::vector<std::string>& args) {
    const std::string base = NextFile("run");
    const std::string exitFile = base + ".exit";
    std::vector<std::string> argv{"wine", Helper("launch.exe"), WindowsPath(exitFile),
                                  WindowsPath(std::string(SWEEPDIRS_WINDOWS_DIR) + "/sweepdirs.exe")};
    argv.insert(argv.end(), args.begin(), args.end());
    const int status = Wait(Spawn(argv, base + ".out"));

    RunResult result{ReadFile(base + ".out"), kRunFailed};
    const std::string exitText = ReadFile(exitFile);
    if (status == 0 && !exitText.empty()) {
      result.exitCode = static_cast<uint32_t>(std::strtoul(exitText.c_str(), nullptr, 10));
    } else {
      std::fprintf(stderr, "e2e target: launch.exe ended with status %d and no exit code\n", status);
    }
    unlink(exitFile.c_str());
    unlink((base + ".out").c_str());
    return result;
  }

  uint32_t StartKel() {
    const std::string pidFile = NextFile("kel") + ".pid";
    const pid_t pid = Spawn({"wine", Helper("KEL.EXE"), "0", WindowsPath(pidFile)}, "/dev/null");
    // KEL.EXE writes its Windows process id once it runs.
    for (int waited = 0; waited < 60000; waited += 5) {
      const std::string text = ReadFile(pidFile);
      if (!text.empty() && text.back() == '\n') {
        const uint32_t windowsPid = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
        unlink(pidFile.c_str());
        kel_[windowsPid] = pid;
        return windowsPid;
      }
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) Fail("KEL.EXE ended before it ran");
      SleepMs(5);
    }
    Fail("KEL.EXE did not start");
  }

  void StopKel(uint32_t windowsPid) {
    const auto found = kel_.find(windowsPid);
    if (found == kel_.end()) return;
    kill(found->second, SIGKILL);
    waitpid(found->second, nullptr, 0);
    kel_.erase(found);
  }

  std::string DriveFor(const std::string& posixDir) {
    const auto known = drives_.find(posixDir);
    if (known != drives_.end()) return known->second;
    // Wine finds a drive's root through the prefix's dosdevices links, read
    // afresh on every path it resolves.
    for (char letter = 'y'; letter >= 'd'; --letter) {
      const std::string link = prefix_ + "/dosdevices/" + letter + ":";
      if (Exists(link)) continue;
      if (symlink(posixDir.c_str(), link.c_str()) != 0) Fail("symlink drive");
      const std::string drive(1, static_cast<char>(letter - 'a' + 'A'));
      drives_[posixDir] = drive;
      return drive;
    }
    Fail("no free drive letter");
  }

  std::string SystemDriveRoot() const { return prefix_ + "/drive_c"; }

  // The prefix is private to this test program already; what is left is to
  // find its log places, as the platform names them, and where they lie.
  LogPlaces LogPlacesOfThePrefix() {
    if (!logPlaces_.profiles.empty()) return logPlaces_;
    const std::string kLogs = "\\AppData\\Roaming\\KEL\\LOGS";
    std::vector<std::string> folders = Facts({"folder", "1", "folder", "2", "folder", "3"});
    if (folders.size() != 3 || folders[0].empty() || folders[1].empty() || folders[2].empty())
      Fail("known folders");
    const std::string profiles = folders[1];
    const std::string system = folders[2];

    // Wine spells the profiles folder "C:\Users" but the user's own folders
    // "C:\users\<name>\...". On Windows both spell it alike, and a folder
    // that /USERLOG and /ALLLOGS both reach is named the same by both, so
    // the prefix is told the same spelling.
    std::string roaming = folders[0];
    if (roaming.compare(0, profiles.size(), profiles) != 0 &&
        strncasecmp(roaming.c_str(), profiles.c_str(), profiles.size()) == 0) {
      roaming = profiles + roaming.substr(profiles.size());
      Wait(Spawn({"wine", "reg", "add",
                  "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                  "/v", "AppData", "/t", "REG_EXPAND_SZ", "/d", roaming, "/f"},
                 "/dev/null"));
      folders = Facts({"folder", "1"});
      if (folders.size() != 1 || folders[0] != roaming) Fail("align the roaming folder");
    }

    const std::string kOther = "KelOther";
    logPlaces_.profiles = PosixPath(profiles);
    if (mkdir((logPlaces_.profiles + "/" + kOther).c_str(), 0700) != 0 && errno != EEXIST)
      Fail("mkdir profile");
    logPlaces_.user.shown = roaming + "\\KEL\\LOGS";
    logPlaces_.otherProfile.shown = profiles + "\\" + kOther + kLogs;
    logPlaces_.system.shown = system + "\\config\\systemprofile" + kLogs;
    for (LogFolder* folder : {&logPlaces_.user, &logPlaces_.otherProfile, &logPlaces_.system})
      folder->posix = PosixPath(folder->shown);
    return logPlaces_;
  }

  std::string HostName() const {
    std::string name = host_.substr(0, 15);
    for (char& c : name)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return name;
  }

  std::string SystemText(uint32_t code) {
    const auto known = texts_.find(code);
    if (known != texts_.end()) return known->second;
    const std::vector<std::string> facts = Facts({"message", std::to_string(code)});
    if (facts.size() != 1) Fail("winfacts.exe");
    return texts_[code] = WithCrLf(facts[0]);
  }

 private:
  [[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "e2e target (Wine): %s: %s\n", what, std::strerror(errno));
    Shutdown();
    std::_Exit(1);
  }

  void MakeEnvironment() {
    static const char* const kReplaced[] = {"WINEPREFIX=", "WINEDEBUG=", "WINEDLLOVERRIDES=",
                                            "WINESERVER=", "DISPLAY=", "WAYLAND_DISPLAY=",
                                            "LC_ALL=", "HOME="};
    for (char** entry = environ; *entry; ++entry) {
      bool replaced = false;
      for (const char* name : kReplaced) replaced |= std::strncmp(*entry, name, std::strlen(name)) == 0;
      if (!replaced) environment_.push_back(*entry);
    }
    environment_.push_back("WINEPREFIX=" + prefix_);
    environment_.push_back("WINEDEBUG=-all");
    // No .NET or HTML engine to install into the new prefix (faster, and no
    // dialog), no menu entries; Wine's own files about the user go to a home
    // folder of the prefix's own.
    environment_.push_back("WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d");
    environment_.push_back("HOME=" + home_);
    environment_.push_back("LC_ALL=C.UTF-8");
  }

  // wineboot links the profile's shell folders (Desktop, Documents, ...) to
  // the home folder. Plain empty folders take their place, so that a walk of
  // C: stays inside the prefix.
  void KeepDriveCInside() {
    std::error_code error;
    for (const auto& user : std::filesystem::directory_iterator(prefix_ + "/drive_c/users", error)) {
      if (!user.is_directory(error) || user.is_symlink(error)) continue;
      for (const auto& entry : std::filesystem::directory_iterator(user.path(), error)) {
        if (!entry.is_symlink(error)) continue;
        if (unlink(entry.path().c_str()) != 0 || mkdir(entry.path().c_str(), 0700) != 0)
          Fail("replace a profile link");
      }
    }
  }

  // Where the Windows path `path` ("C:\\x\\y") lies: through the drive's
  // link in the prefix, then folder by folder, letter case ignored as Wine
  // ignores it; from the first folder that does not exist on, as written.
  std::string PosixPath(const std::string& path) {
    if (path.size() < 2 || path[1] != ':') Fail("not a drive path");
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
    char* root = realpath((prefix_ + "/dosdevices/" + letter + ":").c_str(), nullptr);
    if (!root) Fail("drive root");
    std::string posix = root;
    std::free(root);
    bool exists = true;
    for (size_t start = 3; start <= path.size();) {
      size_t end = path.find('\\', start);
      if (end == std::string::npos) end = path.size();
      std::string part = path.substr(start, end - start);
      start = end + 1;
      if (part.empty()) continue;
      if (exists) {
        exists = false;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(posix, error)) {
          const std::string name = entry.path().filename().string();
          if (strcasecmp(name.c_str(), part.c_str()) == 0) {
            part = name;
            exists = true;
            break;
          }
        }
      }
      posix += (posix == "/" ? "" : "/") + part;
    }
    return posix;
  }

  std::string Helper(const char* name) const {
    return std::string(SWEEPDIRS_WINDOWS_DIR) + "/helpers/" + name;
  }

  std::string NextFile(const char* kind) {
    return root_ + "/" + kind + "-" + std::to_string(++files_);
  }

  // Starts `argv` (found on PATH) with standard input from /dev/null and
  // standard output and error to `outputFile` (error to /dev/null when the
  // output goes to a file of its own).
  pid_t Spawn(const std::vector<std::string>& argv, const std::string& outputFile) {
    std::vector<std::string> copies(argv);
    std::vector<char*> args;
    for (std::string& arg : copies) args.push_back(arg.data());
    args.push_back(nullptr);
    std::vector<char*> env;
    for (std::string& entry : environment_) env.push_back(entry.data());
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int result = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
      errno = result;
      Fail(args[0]);
    }
    return pid;
  }

  // Waits for `pid`; its exit status, or 0x100 + the signal that ended it.
  static int Wait(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
      if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 0x100 + WTERMSIG(status);
  }

  // Runs winfacts.exe with `args`; its NUL-ended records.
  std::vector<std::string> Facts(const std::vector<std::string>& args) {
    const std::string output = NextFile("facts") + ".out";
    std::vector<std::string> argv{"wine", Helper("winfacts.exe")};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> records;
    if (Wait(Spawn(argv, output)) == 0) {
      const std::string text = ReadFile(output);
      for (size_t start = 0, end; (end = text.find('\0', start)) != std::string::npos; start = end + 1)
        records.push_back(text.substr(start, end - start));
    }
    unlink(output.c_str());
    return records;
  }

  void Shutdown() {
    if (getpid() != owner_ || root_.empty()) return;
    for (const auto& [windowsPid, pid] : kel_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    kel_.clear();
    if (serverStarted_) {
      serverStarted_ = false;
      Wait(Spawn({"wineserver", "-k"}, "/dev/null"));
      Wait(Spawn({"wineserver", "-w"}, "/dev/null"));
    }
    // The drive links lead out of the prefix (z: to "/"): remove them first,
    // so that removing the prefix cannot reach through one.
    std::error_code error;
    const std::string devices = prefix_ + "/dosdevices";
    for (const auto& entry : std::filesystem::directory_iterator(devices, error)) unlink(entry.path().c_str());
    std::filesystem::remove_all(root_, error);
    root_.clear();
  }

  pid_t owner_ = getpid();  // only the process that made the prefix cleans up
  std::string root_;        // holds the prefix, its home folder and the files of the runs
  std::string prefix_;
  std::string home_;
  std::vector<std::string> environment_;
  bool serverStarted_ = false;
  unsigned files_ = 0;
  std::string host_;
  std::map<uint32_t, std::string> texts_;
  std::map<uint32_t, pid_t> kel_;  // Windows pid of each running KEL.EXE -> its Linux pid
  std::map<std::string, std::string> drives_;
  LogPlaces logPlaces_;
};

Wine& TheWine() {
  static Wine wine;
  return wine;
}

}  // namespace

RunResult RunSweepdirs(const std::vector<std::string>& args) { return TheWine().Run(args); }

std::string ArgPath(const std::string& posixPath) { return WindowsPath(posixPath); }

std::string DriveFor(const std::string& posixDir) { return TheWine().DriveFor(posixDir); }

std::string SystemDriveRoot() { return TheWine().SystemDriveRoot(); }

LogPlaces IsolateLogPlaces() { return TheWine().LogPlacesOfThePrefix(); }

std::string Eol() { return "\r\n"; }

uint32_t StartKel() { return TheWine().StartKel(); }

void StopKel(uint32_t pid) { TheWine().StopKel(pid); }

std::string HostName() { return TheWine().HostName(); }

uint32_t SystemCode(Sys kind) {
  switch (kind) {
    case Sys::PathNotFound:
      return kErrorPathNotFound;
    case Sys::AccessDenied:
      return kErrorAccessDenied;
    case Sys::DirNotEmpty:
      return kErrorDirNotEmpty;
  }
  return 0;
}

std::string SystemText(uint32_t code) { return TheWine().SystemText(code); }

uint32_t ExitFor(uint32_t runStatus) { return runStatus; }

}  // namespace e2e
