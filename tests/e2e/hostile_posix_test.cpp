// The hostile-tree suite: trees built to trick an elevated sweepdirs into
// removing what is not stale. After every scenario a victim tree outside the
// swept area must be exactly as it was.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "e2e/e2e_util.h"
#include "e2e/target_posix.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

int scenariosRun = 0, victimsIntact = 0, wrongRemovals = 0;

// Everything about a tree that a removal could change: names, kinds, contents.
std::string Digest(const std::string& root) {
  std::vector<std::string> items;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const fs::file_status status = it->symlink_status();
    std::string item = it->path().string() + "|" + std::to_string(static_cast<int>(status.type()));
    if (status.type() == fs::file_type::regular) {
      std::ifstream in(it->path(), std::ios::binary);
      std::ostringstream content;
      content << in.rdbuf();
      item += "|" + content.str();
    }
    items.push_back(item);
  }
  std::sort(items.begin(), items.end());
  std::string digest;
  for (const std::string& item : items) digest += item + "\n";
  return digest;
}

class Hostile : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    stale_ = "_TD" + std::to_string(kDeadPid);
    File("victim/precious.txt");
    File("victim/_TD" + std::to_string(kDeadPid) + "/inside.txt");  // stale-looking, but not in the swept area
    File("victim/app.4c4b40.x.log");
    File("victim/deeper/more.txt");
    Dir("hold");
    victimDigest_ = Digest(Path("victim"));
    ++scenariosRun;
  }
  void TearDown() override {
    const bool intact = Digest(Path("victim")) == victimDigest_;
    ++(intact ? victimsIntact : wrongRemovals);
    EXPECT_TRUE(intact) << "the victim tree changed";
    TreeTest::TearDown();
  }
  // A stale work area with a little tree inside.
  void StaleTree(const std::string& at) {
    File(at + "/sub/file.txt");
    File(at + "/sub/deeper/file.txt");
    File(at + "/top.txt");
  }
  RunResult RunRace(const std::string& race, const std::vector<std::string>& args) {
    RunSetting setting;
    setting.environment = {"LD_PRELOAD=" RACE_INTERPOSER, "SWEEPDIRS_TEST_RACE=" + race,
                           "SWEEPDIRS_TEST_VICTIM=" + Path("victim"), "SWEEPDIRS_TEST_HOLD=" + Path("hold"),
                           "ASAN_OPTIONS=verify_asan_link_order=0"};
    return RunSweepdirsWith(setting, args);
  }
  std::string stale_, victimDigest_;
};

// The moments between judging or listing an item and removing it.
TEST_F(Hostile, SwapAtEveryMomentOfTheRemoval) {
  struct Moment {
    std::string race;   // call:name:count
    bool itemGone;      // the work area is gone afterwards
  };
  const std::string dead = std::to_string(kDeadPid);
  const std::vector<Moment> moments = {
      {"fstatat:" + stale_ + ":1", true},    // before its attributes are read: the link goes
      {"unlinkat:" + stale_ + ":1", false},  // before the first removal attempt
      {"openat:" + stale_ + ":1", false},    // before it is opened for emptying
      {"unlinkat:" + stale_ + ":2", false},  // emptied, before it is removed
      {"unlinkat:sub:1", false},             // a child, before its first removal attempt
      {"openat:sub:1", false},               // a child, before it is opened for emptying
      {"openat:deeper:1", false},            // a grandchild
      {"unlinkat:file.txt:1", false},        // a file on the way
  };
  for (const Moment& moment : moments) {
    fs::remove_all(Path("w"));
    StaleTree("w/" + stale_);
    fs::remove_all(Path("hold"));
    Dir("hold");
    RunResult result = RunRace(moment.race, {"/d", Arg("w")});
    EXPECT_EQ(result.exitCode, 0u) << moment.race;
    // The swap happened: the real directory was moved aside into hold.
    EXPECT_FALSE(fs::is_empty(Path("hold"))) << moment.race << ": the program never made that call";
    EXPECT_EQ(Digest(Path("victim")), victimDigest_) << moment.race << "\n" << result.output;
    if (moment.itemGone) {
      EXPECT_FALSE(Exists("w/" + stale_)) << moment.race;
    }
    // Whatever is left in the swept area is at most a link, never the victim's contents.
    EXPECT_FALSE(Exists("w/" + stale_ + "/precious.txt") && !fs::is_symlink(Path("w/" + stale_))) << moment.race;
  }
}

