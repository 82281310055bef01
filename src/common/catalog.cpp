// Message formatting and the program's output forms.
#include "common/catalog.h"

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <deque>
#include <string>

#include "common/run_report.h"
#include "platform/platform.h"

wchar_t ErrorPrefix[30] = {};
const wchar_t* const ProgramName = L"sweepdirs";

struct OutputSegment {
  std::wstring text;
  std::atomic<bool> complete{false};
  bool own = false;  // written by the program's thread, which may still add to it
};

namespace {

// Where this thread's lines go while it works for the program's thread, or
// while they are held back.
thread_local std::wstring* Capture = nullptr;
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

}  // namespace

void WriteOutput(const std::wstring& text) {
  if (Capture) {
    *Capture += text;
    return;
  }
  if (!Pending.empty()) {
    // Behind lines still being written: kept until they are out.
    if (!Pending.back()->own) {
      auto* segment = new OutputSegment;
      segment->own = true;
      segment->complete.store(true, std::memory_order_relaxed);
      Pending.push_back(segment);
    }
    Pending.back()->text += text;
    return;
  }
  WriteNow(text);
}

OutputSegment* ReserveOutput() {
  auto* segment = new OutputSegment;
  Pending.push_back(segment);
  return segment;
}

void CaptureOutput(OutputSegment* segment) { Capture = segment ? &segment->text : nullptr; }

void HoldOutput(std::wstring* text) { Capture = text; }

void CompleteOutput(OutputSegment* segment) { segment->complete.store(true, std::memory_order_release); }

bool WriteCompletedOutput() {
  while (!Pending.empty() && Pending.front()->complete.load(std::memory_order_acquire)) {
    OutputSegment* segment = Pending.front();
    Pending.pop_front();
    if (!segment->text.empty()) WriteNow(segment->text);
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
  if (OutputFlags & JsonFlag) {
    TakeError(code, ErrorText(code, code > kCatalogIdBound ? path : nullptr), path);
    return;
  }
  std::wstring line = ErrorPrefix;
  line += L' ';
  if (code > kCatalogIdBound) {
    line += ErrorText(code, path);
  } else {
    // A path is never passed into a system text; it stands before it.
    if (path) {
      line += path;
      line += L" : ";
    }
    line += ErrorText(code, nullptr);
  }
  line += L'\n';
  WriteOutput(line);
}

void PrintUsage() {
  // Asked for, so printed as text whatever the output options.
  for (uint32_t id = MSG_USAGE_FIRST; id <= MSG_USAGE_LAST; ++id)
    PrintMessage(id, ProgramName, nullptr, false);
  // The options added since, one line each.
  static const uint32_t kLaterOptions[] = {MSG_USAGE_EXCLUDE, MSG_USAGE_SUMMARY, MSG_USAGE_JSON, MSG_USAGE_THREADS,
                                           MSG_USAGE_MIN_AGE};
  for (uint32_t id : kLaterOptions) PrintMessage(id, nullptr, nullptr, false);
}
