// The /v walk shared among worker threads, with the one-thread walk's output
// and the tree it leaves.
//
// Who does what. The program's thread, "the walk", goes through the tree in
// the one-thread order and alone decides and prints: it judges every
// work-area name, looks at every link, applies the exclusions and writes the
// output out in order (PlanEntry, the rule the one-thread walk applies).
// Workers list plain subdirectories ahead of it (ClassifyEntry: no link, no
// work-area name, nothing excluded; those are the walk's to decide when it
// gets there) and remove the stale items it hands them. The plain entries
// they list are those of any folder the walk or a worker listed: below a
// live work area and below a link the walk followed too, since the walk
// enters those and offers what it read.
//
// One state per plain subdirectory entry (Entry::state):
//   Untaken -> Claimed -> Listed | Empty | Failed | Returned
// Whoever moves it from Untaken to Claimed (a worker, or the walk when it
// comes first) opens and lists it and publishes the outcome; the walk reads
// it in its order, waiting while it is Claimed. Listed: a Folder holds what
// was read. Empty: nothing in it to enter or decide; closed at once.
// Failed: it could not be opened, or lies on a pseudo or a network file
// system (or one whose kind cannot be learnt) met inside the walk; the
// one-thread walk passes it over as silently, and it is never opened again.
// Returned: the worker ran short of descriptors, or listing ahead had
// stopped (noMoreAhead_) when it came to it; the walk lists it itself.
// The rest of a long listing has a state of its own (Piece::nextState),
// Untaken -> Claimed -> Listed.
//
// Why a worker's listing is what the one thread would have seen: the walk's
// removals are the only changes it makes, and a removal takes away one work
// area's tree, on its file system, never through a link. Nothing a worker
// lists is inside a stale area (the walk never enters one), so one of its
// listings can be out of date only where a link, or a second way to one
// directory, leads into what was removed. So the walk looks at a link's kind
// and target itself once every removal handed out before it is done, and
// passes over a work-area entry that is not found any more after a removal
// handed out before it (any other failure to look at it is the one-thread
// walk's to meet: it judges the entry). Not looked at again: a plain folder
// inside a removed area that a bind mount shows a second time, listed by a
// worker before the removal; it is walked as listed.
//
// Bounds. What workers listed and the walk has not reached is counted
// (ahead_, by Weight: each open directory, and its entries four to a unit);
// no thread lists a folder or reads on a long listing while it is at the
// limit, so memory and open directories stay bounded whatever the tree.
// Removals waiting for a worker are at most queueLimit_; past it the walk
// makes them itself.
//
// Descriptors. A worker that runs short (plat::IsShortage) gives back what
// it was doing: a listing is Returned, a removal gives up unreported
// (GiveUpOnShortage). The walk then goes on alone (GoAlone): it stops the
// workers, which closes all they held, and closes what was listed ahead of
// it; from there on it is the one-thread walk: what the one thread gets
// through, it does too. The removals given back wait in `handed_`, in
// order, for MakeGivenBack, which the walk calls only where it judges no
// item: at its next entry, before it opens a folder itself, before it looks
// at a link and at its end. The owner probe, which opens files on the
// walk's thread inside a judgement, asks the walk to let go (Relieve) before
// it fails for want of descriptors: the walk goes alone then, and the
// removals given back wait for its next entry.
//
// Wake rules. The walk sleeps on done_ only after it stored walkWaits_ and
// looked once more (seq_cst, with the worker's publication and its load of
// walkWaits_): a worker wakes it every kWakeEvery pieces, before and after
// each removal it makes, and before it sleeps itself. Workers sleep on jobs_
// and are woken when work is offered, when a removal is queued, when the
// walk brings ahead_ under the limit, and when they are stopped.
//
// Who frees what. A Folder is freed by the last of its holders (Release):
// the walk, the worker going through it, each removal in it. A long
// listing's later piece is freed by the second of the walk and the worker
// that read it to be through with it (LetGo). A Task is freed by the walk
// once it and every task before it are done (Settle). After GoAlone, the
// walk alone frees what was listed ahead (Evict).
//
// Output. A removal's lines go into a place kept for them (ReserveOutput),
// which the walk writes out in order; its item record travels with it.
#include <algorithm>
#include <atomic>
#include <cassert>
#include <deque>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include "common/catalog.h"
#include "common/run_report.h"
#include "common/run_state.h"
#include "workarea/walk_rules.h"
#include "workarea/workarea.h"

