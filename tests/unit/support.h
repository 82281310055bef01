// Shared set-up for the unit tests: a fresh fake platform and program state.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/catalog.h"
#include "driver/command_line.h"
#include "driver/driver.h"
#include "fake/fake_platform.h"

// A mutable argument vector, as the runtime hands it over.
class Arguments {
 public:
  explicit Arguments(std::vector<std::wstring> args) : storage_(std::move(args)) {
    storage_.insert(storage_.begin(), L"C:\\tools\\sweepdirs.exe");
    for (auto& arg : storage_) pointers_.push_back(arg.data());
    pointers_.push_back(nullptr);
  }
  int count() const { return static_cast<int>(storage_.size()); }
  wchar_t** vector() { return pointers_.data(); }
  const std::wstring& at(size_t i) const { return storage_[i + 1]; }

 private:
  std::vector<std::wstring> storage_;
  std::vector<wchar_t*> pointers_;
};

class FakeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetCommandLineState();
    fake::Reset();
    LoadErrorPrefix();
    HostName[0] = L'\0';
  }
  void TearDown() override { ResetCommandLineState(); }

  // Runs the whole program as the entry point would.
  uint32_t Run(std::vector<std::wstring> args) {
    Arguments arguments(std::move(args));
    return RunCleanup(arguments.count(), arguments.vector());
  }
  // Sets up the globals the cleanup reads, as the driver and parser would.
  void Mode(uint32_t flags, uint32_t deleteEnabled) {
    RunFlags = flags;
    DeleteEnabled = deleteEnabled;
    wcscpy(HostName, L"PC01");
  }
  const std::wstring& Out() { return fake::Output(); }
};

// The 13 usage lines as printed.
inline std::wstring UsageText() {
  return L"sweepdirs [/userlog]|[/alllogs] [/v volume(s)] [/d dir(s)] [/list] [/verbose]\n"
         L"/v volume     Volume to search for removal of KEL generated directories. When\n"
         L"              specifying more than one volume separate them with spaces.\n"
         L"/userlog      Clean any KEL generated log files in current\n"
         L"              users Application Data\\KEL\\LOGS directory.\n"
         L"/alllogs      Cleans all users Application Data\\KEL\\LOGS directories.\n"
         L"              This option will require administrator privileges.\n"
         L"/list         List all files to be deleted. This option will not\n"
         L"              delete any files or folders.\n"
         L"/d dir(s)     Clean any KEL generated directories in the specified directory(s)\n"
         L"              where dir(s) are Windows or UNC paths to one or more directories.\n"
         L"              Paths need to be separated by a space i.e. /d path1 path2...\n"
         L"/verbose      Shows a trace of program's activity.\n";
}
