#include "app/cli/uCliRepair.h"

#include <cstdlib>

#include "app/uEnvironment.h"
#include "service/uRepairRun.h"
#include "service/uUndoRestore.h"

namespace quenlo::cli {

bool ParseRepairOptions(const std::vector<std::string> &args, TRepairOptions &options,
                        std::string &message) {
  std::vector<std::string> scanArgs;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    if (arg != "--test-id" && arg.rfind("--test-id=", 0) != 0) {
      scanArgs.push_back(arg);
      continue;
    }
    std::string value;
    if (arg == "--test-id") {
      if (i + 1 >= args.size()) {
        message = "--test-id needs a test number";
        return false;
      }
      value = args[++i];
    } else {
      value = arg.substr(10);
    }
    if (value.empty() || value.size() > 6 ||
        value.find_first_not_of("0123456789") != std::string::npos) {
      message = "bad test number '" + value + "'";
      return false;
    }
    options.testIds.insert(std::atoi(value.c_str()));
  }
  return ParseScanOptions(scanArgs, options.scan, message);
}

namespace {

// One line or JSON object per repair tried, then the totals. Findings the
// run leaves alone are not repairs and are not listed; the command line never
// marks a finding to be ignored.
class TRepairPrinter {
public:
  TRepairPrinter(bool json, std::ostream &out) : json_(json), out_(out) {
    if (json_)
      out_ << "{\"repairs\":[";
  }

  void Item(const service::TRepairItem &item) {
    if (item.outcome == service::roLeftAlone)
      return;
    const TRegError &e = *item.error;
    const bool ok = item.outcome == service::roRepaired;
    const std::string where = e.RootKey != 0 ? e.FullKeyName() : e.KeyPath;
    if (json_) {
      if (!first_)
        out_ << ",";
      out_ << "{\"category\":" << static_cast<int>(e.Category) << ",\"testId\":" << e.TestId
           << ",\"kind\":" << static_cast<int>(e.Kind)
           << ",\"kindName\":" << JsonString(std::string(ErrorKindName(e.Kind)))
           << ",\"view64\":" << static_cast<int>(e.View64) << ",\"key\":" << JsonString(where)
           << ",\"valueName\":" << JsonString(e.ValueName)
           << ",\"action\":" << static_cast<int>(e.Action)
           << ",\"description\":" << JsonString(e.Description())
           << ",\"repaired\":" << (ok ? "true" : "false")
           << ",\"error\":" << JsonString(item.errorText) << "}";
    } else {
      out_ << (ok ? "repaired " : "FAILED   ") << where;
      if (e.RootKey != 0)
        out_ << " [" << e.DisplayValueName() << "]";
      if (e.View64 != 0)
        out_ << " (64-bit)";
      out_ << "\n    " << ErrorKindName(e.Kind) << ": " << e.Description() << "\n";
      if (!ok)
        out_ << "    error: " << (item.errorText.empty() ? "(no text)" : item.errorText) << "\n";
    }
    first_ = false;
  }

  void Totals(const service::TRepairRunResult &run, const std::string &undoFolder) {
    if (json_)
      out_ << "],\"repaired\":" << run.repaired << ",\"failed\":" << run.failed
           << ",\"undoFolder\":" << JsonString(undoFolder) << "}\n";
    else
      out_ << "Repaired: " << run.repaired << "\nFailed: " << run.failed
           << "\nUndo folder: " << undoFolder << "\n";
  }

private:
  bool json_;
  std::ostream &out_;
  bool first_ = true;
};

} // namespace

int RunRepair(TRegScanner &scanner, const TRepairOptions &options, TCliStreams streams) {
  const bool completed = RunScan(scanner, options.scan, streams);
  if (!completed)
    streams.err << "quenlo-cli repair: the scan did not complete\n";
  const int selected = service::SelectFindings(scanner, {options.scan.categories, options.testIds});
  streams.err << "Findings: " << scanner.ErrorCount() << ", selected for repair: " << selected
              << ", ignored: " << scanner.IgnoredCount() << "\n";
  TRepairPrinter printer(options.scan.json, streams.out);
  const service::TRepairRunResult run = service::RepairSelected(
      scanner, [&](const service::TRepairItem &item) { printer.Item(item); });
  printer.Totals(run, scanner.UndoFolder());
  streams.out.flush();
  std::string error;
  if (!service::RecordRepairRun(run, error))
    streams.err << "quenlo-cli repair: the repair count could not be stored: " << error << "\n";
  return completed && run.failed == 0 ? 0 : 1;
}

int CommandRepair(const std::vector<std::string> &args, TCliStreams streams) {
  TRepairOptions options;
  std::string message;
  if (!ParseRepairOptions(args, options, message)) {
    streams.err << "quenlo-cli repair: " << message << "\n";
    return 2;
  }
  InitEnvironment();
  TRegScanner scanner;
  scanner.SetUndoFolder(service::StandardUndoFolder());
  // The same categories and ignore lists as the window. Without the user's
  // ignores a repair would remove what the user chose to keep: none runs.
  if (!ApplyScanSettings(scanner, options.scan, streams)) {
    streams.err << "quenlo-cli repair: nothing was repaired\n";
    return 1;
  }
  return RunRepair(scanner, options, streams);
}

} // namespace quenlo::cli
