// The parts of the /v walk shared among worker threads, each with one owner:
//   the listing store  (shared_walk_store.cpp)    what was listed, and who holds it;
//   the job board      (shared_walk_board.cpp)    the workers' stacks, the lock, the wake rules;
//   the removal line   (shared_walk_removals.cpp) the stale items handed out, in order;
//   the workers        (shared_walk_workers.cpp)  what a worker thread does;
//   the walk           (shared_walk.cpp)          order, judging, links, going alone.
// The design, the states and the wake rules are told in shared_walk.cpp.
#pragma once

#include <atomic>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "common/item_scope.h"
#include "platform/platform.h"
#include "workarea/walk_rules.h"
#include "workarea/workarea.h"

namespace sharedwalk {

// Entries recorded from one listing at a time, and the weight of what was
// listed ahead of the walk at most (see Weight): together they bound the
// memory and the open directories whatever the tree. Under a descriptor
// limit, a quarter of it may be ahead of the walk.
constexpr size_t kPieceEntries = 128;
constexpr size_t kAheadLimit = 3072;
constexpr size_t kAheadLeast = 16;
// Pieces a worker lists between looks whether the walk waits for it.
constexpr size_t kWakeEvery = 128;
// A long listing is read on when this few of its entries are left to hand out.
constexpr size_t kReadOnAt = 32;
// Removals waiting for a worker at most; past that the walk makes them.
constexpr size_t kQueueLimit = 256;

// For the debug builds' checks of who touches what: set on the walk's
// thread for as long as a shared walk runs.
extern thread_local bool OnWalkThread;

// ---- the listing store ----

enum State : uint8_t { Untaken, Claimed, Listed, Empty, Failed, Returned };

// Moves `state` from Untaken to Claimed; true for the one thread that did.
inline bool Claim(std::atomic<uint8_t>& state) {
  uint8_t untaken = Untaken;
  return state.compare_exchange_strong(untaken, Claimed, std::memory_order_acq_rel);
}

struct Folder;

// One subdirectory entry as listed: written by its lister before the piece
// that holds it is published; `state` and `folder` as the state says.
struct Entry {
  uint32_t nameAt = 0, nameLength = 0, attributes = 0;
  uint64_t listedId = 0;
  bool plain = false;                   // the workers may list it
  std::atomic<uint8_t> state{Untaken};  // plain entries only
  Folder* folder = nullptr;             // Listed: written before `state`; one hold on it, the walk's
  uint32_t failure = 0;                 // Failed: the open's code, 0 when passed over; written before `state`
};

// Up to kPieceEntries subdirectory entries of one listing, in its order.
// Written by its lister before it is published and read-only after, but
// `nextState` (atomic), `handedOut` (under the board's lock) and `letGo`.
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
  size_t handedOut = 0;                     // entries the board looked at (under its lock)
  // A long listing's later piece, read ahead by a worker that goes through
  // it: the walk, once past it, and that worker, once through, each add
  // their bit (LetGo); the second lets its entries go.
  std::atomic<uint8_t> letGo{0};

  const wchar_t* NameOf(const Entry& entry) const { return names.c_str() + entry.nameAt; }
  std::span<Entry> Entries() const { return {entries.get(), count}; }
};

// A listed directory, open until its last hold is let go (FolderHold).
struct Folder {
  plat::Listing* listing = nullptr;  // written once, by its lister
  bool pathKnown = false;            // `path` is kept where exclusions can still match below
  std::wstring path;                 // with its final separator, when known
  Piece first;
  std::atomic<uint32_t> holders{1};  // FolderHold alone changes it
  ~Folder();
};

