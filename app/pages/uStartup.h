// The start-up decisions, made before any window exists: what the first
// argument asks for, whether another copy runs and what to tell it, whether
// an automatic start has anything to do and whether the splash shows; the
// restore command another copy posts; and the start-up broadcast between
// copies. All of it is decided here from plain facts, so that the Win32
// side only creates the mutex, finds and posts to windows.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlo {

// The first argument only, compared exactly and case-sensitively.
enum TStartSwitch : std::uint8_t {
  ssNone = 0,      // no argument at all
  ssAutoScan = 1,  // "autoscan": the automatic start's scan
  ssMonitor = 2,   // "monitor": the automatic start of the registry monitor
  ssStartScan = 3, // "startscan": from the installer
  ssUnknown = 4    // any other first argument
};
TStartSwitch ParseStartSwitch(const std::vector<std::string> &arguments);
TStartSwitch ParseStartSwitch(std::string_view firstArgument, bool present);

inline constexpr const char *kInstanceMutexName = "QuenloMutex";
inline constexpr const char *kRestoreCommandMessage = "Quenlo.Restore.Command";

// The restore command's wParam.
enum TRestoreCommand : std::uint8_t {
  rcShow = 0,        // show the window
  rcEnableTimer = 1, // arm the automatic scan's timer
  rcShowStatus = 2   // the status page, on systems before Vista
};

enum class TRestoreAction { None, Show, EnableTimer, ShowStatus };
TRestoreAction RestoreCommandAction(std::uintptr_t wParam, int windowsVersion);

enum class TStartAction {
  ActivateOtherAndExit, // bring the running copy forward, exit 0
  PostRestoreAndExit,   // tell the running copy to show itself, exit 0
  Exit,                 // nothing to do, exit 0
  ContinueHidden,       // first copy, main window not shown at start
  ContinueWithSplash    // first copy, interactive start
};

struct TStartFacts {
  std::vector<std::string> arguments; // without the program name
  bool otherInstance = false;
};

// autoScanDue is asked only for a first copy started with "autoscan" (it
// schedules the next automatic scan when it answers true).
TStartAction DecideStart(const TStartFacts &facts, const std::function<bool()> &autoScanDue);

// The single-instance channel over the system.
class IInstanceChannel {
public:
  virtual ~IInstanceChannel() = default;
  // Creates the named mutex, initially owned, held until the process ends;
  // true when it existed already (ERROR_ALREADY_EXISTS). A mutex that cannot
  // be created at all answers false: the copy then runs as the first.
  virtual bool CreateMutexExisted(std::string_view name) = 0;
  // The running copy's window to bring forward; 0 when none is found.
  virtual std::uintptr_t FindOtherWindow() = 0;
  // Restores the window's last active popup and makes it the foreground.
  virtual void Activate(std::uintptr_t window) = 0;
  // Posts the restore command; false when it could not be posted.
  virtual bool PostRestoreCommand(std::uintptr_t window, TRestoreCommand command) = 0;
};

// The start-up sequence up to the main window: the mutex decides whether
// another copy runs; the window search only finds the window to tell.
// Returns what the caller does next (the exit code is always 0).
TStartAction RunStartup(IInstanceChannel &channel, const std::vector<std::string> &arguments,
                        const std::function<bool()> &autoScanDue);

// --- the start-up broadcast between copies ("Tindrel_Running")
inline constexpr const char *kBroadcastMessage = "Tindrel_Running";
inline constexpr const char *kBroadcastMutexName = "Tindrel";
// wParam of the broadcast.
enum TBroadcastCommand : std::uint8_t {
  bcStarting = 1, // a copy starts; lParam: its application window
  bcAnswer = 2    // the running copy answers; lParam: its main window
};
// WM_COPYDATA carrying the arguments: its tag, and how long the send may
// block before it gives up (a hung receiver must not hang the new copy).
inline constexpr std::uintptr_t kArgumentsCopyDataTag = 1;
inline constexpr std::uint32_t kArgumentsSendTimeoutMs = 2000;

enum class TBroadcastAction {
  Ignore,
  AnswerAndComeForward, // post bcAnswer back, restore, come to the foreground
  SendArgumentsAndQuit  // send the arguments (with the time-out), then end
};

struct TBroadcastFacts {
  std::uintptr_t wParam = 0;
  bool fromOwnWindow = false;      // lParam is this copy's own window
  bool senderIsOurProgram = false; // lParam is a window of this program
  bool mainWindowExists = false;   // this copy already runs its main window
};

// A copy that runs its main window never ends on an answer: only a copy
// still starting sends its arguments and quits, and only to this program.
TBroadcastAction BroadcastAction(const TBroadcastFacts &facts);

// Arguments 1 to n, each NUL-terminated, one after another, then one more
// NUL: 1 + the sum of (length + 1) bytes.
std::string PackArguments(const std::vector<std::string> &arguments);

} // namespace quenlo
