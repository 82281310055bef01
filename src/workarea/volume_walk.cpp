// The /v walk: every directory below a volume or path, depth first, past
// the excluded folders, never into a pseudo file system, onto another
// computer's files or into a folder kept elsewhere, and through a link
// into a directory at most once.
#include <algorithm>
#include <cwchar>
#include <set>
#include <tuple>
#include <vector>

#include "common/catalog.h"
#include "common/report_lines.h"
#include "common/run_report.h"
#include "common/run_state.h"
#include "workarea/walk_rules.h"
#include "workarea/workarea.h"

ExcludedFolder ExcludedFolderTable[3] = {
    {ExcludeKnownFolder, plat::KnownFolder::Windows, std::wstring(), nullptr, 0},
    {ExcludeDriveRootSuffix, plat::KnownFolder::Windows, std::wstring(), L":\\$recycle.bin", 14},
    {ExcludeEnd, plat::KnownFolder::Windows, std::wstring(), nullptr, 0},
};

namespace {

// The directories on the current path of the walk, outermost first. Their
// identities are only looked up once a link is met below them.
struct Ancestor {
  plat::Listing* listing;
  bool identityKnown;
  plat::FileIdentity identity;
};
std::vector<Ancestor> Ancestors;

// The directories this walk has entered through a link: a second link to
// one of them is passed over, so that no graph of links multiplies the walk.
using IdentityKey = std::tuple<uint64_t, uint64_t, uint64_t>;
std::set<IdentityKey> LinkTargets;

// The folders /XD named, as found when the run started.
std::set<IdentityKey> ChosenExclusions;

// Removals this walk made on the program's thread. After one, an entry of a
// listing read before it may be gone: the same folder reached a second way,
// deeper, had the item removed there.
uint64_t RemovalsMade = 0;

// True when the work-area entry `name` is no longer there: a removal this
// walk made took it. Only "not found" says so.
bool GoneMeanwhile(plat::Listing* listing, const plat::DirEntry& entry, const std::wstring& path) {
  if (!DeleteEnabled || RemovalsMade == 0 || (entry.attributes & plat::kAttrReparsePoint) ||
      !LooksLikeWorkArea(entry.name, entry.nameLength))
    return false;
  return EntryGone(listing, entry.name, path);
}

IdentityKey KeyOf(const plat::FileIdentity& identity) { return {identity.volume, identity.file, identity.fileHigh}; }

// E, E: and E:\ all become E:\; any other path gains a final separator.
std::wstring NormalisedPath(const std::wstring& path) {
  if (ItemSeparator == L'/') return EntryStem(path);
  std::wstring normalised = path;
  if (normalised.size() == 1) normalised += L':';
  if (normalised.back() != L'\\') normalised += L'\\';
  return normalised;
}

bool MatchesRootSuffix(const std::wstring& child, const wchar_t* suffix, size_t length) {
  return child.size() == length + 1 && plat::CompareNoCase(child.c_str() + 1, suffix, length) == 0;
}

// True when a link leading to `target` leads back to a directory on the
// current path. An unknown identity counts as a cycle, so that a walk can
// never run away round a loop it cannot see.
bool LeadsToAncestor(const plat::FileIdentity& target) {
  for (Ancestor& ancestor : Ancestors) {
    if (!ancestor.identityKnown) {
      ancestor.identityKnown = plat::ListingIdentity(ancestor.listing, ancestor.identity);
      if (!ancestor.identityKnown) return true;
    }
    if (KeyOf(ancestor.identity) == KeyOf(target)) return true;
  }
  return false;
}

// Walks the open listing of one directory. `path` holds the directory's
// normalised path and is extended for each entry and put back, so that one
// buffer serves the whole depth. The trace names the directory as `typed`
// at the top, and below as the first `parentLength` characters of `path`.
void WalkListing(ItemScope& scope, plat::Listing* listing, plat::DirEntry& entry, const std::wstring* typed,
                 size_t parentLength, std::wstring& path) {
  PushAncestor(listing);
  ProgressFolder(path);
  const size_t stem = path.size();
  do {
    const wchar_t* name = entry.name;
    if (StopRequested()) break;
    if (IsDotEntry(name) || !(entry.attributes & plat::kAttrDirectory)) continue;
    path.resize(stem);
    path.append(name, entry.nameLength);
    const std::wstring_view parent =
        typed ? std::wstring_view(*typed) : std::wstring_view(path).substr(0, parentLength);
    // A work area listed before and removed meanwhile is passed over, as
    // the shared walk passes it over: it was told where it was removed.
    if (GoneMeanwhile(listing, entry, path)) continue;
    const EntryPlan plan = PlanEntry(scope, listing, name, entry.attributes, path, parent);
    if (plan == EntryPlan::Remove) {
      RemoveStaleEntry(scope, listing, name, path);
      ++RemovalsMade;
    }
    if (plan != EntryPlan::Enter) continue;
    // Depth first, before the next entry of this level. A subdirectory that
    // cannot be listed, lies on a pseudo file system, or leads onto a
    // network file system (its items may be other computers') is passed
    // over silently; one that could not be listed is counted.
    plat::DirEntry first;
    plat::Listing* sub = plat::ListChild(listing, entry, path, first);
    if (!sub) NoteFailedOpen(scope, path, plat::LastErrorCode());
    if (sub) {
      if (!plat::OnPseudoFileSystem(sub) && !plat::EntersRemoteVolume(sub)) {
        const size_t childLength = path.size();
        AppendSeparator(path);
        WalkListing(scope, sub, first, nullptr, childLength, path);
      }
      plat::ListClose(sub);
    }
  } while (plat::ListNext(listing, entry));
  path.resize(stem);
  PopAncestor();
}

}  // namespace

