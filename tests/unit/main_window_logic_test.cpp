// The main window's logic on the in-memory platform: pages and commands, the
// scan with its prompts, the repair run with its restore point and full
// backup, what may not overlap, the session's end and the automatic scan.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "PageFakes.h"
#include "TestPlatform.h"
#include "app/pages/uMainWindowLogic.h"
#include "app/uEnvironment.h"
#include "app/uSettings.h"

namespace quenlo::test {
namespace {

using qp::mem::View;

// ---- fakes of the frame and the pages

class FakeFrame final : public IMainFrame {
public:
  void ShowPage(TPage page) override { pages.push_back(page); }
  void EnableHeader(bool enabled) override { header = enabled; }
  void SelectHeaderButton(THeaderButton button) override { selected = button; }
  void EnableWindow(bool enabled) override { window = enabled; }
  void SetBusyCursor(bool busy) override { cursorBusy = busy; }
  void ShowNormal() override {
    ++shown;
    hidden = false;
  }
  void Hide() override { hidden = true; }
  bool HiddenOrMinimised() const override { return hidden; }
  bool ModalWindowOpen() const override { return false; }
  void ShowTrayIcon(const std::string &hint) override { trayHint = hint; }
  void HideTrayIcon() override { trayHint.clear(); }
  void Repaint() override {}
  void ShowAbout() override {}
  void Quit() override { ++quits; }

  TPage Current() const { return pages.empty() ? pgNone : pages.back(); }

  std::vector<TPage> pages;
  bool header = true;
  bool window = true;
  bool cursorBusy = false;
  bool hidden = false;
  int shown = 0;
  int quits = 0;
  THeaderButton selected = hbStatus;
  std::string trayHint;
};

class FakeScanPage final : public IScanPageControl {
public:
  TCategorySet CheckedCategories() const override { return checked; }
  void StoreSwitches() override { ++stored; }
  void SetScanningLook(bool on) override { scanning = on; }
  void SetProgress(int percent, const std::string &) override { progress = percent; }
  void SetCategoryLine(TErrorCategory category, const TScanCategoryLine &line) override {
    lines[category] = line;
  }
  void SetCheckAll(bool on) override { checkAll = on; }

  TCategorySet checked = TCategorySet::Of(ecTypeLib);
  int stored = 0;
  bool scanning = false;
  int progress = -1;
  bool checkAll = false;
  std::map<TErrorCategory, TScanCategoryLine> lines;
};

class FakeResultsPage final : public IResultsPageControl {
public:
  bool Exists() const override { return exists; }
  void ShowResults() override { ++shownResults; }
  void Detach() override { ++detached; }
  void SetRepairingLook(bool on) override { repairingLook = on; }
  void ShowRestorePointLabel(bool shown) override { label = shown; }
  TRepairPageResult RepairSelected() override {
    ++repairs;
    if (during)
      during();
    return result;
  }
  bool WriteFailureList() override {
    ++failureListWrites;
    return failureListWritten;
  }

  bool exists = true;
  int shownResults = 0;
  int detached = 0;
  bool repairingLook = false;
  bool label = false;
  int repairs = 0;
  int failureListWrites = 0;
  bool failureListWritten = false;
  TRepairPageResult result;
  std::function<void()> during; // runs inside the repair loop
};

class FakeReportPage final : public IReportPageControl {
public:
  void ShowReport(int t, int r,
                  const std::array<service::TCategoryRepairSummary, CategoryCount> &rows) override {
    ++reports;
    total = t;
    repaired = r;
    typeLibRow = rows[ecTypeLib];
  }
  int reports = 0, total = -1, repaired = -1;
  service::TCategoryRepairSummary typeLibRow;
};

class FakeStatusPage final : public IStatusPageControl {
public:
  void Refresh() override { ++refreshed; }
  int refreshed = 0;
};

class FakeTrayNotice final : public ITrayNotice {
public:
  bool Show(int problems) override {
    shownWith.push_back(problems);
    if (during)
      during();
    return fix;
  }
  bool fix = false;
  std::vector<int> shownWith;
  std::function<void()> during;
};

class FakeMonitor final : public IMonitorControl {
public:
  bool PageExists() const override { return exists; }
  bool Running() const override { return running; }
  void Start() override {
    running = true;
    ++starts;
  }
  void Stop() override {
    running = false;
    ++stops;
  }
  bool ConfirmOff() override { return confirmOff; }
  bool MinimizeToTray() override {
    ++trayMinimises;
    runningWhenMinimised = running;
    return trayWorks;
  }
  bool exists = true, running = false, confirmOff = true, trayWorks = true;
  bool runningWhenMinimised = false;
  int starts = 0, stops = 0, trayMinimises = 0;
};

class FakeFullBackup final : public IFullBackup {
public:
  bool RunSilent(std::string &errorText) override {
    ++runs;
    errorText = error;
    return ok;
  }
  int runs = 0;
  bool ok = true;
  std::string error;
};

class FakeUpdateCheck final : public IUpdateCheck {
public:
  void StartAutomatic() override { ++automatic; }
  void StartManual() override { ++manual; }
  int automatic = 0, manual = 0;
};

class FakeHistoryPage final : public IHistoryPage {
public:
  bool PageExists() const override { return exists; }
  bool Scanning() const override { return scanning; }
  void Stop() override {
    scanning = false;
    ++stops;
  }
  void StoreState() override { ++stored; }
  bool exists = false, scanning = false;
  int stops = 0, stored = 0;
};

class FakeRestorePage final : public IRestorePageControl {
public:
  bool Exists() const override { return exists; }
  void Reload() override { ++reloads; }
  bool exists = true;
  int reloads = 0;
};

class FakeSettingsPage final : public ISettingsPageControl {
public:
  void ShowMonitorTab() override { ++monitorTab; }
  bool MonitorTabShown() const override { return monitorTabShown; }
  int monitorTab = 0;
  bool monitorTabShown = false;
};

class FakeHelpViewer final : public IHelpViewer {
public:
  bool ShowTopic(const std::string &chmFile, const std::string &topic) override {
    shown.push_back(chmFile + "::/" + topic);
    return starts;
  }
  bool starts = true;
  std::vector<std::string> shown;
};

class FakeUpdateInstall final : public IUpdateInstall {
public:
  TUpdateOffer OfferAndDownload() override {
    ++offers;
    return offer;
  }
  bool StartInstallation(std::string &errorText) override {
    ++installs;
    errorText = "agent missing";
    return installs_ok;
  }
  TUpdateOffer offer = TUpdateOffer::Declined;
  bool installs_ok = true;
  int offers = 0, installs = 0;
};

class FakeWait final : public IWait {
public:
  void Wait(std::uint32_t ms) override { waits.push_back(ms); }
  std::vector<std::uint32_t> waits;
};

// ---- the fixture

constexpr const char *kRunMarker = "HKCU\\Software\\Brantel\\Quenlo";

class MainWindowTest : public MemoryTest {
protected:
  void SetUp() override {
    MemoryTest::SetUp();
    InitEnvironment();
    WindowsVersion = 9; // Windows 7
    IsAdmin = true;
    commands.run = [this](int command, std::intptr_t lParam) {
      return logic->HandleCommand(command, lParam);
    };
    SetChecks();
    // Complete statistics, so that a partial scan does not ask for a full one.
    std::string health;
    for (int c = 0; c < CategoryCount; ++c)
      health += (c ? ";" : "") + std::string("10,0");
    Settings().healthstatus = health;
    ASSERT_TRUE(SaveSettings());
    logic = std::make_unique<TMainWindowLogic>(Deps(), argument);
  }
  void TearDown() override {
    logic.reset();
    WindowsVersion = 9;
    IsAdmin = true;
  }
  TMainWindowDeps Deps() {
    return {.scanner = scanner,
            .frame = frame,
            .prompter = prompter,
            .clock = clock,
            .timers = timers,
            .commands = commands,
            .restorePoint = restorePoint,
            .services = services,
            .shell = shell,
            .help = help,
            .probe = probe,
            .monitor = monitor,
            .fullBackup = fullBackup,
            .updateCheck = updateCheck,
            .historyPage = historyPage,
            .scanPage = scanPage,
            .resultsPage = resultsPage,
            .reportPage = reportPage,
            .statusPage = statusPage,
            .trayNotice = trayNotice,
            .restorePage = restorePage,
            .settingsPage = settingsPage,
            .updateInstall = updateInstall,
            .wait = wait,
            .mainThread = main};
  }
  // A new logic for a start with this first argument.
  void Restart(const std::string &first, bool firstRun = false) {
    if (!firstRun)
      reg.SetDword(View::V64, kRunMarker, "ProgramWasRun", 1);
    logic = std::make_unique<TMainWindowLogic>(Deps(), first);
    logic->OnCreate();
  }
  // Type Library finds one problem (a key to delete); CLSIDs spins until
  // stopped while `spin` is set.
  void SetChecks() {
    reg.CreateKey(View::V32, "HKLM\\Software\\Lib");
    TCategoryChecks checks;
    checks[ecTypeLib] = [](TScanThread &t, TRegistryAccess &a, bool counting) {
      if (counting || a.IsView64())
        return;
      t.CountTest(true);
      t.AddError(wc::HkeyLocalMachine, rv32,
                 {.data = "",
                  .keyPath = "Software\\Lib",
                  .kind = ekInvalidCharsetAlias,
                  .action = raDeleteKey,
                  .testId = 1});
    };
    checks[ecCLSIDs] = [this](TScanThread &t, TRegistryAccess &, bool counting) {
      if (counting)
        return; // spins in the scanning pass, after Type Library's finding
      spinning = true;
      while (spin && !t.Terminated())
        t.ReportProgress("spin");
    };
    scanner.SetChecks(checks);
  }
  void PumpUntilScanEnds() {
    for (int i = 0; i < 2000 && scanner.IsScanning(); ++i)
      main.PumpWait(std::chrono::milliseconds(5));
    ASSERT_FALSE(scanner.IsScanning());
    main.Pump(); // what the scan's end queued
  }
  // A scan that completes with the Type Library problem.
  void CompletedScan() {
    ASSERT_TRUE(logic->BeginScan());
    PumpUntilScanEnds();
    ASSERT_EQ(scanner.ErrorCount(), 1);
  }
  void StartSpinningScan() {
    spin = true;
    spinning = false;
    scanPage.checked = TCategorySet::Of(ecCLSIDs);
    ASSERT_TRUE(logic->BeginScan());
    while (!spinning)
      main.PumpWait(std::chrono::milliseconds(2));
  }
  void Minutes(int minutes) {
    clock.now = AddDays(clock.now, 0);
    const int total = clock.now.hour * 60 + clock.now.minute + minutes;
    clock.now = AddDays(clock.now, total / (24 * 60));
    clock.now.hour = (total % (24 * 60)) / 60;
    clock.now.minute = total % 60;
  }
  std::string SavedSetting(const std::string &key) {
    std::string value;
    EXPECT_TRUE(GetSettingText("settings", key, value));
    return value;
  }
  std::string SettingsFileText() { return fs.Content(SettingsFileName()).value_or("<missing>"); }
  void AnswerAll(std::initializer_list<TMsgAnswer> answers) {
    for (TMsgAnswer a : answers)
      prompter.answers.push_back(a);
  }

