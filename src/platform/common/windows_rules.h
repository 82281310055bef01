// What the Windows layer decides from what the system told it, kept apart
// from the calls that tell it, so that the decisions can be checked on any
// system. Nothing here calls the system.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace plat::winrules {

// Reparse tags with this bit make the item a name for another one
// (junctions, mount points, symbolic links): only those are links.
inline constexpr uint32_t kNameSurrogate = 0x20000000;

// The attribute bits to report for an item with reparse tag `tag` (0 where
// the system did not tell it): a reparse point of another kind (a cloud
// provider's, a deduplicated file) is no link, and loses the bit. A tag that
// is not known keeps it: what may be a link counts as one.
inline uint32_t LinkBits(uint32_t attributes, uint32_t tag) {
  if ((attributes & kAttrReparsePoint) && tag != 0 && !(tag & kNameSurrogate)) return attributes & ~kAttrReparsePoint;
  return attributes;
}

// A 128-bit file id in the 64 bits DirEntry::listedId holds. NTFS ids have
// an upper half of 0 and stay as they are.
inline uint64_t FoldedId(uint64_t low, uint64_t high) { return low ^ high; }

// Whether the directory opened for a child listed as no link is the one
// listed: on its parent's volume, with the id the listing gave (a listing
// that gave none proves nothing).
inline bool IsListedChild(uint64_t listedId, const FileIdentity& parent, const FileIdentity& opened) {
  return listedId != 0 && opened.volume == parent.volume && FoldedId(opened.file, opened.fileHigh) == listedId;
}

// What a handle's device says of where its files are.
enum class Device { Local, Remote, Unknown };

// Whether a child leads onto another computer's files: only one reached
// through a link can (a plain directory is on its parent's volume), and it
// is judged by its own device alone, never matched to another volume by a
// serial number; one whose device cannot be told counts as remote.
inline bool EntersRemote(bool throughLink, Device child) { return throughLink && child != Device::Local; }

// Opens the folder `below` (components separated by "\") under the open
// folder `base` one component at a time, each relative to the one before,
// never through a link. `ops` opens (`Open(folder, name)`, ops.kFailed and
// the code recorded on failure), checks what it opened (`IsPlainFolder(
// folder, opened, name)`: false, the code recorded, for a reparse point, a
// link followed all the same, or anything it cannot tell) and closes
// (`Close`). Takes over `base`: returns the last folder opened, or
// ops.kFailed with every handle closed.
template <typename Ops, typename Handle>
Handle OpenNoLinksBelow(Ops& ops, Handle base, const std::wstring& below) {
  Handle folder = base;
  for (size_t start = 0; start <= below.size();) {
    size_t end = below.find(L'\\', start);
    if (end == std::wstring::npos) end = below.size();
    const std::wstring name = below.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    Handle next = ops.Open(folder, name);
    const bool plain = next != ops.kFailed && ops.IsPlainFolder(folder, next, name);
    ops.Close(folder);
    if (!plain) {
      if (next != ops.kFailed) ops.Close(next);
      return ops.kFailed;
    }
    folder = next;
  }
  return folder;
}

}  // namespace plat::winrules
