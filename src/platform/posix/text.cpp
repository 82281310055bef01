// POSIX only: the seam's text conversions (lossless UTF-8 <-> wchar_t) and Windows-form path mapping.
#include "platform/posix/text.h"

namespace plat::posix {
namespace {

constexpr wchar_t kEscapeBase = 0xDC00;
constexpr wchar_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// The length of the valid sequence at `p` (at most `left` bytes) and its code
// point, or 0 when the first byte does not start a valid sequence. The ranges
// of the second byte rule out overlong forms, surrogates and values above
// U+10FFFF.
size_t DecodeOne(const unsigned char* p, size_t left, wchar_t& c) {
  const unsigned char b0 = p[0];
  if (b0 < 0x80) {
    c = b0;
    return 1;
  }
  size_t length;
  unsigned char low = 0x80, high = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    if (b0 == 0xE0) low = 0xA0;
    if (b0 == 0xED) high = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < length || p[1] < low || p[1] > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (!IsContinuation(p[i])) return 0;

  uint32_t value = b0 & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) value = (value << 6) | (p[i] & 0x3F);
  c = static_cast<wchar_t>(value);
  return length;
}

// Backslash and slash both separate; the system only knows the slash.
void AppendMapped(std::wstring_view path, std::string& out) {
  char bytes[4];
  for (wchar_t c : path) {
    if (c == L'\\') {
      out += '/';
    } else {
      out.append(bytes, EncodeUtf8(c, bytes));
    }
  }
}

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

}  // namespace

void DecodeUtf8(const char* bytes, size_t length, std::wstring& out) {
  out.clear();
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  size_t i = 0;
  while (i < length) {
    wchar_t c;
    const size_t used = DecodeOne(p + i, length - i, c);
    if (used == 0) {
      out += static_cast<wchar_t>(kEscapeBase + p[i]);
      ++i;
    } else {
      out += c;
      i += used;
    }
  }
}

std::wstring WideFromUtf8(std::string_view bytes) {
  std::wstring out;
  DecodeUtf8(bytes.data(), bytes.size(), out);
  return out;
}

size_t EncodeUtf8(wchar_t c, char* out) {
  // wchar_t is signed here; look at the value as an unsigned code point.
  uint32_t v = static_cast<uint32_t>(c);
  if (v >= 0xDC80 && v <= 0xDCFF) {
    out[0] = static_cast<char>(v - kEscapeBase);
    return 1;
  }
  if ((v >= 0xD800 && v <= 0xDFFF) || v > 0x10FFFF) v = kReplacement;
  if (v < 0x80) {
    out[0] = static_cast<char>(v);
    return 1;
  }
  if (v < 0x800) {
    out[0] = static_cast<char>(0xC0 | (v >> 6));
    out[1] = static_cast<char>(0x80 | (v & 0x3F));
    return 2;
  }
  if (v < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (v >> 12));
    out[1] = static_cast<char>(0x80 | ((v >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (v & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (v >> 18));
  out[1] = static_cast<char>(0x80 | ((v >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((v >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (v & 0x3F));
  return 4;
}

std::string Utf8FromWide(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  char bytes[4];
  for (wchar_t c : text) out.append(bytes, EncodeUtf8(c, bytes));
  return out;
}

std::string NativePath(std::wstring_view path) {
  if (InSystemForm(path)) return Utf8FromWide(path);
  std::string out;
  out.reserve(path.size() + 1);
  if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == L':') {
    path.remove_prefix(2);
    if (path.empty() || (path[0] != L'\\' && path[0] != L'/')) out += '/';
  }
  AppendMapped(path, out);
  return out;
}

bool InSystemForm(std::wstring_view path) {
  if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == L':') return false;
  return !path.empty() && path[0] != L'\\' && path.find(L'/') != std::wstring_view::npos;
}

std::string NativeListingFolder(std::wstring_view pattern) {
  if (!pattern.empty() && pattern.back() == L'*') pattern.remove_suffix(1);
  if (pattern.empty()) return ".";
  return NativePath(pattern);
}

std::wstring WindowsFormPath(std::string_view posixPath) {
  while (!posixPath.empty() && posixPath.back() == '/') posixPath.remove_suffix(1);
  std::wstring out = L"C:";
  if (!posixPath.empty() && posixPath.front() != '/') out += L'\\';
  std::wstring rest = WideFromUtf8(posixPath);
  for (wchar_t& c : rest)
    if (c == L'/') c = L'\\';
  out += rest;
  return out;
}

uint64_t FileTimeOf(int64_t seconds, long nanoseconds) {
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
  return static_cast<uint64_t>((seconds + kSecondsFrom1601To1970) * 10000000 + nanoseconds / 100);
}

}  // namespace plat::posix
