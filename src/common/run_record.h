// What the files that keep the run's record share: the counts, the names
// of verdicts and actions, and what each of them writes for the others.
// item_record.cpp opens and ends items and counts them; json_lines.cpp
// writes the /JSON events; event_records.cpp the events of the system's
// log; run_summary.cpp the /SUMMARY lines and the run's end.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "common/run_report.h"

// Counted by whichever thread ends an item (relaxed atomics: read only
// once every thread that ends items has stopped); `unread` by the walk's
// thread only.
struct Tally {
  std::atomic<uint64_t> workAreas{0}, logs{0}, entries{0}, bytes{0};
  std::atomic<uint64_t> running{0}, otherHost{0}, ownerUnknown{0}, failed{0}, young{0};
  std::atomic<uint64_t> unread{0};
};
extern Tally Counts;
// Forgets the counts and the items met, between runs.
void ClearCounts();

inline const wchar_t* const kVerdicts[] = {L"stale", L"running", L"other_host", L"owner_unknown", L"young"};
inline const wchar_t* const kActions[] = {L"removed", L"would_remove", L"kept", L"failed"};

// Whether the run writes events other than its end: not in list mode.
bool ItemEventsWanted();

// /JSON: the event of the item `scope` ends; of an error line no item
// took (`path` may be null); of an unread folder; of the run's end.
void WriteItemJson(ItemScope& scope, ItemVerdict verdict, ItemAction action, uint64_t entries, uint64_t bytes);
void WriteErrorJson(ItemScope& scope, uint32_t code, const std::wstring& text, const wchar_t* path);
void WriteUnreadJson(ItemScope& scope, const std::wstring& path, uint32_t code, const std::wstring& message);
void WriteSummaryJson(uint32_t status);

// /EVENTLOG: the events of the item `scope` ends; of an error line no item
// took; of the run's end.
void WriteItemEvents(ItemScope& scope, ItemVerdict verdict, ItemAction action, uint64_t entries, uint64_t bytes);
void WriteErrorEvent(ItemScope& scope, uint32_t code, const std::wstring& text, const wchar_t* path,
                     const std::wstring& line);
void WriteRunEndEvent(uint32_t status);

// The /SUMMARY lines, each with its line end.
std::wstring SummaryText();
