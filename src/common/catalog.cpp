// Message formatting and the program's output forms.
#include "common/catalog.h"

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "common/run_report.h"
#include "platform/platform.h"

wchar_t ErrorPrefix[30] = {};
const wchar_t* const ProgramName = L"sweepdirs";

struct OutputSegment {
  std::wstring text;
  std::vector<plat::Event> events;  // sent to the system's log once the text is out
  std::atomic<bool> complete{false};
  bool own = false;  // written by the program's thread, which may still add to it
};

namespace {

// Where this thread's lines go while it works for the program's thread.
thread_local OutputSegment* Capture = nullptr;
// The segments not yet written out, in output order; program thread only.
std::deque<OutputSegment*> Pending;

void WriteNow(const std::wstring& text) {
  ProgressErase();
  plat::WriteText(text.data(), text.size());
}

void PrintMessage(uint32_t id, const wchar_t* insert1, const wchar_t* insert2, bool lineEnd) {
  std::wstring text;
  if (!plat::CatalogMessage(id, insert1, insert2, text)) return;
  if (lineEnd) text += L'\n';
  WriteOutput(text);
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

// Where this thread's output goes while it cannot go out at once: the
// segment it writes for the program's thread, or on the program's thread
// one of its own behind lines still being written. Null: out at once.
OutputSegment* HeldIn() {
  if (Capture || Pending.empty()) return Capture;
  if (!Pending.back()->own) {
    auto* segment = new OutputSegment;
    segment->own = true;
    segment->complete.store(true, std::memory_order_relaxed);
    Pending.push_back(segment);
  }
  return Pending.back();
}

}  // namespace

void WriteOutput(const std::wstring& text) {
  if (OutputSegment* segment = HeldIn())
    segment->text += text;
  else
    WriteNow(text);
}

void WriteEvent(plat::Event event) {
  if (OutputSegment* segment = HeldIn())
    segment->events.push_back(std::move(event));
  else
    SendEvent(event);
}

OutputSegment* ReserveOutput() {
  auto* segment = new OutputSegment;
  Pending.push_back(segment);
  return segment;
}

void CaptureOutput(OutputSegment* segment) { Capture = segment; }

void CompleteOutput(OutputSegment* segment) { segment->complete.store(true, std::memory_order_release); }

bool WriteCompletedOutput() {
  while (!Pending.empty() && Pending.front()->complete.load(std::memory_order_acquire)) {
    OutputSegment* segment = Pending.front();
    Pending.pop_front();
    if (!segment->text.empty()) WriteNow(segment->text);
    for (const plat::Event& event : segment->events) SendEvent(event);
    delete segment;
  }
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

void ReportMessage(uint32_t id, const wchar_t* insert1, const wchar_t* insert2, bool lineEnd) {
  // With /JSON the events say it all: no line of text goes out.
  if (OutputFlags & JsonFlag) return;
  PrintMessage(id, insert1, insert2, lineEnd);
}

void ReportLineEnd() {
  if (!(OutputFlags & JsonFlag)) WriteOutput(L"\n");
}

void ReportError(uint32_t code, const wchar_t* path) {
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
  if (TakeError(code, text, path, line)) return;
  line += L'\n';
  WriteOutput(line);
}

void PrintUsage() {
  // Asked for, so printed as text whatever the output options.
  for (uint32_t id = MSG_USAGE_FIRST; id <= MSG_USAGE_LAST; ++id)
    PrintMessage(id, ProgramName, nullptr, false);
  // The options added since, one line each.
  static const uint32_t kLaterOptions[] = {MSG_USAGE_EXCLUDE, MSG_USAGE_SUMMARY, MSG_USAGE_JSON, MSG_USAGE_THREADS,
                                           MSG_USAGE_EVENTLOG};
  for (uint32_t id : kLaterOptions) PrintMessage(id, nullptr, nullptr, false);
}
