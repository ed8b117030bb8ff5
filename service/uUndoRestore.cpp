#include "service/uUndoRestore.h"

#include <algorithm>

#include "app/uEnvironment.h"
#include "platform/Utf.h"

namespace quenlo::service {

namespace {

bool ContainsNoCase(const std::vector<std::string> &list, const std::string &wanted) {
  return std::any_of(list.begin(), list.end(),
                     [&](const std::string &item) { return qp::EqualsNoCase(item, wanted); });
}

bool KnownDay(const TRegScanner &scanner, const std::string &day) {
  std::vector<std::string> days;
  scanner.BackupDays(days);
  return ContainsNoCase(days, day);
}

} // namespace

std::string StandardUndoFolder() {
  return SettingsPath(UndoFolderTitle);
}

std::vector<TUndoDay> UndoDays(const TRegScanner &scanner) {
  std::vector<std::string> names;
  scanner.BackupDays(names);
  std::vector<TUndoDay> days;
  days.reserve(names.size());
  std::vector<std::string> entries;
  for (std::string &name : names) {
    scanner.DayEntries(name, entries);
    days.push_back({std::move(name), static_cast<int>(entries.size())});
  }
  return days;
}

bool UndoDayEntries(const TRegScanner &scanner, const std::string &day,
                    std::vector<std::string> &entries) {
  entries.clear();
  if (!KnownDay(scanner, day))
    return false;
  scanner.DayEntries(day, entries);
  return true;
}

TUndoRestoreResult RestoreUndoEntries(TRegScanner &scanner, const std::string &day,
                                      const std::vector<std::string> &entries) {
  TUndoRestoreResult result;
  std::vector<std::string> known;
  if (!UndoDayEntries(scanner, day, known)) {
    result.refusal = urUnknownDay;
    return result;
  }
  for (const std::string &wanted : entries) {
    if (!ContainsNoCase(known, wanted)) {
      result.refusal = urUnknownEntry;
      result.unknownEntry = wanted;
      return result;
    }
  }
  result.summary = scanner.RestoreEntries(day, entries.empty() ? nullptr : &entries);
  scanner.ClearResults();
  return result;
}

TUndoPurgeResult PurgeUndoDays(TRegScanner &scanner, bool deleteAfterWeek) {
  TPurgeSummary purged = scanner.PurgeBackupDays(deleteAfterWeek);
  TUndoPurgeResult result;
  result.undatedDays = std::move(purged.undated);
  result.failedDays = std::move(purged.notRecycled);
  std::vector<std::string> left;
  scanner.BackupDays(left);
  // A day counts as removed only when it is no longer there, whatever the
  // move answered.
  for (std::string &day : purged.recycled)
    (ContainsNoCase(left, day) ? result.failedDays : result.removedDays).push_back(std::move(day));
  std::sort(result.failedDays.begin(), result.failedDays.end());
  result.daysLeft = static_cast<int>(left.size());
  return result;
}

} // namespace quenlo::service
