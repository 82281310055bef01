// End to end, Windows build under Wine only: what the Windows layer and the Wine target add.
#include <unistd.h>

#include "e2e/e2e_util.h"

namespace e2e {
namespace {

constexpr uint32_t kInvalidParameter = 0xC0020001u;
constexpr uint32_t kLinkNotRemovable = 50;  // ERROR_NOT_SUPPORTED, from the Windows layer

// Each argument reaches sweepdirs.exe as it was given (it comes back in the
// error line), and the run status comes back with all its 32 bits.
TEST(Wine, ArgumentsAndTheRunStatusArriveWhole) {
  // Upper case only: the parser upper-cases what it reads in place.
  const char* const kArguments[] = {
      "/X",
      "/WITH BLANK",
      "/QUOTE\"INSIDE",
      "/TRAILING\\",
      "/BLANK AND TRAILING\\",
      "/\\\\\"",
      "/T\xC3\xA9ST\xE2\x82\xAC\xF0\x9F\x98\x80",  // é, €, and one beyond the 16-bit range
  };
  for (const char* argument : kArguments) {
    SCOPED_TRACE(argument);
    RunResult result = RunSweepdirs({argument});
    EXPECT_EQ(result.output, ErrorLine(std::string("Invalid parameter detected: ") + argument));
    EXPECT_EQ(result.exitCode, kInvalidParameter);
  }
}

class WineTree : public TreeTest {
 protected:
  std::string Stale() const { return "_TD" + std::to_string(kDeadPid) + "_" + HostName() + "_"; }
};

// Wine opens what a POSIX link leads to even when asked for the link, and
// deletes the target through such a handle (DeleteFileW included): the link
// must then stay, with an error line, and its target be left whole.
TEST_F(WineTree, LinksInAStaleAreaKeepTheirTargets) {
  enum Target { kEmptyFolder, kFullFolder, kFile };
  struct Case {
    const char* name;
    Target target;
    bool linkIsTheArea;  // the stale area itself is the link
  };
  const Case kCases[] = {
      {"link to an empty folder inside", kEmptyFolder, false},
      {"link to a full folder inside", kFullFolder, false},
      {"link to a file inside", kFile, false},
      {"stale area linked to an empty folder", kEmptyFolder, true},
      {"stale area linked to a full folder", kFullFolder, true},
  };
  int n = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string base = "c" + std::to_string(n++);
    const std::string target = base + "/target";
    if (c.target == kFile) {
      File(target);
    } else {
      Dir(target);
      if (c.target == kFullFolder) File(target + "/sub/precious.txt");
    }
    const std::string area = base + "/scan/" + Stale();
    const std::string link = c.linkIsTheArea ? area : area + "/link";
    Dir(c.linkIsTheArea ? base + "/scan" : area);
    ASSERT_EQ(symlink(Path(target).c_str(), Path(link).c_str()), 0);

    RunResult result = RunSweepdirs({"/d", Arg(base + "/scan")});
    EXPECT_EQ(result.output, SystemErrorLine(ArgPath(Path(link)), kLinkNotRemovable));
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_TRUE(Exists(link));
    EXPECT_TRUE(Exists(target));
    if (c.target == kFullFolder) {
      EXPECT_TRUE(Exists(target + "/sub/precious.txt"));
    }
  }
}

// Redirected output is UTF-8, whatever the characters of a path.
TEST_F(WineTree, RedirectedOutputIsUtf8) {
  const std::string folder = "w\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  Dir(folder + "/" + Stale());
  RunResult result = RunSweepdirs({"/list", "/verbose", "/d", Arg(folder)});
  EXPECT_EQ(WithoutTimeLines(result.output),
            Lines({"FOUND: " + Arg(folder) + "\\" + Stale() + "   This process is not active.",
                   "No files were deleted."}));
}

// A drive letter of the prefix leads to the folder it was made for.
TEST_F(WineTree, DriveForNamesTheFolder) {
  Dir("root/" + Stale());
  const std::string drive = DriveFor(Path("root"));
  ASSERT_EQ(drive.size(), 1u);
  EXPECT_EQ(DriveFor(Path("root")), drive);
  RunResult result = RunSweepdirs({"/d", drive + ":\\"});
  EXPECT_EQ(result.output, "");
  EXPECT_FALSE(Exists("root/" + Stale()));
}

// A running KEL.EXE is seen with the process id StartKel gave, and not once stopped.
TEST_F(WineTree, KelIsSeenUntilItStops) {
  const uint32_t pid = StartKel();
  const std::string area = "_TD" + std::to_string(pid) + "_" + HostName() + "_";
  Dir("w/" + area);
  RunResult result = RunSweepdirs({"/d", Arg("w")});
  EXPECT_TRUE(Exists("w/" + area));
  StopKel(pid);
  result = RunSweepdirs({"/d", Arg("w")});
  EXPECT_FALSE(Exists("w/" + area));
}

}  // namespace
}  // namespace e2e
