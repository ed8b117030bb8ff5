// The main window's logic without its window: which page shows, the
// numbered commands, the scan's start, progress and end, the repair run
// with its restore point and full backup, the close and session-end
// sequences, the automatic scan's timer and the help menu. The Win32
// window forwards its messages here and implements IMainFrame; tests drive
// it with fakes.
//
// One busy state guards everything that must not overlap: a scan from its
// first prompt to its end, a repair run from its first step to its report,
// and every modal box or notice this logic opens (the window keeps pumping
// messages behind them). While busy, commands that would clear the results,
// scan or repair are refused; a shutdown is put off until the busy state
// ends (a bare scan is stopped by it instead); a clear that reaches a
// repair run is carried out once the run has ended.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/pages/uPageServices.h"
#include "app/pages/uPages.h"
#include "app/pages/uStartup.h"
#include "app/uEnvironment.h"
#include "platform/MainThread.h"
#include "scanner/uRegScanner.h"
#include "service/uScanRun.h"

namespace quenlo {

struct TMainWindowDeps {
  TRegScanner &scanner;
  IMainFrame &frame;
  IPrompter &prompter;
  IClock &clock;
  ITimers &timers;
  ICommandQueue &commands;
  IRestorePoint &restorePoint;
  ISystemServices &services;
  IShellOpen &shell;
  IHelpViewer &help;
  IConnectionProbe &probe;
  IMonitorControl &monitor;
  IFullBackup &fullBackup;
  IUpdateCheck &updateCheck;
  IHistoryPage &historyPage;
  IScanPageControl &scanPage;
  IResultsPageControl &resultsPage;
  IReportPageControl &reportPage;
  IStatusPageControl &statusPage;
  ITrayNotice &trayNotice;
  IRestorePageControl &restorePage;
  ISettingsPageControl &settingsPage;
  IUpdateInstall &updateInstall;
  IWait &wait;
  // The dispatcher the scan's events arrive through.
  qp::TMainThread &mainThread;
};

// The automatic scan's timer: the first tick 5 minutes after an automatic
// start, then every 4 hours.
inline constexpr std::uint32_t kFirstAutoScanDelayMs = 300000;
inline constexpr std::uint32_t kAutoScanRepeatMs = 14400000;

inline constexpr const char *kHelpFileTitle = "quenlo.chm";
inline constexpr const char *kOnlineHelpUrl = "https://www.quenlo.com/help/";
inline constexpr const char *kVendorSiteUrl = "https://www.quenlo.com/";
inline constexpr const char *kUpdateServerUrl = "https://update.quenlo.com/";
inline constexpr const char *kFailureListTitle = "cantremove.txt";
// Where OnFatalException leaves its note, in the settings folder.
inline constexpr const char *kCrashNoteTitle = "crash.txt";

// SpySweeperCheck's reasons.
enum TSpySweeperKind : std::uint8_t { skDefragmentation = 1, skFullRestore = 2 };

// Update check results (command 6's lParam).
enum TUpdateResult : std::uint8_t {
  urNotDue = 0,    // nothing was learnt: try again later
  urNoUpdate = 1,  // this is the latest version
  urAvailable = 2, // a newer version exists
  urFailed = 3     // the check failed: try again later
};

class TMainWindowLogic {
public:
  TMainWindowLogic(const TMainWindowDeps &deps, std::string firstArgument);
  ~TMainWindowLogic();
  TMainWindowLogic(const TMainWindowLogic &) = delete;
  TMainWindowLogic &operator=(const TMainWindowLogic &) = delete;

  // The creation steps that are decisions (the window is already shaped).
  void OnCreate();
  // A WM_USER command; unknown numbers are ignored and answer 0.
  std::intptr_t HandleCommand(int command, std::intptr_t lParam = 0);
  // The registered restore command from another copy.
  void OnRestoreCommand(std::uintptr_t wParam);

  void ShowPage(TPage page);
  void HeaderButtonClicked(int index);
  // The scan page's "Scan Now"; false when the scan was not started.
  bool BeginScan();
  void ShowResultsOrReport();
  void RepairNow();
  // True to go on (with or without a restore point), false to abort. A
  // caller other than the repair run ends the point it began with
  // EndRestorePoint once its changes are made.
  bool CreateRestorePoint();
  void EndRestorePoint(bool nothingChanged);
  bool SpySweeperCheck(TSpySweeperKind kind);

  // The window's close box and every other close; false keeps the window.
  bool CanClose();
  // WM_QUERYENDSESSION's answer: false ("not yet") while a repair runs.
  bool OnQueryEndSession();
  // WM_ENDSESSION: when the session ends, stops, saves and quits; when it
  // does not, carries on.
  void OnEndSession(bool ending);
  void OnDelayedStartTick();
  void OnTrayOpen();
  void OnTrayClose();
  // Escape and F1.
  void OnEscape();
  // F1 and the Help menu's "Help": the help file's topic of the page shown,
  // else (no help file, or its viewer did not start) the online help.
  void OnHelp();
  // A minimise command; true when it was handled (hidden to the monitor's
  // tray window) and the window must not minimise.
  bool OnMinimise();
  // Help menu entries ("Help" is OnHelp).
  void CheckForUpdates();
  void OpenWebSite();
  void ShowAbout();
  // An exception nothing else caught: leaves a note in "crash.txt" in the
  // settings folder and ends the message loop. The settings are not saved:
  // what is in memory may be what went wrong. True when the note was written.
  bool OnFatalException(const std::string &text);

