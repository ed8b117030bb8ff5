// "quenlo-cli scan": runs the scanner over the live registry.
#pragma once

#include <string>
#include <vector>

#include "app/cli/uCli.h"
#include "scanner/uRegScanner.h"

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

// Runs a scan to its end on this thread, pumping the main-thread dispatcher;
// progress goes to streams.err. Returns true when every requested category
// completed.
bool RunScan(TRegScanner &scanner, const TScanOptions &options, TCliStreams streams);

// Prepares a scan as the window does: the categories of the command line, or
// else the category switches of the settings; the ignore list built from the
// settings, the permanent keys and the ignore file (none with --no-ignore).
void ApplyScanSettings(TRegScanner &scanner, TScanOptions &options);
// After a completed scan: stores the statistics and the scan date in the
// settings as the window does. A failure is reported on streams.err.
void RecordCompletedScan(const TRegScanner &scanner, TCliStreams streams);

void PrintScanText(const TRegScanner &scanner, std::ostream &out);
void PrintScanJson(const TRegScanner &scanner, std::ostream &out);

int CommandScan(const std::vector<std::string> &args, TCliStreams streams);

} // namespace quenlo::cli
