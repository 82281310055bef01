// The owner probe: verdicts, the trace, and what happens when it cannot look.
#include "unit/support.h"
#include "workarea/workarea.h"

namespace {

using OwnerProbeTest = FakeTest;

TEST_F(OwnerProbeTest, Verdicts) {
  struct Case {
    const wchar_t* image;
    uint32_t runningId;
    uint32_t askedId;
    bool alive;
  } cases[] = {
      {L"KEL.EXE", 812, 812, true},
      {L"kel.exe", 812, 812, true},
      {L"Kel.Exe", 812, 812, true},
      {L"KEL.EXE.bak", 812, 812, true},
      {L"KEL.EX", 812, 812, false},
      {L"MYKEL.EXE", 812, 812, false},
      {L"notepad.exe", 812, 812, false},
      {L"KEL.EXE", 812, 813, false},
      {L"KEL.EXE", 812, 0, false},
      {L"KEL.EXE", 0xFFFFFFFFu, 0xFFFFFFFFu, true},
  };
  for (const Case& c : cases) {
    SetUp();
    Mode(0x11, 1);
    fake::AddProcess(4, L"System");
    fake::AddProcess(c.runningId, c.image);
    EXPECT_EQ(IsOwnerAlive(c.askedId), c.alive) << testing::PrintToString(std::wstring(c.image));
    EXPECT_EQ(Out(), c.alive ? L"This process is currently active and cannot be deleted.\n"
                             : L"This process is not active.\n");
    EXPECT_EQ(fake::OpenSnapshots(), 0);
    // Only the process with the wanted id has its image name read.
    EXPECT_EQ(fake::ImageNameReads(), c.runningId == c.askedId ? 1 : 0);
  }
}

TEST_F(OwnerProbeTest, QuietOutsideVerboseMode) {
  Mode(ReportFlag, 0);
  fake::AddProcess(812, L"KEL.EXE");
  EXPECT_TRUE(IsOwnerAlive(812));
  EXPECT_FALSE(IsOwnerAlive(9));
  EXPECT_EQ(Out(), L"");
}

TEST_F(OwnerProbeTest, UnknownStateKeepsTheItem) {
  struct Case {
    fake::Call call;
    uint32_t flags;
    std::wstring output;
  } cases[] = {
      {fake::Call::SnapshotOpen, 0x11, L"\nERROR: System text 8.\n\n"},
      {fake::Call::SnapshotFirst, 0x11, L"\nERROR: System text 8.\n\n"},
      {fake::Call::SnapshotOpen, ReportFlag, L"ERROR: System text 8.\n\n"},
      {fake::Call::SnapshotFirst, 0, L"ERROR: System text 8.\n\n"},
  };
  for (const Case& c : cases) {
    SetUp();
    Mode(c.flags, 1);
    fake::FailCall(c.call, 8);
    EXPECT_TRUE(IsOwnerAlive(812));
    EXPECT_EQ(Out(), c.output);
    EXPECT_EQ(fake::OpenSnapshots(), 0);
  }
}

TEST_F(OwnerProbeTest, FailingNextEndsTheListLikeItsEnd) {
  Mode(0, 1);
  fake::AddProcess(1, L"init");
  fake::AddProcess(812, L"KEL.EXE");
  fake::FailCall(fake::Call::SnapshotNext, 5);
  EXPECT_FALSE(IsOwnerAlive(812));
  EXPECT_EQ(Out(), L"");
}

TEST_F(OwnerProbeTest, EveryCandidateGetsAFreshSnapshot) {
  Mode(0, 1);
  IsOwnerAlive(1);
  IsOwnerAlive(1);
  EXPECT_EQ(fake::Calls(fake::Call::SnapshotOpen), 2);
}

}  // namespace
