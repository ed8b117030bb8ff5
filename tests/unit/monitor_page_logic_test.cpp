// The monitor page's logic with the real engine on the in-memory registry:
// the list and its counters, the capture balloons, pause, stop, the cap,
// Show Key, the tray's hide and balloons, and the exports. The engine runs
// its own threads, so these are Threaded suites (they also run under TSan).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ForwardingRegistry.h"
#include "PageFakes.h"
#include "TestPlatform.h"
#include "app/pages/uMonitorPageLogic.h"
#include "app/uEnvironment.h"
#include "app/uSettings.h"
#include "registry/uRegFile.h"
#include "registry/uRegShowKey.h"

namespace quenlo::test {
namespace {

using qp::mem::View;
using namespace std::chrono_literals;

constexpr const char *kWatched = "HKEY_CURRENT_USER\\Software\\Watched";
constexpr const char *kWatchedPath = "HKCU\\Software\\Watched";

// ---- fakes of the monitor page's own services

class RecordingTray final : public IMonitorTray {
public:
  bool ShowIcon(bool monitoring) override {
    calls.push_back(monitoring ? "show monitoring" : "show idle");
    if (accepts)
      shown = true;
    return accepts;
  }
  void HideIcon() override {
    calls.push_back("hide");
    shown = false;
  }
  bool IconShown() const override { return shown; }
  void ShowBalloon(const std::string &title, const std::string &text,
                   std::uint32_t timeoutMs) override {
    balloons.push_back(title + "|" + text + "|" + std::to_string(timeoutMs));
  }
  void HideBalloon() override { ++balloonsHidden; }

  bool accepts = true;
  bool shown = false;
  std::vector<std::string> calls;
  std::vector<std::string> balloons;
  int balloonsHidden = 0;
};

class ScriptedSaveDialog final : public IMonitorSaveDialog {
public:
  bool AskPath(TMonitorExport kind, std::string &chosen) override {
    asked.push_back(kind);
    chosen = path;
    return answers;
  }
  bool answers = true;
  std::string path = "C:\\Exports\\changes.txt";
  std::vector<TMonitorExport> asked;
};

class RecordingAppWindow final : public IMonitorAppWindow {
public:
  void HideToTray() override { calls.push_back("hide to tray"); }
  void Minimise() override { calls.push_back("minimise"); }
  void SetBusyCursor(bool busy) override { calls.push_back(busy ? "busy" : "idle"); }
  std::vector<std::string> calls;
};

class RecordingShowKey final : public IShowKey {
public:
  bool ShowKeyInRegedit(const std::string &name) override {
    names.push_back(name);
    return found;
  }
  bool found = true;
  std::vector<std::string> names;
};

// ---- the fixture

class ThreadedMonitorPage : public MemoryTest {
protected:
  void SetUp() override {
    MemoryTest::SetUp();
    InitEnvironment();
    fs.AddDir(SettingsFolder);
    fs.AddDir("C:\\Exports");
    reg.CreateKey(View::V64, kWatchedPath);
    Configure({kWatched}, 300);
    page = std::make_unique<TMonitorPageLogic>(Deps());
    page->OnChanged = [this] { ++changedCalls; };
  }
  void TearDown() override { page.reset(); }

