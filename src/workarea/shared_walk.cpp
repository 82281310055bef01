// The /v walk shared among worker threads, with the one-thread walk's output
// and the tree it leaves. Its parts are declared in shared_walk.h.
//
// Who does what. The program's thread, "the walk", goes through the tree in
// the one-thread order and alone decides and prints: it judges every
// work-area name, looks at every link, applies the exclusions and writes the
// output out in order (PlanEntry, the rule the one-thread walk applies).
// Workers list plain subdirectories ahead of it (ClassifyEntry: no link, no
// work-area name, nothing excluded; those are the walk's to decide when it
// gets there) and make the removals it hands them. The plain entries they
// list are those of any folder the walk or a worker listed: below a live
// work area and below a link the walk followed too, since the walk enters
// those and offers what it read.
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
// stopped (ListingStore::Stopped) when it came to it; the walk lists it
// itself. The rest of a long listing has a state of its own
// (Piece::nextState), Untaken -> Claimed -> Listed.
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
// walk's to meet: it judges the entry). Removals are made side by side only
// where their trees are apart: an item reached through a link may lie
// inside one met later, so a work-area entry is judged only once every
// removal handed out through a link before it is done. Not looked at again: a plain folder
// inside a removed area that a bind mount shows a second time, listed by a
// worker before the removal; it is walked as listed.
//
// Bounds. What workers listed and the walk has not reached is counted by
// weight (ListingStore); no thread lists a folder or reads on a long
// listing while it is at the limit, so memory and open directories stay
// bounded whatever the tree. Removals waiting for a worker are at most the
// queue's limit; past it the walk makes them itself.
//
// Descriptors. A worker that runs short (plat::IsShortage) gives back what
// it was doing: a listing is Returned, a removal gives up unreported
// (GiveUpOnShortage). The walk then goes on alone (GoAlone): it stops the
// workers, which closes all they held, and closes what was listed ahead of
// it; from there on it is the one-thread walk: what the one thread gets
// through, it does too. The removals given back wait in the removal line,
// in order, for AloneFromHere, which the walk calls only where it judges no
// item: at its next entry, before it opens a folder itself, before it looks
// at a link and at its end. The owner probe, which opens files on the
// walk's thread inside a judgement, asks the walk to let go (Relieve) before
// it fails for want of descriptors: the walk goes alone then, and the
// removals given back wait for its next entry.
//
// Who frees what. A Folder is closed and freed by the last of its holds
// (FolderHold): the walk's while it is inside, a worker's while it goes
// through the folder's pieces, each removal's in it. A long listing's later
// piece lets its entries go once the walk passed it and the worker that read
// it went through it (ListingStore::LetGo). A Task is freed by the removal
// line once it and every task before it are done (Settle). After GoAlone,
// the walk alone frees what was listed ahead (Evict).
//
// Wake rules: see shared_walk_board.cpp. Output: a removal's lines go into
// a place kept for them (ReserveOutput), which the walk writes out in
// order; its item record travels with it.
#include <algorithm>
#include <utility>

#include "common/catalog.h"
#include "common/run_report.h"
#include "common/run_state.h"
#include "workarea/shared_walk.h"
#include "workarea/walk_rules.h"

namespace sharedwalk {

thread_local bool OnWalkThread = false;

namespace {

// Where the walk is: a folder on its path, the piece and entry it is at.
struct Frame {
  Folder* folder;
  Piece* piece;
  size_t at;
};

// Under a descriptor limit, a quarter of it may be ahead of the walk.
size_t AheadLimit() { return std::clamp(plat::OpenListingLimit() / 4, kAheadLeast, kAheadLimit); }
size_t QueueLimit() { return std::clamp<size_t>(plat::OpenListingLimit() / 64, 2, kQueueLimit); }

class SharedWalk final : public ShortageRelief {
 public:
  SharedWalk(ItemScope& scope, uint32_t workers)
      : board_(workers + 1, QueueLimit()),
        crew_(store_, board_, board_.Made() ? workers : 0),
        scope_(scope),
        walkStack_(workers) {}
  // Called inside the judgement of an item (the owner probe): the walk
  // lets go of all it holds ahead, but makes the removals given back only
  // at its next entry, once that judgement is over.
  bool Relieve() override {
    if (alone_) return false;
    GoAlone();
    return true;
  }
  bool Started() const { return crew_.Started(); }
  void Walk(plat::Listing* top, const plat::DirEntry& entry, const std::wstring& typed, std::wstring& path);

