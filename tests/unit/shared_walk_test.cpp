// The threaded walk's parts one by one: the job board's order and wake
// rules with real threads, the listing store's bounds and holds on the
// fake platform. A wake that is missing shows as a wait that never ends.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "common/catalog.h"
#include "common/run_state.h"
#include "fake/fake_platform.h"
#include "workarea/shared_walk.h"
#include "workarea/walk_rules.h"

// The rows name only the fault fields they set; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace sharedwalk;
using namespace std::chrono_literals;

// A piece of `count` plain entries, the rest of its listing to come when `more`.
struct TestPiece {
  std::unique_ptr<Piece> piece = std::make_unique<Piece>(), rest = std::make_unique<Piece>();
  TestPiece(size_t count, bool more) {
    piece->entries.reset(new Entry[count]);
    for (size_t i = 0; i < count; ++i) piece->entries[i].plain = true;
    piece->count = count;
    piece->next = more ? rest.get() : nullptr;
  }
  Piece* operator->() const { return piece.get(); }
  Piece* get() const { return piece.get(); }
};

// Until `done()`, for at most 5 s.
template <typename Done>
bool Within(Done done) {
  for (auto until = std::chrono::steady_clock::now() + 5s; !done();) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// What a worker's AwaitRoom or AwaitNext returns, once something ends its
// sleep: `wake` is called once it sleeps; a sleep nothing ends fails the
// test, after the board is stopped.
template <typename Await, typename Wake>
Next Awaited(JobBoard& board, Await await, Wake wake) {
  std::atomic<bool> back = false;
  Next next;
  std::thread worker([&] {
    next = await();
    back = true;
  });
  EXPECT_TRUE(Within([&] { return back || board.Sleeping() != 0; }));
  if (!back) wake();
  const bool woken = Within([&] { return back.load(); });
  EXPECT_TRUE(woken) << "a sleep nothing ended";
  if (!woken) board.Stop();
  worker.join();
  return next;
}

// The jobs a worker takes, as "piece:index" or "piece:R" (read on), until
// it would sleep.
std::vector<std::string> JobsTaken(JobBoard& board, const ListingStore& store, const std::vector<Piece*>& from) {
  std::vector<std::string> taken;
  for (;;) {
    const Next next = Awaited(board, [&] { return board.AwaitNext(store); }, [&] { board.Stop(); });
    if (!next.job.piece) return taken;
    const size_t piece = std::find(from.begin(), from.end(), next.job.piece) - from.begin();
    taken.push_back(std::to_string(piece) + ":" + (next.job.index == kReadOn ? "R" : std::to_string(next.job.index)));
  }
}

// The listing of C:\t, as the top of a walk at `path`.
FolderHold OpenTop(ListingStore& store, const std::wstring& path = L"/t/") {
  plat::DirEntry first;
  plat::Listing* top = plat::ListFirst(L"C:\\t\\*", first);
  EXPECT_TRUE(top);
  return store.Top(top, first, path);
}

class SharedWalkParts : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    OnWalkThread = true;
  }
  void TearDown() override {
    OnWalkThread = false;
    EXPECT_EQ(fake::state.listings, 0);
    EXPECT_EQ(fake::state.gates, 0);
  }
};

TEST_F(SharedWalkParts, JobsComeOutermostFirstAndTheRestOfAListingWhenFewAreLeft) {
  ListingStore store(64);
  JobBoard board(2, 4);
  ASSERT_TRUE(board.Made());
  // Stack 0: an outer piece whose listing goes on, then an inner one; an
  // entry not plain, and one the walk claimed, are never jobs. Stack 1, the
  // walk's: one that ran dry, then one with a job.
  TestPiece outer(kReadOnAt + 2, true), inner(2, false), dry(0, false), walks(1, false);
  outer->entries[4].plain = false;
  Claim(outer->entries[5].state);
  board.Offer(0, outer.get());
  board.Offer(0, inner.get());
  board.Offer(1, dry.get());
  board.Offer(1, walks.get());
  // The rest is read once kReadOnAt entries are left to look at.
  std::vector<std::string> want = {"0:0", "0:1", "0:R", "0:2", "0:3"};
  for (size_t i = 6; i < outer->count; ++i) want.push_back("0:" + std::to_string(i));
  for (const char* job : {"1:0", "1:1", "3:0"}) want.push_back(job);
  EXPECT_EQ(JobsTaken(board, store, {outer.get(), inner.get(), dry.get(), walks.get()}), want);
}

