// Where events of the system's log go.
#include "common/event_sink.h"

#include <string>

#include "common/progress.h"
#include "common/text_forms.h"
#include "sweepdirs.h"

namespace {

// Told once a run: events that could not be written.
bool EventFailureTold = false;

}  // namespace

void SendEvent(const plat::Event& event) {
  const uint32_t code = plat::EventLogWrite(event);
  if (code == 0 || EventFailureTold) return;
  // Told once; the run, its output and its exit code go on unchanged.
  EventFailureTold = true;
  std::wstring reason, text;
  if (!plat::SystemMessage(code, reason)) reason = std::to_wstring(code);
  if (!plat::CatalogMessage(MSG_EVENTLOG_FAILED, Trimmed(reason).c_str(), nullptr, text)) return;
  ProgressErase();
  plat::WriteErrorText(text.data(), text.size());
}

void ResetEventSink() { EventFailureTold = false; }
