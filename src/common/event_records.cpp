// The run's record as events of the system's log (/EVENTLOG).
#include <string>
#include <utility>
#include <vector>

#include "common/catalog.h"
#include "common/run_record.h"
#include "common/run_state.h"

namespace {

std::wstring Number(uint64_t value) { return std::to_wstring(value); }

plat::Event NewEvent(plat::EventKind kind, uint32_t id, std::vector<std::wstring> inserts) {
  plat::Event event;
  event.kind = kind;
  event.error = kind == plat::EventKind::Failed || kind == plat::EventKind::Error;
  event.messageId = id;
  event.inserts = std::move(inserts);
  return event;
}

// The open item's path, owner and verdict, and what it held where it was read.
void ItemFields(const OpenItem& item, plat::Event& event, ItemVerdict verdict, bool measured, uint64_t entries,
                uint64_t bytes) {
  event.fields.push_back({"SWEEPDIRS_PATH", item.path});
  event.fields.push_back({"SWEEPDIRS_OWNER_PID", std::to_wstring(item.ownerId)});
  event.fields.push_back({"SWEEPDIRS_VERDICT", kVerdicts[verdict]});
  if (!measured) return;
  event.fields.push_back({"SWEEPDIRS_ENTRIES", Number(entries)});
  event.fields.push_back({"SWEEPDIRS_BYTES", Number(bytes)});
}

// An error line: the line, then its code, path and system text for scripts.
plat::Event ErrorEvent(uint32_t code, const std::wstring& text, const std::wstring& path, const std::wstring& line) {
  plat::Event event = NewEvent(plat::EventKind::Error, MSG_EVENT_ERROR, {line, Number(code), path, text});
  event.fields.push_back({"SWEEPDIRS_CODE", Number(code)});
  return event;
}

}  // namespace

void WriteItemEvents(ItemScope& scope, ItemVerdict verdict, ItemAction action, uint64_t entries, uint64_t bytes) {
  const OpenItem& item = scope.item;
  const std::wstring owner = std::to_wstring(item.ownerId);
  const bool measured = verdict == VerdictStale;
  if (action == ActionFailed) {
    plat::Event event = NewEvent(plat::EventKind::Failed, MSG_EVENT_FAILED,
                                 {item.path, owner, item.errorLine, Number(item.errorCode),
                                  item.errorPath, item.errorMessage, Number(entries), Number(bytes)});
    ItemFields(item, event, verdict, measured, entries, bytes);
    event.fields.push_back({"SWEEPDIRS_CODE", Number(item.errorCode)});
    WriteEvent(scope, std::move(event));
  } else if (item.hasError) {
    // The error line of a kept item: its owner's state could not be found out.
    plat::Event event = ErrorEvent(item.errorCode, item.errorMessage, item.errorPath, item.errorLine);
    ItemFields(item, event, verdict, measured, entries, bytes);
    WriteEvent(scope, std::move(event));
  }
  if (action != ActionRemoved) return;
  plat::Event event = NewEvent(plat::EventKind::Removed, MSG_EVENT_REMOVED,
                               {item.path, owner, Number(entries), Number(bytes)});
  ItemFields(item, event, verdict, measured, entries, bytes);
  WriteEvent(scope, std::move(event));
}

void WriteErrorEvent(ItemScope& scope, uint32_t code, const std::wstring& text, const wchar_t* path,
                     const std::wstring& line) {
  plat::Event event = ErrorEvent(code, text, path ? path : L"", line);
  if (path) event.fields.push_back({"SWEEPDIRS_PATH", path});
  WriteEvent(scope, std::move(event));
}

void WriteRunEndEvent(uint32_t status) {
  const uint32_t exitCode = plat::ExitCodeFor(status);
  const bool failed = status != 0;
  plat::Event event = NewEvent(plat::EventKind::RunEnd, failed ? MSG_EVENT_RUN_FAILED : MSG_EVENT_RUN_END,
                               {Number(status), Number(exitCode), SummaryText(), Number(Counts.workAreas),
                                Number(Counts.logs), Number(Counts.entries), Number(Counts.bytes),
                                Number(Counts.running), Number(Counts.otherHost), Number(Counts.ownerUnknown),
                                Number(Counts.failed)});
  event.error = failed;
  event.fields.push_back({"SWEEPDIRS_ENTRIES", Number(Counts.entries)});
  event.fields.push_back({"SWEEPDIRS_BYTES", Number(Counts.bytes)});
  event.fields.push_back({"SWEEPDIRS_STATUS", Number(status)});
  WriteEvent(ProgramScope(), std::move(event));
}