TEST_F(SharedWalkParts, APieceOfferedAfterOthersRanDryIsFound) {
  ListingStore store(64);
  JobBoard board(1, 4);
  TestPiece dry(0, false), late(1, false);
  board.Offer(0, dry.get());
  const Next next = Awaited(board, [&] { return board.AwaitNext(store); }, [&] { board.Offer(0, late.get()); });
  EXPECT_EQ(next.job.piece, late.get());
  board.Withdraw(0);
  board.Withdraw(0);
}

// Each way a sleeping worker is woken: a piece offered, a removal queued,
// the board stopping; while the store is full, room made or a removal.
TEST_F(SharedWalkParts, WhatEndsAWorkersSleep) {
  fake::Add(L"C:\\t\\a\\x", true);
  enum How { Offered, Queued, Stopped, RoomMade, QueuedWhileFull };
  for (How how : {Offered, Queued, Stopped, RoomMade, QueuedWhileFull}) {
    SCOPED_TRACE(how);
    ListingStore store(1);
    JobBoard board(1, 4);
    FolderHold top = OpenTop(store), ahead;
    const bool full = how >= RoomMade;
    if (full) {
      const Piece& piece = top->first;
      uint32_t failure = 0;
      ASSERT_EQ(store.Open(top.get(), piece.entries[0], L"a", plat::kAttrDirectory, true, ahead, failure), Listed);
      ASSERT_TRUE(store.Full());
    }
    TestPiece job(1, false);
    Task task;
    const Next next = Awaited(
        board, [&] { return full ? Next{board.AwaitRoom(store), {}} : board.AwaitNext(store); },
        [&] {
          switch (how) {
            case Offered: board.Offer(0, job.get()); break;
            case Queued: case QueuedWhileFull: EXPECT_TRUE(board.Queue(&task)); break;
            case Stopped: board.Stop(); break;
            case RoomMade:
              EXPECT_TRUE(store.Reached(&ahead->first));
              board.WakeWorkers();
              break;
          }
        });
    EXPECT_EQ(next.job.piece, how == Offered ? job.get() : nullptr);
    EXPECT_EQ(next.task, how == Queued || how == QueuedWhileFull ? &task : nullptr);
    EXPECT_FALSE(board.TasksWaiting());
  }
}

// A worker about to sleep, for a job or for room, first wakes the walk,
// which may wait for what it published; the walk then looks again.
TEST_F(SharedWalkParts, AWorkerWakesTheWalkBeforeItSleeps) {
  for (bool forRoom : {false, true}) {
    SCOPED_TRACE(forRoom);
    ListingStore store(forRoom ? 0 : 64);
    JobBoard board(1, 4);
    std::atomic<bool> woken = false;
    std::thread walk([&] {
      OnWalkThread = true;
      board.WalkSleepsUnless([] { return false; });
      woken = true;
    });
    ASSERT_TRUE(Within([&] { return board.WalkWaits(); }));
    std::thread worker([&] { forRoom ? (void)board.AwaitRoom(store) : (void)board.AwaitNext(store); });
    EXPECT_TRUE(Within([&] { return woken.load(); }));
    board.Stop();
    worker.join();
    while (!woken) board.WakeWalk();
    walk.join();
  }
}

// Removals queue up to the limit; the lock knows its holder.
TEST_F(SharedWalkParts, RemovalsQueueUpToTheLimit) {
  JobBoard board(1, 2);
  Task tasks[3];
  EXPECT_TRUE(board.Queue(&tasks[0]));
  EXPECT_TRUE(board.Queue(&tasks[1]));
  EXPECT_FALSE(board.Queue(&tasks[2]));
  EXPECT_TRUE(board.TasksWaiting());
  EXPECT_EQ(board.TakeTask(), &tasks[0]);
  EXPECT_TRUE(board.TasksWaiting());
  EXPECT_EQ(board.TakeTask(), &tasks[1]);
  EXPECT_FALSE(board.TasksWaiting());
  EXPECT_EQ(board.TakeTask(), nullptr);
  // The debug builds' check of who holds the lock says so.
  {
    JobBoard::Guard guard(board);
    EXPECT_TRUE(board.LockHeld());
  }
  EXPECT_FALSE(board.LockHeld());
}

