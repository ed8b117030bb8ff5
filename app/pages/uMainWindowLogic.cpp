#include "app/pages/uMainWindowLogic.h"

#include <array>
#include <cstdio>
#include <exception>
#include <utility>

#include "app/pages/uHelpTopics.h"
#include "app/uSettings.h"
#include "platform/FileOps.h"
#include "platform/Platform.h"
#include "platform/ScopeGuard.h"

namespace quenlo {

namespace {

constexpr const char *kFullScanNeeded =
    "Registry scan not completed.  In order to access this feature a full registry scan must be "
    "completed.  Please click \"Scan Now\" to start the registry scan.";
constexpr const char *kMonitorOnScan =
    " detected that Registry Monitor is ON. It is recommended that Registry Monitor is truned OFF "
    "while scanning registry.\r\rDo you want to temporary turn OFF Registry Monitor?";
constexpr const char *kMonitorOnRepair =
    " detected that Registry Monitor is ON. It is recommended that Registry Monitor is turned OFF "
    "while repairing registry.\r\rDo you want to temporary turn OFF Registry Monitor?";
constexpr const char *kNeedFullScan =
    " requires at least one full registry scan in order to calculate health status.\r\rDo you "
    "want to perform full registry scan now?";
constexpr const char *kSelectOne = "Please select at least one option.";
constexpr const char *kNoAdmin =
    "You do not appear to have admin privileges. Quenlo may be unable to repair some items";
constexpr const char *kRestartMonitor =
    "You must restart Monitor for the changes to take effect.\r\n\r\nDo you want to restart "
    "Monitor now?";
constexpr const char *kChangesApplied = "Changes were applied successfully.";
constexpr const char *kNoUpdates = "There are no new updates. You have the latest version.";
constexpr const char *kDownloadInterrupted = "Update download interrupted by the user.";
constexpr const char *kNoUpdatesNow = "No updates available at this moment.";
constexpr const char *kNoConnection = "Internet connection could not be established.";
constexpr const char *kScanRunning =
    "Registry scan is in progress.\r\rDo you want to terminate it and close application?";
constexpr const char *kHistoryRunning =
    "History scan is in progress.\r\rDo you want to terminate it and close application?";
constexpr const char *kNoRestoreApi =
    "A restore point could not be created: System Restore is not available on this "
    "computer.\r\rDo you want to repair without a restore point?";
constexpr const char *kRestoreNoReason =
    "A restore point could not be created: System Restore gave no reason.";

constexpr const char *kVistaRestoreHelp =
    "\r\rTo fix this error:"
    "\r1. Right Click on Computer and select Properties."
    "\r2. Click on System Protection."
    "\r3. Under the Automatic restore points section of the System Protection tab, click on the "
    "check box next to the appropriate drive containing the your Windows installation. Then click "
    "Apply."
    "\r4. Click on the OK button to close the System Properties Window."
    "\r5. Close the System window.  The System Restore Service should now be running.";
constexpr const char *kXpRestoreHelp =
    "\r\rTo fix this error:"
    "\r1. Right Click on My Computer and select Manage."
    "\r2. Click on the + sign next to Services and Applications to expand the view."
    "\r3. Click on services, this will display as list of all the system services currently "
    "installed in the right pane."
    "\r4. Scroll through the services list and locate the System Restore Service.  You will be "
    "able to see the status of the System Restore service as well as the startup type."
    "\r5. We now want to change the startup type to Automatic and also start the System Restore "
    "Service.  To do this, right click on the System Restore Service and select properties."
    "\r6. Click on the Startup type dropdown box triangle and select Automatic.  Then click Apply."
    "\r7. Now Click on Start under Service Status.  The system status should now display Started."
    "\r8. Click ok to close the System Restore Service Properties window."
    "\r9. Under the Computer Management window you should now see that the Status for the System "
    "Restore Service is listed as Started and the Startup is listed as Automatic.  If this is true "
    "you can close the Computer Management window.";

constexpr const char *kRestoreService = "srservice";
constexpr long kServiceAlreadyRunning = 1056;
constexpr long kServiceDisabled = 1058;
constexpr int kServicePolls = 5;
constexpr std::uint32_t kServicePollMs = 100;
constexpr int kWindowsXp = 6;
constexpr int kWindows81 = 11;

constexpr TDateTime kOneHour = 1.0 / 24.0;

TPage PageOfButton(int index) {
  static constexpr std::array<TPage, HeaderButtonCount> pages{
      pgStatus, pgScan, pgOptimizer, pgMonitor, pgRestore, pgHistory, pgSettings};
  if (index < 0 || index >= HeaderButtonCount)
    return pgNone;
  return pages[static_cast<std::size_t>(index)];
}

// The phrase of the rescan prompt, or empty when the scan is recent enough.
std::string TimeSinceScanPhrase(TDateTime days) {
  if (!(days > kOneHour))
    return {};
  if (days > 1.0)
    return "several days";
  if (days > 2 * kOneHour)
    return "several hours";
  return "more than 1 hour";
}

} // namespace

// Counts a modal box or notice as busy for as long as it is open.
class TMainWindowLogic::TModalScope {
public:
  explicit TModalScope(TMainWindowLogic &logic) : logic_(logic) { ++logic_.modalDepth_; }
  ~TModalScope() {
    --logic_.modalDepth_;
    logic_.FlushDeferred();
  }
  TModalScope(const TModalScope &) = delete;
  TModalScope &operator=(const TModalScope &) = delete;

private:
  TMainWindowLogic &logic_;
};

// A repair run from its first step: busy, and on every way out (a refusal,
// an abort, an exception) the header, the window, the results page's look
// and the monitor as they were before it.
class TMainWindowLogic::TRepairScope {
public:
  explicit TRepairScope(TMainWindowLogic &logic)
      : logic_(logic), header_(logic.headerEnabled_), window_(logic.windowEnabled_) {
    logic_.repairing_ = true;
  }
  ~TRepairScope() {
    logic_.busy_ = false;
    logic_.d_.resultsPage.ShowRestorePointLabel(false);
    logic_.d_.resultsPage.SetRepairingLook(false);
    logic_.d_.frame.SetBusyCursor(false);
    logic_.SetHeader(header_);
    logic_.SetWindowEnabled(window_);
    if (monitorStopped && logic_.monitorPausedByUs_ && !logic_.d_.monitor.Running())
      logic_.d_.monitor.Start();
    logic_.repairing_ = false;
  }
  TRepairScope(const TRepairScope &) = delete;
  TRepairScope &operator=(const TRepairScope &) = delete;

