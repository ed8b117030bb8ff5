#include "app/pages/uHistoryPageLogic.h"

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <utility>

#include "app/pages/uPages.h"
#include "app/uEnvironment.h"
#include "paths/uSysUtils.h"
#include "platform/ScopeGuard.h"

namespace quenlo {

namespace {

// Windows XP in the values of WindowsVersion: from it on the shell's tray
// icon history needs a restart of explorer.exe to take effect.
constexpr int kWindowsXP = 6;

bool IsAnyOf(TCleanCategory category, std::initializer_list<int> set) {
  return std::find(set.begin(), set.end(), static_cast<int>(category)) != set.end();
}

// A browser group of the applications check: the categories it covers,
// the executable that shows it runs and its line in the question.
struct TBrowserCheck {
  TCleanCategory first;
  TCleanCategory last;
  const char *exeName;
  const char *line;
};

constexpr std::array<TBrowserCheck, 5> kBrowserChecks = {{
    {ccIECache, ccIEFavoritesMenuOrderHistory, "iexplore.exe", kBrowserLineIE},
    {ccFFVisitedURLHistory, ccFFInputHistory, "firefox.exe", kBrowserLineFirefox},
    {ccGCHistory, ccGCPassword, "chrome.exe", kBrowserLineChrome},
    {ccOBHistory, ccOBPassword, "opera.exe", kBrowserLineOpera},
    {ccASHistory, ccASPassword, "safari.exe", kBrowserLineSafari},
}};

bool Concerns(const TBrowserCheck &browser, const TCleanCategories &categories) {
  for (int c = browser.first; c <= browser.last; ++c)
    if (categories[static_cast<std::size_t>(c)])
      return true;
  return false;
}

// The figures of one analysis's findings.
THistoryFigures FiguresOf(const TPassResult &analysis) {
  THistoryFigures figures;
  for (std::size_t c = 0; c < kCleanCategoryCount; ++c) {
    const std::vector<TCleanItem> &items = analysis.categories[c].items;
    std::int64_t size = 0;
    for (const TCleanItem &item : items)
      size += item.Size;
    figures.count[c] = static_cast<std::int64_t>(items.size());
    figures.size[c] = size;
    figures.totalCount += figures.count[c];
    if (CleanCategoryInfo(static_cast<TCleanCategory>(c)).sizesAdded)
      figures.totalSize += size;
  }
  return figures;
}

std::int64_t NotBelowZero(std::int64_t value) {
  return value < 0 ? 0 : value;
}

// The distinct reasons of notes, in the order they first appear.
std::string DistinctReasons(const std::vector<TCleanNote> &notes) {
  std::vector<std::string> seen;
  for (const TCleanNote &note : notes)
    if (std::find(seen.begin(), seen.end(), note.Reason) == seen.end())
      seen.push_back(note.Reason);
  std::string text;
  for (const std::string &reason : seen)
    text += (text.empty() ? "" : ", ") + reason;
  return text;
}

// "\b\index.dat" for "C:\a\b\index.dat": the last folder's name and the
// file's.
std::string FolderAndFileName(const std::string &path) {
  const std::size_t slash = path.find_last_of('\\');
  if (slash == std::string::npos)
    return "\\" + path;
  const std::string folder = path.substr(0, slash);
  const std::size_t folderSlash = folder.find_last_of('\\');
  const std::string folderName =
      folderSlash == std::string::npos ? folder : folder.substr(folderSlash + 1);
  return "\\" + folderName + "\\" + path.substr(slash + 1);
}

std::string ItemsText(std::int64_t count) {
  return count == 1 ? std::string("1 Item") : std::to_string(count) + " Items";
}

} // namespace

std::string HistoryDetailCaption(TCleanCategory category) {
  if (IsAnyOf(category, {0, 1, 2, 11, 12, 17, 18}))
    return "Key Name";
  if (IsAnyOf(category, {3, 24, 25, 30, 31, 35, 36, 37, 41, 42}))
    return "Data";
  if (category == ccWindowsClipboard)
    return "Clipboard Format";
  if (IsAnyOf(category, {6, 7}))
    return "Key/File Name";
  if (category == ccHotFixes)
    return "Description";
  if (IsAnyOf(category, {15, 16, 19, 34}))
    return "URL";
  if (category == ccFFCache)
    return "File Name/Record";
  if (IsAnyOf(category, {21, 27}))
    return "Cookie Name";
  if (IsAnyOf(category, {22, 29, 40}))
    return "Name";
  return "File Name";
}

bool HistoryDetailHasSize(TCleanCategory category) {
  return IsAnyOf(category, {4, 5, 8, 9, 10, 13, 14, 20, 23});
}

THistoryPageLogic::THistoryPageLogic(const THistoryPageDeps &deps) : d_(deps) {
  for (std::size_t c = 0; c < kCleanCategoryCount; ++c) {
    const TCleanCategoryInfo &info = CleanCategoryInfo(static_cast<TCleanCategory>(c));
    checked_[c] = d_.settings.Clean.Get(info.settingsKey).value_or(info.selectedByDefault);
  }
  deleteDownloads_ = d_.settings.DeleteDownloadedFiles;
  d_.cleaner.OnScanComplete = [this](TSysCleaner &, TScanMode mode) { OnScanComplete(mode); };
  d_.cleaner.OnProgress = [this](TSysCleaner &, TCleanCategory, int totalProgress) {
    OnProgress(totalProgress);
  };
}

THistoryPageLogic::~THistoryPageLogic() {
  // Detached first: the events a stop still serves must not reach a page
  // that is going away.
  d_.cleaner.OnScanComplete = nullptr;
  d_.cleaner.OnProgress = nullptr;
  d_.cleaner.Stop();
}

// --- IHistoryPage

bool THistoryPageLogic::Scanning() const {
  switch (state_) {
  case hsAnalyzing:
  case hsAnalyzingBeforeClean:
  case hsBeforeCleanDone:
  case hsCleaning:
  case hsAnalyzingAfterClean:
    return true;
  case hsIdle:
  case hsAnalysisShown:
    break;
  }
  return false;
}

void THistoryPageLogic::Stop() {
  const bool running = Scanning();
  d_.cleaner.Stop();
  ShowCategoryPage();
  if (running)
    Navigation(true);
  Changed();
}

void THistoryPageLogic::StoreState() {
  for (std::size_t c = 0; c < kCleanCategoryCount; ++c)
    qp::IgnoreResult(d_.settings.Clean.Set(
        CleanCategoryInfo(static_cast<TCleanCategory>(c)).settingsKey, checked_[c]));
  d_.settings.DeleteDownloadedFiles = deleteDownloads_;
}

// --- the category page

bool THistoryPageLogic::Checked(TCleanCategory category) const {
  return checked_[category];
}

void THistoryPageLogic::SetChecked(TCleanCategory category, bool checked) {
  if (!BoxesEnabled()) {
    Changed(); // the view shows the box as it stays
    return;
  }
  const bool ticked = checked && !checked_[category];
  checked_[category] = checked;
  Changed();
  if (ticked && category == ccHotFixes)
    Ask(GetCategoryCaption(ccHotFixes) + kHistoryUninstallersWarning, TMsgButtons::Ok,
        TMsgIcon::Warning);
}

TCheckState THistoryPageLogic::CheckAllState() const {
  if (checked_.all())
    return TCheckState::Checked;
  if (checked_.none())
    return TCheckState::Unchecked;
  return TCheckState::Mixed;
}

void THistoryPageLogic::ClickCheckAll() {
  if (!BoxesEnabled()) {
    Changed();
    return;
  }
  // The all-box cycles as a three-state box does: from empty it becomes
  // ticked, from ticked or greyed it becomes empty.
  if (CheckAllState() == TCheckState::Unchecked) {
    for (std::size_t c = 0; c < kCleanCategoryCount; ++c)
      if (c != ccHotFixes)
        checked_[c] = true;
    // Through SetChecked, so that ticking all warns about the uninstallers.
    SetChecked(ccHotFixes, true);
    return;
  }
  checked_.reset();
  Changed();
}

bool THistoryPageLogic::DeleteDownloadedFiles() const {
  return deleteDownloads_;
}

void THistoryPageLogic::SetDeleteDownloadedFiles(bool on) {
  if (!BoxesEnabled()) {
    Changed();
    return;
  }
  deleteDownloads_ = on;
  Changed();
}

bool THistoryPageLogic::AnalyzeEnabled() const {
  return checked_.any() && !Scanning();
}

bool THistoryPageLogic::CleanEnabled() const {
  return AnalyzeEnabled();
}

bool THistoryPageLogic::StopEnabled() const {
  return Scanning();
}

// --- commands

void THistoryPageLogic::Analyze() {
  if (Scanning() || d_.cleaner.Running())
    return;
  StoreState();
  origin_ = hoAnalysisOnly;
  progressPlace_ = ppCategoryPage;
  progressText_ = kHistoryAnalyzingText;
  progress_ = 0;
  Navigation(false);
  state_ = hsAnalyzing;
  StartPass(smReport);
}

void THistoryPageLogic::CleanFromCategoryPage() {
  if (Scanning())
    return;
  StoreState();
  ConfirmedClean();
}

void THistoryPageLogic::CleanFromSummaryPage() {
  if (Scanning())
    return;
  StoreState();
  ConfirmedClean();
}

void THistoryPageLogic::ConfirmedClean() {
  if (Scanning() || d_.cleaner.Running())
    return;
  if (!ApplicationsCheck())
    return;
  progressText_ = kHistoryCleaningText;
  progress_ = 0;
  Navigation(false);
  // The category page is shown only while no analysis is (showing it
  // resets the summary page), so the state tells which page the clean was
  // pressed on, also when the main window triggers it.
  if (state_ == hsAnalysisShown) {
    origin_ = hoSummaryPage;
    // The analysis shown is what the clean is measured against.
    before_ = lastAnalysis_;
    after_ = THistoryFigures{};
    progressPlace_ = ppSummaryPage;
    StartClean();
    return;
  }
  origin_ = hoCategoryPage;
  progressPlace_ = ppCategoryPage;
  state_ = hsAnalyzingBeforeClean;
  StartPass(smReport);
}

void THistoryPageLogic::StopAnalysis() {
  Stop();
}

void THistoryPageLogic::StopClean() {
  Stop();
}

void THistoryPageLogic::Back() {
  if (Scanning())
    return;
  if (view_ == hvDetail) {
    FillSummary();
    Changed();
    return;
  }
  ShowCategoryPage();
  Changed();
}

void THistoryPageLogic::OpenRow(std::size_t index) {
  if (Scanning() || subPage_ != hpSummary || index >= rows_.size())
    return;
  if (view_ == hvAnalysis) {
    FillDetail(rows_[index].category);
    Changed();
  } else if (view_ == hvDetail && index == 0) {
    FillSummary();
    Changed();
  }
}

// --- what the view shows

std::string THistoryPageLogic::SummaryTitle() const {
  switch (view_) {
  case hvDetail:
    return GetCategoryCaption(detailCategory_) + kHistoryDetailsSuffix;
  case hvCleanResult:
    return kHistoryCleanResultTitle;
  case hvAnalysis:
    break;
  }
  return kHistorySummaryTitle;
}

std::vector<std::string> THistoryPageLogic::Columns() const {
  if (view_ != hvDetail)
    return {"Section", "Count", "Size"};
  std::vector<std::string> columns = {HistoryDetailCaption(detailCategory_)};
  if (HistoryDetailHasSize(detailCategory_))
    columns.emplace_back("Size");
  return columns;
}

bool THistoryPageLogic::SummaryListEnabled() const {
  return !Scanning();
}

bool THistoryPageLogic::FiguresVisible() const {
  return subPage_ == hpSummary && view_ != hvCleanResult;
}

std::string THistoryPageLogic::TotalFilesText() const {
  return std::to_string(before_.totalCount);
}

std::string THistoryPageLogic::SpaceFreedText() const {
  return FormatByteSize(before_.totalSize);
}

bool THistoryPageLogic::ProgressVisible() const {
  return progressShown_;
}

std::string THistoryPageLogic::ProgressText() const {
  return Scanning() ? progressText_ : std::string();
}

// --- the passes

void THistoryPageLogic::StartPass(TScanMode mode) {
  d_.cleaner.ClearResults();
  d_.cleaner.Categories = checked_;
  d_.cleaner.DeleteDownloadedFiles = deleteDownloads_;
  progressShown_ = true;
  if (!d_.cleaner.Start(mode)) {
    // Refused only while a stopped pass's worker is still inside one of
    // its events: the page goes back to idle rather than wait for an
    // OnScanComplete that will not come.
    ShowCategoryPage();
    Navigation(true);
  }
  Changed();
}

void THistoryPageLogic::StartClean() {
  state_ = hsCleaning;
  StartPass(smClean);
}

void THistoryPageLogic::OnProgress(int totalProgress) {
  if (origin_ != lastOrigin_ || state_ != lastState_) {
    lastOrigin_ = origin_;
    lastState_ = state_;
    struct TMapping {
      THistoryCleanOrigin origin;
      THistorySummaryState state;
      int mul, div, offset;
    };
    static constexpr std::array<TMapping, 5> kMappings = {{
        {hoSummaryPage, hsCleaning, 2, 3, 0},
        {hoSummaryPage, hsAnalyzingAfterClean, 1, 3, 66},
        {hoCategoryPage, hsAnalyzingBeforeClean, 1, 4, 0},
        {hoCategoryPage, hsCleaning, 2, 4, 25},
        {hoCategoryPage, hsAnalyzingAfterClean, 1, 4, 75},
    }};
    if (origin_ == hoAnalysisOnly) {
      mul_ = 1;
      div_ = 1;
      offset_ = 0;
    }
    for (const TMapping &m : kMappings)
      if (m.origin == origin_ && m.state == state_) {
        mul_ = m.mul;
        div_ = m.div;
        offset_ = m.offset;
      }
  }
  if (progress_ >= 100)
    return;
  progress_ = std::clamp(totalProgress * mul_ / div_ + offset_, 0, 100);
  Changed();
}

void THistoryPageLogic::OnScanComplete(TScanMode) {
  switch (state_) {
  case hsAnalyzing: {
    progress_ = 0;
    progressShown_ = false;
    lastAnalysis_ = FiguresOf(d_.cleaner.LastAnalysis());
    before_ = lastAnalysis_;
    if (before_.totalCount > 0) {
      subPage_ = hpSummary;
      state_ = hsAnalysisShown;
      FillSummary();
      Navigation(true);
      Changed();
      if (const std::string lines = NotAnalysedLines(); !lines.empty())
        Ask(kHistoryNotAnalysedList + lines, TMsgButtons::Ok, TMsgIcon::Warning);
      return;
    }
    ShowCategoryPage();
    Navigation(true);
    Changed();
    ReportNothingFound();
    return;
  }
  case hsAnalyzingBeforeClean: {
    lastAnalysis_ = FiguresOf(d_.cleaner.LastAnalysis());
    if (lastAnalysis_.totalCount > 0) {
      before_ = lastAnalysis_;
      after_ = THistoryFigures{};
      state_ = hsBeforeCleanDone;
      StartClean();
      return;
    }
    ShowCategoryPage();
    Navigation(true);
    Changed();
    ReportNothingFound();
    return;
  }
  case hsCleaning:
    state_ = hsAnalyzingAfterClean;
    StartPass(smReport);
    return;
  case hsAnalyzingAfterClean:
    lastAnalysis_ = FiguresOf(d_.cleaner.LastAnalysis());
    after_ = lastAnalysis_;
    state_ = hsAnalysisShown;
    progressShown_ = false;
    ShowCleanResult();
    MessagesAfterClean();
    return;
  case hsIdle:
  case hsAnalysisShown:
  case hsBeforeCleanDone:
    break;
  }
}

// --- the summary page's lists

void THistoryPageLogic::FillSummary() {
  view_ = hvAnalysis;
  rows_.clear();
  for (std::size_t c = 0; c < kCleanCategoryCount; ++c) {
    if (before_.count[c] <= 0)
      continue;
    const auto category = static_cast<TCleanCategory>(c);
    rows_.push_back({.section = GetQualifiedCaption(category),
                     .count = std::to_string(before_.count[c]),
                     .size = CleanCategoryInfo(category).sizesAdded
                                 ? FormatByteSize(before_.size[c])
                                 : std::string(),
                     .category = category});
  }
}

void THistoryPageLogic::FillDetail(TCleanCategory category) {
  view_ = hvDetail;
  detailCategory_ = category;
  rows_.clear();
  rows_.push_back({.section = kHistoryUpRow, .count = {}, .size = {}, .category = category});
  const bool sized = HistoryDetailHasSize(category);
  for (std::size_t i = 0; i < d_.cleaner.ItemCount(category); ++i) {
    const TCleanItem &item = d_.cleaner.Item(category, i);
    rows_.push_back({.section = item.Name,
                     .count = {},
                     .size = sized ? FormatByteSize(item.Size) : std::string(),
                     .category = category});
  }
}

void THistoryPageLogic::ShowCleanResult() {
  view_ = hvCleanResult;
  subPage_ = hpSummary;
  rows_.clear();
  removedCount_ = 0;
  std::int64_t removedSize = 0;
  const TCleanCategories &cleaned = d_.cleaner.LastClean().selected;
  for (std::size_t c = 0; c < kCleanCategoryCount; ++c) {
    // A category the clean did not cover shows nothing removed, whatever
    // the later analysis (which did not cover it either) says.
    if (before_.count[c] <= 0 || !cleaned[c])
      continue;
    const auto category = static_cast<TCleanCategory>(c);
    const std::int64_t count = NotBelowZero(before_.count[c] - after_.count[c]);
    const bool sized = CleanCategoryInfo(category).sizesAdded;
    const std::int64_t size = sized ? NotBelowZero(before_.size[c] - after_.size[c]) : 0;
    removedCount_ += count;
    removedSize += size;
    rows_.push_back({.section = GetQualifiedCaption(category),
                     .count = std::to_string(count),
                     .size = sized ? FormatByteSize(size) : std::string(),
                     .category = category});
  }
  rows_.push_back({.section = {}, .count = {}, .size = {}, .separator = true});
  rows_.push_back({.section = kHistoryTotalLine,
                   .count = ItemsText(removedCount_),
                   .size = FormatByteSize(removedSize),
                   .bold = true});
}

// --- the checks and messages around a clean

bool THistoryPageLogic::ApplicationsCheck() {
  for (;;) {
    std::string running;
    for (const TBrowserCheck &browser : kBrowserChecks)
      if (Concerns(browser, checked_) && d_.services.BrowserRunning(browser.exeName))
        running += browser.line;
    if (running.empty())
      return true;
    switch (Ask(kHistoryCloseApps + running, TMsgButtons::AbortRetryIgnore, TMsgIcon::Warning)) {
    case TMsgAnswer::Retry:
      continue;
    case TMsgAnswer::Ignore:
      return true;
    default:
      return false;
    }
  }
}

namespace {

// Why a pass did not handle a category in full; empty when it did.
std::string FailureReason(const TCategoryResult &result) {
  switch (result.outcome) {
  case coFailed:
  case coNotHandled:
    return result.reason;
  case coIncomplete:
    return DistinctReasons(result.failures);
  case coDone:
  case coNotFound:
    break;
  }
  return {};
}

// "caption: reason" per selected category that has a reason.
std::string ReasonLines(const TPassResult &pass,
                        const std::function<std::string(std::size_t)> &reasonOf) {
  std::string lines;
  for (std::size_t c = 0; c < kCleanCategoryCount; ++c) {
    if (!pass.selected[c])
      continue;
    const std::string reason = reasonOf(c);
    if (!reason.empty())
      lines += GetQualifiedCaption(static_cast<TCleanCategory>(c)) + ": " + reason + "\r\n";
  }
  return lines;
}

} // namespace

std::string THistoryPageLogic::NotRemovedLines() const {
  const TPassResult &clean = d_.cleaner.LastClean();
  return ReasonLines(clean, [&](std::size_t c) {
    const TCategoryResult &result = clean.categories[c];
    std::string reason = FailureReason(result);
    // Handled without a failure, yet the analysis after it still finds as
    // much as before: what the clean kept says why, if anything.
    if (reason.empty() && before_.count[c] > 0 && after_.count[c] >= before_.count[c])
      reason = result.kept.empty() ? std::string(kHistoryStillFound) : DistinctReasons(result.kept);
    return reason;
  });
}

std::string THistoryPageLogic::NotAnalysedLines() const {
  const TPassResult &analysis = d_.cleaner.LastAnalysis();
  return ReasonLines(analysis,
                     [&](std::size_t c) { return FailureReason(analysis.categories[c]); });
}

void THistoryPageLogic::ReportNothingFound() {
  const std::string lines = NotAnalysedLines();
  if (lines.empty()) {
    Ask(kHistoryNoHistory, TMsgButtons::Ok, TMsgIcon::Information);
    return;
  }
  Ask(std::string(kHistoryNoHistory) + "\r\r" + kHistoryNotAnalysedList + lines, TMsgButtons::Ok,
      TMsgIcon::Warning);
}

std::string THistoryPageLogic::FilesInUseText(const std::vector<std::string> &files) {
  std::string text;
  if (files.size() < kFilesInUseListed) {
    text = kHistoryFilesInUseList;
    for (const std::string &file : files)
      text += "- " + FolderAndFileName(file) + "\r\n";
    text += "\r\n";
  } else {
    text =
        "However, " + std::to_string(files.size()) + " files are used by other applications.\r\r";
  }
  return text;
}

void THistoryPageLogic::MessagesAfterClean() {
  const std::string lines = NotRemovedLines();
  if (removedCount_ == 0) {
    ShowCategoryPage();
    Navigation(true);
    Changed();
    Ask(std::string(kHistoryNothingRemoved) + kHistoryNotRemovedList + lines, TMsgButtons::Ok,
        TMsgIcon::Warning);
    return;
  }
  Changed();
  const std::string notRemoved =
      lines.empty() ? std::string() : std::string(kHistoryNotRemovedList) + lines;
  const std::vector<std::string> files = d_.cleaner.FilesInUse();
  if (files.empty()) {
    Ask(notRemoved.empty() ? std::string(kHistoryCleanCompleted)
                           : std::string(kHistoryCleanCompleted) + "\r\r" + notRemoved,
        TMsgButtons::Ok, notRemoved.empty() ? TMsgIcon::Information : TMsgIcon::Warning);
  } else {
    std::string text = std::string(kHistoryCleanCompleted) + "\r";
    if (!notRemoved.empty())
      text += "\r" + notRemoved + "\r";
    text += FilesInUseText(files) + kAppTitle + kHistoryRebootOffer;
    if (Ask(text, TMsgButtons::YesNo, TMsgIcon::Question) == TMsgAnswer::Yes)
      OfferRestart(files);
  }
  if (WindowsVersion >= kWindowsXP && d_.cleaner.ExplorerRestartFailed())
    Ask(GetCategoryCaption(ccTrayIconHistory) + kHistoryExplorerRestart, TMsgButtons::Ok,
        TMsgIcon::Warning);
  Navigation(true);
  Changed();
}

void THistoryPageLogic::OfferRestart(const std::vector<std::string> &files) {
  std::string notScheduled;
  std::size_t scheduled = 0;
  for (const std::string &file : files) {
    const long status = d_.services.DeleteAtRestart(file);
    if (status == 0)
      ++scheduled;
    else
      notScheduled += file + ": " + ReasonForStatus(status) + "\r\n";
  }
  if (scheduled == 0) {
    Ask(std::string(kHistoryNotScheduled) + notScheduled + "\r" + kHistoryNothingScheduled,
        TMsgButtons::Ok, TMsgIcon::Error);
    return;
  }
  if (!notScheduled.empty() &&
      Ask(std::string(kHistoryNotScheduled) + notScheduled + "\r" + kHistoryRestartForScheduled,
          TMsgButtons::YesNo, TMsgIcon::Question) != TMsgAnswer::Yes)
    return;
  if (!d_.restart.Restart())
    Ask(kHistoryRestartFailed, TMsgButtons::Ok, TMsgIcon::Error);
}

// --- the page's own state

void THistoryPageLogic::ShowCategoryPage() {
  subPage_ = hpCategories;
  state_ = hsIdle;
  view_ = hvAnalysis;
  rows_.clear();
  before_ = THistoryFigures{};
  after_ = THistoryFigures{};
  progressPlace_ = ppCategoryPage;
  progress_ = 0;
  progressShown_ = false;
}

void THistoryPageLogic::Navigation(bool on) {
  d_.commands.Post(mcEnableWindow, on ? 1 : 0);
}

void THistoryPageLogic::Changed() {
  if (OnChanged)
    OnChanged();
}

TMsgAnswer THistoryPageLogic::Ask(const std::string &text, TMsgButtons buttons, TMsgIcon icon) {
  return d_.prompter.Ask(TPrompt{.text = text, .buttons = buttons, .icon = icon});
}

} // namespace quenlo