  qp::TMainThread main;
  TRegScanner scanner{main};
  FakeFrame frame;
  FakePrompter prompter;
  FakeClock clock;
  FakeTimers timers;
  FakeCommandQueue commands;
  FakeRestorePoint restorePoint;
  FakeSystemServices services;
  FakeShellOpen shell;
  FakeHelpViewer help;
  FakeConnectionProbe probe;
  FakeMonitor monitor;
  FakeFullBackup fullBackup;
  FakeUpdateCheck updateCheck;
  FakeHistoryPage historyPage;
  FakeScanPage scanPage;
  FakeResultsPage resultsPage;
  FakeReportPage reportPage;
  FakeStatusPage statusPage;
  FakeTrayNotice trayNotice;
  FakeRestorePage restorePage;
  FakeSettingsPage settingsPage;
  FakeUpdateInstall updateInstall;
  FakeWait wait;
  std::string argument;
  std::unique_ptr<TMainWindowLogic> logic;
  std::atomic<bool> spin{false};
  std::atomic<bool> spinning{false};
};

// ---------------------------------------------------------------- start

TEST_F(MainWindowTest, CreationShowsTheStatusPageWithTheSavedFigures) {
  Settings().last_scan = "202612080930";
  std::string health;
  for (int c = 0; c < CategoryCount; ++c)
    health += (c ? ";" : "") + std::string(c == ecTypeLib ? "10,5" : "10,0");
  Settings().healthstatus = health;
  ASSERT_TRUE(SaveSettings());
  Restart("");
  EXPECT_EQ(frame.pages, (std::vector<TPage>{pgStatus})) << "the status page, once";
  EXPECT_EQ(logic->CurrentPage(), pgStatus);
  EXPECT_GE(statusPage.refreshed, 1);
  EXPECT_EQ(scanner.UndoFolder(), SettingsPath("Undo") + "\\");
  EXPECT_EQ(scanner.HealthPercent(), 50);
  EXPECT_EQ(logic->LastScanTime(),
            EncodeDateTime({.year = 2026, .month = 12, .day = 8, .hour = 9, .minute = 30}));
  EXPECT_EQ(commands.posted.at(0).first, mcStartUp);
  EXPECT_EQ(updateCheck.automatic, 1) << "command 0 ran: the update check was due";
  EXPECT_FALSE(logic->FirstRun());
  EXPECT_FALSE(logic->FullScanRequired());
  EXPECT_FALSE(timers.Running(tiDelayedStart));
}

TEST_F(MainWindowTest, TheStartArgumentArmsTheWindow) {
  Restart("autoscan");
  EXPECT_TRUE(timers.Running(tiDelayedStart));
  EXPECT_EQ(timers.Interval(tiDelayedStart), kFirstAutoScanDelayMs);
  EXPECT_EQ(frame.shown, 0) << "an automatic start stays hidden";

  timers.timers.clear();
  Restart("startscan");
  EXPECT_TRUE(logic->FullScanRequired());
  EXPECT_FALSE(timers.Running(tiDelayedStart));

  Restart("Monitor");
  commands.ProcessPending();
  EXPECT_EQ(monitor.starts, 0) << "not the switch: command 3 does nothing";

  frame = FakeFrame{};
  Restart("monitor");
  commands.ProcessPending();
  EXPECT_EQ(frame.Current(), pgMonitor);
  EXPECT_EQ(frame.selected, hbMonitor);
  EXPECT_EQ(monitor.starts, 1);
  EXPECT_EQ(monitor.trayMinimises, 1);
  EXPECT_TRUE(monitor.runningWhenMinimised) << "the balloon says it is monitoring";
  EXPECT_EQ(frame.shown, 0) << "hidden to the tray icon";

  // Without a tray icon the window shows, so that it can still be reached.
  frame = FakeFrame{};
  monitor = FakeMonitor{};
  monitor.trayWorks = false;
  Restart("monitor");
  commands.ProcessPending();
  EXPECT_EQ(monitor.starts, 1);
  EXPECT_EQ(monitor.trayMinimises, 1);
  EXPECT_EQ(frame.shown, 1);
  EXPECT_FALSE(frame.hidden);
}

TEST_F(MainWindowTest, AFirstRunStartedAutomaticallyShowsTheWindowAndLocksTheFeatures) {
  for (const char *first : {"autoscan", "monitor"}) {
    reg.DeleteTree(View::V64, kRunMarker);
    frame = FakeFrame{};
    frame.hidden = true;
    timers.timers.clear();
    Restart(first, true);
    EXPECT_TRUE(logic->FirstRun()) << first;
    EXPECT_TRUE(logic->FullScanRequired()) << first;
    EXPECT_EQ(frame.shown, 1) << first << ": nothing would ever open it";
    EXPECT_FALSE(timers.Running(tiDelayedStart)) << first;
  }
}

// ---------------------------------------------------------------- pages

TEST_F(MainWindowTest, PagesCommandsAndTheHeader) {
  Restart("");
  logic->HandleCommand(mcShowScanOrResults);
  EXPECT_EQ(frame.Current(), pgScan) << "no results held";
  logic->HandleCommand(mcShowStatus);
  EXPECT_EQ(scanPage.stored, 1) << "leaving the scan page stores its switches";
  CompletedScan();
  EXPECT_EQ(frame.Current(), pgResults);
  logic->HandleCommand(mcShowStatus);
  logic->HandleCommand(mcShowScanOrResults);
  EXPECT_EQ(frame.Current(), pgResults) << "results held";
  logic->ShowPage(pgStatus);
  logic->ShowPage(pgScan);
  EXPECT_EQ(frame.Current(), pgStatus) << "the scan page with results held asks for 503";
  commands.ProcessPending();
  EXPECT_EQ(frame.Current(), pgResults);
  logic->HandleCommand(mcShowScanKeepResults);
  EXPECT_EQ(frame.Current(), pgScan);
  EXPECT_TRUE(scanner.ResultsAvailable());

  logic->HandleCommand(mcEnableWindow, 2); // header off, window off
  EXPECT_FALSE(frame.header);
  EXPECT_FALSE(frame.window);
  logic->HandleCommand(mcEnableWindow, 7);
  EXPECT_TRUE(frame.header);
  EXPECT_TRUE(frame.window);
  logic->HandleCommand(mcEnableWindow, 0); // header off, window untouched
  EXPECT_FALSE(frame.header);
  EXPECT_TRUE(frame.window);

  monitor.exists = false;
  EXPECT_EQ(logic->HandleCommand(mcConfirmMonitorOff), 1) << "no monitor page";
  monitor.exists = true;
  monitor.confirmOff = false;
  EXPECT_EQ(logic->HandleCommand(mcConfirmMonitorOff), 0);

  logic->HandleCommand(mcShowSettings, 1);
  EXPECT_EQ(frame.Current(), pgSettings);
  EXPECT_EQ(frame.selected, hbSettings);
  EXPECT_EQ(settingsPage.monitorTab, 1);

  const auto pagesBefore = frame.pages;
  for (int unknown : {4, 7, 9, 24, 99, 101, 504, 616, -1, 100000})
    EXPECT_EQ(logic->HandleCommand(unknown, 1), 0);
  EXPECT_EQ(frame.pages, pagesBefore);
  EXPECT_TRUE(prompter.asked.empty());
}

TEST_F(MainWindowTest, FeaturePagesStayLockedUntilAFullScanCompleted) {
  Restart("startscan");
  logic->HeaderButtonClicked(hbScan);
  EXPECT_EQ(frame.Current(), pgScan) << "the scan page is open";
  for (int button : {hbOptimizer, hbMonitor, hbRestore, hbHistory, hbSettings}) {
    prompter.answers.push_back(TMsgAnswer::Ok);
    logic->HeaderButtonClicked(button);
  }
  prompter.answers.push_back(TMsgAnswer::Ok);
  logic->HandleCommand(mcShowOptimizer); // a page's link is locked alike
  ASSERT_EQ(prompter.asked.size(), 6u);
  EXPECT_EQ(prompter.asked[0].text,
            "Registry scan not completed.  In order to access this feature a full registry scan "
            "must be completed.  Please click \"Scan Now\" to start the registry scan.");
  EXPECT_EQ(prompter.asked[0].icon, TMsgIcon::Information);
  EXPECT_NE(frame.Current(), pgOptimizer);
  commands.ProcessPending();
  EXPECT_TRUE(scanPage.checkAll);
  EXPECT_EQ(frame.Current(), pgStatus);
  EXPECT_EQ(frame.selected, hbStatus);

  CompletedScan(); // Type Library only: not full
  EXPECT_TRUE(logic->FullScanRequired());
  logic->HandleCommand(mcClearResults);
  scanPage.checked = AllCategories;
  CompletedScan();
  EXPECT_FALSE(logic->FullScanRequired());
  logic->HeaderButtonClicked(hbOptimizer);
  EXPECT_EQ(frame.Current(), pgOptimizer);
}

// ---------------------------------------------------------------- scans

TEST_F(MainWindowTest, ScanPromptsWithTheirExactTexts) {
  Settings().healthstatus.clear();
  ASSERT_TRUE(SaveSettings());
  Restart("");
  monitor.running = true;
  AnswerAll({TMsgAnswer::Cancel});
  EXPECT_FALSE(logic->BeginScan());
  EXPECT_EQ(prompter.asked.at(0).text,
            "Quenlo detected that Registry Monitor is ON. It is recommended that Registry Monitor "
            "is truned OFF while scanning registry.\r\rDo you want to temporary turn OFF Registry "
            "Monitor?");
  EXPECT_EQ(prompter.asked.at(0).buttons, TMsgButtons::YesNoCancel);
  EXPECT_EQ(prompter.asked.at(0).icon, TMsgIcon::Question);
  EXPECT_TRUE(monitor.running);
  EXPECT_FALSE(logic->Busy());

  // Yes to the monitor, then nothing to scan: every way out puts the
  // monitor, the header and the busy state back.
  scanPage.checked = {};
  AnswerAll({TMsgAnswer::Yes, TMsgAnswer::No, TMsgAnswer::Ok});
  EXPECT_FALSE(logic->BeginScan());
  EXPECT_EQ(prompter.asked.at(2).text,
            "Quenlo requires at least one full registry scan in order to calculate health "
            "status.\r\rDo you want to perform full registry scan now?");
  EXPECT_EQ(prompter.asked.at(2).buttons, TMsgButtons::YesNo);
  EXPECT_EQ(prompter.asked.at(3).text, "Please select at least one option.");
  EXPECT_EQ(prompter.asked.at(3).icon, TMsgIcon::Error);
  EXPECT_TRUE(monitor.running);
  EXPECT_TRUE(frame.header);
  EXPECT_FALSE(logic->Busy());
  EXPECT_FALSE(scanner.IsScanning());

  // No health figure yet: Yes scans every category this once.
  monitor.running = false;
  scanPage.checked = TCategorySet::Of(ecTypeLib);
  AnswerAll({TMsgAnswer::Yes});
  ASSERT_TRUE(logic->BeginScan());
  EXPECT_EQ(scanner.ScanCategories(), AllCategories);
  EXPECT_TRUE(logic->Busy());
  EXPECT_FALSE(frame.header);
  EXPECT_TRUE(scanPage.scanning);
  EXPECT_GE(resultsPage.detached, 1) << "the results page lets go of the list first";
  PumpUntilScanEnds();
  EXPECT_FALSE(logic->Busy());
  EXPECT_TRUE(frame.header);
  EXPECT_FALSE(scanPage.scanning);
  EXPECT_TRUE(scanPage.lines.at(ecTypeLib).finished);
  EXPECT_EQ(scanPage.lines.at(ecTypeLib).found, 1);
}

TEST_F(MainWindowTest, MonitorAnsweredNoIsNeverTouched) {
  Restart("");
  scanPage.checked = AllCategories;
  monitor.running = true;
  AnswerAll({TMsgAnswer::No});
  CompletedScan();
  EXPECT_EQ(monitor.stops, 0);
  EXPECT_EQ(monitor.starts, 0);
  EXPECT_FALSE(logic->MonitorPausedByUs());
}

TEST_F(MainWindowTest, MonitorAnsweredYesStopsForTheScanAndTheRepairWithoutAskingAgain) {
  Restart("");
  scanPage.checked = AllCategories;
  monitor.running = true;
  AnswerAll({TMsgAnswer::Yes});
  ASSERT_TRUE(logic->BeginScan());
  EXPECT_FALSE(monitor.running);
  PumpUntilScanEnds();
  EXPECT_TRUE(monitor.running) << "on again when the results show";
  EXPECT_TRUE(logic->MonitorPausedByUs());
  resultsPage.during = [&] { EXPECT_FALSE(monitor.running) << "off while repairing"; };
  logic->RepairNow();
  EXPECT_EQ(resultsPage.repairs, 1);
  EXPECT_EQ(prompter.asked.size(), 1u) << "the repair stops it silently";
  EXPECT_EQ(monitor.stops, 2);
  EXPECT_TRUE(monitor.running);
}

TEST_F(MainWindowTest, ACompletedScanIsRecordedAndShown) {
  Restart("");
  Settings().total_error_found = 4;
  ASSERT_TRUE(SaveSettings());
  Minutes(5);
  CompletedScan();
  EXPECT_EQ(SavedSetting("last_err"), "1");
  EXPECT_EQ(SavedSetting("last_repair"), "0");
  EXPECT_EQ(SavedSetting("total_error_found"), "5");
  EXPECT_FALSE(SavedSetting("last_scan").empty());
  EXPECT_EQ(logic->LastScanTime(), EncodeDateTime(clock.now));
  EXPECT_EQ(frame.Current(), pgResults);
  EXPECT_GE(resultsPage.shownResults, 1);
  EXPECT_TRUE(frame.trayHint.empty()) << "not an automatic scan";
}

TEST_F(MainWindowTest, AStoppedScanIsNotACompletedOne) {
  Restart("startscan");
  Settings().last_scan = "202601010101";
  Settings().last_err = 9;
  ASSERT_TRUE(SaveSettings());
  const TDateTime before = logic->LastScanTime();
  scanPage.checked = AllCategories;
  spin = true;
  ASSERT_TRUE(logic->BeginScan());
  while (!spinning)
    main.PumpWait(std::chrono::milliseconds(2));
  logic->ShowPage(pgScan);
  logic->OnEscape();
  EXPECT_FALSE(scanner.IsScanning());
  EXPECT_FALSE(logic->Busy());
  EXPECT_TRUE(frame.header);
  EXPECT_EQ(SavedSetting("last_scan"), "202601010101");
  EXPECT_EQ(SavedSetting("last_err"), "9");
  EXPECT_EQ(logic->LastScanTime(), before);
  EXPECT_TRUE(logic->FullScanRequired());
}

TEST_F(MainWindowTest, NothingOpensWhenTheProgramClosesDuringAnAutomaticScan) {
  Restart("autoscan");
  frame.hidden = true;
  spin = true;
  scanPage.checked = TCategorySet::Of(ecCLSIDs).Add(ecTypeLib);
  logic->OnDelayedStartTick();
  ASSERT_TRUE(scanner.IsScanning());
  ASSERT_TRUE(logic->AutoMode());
  while (!spinning)
    main.PumpWait(std::chrono::milliseconds(2));
  ASSERT_EQ(scanner.ErrorCount(), 1) << "a finding is held when the close comes";
  const auto pagesBefore = frame.pages.size();
  Settings().MonitorPrompt = 123; // changed in memory: the close must save it
  logic->OnTrayClose();
  commands.ProcessPending(); // command 16
  main.Pump();
  EXPECT_FALSE(scanner.IsScanning());
  EXPECT_EQ(frame.quits, 1);
  EXPECT_EQ(frame.pages.size(), pagesBefore) << "no results page";
  EXPECT_TRUE(frame.trayHint.empty());
  EXPECT_TRUE(trayNotice.shownWith.empty());
  EXPECT_TRUE(prompter.asked.empty());
  EXPECT_NE(SettingsFileText().find("MonitorPrompt=123"), std::string::npos);
}

TEST_F(MainWindowTest, AScanThatCannotReadTheIgnoreFileIsNotStarted) {
  Restart("");
  fs.AddFile(SettingsPath("ignore.txt"), "HKLM\\Software\\Lib\r\n");
  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::Read, "ignore.txt", 5, 100);
  AnswerAll({TMsgAnswer::Ok});
  EXPECT_FALSE(logic->BeginScan());
  EXPECT_FALSE(scanner.IsScanning());
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(prompter.asked[0].text.rfind("The scan was not started", 0), 0u);
  EXPECT_FALSE(logic->Busy());
  EXPECT_TRUE(frame.header);
}

TEST_F(MainWindowTest, CommandsThatWouldDisturbARunningScanAreRefused) {
  Restart("");
  StartSpinningScan();
  for (int command : {mcClearResults, mcClearAndShowScan, mcClearAndScan, mcScan, mcRepairOrScan,
                      mcRepairWhenDue})
    logic->HandleCommand(command);
  EXPECT_TRUE(scanner.IsScanning());
  EXPECT_EQ(resultsPage.repairs, 0);
  EXPECT_TRUE(prompter.asked.empty());
  EXPECT_FALSE(logic->BeginScan());
  // Closing asks, and No keeps the window and the scan.
  AnswerAll({TMsgAnswer::No});
  EXPECT_FALSE(logic->CanClose());
  EXPECT_EQ(prompter.asked.back().text,
            "Registry scan is in progress.\r\rDo you want to terminate it and close application?");
  EXPECT_TRUE(scanner.IsScanning());
  spin = false;
  PumpUntilScanEnds();
}

// ---------------------------------------------------------------- repairs

TEST_F(MainWindowTest, TheRescanPromptFollowsTheTimeSinceTheScan) {
  Restart("");
  CompletedScan();
  const TLocalTime scanned = clock.now;
  const auto promptAfter = [&](int minutes) {
    clock.now = scanned;
    Minutes(minutes);
    prompter.asked.clear();
    AnswerAll({TMsgAnswer::Cancel});
    const int repairs = resultsPage.repairs;
    logic->RepairNow();
    if (prompter.asked.empty()) {
      prompter.answers.clear();
      return std::string("<none>");
    }
    EXPECT_EQ(resultsPage.repairs, repairs) << "Cancel stops";
    return prompter.asked.front().text;
  };
  const auto text = [](const std::string &phrase) {
    return "It has been " + phrase +
           " since your last scan has been completed.\rWe highly recommend that you rescan "
           "your registry before making registry repairs.\r\rWould you like to rescan your "
           "registry now?";
  };
  EXPECT_EQ(promptAfter(59), "<none>");
  EXPECT_EQ(promptAfter(61), text("more than 1 hour"));
  EXPECT_EQ(prompter.asked.front().buttons, TMsgButtons::YesNoCancel);
  EXPECT_EQ(prompter.asked.front().icon, TMsgIcon::Warning);
  EXPECT_EQ(promptAfter(180), text("several hours"));
  EXPECT_EQ(promptAfter(25 * 60), text("several days"));

  // Yes asks for a fresh scan instead.
  AnswerAll({TMsgAnswer::Yes});
  const int repairs = resultsPage.repairs;
  logic->RepairNow();
  EXPECT_EQ(resultsPage.repairs, repairs);
  EXPECT_EQ(commands.pending.back().first, mcClearAndScan);
  EXPECT_FALSE(logic->Busy());
}

TEST_F(MainWindowTest, ARepairRunWithRestorePointReportAndTheFailureList) {
  Restart("");
  CompletedScan();
  IsAdmin = false;
  resultsPage.result.run.repaired = 3;
  resultsPage.result.run.categories[ecTypeLib].repaired = 3;
  resultsPage.result.failures = 2;
  resultsPage.failureListWritten = true;
  resultsPage.during = [&] {
    EXPECT_TRUE(logic->Busy());
    EXPECT_FALSE(resultsPage.repairingLook) << "left before the loop";
    EXPECT_EQ(restorePoint.begun.size(), 1u);
    EXPECT_TRUE(restorePoint.ended.empty());
  };
  AnswerAll({TMsgAnswer::Ok, TMsgAnswer::Yes});
  logic->RepairNow();
  ASSERT_EQ(prompter.asked.size(), 2u);
  EXPECT_EQ(prompter.asked[0].text, "You do not appear to have admin privileges. Quenlo may be "
                                    "unable to repair some items");
  EXPECT_EQ(prompter.asked[0].icon, TMsgIcon::Warning);
  EXPECT_EQ(restorePoint.begun, (std::vector<std::string>{"Quenlo Restore Point"}));
  EXPECT_EQ(restorePoint.ended, (std::vector<std::pair<std::int64_t, bool>>{{7, false}}));
  EXPECT_EQ(logic->RepairedCount(), 3);
  EXPECT_EQ(frame.Current(), pgReport);
  EXPECT_EQ(reportPage.total, 1);
  EXPECT_EQ(reportPage.repaired, 3);
  EXPECT_EQ(reportPage.typeLibRow.repaired, 3);
  EXPECT_EQ(restorePage.reloads, 1);
  EXPECT_EQ(prompter.asked[1].text,
            "Quenlo could not repair 2 error(s). Some registry keys or files may have been used "
            "by other applications.\r\rDo you want to see the list of not repaired errors?");
  EXPECT_EQ(prompter.asked[1].buttons, TMsgButtons::YesNo);
  EXPECT_EQ(prompter.asked[1].defaultButton, TMsgDefault::Second);
  EXPECT_EQ(shell.opened, (std::vector<std::string>{SettingsPath("cantremove.txt")}));
  EXPECT_FALSE(logic->Busy());
  EXPECT_TRUE(frame.header);
  EXPECT_FALSE(frame.cursorBusy);
  EXPECT_FALSE(Settings().FirstTimeScan);
  EXPECT_EQ(SavedSetting("healthstatus"), scanner.StatsToText());
}

TEST_F(MainWindowTest, TheFailureListIsOfferedOnlyWhenItWasWritten) {
  Restart("");
  CompletedScan();
  resultsPage.result.failures = 2;
  resultsPage.failureListWritten = false;
  logic->RepairNow();
  EXPECT_EQ(resultsPage.failureListWrites, 1);
  EXPECT_TRUE(prompter.asked.empty());
  EXPECT_TRUE(shell.opened.empty());
  EXPECT_EQ(frame.Current(), pgReport);
}

TEST_F(MainWindowTest, ARestorePointWithNothingRepairedIsCancelled) {
  Restart("");
  CompletedScan();
  resultsPage.result.run.repaired = 0;
  logic->RepairNow();
  EXPECT_EQ(restorePoint.ended, (std::vector<std::pair<std::int64_t, bool>>{{7, true}}));

  Settings().BackupBeforeScan = false;
  ASSERT_TRUE(SaveSettings());
  restorePoint.begun.clear();
  restorePoint.ended.clear();
  services.started.clear();
  logic->RepairNow();
  EXPECT_EQ(resultsPage.repairs, 2);
  EXPECT_TRUE(restorePoint.begun.empty()) << "System Restore is never touched";
  EXPECT_TRUE(services.started.empty());
}

TEST_F(MainWindowTest, RestorePointFailuresAreTheUsersChoice) {
  Restart("");
  CompletedScan();
  // Missing API: told, and No aborts.
  restorePoint.beginResult = {.apiPresent = false};
  AnswerAll({TMsgAnswer::No});
  logic->RepairNow();
  EXPECT_EQ(prompter.asked.at(0).text,
            "A restore point could not be created: System Restore is not available on this "
            "computer.\r\rDo you want to repair without a restore point?");
  EXPECT_EQ(resultsPage.repairs, 0);
  EXPECT_FALSE(resultsPage.repairingLook);
  EXPECT_FALSE(resultsPage.label);
  EXPECT_TRUE(frame.header);
  EXPECT_FALSE(logic->Busy());

  // A failure without a status is not shown as "[0]"; Retry asks again,
  // Ignore repairs without a point.
  restorePoint.beginResult = {.apiPresent = true, .ok = false, .status = 0};
  prompter.asked.clear();
  AnswerAll({TMsgAnswer::Retry, TMsgAnswer::Ignore});
  logic->RepairNow();
  EXPECT_EQ(prompter.asked.at(0).text,
            "A restore point could not be created: System Restore gave no reason.");
  EXPECT_EQ(prompter.asked.at(0).buttons, TMsgButtons::AbortRetryIgnore);
  EXPECT_EQ(prompter.asked.at(0).icon, TMsgIcon::Error);
  EXPECT_EQ(restorePoint.begun.size(), 3u);
  EXPECT_EQ(resultsPage.repairs, 1);
  EXPECT_TRUE(restorePoint.ended.empty()) << "no point was begun";

  // A status is shown; Abort stops and the paused monitor comes back.
  restorePoint.beginResult = {.apiPresent = true, .ok = false, .status = 5};
  monitor.running = true;
  prompter.asked.clear();
  AnswerAll({TMsgAnswer::Yes, TMsgAnswer::Abort});
  logic->RepairNow();
  EXPECT_EQ(prompter.asked.at(1).text, "A restore point could not be created [5].");
  EXPECT_EQ(resultsPage.repairs, 1);
  EXPECT_TRUE(monitor.running);
  EXPECT_EQ(monitor.stops, 1);
}

TEST_F(MainWindowTest, TheDisabledServiceMessageFitsTheSystem) {
  Restart("");
  CompletedScan();
  restorePoint.beginResult = {.apiPresent = true, .ok = false, .status = 1058};
  const auto messageOn = [&](int version) {
    WindowsVersion = version;
    prompter.asked.clear();
    AnswerAll({TMsgAnswer::Abort});
    logic->RepairNow();
    return prompter.asked.at(0).text;
  };
  const std::string base = "A restore point could not be created [1058].";
  const std::string xp = messageOn(6);
  EXPECT_EQ(xp.rfind(base + "\r\rTo fix this error:\r1. Right Click on My Computer and select "
                            "Manage.\r2. Click on the + sign",
                     0),
            0u);
  EXPECT_NE(xp.find("\r9. Under the Computer Management window you should now see that the "
                    "Status for the System Restore Service is listed as Started and the Startup "
                    "is listed as Automatic.  If this is true you can close the Computer "
                    "Management window."),
            std::string::npos);
  EXPECT_EQ(xp.find("\r10."), std::string::npos);
  const std::string vista = messageOn(8);
  EXPECT_EQ(vista, base + "\r\rTo fix this error:\r1. Right Click on Computer and select "
                          "Properties.\r2. Click on System Protection.\r3. Under the Automatic "
                          "restore points section of the System Protection tab, click on the "
                          "check box next to the appropriate drive containing the your Windows "
                          "installation. Then click Apply.\r4. Click on the OK button to close "
                          "the System Properties Window.\r5. Close the System window.  The "
                          "System Restore Service should now be running.");
  EXPECT_EQ(messageOn(11), vista);
  EXPECT_EQ(messageOn(12), base);
}

TEST_F(MainWindowTest, TheRestoreServiceIsStartedAndPolled) {
  Restart("");
  CompletedScan();
  services.startStatus = 0; // started, yet never reports running
  logic->RepairNow();
  EXPECT_EQ(services.started, (std::vector<std::string>{"srservice"}));
  EXPECT_EQ(wait.waits, (std::vector<std::uint32_t>(5, 100)));

  wait.waits.clear();
  services.runningServices["srservice"] = true;
  logic->RepairNow();
  EXPECT_TRUE(wait.waits.empty());

  services.runningServices.clear();
  services.startStatus = 1056; // already running
  logic->RepairNow();
  EXPECT_TRUE(wait.waits.empty());
}

TEST_F(MainWindowTest, TheFullBackupComesWhenDueAndItsFailureIsTold) {
  Restart("");
  CompletedScan();
  Settings().FullBackupOnlyOnceWeek = true;
  Settings().last_backup = DateStamp(AddDays(clock.now, -6));
  ASSERT_TRUE(SaveSettings());
  logic->RepairNow();
  EXPECT_EQ(fullBackup.runs, 0) << "6 days old";
  Settings().last_backup = DateStamp(AddDays(clock.now, -8));
  ASSERT_TRUE(SaveSettings());
  logic->RepairNow();
  EXPECT_EQ(fullBackup.runs, 1) << "8 days old";
  Settings().FullBackupOnlyOnceWeek = false;
  Settings().last_backup = DateStamp(clock.now);
  ASSERT_TRUE(SaveSettings());
  logic->RepairNow();
  EXPECT_EQ(fullBackup.runs, 2) << "every time";

  fullBackup.ok = false;
  fullBackup.error = "disk full";
  AnswerAll({TMsgAnswer::No});
  const int repairs = resultsPage.repairs;
  logic->RepairNow();
  EXPECT_EQ(prompter.asked.at(0).text,
            "The full registry backup could not be made.\r\rdisk full\r\rEach repair is still "
            "saved in the undo folder. Do you want to continue repairing?");
  EXPECT_EQ(resultsPage.repairs, repairs);
  EXPECT_TRUE(restorePoint.begun.size() == 3u) << "stopped before the restore point";
  AnswerAll({TMsgAnswer::Yes});
  logic->RepairNow();
  EXPECT_EQ(resultsPage.repairs, repairs + 1);
}

TEST_F(MainWindowTest, OnlyRecycleFileProblemsNeedNoFullBackup) {
  Restart("");
  TRegErrorInfo info;
  info.Category = ecStartup;
  info.Action = raRecycleFile;
  info.KeyPath = "Software\\X";
  scanner.Errors().Add(std::make_unique<TRegError>(info));
  Settings().FullBackupOnlyOnceWeek = false;
  ASSERT_TRUE(SaveSettings());
  AnswerAll({TMsgAnswer::No}); // never scanned: the rescan prompt
  logic->RepairNow();
  EXPECT_EQ(resultsPage.repairs, 1);
  EXPECT_EQ(fullBackup.runs, 0);
}

TEST_F(MainWindowTest, NothingThatClearsScansRepairsOrShutsDownRunsInsideARepair) {
  Restart("");
  CompletedScan();
  bool ranInside = false;
  monitor.running = true;
  AnswerAll({TMsgAnswer::Yes});
  int depth = 0;
  resultsPage.during = [&] {
    if (depth++ > 0)
      return;           // a nested run: the test fails below
    logic->RepairNow(); // the results page's button, pressed again
    EXPECT_FALSE(logic->BeginScan()) << "the scan page's button";
    const int rebuilt = resultsPage.shownResults;
    for (int command :
         {mcClearResults, mcClearAndShowScan, mcClearAndScan, mcScan, mcRepairOrScan,
          mcRepairWhenDue, mcShutdown, mcTerminate, mcShowResultsOrReport, mcShowResults})
      commands.Post(command, 0);
    commands.ProcessPending();
    EXPECT_EQ(resultsPage.shownResults, rebuilt) << "the list is not rebuilt under the loop";
    EXPECT_FALSE(monitor.running) << "the monitor stays off while repairing";
    EXPECT_FALSE(logic->CanClose()) << "the close box during the loop";
    EXPECT_EQ(scanner.ErrorCount(), 1) << "the list the loop walks stays";
    EXPECT_FALSE(scanner.IsScanning());
    EXPECT_EQ(frame.quits, 0);
    ranInside = true;
  };
  logic->RepairNow();
  ASSERT_TRUE(ranInside);
  EXPECT_EQ(resultsPage.repairs, 1) << "no second repair from inside";
  EXPECT_EQ(frame.quits, 0) << "the shutdown waits for the run's end";
  commands.ProcessPending(); // the deferred clear and shutdown
  EXPECT_EQ(scanner.ErrorCount(), 0);
  EXPECT_EQ(frame.quits, 1);
  EXPECT_EQ(resultsPage.repairs, 1);
}

TEST_F(MainWindowTest, NothingRunsBehindTheFirstPromptOfARepair) {
  Restart("");
  CompletedScan();
  Minutes(120);
  prompter.onAsk = [&](const TPrompt &) {
    commands.Post(mcRepairWhenDue, 0);
    commands.Post(mcRepairOrScan, 0);
    commands.Post(mcClearAndScan, 0);
    commands.Post(mcShutdown, 0);
    commands.ProcessPending();
    EXPECT_TRUE(logic->Refusing());
    EXPECT_FALSE(scanner.IsScanning());
    EXPECT_EQ(frame.quits, 0);
  };
  AnswerAll({TMsgAnswer::No});
  logic->RepairNow();
  prompter.onAsk = nullptr;
  EXPECT_EQ(resultsPage.repairs, 1);
  EXPECT_EQ(prompter.asked.size(), 1u) << "the refused commands asked nothing";
  commands.ProcessPending();
  EXPECT_EQ(frame.quits, 1) << "the shutdown came afterwards";
}

TEST_F(MainWindowTest, AnExceptionInTheRepairLoopPutsEverythingBack) {
  Restart("");
  CompletedScan();
  monitor.running = true;
  resultsPage.during = [] { throw std::runtime_error("hive gone"); };
  AnswerAll({TMsgAnswer::Yes, TMsgAnswer::Ok});
  logic->RepairNow();
  EXPECT_EQ(prompter.asked.at(1).text, "The repair stopped because of an error.\r\rhive gone");
  EXPECT_FALSE(logic->Busy());
  EXPECT_FALSE(logic->Refusing());
  EXPECT_TRUE(frame.header);
  EXPECT_TRUE(frame.window);
  EXPECT_FALSE(frame.cursorBusy);
  EXPECT_TRUE(monitor.running);
  EXPECT_EQ(restorePoint.ended, (std::vector<std::pair<std::int64_t, bool>>{{7, false}}))
      << "the loop may have changed the registry: the point is kept";
  EXPECT_NE(frame.Current(), pgReport);
  resultsPage.during = nullptr;
  logic->RepairNow();
  EXPECT_EQ(resultsPage.repairs, 2) << "a later repair runs";
}

TEST_F(MainWindowTest, RepairWithoutHeldResultsScansInstead) {
  Settings().last_err = 4;
  Settings().last_repair = 0;
  ASSERT_TRUE(SaveSettings());
  Restart("");
  logic->HandleCommand(mcRepairWhenDue);
  EXPECT_TRUE(scanner.IsScanning() || scanner.ResultsAvailable());
  EXPECT_TRUE(restorePoint.begun.empty());
  EXPECT_EQ(resultsPage.repairs, 0);
  EXPECT_EQ(reportPage.reports, 0) << "no \"0 repaired\" report";
  PumpUntilScanEnds();
  EXPECT_EQ(frame.Current(), pgResults);

  // With results held it repairs when due.
  logic->HandleCommand(mcRepairWhenDue);
  EXPECT_EQ(resultsPage.repairs, 1);
  logic->HandleCommand(mcRepairOrScan);
  EXPECT_EQ(resultsPage.repairs, 2);
}

// ---------------------------------------------------------------- automatic

TEST_F(MainWindowTest, AutoModeBeginsOnlyWithATickThatStartsAScan) {
  Restart("autoscan");
  frame.hidden = false; // the user opened the window
  logic->OnDelayedStartTick();
  EXPECT_FALSE(logic->AutoMode());
  EXPECT_FALSE(scanner.IsScanning());
  EXPECT_EQ(timers.Interval(tiDelayedStart), kAutoScanRepeatMs);
  EXPECT_TRUE(timers.Running(tiDelayedStart));

  frame.hidden = true;
  scanPage.checked = {};
  logic->OnDelayedStartTick();
  EXPECT_FALSE(logic->AutoMode()) << "nothing to scan";

  scanPage.checked = TCategorySet::Of(ecTypeLib);
  monitor.running = true;
  logic->OnDelayedStartTick();
  EXPECT_TRUE(logic->AutoMode());
  EXPECT_TRUE(prompter.asked.empty()) << "an automatic scan asks nothing";
  logic->OnDelayedStartTick(); // while it scans
  EXPECT_TRUE(timers.Running(tiDelayedStart)) << "every 4 hours";
  trayNotice.fix = false;
  PumpUntilScanEnds();
  EXPECT_EQ(frame.trayHint, "1 unresolved problems found.");
  EXPECT_EQ(trayNotice.shownWith, (std::vector<int>{1}));
  EXPECT_EQ(resultsPage.repairs, 0);
}

TEST_F(MainWindowTest, TheTrayNoticeIsBusyAndItsFixRepairs) {
  Restart("autoscan");
  frame.hidden = true;
  trayNotice.fix = true;
  trayNotice.during = [&] {
    EXPECT_TRUE(logic->Refusing());
    commands.Post(mcClearAndScan, 0);
    commands.Post(mcClearResults, 0);
    commands.ProcessPending();
    EXPECT_EQ(scanner.ErrorCount(), 1) << "refused while the notice is open";
    EXPECT_FALSE(scanner.IsScanning());
  };
  logic->OnDelayedStartTick();
  PumpUntilScanEnds();
  EXPECT_EQ(trayNotice.shownWith.size(), 1u);
  EXPECT_EQ(resultsPage.repairs, 1);
  EXPECT_FALSE(frame.hidden);
  EXPECT_TRUE(frame.trayHint.empty());
  EXPECT_EQ(commands.pending.back().first, mcStartUp);

  Settings().DoNotShowNoticeOnDelayedStart = true;
  ASSERT_TRUE(SaveSettings());
  logic->HandleCommand(mcClearResults);
  frame.hidden = true;
  logic->OnDelayedStartTick();
  PumpUntilScanEnds();
  EXPECT_EQ(trayNotice.shownWith.size(), 1u) << "no notice";
  EXPECT_EQ(frame.trayHint, "1 unresolved problems found.");
}

TEST_F(MainWindowTest, TrayRestoreCommandAndKeys) {
  Restart("autoscan");
  frame.ShowTrayIcon("x");
  logic->OnTrayOpen();
  EXPECT_TRUE(frame.trayHint.empty());
  EXPECT_EQ(timers.Interval(tiDelayedStart), kAutoScanRepeatMs);
  ASSERT_GE(commands.pending.size(), 2u);
  EXPECT_EQ(commands.pending[commands.pending.size() - 2].first, mcShowMainWindow);
  EXPECT_EQ(commands.pending.back().first, mcStartUp);
  commands.ProcessPending();
  EXPECT_FALSE(frame.hidden);

  timers.timers.clear();
  logic->OnRestoreCommand(rcEnableTimer);
  EXPECT_EQ(timers.Interval(tiDelayedStart), kFirstAutoScanDelayMs);
  logic->ShowPage(pgSettings);
  logic->OnRestoreCommand(rcShowStatus);
  EXPECT_EQ(frame.Current(), pgSettings) << "Windows 7";
  WindowsVersion = 6;
  logic->OnRestoreCommand(rcShowStatus);
  EXPECT_EQ(frame.Current(), pgStatus);

  EXPECT_FALSE(logic->OnMinimise());
  EXPECT_EQ(monitor.trayMinimises, 0) << "other pages minimise as usual";
  logic->ShowPage(pgMonitor);
  EXPECT_TRUE(logic->OnMinimise());
  EXPECT_EQ(monitor.trayMinimises, 1);
  monitor.trayWorks = false;
  EXPECT_FALSE(logic->OnMinimise()) << "no tray icon: the window minimises to its button";
  EXPECT_EQ(monitor.trayMinimises, 2);
}

// ---------------------------------------------------------------- closing

TEST_F(MainWindowTest, TheSessionsEndAnswersFirstThenStopsAndSaves) {
  Restart("");
  StartSpinningScan();
  EXPECT_TRUE(logic->OnQueryEndSession()) << "a scan can be stopped";
  EXPECT_TRUE(scanner.IsScanning()) << "the query only answers";
  EXPECT_EQ(frame.quits, 0);
  logic->OnEndSession(false);
  EXPECT_FALSE(logic->SessionEnding());
  EXPECT_TRUE(scanner.IsScanning()) << "the session goes on";

  Settings().MonitorPrompt = 77;
  logic->OnEndSession(true);
  EXPECT_FALSE(scanner.IsScanning());
  EXPECT_EQ(frame.quits, 1);
  EXPECT_NE(SettingsFileText().find("MonitorPrompt=77"), std::string::npos);
  EXPECT_TRUE(prompter.asked.empty()) << "no prompt while the session ends";
  main.Pump();
  EXPECT_NE(frame.Current(), pgResults);
}

TEST_F(MainWindowTest, WindowsWaitsWhileARepairRuns) {
  Restart("");
  CompletedScan();
  bool answer = true;
  resultsPage.during = [&] { answer = logic->OnQueryEndSession(); };
  logic->RepairNow();
  EXPECT_FALSE(answer) << "not yet";
  EXPECT_EQ(frame.quits, 0);
  EXPECT_TRUE(logic->OnQueryEndSession());
}

TEST_F(MainWindowTest, TheCloseQuery) {
  Restart("");
  fs.AddFile(SettingsPath("schedule.xml"), "<Task/>");
  historyPage.exists = true;
  historyPage.scanning = true;
  AnswerAll({TMsgAnswer::No});
  EXPECT_FALSE(logic->CanClose());
  EXPECT_FALSE(fs.Content(SettingsPath("schedule.xml")).has_value());
  EXPECT_EQ(prompter.asked.at(0).text,
            "History scan is in progress.\r\rDo you want to terminate it and close application?");
  EXPECT_EQ(historyPage.stops, 0);

  // Before Vista, with results and the automatic scan armed, it stays
  // resident instead.
  historyPage.scanning = false;
  WindowsVersion = 6;
  Settings().last_err = 3;
  Settings().AutoAction = 1;
  timers.Start(tiDelayedStart, kAutoScanRepeatMs);
  EXPECT_FALSE(logic->CanClose());
  EXPECT_TRUE(frame.hidden);

  // Without the timer there is nothing to stay for: it closes.
  timers.Stop(tiDelayedStart);
  Settings().MonitorPrompt = 55;
  const int storedBefore = scanPage.stored;
  EXPECT_TRUE(logic->CanClose());
  EXPECT_EQ(historyPage.stored, 1);
  EXPECT_EQ(scanPage.stored, storedBefore + 1);
  EXPECT_NE(SettingsFileText().find("MonitorPrompt=55"), std::string::npos);
  EXPECT_TRUE(logic->Closing());
}

TEST_F(MainWindowTest, AFatalExceptionLeavesANoteAndEnds) {
  Restart("");
  Settings().MonitorPrompt = 66;
  EXPECT_TRUE(logic->OnFatalException("Access violation at address 0000000000401000"));
  const std::string note = fs.Content(SettingsPath("crash.txt")).value_or("");
  EXPECT_NE(note.find("Access violation at address 0000000000401000"), std::string::npos);
  EXPECT_EQ(frame.quits, 1);
  EXPECT_EQ(SettingsFileText().find("MonitorPrompt=66"), std::string::npos)
      << "memory in doubt is not saved";
  EXPECT_TRUE(logic->OnFatalException("second"));
  EXPECT_NE(fs.Content(SettingsPath("crash.txt")).value_or("").find("Access violation"),
            std::string::npos)
      << "notes are appended";
}

// ---------------------------------------------------------------- the rest

TEST_F(MainWindowTest, UpdatesAndTheMonitorRestartPrompt) {
  Restart("");
  probe.connected = false;
  AnswerAll({TMsgAnswer::Ok});
  logic->CheckForUpdates();
  EXPECT_EQ(prompter.asked.back().text, "Internet connection could not be established.");
  EXPECT_EQ(prompter.asked.back().icon, TMsgIcon::Error);
  probe.connected = true;
  logic->CheckForUpdates();
  EXPECT_EQ(updateCheck.manual, 1);

  const auto told = [&](std::intptr_t kind) {
    prompter.asked.clear();
    AnswerAll({TMsgAnswer::Ok});
    logic->HandleCommand(mcUpdateResult, kind);
    prompter.answers.clear();
    return prompter.asked.empty() ? std::string("<none>") : prompter.asked[0].text;
  };
  EXPECT_EQ(told(urNoUpdate), "There are no new updates. You have the latest version.");
  updateInstall.offer = TUpdateOffer::Interrupted;
  EXPECT_EQ(told(urAvailable), "Update download interrupted by the user.");
  updateInstall.offer = TUpdateOffer::Failed;
  EXPECT_EQ(told(urAvailable), "No updates available at this moment.");
  updateInstall.offer = TUpdateOffer::Declined;
  EXPECT_EQ(told(urAvailable), "<none>");
  updateInstall.offer = TUpdateOffer::Downloaded;
  EXPECT_EQ(told(urAvailable), "<none>");
  EXPECT_EQ(commands.pending.back().first, mcTerminate);
  updateInstall.installs_ok = false;
  EXPECT_EQ(told(urAvailable), "The update could not be started.\r\ragent missing");

  monitor.confirmOff = true;
  prompter.asked.clear();
  logic->HandleCommand(mcMonitorRestart);
  EXPECT_TRUE(prompter.asked.empty()) << "the monitor is off";
  monitor.confirmOff = false;
  AnswerAll({TMsgAnswer::Yes, TMsgAnswer::Ok});
  logic->HandleCommand(mcMonitorRestart);
  ASSERT_EQ(prompter.asked.size(), 2u);
  EXPECT_EQ(prompter.asked[0].text, "You must restart Monitor for the changes to take "
                                    "effect.\r\n\r\nDo you want to restart Monitor now?");
  EXPECT_EQ(prompter.asked[1].text, "Changes were applied successfully.");
  EXPECT_EQ(prompter.asked[1].icon, TMsgIcon::Information);
  EXPECT_EQ(monitor.stops, 1);
  EXPECT_EQ(monitor.starts, 1);
}

TEST_F(MainWindowTest, SpySweeperWarning) {
  Restart("");
  EXPECT_TRUE(logic->SpySweeperCheck(skDefragmentation));
  EXPECT_TRUE(prompter.asked.empty());
  services.runningProcesses["SpySweeper.exe"] = true;
  AnswerAll({TMsgAnswer::No});
  EXPECT_FALSE(logic->SpySweeperCheck(skDefragmentation));
  EXPECT_EQ(prompter.asked.back().text,
            "It is recommended that you temporarily disable Webroot Spy Sweeper, until Registry "
            "defragmentation is complete.\r\rDo you want to continue?");
  services.runningProcesses.clear();
  services.runningServices["WebrootSpySweeperService"] = true;
  AnswerAll({TMsgAnswer::Yes});
  EXPECT_TRUE(logic->SpySweeperCheck(skFullRestore));
  EXPECT_EQ(prompter.asked.back().text,
            "It is recommended that you temporarily disable Webroot Spy Sweeper, until restore "
            "operation is complete.\r\rDo you want to continue?");
}

} // namespace
} // namespace quenlo::test

