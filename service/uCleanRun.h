// The history cleaner's scripted run, as the command line uses it: one
// analysis, or an analysis, a clean and a second analysis of the same
// categories, each pass run to its end on the calling thread's dispatcher.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "cleaner/uSysCleaner.h"
#include "platform/MainThread.h"

namespace quenlo {

struct tProgramSettings;

// The categories the settings' [clean] section selects.
TCleanCategories SelectedCleanCategories(const tProgramSettings &settings);

enum TCleanRunKind : std::uint8_t {
  crAnalyze = 0, // one analysis
  crClean = 1,   // analysis, clean, analysis
};

// Where a run is: its pass (0-based; an analysis has one, a clean three),
// that pass's mode, and the pass's progress after a category.
struct TCleanRunProgress {
  int pass = 0;
  int passCount = 1;
  TScanMode mode = smReport;
  TCleanCategory category = ccStartMenuOrderHistory;
  int totalProgress = 0; // 0 to 100, of this pass
};

struct TCleanRunRequest {
  TCleanRunKind kind = crAnalyze;
  TCleanCategories categories;
  // The download categories also delete the downloaded files.
  bool deleteDownloadedFiles = false;
  // Called on the calling thread after each category of each pass.
  std::function<void(const TCleanRunProgress &progress)> onProgress;
};

// Per category, what the run found and did.
struct TCleanRunCategory {
  TCleanCategory category = ccStartMenuOrderHistory;
  TCategoryOutcome outcome = coNotHandled; // of the analysis, or of the clean
  std::string reason;
  // Analyze: the findings. Clean: what the first analysis listed and the
  // second no longer does.
  std::vector<TCleanItem> items;
  std::vector<TCleanNote> kept;
  // Steps that did not apply here (a table this browser version lacks).
  std::vector<TCleanNote> skipped;
  // What could not be analysed or removed, with the reason; a clean adds
  // each finding the second analysis still lists ("not removed").
  std::vector<TCleanNote> failures;
  std::int64_t TotalSize() const;
  bool Done() const; // coDone or coNotFound, and no failures
};

struct TCleanRunResult {
  TCleanRunKind kind = crAnalyze;
  std::vector<TCleanRunCategory> categories; // the selected ones, in category order
  std::vector<std::string> filesInUse;
  bool explorerRestartFailed = false;
  // A pass ended by an exception or was stopped: its text.
  std::string passFailure;
  bool AllDone() const; // every category Done and no pass failure
};

inline constexpr std::string_view kReasonNotRemoved = "not removed";

// Runs the request with a cleaner of its own and pumps mainThread until
// each pass has ended.
TCleanRunResult RunClean(const TCleanRunRequest &request,
                         qp::TMainThread &mainThread = qp::MainThread());
// The same with a given cleaner, bound to mainThread and idle (tests give
// one whose handlers they replaced); its Categories are set from request.
TCleanRunResult RunCleanWith(TSysCleaner &cleaner, const TCleanRunRequest &request,
                             qp::TMainThread &mainThread);

// One JSON object: {"mode", "complete", "categories":[{"number", "key",
// "caption", "outcome", "reason", "count", "size", "items":[{"name",
// "size"}], "kept":[...], "failures":[{"name", "reason"}], "skipped":[...]}], "count",
// "size", "filesInUse", "explorerRestartFailed", "error"}.
std::string CleanRunJson(const TCleanRunResult &result);
// "done", "not found", "incomplete", "failed", "not handled".
std::string_view OutcomeText(TCategoryOutcome outcome);

} // namespace quenlo
