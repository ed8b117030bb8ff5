#include "service/uMonitorRun.h"

#include <algorithm>
#include <exception>
#include <set>
#include <utility>

#include "app/uSettings.h"
#include "platform/Utf.h"
#include "registry/uRegAccess.h"

namespace quenlo::service {

namespace {

using Clock = std::chrono::steady_clock;

// The root and the path of an entry that names a key (same rule as the
// monitor's own: the root name before the first backslash).
bool SplitEntry(std::string_view entry, std::uint32_t &root, std::string_view &path) {
  const std::size_t slash = entry.find('\\');
  if (slash == std::string_view::npos)
    return false;
  root = RootKeyFromName(entry.substr(0, slash));
  path = entry.substr(slash + 1);
  return root != 0;
}

// The entries to hand to the monitor: each key once. Entries that name no
// key are kept, so that the monitor reports them with their position.
std::vector<std::string> WithoutDuplicates(const std::vector<std::string> &entries) {
  std::vector<std::string> kept;
  std::set<std::pair<std::uint32_t, std::string>> seen;
  for (const std::string &entry : entries) {
    std::uint32_t root = 0;
    std::string_view path;
    if (SplitEntry(entry, root, path) && !seen.emplace(root, qp::UpperAscii(path)).second)
      continue;
    kept.push_back(entry);
  }
  return kept;
}

std::size_t KeysWithWatchPoints(const std::vector<TWatchPoint> &points) {
  std::set<int> indexes;
  for (const TWatchPoint &point : points)
    indexes.insert(point.index);
  return indexes.size();
}

// Pumps the main thread until the deadline or the stop request.
TMonitorRunOutcome PumpUntilDone(const TMonitorRunRequest &request, const std::atomic<bool> &stop,
                                 qp::TMainThread &mainThread) {
  const Clock::time_point deadline =
      request.duration ? Clock::now() + *request.duration : Clock::time_point::max();
  for (;;) {
    if (stop.load())
      return moStopped;
    std::chrono::milliseconds slice = MonitorStopPollInterval;
    if (request.duration) {
      const Clock::time_point now = Clock::now();
      if (now >= deadline)
        return moRanToEnd;
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
      slice = std::min(slice, left);
    }
    mainThread.PumpWait(slice);
  }
}

} // namespace

std::string MonitorKeyProblem(std::string_view entry) {
  const std::size_t slash = entry.find('\\');
  if (slash == std::string_view::npos)
    return "'" + std::string(entry) +
           "' is not a key: a key is a root name, a backslash and the path below it "
           "(HKEY_CURRENT_USER\\Software\\...)";
  const std::string_view rootName = entry.substr(0, slash);
  if (RootKeyFromName(rootName) == 0)
    return "'" + std::string(entry) + "' is not a key: unknown root key '" + std::string(rootName) +
           "'";
  return "";
}

TMonitorRunResult RunMonitor(const TMonitorRunRequest &request, const std::atomic<bool> &stop,
                             const TMonitorRunEvents &events, qp::TMainThread &mainThread) {
  TMonitorRunResult result;
  TMonitorStart start;
  if (!request.keys.empty()) {
    for (const std::string &key : request.keys) {
      std::string problem = MonitorKeyProblem(key);
      if (!problem.empty()) {
        result.outcome = moRefused;
        result.errorText = std::move(problem);
        return result;
      }
    }
    start.keys = WithoutDuplicates(request.keys);
    if (start.keys.size() > MaxMonitoredKeys) {
      result.outcome = moRefused;
      result.errorText = "at most " + std::to_string(MaxMonitoredKeys) +
                         " keys can be watched at once, not " + std::to_string(start.keys.size());
      return result;
    }
  } else {
    if (!LoadSettings(&start.settingsError) && start.settingsError.empty())
      start.settingsError = "the settings file cannot be read";
    start.keys = WithoutDuplicates(Settings().MonitoredKeys);
  }

  TRegMonitor monitor(mainThread);
  monitor.SetKeyList(start.keys);
  monitor.OnKeyChanged = [&](TRegMonitor &, const TKeyChange &change) {
    ++result.changes;
    if (events.onChange)
      events.onChange(change);
  };
  monitor.OnError = [&](TRegMonitor &sender, const TMonitorError &error) {
    ++result.errors;
    if (!events.onError)
      return;
    const auto &items = sender.KeyList().Items();
    const bool known = error.index >= 0 && static_cast<std::size_t>(error.index) < items.size();
    events.onError(error, known ? items[static_cast<std::size_t>(error.index)] : std::string());
  };
  try {
    monitor.Activate();
  } catch (const std::exception &e) {
    result.outcome = moFailed;
    result.errorText = std::string("the monitor could not start: ") + e.what();
    return result;
  }
  start.watchPoints = monitor.WatchPoints();
  start.keysWatched = KeysWithWatchPoints(start.watchPoints);
  if (start.watchPoints.empty()) {
    monitor.Deactivate();
    result.outcome = moNothingWatched;
    result.errorText = start.keys.empty() ? "no key to watch"
                                          : "none of the " + std::to_string(start.keys.size()) +
                                                " keys names a key that can be watched";
    return result;
  }
  if (events.onStarted)
    events.onStarted(start);
  result.outcome = PumpUntilDone(request, stop, mainThread);
  monitor.Deactivate();
  return result;
}

} // namespace quenlo::service
