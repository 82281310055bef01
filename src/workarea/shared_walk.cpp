// The /v walk shared among threads, with the output of the one-thread walk.
//
// Worker threads list directories ahead of the walk and remove stale work
// areas; the program's own thread goes through what they listed in the
// one-thread order and decides everything that order decides: it judges
// every work-area name, follows or passes over every link, and prints.
// Workers never judge and never print: a removal's lines are written into a
// place kept for them in the output, so the bytes are those of one thread.
//
// What a worker listed may be older than the one-thread walk would have
// seen, but only the walk's own removals change the tree it walks, and they
// are caught where they could show: a link is followed only once every
// removal handed out before it is done, and a work-area name that is a
// directory already being removed waits for that removal and is passed
// over when it is gone.
#include <algorithm>
#include <atomic>
#include <map>
#include <vector>

#include "common/catalog.h"
#include "common/run_report.h"
#include "common/run_state.h"
#include "workarea/walk_rules.h"
#include "workarea/workarea.h"

namespace {

// Entries a worker records from one listing at a time, and the listed
// pieces the workers may have ready ahead of the walk: together they bound
// the memory and the open directories, whatever the tree.
constexpr size_t kPieceChildren = 128;
constexpr size_t kAheadLimit = 1024;
// A long listing is read on when this few of its entries are left to hand out.
constexpr size_t kReadOnAt = 32;

enum TakeState : uint8_t { NoJob, Queued, Taken };

struct Folder;
struct Piece;

// One subdirectory entry, as a worker recorded it.
struct Child {
  uint32_t nameAt;
  uint32_t nameLength;
  uint32_t attributes;
  TakeState state;   // of `folder`'s first piece; under the jobs gate
  uint64_t listedId;
  Folder* folder;    // a plain subdirectory the workers list; null: the walk decides
};

// A run of entries of one listing.
struct Piece {
  Folder* folder = nullptr;
  bool opens = false;                 // the folder is opened first
  std::vector<Child> children;
  std::wstring names;                 // the children's names, each ended by a NUL
  Piece* next = nullptr;              // the rest of the listing, when there is more
  TakeState nextState = NoJob;        // of `next`; under the jobs gate
  size_t handedOut = 0;               // children looked at by TakeJob; under the jobs gate
  bool inFrontier = false;            // under the jobs gate
  bool walked = false;                // the walk is done with it; under the jobs gate
  std::atomic<bool> ready{false};     // listed: children, names and next are set
};

// A directory to be listed, and once listed open until the walk and every
// removal in it are done with it.
struct Folder {
  plat::Listing* parent = nullptr;    // the listing it is opened from
  std::wstring name;
  uint64_t listedId = 0;
  bool pathKnown = false;             // `path` is kept where exclusions can still match below
  std::wstring path;                  // with its final separator
  plat::Listing* listing = nullptr;
  bool openFailed = false;
  Piece* first = nullptr;
  std::atomic<uint32_t> holders{1};   // the walk, and each removal in it
};

// A stale entry handed to a worker for removal (or, in list mode, measuring).
struct Removal {
  Folder* folder;
  std::wstring name;
  std::wstring path;
  OpenItem* item;
  OutputSegment* output;
  std::atomic<bool> done{false};
};

struct Shared {
  plat::Gate* jobs = nullptr;   // the frontier, the removal queue, `ahead`, `stopping`
  plat::Gate* done = nullptr;   // the walk waits here for a piece or a removal
  std::vector<Piece*> frontier; // pieces whose children may still be listed ahead, newest last
  std::vector<Removal*> removals;
  size_t nextRemoval = 0;
  size_t ahead = 0;             // pieces workers listed that the walk has not reached
  bool stopping = false;
  size_t reach = 0;             // ExclusionReach()
  std::vector<plat::Thread*> threads;
  // The program thread's own: every removal handed out, and those of
  // directories by identity.
  std::vector<Removal*> handed;
  std::map<std::pair<uint64_t, uint64_t>, Removal*> handedDirectories;
};
Shared* Walk = nullptr;

void Signal(std::atomic<bool>& flag) {
  flag.store(true, std::memory_order_release);
  plat::GateEnter(Walk->done);
  plat::GateWakeAll(Walk->done);
  plat::GateLeave(Walk->done);
}

// On the program's thread: waits for `flag`, writing out finished output meanwhile.
void AwaitFlag(const std::atomic<bool>& flag) {
  while (!flag.load(std::memory_order_acquire)) {
    WriteCompletedOutput();
    plat::GateEnter(Walk->done);
    if (!flag.load(std::memory_order_acquire)) plat::GateWait(Walk->done);
    plat::GateLeave(Walk->done);
  }
}

void ReleaseFolder(Folder* folder) {
  if (folder->holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  plat::ListClose(folder->listing);
  delete folder;
}

// Frees a piece once the walk is done with it and no worker can reach it.
// Under the jobs gate.
void DropPieceLocked(Piece* piece) {
  if (piece->walked && !piece->inFrontier) delete piece;
}

Folder* NewFolder(plat::Listing* parent, const wchar_t* name, size_t length, uint64_t listedId,
                  const std::wstring* path) {
  auto* folder = new Folder;
  folder->parent = parent;
  folder->name.assign(name, length);
  folder->listedId = listedId;
  // Below a folder whose path is longer than any exclusion, none can match.
  if (path && path->size() + 1 < Walk->reach) {
    folder->pathKnown = true;
    folder->path = *path;
    if (folder->path.back() != L'\\') folder->path += L'\\';
  }
  folder->first = new Piece;
  folder->first->folder = folder;
  folder->first->opens = true;
  return folder;
}

// Lists one piece of a folder: opens the folder first where the piece says
// so (`entry` then, or with `given` the top's first entry), records its
// subdirectories and makes the jobs for them. Any thread.
void ListPiece(Piece* piece, const plat::DirEntry* given) {
  Folder* folder = piece->folder;
  plat::DirEntry entry;
  bool have;
  if (given) {
    entry = *given;
    have = true;
  } else if (piece->opens) {
    plat::DirEntry self{folder->name.c_str(), folder->name.size(), plat::kAttrDirectory, folder->listedId};
    folder->listing = plat::ListChild(folder->parent, self, folder->path, entry);
    if (!folder->listing) {
      folder->openFailed = true;
    } else if (plat::OnPseudoFileSystem(folder->listing)) {
      plat::ListClose(folder->listing);
      folder->listing = nullptr;
    }
    have = folder->listing != nullptr;
  } else {
    have = plat::ListNext(folder->listing, entry);
  }
  bool more = false;
  std::wstring childPath;
  while (have) {
    const uint32_t bits = entry.attributes;
    if (!IsDotEntry(entry.name) && (bits & plat::kAttrDirectory)) {
      Child child{static_cast<uint32_t>(piece->names.size()), static_cast<uint32_t>(entry.nameLength), bits,
                  NoJob, entry.listedId, nullptr};
      bool keep = true;
      // Work-area names and links are for the walk to decide, in its order.
      if (!LooksLikeWorkArea(entry.name, entry.nameLength) && !(bits & plat::kAttrReparsePoint)) {
        if (folder->pathKnown) {
          childPath = folder->path;
          childPath.append(entry.name, entry.nameLength);
          keep = !IsExcluded(childPath);
        }
        if (keep && AnyChosenExclusion())
          keep = !IsChosenExclusion(folder->listing, entry.name, childPath, false, plat::FileIdentity{});
        if (keep) {
          child.folder = NewFolder(folder->listing, entry.name, entry.nameLength, entry.listedId,
                                   folder->pathKnown ? &childPath : nullptr);
          child.state = Queued;
        }
      }
      if (keep) {
        piece->names.append(entry.name, entry.nameLength);
        piece->names += L'\0';
        piece->children.push_back(child);
        if (piece->children.size() == kPieceChildren) {
          more = true;
          break;
        }
      }
    }
    have = plat::ListNext(folder->listing, entry);
  }
  if (more) {
    piece->next = new Piece;
    piece->next->folder = folder;
    piece->nextState = Queued;
  }
  plat::GateEnter(Walk->jobs);
  const bool jobs = more || std::any_of(piece->children.begin(), piece->children.end(),
                                        [](const Child& child) { return child.folder != nullptr; });
  if (jobs) {
    piece->inFrontier = true;
    Walk->frontier.push_back(piece);
    plat::GateWakeAll(Walk->jobs);
  }
  plat::GateLeave(Walk->jobs);
  Signal(piece->ready);
}

// Under the jobs gate: the next piece to list ahead, nearest the walk's
// path first: the newest piece's children in order, a long listing read on
// before its entries run out.
Piece* TakeJobLocked() {
  while (!Walk->frontier.empty()) {
    Piece* top = Walk->frontier.back();
    if (top->nextState == Queued && top->children.size() - top->handedOut <= kReadOnAt) {
      top->nextState = Taken;
      return top->next;
    }
    while (top->handedOut < top->children.size()) {
      Child& child = top->children[top->handedOut++];
      if (child.state == Queued) {
        child.state = Taken;
        return child.folder->first;
      }
    }
    if (top->nextState == Queued) {
      top->nextState = Taken;
      return top->next;
    }
    Walk->frontier.pop_back();
    top->inFrontier = false;
    DropPieceLocked(top);
  }
  return nullptr;
}

void RunRemoval(Removal* removal) {
  CaptureOutput(removal->output);
  AttachItem(removal->item);
  RemoveStaleEntry(removal->folder->listing, removal->name.c_str(), removal->path);
  CaptureOutput(nullptr);
  CompleteOutput(removal->output);
  ReleaseFolder(removal->folder);
  Signal(removal->done);
}

void Work(void*) {
  plat::GateEnter(Walk->jobs);
  for (;;) {
    if (Walk->nextRemoval < Walk->removals.size()) {
      Removal* removal = Walk->removals[Walk->nextRemoval++];
      plat::GateLeave(Walk->jobs);
      RunRemoval(removal);
      plat::GateEnter(Walk->jobs);
      continue;
    }
    if (Walk->stopping) break;
    Piece* piece = Walk->ahead < kAheadLimit ? TakeJobLocked() : nullptr;
    if (!piece) {
      plat::GateWait(Walk->jobs);
      continue;
    }
    ++Walk->ahead;
    plat::GateLeave(Walk->jobs);
    ListPiece(piece, nullptr);
    plat::GateEnter(Walk->jobs);
  }
  plat::GateLeave(Walk->jobs);
}

// The walk reaches `piece`: lists it itself when no worker has begun, or
// waits for the worker that has.
void Reach(Piece* piece, TakeState& state) {
  plat::GateEnter(Walk->jobs);
  const bool mine = state == Queued;
  if (mine) state = Taken;
  plat::GateLeave(Walk->jobs);
  if (mine) {
    ListPiece(piece, nullptr);
    return;
  }
  AwaitFlag(piece->ready);
  plat::GateEnter(Walk->jobs);
  if (Walk->ahead-- == kAheadLimit) plat::GateWakeAll(Walk->jobs);
  plat::GateLeave(Walk->jobs);
}

void DonePiece(Piece* piece) {
  plat::GateEnter(Walk->jobs);
  piece->walked = true;
  DropPieceLocked(piece);
  plat::GateLeave(Walk->jobs);
}

// Every removal handed out so far is done.
void AwaitRemovals() {
  for (Removal* removal : Walk->handed) AwaitFlag(removal->done);
}

void HandOutRemoval(Folder* folder, const wchar_t* name, const std::wstring& path) {
  auto* removal = new Removal{folder, name, path, DetachItem(), ReserveOutput(), {}};
  folder->holders.fetch_add(1, std::memory_order_relaxed);
  Walk->handed.push_back(removal);
  plat::FileIdentity identity;
  if (DeleteEnabled && plat::IdentityAt(folder->listing, name, path, identity))
    Walk->handedDirectories[{identity.volume, identity.file}] = removal;
  plat::GateEnter(Walk->jobs);
  Walk->removals.push_back(removal);
  plat::GateWakeAll(Walk->jobs);
  plat::GateLeave(Walk->jobs);
}

// True when the work-area entry `name`, listed before, has been taken away
// meanwhile by a removal handed out before (it was reached by another
// path): the one-thread walk would not have met it. One that is being
// removed now is waited for.
bool RemovedMeanwhile(plat::Listing* listing, const wchar_t* name, const std::wstring& path) {
  if (Walk->handed.empty()) return false;
  plat::FileIdentity identity;
  if (plat::IdentityAt(listing, name, path, identity)) {
    auto found = Walk->handedDirectories.find({identity.volume, identity.file});
    if (found == Walk->handedDirectories.end()) return false;
    AwaitFlag(found->second->done);
  }
  return plat::AttributesAt(listing, name, path) == plat::kInvalidAttributes;
}

void WalkFolder(Folder* folder, const plat::DirEntry* given, const std::wstring* typed, size_t parentLength,
                std::wstring& path);

// Goes into the subdirectory `folder` of the walk's path, listed or to be listed.
void EnterFolder(Folder* folder, TakeState& state, size_t childLength, std::wstring& path) {
  Reach(folder->first, state);
  if (folder->openFailed) {
    // A worker's failure is not the walk's: it opens the folder itself, as
    // the one-thread walk does, and only then passes it over.
    folder->openFailed = false;
    delete folder->first;
    folder->first = new Piece;
    folder->first->folder = folder;
    folder->first->opens = true;
    ListPiece(folder->first, nullptr);
  }
  if (folder->listing) {
    if (path.back() != L'\\') path += L'\\';
    WalkFolder(folder, nullptr, nullptr, childLength, path);
  } else {
    DonePiece(folder->first);
  }
  ReleaseFolder(folder);
}

// What the one-thread walk does with a work-area name or a link.
void Decide(Folder* folder, const Child& child, const wchar_t* name, std::wstring_view parent, std::wstring& path) {
  plat::Listing* listing = folder->listing;
  if (LooksLikeWorkArea(name, child.nameLength)) {
    if (DeleteEnabled && RemovedMeanwhile(listing, name, path)) return;
    if (IsStaleWorkArea(name, parent)) {
      if (DeleteEnabled || ItemOpen()) HandOutRemoval(folder, name, path);
      return;
    }
  }
  if (IsExcluded(path)) return;
  plat::FileIdentity identity;
  const bool link = child.attributes & plat::kAttrReparsePoint;
  if (link) {
    // What lies behind a link is seen as the one-thread walk would see it:
    // after every removal before it.
    if (DeleteEnabled) AwaitRemovals();
    if (!LinkMayBeFollowed(listing, name, path, identity)) return;
  }
  if (IsChosenExclusion(listing, name, path, link, identity)) return;
  Folder* sub = NewFolder(listing, name, child.nameLength, child.listedId, folder->pathKnown ? &path : nullptr);
  TakeState state = Queued;
  EnterFolder(sub, state, path.size(), path);
}

void WalkFolder(Folder* folder, const plat::DirEntry* given, const std::wstring* typed, size_t parentLength,
                std::wstring& path) {
  PushAncestor(folder->listing);
  ProgressFolder(path);
  const size_t stem = path.size();
  Piece* piece = folder->first;
  if (given) ListPiece(piece, given);
  while (piece) {
    WriteCompletedOutput();
    for (Child& child : piece->children) {
      const wchar_t* name = piece->names.c_str() + child.nameAt;
      path.resize(stem);
      path.append(name, child.nameLength);
      if (child.folder) {
        EnterFolder(child.folder, child.state, path.size(), path);
      } else {
        const std::wstring_view parent =
            typed ? std::wstring_view(*typed) : std::wstring_view(path).substr(0, parentLength);
        Decide(folder, child, name, parent, path);
      }
    }
    Piece* next = piece->next;
    if (next) Reach(next, piece->nextState);
    DonePiece(piece);
    piece = next;
  }
  path.resize(stem);
  PopAncestor();
}

void StopWorkers() {
  plat::GateEnter(Walk->jobs);
  Walk->stopping = true;
  plat::GateWakeAll(Walk->jobs);
  plat::GateLeave(Walk->jobs);
  for (plat::Thread* thread : Walk->threads) plat::ThreadJoin(thread);
  plat::GateDestroy(Walk->jobs);
  plat::GateDestroy(Walk->done);
}

}  // namespace

bool WalkShared(plat::Listing* top, plat::DirEntry& entry, const std::wstring& typed, std::wstring& path,
                uint32_t workers) {
  Shared shared;
  shared.jobs = plat::GateCreate();
  shared.done = plat::GateCreate();
  shared.reach = ExclusionReach();
  Walk = &shared;
  if (shared.jobs && shared.done) {
    for (uint32_t i = 0; i < workers; ++i) {
      plat::Thread* thread = plat::ThreadStart(Work, nullptr);
      if (!thread) break;
      shared.threads.push_back(thread);
    }
  }
  if (shared.threads.empty()) {
    plat::GateDestroy(shared.jobs);
    plat::GateDestroy(shared.done);
    Walk = nullptr;
    return false;
  }
  // The top is asked once here, before its children are opened side by side.
  plat::OnPseudoFileSystem(top);
  auto* folder = new Folder;
  folder->listing = top;
  folder->pathKnown = path.size() < shared.reach;
  folder->path = path;
  folder->first = new Piece;
  folder->first->folder = folder;
  WalkFolder(folder, &entry, &typed, 0, path);
  AwaitRemovals();
  WriteCompletedOutput();
  StopWorkers();
  folder->listing = nullptr;  // the caller's to close
  ReleaseFolder(folder);
  for (Removal* removal : shared.handed) delete removal;
  Walk = nullptr;
  return true;
}
