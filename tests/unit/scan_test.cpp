// The /d scan: what it looks at, what it removes, what it prints.
#include "unit/support.h"
#include "workarea/workarea.h"

namespace {

using ScanTest = FakeTest;

TEST_F(ScanTest, OnlyDirectSubdirectoriesAreJudged) {
  Mode(0x11, 1);
  fake::AddFile(L"C:\\w\\_TD1");             // a file with a work-area name
  fake::AddDirectory(L"C:\\w\\plain\\_TD2");  // nested one level deeper
  fake::AddDirectory(L"C:\\w\\_TD3\\inner");
  fake::AddProcess(4, L"KEL.EXE");
  fake::AddDirectory(L"C:\\w\\_TD4");
  CleanDirectory(L"C:\\w");
  EXPECT_EQ(Out(),
            L"FOUND: C:\\w\\_TD3   This process is not active.\n"
            L"REMOVED: C:\\w\\_TD3\n"
            L"FOUND: C:\\w\\_TD4   This process is currently active and cannot be deleted.\n");
  EXPECT_TRUE(fake::Exists(L"C:\\w\\_TD1"));
  EXPECT_TRUE(fake::Exists(L"C:\\w\\plain\\_TD2"));
  EXPECT_FALSE(fake::Exists(L"C:\\w\\_TD3"));
  EXPECT_TRUE(fake::Exists(L"C:\\w\\_TD4"));
}

TEST_F(ScanTest, PathsAreBuiltFromTheArgumentAsTyped) {
  struct Case {
    const wchar_t* argument;
    const wchar_t* workArea;
    const wchar_t* listed;  // the folder the listing asked for
    std::wstring removed;
  } cases[] = {
      {L"D:\\work\\", L"D:\\work\\_TD1", L"list D:\\work", L"REMOVED: D:\\work\\\\_TD1\n"},
      {L"D:", L"D:\\_TD1", L"list D:", L"REMOVED: D:\\_TD1\n"},
      {L"", L"C:\\_TD1", L"list C:", L"REMOVED: \\_TD1\n"},
  };
  for (const Case& c : cases) {
    SetUp();
    Mode(VerboseFlag | ReportFlag, 1);
    fake::AddDirectory(c.workArea);
    CleanDirectory(c.argument);
    EXPECT_EQ(fake::Operations().front(), c.listed);
    EXPECT_FALSE(fake::Exists(c.workArea));
    EXPECT_NE(Out().find(c.removed), std::wstring::npos) << Out();
  }
}

TEST_F(ScanTest, ListModeRemovesNothing) {
  Mode(ReportFlag, 0);
  fake::AddDirectory(L"C:\\w\\_TD1");
  fake::AddDirectory(L"C:\\w\\_TD2");
  CleanDirectory(L"C:\\w");
  EXPECT_EQ(Out(), L"FOUND: C:\\w\\_TD1   \nFOUND: C:\\w\\_TD2   \n");
  EXPECT_TRUE(fake::Exists(L"C:\\w\\_TD1"));
}

TEST_F(ScanTest, RemovedFollowsAFailedAttemptToo) {
  Mode(0x11, 1);
  fake::AddFile(L"C:\\w\\_TD1\\locked");
  fake::FailOnPath(fake::Call::DeleteFile, L"C:\\w\\_TD1\\locked", 5);
  fake::AddDirectory(L"C:\\w\\_TD2");
  CleanDirectory(L"C:\\w");
  EXPECT_EQ(Out(),
            L"FOUND: C:\\w\\_TD1   This process is not active.\n"
            L"ERROR: C:\\w\\_TD1\\locked : System text 5.\n\n"
            L"REMOVED: C:\\w\\_TD1\n"
            L"FOUND: C:\\w\\_TD2   This process is not active.\n"
            L"REMOVED: C:\\w\\_TD2\n");
}

TEST_F(ScanTest, ListingFailuresAndVanishingEntries) {
  Mode(0, 1);
  CleanDirectory(L"C:\\missing");
  EXPECT_EQ(Out(), L"ERROR: C:\\missing : System text 2.\n\n");

  // A listing that fails midway ends the scan silently; what went stays gone.
  SetUp();
  Mode(0, 1);
  fake::AddDirectory(L"C:\\w\\_TD1");
  fake::AddDirectory(L"C:\\w\\_TD2");
  fake::AddDirectory(L"C:\\w\\_TD3");
  fake::FailCall(fake::Call::ListNext, 5, 4);  // ".." then _TD1, _TD2, then failure
  CleanDirectory(L"C:\\w");
  EXPECT_EQ(Out(), L"");
  EXPECT_FALSE(fake::Exists(L"C:\\w\\_TD2"));
  EXPECT_TRUE(fake::Exists(L"C:\\w\\_TD3"));

  // A work area removed by someone else between listing and removal: one error line.
  SetUp();
  Mode(0, 1);
  fake::AddDirectory(L"C:\\w\\_TD1");
  fake::BeforeNextCall(fake::Call::AttributesAt, [] { fake::Remove(L"C:\\w\\_TD1"); });
  CleanDirectory(L"C:\\w");
  EXPECT_EQ(Out(), L"ERROR: C:\\w\\_TD1 : System text 2.\n\n");
}

}  // namespace