// One hold on a folder; the last one let go closes its listing and frees it.
// Holders: the walk while it is in the folder (the hold a lister makes with
// it, handed to the walk through Entry::folder), a worker while it goes
// through the folder's pieces, and each removal handed out in it.
class FolderHold {
 public:
  FolderHold() = default;
  // Takes over the hold the folder was made with (or Entry::folder's).
  static FolderHold Adopt(Folder* folder) { return FolderHold(folder); }
  // One more hold on a folder already held by the caller.
  static FolderHold Add(Folder* folder) {
    folder->holders.fetch_add(1, std::memory_order_relaxed);
    return FolderHold(folder);
  }
  FolderHold(FolderHold&& other) noexcept : folder_(other.folder_) { other.folder_ = nullptr; }
  FolderHold& operator=(FolderHold&& other) noexcept {
    if (this != &other) {
      Reset();
      folder_ = other.folder_;
      other.folder_ = nullptr;
    }
    return *this;
  }
  FolderHold(const FolderHold&) = delete;
  FolderHold& operator=(const FolderHold&) = delete;
  ~FolderHold() { Reset(); }
  Folder* get() const { return folder_; }
  Folder* operator->() const { return folder_; }
  // Lets go of the hold now; the last closes and frees the folder.
  void Reset();
  // Hands the hold over to a plain pointer (Entry::folder), whose reader
  // takes it back with Adopt.
  Folder* Release() {
    Folder* folder = folder_;
    folder_ = nullptr;
    return folder;
  }

 private:
  explicit FolderHold(Folder* folder) : folder_(folder) {}
  Folder* folder_ = nullptr;
};

// The bits of Piece::letGo.
constexpr uint8_t kWalkPassed = 1, kWorkerThrough = 2;

// Everything listed: it makes folders and pieces, counts what workers
// listed ahead of the walk, and says when that may grow.
class ListingStore {
 public:
  explicit ListingStore(size_t aheadLimit) : aheadLimit_(aheadLimit), reach_(ExclusionReach()) {}
  // The walk's top folder, on its open listing `top` whose first entry is
  // `entry`.
  FolderHold Top(plat::Listing* top, const plat::DirEntry& entry, const std::wstring& path);
  // Opens the subdirectory `entry` (named `name`) of `parent` and reads its
  // first piece. Listed (`made` holds the new folder), Empty, Failed, or
  // Returned when the open failed for want of descriptors. `ahead`: read
  // by a worker, so it counts ahead of the walk.
  // `attributes`: the entry's, as the caller last saw them.
  uint8_t Open(const Folder* parent, const Entry& entry, const wchar_t* name, uint32_t attributes, bool ahead,
               FolderHold& made, uint32_t& failure);
  // Reads the rest of the listing after `before`, whose nextState the
  // caller claimed, and publishes it.
  void ReadOn(Folder* folder, Piece* before, bool ahead);
  // The walk reaches `piece`, read ahead: it no longer counts. True when
  // that brought the weight under the limit (workers may have waited).
  bool Reached(Piece* piece);
  // Whether a thread may list ahead now: not at the limit, and not stopped.
  bool Full() const { return ahead_.load(std::memory_order_relaxed) >= aheadLimit_; }
  bool Stopped() const { return noMoreAhead_.load(std::memory_order_relaxed); }
  bool Room() const { return !Stopped() && !Full(); }
  // Listing ahead stops for good: a thread ran short, or the walk goes alone.
  void Stop() { noMoreAhead_.store(true, std::memory_order_relaxed); }
  // Adds `bit` to a later piece's letGo; the second of the two frees its entries.
  static void LetGo(Piece* piece, uint8_t bit);
  // Closes and frees `folder`, listed ahead and not reached, with all that
  // was listed below it. Only once the workers are stopped: nobody else holds it.
  static void Evict(FolderHold folder);

 private:
  void Record(Folder* folder, Piece* piece, plat::DirEntry& entry, bool have);
  void Count(Piece* piece, bool ahead);

  const size_t aheadLimit_;
  const size_t reach_;  // ExclusionReach()
  // The weight of the pieces workers listed that the walk has not reached:
  // added to before a piece is published and taken from once the walk has
  // seen it, so it never goes below 0. Relaxed: a bound, not a handshake.
  std::atomic<size_t> ahead_{0};
  // Relaxed: whoever sees it late only does what it would have done before.
  std::atomic<bool> noMoreAhead_{false};
};

