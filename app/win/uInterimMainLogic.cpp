#include "uInterimMainLogic.h"

#include "app/uEnvironment.h"
#include "app/uSettings.h"
#include "platform/ScopeGuard.h"

namespace quenlo::win {

namespace {
THeaderButton ButtonOf(TPage page) {
  switch (page) {
  case pgScan:
    return hbScan;
  case pgOptimizer:
    return hbOptimizer;
  case pgMonitor:
    return hbMonitor;
  case pgRestore:
    return hbRestore;
  case pgHistory:
    return hbHistory;
  case pgSettings:
    return hbSettings;
  default:
    return hbStatus;
  }
}
constexpr TPage kButtonPages[HeaderButtonCount] = {pgStatus,  pgScan,    pgOptimizer, pgMonitor,
                                                   pgRestore, pgHistory, pgSettings};
} // namespace

void TInterimMainLogic::OnCreate() {
  d_.scanner.SetUndoFolder(SettingsPath(UndoFolderTitle));
  d_.scanner.StatsFromText(Settings().healthstatus);
  d_.scanPage.SetScanStarter([this] { return BeginScan(); });
  ShowPage(pgStatus);
  d_.commands.Post(mcStartUp);
}

void TInterimMainLogic::ShowPage(TPage page) {
  if (page == current_)
    return;
  if (page == pgScan && d_.scanner.ResultsAvailable()) {
    d_.commands.Post(mcShowResultsOrReport);
    return;
  }
  if (current_ == pgScan)
    d_.scanPage.Hide();
  if (page == pgStatus)
    d_.statusPage.Refresh();
  if (page == pgResults)
    d_.resultsPage.ShowResults();
  if (page == pgReport)
    d_.reportPage.Show();
  current_ = page;
  last_ = page;
  d_.frame.ShowPage(page);
}

void TInterimMainLogic::ShowResultsOrReport() {
  if (Settings().last_err <= 0) {
    ShowPage(pgReport);
    d_.reportPage.ShowReport(d_.scanner.ErrorCount(), repaired_, {});
  } else {
    ShowPage(pgResults);
  }
}

std::intptr_t TInterimMainLogic::HandleCommand(int command, std::intptr_t lParam) {
  switch (command) {
  case mcStartUp:
    ShowPage(last_);
    break;
  case mcRepaint:
    d_.frame.Repaint();
    break;
  case mcShutdown:
    if (d_.scanner.IsScanning())
      d_.scanner.StopScan();
    d_.frame.Quit();
    break;
  case mcShowMainWindow:
    d_.frame.ShowNormal();
    break;
  case mcConfirmMonitorOff:
    return 1;
  case mcClearResults:
    if (!busy_ || !d_.scanner.IsScanning()) {
      d_.resultsPage.Detach();
      d_.scanner.ClearResults();
    }
    break;
  case mcEnableWindow:
    d_.frame.EnableHeader((lParam & 1) != 0);
    if ((lParam & 2) != 0)
      d_.frame.EnableWindow((lParam & 4) != 0);
    break;
  case mcShowResultsOrReport:
    ShowResultsOrReport();
    break;
  case mcScan:
    ShowPage(pgScan);
    d_.scanPage.ScanNow();
    break;
  case mcHeaderOff:
    d_.frame.EnableHeader(false);
    break;
  case mcClearAndShowScan:
    d_.scanner.ClearResults();
    ShowPage(pgScan);
    break;
  case mcShowStatus:
    ShowPage(pgStatus);
    d_.frame.SelectHeaderButton(hbStatus);
    break;
  case mcShowScanOrResults:
    ShowPage(d_.scanner.ResultsAvailable() ? pgResults : pgScan);
    d_.frame.SelectHeaderButton(hbScan);
    break;
  case mcClearAndScan:
    if (busy_)
      break;
    d_.resultsPage.Detach();
    d_.scanner.ClearResults();
    ShowPage(pgScan);
    d_.frame.SelectHeaderButton(hbScan);
    d_.scanPage.ScanNow();
    break;
  case mcShowScanKeepResults:
    if (current_ == pgScan)
      break;
    d_.scanPage.Hide();
    current_ = pgScan;
    last_ = pgScan;
    d_.frame.ShowPage(pgScan);
    break;
  case mcShowResults:
    ShowResultsOrReport();
    d_.frame.SelectHeaderButton(hbScan);
    break;
  case mcShowOptimizer:
    ShowPage(pgOptimizer);
    break;
  case mcShowRestore:
    ShowPage(pgRestore);
    break;
  case mcShowMonitor:
    ShowPage(pgMonitor);
    break;
  case mcShowSettings:
    d_.frame.SelectHeaderButton(hbSettings);
    ShowPage(pgSettings);
    break;
  case mcShowHistory:
    ShowPage(pgHistory);
    break;
  case mcCheckAllAndStatus:
    d_.scanPage.SetCheckAll(true);
    d_.frame.SelectHeaderButton(hbStatus);
    ShowPage(pgStatus);
    break;
  default:
    break;
  }
  return 0;
}

void TInterimMainLogic::HeaderButtonClicked(int index) {
  if (index < 0 || index >= HeaderButtonCount)
    return;
  const TPage page = kButtonPages[index];
  d_.frame.SelectHeaderButton(ButtonOf(page));
  ShowPage(page);
}

bool TInterimMainLogic::BeginScan() {
  if (busy_)
    return false;
  if (d_.scanner.ResultsAvailable()) {
    ShowPage(pgResults);
    return false;
  }
  const TCategorySet categories = d_.scanPage.CheckedCategories();
  if (categories.Empty()) {
    d_.prompter.Ask({.text = "Please select at least one option.", .icon = TMsgIcon::Error});
    return false;
  }
  d_.frame.EnableHeader(false);
  const service::TScanPreparation prepared = service::PrepareScan(d_.scanner, {categories, true});
  qp::IgnoreResult(prepared);
  busy_ = true;
  d_.resultsPage.Detach();
  run_ = std::make_unique<service::TScanRun>(d_.scanner);
  run_->OnProgress = [this](const std::string &location, TErrorCategory category,
                            int categoryProgress, int totalProgress) {
    d_.scanPage.SetProgress(totalProgress, location);
    d_.scanPage.SetCategoryLine(category,
                                {d_.scanner.CategoryErrorCount(category), categoryProgress > 99});
  };
  run_->OnFinished = [this](const service::TScanResult &result) { ScanFinished(result); };
  run_->Start();
  return true;
}

void TInterimMainLogic::ScanFinished(const service::TScanResult &result) {
  busy_ = false;
  d_.frame.EnableHeader(true);
  d_.scanPage.SetScanningLook(false);
  if (result.completed)
    ShowResultsOrReport();
}

void TInterimMainLogic::RepairNow() {
  if (busy_)
    return;
  busy_ = true;
  const auto done = qp::ScopeExit([this] { busy_ = false; });
  const int total = d_.scanner.ErrorCount();
  const TRepairPageResult result = d_.resultsPage.RepairSelected();
  repaired_ = result.run.repaired;
  const bool written = d_.resultsPage.WriteFailureList();
  ShowPage(pgReport);
  d_.reportPage.ShowReport(total, repaired_, result.run.categories);
  if (result.failures > 0 && written) {
    const TMsgAnswer answer = d_.prompter.Ask(
        {.text = std::string(kAppTitle) + " could not repair " + std::to_string(result.failures) +
                 " error(s). Some registry keys or files may have been used by "
                 "other applications.\r\rDo you want to see the list of not "
                 "repaired errors?",
         .buttons = TMsgButtons::YesNo,
         .icon = TMsgIcon::Warning,
         .defaultButton = TMsgDefault::Second});
    qp::IgnoreResult(answer);
  }
}

bool TInterimMainLogic::CanClose() {
  if (run_)
    run_->Stop();
  d_.scanPage.StoreSwitches();
  qp::IgnoreResult(SaveSettings());
  return true;
}

void TInterimMainLogic::EndSession(bool ending) {
  if (ending)
    qp::IgnoreResult(CanClose());
}

void TInterimMainLogic::RestoreCommand(int command) {
  if (command == 0)
    d_.frame.ShowNormal();
}

void TInterimMainLogic::EscapePressed() {
  if (current_ == pgScan && run_)
    run_->Stop();
}

} // namespace quenlo::win
