#include "app/cli/uCliScan.h"

#include <cstdlib>

#include "platform/Utf.h"

namespace quenlo::cli {

namespace {

bool ParseCategory(const std::string &text, int &category) {
  if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos &&
      text.size() <= 2) {
    category = std::atoi(text.c_str());
    return IsValidCategory(category);
  }
  for (int c = 0; c < CategoryCount; ++c) {
    if (qp::EqualsNoCase(CategorySettingsKey(c), text)) {
      category = c;
      return true;
    }
  }
  return false;
}

// Progress on the error stream: a bar on a terminal, otherwise a plain line
// whenever the category or the whole figure moves.
class TProgressPrinter {
public:
  explicit TProgressPrinter(TCliStreams streams) : streams_(streams) {}

  void Show(const std::string &location, TErrorCategory category, int categoryProgress,
            int totalProgress) {
    if (streams_.errIsTerminal) {
      constexpr int kWidth = 30;
      const int filled = totalProgress * kWidth / 100;
      std::string line = "\r[" + std::string(static_cast<std::size_t>(filled), '#') +
                         std::string(static_cast<std::size_t>(kWidth - filled), ' ') + "] " +
                         std::to_string(totalProgress) + "% " + std::string(CategoryName(category));
      if (!location.empty())
        line += ": " + location;
      if (line.size() > 100)
        line.resize(100);
      if (line.size() < lastWidth_)
        line += std::string(lastWidth_ - line.size(), ' ');
      lastWidth_ = line.size();
      streams_.err << line << std::flush;
      return;
    }
    if (category == lastCategory_ && totalProgress == lastTotal_)
      return;
    lastCategory_ = category;
    lastTotal_ = totalProgress;
    streams_.err << "progress " << totalProgress << "% " << CategoryName(category) << " "
                 << categoryProgress << "%\n";
  }

  void Finish() {
    if (streams_.errIsTerminal && lastWidth_ > 0)
      streams_.err << "\n";
  }

private:
  TCliStreams streams_;
  int lastCategory_ = -1;
  int lastTotal_ = -1;
  std::size_t lastWidth_ = 0;
};

} // namespace

bool ParseScanOptions(const std::vector<std::string> &args, TScanOptions &options,
                      std::string &message) {
  TCategorySet chosen;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    if (arg == "--json") {
      options.json = true;
    } else if (arg == "--no-ignore") {
      options.noIgnore = true;
    } else if (arg == "--category" || arg.rfind("--category=", 0) == 0) {
      std::string value;
      if (arg == "--category") {
        if (i + 1 >= args.size()) {
          message = "--category needs a category number or name";
          return false;
        }
        value = args[++i];
      } else {
        value = arg.substr(11);
      }
      int category = 0;
      if (!ParseCategory(value, category)) {
        message = "unknown category '" + value + "'";
        return false;
      }
      chosen.Add(static_cast<TErrorCategory>(category));
      options.categoriesGiven = true;
    } else {
      message = "unknown option '" + arg + "'";
      return false;
    }
  }
  if (options.categoriesGiven)
    options.categories = chosen;
  return true;
}

bool RunScan(TRegScanner &scanner, const TScanOptions &options, TCliStreams streams) {
  TProgressPrinter printer(streams);
  scanner.SetScanCategories(options.categories);
  service::TScanRun run(scanner);
  run.OnProgress = [&](const std::string &location, TErrorCategory category, int cat, int total) {
    printer.Show(location, category, cat, total);
  };
  const service::TScanResult result = run.RunToEnd();
  printer.Finish();
  if (!result.failure.empty())
    streams.err << "quenlo-cli: the scan stopped: " << result.failure << "\n";
  if (result.completed && !result.statisticsStored)
    streams.err << "quenlo-cli: the scan statistics could not be stored: " << result.statisticsError
                << "\n";
  return result.completed;
}

bool ApplyScanSettings(TRegScanner &scanner, TScanOptions &options, TCliStreams streams) {
  service::TScanRequest request;
  if (options.categoriesGiven)
    request.categories = options.categories;
  request.useIgnoreLists = !options.noIgnore;
  const service::TScanPreparation prepared = service::PrepareScan(scanner, request);
  options.categories = prepared.categories;
  if (prepared.ignoreListComplete)
    return true;
  streams.err << "quenlo-cli: the ignore file cannot be read, so the entries you chose to keep "
                 "are not ignored: "
              << prepared.ignoreListError << "\n";
  return false;
}

