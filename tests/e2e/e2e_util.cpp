// Temporary trees and expected lines for the end-to-end cases.
#include "e2e/e2e_util.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace e2e {

void TreeTest::SetUp() {
  char pattern[] = "/tmp/sweepdirs-e2e-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  root_ = pattern;
}

void TreeTest::TearDown() {
  // Make anything a test locked writable again, then remove the tree.
  std::string command = "chmod -R u+rwx '" + root_ + "' 2>/dev/null; rm -rf '" + root_ + "'";
  if (std::system(command.c_str()) != 0) ADD_FAILURE() << "could not remove " << root_;
}

std::string TreeTest::Dir(const std::string& relative) {
  std::filesystem::create_directories(Path(relative));
  return Path(relative);
}

std::string TreeTest::File(const std::string& relative) {
  const std::string path = Path(relative);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path) << "data\n";
  return path;
}

bool TreeTest::Exists(const std::string& relative) const {
  struct stat st;
  return lstat(Path(relative).c_str(), &st) == 0;
}

std::string Hex(uint32_t value, int width) {
  char text[16];
  if (width)
    std::snprintf(text, sizeof text, "%0*X", width, value);
  else
    std::snprintf(text, sizeof text, "%x", value);
  return text;
}

std::string Lines(const std::vector<std::string>& texts) {
  std::string out;
  for (const std::string& text : texts) out += text + Eol();
  return out;
}

std::string ErrorLine(const std::string& text) { return "ERROR: " + text + Eol() + Eol(); }

std::string SystemErrorLine(const std::string& argument, uint32_t code) {
  return "ERROR: " + argument + " : " + SystemText(code) + Eol();
}

std::string Usage() {
  return Lines({
      "sweepdirs [/userlog]|[/alllogs] [/v volume(s)] [/d dir(s)] [/list] [/verbose]",
      "/v volume     Volume to search for removal of KEL generated directories. When",
      "              specifying more than one volume separate them with spaces.",
      "/userlog      Clean any KEL generated log files in current",
      "              users Application Data\\KEL\\LOGS directory.",
      "/alllogs      Cleans all users Application Data\\KEL\\LOGS directories.",
      "              This option will require administrator privileges.",
      "/list         List all files to be deleted. This option will not",
      "              delete any files or folders.",
      "/d dir(s)     Clean any KEL generated directories in the specified directory(s)",
      "              where dir(s) are Windows or UNC paths to one or more directories.",
      "              Paths need to be separated by a space i.e. /d path1 path2...",
      "/verbose      Shows a trace of program's activity.",
  });
}

std::string WithoutTimeLines(const std::string& output) {
  const std::string start = "STARTED AT TIME: ", finish = "FINISHED AT TIME: ";
  const std::string eol = Eol();
  if (output.compare(0, start.size(), start) != 0) {
    ADD_FAILURE() << "no start line in:\n" << output;
    return output;
  }
  const size_t firstEnd = output.find(eol);
  // The finishing line is the last line.
  const size_t lastStart = output.rfind(eol, output.size() - eol.size() - 1);
  if (firstEnd == std::string::npos || lastStart == std::string::npos ||
      output.compare(lastStart + eol.size(), finish.size(), finish) != 0) {
    ADD_FAILURE() << "no finishing line in:\n" << output;
    return output;
  }
  // Both times are non-empty and hold no line end of their own.
  EXPECT_GT(firstEnd, start.size());
  EXPECT_GT(output.size() - eol.size(), lastStart + eol.size() + finish.size());
  if (lastStart < firstEnd) return std::string();
  return output.substr(firstEnd + eol.size(), lastStart + eol.size() - (firstEnd + eol.size()));
}

std::vector<std::string> SortedLines(const std::string& output) {
  std::vector<std::string> lines;
  const std::string eol = Eol();
  size_t at = 0;
  while (at < output.size()) {
    size_t end = output.find(eol, at);
    if (end == std::string::npos) end = output.size();
    lines.push_back(output.substr(at, end - at));
    at = end + eol.size();
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

}  // namespace e2e