 private:
  void WalkFolder(Folder* folder, const std::wstring* typed, size_t parentLength, std::wstring& path);
  void WalkPlain(Folder* parent, Entry& entry, const wchar_t* name, std::wstring& path);
  void Decide(Folder* folder, const Entry& entry, const wchar_t* name, std::wstring_view parent,
              std::wstring& path);
  uint8_t OpenHere(Folder* parent, const Entry& entry, const wchar_t* name, uint32_t attributes, FolderHold& made,
                   uint32_t& failure);
  void GoInto(uint8_t state, FolderHold folder, uint32_t failure, bool link, std::wstring& path);
  template <typename Ready>
  void Await(Ready ready);
  void Reached(Piece* piece);
  void HandOut(Folder* folder, const wchar_t* name, const std::wstring& path);
  void AwaitTask(Task* task);
  void AwaitRemovals();
  bool RemovedMeanwhile(plat::Listing* listing, const wchar_t* name, const std::wstring& path);
  void GoAlone();
  void AloneFromHere();

  // The parts; made in this order, and ended in the reverse: the workers
  // stop before the board and the store go.
  ListingStore store_{AheadLimit()};
  JobBoard board_;
  RemovalLine line_;
  Workers crew_;
  // ---- the walk's thread only ----
  ItemScope& scope_;           // the program's thread's: the items the walk judges
  const size_t walkStack_;     // the board's stack the walk offers on
  bool alone_ = false;         // the workers are stopped: this is the one-thread walk
  std::vector<Frame> frames_;  // where the walk is, outermost first
  size_t linksEntered_ = 0;    // links on the walk's path that it entered
};

void SharedWalk::Walk(plat::Listing* top, const plat::DirEntry& entry, const std::wstring& typed,
                      std::wstring& path) {
  assert(OnWalkThread);
  scope_.relief = this;
  // The top is asked once here, before its children are opened side by side.
  plat::OnPseudoFileSystem(top);
  FolderHold folder = store_.Top(top, entry, path);
  WalkFolder(folder.get(), &typed, 0, path);
  AwaitRemovals();
  WriteCompletedOutput();
  crew_.Stop();
  folder->listing = nullptr;  // the caller's to close
  folder.Reset();
  scope_.relief = nullptr;
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
    line_.Settle();
    // What the walk read itself the workers may take a part of.
    const bool offered = !alone_ && piece->byWalk && piece->hasJobs;
    if (offered) board_.Offer(walkStack_, piece);
    frames_.back() = {folder, piece, 0};
    for (size_t i = 0; i < piece->count; ++i) {
      frames_.back().at = i;
      // Settled items go out one by one. Once listing ahead stopped, or a
      // stop was asked for, the walk goes on alone, making what was given
      // back first; after a stop it hands out nothing new and goes no further.
      WriteCompletedOutput();
      if (store_.Stopped() || StopRequested()) AloneFromHere();
      if (StopRequested()) break;
      Entry& entry = piece->entries[i];
      const wchar_t* name = piece->NameOf(entry);
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
    if (offered) board_.Withdraw(walkStack_);
    Piece* next = piece->next;
    if (next) {
      if (Claim(piece->nextState)) {
        store_.ReadOn(folder, piece, false);
      } else {
        Await([&] { return piece->nextState.load(std::memory_order_seq_cst) == Listed; });
        Reached(next);
      }
    }
    // A long listing's entries are let go once the walk passed them and the
    // worker that read them went through them; the walk's own at once.
    if (piece != &folder->first)
      ListingStore::LetGo(piece, piece->byWalk ? kWalkPassed | kWorkerThrough : kWalkPassed);
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
  // Whoever claims it lists it: where a worker came first, the walk waits
  // for what it publishes; one given back the walk lists alone.
  bool mine = Claim(entry.state);
  if (!mine) Await([&] { return entry.state.load(std::memory_order_seq_cst) != Claimed; });
  if (!mine && entry.state.load(std::memory_order_acquire) == Returned) {
    AloneFromHere();
    mine = true;
  }
  FolderHold folder;
  uint8_t state;
  if (mine) {
    state = OpenHere(parent, entry, name, entry.attributes, folder, entry.failure);
  } else {
    state = entry.state.load(std::memory_order_acquire);
    folder = FolderHold::Adopt(std::exchange(entry.folder, nullptr));
    if (state == Listed) Reached(&folder->first);
  }
  GoInto(state, std::move(folder), entry.failure, false, path);
}

// The walk opens a folder itself: after a shortage it goes alone and tries
// once more, as the one thread, which would have had the descriptors.
// Listed, Empty or Failed.
uint8_t SharedWalk::OpenHere(Folder* parent, const Entry& entry, const wchar_t* name, uint32_t attributes,
                             FolderHold& made, uint32_t& failure) {
  uint8_t state = store_.Open(parent, entry, name, attributes, false, made, failure);
  if (state == Returned && !alone_) {
    AloneFromHere();
    state = store_.Open(parent, entry, name, attributes, false, made, failure);
  }
  return state == Returned ? uint8_t{Failed} : state;
}

// What the one-thread walk does with a work-area name or a link.
void SharedWalk::Decide(Folder* folder, const Entry& entry, const wchar_t* name, std::wstring_view parent,
                        std::wstring& path) {
  assert(OnWalkThread);
  plat::Listing* listing = folder->listing;
  uint32_t attributes = entry.attributes;
  if (DeleteEnabled && line_.Count() != 0) {
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
    } else {
      // An item reached through a link may lie inside this one: it is
      // judged, measured and removed as one thread would, after them.
      if (line_.BehindLink()) AwaitRemovals();
      if (RemovedMeanwhile(listing, name, path)) return;
    }
  }
  switch (PlanEntry(scope_, listing, name, attributes, path, parent)) {
    case EntryPlan::Pass:
      return;
    case EntryPlan::Remove:
      HandOut(folder, name, path);
      return;
    case EntryPlan::Enter:
      break;
  }
  FolderHold sub;
  uint32_t failure = 0;
  const uint8_t state = OpenHere(folder, entry, name, attributes, sub, failure);
  GoInto(state, std::move(sub), failure, attributes & plat::kAttrReparsePoint, path);
}

// The walk goes into a folder it or a worker opened (`state`, `failure`):
// it tells why it could not, counts an empty one, or walks what it holds,
// counting a link it entered while it is inside.
void SharedWalk::GoInto(uint8_t state, FolderHold folder, uint32_t failure, bool link, std::wstring& path) {
  if (state == Failed) {
    NoteFailedOpen(scope_, path, failure);
    return;
  }
  const size_t length = path.size();
  AppendSeparator(path);
  if (state == Empty) {
    ProgressFolder(path);  // all the walk does in an empty folder is count it
    return;
  }
  linksEntered_ += link;
  WalkFolder(folder.get(), nullptr, length, path);
  linksEntered_ -= link;
}

// Waits until `ready()`, writing out finished output meanwhile.
template <typename Ready>
void SharedWalk::Await(Ready ready) {
  assert(OnWalkThread);
  while (!ready()) {
    WriteCompletedOutput();
    board_.WalkSleepsUnless(ready);
  }
}

// The walk reaches `piece`; workers waiting for room may go on.
void SharedWalk::Reached(Piece* piece) {
  if (store_.Reached(piece)) board_.WakeWorkers();
}

// Hands the stale entry `name` of `folder` to a worker, or removes it now
// when many wait already or the walk is alone.
void SharedWalk::HandOut(Folder* folder, const wchar_t* name, const std::wstring& path) {
  assert(OnWalkThread);
  line_.CountOne();
  // Alone, the walk removes at once, unless removals given back wait for
  // it: this one then waits behind them, for the walk's next entry.
  if (alone_ && line_.Empty()) {
    std::wstring itemPath = path;
    StaleMeasure measure;
    RemoveStaleItem(scope_, folder->listing, name, itemPath, measure);
    return;
  }
  Task* task = line_.HandOut(scope_, folder, name, path, linksEntered_ != 0);
  if (alone_) return;
  if (!board_.Queue(task)) RemovalLine::Make(task, store_, true);
}

// `task` is done: made by its worker, or, once the walk is alone, by the
// walk with every removal before it. Never inside the judgement of an item.
void SharedWalk::AwaitTask(Task* task) {
  if (!alone_) Await([&] { return task->state.load(std::memory_order_seq_cst) != TaskWaiting; });
  if (alone_ || task->state.load(std::memory_order_relaxed) == TaskGaveUp) AloneFromHere();
}

// Every removal handed out so far is done.
void SharedWalk::AwaitRemovals() {
  while (!line_.Empty()) {
    AwaitTask(line_.Front());
    line_.Settle();
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
    Task* task = line_.Removing({identity.volume, identity.file, identity.fileHigh});
    if (!task) return false;
    AwaitTask(task);
  } else if (!plat::IsNotFound(plat::LastErrorCode())) {
    return false;
  }
  return EntryGone(listing, name, path);
}

// The walk goes on as the one-thread walk: the workers stop (whatever they
// held is closed and published, and the removals queued are made), and
// what they listed ahead of the walk is closed, so that the walk holds what
// the one thread would. The removals given back wait in the line for
// AloneFromHere, which the walk calls where no item is being judged.
void SharedWalk::GoAlone() {
  assert(OnWalkThread && !alone_);
  alone_ = true;
  store_.Stop();
  crew_.Stop();
  // Ahead: what follows the entry the walk is inside, in every folder on
  // its path; in the innermost, the entry it is at too, not begun yet.
  for (Frame& frame : frames_) {
    const size_t from = &frame == &frames_.back() ? frame.at : frame.at + 1;
    assert(from <= frame.piece->count);  // `at` is set with its piece
    for (Piece* piece = frame.piece; piece;) {
      for (Entry& entry : piece->Entries().subspan(piece == frame.piece ? from : 0)) {
        if (!entry.plain) continue;
        const uint8_t state = entry.state.load(std::memory_order_acquire);
        if (state == Listed) ListingStore::Evict(FolderHold::Adopt(std::exchange(entry.folder, nullptr)));
        if (state == Listed || state == Returned) entry.state.store(Untaken, std::memory_order_relaxed);
      }
      piece = piece->nextState.load(std::memory_order_acquire) == Listed ? piece->next : nullptr;
    }
  }
}

// Where no item is judged: the walk goes on alone, if it did not yet, and
// makes the removals handed out and not done, in order, on this thread;
// they get their places in the output and their item records.
void SharedWalk::AloneFromHere() {
  if (!alone_) GoAlone();
  line_.MakeAll(store_, scope_);
}

}  // namespace

}  // namespace sharedwalk

bool WalkShared(ItemScope& scope, plat::Listing* top, plat::DirEntry& entry, const std::wstring& typed,
                std::wstring& path, uint32_t workers) {
  sharedwalk::OnWalkThread = true;
  bool walked = false;
  {
    sharedwalk::SharedWalk walk(scope, workers);
    if (walk.Started()) {
      walk.Walk(top, entry, typed, path);
      walked = true;
    }
  }
  sharedwalk::OnWalkThread = false;
  return walked;
}
