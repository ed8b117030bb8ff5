// The program's entry after the platform is installed: the start-up
// decisions, the window and its pages wired to their logic, the loop.
#pragma once

#include <string>
#include <vector>

namespace quenlo::win {

int RunQuenlo(const std::vector<std::string> &args);

} // namespace quenlo::win