  bool monitorStopped = false;

private:
  TMainWindowLogic &logic_;
  bool header_;
  bool window_;
};

struct TMainWindowLogic::TRepairOutcome {
  int total = 0;
  TRepairPageResult page;
  bool failureListWritten = false;
};

namespace {

// A begun restore point is ended on every way out: as a change once the
// repair loop may have changed something, cancelled when it repaired
// nothing (an exception counts as a change: the loop may have repaired).
class TRestorePointLease {
public:
  explicit TRestorePointLease(IRestorePoint &api) : api_(api) {}
  ~TRestorePointLease() {
    if (sequence_)
      qp::IgnoreResult(api_.End(*sequence_, cancelled_));
  }
  TRestorePointLease(const TRestorePointLease &) = delete;
  TRestorePointLease &operator=(const TRestorePointLease &) = delete;
  void Hold(std::int64_t sequence) { sequence_ = sequence; }
  void SetNothingChanged(bool nothing) { cancelled_ = nothing; }

private:
  IRestorePoint &api_;
  std::optional<std::int64_t> sequence_;
  bool cancelled_ = false;
};

} // namespace

TMainWindowLogic::TMainWindowLogic(const TMainWindowDeps &deps, std::string firstArgument)
    : d_(deps), startSwitch_(ParseStartSwitch(firstArgument, !firstArgument.empty())),
      scanRun_(std::make_unique<service::TScanRun>(deps.scanner, deps.mainThread)) {
  scanRun_->OnProgress = [this](const std::string &location, TErrorCategory category,
                                int categoryProgress, int totalProgress) {
    OnScanProgress(location, category, categoryProgress, totalProgress);
  };
  scanRun_->OnFinished = [this](const service::TScanResult &result) { OnScanFinished(result); };
}

TMainWindowLogic::~TMainWindowLogic() {
  closing_ = true;
  // The run first: it stops a scan still running without calling back.
  scanRun_.reset();
}

// ---------------------------------------------------------------- creation

void TMainWindowLogic::OnCreate() {
  sessionEnding_ = false;
  d_.frame.SelectHeaderButton(hbStatus);
  d_.scanner.SetUndoFolder(SettingsPath(UndoFolderTitle));
  d_.scanner.StatsFromText(Settings().healthstatus);
  lastScanTime_ = ParseStamp(Settings().last_scan);
  ShowPage(pgStatus);
  // An unreadable file keeps the defaults; saves refuse to replace it and
  // say so when they are attempted.
  qp::IgnoreResult(LoadSettings());
  d_.commands.Post(mcStartUp);
  d_.commands.ProcessPending();
  firstRun_ = FirstRunSetup();
  if (firstRun_) {
    fullScanRequired_ = true;
    // Started hidden for an automatic start that the first run does not
    // arm: nobody could ever open the window.
    if (startSwitch_ == ssAutoScan || startSwitch_ == ssMonitor)
      d_.frame.ShowNormal();
    return;
  }
  if (startSwitch_ == ssStartScan)
    fullScanRequired_ = true;
  else if (startSwitch_ == ssAutoScan)
    d_.timers.Start(tiDelayedStart, kFirstAutoScanDelayMs);
  else if (startSwitch_ == ssMonitor)
    d_.commands.Post(mcMonitorStartUp);
}

void TMainWindowLogic::OnRestoreCommand(std::uintptr_t wParam) {
  switch (RestoreCommandAction(wParam, WindowsVersion)) {
  case TRestoreAction::Show:
    if (d_.timers.Running(tiDelayedStart))
      d_.timers.Start(tiDelayedStart, kAutoScanRepeatMs);
    d_.frame.ShowNormal();
    break;
  case TRestoreAction::EnableTimer: {
    const std::uint32_t interval = d_.timers.Interval(tiDelayedStart);
    d_.timers.Start(tiDelayedStart, interval != 0 ? interval : kFirstAutoScanDelayMs);
    break;
  }
  case TRestoreAction::ShowStatus:
    ShowPage(pgStatus);
    d_.frame.SelectHeaderButton(hbStatus);
    break;
  case TRestoreAction::None:
    break;
  }
}

// ---------------------------------------------------------------- commands

std::intptr_t TMainWindowLogic::HandleCommand(int command, std::intptr_t lParam) {
  std::intptr_t answer = 0;
  if (HandleProgramCommand(command, lParam, answer))
    return answer;
  if (HandleResultsCommand(command, lParam))
    return 0;
  HandlePageCommand(command, lParam);
  return 0;
}

bool TMainWindowLogic::HandleProgramCommand(int command, std::intptr_t lParam,
                                            std::intptr_t &answer) {
  switch (command) {
  case mcStartUp:
    OnStartUpCommand();
    return true;
  case mcTerminate:
  case mcShutdown:
    RequestShutdown();
    return true;
  case mcRepaint:
    d_.frame.Repaint();
    return true;
  case mcMonitorStartUp:
    OnMonitorStartUp();
    return true;
  case mcScheduleUpdate:
    ScheduleNext(1, static_cast<int>(lParam));
    return true;
  case mcUpdateResult:
    OnUpdateResult(lParam);
    return true;
  case mcSaveSettings:
    if (std::string error; !SaveSettings(&error))
      Tell("The settings could not be saved.\r\r" + error, TMsgIcon::Error);
    return true;
  case mcShowMainWindow:
    d_.frame.ShowNormal();
    return true;
  case mcConfirmMonitorOff:
    answer = (!d_.monitor.PageExists() || d_.monitor.ConfirmOff()) ? 1 : 0;
    return true;
  case mcEnableWindow:
    OnEnableWindow(lParam);
    return true;
  case mcMonitorRestart:
    OnMonitorRestart();
    return true;
  case mcHeaderOff:
    SetHeader(false);
    return true;
  case mcMonitorOn:
    d_.monitor.Start();
    return true;
  case mcMonitorOff:
    d_.monitor.Stop();
    return true;
  default:
    return false;
  }
}

bool TMainWindowLogic::HandleResultsCommand(int command, std::intptr_t) {
  switch (command) {
  case mcClearResults:
    OnClearResults();
    return true;
  case mcRepairWhenDue:
    OnRepairWhenDue();
    return true;
  case mcShowResultsOrReport:
    // Rebuilding the list or switching the monitor back on would pull the
    // ground from under a scan or a repair run.
    if (!busy_ && !repairing_)
      ShowResultsOrReport();
    return true;
  case mcScan:
    ScanFromCommand();
    return true;
  case mcRepairOrScan:
    OnRepairOrScan();
    return true;
  case mcClearAndShowScan:
    if (Refusing())
      return true;
    ClearResults();
    ShowPage(pgScan);
    return true;
  case mcClearAndScan:
    if (Refusing())
      return true;
    ClearResults();
    ShowPage(pgScan);
    d_.frame.SelectHeaderButton(hbScan);
    BeginScan();
    return true;
  default:
    return false;
  }
}

bool TMainWindowLogic::HandlePageCommand(int command, std::intptr_t lParam) {
  switch (command) {
  case mcShowStatus:
    ShowPage(pgStatus);
    d_.frame.SelectHeaderButton(hbStatus);
    return true;
  case mcShowScanOrResults:
    ShowPage(d_.scanner.ResultsAvailable() ? pgResults : pgScan);
    d_.frame.SelectHeaderButton(hbScan);
    return true;
  case mcShowScanKeepResults:
    ShowPageNow(pgScan);
    return true;
  case mcShowResults:
    if (busy_ || repairing_)
      return true;
    ShowResultsOrReport();
    d_.frame.SelectHeaderButton(hbScan);
    return true;
  case mcShowOptimizer:
    ShowFeaturePage(pgOptimizer);
    return true;
  case mcShowRestore:
    ShowFeaturePage(pgRestore);
    return true;
  case mcShowMonitor:
    ShowFeaturePage(pgMonitor);
    return true;
  case mcShowSettings:
    if (fullScanRequired_) {
      ShowFeaturePage(pgSettings);
      return true;
    }
    d_.frame.SelectHeaderButton(hbSettings);
    ShowPage(pgSettings);
    if (lParam != 0)
      d_.settingsPage.ShowMonitorTab();
    return true;
  case mcShowHistory:
    ShowFeaturePage(pgHistory);
    return true;
  case mcCheckAllAndStatus:
    d_.scanPage.SetCheckAll(true);
    d_.frame.SelectHeaderButton(hbStatus);
    ShowPage(pgStatus);
    return true;
  default:
    return false;
  }
}

void TMainWindowLogic::OnStartUpCommand() {
  if (!d_.timers.Running(tiDelayedStart) && !autoMode_ && IsDue(1))
    d_.updateCheck.StartAutomatic();
  ShowPage(lastPage_);
}

void TMainWindowLogic::OnMonitorStartUp() {
  if (startSwitch_ != ssMonitor)
    return;
  ShowPage(pgMonitor);
  d_.frame.SelectHeaderButton(hbMonitor);
  d_.monitor.Start();
  // Hidden to the tray icon; without one the window must stay reachable
  // (the view minimises it to its taskbar button).
  if (!d_.monitor.MinimizeToTray())
    d_.frame.ShowNormal();
}

void TMainWindowLogic::OnEnableWindow(std::intptr_t bits) {
  SetHeader((bits & 1) != 0);
  if ((bits & 2) != 0)
    SetWindowEnabled((bits & 4) != 0);
}

void TMainWindowLogic::OnClearResults() {
  if (repairing_) {
    // The repair loop is still walking the list: clear it afterwards.
    clearDeferred_ = true;
    return;
  }
  if (Refusing())
    return;
  ClearResults();
}

// A remembered problem count with no results held (after a restart) is
// nothing to repair: it asks for a scan first.
void TMainWindowLogic::OnRepairWhenDue() {
  if (Refusing())
    return;
  const tProgramSettings &s = Settings();
  const bool due = s.last_err > 0 && s.last_repair < s.last_err;
  if (due && d_.scanner.ErrorCount() == 0) {
    ScanFromCommand();
    return;
  }
  ShowResultsOrReport();
  if (due)
    RepairNow();
}

void TMainWindowLogic::OnRepairOrScan() {
  if (Refusing())
    return;
  if (d_.scanner.ErrorCount() == 0) {
    ScanFromCommand();
    return;
  }
  ShowResultsOrReport();
  RepairNow();
}

void TMainWindowLogic::ScanFromCommand() {
  if (Refusing())
    return;
  ShowPage(pgScan);
  BeginScan();
}

void TMainWindowLogic::OnMonitorRestart() {
  if (!d_.monitor.PageExists() || d_.monitor.ConfirmOff())
    return;
  if (Ask(kRestartMonitor, TMsgButtons::YesNo, TMsgIcon::Question) != TMsgAnswer::Yes)
    return;
  d_.monitor.Stop();
  d_.monitor.Start();
  Tell(kChangesApplied, TMsgIcon::Information);
}

void TMainWindowLogic::OnUpdateResult(std::intptr_t kind) {
  switch (kind) {
  case urNotDue:
  case urFailed:
    if (!Refusing() && d_.frame.HiddenOrMinimised())
      ScheduleNext(1, Settings().UpdateFreq);
    break;
  case urNoUpdate:
    Tell(kNoUpdates, TMsgIcon::Information);
    break;
  case urAvailable:
    OfferUpdate();
    break;
  default:
    break;
  }
}

void TMainWindowLogic::OfferUpdate() {
  TUpdateOffer offer = TUpdateOffer::Declined;
  {
    TModalScope modal(*this);
    offer = d_.updateInstall.OfferAndDownload();
  }
  switch (offer) {
  case TUpdateOffer::Declined:
    break;
  case TUpdateOffer::Downloaded:
    if (std::string error; d_.updateInstall.StartInstallation(error))
      d_.commands.Post(mcTerminate);
    else
      Tell("The update could not be started.\r\r" + error, TMsgIcon::Error);
    break;
  case TUpdateOffer::Interrupted:
    Tell(kDownloadInterrupted, TMsgIcon::Information);
    break;
  case TUpdateOffer::Failed:
    Tell(kNoUpdatesNow, TMsgIcon::Information);
    break;
  }
}

// A shutdown that reaches a repair run or an open box would pull the
// program away under it: it runs once they have ended. A bare scan is
// stopped by the shutdown itself.
void TMainWindowLogic::RequestShutdown() {
  if (closing_)
    return;
  if (repairing_ || modalDepth_ > 0) {
    shutdownDeferred_ = true;
    return;
  }
  Shutdown();
}

void TMainWindowLogic::FlushDeferred() {
  if (repairing_ || modalDepth_ > 0 || closing_)
    return;
  if (clearDeferred_) {
    clearDeferred_ = false;
    d_.commands.Post(mcClearResults);
  }
  if (shutdownDeferred_) {
    shutdownDeferred_ = false;
    d_.commands.Post(mcShutdown);
  }
}

// ---------------------------------------------------------------- pages

void TMainWindowLogic::ShowPage(TPage page) {
  if (page == currentPage_ || page == pgNone)
    return;
  if (page == pgScan && d_.scanner.ResultsAvailable()) {
    d_.commands.Post(mcShowResults);
    return;
  }
  ShowPageNow(page);
}

void TMainWindowLogic::ShowPageNow(TPage page) {
  if (page == currentPage_)
    return;
  if (page != pgScan)
    headerUnlocked_ = true;
  // The header stays off while a scan or repair runs.
  if (headerUnlocked_ && !busy_ && !repairing_)
    SetHeader(true);
  if (currentPage_ == pgScan)
    d_.scanPage.StoreSwitches();
  d_.frame.ShowPage(page);
  if (page == pgStatus)
    d_.statusPage.Refresh();
  currentPage_ = page;
  lastPage_ = page;
}

// Until a full scan has completed, the feature pages stay locked.
void TMainWindowLogic::ShowFeaturePage(TPage page) {
  if (fullScanRequired_) {
    Tell(kFullScanNeeded, TMsgIcon::Information);
    d_.commands.Post(mcCheckAllAndStatus);
    return;
  }
  ShowPage(page);
}

void TMainWindowLogic::HeaderButtonClicked(int index) {
  const TPage page = PageOfButton(index);
  if (page == pgNone)
    return;
  if (index > hbScan) {
    ShowFeaturePage(page);
    return;
  }
  ShowPage(page);
}

void TMainWindowLogic::SetHeader(bool enabled) {
  headerEnabled_ = enabled;
  d_.frame.EnableHeader(enabled);
}

void TMainWindowLogic::SetWindowEnabled(bool enabled) {
  windowEnabled_ = enabled;
  d_.frame.EnableWindow(enabled);
}

void TMainWindowLogic::ClearResults() {
  d_.resultsPage.Detach();
  d_.scanner.ClearResults();
}

// ---------------------------------------------------------------- scans

bool TMainWindowLogic::BeginScan() {
  return BeginScanAs(autoMode_);
}

bool TMainWindowLogic::BeginScanAs(bool automatic) {
  if (Refusing() || closing_)
    return false;
  if (!automatic && d_.scanner.ResultsAvailable()) {
    ShowPage(pgResults);
    return false;
  }
  busy_ = true;
  const bool header = headerEnabled_;
  bool monitorStopped = false;
  auto restore = qp::ScopeExit([&] {
    busy_ = false;
    SetHeader(header);
    if (monitorStopped && !d_.monitor.Running())
      d_.monitor.Start();
  });
  TCategorySet categories = d_.scanPage.CheckedCategories();
  if (!automatic && !AskScanPrompts(categories, monitorStopped))
    return false;
  // The session may have ended behind a prompt.
  if (categories.Empty() || closing_)
    return false;
  SetHeader(false);
  const service::TScanPreparation prepared =
      service::PrepareScan(d_.scanner, {.categories = categories});
  if (!prepared.ignoreListComplete) {
    // A scan without the user's ignores would offer to remove what they
    // chose to keep.
    if (!automatic)
      Tell("The scan was not started: the ignore list could not be read.\r\r" +
               prepared.ignoreListError,
           TMsgIcon::Error);
    return false;
  }
  d_.resultsPage.Detach();
  scanRun_->Start();
  if (!d_.scanner.IsScanning())
    return false;
  restore.Dismiss();
  d_.scanPage.SetScanningLook(true);
  return true;
}

bool TMainWindowLogic::AskScanPrompts(TCategorySet &categories, bool &monitorStopped) {
  if (d_.monitor.Running()) {
    const TMsgAnswer answer =
        Ask(std::string(kAppTitle) + kMonitorOnScan, TMsgButtons::YesNoCancel, TMsgIcon::Question);
    if (answer == TMsgAnswer::Cancel)
      return false;
    if (answer == TMsgAnswer::Yes) {
      d_.monitor.Stop();
      monitorPausedByUs_ = true;
      monitorStopped = true;
    }
  }
  if (d_.scanner.HealthPercent() == -1 && categories != AllCategories &&
      Ask(std::string(kAppTitle) + kNeedFullScan, TMsgButtons::YesNo, TMsgIcon::Question) ==
          TMsgAnswer::Yes)
    categories = AllCategories;
  if (categories.Empty()) {
    Tell(kSelectOne, TMsgIcon::Error);
    return false;
  }
  return true;
}

void TMainWindowLogic::OnScanProgress(const std::string &location, TErrorCategory category,
                                      int categoryProgress, int totalProgress) {
  d_.scanPage.SetProgress(totalProgress, location);
  d_.scanPage.SetCategoryLine(category, {.found = d_.scanner.CategoryErrorCount(category),
                                         .finished = categoryProgress > 99});
}

void TMainWindowLogic::OnScanFinished(const service::TScanResult &result) {
  busy_ = false;
  SetHeader(true);
  d_.scanPage.SetScanningLook(false);
  if (result.completed)
    OnScanCompleted(result);
  else
    OnScanEndedEarly(result);
  FlushDeferred();
}

void TMainWindowLogic::OnScanCompleted(const service::TScanResult &result) {
  lastScanTime_ = Now();
  if (fullScanRequired_)
    fullScanRequired_ = !d_.scanner.FullScanDone();
  if (closing_)
    return;
  if (!result.statisticsStored && !autoMode_)
    Tell("The scan results could not be saved.\r\r" + result.statisticsError, TMsgIcon::Error);
  ShowResultsOrReport();
  if (autoMode_)
    ReportAutomaticScan();
}

// A stopped or failed scan is not a result: the last completed scan's
// figures stay, and nothing opens while the program closes.
void TMainWindowLogic::OnScanEndedEarly(const service::TScanResult &result) {
  RestartMonitorIfPaused();
  if (closing_)
    return;
  if (!result.failure.empty() && !autoMode_)
    Tell("The registry scan failed.\r\r" + result.failure, TMsgIcon::Error);
  if (d_.scanner.ErrorCount() == 0) {
    // Nothing found before it ended: the scan page stays reachable.
    ClearResults();
    return;
  }
  ShowPageNow(pgResults);
  d_.resultsPage.ShowResults();
}

void TMainWindowLogic::ReportAutomaticScan() {
  const int problems = d_.scanner.ErrorCount();
  d_.frame.ShowTrayIcon(std::to_string(problems) + " unresolved problems found.");
  if (Settings().DoNotShowNoticeOnDelayedStart)
    return;
  // The notice is modal: it opens once the scan's end has been delivered,
  // not inside the scanner's completion.
  std::weak_ptr<int> alive = alive_;
  d_.mainThread.Queue([this, alive] {
    if (!alive.expired())
      OfferAutomaticRepair();
  });
}

void TMainWindowLogic::OfferAutomaticRepair() {
  if (closing_ || Refusing())
    return;
  bool fix = false;
  {
    TModalScope modal(*this);
    fix = d_.trayNotice.Show(d_.scanner.ErrorCount());
  }
  if (!fix || closing_)
    return;
  d_.frame.HideTrayIcon();
  d_.frame.ShowNormal();
  RepairNow();
  d_.commands.Post(mcStartUp);
}

void TMainWindowLogic::ShowResultsOrReport() {
  if (Settings().last_err <= 0) {
    ShowPage(pgReport);
    d_.reportPage.ShowReport(d_.scanner.ErrorCount(), repairedCount_, {});
  } else {
    ShowPage(pgResults);
    d_.resultsPage.ShowResults();
  }
  RestartMonitorIfPaused();
}

void TMainWindowLogic::RestartMonitorIfPaused() {
  if (monitorPausedByUs_ && !d_.monitor.Running())
    d_.monitor.Start();
}

void TMainWindowLogic::OnDelayedStartTick() {
  // Every tick re-arms the 4-hour interval: the automatic scan repeats for
  // as long as the program runs.
  d_.timers.Stop(tiDelayedStart);
  d_.timers.Start(tiDelayedStart, kAutoScanRepeatMs);
  if (Refusing() || closing_ || !d_.frame.HiddenOrMinimised())
    return;
  StartAutomaticScan();
}

// Automatic mode begins with the first automatic scan that starts: a tick
// that finds the user at the window leaves every prompt in place.
void TMainWindowLogic::StartAutomaticScan() {
  ClearResults();
  ShowPage(pgScan);
  d_.frame.SelectHeaderButton(hbScan);
  if (BeginScanAs(true))
    autoMode_ = true;
}

// ---------------------------------------------------------------- repairs

void TMainWindowLogic::RepairNow() {
  if (Refusing() || closing_ || d_.scanner.ErrorCount() == 0)
    return;
  std::optional<TRepairOutcome> outcome;
  try {
    outcome = RunRepair();
  } catch (const std::exception &e) {
    Tell(std::string("The repair stopped because of an error.\r\r") + e.what(), TMsgIcon::Error);
  } catch (...) {
    Tell("The repair stopped because of an unknown error.", TMsgIcon::Error);
  }
  FlushDeferred();
  if (outcome)
    ReportRepair(*outcome);
}

std::optional<TMainWindowLogic::TRepairOutcome> TMainWindowLogic::RunRepair() {
  TRepairScope scope(*this);
  TRestorePointLease point(d_.restorePoint);
  pendingSequence_.reset();
  // The session may have ended behind a prompt.
  if (!PrepareRepair(scope.monitorStopped) || closing_)
    return std::nullopt;
  if (pendingSequence_)
    point.Hold(*std::exchange(pendingSequence_, std::nullopt));
  TRepairOutcome outcome = RepairAndRecord();
  point.SetNothingChanged(repairedCount_ == 0);
  return outcome;
}

// Steps before the loop; false when the user or a failure stopped the run.
bool TMainWindowLogic::PrepareRepair(bool &monitorStopped) {
  if (!AskRescanFirst())
    return false;
  if (Settings().FirstTimeScan) {
    qp::IgnoreResult(LoadSettings());
    Settings().FirstTimeScan = false;
    qp::IgnoreResult(SaveSettings()); // a marker nothing else reads
  }
  if (!IsAdmin)
    Tell(kNoAdmin, TMsgIcon::Warning);
  if (!PauseMonitorForRepair(monitorStopped) || closing_ || !d_.resultsPage.Exists())
    return false;
  d_.resultsPage.SetRepairingLook(true);
  return MakeFullBackupWhenDue() && !closing_ && MakeRestorePointWhenAsked();
}

bool TMainWindowLogic::MakeRestorePointWhenAsked() {
  SetHeader(false);
  d_.frame.SetBusyCursor(true);
  d_.resultsPage.ShowRestorePointLabel(true);
  d_.frame.Repaint();
  if (Settings().BackupBeforeScan && !CreateRestorePoint())
    return false;
  d_.resultsPage.SetRepairingLook(false);
  SetHeader(true);
  d_.frame.SetBusyCursor(false);
  d_.resultsPage.ShowRestorePointLabel(false);
  if (d_.restorePage.Exists())
    d_.restorePage.Reload();
  return true;
}

TMainWindowLogic::TRepairOutcome TMainWindowLogic::RepairAndRecord() {
  TRepairOutcome outcome;
  outcome.total = d_.scanner.ErrorCount();
  busy_ = true;
  repairedCount_ = 0;
  outcome.page = d_.resultsPage.RepairSelected();
  repairedCount_ = outcome.page.run.repaired;
  Settings().healthstatus = d_.scanner.StatsToText();
  if (std::string error; !SaveSettings(&error))
    Tell("The settings could not be saved.\r\r" + error, TMsgIcon::Error);
  busy_ = false;
  outcome.failureListWritten = d_.resultsPage.WriteFailureList();
  return outcome;
}

bool TMainWindowLogic::AskRescanFirst() {
  const std::string phrase = TimeSinceScanPhrase(Now() - lastScanTime_);
  if (phrase.empty())
    return true;
  const TMsgAnswer answer =
      Ask("It has been " + phrase + " since your last scan has been completed.\r" +
              "We highly recommend that you rescan your registry before making registry "
              "repairs.\r\rWould you like to rescan your registry now?",
          TMsgButtons::YesNoCancel, TMsgIcon::Warning);
  if (answer == TMsgAnswer::Yes)
    d_.commands.Post(mcClearAndScan);
  return answer == TMsgAnswer::No;
}

bool TMainWindowLogic::PauseMonitorForRepair(bool &stopped) {
  if (!d_.monitor.Running())
    return true;
  if (!monitorPausedByUs_) {
    const TMsgAnswer answer = Ask(std::string(kAppTitle) + kMonitorOnRepair,
                                  TMsgButtons::YesNoCancel, TMsgIcon::Question);
    if (answer == TMsgAnswer::Cancel)
      return false;
    if (answer != TMsgAnswer::Yes)
      return true;
    monitorPausedByUs_ = true;
  }
  d_.monitor.Stop();
  stopped = true;
  return true;
}

// The full backup's failure is the user's choice: each repair is still
// saved in the undo folder.
bool TMainWindowLogic::MakeFullBackupWhenDue() {
  if (!ListChangesRegistry() || !FullBackupDue())
    return true;
  std::string error;
  bool made = false;
  {
    TModalScope modal(*this);
    made = d_.fullBackup.RunSilent(error);
  }
  if (made)
    return true;
  return Ask("The full registry backup could not be made.\r\r" + error +
                 "\r\rEach repair is still saved in the undo folder. Do you want to continue "
                 "repairing?",
             TMsgButtons::YesNo, TMsgIcon::Warning) == TMsgAnswer::Yes;
}

bool TMainWindowLogic::FullBackupDue() const {
  const tProgramSettings &s = Settings();
  if (!s.FullBackupOnlyOnceWeek || s.last_backup.empty())
    return true;
  const TDateTime last = ParseStamp(s.last_backup);
  return last == 0 || EncodeDateTime(d_.clock.Now()) > last + 7;
}

bool TMainWindowLogic::ListChangesRegistry() const {
  const TErrorList &errors = d_.scanner.Errors();
  for (int i = 0; i < errors.Count(); ++i)
    if (errors.Items(i)->Action != raRecycleFile)
      return true;
  return false;
}

void TMainWindowLogic::ReportRepair(const TRepairOutcome &outcome) {
  ShowPage(pgReport);
  d_.reportPage.ShowReport(outcome.total, repairedCount_, outcome.page.run.categories);
  // Only a list that was written can be shown.
  if (outcome.page.failures <= 0 || !outcome.failureListWritten)
    return;
  d_.commands.ProcessPending();
  if (closing_)
    return;
  const TMsgAnswer answer =
      Ask(std::string(kAppTitle) + " could not repair " + std::to_string(outcome.page.failures) +
              " error(s). Some registry keys or files may have been used by other "
              "applications.\r\rDo you want to see the list of not repaired errors?",
          TMsgButtons::YesNo, TMsgIcon::Warning, TMsgDefault::Second);
  if (answer == TMsgAnswer::Yes)
    qp::IgnoreResult(d_.shell.Open(SettingsPath(kFailureListTitle)));
}

bool TMainWindowLogic::CreateRestorePoint() {
  pendingSequence_.reset();
  StartRestoreService();
  for (;;) {
    const TRestorePointResult result =
        d_.restorePoint.Begin(std::string(kAppTitle) + " Restore Point");
    if (!result.apiPresent)
      return Ask(kNoRestoreApi, TMsgButtons::YesNo, TMsgIcon::Warning) == TMsgAnswer::Yes;
    if (result.ok) {
      pendingSequence_ = result.sequence;
      return true;
    }
    const TMsgAnswer answer =
        Ask(RestorePointErrorText(result.status), TMsgButtons::AbortRetryIgnore, TMsgIcon::Error);
    if (answer == TMsgAnswer::Ignore)
      return true;
    if (answer != TMsgAnswer::Retry)
      return false;
  }
}

void TMainWindowLogic::EndRestorePoint(bool nothingChanged) {
  if (const std::optional<std::int64_t> sequence = std::exchange(pendingSequence_, std::nullopt))
    qp::IgnoreResult(d_.restorePoint.End(*sequence, nothingChanged));
}

void TMainWindowLogic::StartRestoreService() {
  const long status = d_.services.StartService(kRestoreService);
  if (status == kServiceAlreadyRunning)
    return;
  if (status != 0)
    return; // the request for the point tells the user why it fails
  for (int poll = 0; poll < kServicePolls; ++poll) {
    if (d_.services.ServiceRunning(kRestoreService))
      return;
    d_.wait.Wait(kServicePollMs);
  }
}

std::string TMainWindowLogic::RestorePointErrorText(long status) const {
  // Some implementations fail without a status: "[0]" would read as success.
  if (status == 0)
    return kRestoreNoReason;
  char number[64];
  std::snprintf(number, sizeof number, "A restore point could not be created [%ld].", status);
  std::string text = number;
  if (status == kServiceDisabled) {
    if (WindowsVersion >= WindowsVista && WindowsVersion <= kWindows81)
      text += kVistaRestoreHelp;
    else if (WindowsVersion == kWindowsXp)
      text += kXpRestoreHelp;
  }
  return text;
}

bool TMainWindowLogic::SpySweeperCheck(TSpySweeperKind kind) {
  if (!d_.services.ServiceRunning("WebrootSpySweeperService") &&
      !d_.services.ProcessRunning("SpySweeper.exe"))
    return true;
  const char *until = kind == skDefragmentation ? "Registry defragmentation is complete"
                                                : "restore operation is complete";
  return Ask(std::string("It is recommended that you temporarily disable Webroot Spy Sweeper, "
                         "until ") +
                 until + ".\r\rDo you want to continue?",
             TMsgButtons::YesNo, TMsgIcon::Question) == TMsgAnswer::Yes;
}

// ---------------------------------------------------------------- closing

bool TMainWindowLogic::CanClose() {
  if (closing_)
    return true;
  if (repairing_ || modalDepth_ > 0) {
    shutdownDeferred_ = true;
    return false;
  }
  const std::string schedule = SettingsPath(ScheduleFileTitle);
  if (qp::FileExists(schedule))
    qp::IgnoreResult(qp::Platform().Files().DeleteFile(schedule));
  if (d_.scanner.IsScanning() && !sessionEnding_ &&
      Ask(kScanRunning, TMsgButtons::YesNo, TMsgIcon::Question) != TMsgAnswer::Yes)
    return false;
  if (d_.historyPage.PageExists() && d_.historyPage.Scanning() && !sessionEnding_ &&
      Ask(kHistoryRunning, TMsgButtons::YesNo, TMsgIcon::Question) != TMsgAnswer::Yes)
    return false;
  const tProgramSettings &s = Settings();
  // Only a running timer has automatic scans to stay for: a hidden copy
  // without one would never scan and never show again.
  const bool armed = d_.timers.Running(tiDelayedStart);
  if (s.last_err > 0 && !sessionEnding_ && WindowsVersion < WindowsVista && !firstRun_ && armed &&
      s.AutoAction == 1) {
    // Stays resident for its automatic scans.
    d_.frame.Hide();
    return false;
  }
  StopAndStore();
  SaveOnExit();
  return true;
}

bool TMainWindowLogic::OnQueryEndSession() {
  sessionEnding_ = true;
  return !repairing_;
}

void TMainWindowLogic::OnEndSession(bool ending) {
  if (!ending) {
    sessionEnding_ = false;
    return;
  }
  sessionEnding_ = true;
  StopAndStore();
  SaveOnExit();
  d_.frame.Quit();
}

void TMainWindowLogic::Shutdown() {
  StopAndStore();
  SaveOnExit();
  d_.frame.Quit();
}

// Marks the program as closing first, so that the scan's end that the stop
// delivers opens nothing.
void TMainWindowLogic::StopAndStore() {
  closing_ = true;
  scanRun_->Stop();
  if (d_.historyPage.PageExists()) {
    d_.historyPage.Stop();
    d_.historyPage.StoreState();
  }
  d_.scanPage.StoreSwitches();
}

void TMainWindowLogic::SaveOnExit() {
  std::string error;
  if (SaveSettings(&error) || sessionEnding_)
    return;
  Tell("The settings could not be saved.\r\r" + error, TMsgIcon::Error);
}

bool TMainWindowLogic::OnFatalException(const std::string &text) {
  closing_ = true;
  std::string note;
  qp::IFileSystem &files = qp::Platform().Files();
  const std::string path = SettingsPath(kCrashNoteTitle);
  if (qp::FileExists(path))
    qp::IgnoreResult(files.ReadFile(path, note));
  note += TimeStamp(d_.clock.Now()) + " " + ProgramVersion + ": " + text + "\r\n";
  const bool written = files.WriteFile(path, note) == 0;
  d_.frame.Quit();
  return written;
}

// ---------------------------------------------------------------- the rest

void TMainWindowLogic::OnTrayOpen() {
  d_.frame.HideTrayIcon();
  if (d_.timers.Running(tiDelayedStart))
    d_.timers.Start(tiDelayedStart, kAutoScanRepeatMs);
  d_.commands.Post(mcShowMainWindow);
  d_.commands.Post(mcStartUp);
}

void TMainWindowLogic::OnTrayClose() {
  d_.commands.Post(mcShutdown);
}

void TMainWindowLogic::OnEscape() {
  if (currentPage_ == pgScan && d_.scanner.IsScanning())
    scanRun_->Stop();
}

void TMainWindowLogic::OnHelp() {
  const std::string file = ProgramDir + "\\" + kHelpFileTitle;
  const THelpContext shown{.page = currentPage_,
                           .monitorTab =
                               currentPage_ == pgSettings && d_.settingsPage.MonitorTabShown()};
  if (qp::FileExists(file) && d_.help.ShowTopic(file, HelpTopicFor(shown)))
    return;
  qp::IgnoreResult(d_.shell.Open(kOnlineHelpUrl));
}

bool TMainWindowLogic::OnMinimise() {
  if (currentPage_ != pgMonitor)
    return false;
  return d_.monitor.MinimizeToTray();
}

void TMainWindowLogic::CheckForUpdates() {
  if (Refusing())
    return;
  if (d_.probe.Connected(kUpdateServerUrl))
    d_.updateCheck.StartManual();
  else
    Tell(kNoConnection, TMsgIcon::Error);
}

void TMainWindowLogic::OpenWebSite() {
  qp::IgnoreResult(d_.shell.Open(kVendorSiteUrl));
}

void TMainWindowLogic::ShowAbout() {
  TModalScope modal(*this);
  d_.frame.ShowAbout();
}

TMsgAnswer TMainWindowLogic::Ask(const std::string &text, TMsgButtons buttons, TMsgIcon icon,
                                 TMsgDefault defaultButton) {
  TModalScope modal(*this);
  return d_.prompter.Ask(
      {.text = text, .buttons = buttons, .icon = icon, .defaultButton = defaultButton});
}

void TMainWindowLogic::Tell(const std::string &text, TMsgIcon icon) {
  qp::IgnoreResult(Ask(text, TMsgButtons::Ok, icon));
}

TDateTime TMainWindowLogic::Now() {
  return EncodeDateTime(d_.clock.Now());
}

} // namespace quenlo
