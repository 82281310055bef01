// Helpers for the end-to-end cases: real temporary trees and expected lines.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/target.h"

namespace e2e {

// A process id that no process has on either build.
inline constexpr uint32_t kDeadPid = 5000000;

// A temporary tree for one test, removed afterwards.
class TreeTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The POSIX path of `relative` inside the tree; parents are created.
  std::string Dir(const std::string& relative);
  std::string File(const std::string& relative);
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }
  // How the build's command line names `relative` inside the tree.
  std::string Arg(const std::string& relative = "") const {
    return relative.empty() ? ArgPath(root_) : ArgPath(root_ + "/" + relative);
  }
  bool Exists(const std::string& relative) const;
  std::string root_;
};

// `value` in hexadecimal: "%08X" with `width` 8, "%x" with width 0.
std::string Hex(uint32_t value, int width = 0);

// Each text followed by the build's line end.
std::string Lines(const std::vector<std::string>& texts);
// An error line and the empty line after it.
std::string ErrorLine(const std::string& text);
// An error line about `argument` with the platform's text for `code`.
std::string SystemErrorLine(const std::string& argument, uint32_t code);
// The 13 usage lines.
std::string Usage();
// The output without a first "STARTED AT TIME: " and a last "FINISHED AT
// TIME: " line; fails the test when either is missing.
std::string WithoutTimeLines(const std::string& output);
// The lines of `output`, sorted, for trees whose listing order is the file system's.
std::vector<std::string> SortedLines(const std::string& output);

}  // namespace e2e
