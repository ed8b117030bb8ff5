#include "app/cli/uCliHives.h"

#include "optimizer/uHiveBackup.h"
#include "paths/uSysUtils.h"
#include "registry/uRegAccess.h"
#include "service/uFullBackup.h"

namespace quenlo::cli {

namespace {

struct THivesArgs {
  std::string verb;
  std::string folder;
  bool json = false;
};

bool ParseHivesArgs(const std::vector<std::string> &args, THivesArgs &parsed) {
  std::vector<std::string> words;
  for (const std::string &arg : args) {
    if (arg == "--json")
      parsed.json = true;
    else
      words.push_back(arg);
  }
  if (words.size() == 1) {
    parsed.verb = words[0];
    return parsed.verb == "full-backup" || parsed.verb == "full-restore";
  }
  if (words.size() != 2 || words[1].empty())
    return false;
  parsed.verb = words[0];
  parsed.folder = words[1];
  return parsed.verb == "backup" || parsed.verb == "compare" || parsed.verb == "restore";
}

std::string HiveKeyName(const THiveOutcome &hive) {
  return RootKeyLongName(hive.root) + "\\" + hive.keyPath;
}

// One line per hive: what was done, or why not.
void PrintOutcomes(const std::vector<THiveOutcome> &hives, const char *doneWord,
                   std::ostream &out) {
  for (const THiveOutcome &hive : hives) {
    if (hive.done)
      out << doneWord << " " << hive.fileName << " " << HiveKeyName(hive) << " ("
          << FormatByteSize(static_cast<std::int64_t>(hive.size)) << ")\n";
    else
      out << "left out " << hive.fileName << " " << HiveKeyName(hive) << ": " << hive.errorText
          << "\n";
  }
}

void PrintOutcomesJson(const std::vector<THiveOutcome> &hives, std::ostream &out) {
  out << "\"hives\":[";
  for (std::size_t i = 0; i < hives.size(); ++i) {
    const THiveOutcome &hive = hives[i];
    out << (i == 0 ? "" : ",") << "{\"file\":" << JsonString(hive.fileName)
        << ",\"key\":" << JsonString(HiveKeyName(hive)) << ",\"size\":" << hive.size
        << ",\"done\":" << (hive.done ? "true" : "false")
        << ",\"error\":" << JsonString(hive.errorText) << "}";
  }
  out << "]";
}

int RunBackup(const THivesArgs &args, TCliStreams streams) {
  THiveBackupRequest request;
  request.folder = args.folder;
  THiveBackupResult result;
  qp::IgnoreResult(BackupHives(request, result));
  const bool complete = result.Complete();
  if (args.json) {
    streams.out << "{\"command\":\"backup\",\"folder\":" << JsonString(args.folder)
                << ",\"complete\":" << (complete ? "true" : "false")
                << ",\"saved\":" << result.saved << ",\"error\":" << JsonString(result.errorText)
                << ",";
    PrintOutcomesJson(result.hives, streams.out);
    streams.out << "}\n";
  } else {
    PrintOutcomes(result.hives, "saved", streams.out);
    streams.out << "Saved: " << result.saved << " of " << result.hives.size() << "\n";
  }
  if (!result.errorText.empty())
    streams.err << "quenlo-cli hives: " << result.errorText << "\n";
  return complete ? 0 : 1;
}

int RunCompare(const THivesArgs &args, TCliStreams streams) {
  THiveComparison comparison;
  const bool ok = CompareHiveBackup(args.folder, comparison);
  if (args.json) {
    streams.out << "{\"command\":\"compare\",\"folder\":" << JsonString(args.folder)
                << ",\"ok\":" << (ok ? "true" : "false") << ",\"current\":" << comparison.current
                << ",\"backup\":" << comparison.backup
                << ",\"reason\":" << static_cast<int>(comparison.reason)
                << ",\"reasonText\":" << JsonString(HiveCompareReasonText(comparison.reason))
                << "}\n";
  } else {
    streams.out << "Current: " << comparison.current << " bytes\nBackup: " << comparison.backup
                << " bytes\n";
    if (!ok)
      streams.out << "Reason: " << HiveCompareReasonText(comparison.reason) << "\n";
  }
  return ok ? 0 : 1;
}

int RunRestore(const THivesArgs &args, TCliStreams streams) {
  THiveRestoreResult result;
  qp::IgnoreResult(RestoreHives(args.folder, {}, result));
  const bool complete = result.Complete();
  if (args.json) {
    streams.out << "{\"command\":\"restore\",\"folder\":" << JsonString(args.folder)
                << ",\"complete\":" << (complete ? "true" : "false")
                << ",\"replaced\":" << result.replaced
                << ",\"error\":" << JsonString(result.errorText) << ",";
    PrintOutcomesJson(result.hives, streams.out);
    streams.out << "}\n";
  } else {
    PrintOutcomes(result.hives, "replaced", streams.out);
    streams.out << "Replaced: " << result.replaced << " of " << result.hives.size() << "\n";
    if (result.replaced > 0)
      streams.out << "Restart Windows for the restored hives to take effect.\n";
  }
  if (!result.errorText.empty())
    streams.err << "quenlo-cli hives: " << result.errorText << "\n";
  return complete ? 0 : 1;
}

// The settings page's full backup: made beside the last one in the settings
// folder and swapped in only when complete; the backup date is recorded.
int RunFullBackup(const THivesArgs &args, TCliStreams streams) {
  service::TFullBackupResult result;
  bool complete = service::FullRegistryBackup({}, nullptr, result);
  std::string error = result.errorText.empty() ? result.hives.errorText : result.errorText;
  if (complete && !service::RecordFullBackupDate(error))
    complete = false;
  const std::string folder = service::FullBackupFolder();
  if (args.json) {
    streams.out << "{\"command\":\"full-backup\",\"folder\":" << JsonString(folder)
                << ",\"complete\":" << (complete ? "true" : "false")
                << ",\"saved\":" << result.hives.saved
                << ",\"previousKept\":" << (result.previousKept ? "true" : "false")
                << ",\"error\":" << JsonString(error) << ",";
    PrintOutcomesJson(result.hives.hives, streams.out);
    streams.out << "}\n";
  } else {
    PrintOutcomes(result.hives.hives, "saved", streams.out);
    streams.out << "Saved: " << result.hives.saved << " of " << result.hives.hives.size() << "\n"
                << (complete ? "Backup: " + folder + "\n"
                             : std::string("The previous backup was kept.\n"));
  }
  if (!error.empty())
    streams.err << "quenlo-cli hives: " << error << "\n";
  return complete ? 0 : 1;
}

// Its restore: from a copy of that backup, refused while an earlier restore
// waits for the restart.
int RunFullRestore(const THivesArgs &args, TCliStreams streams) {
  service::TFullRestoreResult result;
  const bool complete = service::FullRegistryRestore({}, result);
  const std::string error = result.errorText.empty() ? result.hives.errorText : result.errorText;
  if (args.json) {
    streams.out << "{\"command\":\"full-restore\",\"folder\":"
                << JsonString(service::FullBackupFolder())
                << ",\"complete\":" << (complete ? "true" : "false")
                << ",\"replaced\":" << result.hives.replaced << ",\"error\":" << JsonString(error)
                << ",";
    PrintOutcomesJson(result.hives.hives, streams.out);
    streams.out << "}\n";
  } else {
    PrintOutcomes(result.hives.hives, "replaced", streams.out);
    streams.out << "Replaced: " << result.hives.replaced << " of " << result.hives.hives.size()
                << "\n";
    if (result.hives.replaced > 0)
      streams.out << "Restart Windows for the restored hives to take effect.\n";
  }
  if (!error.empty())
    streams.err << "quenlo-cli hives: " << error << "\n";
  return complete ? 0 : 1;
}

} // namespace

int CommandHives(const std::vector<std::string> &args, TCliStreams streams) {
  THivesArgs parsed;
  if (!ParseHivesArgs(args, parsed)) {
    streams.err << "quenlo-cli hives: expected 'backup FOLDER', 'compare FOLDER', "
                   "'restore FOLDER', 'full-backup' or 'full-restore'\n";
    return 2;
  }
  if (parsed.verb == "full-backup")
    return RunFullBackup(parsed, streams);
  if (parsed.verb == "full-restore")
    return RunFullRestore(parsed, streams);
  if (parsed.verb == "backup")
    return RunBackup(parsed, streams);
  if (parsed.verb == "compare")
    return RunCompare(parsed, streams);
  return RunRestore(parsed, streams);
}

} // namespace quenlo::cli
