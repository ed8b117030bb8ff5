// "quenlo-cli settings get|set": reads or changes one key of the settings
// file with the same read-modify-write rule as the window.
#pragma once

#include <string>
#include <vector>

#include "app/cli/uCli.h"

namespace quenlo::cli {

int CommandSettings(const std::vector<std::string> &args, TCliStreams streams);

} // namespace quenlo::cli
