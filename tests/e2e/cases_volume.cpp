// End to end: /v walks of real trees, with a real running KEL.EXE.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "e2e/e2e_util.h"

namespace e2e {
namespace {

class Volume : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    live_ = StartKel();
    dead_ = "_TD" + std::to_string(kDeadPid);
  }
  void TearDown() override {
    StopKel(live_);
    TreeTest::TearDown();
  }
  std::string Found(const std::string& parentArg, const std::string& name) {
    return "FOUND: " + parentArg + "\\" + name + "   ";
  }
  uint32_t live_ = 0;
  std::string dead_;
};

TEST_F(Volume, RemovesStaleWorkAreasAtAnyDepthAndNeverEntersThem) {
  Dir("t/a/b/" + dead_ + "/_TD" + std::to_string(kDeadPid + 1));
  Dir("t/" + dead_ + "_" + HostName() + "_/x");
  Dir("t/c/_TD" + std::to_string(live_));
  Dir("t/c/" + dead_ + "_ELSEWHERE_");
  File("t/d/keep.txt");
  RunResult result = RunSweepdirs({"/v", Arg("t")});
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_FALSE(Exists("t/a/b/" + dead_));
  EXPECT_FALSE(Exists("t/" + dead_ + "_" + HostName() + "_"));
  EXPECT_TRUE(Exists("t/c/_TD" + std::to_string(live_)));
  EXPECT_TRUE(Exists("t/c/" + dead_ + "_ELSEWHERE_"));
  EXPECT_TRUE(Exists("t/d/keep.txt"));
}

TEST_F(Volume, ListModeEntersEverythingButStaleAreas) {
  Dir("t/a/b/" + dead_ + "/" + dead_ + "0");
  Dir("t/c/" + dead_);
  RunResult result = RunSweepdirs({"/list", "/v", Arg("t")});
  EXPECT_EQ(SortedLines(result.output),
            SortedLines(Lines({Found(Arg("t/a/b"), dead_), Found(Arg("t/c"), dead_), "No files were deleted."})));
  EXPECT_TRUE(Exists("t/a/b/" + dead_ + "/" + dead_ + "0"));
}

TEST_F(Volume, VerboseRemovedFollowsEachAttempt) {
  Dir("t/a/" + dead_ + "/inner");
  RunResult result = RunSweepdirs({"/verbose", "/v", Arg("t")});
  EXPECT_EQ(WithoutTimeLines(result.output),
            Lines({Found(Arg("t/a"), dead_) + "This process is not active.", "REMOVED: " + Arg("t/a") + "\\" + dead_}));
}

TEST_F(Volume, SpellingsOfTheSameRootWalkTheSameTree) {
  Dir("t/" + dead_);
  Dir("t/s/" + dead_);
  const std::string drive = DriveFor(Path("t"));
  std::vector<std::pair<std::string, std::string>> spellings;  // argument, child path stem
  if (drive.empty()) {
    spellings = {{Arg("t"), Arg("t") + "\\"}, {Arg("t") + "\\", Arg("t") + "\\"}};
  } else {
    spellings = {{drive, drive + ":\\"}, {drive + ":", drive + ":\\"}, {drive + ":\\", drive + ":\\"}};
  }
  for (const auto& [argument, stem] : spellings) {
    RunResult result = RunSweepdirs({"/list", "/v", argument});
    // Top-level entries name the parent as typed; deeper ones the path built from it.
    EXPECT_EQ(SortedLines(result.output),
              SortedLines(Lines({Found(argument, dead_), Found(stem + "s", dead_), "No files were deleted."})))
        << argument;
  }
}

