// "quenlo-cli undo": lists, restores and purges the undo backups that repairs
// left in the undo folder.
#pragma once

#include <string>
#include <vector>

#include "app/cli/uCli.h"
#include "scanner/uRegScanner.h"

namespace quenlo::cli {

// Runs "days", "entries DAY", "restore DAY [ENTRY]..." or "purge" on a
// scanner whose undo folder is set; deleteAfterWeek is the purge setting.
int RunUndo(TRegScanner &scanner, const std::vector<std::string> &args, bool deleteAfterWeek,
            TCliStreams streams);

int CommandUndo(const std::vector<std::string> &args, TCliStreams streams);

} // namespace quenlo::cli
