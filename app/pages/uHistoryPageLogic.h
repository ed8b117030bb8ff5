// The history page ("Clean History") without its window: the category
// page, where the user ticks categories and starts an analysis or a clean,
// and the summary page, which shows an analysis, its details and the result
// of a clean. It drives the history cleaner's engine through its passes
// (analysis; analysis, clean, analysis), maps their progress onto one bar,
// checks for running browsers before a clean, and says afterwards what was
// removed, what was not and why.
//
// Invariants:
//  * The "before" table is the last analysis's findings whichever way the
//    clean was started (from the summary page the shown analysis is the
//    "before"), so the clean result is never counted against zeros.
//  * A clean that removed nothing says what could not be removed and why
//    (the categories that failed or stayed incomplete, with their
//    reasons), never "There is no history found.".
//  * Files in use are offered for deletion when Windows restarts only
//    through a checked call: files that could not be scheduled are named,
//    and Windows is restarted only when at least one file was scheduled.
//  * Every event of the engine reaches the page on the main thread; the
//    view is told to refresh through OnChanged and reads the state below.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/pages/uOptimizerServices.h"
#include "app/pages/uPageServices.h"
#include "app/uSettings.h"
#include "cleaner/uSysCleaner.h"

namespace quenlo {

// --- texts
inline constexpr const char *kHistoryPageTitle = "Clean History";
inline constexpr const char *kHistoryCheckAll = "Check All/Uncheck All";
inline constexpr const char *kHistoryProgressLabel = "Progress:";
inline constexpr const char *kHistoryAnalyzingText = "Analyzing history, please wait ...";
inline constexpr const char *kHistoryCleaningText = "Cleaning history, please wait ...";
inline constexpr const char *kHistorySummaryTitle = "History Analysis Summary";
inline constexpr const char *kHistoryCleanResultTitle = "History Clean Result";
inline constexpr const char *kHistoryDetailsSuffix = " Details";
inline constexpr const char *kHistorySummaryHint = "Double click on item for more details";
inline constexpr const char *kHistoryTotalFilesLabel = "Total # of Files to Remove:";
inline constexpr const char *kHistorySpaceFreedLabel = "Space Freed";
inline constexpr const char *kHistoryAfterCleaning = "(After Cleaning)";
inline constexpr const char *kHistoryUpRow = "..";
inline constexpr const char *kHistoryTotalLine = "Total:";
inline constexpr const char *kHistoryNoHistory = "There is no history found.";
inline constexpr const char *kHistoryCloseApps =
    "The following applications should be closed before you continue:\r\r";
inline constexpr const char *kHistoryCleanCompleted = "Clean history completed.";
inline constexpr const char *kHistoryFilesInUseList =
    "However, folowing files are used by other applications:\r\r";
inline constexpr const char *kHistoryRebootOffer =
    " can delete them after you reboot your system.\r\rDo you want to restart Windows now and "
    "delete files mentioned above?";
inline constexpr const char *kHistoryRestartFailed =
    "Can not restart Windows. Please do it manually.";
inline constexpr const char *kHistoryExplorerRestart =
    " is cleared. However, you will need to manually restart explorer.exe process for the "
    "changes to take effect.\r\rTo restart explorer.exe, perform the following steps:\r\r 1. "
    "Open Task Manager, click the Processes tab, click Explorer.exe, and then click End "
    "Process.\r\r 2. In Task Manager, click File, click New Task, type explorer, and then click "
    "OK.";
inline constexpr const char *kHistoryUninstallersWarning =
    " will be deleted. However, you will no longer be able to uninstall corresponding software "
    "components.";
// Our own texts, where the page says what the engine could not do.
inline constexpr const char *kHistoryNothingRemoved = "No history could be removed.\r\r";
inline constexpr const char *kHistoryNotRemovedList = "These items could not be removed:\r\r";
inline constexpr const char *kHistoryNotScheduled =
    "These files could not be marked for deletion when Windows restarts (this needs "
    "administrator rights):\r\r";
inline constexpr const char *kHistoryNothingScheduled =
    "No file could be marked for deletion, so Windows is not restarted.";
inline constexpr const char *kHistoryRestartForScheduled =
    "Do you want to restart Windows now and delete the other files?";
// The reason given for a category that a clean handled without a failure
// but that the analysis after it still finds in full.
inline constexpr const char *kHistoryStillFound = "still found after the clean";
// After an analysis that could not read some categories (a browser holds
// its database): they are named with the reason, so that "nothing found"
// never hides a failure.
inline constexpr const char *kHistoryNotAnalysedList = "These items could not be analysed:\r\r";
inline constexpr const char *kHistoryDownloadedFilesBox = "Also delete the downloaded files";
// The browsers of the applications check, in the message's order.
inline constexpr const char *kBrowserLineIE = "Internet Explorer\r";
inline constexpr const char *kBrowserLineFirefox = "Mozilla Firefox\r";
inline constexpr const char *kBrowserLineChrome = "Google Chrome\r";
inline constexpr const char *kBrowserLineOpera = "Opera Browser\r";
inline constexpr const char *kBrowserLineSafari = "Apple Safari";

// Files in use are listed one by one up to this many; from it on only
// their number is given.
inline constexpr std::size_t kFilesInUseListed = 6;

enum THistorySummaryState : std::uint8_t {
  hsIdle = 0,
  hsAnalyzing = 1,
  hsAnalysisShown = 2,
  hsAnalyzingBeforeClean = 3,
  hsBeforeCleanDone = 4,
  hsCleaning = 5,
  hsAnalyzingAfterClean = 6,
};

enum THistoryCleanOrigin : std::uint8_t {
  hoAnalysisOnly = 0,
  hoSummaryPage = 1,
  hoCategoryPage = 2,
};

enum THistorySubPage : std::uint8_t { hpCategories = 0, hpSummary = 1 };
// What the summary page's list shows.
enum THistorySummaryView : std::uint8_t { hvAnalysis = 0, hvDetail = 1, hvCleanResult = 2 };
// Where the progress bar and its label stand.
enum THistoryProgressPlace : std::uint8_t { ppCategoryPage = 0, ppSummaryPage = 1 };

// One row of the summary list or of the detail list.
struct THistoryRow {
  std::string section; // caption, file name, "..", or "Total:"
  std::string count;   // summary rows; empty in the detail list
  std::string size;    // empty where the category shows no size
  TCleanCategory category = ccStartMenuOrderHistory;
  bool separator = false; // the line above the clean result's total
  bool bold = false;      // the total line
};

// Per-category figures of one analysis.
struct THistoryFigures {
  std::array<std::int64_t, kCleanCategoryCount> count{};
  std::array<std::int64_t, kCleanCategoryCount> size{};
  std::int64_t totalCount = 0;
  std::int64_t totalSize = 0; // of the size categories only
};

// The detail list's first column caption ("Key Name", "URL" ...) and
// whether it has the "Size" column.
std::string HistoryDetailCaption(TCleanCategory category);
bool HistoryDetailHasSize(TCleanCategory category);

// What the page asks of the system.
class IHistoryServices {
public:
  virtual ~IHistoryServices() = default;
  // A process of this user's session runs the executable (file name, no
  // case: "firefox.exe").
  virtual bool BrowserRunning(const std::string &exeName) = 0;
  // Marks the file for deletion when Windows restarts (MoveFileEx with
  // MOVEFILE_DELAY_UNTIL_REBOOT): 0, or the status (5 without
  // administrator rights).
  [[nodiscard]] virtual long DeleteAtRestart(const std::string &path) = 0;
};

struct THistoryPageDeps {
  IPrompter &prompter;
  ICommandQueue &commands; // mcEnableWindow: 0 while a pass runs, 1 after
  IHistoryServices &services;
  IWindowsRestart &restart;
  TSysCleaner &cleaner; // bound to the main thread; the page sets its events
  tProgramSettings &settings;
};

class THistoryPageLogic final : public IHistoryPage {
public:
  explicit THistoryPageLogic(const THistoryPageDeps &deps);
  ~THistoryPageLogic() override; // stops a running pass
  THistoryPageLogic(const THistoryPageLogic &) = delete;
  THistoryPageLogic &operator=(const THistoryPageLogic &) = delete;