  TMonitorPageDeps Deps() {
    return {.prompter = prompter,
            .timers = timers,
            .commands = commands,
            .showKey = showKey,
            .tray = tray,
            .saveDialog = saveDialog,
            .appWindow = appWindow,
            .mainThread = main,
            .formatTime = [](std::chrono::system_clock::time_point time) {
              return "at " + std::to_string(std::chrono::system_clock::to_time_t(time));
            }};
  }
  // The settings file the page reloads when it starts and at each balloon.
  void Configure(const std::vector<std::string> &keys, int prompt) {
    Settings().MonitoredKeys = keys;
    Settings().MonitorPrompt = prompt;
    ASSERT_TRUE(SaveSettings());
  }
  // Pumps the main thread until the condition holds (or five seconds).
  bool PumpUntil(const std::function<bool()> &done) {
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end)
        return false;
      main.PumpWait(5ms);
    }
    return true;
  }
  void PumpFor(std::chrono::milliseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end)
      main.PumpWait(5ms);
  }
  void SetValue(const std::string &name, const std::string &text) {
    reg.SetString(View::V64, kWatchedPath, name, text);
  }
  // Values created one after another, each listed before the next.
  void CreateValues(int from, int to) {
    for (int i = from; i < to; ++i) {
      const std::size_t before = page->RowCount();
      SetValue("v" + std::to_string(i), "x");
      ASSERT_TRUE(PumpUntil([&] { return page->RowCount() > before; })) << "value " << i;
    }
  }
  std::vector<std::string> CaptureBalloons() const {
    std::vector<std::string> texts;
    for (const std::string &balloon : tray.balloons)
      if (balloon.rfind(kCaptureBalloonTitle, 0) == 0)
        texts.push_back(balloon);
    return texts;
  }
  static std::string Captured(int n) {
    return std::string(kCaptureBalloonTitle) + "|The Monitor has captured " + std::to_string(n) +
           " events.|" + std::to_string(kCaptureBalloonMs);
  }

  qp::TMainThread main;
  FakePrompter prompter;
  FakeTimers timers;
  FakeCommandQueue commands;
  RecordingShowKey showKey;
  RecordingTray tray;
  ScriptedSaveDialog saveDialog;
  RecordingAppWindow appWindow;
  std::unique_ptr<TMonitorPageLogic> page;
  int changedCalls = 0;
};

// ---------------------------------------------------------------- on and off

TEST_F(ThreadedMonitorPage, CountersForNoneOneAndManyWatchPoints) {
  EXPECT_EQ(page->ChangeCounter(), "Monitoring: OFF");
  EXPECT_EQ(page->WatchPointCounter(), "");
  EXPECT_TRUE(page->StartShown());

  page->Start();
  ASSERT_TRUE(page->Running());
  EXPECT_EQ(page->ChangeCounter(), "Monitoring: 0 changes");
  EXPECT_EQ(page->WatchPointCounter(), "1 Active Watch Point");
  EXPECT_TRUE(page->StopShown());
  EXPECT_FALSE(page->StartShown());
  EXPECT_EQ(tray.calls, (std::vector<std::string>{"show monitoring"}));

  page->Stop();
  EXPECT_FALSE(page->Running());
  EXPECT_EQ(page->WatchPointCounter(), "") << "no watch points while off";
  EXPECT_EQ(page->ChangeCounter(), "Monitoring: 0 changes") << "the last count stays";
  EXPECT_EQ(tray.calls, (std::vector<std::string>{"show monitoring", "show idle", "hide"}));

  Configure({kWatched, "HKEY_LOCAL_MACHINE\\Software\\A", "HKCU\\Software\\B"}, 300);
  page->Start();
  EXPECT_EQ(page->WatchPointCounter(), "3 Active Watch Points") << "the settings are reloaded";
  page->Stop();

  Configure({}, 300);
  page->Start();
  EXPECT_EQ(page->WatchPointCounter(), "0 Active Watch Points");
  page->Stop();
}

TEST_F(ThreadedMonitorPage, TheToggleButtonSwitchesWithTheHourglass) {
  page->ToggleButton();
  EXPECT_TRUE(page->Running());
  page->ToggleButton();
  EXPECT_FALSE(page->Running());
  EXPECT_EQ(appWindow.calls, (std::vector<std::string>{"busy", "idle", "busy", "idle"}));
}

TEST_F(ThreadedMonitorPage, ABadEntryIsAProblemNamingIt) {
  Configure({"NoBackslashHere", kWatched}, 300);
  page->Start();
  ASSERT_TRUE(PumpUntil([&] { return !page->Problems().empty(); }));
  EXPECT_NE(page->Problems().front().find("NoBackslashHere"), std::string::npos)
      << page->Problems().front();
  EXPECT_EQ(page->WatchPointCounter(), "2 Active Watch Points") << "entries of the list";
  SetValue("still", "watched");
  EXPECT_TRUE(PumpUntil([&] { return page->RowCount() == 1; })) << "the good entry works";

  // Switched off and on: the new run reports the entry again, and the list
  // of problems says it once.
  page->Stop();
  page->Start();
  ASSERT_TRUE(PumpUntil([&] { return !page->Problems().empty(); }));
  EXPECT_EQ(page->Problems().size(), 1u);
}

