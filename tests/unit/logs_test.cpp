// Log files: the name rule, the folder scan and the log locations.
#include "logs/logs.h"
#include "unit/support.h"

namespace {

using LogsTest = FakeTest;

TEST_F(LogsTest, LogNameRule) {
  struct Case {
    const wchar_t* name;
    bool candidate;
    int32_t owner;
  } cases[] = {
      {L"app.1a2c.x.log", true, 0x1A2C},
      {L"a.b.1a2c.t.log", true, 0x1A2C},
      {L"x.1a2c..log", true, 0x1A2C},
      {L"a.b.1a2c.log", true, 0xB},
      {L"run.0x1A2C.x.log", true, 0x1A2C},
      {L"x.00001a2c.t.log", true, 0x1A2C},
      {L"x.1a2cq.t.log", true, 0x1A2C},
      {L"run.zz.x.log", true, 0},
      {L"a..x.log", true, 0},
      {L"a...log", true, 0},
      {L"x.-1.t.log", true, -1},
      {L"x.123456789.t.log", true, 0x7FFFFFFF},
      {L"x.-123456789.t.log", true, INT32_MIN},
      {L"app.1a2c.log", false, 0},
      {L"app.1a2c.x.LOG", false, 0},
      {L"x.1a2c.t.log.bak", false, 0},
      {L"a.log", false, 0},
      {L".log", false, 0},
      {L"x..log", false, 0},
      {L"a.b.log", false, 0},
      {L"..a.log", false, 0},
      {L".1a2c.x.log", false, 0},
  };
  for (const Case& c : cases) {
    int32_t owner = 12345;
    const std::wstring name = c.name;
    EXPECT_EQ(ParseLogName(name.c_str(), name.size(), owner), c.candidate) << testing::PrintToString(name);
    if (c.candidate) {
      EXPECT_EQ(owner, c.owner) << testing::PrintToString(name);
    }
  }
}

TEST_F(LogsTest, WhatOneCandidatePrintsInEachMode) {
  const std::wstring found = L"FOUND LOG: C:\\L\\app.1a2c.x.log   ";
  struct Case {
    uint32_t flags, deleteEnabled;
    bool alive;
    std::wstring output;
    bool removed;
  } cases[] = {
      {0, 1, true, L"", false},
      {0, 1, false, L"", true},
      {ReportFlag, 0, true, L"", false},
      {ReportFlag, 0, false, found + L"\n", false},
      {0x11, 1, true, found + L"This process is currently active and cannot be deleted.\n", false},
      {0x11, 1, false, found + L"This process is not active.\nREMOVED: C:\\L\\app.1a2c.x.log\n", true},
      {0x11, 0, false, found + L"This process is not active.\n", false},
  };
  for (const Case& c : cases) {
    SetUp();
    Mode(c.flags, c.deleteEnabled);
    fake::AddFile(L"C:\\L\\app.1a2c.x.log");
    fake::AddFile(L"C:\\L\\notes.txt");
    if (c.alive) fake::AddProcess(0x1A2C, L"KEL.EXE");
    CleanLogFolder(L"C:\\L");
    EXPECT_EQ(Out(), c.output) << c.flags << c.alive;
    EXPECT_EQ(fake::Exists(L"C:\\L\\app.1a2c.x.log"), !c.removed);
    EXPECT_TRUE(fake::Exists(L"C:\\L\\notes.txt"));
  }
}

TEST_F(LogsTest, DirectoriesNamedLikeLogsGoAsWholeTrees) {
  Mode(0, 1);
  fake::AddFile(L"C:\\L\\old.1a2c.x.log\\inner\\file");
  CleanLogFolder(L"C:\\L");
  EXPECT_FALSE(fake::Exists(L"C:\\L\\old.1a2c.x.log"));
  CleanLogFolder(L"C:\\gone");
  EXPECT_EQ(Out(), L"ERROR: C:\\gone : System text 2.\n\n");
}

TEST_F(LogsTest, ALinkedLogsFolderIsNeverFollowed) {
  Mode(0, 1);
  fake::AddFile(L"C:\\victim\\a.1.b.log");
  fake::AddLink(L"C:\\Users\\me\\AppData\\Roaming\\KEL\\LOGS", L"C:\\victim");
  CleanUserLogs();
  EXPECT_EQ(Out(), L"ERROR: C:\\Users\\me\\AppData\\Roaming\\KEL\\LOGS : System text 40.\n\n");
  EXPECT_TRUE(fake::Exists(L"C:\\victim\\a.1.b.log"));
}

TEST_F(LogsTest, UserLogs) {
  Mode(ReportFlag, 0);
  CleanUserLogs();
  EXPECT_EQ(Out(), L"ERROR: The path C:\\Users\\me\\AppData\\Roaming\\KEL\\LOGS cannot be found.\n\n");

  SetUp();
  Mode(ReportFlag, 0);
  fake::FailKnownFolder(plat::KnownFolder::RoamingAppData, 0x80070002u);
  CleanUserLogs();
  EXPECT_EQ(Out(), L"ERROR: System text 2147942402.\n\n");

  SetUp();
  Mode(ReportFlag, 0);
  fake::AddFile(L"C:\\Users\\me\\AppData\\Roaming\\KEL\\LOGS\\a.1.b.log");
  CleanUserLogs();
  EXPECT_EQ(Out(), L"FOUND LOG: C:\\Users\\me\\AppData\\Roaming\\KEL\\LOGS\\a.1.b.log   \n");
}

TEST_F(LogsTest, AllLogsVisitsProfilesInOrderThenTheSystemProfile) {
  Mode(ReportFlag, 0);
  const std::wstring logs = L"\\AppData\\Roaming\\KEL\\LOGS";
  fake::AddFile(L"C:\\Users\\zed" + logs + L"\\a.1.b.log");
  fake::AddDirectory(L"C:\\Users\\nologs");
  fake::AddFile(L"C:\\Users\\file.1.b.log");
  fake::AddFile(L"C:\\Users\\amy" + logs + L"\\c.2.d.log");
  fake::AddFile(L"C:\\Windows\\System32\\config\\systemprofile" + logs + L"\\e.3.f.log");
  EXPECT_EQ(CleanAllUserLogs(), 0u);
  EXPECT_EQ(Out(),
            L"FOUND LOG: C:\\Users\\zed" + logs + L"\\a.1.b.log   \n"
            L"FOUND LOG: C:\\Users\\amy" + logs + L"\\c.2.d.log   \n"
            L"FOUND LOG: C:\\Windows\\System32\\config\\systemprofile" + logs + L"\\e.3.f.log   \n");
  EXPECT_EQ(fake::OpenListings(), 0);
}

TEST_F(LogsTest, AllLogsFailures) {
  const std::wstring system = L"C:\\Windows\\System32\\config\\systemprofile\\AppData\\Roaming\\KEL\\LOGS";
  struct Case {
    const char* what;
    std::function<void()> arrange;
    uint32_t result;
    bool systemVisited;
  } cases[] = {
      {"profiles unresolvable", [] { fake::FailKnownFolder(plat::KnownFolder::UserProfiles, 0x80004005u); },
       plat::kErrorPathNotFound, false},
      {"profiles unlistable", [] { fake::FailOnPath(fake::Call::ListFirst, L"C:\\Users", 5); }, 5, false},
      {"system unresolvable", [] { fake::FailKnownFolder(plat::KnownFolder::System, 0x80004005u); },
       plat::kErrorPathNotFound, false},
      {"no profiles at all", [] {}, 0, true},
  };
  for (const Case& c : cases) {
    SetUp();
    Mode(ReportFlag, 0);
    fake::AddDirectory(L"C:\\Users");
    fake::AddFile(system + L"\\e.3.f.log");
    c.arrange();
    EXPECT_EQ(CleanAllUserLogs(), c.result) << c.what;
    EXPECT_EQ(Out().find(L"e.3.f.log") != std::wstring::npos, c.systemVisited) << c.what;
    EXPECT_EQ(fake::OpenListings(), 0) << c.what;
  }
}

}  // namespace