// A folder of 300 subfolders, a work-area name and a file: pieces of 128
// entries, the file not recorded; what a worker reads counts ahead until
// the walk reaches it. An empty folder is closed at once; a missing one,
// or one on another computer, fails.
TEST_F(SharedWalkParts, TheStoreRecordsInPiecesAndCountsWhatIsAhead) {
  for (int i = 0; i < 300; ++i) fake::Add(L"C:\\t\\big\\d" + std::to_wstring(1000 + i), true);
  fake::Add(L"C:\\t\\big\\f", false);
  fake::Add(L"C:\\t\\big\\_TD4000001", true);
  fake::Add(L"C:\\t\\files\\f", false);
  fake::Add(L"C:\\t\\remote\\x", true);
  fake::Add(L"C:\\t\\missing", true);
  fake::state.remote.push_back(L"C:\\t\\remote");
  ListingStore store(1 + kPieceEntries / 4 + 1);
  FolderHold top = OpenTop(store);
  fake::Remove(L"C:\\t\\missing");
  const Piece& topPiece = top->first;
  ASSERT_EQ(topPiece.count, 4u);
  std::map<std::wstring, std::pair<uint8_t, FolderHold>> opened;
  for (size_t i = 0; i < topPiece.count; ++i) {
    uint32_t failure = 0;
    FolderHold made;
    const wchar_t* name = topPiece.NameOf(topPiece.entries[i]);
    const uint8_t state =
        store.Open(top.get(), topPiece.entries[i], name, plat::kAttrDirectory, i == 0, made, failure);
    EXPECT_EQ(failure != 0, std::wstring(name) == L"missing");
    opened[name] = {state, std::move(made)};
  }
  EXPECT_EQ(opened[L"files"].first, Empty);
  EXPECT_EQ(opened[L"remote"].first, Failed);
  EXPECT_EQ(opened[L"missing"].first, Failed);
  auto& [bigState, big] = opened[L"big"];
  ASSERT_EQ(bigState, Listed);
  EXPECT_EQ(fake::state.listings, 2);  // the top's and big's, nothing else held
  // Ahead: 1 + 128 / 4 = 33 of a limit of 34.
  EXPECT_FALSE(store.Full());
  std::vector<size_t> counts;
  size_t plain = 0;
  for (Piece* piece = &big->first; piece; piece = piece->next) {
    counts.push_back(piece->count);
    for (size_t i = 0; i < piece->count; ++i) plain += piece->entries[i].plain;
    EXPECT_TRUE(piece->hasJobs);
    if (piece->next) {
      ASSERT_TRUE(Claim(piece->nextState));
      store.ReadOn(big.get(), piece, true);
      EXPECT_TRUE(store.Full());
    }
  }
  EXPECT_EQ(counts, (std::vector<size_t>{128, 128, 45}));
  EXPECT_EQ(plain, 300u);
  EXPECT_TRUE(top->first.byWalk);
  EXPECT_FALSE(big->first.byWalk);
  // The walk's own pieces never counted; of big's (78 ahead), reaching the
  // second brings the weight under the limit, and only that one says so.
  EXPECT_FALSE(store.Reached(&top->first));
  EXPECT_FALSE(store.Reached(&big->first));
  EXPECT_TRUE(store.Full());
  EXPECT_TRUE(store.Reached(big->first.next));
  EXPECT_FALSE(store.Reached(big->first.next->next));
  EXPECT_FALSE(store.Full());
  // A later piece lets its entries go once both the walk and its reader did.
  Piece* later = big->first.next;
  ListingStore::LetGo(later, kWalkPassed);
  EXPECT_TRUE(later->entries);
  ListingStore::LetGo(later, kWorkerThrough);
  EXPECT_FALSE(later->entries);
  EXPECT_TRUE(later->names.empty());
  // Listing ahead stops for good.
  EXPECT_TRUE(store.Room());
  store.Stop();
  EXPECT_FALSE(store.Room());
}