namespace {

// Entries recorded from one listing at a time, and the weight of what was
// listed ahead of the walk at most (see Weight): together they bound the
// memory and the open directories whatever the tree. Under a descriptor
// limit, a quarter of it may be ahead of the walk.
constexpr size_t kPieceEntries = 128;
constexpr size_t kAheadLimit = 2048;
constexpr size_t kAheadLeast = 16;
// Pieces a worker lists between looks whether the walk waits for it.
constexpr size_t kWakeEvery = 128;
// A long listing is read on when this few of its entries are left to hand out.
constexpr size_t kReadOnAt = 32;
// Removals waiting for a worker at most; past that the walk makes them.
constexpr size_t kQueueLimit = 256;

enum State : uint8_t { Untaken, Claimed, Listed, Empty, Failed, Returned };

struct Folder;

// One subdirectory entry as listed: written by its lister before the piece
// that holds it is published; `state` and `folder` as the state says.
struct Entry {
  uint32_t nameAt = 0, nameLength = 0, attributes = 0;
  uint64_t listedId = 0;
  bool plain = false;                   // the workers may list it
  std::atomic<uint8_t> state{Untaken};  // plain entries only
  Folder* folder = nullptr;             // Listed: written before `state`
  uint32_t failure = 0;                 // Failed: the open's code, 0 when passed over; written before `state`
};

// Up to kPieceEntries subdirectory entries of one listing, in its order.
// Written by its lister before it is published and read-only after, but
// `nextState` (atomic) and `handedOut` (under the lock).
struct Piece {
  Folder* folder = nullptr;
  std::unique_ptr<Entry[]> entries;
  size_t count = 0;
  std::wstring names;                       // the entries' names, each ended by a NUL
  Piece* next = nullptr;                    // the rest of the listing, when there is more
  std::atomic<uint8_t> nextState{Untaken};  // for `next`: Untaken -> Claimed -> Listed
  bool hasJobs = false;                     // a plain entry, or a rest to read
  bool byWalk = false;                      // read by the walk; else by a worker, ahead of it
  size_t weight = 0;                        // what it counts ahead of the walk
  size_t handedOut = 0;                     // entries TakeFromLocked looked at
  // A long listing's later piece, read ahead by a worker that goes through
  // it: the walk, once past it, and that worker, once through, each add
  // their bit; the second lets its entries go (acq_rel: after the first's
  // last use of them).
  std::atomic<uint8_t> letGo{0};
};

constexpr uint8_t kWalkPassed = 1, kWorkerThrough = 2;
// Adds `bit` to the piece's letGo; the second of the two frees its entries.
void LetGo(Piece* piece, uint8_t bit) {
  if (piece->letGo.fetch_or(bit, std::memory_order_acq_rel) == (kWalkPassed | kWorkerThrough) - bit) {
    piece->entries.reset();
    std::wstring().swap(piece->names);  // a move from a short string would keep the buffer
  }
}

// A listed directory, open until its last holder lets it go: the walk
// until it is through with it, a thread while it goes through its pieces,
// each removal in it. The last closes the listing and frees it.
struct Folder {
  plat::Listing* listing = nullptr;  // written once, by its lister
  bool pathKnown = false;            // `path` is kept where exclusions can still match below
  std::wstring path;                 // with its final separator, when known
  Piece first;
  std::atomic<uint32_t> holders{1};
  ~Folder() {
    for (Piece* piece = first.next; piece;) {
      Piece* next = piece->next;
      delete piece;
      piece = next;
    }
  }
};

// A stale item handed out. The walk fills it before it is queued; a worker
// that takes it owns it until it stores `state`; then the walk again.
enum TaskState : uint8_t { TaskWaiting, TaskDone, TaskGaveUp };
using IdentityKey = std::tuple<uint64_t, uint64_t, uint64_t>;
struct Task {
  Folder* folder = nullptr;
  std::wstring name, path;
  OpenItem* item = nullptr;
  OutputSegment* output = nullptr;
  StaleMeasure measure;
  bool identified = false;
  IdentityKey identity;
  std::atomic<uint8_t> state{TaskWaiting};
};

// The pieces a thread is going through, outermost first, whose entries
// others may take: they take the outermost first, the largest part of the
// tree, so that each thread keeps to a subtree of its own.
struct Stack {
  std::vector<Piece*> pieces;
  size_t exhausted = 0;  // pieces[0, exhausted) have nothing left to take
};

// A worker's job: list entry `index` of `piece`, or (kReadOn) read the
// rest of its listing. Claimed under the lock.
constexpr size_t kReadOn = SIZE_MAX;
struct Job {
  Piece* piece = nullptr;
  size_t index = 0;
};

// Where the walk is: a folder on its path, the piece and entry it is at.
struct Frame {
  Folder* folder;
  Piece* piece;
  size_t at;
};

// For the debug builds' checks of who touches what.
thread_local bool OnWalkThread = false;
thread_local bool HoldsLock = false;

// What a piece of `count` entries counts ahead of the walk: its open
// directory, and its entries, four to a unit. At the limit that is about
// 8,000 entries of a long listing, some 1 MiB, or 2,048 small folders.
size_t Weight(size_t count) { return 1 + count / 4; }

bool Claim(std::atomic<uint8_t>& state) {
  uint8_t untaken = Untaken;
  return state.compare_exchange_strong(untaken, Claimed, std::memory_order_acq_rel);
}

class SharedWalk final : public ShortageRelief {
 public:
  explicit SharedWalk(uint32_t workers);
  ~SharedWalk();
  // Called inside the judgement of an item (the owner probe): the walk
  // lets go of all it holds ahead, but makes the removals given back only
  // at its next entry, once that judgement is over.
  bool Relieve() override {
    if (alone_) return false;
    GoAlone();
    return true;
  }
  bool Started() const { return !threads_.empty(); }
  void Walk(plat::Listing* top, const plat::DirEntry& entry, const std::wstring& typed, std::wstring& path);

