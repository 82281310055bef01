// The rules every /v walk applies to the entries it meets, whichever
// thread lists them: shared by the one-thread walk and the shared walk.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/item_scope.h"
#include "platform/platform.h"

// True when the walk never enters `child` (a full path as the walk builds
// it) by the excluded-folder table and the platform's root exclusions.
bool IsExcluded(const std::wstring& child);
// The longest path IsExcluded can hold true for: below a folder whose path
// is longer, it never does.
size_t ExclusionReach();

// True when /XD named folders and `name` of `listing` is one of them;
// `identity`, when `known`, is the entry's identity, looked up otherwise.
bool IsChosenExclusion(plat::Listing* listing, const wchar_t* name, const std::wstring& path, bool known,
                       const plat::FileIdentity& identity);
// True when /XD named any folder.
bool AnyChosenExclusion();

// The directories on the walk's current path, outermost first.
void PushAncestor(plat::Listing* listing);
void PopAncestor();
// True when the link `name` of `listing` may be followed: its target is
// known, is no directory on the current path, and no link of this walk led
// there before (the target is then remembered). `identity` is the target's.
bool LinkMayBeFollowed(plat::Listing* listing, const wchar_t* name, const std::wstring& path,
                       plat::FileIdentity& identity);

// True when `name` has the form of a work-area name (whether or not it
// is stale): only such names are judged.
bool LooksLikeWorkArea(const wchar_t* name, size_t length);

// A folder `path` that a walk was to enter could not be listed (code
// `code`): counted as unread, unless it went meanwhile or is a link met now.
// The walk's own thread, in the walk's order.
void NoteFailedOpen(ItemScope& scope, const std::wstring& path, uint32_t code);

// True when the entry `name` of `listing` is not there any longer. Only
// "not found" says so: an entry that cannot be looked at is still there.
bool EntryGone(plat::Listing* listing, const wchar_t* name, const std::wstring& path);

// What a subdirectory entry's name, attributes and path say of it, before
// anything is looked up or judged: the one order both walks go by. `judged`:
// its name has the form of a work-area name, judged before all else. Then
// Pass: passed over silently (a placeholder of a folder kept elsewhere, or
// an excluded folder); Link: a link, followed only where the link rules let
// it; Folder: entered unless /XD named it. `path` is the entry's full path,
// or null where it is longer than any exclusion. No call is made.
enum class EntrySort { Pass, Link, Folder };
struct EntryClass {
  bool judged;
  EntrySort sort;
};
EntryClass ClassOf(const wchar_t* name, size_t length, uint32_t attributes, const std::wstring* path);

// What a walk does with a subdirectory entry it reached, in its order.
enum class EntryPlan { Pass, Remove, Enter };
// The rule of every /v walk for the subdirectory entry `name` of `listing`,
// with `attributes`, whose full path is `path`, in the folder the trace
// names `parent`: ClassOf, with its side effects: a work-area name is
// judged (its trace lines printed), a link's target looked up, /XD matched.
// Only the walk's own thread applies it, in the walk's order.
EntryPlan PlanEntry(ItemScope& scope, plat::Listing* listing, const wchar_t* name, uint32_t attributes,
                    const std::wstring& path, std::wstring_view parent);

// What a thread listing ahead of the walk may do with an entry: Plain, a
// folder it may list itself, as PlanEntry would enter it whatever came
// before; ForWalk, one to be judged, or a link (the walk looks at it
// again after the removals before it), for the walk to plan; Pass, what
// PlanEntry passes over silently whenever it comes. `folderPath` is the
// listing's path with its final separator, or null where it is longer
// than any exclusion; `childPath` is scratch.
enum class EntryKind { Pass, Plain, ForWalk };
EntryKind ClassifyEntry(plat::Listing* listing, const plat::DirEntry& entry, const std::wstring* folderPath,
                        std::wstring& childPath);

// The /v walk shared among `workers` threads (volume_walk.cpp calls it for
// more than one). False when the threads could not be had: nothing was
// done then, and the walk is to be made alone.
bool WalkShared(ItemScope& scope, plat::Listing* top, plat::DirEntry& entry, const std::wstring& typed,
                std::wstring& path, uint32_t workers);