namespace quenlo::test {
namespace {

TEST_F(MainWindowTest, ASaveThatFailsAtTheCloseIsTold) {
  Restart("");
  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::Write, "quenlo", 5, 100);
  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::Move, "quenlo", 5, 100);
  AnswerAll({TMsgAnswer::Ok});
  EXPECT_TRUE(logic->CanClose());
  ASSERT_EQ(prompter.asked.size(), 1u);
  const std::string start = "The settings could not be saved.\r\r";
  EXPECT_EQ(prompter.asked[0].text.rfind(start, 0), 0u);
  EXPECT_GT(prompter.asked[0].text.size(), start.size()) << "with the reason";

  // While the session ends nobody could answer: no box.
  prompter.asked.clear();
  logic->OnEndSession(true);
  EXPECT_TRUE(prompter.asked.empty());
  EXPECT_EQ(frame.quits, 1);
}

} // namespace
} // namespace quenlo::test

namespace quenlo::test {
namespace {

// The scan's worker against the logic's stop paths (also run under TSan).
class ThreadedMainWindowTest : public MainWindowTest {};

TEST_F(ThreadedMainWindowTest, EscapeAndTheSessionsEndStopTheWorker) {
  Restart("");
  logic->ShowPage(pgScan);
  StartSpinningScan();
  logic->OnEscape();
  EXPECT_FALSE(scanner.IsScanning());
  EXPECT_FALSE(logic->Busy());

  StartSpinningScan();
  EXPECT_TRUE(logic->Busy());
  logic->OnEndSession(true);
  EXPECT_FALSE(scanner.IsScanning());
  EXPECT_EQ(frame.quits, 1);
  main.Pump();
  EXPECT_FALSE(logic->Busy());
}

} // namespace
} // namespace quenlo::test

