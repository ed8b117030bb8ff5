// The monitor page without its window: it owns the registry monitor, keeps
// the list of captured changes with its counters, raises the balloons of
// the monitor's notification-area icon, and answers the main window's
// monitor commands (start, stop, confirm off, minimise to the tray).
//
// The list holds at most MaxMonitorRows rows (TMonitorPageDeps::maxRows):
// beyond that the oldest rows
// are dropped and counted, so a burst of changes cannot exhaust memory.
// While paused, the monitor keeps watching (its snapshots stay current)
// but changes are counted instead of listed.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/pages/uPageServices.h"
#include "app/pages/uPages.h"
#include "app/pages/uResultsPageLogic.h"
#include "monitor/uRegMonitor.h"
#include "service/uMonitorEvents.h"

namespace quenlo {

inline constexpr const char *kMonitorOffCounter = "Monitoring: OFF";
inline constexpr const char *kMonitorCounterFormat = "Monitoring: %d changes";
inline constexpr const char *kOneWatchPoint = "1 Active Watch Point";
inline constexpr const char *kWatchPointsSuffix = " Active Watch Points";
inline constexpr const char *kMonitorListHint =
    "To see the registry key right-click on item and choose Show Key";
inline constexpr const char *kMonitorTrayHint = "Quenlo will monitor your registry changes";
inline constexpr const char *kCaptureBalloonTitle = "Monitor Notification";
inline constexpr const char *kTrayBalloonTitle = "Quenlo";
inline constexpr const char *kTrayMonitoringText =
    "Quenlo is actively monitoring registry changes\r\n\r\nRight-click on icon to open Quenlo";
inline constexpr const char *kTrayNotMonitoringText =
    "Quenlo is not monitoring registry changes\r\n\r\nRight-click on icon to open Quenlo";
inline constexpr const char *kSelectAnItem = "Please select an item from the list";
inline constexpr const char *kConfirmMonitorOffText =
    "Quenlo detected that Registry Monitor is ON. Registry Monitor must be OFF for this operation "
    "to succeed.\r\rDo you want to turn OFF Registry Monitor and continue?";
inline constexpr const char *kMonitorMenuOpen = "Open Quenlo";
inline constexpr const char *kMonitorMenuClose = "Close";
inline constexpr const char *kShowKeyMenu = "Show &Key";

inline constexpr std::uint32_t kCaptureBalloonMs = 15000;
inline constexpr std::uint32_t kTrayBalloonMs = 10000;
inline constexpr std::uint32_t kBalloonTimerMs = 5000;
inline constexpr std::size_t MaxMonitorRows = 50000;
// lParam of command 560: the settings page opens at its monitor tab.
inline constexpr std::intptr_t kSettingsMonitorTab = 1;

// The monitor's notification-area icon (image 0 while monitoring, 1
// otherwise; hint kMonitorTrayHint; menu "Open Quenlo", "Close") and its
// balloons, with the information icon.
class IMonitorTray {
public:
  virtual ~IMonitorTray() = default;
  // Adds the icon or changes its image; false when the shell refused it.
  [[nodiscard]] virtual bool ShowIcon(bool monitoring) = 0;
  virtual void HideIcon() = 0;
  virtual bool IconShown() const = 0;
  virtual void ShowBalloon(const std::string &title, const std::string &text,
                           std::uint32_t timeoutMs) = 0;
  virtual void HideBalloon() = 0;
};

enum TMonitorExport : std::uint8_t { meCsv = 0, meJson = 1, meUndoFile = 2 };

// Asks the user where to save an export; false when cancelled.
class IMonitorSaveDialog {
public:
  virtual ~IMonitorSaveDialog() = default;
  virtual bool AskPath(TMonitorExport kind, std::string &path) = 0;
};

// The hide and show of the whole program for the tray.
class IMonitorAppWindow {
public:
  virtual ~IMonitorAppWindow() = default;
  // Minimised and without its taskbar button.
  virtual void HideToTray() = 0;
  // Minimised, keeping its taskbar button (the tray icon could not be shown).
  virtual void Minimise() = 0;
  virtual void SetBusyCursor(bool busy) = 0;
};

struct TMonitorPageDeps {
  IPrompter &prompter;
  ITimers &timers; // tiMonitorBalloon
  ICommandQueue &commands;
  IShowKey &showKey;
  IMonitorTray &tray;
  IMonitorSaveDialog &saveDialog;
  IMonitorAppWindow &appWindow;
  qp::TMainThread &mainThread;
  // The "Time" column: the locale's short date and long time.
  std::function<std::string(std::chrono::system_clock::time_point)> formatTime;
  // The list's cap (a test lowers it to see the oldest rows go).
  std::size_t maxRows = MaxMonitorRows;
};

// One row of the event list.
struct TMonitorRow {
  std::string time;
  service::TMonitorEventText text;
  TKeyChange change;
};

class TMonitorPageLogic final : public IMonitorControl {
public:
  explicit TMonitorPageLogic(TMonitorPageDeps deps);
  ~TMonitorPageLogic() override;

