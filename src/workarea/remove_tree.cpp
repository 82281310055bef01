// Removing a file, a link, or a whole directory tree, every step relative to
// the open directory that holds the item, never by resolving a path again.
#include "common/catalog.h"
#include "common/report_lines.h"
#include "common/run_report.h"
#include "common/run_state.h"
#include "workarea/workarea.h"

namespace {

uint32_t RemoveEntry(ItemScope& scope, plat::Listing* parent, const wchar_t* name, uint32_t attributes,
                     std::wstring& path);

// The code a removal or a measuring gives up with, unreported, for want
// of descriptors or memory where the item scope gives up on a shortage.
constexpr uint32_t kGaveUp = 0xFFFFFFFFu;

// True when the failure just recorded is a shortage to give up on.
bool GivesUp(ItemScope& scope) { return scope.giveUpOnShortage && plat::IsShortage(plat::LastErrorCode()); }

// A folder still not empty once its entries went holds entries that other
// programs (a virus scanner, an indexer) still have open: they go when those
// let go. It is asked again after 25, 50, 100, 200 and 400 ms, under a
// second in all, before the failure is reported.
constexpr uint32_t kNotEmptyRetries = 5;
constexpr uint32_t kFirstNotEmptyWait = 25;

// A removal under way when the run was stopped gives up once the stop is
// overdue, with this code, reported by the folder it gave up in.
constexpr uint32_t kCutShort = 0xFFFFFFFEu;

// True for a code that says the entry is no longer there: someone else (a
// second run, KEL itself) removed it first, or only its last handle keeps it.
bool Gone(uint32_t code) {
  return code == plat::kErrorFileNotFound || code == plat::kErrorPathNotFound || code == plat::kErrorDeletePending;
}

uint32_t Failed(ItemScope& scope, const std::wstring& path) {
  if (GivesUp(scope)) return kGaveUp;
  uint32_t code = plat::LastErrorCode();
  ReportError(scope, code, path.c_str());
  return code;
}

// 0 when the removal call `done`, or found the entry gone already;
// otherwise the reported failure.
uint32_t Outcome(ItemScope& scope, bool done, const std::wstring& path) {
  return done || Gone(plat::LastErrorCode()) ? 0 : Failed(scope, path);
}

// Calls `visit` for every entry of the directory `listing` lists but "."
// and "..", with the entry's path in `path` (one buffer for the whole
// depth: taken off again), until one returns nonzero; closes the listing.
// With `brokeOff`, a listing that ends in a failure rather than at its end
// gives that failure's code there.
template <typename Visit>
uint32_t VisitEntries(plat::Listing* listing, plat::DirEntry& entry, std::wstring& path, Visit visit,
                      uint32_t* brokeOff = nullptr) {
  const size_t length = path.size();
  uint32_t code = 0;
  do {
    if (IsDotEntry(entry.name)) continue;
    if (StopOverdue()) {
      code = kCutShort;
      break;
    }
    path.resize(length);
    path += ItemSeparator;
    path.append(entry.name, entry.nameLength);
    code = visit(listing, entry);
  } while (code == 0 && plat::ListNext(listing, entry));
  path.resize(length);
  if (brokeOff && code == 0 && plat::LastErrorCode() != plat::kErrorNoMoreEntries) *brokeOff = plat::LastErrorCode();
  plat::ListClose(listing);
  return code;
}

// Removes every entry of the non-empty directory `name`, then the directory.
uint32_t EmptyAndRemove(ItemScope& scope, plat::Listing* parent, const wchar_t* name, std::wstring& path) {
  plat::DirEntry entry;
  plat::Listing* listing = plat::ListForRemoval(parent, name, path, entry);
  if (!listing) return Outcome(scope, false, path);
  // The listing says what each entry is; no call per entry to ask again.
  // Should an entry change kind meanwhile, the removal call for the kind
  // listed refuses it, and that failure is reported. A failure is reported
  // where it happened; this directory and the rest stay.
  const uint32_t code = VisitEntries(listing, entry, path, [&](plat::Listing* folder, const plat::DirEntry& item) {
    return RemoveEntry(scope, folder, item.name, item.attributes, path);
  });
  if (code == kCutShort) {
    ReportError(scope, MSG_REMOVAL_CUT_SHORT, path.c_str());
    return MSG_REMOVAL_CUT_SHORT;
  }
  if (code != 0) return code;
  for (uint32_t retry = 0, wait = kFirstNotEmptyWait;; ++retry, wait *= 2) {
    const bool done = plat::RemoveEmptyDirectoryAt(parent, name, path);
    if (done || plat::LastErrorCode() != plat::kErrorDirNotEmpty || retry == kNotEmptyRetries)
      return Outcome(scope, done, path);
    plat::Pause(wait);
  }
}

uint32_t RemoveEntry(ItemScope& scope, plat::Listing* parent, const wchar_t* name, uint32_t attributes,
                     std::wstring& path) {
  if (attributes != plat::kInvalidAttributes && (attributes & plat::kAttrDirectory)) {
    // A link is removed itself; what it leads to is never listed.
    if (attributes & plat::kAttrReparsePoint) return Outcome(scope, plat::RemoveLinkAt(parent, name, path), path);
    const bool done = plat::RemoveEmptyDirectoryAt(parent, name, path);
    if (!done && plat::LastErrorCode() == plat::kErrorDirNotEmpty) return EmptyAndRemove(scope, parent, name, path);
    return Outcome(scope, done, path);
  }
  return Outcome(scope, plat::DeleteFileAt(parent, name, path), path);
}

// What an item held; under /MINAGE also its newest last-write time, or the
// first failure to read one and where it happened.
struct Held {
  uint64_t entries = 0, bytes = 0, newest = 0;
  uint32_t failure = 0;
  std::wstring failedPath;
};

uint32_t Unreadable(uint32_t code, const std::wstring& path, Held& held) {
  held.failure = code != 0 ? code : plat::kErrorNotEnoughMemory;
  held.failedPath = path;
  return held.failure;
}

// Adds up what the entry `name` holds, reading only: itself, and below a
// directory that is no link and on the same file system everything in it.
// A file's size is the listing's (`listedSize`) where it gives one. Under
// /MINAGE it also reads every entry's own last-write time, with a file's
// size in the same call, and stops at the first that cannot be had.
uint32_t Measure(ItemScope& scope, plat::Listing* parent, const wchar_t* name, uint32_t attributes, uint64_t listedSize,
                 std::wstring& path, Held& held) {
  ++held.entries;
  const bool directory = attributes != plat::kInvalidAttributes && (attributes & plat::kAttrDirectory);
  const bool file = !directory && !(attributes & plat::kAttrReparsePoint);
  uint64_t size = file ? listedSize : 0;
  if (YoungSince != 0 || size == plat::kSizeNotListed) {
    uint64_t time = 0;
    if (!plat::LastWriteTimeAt(parent, name, path, time, file ? &size : nullptr)) {
      if (Gone(plat::LastErrorCode())) return 0;
      if (YoungSince != 0) return Unreadable(plat::LastErrorCode(), path, held);
      size = 0;  // a size that cannot be read counts nothing
    }
    if (time > held.newest) held.newest = time;
  }
  held.bytes += size;
  if (!directory || (attributes & plat::kAttrReparsePoint)) return 0;
  plat::DirEntry entry;
  plat::Listing* listing = plat::ListForRemoval(parent, name, path, entry);
  if (!listing) {
    if (GivesUp(scope)) return kGaveUp;
    // A mount point's own time counts; what is mounted there is no part of the item.
    const uint32_t code = plat::LastErrorCode();
    return YoungSince == 0 || code == plat::kErrorOtherFileSystem || Gone(code) ? 0 : Unreadable(code, path, held);
  }
  uint32_t brokeOff = 0;
  const uint32_t code = VisitEntries(
      listing, entry, path,
      [&](plat::Listing* folder, const plat::DirEntry& item) {
        return Measure(scope, folder, item.name, item.attributes, item.size, path, held);
      },
      YoungSince != 0 ? &brokeOff : nullptr);
  return code != 0 || brokeOff == 0 ? code : Unreadable(brokeOff, path, held);
}

// Under /MINAGE, once the stale item has been read: writes the lines held
// from judging it and returns true when it is old enough to go; otherwise
// keeps it as young, with the error line where its age could not be read.
bool OldEnough(ItemScope& scope, const Held& held) {
  const std::wstring judged = TakeJudgement(scope);
  const bool verbose = RunFlags & VerboseFlag;
  if (held.failure == 0 && held.newest < YoungSince) {
    WriteOutput(scope, judged);
    if (verbose) ReportMessage(scope, MSG_PROCESS_NOT_ACTIVE, nullptr, nullptr, false);
    return true;
  }
  // What would not be removed is not listed; a trace shows why.
  if (verbose) WriteOutput(scope, judged);
  if (held.failure != 0) {
    if (verbose) ReportLineEnd(scope);
    ReportError(scope, held.failure, held.failedPath.c_str());
  } else if (verbose) {
    ReportMessage(scope, MSG_YOUNG, nullptr, nullptr, false);
  }
  EndItem(scope, VerdictYoung, ActionKept, 0, 0);
  return false;
}

}  // namespace