// The model's registry with one fault: opening a key to watch it raises,
// as a failing allocation in the engine's activation would.
class TFailingWatchRegistry final : public test::TForwardingRegistry {
public:
  using TForwardingRegistry::TForwardingRegistry;
  std::atomic<bool> failWatches{false};

  long OpenKey(qp::HKey parent, std::string_view subKey, std::uint32_t sam,
               qp::HKey &out) override {
    if (failWatches && (sam & wc::KeyNotify) != 0)
      throw std::runtime_error("no room for the watch");
    return inner_.OpenKey(parent, subKey, sam, out);
  }
};

using TFailingWatchPlatform = test::TForwardingPlatform<TFailingWatchRegistry>;

TEST_F(ThreadedMonitorPage, AFailedStartShowsTheErrorAndLeavesTheIconAlone) {
  TFailingWatchPlatform failing(platform);
  failing.reg.failWatches = true;
  prompter.answers = {TMsgAnswer::Ok};
  page->Start();
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(prompter.asked[0].text, "no room for the watch");
  EXPECT_EQ(prompter.asked[0].icon, TMsgIcon::Error);
  EXPECT_EQ(prompter.asked[0].buttons, TMsgButtons::Ok);
  EXPECT_FALSE(page->Running());
  EXPECT_TRUE(page->StartShown());
  EXPECT_TRUE(tray.calls.empty()) << "the icon was not touched";
  EXPECT_EQ(page->WatchPointCounter(), "");

  failing.reg.failWatches = false;
  page->Start();
  EXPECT_TRUE(page->Running()) << "a later start works";
  EXPECT_EQ(tray.calls, (std::vector<std::string>{"show monitoring"}));
  page->Stop();
}

// ---------------------------------------------------------------- the list

TEST_F(ThreadedMonitorPage, ChangesAreListedWithTheirTextsAndCounted) {
  page->Start();
  const std::uint64_t version = page->Version();
  const int changed = changedCalls;
  SetValue("", "default data");
  ASSERT_TRUE(PumpUntil([&] { return page->RowCount() == 1; }));
  reg.CreateKey(View::V64, std::string(kWatchedPath) + "\\Sub");
  ASSERT_TRUE(PumpUntil([&] { return page->RowCount() == 2; }));

  const TMonitorRow &value = page->Row(0);
  EXPECT_EQ(value.text.shown, "(Default)");
  EXPECT_EQ(value.text.action, "Value created");
  EXPECT_EQ(value.text.newData, "default data");
  EXPECT_EQ(value.time,
            "at " + std::to_string(std::chrono::system_clock::to_time_t(value.change.time)))
      << "the page's time format";
  EXPECT_EQ(page->Row(1).text.location, "HKCU\\Software\\Watched\\Sub");
  EXPECT_EQ(page->ChangeCounter(), "Monitoring: 2 changes");
  EXPECT_GE(page->Version(), version + 2) << "the view must see each change";
  EXPECT_GE(changedCalls, changed + 2);

  page->Clear();
  EXPECT_EQ(page->RowCount(), 0u);
  EXPECT_EQ(page->ChangeCounter(), "Monitoring: 0 changes");
}

TEST_F(ThreadedMonitorPage, BalloonsAtTheFirstChangeAndEveryPromptStepAcrossRestarts) {
  Configure({kWatched}, 3);
  page->Start();
  CreateValues(0, 7);
  EXPECT_EQ(CaptureBalloons(), (std::vector<std::string>{Captured(1), Captured(3), Captured(6)}));
  EXPECT_EQ(page->NotifyThreshold(), 9);

  // A restart empties the list but keeps counting towards the next balloon.
  page->Stop();
  page->Start();
  EXPECT_EQ(page->RowCount(), 0u) << "the list starts empty";
  EXPECT_EQ(page->ChangeCounter(), "Monitoring: 0 changes");
  CreateValues(7, 15);
  EXPECT_EQ(CaptureBalloons().size(), 3u) << "8 changes of the new run are below 9";
  page->Clear();
  CreateValues(15, 16);
  EXPECT_EQ(CaptureBalloons().size(), 3u) << "clearing does not bring the balloon back";
  CreateValues(16, 17);
  EXPECT_EQ(CaptureBalloons().size(), 3u);
}

