// The driver: start-up, items in order, the run status and the closing lines.
#include "unit/support.h"

namespace {

using DriverTest = FakeTest;

TEST_F(DriverTest, NoArgumentsPrintsUsageOnly) {
  EXPECT_EQ(Run({}), 1u);
  EXPECT_EQ(Out(), UsageText());
  EXPECT_EQ(fake::SocketsStarted(), 0);
  EXPECT_EQ(fake::Calls(fake::Call::ComputerName), 0);
}

TEST_F(DriverTest, ClosingLinesAndExitCodes) {
  fake::AddDirectory(L"C:\\x");
  const std::wstring started = L"STARTED AT TIME: 10:00:00\n", finished = L"FINISHED AT TIME: 10:00:00\n";
  const std::wstring nothing = L"No files were deleted.\n";
  const std::wstring invalid = L"ERROR: Invalid parameter detected: /x\n\n";
  const std::wstring missingQ = L"ERROR: Q: : System text 2.\n\n";
  struct Case {
    std::vector<std::wstring> args;
    uint32_t status;
    std::wstring output;
  } cases[] = {
      {{L"/list", L"/d", L"C:\\x"}, 0, nothing},
      {{L"/list", L"/v", L"Q:"}, plat::kErrorPathNotFound, missingQ},
      {{L"/v", L"Q:", L"/v", L"C:\\x"}, 0, missingQ},
      {{L"/v", L"Q:", L"/d", L"C:\\x"}, plat::kErrorPathNotFound, missingQ},
      {{L"/verbose", L"/x"}, MSG_INVALID_PARAMETER, started + invalid + finished},
      {{L"/list", L"/x"}, MSG_INVALID_PARAMETER, invalid},
      {{L"/verbose", L"/?"}, 1, started + UsageText() + finished},
      {{L"/userlog", L"/list"}, 0,
       L"ERROR: The path C:\\Users\\me\\AppData\\Roaming\\KEL\\LOGS cannot be found.\n\n" + nothing},
  };
  for (const Case& c : cases) {
    SetUp();
    fake::AddDirectory(L"C:\\x");
    std::wstring joined;
    for (auto& a : c.args) joined += a + L" ";
    EXPECT_EQ(Run(c.args), c.status) << testing::PrintToString(joined);
    EXPECT_EQ(Out(), c.output) << testing::PrintToString(joined);
    EXPECT_EQ(fake::LiveHeapBlocks(), 0) << testing::PrintToString(joined);
    EXPECT_EQ(fake::SocketsStarted(), 1);
    EXPECT_EQ(fake::SocketsStopped(), 1);
  }
}

TEST_F(DriverTest, StartUpFailures) {
  fake::FailCall(fake::Call::SocketsStart, 10091);
  EXPECT_EQ(Run({L"/d", L"x"}), 10091u);
  EXPECT_EQ(Out(), L"ERROR: System text 10091.\n\n");
  EXPECT_EQ(fake::SocketsStopped(), 0);

  SetUp();
  fake::FailCall(fake::Call::ComputerName, 111);
  EXPECT_EQ(Run({L"/list", L"/d", L"x"}), 111u);
  EXPECT_EQ(Out(), L"ERROR: System text 111.\n\n");
  EXPECT_EQ(fake::SocketsStopped(), 1);
  EXPECT_EQ(fake::Calls(fake::Call::ListFirst), 0);
}

TEST_F(DriverTest, HostNameIsUpperCasedLettersOnly) {
  fake::SetHostName(L"pc-01.x\u00e9");
  Run({L"/d", L"C:\\none"});
  EXPECT_EQ(std::wstring(HostName), L"PC-01.X\u00e9");
}

TEST_F(DriverTest, AllLogsStatusReplacesAndIsReported) {
  fake::AddDirectory(L"C:\\Users");
  fake::FailKnownFolder(plat::KnownFolder::UserProfiles, 0x80070002u);
  EXPECT_EQ(Run({L"/list", L"/alllogs"}), plat::kErrorPathNotFound);
  EXPECT_EQ(Out(), L"ERROR: System text 2.\n\n");

  SetUp();
  fake::AddDirectory(L"C:\\Users");
  EXPECT_EQ(Run({L"/v", L"Q:", L"/alllogs"}), 0u);
  EXPECT_EQ(Out(), L"ERROR: Q: : System text 2.\n\n");
}

TEST_F(DriverTest, WholeFinishingTimeIsPrinted) {
  fake::SetTimes({L"9:59:58 AM", L"10:00:03 AM"});
  fake::AddDirectory(L"C:\\x");
  Run({L"/verbose", L"/d", L"C:\\x"});
  EXPECT_EQ(Out(), L"STARTED AT TIME: 9:59:58 AM\nFINISHED AT TIME: 10:00:03 AM\n");
}

TEST_F(DriverTest, ItemsRunInOrderAndAFailureNeverStopsTheRun) {
  fake::AddDirectory(L"C:\\a\\_TD7");
  fake::AddDirectory(L"C:\\b\\_TD8");
  EXPECT_EQ(Run({L"/verbose", L"/list", L"/d", L"C:\\a", L"C:\\missing", L"C:\\b"}), 0u);
  EXPECT_EQ(Out(),
            L"STARTED AT TIME: 10:00:00\n"
            L"FOUND: C:\\a\\_TD7   This process is not active.\n"
            L"ERROR: C:\\missing : System text 2.\n\n"
            L"FOUND: C:\\b\\_TD8   This process is not active.\n"
            L"No files were deleted.\n"
            L"FINISHED AT TIME: 10:00:00\n");
  EXPECT_EQ(fake::LiveHeapBlocks(), 0);
}

}  // namespace
