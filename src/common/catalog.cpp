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

#include "common/event_sink.h"
#include "common/progress.h"
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

void WriteNow(const std::wstring& text) {
  ProgressErase();
  plat::WriteText(text.data(), text.size());
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
    const std::wstring marked1 = insert1 ? MarkedForTerminal(insert1, std::wcslen(insert1)) : L"";
    const std::wstring marked2 = insert2 ? MarkedForTerminal(insert2, std::wcslen(insert2)) : L"";
    if (!plat::CatalogMessage(id, insert1 ? marked1.c_str() : nullptr, insert2 ? marked2.c_str() : nullptr, text))
      return;
    text = UnmarkedLine(text);
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
