// "quenlo-cli hives": saves every loaded hive to a folder, compares a
// folder's copies with the live hives, and restores hives from a folder
// (Windows takes them at the next restart).
#pragma once

#include <string>
#include <vector>

#include "app/cli/uCli.h"

namespace quenlo::cli {

// "backup FOLDER", "compare FOLDER" or "restore FOLDER"; "full-backup" and
// "full-restore": the full registry backup in the settings folder and its
// restore, as the settings page makes them. Each with an optional "--json". 0 when everything asked was done, 1 when not (each
// hive left out is named with its reason), 2 for bad usage.
int CommandHives(const std::vector<std::string> &args, TCliStreams streams);

} // namespace quenlo::cli