TEST_F(Volume, MissingPathsAndTheRunStatus) {
  const std::string missing = Arg("missing");
  const uint32_t code = SystemCode(Sys::PathNotFound);
  Dir("t");
  struct Case {
    std::vector<std::string> args;
    std::string output;
    uint32_t status;
  } cases[] = {
      {{"/list", "/v", missing}, SystemErrorLine(missing, code), code},
      {{"/v", missing, "/v", Arg("t")}, SystemErrorLine(missing, code), 0},
      {{"/v", missing, "/d", Arg("t")}, SystemErrorLine(missing, code), code},
      {{"/v", "", Arg("t")}, SystemErrorLine("", code), 0},
      {{"/v", Arg("t"), ""}, SystemErrorLine("", code), code},
  };
  for (const Case& c : cases) {
    RunResult result = RunSweepdirs(c.args);
    EXPECT_EQ(result.output, c.output) << c.args[1];
    EXPECT_EQ(result.exitCode, ExitFor(c.status)) << c.args[1];
  }
}

TEST_F(Volume, LinkCyclesEndAndOtherLinksAreWalked) {
  Dir("t/a/" + dead_);
  File("t/a/keep.txt");
  Dir("elsewhere/" + dead_);
  ASSERT_EQ(symlink(Path("t").c_str(), Path("t/a/loop").c_str()), 0);
  ASSERT_EQ(symlink("..", Path("t/a/up").c_str()), 0);
  ASSERT_EQ(symlink(Path("elsewhere").c_str(), Path("t/out").c_str()), 0);
  RunResult result = RunSweepdirs({"/list", "/v", Arg("t")});
  EXPECT_EQ(SortedLines(result.output),
            SortedLines(Lines({Found(Arg("t/a"), dead_), Found(Arg("t/out"), dead_), "No files were deleted."})));
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_TRUE(Exists("t/a/keep.txt"));
}

TEST_F(Volume, LongPathsAreCleanedAndPrintedWhole) {
  std::string deep = "t";
  for (int i = 0; i < 12; ++i) deep += "/a-rather-long-directory-name-" + std::to_string(i);
  Dir(deep + "/" + dead_ + "/content");
  ASSERT_GT(Arg(deep).size(), 300u);
  RunResult result = RunSweepdirs({"/verbose", "/v", Arg("t")});
  EXPECT_EQ(WithoutTimeLines(result.output),
            Lines({Found(Arg(deep), dead_) + "This process is not active.", "REMOVED: " + Arg(deep) + "\\" + dead_}));
  EXPECT_FALSE(Exists(deep + "/" + dead_));
}

// The whole system drive: the excluded folders are never entered.
TEST_F(Volume, WholeDriveWalkPassesTheExcludedFolders) {
  const std::string drive = SystemDriveRoot();
  std::vector<std::string> planted, expectedFound, expectedMissing;
  auto plant = [&](const std::string& posixParent, const std::string& argParent, bool found) {
    std::filesystem::create_directories(posixParent + "/" + dead_);
    planted.push_back(posixParent);
    (found ? expectedFound : expectedMissing).push_back(Found(argParent, dead_));
  };
  if (drive == "/") {
    plant(Path("t"), Arg("t"), true);
    // On POSIX, /proc, /sys and /dev are never entered; /dev is the one root can write to.
    plant("/dev", "C:\\dev", false);
  } else {
    plant(drive + "/walked", "C:\\walked", true);
    plant(drive + "/windows", "C:\\windows", false);
    plant(drive + "/Windows.old", "C:\\Windows.old", true);
    plant(drive + "/$Recycle.Bin", "C:\\$Recycle.Bin", false);
    plant(drive + "/data/$RECYCLE.BIN", "C:\\data\\$RECYCLE.BIN", true);
  }
  RunResult result = RunSweepdirs({"/list", "/v", "C:"});
  for (const std::string& parent : planted) std::filesystem::remove(parent + "/" + dead_);
  const std::vector<std::string> lines = SortedLines(result.output);
  auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
  for (const std::string& line : expectedFound) EXPECT_TRUE(has(line)) << line;
  for (const std::string& line : expectedMissing) EXPECT_FALSE(has(line)) << line;
  EXPECT_TRUE(has("No files were deleted."));
}

}  // namespace
}  // namespace e2e
