// The POSIX layer's UTF-8 conversion and Windows-form path mapping.
#include <gtest/gtest.h>

#include <string>

#include "platform/posix/text.h"

namespace {

using plat::posix::NativeListingFolder;
using plat::posix::NativePath;
using plat::posix::Utf8FromWide;
using plat::posix::WideFromUtf8;
using plat::posix::WindowsFormPath;

struct DecodeCase {
  const char* what;
  std::string bytes;
  std::wstring wide;
};

// Every byte string decodes to the expected characters and encodes back to
// the very same bytes.
TEST(PosixText, DecodesStrictlyAndRoundTripsEveryByteString) {
  const DecodeCase cases[] = {
      {"ascii", "_TD12_PC01_", L"_TD12_PC01_"},
      {"two bytes", "\xC3\xA9", L"\u00E9"},
      {"three bytes", "\xE2\x82\xAC", L"\u20AC"},
      {"four bytes, one character", "\xF0\x9F\x98\x80", L"\U0001F600"},
      {"highest code point", "\xF4\x8F\xBF\xBF", L"\U0010FFFF"},
      {"lone bytes", "a\xFF\x80z", L"a\xDCFF\xDC80z"},
      {"truncated sequence", "\xE2\x82!", L"\xDCE2\xDC82!"},
      {"sequence cut by the end", "x\xF0\x9F\x98", L"x\xDCF0\xDC9F\xDC98"},
      {"overlong slash, two bytes", "\xC0\xAF", L"\xDCC0\xDCAF"},
      {"overlong slash, three bytes", "\xE0\x80\xAF", L"\xDCE0\xDC80\xDCAF"},
      {"overlong, four bytes", "\xF0\x80\x80\xAF", L"\xDCF0\xDC80\xDC80\xDCAF"},
      {"encoded surrogate", "\xED\xB2\x80", L"\xDCED\xDCB2\xDC80"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", L"\xDCF4\xDC90\xDC80\xDC80"},
      {"embedded nul", std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring wide = WideFromUtf8(c.bytes);
    EXPECT_EQ(wide, c.wide);
    EXPECT_EQ(Utf8FromWide(wide), c.bytes);
  }
}

TEST(PosixText, CharactersWithoutAnEncodingBecomeTheReplacementCharacter) {
  EXPECT_EQ(Utf8FromWide(L"\xD800"), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf8FromWide(L"\xDC7F"), "\xEF\xBF\xBD");  // just below the escapes
  EXPECT_EQ(Utf8FromWide(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
}

struct PathCase {
  std::wstring windows;
  std::string native;
};

TEST(PosixText, MapsWindowsFormPathsToSystemPaths) {
  const PathCase cases[] = {
      {L"C:\\tmp\\w", "/tmp/w"},
      {L"d:\\tmp", "/tmp"},
      {L"C:", "/"},
      {L"C:\\", "/"},
      {L"C:foo", "/foo"},
      {L"\\tmp\\w", "/tmp/w"},
      {L"tmp\\w", "tmp/w"},
      {L"C:/tmp/w", "/tmp/w"},
      {L"1:\\x", "1:/x"},  // no drive letter: an ordinary relative name
      {L"C:\\w\\\xDCFF\xDCC3(", "/w/\xFF\xC3("},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(Utf8FromWide(c.windows));
    EXPECT_EQ(NativePath(c.windows), c.native);
  }
}

TEST(PosixText, ListingPatternNamesItsFolder) {
  const PathCase cases[] = {
      {L"C:\\work\\\\*", "/work//"},
      {L"C:\\work\\*", "/work/"},
      {L"D:\\*", "/"},
      {L"\\*", "/"},
      {L"*", "."},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(Utf8FromWide(c.windows));
    EXPECT_EQ(NativeListingFolder(c.windows), c.native);
  }
}

TEST(PosixText, WindowsFormOfSystemPaths) {
  EXPECT_EQ(WindowsFormPath("/root"), L"C:\\root");
  EXPECT_EQ(WindowsFormPath("/home/u/"), L"C:\\home\\u");
  EXPECT_EQ(WindowsFormPath("/"), L"C:");
  EXPECT_EQ(WindowsFormPath("/h\xFF"), L"C:\\h\xDCFF");
}

}  // namespace
