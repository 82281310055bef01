// Message formatting and the program's output forms.
#include "common/catalog.h"

#include <atomic>
#include <cassert>
#include <cstdio>
#include <cwchar>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "common/run_report.h"
#include "common/run_state.h"
#include "commit.h"
#include "version.h"
#include "platform/platform.h"

wchar_t ErrorPrefix[30] = {};
const wchar_t* const ProgramName = L"sweepdirs";
bool EscapeNames = false;

struct OutputSegment {
  std::wstring text;
  std::vector<plat::Event> events;  // sent to the system's log once the text is out
  std::atomic<bool> complete{false};
  bool own = false;  // written by the program's thread, which may still add to it
};

namespace {

// The program's thread's scope.
ItemScope Program;
// The segments not yet written out, in output order; program thread only.
std::deque<OutputSegment*> Pending;

// ---- names on a terminal ----
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

// `text` with every character a terminal must not be given escaped, the
// escapes' backslashes marked.
std::wstring Marked(const wchar_t* text, size_t length) {
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
std::wstring Unmarked(const std::wstring& line) {
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

void WriteNow(const std::wstring& text) {
  ProgressErase();
  plat::WriteText(text.data(), text.size());
}

void PrintMessage(ItemScope& scope, uint32_t id, const wchar_t* insert1, const wchar_t* insert2, bool lineEnd) {
  std::wstring text;
  // The FOUND line joins folder and name: with '/' for an item in the
  // system's own form, whose folder then ends in no '/' of its own.
  std::wstring folder;
  if (id == MSG_FOUND && ItemSeparator == L'/' && insert1) {
    folder = EntryStem(insert1);
    folder.pop_back();
    insert1 = folder.c_str();
    id = MSG_FOUND_NATIVE;
  }
  if (EscapeNames) {
    const std::wstring marked1 = insert1 ? Marked(insert1, std::wcslen(insert1)) : L"";
    const std::wstring marked2 = insert2 ? Marked(insert2, std::wcslen(insert2)) : L"";
    if (!plat::CatalogMessage(id, insert1 ? marked1.c_str() : nullptr, insert2 ? marked2.c_str() : nullptr, text))
      return;
    text = Unmarked(text);
  } else if (!plat::CatalogMessage(id, insert1, insert2, text)) {
    return;
  }
  if (lineEnd) text += L'\n';
  WriteOutput(scope, text);
}

// The text for an error code: the catalogue first, then the platform's own
// texts, and a fixed text naming the code when neither has one.
std::wstring ErrorText(uint32_t code, const wchar_t* insert) {
  std::wstring text;
  if (plat::CatalogMessage(code, insert, nullptr, text)) return text;
  if (plat::SystemMessage(code, text)) return text;
  wchar_t fallback[64];
  std::swprintf(fallback, 64, L"No message text exists for error code 0x%08X.\n",
                static_cast<unsigned>(code));
  return fallback;
}

// Where `scope`'s output goes while it cannot go out at once: the segment
// it writes for the program's thread, or on the program's thread one of its
// own behind lines still being written. Null: out at once.
OutputSegment* HeldIn(ItemScope& scope) {
  if (scope.segment || Pending.empty()) return scope.segment;
  assert(&scope == &Program);
  if (!Pending.back()->own) {
    auto* segment = new OutputSegment;
    segment->own = true;
    segment->complete.store(true, std::memory_order_relaxed);
    Pending.push_back(segment);
  }
  return Pending.back();
}

}  // namespace

std::wstring EscapedForTerminal(const std::wstring& text) { return Unmarked(Marked(text.data(), text.size())); }

size_t EscapeBoundary(const std::wstring& escaped, size_t at) {
  // The longest escape, "\x{HHHH}", began at most 7 units before `at`.
  for (size_t start = at > 7 ? at - 7 : 0; start < at; ++start) {
    if (escaped.compare(start, 3, L"\\x{") != 0) continue;
    const size_t end = escaped.find(L'}', start);
    if (end != std::wstring::npos && end >= at) return end + 1;
  }
  return at;
}

ItemScope& ProgramScope() { return Program; }

void WriteOutput(ItemScope& scope, const std::wstring& text) {
  if (scope.held)
    *scope.held += text;
  else if (OutputSegment* segment = HeldIn(scope))
    segment->text += text;
  else
    WriteNow(text);
}

void WriteEvent(ItemScope& scope, plat::Event event) {
  if (OutputSegment* segment = HeldIn(scope))
    segment->events.push_back(std::move(event));
  else
    SendEvent(event);
}

OutputSegment* ReserveOutput() {
  auto* segment = new OutputSegment;
  Pending.push_back(segment);
  return segment;
}

void SettleOutput(ItemScope& scope) {
  if (!scope.held && !scope.segment && Pending.empty()) plat::FlushText();
}

void CompleteOutput(OutputSegment* segment) { segment->complete.store(true, std::memory_order_release); }

bool WriteCompletedOutput() {
  bool wrote = false;
  while (!Pending.empty() && Pending.front()->complete.load(std::memory_order_acquire)) {
    OutputSegment* segment = Pending.front();
    Pending.pop_front();
    if (!segment->text.empty()) WriteNow(segment->text);
    wrote = wrote || !segment->text.empty();
    for (const plat::Event& event : segment->events) SendEvent(event);
    delete segment;
  }
  // What was written is of settled items: out it goes.
  if (wrote) plat::FlushText();
  return Pending.empty();
}

void LoadErrorPrefix() {
  std::wstring text;
  ErrorPrefix[0] = L'\0';
  if (!plat::CatalogMessage(MSG_ERROR_PREFIX, nullptr, nullptr, text)) return;
  if (!text.empty() && text.back() == L'\n') text.pop_back();
  const size_t capacity = sizeof ErrorPrefix / sizeof ErrorPrefix[0];
  if (text.size() >= capacity) return;
  std::wmemcpy(ErrorPrefix, text.c_str(), text.size() + 1);
}

void ReportMessage(ItemScope& scope, uint32_t id, const wchar_t* insert1, const wchar_t* insert2, bool lineEnd) {
  // With /JSON the events say it all: no line of text goes out.
  if (OutputFlags & JsonFlag) return;
  PrintMessage(scope, id, insert1, insert2, lineEnd);
}

void ReportLineEnd(ItemScope& scope) {
  if (!(OutputFlags & JsonFlag)) WriteOutput(scope, L"\n");
}

void ReportError(ItemScope& scope, uint32_t code, const wchar_t* path) {
  const bool catalogued = code > kCatalogIdBound;
  const std::wstring text = ErrorText(code, catalogued ? path : nullptr);
  std::wstring line = ErrorPrefix;
  line += L' ';
  // A path is never passed into a system text; it stands before it.
  if (!catalogued && path) {
    line += path;
    line += L" : ";
  }
  line += text;
  if (TakeError(scope, code, text, path, line)) return;
  if (EscapeNames && path) {
    // On a terminal the path is shown with its escapes, in the text too.
    const std::wstring marked = Marked(path, std::wcslen(path));
    line = ErrorPrefix;
    line += L' ';
    if (catalogued) {
      line += ErrorText(code, marked.c_str());
    } else {
      line += marked;
      line += L" : ";
      line += text;
    }
  }
  line += L'\n';
  WriteOutput(scope, EscapeNames ? Unmarked(line) : line);
}

void PrintUsage() {
  // Asked for, so printed as text whatever the output options.
  for (uint32_t id = MSG_USAGE_FIRST; id <= MSG_USAGE_LAST; ++id)
    PrintMessage(Program, id, ProgramName, nullptr, false);
  // The options added since, one line each.
  static const uint32_t kLaterOptions[] = {MSG_USAGE_EXCLUDE, MSG_USAGE_SUMMARY, MSG_USAGE_JSON, MSG_USAGE_THREADS,
                                           MSG_USAGE_MIN_AGE, MSG_USAGE_EVENTLOG, MSG_USAGE_VERSION};
  for (uint32_t id : kLaterOptions) PrintMessage(Program, id, nullptr, nullptr, false);
}

void PrintVersion() {
  PrintMessage(Program, MSG_VERSION, L"" SWEEPDIRS_VERSION_TEXT, L"" SWEEPDIRS_COMMIT, false);
}
