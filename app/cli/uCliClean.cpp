#include "app/cli/uCliClean.h"

#include "app/uSettings.h"
#include "paths/uSysUtils.h"
#include "service/uCleanRun.h"

namespace quenlo::cli {

namespace {

constexpr const char *kVerbAnalyze = "analyze";
constexpr const char *kVerbRun = "run";
constexpr const char *kCategoryOption = "--category";
constexpr const char *kDeleteDownloadsOption = "--delete-downloaded-files";
constexpr const char *kIndent = "  ";
constexpr int kBarWidth = 30;
constexpr std::size_t kLineWidth = 100;

// Control characters as escapes: a finding's name (a registry text, a URL)
// may hold a line break and must stay on its own line.
std::string OneLine(std::string_view text) {
  constexpr const char *kHex = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += ch;
    }
  }
  return out;
}

std::string PassText(const TCleanRunProgress &progress) {
  if (progress.mode == smClean)
    return "clean";
  return progress.pass == 0 ? "analysis" : "analysis after the clean";
}

// Progress on the error stream: a bar on a terminal, otherwise one plain
// line per category of each pass.
class TCleanProgressPrinter {
public:
  explicit TCleanProgressPrinter(TCliStreams streams) : streams_(streams) {}

  void Show(const TCleanRunProgress &progress) {
    const std::string caption = GetQualifiedCaption(progress.category);
    if (!streams_.errIsTerminal) {
      streams_.err << "progress " << PassText(progress) << " " << progress.totalProgress << "% "
                   << caption << "\n";
      return;
    }
    const int filled = progress.totalProgress * kBarWidth / 100;
    std::string line = "\r[" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(kBarWidth - filled), ' ') + "] " +
                       std::to_string(progress.totalProgress) + "% " + PassText(progress) + ": " +
                       caption;
    if (line.size() > kLineWidth)
      line.resize(kLineWidth);
    if (line.size() < lastWidth_)
      line += std::string(lastWidth_ - line.size(), ' ');
    lastWidth_ = line.size();
    streams_.err << line << std::flush;
  }

  void Finish() {
    if (streams_.errIsTerminal && lastWidth_ > 0)
      streams_.err << "\n";
  }

private:
  TCliStreams streams_;
  std::size_t lastWidth_ = 0;
};

void PrintNotes(std::ostream &out, const char *label, const std::vector<TCleanNote> &notes) {
  for (const TCleanNote &note : notes) {
    out << kIndent << label << ": ";
    if (!note.Name.empty())
      out << OneLine(note.Name) << " ";
    out << "(" << OneLine(note.Reason) << ")\n";
  }
}

} // namespace

bool ParseCleanOptions(const std::vector<std::string> &args, TCleanOptions &options,
                       std::string &message) {
  if (args.empty()) {
    message = "clean needs 'analyze' or 'run'";
    return false;
  }
  if (args.front() == kVerbAnalyze) {
    options.run = false;
  } else if (args.front() == kVerbRun) {
    options.run = true;
  } else {
    message = "unknown clean command '" + args.front() + "' (analyze or run)";
    return false;
  }
  const std::string prefixed = std::string(kCategoryOption) + "=";
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string &arg = args[i];
    if (arg == "--json") {
      options.json = true;
      continue;
    }
    if (arg == kDeleteDownloadsOption) {
      options.deleteDownloadedFiles = true;
      continue;
    }
    std::string value;
    if (arg == kCategoryOption) {
      if (i + 1 >= args.size()) {
        message = "--category needs a category number (0-42) or its settings name";
        return false;
      }
      value = args[++i];
    } else if (arg.rfind(prefixed, 0) == 0) {
      value = arg.substr(prefixed.size());
    } else {
      message = "unknown option '" + arg + "'";
      return false;
    }
    const std::optional<TCleanCategory> category = ParseCleanCategory(value);
    if (!category) {
      message = "unknown category '" + value + "'";
      return false;
    }
    options.categories.set(*category);
    options.categoriesGiven = true;
  }
  return true;
}

void PrintCleanText(const TCleanRunResult &result, std::ostream &out) {
  const char *counted = result.kind == crAnalyze ? " found" : " removed";
  std::size_t count = 0;
  std::int64_t size = 0;
  for (const TCleanRunCategory &category : result.categories) {
    // Registry categories have no sizes: their items show none.
    const bool sized = CleanCategoryInfo(category.category).sizesAdded || category.TotalSize() != 0;
    out << GetQualifiedCaption(category.category) << ": " << OutcomeText(category.outcome);
    if (!category.reason.empty())
      out << " (" << OneLine(category.reason) << ")";
    const bool handled = category.outcome == coDone || category.outcome == coIncomplete;
    if (handled || !category.items.empty()) {
      out << ", " << category.items.size() << counted;
      if (sized)
        out << ", " << FormatByteSize(category.TotalSize());
    }
    out << "\n";
    for (const TCleanItem &item : category.items) {
      out << kIndent << OneLine(item.Name);
      if (sized)
        out << " (" << FormatByteSize(item.Size) << ")";
      out << "\n";
    }
    PrintNotes(out, "kept", category.kept);
    PrintNotes(out, "skipped", category.skipped);
    PrintNotes(out, "failed", category.failures);
    count += category.items.size();
    size += category.TotalSize();
  }
  out << "Total: " << count << counted << ", " << FormatByteSize(size) << "\n";
  for (const std::string &path : result.filesInUse)
    out << "In use, to be deleted when Windows restarts: " << OneLine(path) << "\n";
  if (result.explorerRestartFailed)
    out << "The Windows shell could not be restarted.\n";
}

int CommandClean(const std::vector<std::string> &args, TCliStreams streams) {
  TCleanOptions options;
  std::string message;
  if (!ParseCleanOptions(args, options, message)) {
    streams.err << "quenlo-cli clean: " << message << "\n";
    return 2;
  }
  TCleanRunRequest request;
  request.kind = options.run ? crClean : crAnalyze;
  request.deleteDownloadedFiles = options.deleteDownloadedFiles;
  request.categories =
      options.categoriesGiven ? options.categories : SelectedCleanCategories(Settings());
  TCleanProgressPrinter printer(streams);
  request.onProgress = [&printer](const TCleanRunProgress &progress) { printer.Show(progress); };
  const TCleanRunResult result = RunClean(request);
  printer.Finish();
  if (options.json)
    streams.out << CleanRunJson(result) << "\n";
  else
    PrintCleanText(result, streams.out);
  if (!result.passFailure.empty())
    streams.err << "quenlo-cli clean: " << result.passFailure << "\n";
  return result.AllDone() ? 0 : 1;
}

} // namespace quenlo::cli
