// Text forms shared by the output and the run's record: names made safe
// for a terminal, numbers as people read them, lines trimmed, and text
// made valid Unicode.
#include "common/text_forms.h"

#include <cstdio>
#include <string>

namespace {

// While a line is assembled, the backslash of an escape stands as U+0001: an
// escaped insert keeps no control character, so the line's own backslashes
// (of a path, of the catalogue text between two inserts) are told from the
// escapes' once the line is whole.
constexpr wchar_t kEscapeMark = 0x01;

bool Printable(wchar_t unit) {
  const uint32_t code = static_cast<uint32_t>(unit);
  return code >= 0x20 && !(code >= 0x7F && code <= 0x9F) && !(code >= 0x202A && code <= 0x202E) &&
         !(code >= 0x2066 && code <= 0x2069) && !(code >= 0xD800 && code <= 0xDFFF);
}

bool IsSurrogatePair(const wchar_t* units) {
  return sizeof(wchar_t) == 2 && units[0] >= 0xD800 && units[0] <= 0xDBFF && units[1] >= 0xDC00 && units[1] <= 0xDFFF;
}

bool IsSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

}  // namespace

std::wstring MarkedForTerminal(const wchar_t* text, size_t length) {
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  std::wstring marked;
  for (size_t i = 0; i < length; ++i) {
    const wchar_t unit = text[i];
    if (i + 1 < length && IsSurrogatePair(text + i)) {
      marked.append(text + i, 2);
      ++i;
    } else if (Printable(unit)) {
      marked += unit;
    } else {
      const uint32_t code = static_cast<uint32_t>(unit);
      marked += kEscapeMark;
      marked += L"x{";
      for (int shift = code > 0xFF ? 12 : 4; shift >= 0; shift -= 4) marked += kHex[(code >> shift) & 15];
      marked += L'}';
    }
  }
  return marked;
}

// The whole line: a backslash of its own that would read as the start of an
// escape is shown as one, so that no name can pass for an escape.
std::wstring UnmarkedLine(const std::wstring& line) {
  std::wstring shown;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == kEscapeMark)
      shown += L'\\';
    else if (line[i] == L'\\' && line.compare(i + 1, 2, L"x{") == 0)
      shown += L"\\x{5C}";
    else
      shown += line[i];
  }
  return shown;
}

std::wstring EscapedForTerminal(const std::wstring& text) {
  return UnmarkedLine(MarkedForTerminal(text.data(), text.size()));
}

size_t EscapeBoundary(const std::wstring& escaped, size_t at) {
  // The longest escape, "\x{HHHH}", began at most 7 units before `at`.
  for (size_t start = at > 7 ? at - 7 : 0; start < at; ++start) {
    if (escaped.compare(start, 3, L"\\x{") != 0) continue;
    const size_t end = escaped.find(L'}', start);
    if (end != std::wstring::npos && end >= at) return end + 1;
  }
  return at;
}

// 1204 -> "1,204".
std::wstring Grouped(uint64_t value) {
  std::wstring digits = std::to_wstring(value);
  std::wstring out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += L',';
    out += digits[i];
  }
  return out;
}

// Whole bytes below 1 KB; above, one decimal in the largest unit that keeps
// the number below 1024, 1 KB = 1024 B.
std::wstring Size(uint64_t bytes) {
  static const wchar_t* const kUnits[] = {L"B", L"KB", L"MB", L"GB", L"TB"};
  if (bytes < 1024) return std::to_wstring(bytes) + L" B";
  double value = static_cast<double>(bytes);
  size_t unit = 0;
  while (value >= 1023.95 && unit + 1 < 5) {
    value /= 1024.0;
    ++unit;
  }
  wchar_t text[48];
  std::swprintf(text, 48, L"%.1f %ls", value, kUnits[unit]);
  return text;
}

// `text` without its line ends.
std::wstring Trimmed(std::wstring text) {
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
  return text;
}

// The text with every unit that is no Unicode character (a POSIX byte that
// was no UTF-8, an unpaired UTF-16 surrogate) replaced by U+FFFD; false
// when there was none.
bool Replaced(const std::wstring& text, std::wstring& clean) {
  clean.clear();
  bool any = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t unit = text[i];
    if (sizeof(wchar_t) == 2 && unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      clean += unit;
      clean += text[++i];
    } else if (IsSurrogate(unit)) {
      clean += static_cast<wchar_t>(0xFFFD);
      any = true;
    } else {
      clean += unit;
    }
  }
  return any;
}
