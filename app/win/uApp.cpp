#include "uApp.h"

#include "platform/win32/WinApi.h"

#include <commctrl.h>

#include <memory>

#include "app/pages/uFullBackupRunner.h"
#include "app/pages/uHistoryPageLogic.h"
#include "app/pages/uMainWindowLogic.h"
#include "app/pages/uMonitorPageLogic.h"
#include "app/pages/uOptimizerPageLogic.h"
#include "app/pages/uReportPageLogic.h"
#include "app/pages/uRestorePage.h"
#include "app/pages/uResultsPageLogic.h"
#include "app/pages/uScanPageLogic.h"
#include "app/pages/uSettingsPageLogic.h"
#include "app/pages/uStartup.h"
#include "app/pages/uStatusPageLogic.h"
#include "app/pages/uTweaksPageLogic.h"
#include "app/uEnvironment.h"
#include "app/uSettings.h"
#include "cleaner/uSysCleaner.h"
#include "optimizer/uDefrag.h"
#include "platform/ScopeGuard.h"
#include "scanner/uRegScanner.h"
#include "service/uTweaksRun.h"
#include "uAnalysisDialog.h"
#include "uBroadcast.h"
#include "uInstance.h"
#include "uKeySelectDialog.h"
#include "uLongOperation.h"
#include "uMainLogicAdapter.h"
#include "uMainWindow.h"
#include "uMessageLoop.h"
#include "uMonitorSaveDialog.h"
#include "uMonitorTray.h"
#include "uOptimizerHost.h"
#include "uSplash.h"
#include "uTrayNoticeWindow.h"
#include "uWin32Help.h"
#include "uWin32HistoryServices.h"
#include "uWin32RestoreUi.h"
#include "uWin32Services.h"
#include "uWin32Settings.h"
#include "uWin32ShowKey.h"
#include "uWindowsRestart.h"
#include "ui/uDpi.h"
#include "ui/uPrompter.h"

namespace quenlo::win {

namespace {

// Everything the window's life needs, built in dependency order and torn
// down in reverse.
struct TApplication {
  TMainWindow window;
  ui::TMessageBoxPrompter prompter{[this] { return window.Handle(); }};
  TWin32Clock clock;
  TWin32Timers timers{[this] { return window.Handle(); }};
  TWin32CommandQueue commands{[this] { return window.Handle(); }};
  TWin32RestorePoint restorePoint;
  TWin32SystemServices services;
  TWin32ShellOpen shellOpen;
  TWin32HelpViewer helpViewer;
  TWin32ConnectionProbe probe;
  TWin32ShowKey showKey;
  TRegScanner scanner;
  TScanPageLogic scanPage{scanner, Settings()};
  TResultsPageLogic resultsPage{scanner, prompter, commands, showKey};
  TReportPageLogic reportPage{Settings()};
  TStatusPageLogic statusPage{scanner, Settings(), commands};
  TTrayNoticeWindow trayNotice{[this] { return window.Handle(); }};
  // The optimizer page: its long operations under the progress cover, the
  // analysis dialog and the restart. Its logic is made with its view, once
  // the environment it reads is known.
  TWin32LongOperation longOperation{[this] { return window.Handle(); }};
  TWin32AnalysisDialog analysisDialog{[this] { return window.Handle(); }};
  TWin32WindowsRestart windowsRestart;
  TWin32ProgramRunner programRunner;
  TWin32OptimizerHost optimizerHost{[this] { return mainLogic.get(); }, commands};
  std::unique_ptr<TOptimizerPageLogic> optimizerPage;
  std::unique_ptr<TSysTweakStore> tweakStore;
  std::unique_ptr<TTweaksPageLogic> tweaksPage;
  // The repair run's weekly full backup, under the same cover.
  TFullBackupRunner fullBackup{longOperation};
  // The registry monitor's page: made at start, since the main window's
  // commands (the "monitor" start, the scan and repair prompts) reach it
  // before its page is ever shown. Its icon, balloon timer and the Save As
  // dialog of its exports.
  TMonitorTray monitorTray;
  TWin32Timers monitorTimers{[this] { return monitorTray.Handle(); }};
  TWin32MonitorSaveDialog monitorSaveDialog{[this] { return window.Handle(); }};
  TMonitorPageLogic monitor{TMonitorPageDeps{.prompter = prompter,
                                             .timers = monitorTimers,
                                             .commands = commands,
                                             .showKey = showKey,
                                             .tray = monitorTray,
                                             .saveDialog = monitorSaveDialog,
                                             .appWindow = window,
                                             .mainThread = qp::MainThread(),
                                             .formatTime = &MonitorTimeText}};
  // The history page: made at start, since the main window's close and
  // session end ask it whether a pass runs before its page is ever shown.
  // Its engine runs its passes on a worker whose events come to the main
  // thread.
  TSysCleaner cleaner{qp::MainThread()};
  TWin32HistoryServices historyServices;
  THistoryPageLogic historyPage{THistoryPageDeps{.prompter = prompter,
                                                 .commands = commands,
                                                 .services = historyServices,
                                                 .restart = windowsRestart,
                                                 .cleaner = cleaner,
                                                 .settings = Settings()}};
  // The restore page: made at start, since a repair run reloads it once it
  // was shown. Its box writes the setting at once.
  TWin32RestoreUi restoreUi{TWin32RestoreUiDeps{
      .prompter = prompter, .frame = window, .showKey = showKey, .owner = [this] {
        return window.Handle();
      }}};
  TRestorePage restorePage{TRestorePageDeps{
      .scanner = scanner,
      .ui = restoreUi,
      .deleteAfterWeek = Settings().DeleteAfterWeek,
      .saveDeleteAfterWeek = [](bool on, std::string &errorText) {
        return SetSettingText(SectionSettings, "DeleteAfterWeek", on ? "1" : "0", &errorText);
      }}};
  // The settings page: made at start, since command 560 reaches it before
  // its page is ever shown.
  TWin32KeySelectDialog keySelectDialog{[this] { return window.Handle(); }};
  TWin32AutoStart autoStart;
  TSettingsPageLogic settingsPage{TSettingsPageDeps{.prompter = prompter,
                                                    .commands = commands,
                                                    .keys = keySelectDialog,
                                                    .autoStart = autoStart,
                                                    .fullBackup = fullBackup,
                                                    .longOperation = longOperation,
                                                    .host = optimizerHost,
                                                    .restart = windowsRestart}};
  // Pages of later work.
  TNullUpdateCheck updateCheck;
  TNullUpdateInstall updateInstall;
  TThreadWait wait;
  std::unique_ptr<TMainWindowLogic> mainLogic;
  std::unique_ptr<IMainLogicPort> logic;