void PrintScanText(const TRegScanner &scanner, std::ostream &out) {
  const TErrorList &errors = scanner.Errors();
  for (int c = 0; c < CategoryCount; ++c) {
    const auto &list = errors.CategoryList(c);
    if (list.empty())
      continue;
    out << CategoryName(c) << " (" << list.size() << ")\n";
    for (const TRegError *e : list) {
      out << "  " << (e->RootKey != 0 ? e->FullKeyName() : e->KeyPath);
      if (e->RootKey != 0)
        out << " [" << e->DisplayValueName() << "]";
      if (e->View64 != 0)
        out << " (64-bit)";
      out << "\n    " << ErrorKindName(e->Kind) << ": " << e->Description() << "\n";
    }
  }
  out << "Problems found: " << errors.Count() << "\n";
  out << "Ignored: " << scanner.IgnoredCount() << "\n";
  out << "Category statistics (tests, remaining):\n";
  for (int c = 0; c < CategoryCount; ++c)
    out << "  " << CategoryName(c) << ": " << scanner.TestCount(c) << ", "
        << scanner.RemainingCount(c) << "\n";
  const int health = scanner.HealthPercent();
  out << "Health: " << (health < 0 ? std::string("unknown") : std::to_string(health) + "%") << "\n";
}

void PrintScanJson(const TRegScanner &scanner, std::ostream &out) {
  const TErrorList &errors = scanner.Errors();
  out << "{\"findings\":[";
  for (int i = 0; i < errors.Count(); ++i) {
    const TRegError *e = errors.Items(i);
    if (i > 0)
      out << ",";
    out << "{\"category\":" << static_cast<int>(e->Category)
        << ",\"categoryName\":" << JsonString(std::string(CategoryName(e->Category)))
        << ",\"testId\":" << e->TestId << ",\"kind\":" << static_cast<int>(e->Kind)
        << ",\"kindName\":" << JsonString(std::string(ErrorKindName(e->Kind)))
        << ",\"view64\":" << static_cast<int>(e->View64)
        << ",\"root\":" << JsonString(RootKeyShortName(e->RootKey))
        << ",\"keyPath\":" << JsonString(e->KeyPath)
        << ",\"valueName\":" << JsonString(e->ValueName) << ",\"target\":" << JsonString(e->Target)
        << ",\"data\":" << JsonString(e->Data) << ",\"action\":" << static_cast<int>(e->Action)
        << ",\"actions\":" << e->Actions.ToBits()
        << ",\"description\":" << JsonString(e->Description()) << "}";
  }
  out << "],\"ignoredCount\":" << scanner.IgnoredCount()
      << ",\"fullScanDone\":" << (scanner.FullScanDone() ? "true" : "false") << ",\"statistics\":[";
  for (int c = 0; c < CategoryCount; ++c) {
    if (c > 0)
      out << ",";
    out << "{\"category\":" << c << ",\"testCount\":" << scanner.TestCount(c)
        << ",\"remainingCount\":" << scanner.RemainingCount(c) << "}";
  }
  out << "],\"health\":" << scanner.HealthPercent() << "}\n";
}

int CommandScan(const std::vector<std::string> &args, TCliStreams streams) {
  TScanOptions options;
  std::string message;
  if (!ParseScanOptions(args, options, message)) {
    streams.err << "quenlo-cli scan: " << message << "\n";
    return 2;
  }
  TRegScanner scanner;
  // A scan without the user's ignores still shows what it finds, but it is
  // not the scan that was asked for.
  const bool ignoresRead = ApplyScanSettings(scanner, options, streams);
  const bool completed = RunScan(scanner, options, streams) && ignoresRead;
  if (options.json)
    PrintScanJson(scanner, streams.out);
  else
    PrintScanText(scanner, streams.out);
  streams.out.flush();
  return completed ? 0 : 1;
}

} // namespace quenlo::cli
