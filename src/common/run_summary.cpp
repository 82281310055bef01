// The end of a run's record: the /SUMMARY lines, the summary event, the
// end-of-run event, and forgetting it all for the next run.
#include <string>

#include "common/catalog.h"
#include "common/event_sink.h"
#include "common/progress.h"
#include "common/run_record.h"
#include "common/run_state.h"

namespace {

std::wstring Counted(uint64_t count, uint32_t one, uint32_t many) {
  std::wstring text;
  const std::wstring number = Grouped(count);
  if (!plat::CatalogMessage(count == 1 ? one : many, number.c_str(), nullptr, text)) return number;
  if (!text.empty() && text.back() == L'\n') text.pop_back();
  return text;
}

}  // namespace

// The two lines of /SUMMARY, each with its line end.
std::wstring SummaryText() {
  std::wstring text, piece;
  const auto add = [&](uint32_t id, const std::wstring& insert1, const std::wstring& insert2) {
    if (plat::CatalogMessage(id, insert1.c_str(), insert2.c_str(), piece)) text += piece;
  };
  add(DeleteEnabled ? MSG_SUMMARY_REMOVED : MSG_SUMMARY_WOULD_REMOVE,
      Counted(Counts.workAreas, MSG_COUNT_WORK_AREA, MSG_COUNT_WORK_AREAS),
      Counted(Counts.logs, MSG_COUNT_LOG_FILE, MSG_COUNT_LOG_FILES));
  add(Counts.entries == 1 ? MSG_SUMMARY_HELD_ONE : MSG_SUMMARY_HELD, Grouped(Counts.entries), Size(Counts.bytes));
  add(MSG_SUMMARY_KEPT, Grouped(Counts.running), Grouped(Counts.otherHost));
  if (YoungSince == 0) {
    add(MSG_SUMMARY_UNKNOWN_FAILED, Grouped(Counts.ownerUnknown), Grouped(Counts.failed));
  } else {
    add(MSG_SUMMARY_UNKNOWN_YOUNG, Grouped(Counts.ownerUnknown), Grouped(Counts.young));
    add(MSG_SUMMARY_FAILED, Grouped(Counts.failed), std::wstring());
  }
  if (Counts.unread != 0) add(MSG_SUMMARY_UNREAD, Grouped(Counts.unread), std::wstring());
  return text;
}

void WriteRunSummary(uint32_t status, bool ran) {
  ProgressErase();
  // After the usage text (status 1 without a run) there is nothing to sum up.
  if (OutputFlags & JsonFlag) {
    if (ran || status != 1) WriteSummaryJson(status);
  } else if ((OutputFlags & SummaryFlag) && ran) {
    WriteOutput(ProgramScope(), SummaryText());
  }
  if ((OutputFlags & EventLogFlag) && (ran || status != 1)) WriteRunEndEvent(status);
}

void ResetRunReport() {
  if (OutputFlags & EventLogFlag) plat::EventLogClose();
  ResetEventSink();
  OutputFlags = 0;
  ProgramScope() = ItemScope();
  ClearCounts();
  ResetProgress();
}