  explicit TApplication(const std::string &firstArgument) {
    mainLogic = std::make_unique<TMainWindowLogic>(TMainWindowDeps{.scanner = scanner,
                                                                   .frame = window,
                                                                   .prompter = prompter,
                                                                   .clock = clock,
                                                                   .timers = timers,
                                                                   .commands = commands,
                                                                   .restorePoint = restorePoint,
                                                                   .services = services,
                                                                   .shell = shellOpen,
                                                                   .help = helpViewer,
                                                                   .probe = probe,
                                                                   .monitor = monitor,
                                                                   .fullBackup = fullBackup,
                                                                   .updateCheck = updateCheck,
                                                                   .historyPage = historyPage,
                                                                   .scanPage = scanPage,
                                                                   .resultsPage = resultsPage,
                                                                   .reportPage = reportPage,
                                                                   .statusPage = statusPage,
                                                                   .trayNotice = trayNotice,
                                                                   .restorePage = restorePage,
                                                                   .settingsPage = settingsPage,
                                                                   .updateInstall = updateInstall,
                                                                   .wait = wait,
                                                                   .mainThread = qp::MainThread()},
                                                   firstArgument);
    logic = std::make_unique<TMainLogicAdapter>(*mainLogic);
    scanPage.SetScanStarter([this] { return mainLogic->BeginScan(); });
    WireMonitor();
    // The history page's passes report on the main thread: the shown page
    // follows once the current message is done.
    historyPage.OnChanged = [this] { RefreshShownPage(); };
    settingsPage.OnChanged = [this] { RefreshShownPage(); };
  }
  TApplication(const TApplication &) = delete;
  TApplication &operator=(const TApplication &) = delete;
  ~TApplication() {
    // The window goes first: no message may reach the logic being torn down.
    window.SetLogic(nullptr);
  }

  void WireMonitor() {
    // Without its window the icon cannot be shown: ShowIcon then answers
    // false and a minimise keeps the taskbar button.
    qp::IgnoreResult(monitorTray.Create());
    monitorTray.OnOpen = [this] {
      monitor.TrayOpen();
      RefreshShownPage();
    };
    monitorTray.OnClose = [this] { monitor.TrayClose(); };
    monitorTray.OnTaskbarCreated = [this] { monitor.TaskbarCreated(); };
    monitorTray.OnTimer = [this](TTimerId id) {
      monitor.OnTimer(id);
      RefreshShownPage();
    };
    // Changes arrive on the main thread (pumped by the window's loop): the
    // shown page follows once the current message is done.
    monitor.OnChanged = [this] { RefreshShownPage(); };
  }
  // A refresh asked before the main window exists would be posted to no
  // window and never answered (and so hold back every later one).
  void RefreshShownPage() {
    if (window.Handle() != nullptr)
      window.RequestRefresh();
  }

