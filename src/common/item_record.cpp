// The record of each item a run judges: opened when it is judged, ended
// where it is kept or removed, counted once however often it is met.
#include <atomic>
#include <cassert>
#include <utility>

#include "common/catalog.h"
#include "common/met_items.h"
#include "common/progress.h"
#include "common/run_record.h"
#include "common/run_state.h"

uint32_t OutputFlags = 0;
Tally Counts;

namespace {

// The items met so far, by identity, and not removed since. The thread
// that begins an item (the walk's) adds to it; the thread that ends one it
// removed (the walk's, or a worker's) takes its identity out. Both touch it
// only while they hold CountedLock (a spin lock: the set is touched
// briefly, once an item); cleared between runs. A removed work area cannot
// be met again (a folder has no second name of its own), so the set holds
// only what the run keeps or lists, and an id the file system gives again
// to a folder made later is counted.
MetItems CountedItems;
std::atomic_flag CountedLock = ATOMIC_FLAG_INIT;

void LockCounted() {
  while (CountedLock.test_and_set(std::memory_order_acquire)) {
  }
}
void UnlockCounted() {
  assert(CountedLock.test());
  CountedLock.clear(std::memory_order_release);
}

// True the first time the item `identity` is met. Asked when an item is
// begun, on the walk's thread in the walk's order, so that whichever
// thread ends it, the one counted is the one one thread would count.
bool FirstMet(const plat::FileIdentity& identity) {
  LockCounted();
  const bool first = CountedItems.Insert(identity);
  UnlockCounted();
  return first;
}

// The item `identity` was removed: a folder met later with that id is new.
void Forget(const plat::FileIdentity& identity) {
  LockCounted();
  CountedItems.Erase(identity);
  UnlockCounted();
}

// Under /MINAGE every stale item is measured for its age, so every item is
// accounted for.
bool Accounting() { return OutputFlags != 0 || YoungSince != 0 || ProgressActive(); }

}  // namespace

void ClearCounts() {
  // Between runs, when no thread ends an item: nobody holds the lock.
  assert(!CountedLock.test());
  CountedItems.Clear();
  for (std::atomic<uint64_t>* count : {&Counts.workAreas, &Counts.logs, &Counts.entries, &Counts.bytes,
                                       &Counts.running, &Counts.otherHost, &Counts.ownerUnknown, &Counts.failed,
                                       &Counts.young, &Counts.unread})
    count->store(0);
}

bool ItemEventsWanted() { return (OutputFlags & EventLogFlag) && DeleteEnabled; }

bool ItemOpen(const ItemScope& scope) { return scope.item.open; }

bool AccountsItems() { return Accounting(); }

void IdentifyNextItem(ItemScope& scope, const plat::FileIdentity& identity) {
  scope.nextIdentified = true;
  scope.nextIdentity = identity;
}

void HandItemOver(ItemScope& from, ItemScope& to) {
  to.item = std::move(from.item);
  from.item = OpenItem();
}

void BeginItem(ItemScope& scope, ItemKind kind, std::wstring_view parent, const wchar_t* name, int32_t ownerId,
               const wchar_t* host, size_t hostLength) {
  if (!Accounting()) return;
  OpenItem& item = scope.item;
  item.open = true;
  item.kind = kind;
  item.path = EntryStem(parent);
  item.path += name;
  item.ownerId = ownerId;
  item.hasHost = host != nullptr;
  item.host.assign(host ? host : L"", host ? hostLength : 0);
  item.hasError = false;
  item.judged.clear();
  item.counted = !scope.nextIdentified || FirstMet(scope.nextIdentity);
  item.identified = scope.nextIdentified;
  item.identity = scope.nextIdentity;
  scope.nextIdentified = false;
}

void EndItem(ItemScope& scope, ItemVerdict verdict, ItemAction action, uint64_t entries, uint64_t bytes) {
  OpenItem& item = scope.item;
  if (!item.open) return;
  item.open = false;
  if (item.identified && action == ActionRemoved) Forget(item.identity);
  // Counted once however often it is met; its lines stay as they are.
  if (item.counted) switch (action) {
    case ActionRemoved:
    case ActionWouldRemove:
      ++(item.kind == WorkAreaItem ? Counts.workAreas : Counts.logs);
      Counts.entries += entries;
      Counts.bytes += bytes;
      break;
    case ActionFailed:
      ++Counts.failed;
      break;
    case ActionKept:
      ++(verdict == VerdictOtherHost      ? Counts.otherHost
         : verdict == VerdictOwnerUnknown ? Counts.ownerUnknown
         : verdict == VerdictYoung        ? Counts.young
                                          : Counts.running);
      break;
  }
  if (verdict == VerdictStale) ProgressStale(action == ActionRemoved || action == ActionWouldRemove ? bytes : 0);
  if (OutputFlags & JsonFlag) WriteItemJson(scope, verdict, action, entries, bytes);
  if (ItemEventsWanted()) WriteItemEvents(scope, verdict, action, entries, bytes);
}

void HoldJudgement(ItemScope& scope) {
  if (YoungSince == 0) return;
  scope.judging.clear();
  scope.held = &scope.judging;
}

void EndJudgement(ItemScope& scope, bool stale) {
  if (YoungSince == 0) return;
  scope.held = nullptr;
  if (stale && scope.item.open)
    scope.item.judged.swap(scope.judging);
  else if (!scope.judging.empty())
    WriteOutput(scope, scope.judging);
  scope.judging.clear();
}

std::wstring TakeJudgement(ItemScope& scope) { return std::move(scope.item.judged); }
bool TakeError(ItemScope& scope, uint32_t code, const std::wstring& message, const wchar_t* path,
               const std::wstring& line) {
  OpenItem& item = scope.item;
  const bool asJson = OutputFlags & JsonFlag;
  if (!asJson && !ItemEventsWanted()) return false;
  const std::wstring text = Trimmed(message);
  if (item.open && !item.hasError) {
    item.hasError = true;
    item.errorCode = code;
    item.errorMessage = text;
    item.errorHasPath = path != nullptr;
    item.errorPath = path ? path : L"";
    item.errorLine = Trimmed(line);
    return asJson;
  }
  if (ItemEventsWanted()) WriteErrorEvent(scope, code, text, path, Trimmed(line));
  if (!asJson) return false;
  WriteErrorJson(scope, code, text, path);
  return true;
}

void NoteUnreadFolder(ItemScope& scope, const std::wstring& path, uint32_t code) {
  ++Counts.unread;
  if (!(OutputFlags & JsonFlag)) return;
  std::wstring message;
  plat::SystemMessage(code, message);
  WriteUnreadJson(scope, path, code, Trimmed(message));
}
