#include "app/cli/uCliUndo.h"

#include <algorithm>

#include "app/cli/uCliRepair.h"
#include "app/uEnvironment.h"
#include "app/uSettings.h"
#include "platform/Utf.h"

namespace quenlo::cli {

namespace {

bool KnownDay(TRegScanner &scanner, const std::string &day) {
  std::vector<std::string> days;
  scanner.BackupDays(days);
  return std::any_of(days.begin(), days.end(),
                     [&](const std::string &d) { return qp::EqualsNoCase(d, day); });
}

} // namespace

int RunUndo(TRegScanner &scanner, const std::vector<std::string> &args, bool deleteAfterWeek,
            TCliStreams streams) {
  const std::string sub = args.empty() ? std::string() : args.front();
  if (sub == "days" && args.size() == 1) {
    std::vector<std::string> days;
    scanner.BackupDays(days);
    for (const std::string &day : days) {
      std::vector<std::string> entries;
      scanner.DayEntries(day, entries);
      streams.out << day << "\t" << entries.size() << " Items\n";
    }
    return 0;
  }
  if (sub == "entries" && args.size() == 2) {
    if (!KnownDay(scanner, args[1])) {
      streams.err << "quenlo-cli undo: no backups for day '" << args[1] << "'\n";
      return 1;
    }
    std::vector<std::string> entries;
    scanner.DayEntries(args[1], entries);
    for (const std::string &entry : entries)
      streams.out << entry << "\n";
    return 0;
  }
  if (sub == "restore" && args.size() >= 2) {
    const std::string &day = args[1];
    if (!KnownDay(scanner, day)) {
      streams.err << "quenlo-cli undo: no backups for day '" << day << "'\n";
      return 1;
    }
    const std::vector<std::string> selection(args.begin() + 2, args.end());
    std::vector<std::string> entries;
    scanner.DayEntries(day, entries);
    for (const std::string &wanted : selection) {
      if (std::none_of(entries.begin(), entries.end(),
                       [&](const std::string &e) { return qp::EqualsNoCase(e, wanted); })) {
        streams.err << "quenlo-cli undo: day " << day << " has no entry '" << wanted << "'\n";
        return 1;
      }
    }
    const TRestoreSummary summary =
        scanner.RestoreEntries(day, selection.empty() ? nullptr : &selection);
    scanner.ClearResults();
    streams.out << "Restored: " << summary.restored << "\nFailed: " << summary.failed << "\n";
    return summary.failed == 0 ? 0 : 1;
  }
  if (sub == "purge" && args.size() == 1) {
    std::vector<std::string> before, after;
    scanner.BackupDays(before);
    scanner.PurgeBackupDays(deleteAfterWeek);
    scanner.BackupDays(after);
    for (const std::string &day : before)
      if (std::find(after.begin(), after.end(), day) == after.end())
        streams.out << "moved to the recycle bin: " << day << "\n";
    streams.out << "Days left: " << after.size() << "\n";
    return 0;
  }
  return 2;
}

int CommandUndo(const std::vector<std::string> &args, TCliStreams streams) {
  InitEnvironment();
  TRegScanner scanner;
  scanner.SetUndoFolder(CliUndoFolder());
  const int code = RunUndo(scanner, args, Settings().DeleteAfterWeek, streams);
  if (code == 2)
    streams.err << "quenlo-cli undo: bad usage\n";
  return code;
}

} // namespace quenlo::cli