// A folder's path is kept only while an exclusion can still match below it.
TEST_F(SharedWalkParts, PathsAreKeptWithinTheExclusionsReach) {
  const size_t reach = ExclusionReach();
  fake::Add(L"C:\\t\\ab\\x", true);
  for (size_t length : {reach - 4, reach - 3, reach - 1, reach}) {
    SCOPED_TRACE(length);
    ListingStore store(64);
    const std::wstring path = L"/" + std::wstring(length - 2, L't') + L"/";
    FolderHold top = OpenTop(store, path), child;
    EXPECT_EQ(top->pathKnown, length < reach);
    uint32_t failure = 0;
    ASSERT_EQ(store.Open(top.get(), top->first.entries[0], L"ab", plat::kAttrDirectory, false, child, failure),
              Listed);
    EXPECT_TRUE(child->first.byWalk);
    // "ab" and its separator.
    EXPECT_EQ(child->pathKnown, length + 3 < reach);
    if (child->pathKnown) {
      EXPECT_EQ(child->path, path + L"ab" + ItemSeparator);
    }
  }
}

// Going alone, the walk closes what workers listed ahead, however deep.
TEST_F(SharedWalkParts, EvictClosesEverythingListedBelow) {
  fake::Add(L"C:\\t\\a\\b\\c\\d", true);
  fake::Add(L"C:\\t\\a\\b2\\x", true);
  for (int i = 0; i < 130; ++i) fake::Add(L"C:\\t\\a\\w\\d" + std::to_wstring(1000 + i) + L"\\y", true);
  ListingStore store(1000);
  FolderHold top = OpenTop(store);
  // Lists every plain entry of `folder`, ahead, depth first.
  std::function<void(Folder*)> listAll = [&](Folder* folder) {
    for (Piece* piece = &folder->first; piece; piece = piece->next) {
      for (size_t i = 0; i < piece->count; ++i) {
        Entry& entry = piece->entries[i];
        FolderHold made;
        ASSERT_TRUE(Claim(entry.state));
        const uint8_t state =
            store.Open(folder, entry, piece->NameOf(entry), plat::kAttrDirectory, true, made, entry.failure);
        if (state == Listed) listAll(made.get());
        entry.folder = made.Release();
        entry.state.store(state);
      }
      if (piece->next && Claim(piece->nextState)) store.ReadOn(folder, piece, true);
    }
  };
  listAll(top.get());
  EXPECT_EQ(fake::state.listings, 136);  // top, a, b, c, b2, w and w's 130 folders
  Entry& a = top->first.entries[0];
  ListingStore::Evict(FolderHold::Adopt(std::exchange(a.folder, nullptr)));
  EXPECT_EQ(fake::state.listings, 1);
}

// The last hold on a folder closes it; a hold moved keeps it open.
TEST_F(SharedWalkParts, TheLastHoldClosesTheFolder) {
  fake::Add(L"C:\\t\\a\\x", true);
  ListingStore store(64);
  FolderHold top = OpenTop(store), a;
  uint32_t failure = 0;
  ASSERT_EQ(store.Open(top.get(), top->first.entries[0], L"a", plat::kAttrDirectory, false, a, failure), Listed);
  FolderHold second = FolderHold::Add(a.get());
  FolderHold moved = std::move(a);
  EXPECT_EQ(a.get(), nullptr);
  moved.Reset();
  EXPECT_EQ(fake::state.listings, 2);
  second = FolderHold();
  EXPECT_EQ(fake::state.listings, 1);
}

}  // namespace

