// The shared walk's job board: the pieces each thread offers, the removals
// queued, the lock over both, and the wake rules.
//
// Wake rules, each with its reason:
// - Workers sleep on jobs_, under the lock, only after they found no
//   removal, no job they may take, and the board not stopping. So each
//   thing that could end that sleep wakes them, under the lock: a piece
//   offered (Offer), a removal queued (Queue), room made ahead of the walk
//   (WakeWorkers, when the walk's reaching a piece brings the weight under
//   the limit), and the board stopping (Stop).
// - The walk sleeps on done_ only after it stored walkWaits_ and looked
//   once more at what it waits for (WalkSleepsUnless). A worker publishes
//   first, then loads walkWaits_ (WakeWalk); with both sequentially
//   consistent, the walk sees the publication or the worker sees it
//   waiting. Workers call WakeWalk every kWakeEvery pieces, before and
//   after each removal they make, and before they sleep for a job or for
//   room (AwaitNext, AwaitRoom): not after each piece, so that a walk that
//   caught up sleeps once for many pieces, and is woken at the latest when
//   the worker it waits for has nothing left to do. The tests of the parts
//   take each of these away in turn: the walk is then left asleep.
// - Lock order: done_ is never taken while the lock is held, nor the lock
//   while done_ is.
#include <algorithm>

#include "workarea/shared_walk.h"

namespace sharedwalk {

namespace {

// The board whose lock this thread holds, for the debug builds' checks.
thread_local const JobBoard* LockedBoard = nullptr;

}  // namespace

JobBoard::JobBoard(size_t stacks, size_t queueLimit) : queueLimit_(queueLimit), stacks_(stacks) {
  jobs_ = plat::GateCreate();
  done_ = plat::GateCreate();
}

JobBoard::~JobBoard() {
  plat::GateDestroy(jobs_);
  plat::GateDestroy(done_);
}

JobBoard::Guard::Guard(JobBoard& board) : board_(board) {
  assert(!board.LockHeld());
  plat::GateEnter(board.jobs_);
  LockedBoard = &board;
}

JobBoard::Guard::~Guard() {
  assert(board_.LockHeld());
  LockedBoard = nullptr;
  plat::GateLeave(board_.jobs_);
}

bool JobBoard::LockHeld() const { return LockedBoard == this; }

size_t JobBoard::Sleeping() {
  Guard guard(*this);
  return sleepers_;
}

void JobBoard::SleepLocked() {
  assert(LockHeld());
  ++sleepers_;
  LockedBoard = nullptr;
  plat::GateWait(jobs_);
  LockedBoard = this;
  --sleepers_;
}

void JobBoard::WakeWorkersLocked() {
  assert(LockHeld());
  if (sleepers_) plat::GateWakeAll(jobs_);
}

void JobBoard::WakeWorkers() {
  Guard guard(*this);
  WakeWorkersLocked();
}

void JobBoard::Offer(size_t stack, Piece* piece) {
  Guard guard(*this);
  stacks_[stack].pieces.push_back(piece);
  WakeWorkersLocked();
}

void JobBoard::Withdraw(size_t stack) {
  Guard guard(*this);
  Stack& pieces = stacks_[stack];
  pieces.pieces.pop_back();
  pieces.exhausted = std::min(pieces.exhausted, pieces.pieces.size());
}

// The next job, the largest part first.
Job JobBoard::TakeJobLocked() {
  assert(LockHeld());
  for (Stack& stack : stacks_) {
    for (size_t i = stack.exhausted; i < stack.pieces.size(); ++i) {
      if (Job job = TakeFromLocked(stack.pieces[i]); job.piece) return job;
      // Every piece looked at so far had nothing, and none gets anything new.
      stack.exhausted = i + 1;
    }
  }
  return {};
}

// From `top`, the rest of its listing when few of its entries are left,
// else its next plain entry nobody took. The thread going through `top`
// holds its folder, and the walk holds it until every entry and the rest
// are published, so the job's thread may use it until then.
Job JobBoard::TakeFromLocked(Piece* top) {
  assert(LockHeld());
  if (top->next && top->count - top->handedOut <= kReadOnAt && Claim(top->nextState)) return {top, kReadOn};
  while (top->handedOut < top->count) {
    const size_t index = top->handedOut++;
    Entry& entry = top->entries[index];
    if (entry.plain && Claim(entry.state)) return {top, index};
  }
  if (top->next && Claim(top->nextState)) return {top, kReadOn};
  return {};
}

Task* JobBoard::TakeTaskLocked() {
  assert(LockHeld());
  if (queue_.empty()) return nullptr;
  Task* task = queue_.front();
  queue_.pop_front();
  if (queue_.empty()) tasksWaiting_.store(false, std::memory_order_relaxed);
  return task;
}

Next JobBoard::AwaitNext(const ListingStore& store) {
  // Before it sleeps, the walk may need what this thread published: it is
  // woken outside the lock, then everything is looked at once more.
  for (bool wokeWalk = false;; wokeWalk = true) {
    {
      Guard guard(*this);
      for (;;) {
        if (Task* task = TakeTaskLocked()) return {task, {}};
        if (stopping_) return {};
        if (store.Room()) {
          if (Job job = TakeJobLocked(); job.piece) return {nullptr, job};
        }
        if (!wokeWalk) break;
        // What would end this sleep is woken under the lock: nothing is missed.
        SleepLocked();
      }
    }
    WakeWalk();
  }
}

Task* JobBoard::AwaitRoom(const ListingStore& store) {
  // As in AwaitNext: the walk, which alone makes room, is woken before
  // this thread sleeps, outside the lock.
  for (bool wokeWalk = false;; wokeWalk = true) {
    {
      Guard guard(*this);
      for (;;) {
        if (!store.Full() || store.Stopped() || stopping_) return nullptr;
        if (Task* task = TakeTaskLocked()) return task;
        if (!wokeWalk) break;
        SleepLocked();
      }
    }
    WakeWalk();
  }
}

Task* JobBoard::TakeTask() {
  Guard guard(*this);
  return TakeTaskLocked();
}

bool JobBoard::Queue(Task* task) {
  Guard guard(*this);
  if (queue_.size() >= queueLimit_) return false;
  queue_.push_back(task);
  tasksWaiting_.store(true, std::memory_order_relaxed);
  WakeWorkersLocked();
  return true;
}

void JobBoard::Stop() {
  Guard guard(*this);
  stopping_ = true;
  plat::GateWakeAll(jobs_);
}

void JobBoard::WakeWalk() {
  if (!walkWaits_.load(std::memory_order_seq_cst)) return;
  plat::GateEnter(done_);
  plat::GateWakeAll(done_);
  plat::GateLeave(done_);
}

}  // namespace sharedwalk