namespace quenlo::test {
namespace {

TEST_F(MainWindowTest, ARestorePointBegunForAnotherPageIsEndedOnce) {
  Restart("");
  ASSERT_TRUE(logic->CreateRestorePoint());
  EXPECT_EQ(restorePoint.begun, (std::vector<std::string>{"Quenlo Restore Point"}));
  logic->EndRestorePoint(false);
  logic->EndRestorePoint(false);
  EXPECT_EQ(restorePoint.ended, (std::vector<std::pair<std::int64_t, bool>>{{7, false}}));
}

} // namespace
} // namespace quenlo::test

namespace quenlo::test {
namespace {

TEST_F(MainWindowTest, NoScanOrRepairStartsAfterTheSessionEndedBehindAPrompt) {
  Restart("");
  CompletedScan();
  monitor.running = true;
  prompter.onAsk = [&](const TPrompt &) { logic->OnEndSession(true); };
  AnswerAll({TMsgAnswer::No});
  logic->RepairNow();
  EXPECT_EQ(resultsPage.repairs, 0);
  EXPECT_TRUE(restorePoint.begun.empty());
  EXPECT_EQ(frame.quits, 1);
  EXPECT_TRUE(monitor.running);

  Restart("");
  logic->HandleCommand(mcClearResults);
  AnswerAll({TMsgAnswer::No});
  EXPECT_FALSE(logic->BeginScan());
  EXPECT_FALSE(scanner.IsScanning());
}

} // namespace
} // namespace quenlo::test

