#include "app/cli/uCliRepair.h"

#include <cstdlib>

#include "app/uEnvironment.h"
#include "app/uSettings.h"

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

std::string CliUndoFolder() {
  return SettingsPath(UndoFolderTitle);
}

int SelectFindings(TRegScanner &scanner, const TRepairOptions &options) {
  int checked = 0;
  TErrorList &errors = scanner.Errors();
  for (int i = 0; i < errors.Count(); ++i) {
    TRegError *e = errors.Items(i);
    const bool selected = options.scan.categories.Contains(e->Category) &&
                          (options.testIds.empty() || options.testIds.count(e->TestId) > 0);
    e->SetChecked(selected);
    if (selected)
      ++checked;
  }
  return checked;
}

int RepairChecked(TRegScanner &scanner, bool json, std::ostream &out) {
  int repaired = 0, failed = 0;
  bool first = true;
  if (json)
    out << "{\"repairs\":[";
  for (int c = 0; c < CategoryCount; ++c) {
    const std::vector<TRegError *> list = scanner.Errors().CategoryList(c);
    for (TRegError *e : list) {
      if (!e->Checked())
        continue;
      std::string errorText;
      const bool ok = scanner.RepairError(errorText, *e);
      if (ok) {
        e->SetRepaired(true);
        ++repaired;
      } else {
        ++failed;
      }
      const std::string where = e->RootKey != 0 ? e->FullKeyName() : e->KeyPath;
      if (json) {
        if (!first)
          out << ",";
        out << "{\"category\":" << static_cast<int>(e->Category) << ",\"testId\":" << e->TestId
            << ",\"kind\":" << static_cast<int>(e->Kind)
            << ",\"kindName\":" << JsonString(std::string(ErrorKindName(e->Kind)))
            << ",\"view64\":" << static_cast<int>(e->View64) << ",\"key\":" << JsonString(where)
            << ",\"valueName\":" << JsonString(e->ValueName)
            << ",\"action\":" << static_cast<int>(e->Action)
            << ",\"description\":" << JsonString(e->Description())
            << ",\"repaired\":" << (ok ? "true" : "false") << ",\"error\":" << JsonString(errorText)
            << "}";
      } else {
        out << (ok ? "repaired " : "FAILED   ") << where;
        if (e->RootKey != 0)
          out << " [" << e->DisplayValueName() << "]";
        if (e->View64 != 0)
          out << " (64-bit)";
        out << "\n    " << ErrorKindName(e->Kind) << ": " << e->Description() << "\n";
        if (!ok)
          out << "    error: " << (errorText.empty() ? "(no text)" : errorText) << "\n";
      }
      first = false;
    }
  }
  if (json)
    out << "],\"repaired\":" << repaired << ",\"failed\":" << failed
        << ",\"undoFolder\":" << JsonString(scanner.UndoFolder()) << "}\n";
  else
    out << "Repaired: " << repaired << "\nFailed: " << failed
        << "\nUndo folder: " << scanner.UndoFolder() << "\n";
  return failed;
}

int RunRepair(TRegScanner &scanner, const TRepairOptions &options, TCliStreams streams) {
  const bool completed = RunScan(scanner, options.scan, streams);
  if (completed)
    RecordCompletedScan(scanner, streams);
  else
    streams.err << "quenlo-cli repair: the scan did not complete\n";
  const int selected = SelectFindings(scanner, options);
  streams.err << "Findings: " << scanner.ErrorCount() << ", selected for repair: " << selected
              << ", ignored: " << scanner.IgnoredCount() << "\n";
  const int failed = RepairChecked(scanner, options.scan.json, streams.out);
  streams.out.flush();
  std::string error;
  if (selected > 0 && !RecordRepair(selected - failed, &error))
    streams.err << "quenlo-cli repair: the repair count could not be stored: " << error << "\n";
  return completed && failed == 0 ? 0 : 1;
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
  scanner.SetUndoFolder(CliUndoFolder());
  // The same categories and ignore lists as the window.
  ApplyScanSettings(scanner, options.scan);
  return RunRepair(scanner, options, streams);
}

} // namespace quenlo::cli
