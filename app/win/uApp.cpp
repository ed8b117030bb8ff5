#include "uApp.h"

#include "platform/win32/WinApi.h"

#include <commctrl.h>

#include <memory>

#include "app/pages/uReportPageLogic.h"
#include "app/pages/uResultsPageLogic.h"
#include "app/pages/uScanPageLogic.h"
#include "app/pages/uStatusPageLogic.h"
#include "app/uEnvironment.h"
#include "app/uSettings.h"
#include "platform/ScopeGuard.h"
#include "scanner/uRegScanner.h"
#include "uInstance.h"
#include "uInterimMainLogic.h"
#include "uMainWindow.h"
#include "uMessageLoop.h"
#include "uSplash.h"
#include "uWin32Services.h"
#include "uWin32ShowKey.h"
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
  TWin32ConnectionProbe probe;
  TWin32ShowKey showKey;
  TRegScanner scanner;
  TScanPageLogic scanPage{scanner, Settings()};
  TResultsPageLogic resultsPage{scanner, prompter, commands, showKey};
  TReportPageLogic reportPage{Settings()};
  TStatusPageLogic statusPage{scanner, Settings(), commands};
  std::unique_ptr<IMainLogicPort> logic;

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
      return std::make_unique<TPlaceholderPageView>(context, L"Optimizer");
    case pgMonitor:
      return std::make_unique<TPlaceholderPageView>(context, L"Registry Monitor");
    case pgRestore:
      return std::make_unique<TPlaceholderPageView>(context, L"Restore");
    case pgHistory:
      return std::make_unique<TPlaceholderPageView>(context, L"History Cleaner");
    case pgSettings:
      return std::make_unique<TPlaceholderPageView>(context, L"Settings");
    default:
      return nullptr;
    }
  }
};

} // namespace

int RunQuenlo(const std::vector<std::string> &args) {
  const std::string first = args.empty() ? std::string() : args.front();
  TInstanceChannel instance;
  if (instance.CreateMutexFirst()) {
    const HWND other = TInstanceChannel::FindOther();
    if (other != nullptr) {
      if (args.empty()) {
        TInstanceChannel::Activate(other);
        qp::IgnoreResult(TInstanceChannel::PostRestore(other, 0));
      } else if (first == "autoscan") {
        qp::IgnoreResult(TInstanceChannel::PostRestore(other, 0));
      }
    }
    return 0;
  }
  if (first == "autoscan" && !AutoScanDue())
    return 0;
  const bool hidden = first == "autoscan" || first == "monitor";

  ui::EnablePerMonitorDpiAwareness();
  INITCOMMONCONTROLSEX controls{sizeof(controls),
                                ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);

  TSplash splash;
  if (!hidden)
    qp::IgnoreResult(splash.ShowSplash(ProgramVersion));

  auto app = std::make_unique<TApplication>();
  app->logic = std::make_unique<TInterimMainLogic>(
      TInterimDeps{app->scanner, app->window, app->prompter, app->commands, app->scanPage,
                   app->resultsPage, app->reportPage, app->statusPage});
  app->window.SetLogic(app->logic.get());
  app->window.SetViewFactory([a = app.get()](TPage page) { return a->MakeView(page); });
  if (!app->window.Create(!hidden))
    return 1;
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
  app->window.SetLogic(nullptr);
  return code;
}

} // namespace quenlo::win
