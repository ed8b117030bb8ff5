// "quenlo-cli clean": the history cleaner from the command line. "analyze"
// lists what a clean would remove; "run" cleans and reports what went,
// checked against a second analysis.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "app/cli/uCli.h"
#include "cleaner/uCleanCategories.h"

// The run's result is only named here: uCli.cpp includes this header
// beside the scanner's and needs none of the engine.
namespace quenlo {
struct TCleanRunResult;
}

namespace quenlo::cli {

struct TCleanOptions {
  bool run = false;            // "run": analysis, clean, analysis; else one analysis
  TCleanCategories categories; // with categoriesGiven; else the settings' selection
  bool categoriesGiven = false;
  bool json = false;
  // "--delete-downloaded-files": the download categories also delete the
  // files the download lists name.
  bool deleteDownloadedFiles = false;
};

// "analyze" or "run", then "--category N" (repeatable; a number 0-42 or a
// settings key, also "--category=N"), "--delete-downloaded-files" and
// "--json". False with the reason
// for bad usage.
bool ParseCleanOptions(const std::vector<std::string> &args, TCleanOptions &options,
                       std::string &message);

// Per category a line "caption: outcome, N found|removed, size" (no count
// for a category not found or failed, no sizes where the category has
// none), its findings indented with their sizes, then what was kept and what failed
// with the reasons; a total line and the files left for a restart (a pass
// that did not end goes to the error stream). Names keep to one line
// (control characters escaped).
void PrintCleanText(const TCleanRunResult &result, std::ostream &out);

// Exit code 0 when every selected category was done, 1 when something was
// not, 2 for bad usage. Progress goes to the error stream.
int CommandClean(const std::vector<std::string> &args, TCliStreams streams);

} // namespace quenlo::cli