TEST_F(ThreadedMonitorPage, ThePromptStepIsReadAtEachBalloonAndANonsenseOneMeans300) {
  Configure({kWatched}, 0);
  page->Start();
  CreateValues(0, 2);
  EXPECT_EQ(CaptureBalloons(), (std::vector<std::string>{Captured(1)}));
  EXPECT_EQ(page->NotifyThreshold(), 300);
}

TEST_F(ThreadedMonitorPage, ThresholdCountsRowsOfTheRunAndTheNextBalloonComesAtItsStep) {
  Configure({kWatched}, 2);
  page->Start();
  CreateValues(0, 1); // balloon 1, next at 2
  page->Stop();
  page->Start();
  CreateValues(1, 2); // one row in the new run: below 2
  EXPECT_EQ(CaptureBalloons().size(), 1u);
  CreateValues(2, 3); // two rows: the balloon
  EXPECT_EQ(CaptureBalloons(), (std::vector<std::string>{Captured(1), Captured(2)}));
}

TEST_F(ThreadedMonitorPage, PausedChangesAreCountedNotListed) {
  page->Start();
  page->SetPaused(true);
  EXPECT_TRUE(page->Paused());
  SetValue("a", "1");
  ASSERT_TRUE(PumpUntil([&] { return page->PausedChanges() == 1; }));
  EXPECT_EQ(page->RowCount(), 0u);
  EXPECT_EQ(page->ChangeCounter(), "Monitoring: 0 changes");
  page->SetPaused(false);
  SetValue("a", "2");
  ASSERT_TRUE(PumpUntil([&] { return page->RowCount() == 1; }));
  EXPECT_EQ(page->Row(0).text.action, "Value changed") << "the snapshot stayed current";
  EXPECT_EQ(page->Row(0).text.oldData, "1");
  EXPECT_EQ(page->PausedChanges(), 1u);
}

TEST_F(ThreadedMonitorPage, NoChangeIsListedAfterStop) {
  page->Start();
  SetValue("early", "x");
  ASSERT_TRUE(PumpUntil([&] { return page->RowCount() == 1; }));
  // Changes whose delivery may already be on its way when the monitor stops.
  for (int i = 0; i < 20; ++i)
    SetValue("late" + std::to_string(i), "x");
  std::this_thread::sleep_for(150ms);
  page->Stop();
  const std::size_t listed = page->RowCount();
  SetValue("after", "x");
  PumpFor(400ms);
  EXPECT_EQ(page->RowCount(), listed);
  for (std::size_t i = 0; i < page->RowCount(); ++i)
    EXPECT_NE(page->Row(i).text.name, "after");
  EXPECT_EQ(page->ChangeCounter(), "Monitoring: " + std::to_string(listed) + " changes");
}

TEST_F(ThreadedMonitorPage, BeyondTheCapTheOldestRowsAreDroppedAndStillCounted) {
  TMonitorPageDeps deps = Deps();
  deps.maxRows = 5;
  page = std::make_unique<TMonitorPageLogic>(deps);
  page->Start();
  CreateValues(0, 5);
  EXPECT_EQ(page->DroppedRows(), 0u) << "the cap itself is kept whole";
  for (int i = 5; i < 7; ++i) {
    SetValue("v" + std::to_string(i), "x");
    ASSERT_TRUE(PumpUntil([&] { return page->DroppedRows() == static_cast<std::size_t>(i - 4); }));
  }
  ASSERT_EQ(page->RowCount(), 5u);
  EXPECT_EQ(page->Row(0).text.name, "v2") << "the two oldest went";
  EXPECT_EQ(page->Row(4).text.name, "v6");
  EXPECT_EQ(page->ChangeCounter(), "Monitoring: 7 changes") << "dropped rows are still counted";

  page->Clear();
  EXPECT_EQ(page->DroppedRows(), 0u);
  EXPECT_EQ(page->ChangeCounter(), "Monitoring: 0 changes");
}

