// What the optimizer page's logic needs from the window and the system: the
// long operations run under the progress cover, the analysis dialog, the
// main window's services and the restart. The window implements them over
// Win32 (app/win); the tests with fakes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/pages/uMainWindowLogic.h"

namespace quenlo {

// (total, done) of a long operation's work; callable from the worker.
using TWorkProgress = std::function<void(std::uint64_t total, std::uint64_t done)>;
// The work of a long operation, run on a worker thread: true when it
// succeeded, else false with the reason (an exception's message included).
using TLongWork = std::function<bool(const TWorkProgress &progress, std::string &errorText)>;

struct TLongOperationResult {
  bool started = false;  // the worker thread was created
  bool finished = false; // the wait ended by the worker's end
  bool ok = false;       // what the work answered
  std::string errorText; // the work's reason when it failed
};

// Runs work on a worker thread at the lowest priority while the progress
// cover (dimmed screen, topmost progress window with the caption, the
// keyboard off) is up and the window keeps pumping; the worker's progress
// corrects the cover's estimate. Returns once the cover is closed again.
class ILongOperation {
public:
  virtual ~ILongOperation() = default;
  virtual TLongOperationResult Run(const std::string &caption, bool showBar,
                                   const TLongWork &work) = 0;
};

// The defragmenter's analysis dialog: what it shows and which button was
// pressed.
struct TAnalysisView {
  int usedPercent = 100;
  int freePercent = 0;
  std::string usedText;     // lblUsedSpace: "97%, 45.2 MB"
  std::string freeText;     // lblFreeSpace
  int pieResource = 10000;  // 10000 + 5 * (free degrees div 5)
  bool nothingToDo = false; // lbNothing shown, the button reads "Ok"
  std::string buttonCaption = "Defragment";
};

class IAnalysisDialog {
public:
  virtual ~IAnalysisDialog() = default;
  // True when the user chose to defragment.
  virtual bool Show(const TAnalysisView &view) = 0;
};

// The main window's services the optimizer page uses.
class IOptimizerHost {
public:
  virtual ~IOptimizerHost() = default;
  virtual bool SpySweeperAllows(TSpySweeperKind kind) = 0;
  // Command 18: true when the registry monitor is off (or was switched off).
  virtual bool ConfirmMonitorOff() = 0;
  // Command 19: the scanner's results are dropped.
  virtual void ClearScanResults() = 0;
};

// Restarts Windows (shutdown privilege, ExitWindowsEx reboot); false when
// it could not.
class IWindowsRestart {
public:
  virtual ~IWindowsRestart() = default;
  virtual bool Restart() = 0;
};

// Starts a program shown normally and waits for its end while the window
// keeps processing messages (the registry checker of Windows 98 and Me).
// False when it could not be started.
class IProgramRunner {
public:
  virtual ~IProgramRunner() = default;
  virtual bool RunAndWait(const std::string &commandLine) = 0;
};

} // namespace quenlo
