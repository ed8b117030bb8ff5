// "quenlo-cli tweaks list|set|defaults": the system tweaks of the optimizer
// page, listed, set one at a time or put back to their OS defaults.
#pragma once

#include <string>
#include <vector>

#include "app/cli/uCli.h"

namespace quenlo::cli {

int CommandTweaks(const std::vector<std::string> &args, TCliStreams streams);

} // namespace quenlo::cli
