// Work-area names: the two forms, the host test, and what each mode prints.
#include "unit/support.h"
#include "workarea/workarea.h"

namespace {

using WorkAreaNameTest = FakeTest;

TEST_F(WorkAreaNameTest, NameTable) {
  // HostName PC01; no KEL.EXE with id 812 runs.
  struct Case {
    const wchar_t* name;
    int stale;
    const wchar_t* verboseTail;  // what follows the FOUND text; null: not a work area
  } cases[] = {
      {L"_TD812_PC01_", 1, L"This process is not active.\n"},
      {L"#TD812_PC01_", 1, L"This process is not active.\n"},
      {L"_TD812_pc01_", 1, L"This process is not active.\n"},
      {L"_TD812_PC02_", 0, L"Host name does not match.\n"},
      {L"_TD812_MY_PC_", 0, L"Host name does not match.\n"},
      {L"_TD812_", 0, L"Host name does not match.\n"},
      {L"_TD812", 1, L"This process is not active.\n"},
      {L"_TD812_PC02", 1, L"This process is not active.\n"},
      {L"_TD_PC01_", 1, L"This process is not active.\n"},
      {L"_TDocs", 1, L"This process is not active.\n"},
      {L"_TD7", 1, L"This process is not active.\n"},
      {L"_td812_PC01_", 0, nullptr},
      {L"_TD", 0, nullptr},
      {L"KEL_util00000000032C_PC01", 1, L"This process is not active.\n"},
      {L"KEL_util0000000012", 0, L"Host name does not match.\n"},
      {L"KEL_util0", 0, L"Host name does not match.\n"},
      {L"KEL_util", 0, nullptr},
      {L"kel_util00000000032C_PC01", 0, nullptr},
      {L"KEL_utilxxxxFFFFFFFFxPC01", 1, L"This process is not active.\n"},
      // A long host text never matches the 15-character computer name.
      {L"_TD812_PC01PC01PC01PC01_", 0, L"Host name does not match.\n"},
  };
  for (const Case& c : cases) {
    SetUp();
    Mode(0x11, 1);
    EXPECT_EQ(IsStaleWorkArea(c.name, L"D:\\tmp"), c.stale) << testing::PrintToString(std::wstring(c.name));
    const std::wstring expected =
        c.verboseTail ? L"FOUND: D:\\tmp\\" + std::wstring(c.name) + L"   " + c.verboseTail : L"";
    EXPECT_EQ(Out(), expected);
  }
}

TEST_F(WorkAreaNameTest, DecodedProcessIds) {
  // The id a live KEL.EXE must have to protect the name.
  struct Case {
    const wchar_t* name;
    uint32_t id;
  } cases[] = {
      {L"_TD812_PC01_", 812},
      {L"_TD_PC01_", 0},
      {L"_TD 42x", 42},
      {L"_TD-5", static_cast<uint32_t>(-5)},
      {L"_TD99999999999", 2147483647u},
      {L"_TD-99999999999", 0x80000000u},
      {L"KEL_util00000000032C_PC01", 0x32C},
      {L"KEL_util0000FFFFFFFF_PC01", 2147483647u},
      {L"KEL_utilXXXX0x00001A_PC01", 0x1A},
      {L"KEL_utilXXXX000000ab_PC01", 0xAB},
      {L"KEL_utilXXXX-0000001_PC01", static_cast<uint32_t>(-1)},
  };
  for (const Case& c : cases) {
    SetUp();
    Mode(0, 1);
    fake::AddProcess(c.id, L"KEL.EXE");
    EXPECT_EQ(IsStaleWorkArea(c.name, L"D:"), 0) << testing::PrintToString(std::wstring(c.name));
    fake::ClearProcesses();
    EXPECT_EQ(IsStaleWorkArea(c.name, L"D:"), 1) << testing::PrintToString(std::wstring(c.name));
  }
}

TEST_F(WorkAreaNameTest, WhatEachModePrints) {
  fake::AddProcess(900, L"KEL.EXE");
  struct Case {
    uint32_t flags;
    const wchar_t* name;
    std::wstring output;
  } cases[] = {
      {ReportFlag, L"_TD812", L"FOUND: P\\_TD812   \n"},
      {ReportFlag, L"_TD900", L""},
      {ReportFlag, L"_TD812_X_", L""},
      {0, L"_TD812", L""},
      {0, L"_TD812_X_", L""},
      {0x11, L"_TD900", L"FOUND: P\\_TD900   This process is currently active and cannot be deleted.\n"},
  };
  for (const Case& c : cases) {
    fake::ClearOutput();
    Mode(c.flags, 1);
    IsStaleWorkArea(c.name, L"P");
    EXPECT_EQ(Out(), c.output) << c.flags << testing::PrintToString(std::wstring(c.name));
  }
}

TEST_F(WorkAreaNameTest, HostMismatchNeverProbes) {
  Mode(0x11, 1);
  IsStaleWorkArea(L"_TD812_OTHER_", L"P");
  IsStaleWorkArea(L"KEL_util00000000032C_OTHER", L"P");
  EXPECT_EQ(fake::Calls(fake::Call::SnapshotOpen), 0);
}

}  // namespace
