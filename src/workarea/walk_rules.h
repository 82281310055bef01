// The rules every /v walk applies to the entries it meets, whichever
// thread lists them: shared by the one-thread walk and the shared walk.
#pragma once

#include <cstddef>
#include <string>

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

// The /v walk shared among `workers` threads (volume_walk.cpp calls it for
// more than one). False when the threads could not be had: nothing was
// done then, and the walk is to be made alone.
bool WalkShared(plat::Listing* top, plat::DirEntry& entry, const std::wstring& typed, std::wstring& path,
                uint32_t workers);
