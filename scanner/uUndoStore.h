// The scanner's side of the undo folder: what a restore reports. The
// folder's vocabulary (the clock that names backups, day and backup names,
// index lines and the text-file helpers) and the protocol every change
// follows live in undo/; they are included here so that the scanner's
// callers see them through scanner/uRegScanner.h. The operations on the
// folder are members of TRegScanner (uRepair.cpp, uUndoStore.cpp).
#pragma once

#include <string>
#include <vector>

#include "undo/uUndoIndex.h"
#include "undo/uUndoTime.h"

namespace quenlo {

// The result of a restore: index lines played back, those left for a
// later try because an import failed, and those refused (kept, never
// played back) because their backup name is not one the repair writes.
struct TRestoreSummary {
  int restored = 0;
  int failed = 0;
  int refused = 0;
  int missing = 0; // lines whose backup files are not there
  // Set when the day's index could not be locked, read or rewritten. Lines
  // restored before a failed rewrite stay in the index: playing them again
  // gives the same registry.
  std::string error;
};

// What a purge did with the backup days. Only a day whose index date was
// read and proves it older than a week is given up; a date that cannot be
// read proves nothing, so that day stays.
struct TPurgeSummary {
  std::vector<std::string> recycled;    // moved to the recycle bin
  std::vector<std::string> undated;     // kept: its index date cannot be read
  std::vector<std::string> notRecycled; // old enough, but the move failed
};

} // namespace quenlo
