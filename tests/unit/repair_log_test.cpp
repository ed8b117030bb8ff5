// The repair log and the failure list as files (escaping, encoding,
// appending without truncating, replacing through a rename), and the
// results page's repair loop that writes them: its exact lines, the
// commands around it, the record of the repair count, and a loop whose
// list is cleared under it while it pumps messages.
#include <stdexcept>

#include "PageFakes.h"
#include "PageTestFindings.h"
#include "RegeditFake.h"
#include "TestPlatform.h"
#include "app/pages/uRepairLog.h"
#include "app/pages/uResultsPageLogic.h"
#include "app/uEnvironment.h"
#include "app/uSettings.h"

namespace quenlo::test {
namespace {

using qp::mem::MemoryFileSystem;
using qp::mem::View;

class RepairLogTest : public MemoryTest {
protected:
  void SetUp() override {
    MemoryTest::SetUp();
    InitEnvironment();
  }
  std::string Log() { return fs.Content(SettingsPath(RepairLogTitle)).value_or("<none>"); }
};

TEST_F(RepairLogTest, NamesAreEscapedAndNeverUsedAsAFormat) {
  EXPECT_EQ(HtmlEscape("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e&#39;f");
  EXPECT_EQ(RepairLogLocationLine("HKLM\\Software\\<script>\\\\:%s%n"),
            "HKLM\\Software\\&lt;script&gt;\\\\:%s%n<br>");
  EXPECT_EQ(RepairLogCategoryLine("Fonts & Co"), "<b>Fonts &amp; Co</b><br>");
}

TEST_F(RepairLogTest, ANewLogDeclaresUtf8AndAppendingKeepsWhatWasThere) {
  const std::string path = SettingsPath(RepairLogTitle);
  ASSERT_TRUE(AppendToLog(path, "<b>Startup</b><br>"));
  const std::string first = Log();
  EXPECT_EQ(first.rfind(RepairLogHead(), 0), 0u);
  EXPECT_NE(first.find("<meta charset=\"utf-8\">"), std::string::npos);
  ASSERT_TRUE(AppendToLog(path, "Schl\xC3\xBC"
                                "ssel<br>"));
  EXPECT_EQ(Log(), first + "Schl\xC3\xBCssel<br>\r\n") << "appended, head not repeated";

  // An old log without the head is appended to as it is.
  ASSERT_EQ(fs.WriteFile(path, "old line\r\n"), 0);
  ASSERT_TRUE(AppendToLog(path, "new<br>"));
  EXPECT_EQ(Log(), "old line\r\nnew<br>\r\n");
}

TEST_F(RepairLogTest, ALogThatCannotBeLookedAtOrAppendedToIsLeftAsItWas) {
  const std::string path = SettingsPath(RepairLogTitle);
  ASSERT_TRUE(AppendToLog(path, "kept<br>"));
  const std::string before = Log();
  fs.InjectFailure(MemoryFileSystem::Op::Attributes, "repairs.htm", wc::ErrorAccessDenied);
  EXPECT_FALSE(AppendToLog(path, "lost<br>"));
  EXPECT_EQ(Log(), before) << "a log that cannot be looked at is never started again";
  fs.InjectFailure(MemoryFileSystem::Op::Append, "repairs.htm", wc::ErrorDiskFull);
  EXPECT_FALSE(AppendToLog(path, "lost<br>"));
  EXPECT_EQ(Log(), before) << "a failed append adds nothing";
}

TEST_F(RepairLogTest, TheFailureListReplacesTheFileOnlyThroughARename) {
  const std::string path = SettingsPath(FailureListTitle);
  ASSERT_TRUE(WriteFailureFile(path, "first"));
  EXPECT_EQ(fs.Content(path).value_or(""), "first\r\n");
  fs.InjectFailure(MemoryFileSystem::Op::Move, "cantremove", wc::ErrorAccessDenied);
  EXPECT_FALSE(WriteFailureFile(path, "second"));
  EXPECT_EQ(fs.Content(path).value_or(""), "first\r\n") << "the old list stays whole";
  EXPECT_FALSE(HasTemporaryFile(fs.List(qp::FolderOf(path)))) << "no temporary file left behind";
  fs.InjectFailure(MemoryFileSystem::Op::Write, "cantremove", wc::ErrorDiskFull);
  EXPECT_FALSE(WriteFailureFile(path, "third"));
  ASSERT_TRUE(WriteFailureFile(path, "fourth"));
  EXPECT_EQ(fs.Content(path).value_or(""), "fourth\r\n");
}

class FakeShowKey final : public IShowKey {
public:
  bool ShowKeyInRegedit(const std::string &name) override {
    shown.push_back(name);
    return exists;
  }
  bool exists = true;
  std::vector<std::string> shown;
};

class ResultsPageTest : public RepairLogTest {
protected:
  void SetUp() override {
    RepairLogTest::SetUp();
    reg.SetReflectionQueryStatus(wc::ErrorCallNotImplemented);
    scanner.SetUndoFolder("C:\\Undo");
    commands.run = [this](int command, std::intptr_t) -> std::intptr_t {
      if (command == mcClearResults)
        scanner.ClearResults();
      return 0;
    };
  }
  TRegError &Finding(const std::string &key, TErrorCategory category = ecStartup) {
    reg.SetString(View::V64, "HKLM\\Software\\" + key, "v", "1");
    FindingFields fields;
    fields.category = category;
    fields.key = "Software\\" + key;
    fields.data = "data of " + key;
    return AddFinding(scanner, fields);
  }

  RegeditFake editor{platform};
  qp::TMainThread main;
  TRegScanner scanner{main};
  FakePrompter prompter;
  FakeCommandQueue commands;
  FakeShowKey showKey;
  TResultsPageLogic page{scanner, prompter, commands, showKey};
};

TEST_F(ResultsPageTest, ThreeSelectedOneFailingGivesTheLogTheFailureListAndTheRecord) {
  Finding("A");
  Finding("B");
  Finding("C");
  Finding("Off").SetChecked(false);
  reg.InjectFailure(qp::mem::RegOp::DeleteValue, "Software\\B", wc::ErrorAccessDenied);
  Settings().total_error_repaired = 5;
  ASSERT_TRUE(SaveSettings());
  page.ShowResults();
  int progressSeen = -1;
  commands.Post(mcRepaint, 0); // pumped before the loop starts
  auto run = commands.run;
  commands.run = [&](int command, std::intptr_t lParam) -> std::intptr_t {
    if (command == mcRepaint) {
      EXPECT_TRUE(page.ProgressShown());
      EXPECT_EQ(page.ProgressMax(), 3);
      progressSeen = page.ProgressPosition();
    }
    return run(command, lParam);
  };

  const TRepairPageResult result = page.RepairSelected();
  EXPECT_EQ(progressSeen, 0);
  EXPECT_FALSE(result.aborted);
  EXPECT_EQ(result.run.repaired, 2);
  EXPECT_EQ(result.failures, 1);
  EXPECT_EQ(result.run.categories[ecStartup].found, 4);
  EXPECT_EQ(result.run.categories[ecStartup].leftAlone, 1);
  EXPECT_EQ(result.run.categories[ecStartup].repaired, 2);
  EXPECT_EQ(page.ProgressPosition(), 3);
  EXPECT_GE(commands.pumps, 4) << "before the loop and after each problem";

  EXPECT_EQ(Log(), RepairLogHead() +
                       "<b>Startup</b><br>\r\n"
                       "HKLM\\Software\\A\\\\:v<br>\r\nHKLM\\Software\\C\\\\:v<br>\r\n");
  EXPECT_EQ(page.FailureText().rfind("\r\ndata of B\r\nHKLM\\Software\\B\\\\:v\r\nInvalid Path\r\n"
                                     "Value \"v\" contains a path which could not be found: "
                                     "C:\\missing.exe\r\n",
                                     0),
            0u)
      << page.FailureText();
  EXPECT_EQ(page.FailureText().substr(page.FailureText().size() - 4), "\r\n\r\n");
  const std::string block = page.FailureText();
  ASSERT_TRUE(page.WriteFailureList());
  EXPECT_EQ(fs.Content(SettingsPath(FailureListTitle)).value_or(""), block + "\r\n");
  EXPECT_FALSE(page.WriteFailureList()) << "nothing left to write";

  // Commands: window off first, results dropped, window on last.
  ASSERT_FALSE(commands.posted.empty());
  EXPECT_EQ(commands.posted[1], std::make_pair(int(mcEnableWindow), std::intptr_t{2}));
  EXPECT_EQ(commands.posted.back(), std::make_pair(int(mcEnableWindow), std::intptr_t{7}));
  EXPECT_EQ(commands.sent, (std::vector<std::pair<int, std::intptr_t>>{{mcClearResults, 0}}));
  EXPECT_EQ(scanner.ErrorCount(), 0);
  EXPECT_EQ(page.Model().Scanner(), nullptr) << "detached";
  EXPECT_FALSE(page.Repairing());
  EXPECT_TRUE(page.Enabled());
  EXPECT_FALSE(page.ProgressShown());
  EXPECT_TRUE(page.RefreshPending());

  ASSERT_TRUE(LoadSettings());
  EXPECT_EQ(Settings().last_repair, 2);
  EXPECT_EQ(Settings().total_error_repaired, 7);
  EXPECT_EQ(Settings().last_scan.size(), 12u);
}

TEST_F(ResultsPageTest, IgnoredProblemsAreLeftAloneAndARunWithoutRepairsRecordsNothing) {
  Finding("A").SetRepaired(true);
  Finding("B");
  reg.InjectFailure(qp::mem::RegOp::DeleteValue, "Software\\B", wc::ErrorAccessDenied);
  Settings().last_repair = 9;
  ASSERT_TRUE(SaveSettings());
  const TRepairPageResult result = page.RepairSelected();
  EXPECT_EQ(result.run.categories[ecStartup].leftAlone, 2);
  EXPECT_EQ(result.run.repaired, 0);
  EXPECT_EQ(scanner.ErrorCount(), 0) << "results dropped even when every repair failed";
  ASSERT_TRUE(LoadSettings());
  EXPECT_EQ(Settings().last_repair, 9);
  EXPECT_EQ(Log(), RepairLogHead() + "<b>Startup</b><br>\r\n");
}

TEST_F(ResultsPageTest, AListClearedWhileTheLoopPumpsEndsTheLoopCleanly) {
  Finding("A");
  Finding("B");
  Finding("C");
  // While the window is being disabled a command arrives that drops the
  // results; it runs in the pump after the first repair.
  commands.run = [this](int command, std::intptr_t lParam) -> std::intptr_t {
    if (command == mcEnableWindow && lParam == kEnableWindowRepairStart)
      commands.Post(mcRepaint, 0);
    if (command == mcRepaint || command == mcClearResults)
      scanner.ClearResults();
    return 0;
  };

  const TRepairPageResult result = page.RepairSelected();
  EXPECT_TRUE(result.aborted);
  EXPECT_EQ(result.abortText, "The list of problems changed during the repair.");
  EXPECT_EQ(result.run.repaired, 1) << "only the first repair ran";
  EXPECT_TRUE(reg.ValueExists(View::V64, "HKLM\\Software\\B", "v"));
  EXPECT_EQ(commands.sent, (std::vector<std::pair<int, std::intptr_t>>{{mcClearResults, 0}}));
  EXPECT_EQ(commands.posted.back(), std::make_pair(int(mcEnableWindow), std::intptr_t{7}));
  EXPECT_TRUE(page.Enabled());
  EXPECT_FALSE(page.Repairing());
  ASSERT_TRUE(LoadSettings());
  EXPECT_EQ(Settings().last_repair, 1) << "the repairs done are recorded";
}

TEST_F(ResultsPageTest, ShowKeyAsksWithTheCautionAndTellsAMissingKey) {
  Finding("A");
  FindingFields shortcut;
  shortcut.kind = ekInvalidShortcut;
  shortcut.action = raRecycleFile;
  AddFinding(scanner, shortcut);
  page.ShowResults();
  page.Model().ToggleGroup(0);
  ASSERT_TRUE(page.Model().OpenDetails(1));

  prompter.answers = {TMsgAnswer::Cancel};
  page.ShowKey(0);
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(prompter.asked[0].text,
            "CAUTION\rYou are about to directly enter the System Registry. This area is meant "
            "for use by experts only. Changes made here could render your system inoperable. If "
            "you proceed we recommend making a backup first. Do you wish to proceed?");
  EXPECT_EQ(prompter.asked[0].buttons, TMsgButtons::OkCancel);
  EXPECT_TRUE(showKey.shown.empty());

  prompter.answers = {TMsgAnswer::Ok};
  page.ShowKey(0);
  EXPECT_EQ(showKey.shown, (std::vector<std::string>{"HKEY_LOCAL_MACHINE\\Software\\A\\\\:v"}));
  EXPECT_EQ(prompter.asked.size(), 2u);

  showKey.exists = false;
  prompter.answers = {TMsgAnswer::Ok, TMsgAnswer::Ok};
  page.ShowKey(0);
  EXPECT_EQ(prompter.Texts().back(), "Registry key does not exist.");
  page.ShowKey(1); // a shortcut has no key
  EXPECT_EQ(prompter.asked.size(), 4u);
}

TEST_F(ResultsPageTest, BackLeavesTheDetailsThenTheResultsKeepingThem) {
  Finding("A");
  page.ShowResults();
  page.Model().ToggleGroup(0);
  ASSERT_TRUE(page.Model().OpenDetails(1));
  page.Back();
  EXPECT_EQ(page.Model().View(), rvSummary);
  EXPECT_TRUE(commands.posted.empty());
  page.Back();
  EXPECT_EQ(commands.posted,
            (std::vector<std::pair<int, std::intptr_t>>{{mcShowScanKeepResults, 0}}));
  EXPECT_EQ(page.Model().Scanner(), nullptr);
  EXPECT_EQ(scanner.ErrorCount(), 1);
}

} // namespace
} // namespace quenlo::test