// ---- the job board ----

// A worker's job: list entry `index` of `piece`, or (kReadOn) read the
// rest of its listing. Claimed under the lock.
constexpr size_t kReadOn = SIZE_MAX;
struct Job {
  Piece* piece = nullptr;
  size_t index = 0;
};

struct Task;

// What a worker does next: a removal, a job, or (neither) stop.
struct Next {
  Task* task = nullptr;
  Job job;
};

// The pieces a thread is going through, outermost first, whose entries
// others may take: they take the outermost first, the largest part of the
// tree, so that each thread keeps to a subtree of its own.
struct Stack {
  std::vector<Piece*> pieces;
  size_t exhausted = 0;  // pieces[0, exhausted) have nothing left to take
};

class JobBoard {
 public:
  // `stacks`: one for each worker and the walk's last.
  JobBoard(size_t stacks, size_t queueLimit);
  ~JobBoard();
  bool Made() const { return jobs_ && done_; }

  // The lock, held for a scope.
  class Guard {
   public:
    explicit Guard(JobBoard& board);
    ~Guard();
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    JobBoard& board_;
  };
  bool LockHeld() const;
  // For the tests of the wake rules: the workers asleep; the walk waits.
  size_t Sleeping();
  bool WalkWaits() const { return walkWaits_.load(std::memory_order_seq_cst); }

  // Offers the entries of `piece`, which the owner of `stack` goes through
  // now, to the others; until Withdraw.
  void Offer(size_t stack, Piece* piece);
  void Withdraw(size_t stack);
  // A worker's next removal or job; it sleeps until there is one, or until
  // the board stops (then neither). A job is taken only while the store
  // has room. Before it sleeps it wakes the walk, which may need what it
  // published.
  Next AwaitNext(const ListingStore& store);
  // A queued removal, if any.
  Task* TakeTask();
  // A worker waits while the store is full (and listing ahead has not
  // stopped): a removal queued meanwhile is returned for it to make; null
  // once there is room, or the board stops. Before it sleeps it wakes the
  // walk, which alone makes room.
  Task* AwaitRoom(const ListingStore& store);
  // Queues a removal for the workers; false when kQueueLimit wait already.
  bool Queue(Task* task);
  // True when removals are queued (a hint, between pieces).
  bool TasksWaiting() const { return tasksWaiting_.load(std::memory_order_relaxed); }
  // The workers' wake when room was made ahead of the walk.
  void WakeWorkers();
  // Stops the board: every worker's wait ends; a worker makes the removals
  // still queued before it ends.
  void Stop();

  // The walk sleeps once, unless `ready()`; a worker's WakeWalk ends it.
  template <typename Ready>
  void WalkSleepsUnless(Ready ready);
  // Wakes the walk if it sleeps.
  void WakeWalk();

 private:
  Job TakeJobLocked();
  Job TakeFromLocked(Piece* top);
  Task* TakeTaskLocked();
  void SleepLocked();
  void WakeWorkersLocked();

  // ---- made before the workers start, read-only after ----
  plat::Gate* jobs_ = nullptr;  // the lock, and the workers' wait for jobs
  plat::Gate* done_ = nullptr;  // the walk's wait for a listing or a removal
  const size_t queueLimit_;

  // ---- under the lock (jobs_) ----
  std::vector<Stack> stacks_;
  std::deque<Task*> queue_;  // removals no worker has taken yet
  size_t sleepers_ = 0;
  bool stopping_ = false;

  // ---- atomic ----
  // The walk stores true, then looks again at what it waits for; a worker
  // stores what it publishes, then (WakeWalk) loads this. Both sequentially
  // consistent, so that the walk sees the publication or the worker sees it
  // waiting.
  std::atomic<bool> walkWaits_{false};
  // Removals are queued (relaxed: a hint for workers between pieces; the
  // queue itself is under the lock).
  std::atomic<bool> tasksWaiting_{false};
};

// ---- the removal line ----