namespace quenlo::test {
namespace {

// F1 and the Help menu's "Help": the help file at the topic of the page
// shown, else the online help.
class MainWindowHelpTest : public MainWindowTest {
protected:
  std::string HelpFile() const { return ProgramDir + "\\quenlo.chm"; }
  // The topic F1 asks the viewer for on this page; "<none>" when it asked
  // for none or for another file.
  std::string TopicOn(TPage page) {
    logic->ShowPage(page);
    EXPECT_EQ(logic->CurrentPage(), page);
    help.shown.clear();
    logic->OnHelp();
    const std::string prefix = HelpFile() + "::/";
    if (help.shown.size() != 1 || help.shown[0].rfind(prefix, 0) != 0)
      return "<none>";
    return help.shown[0].substr(prefix.size());
  }
};

TEST_F(MainWindowHelpTest, EachPageOpensItsOwnTopic) {
  Restart("");
  fs.AddFile(HelpFile(), "ITSF");
  EXPECT_EQ(TopicOn(pgScan), "scan.htm");
  EXPECT_EQ(TopicOn(pgResults), "results.htm");
  EXPECT_EQ(TopicOn(pgReport), "results.htm#report");
  EXPECT_EQ(TopicOn(pgOptimizer), "optimizer.htm");
  EXPECT_EQ(TopicOn(pgMonitor), "monitor.htm");
  EXPECT_EQ(TopicOn(pgRestore), "restore.htm");
  EXPECT_EQ(TopicOn(pgHistory), "history.htm");
  EXPECT_EQ(TopicOn(pgSettings), "settings.htm");
  EXPECT_EQ(TopicOn(pgStatus), "status.htm");
  EXPECT_TRUE(shell.opened.empty()) << "the online help stays closed";

  // The settings page's "Monitor" tab has a section of its own; the tab
  // means nothing on another page.
  settingsPage.monitorTabShown = true;
  EXPECT_EQ(TopicOn(pgSettings), "settings.htm#monitor");
  EXPECT_EQ(TopicOn(pgMonitor), "monitor.htm");
}

TEST_F(MainWindowHelpTest, WithoutTheHelpFileTheOnlineHelpOpens) {
  Restart("");
  logic->OnHelp();
  EXPECT_TRUE(help.shown.empty()) << "no viewer for a file that is not there";
  EXPECT_EQ(shell.opened, (std::vector<std::string>{kOnlineHelpUrl}));
}

TEST_F(MainWindowHelpTest, AViewerThatDoesNotStartGivesTheOnlineHelp) {
  Restart("");
  fs.AddFile(HelpFile(), "ITSF");
  help.starts = false;
  logic->ShowPage(pgHistory);
  logic->OnHelp();
  EXPECT_EQ(help.shown, (std::vector<std::string>{HelpFile() + "::/history.htm"}));
  EXPECT_EQ(shell.opened, (std::vector<std::string>{kOnlineHelpUrl}));

  // The help file is never handed to the shell: its default action is not
  // the viewer at a topic.
  shell.opened.clear();
  help.starts = true;
  logic->OnHelp();
  EXPECT_TRUE(shell.opened.empty());
}

} // namespace
} // namespace quenlo::test
