// The start-up decisions: the first argument, the single instance and what
// the running copy is told, the restore command and the start-up broadcast.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/pages/uStartup.h"
#include "app/uEnvironment.h"

namespace quenlo::test {
namespace {

using Args = std::vector<std::string>;

TEST(StartupLogicTest, OnlyTheExactLowerCaseFirstArgumentIsASwitch) {
  EXPECT_EQ(ParseStartSwitch(Args{}), ssNone);
  EXPECT_EQ(ParseStartSwitch(Args{"autoscan"}), ssAutoScan);
  EXPECT_EQ(ParseStartSwitch(Args{"monitor", "x"}), ssMonitor);
  EXPECT_EQ(ParseStartSwitch(Args{"startscan"}), ssStartScan);
  EXPECT_EQ(ParseStartSwitch(Args{"AutoScan"}), ssUnknown);
  EXPECT_EQ(ParseStartSwitch(Args{"MONITOR"}), ssUnknown);
  EXPECT_EQ(ParseStartSwitch(Args{"autoscan "}), ssUnknown);
  EXPECT_EQ(ParseStartSwitch(Args{"/autoscan"}), ssUnknown);
  EXPECT_EQ(ParseStartSwitch(Args{"x", "autoscan"}), ssUnknown) << "only the first counts";
  EXPECT_EQ(ParseStartSwitch(Args{""}), ssUnknown) << "an empty argument is still an argument";
}

TEST(StartupLogicTest, WhatASecondCopyAndAFirstCopyDo) {
  int dueAsked = 0;
  bool due = true;
  const auto autoScanDue = [&] {
    ++dueAsked;
    return due;
  };
  const auto decide = [&](Args args, bool other) {
    return DecideStart({.arguments = std::move(args), .otherInstance = other}, autoScanDue);
  };
  EXPECT_EQ(decide({}, true), TStartAction::ActivateOtherAndExit);
  EXPECT_EQ(decide({"autoscan"}, true), TStartAction::PostRestoreAndExit);
  EXPECT_EQ(decide({"monitor"}, true), TStartAction::Exit) << "nothing happens in the running one";
  EXPECT_EQ(decide({"startscan"}, true), TStartAction::Exit);
  EXPECT_EQ(decide({"Autoscan"}, true), TStartAction::Exit);
  EXPECT_EQ(dueAsked, 0) << "a second copy never schedules the automatic scan";

  EXPECT_EQ(decide({"autoscan"}, false), TStartAction::ContinueHidden);
  EXPECT_EQ(dueAsked, 1);
  due = false;
  EXPECT_EQ(decide({"autoscan"}, false), TStartAction::Exit) << "nothing due: no window at all";
  EXPECT_EQ(decide({"monitor"}, false), TStartAction::ContinueHidden);
  EXPECT_EQ(decide({"startscan"}, false), TStartAction::ContinueWithSplash);
  EXPECT_EQ(decide({}, false), TStartAction::ContinueWithSplash);
  EXPECT_EQ(decide({"AUTOSCAN"}, false), TStartAction::ContinueWithSplash)
      << "a switch in capitals starts interactively";
  EXPECT_EQ(dueAsked, 2) << "asked only for a first copy with \"autoscan\"";
}

class FakeInstanceChannel final : public IInstanceChannel {
public:
  bool CreateMutexExisted(std::string_view name) override {
    calls.push_back("mutex " + std::string(name));
    return existed;
  }
  std::uintptr_t FindOtherWindow() override {
    calls.push_back("find");
    return window;
  }
  void Activate(std::uintptr_t w) override { calls.push_back("activate " + std::to_string(w)); }
  bool PostRestoreCommand(std::uintptr_t w, TRestoreCommand command) override {
    calls.push_back("post " + std::to_string(w) + " " + std::to_string(command));
    return false; // a lost post must not change the outcome
  }
  bool existed = false;
  std::uintptr_t window = 0;
  std::vector<std::string> calls;
};

TEST(StartupLogicTest, TheMutexDecidesAndTheWindowSearchOnlyFindsWhomToTell) {
  const auto due = [] { return true; };
  FakeInstanceChannel first;
  first.window = 77; // a window that looks like ours, yet the mutex was new
  EXPECT_EQ(RunStartup(first, {}, due), TStartAction::ContinueWithSplash);
  EXPECT_EQ(first.calls, (std::vector<std::string>{"mutex QuenloMutex"}));

  FakeInstanceChannel second;
  second.existed = true;
  second.window = 42;
  EXPECT_EQ(RunStartup(second, {}, due), TStartAction::ActivateOtherAndExit);
  EXPECT_EQ(second.calls, (std::vector<std::string>{"mutex QuenloMutex", "find", "activate 42",
                                                    "post 42 0", "post 42 2"}));

  FakeInstanceChannel scheduled;
  scheduled.existed = true;
  scheduled.window = 5;
  EXPECT_EQ(RunStartup(scheduled, {"autoscan"}, due), TStartAction::PostRestoreAndExit);
  EXPECT_EQ(scheduled.calls, (std::vector<std::string>{"mutex QuenloMutex", "find", "post 5 0"}));

  // The running copy is still starting (no window yet): this one ends
  // quietly instead of running twice.
  FakeInstanceChannel early;
  early.existed = true;
  EXPECT_EQ(RunStartup(early, {}, due), TStartAction::ActivateOtherAndExit);
  EXPECT_EQ(early.calls, (std::vector<std::string>{"mutex QuenloMutex", "find"}));

  FakeInstanceChannel monitor;
  monitor.existed = true;
  monitor.window = 9;
  EXPECT_EQ(RunStartup(monitor, {"monitor"}, due), TStartAction::Exit);
  EXPECT_EQ(monitor.calls, (std::vector<std::string>{"mutex QuenloMutex"}));
}

TEST(StartupLogicTest, TheRestoreCommandShowsTheStatusPageOnlyBeforeVista) {
  constexpr int xp = 6, seven = 9;
  EXPECT_EQ(RestoreCommandAction(rcShow, seven), TRestoreAction::Show);
  EXPECT_EQ(RestoreCommandAction(rcEnableTimer, seven), TRestoreAction::EnableTimer);
  EXPECT_EQ(RestoreCommandAction(rcShowStatus, xp), TRestoreAction::ShowStatus);
  EXPECT_EQ(RestoreCommandAction(rcShowStatus, WindowsVista), TRestoreAction::None);
  EXPECT_EQ(RestoreCommandAction(rcShowStatus, seven), TRestoreAction::None);
  EXPECT_EQ(RestoreCommandAction(3, xp), TRestoreAction::None);
  EXPECT_EQ(RestoreCommandAction(~std::uintptr_t{0}, xp), TRestoreAction::None);
}

TEST(StartupLogicTest, ABroadcastAnswerNeverEndsARunningCopy) {
  const TBroadcastFacts starting{
      .wParam = bcStarting, .fromOwnWindow = false, .senderIsOurProgram = true};
  EXPECT_EQ(BroadcastAction(starting), TBroadcastAction::AnswerAndComeForward);
  TBroadcastFacts own = starting;
  own.fromOwnWindow = true;
  EXPECT_EQ(BroadcastAction(own), TBroadcastAction::Ignore) << "its own broadcast";
  TBroadcastFacts foreign = starting;
  foreign.senderIsOurProgram = false;
  EXPECT_EQ(BroadcastAction(foreign), TBroadcastAction::Ignore) << "lParam not one of ours";

  TBroadcastFacts answer{.wParam = bcAnswer, .senderIsOurProgram = true};
  EXPECT_EQ(BroadcastAction(answer), TBroadcastAction::SendArgumentsAndQuit)
      << "a copy still starting hands over and ends";
  answer.mainWindowExists = true;
  EXPECT_EQ(BroadcastAction(answer), TBroadcastAction::Ignore)
      << "a posted answer must not end the copy that runs";
  answer.mainWindowExists = false;
  answer.senderIsOurProgram = false;
  EXPECT_EQ(BroadcastAction(answer), TBroadcastAction::Ignore)
      << "the arguments go to no other program";
  EXPECT_EQ(BroadcastAction({.wParam = 7, .senderIsOurProgram = true}), TBroadcastAction::Ignore);
}

TEST(StartupLogicTest, ArgumentsArePackedNulTerminatedWithOneMoreNul) {
  using namespace std::string_literals;
  EXPECT_EQ(PackArguments({"autoscan", "x y"}), "autoscan\0x y\0\0"s);
  EXPECT_EQ(PackArguments({"autoscan", "x y"}).size(), 1u + 9u + 4u);
  EXPECT_EQ(PackArguments({}), "\0"s);
  EXPECT_EQ(PackArguments({""}), "\0\0"s);
}

} // namespace
} // namespace quenlo::test
