// Fakes of the page services for the page-logic tests: a prompter that
// records each prompt and gives scripted answers, a clock the test sets, a
// command queue that runs posted commands when the test (or the code under
// test) processes pending messages, and recorders for the system services.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/pages/uPageServices.h"

namespace quenlo::test {

class FakePrompter final : public IPrompter {
public:
  TMsgAnswer Ask(const TPrompt &prompt) override {
    asked.push_back(prompt);
    if (onAsk)
      onAsk(prompt);
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected prompt: " << prompt.text;
      return TMsgAnswer::Cancel;
    }
    const TMsgAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const TPrompt &prompt : asked)
      texts.push_back(prompt.text);
    return texts;
  }

  std::deque<TMsgAnswer> answers; // given in order; none left fails the test
  std::vector<TPrompt> asked;
  // Runs while the box is "open": a test can post commands from here, as a
  // user clicking elsewhere would.
  std::function<void(const TPrompt &)> onAsk;
};

class FakeClock final : public IClock {
public:
  TLocalTime Now() override { return now; }
  TLocalTime now{.year = 2026, .month = 12, .day = 9, .hour = 10, .minute = 0, .second = 0};
};

class FakeTimers final : public ITimers {
public:
  void Start(TTimerId id, std::uint32_t intervalMs) override { timers[id] = {true, intervalMs}; }
  void Stop(TTimerId id) override { timers[id].first = false; }
  bool Running(TTimerId id) const override {
    auto it = timers.find(id);
    return it != timers.end() && it->second.first;
  }
  std::uint32_t Interval(TTimerId id) const override {
    auto it = timers.find(id);
    return it == timers.end() ? 0 : it->second.second;
  }
  std::map<TTimerId, std::pair<bool, std::uint32_t>> timers;
};

// Posted commands wait until ProcessPending, which hands them to `run` in
// order (commands posted while running wait for the next call).
class FakeCommandQueue final : public ICommandQueue {
public:
  void Post(int command, std::intptr_t lParam) override {
    posted.emplace_back(command, lParam);
    pending.emplace_back(command, lParam);
  }
  std::intptr_t Send(int command, std::intptr_t lParam) override {
    sent.emplace_back(command, lParam);
    return run ? run(command, lParam) : 0;
  }
  void ProcessPending() override {
    ++pumps;
    std::deque<std::pair<int, std::intptr_t>> now;
    now.swap(pending);
    for (const auto &[command, lParam] : now)
      if (run)
        run(command, lParam);
  }

  std::function<std::intptr_t(int, std::intptr_t)> run;
  std::vector<std::pair<int, std::intptr_t>> posted, sent;
  std::deque<std::pair<int, std::intptr_t>> pending;
  int pumps = 0;
};

class FakeRestorePoint final : public IRestorePoint {
public:
  TRestorePointResult Begin(const std::string &description) override {
    begun.push_back(description);
    return beginResult;
  }
  TRestorePointResult End(std::int64_t sequence, bool cancelled) override {
    ended.emplace_back(sequence, cancelled);
    return {.apiPresent = true, .ok = true};
  }
  TRestorePointResult beginResult{.apiPresent = true, .ok = true, .sequence = 7};
  std::vector<std::string> begun;
  std::vector<std::pair<std::int64_t, bool>> ended;
};

class FakeSystemServices final : public ISystemServices {
public:
  bool ServiceRunning(const std::string &name) override { return runningServices.count(name) > 0; }
  long StartService(const std::string &name) override {
    started.push_back(name);
    return startStatus;
  }
  bool ProcessRunning(const std::string &exeName) override {
    return runningProcesses.count(exeName) > 0;
  }
  std::map<std::string, bool> runningServices, runningProcesses;
  long startStatus = 0;
  std::vector<std::string> started;
};

class FakeShellOpen final : public IShellOpen {
public:
  bool Open(const std::string &fileOrUrl) override {
    opened.push_back(fileOrUrl);
    return succeeds;
  }
  bool succeeds = true;
  std::vector<std::string> opened;
};

class FakeConnectionProbe final : public IConnectionProbe {
public:
  bool Connected(const std::string &url) override {
    probed.push_back(url);
    return connected;
  }
  bool connected = true;
  std::vector<std::string> probed;
};

} // namespace quenlo::test
