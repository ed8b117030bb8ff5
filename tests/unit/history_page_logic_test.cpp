// The history page's logic driven through the real engine, whose category
// handlers are replaced by fakes over a small table of findings: the
// passes behind each command, the progress mapping, the summary, detail
// and clean-result lists, the applications check, and what the page says
// after a clean (not removed, files in use, deletion at restart).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "PageFakes.h"
#include "TestPlatform.h"
#include "app/pages/uHistoryPageLogic.h"
#include "app/pages/uPages.h"
#include "app/uEnvironment.h"
#include "app/uSettings.h"

namespace quenlo::test {
namespace {

using namespace std::chrono_literals;

// What a clean does to a category's findings.
enum TFakeClean : std::uint8_t {
  fcRemove,       // removes them all
  fcAccessDenied, // removes none, each a failure
  fcLocked,       // the whole category fails: its database is locked
  fcKeepOne,      // removes all but the first, kept as in use
};

// The fake machine the handlers work on. Set by the test before a pass,
// read and changed by the worker during it, read again after it.
struct TFakeMachine {
  std::array<std::vector<TCleanItem>, kCleanCategoryCount> found;
  std::array<TFakeClean, kCleanCategoryCount> clean{};
  std::array<bool, kCleanCategoryCount> analysisLocked{}; // the analysis fails: locked
  std::vector<std::string> filesInUse;                    // recorded by every clean pass
  bool explorerRestartFailed = false;
  std::vector<bool> deleteDownloadsSeen; // per clean pass
  std::atomic<bool> entered{false};      // the blocking handler runs
};
TFakeMachine *gMachine = nullptr;

void FakeHandler(TCleanPass &pass) {
  const TCleanCategory c = pass.Current();
  std::vector<TCleanItem> &items = gMachine->found[c];
  if (pass.Reporting()) {
    if (gMachine->analysisLocked[c]) {
      pass.FailCategory(c, std::string(kReasonLocked));
      return;
    }
    for (const TCleanItem &item : items)
      pass.AddItem(c, item.Name, item.Size);
    pass.MarkFound(c);
    return;
  }
  gMachine->deleteDownloadsSeen.push_back(pass.DeleteDownloadedFiles);
  for (const std::string &file : gMachine->filesInUse)
    pass.AddFileInUse(file);
  gMachine->filesInUse.clear();
  if (gMachine->explorerRestartFailed)
    pass.SetExplorerRestartFailed(true);
  switch (gMachine->clean[c]) {
  case fcRemove:
    items.clear();
    break;
  case fcAccessDenied:
    for (const TCleanItem &item : items)
      pass.AddFailure(c, item.Name, std::string(kReasonAccessDenied));
    break;
  case fcLocked:
    pass.FailCategory(c, std::string(kReasonLocked));
    break;
  case fcKeepOne:
    if (!items.empty()) {
      pass.AddKept(c, items.front().Name, std::string(kReasonInUse));
      items.resize(1);
    }
    break;
  }
  pass.MarkFound(c);
}

// Runs until the pass is stopped.
void BlockingHandler(TCleanPass &pass) {
  gMachine->entered = true;
  while (!pass.Terminated())
    std::this_thread::sleep_for(1ms);
  pass.AddItem(pass.Current(), "late", 1);
}

class FakeHistoryServices final : public IHistoryServices {
public:
  bool BrowserRunning(const std::string &exeName) override {
    asked.push_back(exeName);
    return running.count(exeName) > 0;
  }
  long DeleteAtRestart(const std::string &path) override {
    scheduled.push_back(path);
    const auto it = statusOf.find(path);
    return it == statusOf.end() ? 0 : it->second;
  }
  std::set<std::string> running;
  std::map<std::string, long> statusOf; // 0 for any other path
  std::vector<std::string> asked, scheduled;
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

class HistoryPageTest : public MemoryTest {
protected:
  HistoryPageTest() {
    gMachine = &machine;
    for (std::size_t c = 0; c < kCleanCategoryCount; ++c)
      cleaner.SetHandler(static_cast<TCleanCategory>(c), FakeHandler);
  }
  ~HistoryPageTest() override {
    page.reset();
    WindowsVersion = savedVersion;
  }

