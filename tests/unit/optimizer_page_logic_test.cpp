// The optimizer page's logic with fakes for the window: the settings half
// (captions, availability, Apply and its prompts, Reset) on the in-memory
// registry, and the defragmenter's flow by Windows version, its failure
// report with each code, and the rule that nothing changed while the
// analysis dialog is open is lost.
#include <stdexcept>

#include "DefragHiveSeed.h"
#include "HiveCallsFake.h"
#include "PageFakes.h"
#include "TestPlatform.h"
#include "app/pages/uOptimizerPageLogic.h"
#include "app/uEnvironment.h"
#include "app/uSettings.h"

namespace quenlo::test {
namespace {

using qp::mem::View;

constexpr const char *kDesktop = "HKCU\\Control Panel\\Desktop";
constexpr const char *kControl = "HKLM\\SYSTEM\\CurrentControlSet\\Control";
constexpr const char *kDfrg = "HKLM\\SOFTWARE\\Microsoft\\Dfrg\\BootOptimizeFunction";

class FakeLongOperation final : public ILongOperation {
public:
  TLongOperationResult Run(const std::string &caption, bool showBar,
                           const TLongWork &work) override {
    captions.push_back(caption);
    bars.push_back(showBar);
    TLongOperationResult result;
    if (runs++ == notStartedRun)
      return result;
    result.started = true;
    try {
      result.ok = work(
          [this](std::uint64_t total, std::uint64_t done) { progress.emplace_back(total, done); },
          result.errorText);
    } catch (const std::exception &e) {
      result.ok = false;
      result.errorText = e.what();
    }
    result.finished = runs - 1 != unfinishedRun;
    return result;
  }
  int notStartedRun = -1; // this run's worker is not created
  int unfinishedRun = -1; // this run's wait ends before the worker
  int runs = 0;
  std::vector<std::string> captions;
  std::vector<bool> bars;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
};

class FakeAnalysisDialog final : public IAnalysisDialog {
public:
  bool Show(const TAnalysisView &view) override {
    shown.push_back(view);
    if (whileOpen)
      whileOpen();
    return defragment;
  }
  bool defragment = true;
  std::function<void()> whileOpen;
  std::vector<TAnalysisView> shown;
};

class FakeOptimizerHost final : public IOptimizerHost {
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

class FakeRestart final : public IWindowsRestart {
public:
  bool Restart() override {
    ++restarts;
    return succeeds;
  }
  bool succeeds = true;
  int restarts = 0;
};

class FakeProgramRunner final : public IProgramRunner {
public:
  bool RunAndWait(const std::string &commandLine) override {
    ran.push_back(commandLine);
    return starts;
  }
  bool starts = true;
  std::vector<std::string> ran;
};

class OptimizerPageTest : public MemoryTest {
protected:
  void SetUp() override {
    MemoryTest::SetUp();
    reg.SetReflectionQueryStatus(wc::ErrorCallNotImplemented);
    InitEnvironment();
  }

  TOptimizerPageLogic &Page(int version = 9, IHiveCalls *calls = nullptr) {
    env.windowsVersion = version;
    env.windowsDir = "C:\\Windows\\";
    env.settingsFolder = SettingsFolder;
    env.undoFolder = SettingsFolder + "\\Undo\\";
    page = std::make_unique<TOptimizerPageLogic>(
        TOptimizerPageDeps{prompter, clock, host, longOperation, dialog, restart, programs,
                           calls ? *calls : hives},
        env);
    return *page;
  }
  std::string Stamp(const char *key) {
    std::string value;
    EXPECT_TRUE(GetSettingText(SectionSettings, key, value));
    return value;
  }
  std::string WorkFolder() const { return SettingsFolder + "\\Temp"; }
  std::string Text(const char *key, const char *name) {
    return reg.GetText(View::V64, key, name).value_or("<missing>");
  }

