// The results list: which summary rows exist and how their backgrounds
// follow expand and collapse, the detail rows' texts, the counters' exact
// wording, the context menu and its actions, the ignore file entries (and
// what the user is told when they cannot be written), and how the list
// follows the scanner's changes.
#include <memory>

#include "PageFakes.h"
#include "PageTestFindings.h"
#include "TestPlatform.h"
#include "app/pages/uResultsModel.h"
#include "app/uEnvironment.h"

namespace quenlo::test {
namespace {

class ResultsModelTest : public MemoryTest {
protected:
  void SetUp() override {
    MemoryTest::SetUp();
    InitEnvironment();
  }
  TRegError &Add(TErrorCategory category, const std::string &key, const std::string &value = "v") {
    FindingFields fields;
    fields.category = category;
    fields.key = key;
    fields.value = value;
    return AddFinding(*scanner, fields);
  }
  std::string IgnoreFile() { return fs.Content(SettingsPath(IgnoreFileTitle)).value_or("<none>"); }

  qp::TMainThread main;
  std::unique_ptr<TRegScanner> scanner = std::make_unique<TRegScanner>(main);
  FakePrompter prompter;
  TResultsListModel model{prompter};
};

TEST_F(ResultsModelTest, CountersSayProblemInTheSingularOnlyForExactlyOne) {
  EXPECT_EQ(ProblemCountText(1, " Found"), "1 Problem Found");
  EXPECT_EQ(ProblemCountText(0, " Selected"), "0 Problems Selected");
  EXPECT_EQ(ProblemCountText(2, " Repaired"), "2 Problems Repaired");
  EXPECT_EQ(ProblemCountText(-1, " Found"), "-1 Problems Found");
}

TEST_F(ResultsModelTest, OnlyGroupsWithProblemsGetRowsAndBackgroundsAlternate) {
  model.Attach(*scanner);
  EXPECT_EQ(model.RowCount(), 0) << "no problems: an empty summary";

  Add(ecCLSIDs, "Software\\C1");       // group 1
  Add(ecContentType, "Software\\T1");  // group 4
  Add(ecWindowsFonts, "Software\\F1"); // groups 0 and 3
  Add(ecAppPaths, "Software\\P1");     // no group
  model.RebuildSummary();
  ASSERT_EQ(model.RowCount(), 4) << "group 2 has no problems";
  const auto &rows = model.SummaryRows();
  EXPECT_EQ(rows[0].group, 0);
  EXPECT_EQ(rows[1].group, 1);
  EXPECT_EQ(rows[2].group, 3);
  EXPECT_EQ(rows[3].group, 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(rows[static_cast<std::size_t>(i)].kind, srGroupCollapsed);
    EXPECT_EQ(rows[static_cast<std::size_t>(i)].background, i % 2 == 0 ? kRowGrey : kRowWhite);
    EXPECT_EQ(model.RowHeight(i), kGroupRowHeight);
  }
  const TSummaryRowText group0 = model.SummaryText(0);
  EXPECT_EQ(group0.name, "Operating System Errors");
  EXPECT_EQ(group0.heading, "Operating System Errors Group");
  EXPECT_EQ(group0.found, 1);
  EXPECT_EQ(model.FoundText(), "4 Problems Found") << "the category of no group counts too";
  EXPECT_EQ(model.TotalSelectedText(), "Total Registry Errors Selected: 4");
  EXPECT_EQ(model.CaptionText(), "Summary");
}

TEST_F(ResultsModelTest, ExpandingTheFirstGroupFlipsTheBackgroundOfTheRowsBelow) {
  Add(ecShellFolders, "Software\\S1");
  Add(ecStartup, "Software\\U1");
  Add(ecStartup, "Software\\U2");
  Add(ecCLSIDs, "Software\\C1");
  model.Attach(*scanner);
  ASSERT_EQ(model.RowCount(), 2);
  ASSERT_EQ(model.SummaryRows()[1].background, kRowWhite);

  model.Select(1);
  model.Activate(0); // Enter on a group row
  const auto &rows = model.SummaryRows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].kind, srGroupExpanded);
  EXPECT_EQ(rows[0].background, kRowGrey);
  EXPECT_EQ(rows[1].category, ecShellFolders) << "category order";
  EXPECT_EQ(rows[2].category, ecStartup);
  EXPECT_EQ(rows[1].background, kRowWhite) << "opposite of the group row";
  EXPECT_EQ(rows[2].background, kRowWhite);
  EXPECT_EQ(rows[3].group, 1);
  EXPECT_EQ(rows[3].background, kRowGrey) << "the second group changes its background";
  EXPECT_EQ(model.Selected(), 0);
  EXPECT_EQ(model.RowHeight(1), kCategoryRowHeight);
  EXPECT_EQ(model.SummaryText(2).name, "Startup");
  EXPECT_EQ(model.SummaryText(2).found, 2);