  // --- IHistoryPage (the main window's close and session end)
  bool PageExists() const override { return true; }
  bool Scanning() const override;
  void Stop() override;       // stops a running pass, category page idle
  void StoreState() override; // the boxes into the settings record

  // --- the category page
  bool Checked(TCleanCategory category) const;
  // Ticking Update Uninstallers (10) shows its warning; the box stays.
  void SetChecked(TCleanCategory category, bool checked);
  TCheckState CheckAllState() const;
  // Ticks every box when the all-box becomes ticked, else clears them all.
  void ClickCheckAll();
  bool DeleteDownloadedFiles() const;
  void SetDeleteDownloadedFiles(bool on);
  bool AnalyzeEnabled() const; // at least one box ticked, no pass running
  bool CleanEnabled() const;
  bool StopEnabled() const; // a pass runs
  // The boxes take changes only while no pass runs: the passes of one
  // clean must all handle the categories its analysis listed.
  bool BoxesEnabled() const { return !Scanning(); }
  bool BackEnabled() const { return !Scanning(); }

  void Analyze();
  void CleanFromCategoryPage();
  void CleanFromSummaryPage();
  // The confirmed clean (the main window can trigger it too).
  void ConfirmedClean();
  void StopAnalysis();
  void StopClean();
  // Summary page: from a detail view back to the summary, else to the
  // category page.
  void Back();
  // Double-click or Enter on a row of the list: a summary row opens its
  // detail view, ".." returns; nothing in the clean result.
  void OpenRow(std::size_t index);

