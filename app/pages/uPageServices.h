// The small interfaces through which the pages' logic reaches the screen,
// the clock, the message queue and the system. The window implements them
// over Win32 (app/win); the tests implement them with fakes that answer
// prompts and record their exact texts, step a clock and run posted
// commands when the test pumps. No page logic touches a window handle.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "app/uAppHost.h"

namespace quenlo {

// --- prompts. Every message box is captioned "Quenlo"; no prompt chooses
// another caption.
inline constexpr const char *kAppTitle = "Quenlo";

enum class TMsgButtons { Ok, OkCancel, YesNo, YesNoCancel, AbortRetryIgnore };
enum class TMsgIcon { None, Error, Warning, Question, Information };
enum class TMsgAnswer { Ok, Cancel, Yes, No, Abort, Retry, Ignore };
// The button that Enter presses, counted from the left.
enum class TMsgDefault { First, Second, Third };
enum class TCheckState { Unchecked, Checked, Mixed };

struct TPrompt {
  std::string text;
  TMsgButtons buttons = TMsgButtons::Ok;
  TMsgIcon icon = TMsgIcon::None;
  TMsgDefault defaultButton = TMsgDefault::First;
};

// Shows a modal message box and returns the button pressed. A box closed
// without a button (Escape, the close box) answers Cancel where there is a
// Cancel button, else No, else Ok, as Windows does.
class IPrompter {
public:
  virtual ~IPrompter() = default;
  virtual TMsgAnswer Ask(const TPrompt &prompt) = 0;
};

// --- time
class IClock {
public:
  virtual ~IClock() = default;
  virtual TLocalTime Now() = 0;
};

// Timers of one window, told apart by their id; a tick reaches the owner's
// OnTimer. Setting a running timer restarts it with the new interval.
enum TTimerId : std::uint8_t {
  tiDelayedStart = 1,   // the automatic scan's timer
  tiSplash = 2,         // closes the splash window
  tiMonitorBalloon = 3, // hides the monitor's tray balloon
};

class ITimers {
public:
  virtual ~ITimers() = default;
  virtual void Start(TTimerId id, std::uint32_t intervalMs) = 0;
  virtual void Stop(TTimerId id) = 0;
  virtual bool Running(TTimerId id) const = 0;
  // The interval last started with; 0 before the first start.
  virtual std::uint32_t Interval(TTimerId id) const = 0;
};

// --- the main window's numbered commands (WM_USER, command in wParam)
class ICommandQueue {
public:
  virtual ~ICommandQueue() = default;
  // Queues the command; it runs when the message loop comes to it.
  virtual void Post(int command, std::intptr_t lParam = 0) = 0;
  // Runs the command now and returns its answer (command 18 answers).
  virtual std::intptr_t Send(int command, std::intptr_t lParam = 0) = 0;
  // Runs what is queued (the window's messages, posted commands); the
  // repair loop calls it after each problem to keep the window alive.
  virtual void ProcessPending() = 0;
};

// --- the system
// System Restore through SrClient.dll's SRSetRestorePointA.
struct TRestorePointResult {
  bool apiPresent = false; // SrClient.dll and the entry point were found
  bool ok = false;
  // The call's status when it failed. Some stubs (Wine's) fail with 0: the
  // caller must not show that as an error number.
  long status = 0;
  std::int64_t sequence = 0; // to end the point with
};

class IRestorePoint {
public:
  virtual ~IRestorePoint() = default;
  // BEGIN_SYSTEM_CHANGE, APPLICATION_INSTALL, with the description.
  virtual TRestorePointResult Begin(const std::string &description) = 0;
  // END_SYSTEM_CHANGE, or CANCELLED_OPERATION when nothing was changed.
  virtual TRestorePointResult End(std::int64_t sequence, bool cancelled) = 0;
};

class ISystemServices {
public:
  virtual ~ISystemServices() = default;
  virtual bool ServiceRunning(const std::string &name) = 0;
  // StartService's status: 0, 1056 (already running), 1058 (disabled) ...
  virtual long StartService(const std::string &name) = 0;
  // A process whose executable file name is exeName (no case) exists.
  virtual bool ProcessRunning(const std::string &exeName) = 0;
};

// The shell's default action on a file or address; false when it failed
// (ShellExecute answered 32 or less).
class IShellOpen {
public:
  virtual ~IShellOpen() = default;
  virtual bool Open(const std::string &fileOrUrl) = 0;
};

// The system's HTML Help viewer, started at one topic of a compiled help
// file. True when the viewer was started; what it then makes of the file
// is its own concern.
class IHelpViewer {
public:
  virtual ~IHelpViewer() = default;
  [[nodiscard]] virtual bool ShowTopic(const std::string &chmFile, const std::string &topic) = 0;
};

// InternetCheckConnection with the force-connection flag.
class IConnectionProbe {
public:
  virtual ~IConnectionProbe() = default;
  virtual bool Connected(const std::string &url) = 0;
};

// --- pages of later work, reached only through these; the null ones below
// stand in until they exist.
class IMonitorControl {
public:
  virtual ~IMonitorControl() = default;
  virtual bool PageExists() const = 0;
  virtual bool Running() const = 0;
  virtual void Start() = 0;
  virtual void Stop() = 0;
  // Asks to switch a running monitor off; true when it is off afterwards
  // (also when it never ran or the page does not exist).
  virtual bool ConfirmOff() = 0;
  // Hides the program to the monitor's tray icon with its balloon; false
  // when the icon could not be shown (the program must then stay
  // reachable from its taskbar button).
  virtual bool MinimizeToTray() = 0;
};

class IFullBackup {
public:
  virtual ~IFullBackup() = default;
  // The settings page's silent full registry backup; false with the reason.
  [[nodiscard]] virtual bool RunSilent(std::string &errorText) = 0;
};

class IUpdateCheck {
public:
  virtual ~IUpdateCheck() = default;
  virtual void StartAutomatic() = 0;
  virtual void StartManual() = 0;
};

class IHistoryPage {
public:
  virtual ~IHistoryPage() = default;
  virtual bool PageExists() const = 0;
  virtual bool Scanning() const = 0;
  virtual void Stop() = 0;
  virtual void StoreState() = 0;
};

class TNullMonitor final : public IMonitorControl {
public:
  bool PageExists() const override { return false; }
  bool Running() const override { return false; }
  void Start() override {}
  void Stop() override {}
  bool ConfirmOff() override { return true; }
  bool MinimizeToTray() override { return false; }
};

class TNullFullBackup final : public IFullBackup {
public:
  bool RunSilent(std::string &errorText) override {
    errorText = "the full registry backup is not available in this version";
    return false;
  }
};

class TNullUpdateCheck final : public IUpdateCheck {
public:
  void StartAutomatic() override {}
  void StartManual() override {}
};

class TNullHistoryPage final : public IHistoryPage {
public:
  bool PageExists() const override { return false; }
  bool Scanning() const override { return false; }
  void Stop() override {}
  void StoreState() override {}
};

// --- what the main window's logic needs beyond the above

// Waits on the calling thread: the restore service's start is polled a few
// times, 100 ms apart, before the restore point is asked for.
class IWait {
public:
  virtual ~IWait() = default;
  virtual void Wait(std::uint32_t milliseconds) = 0;
};

class TThreadWait final : public IWait {
public:
  void Wait(std::uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
};

// The restore page, told to reload its list after a repair run's backups.
class IRestorePageControl {
public:
  virtual ~IRestorePageControl() = default;
  virtual bool Exists() const = 0;
  virtual void Reload() = 0;
};

// The settings page as commands reach it.
class ISettingsPageControl {
public:
  virtual ~ISettingsPageControl() = default;
  virtual void ShowMonitorTab() = 0;
  // The "Monitor" tab is the one shown: the help opens at its section.
  virtual bool MonitorTabShown() const { return false; }
};

// The update prompt and download after a check found a newer version.
enum class TUpdateOffer {
  Declined,    // the user did not want it
  Downloaded,  // the setup is on the disk
  Interrupted, // the user stopped the download
  Failed       // the download failed
};

class IUpdateInstall {
public:
  virtual ~IUpdateInstall() = default;
  // Shows the prompt and, when accepted, downloads with its progress dialog.
  virtual TUpdateOffer OfferAndDownload() = 0;
  // Hands the downloaded setup to the restart agent; false with the reason.
  [[nodiscard]] virtual bool StartInstallation(std::string &errorText) = 0;
};

class TNullRestorePage final : public IRestorePageControl {
public:
  bool Exists() const override { return false; }
  void Reload() override {}
};

class TNullSettingsPage final : public ISettingsPageControl {
public:
  void ShowMonitorTab() override {}
};

class TNullUpdateInstall final : public IUpdateInstall {
public:
  TUpdateOffer OfferAndDownload() override { return TUpdateOffer::Declined; }
  bool StartInstallation(std::string &errorText) override {
    errorText = "updates are not available in this version";
    return false;
  }
};

} // namespace quenlo
