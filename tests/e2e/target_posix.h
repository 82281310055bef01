// POSIX build only: what the hostile-tree cases add to a run of sweepdirs.
#pragma once

#include <string>
#include <vector>

#include "e2e/target.h"

namespace e2e {

struct RunSetting {
  std::vector<std::string> environment;  // NAME=value, added for this run
  std::string shellPrelude;              // run as root in a private mount namespace first
};

RunResult RunSweepdirsWith(const RunSetting& setting, const std::vector<std::string>& args);

}  // namespace e2e