 private:
  struct Worker {
    SharedWalk* walk;
    Stack* stack;
  };

  void Lock() {
    plat::GateEnter(jobs_);
    HoldsLock = true;
  }
  void Unlock() {
    HoldsLock = false;
    plat::GateLeave(jobs_);
  }
  void WaitLocked() {
    assert(HoldsLock);
    ++sleepers_;
    HoldsLock = false;
    plat::GateWait(jobs_);
    HoldsLock = true;
    --sleepers_;
  }
  void WakeWorkersLocked() {
    assert(HoldsLock);
    if (sleepers_) plat::GateWakeAll(jobs_);
  }

  // Workers.
  static void WorkerMain(void* worker);
  void Work(Stack& stack);
  Job TakeJobLocked();
  Job TakeFromLocked(Piece* top);
  bool RunTaskLocked();
  void RunTask(Task* task);
  void GoThrough(Stack& stack, Folder* folder, Piece* piece, size_t& listed);
  void ListAhead(Stack& stack, Piece* piece, Entry& entry, size_t& listed);
  void AwaitWalk();
  void WakeWalk();

  // Any thread.
  uint8_t Open(const Folder* parent, const wchar_t* name, size_t length, uint32_t attributes, uint64_t listedId,
               bool ahead, Folder*& made, uint32_t& failure);
  void Record(Folder* folder, Piece* piece, plat::DirEntry& entry, bool have);
  void Count(Piece* piece, bool ahead);
  void ReadOn(Folder* folder, Piece* before, bool ahead);
  void Offer(Stack& stack, Piece* piece);
  void Withdraw(Stack& stack);
  static void Release(Folder* folder);

  // The walk's thread.
  void WalkFolder(Folder* folder, const std::wstring* typed, size_t parentLength, std::wstring& path);
  void WalkPlain(Folder* parent, Entry& entry, const wchar_t* name, std::wstring& path);
  void Decide(Folder* folder, const Entry& entry, const wchar_t* name, std::wstring_view parent,
              std::wstring& path);
  void Enter(Folder* folder, std::wstring& path);
  template <typename Ready>
  void Await(Ready ready);
  void Reached(Piece* piece);
  void HandOut(Folder* folder, const wchar_t* name, const std::wstring& path);
  void AwaitTask(Task* task);
  void AwaitRemovals();
  void Settle();
  bool RemovedMeanwhile(plat::Listing* listing, const wchar_t* name, const std::wstring& path);
  void GoAlone();
  void MakeGivenBack();
  void StopWorkers();
  void Evict(Folder* folder);

  // ---- written before the workers start, read-only after ----
  plat::Gate* jobs_ = nullptr;  // the lock, and the workers' wait for jobs
  plat::Gate* done_ = nullptr;  // the walk's wait for a listing or a removal
  size_t aheadLimit_ = kAheadLimit;
  size_t queueLimit_ = kQueueLimit;
  size_t reach_ = 0;  // ExclusionReach()
  std::vector<Worker> workers_;
  std::vector<Stack> stacks_;  // one for each worker, and the walk's last (their contents: under the lock)

  // ---- under the lock (jobs_) ----
  std::deque<Task*> queue_;  // removals no worker has taken yet
  size_t sleepers_ = 0;
  bool stopping_ = false;

  // ---- atomic ----
  // The weight of the pieces workers listed that the walk has not reached:
  // added to before a piece is published and taken from once the walk has
  // seen it, so it never goes below 0. Relaxed: a bound, not a handshake.
  std::atomic<size_t> ahead_{0};
  // The walk waits on done_: it stores true, then looks again at what it
  // waits for; a worker stores what it publishes, then (at its next
  // WakeWalk) loads this and wakes the walk. Both sequentially consistent,
  // so that the walk sees the publication or the worker sees it waiting.
  std::atomic<bool> walkWaits_{false};
  // Removals are queued (relaxed: a hint for workers between pieces; the
  // queue itself is under the lock).
  std::atomic<bool> tasksWaiting_{false};
  // Listing ahead stops: a thread ran short, or the walk goes alone.
  // Relaxed: whoever sees it late only does what it would have done before.
  std::atomic<bool> noMoreAhead_{false};

