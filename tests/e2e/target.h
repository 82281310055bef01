// What an end-to-end test needs of the build it drives: the real sweepdirs
// binary, a real running KEL.EXE, how a POSIX path is written on that build's
// command line, its line end and its system texts. One implementation per
// build: target_posix.cpp and target_wine.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

struct RunResult {
  std::string output;  // standard output, byte for byte (UTF-8)
  uint32_t exitCode;   // as the build reports it: 32 bits on Windows, 8 on POSIX
};

// Runs this build's sweepdirs with `args` (UTF-8, each passed as one
// argument exactly as given, empty ones included) and waits for it.
RunResult RunSweepdirs(const std::vector<std::string>& args);

// The command-line text naming the absolute POSIX path `posixPath` on this
// build, in Windows form ("Z:\tmp\x" under Wine, "C:\tmp\x" on POSIX).
std::string ArgPath(const std::string& posixPath);

// A drive letter ("Y") whose root is the POSIX folder `posixDir` on this
// build, or "" where the build has no drives of its own (on POSIX every
// drive letter names "/").
std::string DriveFor(const std::string& posixDir);

// The POSIX folder that is this build's C:\ (on POSIX: "/").
std::string SystemDriveRoot();

// A LOGS folder the log options look at: where it is on this machine, and
// how sweepdirs names it in its output.
struct LogFolder {
  std::string posix;
  std::string shown;
};
struct LogPlaces {
  LogFolder user;          // the current user's
  LogFolder otherProfile;  // another profile's, found only by /ALLLOGS
  LogFolder system;        // the system account's
  std::string profiles;    // the folder that holds the profiles (POSIX path)
};
// From now on every run looks for log folders only in places private to
// this test program; the real profiles are never touched. The LOGS folders
// are not created. Fails the test where the machine cannot isolate them.
LogPlaces IsolateLogPlaces();

// The line end of this build's output ("\r\n" or "\n").
std::string Eol();

// Starts a process whose image name is KEL.EXE and returns its process id
// as sweepdirs sees it. It runs until StopKel or the end of the test program.
uint32_t StartKel();
void StopKel(uint32_t pid);

// This computer's name as sweepdirs uses it (upper-cased, at most 15 characters).
std::string HostName();

// Error codes of this build's platform, and their texts.
enum class Sys { PathNotFound, AccessDenied, DirNotEmpty };
// The code that listing a missing directory (`kind` PathNotFound) and so on gives.
uint32_t SystemCode(Sys kind);
// The platform's own text for `code`, ending in this build's line end.
std::string SystemText(uint32_t code);

// The exit code this build reports for a 32-bit run status.
uint32_t ExitFor(uint32_t runStatus);

}  // namespace e2e
