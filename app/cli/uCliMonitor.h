// "quenlo-cli monitor": watches registry keys and prints every change as it
// happens, one line each (one JSON object per line with --json), until the
// given number of seconds has passed or Ctrl+C.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/cli/uCli.h"
#include "monitor/uRegMonitor.h"

namespace quenlo::cli {

struct TMonitorOptions {
  std::vector<std::string> keys; // none: the monitored keys of the settings
  std::optional<int> seconds;    // none: until stopped
  bool json = false;
};

// "--key KEY" (repeatable), "--seconds N" (1 to 86400), "--json"; also
// "--key=KEY" and "--seconds=N". False with the reason for bad usage. The
// keys are checked when the run starts.
bool ParseMonitorOptions(const std::vector<std::string> &args, TMonitorOptions &options,
                         std::string &message);

// Runs the monitor. Exit code 0 when it ran to its end or was stopped, 1
// when no key could be watched, 2 for bad usage (a key that is not one
// included). At start, on the error stream: "watching N keys (M watch
// points)" and one line per watch point. Errors go to the error stream;
// with --json each is also one line {"error":TEXT,"problem":NAME,"key":ENTRY}
// on the output, in order with the changes, so a script reading the output
// sees it where it happened.
int CommandMonitor(const std::vector<std::string> &args, TCliStreams streams);

// Ends a running monitor command (from any thread: Ctrl+C). False when no
// monitor command is running, so the caller lets the default handling go on.
bool RequestMonitorStop();

// One line of text for one change: time, action, changed path, and for
// values the name, the type and old -> new data; control characters are
// written as escapes so the line stays one line.
std::string ChangeLine(const TKeyChange &change);

} // namespace quenlo::cli
