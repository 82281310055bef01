// What a run did, for /SUMMARY, /JSON and /EVENTLOG: every judged item, its
// verdict, what was done with it and what it held; and the progress line
// shown on an interactive standard error. Without the options and a
// terminal, nothing here prints or costs anything.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/event_sink.h"
#include "common/item_scope.h"
#include "common/progress.h"
#include "platform/platform.h"

inline constexpr uint32_t SummaryFlag = 0x01;  // set by /SUMMARY
inline constexpr uint32_t JsonFlag = 0x02;     // set by /JSON
inline constexpr uint32_t EventLogFlag = 0x04; // set by /EVENTLOG

// The output options, 0 at start. Kept apart from RunFlags, whose values
// the trace rules compare exactly.
extern uint32_t OutputFlags;

enum ItemVerdict : uint32_t {
  VerdictStale = 0,
  VerdictRunning = 1,
  VerdictOtherHost = 2,
  VerdictOwnerUnknown = 3,
  VerdictYoung = 4,  // stale, but written within /MINAGE, or of an age that cannot be read
};
enum ItemAction : uint32_t { ActionRemoved = 0, ActionWouldRemove = 1, ActionKept = 2, ActionFailed = 3 };

// True while `scope` judges an item and the run accounts for items.
bool ItemOpen(const ItemScope& scope);
// True when the run accounts for items (BeginItem opens one).
bool AccountsItems();
// What the next item `scope` opens is, whichever path leads to it: an item
// met twice (through a link) is counted once.
void IdentifyNextItem(ItemScope& scope, const plat::FileIdentity& identity);

// Opens in `scope` the record of the item `name` in `parent` (named as the
// trace lines name it), owned by process `ownerId`; `host` is the host text
// the name holds, or null. Does nothing unless the run accounts for items.
void BeginItem(ItemScope& scope, ItemKind kind, std::wstring_view parent, const wchar_t* name, int32_t ownerId,
               const wchar_t* host, size_t hostLength);

// Moves the open item (if any) from `from` to `to`, which ends it there.
void HandItemOver(ItemScope& from, ItemScope& to);

// Closes the open item: counts it and, with /JSON, writes its event; with
// /EVENTLOG, outside list mode, a removal or a failure is an event too.
// `entries` and `bytes` are what a stale item held.
void EndItem(ItemScope& scope, ItemVerdict verdict, ItemAction action, uint64_t entries, uint64_t bytes);

// Under /MINAGE a stale verdict waits for the item's age, which is read
// where the item is removed: HoldJudgement holds back the lines `scope`
// writes while it judges an item; EndJudgement writes them out, or for a
// stale item (`stale`) keeps them with the open item, for TakeJudgement to
// hand to whoever ends it. Without /MINAGE they do nothing.
void HoldJudgement(ItemScope& scope);
void EndJudgement(ItemScope& scope, bool stale);
std::wstring TakeJudgement(ItemScope& scope);

// With /JSON or /EVENTLOG: records an error line's content (`line` the line
// as printed), as the open item's error or as an error event of its own.
// True when it was taken (nothing is printed then), only with /JSON.
bool TakeError(ItemScope& scope, uint32_t code, const std::wstring& message, const wchar_t* path,
               const std::wstring& line);

// A folder the walk would have entered could not be listed (code `code`):
// what it holds was not looked at. Counted for /SUMMARY, and an event of
// its own with /JSON; plain text passes over it, as it always has.
void NoteUnreadFolder(ItemScope& scope, const std::wstring& path, uint32_t code);

// With /JSON, the run's first event; called once the command line is accepted.
void WriteStartEvent();

// The end of the run: with /JSON the summary event; the /SUMMARY lines
// only after a run whose command line was accepted (`ran`); with /EVENTLOG
// the end-of-run event.
void WriteRunSummary(uint32_t status, bool ran);

// Forgets every count and closes the event log, for the next run.
void ResetRunReport();