// ---------------------------------------------------------------- Show Key

TEST_F(ThreadedMonitorPage, ShowKeyAsksFirstAndNamesTheKeyAndValue) {
  page->Start();
  SetValue("Tool", "x");
  ASSERT_TRUE(PumpUntil([&] { return page->RowCount() == 1; }));
  reg.CreateKey(View::V64, std::string(kWatchedPath) + "\\Sub");
  ASSERT_TRUE(PumpUntil([&] { return page->RowCount() == 2; }));
  EXPECT_FALSE(page->ShowKeyEnabled(-1));
  EXPECT_TRUE(page->ShowKeyEnabled(0));

  prompter.answers = {TMsgAnswer::Cancel};
  page->ShowKey(0);
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(prompter.asked[0].text, kShowKeyCaution);
  EXPECT_EQ(prompter.asked[0].buttons, TMsgButtons::OkCancel);
  EXPECT_EQ(prompter.asked[0].icon, TMsgIcon::Error);
  EXPECT_TRUE(showKey.names.empty()) << "cancelled";

  prompter.answers = {TMsgAnswer::Ok, TMsgAnswer::Ok};
  page->ShowKey(-1);
  EXPECT_EQ(prompter.Texts().back(), "Please select an item from the list");
  EXPECT_EQ(prompter.asked.back().icon, TMsgIcon::Error);
  EXPECT_TRUE(showKey.names.empty());

  prompter.answers = {TMsgAnswer::Ok, TMsgAnswer::Ok};
  page->ShowKey(0);
  page->ShowKey(1);
  ASSERT_EQ(showKey.names.size(), 2u);
  TShowKeyName parsed;
  ASSERT_TRUE(ParseShowKeyName(showKey.names[0], parsed)) << showKey.names[0];
  EXPECT_EQ(parsed.root, wc::HkeyCurrentUser);
  EXPECT_EQ(parsed.keyPath, "Software\\Watched");
  EXPECT_TRUE(parsed.hasValue);
  EXPECT_EQ(parsed.valueName, "Tool");
  ASSERT_TRUE(ParseShowKeyName(showKey.names[1], parsed)) << showKey.names[1];
  EXPECT_EQ(parsed.keyPath, "Software\\Watched\\Sub");
  EXPECT_FALSE(parsed.hasValue);

  showKey.found = false;
  prompter.answers = {TMsgAnswer::Ok, TMsgAnswer::Ok};
  page->ShowKey(1);
  EXPECT_EQ(prompter.Texts().back(), "Registry key does not exist.");
  EXPECT_EQ(prompter.asked.back().icon, TMsgIcon::Error);
}

// ---------------------------------------------------------------- confirm off

TEST_F(ThreadedMonitorPage, ConfirmOffAsksOnlyWhileMonitoring) {
  EXPECT_TRUE(page->ConfirmOff());
  EXPECT_TRUE(prompter.asked.empty());

  page->Start();
  prompter.answers = {TMsgAnswer::No};
  EXPECT_FALSE(page->ConfirmOff());
  EXPECT_TRUE(page->Running());
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(prompter.asked[0].text, kConfirmMonitorOffText);
  EXPECT_EQ(prompter.asked[0].buttons, TMsgButtons::YesNo);
  EXPECT_EQ(prompter.asked[0].icon, TMsgIcon::Question);

  prompter.answers = {TMsgAnswer::Yes};
  EXPECT_TRUE(page->ConfirmOff());
  EXPECT_FALSE(page->Running());
  EXPECT_FALSE(tray.shown) << "switched off as the Stop button does";
}

// ---------------------------------------------------------------- the tray

