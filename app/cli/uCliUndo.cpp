#include "app/cli/uCliUndo.h"

#include "app/uEnvironment.h"
#include "app/uSettings.h"
#include "service/uUndoRestore.h"

namespace quenlo::cli {

int RunUndo(TRegScanner &scanner, const std::vector<std::string> &args, bool deleteAfterWeek,
            TCliStreams streams) {
  const std::string sub = args.empty() ? std::string() : args.front();
  if (sub == "days" && args.size() == 1) {
    for (const service::TUndoDay &day : service::UndoDays(scanner))
      streams.out << day.name << "\t" << day.entryCount << " Items\n";
    return 0;
  }
  if (sub == "entries" && args.size() == 2) {
    std::vector<std::string> entries;
    if (!service::UndoDayEntries(scanner, args[1], entries)) {
      streams.err << "quenlo-cli undo: no backups for day '" << args[1] << "'\n";
      return 1;
    }
    for (const std::string &entry : entries)
      streams.out << entry << "\n";
    return 0;
  }
  if (sub == "restore" && args.size() >= 2) {
    const std::string &day = args[1];
    const service::TUndoRestoreResult result = service::RestoreUndoEntries(
        scanner, day, std::vector<std::string>(args.begin() + 2, args.end()));
    switch (result.refusal) {
    case service::urUnknownDay:
      streams.err << "quenlo-cli undo: no backups for day '" << day << "'\n";
      return 1;
    case service::urUnknownEntry:
      streams.err << "quenlo-cli undo: day " << day << " has no entry '" << result.unknownEntry
                  << "'\n";
      return 1;
    case service::urNone:
      break;
    }
    streams.out << "Restored: " << result.summary.restored << "\nFailed: " << result.summary.failed
                << "\nMissing: " << result.summary.missing
                << "\nRefused: " << result.summary.refused << "\n";
    if (!result.summary.error.empty())
      streams.err << "quenlo-cli undo: " << result.summary.error << "\n";
    return result.summary.failed == 0 && result.summary.refused == 0 && result.summary.error.empty()
               ? 0
               : 1;
  }
  if (sub == "purge" && args.size() == 1) {
    const service::TUndoPurgeResult result = service::PurgeUndoDays(scanner, deleteAfterWeek);
    for (const std::string &day : result.removedDays)
      streams.out << "moved to the recycle bin: " << day << "\n";
    for (const std::string &day : result.undatedDays)
      streams.out << "kept (the date of its index cannot be read): " << day << "\n";
    for (const std::string &day : result.failedDays)
      streams.err << "quenlo-cli undo: " << day << " could not be moved to the recycle bin\n";
    streams.out << "Days left: " << result.daysLeft << "\n";
    return result.failedDays.empty() ? 0 : 1;
  }
  return 2;
}

int CommandUndo(const std::vector<std::string> &args, TCliStreams streams) {
  InitEnvironment();
  TRegScanner scanner;
  scanner.SetUndoFolder(service::StandardUndoFolder());
  const int code = RunUndo(scanner, args, Settings().DeleteAfterWeek, streams);
  if (code == 2)
    streams.err << "quenlo-cli undo: bad usage\n";
  return code;
}

} // namespace quenlo::cli