// A stale item handed out. The walk fills it before it is queued; a worker
// that takes it owns it until it stores `state`; then the walk again.
enum TaskState : uint8_t { TaskWaiting, TaskDone, TaskGaveUp };
using IdentityKey = std::tuple<uint64_t, uint64_t, uint64_t>;
struct Task {
  FolderHold folder;  // let go once the removal is made
  std::wstring name, path;
  ItemScope scope;    // the item, moved from the walk's scope, and the place kept for its lines
  StaleMeasure measure;
  bool identified = false;
  IdentityKey identity;
  bool behindLink = false;  // handed out where the walk had entered a link
  std::atomic<uint8_t> state{TaskWaiting};
};

// The removals handed out, in the walk's order: it owns every Task from
// HandOut to Settle. Only the walk's thread calls it, but Make, which the
// thread that took a task calls.
class RemovalLine {
 public:
  ~RemovalLine();
  // A task for the stale entry `name` of `folder` (held by the caller),
  // with the item open in `judged` and a place kept in the output; last in
  // the line. `behindLink`: the walk reached it through a link.
  Task* HandOut(ItemScope& judged, Folder* folder, const wchar_t* name, const std::wstring& path, bool behindLink);
  // Makes (in list mode measures) the removal of `task` on this thread,
  // under its item and into its place in the output. Where it gave up for
  // want of descriptors (only where `giveUp`) nothing was written: the
  // place and the item wait in the task for it to be made again, the task
  // says TaskGaveUp, and listing ahead stops in `store` (before the task
  // says so).
  static bool Make(Task* task, ListingStore& store, bool giveUp);
  // Frees the tasks at the front that are done: the in-order completion
  // mark is the front of the line.
  void Settle();
  bool Empty() const { return handed_.empty(); }
  Task* Front() const { return handed_.front(); }
  // Removals in this walk, settled or not, and those the walk made alone.
  uint64_t Count() const { return count_; }
  void CountOne() { ++count_; }
  // True while a task handed out behind a link is not settled.
  bool BehindLink() const { return behindLink_ != 0; }
  // A task not yet settled that removes the directory with `identity`.
  Task* Removing(const IdentityKey& identity) const;
  // Makes every task not done, in order, on this thread, which judges no
  // item in `walk` now; the line is empty after.
  void MakeAll(ListingStore& store, const ItemScope& walk);

 private:
  std::deque<Task*> handed_;  // not yet settled, in order
  uint64_t count_ = 0;
  size_t behindLink_ = 0;  // tasks of handed_ handed out behind a link
  std::map<IdentityKey, Task*> byIdentity_;  // those of handed_ that remove a directory
};

// ---- the workers ----

// The threads that list ahead of the walk and make the removals it hands out.
class Workers {
 public:
  Workers(ListingStore& store, JobBoard& board, size_t count);
  ~Workers() { Stop(); }
  bool Started() const { return !threads_.empty(); }
  // Stops them and waits for them: whatever they held is closed and published.
  void Stop();

 private:
  struct Worker {
    Workers* crew;
    size_t stack;
  };
  static void Main(void* worker);
  void Work(size_t stack);
  void RunQueued(Task* task);
  void GoThrough(size_t stack, FolderHold folder, Piece* piece, size_t& listed);
  void ListAhead(size_t stack, Piece* piece, Entry& entry, size_t& listed);
  void Published(size_t& listed);
  void AwaitRoom();

  ListingStore& store_;
  JobBoard& board_;
  std::vector<Worker> workers_;          // made before the threads start, read-only after
  std::vector<plat::Thread*> threads_;   // the walk's thread only
};

// ---- templates ----

template <typename Ready>
void JobBoard::WalkSleepsUnless(Ready ready) {
  assert(OnWalkThread);
  plat::GateEnter(done_);
  walkWaits_.store(true, std::memory_order_seq_cst);
  if (!ready()) plat::GateWait(done_);
  walkWaits_.store(false, std::memory_order_seq_cst);
  plat::GateLeave(done_);
}

}  // namespace sharedwalk
