// The shared walk's listing store: folders, their pieces and entries, who
// holds them, and the weight of what was listed ahead of the walk.
#include <vector>

#include "common/run_state.h"
#include "workarea/shared_walk.h"
#include "workarea/walk_rules.h"

namespace sharedwalk {

namespace {

// What a piece of `count` entries counts ahead of the walk: its open
// directory, and its entries, four to a unit. At the limit that is about
// 8,000 entries of a long listing, some 1 MiB, or 2,048 small folders.
size_t Weight(size_t count) { return 1 + count / 4; }

}  // namespace

Folder::~Folder() {
  for (Piece* piece = first.next; piece;) {
    Piece* next = piece->next;
    delete piece;
    piece = next;
  }
}

// acq_rel: the last holder sees every other holder's use of the folder.
void FolderHold::Reset() {
  if (!folder_) return;
  Folder* folder = folder_;
  folder_ = nullptr;
  if (folder->holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  plat::ListClose(folder->listing);
  delete folder;
}

// acq_rel: the second sees the first's last use of the entries.
void ListingStore::LetGo(Piece* piece, uint8_t bit) {
  if (piece->letGo.fetch_or(bit, std::memory_order_acq_rel) == (kWalkPassed | kWorkerThrough) - bit) {
    piece->entries.reset();
    std::wstring().swap(piece->names);  // a move from a short string would keep the buffer
  }
}

FolderHold ListingStore::Top(plat::Listing* top, const plat::DirEntry& entry, const std::wstring& path) {
  assert(OnWalkThread);
  auto* folder = new Folder;
  folder->listing = top;
  folder->first.folder = folder;
  folder->pathKnown = path.size() < reach_;
  folder->path = path;
  plat::DirEntry first = entry;
  Record(folder, &folder->first, first, true);
  Count(&folder->first, false);
  return FolderHold::Adopt(folder);
}

uint8_t ListingStore::Open(const Folder* parent, const Entry& entry, const wchar_t* name, uint32_t attributes,
                           bool ahead, FolderHold& made, uint32_t& failure) {
  made = FolderHold();
  failure = 0;
  const plat::DirEntry self{name, entry.nameLength, attributes, entry.listedId};
  plat::DirEntry first;
  plat::Listing* listing = plat::ListChild(parent->listing, self, parent->path, first);
  if (!listing) {
    failure = plat::LastErrorCode();
    return plat::IsShortage(failure) ? Returned : Failed;
  }
  // Passed over as the one-thread walk does: a pseudo file system, or a
  // network one met inside the walk (its items may be other computers').
  if (plat::OnPseudoFileSystem(listing) || plat::EntersRemoteVolume(listing)) {
    plat::ListClose(listing);
    return Failed;
  }
  auto* folder = new Folder;
  folder->listing = listing;
  folder->first.folder = folder;
  // Below a folder whose path is longer than any exclusion, none can match.
  if (parent->pathKnown && parent->path.size() + entry.nameLength + 1 < reach_) {
    folder->pathKnown = true;
    folder->path.assign(parent->path).append(name, entry.nameLength) += ItemSeparator;
  }
  Record(folder, &folder->first, first, true);
  made = FolderHold::Adopt(folder);
  // Nothing in it to enter or decide, nothing ahead: closed at once.
  if (folder->first.count == 0 && !folder->first.next) {
    made.Reset();
    return Empty;
  }
  Count(&folder->first, ahead);
  return Listed;
}

// Records the subdirectory entries of `folder`'s listing into `piece`, from
// `entry` on when `have`, up to kPieceEntries, and what a worker may do
// with each; a longer listing gets its next piece, to be read later.
void ListingStore::Record(Folder* folder, Piece* piece, plat::DirEntry& entry, bool have) {
  struct Recorded {
    uint32_t nameAt, nameLength, attributes;
    uint64_t listedId;
    bool plain;
  };
  // Scratch, reused by each thread across listings.
  thread_local std::vector<Recorded> recorded;
  thread_local std::wstring childPath;
  recorded.clear();
  bool more = false, jobs = false;
  while (have) {
    const EntryKind kind =
        ClassifyEntry(folder->listing, entry, folder->pathKnown ? &folder->path : nullptr, childPath);
    if (kind != EntryKind::Pass) {
      recorded.push_back({static_cast<uint32_t>(piece->names.size()), static_cast<uint32_t>(entry.nameLength),
                          entry.attributes, entry.listedId, kind == EntryKind::Plain});
      jobs = jobs || kind == EntryKind::Plain;
      piece->names.append(entry.name, entry.nameLength);
      piece->names += L'\0';
      if (recorded.size() == kPieceEntries) {
        more = true;
        break;
      }
    }
    have = plat::ListNext(folder->listing, entry);
  }
  piece->count = recorded.size();
  if (!recorded.empty()) {
    piece->entries.reset(new Entry[recorded.size()]);
    for (size_t i = 0; i < recorded.size(); ++i) {
      Entry& made = piece->entries[i];
      made.nameAt = recorded[i].nameAt;
      made.nameLength = recorded[i].nameLength;
      made.attributes = recorded[i].attributes;
      made.listedId = recorded[i].listedId;
      made.plain = recorded[i].plain;
    }
  }
  if (more) {
    piece->next = new Piece;
    piece->next->folder = folder;
  }
  piece->hasJobs = jobs || more;
}

// `piece`, read by a worker when `ahead`, counts ahead of the walk from
// now on: called before it is published, so that the walk, which takes its
// weight off once it has seen it, never takes off more than was added.
void ListingStore::Count(Piece* piece, bool ahead) {
  piece->byWalk = !ahead;
  if (!ahead) return;
  piece->weight = Weight(piece->count);
  ahead_.fetch_add(piece->weight, std::memory_order_relaxed);
}

void ListingStore::ReadOn(Folder* folder, Piece* before, bool ahead) {
  plat::DirEntry entry;
  const bool have = plat::ListNext(folder->listing, entry);
  Record(folder, before->next, entry, have);
  Count(before->next, ahead);
  before->nextState.store(Listed, std::memory_order_seq_cst);
}

bool ListingStore::Reached(Piece* piece) {
  assert(OnWalkThread);
  if (piece->byWalk) return false;
  const size_t before = ahead_.fetch_sub(piece->weight, std::memory_order_relaxed);
  return before >= aheadLimit_ && before - piece->weight < aheadLimit_;
}

void ListingStore::Evict(FolderHold folder) {
  assert(OnWalkThread);
  for (Piece* piece = &folder->first; piece;) {
    for (Entry& entry : piece->Entries()) {
      if (entry.plain && entry.state.load(std::memory_order_acquire) == Listed) Evict(FolderHold::Adopt(entry.folder));
    }
    piece = piece->nextState.load(std::memory_order_acquire) == Listed ? piece->next : nullptr;
  }
  assert(folder->holders.load() == 1);
}

}  // namespace sharedwalk
