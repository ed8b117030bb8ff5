// The undo backups as every front end offers them: the days with their
// entries, restore of a whole day or of named entries (refused when the day
// or an entry does not exist), and the purge of days older than a week.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scanner/uRegScanner.h"

namespace quenlo::service {

// The undo folder the program uses: "Undo" in the per-user settings folder.
std::string StandardUndoFolder();

struct TUndoDay {
  std::string name; // "yyyy-mm-dd"
  int entryCount = 0;
};

// The days of the scanner's undo folder, oldest first.
std::vector<TUndoDay> UndoDays(const TRegScanner &scanner);

// The entries of a day (compared without case); false for a day without
// backups.
[[nodiscard]] bool UndoDayEntries(const TRegScanner &scanner, const std::string &day,
                                  std::vector<std::string> &entries);

enum TUndoRefusal : std::uint8_t {
  urNone = 0,
  urUnknownDay = 1,   // the undo folder has no backups for the day
  urUnknownEntry = 2, // a named entry is not in the day's index
};

struct TUndoRestoreResult {
  TUndoRefusal refusal = urNone;
  std::string unknownEntry; // with urUnknownEntry: the first one named
  TRestoreSummary summary;  // nothing is restored when refused
  bool Accepted() const { return refusal == urNone; }
};

// Plays back the day's backups of the named entries (all of the day when
// none are named), newest first. Every name is checked before anything is
// played back. The scanner's results are dropped afterwards: they no longer
// describe the registry.
[[nodiscard]] TUndoRestoreResult RestoreUndoEntries(TRegScanner &scanner, const std::string &day,
                                                    const std::vector<std::string> &entries);

struct TUndoPurgeResult {
  std::vector<std::string> removedDays; // moved to the recycle bin, oldest first
  std::vector<std::string> undatedDays; // kept: their index date cannot be read
  std::vector<std::string> failedDays;  // older than a week, but still there
  int daysLeft = 0;
};

// With deleteAfterWeek (the setting of that name), moves the days whose
// index is more than a week old to the recycle bin. A day whose index date
// cannot be read is kept: nothing proves its age.
[[nodiscard]] TUndoPurgeResult PurgeUndoDays(TRegScanner &scanner, bool deleteAfterWeek);

} // namespace quenlo::service
