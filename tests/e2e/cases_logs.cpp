// End to end: /USERLOG and /ALLLOGS on real log folders, with a real KEL.EXE.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "e2e/e2e_util.h"

namespace e2e {
namespace {

class Logs : public ::testing::Test {
 protected:
  void SetUp() override {
    places_ = IsolateLogPlaces();
    Clear();
    live_ = StartKel();
    stale_ = "app." + Hex(kDeadPid) + ".x.log";
    live_name_ = "app." + Hex(live_) + ".x.log";
  }
  void TearDown() override {
    StopKel(live_);
    Clear();
  }
  void Clear() {
    for (const LogFolder* folder : {&places_.user, &places_.otherProfile, &places_.system})
      std::filesystem::remove_all(folder->posix);
  }
  // A LOGS folder with a stale log, a live one, and files the rule ignores.
  void Fill(const LogFolder& folder) {
    std::filesystem::create_directories(folder.posix);
    for (const std::string& name : {stale_, live_name_, std::string("notes.txt"), "app." + Hex(kDeadPid) + ".x.LOG"})
      std::ofstream(folder.posix + "/" + name) << "log\n";
  }
  bool Has(const LogFolder& folder, const std::string& name) {
    return std::filesystem::exists(std::filesystem::symlink_status(folder.posix + "/" + name));
  }
  std::string FoundLog(const LogFolder& folder, const std::string& name) {
    return "FOUND LOG: " + folder.shown + "\\" + name + "   ";
  }
  // Whether /ALLLOGS also reaches the current user's folder on this build.
  bool UserIsAProfile() const { return places_.user.posix.rfind(places_.profiles + "/", 0) == 0; }

  LogPlaces places_;
  uint32_t live_ = 0;
  std::string stale_, live_name_;
};

TEST_F(Logs, UserLogsRemovesOnlyStaleLogs) {
  Fill(places_.user);
  std::filesystem::create_directories(places_.user.posix + "/old." + Hex(kDeadPid) + ".t.log/inner");
  RunResult result = RunSweepdirs({"/userlog"});
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_FALSE(Has(places_.user, stale_));
  EXPECT_FALSE(Has(places_.user, "old." + Hex(kDeadPid) + ".t.log"));
  EXPECT_TRUE(Has(places_.user, live_name_));
  EXPECT_TRUE(Has(places_.user, "notes.txt"));
  EXPECT_TRUE(Has(places_.user, "app." + Hex(kDeadPid) + ".x.LOG"));
}

TEST_F(Logs, VerboseAndListLines) {
  Fill(places_.user);
  RunResult result = RunSweepdirs({"/list", "/userlog"});
  EXPECT_EQ(result.output, Lines({FoundLog(places_.user, stale_), "No files were deleted."}));
  EXPECT_TRUE(Has(places_.user, stale_));

  result = RunSweepdirs({"/verbose", "/userlog"});
  EXPECT_EQ(SortedLines(WithoutTimeLines(result.output)),
            SortedLines(Lines({FoundLog(places_.user, stale_) + "This process is not active.",
                               "REMOVED: " + places_.user.shown + "\\" + stale_,
                               FoundLog(places_.user, live_name_) +
                                   "This process is currently active and cannot be deleted."})));
  EXPECT_FALSE(Has(places_.user, stale_));
}

TEST_F(Logs, MissingUserFolderIsOneErrorLine) {
  RunResult result = RunSweepdirs({"/list", "/userlog"});
  EXPECT_EQ(result.output,
            ErrorLine("The path " + places_.user.shown + " cannot be found.") + Lines({"No files were deleted."}));
  EXPECT_EQ(result.exitCode, 0u);
}

TEST_F(Logs, AllLogsReachesEveryProfileAndTheSystemAccount) {
  Fill(places_.user);
  Fill(places_.otherProfile);
  Fill(places_.system);
  RunResult result = RunSweepdirs({"/list", "/alllogs"});
  std::vector<std::string> expected;
  if (UserIsAProfile()) expected.push_back(FoundLog(places_.user, stale_));
  expected.push_back(FoundLog(places_.otherProfile, stale_));
  expected.push_back(FoundLog(places_.system, stale_));
  expected.push_back("No files were deleted.");
  EXPECT_EQ(SortedLines(result.output), SortedLines(Lines(expected)));
  // The system account's folder comes last.
  EXPECT_EQ(result.output.rfind(FoundLog(places_.system, stale_)),
            result.output.size() - Lines({FoundLog(places_.system, stale_), "No files were deleted."}).size());

  result = RunSweepdirs({"/userlog", "/alllogs"});
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(result.exitCode, 0u);
  for (const LogFolder* folder : {&places_.user, &places_.otherProfile, &places_.system}) {
    EXPECT_FALSE(Has(*folder, stale_)) << folder->shown;
    EXPECT_TRUE(Has(*folder, live_name_)) << folder->shown;
  }
}

TEST_F(Logs, AllLogsWithoutAnyLogsFolderPrintsNothing) {
  RunResult result = RunSweepdirs({"/alllogs"});
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(result.exitCode, 0u);
}

}  // namespace
}  // namespace e2e
