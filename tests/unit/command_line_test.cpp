// The command line: results, items, switches and printed lines.
#include "unit/support.h"

namespace {

struct Item {
  ActionKind kind;
  std::wstring argument;  // "-" for a null argument
  bool operator==(const Item&) const = default;
};

struct Parsed {
  uint32_t result;
  std::vector<Item> items;
  std::wstring output;
};

class CommandLineTest : public FakeTest {
 protected:
  Parsed Parse(std::vector<std::wstring> args) {
    Arguments arguments(std::move(args));
    ActionItem* head = nullptr;
    Parsed parsed;
    parsed.result = ParseCommandLine(arguments.count(), arguments.vector(), head);
    for (ActionItem* item = head; item; item = item->next)
      parsed.items.push_back({item->kind, item->argument ? item->argument : L"-"});
    parsed.output = Out();
    FreeActionList(head);
    return parsed;
  }
};

std::wstring Error(const std::wstring& text) { return L"ERROR: " + text + L"\n\n"; }

TEST_F(CommandLineTest, ResultsItemsAndLines) {
  const std::wstring invalid = L"Invalid parameter detected: ";
  struct Case {
    std::vector<std::wstring> args;
    uint32_t result;
    std::vector<Item> items;
    std::wstring output;
  } cases[] = {
      {{L"/d", L"C:\\a", L"D:\\b", L"/v", L"E:"},
       0,
       {{DirectoryTarget, L"C:\\a"}, {DirectoryTarget, L"D:\\b"}, {VolumeTarget, L"E:"}},
       L""},
      {{L"/D", L"x", L"/V", L"y"}, 0, {{DirectoryTarget, L"x"}, {VolumeTarget, L"y"}}, L""},
      {{L"/userlog", L"/USERLOG"}, 0, {{UserLogs, L"-"}, {UserLogs, L"-"}}, L""},
      {{L"/AllLogs"}, 0, {{AllUserLogs, L"-"}}, L""},
      {{L"/d", L""}, 0, {{DirectoryTarget, L""}}, L""},
      {{L"/d", L"\\\\server\\share\\dir", L"D:"}, 0,
       {{DirectoryTarget, L"\\\\server\\share\\dir"}, {DirectoryTarget, L"D:"}}, L""},
      {{L"/dir"}, MSG_INVALID_PARAMETER, {}, Error(invalid + L"/dir")},
      {{L"/list"}, MSG_ONLY_LIST_OR_VERBOSE, {}, Error(L"Program cannot run with just the /list or /verbose option.")},
      {{L"/d"}, MSG_NO_DIRECTORY, {}, Error(L"No directory specified.")},
      {{L"/d", L"/list"}, MSG_NO_DIRECTORY, {}, Error(L"No directory specified.")},
      {{L"/v"}, MSG_NO_VOLUME, {}, Error(L"No volume specified.")},
      {{L"/v", L"/list"}, MSG_NO_VOLUME, {}, Error(L"No volume specified.")},
      {{L"/d", L"/?"}, MSG_NO_DIRECTORY, {}, Error(L"No directory specified.")},
      // Items made before "/?" stay with the caller, which never runs them.
      {{L"/d", L"C:\\a", L"/?"}, 1, {{DirectoryTarget, L"C:\\a"}}, UsageText()},
      {{L"/userlog", L"/?", L"/bogus"}, 1, {{UserLogs, L"-"}}, UsageText()},
      {{L"/??"}, MSG_INVALID_PARAMETER, {}, Error(invalid + L"/??")},
      {{L"/d", L"C:/temp"}, MSG_INVALID_PARAMETER, {}, Error(invalid + L"C:/temp")},
      {{L"/d", L"a*.tmp"}, MSG_INVALID_PARAMETER, {}, Error(invalid + L"a*.tmp")},
      {{L"/d", L"ok", L"a\"b"}, MSG_INVALID_PARAMETER, {}, Error(invalid + L"a\"b")},
      {{L"/v", L"a<b"}, MSG_INVALID_PARAMETER, {}, Error(invalid + L"a<b")},
      {{L"/v", L"a>b"}, MSG_INVALID_PARAMETER, {}, Error(invalid + L"a>b")},
      {{L"/v", L"a|b"}, MSG_INVALID_PARAMETER, {}, Error(invalid + L"a|b")},
      {{L"/v", L"a?b"}, MSG_INVALID_PARAMETER, {}, Error(invalid + L"a?b")},
      {{L"C:\\temp"}, MSG_INVALID_PARAMETER, {}, Error(invalid + L"C:\\temp")},
      {{L""}, MSG_INVALID_PARAMETER, {}, Error(invalid)},
      {{L"/verbos"}, MSG_INVALID_PARAMETER, {}, Error(invalid + L"/verbos")},
      {{L"/verbosx"}, MSG_INVALID_PARAMETER, {}, Error(invalid + L"/VERBOSX")},
      {{L"/lisx"}, MSG_INVALID_PARAMETER, {}, Error(invalid + L"/LISX")},
      {{L"/x"}, MSG_INVALID_PARAMETER, {}, Error(invalid + L"/x")},
      // The first bad argument ends parsing; later ones are not looked at.
      {{L"/d", L"a", L"/x", L"/y"}, MSG_INVALID_PARAMETER, {}, Error(invalid + L"/x")},
  };
  for (const Case& c : cases) {
    SetUp();
    Parsed parsed = Parse(c.args);
    std::wstring joined;
    for (auto& a : c.args) joined += a + L" ";
    EXPECT_EQ(parsed.result, c.result) << testing::PrintToString(joined);
    EXPECT_EQ(parsed.items, c.items) << testing::PrintToString(joined);
    EXPECT_EQ(parsed.output, c.output) << testing::PrintToString(joined);
    EXPECT_EQ(fake::LiveHeapBlocks(), 0) << testing::PrintToString(joined);
  }
}

TEST_F(CommandLineTest, SwitchesAndStartLine) {
  fake::SetTimes({L"09:59:58"});
  Parsed parsed = Parse({L"/verbose", L"/list"});
  EXPECT_EQ(parsed.result, MSG_ONLY_LIST_OR_VERBOSE);
  EXPECT_EQ(parsed.output,
            L"STARTED AT TIME: 09:59:58\n" + Error(L"Program cannot run with just the /list or /verbose option."));
  EXPECT_EQ(RunFlags, 0x11u);
  EXPECT_EQ(DeleteEnabled, 0u);

  SetUp();
  Parse({L"/list", L"/d", L"x"});
  EXPECT_EQ(RunFlags, ReportFlag);
  EXPECT_EQ(DeleteEnabled, 0u);
}

TEST_F(CommandLineTest, LongOptionsAreUpperCasedInPlace) {
  Arguments arguments({L"/userlog", L"/list", L"/d", L"dir"});
  ActionItem* head = nullptr;
  ASSERT_EQ(ParseCommandLine(arguments.count(), arguments.vector(), head), 0u);
  EXPECT_EQ(arguments.at(0), L"/USERLOG");
  EXPECT_EQ(arguments.at(1), L"/LIST");
  EXPECT_EQ(arguments.at(3), L"dir");
  // Items point into the argument vector itself.
  EXPECT_EQ(head->next->argument, arguments.vector()[4]);
  FreeActionList(head);
}

TEST_F(CommandLineTest, FailedAllocationNeverRunsAPartialList) {
  struct Case {
    fake::Call call;
    int nth;
    uint32_t code;
    uint32_t expected;
  } cases[] = {
      {fake::Call::HeapAllocate, 2, 0, plat::kErrorNotEnoughMemory},  // no code from the platform
      {fake::Call::HeapAllocate, 2, 1455, 1455},
      {fake::Call::TimeOfDayText, 1, 0, plat::kErrorNotEnoughMemory},
      {fake::Call::TimeOfDayText, 2, 87, 87},
  };
  for (const Case& c : cases) {
    SetUp();
    fake::FailCall(c.call, c.code, c.nth);
    Parsed parsed = Parse({L"/d", L"a", L"b", L"/verbose"});
    EXPECT_EQ(parsed.result, c.expected);
    EXPECT_TRUE(parsed.items.empty());
    EXPECT_EQ(parsed.output, L"");
    EXPECT_EQ(fake::LiveHeapBlocks(), 0);
  }
}

TEST_F(CommandLineTest, RepeatedVerboseKeepsTheLaterTime) {
  fake::SetTimes({L"1:00:00", L"10:00:00"});
  Parsed parsed = Parse({L"/verbose", L"/verbose", L"/userlog"});
  EXPECT_EQ(parsed.output, L"STARTED AT TIME: 1:00:00\nSTARTED AT TIME: 10:00:00\n");
  EXPECT_EQ(std::wstring(TimeText), L"10:00:00");
  EXPECT_EQ(TimeTextLength, 9);
}

}  // namespace