  // ---- the walk's thread only ----
  std::vector<plat::Thread*> threads_;
  bool alone_ = false;         // the workers are stopped: this is the one-thread walk
  std::vector<Frame> frames_;  // where the walk is, outermost first
  std::deque<Task*> handed_;   // removals handed out and not yet settled, in order
  uint64_t handedCount_ = 0;   // removals in this walk, settled or made by the walk alone
  std::map<IdentityKey, Task*> handedDirectories_;  // those of handed_ by identity
};

SharedWalk::SharedWalk(uint32_t workers) {
  assert(OnWalkThread);
  reach_ = ExclusionReach();
  const size_t openLimit = plat::OpenListingLimit();
  aheadLimit_ = std::clamp(openLimit / 4, kAheadLeast, kAheadLimit);
  queueLimit_ = std::clamp<size_t>(openLimit / 64, 2, kQueueLimit);
  jobs_ = plat::GateCreate();
  done_ = plat::GateCreate();
  if (!jobs_ || !done_) return;
  stacks_.resize(workers + 1);
  workers_.reserve(workers);
  for (uint32_t i = 0; i < workers; ++i) workers_.push_back({this, &stacks_[i]});
  for (Worker& worker : workers_) {
    plat::Thread* thread = plat::ThreadStart(WorkerMain, &worker);
    if (!thread) break;
    threads_.push_back(thread);
  }
}

SharedWalk::~SharedWalk() {
  StopWorkers();
  plat::GateDestroy(jobs_);
  plat::GateDestroy(done_);
}

// ---- workers ----

void SharedWalk::WorkerMain(void* argument) {
  auto* worker = static_cast<Worker*>(argument);
  GiveUpOnShortage = true;
  worker->walk->Work(*worker->stack);
}

void SharedWalk::Work(Stack& stack) {
  assert(!OnWalkThread);
  // Pieces listed, across jobs: the walk is woken every kWakeEvery of them.
  size_t listed = 0;
  Lock();
  for (;;) {
    if (RunTaskLocked()) continue;
    if (stopping_) break;
    const auto take = [&] {
      const bool room = !noMoreAhead_.load(std::memory_order_relaxed) &&
                        ahead_.load(std::memory_order_relaxed) < aheadLimit_;
      return room ? TakeJobLocked() : Job{};
    };
    Job job = take();
    if (!job.piece) {
      // Before it sleeps, the walk may need what this thread published.
      Unlock();
      WakeWalk();
      Lock();
      if (stopping_ || !queue_.empty()) continue;
      job = take();  // offered meanwhile
      if (!job.piece) {
        WaitLocked();
        continue;
      }
    }
    Unlock();
    Folder* folder = job.piece->folder;
    if (job.index == kReadOn) {
      // This thread goes through what it reads: it holds the folder first.
      folder->holders.fetch_add(1, std::memory_order_relaxed);
      Piece* piece = job.piece->next;  // `job.piece` may be gone once its rest is published
      ReadOn(folder, job.piece, true);
      if (++listed % kWakeEvery == 0) WakeWalk();
      GoThrough(stack, folder, piece, listed);
      Release(folder);
    } else {
      ListAhead(stack, job.piece, job.piece->entries[job.index], listed);
    }
    Lock();
  }
  Unlock();
}

// Under the lock: the next job, the largest part first.
Job SharedWalk::TakeJobLocked() {
  assert(HoldsLock);
  for (Stack& stack : stacks_) {
    for (size_t i = stack.exhausted; i < stack.pieces.size(); ++i) {
      if (Job job = TakeFromLocked(stack.pieces[i]); job.piece) return job;
      if (i == stack.exhausted) ++stack.exhausted;
    }
  }
  return {};
}

// Under the lock: from `top`, the rest of its listing when few of its
// entries are left, else its next plain entry nobody took. The thread going
// through `top` holds its folder, and the walk holds it until every entry
// and the rest are published, so the job's thread may use it until then.
Job SharedWalk::TakeFromLocked(Piece* top) {
  assert(HoldsLock);
  if (top->next && top->count - top->handedOut <= kReadOnAt && Claim(top->nextState)) return {top, kReadOn};
  while (top->handedOut < top->count) {
    const size_t index = top->handedOut++;
    Entry& entry = top->entries[index];
    if (entry.plain && Claim(entry.state)) return {top, index};
  }
  if (top->next && Claim(top->nextState)) return {top, kReadOn};
  return {};
}

// Under the lock: makes the next removal queued, if any, with the lock left meanwhile.
bool SharedWalk::RunTaskLocked() {
  assert(HoldsLock);
  if (queue_.empty()) return false;
  Task* task = queue_.front();
  queue_.pop_front();
  if (queue_.empty()) tasksWaiting_.store(false, std::memory_order_relaxed);
  Unlock();
  // The walk may wait for what this thread published; a removal can take
  // long, so it is woken first, and again once the removal is done.
  WakeWalk();
  RunTask(task);
  WakeWalk();
  Lock();
  return true;
}

// Removes (in list mode measures) one stale item. Where it gave up for
// want of descriptors nothing was written: the place in the output and the
// item record wait for it to be made again.
void SharedWalk::RunTask(Task* task) {
  CaptureOutput(task->output);
  AttachItem(task->item);
  task->item = nullptr;
  const bool made = RemoveStaleItem(task->folder->listing, task->name.c_str(), task->path, task->measure);
  if (made) {
    CaptureOutput(nullptr);
    CompleteOutput(task->output);
    Release(task->folder);
    task->folder = nullptr;
  } else {
    task->item = DetachItem();
    CaptureOutput(nullptr);
    noMoreAhead_.store(true, std::memory_order_relaxed);
  }
  task->state.store(made ? TaskDone : TaskGaveUp, std::memory_order_seq_cst);
}

// Goes through `piece` and the rest of its listing that this thread reads:
// lists every plain entry nobody took, depth first. `folder` is held by
// this thread meanwhile.
void SharedWalk::GoThrough(Stack& stack, Folder* folder, Piece* piece, size_t& listed) {
  assert(!OnWalkThread);
  for (;;) {
    if (!piece->hasJobs) {
      if (piece != &folder->first) LetGo(piece, kWorkerThrough);
      return;
    }
    Offer(stack, piece);
    for (size_t i = 0; i < piece->count; ++i) {
      Entry& entry = piece->entries[i];
      if (!entry.plain) continue;
      AwaitWalk();
      if (tasksWaiting_.load(std::memory_order_relaxed)) {
        WakeWalk();  // it may wait for what this thread published, for as long as the removals take
        Lock();
        while (RunTaskLocked()) {
        }
        Unlock();
      }
      if (Claim(entry.state)) ListAhead(stack, piece, entry, listed);
    }
    Withdraw(stack);
    Piece* next = piece->next;
    if (next) AwaitWalk();  // reading on adds to what is ahead: within the bound, as every listing
    if (next && Claim(piece->nextState)) {
      ReadOn(folder, piece, true);
      if (++listed % kWakeEvery == 0) WakeWalk();
    } else {
      next = nullptr;
    }
    if (piece != &folder->first) LetGo(piece, kWorkerThrough);  // its last use here
    if (!next) return;
    piece = next;
  }
}

// Lists the plain entry `entry` of `piece`, claimed by this thread,
// publishes the outcome, and goes through what it holds.
void SharedWalk::ListAhead(Stack& stack, Piece* piece, Entry& entry, size_t& listed) {
  assert(!OnWalkThread);
  if (noMoreAhead_.load(std::memory_order_relaxed)) {
    entry.state.store(Returned, std::memory_order_seq_cst);
    return;
  }
  Folder* folder = nullptr;
  const uint8_t state = Open(piece->folder, piece->names.c_str() + entry.nameAt, entry.nameLength,
                             entry.attributes, entry.listedId, true, folder, entry.failure);
  if (++listed % kWakeEvery == 0) WakeWalk();
  if (state == Returned) noMoreAhead_.store(true, std::memory_order_relaxed);
  const bool goThrough = state == Listed && folder->first.hasJobs;
  if (goThrough) folder->holders.store(2, std::memory_order_relaxed);  // the walk, and this thread
  entry.folder = folder;
  entry.state.store(state, std::memory_order_seq_cst);
  if (!goThrough) return;
  GoThrough(stack, folder, &folder->first, listed);
  Release(folder);
}

// Lets the walk catch up once this much waits for it, making removals meanwhile.
void SharedWalk::AwaitWalk() {
  if (ahead_.load(std::memory_order_relaxed) < aheadLimit_) return;
  WakeWalk();
  Lock();
  while (ahead_.load(std::memory_order_relaxed) >= aheadLimit_ && !stopping_ &&
         !noMoreAhead_.load(std::memory_order_relaxed)) {
    if (RunTaskLocked()) continue;
    WaitLocked();
  }
  Unlock();
}

// Wakes the walk if it sleeps. Workers call it every kWakeEvery pieces,
// after each removal and before they wait, not after each piece: a walk
// that has caught up then sleeps once for many pieces, and is woken at the
// latest when the worker it waits for has nothing left to do.
void SharedWalk::WakeWalk() {
  if (!walkWaits_.load(std::memory_order_seq_cst)) return;
  plat::GateEnter(done_);
  plat::GateWakeAll(done_);
  plat::GateLeave(done_);
}

// ---- any thread ----

// Opens the subdirectory `name` of `parent` and reads its first piece.
// Listed (`made` is the new folder), Empty, Failed, or Returned when the
// open failed for want of descriptors. `ahead`: read by a worker, so it
// counts ahead of the walk.
uint8_t SharedWalk::Open(const Folder* parent, const wchar_t* name, size_t length, uint32_t attributes,
                         uint64_t listedId, bool ahead, Folder*& made, uint32_t& failure) {
  made = nullptr;
  failure = 0;
  const plat::DirEntry self{name, length, attributes, listedId};
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
  if (parent->pathKnown && parent->path.size() + length + 1 < reach_) {
    folder->pathKnown = true;
    folder->path.assign(parent->path).append(name, length) += ItemSeparator;
  }
  Record(folder, &folder->first, first, true);
  if (folder->first.count == 0 && !folder->first.next) {
    delete folder;  // closed: nothing in it to enter or decide, nothing ahead
    plat::ListClose(listing);
    return Empty;
  }
  Count(&folder->first, ahead);
  made = folder;
  return Listed;
}

// Records the subdirectory entries of `folder`'s listing into `piece`, from
// `entry` on when `have`, up to kPieceEntries, and what a worker may do
// with each; a longer listing gets its next piece, to be read later.
void SharedWalk::Record(Folder* folder, Piece* piece, plat::DirEntry& entry, bool have) {
  struct Recorded {
    uint32_t nameAt, nameLength, attributes;
    uint64_t listedId;
    bool plain;
  };
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
void SharedWalk::Count(Piece* piece, bool ahead) {
  piece->byWalk = !ahead;
  if (!ahead) return;
  piece->weight = Weight(piece->count);
  ahead_.fetch_add(piece->weight, std::memory_order_relaxed);
}

// Reads the rest of the listing after `before`, whose nextState this
// thread claimed, and publishes it.
void SharedWalk::ReadOn(Folder* folder, Piece* before, bool ahead) {
  plat::DirEntry entry;
  const bool have = plat::ListNext(folder->listing, entry);
  Record(folder, before->next, entry, have);
  Count(before->next, ahead);
  before->nextState.store(Listed, std::memory_order_seq_cst);
}

// Offers the entries of `piece`, which this thread goes through now, to
// the others; until Withdraw.
void SharedWalk::Offer(Stack& stack, Piece* piece) {
  Lock();
  stack.pieces.push_back(piece);
  WakeWorkersLocked();
  Unlock();
}

void SharedWalk::Withdraw(Stack& stack) {
  Lock();
  stack.pieces.pop_back();
  stack.exhausted = std::min(stack.exhausted, stack.pieces.size());
  Unlock();
}

// Lets go of one hold on `folder`; the last closes and frees it.
void SharedWalk::Release(Folder* folder) {
  if (folder->holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  plat::ListClose(folder->listing);
  delete folder;
}

// ---- the walk's thread ----

void SharedWalk::Walk(plat::Listing* top, const plat::DirEntry& entry, const std::wstring& typed,
                      std::wstring& path) {
  assert(OnWalkThread);
  GiveUpOnShortage = true;
  WalkRelief = this;
  // The top is asked once here, before its children are opened side by side.
  plat::OnPseudoFileSystem(top);
  auto* folder = new Folder;
  folder->listing = top;
  folder->first.folder = folder;
  folder->pathKnown = path.size() < reach_;
  folder->path = path;
  plat::DirEntry first = entry;
  Record(folder, &folder->first, first, true);
  Count(&folder->first, false);
  WalkFolder(folder, &typed, 0, path);
  AwaitRemovals();
  WriteCompletedOutput();
  StopWorkers();
  folder->listing = nullptr;  // the caller's to close
  Release(folder);
  GiveUpOnShortage = false;
  WalkRelief = nullptr;
}

// Goes through the listed `folder`, whose path is `path`; the trace names
// it as `typed` at the top, below as the first `parentLength` characters.
void SharedWalk::WalkFolder(Folder* folder, const std::wstring* typed, size_t parentLength, std::wstring& path) {
  assert(OnWalkThread);
  PushAncestor(folder->listing);
  ProgressFolder(path);
  const size_t stem = path.size();
  frames_.push_back({folder, &folder->first, 0});
  for (Piece* piece = &folder->first; piece;) {
    WriteCompletedOutput();
    Settle();
    // What the walk read itself the workers may take a part of.
    const bool offered = !alone_ && piece->byWalk && piece->hasJobs;
    if (offered) Offer(stacks_.back(), piece);
    frames_.back().piece = piece;
    for (size_t i = 0; i < piece->count; ++i) {
      frames_.back().at = i;
      // Settled items go out one by one; a stop hands out nothing new: the
      // walk goes on alone, and no further.
      WriteCompletedOutput();
      if (!alone_ && (noMoreAhead_.load(std::memory_order_relaxed) || StopRequested())) GoAlone();
      if (alone_ && !handed_.empty()) MakeGivenBack();
      if (StopRequested()) break;
      Entry& entry = piece->entries[i];
      const wchar_t* name = piece->names.c_str() + entry.nameAt;
      path.resize(stem);
      path.append(name, entry.nameLength);
      if (entry.plain) {
        WalkPlain(folder, entry, name, path);
      } else {
        const std::wstring_view parent =
            typed ? std::wstring_view(*typed) : std::wstring_view(path).substr(0, parentLength);
        Decide(folder, entry, name, parent, path);
      }
    }
    if (offered) Withdraw(stacks_.back());
    Piece* next = piece->next;
    if (next) {
      if (Claim(piece->nextState)) {
        ReadOn(folder, piece, false);
      } else {
        Await([&] { return piece->nextState.load(std::memory_order_seq_cst) == Listed; });
        Reached(next);
      }
    }
    // A long listing's entries are let go once the walk passed them and the
    // worker that read them went through them; the walk's own at once.
    if (piece != &folder->first) LetGo(piece, piece->byWalk ? kWalkPassed | kWorkerThrough : kWalkPassed);
    piece = next;
  }
  frames_.pop_back();
  path.resize(stem);
  PopAncestor();
}

// The walk reaches the plain entry `entry` of `parent`: it enters what was
// listed, lists it itself where nobody did, and passes over the rest.
void SharedWalk::WalkPlain(Folder* parent, Entry& entry, const wchar_t* name, std::wstring& path) {
  assert(OnWalkThread);
  bool mine = false;
  uint8_t state = entry.state.load(std::memory_order_acquire);
  if (state == Untaken) {
    mine = Claim(entry.state);
    if (!mine) state = Claimed;  // a worker came first
  }
  if (state == Claimed && !mine) {
    Await([&] { return entry.state.load(std::memory_order_seq_cst) != Claimed; });
    state = entry.state.load(std::memory_order_acquire);
  }
  if (state == Returned) {
    if (!alone_) GoAlone();
    MakeGivenBack();
    mine = true;
  }
  if (mine) {
    Folder* folder = nullptr;
    state = Open(parent, name, entry.nameLength, entry.attributes, entry.listedId, false, folder, entry.failure);
    if (state == Returned && !alone_) {
      GoAlone();
      MakeGivenBack();
      state = Open(parent, name, entry.nameLength, entry.attributes, entry.listedId, false, folder, entry.failure);
    }
    entry.folder = folder;
    entry.state.store(state == Returned ? uint8_t{Failed} : state, std::memory_order_release);
  } else if (state == Listed) {
    Reached(&entry.folder->first);
  }
  switch (entry.state.load(std::memory_order_acquire)) {
    case Listed:
      Enter(entry.folder, path);
      break;
    case Failed:
      NoteFailedOpen(path, entry.failure);
      break;
    case Empty:
      // All the walk does in an empty folder is count it.
      AppendSeparator(path);
      ProgressFolder(path);
      break;
    default:
      break;
  }
}

// What the one-thread walk does with a work-area name or a link.
void SharedWalk::Decide(Folder* folder, const Entry& entry, const wchar_t* name, std::wstring_view parent,
                        std::wstring& path) {
  assert(OnWalkThread);
  plat::Listing* listing = folder->listing;
  uint32_t attributes = entry.attributes;
  if (DeleteEnabled && handedCount_ != 0) {
    if (attributes & plat::kAttrReparsePoint) {
      // Where a link leads, and whether it still leads to a directory, is
      // looked at as the one thread would: after every removal before it.
      // Only "not found" says it went; one that cannot be looked at is
      // decided from its listing, as one thread decides it.
      AwaitRemovals();
      const uint32_t now = plat::AttributesAt(listing, name, path);
      if (now != plat::kInvalidAttributes) attributes = now;
      else if (plat::IsNotFound(plat::LastErrorCode())) return;
      if (!(attributes & plat::kAttrDirectory)) return;
    } else if (RemovedMeanwhile(listing, name, path)) {
      return;
    }
  }
  switch (PlanEntry(listing, name, attributes, path, parent)) {
    case EntryPlan::Pass:
      return;
    case EntryPlan::Remove:
      HandOut(folder, name, path);
      return;
    case EntryPlan::Enter:
      break;
  }
  Folder* sub = nullptr;
  uint32_t failure = 0;
  uint8_t state = Open(folder, name, entry.nameLength, attributes, entry.listedId, false, sub, failure);
  if (state == Returned && !alone_) {
    GoAlone();
    MakeGivenBack();
    state = Open(folder, name, entry.nameLength, attributes, entry.listedId, false, sub, failure);
  }
  if (state == Listed) {
    Enter(sub, path);
  } else if (state == Returned || state == Failed) {
    NoteFailedOpen(path, failure);
  } else if (state == Empty) {
    AppendSeparator(path);
    ProgressFolder(path);
  }
}

void SharedWalk::Enter(Folder* folder, std::wstring& path) {
  const size_t length = path.size();
  AppendSeparator(path);
  WalkFolder(folder, nullptr, length, path);
  Release(folder);
}

// Waits until `ready()`, writing out finished output meanwhile.
template <typename Ready>
void SharedWalk::Await(Ready ready) {
  assert(OnWalkThread);
  while (!ready()) {
    WriteCompletedOutput();
    plat::GateEnter(done_);
    walkWaits_.store(true, std::memory_order_seq_cst);
    if (!ready()) plat::GateWait(done_);
    walkWaits_.store(false, std::memory_order_seq_cst);
    plat::GateLeave(done_);
  }
}

// The walk reaches `piece`: it no longer counts ahead.
void SharedWalk::Reached(Piece* piece) {
  assert(OnWalkThread);
  if (piece->byWalk) return;
  const size_t before = ahead_.fetch_sub(piece->weight, std::memory_order_relaxed);
  if (before >= aheadLimit_ && before - piece->weight < aheadLimit_) {
    Lock();
    WakeWorkersLocked();
    Unlock();
  }
}

// Hands the stale entry `name` of `folder` to a worker, or removes it now
// when many wait already or the walk is alone.
void SharedWalk::HandOut(Folder* folder, const wchar_t* name, const std::wstring& path) {
  assert(OnWalkThread);
  ++handedCount_;
  // Alone, the walk removes at once, unless removals given back wait for
  // it: this one then waits behind them, for the walk's next entry.
  if (alone_ && handed_.empty()) {
    std::wstring itemPath = path;
    StaleMeasure measure;
    RemoveStaleItem(folder->listing, name, itemPath, measure);
    return;
  }
  auto* task = new Task;
  task->folder = folder;
  task->name = name;
  task->path = path;
  task->item = DetachItem();
  task->output = ReserveOutput();
  folder->holders.fetch_add(1, std::memory_order_relaxed);
  plat::FileIdentity identity;
  if (DeleteEnabled && plat::IdentityAt(folder->listing, name, path, identity)) {
    task->identified = true;
    task->identity = {identity.volume, identity.file, identity.fileHigh};
    handedDirectories_[task->identity] = task;
  }
  handed_.push_back(task);
  if (alone_) return;
  Lock();
  const bool behind = queue_.size() >= queueLimit_;
  if (!behind) {
    queue_.push_back(task);
    tasksWaiting_.store(true, std::memory_order_relaxed);
    WakeWorkersLocked();
  }
  Unlock();
  if (behind) RunTask(task);
}

// `task` is done: made by its worker, or, once the walk is alone, by the
// walk with every removal before it. Never inside the judgement of an item.
void SharedWalk::AwaitTask(Task* task) {
  if (!alone_) {
    Await([&] { return task->state.load(std::memory_order_seq_cst) != TaskWaiting; });
    if (task->state.load(std::memory_order_relaxed) == TaskGaveUp) GoAlone();
  }
  if (alone_) MakeGivenBack();
}

// Every removal handed out so far is done.
void SharedWalk::AwaitRemovals() {
  while (!handed_.empty()) {
    AwaitTask(handed_.front());
    Settle();
  }
}

// Frees the removals at the front that are done: the in-order completion
// mark is the front of `handed_`.
void SharedWalk::Settle() {
  assert(OnWalkThread);
  while (!handed_.empty() && handed_.front()->state.load(std::memory_order_seq_cst) == TaskDone) {
    Task* task = handed_.front();
    handed_.pop_front();
    if (task->identified) {
      auto found = handedDirectories_.find(task->identity);
      if (found != handedDirectories_.end() && found->second == task) handedDirectories_.erase(found);
    }
    delete task;
  }
}

// True when the work-area entry `name`, listed before, has been taken away
// meanwhile by a removal handed out before it (the same directory reached
// by another way). One being removed now is waited for. Only "not found"
// says it was taken away: an entry that cannot be looked at (no search
// right on its folder, say) is judged, and fails, as one thread would.
bool SharedWalk::RemovedMeanwhile(plat::Listing* listing, const wchar_t* name, const std::wstring& path) {
  assert(OnWalkThread);
  plat::FileIdentity identity;
  if (plat::IdentityAt(listing, name, path, identity)) {
    auto found = handedDirectories_.find({identity.volume, identity.file, identity.fileHigh});
    if (found == handedDirectories_.end()) return false;
    AwaitTask(found->second);
  } else if (!plat::IsNotFound(plat::LastErrorCode())) {
    return false;
  }
  return EntryGone(listing, name, path);
}

// The walk goes on as the one-thread walk: the workers stop (whatever they
// held is closed and published), and what they listed ahead of the walk is
// closed, so that the walk holds what the one thread would. The removals
// no worker made wait in `handed_` for MakeGivenBack, which the walk calls
// where no item is being judged.
void SharedWalk::GoAlone() {
  assert(OnWalkThread && !alone_);
  alone_ = true;
  GiveUpOnShortage = false;
  noMoreAhead_.store(true, std::memory_order_relaxed);
  StopWorkers();
  // Ahead: what follows the entry the walk is inside, in every folder on
  // its path; in the innermost, the entry it is at too, not begun yet.
  for (Frame& frame : frames_) {
    const size_t from = &frame == &frames_.back() ? frame.at : frame.at + 1;
    for (Piece* piece = frame.piece; piece;) {
      for (size_t i = piece == frame.piece ? from : 0; i < piece->count; ++i) {
        Entry& entry = piece->entries[i];
        if (!entry.plain) continue;
        const uint8_t state = entry.state.load(std::memory_order_acquire);
        if (state == Listed) Evict(entry.folder);
        if (state == Listed || state == Returned) {
          entry.folder = nullptr;
          entry.state.store(Untaken, std::memory_order_relaxed);
        }
      }
      piece = piece->nextState.load(std::memory_order_acquire) == Listed ? piece->next : nullptr;
    }
  }
  queue_.clear();
}

// Alone: makes the removals handed out and not done, in order, on this
// thread; they get their places in the output and their item records.
void SharedWalk::MakeGivenBack() {
  assert(OnWalkThread && alone_ && !ItemOpen());
  for (Task* task : handed_)
    if (task->state.load(std::memory_order_acquire) != TaskDone) RunTask(task);
  Settle();
  assert(handed_.empty());
}

// Closes and frees `folder`, listed ahead and not reached, with all that
// was listed below it. Only once the workers are stopped: nobody else holds it.
void SharedWalk::Evict(Folder* folder) {
  assert(OnWalkThread && threads_.empty());
  for (Piece* piece = &folder->first; piece;) {
    for (size_t i = 0; i < piece->count; ++i)
      if (piece->entries[i].plain && piece->entries[i].state.load(std::memory_order_acquire) == Listed)
        Evict(piece->entries[i].folder);
    piece = piece->nextState.load(std::memory_order_acquire) == Listed ? piece->next : nullptr;
  }
  assert(folder->holders.load() == 1);
  plat::ListClose(folder->listing);
  delete folder;
}

void SharedWalk::StopWorkers() {
  if (threads_.empty()) return;
  Lock();
  stopping_ = true;
  plat::GateWakeAll(jobs_);
  Unlock();
  for (plat::Thread* thread : threads_) plat::ThreadJoin(thread);
  threads_.clear();
}

}  // namespace

bool WalkShared(plat::Listing* top, plat::DirEntry& entry, const std::wstring& typed, std::wstring& path,
                uint32_t workers) {
  OnWalkThread = true;
  bool walked = false;
  {
    SharedWalk walk(workers);
    if (walk.Started()) {
      walk.Walk(top, entry, typed, path);
      walked = true;
    }
  }
  OnWalkThread = false;
  return walked;
}