TEST_F(ThreadedMonitorPage, MinimiseToTrayNeedsTheIcon) {
  tray.accepts = false;
  EXPECT_FALSE(page->MinimizeToTray());
  EXPECT_TRUE(appWindow.calls.empty()) << "the window keeps its taskbar button";
  EXPECT_TRUE(tray.balloons.empty());
  EXPECT_FALSE(timers.Running(tiMonitorBalloon));

  tray.accepts = true;
  EXPECT_TRUE(page->MinimizeToTray());
  EXPECT_EQ(tray.calls.back(), "show idle");
  EXPECT_EQ(appWindow.calls, (std::vector<std::string>{"hide to tray"}));
  EXPECT_EQ(tray.balloons,
            (std::vector<std::string>{"Quenlo|" + std::string(kTrayNotMonitoringText) + "|" +
                                      std::to_string(kTrayBalloonMs)}));
  EXPECT_TRUE(timers.Running(tiMonitorBalloon));
  EXPECT_EQ(timers.Interval(tiMonitorBalloon), kBalloonTimerMs);

  page->OnTimer(tiDelayedStart);
  EXPECT_EQ(tray.balloonsHidden, 0) << "another timer";
  page->OnTimer(tiMonitorBalloon);
  EXPECT_EQ(tray.balloonsHidden, 1);
  EXPECT_FALSE(timers.Running(tiMonitorBalloon));

  page->Start();
  tray.balloons.clear();
  EXPECT_TRUE(page->MinimizeToTray());
  EXPECT_EQ(tray.calls.back(), "show monitoring");
  ASSERT_EQ(tray.balloons.size(), 1u);
  EXPECT_EQ(tray.balloons[0],
            "Quenlo|" + std::string(kTrayMonitoringText) + "|" + std::to_string(kTrayBalloonMs));
}

TEST_F(ThreadedMonitorPage, ARestartedShellGetsTheIconBackWhenItShouldBeThere) {
  page->TaskbarCreated();
  EXPECT_TRUE(tray.calls.empty()) << "neither monitoring nor hidden";

  ASSERT_TRUE(page->MinimizeToTray());
  tray.calls.clear();
  page->TaskbarCreated();
  EXPECT_EQ(tray.calls, (std::vector<std::string>{"show idle"})) << "hidden to the tray";

  page->TrayOpen();
  tray.calls.clear();
  page->TaskbarCreated();
  EXPECT_TRUE(tray.calls.empty()) << "opened again, not monitoring";

  page->Start();
  tray.calls.clear();
  page->TaskbarCreated();
  EXPECT_EQ(tray.calls, (std::vector<std::string>{"show monitoring"}));

  page->SetPageShown(false);
  EXPECT_FALSE(tray.shown);
}

TEST_F(ThreadedMonitorPage, TrayMenuAndSettingsPostTheirCommands) {
  page->TrayOpen();
  page->TrayClose();
  page->OpenSettings();
  EXPECT_EQ(commands.posted, (std::vector<std::pair<int, std::intptr_t>>{
                                 {17, 0}, {16, 0}, {560, kSettingsMonitorTab}}));
}

// ---------------------------------------------------------------- exports

class ThreadedMonitorExport : public ThreadedMonitorPage {
protected:
  void ListTwoChanges() {
    page->Start();
    SetValue("Edited", "old");
    ASSERT_TRUE(PumpUntil([&] { return page->RowCount() == 1; }));
    SetValue("Edited", "new");
    ASSERT_TRUE(PumpUntil([&] { return page->RowCount() == 2; }));
  }
  std::string Written() const { return fs.Content(saveDialog.path).value_or("<missing>"); }
};

TEST_F(ThreadedMonitorExport, AnEmptyListSaysSoAndWritesNothing) {
  prompter.answers = {TMsgAnswer::Ok};
  page->Export(meCsv);
  EXPECT_TRUE(saveDialog.asked.empty()) << "nothing to ask a path for";
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_FALSE(fs.Exists(saveDialog.path));
}

