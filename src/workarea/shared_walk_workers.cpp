// The shared walk's workers: each lists plain subdirectories ahead of the
// walk, depth first through what it listed, offering what it goes through
// to the others, and makes the removals the walk queues.
#include "workarea/shared_walk.h"

namespace sharedwalk {

Workers::Workers(ListingStore& store, JobBoard& board, size_t count) : store_(store), board_(board) {
  assert(OnWalkThread);
  workers_.reserve(count);
  for (size_t i = 0; i < count; ++i) workers_.push_back({this, i});
  for (Worker& worker : workers_) {
    plat::Thread* thread = plat::ThreadStart(Main, &worker);
    if (!thread) break;
    threads_.push_back(thread);
  }
}

void Workers::Stop() {
  assert(OnWalkThread);
  if (threads_.empty()) return;
  board_.Stop();
  for (plat::Thread* thread : threads_) plat::ThreadJoin(thread);
  threads_.clear();
}

void Workers::Main(void* argument) {
  auto* worker = static_cast<Worker*>(argument);
  worker->crew->Work(worker->stack);
}

void Workers::Work(size_t stack) {
  assert(!OnWalkThread);
  // Pieces listed, across jobs: the walk is woken every kWakeEvery of them.
  size_t listed = 0;
  for (;;) {
    const Next next = board_.AwaitNext(store_);
    if (next.task) {
      RunQueued(next.task);
      continue;
    }
    const Job job = next.job;
    if (!job.piece) return;  // the board stopped
    Folder* folder = job.piece->folder;
    if (job.index == kReadOn) {
      // This thread goes through what it reads: it holds the folder first.
      FolderHold mine = FolderHold::Add(folder);
      Piece* piece = job.piece->next;  // `job.piece` may be gone once its rest is published
      store_.ReadOn(folder, job.piece, true);
      Published(listed);
      GoThrough(stack, std::move(mine), piece, listed);
    } else {
      ListAhead(stack, job.piece, job.piece->entries[job.index], listed);
    }
  }
}

// The walk may wait for what this thread published; a removal can take
// long, so it is woken first, and again once the removal is done. One that
// runs short of descriptors is given back to the walk.
void Workers::RunQueued(Task* task) {
  board_.WakeWalk();
  RemovalLine::Make(task, store_, true);
  board_.WakeWalk();
}

// Goes through `piece` and the rest of its listing that this thread reads:
// lists every plain entry nobody took, depth first.
void Workers::GoThrough(size_t stack, FolderHold folder, Piece* piece, size_t& listed) {
  assert(!OnWalkThread);
  for (;;) {
    if (!piece->hasJobs) {
      if (piece != &folder->first) ListingStore::LetGo(piece, kWorkerThrough);
      return;
    }
    board_.Offer(stack, piece);
    for (Entry& entry : piece->Entries()) {
      if (!entry.plain) continue;
      AwaitRoom();
      if (board_.TasksWaiting()) {
        while (Task* task = board_.TakeTask()) RunQueued(task);
      }
      if (Claim(entry.state)) ListAhead(stack, piece, entry, listed);
    }
    board_.Withdraw(stack);
    Piece* next = piece->next;
    if (next) AwaitRoom();  // reading on adds to what is ahead: within the bound, as every listing
    if (next && Claim(piece->nextState)) {
      store_.ReadOn(folder.get(), piece, true);
      Published(listed);
    } else {
      next = nullptr;
    }
    if (piece != &folder->first) ListingStore::LetGo(piece, kWorkerThrough);  // its last use here
    if (!next) return;
    piece = next;
  }
}

// Lists the plain entry `entry` of `piece`, claimed by this thread,
// publishes the outcome, and goes through what it holds.
void Workers::ListAhead(size_t stack, Piece* piece, Entry& entry, size_t& listed) {
  assert(!OnWalkThread);
  if (store_.Stopped()) {
    entry.state.store(Returned, std::memory_order_seq_cst);
    return;
  }
  FolderHold made;
  const uint8_t state =
      store_.Open(piece->folder, entry, piece->NameOf(entry), entry.attributes, true, made, entry.failure);
  Published(listed);
  if (state == Returned) store_.Stop();
  // The walk's hold travels in the entry; this thread takes one of its own
  // before it publishes, while the walk cannot have let go of the folder.
  const bool goThrough = state == Listed && made->first.hasJobs;
  FolderHold mine = goThrough ? FolderHold::Add(made.get()) : FolderHold();
  entry.folder = made.Release();
  entry.state.store(state, std::memory_order_seq_cst);
  if (!goThrough) return;
  Piece* first = &mine->first;
  GoThrough(stack, std::move(mine), first, listed);
}

// Lets the walk catch up once this much waits for it, making removals meanwhile.
void Workers::AwaitRoom() {
  if (!store_.Full()) return;
  while (Task* task = board_.AwaitRoom(store_)) RunQueued(task);
}

// One more piece published: the walk, which may wait for it, is woken
// every kWakeEvery of them (and whenever this thread would sleep).
void Workers::Published(size_t& listed) {
  if (++listed % kWakeEvery == 0) board_.WakeWalk();
}

}  // namespace sharedwalk
