// Text forms shared by the output and the run's record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// ---- names on a terminal ----
// `text` with every character a terminal must not be given escaped, the
// escapes' backslashes marked, for a line still being assembled.
std::wstring MarkedForTerminal(const wchar_t* text, size_t length);
// The assembled `line`, its marks made backslashes: a backslash of its own
// that would read as the start of an escape is shown as one, so that no
// name can pass for an escape.
std::wstring UnmarkedLine(const std::wstring& line);
// `text` as a terminal may be given it: each C0 or C1 control, DEL,
// bidirectional embedding, override or isolate, and each unit that is no
// character (an unpaired surrogate, a POSIX byte that was no UTF-8) as
// \x{HH} (\x{HHHH} past 0xFF), and a backslash followed by "x{" as \x{5C}.
std::wstring EscapedForTerminal(const std::wstring& text);
// Where a cut of escaped text at `at` (at most its length) keeps no part of
// an escape: `at`, or the end of the escape `at` falls inside.
size_t EscapeBoundary(const std::wstring& escaped, size_t at);

// ---- numbers and lines ----
// 1204 -> "1,204".
std::wstring Grouped(uint64_t value);
// Whole bytes below 1 KB; above, one decimal in the largest unit that keeps
// the number below 1024, 1 KB = 1024 B.
std::wstring Size(uint64_t bytes);
// `text` without its line ends.
std::wstring Trimmed(std::wstring text);
// `text` with every unit that is no Unicode character (a POSIX byte that
// was no UTF-8, an unpaired UTF-16 surrogate) replaced by U+FFFD in `clean`;
// false when there was none.
bool Replaced(const std::wstring& text, std::wstring& clean);
