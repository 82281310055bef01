// End to end: /d on real trees, with a real running KEL.EXE.
#include <unistd.h>

#include <cstdio>

#include "e2e/e2e_util.h"

namespace e2e {
namespace {

class Directory : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    live_ = StartKel();
    host_ = HostName();
    dead_ = std::to_string(kDeadPid);
  }
  void TearDown() override {
    StopKel(live_);
    TreeTest::TearDown();
  }
  uint32_t live_ = 0;
  std::string host_, dead_;
};

TEST_F(Directory, RemovesExactlyTheStaleWorkAreas) {
  const std::string stale = "_TD" + dead_ + "_" + host_ + "_";
  const std::string staleB = "KEL_util0000" + Hex(kDeadPid, 8) + "_" + host_;
  const std::string live = "_TD" + std::to_string(live_) + "_" + host_ + "_";
  const std::string liveB = "KEL_util0000" + Hex(live_, 8) + "_" + host_;
  const std::string foreign = "_TD" + dead_ + "_NOT" + host_ + "_";
  File("w/" + stale + "/sub/file.txt");
  Dir("w/" + staleB);
  Dir("w/" + live);
  Dir("w/" + liveB);
  Dir("w/" + foreign);
  File("w/_TD" + dead_);  // a file with a work-area name
  Dir("w/plain/_TD" + dead_);   // one level too deep for /d
  Dir("w/#TD" + dead_ + "x");   // no host text: judged by the id alone

  RunResult result = RunSweepdirs({"/d", Arg("w")});
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_FALSE(Exists("w/" + stale));
  EXPECT_FALSE(Exists("w/" + staleB));
  EXPECT_FALSE(Exists("w/#TD" + dead_ + "x"));
  EXPECT_TRUE(Exists("w/" + live));
  EXPECT_TRUE(Exists("w/" + liveB));
  EXPECT_TRUE(Exists("w/" + foreign));
  EXPECT_TRUE(Exists("w/_TD" + dead_));
  EXPECT_TRUE(Exists("w/plain/_TD" + dead_));
}

TEST_F(Directory, VerboseTraceOfEachVerdict) {
  const std::string stale = "_TD" + dead_ + "_" + host_ + "_";
  const std::string live = "_TD" + std::to_string(live_);
  const std::string foreign = "KEL_util0000" + Hex(kDeadPid, 8) + "_ELSEWHERE";
  Dir("a/" + stale + "/inner");
  Dir("b/" + live);
  Dir("c/" + foreign);
  RunResult result = RunSweepdirs({"/verbose", "/d", Arg("a"), Arg("b"), Arg("c")});
  EXPECT_EQ(WithoutTimeLines(result.output),
            Lines({"FOUND: " + Arg("a") + "\\" + stale + "   This process is not active.",
                   "REMOVED: " + Arg("a") + "\\" + stale,
                   "FOUND: " + Arg("b") + "\\" + live + "   This process is currently active and cannot be deleted.",
                   "FOUND: " + Arg("c") + "\\" + foreign + "   Host name does not match."}));
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_FALSE(Exists("a/" + stale));
  EXPECT_TRUE(Exists("b/" + live));
}

TEST_F(Directory, ListModeRemovesNothing) {
  const std::string stale = "_TD" + dead_;
  Dir("a/" + stale);
  Dir("b/_TD" + std::to_string(live_));
  RunResult result = RunSweepdirs({"/list", "/d", Arg("a"), Arg("b")});
  EXPECT_EQ(result.output, Lines({"FOUND: " + Arg("a") + "\\" + stale + "   ", "No files were deleted."}));
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_TRUE(Exists("a/" + stale));

  result = RunSweepdirs({"/list", "/verbose", "/d", Arg("a")});
  EXPECT_EQ(WithoutTimeLines(result.output),
            Lines({"FOUND: " + Arg("a") + "\\" + stale + "   This process is not active.", "No files were deleted."}));
  EXPECT_TRUE(Exists("a/" + stale));
}

TEST_F(Directory, MissingDirectoryReportsAndTheRunGoesOn) {
  Dir("b/_TD" + dead_);
  RunResult result = RunSweepdirs({"/verbose", "/d", Arg("missing"), Arg("b")});
  EXPECT_EQ(WithoutTimeLines(result.output),
            SystemErrorLine(Arg("missing"), SystemCode(Sys::PathNotFound)) +
                Lines({"FOUND: " + Arg("b") + "\\_TD" + dead_ + "   This process is not active.",
                       "REMOVED: " + Arg("b") + "\\_TD" + dead_}));
  EXPECT_EQ(result.exitCode, 0u);  // a directory item leaves the status alone
  EXPECT_FALSE(Exists("b/_TD" + dead_));
}

TEST_F(Directory, TrailingSeparatorIsKeptInThePaths) {
  Dir("a/_TD" + dead_);
  RunResult result = RunSweepdirs({"/verbose", "/d", Arg("a") + "\\"});
  EXPECT_EQ(WithoutTimeLines(result.output),
            Lines({"FOUND: " + Arg("a") + "\\\\_TD" + dead_ + "   This process is not active.",
                   "REMOVED: " + Arg("a") + "\\\\_TD" + dead_}));
  EXPECT_FALSE(Exists("a/_TD" + dead_));
}

TEST_F(Directory, DeepStaleTreesGoWhole) {
  std::string deep = "w/_TD" + dead_;
  for (int i = 0; i < 40; ++i) deep += "/directory-level-" + std::to_string(i);
  File(deep + "/file.txt");
  ASSERT_GT(Path(deep).size(), 700u);
  RunResult result = RunSweepdirs({"/d", Arg("w")});
  EXPECT_EQ(result.output, "");
  EXPECT_FALSE(Exists("w/_TD" + dead_));
}

TEST_F(Directory, ALinkedWorkAreaNeverTakesItsTarget) {
  File("victim/precious.txt");
  Dir("w");
  ASSERT_EQ(symlink(Path("victim").c_str(), Path("w/_TD" + dead_).c_str()), 0);
  RunResult result = RunSweepdirs({"/d", Arg("w")});
  EXPECT_TRUE(Exists("victim/precious.txt"));
  EXPECT_EQ(result.exitCode, 0u);
}

}  // namespace
}  // namespace e2e