// A worker wakes the walk before it makes a removal, and again once it is
// made: the walk may wait for what the worker published before, or for the
// removal, while the worker goes on to other work. Held here until the walk
// is woken: the removal itself, or the worker's next job after it.
TEST_F(SharedWalkParts, AWorkerWakesTheWalkAroundARemoval) {
  const uint32_t deleting = DeleteEnabled;
  for (bool after : {false, true}) {
    SCOPED_TRACE(after);
    fake::Reset();
    fake::Add(L"C:\\t\\_TD4000050\\f", false);
    fake::Add(L"C:\\t\\j\\k", true);
    DeleteEnabled = 1;
    std::atomic<bool> walkWoken = false, timedOut = false;
    auto untilWoken = [&] { timedOut = timedOut || !Within([&] { return walkWoken.load(); }); };
    using C = fake::Call;
    fake::state.faults.push_back({{.call = C::Remove, .path = L"C:\\t\\_TD4000050\\f",
                                   .before = after ? std::function<void()>([] { std::this_thread::sleep_for(100ms); })
                                                   : std::function<void()>(untilWoken)}, 0});
    if (after) fake::state.faults.push_back({{.call = C::ListChild, .path = L"C:\\t\\j", .before = untilWoken}, 0});
    ListingStore store(64);
    JobBoard board(2, 4);
    FolderHold top = OpenTop(store);
    Task task;
    task.folder = FolderHold::Add(top.get());
    task.name = L"_TD4000050";
    task.path = L"C:\\t\\_TD4000050";
    task.scope.segment = ReserveOutput();
    fake::state.threads = true;
    {
      Workers crew(store, board, 1);
      ASSERT_TRUE(Within([&] { return board.Sleeping() != 0; }));
      // Once the walk sleeps: the removal, then a job for after it.
      std::thread walkHandsOut([&] {
        Within([&] { return board.WalkWaits(); });
        board.Queue(&task);
        board.Offer(1, &top->first);
      });
      auto ready = [&] { return after && task.state.load() != TaskWaiting; };
      do board.WalkSleepsUnless(ready);
      while (after && !ready());
      walkWoken = true;
      walkHandsOut.join();
      EXPECT_TRUE(Within([&] { return task.state.load() != TaskWaiting; }));
      crew.Stop();
    }
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(task.state.load(), TaskDone);
    EXPECT_FALSE(fake::Exists(L"C:\\t\\_TD4000050"));
    WriteCompletedOutput();
    Entry& j = top->first.entries[1];
    if (j.state.load() == Listed) FolderHold::Adopt(j.folder).Reset();
  }
  DeleteEnabled = deleting;
}

// As many workers start as asked, or as many as the system lets start.
TEST_F(SharedWalkParts, WorkersStartAsManyAsTheSystemLets) {
  for (int failing : {0, 3}) {
    SCOPED_TRACE(failing);
    fake::Reset();
    fake::state.threads = true;
    if (failing) fake::state.faults.push_back({{.call = fake::Call::ThreadStart, .nth = failing}, 0});
    ListingStore store(64);
    JobBoard board(4, 4);
    Workers crew(store, board, 3);
    const size_t started = failing ? failing - 1 : 3;
    EXPECT_TRUE(crew.Started());
    EXPECT_TRUE(Within([&] { return board.Sleeping() == started; }));
    crew.Stop();
    EXPECT_EQ(board.Sleeping(), 0u);
  }
}

// One worker, started once the walk's top is listed; `top`'s first piece is
// offered to it once the walk sleeps, when `whenAsleep`.
struct OneWorker {
  ListingStore store;
  JobBoard board{2, 4};
  FolderHold top;
  std::unique_ptr<Workers> crew;
  explicit OneWorker(size_t aheadLimit) : store(aheadLimit), top(OpenTop(store)) {
    fake::state.threads = true;
    crew = std::make_unique<Workers>(store, board, 1);
    EXPECT_TRUE(Within([&] { return board.Sleeping() == 1; }));
  }
  // Stops the worker and closes what it listed ahead.
  ~OneWorker() {
    store.Stop();
    crew->Stop();
    for (size_t i = 0; i < top->first.count; ++i) {
      Entry& entry = top->first.entries[i];
      if (entry.state.load() == Listed) ListingStore::Evict(FolderHold::Adopt(entry.folder));
    }
  }
};