TEST_F(Hostile, SwapperProcessWhileRemoving) {
  std::atomic<bool> stop{false};
  std::atomic<int> swaps{0};
  int rounds = 0;
  for (; rounds < 150; ++rounds) {
    fs::remove_all(Path("w"));
    StaleTree("w/" + stale_);
    const std::string sub = Path("w/" + stale_ + "/sub");
    std::thread swapper([&] {
      const std::string moved = Path("hold/sub-" + std::to_string(rounds));
      while (!stop) {
        if (rename(sub.c_str(), moved.c_str()) == 0) {
          if (symlink(Path("victim").c_str(), sub.c_str()) == 0) ++swaps;
          usleep(50);
          unlink(sub.c_str());
          rename(moved.c_str(), sub.c_str());
        }
      }
    });
    RunResult result = RunSweepdirs({"/d", Arg("w")});
    stop = true;
    swapper.join();
    stop = false;
    EXPECT_EQ(result.exitCode, 0u);
    ASSERT_EQ(Digest(Path("victim")), victimDigest_) << "round " << rounds << "\n" << result.output;
  }
  std::printf("swapper: %d rounds, %d swaps\n", rounds, swaps.load());
  EXPECT_GT(swaps.load(), 100);
}

TEST_F(Hostile, LinksPlantedWhereStaleItemsAre) {
  Dir("w");
  ASSERT_EQ(symlink(Path("victim").c_str(), Path("w/" + stale_).c_str()), 0);
  RunResult result = RunSweepdirs({"/d", Arg("w")});
  EXPECT_EQ(result.output, "");
  EXPECT_FALSE(Exists("w/" + stale_));  // the link itself went

  // The same met on a walk.
  ASSERT_EQ(symlink(Path("victim").c_str(), Path("w/" + stale_).c_str()), 0);
  result = RunSweepdirs({"/v", Arg("w")});
  EXPECT_EQ(result.output, "");
  EXPECT_FALSE(Exists("w/" + stale_));
}

TEST_F(Hostile, LinkedLogFileAndLinkedLogsFolder) {
  LogPlaces places = IsolateLogPlaces();
  fs::remove_all(places.user.posix);
  fs::create_directories(places.user.posix);
  const std::string staleLog = "app.4c4b40.x.log";
  ASSERT_EQ(symlink(Path("victim").c_str(), (places.user.posix + "/" + staleLog).c_str()), 0);
  RunResult result = RunSweepdirs({"/userlog"});
  EXPECT_EQ(result.output, "");
  EXPECT_FALSE(fs::exists(fs::symlink_status(places.user.posix + "/" + staleLog)));

  // The LOGS folder itself a link to the victim: reported, never followed.
  fs::remove_all(places.user.posix);
  ASSERT_EQ(symlink(Path("victim").c_str(), places.user.posix.c_str()), 0);
  result = RunSweepdirs({"/userlog"});
  EXPECT_EQ(result.output, SystemErrorLine(places.user.shown, 40));
  fs::remove(places.user.posix);
}

TEST_F(Hostile, MountPointInsideAStaleTreeIsNeverCrossed) {
  StaleTree("w/" + stale_);
  Dir("w/" + stale_ + "/sub/mnt");
  RunSetting setting;
  setting.shellPrelude = "mount --bind '" + Path("victim") + "' '" + Path("w/" + stale_ + "/sub/mnt") + "'";
  RunResult result = RunSweepdirsWith(setting, {"/d", Arg("w")});
  EXPECT_EQ(result.exitCode, 0u);
  // One error line, naming the mount point; it and its enclosing directories stay.
  EXPECT_EQ(result.output, SystemErrorLine(Arg("w/" + stale_ + "/sub/mnt"), EBUSY)) << result.output;
  EXPECT_TRUE(Exists("w/" + stale_ + "/sub/mnt"));
}

TEST_F(Hostile, UnremovableItemDeepInside) {
  StaleTree("w/" + stale_);
  File("w/" + stale_ + "/sub/deeper/locked.txt");
  const std::string locked = Path("w/" + stale_ + "/sub/deeper");
  if (std::system(("chattr +i '" + locked + "' 2>/dev/null").c_str()) != 0) GTEST_SKIP() << "no chattr +i here";
  RunResult result = RunSweepdirs({"/d", Arg("w")});
  std::system(("chattr -i '" + locked + "'").c_str());
  // Exactly one error line, for the directory that could not go.
  EXPECT_EQ(result.output, SystemErrorLine(Arg("w/" + stale_ + "/sub/deeper"), EPERM));
  EXPECT_TRUE(Exists("w/" + stale_ + "/sub/deeper"));
  EXPECT_TRUE(Exists("w/" + stale_));
}

