// "quenlo-cli scan": runs the scanner over the live registry.
#pragma once

#include <string>
#include <vector>

#include "app/cli/uCli.h"
#include "service/uScanRun.h"

namespace quenlo::cli {

struct TScanOptions {
  TCategorySet categories = AllCategories;
  bool categoriesGiven = false;
  bool json = false;
  bool noIgnore = false; // scan without the ignore lists
};

// Parses the scan command's options; false with a message on bad usage.
bool ParseScanOptions(const std::vector<std::string> &args, TScanOptions &options,
                      std::string &message);

// Scans options.categories to the end on this thread, pumping the
// main-thread dispatcher; progress, why a scan stopped and a failure to store
// the statistics of a completed scan go to streams.err. Returns true when
// every requested category completed.
bool RunScan(TRegScanner &scanner, const TScanOptions &options, TCliStreams streams);

// Prepares a scan as the window does (the categories of the command line or
// else the switches of the settings; the ignore lists unless --no-ignore)
// and sets options.categories to the categories chosen. False, with the
// reason on streams.err, when the user's ignore file could not be read.
[[nodiscard]] bool ApplyScanSettings(TRegScanner &scanner, TScanOptions &options,
                                     TCliStreams streams);

void PrintScanText(const TRegScanner &scanner, std::ostream &out);
void PrintScanJson(const TRegScanner &scanner, std::ostream &out);

int CommandScan(const std::vector<std::string> &args, TCliStreams streams);

} // namespace quenlo::cli