TEST_F(ThreadedMonitorExport, CsvAndJsonAreWrittenAndReported) {
  ListTwoChanges();
  saveDialog.path = "C:\\Exports\\changes.csv";
  prompter.answers = {TMsgAnswer::Ok};
  page->Export(meCsv);
  EXPECT_EQ(saveDialog.asked, (std::vector<TMonitorExport>{meCsv}));
  const std::string csv = Written();
  EXPECT_EQ(csv.rfind("Time,Subkey / Value,Action,Registry Location,View,Type,Old data,New "
                      "data\r\n",
                      0),
            0u)
      << csv;
  EXPECT_NE(csv.find(",Edited,Value changed,HKCU\\Software\\Watched,,REG_SZ,old,new\r\n"),
            std::string::npos)
      << csv;
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_NE(prompter.asked[0].text.find("2 changes saved to C:\\Exports\\changes.csv"),
            std::string::npos)
      << prompter.asked[0].text;
  EXPECT_EQ(prompter.asked[0].icon, TMsgIcon::Information);
  EXPECT_FALSE(HasTemporaryFile(fs.List("C:\\Exports")));

  saveDialog.path = "C:\\Exports\\changes.json";
  prompter.answers = {TMsgAnswer::Ok};
  page->Export(meJson);
  const std::string json = Written();
  EXPECT_EQ(json.front(), '[');
  EXPECT_NE(json.find("\"action\":\"keCreateValue\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"old\":\"old\",\"new\":\"new\""), std::string::npos) << json;
  EXPECT_NE(prompter.Texts().back().find("2 changes saved to C:\\Exports\\changes.json"),
            std::string::npos);
}

TEST_F(ThreadedMonitorExport, AFailedWriteIsReportedAndACancelledDialogDoesNothing) {
  ListTwoChanges();
  saveDialog.answers = false;
  page->Export(meJson);
  EXPECT_TRUE(prompter.asked.empty());
  EXPECT_FALSE(fs.Exists(saveDialog.path));

  saveDialog.answers = true;
  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::Write, "Exports", wc::ErrorAccessDenied, 5);
  prompter.answers = {TMsgAnswer::Ok};
  page->Export(meCsv);
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(prompter.asked[0].text, "WriteFile: " + SysErrorMessage(wc::ErrorAccessDenied));
  EXPECT_EQ(prompter.asked[0].icon, TMsgIcon::Error);
  EXPECT_FALSE(fs.Exists(saveDialog.path));
}

TEST_F(ThreadedMonitorExport, TheUndoFilePutsTheFirstStateBackAndSaysWhatItLeftOut) {
  ListTwoChanges();
  reg.CreateKey(View::V64, std::string(kWatchedPath) + "\\Sub");
  ASSERT_TRUE(PumpUntil([&] { return page->RowCount() == 3; }));
  saveDialog.path = "C:\\Exports\\undo.reg";
  prompter.answers = {TMsgAnswer::Ok};
  page->Export(meUndoFile);
  ASSERT_EQ(prompter.asked.size(), 1u);
  const std::string message = prompter.asked[0].text;
  EXPECT_NE(message.find("C:\\Exports\\undo.reg"), std::string::npos) << message;
  EXPECT_NE(message.find("1 value"), std::string::npos) << message;
  EXPECT_NE(message.find("Subkeys created or deleted are left out of it"), std::string::npos)
      << message;

  // The value was created during the run: putting the file back deletes it.
  TRegFile file;
  std::string error;
  ASSERT_TRUE(ReadRegFile(saveDialog.path, file, error)) << error;
  ASSERT_TRUE(ApplyRegFile(file, rv64, error)) << error;
  EXPECT_FALSE(reg.ValueExists(View::V64, kWatchedPath, "Edited"));
  EXPECT_TRUE(reg.KeyExists(View::V64, std::string(kWatchedPath) + "\\Sub"));
}

TEST_F(ThreadedMonitorExport, AnUndoFileWithNothingToPutBackIsNotWritten) {
  page->Start();
  reg.CreateKey(View::V64, std::string(kWatchedPath) + "\\Sub");
  ASSERT_TRUE(PumpUntil([&] { return page->RowCount() == 1; }));
  saveDialog.path = "C:\\Exports\\undo.reg";
  prompter.answers = {TMsgAnswer::Ok};
  page->Export(meUndoFile);
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_FALSE(fs.Exists(saveDialog.path));
}

} // namespace
} // namespace quenlo::test