  // --- IMonitorControl (the main window's commands 3, 18, 22, 190, 195)
  bool PageExists() const override { return true; }
  bool Running() const override;
  void Start() override { SetMonitoring(true); }
  void Stop() override { SetMonitoring(false); }
  bool ConfirmOff() override;
  bool MinimizeToTray() override;

  // On: empties the list, reloads the settings, gives the monitor the
  // monitored keys and activates it; the tray icon shows image 0. Off:
  // deactivates; icon image 1, hidden. When activation fails the error is
  // shown and the buttons and icon stay as they were.
  void SetMonitoring(bool on);
  // The Start/Stop button pair, with the hourglass while it runs.
  void ToggleButton();
  void SetPageShown(bool shown);
  // The tray: click, double click and "Open Quenlo" post command 17,
  // "Close" command 16; Explorer restarted (TaskbarCreated): the icon is
  // added again when it should be there.
  void TrayOpen();
  void TrayClose();
  void TaskbarCreated();
  void OnTimer(TTimerId id);
  void OpenSettings(); // command 560 with the monitor tab

  // --- the list
  std::size_t RowCount() const { return rows_.size(); }
  const TMonitorRow &Row(std::size_t index) const { return rows_.at(index); }
  std::size_t DroppedRows() const { return dropped_; }
  std::size_t PausedChanges() const { return pausedCount_; }
  void Clear();
  void SetPaused(bool paused);
  bool Paused() const { return paused_; }
  // Show Key on a row (-1: none selected), behind the caution prompt.
  void ShowKey(int row);
  bool ShowKeyEnabled(int selectedRow) const { return selectedRow >= 0; }
  // Saves the list (CSV, JSON) or the undo file; says what was written or why not.
  void Export(TMonitorExport kind);

  // --- what the view shows
  const std::string &ChangeCounter() const { return changeCounter_; }
  const std::string &WatchPointCounter() const { return watchCounter_; }
  bool StartShown() const { return !Running(); }
  bool StopShown() const { return Running(); }
  // Errors the monitor reported (bad entries, failed comparisons), newest last.
  const std::vector<std::string> &Problems() const { return problems_; }
  int NotifyThreshold() const { return notifyThreshold_; }
  // Bumped on every change of what the view shows; the view refreshes when it moves.
  std::uint64_t Version() const { return version_; }
  std::function<void()> OnChanged; // rows or counters changed

private:
  void OnKeyChanged(const TKeyChange &change);
  void RefreshCounters();
  TMonitorPageDeps d_;
  TRegMonitor monitor_;
  std::deque<TMonitorRow> rows_;
  std::size_t dropped_ = 0;
  std::size_t pausedCount_ = 0;
  bool paused_ = false;
  // Hidden to the tray icon by MinimizeToTray and not opened since: the
  // icon must come back when the shell restarts, monitoring or not.
  bool hiddenToTray_ = false;
  int notifyThreshold_ = 0;
  std::string changeCounter_ = kMonitorOffCounter;
  std::string watchCounter_;
  std::vector<std::string> problems_;
  std::uint64_t version_ = 0;
};

} // namespace quenlo
