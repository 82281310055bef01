// Work-area cleanup: the owner probe, the name rule, removal, scan and walk.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/item_scope.h"
#include "platform/platform.h"

// True for the entries "." and "..", which every listing skips.
inline bool IsDotEntry(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// What a look at the processes finds of an item's owner.
enum class OwnerNow { NotRunning, Running, Unknown };
// Whether a process with id `processId` whose image name begins with
// "KEL.EXE" runs now, with the trace line; where that cannot be known,
// Unknown, with the error line (the item then stays). Before it fails for
// want of descriptors it asks `scope`'s walk, if any, to let go of what it
// holds ahead.
OwnerNow IsOwnerAlive(ItemScope& scope, uint32_t processId);

// Whether a process with id `processId` whose image name begins with
// "KEL.EXE" runs now, asked as IsOwnerAlive asks but quietly: it prints
// nothing, sets no shared state and asks no walk for relief, so any thread
// may ask. Unknown, with the code that tells why in `code` (a system code,
// or MSG_OWNER_IMAGE_UNKNOWN), wherever the answer cannot be had.
OwnerNow OwnerRunsNow(uint32_t processId, uint32_t& code);

// A walk that holds listings open ahead of where it is, on its own thread:
// after a shortage (plat::IsShortage) Relieve lets them go, so that the
// call can be made again as the one-thread walk would make it; false when
// there was nothing to let go.
class ShortageRelief {
 public:
  virtual bool Relieve() = 0;

 protected:
  ~ShortageRelief() = default;
};


// 1 when directory `name`, found in `parent`, is the work area of an ended
// KEL process of this computer; 0 otherwise. Prints the trace lines.
int IsStaleWorkArea(ItemScope& scope, const wchar_t* name, std::wstring_view parent);
// The same for the entry `name` of `listing`, whose full path is `path`.
int IsStaleWorkAreaAt(ItemScope& scope, plat::Listing* listing, const wchar_t* name, const std::wstring& path,
                      std::wstring_view parent);

// True when the number reader, reading the `length` characters of `text`
// as wcstol does in `base` (10 or 16), finds a digit.
bool HoldsId(const wchar_t* text, size_t length, int base);
// Reads a number as wcstol does in `base`, clamped to 32 signed bits.
int32_t ReadProcessId(const wchar_t* text, int base);
// The owner process id that the work-area name `name` holds; false when
// `name` is no work-area name.
bool WorkAreaOwnerId(const wchar_t* name, int32_t& processId);

// Removes the entry `name` of the directory `parent` lists (a file, a link,
// or a directory with everything below it); `path` is its full path, for the
// error line. 0 when it is gone, otherwise the code of the one failure that
// was reported.
// `path` is extended while the tree is emptied and holds its text again on return.
uint32_t RemoveTree(ItemScope& scope, plat::Listing* parent, const wchar_t* name, std::wstring& path);

// Removes the stale work area `name` of the directory `parent` lists, whose
// full path is `path`, and traces the attempt in verbose mode; in list mode
// only measures it where the run accounts for items. Just before a removal
// the owner its name holds is asked for again (OwnerRunsNow): an owner that
// runs now, or whose state cannot be told now, keeps the item.
void RemoveStaleEntry(ItemScope& scope, plat::Listing* parent, const wchar_t* name, std::wstring& path);
// The same for a stale log file, removed right after its judgement on the
// same thread: its owner is not asked for again.
void RemoveStaleLog(ItemScope& scope, plat::Listing* parent, const wchar_t* name, std::wstring& path);
// What a stale item held, measured once however often its removal is made.
struct StaleMeasure {
  uint64_t entries = 0, bytes = 0;
  bool taken = false;
};
// RemoveStaleEntry with the measure kept by the caller, on any thread.
// Where `scope` gives up on a shortage (ItemScope::giveUpOnShortage), false
// when it gave up: nothing was reported or counted then, and it is to be
// called again with the same `measure`, which removes what is left.
bool RemoveStaleItem(ItemScope& scope, plat::Listing* parent, const wchar_t* name, std::wstring& path,
                     StaleMeasure& measure);

// Removes the stale work areas directly inside `directory`.
void CleanDirectory(const wchar_t* directory);

enum ExcludeKind : uint32_t {
  ExcludeKnownFolder = 0,
  ExcludeDriveRootSuffix = 1,
  ExcludeEnd = 2,
};

// One folder the volume walk never enters.
struct ExcludedFolder {
  ExcludeKind kind;
  plat::KnownFolder folderId;  // ExcludeKnownFolder: the folder to resolve
  std::wstring resolvedPath;   // ExcludeKnownFolder: held for one walk
  const wchar_t* suffix;       // ExcludeDriveRootSuffix: the text after the drive letter
  uint32_t length;             // characters of resolvedPath or suffix
};

extern ExcludedFolder ExcludedFolderTable[3];

// Walks `path` depth first, removing every stale work area met. 0 when
// `path` itself could be listed, otherwise the listing's failure code.
uint32_t WalkVolume(const std::wstring& path);

// One /v item as the driver runs it: resolves the excluded folders, walks,
// reports a failure. Returns the status that replaces the run status.
uint32_t RunVolumeTarget(const wchar_t* argument);

// The folders /XD names, as typed (pointers into the argument vector), in
// command-line order.
extern std::vector<const wchar_t*> ChosenExclusionPaths;

// Takes the identity of every /XD folder as the run starts, so that each
// is matched whichever path or link leads to it; reports each one that
// cannot be found, once. The run status is not touched.
void ResolveChosenExclusions();

// Forgets the /XD folders at the end of the run.
void ClearChosenExclusions();