  EXPECT_TRUE(model.ToggleGroup(0));
  ASSERT_EQ(model.SummaryRows().size(), 2u);
  EXPECT_EQ(model.SummaryRows()[0].kind, srGroupCollapsed);
  EXPECT_EQ(model.SummaryRows()[1].background, kRowWhite);
  EXPECT_FALSE(model.ToggleGroup(5)) << "out of range";
}

TEST_F(ResultsModelTest, FullyExpandedSummaryStaysWithinItsRowLimit) {
  for (int c = 0; c < CategoryCount; ++c)
    Add(static_cast<TErrorCategory>(c), "Software\\K" + std::to_string(c));
  model.Attach(*scanner);
  for (int row = model.RowCount() - 1; row >= 0; --row)
    model.ToggleGroup(row);
  EXPECT_LE(model.RowCount(), kMaxSummaryRows);
  EXPECT_EQ(model.RowCount(), 5 + 23) << "category 16 twice, 8 and 17 nowhere";
}

TEST_F(ResultsModelTest, DetailRowsShowTheProblemAndRememberTheSummaryPlace) {
  Add(ecCLSIDs, "Software\\C0");
  Add(ecStartup, "Software\\Run", "");
  Add(ecStartup, "Software\\Run", "Tool").SetRepaired(true);
  model.Attach(*scanner);
  model.ToggleGroup(0); // group 0 with Startup
  ASSERT_EQ(model.SummaryRows()[1].category, ecStartup);
  EXPECT_FALSE(model.OpenDetails(0)) << "a group row has no details";
  model.Select(1);
  model.SetScrollPosition(40);
  ASSERT_TRUE(model.OpenDetails(1));

  EXPECT_EQ(model.View(), rvDetail);
  EXPECT_EQ(model.RowCount(), 2);
  EXPECT_EQ(model.RowHeight(0), kDetailRowHeight);
  EXPECT_EQ(model.CaptionText(), "Startup");
  EXPECT_EQ(model.FoundText(), "2 Problems Found");
  const TDetailRowText first = model.DetailText(0);
  EXPECT_EQ(first.kindName, "Invalid Path");
  EXPECT_FALSE(first.ignoreMarker);
  EXPECT_EQ(first.description,
            "Value \"(Default)\" contains a path which could not be found: C:\\missing.exe");
  EXPECT_EQ(first.location, "HKEY_LOCAL_MACHINE\\Software\\Run");
  EXPECT_TRUE(first.checked);
  EXPECT_EQ(first.background, kRowGrey);
  const TDetailRowText second = model.DetailText(1);
  EXPECT_TRUE(second.ignoreMarker);
  EXPECT_EQ(second.location, "HKEY_LOCAL_MACHINE\\Software\\Run\\\\:Tool");
  EXPECT_EQ(second.background, kRowWhite);
  EXPECT_EQ(model.DetailText(2).kindName, "") << "past the end";

  model.ToggleChecked(0); // Space
  EXPECT_EQ(model.SelectedText(), "1 Problem Selected");
  EXPECT_FALSE(model.DetailText(0).checked);
  EXPECT_EQ(model.TotalSelectedText(), "Total Registry Errors Selected: 2");

  model.BackToSummary();
  EXPECT_EQ(model.View(), rvSummary);
  EXPECT_EQ(model.Selected(), 1);
  EXPECT_EQ(model.ScrollPosition(), 40);
  EXPECT_EQ(model.SelectedText(), "2 Problems Selected");
  EXPECT_EQ(model.SummaryText(1).selected, 1);
}

