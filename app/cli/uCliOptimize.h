// "quenlo-cli settings optimize get [NAME]" and "settings optimize set NAME
// VALUE": the optimizer page's system settings in the page's units.
#pragma once

#include <string>
#include <vector>

#include "app/cli/uCli.h"

namespace quenlo::cli {

// args after "optimize". 0 when everything asked was read or written, 1 when
// not, 2 for bad usage.
int CommandOptimize(const std::vector<std::string> &args, TCliStreams streams);

} // namespace quenlo::cli
