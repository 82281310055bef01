// The /v walk shared among threads, with the output of the one-thread walk.
//
// Worker threads list directories ahead of the walk and remove stale work
// areas; the program's own thread goes through what they listed in the
// one-thread order and decides everything that order decides: it judges
// every work-area name, follows or passes over every link, and prints.
// Each worker lists a subtree depth first, the walk's order, and a worker
// out of work takes the largest part another thread has not begun.
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
#include <memory>
#include <vector>

#include "common/catalog.h"
#include "common/run_report.h"
#include "common/run_state.h"
#include "workarea/walk_rules.h"
#include "workarea/workarea.h"

namespace {

// Entries a worker records from one listing at a time, and the weight of
// the pieces listed ahead of the walk at most (see Weight): together they
// bound the memory and the open directories, whatever the tree. Where the
// system allows fewer open listings, a quarter of them may be ahead and a
// quarter wait in tasks, so that the walk and the removals under way have
// the rest.
constexpr size_t kPieceChildren = 128;
constexpr size_t kAheadLimit = 2048;
constexpr size_t kAheadLeast = 16;
// Pieces a worker lists between looks whether the walk waits for it.
constexpr size_t kWakeEvery = 128;
// A long listing is read on when this few of its entries are left to hand out.
constexpr size_t kReadOnAt = 32;
// Listings the walk is done with are closed by the workers, this many at a
// time, and tasks wait for a worker this many at most.
constexpr size_t kCloseBatch = 64;
constexpr size_t kQueueLimit = 256;

enum TakeState : uint8_t { NoJob, Queued, Taken };
// Who comes first to a child a worker took: the walk, or the worker that
// found it an empty directory and let it go, so that no record of it waits.
enum MeetState : uint8_t { Unmet, WalkCame, LetGo };

struct Folder;
struct Piece;

// One subdirectory entry, as a worker recorded it.
struct Child {
  uint32_t nameAt;
  uint32_t nameLength;
  uint32_t attributes;
  bool plain;                           // the workers may list it; otherwise the walk decides
  uint64_t listedId;
  std::atomic<Folder*> folder{nullptr}; // made by the thread that takes it
  std::atomic<uint8_t> meet{Unmet};
};

// A run of entries of one listing. A folder's first piece is part of it.
struct Piece {
  Folder* folder = nullptr;
  bool first = false;                 // the folder's first piece, part of it
  bool opens = false;                 // the folder is opened first
  std::unique_ptr<Child[]> children;
  size_t childCount = 0;
  std::wstring names;                 // the children's names, each ended by a NUL
  Piece* next = nullptr;              // the rest of the listing, when there is more
  std::atomic<uint8_t> nextState{NoJob};
  size_t handedOut = 0;               // children looked at by TakeJobLocked; under the jobs gate
  std::atomic<uint32_t> holders{1};   // the walk, and the worker going through its children
  std::atomic<bool> ready{false};     // listed: children, names and next are set
  bool hasJobs = false;               // a plain child or a rest to list
  bool byWalk = false;                // listed by the walk's own thread
};

// A directory to be listed, and once listed open until the walk and every
// removal in it are done with it.
struct Folder {
  plat::Listing* parent = nullptr;    // the listing it is opened from
  Child* child = nullptr;             // its entry there, when a worker took it
  const wchar_t* name = nullptr;      // in its parent's piece, which outlives its opening
  size_t nameLength = 0;
  uint64_t listedId = 0;
  bool pathKnown = false;             // `path` is kept where exclusions can still match below
  std::wstring path;                  // with its final separator
  plat::Listing* listing = nullptr;   // null once listed when nothing in it is left to decide
  bool listed = false;                // opened and read
  bool openFailed = false;
  Piece first;
  std::atomic<uint32_t> holders{2};   // the walk, its first piece, and each removal in it
};

// Work for any worker besides listing: a stale entry to remove (or, in
// list mode, to measure), or listings to close.
struct Task {
  Folder* folder = nullptr;
  std::wstring name;
  std::wstring path;
  OpenItem* item = nullptr;
  OutputSegment* output = nullptr;
  std::vector<plat::Listing*> closing;
  std::vector<Folder*> finished;
  std::atomic<bool> done{false};
};

// The pieces a thread is going through, outermost first, whose children
// other threads may take: a thread takes the outermost first, the largest
// part of the tree, so that each thread keeps to a subtree of its own.
struct Stack {
  std::vector<Piece*> pieces;
  size_t exhausted = 0;  // pieces[0, exhausted) have nothing left to take
};

struct Shared {
  plat::Gate* jobs = nullptr;   // the stacks, the task queue, `sleepers`, `stopping`
  plat::Gate* done = nullptr;   // the walk sleeps here for a piece or a removal
  std::vector<Stack> stacks;    // one for each worker, and the walk's last
  std::vector<Task*> tasks;
  size_t nextTask = 0;
  size_t sleepers = 0;
  std::atomic<bool> stopping{false};
  bool stopped = false;         // the workers are gone: the walk's thread frees all
  std::atomic<size_t> ahead{0}; // the weight of the pieces workers listed that the walk has not reached
  size_t aheadLimit = kAheadLimit;
  size_t closeBatch = kCloseBatch;
  size_t queueLimit = kQueueLimit;  // tasks waiting at most, each holding a listing or a batch
  std::atomic<bool> walkWaits{false};
  std::atomic<bool> tasksWaiting{false};  // tasks queued and not begun, for workers between pieces
  size_t reach = 0;             // ExclusionReach()
  std::vector<plat::Thread*> threads;
  // The program thread's own: every removal handed out, those of
  // directories by identity, and the listings it is done with.
  std::vector<Task*> handed;
  std::map<std::pair<uint64_t, uint64_t>, Task*> handedDirectories;
  std::vector<plat::Listing*> closing;
  std::vector<Folder*> finished;
};
Shared* Walk = nullptr;

// Wakes the walk if it sleeps; workers call it every kWakeEvery pieces,
// after each task, and before they wait, not after each piece or job, so
// that a walk that has caught up sleeps once for many pieces.
void WakeWalk() {
  if (!Walk->walkWaits.load()) return;
  plat::GateEnter(Walk->done);
  plat::GateWakeAll(Walk->done);
  plat::GateLeave(Walk->done);
}

// On the program's thread: waits for `flag`, writing out finished output meanwhile.
void AwaitFlag(const std::atomic<bool>& flag) {
  while (!flag.load()) {
    WriteCompletedOutput();
    plat::GateEnter(Walk->done);
    Walk->walkWaits.store(true);
    if (!flag.load()) plat::GateWait(Walk->done);
    Walk->walkWaits.store(false);
    plat::GateLeave(Walk->done);
  }
}

// Under the jobs gate: hands `task` to the workers.
void QueueTaskLocked(Task* task) {
  Walk->tasks.push_back(task);
  Walk->tasksWaiting.store(true, std::memory_order_relaxed);
  if (Walk->sleepers) plat::GateWakeAll(Walk->jobs);
}

void RunTask(Task* task);

// On the program's thread: hands `task` to the workers, or runs it now
// while they are behind, so that the tasks waiting, and the listings they
// hold open, stay few.
void QueueOrRunTask(Task* task) {
  plat::GateEnter(Walk->jobs);
  const bool behind = Walk->tasks.size() - Walk->nextTask >= Walk->queueLimit;
  if (!behind) QueueTaskLocked(task);
  plat::GateLeave(Walk->jobs);
  if (behind) RunTask(task);
}

// Drops one holder of `folder`; the last closes its listing and frees it:
// on a worker at once, on the program's thread in batches handed to the
// workers, which made them.
void ReleaseFolder(Folder* folder, bool onWalk) {
  if (folder->holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  if (!onWalk || Walk->stopped) {
    plat::ListClose(folder->listing);
    delete folder;
    return;
  }
  if (folder->listing) Walk->closing.push_back(folder->listing);
  Walk->finished.push_back(folder);
  if (Walk->finished.size() >= Walk->closeBatch) {
    auto* task = new Task;
    task->closing.swap(Walk->closing);
    task->finished.swap(Walk->finished);
    QueueOrRunTask(task);
  }
}

// The first piece of `folder` is released: it is part of the folder.
void ReleaseFirstPiece(Folder* folder, bool onWalk) {
  if (folder->first.holders.fetch_sub(1, std::memory_order_acq_rel) == 1) ReleaseFolder(folder, onWalk);
}

void ReleasePiece(Piece* piece, bool onWalk) {
  if (piece->holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  if (piece->first)
    ReleaseFolder(piece->folder, onWalk);
  else
    delete piece;
}

// What a listed piece counts for ahead of the walk: its records, and its
// entries, so that the entries of one long listing are bounded too.
size_t Weight(const Piece* piece) { return 1 + piece->childCount / 16; }

Folder* NewFolder(plat::Listing* parent, const wchar_t* name, size_t length, uint64_t listedId,
                  const std::wstring* path) {
  auto* folder = new Folder;
  folder->parent = parent;
  folder->name = name;
  folder->nameLength = length;
  folder->listedId = listedId;
  // Below a folder whose path is longer than any exclusion, none can match.
  if (path && path->size() + 1 < Walk->reach) {
    folder->pathKnown = true;
    folder->path = *path;
    if (folder->path.back() != L'\\') folder->path += L'\\';
  }
  folder->first.folder = folder;
  folder->first.first = true;
  folder->first.opens = true;
  return folder;
}

bool Take(std::atomic<uint8_t>& state) {
  uint8_t queued = Queued;
  return state.compare_exchange_strong(queued, Taken);
}

// The plain subdirectory `child` of `piece` for the calling thread to
// list, made now; null when another thread has taken it.
Folder* TakeChild(Piece* piece, Child& child) {
  if (child.folder.load(std::memory_order_acquire)) return nullptr;
  const Folder* parent = piece->folder;
  const wchar_t* name = piece->names.c_str() + child.nameAt;
  std::wstring childPath;
  if (parent->pathKnown) childPath.assign(parent->path).append(name, child.nameLength);
  Folder* made = NewFolder(parent->listing, name, child.nameLength, child.listedId,
                           parent->pathKnown ? &childPath : nullptr);
  made->child = &child;
  Folder* none = nullptr;
  if (child.folder.compare_exchange_strong(none, made)) return made;
  delete made;
  return nullptr;
}

// What a worker records of one entry, before the piece's children are made.
struct Recorded {
  uint32_t nameAt, nameLength, attributes;
  uint64_t listedId;
  bool plain;
};

// Lists one piece of a folder: opens the folder first where the piece says
// so (with `given`, the top's first entry is the piece's first), records
// its subdirectories and makes the jobs for them. Any thread.
void ListPiece(Piece* piece, const plat::DirEntry* given) {
  Folder* folder = piece->folder;
  plat::DirEntry entry;
  bool have;
  if (given) {
    entry = *given;
    have = true;
  } else if (piece->opens) {
    plat::DirEntry self{folder->name, folder->nameLength, plat::kAttrDirectory, folder->listedId};
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
  thread_local std::vector<Recorded> recorded;
  recorded.clear();
  bool more = false, jobs = false;
  std::wstring childPath;
  while (have) {
    const uint32_t bits = entry.attributes;
    if (!IsDotEntry(entry.name) && (bits & plat::kAttrDirectory)) {
      Recorded child{static_cast<uint32_t>(piece->names.size()), static_cast<uint32_t>(entry.nameLength), bits,
                     entry.listedId, false};
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
        child.plain = keep;
        jobs = jobs || keep;
      }
      if (keep) {
        piece->names.append(entry.name, entry.nameLength);
        piece->names += L'\0';
        recorded.push_back(child);
        if (recorded.size() == kPieceChildren) {
          more = true;
          break;
        }
      }
    }
    have = plat::ListNext(folder->listing, entry);
  }
  piece->childCount = recorded.size();
  if (!recorded.empty()) {
    piece->children.reset(new Child[recorded.size()]);
    for (size_t i = 0; i < recorded.size(); ++i) {
      Child& child = piece->children[i];
      child.nameAt = recorded[i].nameAt;
      child.nameLength = recorded[i].nameLength;
      child.attributes = recorded[i].attributes;
      child.listedId = recorded[i].listedId;
      child.plain = recorded[i].plain;
    }
  }
  if (piece->opens && folder->listing) {
    folder->listed = true;
    // A folder with no subdirectory to go into needs no descriptor any more.
    if (!more && recorded.empty()) {
      plat::ListClose(folder->listing);
      folder->listing = nullptr;
    }
  }
  if (more) {
    piece->next = new Piece;
    piece->next->folder = folder;
    piece->nextState.store(Queued, std::memory_order_relaxed);
  }
  piece->hasJobs = jobs || more;
  piece->ready.store(true);
}

// Offers the children of `piece`, which the calling thread goes through
// now, to the other threads; until WithdrawPiece.
void OfferPiece(Stack& stack, Piece* piece) {
  plat::GateEnter(Walk->jobs);
  stack.pieces.push_back(piece);
  if (Walk->sleepers) plat::GateWakeAll(Walk->jobs);
  plat::GateLeave(Walk->jobs);
}

void WithdrawPiece(Stack& stack) {
  plat::GateEnter(Walk->jobs);
  stack.pieces.pop_back();
  stack.exhausted = std::min(stack.exhausted, stack.pieces.size());
  plat::GateLeave(Walk->jobs);
}

// Under the jobs gate: runs the next task, if any, with the gate left
// meanwhile. False when there was none.
bool RunTaskLocked() {
  if (Walk->nextTask == Walk->tasks.size()) return false;
  Task* task = Walk->tasks[Walk->nextTask++];
  if (Walk->nextTask == Walk->tasks.size()) Walk->tasksWaiting.store(false, std::memory_order_relaxed);
  plat::GateLeave(Walk->jobs);
  RunTask(task);
  WakeWalk();
  plat::GateEnter(Walk->jobs);
  return true;
}

// Lets the walk catch up once this many pieces wait for it, doing the
// other work meanwhile: the walk may wait for a removal.
void AwaitWalk() {
  if (Walk->ahead.load(std::memory_order_relaxed) < Walk->aheadLimit) return;
  WakeWalk();
  plat::GateEnter(Walk->jobs);
  while (Walk->ahead.load() >= Walk->aheadLimit && !Walk->stopping.load()) {
    if (RunTaskLocked()) continue;
    ++Walk->sleepers;
    plat::GateWait(Walk->jobs);
    --Walk->sleepers;
  }
  plat::GateLeave(Walk->jobs);
}

// Runs the tasks handed out meanwhile: a removal must not wait until a
// worker is through with its subtree.
void RunQueuedTasks() {
  plat::GateEnter(Walk->jobs);
  while (RunTaskLocked()) {
  }
  plat::GateLeave(Walk->jobs);
}

// A worker's job: lists `piece`, then all that follows it below in the
// walk's order, depth first, but what other threads have taken meanwhile.
void ListAhead(Stack& stack, Piece* piece, size_t& listed) {
  // Held while its children are looked at: the walk may be through with it
  // as soon as it is listed.
  piece->holders.fetch_add(1, std::memory_order_relaxed);
  ListPiece(piece, nullptr);
  if (++listed % kWakeEvery == 0) WakeWalk();
  Folder* folder = piece->folder;
  // An empty directory is let go at once unless the walk waits for it:
  // the walk passes it by its entry, and it counts for nothing ahead.
  uint8_t unmet = Unmet;
  if (piece->first && folder->listed && !folder->listing && !piece->next && folder->child &&
      folder->child->meet.compare_exchange_strong(unmet, LetGo)) {
    delete folder;
    return;
  }
  Walk->ahead.fetch_add(Weight(piece), std::memory_order_relaxed);
  if (!piece->hasJobs) {
    ReleasePiece(piece, false);
    return;
  }
  OfferPiece(stack, piece);
  for (size_t i = 0; i < piece->childCount; ++i) {
    Child& child = piece->children[i];
    if (!child.plain) continue;
    AwaitWalk();
    if (Walk->tasksWaiting.load(std::memory_order_relaxed)) RunQueuedTasks();
    if (Folder* folder = TakeChild(piece, child)) ListAhead(stack, &folder->first, listed);
  }
  WithdrawPiece(stack);
  if (piece->next && Take(piece->nextState)) ListAhead(stack, piece->next, listed);
  ReleasePiece(piece, false);
}

// Under the jobs gate: the next piece to list ahead, the largest first:
// the oldest piece's children in order, a long listing read on before its
// entries run out. Each worker so keeps to a subtree of its own.
Piece* TakeFromLocked(Piece* top) {
  if (top->next && top->childCount - top->handedOut <= kReadOnAt && Take(top->nextState)) return top->next;
  while (top->handedOut < top->childCount) {
    Child& child = top->children[top->handedOut++];
    if (!child.plain) continue;
    if (Folder* folder = TakeChild(top, child)) return &folder->first;
  }
  if (top->next && Take(top->nextState)) return top->next;
  return nullptr;
}

Piece* TakeJobLocked() {
  for (Stack& stack : Walk->stacks) {
    for (size_t i = stack.exhausted; i < stack.pieces.size(); ++i) {
      if (Piece* piece = TakeFromLocked(stack.pieces[i])) return piece;
      if (i == stack.exhausted) ++stack.exhausted;
    }
  }
  return nullptr;
}

void RunTask(Task* task) {
  for (plat::Listing* listing : task->closing) plat::ListClose(listing);
  for (Folder* folder : task->finished) delete folder;
  if (!task->folder) {
    delete task;
    return;
  }
  CaptureOutput(task->output);
  AttachItem(task->item);
  RemoveStaleEntry(task->folder->listing, task->name.c_str(), task->path);
  CaptureOutput(nullptr);
  CompleteOutput(task->output);
  ReleaseFolder(task->folder, false);
  task->done.store(true);
}

void Work(void* index) {
  Stack& stack = Walk->stacks[reinterpret_cast<uintptr_t>(index)];
  // Pieces listed, across jobs: the walk is woken every kWakeEvery of them.
  size_t listed = 0;
  plat::GateEnter(Walk->jobs);
  for (;;) {
    if (RunTaskLocked()) continue;
    if (Walk->stopping) break;
    Piece* piece = Walk->ahead.load(std::memory_order_relaxed) < Walk->aheadLimit ? TakeJobLocked() : nullptr;
    if (!piece) {
      WakeWalk();
      ++Walk->sleepers;
      plat::GateWait(Walk->jobs);
      --Walk->sleepers;
      continue;
    }
    plat::GateLeave(Walk->jobs);
    ListAhead(stack, piece, listed);
    plat::GateEnter(Walk->jobs);
  }
  plat::GateLeave(Walk->jobs);
}

// The walk reaches `piece`, listed by a worker: waits until it is.
void Reached(Piece* piece) {
  AwaitFlag(piece->ready);
  const size_t weight = Weight(piece);
  const size_t before = Walk->ahead.fetch_sub(weight);
  if (before >= Walk->aheadLimit && before - weight < Walk->aheadLimit) {
    plat::GateEnter(Walk->jobs);
    if (Walk->sleepers) plat::GateWakeAll(Walk->jobs);
    plat::GateLeave(Walk->jobs);
  }
}

// Every removal handed out so far is done.
void AwaitRemovals() {
  for (Task* task : Walk->handed) AwaitFlag(task->done);
}

void HandOutRemoval(Folder* folder, const wchar_t* name, const std::wstring& path) {
  auto* task = new Task;
  task->folder = folder;
  task->name = name;
  task->path = path;
  task->item = DetachItem();
  task->output = ReserveOutput();
  folder->holders.fetch_add(1, std::memory_order_relaxed);
  Walk->handed.push_back(task);
  plat::FileIdentity identity;
  if (DeleteEnabled && plat::IdentityAt(folder->listing, name, path, identity))
    Walk->handedDirectories[{identity.volume, identity.file}] = task;
  QueueOrRunTask(task);
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
void EnterFolder(Folder* folder, size_t childLength, std::wstring& path) {
  if (folder->openFailed) {
    // A worker's failure is not the walk's: it opens the folder itself, as
    // the one-thread walk does, and only then passes it over. Nothing was
    // listed, so no other thread holds the piece.
    folder->openFailed = false;
    folder->first.ready.store(false);
    ListPiece(&folder->first, nullptr);
  }
  if (folder->listed) {
    if (path.back() != L'\\') path += L'\\';
    WalkFolder(folder, nullptr, nullptr, childLength, path);
  } else {
    ReleaseFirstPiece(folder, true);
  }
  ReleaseFolder(folder, true);
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
  ListPiece(&sub->first, nullptr);
  sub->first.byWalk = true;
  EnterFolder(sub, path.size(), path);
}

void WalkFolder(Folder* folder, const plat::DirEntry* given, const std::wstring* typed, size_t parentLength,
                std::wstring& path) {
  PushAncestor(folder->listing);
  ProgressFolder(path);
  const size_t stem = path.size();
  Piece* piece = &folder->first;
  if (given) {
    ListPiece(piece, given);
    piece->byWalk = true;
  }
  Stack& stack = Walk->stacks.back();
  while (piece) {
    WriteCompletedOutput();
    // What the walk listed itself the workers may take a part of.
    const bool offered = piece->byWalk && piece->hasJobs;
    if (offered) OfferPiece(stack, piece);
    for (size_t i = 0; i < piece->childCount; ++i) {
      Child& child = piece->children[i];
      const wchar_t* name = piece->names.c_str() + child.nameAt;
      path.resize(stem);
      path.append(name, child.nameLength);
      if (child.plain) {
        Folder* sub = TakeChild(piece, child);
        if (sub) {
          ListPiece(&sub->first, nullptr);
          sub->first.byWalk = true;
        } else {
          uint8_t unmet = Unmet;
          if (!child.meet.compare_exchange_strong(unmet, WalkCame)) {
            // Listed empty and let go: all the walk does there is count it.
            if (path.back() != L'\\') path += L'\\';
            ProgressFolder(path);
            continue;
          }
          sub = child.folder.load();
          Reached(&sub->first);
        }
        EnterFolder(sub, path.size(), path);
      } else {
        const std::wstring_view parent =
            typed ? std::wstring_view(*typed) : std::wstring_view(path).substr(0, parentLength);
        Decide(folder, child, name, parent, path);
      }
    }
    if (offered) WithdrawPiece(stack);
    Piece* next = piece->next;
    if (next) {
      if (Take(piece->nextState)) {
        ListPiece(next, nullptr);
        next->byWalk = true;
      } else
        Reached(next);
    }
    ReleasePiece(piece, true);
    piece = next;
  }
  path.resize(stem);
  PopAncestor();
}

void StopWorkers() {
  plat::GateEnter(Walk->jobs);
  Walk->stopping.store(true);
  plat::GateWakeAll(Walk->jobs);
  plat::GateLeave(Walk->jobs);
  for (plat::Thread* thread : Walk->threads) plat::ThreadJoin(thread);
  Walk->stopped = true;
  for (size_t i = Walk->nextTask; i < Walk->tasks.size(); ++i) RunTask(Walk->tasks[i]);
  for (plat::Listing* listing : Walk->closing) plat::ListClose(listing);
  for (Folder* folder : Walk->finished) delete folder;
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
  const size_t openLimit = plat::OpenListingLimit();
  shared.aheadLimit = std::clamp(openLimit / 4, kAheadLeast, kAheadLimit);
  shared.closeBatch = std::clamp<size_t>(openLimit / 64, 1, kCloseBatch);
  shared.queueLimit = std::clamp<size_t>(openLimit / 4 / shared.closeBatch, 2, kQueueLimit);
  Walk = &shared;
  shared.stacks.resize(workers + 1);
  if (shared.jobs && shared.done) {
    for (uint32_t i = 0; i < workers; ++i) {
      plat::Thread* thread = plat::ThreadStart(Work, reinterpret_cast<void*>(static_cast<uintptr_t>(i)));
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
  folder->first.folder = folder;
  folder->first.first = true;
  WalkFolder(folder, &entry, &typed, 0, path);
  AwaitRemovals();
  WriteCompletedOutput();
  folder->listing = nullptr;  // the caller's to close
  StopWorkers();
  ReleaseFolder(folder, true);
  for (Task* task : shared.handed) delete task;
  Walk = nullptr;
  return true;
}
