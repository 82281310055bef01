// End to end: the command line, the usage text, the closing lines, exit codes.
#include "e2e/e2e_util.h"

namespace e2e {
namespace {

TEST(Driver, CommandLineResults) {
  const std::string invalid = "Invalid parameter detected: ";
  struct Case {
    std::vector<std::string> args;
    std::string output;
    uint32_t status;
  } cases[] = {
      {{}, Usage(), 1},
      {{"/?"}, Usage(), 1},
      {{"/x"}, ErrorLine(invalid + "/x"), 0xC0020001u},
      {{"/lisx"}, ErrorLine(invalid + "/LISX"), 0xC0020001u},
      {{"/d", "C:/temp"}, ErrorLine(invalid + "C:/temp"), 0xC0020001u},
      {{"/list", "/x"}, ErrorLine(invalid + "/x"), 0xC0020001u},
      {{"/d"}, ErrorLine("No directory specified."), 0xC0020011u},
      {{"/v", "/list"}, ErrorLine("No volume specified."), 0xC0020010u},
      {{"/list"}, ErrorLine("Program cannot run with just the /list or /verbose option."), 0xC002001Bu},
  };
  for (const Case& c : cases) {
    RunResult result = RunSweepdirs(c.args);
    std::string joined;
    for (auto& a : c.args) joined += a + " ";
    EXPECT_EQ(result.output, c.output) << joined;
    EXPECT_EQ(result.exitCode, ExitFor(c.status)) << joined;
  }
}

TEST(Driver, VerboseFramesTheRunWithTimes) {
  RunResult result = RunSweepdirs({"/verbose", "/?"});
  EXPECT_EQ(WithoutTimeLines(result.output), Usage());
  EXPECT_EQ(result.exitCode, ExitFor(1));

  result = RunSweepdirs({"/verbose", "/x"});
  EXPECT_EQ(WithoutTimeLines(result.output), ErrorLine("Invalid parameter detected: /x"));
  EXPECT_EQ(result.exitCode, ExitFor(0xC0020001u));
}

}  // namespace
}  // namespace e2e