  // A new page over the settings as they are now.
  void MakePage() {
    page.reset();
    page = std::make_unique<THistoryPageLogic>(THistoryPageDeps{.prompter = prompter,
                                                                .commands = commands,
                                                                .services = services,
                                                                .restart = restart,
                                                                .cleaner = cleaner,
                                                                .settings = settings});
    page->OnChanged = [this] {
      if (page->Scanning())
        progress.emplace_back(page->SummaryState(), page->Progress());
    };
  }

  // Ticks exactly these categories (no uninstallers among them).
  void Tick(std::initializer_list<TCleanCategory> categories) {
    if (page->CheckAllState() != TCheckState::Unchecked)
      page->ClickCheckAll();
    if (page->CheckAllState() != TCheckState::Unchecked)
      page->ClickCheckAll();
    for (TCleanCategory c : categories)
      page->SetChecked(c, true);
  }

  void Find(TCleanCategory c, std::vector<TCleanItem> items, TFakeClean clean = fcRemove) {
    machine.found[c] = std::move(items);
    machine.clean[c] = clean;
  }

  // Serves the main thread until the page's passes have all ended.
  bool Finish() {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (page->Scanning() && std::chrono::steady_clock::now() < deadline)
      mainThread.PumpWait(1ms);
    mainThread.Pump();
    return !page->Scanning();
  }

  std::vector<int> ProgressIn(THistorySummaryState state) const {
    std::vector<int> values;
    for (const auto &[s, p] : progress)
      if (s == state)
        values.push_back(p);
    return values;
  }

  std::vector<std::intptr_t> Navigation() const {
    std::vector<std::intptr_t> values;
    for (const auto &[command, lParam] : commands.posted)
      if (command == mcEnableWindow)
        values.push_back(lParam);
    return values;
  }

  static std::vector<std::string> Sections(const std::vector<THistoryRow> &rows) {
    std::vector<std::string> texts;
    for (const THistoryRow &row : rows)
      texts.push_back(row.section + "|" + row.count + "|" + row.size);
    return texts;
  }

