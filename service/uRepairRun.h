// One repair run as every front end runs it: which findings are selected,
// the loop that repairs them (each change saved first in the undo folder by
// the scanner), what became of each, the per-category summary of the repair
// report, and the repair count stored in the settings.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <set>
#include <string>

#include "scanner/uRegScanner.h"

namespace quenlo::service {

struct TRepairSelection {
  TCategorySet categories = AllCategories;
  std::set<int> testIds; // empty: every test
};

// Checks exactly the findings the selection names and unchecks every other
// one; returns how many are checked.
int SelectFindings(TRegScanner &scanner, const TRepairSelection &selection);

enum TRepairOutcome : std::uint8_t {
  roRepaired = 0,
  roFailed = 1,
  // Marked to be ignored (its Repaired flag set): passed to the scanner,
  // which changes nothing, and not counted as a repair.
  roLeftAlone = 2
};

// What became of one finding; the error is borrowed from the scanner's list
// and is valid only while the item is being delivered.
struct TRepairItem {
  const TRegError *error = nullptr;
  TRepairOutcome outcome = roRepaired;
  std::string errorText; // the scanner's reason for a failure
};
using TRepairItemEvent = std::function<void(const TRepairItem &item)>;

// One row of the repair report.
struct TCategoryRepairSummary {
  int found = 0;     // the category's findings, checked or not
  int leftAlone = 0; // marked to be ignored, plus failed repairs
  int repaired = 0;
};

struct TRepairRunResult {
  std::array<TCategoryRepairSummary, CategoryCount> categories{};
  int found = 0;
  int repaired = 0;
  int failed = 0;
  int leftAlone = 0; // includes the failures
};

// Repairs the checked findings, categories 0 to 23 and list order within a
// category; findings marked to be ignored count as left alone, unchecked
// ones are skipped. A failed repair never stops the loop. Every finding
// handled is delivered to onItem (when given) right after its repair, so a
// window can advance its progress and pump its messages there; onItem must
// not add or remove findings. A repaired finding gets its Repaired flag, so
// a second run leaves it alone.
TRepairRunResult RepairSelected(TRegScanner &scanner, const TRepairItemEvent &onItem = nullptr);

// Stores the run's repair count and date in the settings. A run that tried
// no repair leaves the settings alone and succeeds.
[[nodiscard]] bool RecordRepairRun(const TRepairRunResult &run, std::string &errorText);

} // namespace quenlo::service