uint32_t RemoveTree(ItemScope& scope, plat::Listing* parent, const wchar_t* name, std::wstring& path) {
  return RemoveEntry(scope, parent, name, plat::AttributesAt(parent, name, path), path);
}

namespace {

// The owner of the stale work area `name` is asked for again just before
// its removal: with threads the removal may run long after the judgement,
// and the id may have been taken meanwhile by a new KEL.EXE. True when the
// item may go; otherwise it is kept and told as kept, as the judgement
// would have told it now, and `gaveUp` says instead when a shortage made
// the question give up (ItemScope::giveUpOnShortage), unreported.
bool OwnerStillGone(ItemScope& scope, const wchar_t* name, const std::wstring& path, bool& gaveUp) {
  int32_t processId = 0;
  if (!WorkAreaOwnerId(name, processId)) return true;
  uint32_t code = 0;
  const OwnerNow owner = OwnerRunsNow(static_cast<uint32_t>(processId), code);
  if (owner == OwnerNow::NotRunning) return true;
  if (owner == OwnerNow::Unknown && scope.giveUpOnShortage && plat::IsShortage(code)) {
    gaveUp = true;
    return false;
  }
  if (RunFlags & VerboseFlag) ReportMessage(scope, MSG_KEPT_ON_SECOND_LOOK, path.c_str(), nullptr, false);
  if (owner == OwnerNow::Unknown) ReportError(scope, code, nullptr);
  EndItem(scope, owner == OwnerNow::Running ? VerdictRunning : VerdictOwnerUnknown, ActionKept, 0, 0);
  return false;
}

// Measures (where the run accounts for items) and removes the stale item;
// a work area (`workArea`) only once its owner was asked for again.
bool MeasureAndRemove(ItemScope& scope, plat::Listing* parent, const wchar_t* name, std::wstring& path,
                      StaleMeasure& measure, bool workArea) {
  // What the entry is, asked once for measuring and removing it.
  const uint32_t attributes = plat::AttributesAt(parent, name, path);
  if (ItemOpen(scope) && !measure.taken) {
    Held held;
    if (Measure(scope, parent, name, attributes, plat::kSizeNotListed, path, held) == kGaveUp) return false;
    measure.taken = true;
    measure.entries = held.entries;
    measure.bytes = held.bytes;
    if (YoungSince != 0 && !OldEnough(scope, held)) return true;
  }
  if (DeleteEnabled == 0) {
    EndItem(scope, VerdictStale, ActionWouldRemove, measure.entries, measure.bytes);
    return true;
  }
  bool gaveUp = false;
  if (workArea && !OwnerStillGone(scope, name, path, gaveUp)) return !gaveUp;
  const uint32_t code = RemoveEntry(scope, parent, name, attributes, path);
  if (code == kGaveUp) return false;
  // The trace follows every attempt, a failed one too.
  if (RunFlags & VerboseFlag) ReportMessage(scope, MSG_REMOVED, path.c_str(), nullptr, false);
  EndItem(scope, VerdictStale, code == 0 ? ActionRemoved : ActionFailed, measure.entries, measure.bytes);
  return true;
}

}  // namespace

bool RemoveStaleItem(ItemScope& scope, plat::Listing* parent, const wchar_t* name, std::wstring& path,
                     StaleMeasure& measure) {
  if (!MeasureAndRemove(scope, parent, name, path, measure, true)) return false;
  SettleOutput(scope);
  return true;
}

void RemoveStaleEntry(ItemScope& scope, plat::Listing* parent, const wchar_t* name, std::wstring& path) {
  StaleMeasure measure;
  RemoveStaleItem(scope, parent, name, path, measure);
}

void RemoveStaleLog(ItemScope& scope, plat::Listing* parent, const wchar_t* name, std::wstring& path) {
  StaleMeasure measure;
  MeasureAndRemove(scope, parent, name, path, measure, false);
  SettleOutput(scope);
}