bool EntryGone(plat::Listing* listing, const wchar_t* name, const std::wstring& path) {
  return plat::AttributesAt(listing, name, path) == plat::kInvalidAttributes && plat::IsNotFound(plat::LastErrorCode());
}

void NoteFailedOpen(ItemScope& scope, const std::wstring& path, uint32_t code) {
  // Gone meanwhile, or found to be a link only now: nothing there was left unread.
  if (code != 0 && !plat::IsNotFound(code) && code != plat::kErrorLinkRefused) NoteUnreadFolder(scope, path, code);
}

EntryClass ClassOf(const wchar_t* name, size_t length, uint32_t attributes, const std::wstring* path) {
  EntryClass entryClass{LooksLikeWorkArea(name, length), EntrySort::Folder};
  // A placeholder of a folder kept elsewhere, or an offline one: listing
  // it would fetch it.
  if ((attributes & plat::kAttrKeptElsewhere) || (path && IsExcluded(*path)))
    entryClass.sort = EntrySort::Pass;
  else if (attributes & plat::kAttrReparsePoint)
    entryClass.sort = EntrySort::Link;
  return entryClass;
}

EntryPlan PlanEntry(ItemScope& scope, plat::Listing* listing, const wchar_t* name, uint32_t attributes,
                    const std::wstring& path, std::wstring_view parent) {
  const EntryClass entryClass = ClassOf(name, std::wcslen(name), attributes, &path);
  if (entryClass.judged && IsStaleWorkAreaAt(scope, listing, name, path, parent))
    return DeleteEnabled || ItemOpen(scope) ? EntryPlan::Remove : EntryPlan::Pass;
  // Identities are only looked up for links, and for every directory
  // where /XD named folders: a walk without either costs nothing more.
  plat::FileIdentity identity;
  switch (entryClass.sort) {
    case EntrySort::Pass:
      return EntryPlan::Pass;
    case EntrySort::Link:
      if (!LinkMayBeFollowed(listing, name, path, identity)) return EntryPlan::Pass;
      return IsChosenExclusion(listing, name, path, true, identity) ? EntryPlan::Pass : EntryPlan::Enter;
    case EntrySort::Folder:
      break;
  }
  return IsChosenExclusion(listing, name, path, false, identity) ? EntryPlan::Pass : EntryPlan::Enter;
}

EntryKind ClassifyEntry(plat::Listing* listing, const plat::DirEntry& entry, const std::wstring* folderPath,
                        std::wstring& childPath) {
  if (IsDotEntry(entry.name) || !(entry.attributes & plat::kAttrDirectory)) return EntryKind::Pass;
  if (folderPath) childPath.assign(*folderPath).append(entry.name, entry.nameLength);
  const EntryClass entryClass =
      ClassOf(entry.name, entry.nameLength, entry.attributes, folderPath ? &childPath : nullptr);
  if (entryClass.judged || (entry.attributes & plat::kAttrReparsePoint)) return EntryKind::ForWalk;
  if (entryClass.sort == EntrySort::Pass) return EntryKind::Pass;
  if (AnyChosenExclusion() && IsChosenExclusion(listing, entry.name, childPath, false, plat::FileIdentity{}))
    return EntryKind::Pass;
  return EntryKind::Plain;
}

namespace {

bool IsExcludedWindowsForm(const std::wstring& child) {
  for (const ExcludedFolder& folder : ExcludedFolderTable) {
    if (folder.kind == ExcludeEnd) break;
    if (folder.kind == ExcludeKnownFolder) {
      if (child.size() == folder.length &&
          plat::CompareNoCase(child.c_str(), folder.resolvedPath.c_str(), folder.length) == 0)
        return true;
    } else if (MatchesRootSuffix(child, folder.suffix, folder.length)) {
      return true;
    }
  }
  for (const wchar_t* const* suffix = plat::PlatformRootExclusions(); *suffix; ++suffix)
    if (MatchesRootSuffix(child, *suffix, std::wcslen(*suffix))) return true;
  return false;
}

}  // namespace