  // --- what the view shows
  THistorySubPage SubPage() const { return subPage_; }
  THistorySummaryView SummaryView() const { return view_; }
  std::string SummaryTitle() const;
  const std::vector<THistoryRow> &Rows() const { return rows_; }
  // Columns of the list: "Section", "Count", "Size" for the summary and
  // the clean result; the detail caption (and "Size") for a detail view.
  std::vector<std::string> Columns() const;
  bool SummaryListEnabled() const;
  bool FiguresVisible() const; // the two figures (not in the clean result)
  std::string TotalFilesText() const;
  std::string SpaceFreedText() const;
  bool ProgressVisible() const;
  THistoryProgressPlace ProgressPlace() const { return progressPlace_; }
  int Progress() const { return progress_; } // 0 to 100
  // "Analyzing history, please wait ..." or "Cleaning ...", empty when idle.
  std::string ProgressText() const;

  // Once a clean result is shown this reads hsAnalysisShown again: the
  // analysis after the clean is the one a further clean is measured from.
  THistorySummaryState SummaryState() const { return state_; }
  THistoryCleanOrigin CleanOrigin() const { return origin_; }
  const THistoryFigures &Before() const { return before_; }
  const THistoryFigures &After() const { return after_; }

  // The view refreshes when told.
  std::function<void()> OnChanged;

private:
  void OnScanComplete(TScanMode mode);
  void OnProgress(int totalProgress);
  void StartPass(TScanMode mode);
  void StartClean();
  bool ApplicationsCheck();
  void ShowCleanResult();
  // "caption: reason\r\n" per category of the last clean that failed,
  // stayed incomplete or still holds all it held before.
  std::string NotRemovedLines() const;
  // "caption: reason" lines of the categories the last analysis could not
  // handle in full.
  std::string NotAnalysedLines() const;
  // After an analysis that found nothing: kHistoryNoHistory, or with the
  // categories that could not be analysed.
  void ReportNothingFound();
  static std::string FilesInUseText(const std::vector<std::string> &files);
  void MessagesAfterClean();
  void OfferRestart(const std::vector<std::string> &files);
  void ShowCategoryPage();
  void FillSummary();
  void FillDetail(TCleanCategory category);
  void Navigation(bool on);
  void Changed();
  TMsgAnswer Ask(const std::string &text, TMsgButtons buttons, TMsgIcon icon);

  THistoryPageDeps d_;
  TCleanCategories checked_;
  bool deleteDownloads_ = false;
  THistorySubPage subPage_ = hpCategories;
  THistorySummaryView view_ = hvAnalysis;
  THistorySummaryState state_ = hsIdle;
  THistoryCleanOrigin origin_ = hoAnalysisOnly;
  TCleanCategory detailCategory_ = ccStartMenuOrderHistory;
  std::vector<THistoryRow> rows_;
  THistoryFigures before_;
  THistoryFigures after_;
  // The figures of the last analysis of any kind: the "before" of a clean
  // started from the summary page.
  THistoryFigures lastAnalysis_;
  std::int64_t removedCount_ = 0; // the clean result's total
  std::string progressText_;
  THistoryProgressPlace progressPlace_ = ppCategoryPage;
  int progress_ = 0;
  bool progressShown_ = false;
  // The progress mapping of the last event: (origin, state) -> m, d, o.
  int lastOrigin_ = -1;
  int lastState_ = -1;
  int mul_ = 1;
  int div_ = 1;
  int offset_ = 0;
};

} // namespace quenlo