TEST_F(ResultsModelTest, TheListFollowsTheScannerAndFallsBackToTheSummary) {
  TRegError &only = Add(ecStartup, "Software\\A");
  Add(ecCLSIDs, "Software\\C");
  model.Attach(*scanner);
  model.ToggleGroup(0);
  ASSERT_TRUE(model.OpenDetails(1));

  Add(ecStartup, "Software\\B");
  EXPECT_EQ(model.View(), rvDetail);
  EXPECT_EQ(model.RowCount(), 2) << "a new problem of the category is a new row";
  EXPECT_EQ(model.SummaryRows().size(), 3u) << "summary rows stay as they are";

  ASSERT_TRUE(scanner->Errors().Delete(scanner->ErrorAt(ecStartup, 1)));
  ASSERT_TRUE(scanner->Errors().Delete(&only));
  EXPECT_EQ(model.View(), rvSummary) << "the shown category became empty";

  scanner->ClearResults();
  EXPECT_EQ(model.RowCount(), 0) << "nothing left to summarise";

  Add(ecStartup, "Software\\D");
  model.RebuildSummary();
  model.ToggleGroup(0);
  ASSERT_TRUE(model.OpenDetails(1));
  scanner.reset();
  EXPECT_EQ(model.View(), rvSummary) << "the scanner went away";
  EXPECT_EQ(model.RowCount(), 0);
  EXPECT_EQ(model.DetailText(0).kindName, "");
  EXPECT_EQ(model.FoundText(), "0 Problems Found");
}

TEST_F(ResultsModelTest, MenuEntriesPerViewAndKind) {
  Add(ecStartup, "Software\\A").SetRepaired(true);
  FindingFields shortcut;
  shortcut.category = ecStartup;
  shortcut.kind = ekInvalidShortcut;
  shortcut.action = raRecycleFile;
  AddFinding(*scanner, shortcut);
  model.Attach(*scanner);

  TResultsMenu summary = model.MenuFor(0);
  EXPECT_TRUE(summary.selectAll && summary.deselectAll);
  EXPECT_TRUE(summary.selectAllInCategory && summary.deselectAllInCategory);
  EXPECT_FALSE(summary.permanentlyIgnoreShown || summary.showKey || summary.shortcutProperties);

  model.ToggleGroup(0);
  ASSERT_TRUE(model.OpenDetails(1));
  TResultsMenu ignored = model.MenuFor(0);
  EXPECT_TRUE(ignored.permanentlyIgnoreShown && ignored.permanentlyIgnoreEnabled);
  EXPECT_TRUE(ignored.permanentlyIgnoreChecked);
  EXPECT_TRUE(ignored.showKey);
  EXPECT_FALSE(ignored.selectAllInCategory);
  TResultsMenu link = model.MenuFor(1);
  EXPECT_FALSE(link.permanentlyIgnoreShown || link.permanentlyIgnoreEnabled || link.showKey);
  EXPECT_FALSE(link.shortcutProperties);
  EXPECT_TRUE(link.selectAll);
}

TEST_F(ResultsModelTest, SelectAllReachesTheViewsOwnProblemsOnly) {
  Add(ecStartup, "Software\\A");
  Add(ecWindowsFonts, "Software\\F"); // groups 0 and 3
  Add(ecCLSIDs, "Software\\C");
  Add(ecInstalledFiles, "Software\\I"); // group 3
  model.Attach(*scanner);

  model.SelectAllInGroup(0, false); // group 0: Startup and fonts
  EXPECT_EQ(scanner->CategoryCheckedCount(ecStartup), 0);
  EXPECT_EQ(scanner->CategoryCheckedCount(ecWindowsFonts), 0);
  EXPECT_EQ(scanner->CategoryCheckedCount(ecInstalledFiles), 1);
  EXPECT_EQ(scanner->CategoryCheckedCount(ecCLSIDs), 1);
  model.SelectAll(false);
  EXPECT_EQ(scanner->CheckedTotal(), 0);
  EXPECT_FALSE(model.RepairEnabled());

  model.ToggleGroup(0);
  ASSERT_TRUE(model.OpenDetails(1)); // Startup
  model.SelectAll(true);
  EXPECT_EQ(scanner->CheckedTotal(), 1);
  EXPECT_TRUE(model.RepairEnabled());
}

