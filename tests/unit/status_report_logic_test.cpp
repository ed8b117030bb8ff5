// The status page's health rating and counters, statistics read back from
// a damaged settings file, the repair report's rows and scroll metrics,
// and the tray notice's text, placement and check box.
#include "PageFakes.h"
#include "TestPlatform.h"
#include "app/pages/uReportPageLogic.h"
#include "app/pages/uStatusPageLogic.h"
#include "app/pages/uTrayNoticeLogic.h"
#include "app/uEnvironment.h"
#include "app/uSettings.h"

namespace quenlo::test {
namespace {

std::string StatsWith(const std::string &first, const std::string &second = "5,0",
                      const std::string &rest = "5,0") {
  std::string text = first + ";" + second;
  for (int c = 2; c < CategoryCount; ++c)
    text += ";" + rest;
  return text;
}

class StatusPageTest : public MemoryTest {
protected:
  void SetUp() override {
    MemoryTest::SetUp();
    InitEnvironment();
  }
  qp::TMainThread main;
  TRegScanner scanner{main};
  tProgramSettings settings;
  FakeCommandQueue commands;
  TStatusPageLogic page{scanner, settings, commands};
};

TEST_F(StatusPageTest, LevelsTextsAndColoursAtTheirBoundaries) {
  struct Case {
    int value;
    const char *text;
    THealthLevel level;
    std::uint32_t colour;
    THealthGauge gauge;
  };
  for (const Case &c : {Case{-7, "Unknown", hlUnknown, 0xD80000, hgPoor},
                        Case{0, "Poor 0%", hlPoor, 0xD80000, hgPoor},
                        Case{41, "Poor 41%", hlPoor, 0xD80000, hgPoor},
                        Case{42, "Moderate 42%", hlModerate, 0xFFAE00, hgModerate},
                        Case{84, "Moderate 84%", hlModerate, 0xFFAE00, hgModerate},
                        Case{85, "Good 85%", hlGood, 0x00A800, hgGood},
                        Case{250, "Good 100%", hlGood, 0x00A800, hgGood}}) {
    const THealthDisplay d = HealthDisplayFor(c.value);
    EXPECT_EQ(d.text, c.text) << c.value;
    EXPECT_EQ(d.level, c.level) << c.value;
    EXPECT_EQ(d.colour, c.colour) << c.value;
    EXPECT_EQ(d.gauge, c.gauge) << c.value;
    EXPECT_EQ(d.noScanNote, c.level == hlUnknown) << c.value;
  }
}

TEST_F(StatusPageTest, AFreshInstallIsUnknownWithNoScan) {
  scanner.StatsFromText("");
  page.Refresh();
  EXPECT_EQ(page.Health().text, "Unknown");
  EXPECT_TRUE(page.Health().noScanNote);
  EXPECT_EQ(page.Counters().lastScan, "No");
  EXPECT_EQ(page.Counters().problemsFound, 0);
  EXPECT_EQ(page.Counters().repairedToDate, 0);
  page.ScanNow();
  EXPECT_EQ(commands.posted, (std::vector<std::pair<int, std::intptr_t>>{{mcClearAndScan, 0}}));
}

TEST_F(StatusPageTest, RepairsRaiseTheFigureCategoryByCategory) {
  scanner.StatsFromText(StatsWith("10,10"));
  page.Refresh();
  EXPECT_EQ(page.Health().text, "Poor 0%");
  scanner.StatsFromText(StatsWith("10,3"));
  page.Refresh();
  EXPECT_EQ(page.Health().text, "Moderate 70%");
  scanner.StatsFromText(StatsWith("10,0"));
  page.Refresh();
  EXPECT_EQ(page.Health().text, "Good 100%");
  scanner.StatsFromText(StatsWith("10,1", "10,1"));
  page.Refresh();
  EXPECT_EQ(page.Health().text, "Moderate 81%");
}

TEST_F(StatusPageTest, DamagedStatisticsCannotLeaveTheRange) {
  scanner.StatsFromText(StatsWith("10,20"));
  EXPECT_EQ(scanner.RemainingCount(0), 10);
  EXPECT_EQ(scanner.HealthPercent(), 0) << "not -100";
  scanner.StatsFromText(StatsWith("1,2", "1,2", "1,2"));
  EXPECT_EQ(scanner.HealthPercent(), 0) << "24 factors of -1 must not read 100";
  scanner.StatsFromText(StatsWith("10,-4"));
  EXPECT_EQ(scanner.RemainingCount(0), 0);
  EXPECT_EQ(scanner.HealthPercent(), 100);
  scanner.StatsFromText(StatsWith("-1,3"));
  EXPECT_EQ(scanner.RemainingCount(0), 0);
  EXPECT_EQ(scanner.HealthPercent(), -1) << "a category never completed";
}

TEST_F(StatusPageTest, CountersComeFromTheRecordAndAnInvalidStampReadsNo) {
  settings.last_scan = "202612091030";
  settings.last_err = 4;
  settings.last_repair = 3;
  settings.total_error_found = 40;
  settings.total_error_repaired = 30;
  page.Refresh();
  EXPECT_EQ(page.Counters().lastScan, FormatStamp("202612091030", true));
  EXPECT_NE(page.Counters().lastScan, "");
  EXPECT_EQ(page.Counters().problemsFound, 4);
  EXPECT_EQ(page.Counters().problemsRepaired, 3);
  EXPECT_EQ(page.Counters().foundToDate, 40);
  EXPECT_EQ(page.Counters().repairedToDate, 30);
  for (const char *stamp : {"202613451030", "garbage", "2026"}) {
    settings.last_scan = stamp;
    page.Refresh();
    EXPECT_EQ(page.Counters().lastScan, "No") << stamp;
  }
}

TEST_F(StatusPageTest, ReportRowsCountersAndScrollMetrics) {
  TReportPageLogic report(settings);
  report.Show();
  EXPECT_EQ(report.LastScanText(), "n/a");
  settings.last_scan = "202612091030";
  settings.last_err = 1;
  report.Show();
  EXPECT_EQ(report.LastScanText(), FormatStamp("202612091030", true));
  EXPECT_EQ(report.FoundText(), "1 Problem Found");

  std::array<service::TCategoryRepairSummary, CategoryCount> rows{};
  rows[ecStartup] = {.found = 3, .leftAlone = 1, .repaired = 2};
  report.ShowReport(3, 2, rows);
  EXPECT_EQ(report.RepairedText(), "2 Problems Repaired");
  EXPECT_EQ(report.Rows()[ecStartup].name, "Startup");
  EXPECT_EQ(report.Rows()[ecStartup].found, 3);
  EXPECT_EQ(report.Rows()[ecStartup].leftAlone, 1);
  EXPECT_EQ(report.Rows()[ecStartup].repaired, 2);
  EXPECT_EQ(report.Rows()[ecHistoryLists].name, "History Lists");
  EXPECT_EQ(report.HeaderText(2), "Ignored");

  TReportScroll fits = report.Layout(13, 600); // 24 x 21 = 504 <= 575
  EXPECT_EQ(fits.rowPitch, 21);
  EXPECT_FALSE(fits.barShown);
  EXPECT_EQ(report.Layout(13, 529).barShown, false) << "exactly the panel minus 25";
  TReportScroll bar = report.Layout(13, 300);
  EXPECT_TRUE(bar.barShown);
  EXPECT_EQ(bar.maximum, 504 - 300 + 25);
  EXPECT_EQ(bar.pageStep, 229 / 5);
  report.Wheel(-2);
  EXPECT_EQ(report.ScrollPosition(), 16);
  report.Wheel(-100);
  EXPECT_EQ(report.ScrollPosition(), 229);
  report.Layout(13, 600);
  EXPECT_EQ(report.ScrollPosition(), 0) << "kept in range when the bar goes";
}

TEST(TrayNotice, TextAndFixButton) {
  EXPECT_EQ(TrayNoticeText(1), "Your PC has 1 unresolved problem.");
  EXPECT_EQ(TrayNoticeText(0), "Your PC has 0 unresolved problems.");
  EXPECT_EQ(TrayNoticeText(12), "Your PC has 12 unresolved problems.");
  EXPECT_FALSE(TrayNoticeFixShown(0));
  EXPECT_EQ(TrayNoticeTextShift(0), 10);
  EXPECT_TRUE(TrayNoticeFixShown(1));
  EXPECT_EQ(TrayNoticeTextShift(1), 0);
}

TEST(TrayNotice, PlacedByTheTaskbarInsideTheWorkAreaOfItsMonitor) {
  TNoticePlacementInput in;
  in.screenHeight = 768;
  in.noticeWidth = 300;
  in.noticeHeight = 100;
  in.taskbarFound = true;
  // Along the bottom: bottom-right corner.
  in.taskbar = {0, 728, 1024, 768};
  in.workArea = {0, 0, 1024, 728};
  EXPECT_EQ(TrayNoticePlacement(in), (TNoticePoint{724, 628}));
  // Along the top: right end, under the taskbar.
  in.taskbar = {0, 0, 1024, 40};
  in.workArea = {0, 40, 1024, 768};
  EXPECT_EQ(TrayNoticePlacement(in), (TNoticePoint{724, 40}));
  // Along the left edge: beside it, at the bottom.
  in.taskbar = {0, 0, 60, 768};
  in.workArea = {60, 0, 1024, 768};
  EXPECT_EQ(TrayNoticePlacement(in), (TNoticePoint{60, 668}));
  // No taskbar: bottom-right corner.
  in.taskbarFound = false;
  EXPECT_EQ(TrayNoticePlacement(in), (TNoticePoint{724, 668}));

  // A second monitor to the right: its work area does not start at 0, and
  // a corner taken from its width would land on the first monitor.
  in.taskbarFound = true;
  in.screenHeight = 1080;
  in.taskbar = {1920, 1040, 3840, 1080};
  in.workArea = {1920, 0, 3840, 1040};
  EXPECT_EQ(TrayNoticePlacement(in), (TNoticePoint{3540, 940}));
  // A taskbar along the top of a monitor above the first (negative top).
  in.taskbar = {0, -1080, 1920, -1040};
  in.workArea = {0, -1040, 1920, 0};
  EXPECT_EQ(TrayNoticePlacement(in), (TNoticePoint{1620, -1040}));
  // Along the left edge, a taskbar wider than the room beside it.
  in.screenHeight = 768;
  in.taskbar = {0, 0, 900, 768};
  in.workArea = {900, 0, 1024, 768};
  const TNoticePoint squeezed = TrayNoticePlacement(in);
  EXPECT_EQ(squeezed.left, 900) << "a notice wider than the work area keeps its left edge in it";
  EXPECT_EQ(squeezed.top, 668);
}

TEST_F(StatusPageTest, TheNoticeBoxReloadsTheFileBeforeSaving) {
  ASSERT_TRUE(LoadSettings());
  std::string error;
  // Another page changed the file after this record was loaded.
  ASSERT_TRUE(SetSettingText(SectionSettings, "last_err", "17", &error)) << error;
  Settings().last_err = 3;
  ASSERT_TRUE(SaveDoNotShowNotice(true, &error)) << error;
  std::string value;
  ASSERT_TRUE(GetSettingText(SectionSettings, "last_err", value, &error)) << error;
  EXPECT_EQ(value, "17");
  ASSERT_TRUE(GetSettingText(SectionSettings, "DoNotShowNoticeOnDelayedStart", value, &error));
  ASSERT_TRUE(LoadSettings());
  EXPECT_TRUE(Settings().DoNotShowNoticeOnDelayedStart);
}

} // namespace
} // namespace quenlo::test