  std::unique_ptr<TPageView> MakeOptimizerView(const TViewContext &context) {
    if (!optimizerPage)
      optimizerPage =
          std::make_unique<TOptimizerPageLogic>(TOptimizerPageDeps{.prompter = prompter,
                                                                   .clock = clock,
                                                                   .host = optimizerHost,
                                                                   .longOperation = longOperation,
                                                                   .analysisDialog = analysisDialog,
                                                                   .restart = windowsRestart,
                                                                   .programs = programRunner,
                                                                   .hives = SystemHiveCalls()},
                                                CurrentOptimizerPageEnv());
    // The tweaks tab exists from Vista on.
    if (!tweaksPage && WindowsVersion >= WindowsVista) {
      const TTweakEnvironment env = service::CurrentTweakEnvironment();
      tweakStore = std::make_unique<TSysTweakStore>(env, service::TweaksUndoFolder());
      tweaksPage = std::make_unique<TTweaksPageLogic>(
          *tweakStore, env, TTweaksPageServices{.prompter = prompter, .restart = windowsRestart});
    }
    return std::make_unique<TOptimizerPageView>(context, *optimizerPage, tweaksPage.get());
  }

  std::unique_ptr<TPageView> MakeView(TPage page) {
    TViewContext context{*logic, commands, window.Fonts(), [this] { window.RequestRefresh(); }};
    switch (page) {
    case pgStatus:
      return std::make_unique<TStatusPageView>(context, statusPage);
    case pgScan:
      return std::make_unique<TScanPageView>(context, scanPage);
    case pgResults:
      return std::make_unique<TResultsPageView>(context, resultsPage);
    case pgReport:
      return std::make_unique<TReportPageView>(context, reportPage);
    case pgOptimizer:
      return MakeOptimizerView(context);
    case pgMonitor:
      return std::make_unique<TMonitorPageView>(context, monitor);
    case pgRestore:
      return std::make_unique<TRestorePageView>(context, restorePage);
    case pgHistory:
      return std::make_unique<THistoryPageView>(context, historyPage);
    case pgSettings:
      return std::make_unique<TSettingsPageView>(context, settingsPage);
    default:
      return nullptr;
    }
  }
};

} // namespace

int RunQuenlo(const std::vector<std::string> &args) {
  const std::string first = args.empty() ? std::string() : args.front();
  // Before the start decisions, as every copy does: a running copy hears
  // of this one and comes forward, whatever the arguments.
  TStartupBroadcast broadcast;
  broadcast.Begin(args);
  TWin32InstanceChannel instance;
  const TStartAction start = RunStartup(instance, args, [] { return AutoScanDue(); });
  if (start != TStartAction::ContinueHidden && start != TStartAction::ContinueWithSplash)
    return 0;
  // A running copy's main window answered: this copy has handed over its
  // arguments and ends, even when the start decisions saw no other copy.
  if (broadcast.Answered())
    return 0;
  const bool hidden = start == TStartAction::ContinueHidden;

  ui::EnablePerMonitorDpiAwareness();
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS |
                                                      ICC_STANDARD_CLASSES | ICC_BAR_CLASSES |
                                                      ICC_TAB_CLASSES};
  ::InitCommonControlsEx(&controls);

  TSplash splash;
  if (!hidden)
    qp::IgnoreResult(splash.ShowSplash(ProgramVersion));

  auto app = std::make_unique<TApplication>(first);
  app->window.SetLogic(app->logic.get());
  ui::TWindow::SetFatalHandler([a = app.get()](const std::string &text) {
    if (a->logic)
      a->logic->FatalException(text);
  });
  app->window.SetViewFactory([a = app.get()](TPage page) { return a->MakeView(page); });
  if (!app->window.Create(!hidden))
    return 1;
  broadcast.SetMainWindow(app->window.Handle());
  app->window.SetBroadcast(&broadcast);
  TKeyTargets keys{app->window.Handle(),
                   [a = app.get()] {
                     a->logic->EscapePressed();
                     a->window.RequestRefresh();
                   },
                   [a = app.get()] { a->logic->HelpPressed(); }};
  app->commands.SetFilter([keys](MSG &msg) { return HandleNavigationKey(keys, msg); });
  app->logic->OnCreate();
  app->window.RefreshNow();
  const int code = RunMessageLoop(keys);
  ui::TWindow::SetFatalHandler(nullptr);
  return code;
}

} // namespace quenlo::win