  FakePrompter prompter;
  FakeClock clock;
  FakeOptimizerHost host;
  FakeLongOperation longOperation;
  FakeAnalysisDialog dialog;
  FakeRestart restart;
  FakeProgramRunner programs;
  HiveCallsFake hives{fs};
  TOptimizerPageEnv env;
  std::unique_ptr<TOptimizerPageLogic> page;
};

// --- settings half

TEST_F(OptimizerPageTest, CaptionsInfoAndAvailabilityFollowTheControls) {
  reg.SetString(View::V64, kDesktop, "MenuShowDelay", "250");
  reg.SetString(View::V64, kControl, "WaitToKillServiceTimeout", "7000");
  TOptimizerPageLogic &p = Page();
  p.Load();
  EXPECT_EQ(p.MenuShowDelayCaption(), "Menu show delay (0.25 sec)");
  EXPECT_EQ(p.WaitToKillAppCaption(), "Wait to kill application timeout (20 sec)");
  EXPECT_EQ(p.WaitToKillServiceCaption(), "Wait to kill service timeout (7 sec)");
  EXPECT_FALSE(p.ApplyEnabled());
  EXPECT_TRUE(p.ResetEnabled());

  p.SetMenuShowDelay(4321);
  EXPECT_EQ(p.MenuShowDelayPosition(), 4000) << "the slider's maximum";
  EXPECT_EQ(p.MenuShowDelayCaption(), "Menu show delay (4.00 sec)");
  EXPECT_TRUE(p.ApplyEnabled());
  EXPECT_TRUE(p.ResetEnabled());

  prompter.answers = {TMsgAnswer::Ok, TMsgAnswer::Ok};
  p.ShowMoreInfo(ssWaitToKillService);
  p.ShowMoreInfo(ssMenuShowDelay);
  ASSERT_EQ(prompter.asked.size(), 2u);
  EXPECT_EQ(prompter.asked[0].text, "Wait to kill service timeout\r\rSpecifies a length of time "
                                    "that the service control manager must wait for services to "
                                    "complete the shutdown request.");
  EXPECT_EQ(prompter.asked[0].icon, TMsgIcon::Information);
  EXPECT_EQ(prompter.asked[1].text, kMenuShowDelayInfo);
}

TEST_F(OptimizerPageTest, ResetPutsTheVersionsDefaultsOnThePageOnly) {
  reg.SetString(View::V64, kDesktop, "MenuShowDelay", "10");
  reg.SetString(View::V64, kDfrg, "Enable", "N");
  for (const auto &[version, boot, autoEnd] :
       std::vector<std::tuple<int, bool, bool>>{{8, false, true}, {6, true, false}}) {
    TOptimizerPageLogic &p = Page(version);
    p.Load();
    p.Reset();
    EXPECT_EQ(p.Values(), (TSysSettingsValues{400, 20, 20, boot, autoEnd})) << version;
    EXPECT_TRUE(p.ApplyEnabled());
    EXPECT_FALSE(p.ResetEnabled());
  }
  EXPECT_EQ(Text(kDesktop, "MenuShowDelay"), "10") << "nothing written before Apply";
  EXPECT_FALSE(reg.ValueExists(View::V64, kDesktop, "AutoEndTasks"));
}

TEST_F(OptimizerPageTest, ApplyWritesStampsAndOffersTheRestart) {
  reg.SetString(View::V64, kDesktop, "MenuShowDelay", "400");
  TOptimizerPageLogic &p = Page();
  p.Load();
  p.SetMenuShowDelay(200);
  p.SetBootOptimization(true);
  restart.succeeds = false;
  prompter.answers = {TMsgAnswer::Yes, TMsgAnswer::Ok};
  p.Apply();
  ASSERT_EQ(prompter.asked.size(), 2u);
  EXPECT_EQ(prompter.asked[0].text,
            "Optimization settings were applied successfully. You need to restart Windows for "
            "changes to take effect.\r\nDo you want to restart Windows now?");
  EXPECT_EQ(prompter.asked[0].buttons, TMsgButtons::YesNo);
  EXPECT_EQ(prompter.asked[0].icon, TMsgIcon::Question);
  EXPECT_EQ(prompter.asked[1].text, "Can not restart Windows. Please do it manually.");
  EXPECT_EQ(prompter.asked[1].icon, TMsgIcon::Error);
  EXPECT_EQ(restart.restarts, 1);
  EXPECT_EQ(Text(kDesktop, "MenuShowDelay"), "200");
  EXPECT_EQ(Text(kDfrg, "Enable"), "Y");
  EXPECT_EQ(p.LastWrite().written,
            (std::vector<TSysSettingId>{ssMenuShowDelay, ssBootOptimization}));
  EXPECT_EQ(Stamp("last_optimize"), "202612091000");
  EXPECT_FALSE(p.ApplyEnabled()) << "loaded again";
  EXPECT_EQ(p.Loaded().values.menuShowDelayMs, 200);
  // What the registry held before is kept for putting it back.
  ASSERT_TRUE(p.RawBeforeApply().at(ssMenuShowDelay).has_value());
  EXPECT_EQ(p.RawBeforeApply().at(ssMenuShowDelay)->data, StringData("400"));
  EXPECT_FALSE(p.RawBeforeApply().at(ssBootOptimization).has_value());
}

// A value that could not be written: no "applied successfully", the failure
// named, "last_optimize" untouched, and Apply still there to try again.
TEST_F(OptimizerPageTest, ApplyThatCouldNotWriteEverythingSaysWhat) {
  reg.SetDenyWrite(View::V64, kControl, true);
  TOptimizerPageLogic &p = Page();
  p.Load();
  p.SetWaitToKillService(45);
  p.SetAutoEndTasks(true);
  prompter.answers = {TMsgAnswer::Ok};
  p.Apply();
  ASSERT_EQ(prompter.asked.size(), 1u);
  const TPrompt &error = prompter.asked[0];
  EXPECT_EQ(error.icon, TMsgIcon::Error);
  EXPECT_EQ(error.text.rfind("Some optimization settings could not be applied:\r\n"
                             "Wait to kill service timeout: ",
                             0),
            0u)
      << error.text;
  EXPECT_NE(error.text.find("Access is denied."), std::string::npos);
  EXPECT_EQ(error.text.find("Autoclose"), std::string::npos) << "that one was written";
  EXPECT_EQ(Text(kDesktop, "AutoEndTasks"), "1");
  EXPECT_EQ(Stamp("last_optimize"), "");
  EXPECT_EQ(restart.restarts, 0);
  EXPECT_TRUE(p.ApplyEnabled());
  EXPECT_EQ(p.WaitToKillServicePosition(), 45) << "the asked value stays on the page";

  reg.SetDenyWrite(View::V64, kControl, false);
  prompter.answers = {TMsgAnswer::No};
  p.Apply();
  EXPECT_EQ(p.LastWrite().written, std::vector<TSysSettingId>{ssWaitToKillService})
      << "only what is still different";
  EXPECT_EQ(Text(kControl, "WaitToKillServiceTimeout"), "45000");
  EXPECT_EQ(Stamp("last_optimize"), "202612091000");
}

// --- defragmenter by version

TEST_F(OptimizerPageTest, DefragmentationIsRefusedBeforeWindows98) {
  for (const auto &[version, text] : std::vector<std::pair<int, std::string>>{
           {0, "Registry defragmentation is not available on this version of Windows."},
           {1, "Registry defragmentation is not available on this Windows 95."}}) {
    host.calls.clear();
    prompter.asked.clear();
    prompter.answers = {TMsgAnswer::Ok};
    TOptimizerPageLogic &p = Page(version);
    EXPECT_FALSE(p.DefragPanelVisible());
    p.Analyze();
    EXPECT_EQ(host.calls, std::vector<std::string>{"Clear"});
    ASSERT_EQ(prompter.asked.size(), 1u);
    EXPECT_EQ(prompter.asked[0].text, text);
    EXPECT_EQ(prompter.asked[0].icon, TMsgIcon::Error);
  }
  EXPECT_TRUE(Page(2).DefragPanelVisible());
  EXPECT_TRUE(hives.calls.empty());
}

TEST_F(OptimizerPageTest, Windows98RunsTheRegistryCheckerAfterTheConfirmations) {
  TOptimizerPageLogic &p = Page(2);
  // Each confirmation can stop it.
  host.spySweeperAllows = false;
  p.Analyze();
  EXPECT_EQ(p.LastAnalyzeEnd(), aeDeclined);
  EXPECT_TRUE(prompter.asked.empty());
  host.spySweeperAllows = true;
  prompter.answers = {TMsgAnswer::No};
  p.Analyze();
  EXPECT_EQ(p.LastAnalyzeEnd(), aeDeclined);
  EXPECT_EQ(prompter.asked.back().text,
            "Registry defragmenter need to analyze registry database which may take several "
            "minutes.\r\nYou will be notified when this operation is completed.\r\n\r\nDo you want "
            "to continue?");
  EXPECT_EQ(prompter.asked.back().buttons, TMsgButtons::YesNo);
  host.monitorOff = false;
  prompter.answers = {TMsgAnswer::Yes};
  p.Analyze();
  EXPECT_EQ(p.LastAnalyzeEnd(), aeDeclined);
  EXPECT_TRUE(programs.ran.empty());
  EXPECT_EQ(host.calls, (std::vector<std::string>{"Clear", "SpySweeper1", "Clear", "SpySweeper1",
                                                  "Clear", "SpySweeper1", "MonitorOff"}));

  host.monitorOff = true;
  programs.starts = false;
  prompter.answers = {TMsgAnswer::Yes, TMsgAnswer::Ok};
  p.Analyze();
  EXPECT_EQ(prompter.asked.back().text, "Unable to defragment the Registry.");
  EXPECT_EQ(prompter.asked.back().icon, TMsgIcon::Error);
  EXPECT_EQ(Stamp("last_organize"), "");

  programs.starts = true;
  prompter.answers = {TMsgAnswer::Yes, TMsgAnswer::Ok};
  p.Analyze();
  EXPECT_EQ(programs.ran.back(), "C:\\Windows\\command\\scanreg /fix");
  EXPECT_EQ(prompter.asked.back().text, "Registry defragmentation completed.");
  EXPECT_EQ(prompter.asked.back().icon, TMsgIcon::Information);
  EXPECT_EQ(Stamp("last_organize"), "202612091000");
  EXPECT_TRUE(hives.calls.empty());
}

// --- the hive procedure

// The user may leave the dialog open as long as he likes: what is handed to
// Windows is saved after he chose Defragment, so that no registry change of
// that time is lost at the restart.
TEST_F(OptimizerPageTest, DefragmentSavesAgainAfterTheDialog) {
  TOptimizerPageLogic &p = Page();
  dialog.whileOpen = [this] { hives.registryState = 2; };
  prompter.answers = {TMsgAnswer::Yes, TMsgAnswer::No};
  p.Analyze();
  EXPECT_EQ(p.LastAnalyzeEnd(), aeDefragmented);
  EXPECT_EQ(hives.calls,
            (std::vector<std::string>{"Backup", "Compare", "Backup", "Compare", "Restore"}));
  EXPECT_EQ(hives.restoredState, 2);
  EXPECT_EQ(longOperation.captions,
            (std::vector<std::string>{"Analyzing Registry.\r\nPlease wait, this may take several "
                                      "minutes ...",
                                      "Defragmenting Registry. Please wait ..."}));
  ASSERT_EQ(dialog.shown.size(), 1u);
  EXPECT_EQ(dialog.shown[0].usedText, "75%, 750 B");
  EXPECT_EQ(dialog.shown[0].freeText, "25%, 250 B");
  EXPECT_EQ(dialog.shown[0].buttonCaption, "Defragment");
  ASSERT_EQ(prompter.asked.size(), 2u);
  EXPECT_EQ(prompter.asked[1].text,
            "Registry defragmentation completed.\r\nYou must restart Windows for the the changes "
            "to take effect\r\nChanges made to the registry before the restart will be "
            "lost.\r\n\r\nDo you want to restart Windows now (recommended)?");
  EXPECT_EQ(prompter.asked[1].icon, TMsgIcon::Question);
  EXPECT_EQ(restart.restarts, 0) << "answered No";
  EXPECT_EQ(Stamp("last_organize"), "202612091000");
  EXPECT_TRUE(fs.Exists(WorkFolder() + "\\0")) << "the hives Windows loads at the restart";
  // The defragmentation's progress runs forward over both halves.
  for (std::size_t i = 1; i < longOperation.progress.size(); ++i)
    if (longOperation.progress[i].first == longOperation.progress[i - 1].first) {
      EXPECT_GE(longOperation.progress[i].second, longOperation.progress[i - 1].second) << i;
    }
  EXPECT_EQ(longOperation.progress.back(), (std::pair<std::uint64_t, std::uint64_t>{200, 200}));
}

// The same on the model's real hives: a value set while the dialog is open
// is there after the restart.
TEST_F(OptimizerPageTest, AChangeWhileTheDialogIsOpenSurvivesTheRestart) {
  SeedDefragHives(platform);
  TOptimizerPageLogic &p = Page(9, &SystemHiveCalls());
  dialog.whileOpen = [this] {
    ASSERT_TRUE(reg.SetString(View::V64, "HKU\\.DEFAULT\\Software", "WhileOpen", "kept"));
  };
  prompter.answers = {TMsgAnswer::Yes, TMsgAnswer::No};
  p.Analyze();
  SetHiveClock({});
  ASSERT_EQ(p.LastAnalyzeEnd(), aeDefragmented) << prompter.Texts().back();
  ASSERT_EQ(dialog.shown.size(), 1u);
  EXPECT_FALSE(dialog.shown[0].nothingToDo);
  reg.SimulateReboot();
  EXPECT_EQ(reg.GetText(View::V64, "HKU\\.DEFAULT\\Software", "WhileOpen"), "kept");
}

TEST_F(OptimizerPageTest, ACompactRegistryOrACancelReplacesNothing) {
  hives.comparison = {.current = 4096, .backup = 4096, .reason = hcOk};
  TOptimizerPageLogic &p = Page();
  prompter.answers = {TMsgAnswer::Yes};
  p.Analyze();
  ASSERT_EQ(dialog.shown.size(), 1u);
  EXPECT_TRUE(dialog.shown[0].nothingToDo);
  EXPECT_EQ(dialog.shown[0].buttonCaption, "Ok");
  EXPECT_EQ(dialog.shown[0].usedText, "100%, 4 KB");
  EXPECT_EQ(dialog.shown[0].freeText, "0%, 0 B");
  EXPECT_EQ(p.LastAnalyzeEnd(), aeNothingToDo);
  EXPECT_EQ(hives.calls, (std::vector<std::string>{"Backup", "Compare"}));
  EXPECT_FALSE(fs.Exists(WorkFolder()));

  hives.comparison = {.current = 4096, .backup = 1024, .reason = hcOk};
  dialog.defragment = false;
  prompter.answers = {TMsgAnswer::Yes};
  p.Analyze();
  EXPECT_EQ(p.LastAnalyzeEnd(), aeNothingToDo);
  EXPECT_EQ(hives.calls.back(), "Compare");
  EXPECT_FALSE(fs.Exists(WorkFolder()));
  EXPECT_EQ(Stamp("last_organize"), "");
}

struct TFailureCase {
  const char *what;
  std::function<void(HiveCallsFake &, FakeLongOperation &, FakeAnalysisDialog &)> arrange;
  std::string text;
  int code;
  bool folderKept;
};

TEST_F(OptimizerPageTest, EachFailureIsReportedWithItsCode) {
  const std::vector<TFailureCase> cases = {
      {"analysis worker not created",
       [](HiveCallsFake &, FakeLongOperation &op, FakeAnalysisDialog &) { op.notStartedRun = 0; },
       "Registry defragmentation failed:\r\nError code: 1006", 1006, false},
      {"analysis wait failed",
       [](HiveCallsFake &, FakeLongOperation &op, FakeAnalysisDialog &) { op.unfinishedRun = 0; },
       "Registry defragmentation failed:\r\nError code: 1005", 1005, true},
      {"backup failed",
       [](HiveCallsFake &h, FakeLongOperation &, FakeAnalysisDialog &) {
         h.backupOk = false;
         h.backupError = "RegSaveKey: Access is denied.";
       },
       "Registry defragmentation failed:\r\nRegSaveKey: Access is denied.\r\nError code: 1001",
       1001, false},
      {"backup larger",
       [](HiveCallsFake &h, FakeLongOperation &, FakeAnalysisDialog &) {
         h.comparison = {.current = 10, .backup = 20, .reason = hcBackupLarger};
       },
       "Registry defragmentation failed:\r\n\"backup is larger than current registry\"\r\nError "
       "code: 1005",
       1005, false},
      {"restore worker not created",
       [](HiveCallsFake &, FakeLongOperation &op, FakeAnalysisDialog &) { op.notStartedRun = 1; },
       "Registry defragmentation failed:\r\nError code: 1004", 1004, false},
      {"restore wait failed",
       [](HiveCallsFake &, FakeLongOperation &op, FakeAnalysisDialog &) { op.unfinishedRun = 1; },
       "Registry defragmentation failed:\r\nError code: 1003", 1003, true},
      {"restore refused the folder",
       [](HiveCallsFake &h, FakeLongOperation &, FakeAnalysisDialog &) {
         h.restoreOk = false;
         h.replaced = 0;
         h.restoreError = "hivelist.txt: line 2 names no live hive";
       },
       "Registry defragmentation failed:\r\nhivelist.txt: line 2 names no live hive\r\nError "
       "code: 1002",
       1002, false},
      {"restore threw",
       [](HiveCallsFake &h, FakeLongOperation &, FakeAnalysisDialog &) {
         h.onRestore = [] { throw std::runtime_error("out of memory"); };
       },
       "Registry defragmentation failed:\r\nout of memory\r\nError code: 1002", 1002, false},
      // Some hives were handed over: the folder holds the only copy of the
      // old ones and stays.
      {"restore partly done",
       [](HiveCallsFake &h, FakeLongOperation &, FakeAnalysisDialog &) {
         h.restoreOk = false;
         h.replaced = 1;
         h.restoreError = "RegReplaceKey: Access is denied.";
       },
       "Registry defragmentation failed:\r\nRegReplaceKey: Access is denied.\r\nError code: 1002",
       1002, true},
  };
  for (const TFailureCase &c : cases) {
    SCOPED_TRACE(c.what);
    hives = HiveCallsFake(fs);
    longOperation = FakeLongOperation();
    dialog = FakeAnalysisDialog();
    fs.Remove(WorkFolder());
    prompter.asked.clear();
    c.arrange(hives, longOperation, dialog);
    TOptimizerPageLogic &p = Page();
    prompter.answers = {TMsgAnswer::Yes, TMsgAnswer::Ok};
    p.Analyze();
    EXPECT_EQ(p.LastAnalyzeEnd(), aeFailed);
    EXPECT_EQ(p.FailureCode(), c.code);
    ASSERT_EQ(prompter.asked.size(), 2u);
    EXPECT_EQ(prompter.asked[1].text, c.text);
    EXPECT_EQ(prompter.asked[1].icon, TMsgIcon::Error);
    const bool created = c.code != 1006;
    EXPECT_EQ(fs.Exists(WorkFolder()), created && c.folderKept);
    EXPECT_EQ(Stamp("last_organize"), "");
    EXPECT_EQ(restart.restarts, 0);
  }
}

// While replacements wait for the restart, a new run is refused before it
// asks anything, and the folder with the old registry's only copy stays.
TEST_F(OptimizerPageTest, APendingDefragmentationRefusesANewRun) {
  TOptimizerPageLogic &p = Page();
  prompter.answers = {TMsgAnswer::Yes, TMsgAnswer::No};
  p.Analyze();
  ASSERT_EQ(p.LastAnalyzeEnd(), aeDefragmented);
  ASSERT_TRUE(hives.pending);
  hives.calls.clear();
  prompter.asked.clear();

  prompter.answers = {TMsgAnswer::Ok};
  p.Analyze();
  EXPECT_EQ(p.LastAnalyzeEnd(), aePending);
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(prompter.asked[0].text,
            "The registry was defragmented and Windows has not been restarted since.\r\nPlease "
            "restart Windows before you defragment the registry again.");
  EXPECT_TRUE(hives.calls.empty());
  EXPECT_TRUE(fs.Exists(WorkFolder() + "\\0"));
}

TEST_F(OptimizerPageTest, TheAnalysisDialogsNumbers) {
  struct Case {
    std::uint64_t live, compact;
    int used, free, pie;
    bool nothing;
  };
  for (const Case &c : std::vector<Case>{{0, 0, 100, 0, 10000, true},
                                         {0, 500, 100, 0, 10000, true},
                                         {1000, 995, 100, 0, 10000, true}, // 99.5 rounds up
                                         {1000, 994, 99, 1, 10000, false},
                                         {100, 25, 25, 75, 10270, false},
                                         {3, 1, 33, 67, 10240, false}, // 241.2 degrees
                                         {100, 0, 0, 100, 10360, false},
                                         {100, 150, 100, 0, 10000, true}}) {
    const TAnalysisView v = AnalysisViewFor(c.live, c.compact);
    EXPECT_EQ(v.usedPercent, c.used) << c.live << "/" << c.compact;
    EXPECT_EQ(v.freePercent, c.free) << c.live << "/" << c.compact;
    EXPECT_EQ(v.pieResource, c.pie) << c.live << "/" << c.compact;
    EXPECT_EQ(v.nothingToDo, c.nothing) << c.live << "/" << c.compact;
  }
  const TAnalysisView big = AnalysisViewFor(std::uint64_t{6} << 30, std::uint64_t{5} << 30);
  EXPECT_EQ(big.usedText, "83%, 5.00 GB");
  EXPECT_EQ(big.freeText, "17%, 1,024.00 MB");
  EXPECT_EQ(AnalysisViewFor(100, 150).freeText, "0%, 0 B");
}

} // namespace
} // namespace quenlo::test
