#include "app/cli/uCliMonitor.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <ctime>

#include "registry/uRegAccess.h"
#include "service/uMonitorEvents.h"
#include "service/uMonitorRun.h"

namespace quenlo::cli {

namespace {

// The request Ctrl+C sets, and whether a monitor command is there to see it.
std::atomic<bool> gStopRequested{false};
std::atomic<bool> gMonitorRunning{false};

// Marks the command running for its lifetime, with no stop request pending.
class TRunningMark {
public:
  TRunningMark() {
    gStopRequested = false;
    gMonitorRunning = true;
  }
  ~TRunningMark() { gMonitorRunning = false; }
  TRunningMark(const TRunningMark &) = delete;
  TRunningMark &operator=(const TRunningMark &) = delete;
};

bool ParseSeconds(const std::string &text, int &seconds) {
  if (text.empty() ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  long long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 1 ||
      value > service::MonitorMaxSeconds)
    return false;
  seconds = static_cast<int>(value);
  return true;
}

// The value of "--name VALUE" or "--name=VALUE" at args[i]; false when arg
// is not that option. A missing value sets missing.
bool OptionValue(const std::vector<std::string> &args, std::size_t &i, const std::string &name,
                 std::string &value, bool &missing) {
  const std::string &arg = args[i];
  if (arg == name) {
    missing = i + 1 >= args.size();
    if (!missing)
      value = args[++i];
    return true;
  }
  if (arg.rfind(name + "=", 0) == 0) {
    value = arg.substr(name.size() + 1);
    missing = false;
    return true;
  }
  return false;
}

// Control characters as escapes, so that data holding line breaks stays on
// its change's line.
std::string OneLine(const std::string &text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\t')
      out += "\\t";
    else if (c < 0x20 || c == 0x7F) {
      constexpr const char *kHex = "0123456789abcdef";
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else
      out += ch;
  }
  return out;
}

std::string LocalTimeText(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()) % 1000;
  char buf[32];
  const std::size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
  char ms[8];
  std::snprintf(ms, sizeof ms, ".%03d", static_cast<int>((millis.count() + 1000) % 1000));
  return std::string(buf, n) + ms;
}

const char *ProblemName(TMonitorProblem problem) {
  switch (problem) {
  case mpBadEntry:
    return "mpBadEntry";
  case mpCompareFailed:
    return "mpCompareFailed";
  case mpHandlerFailed:
    return "mpHandlerFailed";
  }
  return "mpUnknown";
}

std::string WatchPointText(const TWatchPoint &point) {
  std::string text = RootKeyShortName(point.root) + "\\" + point.viewPath;
  if (point.oneOfTwoViews)
    text += point.view == rv32 ? " (32-bit view)" : " (64-bit view)";
  return text;
}

void PrintStart(const service::TMonitorStart &start, TCliStreams streams) {
  if (!start.settingsError.empty())
    streams.err << "quenlo-cli monitor: the settings could not be read, so their default keys "
                   "are watched: "
                << start.settingsError << "\n";
  streams.err << "watching " << start.keysWatched << " keys (" << start.watchPoints.size()
              << " watch points)\n";
  for (const TWatchPoint &point : start.watchPoints)
    streams.err << "  " << WatchPointText(point) << "\n";
  streams.err.flush();
}

} // namespace

bool ParseMonitorOptions(const std::vector<std::string> &args, TMonitorOptions &options,
                         std::string &message) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string value;
    bool missing = false;
    if (args[i] == "--json") {
      options.json = true;
    } else if (OptionValue(args, i, "--key", value, missing)) {
      if (missing || value.empty()) {
        message = "--key needs a key (for example HKEY_CURRENT_USER\\Software\\Quenlo)";
        return false;
      }
      options.keys.push_back(value);
    } else if (OptionValue(args, i, "--seconds", value, missing)) {
      int seconds = 0;
      if (missing || !ParseSeconds(value, seconds)) {
        message = "--seconds needs a whole number from 1 to " +
                  std::to_string(service::MonitorMaxSeconds) +
                  (missing ? std::string() : ", not '" + value + "'");
        return false;
      }
      options.seconds = seconds;
    } else {
      message = "unknown option '" + args[i] + "'";
      return false;
    }
  }
  return true;
}

std::string ChangeLine(const TKeyChange &change) {
  const service::TMonitorEventText text = service::DescribeChange(change);
  std::string line = LocalTimeText(change.time) + "  " + text.action + "  " + text.location;
  if (IsValueEvent(change.type)) {
    line += "  " + text.shown + "  " + text.type + "  ";
    line += change.before ? text.oldData : "(none)";
    line += " -> ";
    line += change.after ? text.newData : "(none)";
  }
  if (!text.view.empty())
    line += "  [" + text.view + "]";
  return OneLine(line);
}

bool RequestMonitorStop() {
  if (!gMonitorRunning.load())
    return false;
  gStopRequested = true;
  return true;
}

int CommandMonitor(const std::vector<std::string> &args, TCliStreams streams) {
  TMonitorOptions options;
  std::string message;
  if (!ParseMonitorOptions(args, options, message)) {
    streams.err << "quenlo-cli monitor: " << message << "\n";
    return 2;
  }
  service::TMonitorRunRequest request;
  request.keys = options.keys;
  if (options.seconds)
    request.duration = std::chrono::seconds(*options.seconds);

  service::TMonitorRunEvents events;
  events.onStarted = [&](const service::TMonitorStart &start) { PrintStart(start, streams); };
  events.onChange = [&](const TKeyChange &change) {
    // Scripts read the lines as they come: each one is flushed at once.
    if (options.json)
      streams.out << service::ChangeJson(change) << "\n" << std::flush;
    else
      streams.out << ChangeLine(change) << "\n" << std::flush;
  };
  events.onError = [&](const TMonitorError &error, const std::string &entry) {
    streams.err << "quenlo-cli monitor: " << (entry.empty() ? std::string() : entry + ": ")
                << error.text << "\n"
                << std::flush;
    if (options.json)
      streams.out << "{\"error\":" << JsonString(error.text)
                  << ",\"problem\":" << JsonString(ProblemName(error.problem))
                  << ",\"key\":" << JsonString(entry) << "}\n"
                  << std::flush;
  };

  const TRunningMark running;
  const service::TMonitorRunResult result = service::RunMonitor(request, gStopRequested, events);
  switch (result.outcome) {
  case service::moRanToEnd:
  case service::moStopped:
    return 0;
  case service::moRefused:
    streams.err << "quenlo-cli monitor: " << result.errorText << "\n";
    return 2;
  case service::moNothingWatched:
  case service::moFailed:
    break;
  }
  streams.err << "quenlo-cli monitor: " << result.errorText << "\n";
  return 1;
}

} // namespace quenlo::cli