TEST_F(ResultsModelTest, IgnoringADefaultValueWritesTheDefaultEntryAndUnmarkingRemovesIt) {
  EXPECT_EQ(IgnoreEntryOf(Add(ecStartup, "Software\\Run", "")),
            "HKLM\\Software\\Run\\\\:(DEFAULT)");
  model.Attach(*scanner);
  model.ToggleGroup(0);
  ASSERT_TRUE(model.OpenDetails(1));

  model.KeyS(0);
  EXPECT_TRUE(scanner->ErrorAt(ecStartup, 0)->Repaired());
  EXPECT_TRUE(model.DetailText(0).ignoreMarker);
  EXPECT_EQ(IgnoreFile(), "[HKLM\\Software\\Run]\r\n(DEFAULT)=\r\n");
  EXPECT_TRUE(model.MenuFor(0).permanentlyIgnoreChecked);

  model.PermanentlyIgnore(0);
  EXPECT_FALSE(scanner->ErrorAt(ecStartup, 0)->Repaired());
  EXPECT_EQ(IgnoreFile(), "") << "the emptied section goes too";
  EXPECT_TRUE(prompter.asked.empty());
}

TEST_F(ResultsModelTest, ARecycleFileProblemIsNeverMarkedNorWritten) {
  FindingFields file;
  file.category = ecStartMenu;
  file.kind = ekInvalidShortcut;
  file.action = raRecycleFile;
  AddFinding(*scanner, file);
  EXPECT_EQ(IgnoreEntryOf(*scanner->ErrorAt(ecStartMenu, 0)), "");
  model.Attach(*scanner);
  model.ToggleGroup(0);
  ASSERT_TRUE(model.OpenDetails(1));
  model.PermanentlyIgnore(0);
  EXPECT_FALSE(scanner->ErrorAt(ecStartMenu, 0)->Repaired());
  EXPECT_EQ(IgnoreFile(), "<none>");
}

TEST_F(ResultsModelTest, AnIgnoreEntryThatCannotBeWrittenIsToldAndLeavesTheMark) {
  Add(ecStartup, "Software\\Run", "Tool");
  model.Attach(*scanner);
  model.ToggleGroup(0);
  ASSERT_TRUE(model.OpenDetails(1));
  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::Move, "ignore.txt", wc::ErrorAccessDenied);
  prompter.answers = {TMsgAnswer::Ok};
  model.PermanentlyIgnore(0);
  EXPECT_FALSE(scanner->ErrorAt(ecStartup, 0)->Repaired()) << "the file does not ignore it";
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(prompter.asked[0].text.rfind("The item could not be added to the ignore list.\r", 0),
            0u)
      << prompter.asked[0].text;
  EXPECT_EQ(prompter.asked[0].icon, TMsgIcon::Error);

  model.PermanentlyIgnore(0);
  ASSERT_TRUE(scanner->ErrorAt(ecStartup, 0)->Repaired());
  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::Move, "ignore.txt", wc::ErrorAccessDenied);
  prompter.answers = {TMsgAnswer::Ok};
  model.PermanentlyIgnore(0);
  EXPECT_TRUE(scanner->ErrorAt(ecStartup, 0)->Repaired()) << "still in the file";
  ASSERT_EQ(prompter.asked.size(), 2u);
  EXPECT_EQ(prompter.asked[1].text.rfind("The item could not be removed from the ignore list.", 0),
            0u);
}

} // namespace
} // namespace quenlo::test
