#include "service/uCleanRun.h"

#include <chrono>
#include <map>
#include <utility>

#include "app/uSettings.h"
#include "service/uJson.h"

namespace quenlo {
namespace {

// How long one wait for the worker's calls lasts; the loop looks at the
// worker's state between waits.
constexpr std::chrono::milliseconds kPumpSlice{50};

constexpr int kAnalyzePasses = 1;
constexpr int kCleanPasses = 3;
// The passes of a clean run, in order (an analysis run has only the first).
constexpr int kPassBefore = 0;
constexpr int kPassClean = 1;
constexpr int kPassAfter = 2;

constexpr std::string_view kReasonNotCleaned =
    "not cleaned: the analysis before the clean did not complete";
constexpr std::string_view kReasonNotChecked =
    "not checked: the analysis after the clean did not reach it";
constexpr std::string_view kTextNotStarted = "the pass could not be started";
constexpr std::string_view kTextNoResult = "the pass ended without a result";
constexpr std::string_view kTextStopped = "the pass was stopped";
constexpr std::string_view kTextFailed = "the pass failed";
constexpr std::string_view kFailureSeparator = "; ";

// The pass's name in a failure text, by its place in the run.
std::string_view PassName(TCleanRunKind kind, int pass) {
  if (kind == crAnalyze)
    return "the analysis";
  switch (pass) {
  case kPassBefore:
    return "the analysis before the clean";
  case kPassClean:
    return "the clean";
  default:
    return "the analysis after the clean";
  }
}

struct TPassOutcome {
  TPassResult result;
  std::string failure; // empty when the pass ran to its end
};

// Runs one pass of the cleaner to its end, pumping mainThread meanwhile,
// and takes a copy of its result (the next pass starts a new one).
TPassOutcome RunPass(TSysCleaner &cleaner, TScanMode mode, const TCleanRunRequest &request,
                     int pass, int passCount, qp::TMainThread &mainThread) {
  TPassOutcome outcome;
  bool completed = false;
  cleaner.OnScanComplete = [&completed](TSysCleaner &, TScanMode) { completed = true; };
  cleaner.OnProgress = [&](TSysCleaner &, TCleanCategory category, int totalProgress) {
    if (request.onProgress)
      request.onProgress({pass, passCount, mode, category, totalProgress});
  };
  if (!cleaner.Start(mode)) {
    outcome.failure = kTextNotStarted;
    return outcome;
  }
  // The worker lives until the main thread has taken its result over, so
  // the loop also ends for a pass that ended without its event.
  while (!completed && cleaner.Running())
    mainThread.PumpWait(kPumpSlice);
  mainThread.Pump();
  cleaner.OnScanComplete = nullptr;
  cleaner.OnProgress = nullptr;

  outcome.result = mode == smReport ? cleaner.LastAnalysis() : cleaner.LastClean();
  switch (outcome.result.end) {
  case peComplete:
    break;
  case peFailed:
    outcome.failure =
        outcome.result.failureText.empty() ? std::string(kTextFailed) : outcome.result.failureText;
    break;
  case peStopped:
    outcome.failure =
        outcome.result.failureText.empty() ? std::string(kTextStopped) : outcome.result.failureText;
    break;
  case peRunning:
    outcome.failure = kTextNoResult;
    break;
  }
  return outcome;
}

void AddFailureText(TCleanRunResult &run, int pass, const std::string &failure) {
  if (failure.empty())
    return;
  if (!run.passFailure.empty())
    run.passFailure += kFailureSeparator;
  run.passFailure += PassName(run.kind, pass);
  run.passFailure += ": ";
  run.passFailure += failure;
}

TCleanRunCategory FromAnalysis(TCleanCategory category, const TCategoryResult &analysis) {
  TCleanRunCategory out;
  out.category = category;
  out.outcome = analysis.outcome;
  out.reason = analysis.reason;
  out.items = analysis.items;
  out.kept = analysis.kept;
  out.failures = analysis.failures;
  out.skipped = analysis.skipped;
  return out;
}

// The analysis after the clean handled the category, so what it lists is
// what the clean left (a category it failed on or never reached says
// nothing about that).
bool Checked(const TCategoryResult &after) {
  return after.outcome == coDone || after.outcome == coNotFound || after.outcome == coIncomplete;
}

// The clean's view of a category: what the first analysis listed and the
// second no longer names anywhere (as an item, kept, or not analysed) was
// removed; everything else is reported "not removed". Names are matched
// one for one, so a name listed twice needs two disappearances.
TCleanRunCategory FromClean(TCleanCategory category, const TCategoryResult &before,
                            const TCategoryResult &clean, const TCategoryResult &after) {
  TCleanRunCategory out;
  out.category = category;
  out.outcome = clean.outcome;
  out.reason = clean.reason;
  out.kept = clean.kept;
  out.failures = clean.failures;
  out.skipped = clean.skipped;
  if (!Checked(after)) {
    if (!before.items.empty())
      out.failures.push_back({std::string(), std::string(kReasonNotChecked)});
    return out;
  }
  std::map<std::string, std::size_t> left;
  for (const TCleanItem &item : after.items)
    ++left[item.Name];
  for (const TCleanNote &note : after.kept)
    ++left[note.Name];
  for (const TCleanNote &note : after.failures)
    ++left[note.Name];
  for (const TCleanItem &item : before.items) {
    const auto found = left.find(item.Name);
    if (found != left.end() && found->second > 0) {
      --found->second;
      out.failures.push_back({item.Name, std::string(kReasonNotRemoved)});
    } else {
      out.items.push_back(item);
    }
  }
  return out;
}

TCleanRunCategory NotCleaned(TCleanCategory category) {
  TCleanRunCategory out;
  out.category = category;
  out.outcome = coNotHandled;
  out.reason = kReasonNotCleaned;
  return out;
}

// --- JSON

std::string Quoted(std::string_view text) {
  return service::JsonString(text);
}

const char *BoolText(bool value) {
  return value ? "true" : "false";
}

void AppendNotes(std::string &out, const char *field, const std::vector<TCleanNote> &notes) {
  out += ",\"";
  out += field;
  out += "\":[";
  for (std::size_t i = 0; i < notes.size(); ++i) {
    if (i > 0)
      out += ',';
    out += "{\"name\":" + Quoted(notes[i].Name) + ",\"reason\":" + Quoted(notes[i].Reason) + "}";
  }
  out += ']';
}

void AppendCategory(std::string &out, const TCleanRunCategory &category) {
  const TCleanCategoryInfo &info = CleanCategoryInfo(category.category);
  out += "{\"number\":" + std::to_string(static_cast<int>(category.category));
  out += ",\"key\":" + Quoted(info.settingsKey);
  out += ",\"caption\":" + Quoted(GetQualifiedCaption(category.category));
  out += ",\"outcome\":" + Quoted(OutcomeText(category.outcome));
  out += ",\"reason\":" + Quoted(category.reason);
  out += ",\"count\":" + std::to_string(category.items.size());
  out += ",\"size\":" + std::to_string(category.TotalSize());
  out += ",\"items\":[";
  for (std::size_t i = 0; i < category.items.size(); ++i) {
    if (i > 0)
      out += ',';
    out += "{\"name\":" + Quoted(category.items[i].Name) +
           ",\"size\":" + std::to_string(category.items[i].Size) + "}";
  }
  out += ']';
  AppendNotes(out, "kept", category.kept);
  AppendNotes(out, "failures", category.failures);
  AppendNotes(out, "skipped", category.skipped);
  out += '}';
}

} // namespace

TCleanCategories SelectedCleanCategories(const tProgramSettings &settings) {
  TCleanCategories selected;
  for (const TCleanCategoryInfo &info : kCleanCategories)
    selected.set(info.category,
                 settings.Clean.Get(info.settingsKey).value_or(info.selectedByDefault));
  return selected;
}

std::int64_t TCleanRunCategory::TotalSize() const {
  std::int64_t total = 0;
  for (const TCleanItem &item : items)
    total += item.Size;
  return total;
}

bool TCleanRunCategory::Done() const {
  return (outcome == coDone || outcome == coNotFound) && failures.empty();
}

bool TCleanRunResult::AllDone() const {
  if (!passFailure.empty())
    return false;
  for (const TCleanRunCategory &category : categories)
    if (!category.Done())
      return false;
  return true;
}

TCleanRunResult RunCleanWith(TSysCleaner &cleaner, const TCleanRunRequest &request,
                             qp::TMainThread &mainThread) {
  TCleanRunResult run;
  run.kind = request.kind;
  cleaner.Categories = request.categories;
  cleaner.DeleteDownloadedFiles = request.deleteDownloadedFiles;
  const auto selected = [&request](std::size_t c) { return request.categories.test(c); };

  if (request.kind == crAnalyze) {
    const TPassOutcome analysis =
        RunPass(cleaner, smReport, request, kPassBefore, kAnalyzePasses, mainThread);
    AddFailureText(run, kPassBefore, analysis.failure);
    for (std::size_t c = 0; c < kCleanCategoryCount; ++c)
      if (selected(c))
        run.categories.push_back(
            FromAnalysis(static_cast<TCleanCategory>(c), analysis.result.categories[c]));
    return run;
  }

  const TPassOutcome before =
      RunPass(cleaner, smReport, request, kPassBefore, kCleanPasses, mainThread);
  AddFailureText(run, kPassBefore, before.failure);
  if (!before.failure.empty()) {
    // What the clean removed is known only against a complete analysis,
    // so nothing is cleaned without one.
    for (std::size_t c = 0; c < kCleanCategoryCount; ++c)
      if (selected(c))
        run.categories.push_back(NotCleaned(static_cast<TCleanCategory>(c)));
    return run;
  }
  const TPassOutcome clean =
      RunPass(cleaner, smClean, request, kPassClean, kCleanPasses, mainThread);
  AddFailureText(run, kPassClean, clean.failure);
  run.filesInUse = clean.result.filesInUse;
  run.explorerRestartFailed = clean.result.explorerRestartFailed;
  const TPassOutcome after =
      RunPass(cleaner, smReport, request, kPassAfter, kCleanPasses, mainThread);
  AddFailureText(run, kPassAfter, after.failure);
  for (std::size_t c = 0; c < kCleanCategoryCount; ++c)
    if (selected(c))
      run.categories.push_back(FromClean(static_cast<TCleanCategory>(c),
                                         before.result.categories[c], clean.result.categories[c],
                                         after.result.categories[c]));
  return run;
}

TCleanRunResult RunClean(const TCleanRunRequest &request, qp::TMainThread &mainThread) {
  TSysCleaner cleaner(mainThread);
  return RunCleanWith(cleaner, request, mainThread);
}

std::string_view OutcomeText(TCategoryOutcome outcome) {
  switch (outcome) {
  case coNotHandled:
    return "not handled";
  case coNotFound:
    return "not found";
  case coDone:
    return "done";
  case coIncomplete:
    return "incomplete";
  case coFailed:
    return "failed";
  }
  return "not handled";
}

std::string CleanRunJson(const TCleanRunResult &result) {
  std::string out = "{\"mode\":";
  out += Quoted(result.kind == crAnalyze ? "analyze" : "clean");
  out += ",\"complete\":";
  out += BoolText(result.AllDone());
  out += ",\"categories\":[";
  std::size_t count = 0;
  std::int64_t size = 0;
  for (std::size_t i = 0; i < result.categories.size(); ++i) {
    if (i > 0)
      out += ',';
    AppendCategory(out, result.categories[i]);
    count += result.categories[i].items.size();
    size += result.categories[i].TotalSize();
  }
  out += "],\"count\":" + std::to_string(count);
  out += ",\"size\":" + std::to_string(size);
  out += ",\"filesInUse\":[";
  for (std::size_t i = 0; i < result.filesInUse.size(); ++i) {
    if (i > 0)
      out += ',';
    out += Quoted(result.filesInUse[i]);
  }
  out += "],\"explorerRestartFailed\":";
  out += BoolText(result.explorerRestartFailed);
  out += ",\"error\":" + Quoted(result.passFailure);
  out += '}';
  return out;
}

} // namespace quenlo
