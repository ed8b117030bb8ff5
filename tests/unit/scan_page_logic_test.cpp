// The scan page: switches from and back to the settings record, the
// tri-state box, a changed selection dropping the old results, the scan
// and stop buttons, the scanning look and the category lines.
#include "PageFakes.h"
#include "PageTestFindings.h"
#include "TestPlatform.h"
#include "app/pages/uScanPageLogic.h"

namespace quenlo::test {
namespace {

class ScanPageTest : public MemoryTest {
protected:
  ScanPageTest() { settings.ScanCategories.fill(true); }
  qp::TMainThread main;
  TRegScanner scanner{main};
  tProgramSettings settings;
};

TEST_F(ScanPageTest, SwitchesComeFromTheRecordAndGoBackOnlyWhenStored) {
  settings.ScanCategories[ecCLSIDs] = false;
  TScanPageLogic page(scanner, settings);
  EXPECT_FALSE(page.Line(ecCLSIDs).checked);
  EXPECT_TRUE(page.Line(ecStartup).checked);
  EXPECT_FALSE(page.CheckedCategories().Contains(ecCLSIDs));
  EXPECT_EQ(page.CheckedCategories().ToBits(), 0x00FFFFF7u);
  EXPECT_EQ(page.CheckAllState(), TCheckState::Mixed);

  page.SetCategoryChecked(ecStartup, false);
  EXPECT_TRUE(settings.ScanCategories[ecStartup]) << "not yet stored";
  page.Hide();
  EXPECT_FALSE(settings.ScanCategories[ecStartup]);

  page.SetCheckAll(false);
  EXPECT_EQ(page.CheckAllState(), TCheckState::Unchecked);
  page.SetCategoryChecked(ecHistoryLists, true);
  EXPECT_EQ(page.CheckAllState(), TCheckState::Mixed);
  page.SetCheckAll(true);
  EXPECT_EQ(page.CheckAllState(), TCheckState::Checked);
  page.Stop();
  EXPECT_TRUE(settings.ScanCategories[ecStartup]);
}

TEST_F(ScanPageTest, AChangedSelectionDropsTheResultsOfTheOldOne) {
  TScanPageLogic page(scanner, settings);
  AddFinding(scanner, {});
  page.SetCategoryChecked(ecTypeLib, false);
  EXPECT_EQ(scanner.ErrorCount(), 0);
  AddFinding(scanner, {});
  page.SetCheckAll(true);
  EXPECT_EQ(scanner.ErrorCount(), 0);
}

TEST_F(ScanPageTest, ScanNowStoresClearsAndTakesTheScanningLookOnlyWhenTheScanStarted) {
  TScanPageLogic page(scanner, settings);
  page.ScanNow(); // no starter yet: nothing happens
  EXPECT_FALSE(page.Scanning());

  int starts = 0;
  bool starts_ok = false;
  page.SetScanStarter([&] {
    ++starts;
    EXPECT_EQ(scanner.ErrorCount(), 0) << "results cleared before the start";
    EXPECT_FALSE(settings.ScanCategories[ecFileTypes]) << "switches stored before the start";
    return starts_ok;
  });
  page.SetCategoryChecked(ecFileTypes, false);
  AddFinding(scanner, {});
  page.SetProgress(60, "HKLM\\Old");
  page.ScanNow();
  EXPECT_EQ(starts, 1);
  EXPECT_FALSE(page.Scanning()) << "the starter refused";
  EXPECT_EQ(page.ProgressPercent(), 0);
  EXPECT_EQ(page.ProgressText(), "");
  EXPECT_TRUE(page.CheckAllShown());

  starts_ok = true;
  page.ScanNow();
  EXPECT_TRUE(page.Scanning());
  EXPECT_TRUE(page.StopShown());
  EXPECT_TRUE(page.ScanningNowShown());
  EXPECT_FALSE(page.CheckAllShown());
  EXPECT_TRUE(page.Line(ecStartup).countShown);
  EXPECT_EQ(page.Line(ecStartup).count, 0);
  EXPECT_FALSE(page.Line(ecStartup).bold);
  EXPECT_EQ(page.Line(ecStartup).icon, ciNone);

  page.SetCategoryLine(ecStartup, {.found = 3, .finished = false});
  EXPECT_EQ(page.Line(ecStartup).count, 3);
  EXPECT_TRUE(page.Line(ecStartup).bold);
  EXPECT_EQ(page.Line(ecStartup).icon, ciNone) << "not finished yet";
  page.SetCategoryLine(ecStartup, {.found = 3, .finished = true});
  EXPECT_EQ(page.Line(ecStartup).icon, ciProblems);
  page.SetCategoryLine(ecCLSIDs, {.found = 0, .finished = true});
  EXPECT_EQ(page.Line(ecCLSIDs).icon, ciClean);
  page.SetProgress(140, "HKLM\\Software");
  EXPECT_EQ(page.ProgressPercent(), 100);
  EXPECT_EQ(page.ProgressText(), "HKLM\\Software");

  page.SetScanningLook(false);
  EXPECT_FALSE(page.StopShown());
  EXPECT_TRUE(page.CheckAllShown());
  EXPECT_EQ(page.Line(ecStartup).count, 3) << "counts stay shown after the scan";
  EXPECT_EQ(page.Line(ecStartup).icon, ciProblems);
}

TEST_F(ScanPageTest, HoveringALineShowsItsDescription) {
  TScanPageLogic page(scanner, settings);
  EXPECT_EQ(page.DescriptionText(), "");
  page.Hover(ecAppIDs);
  EXPECT_EQ(page.DescriptionText(),
            "Confirms the validity of the AppIDs. The AppIDs group the configuration options for "
            "distributed COM objects into a centralized location. Invalid entries are removed.");
  page.Hover(24);
  EXPECT_EQ(page.DescriptionText(), "");
}

} // namespace
} // namespace quenlo::test
