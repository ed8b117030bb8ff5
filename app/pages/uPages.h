// How the main window's logic and the pages' logic meet: the page numbers,
// the numbered commands pages post to the main window, what the main
// window's logic asks of its frame, and what it asks of the pages it drives.
// Each interface is implemented once by page logic (tested natively) and
// shown by a thin Win32 view (app/win).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "scanner/uRegScanner.h"
#include "service/uRepairRun.h"

namespace quenlo {

// The main window's pages; showing one hides all others.
enum TPage : std::uint8_t {
  pgNone = 0,
  pgStatus = 1,
  pgScan = 2,
  pgRestore = 3,
  pgSettings = 5,
  pgOptimizer = 6,
  pgMonitor = 8,
  pgReport = 10,
  pgResults = 12,
  pgHistory = 13,
};

// The seven header buttons, left to right.
enum THeaderButton : std::uint8_t {
  hbStatus = 0,
  hbScan = 1,
  hbOptimizer = 2,
  hbMonitor = 3,
  hbRestore = 4,
  hbHistory = 5,
  hbSettings = 6,
};
inline constexpr int HeaderButtonCount = 7;

// The commands: WM_USER with the number in wParam. The numbers are what
// pages and HTML content post, so they never change.
enum TMainCommand : int {
  mcStartUp = 0,              // update check when due, then the last page
  mcTerminate = 1,            // after an update was started
  mcRepaint = 2,              // after a resize
  mcMonitorStartUp = 3,       // the "monitor" start
  mcScheduleUpdate = 5,       // lParam: days
  mcUpdateResult = 6,         // lParam: the result kind
  mcSaveSettings = 8,         //
  mcShutdown = 16,            // with terminate
  mcShowMainWindow = 17,      //
  mcConfirmMonitorOff = 18,   // sent: non-zero when the monitor is off
  mcClearResults = 19,        //
  mcRepairWhenDue = 20,       // results or report, then repair when due
  mcEnableWindow = 21,        // lParam bits: 0 header, 1 window given, 2 window on
  mcMonitorRestart = 22,      //
  mcShowResultsOrReport = 23, //
  mcScan = 100,               // the scan page's own start
  mcRepairOrScan = 108,       //
  mcHeaderOff = 110,          //
  mcClearAndShowScan = 152,   //
  mcMonitorOn = 190,          //
  mcMonitorOff = 195,         //
  mcShowStatus = 499,         //
  mcShowScanOrResults = 500,  //
  mcClearAndScan = 501,       //
  mcShowScanKeepResults = 502,
  mcShowResults = 503,
  mcShowOptimizer = 510,
  mcShowRestore = 530,
  mcShowMonitor = 540,
  mcShowSettings = 560, // lParam non-zero: the monitor tab
  mcShowHistory = 580,
  mcCheckAllAndStatus = 615,
};

// What the main window's logic tells its frame. The frame creates a page's
// view on first use and keeps it until exit.
class IMainFrame {
public:
  virtual ~IMainFrame() = default;
  virtual void ShowPage(TPage page) = 0;
  virtual void EnableHeader(bool enabled) = 0;
  virtual void SelectHeaderButton(THeaderButton button) = 0;
  virtual void EnableWindow(bool enabled) = 0;
  virtual void SetBusyCursor(bool busy) = 0;
  // Visible, restored, in the foreground unless a modal window is open.
  virtual void ShowNormal() = 0;
  virtual void Hide() = 0;
  virtual bool HiddenOrMinimised() const = 0;
  virtual bool ModalWindowOpen() const = 0;
  virtual void ShowTrayIcon(const std::string &hint) = 0;
  virtual void HideTrayIcon() = 0;
  virtual void Repaint() = 0;
  virtual void ShowAbout() = 0;
  // Ends the message loop.
  virtual void Quit() = 0;
};

// Per-category line of the scan page while scanning.
struct TScanCategoryLine {
  int found = 0;
  bool finished = false; // the finished icon: problems when found > 0, else clean
};

// The scan page as the main window's logic drives it.
class IScanPageControl {
public:
  virtual ~IScanPageControl() = default;
  virtual TCategorySet CheckedCategories() const = 0;
  // Stores the 24 switches into the settings record.
  virtual void StoreSwitches() = 0;
  virtual void SetScanningLook(bool scanning) = 0;
  virtual void SetProgress(int totalPercent, const std::string &location) = 0;
  virtual void SetCategoryLine(TErrorCategory category, const TScanCategoryLine &line) = 0;
  virtual void SetCheckAll(bool checked) = 0;
};

// What a repair run on the results page gives back.
struct TRepairPageResult {
  service::TRepairRunResult run;
  int failures = 0;
  // The loop ended early: a repair step raised, or the list changed under
  // the loop while messages were pumped. run holds what was done before.
  bool aborted = false;
  std::string abortText;
  // Why the repair count could not be stored in the settings; else empty.
  std::string recordError;
};

// The results page as the main window's logic drives it.
class IResultsPageControl {
public:
  virtual ~IResultsPageControl() = default;
  virtual bool Exists() const = 0;
  // Rebuilds the list from the scanner in the summary view and attaches it.
  virtual void ShowResults() = 0;
  // Lets go of the scanner's list before it changes (a scan, a clear).
  virtual void Detach() = 0;
  virtual void SetRepairingLook(bool repairing) = 0;
  virtual void ShowRestorePointLabel(bool shown) = 0;
  // The repair loop over the selected problems; appends to "repairs.htm".
  virtual TRepairPageResult RepairSelected() = 0;
  // Writes the last run's failures to "cantremove.txt"; true only when the
  // file was written (there were failures and the write succeeded).
  [[nodiscard]] virtual bool WriteFailureList() = 0;
};

class IReportPageControl {
public:
  virtual ~IReportPageControl() = default;
  virtual void
  ShowReport(int total, int repaired,
             const std::array<service::TCategoryRepairSummary, CategoryCount> &rows) = 0;
};

class IStatusPageControl {
public:
  virtual ~IStatusPageControl() = default;
  virtual void Refresh() = 0;
};

// The modal notice by the taskbar after an automatic scan; true when the
// user chose to fix.
class ITrayNotice {
public:
  virtual ~ITrayNotice() = default;
  virtual bool Show(int problemCount) = 0;
};

} // namespace quenlo
