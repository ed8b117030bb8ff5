// A scripted run of the registry monitor, as the command line asks for it:
// the keys resolved (the caller's, else the monitored keys of the settings)
// and checked, the monitor activated, the main thread's dispatcher pumped
// until the deadline or the caller's stop request, every change and error
// handed to the caller as it arrives, and the monitor deactivated. No
// printing.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/uRegMonitor.h"
#include "platform/MainThread.h"

namespace quenlo::service {

// The longest run a script may ask for, in seconds (one day).
inline constexpr int MonitorMaxSeconds = 86400;
// How often the run looks at the stop request while no change arrives.
inline constexpr std::chrono::milliseconds MonitorStopPollInterval{50};

// Why a key entry cannot be watched ("" when it can): an entry is a root
// name (long or short), a backslash and the key path below the root.
std::string MonitorKeyProblem(std::string_view entry);

struct TMonitorRunRequest {
  // The keys to watch; none: the monitored keys of the settings. Keys given
  // here are checked before anything starts, and one that names no key
  // refuses the whole run; entries of the settings that name no key are
  // reported through onError and skipped, as the window does.
  std::vector<std::string> keys;
  // How long to watch once the monitor is active; none: until stopped.
  std::optional<std::chrono::milliseconds> duration;
};

// What the run watches, once the monitor is active.
struct TMonitorStart {
  std::vector<std::string> keys;        // the monitor's key list
  std::vector<TWatchPoint> watchPoints; // each key's views, in key-list order
  std::size_t keysWatched = 0;          // entries with at least one watch point
  // The settings file exists but could not be read: its default keys are
  // watched, and this says why.
  std::string settingsError;
};

struct TMonitorRunEvents {
  std::function<void(const TMonitorStart &)> onStarted;
  // Each change, on the main thread, in the order the monitor found them.
  std::function<void(const TKeyChange &)> onChange;
  // entry: the key-list entry the error is about ("" when there is none).
  std::function<void(const TMonitorError &, const std::string &entry)> onError;
};

enum TMonitorRunOutcome : std::uint8_t {
  moRanToEnd = 0,       // watched until the deadline
  moStopped = 1,        // ended by the stop request
  moRefused = 2,        // the request names a key that is not one; nothing started
  moNothingWatched = 3, // no entry became a watch point
  moFailed = 4,         // the monitor could not be activated
};

struct TMonitorRunResult {
  TMonitorRunOutcome outcome = moFailed;
  std::size_t changes = 0;
  std::size_t errors = 0;
  // moRefused and moFailed: why; moNothingWatched: what was asked for.
  std::string errorText;
};

// Runs on the main thread. Duplicate keys (the same root and path, names
// compared without case) are watched once. stop is read from any thread
// and ends the run within MonitorStopPollInterval. A change still on its
// way when the run ends (deadline or stop) is not delivered.
TMonitorRunResult RunMonitor(const TMonitorRunRequest &request, const std::atomic<bool> &stop,
                             const TMonitorRunEvents &events,
                             qp::TMainThread &mainThread = qp::MainThread());

} // namespace quenlo::service
