// The POSIX layer's lossless UTF-8 conversion and its Windows-form path mapping.
#include <gtest/gtest.h>

#include "platform/posix/text.h"

using namespace plat::posix;

TEST(PosixText, EveryByteStringSurvivesTheRoundTrip) {
  const struct { std::string bytes; std::wstring wide; } cases[] = {
      {"_TD1\xC3\xA9\xE2\x82\xAC", L"_TD1\u00E9\u20AC"}, {"\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", L"\U0001F600\U0010FFFF"},
      {"a\xFF\x80z", L"a\xDCFF\xDC80z"}, {"\xE2\x82!", L"\xDCE2\xDC82!"}, {"x\xF0\x9F\x98", L"x\xDCF0\xDC9F\xDC98"},
      {"\xC0\xAF\xE0\x80\xAF", L"\xDCC0\xDCAF\xDCE0\xDC80\xDCAF"}, {"\xED\xB2\x80", L"\xDCED\xDCB2\xDC80"},
      {"\xF4\x90\x80\x80", L"\xDCF4\xDC90\xDC80\xDC80"}, {std::string("a\0b", 3), std::wstring(L"a\0b", 3)}};
  for (const auto& c : cases) {
    EXPECT_EQ(WideFromUtf8(c.bytes), c.wide);
    EXPECT_EQ(Utf8FromWide(c.wide), c.bytes);
  }
  for (wchar_t lone : {L'\xD800', L'\xDC7F', wchar_t(0x110000)}) EXPECT_EQ(Utf8FromWide({&lone, 1}), "\xEF\xBF\xBD");
}

TEST(PosixText, WindowsFormPathsMapToSystemPathsAndBack) {
  const struct { std::wstring windows; std::string native; } paths[] = {
      {L"C:\\tmp\\w", "/tmp/w"}, {L"d:\\tmp", "/tmp"}, {L"C:", "/"}, {L"C:\\", "/"}, {L"C:foo", "/foo"},
      {L"\\tmp\\w", "/tmp/w"}, {L"tmp\\w", "tmp/w"}, {L"1:\\x", "1:/x"}, {L"C:\\w\\\xDCFF(", "/w/\xFF("}};
  for (const auto& p : paths) EXPECT_EQ(NativePath(p.windows), p.native);
  for (const auto& [native, wide] : {std::pair{"/home/u/", L"C:\\home\\u"}, {"/", L"C:"}, {"/h\xFF", L"C:\\h\xDCFF"}})
    EXPECT_EQ(WindowsFormPath(native), wide);
}
