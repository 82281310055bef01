// Message formatting and the output forms.
#include "unit/support.h"

namespace {

using CatalogTest = FakeTest;

TEST_F(CatalogTest, FoundTextEndsInThreeBlanksAndNoLineEnd) {
  ReportMessage(MSG_FOUND, L"C:\\work", L"_TD123_HOST_", false);
  EXPECT_EQ(Out(), L"FOUND: C:\\work\\_TD123_HOST_   ");
  ReportMessage(MSG_PROCESS_NOT_ACTIVE, nullptr, nullptr, false);
  EXPECT_EQ(Out(), L"FOUND: C:\\work\\_TD123_HOST_   This process is not active.\n");
}

TEST_F(CatalogTest, ErrorForms) {
  struct Case {
    uint32_t code;
    const wchar_t* path;
    const wchar_t* expected;
  } cases[] = {
      {MSG_PATH_NOT_FOUND, L"C:\\p\\KEL\\LOGS", L"ERROR: The path C:\\p\\KEL\\LOGS cannot be found.\n\n"},
      {MSG_INVALID_PARAMETER, L"/x", L"ERROR: Invalid parameter detected: /x\n\n"},
      {MSG_NO_DIRECTORY, nullptr, L"ERROR: No directory specified.\n\n"},
      {5, L"D:\\w\\_TD12_", L"ERROR: D:\\w\\_TD12_ : System text 5.\n\n"},
      {5, nullptr, L"ERROR: System text 5.\n\n"},
      // The bound: 0xC0020000 and HRESULTs are system codes, 0xC0020001 is the catalogue's.
      {0xC0020000u, L"D:\\x", L"ERROR: D:\\x : System text 3221356544.\n\n"},
      {0x80004005u, L"D:\\x", L"ERROR: D:\\x : System text 2147500037.\n\n"},
      {0xC0020001u, L"D:\\x", L"ERROR: Invalid parameter detected: D:\\x\n\n"},
      // A message without insert markers ignores the insert.
      {MSG_NO_VOLUME, L"E:", L"ERROR: No volume specified.\n\n"},
      // No text anywhere: a fixed text naming the code, in the same form.
      {fake::kNoTextCode, L"D:\\x", L"ERROR: D:\\x : No message text exists for error code 0x00ABCDEF.\n\n"},
      {0xC00200FFu, nullptr, L"ERROR: System text 3221356799.\n\n"},
  };
  for (const Case& c : cases) {
    fake::ClearOutput();
    ReportError(c.code, c.path);
    EXPECT_EQ(Out(), c.expected) << std::hex << c.code;
  }
}

TEST_F(CatalogTest, MissingPrefixLeavesTheBlank) {
  fake::FailCall(fake::Call::CatalogMessage, 0);
  LoadErrorPrefix();
  ReportError(5, nullptr);
  EXPECT_EQ(Out(), L" System text 5.\n\n");
}

TEST_F(CatalogTest, UsageIsThirteenLinesWithTheProgramName) {
  PrintUsage();
  EXPECT_EQ(Out(), UsageText());
}

TEST_F(CatalogTest, LongMessagesArePrintedWhole) {
  const std::wstring path = L"C:\\" + std::wstring(300, L'a');
  ReportMessage(MSG_REMOVED, path.c_str(), nullptr, false);
  EXPECT_EQ(Out(), L"REMOVED: " + path + L"\n");
  fake::ClearOutput();
  ReportError(MSG_PATH_NOT_FOUND, path.c_str());
  EXPECT_EQ(Out(), L"ERROR: The path " + path + L" cannot be found.\n\n");
}

}  // namespace
