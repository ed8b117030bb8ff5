// Fakes of what the settings page needs beyond PageFakes.h: the key
// selection dialog, the automatic start, the full backup, the restore's
// long operation, the main window's checks before a restore and the
// restart. Each answers from a script and records what it was asked.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/pages/uSettingsPageLogic.h"

namespace quenlo::test {

class FakeKeySelector final : public IKeySelector {
public:
  bool SelectKey(const std::string &title, std::string &key) override {
    titles.push_back(title);
    if (whileOpen)
      whileOpen();
    if (chosen.empty()) {
      ADD_FAILURE() << "unexpected key selection: " << title;
      return false;
    }
    const std::string answer = chosen.front();
    chosen.pop_front();
    if (answer.empty())
      return false; // cancelled
    key = answer;
    return true;
  }
  std::deque<std::string> chosen;  // an empty text cancels the dialog
  std::function<void()> whileOpen; // another program at work meanwhile
  std::vector<std::string> titles;
};

class FakeAutoStart final : public IAutoStart {
public:
  bool Apply(int action) override {
    applied.push_back(action);
    if (results.empty())
      return true;
    const bool ok = results.front();
    results.pop_front();
    return ok;
  }
  std::deque<bool> results; // in order; none left succeeds
  std::vector<int> applied;
};

class FakeFullBackup final : public IFullBackup {
public:
  bool RunSilent(std::string &errorText) override {
    ++runs;
    if (onRun)
      onRun();
    errorText = ok ? "" : failure;
    return ok;
  }
  bool ok = true;
  std::string failure;
  std::function<void()> onRun; // what the backup leaves on the disk
  int runs = 0;
};

// Runs the work on the calling thread, or answers as a runner whose worker
// did not start, whose wait ended first, or whose worker succeeded.
class FakeLongOperation final : public ILongOperation {
public:
  enum TMode { RunWork, NotStarted, Unfinished, Succeeds };
  TLongOperationResult Run(const std::string &caption, bool showBar,
                           const TLongWork &work) override {
    captions.push_back(caption);
    bars.push_back(showBar);
    TLongOperationResult result;
    if (mode == NotStarted)
      return result;
    result.started = true;
    result.finished = mode != Unfinished;
    if (mode == Succeeds) {
      result.ok = true;
      return result;
    }
    result.ok = work([](std::uint64_t, std::uint64_t) {}, result.errorText);
    return result;
  }
  TMode mode = RunWork;
  std::vector<std::string> captions;
  std::vector<bool> bars;
};

class FakeRestoreHost final : public IOptimizerHost {
public:
  bool SpySweeperAllows(TSpySweeperKind kind) override {
    calls.push_back("SpySweeper" + std::to_string(kind));
    return spySweeperAllows;
  }
  bool ConfirmMonitorOff() override {
    calls.push_back("MonitorOff");
    return monitorOff;
  }
  void ClearScanResults() override { calls.push_back("Clear"); }
  bool spySweeperAllows = true;
  bool monitorOff = true;
  std::vector<std::string> calls;
};

class FakeWindowsRestart final : public IWindowsRestart {
public:
  bool Restart() override {
    ++restarts;
    return succeeds;
  }
  bool succeeds = true;
  int restarts = 0;
};

} // namespace quenlo::test