  // State.
  TPage CurrentPage() const { return currentPage_; }
  TPage LastPage() const { return lastPage_; }
  bool Busy() const { return busy_; }
  // Busy, or a repair run or a modal box of this logic is open.
  bool Refusing() const { return busy_ || repairing_ || modalDepth_ > 0; }
  bool MonitorPausedByUs() const { return monitorPausedByUs_; }
  TDateTime LastScanTime() const { return lastScanTime_; }
  int RepairedCount() const { return repairedCount_; }
  bool HeaderUnlocked() const { return headerUnlocked_; }
  bool AutoMode() const { return autoMode_; }
  bool FullScanRequired() const { return fullScanRequired_; }
  bool FirstRun() const { return firstRun_; }
  bool SessionEnding() const { return sessionEnding_; }
  bool Closing() const { return closing_; }
  TStartSwitch StartSwitch() const { return startSwitch_; }

private:
  class TModalScope;
  class TRepairScope;
  struct TRepairOutcome;

  // Commands, by group.
  bool HandleProgramCommand(int command, std::intptr_t lParam, std::intptr_t &answer);
  bool HandleResultsCommand(int command, std::intptr_t lParam);
  bool HandlePageCommand(int command, std::intptr_t lParam);
  void OnStartUpCommand();
  void OnMonitorStartUp();
  void OnEnableWindow(std::intptr_t bits);
  void OnRepairWhenDue();
  void OnRepairOrScan();
  void OnClearResults();
  void ScanFromCommand();
  void OnMonitorRestart();
  void OnUpdateResult(std::intptr_t kind);
  void OfferUpdate();
  void RequestShutdown();

  // Pages and header.
  void ShowPageNow(TPage page);
  void ShowFeaturePage(TPage page);
  void SetHeader(bool enabled);
  void SetWindowEnabled(bool enabled);
  void ClearResults();

  // Scans.
  bool BeginScanAs(bool automatic);
  bool AskScanPrompts(TCategorySet &categories, bool &monitorStopped);
  void OnScanProgress(const std::string &location, TErrorCategory category, int categoryProgress,
                      int totalProgress);
  void OnScanFinished(const service::TScanResult &result);
  void OnScanCompleted(const service::TScanResult &result);
  void OnScanEndedEarly(const service::TScanResult &result);
  void ReportAutomaticScan();
  void OfferAutomaticRepair();
  void StartAutomaticScan();
  void RestartMonitorIfPaused();

  // Repairs.
  std::optional<TRepairOutcome> RunRepair();
  bool PrepareRepair(bool &monitorStopped);
  bool MakeRestorePointWhenAsked();
  TRepairOutcome RepairAndRecord();
  bool AskRescanFirst();
  bool PauseMonitorForRepair(bool &stopped);
  bool MakeFullBackupWhenDue();
  bool FullBackupDue() const;
  bool ListChangesRegistry() const;
  void ReportRepair(const TRepairOutcome &outcome);
  void StartRestoreService();
  std::string RestorePointErrorText(long status) const;

  // Closing.
  void StopAndStore();
  void SaveOnExit();
  void Shutdown();
  void FlushDeferred();

  TMsgAnswer Ask(const std::string &text, TMsgButtons buttons, TMsgIcon icon,
                 TMsgDefault defaultButton = TMsgDefault::First);
  void Tell(const std::string &text, TMsgIcon icon);
  TDateTime Now();

  TMainWindowDeps d_;
  TStartSwitch startSwitch_;
  std::unique_ptr<service::TScanRun> scanRun_;
  // Lets a call queued on the dispatcher see that this object has gone.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);

  TPage currentPage_ = pgNone;
  TPage lastPage_ = pgStatus;
  bool busy_ = false;
  bool repairing_ = false;
  int modalDepth_ = 0;
  bool monitorPausedByUs_ = false;
  TDateTime lastScanTime_ = 0;
  int repairedCount_ = 0;
  bool headerUnlocked_ = false;
  bool headerEnabled_ = true;
  bool windowEnabled_ = true;
  bool autoMode_ = false;
  bool fullScanRequired_ = false;
  bool firstRun_ = false;
  bool sessionEnding_ = false;
  bool closing_ = false;
  bool shutdownDeferred_ = false;
  bool clearDeferred_ = false;
  // The restore point CreateRestorePoint began, to end after the repairs.
  std::optional<std::int64_t> pendingSequence_;
};

} // namespace quenlo