bool IsExcluded(const std::wstring& child) {
  if (ItemSeparator != L'/') return IsExcludedWindowsForm(child);
  // A native path names from the root "/" what the exclusions name from a
  // drive: "/proc" is matched as "C:\proc". Only paths short enough to be
  // one of them are converted.
  if (child.empty() || child[0] != L'/' || child.size() + 2 > ExclusionReach()) return false;
  std::wstring windowsForm = L"C:" + child;
  std::replace(windowsForm.begin(), windowsForm.end(), L'/', L'\\');
  return IsExcludedWindowsForm(windowsForm);
}

size_t ExclusionReach() {
  size_t reach = 0;
  for (const ExcludedFolder& folder : ExcludedFolderTable) {
    if (folder.kind == ExcludeEnd) break;
    reach = std::max<size_t>(reach, folder.kind == ExcludeKnownFolder ? folder.length : folder.length + 1);
  }
  for (const wchar_t* const* suffix = plat::PlatformRootExclusions(); *suffix; ++suffix)
    reach = std::max(reach, std::wcslen(*suffix) + 1);
  return reach;
}

bool AnyChosenExclusion() { return !ChosenExclusions.empty(); }

bool IsChosenExclusion(plat::Listing* listing, const wchar_t* name, const std::wstring& path, bool known,
                       const plat::FileIdentity& identity) {
  if (ChosenExclusions.empty()) return false;
  plat::FileIdentity found = identity;
  if (!known && !plat::IdentityAt(listing, name, path, found)) return false;
  return ChosenExclusions.count(KeyOf(found)) != 0;
}

void PushAncestor(plat::Listing* listing) { Ancestors.push_back({listing, false, {}}); }
void PopAncestor() { Ancestors.pop_back(); }

bool LinkMayBeFollowed(plat::Listing* listing, const wchar_t* name, const std::wstring& path,
                       plat::FileIdentity& identity) {
  // A link whose target cannot be known is passed over like a cycle.
  if (!plat::IdentityAt(listing, name, path, identity) || LeadsToAncestor(identity)) return false;
  return LinkTargets.insert(KeyOf(identity)).second;
}

uint32_t WalkVolume(const std::wstring& path) {
  // An empty argument names no volume; it must not become a walk of a drive.
  if (path.empty()) return plat::kErrorPathNotFound;
  const std::wstring base = NormalisedPath(path);
  plat::DirEntry entry;
  plat::Listing* listing = plat::ListFirst(base + L'*', entry);
  if (!listing) return plat::LastErrorCode();
  std::wstring buffer = base;
  LinkTargets.clear();
  RemovalsMade = 0;
  // As many threads as processors, up to 8, unless /MT said otherwise.
  const uint32_t threads = WalkThreads ? WalkThreads : std::min<uint32_t>(plat::ProcessorCount(), 8);
  if (threads <= 1 || !WalkShared(ProgramScope(), listing, entry, path, buffer, threads))
    WalkListing(ProgramScope(), listing, entry, &path, 0, buffer);
  LinkTargets.clear();
  plat::ListClose(listing);
  return 0;
}

std::vector<const wchar_t*> ChosenExclusionPaths;

void ResolveChosenExclusions() {
  ChosenExclusions.clear();
  for (const wchar_t* typed : ChosenExclusionPaths) {
    plat::FileIdentity identity;
    if (plat::PathIdentity(typed, identity))
      ChosenExclusions.insert(KeyOf(identity));
    else
      ReportError(ProgramScope(), plat::LastErrorCode(), typed);
  }
}

void ClearChosenExclusions() {
  ChosenExclusionPaths.clear();
  ChosenExclusions.clear();
}

uint32_t RunVolumeTarget(const wchar_t* argument) {
  for (ExcludedFolder& folder : ExcludedFolderTable) {
    if (folder.kind == ExcludeEnd) break;
    if (folder.kind != ExcludeKnownFolder) continue;
    if (uint32_t code = plat::KnownFolderPath(folder.folderId, folder.resolvedPath)) {
      ReportError(ProgramScope(), code, nullptr);
      return code;
    }
    folder.length = static_cast<uint32_t>(folder.resolvedPath.size());
  }

  const uint32_t status = WalkVolume(argument);
  if (status != 0) ReportError(ProgramScope(), status, argument);

  for (ExcludedFolder& folder : ExcludedFolderTable) {
    if (folder.kind == ExcludeEnd) break;
    if (folder.kind != ExcludeKnownFolder) continue;
    folder.resolvedPath = std::wstring();
    folder.length = 0;
  }
  return status;
}