  const int savedVersion = WindowsVersion;
  TFakeMachine machine;
  qp::TMainThread mainThread;
  TSysCleaner cleaner{mainThread};
  FakePrompter prompter;
  FakeCommandQueue commands;
  FakeHistoryServices services;
  FakeWindowsRestart restart;
  tProgramSettings settings;
  std::unique_ptr<THistoryPageLogic> page;
  std::vector<std::pair<THistorySummaryState, int>> progress;
};

// --- the category page (no pass runs)

class HistoryPage : public HistoryPageTest {
protected:
  void SetUp() override {
    HistoryPageTest::SetUp();
    MakePage();
  }
};

TEST_F(HistoryPage, CheckAllIsTriStateAndTheButtonsNeedATickedBox) {
  Tick({});
  EXPECT_EQ(page->CheckAllState(), TCheckState::Unchecked);
  EXPECT_FALSE(page->AnalyzeEnabled());
  EXPECT_FALSE(page->CleanEnabled());

  page->SetChecked(ccTempFiles, true);
  EXPECT_EQ(page->CheckAllState(), TCheckState::Mixed);
  EXPECT_TRUE(page->AnalyzeEnabled());
  EXPECT_TRUE(page->CleanEnabled());
  EXPECT_FALSE(page->StopEnabled());

  // Clicking the greyed box clears everything, as a three-state box goes
  // from greyed to empty.
  page->ClickCheckAll();
  EXPECT_EQ(page->CheckAllState(), TCheckState::Unchecked);
  EXPECT_FALSE(page->Checked(ccTempFiles));

  // From empty it ticks every box, the uninstallers too (with their warning).
  prompter.answers = {TMsgAnswer::Ok};
  page->ClickCheckAll();
  EXPECT_EQ(page->CheckAllState(), TCheckState::Checked);
  EXPECT_TRUE(page->Checked(ccHotFixes));
  EXPECT_TRUE(page->Checked(ccASPassword));
  ASSERT_EQ(prompter.asked.size(), 1u);

  page->ClickCheckAll();
  EXPECT_EQ(page->CheckAllState(), TCheckState::Unchecked);
}

TEST_F(HistoryPage, TickingTheUninstallersWarnsAndTheBoxStays) {
  Tick({});
  prompter.answers = {TMsgAnswer::Ok};
  page->SetChecked(ccHotFixes, true);
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(prompter.asked[0].text,
            "Update Uninstallers will be deleted. However, you will no longer be able to "
            "uninstall corresponding software components.");
  EXPECT_EQ(prompter.asked[0].icon, TMsgIcon::Warning);
  EXPECT_TRUE(page->Checked(ccHotFixes));

  // Clearing it, or ticking another box, says nothing.
  page->SetChecked(ccHotFixes, false);
  page->SetChecked(ccIISLogFiles, true);
  EXPECT_EQ(prompter.asked.size(), 1u);
}

TEST_F(HistoryPage, TheBoxesComeFromTheSettingsAndGoBackIntoThem) {
  ASSERT_TRUE(settings.Clean.Set("RunMenuHistory", false));
  ASSERT_TRUE(settings.Clean.Set("IECookies", true));
  settings.DeleteDownloadedFiles = true;
  MakePage();
  EXPECT_FALSE(page->Checked(ccRunMenuHistory));
  EXPECT_TRUE(page->Checked(ccIECookies));
  EXPECT_TRUE(page->Checked(ccTempFiles)); // a default
  EXPECT_TRUE(page->DeleteDownloadedFiles());

  page->SetChecked(ccRunMenuHistory, true);
  page->SetChecked(ccGCHistory, false);
  page->SetDeleteDownloadedFiles(false);
  page->StoreState();
  EXPECT_EQ(settings.Clean.Get("RunMenuHistory"), true);
  EXPECT_EQ(settings.Clean.Get("GCHistory"), false);
  EXPECT_EQ(settings.Clean.Get("IECookies"), true);
  EXPECT_FALSE(settings.DeleteDownloadedFiles);
}

// --- passes through the engine

class ThreadedHistoryPage : public HistoryPageTest {
protected:
  void SetUp() override {
    HistoryPageTest::SetUp();
    MakePage();
  }
};

TEST_F(ThreadedHistoryPage, AnAnalysisShowsItsSummaryWithTheFigures) {
  Tick({ccRunMenuHistory, ccTempFiles, ccGCCache});
  Find(ccRunMenuHistory, {{"cmd", 0}, {"regedit", 0}});
  Find(ccTempFiles, {{"a.tmp", 2048}, {"b.tmp", 1024}});
  page->Analyze();
  EXPECT_TRUE(page->Scanning());
  EXPECT_EQ(page->ProgressText(), kHistoryAnalyzingText);
  ASSERT_TRUE(Finish());

  EXPECT_EQ(page->SubPage(), hpSummary);
  EXPECT_EQ(page->SummaryState(), hsAnalysisShown);
  EXPECT_EQ(page->SummaryTitle(), "History Analysis Summary");
  // Chrome's cache found nothing: no row. Run Menu adds no sizes.
  EXPECT_EQ(Sections(page->Rows()), (std::vector<std::string>{"Run Menu|2|", "Temp Files|2|3 KB"}));
  EXPECT_TRUE(page->FiguresVisible());
  EXPECT_EQ(page->TotalFilesText(), "4");
  EXPECT_EQ(page->SpaceFreedText(), "3 KB");
  EXPECT_EQ(Navigation(), (std::vector<std::intptr_t>{0, 1}));
  EXPECT_TRUE(prompter.asked.empty());
}

TEST_F(ThreadedHistoryPage, AnAnalysisThatFindsNothingStaysOnTheCategoryPage) {
  Tick({ccRunMenuHistory});
  prompter.answers = {TMsgAnswer::Ok};
  page->Analyze();
  ASSERT_TRUE(Finish());
  EXPECT_EQ(page->SubPage(), hpCategories);
  EXPECT_EQ(page->SummaryState(), hsIdle);
  EXPECT_EQ(prompter.Texts(), std::vector<std::string>{"There is no history found."});
  EXPECT_EQ(prompter.asked[0].icon, TMsgIcon::Information);
  EXPECT_EQ(Navigation(), (std::vector<std::intptr_t>{0, 1}));
}

// A browser that holds its database while the user analyses: "nothing
// found" must not hide that the category could not be read.
TEST_F(ThreadedHistoryPage, AnAnalysisThatCouldNotReadACategoryNamesIt) {
  Tick({ccRunMenuHistory, ccFFCookies});
  machine.analysisLocked[ccFFCookies] = true;
  prompter.answers = {TMsgAnswer::Ok};
  page->Analyze();
  ASSERT_TRUE(Finish());
  EXPECT_EQ(page->SubPage(), hpCategories);
  EXPECT_EQ(prompter.Texts(), std::vector<std::string>{"There is no history found.\r\r"
                                                       "These items could not be analysed:\r\r"
                                                       "Firefox: Cookies: database is locked\r\n"});
  EXPECT_EQ(prompter.asked[0].icon, TMsgIcon::Warning);

  // With findings elsewhere the summary comes, and the warning after it.
  Find(ccRunMenuHistory, {{"cmd", 0}});
  prompter.answers = {TMsgAnswer::Ok};
  page->Analyze();
  ASSERT_TRUE(Finish());
  EXPECT_EQ(page->SubPage(), hpSummary);
  ASSERT_EQ(prompter.asked.size(), 2u);
  EXPECT_EQ(prompter.asked[1].text, "These items could not be analysed:\r\r"
                                    "Firefox: Cookies: database is locked\r\n");
}

TEST_F(ThreadedHistoryPage, TheClipboardShowsSizesInItsDetailsButNotInTheSummary) {
  Tick({ccWindowsClipboard});
  Find(ccWindowsClipboard, {{"CF_TEXT", 2048}, {"CF_BITMAP", 4096}});
  page->Analyze();
  ASSERT_TRUE(Finish());
  EXPECT_EQ(Sections(page->Rows()), std::vector<std::string>{"Clipboard|2|"});
  EXPECT_EQ(page->SpaceFreedText(), "0 B");

  page->OpenRow(0);
  EXPECT_EQ(page->SummaryView(), hvDetail);
  EXPECT_EQ(page->SummaryTitle(), "Clipboard Details");
  EXPECT_EQ(page->Columns(), (std::vector<std::string>{"Clipboard Format", "Size"}));
  EXPECT_EQ(Sections(page->Rows()),
            (std::vector<std::string>{"..||", "CF_TEXT||2 KB", "CF_BITMAP||4 KB"}));

  page->OpenRow(1); // a finding opens nothing
  EXPECT_EQ(page->SummaryView(), hvDetail);
  page->OpenRow(0); // ".." returns
  EXPECT_EQ(page->SummaryView(), hvAnalysis);
  EXPECT_EQ(page->Columns(), (std::vector<std::string>{"Section", "Count", "Size"}));

  page->OpenRow(0);
  page->Back(); // Back in a detail view returns to the summary too
  EXPECT_EQ(page->SummaryView(), hvAnalysis);
  EXPECT_EQ(page->SubPage(), hpSummary);
  page->Back();
  EXPECT_EQ(page->SubPage(), hpCategories);
  EXPECT_EQ(page->SummaryState(), hsIdle);
  EXPECT_EQ(page->Before().totalCount, 0);
}

TEST_F(ThreadedHistoryPage, ACleanFromTheCategoryPageMapsItsThreePassesOntoOneBar) {
  Tick({ccRunMenuHistory, ccTempFiles, ccGCCache, ccOBHistory});
  Find(ccRunMenuHistory, {{"cmd", 0}});
  prompter.answers = {TMsgAnswer::Ok};
  page->CleanFromCategoryPage();
  EXPECT_EQ(page->CleanOrigin(), hoCategoryPage);
  EXPECT_EQ(page->ProgressText(), kHistoryCleaningText);
  ASSERT_TRUE(Finish());

  // Four categories: each pass moves in quarters of its share, and a pass
  // starts where the one before it left the bar.
  EXPECT_EQ(ProgressIn(hsAnalyzingBeforeClean), (std::vector<int>{0, 6, 12, 18, 25}));
  EXPECT_EQ(ProgressIn(hsCleaning), (std::vector<int>{25, 37, 50, 62, 75}));
  EXPECT_EQ(ProgressIn(hsAnalyzingAfterClean), (std::vector<int>{75, 81, 87, 93, 100}));
  EXPECT_EQ(prompter.Texts(), std::vector<std::string>{"Clean history completed."});
  EXPECT_EQ(Navigation(), (std::vector<std::intptr_t>{0, 1}));
  EXPECT_FALSE(page->ProgressVisible());
}

TEST_F(ThreadedHistoryPage, ACleanFromTheSummaryCountsAgainstTheShownAnalysis) {
  Tick({ccRunMenuHistory, ccTempFiles, ccGCCache, ccOBHistory});
  Find(ccRunMenuHistory, {{"cmd", 0}, {"calc", 0}, {"regedit", 0}});
  Find(ccTempFiles, {{"a.tmp", 5000}});
  page->Analyze();
  ASSERT_TRUE(Finish());
  progress.clear();

  prompter.answers = {TMsgAnswer::Ok};
  page->CleanFromSummaryPage();
  EXPECT_EQ(page->CleanOrigin(), hoSummaryPage);
  EXPECT_EQ(page->ProgressPlace(), ppSummaryPage);
  EXPECT_FALSE(page->SummaryListEnabled());
  ASSERT_TRUE(Finish());

  // No analysis before the clean: two thirds for it, one for the last.
  EXPECT_TRUE(ProgressIn(hsAnalyzingBeforeClean).empty());
  EXPECT_EQ(ProgressIn(hsCleaning), (std::vector<int>{0, 16, 33, 50, 66}));
  EXPECT_EQ(ProgressIn(hsAnalyzingAfterClean), (std::vector<int>{66, 74, 82, 91, 99}));

  EXPECT_EQ(page->SummaryView(), hvCleanResult);
  EXPECT_EQ(page->SummaryTitle(), "History Clean Result");
  EXPECT_FALSE(page->FiguresVisible());
  EXPECT_EQ(Sections(page->Rows()), (std::vector<std::string>{"Run Menu|3|", "Temp Files|1|4 KB",
                                                              "||", "Total:|4 Items|4 KB"}));
  EXPECT_TRUE(page->Rows()[2].separator);
  EXPECT_TRUE(page->Rows()[3].bold);
  EXPECT_FALSE(page->Rows()[0].bold);
  page->OpenRow(0); // no details of a clean result
  EXPECT_EQ(page->SummaryView(), hvCleanResult);
  EXPECT_EQ(Navigation(), (std::vector<std::intptr_t>{0, 1, 0, 1}));
}

TEST_F(ThreadedHistoryPage, APartlyCleanedCategoryCountsOnlyWhatWent) {
  Tick({ccTempFiles, ccIECache});
  Find(ccTempFiles, {{"a.tmp", 100}, {"b.tmp", 200}, {"c.tmp", 300}}, fcKeepOne);
  Find(ccIECache, {{"x.htm", 10}});
  prompter.answers = {TMsgAnswer::Ok};
  page->CleanFromCategoryPage();
  ASSERT_TRUE(Finish());
  EXPECT_EQ(page->Before().count[ccTempFiles], 3);
  EXPECT_EQ(page->After().count[ccTempFiles], 1);
  EXPECT_EQ(
      Sections(page->Rows()),
      (std::vector<std::string>{"Temp Files|2|500 B", "Internet Explorer: Temporary Files|1|10 B",
                                "||", "Total:|3 Items|510 B"}));
}

TEST_F(ThreadedHistoryPage, NothingRemovedSaysWhatAndWhyNotThatNothingWasFound) {
  Tick({ccRunMenuHistory, ccFFVisitedURLHistory});
  Find(ccRunMenuHistory, {{"cmd", 0}, {"calc", 0}}, fcAccessDenied);
  Find(ccFFVisitedURLHistory, {}, fcLocked);
  prompter.answers = {TMsgAnswer::Ok};
  page->CleanFromCategoryPage();
  ASSERT_TRUE(Finish());
  EXPECT_EQ(prompter.Texts(), std::vector<std::string>{"No history could be removed.\r\r"
                                                       "These items could not be removed:\r\r"
                                                       "Run Menu: access denied\r\n"
                                                       "Firefox: History: database is locked\r\n"});
  EXPECT_EQ(prompter.asked[0].icon, TMsgIcon::Warning);
  EXPECT_EQ(page->SubPage(), hpCategories);
  EXPECT_EQ(Navigation(), (std::vector<std::intptr_t>{0, 1}));
}

TEST_F(ThreadedHistoryPage, ALockedBrowserIsListedAfterTheCompletedClean) {
  Tick({ccRunMenuHistory, ccGCHistory});
  Find(ccRunMenuHistory, {{"cmd", 0}});
  Find(ccGCHistory, {{"https://example.org/", 0}}, fcLocked);
  services.running.clear();
  prompter.answers = {TMsgAnswer::Ok};
  page->CleanFromCategoryPage();
  ASSERT_TRUE(Finish());
  EXPECT_EQ(prompter.Texts(), std::vector<std::string>{"Clean history completed.\r\r"
                                                       "These items could not be removed:\r\r"
                                                       "Chrome: History: database is locked\r\n"});
  // The locked category is in the result with nothing removed.
  EXPECT_EQ(Sections(page->Rows())[1], "Chrome: History|0|0 B");
}

TEST_F(ThreadedHistoryPage, FiveFilesInUseAreListedSixOnlyCounted) {
  Tick({ccIECache});
  Find(ccIECache, {{"x.htm", 10}});
  machine.filesInUse = {"C:\\a\\b\\index.dat", "C:\\c\\1.log", "C:\\c\\2.log", "C:\\d\\3.log",
                        "C:\\e\\4.log"};
  prompter.answers = {TMsgAnswer::Yes};
  page->CleanFromCategoryPage();
  ASSERT_TRUE(Finish());
  const std::string offer = "Quenlo can delete them after you reboot your system.\r\rDo you want "
                            "to restart Windows now and delete files mentioned above?";
  EXPECT_EQ(prompter.Texts(),
            std::vector<std::string>{"Clean history completed.\rHowever, folowing files are used "
                                     "by other applications:\r\r- \\b\\index.dat\r\n- "
                                     "\\c\\1.log\r\n- \\c\\2.log\r\n- \\d\\3.log\r\n- "
                                     "\\e\\4.log\r\n\r\n" +
                                     offer});
  EXPECT_EQ(prompter.asked[0].buttons, TMsgButtons::YesNo);
  EXPECT_EQ(prompter.asked[0].icon, TMsgIcon::Question);
  EXPECT_EQ(services.scheduled.size(), 5u);
  EXPECT_EQ(restart.restarts, 1);

  // Six are only counted, and No leaves them.
  page->Back();
  Find(ccIECache, {{"x.htm", 10}});
  machine.filesInUse = {"C:\\f\\1", "C:\\f\\2", "C:\\f\\3", "C:\\f\\4", "C:\\f\\5", "C:\\f\\6"};
  prompter.asked.clear();
  prompter.answers = {TMsgAnswer::No};
  page->CleanFromCategoryPage();
  ASSERT_TRUE(Finish());
  EXPECT_EQ(prompter.Texts(), std::vector<std::string>{"Clean history completed.\rHowever, 6 files "
                                                       "are used by other applications.\r\r" +
                                                       offer});
  EXPECT_EQ(services.scheduled.size(), 5u);
  EXPECT_EQ(restart.restarts, 1);
}

// Marking for deletion needs administrator rights: what could not be
// marked is named, and Windows restarts only for files that were.
TEST_F(ThreadedHistoryPage, OnlyFilesMarkedForDeletionAreWorthARestart) {
  Tick({ccIECache});
  for (const bool oneMarked : {false, true}) {
    SCOPED_TRACE(oneMarked);
    page->Back();
    Find(ccIECache, {{"x.htm", 10}});
    machine.filesInUse = {"C:\\a\\index.dat", "C:\\b\\index.dat"};
    services.statusOf = {{"C:\\b\\index.dat", 5}};
    if (!oneMarked)
      services.statusOf["C:\\a\\index.dat"] = 5;
    const std::string notMarked = std::string(kHistoryNotScheduled) +
                                  (oneMarked ? "" : "C:\\a\\index.dat: access denied\r\n") +
                                  "C:\\b\\index.dat: access denied\r\n\r";
    restart.succeeds = false;
    restart.restarts = 0;
    prompter.asked.clear();
    prompter.answers = {TMsgAnswer::Yes, oneMarked ? TMsgAnswer::Yes : TMsgAnswer::Ok,
                        TMsgAnswer::Ok};
    page->CleanFromCategoryPage();
    ASSERT_TRUE(Finish());
    if (!oneMarked) {
      ASSERT_EQ(prompter.asked.size(), 2u);
      EXPECT_EQ(prompter.asked[1].text,
                notMarked + "No file could be marked for deletion, so Windows is not restarted.");
      EXPECT_EQ(prompter.asked[1].icon, TMsgIcon::Error);
      EXPECT_EQ(restart.restarts, 0);
      prompter.answers.clear();
      continue;
    }
    ASSERT_EQ(prompter.asked.size(), 3u);
    EXPECT_EQ(prompter.asked[1].text, notMarked + kHistoryRestartForScheduled);
    EXPECT_EQ(prompter.asked[1].buttons, TMsgButtons::YesNo);
    EXPECT_EQ(restart.restarts, 1);
    EXPECT_EQ(prompter.asked[2].text, "Can not restart Windows. Please do it manually.");
    EXPECT_EQ(prompter.asked[2].icon, TMsgIcon::Error);
  }
}

TEST_F(ThreadedHistoryPage, TheExplorerNoticeFollowsOnXpAndLater) {
  WindowsVersion = 6;
  Tick({ccTrayIconHistory});
  Find(ccTrayIconHistory, {{"icon", 0}});
  machine.explorerRestartFailed = true;
  prompter.answers = {TMsgAnswer::Ok, TMsgAnswer::Ok};
  page->CleanFromCategoryPage();
  ASSERT_TRUE(Finish());
  ASSERT_EQ(prompter.asked.size(), 2u);
  EXPECT_EQ(prompter.asked[1].text.rfind("Tray Icon History is cleared. However, you will need", 0),
            0u);
  EXPECT_EQ(prompter.asked[1].icon, TMsgIcon::Warning);

  WindowsVersion = 5; // Windows 2000
  Find(ccTrayIconHistory, {{"icon", 0}});
  machine.explorerRestartFailed = true;
  prompter.asked.clear();
  prompter.answers = {TMsgAnswer::Ok};
  page->Back();
  page->CleanFromCategoryPage();
  ASSERT_TRUE(Finish());
  EXPECT_EQ(prompter.Texts(), std::vector<std::string>{"Clean history completed."});
  EXPECT_EQ(Sections(page->Rows()),
            (std::vector<std::string>{"Tray Icon History|1|", "||", "Total:|1 Item|0 B"}));
}

TEST_F(ThreadedHistoryPage, TheDownloadedFilesSwitchReachesTheEngineBeforeEachClean) {
  Tick({ccFFDownloadHistory});
  Find(ccFFDownloadHistory, {{"setup.exe", 10}});
  page->SetDeleteDownloadedFiles(true);
  prompter.answers = {TMsgAnswer::Ok};
  page->CleanFromCategoryPage();
  ASSERT_TRUE(Finish());
  EXPECT_TRUE(settings.DeleteDownloadedFiles); // stored when Clean was pressed

  page->Back();
  page->SetDeleteDownloadedFiles(false);
  Find(ccFFDownloadHistory, {{"setup.exe", 10}});
  prompter.answers = {TMsgAnswer::Ok};
  page->CleanFromCategoryPage();
  ASSERT_TRUE(Finish());
  EXPECT_EQ(machine.deleteDownloadsSeen, (std::vector<bool>{true, false}));
}

// --- the applications check

TEST_F(ThreadedHistoryPage, RetryChecksAgainAndIgnoreCleansWithTheBrowserRunning) {
  Tick({ccRunMenuHistory, ccFFCache, ccASHistory});
  Find(ccRunMenuHistory, {{"cmd", 0}});
  services.running = {"firefox.exe", "safari.exe", "chrome.exe"};
  prompter.answers = {TMsgAnswer::Retry, TMsgAnswer::Ignore, TMsgAnswer::Ok};
  prompter.onAsk = [&](const TPrompt &) { services.running.erase("safari.exe"); };
  page->CleanFromCategoryPage();
  ASSERT_TRUE(Finish());
  ASSERT_EQ(prompter.asked.size(), 3u);
  // Chrome runs but no Chrome category is ticked: it is neither asked about
  // nor named.
  const std::string close = "The following applications should be closed before you continue:\r\r";
  EXPECT_EQ(prompter.asked[0].text, close + "Mozilla Firefox\rApple Safari");
  EXPECT_EQ(prompter.asked[0].buttons, TMsgButtons::AbortRetryIgnore);
  EXPECT_EQ(prompter.asked[0].icon, TMsgIcon::Warning);
  EXPECT_EQ(prompter.asked[1].text, close + "Mozilla Firefox\r"); // checked again
  EXPECT_EQ(prompter.asked[2].text, "Clean history completed.");
  EXPECT_TRUE(machine.found[ccRunMenuHistory].empty());
  EXPECT_EQ(std::count(services.asked.begin(), services.asked.end(), "chrome.exe"), 0);
}

TEST_F(ThreadedHistoryPage, AbortLeavesTheShownAnalysisAsItWas) {
  Tick({ccRunMenuHistory, ccIECache});
  Find(ccRunMenuHistory, {{"cmd", 0}});
  page->Analyze();
  ASSERT_TRUE(Finish());
  const std::vector<std::string> rows = Sections(page->Rows());

  services.running = {"iexplore.exe"};
  prompter.answers = {TMsgAnswer::Abort};
  page->CleanFromSummaryPage();
  EXPECT_FALSE(page->Scanning());
  EXPECT_EQ(page->SummaryState(), hsAnalysisShown);
  EXPECT_EQ(page->CleanOrigin(), hoAnalysisOnly);
  EXPECT_EQ(Sections(page->Rows()), rows);
  EXPECT_EQ(machine.found[ccRunMenuHistory].size(), 1u);       // nothing cleaned
  EXPECT_EQ(Navigation(), (std::vector<std::intptr_t>{0, 1})); // only the analysis's
}

// --- stopping

TEST_F(ThreadedHistoryPage, StopDuringAPassReturnsWithNavigationOnAndNoCompletion) {
  Tick({ccRunMenuHistory, ccTempFiles});
  Find(ccRunMenuHistory, {{"cmd", 0}});
  cleaner.SetHandler(ccTempFiles, BlockingHandler);
  page->CleanFromCategoryPage(); // the analysis before the clean blocks
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!machine.entered && std::chrono::steady_clock::now() < deadline)
    mainThread.PumpWait(1ms);
  ASSERT_TRUE(machine.entered);
  EXPECT_TRUE(page->StopEnabled());
  // The clean that follows must handle what this analysis lists: the boxes
  // take no change meanwhile.
  EXPECT_FALSE(page->BoxesEnabled());
  page->SetChecked(ccTempFiles, false);
  page->ClickCheckAll();
  EXPECT_TRUE(page->Checked(ccTempFiles));
  EXPECT_TRUE(page->Checked(ccRunMenuHistory));

  page->StopClean();
  mainThread.Pump();
  EXPECT_FALSE(page->Scanning());
  EXPECT_FALSE(cleaner.Running());
  EXPECT_EQ(page->SubPage(), hpCategories);
  EXPECT_EQ(page->SummaryState(), hsIdle);
  EXPECT_EQ(page->ProgressPlace(), ppCategoryPage);
  EXPECT_FALSE(page->ProgressVisible());
  EXPECT_EQ(Navigation(), (std::vector<std::intptr_t>{0, 1}));
  // No clean followed, and no message.
  EXPECT_EQ(machine.found[ccRunMenuHistory].size(), 1u);
  EXPECT_TRUE(machine.deleteDownloadsSeen.empty());
  mainThread.PumpWait(20ms);
  EXPECT_TRUE(prompter.asked.empty());
  EXPECT_TRUE(page->AnalyzeEnabled());
}

} // namespace
} // namespace quenlo::test
