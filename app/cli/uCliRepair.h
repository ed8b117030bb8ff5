// "quenlo-cli repair": scans, then repairs the selected findings with undo
// backups, in the order the results page uses.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "app/cli/uCli.h"
#include "app/cli/uCliScan.h"
#include "scanner/uRegScanner.h"

namespace quenlo::cli {

struct TRepairOptions {
  TScanOptions scan;
  std::set<int> testIds; // empty: every test
};

bool ParseRepairOptions(const std::vector<std::string> &args, TRepairOptions &options,
                        std::string &message);

// Scan, selection and repair on a prepared scanner (undo folder, ignore list
// and checks set), each repair printed as it is done. Exit code 0 when the
// scan completed and every selected repair succeeded, else 1.
int RunRepair(TRegScanner &scanner, const TRepairOptions &options, TCliStreams streams);

int CommandRepair(const std::vector<std::string> &args, TCliStreams streams);

} // namespace quenlo::cli