// A worker listing for long wakes the walk every kWakeEvery pieces and
// once more before it sleeps: the walk, which may wait for any of them, is
// neither left asleep meanwhile nor woken for each.
TEST_F(SharedWalkParts, AWorkerListingWakesTheWalkEveryFewPieces) {
  for (int i = 0; i < 300; ++i) fake::Add(L"C:\\t\\e\\d" + std::to_wstring(1000 + i), true);
  OneWorker one(kAheadLimit);
  std::atomic<size_t> wakes = 0;
  // e, its 300 folders and the two rests of its listing: a wake at 128, at
  // 256, and before it sleeps. Between two, the worker lets the walk count
  // the first and fall asleep again.
  auto counted = [&](size_t count) {
    return [&, count] { Within([&] { return wakes >= count && one.board.WalkWaits(); }); };
  };
  for (auto [between, count] : {std::pair{L"C:\\t\\e\\d1140", 1}, std::pair{L"C:\\t\\e\\d1270", 2}})
    fake::state.faults.push_back({{.call = fake::Call::ListChild, .path = between, .before = counted(count)}, 0});
  std::atomic<bool> finished = false;
  std::thread helper([&] {
    Within([&] { return one.board.WalkWaits(); });
    one.board.Offer(1, &one.top->first);
    Within([&] { return one.top->first.entries[0].state.load() == Listed && one.board.Sleeping() == 1 && wakes >= 3; });
    finished = true;
    while (one.board.WalkWaits() || !finished) one.board.WakeWalk();
  });
  while (!finished) {
    one.board.WalkSleepsUnless([&] { return finished.load(); });
    if (!finished) ++wakes;
  }
  helper.join();
  EXPECT_GE(wakes, 3u);
  EXPECT_LE(wakes, 5u);
}

// At the bound a worker waits for the walk, holding no more folders open.
TEST_F(SharedWalkParts, AWorkerWaitsAtTheBound) {
  for (int i = 0; i < 40; ++i) fake::Add(L"C:\\t\\e\\d" + std::to_wstring(1000 + i) + L"\\x", true);
  OneWorker one(8);
  one.board.Offer(1, &one.top->first);
  // e weighs 1 + 40 / 4: the store is full once it is listed.
  EXPECT_TRUE(
      Within([&] { return one.top->first.entries[0].state.load() == Listed && one.board.Sleeping() == 1; }));
  EXPECT_TRUE(one.store.Full());
  EXPECT_EQ(fake::state.listings, 2);  // the top and e, nothing below e
}

// The removal line hands out in order and settles only from its front; it
// knows a directory being removed by its latest task.
TEST_F(SharedWalkParts, TheRemovalLineSettlesInOrder) {
  const uint32_t deleting = DeleteEnabled;
  DeleteEnabled = 1;
  fake::state.identities = true;
  fake::Add(L"C:\\t\\_TD4000051\\f", false);
  fake::Add(L"C:\\t\\_TD4000052", true);
  ListingStore store(64);
  FolderHold top = OpenTop(store);
  auto identity = [&](const wchar_t* name) {
    plat::FileIdentity id;
    EXPECT_TRUE(plat::IdentityAt(top->listing, name, L"", id));
    return IdentityKey{id.volume, id.file, id.fileHigh};
  };
  const IdentityKey first = identity(L"_TD4000051"), second = identity(L"_TD4000052");
  {
    RemovalLine line;
    ItemScope judged;
    Task* a = line.HandOut(judged, top.get(), L"_TD4000051", L"C:\\t\\_TD4000051", false);
    Task* b = line.HandOut(judged, top.get(), L"_TD4000052", L"C:\\t\\_TD4000052", true);
    Task* c = line.HandOut(judged, top.get(), L"_TD4000051", L"C:\\t\\_TD4000051", false);
    auto done = [](Task* task) {
      CompleteOutput(std::exchange(task->scope.segment, nullptr));
      task->state = TaskDone;
    };
    EXPECT_EQ(line.Removing(first), c);
    EXPECT_EQ(line.Removing(second), b);
    EXPECT_TRUE(line.BehindLink());
    done(b);
    line.Settle();
    EXPECT_EQ(line.Front(), a);
    EXPECT_TRUE(line.BehindLink());
    done(a);
    line.Settle();
    EXPECT_EQ(line.Front(), c);
    EXPECT_EQ(line.Removing(first), c);
    EXPECT_EQ(line.Removing(second), nullptr);
    EXPECT_FALSE(line.BehindLink());
    line.MakeAll(store, judged);
    EXPECT_TRUE(line.Empty());
    EXPECT_EQ(line.Removing(first), nullptr);
    EXPECT_FALSE(fake::Exists(L"C:\\t\\_TD4000051"));
    EXPECT_TRUE(fake::Exists(L"C:\\t\\_TD4000052"));
  }
  WriteCompletedOutput();
  DeleteEnabled = deleting;
}