TEST_F(Hostile, AwkwardNamesAndDepths) {
  const std::string base = "w/" + stale_;
  File(base + "/bad-\xff\xfe-utf8/x");
  File(base + "/new\nline/x");
  File(base + "/" + std::string(255, 'n') + "/x");
  // Chains made relative to each level, so that no path is ever too long:
  // 4,000+ characters of path, and ten thousand levels.
  auto chain = [&](const std::string& top, const std::string& component, int levels) {
    int fd = open(Dir(top).c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < levels && fd >= 0; ++i) {
      mkdirat(fd, component.c_str(), 0755);
      const int next = openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY);
      close(fd);
      fd = next;
    }
    ASSERT_GE(fd, 0);
    close(openat(fd, "file", O_CREAT | O_WRONLY, 0644));
    close(fd);
  };
  chain(base + "/long", std::string(200, 'd'), 22);
  chain(base + "/deep", "d", 10000);
  RunResult result = RunSweepdirs({"/d", Arg("w")});
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_FALSE(Exists(base));
}

TEST_F(Hostile, EntriesComingAndGoingDuringAWalk) {
  const uint32_t live = StartKel();
  Dir("w/_TD" + std::to_string(live) + "/keep");
  for (int i = 0; i < 50; ++i) StaleTree("w/a" + std::to_string(i) + "/" + stale_);
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    for (int i = 0; !stop; ++i) {
      const std::string dir = Path("w/churn" + std::to_string(i % 20));
      mkdir(dir.c_str(), 0755);
      mkdir((dir + "/" + stale_).c_str(), 0755);
      fs::remove_all(dir);
    }
  });
  RunResult result = RunSweepdirs({"/v", Arg("w")});
  stop = true;
  churn.join();
  StopKel(live);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_TRUE(Exists("w/_TD" + std::to_string(live) + "/keep"));
  for (int i = 0; i < 50; ++i) EXPECT_FALSE(Exists("w/a" + std::to_string(i) + "/" + stale_));
}

TEST_F(Hostile, ProcessTableHiddenKeepsEveryCandidate) {
  // /proc covered by an empty file system: no owner can be known to be gone.
  if (SWEEPDIRS_SANITIZED) GTEST_SKIP() << "the leak checker of a sanitized build cannot run without /proc";
  const uint32_t live = StartKel();
  StaleTree("w/" + stale_);
  Dir("w/_TD" + std::to_string(live) + "/keep");
  RunSetting setting;
  setting.shellPrelude = "mount -t tmpfs none /proc";
  RunResult result = RunSweepdirsWith(setting, {"/d", Arg("w")});
  StopKel(live);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(result.output, ErrorLine(std::strerror(ENOENT)) + ErrorLine(std::strerror(ENOENT))) << result.output;
  EXPECT_TRUE(Exists("w/" + stale_ + "/top.txt"));
  EXPECT_TRUE(Exists("w/_TD" + std::to_string(live) + "/keep"));
}

// A running KEL.EXE with a second thread; its ids as the helper printed them.
class ThreadedKel {
 public:
  ThreadedKel() {
    pipe_ = popen("exec '" KEL_THREADS "'", "r");
    if (pipe_ == nullptr || std::fscanf(pipe_, "%u %u", &process, &thread) != 2) ADD_FAILURE() << "no KEL.EXE";
  }
  ~ThreadedKel() {
    if (process != 0) kill(static_cast<pid_t>(process), SIGKILL);
    if (pipe_ != nullptr) pclose(pipe_);
  }
  uint32_t process = 0, thread = 0;

 private:
  FILE* pipe_ = nullptr;
};

using OwnerLookup = TreeTest;

TEST_F(OwnerLookup, ThreadIdOfARunningKelNamesNoProcess) {
  // Process and thread ids share one number space: a work area named after
  // a thread id was made by a process that has ended since.
  ThreadedKel kel;
  ASSERT_NE(kel.thread, kel.process);
  const std::string byThread = "_TD" + std::to_string(kel.thread);
  const std::string byProcess = "_TD" + std::to_string(kel.process);
  File("w/" + byThread + "/f.txt");
  File("w/" + byProcess + "/f.txt");
  RunResult result = RunSweepdirs({"/d", Arg("w")});
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(result.output, "");
  EXPECT_FALSE(Exists("w/" + byThread));
  EXPECT_TRUE(Exists("w/" + byProcess + "/f.txt"));
}

class Summary : public ::testing::Environment {
 public:
  void TearDown() override {
    std::printf("hostile trees: %d scenarios run, %d victims intact, %d items wrongly removed\n", scenariosRun,
                victimsIntact, wrongRemovals);
  }
};
const auto* const summary = ::testing::AddGlobalTestEnvironment(new Summary);

}  // namespace
}  // namespace e2e
