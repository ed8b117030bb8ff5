// The settings page's logic on the in-memory platform with fakes for the
// window: what Show puts on the page, that every change reaches the file
// (and a change the file did not take is reported and not shown), the
// limits and the letter case of both lists against the file as it is now,
// the event number's whole numbers, the automatic start put back when it
// cannot be applied, and the prompts of the full backup and its restore.
#include <string>
#include <vector>

#include "PageFakes.h"
#include "SettingsPageFakes.h"
#include "TestPlatform.h"
#include "app/pages/uSettingsPageLogic.h"
#include "app/uEnvironment.h"
#include "app/uIgnoreLists.h"
#include "app/uSettings.h"
#include "optimizer/uHiveBackup.h"
#include "service/uFullBackup.h"

namespace quenlo::test {
namespace {

using FsOp = qp::mem::MemoryFileSystem::Op;

constexpr const char *kKeyA = "HKEY_CURRENT_USER\\Software\\Alpha";
constexpr const char *kKeyB = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Beta";

class SettingsPageTest : public MemoryTest {
protected:
  void SetUp() override {
    MemoryTest::SetUp();
    InitEnvironment();
  }

  TSettingsPageLogic &Page() {
    page = std::make_unique<TSettingsPageLogic>(TSettingsPageDeps{
        .prompter = prompter,
        .commands = commands,
        .keys = keys,
        .autoStart = autoStart,
        .fullBackup = fullBackup,
        .longOperation = longOperation,
        .host = host,
        .restart = restart,
    });
    page->OnChanged = [this] { ++changes; };
    return *page;
  }
  TSettingsPageLogic &Shown() {
    Page().Show();
    return *page;
  }

  static std::string IniPath() { return SettingsPath(SettingsFileTitle); }
  static std::string IgnorePath() { return SettingsPath(IgnoreFileTitle); }
  void WriteIni(const std::string &text) {
    fs.AddFile(IniPath(), text);
    ASSERT_TRUE(LoadSettings());
  }
  std::string Ini() const { return fs.Content(IniPath()).value_or("<missing>"); }
  std::string Ignore() const { return fs.Content(IgnorePath()).value_or("<missing>"); }
  // What the file holds now, read as the program reads it.
  std::string Stored(const char *key) {
    std::string value;
    EXPECT_TRUE(GetSettingText(SectionSettings, key, value));
    return value;
  }
  static tProgramSettings FromFile(const std::string &text) {
    TIniFile ini;
    ini.SetText(text);
    tProgramSettings settings;
    ReadSettingsFromIni(settings, ini);
    return settings;
  }
  tProgramSettings File() const { return FromFile(Ini()); }
  // Another copy of the program, or quenlo-cli, writing the file.
  void ElsewhereSetMonitoredKeys(const std::vector<std::string> &list) {
    tProgramSettings mine = Settings();
    Settings().MonitoredKeys = list;
    ASSERT_TRUE(SaveSettings());
    Settings() = mine;
  }
  static std::vector<std::string> NumberedKeys(int count) {
    std::vector<std::string> list;
    for (int i = 0; i < count; ++i)
      list.push_back("HKEY_CURRENT_USER\\Software\\K" + std::to_string(i));
    return list;
  }
  std::vector<std::string> Sent22() const {
    std::vector<std::string> sent;
    for (const auto &[command, lParam] : commands.sent)
      sent.push_back(std::to_string(command) + "/" + std::to_string(lParam));
    return sent;
  }
  std::vector<std::string> IgnoreTexts(TIgnoreRowKind kind) const {
    std::vector<std::string> texts;
    for (const TIgnoreRow &row : page->IgnoreRows())
      if (row.kind == kind)
        texts.push_back(row.key);
    return texts;
  }
  int IgnoreRowOf(TIgnoreRowKind kind, const std::string &key) const {
    const auto &rows = page->IgnoreRows();
    for (std::size_t i = 0; i < rows.size(); ++i)
      if (rows[i].kind == kind && rows[i].key == key)
        return static_cast<int>(i);
    return -1;
  }
  const TPrompt &LastPrompt() const { return prompter.asked.back(); }

  FakePrompter prompter;
  FakeCommandQueue commands;
  FakeKeySelector keys;
  FakeAutoStart autoStart;
  FakeFullBackup fullBackup;
  FakeLongOperation longOperation;
  FakeRestoreHost host;
  FakeWindowsRestart restart;
  std::unique_ptr<TSettingsPageLogic> page;
  int changes = 0;
};

using SettingsPageShow = SettingsPageTest;
using SettingsPageAutoStart = SettingsPageTest;
using SettingsPageOptions = SettingsPageTest;
using SettingsPageIgnoreList = SettingsPageTest;
using SettingsPageMonitor = SettingsPageTest;
using SettingsPageFullBackup = SettingsPageTest;

// --- show, hide, tabs

TEST_F(SettingsPageShow, ShowPutsTheFileOnThePageWithTheListsInTheirOrder) {
  WriteIni("[settings]\r\nBackupBeforeScan=0\r\nFullBackupOnlyOnceWeek=0\r\nAutoAction=1\r\n"
           "AutoFreq=3\r\nMonitorPrompt=25\r\n[scan]\r\nCleanAfterScan=1\r\n"
           "[SkippedKeys]\r\nHKEY_CURRENT_USER\\Software\\Skip=1\r\n"
           "HKEY_CURRENT_USER\\Software\\a=b=1\r\n"
           "[MonitoredKeys]\r\n" +
           std::string(kKeyA) + "=\r\n" + kKeyB + "=\r\n");
  fs.AddFile(IgnorePath(), "[HKEY_CURRENT_USER\\Software\\Whole]\r\n\r\n"
                           "[HKEY_CURRENT_USER\\Software\\Values]\r\nName=\r\n(DEFAULT)=\r\n");
  TSettingsPageLogic &p = Shown();
  EXPECT_FALSE(p.BackupBeforeScan());
  EXPECT_FALSE(p.FullBackupWeekly());
  EXPECT_TRUE(p.CleanAfterScan());
  EXPECT_FALSE(p.CleanSafeAfterScan());
  EXPECT_EQ(p.Action(), aaScanAndRepair);
  EXPECT_EQ(p.Frequency(), 3);
  EXPECT_TRUE(p.FrequencyVisible());
  EXPECT_FALSE(p.SaveEnabled());
  EXPECT_EQ(p.MonitorPrompt(), 25);
  EXPECT_FALSE(p.RestoreVisible());
  EXPECT_GT(changes, 0);
  EXPECT_TRUE(prompter.asked.empty());

  EXPECT_EQ(IgnoreTexts(irAll), (std::vector<std::string>{
                                    "HKEY_CURRENT_USER\\Software\\Whole",
                                    "HKEY_CURRENT_USER\\Software\\Values\\\\:Name",
                                    "HKEY_CURRENT_USER\\Software\\Values\\\\:",
                                }));
  // The name is what the writer puts before the value: the text before
  // the last "=".
  EXPECT_EQ(IgnoreTexts(irIgnoreList),
            (std::vector<std::string>{"HKEY_CURRENT_USER\\Software\\Skip",
                                      "HKEY_CURRENT_USER\\Software\\a=b"}));
  const auto &rows = p.IgnoreRows();
  ASSERT_EQ(rows.size(), 3 + PermanentIgnoreKeyCount + 2);
  for (std::size_t i = 0; i < PermanentIgnoreKeyCount; ++i) {
    EXPECT_EQ(rows[3 + i].kind, irPermanent);
    EXPECT_EQ(rows[3 + i].key, PermanentIgnoreKeys[i]);
  }
  EXPECT_EQ(rows.back().kind, irIgnoreList);
  EXPECT_STREQ(IgnoreRowKindText(rows.front().kind), "All");
  EXPECT_STREQ(IgnoreRowKindText(irPermanent), "Permanent");
  EXPECT_STREQ(IgnoreRowKindText(irIgnoreList), "Ignore List");
  EXPECT_EQ(p.IgnoreRowToSelect(), -1);
  EXPECT_EQ(p.MonitoredKeys(), (std::vector<std::string>{kKeyA, kKeyB}));

  // Out-of-range choices read as the first ones; "restore" follows the
  // backup's list file.
  WriteIni("[settings]\r\nAutoAction=7\r\nAutoFreq=-2\r\n");
  fs.AddFile(service::FullBackupFolder() + "\\" + kHiveListFile, "list");
  p.Show();
  EXPECT_EQ(p.Action(), aaDisabled);
  EXPECT_EQ(p.Frequency(), 0);
  EXPECT_FALSE(p.FrequencyVisible());
  EXPECT_TRUE(p.RestoreVisible());
}

TEST_F(SettingsPageShow, AnUnreadableFileIsReportedAndNeverReplaced) {
  WriteIni("[settings]\r\nMonitorPrompt=25\r\n");
  const std::string before = Ini();
  fs.InjectFailure(FsOp::Read, "quenlo.ini", wc::ErrorSharingViolation, 100);
  prompter.answers = {TMsgAnswer::Ok, TMsgAnswer::Ok};
  TSettingsPageLogic &p = Shown();
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(prompter.asked[0].text.rfind(kSettingsNotRead, 0), 0u) << prompter.asked[0].text;
  EXPECT_EQ(prompter.asked[0].icon, TMsgIcon::Error);
  EXPECT_FALSE(p.SetMonitorPromptText("40"));
  EXPECT_EQ(prompter.asked.size(), 2u);
  EXPECT_EQ(Ini(), before);
}

TEST_F(SettingsPageShow, HideStoresTheFourBoxesOverWhatOthersChanged) {
  WriteIni("[settings]\r\nMonitorPrompt=25\r\n");
  TSettingsPageLogic &p = Page();
  p.Hide(); // never shown: nothing is stored
  EXPECT_EQ(Ini(), "[settings]\r\nMonitorPrompt=25\r\n");

  p.Show();
  p.SetCleanAfterScan(true);
  p.SetCleanSafeAfterScan(true);
  EXPECT_FALSE(File().CleanAfterScan) << "the hidden boxes wait for the hide";
  ASSERT_TRUE(SetSettingText(SectionSettings, "MonitorPrompt", "77"));
  p.Hide();
  EXPECT_TRUE(File().CleanAfterScan);
  EXPECT_TRUE(File().CleanSafeAfterScan);
  EXPECT_EQ(File().MonitorPrompt, 77) << "the hide reloads before it saves";

  // A hide whose save fails says so; the boxes show the file.
  p.Show();
  p.SetCleanAfterScan(false);
  fs.InjectFailure(FsOp::Write, "quenlo.ini", wc::ErrorDiskFull);
  prompter.answers = {TMsgAnswer::Ok};
  p.Hide();
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(LastPrompt().text.rfind(kSettingsNotSaved, 0), 0u);
  EXPECT_NE(LastPrompt().text.find("quenlo.ini"), std::string::npos) << LastPrompt().text;
  EXPECT_TRUE(p.CleanAfterScan());
  EXPECT_TRUE(Settings().CleanAfterScan) << "the record holds what the file holds";
}

TEST_F(SettingsPageShow, TabSwitchEndsTheSelections) {
  TSettingsPageLogic &p = Shown();
  keys.chosen = {kKeyA};
  p.AddMonitoredKey();
  ASSERT_GE(p.MonitoredRowToSelect(), 0);
  p.ShowMonitorTab();
  EXPECT_EQ(p.Tab(), stMonitor);
  EXPECT_EQ(p.MonitoredRowToSelect(), -1);
  p.SelectTab(stIgnoreList);
  EXPECT_EQ(p.Tab(), stIgnoreList);
  p.SelectTab(static_cast<TSettingsTab>(9));
  EXPECT_EQ(p.Tab(), stIgnoreList);
}

// --- the automatic start

TEST_F(SettingsPageAutoStart, SaveStoresAppliesAndDisablesItself) {
  WriteIni("[settings]\r\nAutoAction=1\r\nAutoFreq=0\r\nautorun=20270101\r\n");
  TSettingsPageLogic &p = Shown();
  p.SetAction(-1);
  p.SetAction(3);
  p.SetAction(aaScanAndRepair);
  EXPECT_FALSE(p.SaveEnabled()) << "no choice changed";
  p.SetAction(aaMonitor);
  EXPECT_TRUE(p.SaveEnabled());
  EXPECT_FALSE(p.FrequencyVisible());
  prompter.answers = {TMsgAnswer::Ok};
  p.Save();
  EXPECT_EQ(autoStart.applied, std::vector<int>{aaMonitor});
  EXPECT_EQ(File().AutoAction, aaMonitor);
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(LastPrompt().text, "Settings saved successfully");
  EXPECT_EQ(LastPrompt().icon, TMsgIcon::Information);
  EXPECT_FALSE(p.SaveEnabled());
}

TEST_F(SettingsPageAutoStart, ALowerFrequencyStartsCountingNowAHigherOneKeepsTheDate) {
  WriteIni("[settings]\r\nAutoFreq=3\r\nautorun=20270101\r\n");
  TSettingsPageLogic &p = Shown();
  p.SetFrequency(1); // Monthly -> Weekly
  prompter.answers = {TMsgAnswer::Ok, TMsgAnswer::Ok};
  p.Save();
  EXPECT_EQ(File().AutoFreq, 1);
  EXPECT_EQ(File().autorun, "");

  ASSERT_TRUE(SetSettingText(SectionSettings, "autorun", "20270202"));
  p.SetFrequency(2); // Weekly -> Bi-Weekly
  p.Save();
  EXPECT_EQ(File().AutoFreq, 2);
  EXPECT_EQ(File().autorun, "20270202");
}

TEST_F(SettingsPageAutoStart, AFailedAutoStartPutsBackTheFileTheSystemAndTheBoxes) {
  WriteIni("[settings]\r\nAutoAction=1\r\nAutoFreq=3\r\nautorun=20270101\r\n");
  TSettingsPageLogic &p = Shown();
  p.SetAction(aaMonitor);
  p.SetFrequency(1);
  autoStart.results = {false};
  prompter.answers = {TMsgAnswer::Ok};
  p.Save();
  EXPECT_EQ(autoStart.applied, (std::vector<int>{aaMonitor, aaScanAndRepair}))
      << "the previous choice is applied again";
  const tProgramSettings stored = File();
  EXPECT_EQ(stored.AutoAction, 1);
  EXPECT_EQ(stored.AutoFreq, 3);
  EXPECT_EQ(stored.autorun, "20270101");
  EXPECT_EQ(p.Action(), aaScanAndRepair);
  EXPECT_EQ(p.Frequency(), 3);
  EXPECT_TRUE(p.SaveEnabled());
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(LastPrompt().text, "Failed to save AutoStart settings");
  EXPECT_EQ(LastPrompt().icon, TMsgIcon::Error);
}

TEST_F(SettingsPageAutoStart, ASecondSaveWhileTheFirstOnesMessageIsOpenDoesNothing) {
  TSettingsPageLogic &p = Shown();
  p.SetAction(aaMonitor);
  prompter.answers = {TMsgAnswer::Ok};
  int clicks = 0;
  prompter.onAsk = [&p, &clicks](const TPrompt &) {
    if (clicks++ == 0)
      p.Save();
  };
  p.Save();
  EXPECT_EQ(autoStart.applied.size(), 1u);
  EXPECT_EQ(prompter.asked.size(), 1u);
}

TEST_F(SettingsPageAutoStart, AFailedSaveIsReportedAndTheBoxesShowTheFile) {
  WriteIni("[settings]\r\nAutoAction=1\r\nAutoFreq=0\r\n");
  TSettingsPageLogic &p = Shown();
  p.SetAction(aaDisabled);
  fs.InjectFailure(FsOp::Move, "quenlo.ini", wc::ErrorAccessDenied);
  prompter.answers = {TMsgAnswer::Ok};
  p.Save();
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(LastPrompt().text.rfind(kSettingsNotSaved, 0), 0u) << LastPrompt().text;
  EXPECT_NE(LastPrompt().text.find("MoveFileEx"), std::string::npos) << LastPrompt().text;
  EXPECT_EQ(LastPrompt().icon, TMsgIcon::Error);
  EXPECT_TRUE(autoStart.applied.empty()) << "nothing applied that the file does not hold";
  EXPECT_EQ(p.Action(), aaScanAndRepair);
  EXPECT_EQ(Settings().AutoAction, 1);
}

// --- the option boxes, the counters, the event number

TEST_F(SettingsPageOptions, BoxesAreWrittenAtOnceAndAFailedWriteShowsTheFile) {
  TSettingsPageLogic &p = Shown();
  p.SetBackupBeforeScan(false);
  EXPECT_FALSE(File().BackupBeforeScan);
  p.SetFullBackupWeekly(false);
  EXPECT_FALSE(File().FullBackupOnlyOnceWeek);

  fs.InjectFailure(FsOp::Write, "quenlo.ini", wc::ErrorDiskFull);
  prompter.answers = {TMsgAnswer::Ok};
  p.SetBackupBeforeScan(true);
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(LastPrompt().text.rfind(kSettingsNotSaved, 0), 0u);
  EXPECT_FALSE(p.BackupBeforeScan());
  EXPECT_FALSE(Settings().BackupBeforeScan);

  // The same value as stored: nothing is written, so nothing can fail.
  fs.InjectFailure(FsOp::Write, "quenlo.ini", wc::ErrorDiskFull);
  p.SetFullBackupWeekly(false);
  EXPECT_EQ(prompter.asked.size(), 1u);
  fs.ClearFailures();
}

TEST_F(SettingsPageOptions, ResetCountersZeroesThemAndShowsTheNoticeAgain) {
  WriteIni("[settings]\r\ntotal_error_found=5\r\ntotal_error_repaired=3\r\n"
           "DoNotShowNoticeOnDelayedStart=1\r\nlast_err=4\r\n");
  TSettingsPageLogic &p = Shown();
  p.ResetCounters();
  const tProgramSettings stored = File();
  EXPECT_EQ(stored.total_error_found, 0);
  EXPECT_EQ(stored.total_error_repaired, 0);
  EXPECT_FALSE(stored.DoNotShowNoticeOnDelayedStart);
  EXPECT_EQ(stored.last_err, 4);
  EXPECT_TRUE(prompter.asked.empty());
}

TEST_F(SettingsPageOptions, TheEventNumberTakesWholeNumbersInRangeOnly) {
  WriteIni("[settings]\r\nMonitorPrompt=25\r\n");
  TSettingsPageLogic &p = Shown();
  for (const char *text : {"", "0", "00", "abc", "12a", " 5", "5 ", "-3", "+3", "3.5", "1e3",
                           "100000", "99999999999999999999999", "\xEF\xBC\x95"}) {
    EXPECT_FALSE(p.SetMonitorPromptText(text)) << text;
    EXPECT_EQ(p.MonitorPrompt(), 25) << text;
  }
  EXPECT_EQ(File().MonitorPrompt, 25);
  EXPECT_TRUE(prompter.asked.empty()) << "a refused keystroke is no error box";

  EXPECT_TRUE(p.SetMonitorPromptText("1"));
  EXPECT_EQ(File().MonitorPrompt, 1);
  EXPECT_TRUE(p.SetMonitorPromptText("099999"));
  EXPECT_EQ(p.MonitorPrompt(), 99999);
  EXPECT_EQ(File().MonitorPrompt, 99999);

  fs.InjectFailure(FsOp::Write, "quenlo.ini", wc::ErrorDiskFull);
  prompter.answers = {TMsgAnswer::Ok};
  EXPECT_FALSE(p.SetMonitorPromptText("40"));
  EXPECT_EQ(p.MonitorPrompt(), 99999);
  EXPECT_EQ(File().MonitorPrompt, 99999);
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(LastPrompt().text.rfind(kSettingsNotSaved, 0), 0u);
}

// --- the ignore list

TEST_F(SettingsPageIgnoreList, AnAddedKeyIsWrittenAndItsRowSelected) {
  TSettingsPageLogic &p = Shown();
  keys.chosen = {kKeyA, ""};
  p.AddIgnoreKey();
  EXPECT_EQ(keys.titles, std::vector<std::string>{"Select registry key to be added..."});
  EXPECT_EQ(IgnoreFileEntries(), std::vector<std::string>{kKeyA});
  ASSERT_EQ(p.IgnoreRowToSelect(), IgnoreRowOf(irAll, kKeyA));
  EXPECT_EQ(p.IgnoreRowToSelect(), 0);

  p.AddIgnoreKey(); // cancelled
  EXPECT_EQ(IgnoreFileEntries(), std::vector<std::string>{kKeyA});
  EXPECT_TRUE(prompter.asked.empty());
}

TEST_F(SettingsPageIgnoreList, AKeyTheFileHoldsInOtherLettersSelectsThatRow) {
  fs.AddFile(IgnorePath(), "[HKEY_CURRENT_USER\\Software\\Other]\r\n\r\n"
                           "[hkey_current_user\\software\\alpha]\r\n");
  TSettingsPageLogic &p = Shown();
  const std::string before = Ignore();
  keys.chosen = {kKeyA};
  p.AddIgnoreKey();
  EXPECT_EQ(Ignore(), before);
  EXPECT_EQ(IgnoreTexts(irAll).size(), 2u);
  EXPECT_EQ(p.IgnoreRowToSelect(), IgnoreRowOf(irAll, "hkey_current_user\\software\\alpha"));
  EXPECT_EQ(p.IgnoreRowToSelect(), 1);
}

TEST_F(SettingsPageIgnoreList, AWholeKeyTakesThePlaceOfItsValueEntries) {
  fs.AddFile(IgnorePath(), std::string("[") + kKeyA + "]\r\nName=\r\n");
  TSettingsPageLogic &p = Shown();
  keys.chosen = {kKeyA};
  p.AddIgnoreKey();
  EXPECT_EQ(IgnoreTexts(irAll), std::vector<std::string>{kKeyA});
  EXPECT_EQ(p.IgnoreRowToSelect(), 0);
  EXPECT_TRUE(prompter.asked.empty());
}

TEST_F(SettingsPageIgnoreList, AKeyTheFileWouldChangeOrCannotTakeIsRefusedWithTheReason) {
  TSettingsPageLogic &p = Shown();
  keys.chosen = {"HKEY_CURRENT_USER\\Software\\Blank ", kKeyB};
  prompter.answers = {TMsgAnswer::Ok, TMsgAnswer::Ok};
  p.AddIgnoreKey();
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(LastPrompt().icon, TMsgIcon::Error);
  EXPECT_NE(LastPrompt().text.find("cannot be kept in ignore.txt: it begins or ends with a blank"),
            std::string::npos)
      << LastPrompt().text;
  EXPECT_FALSE(fs.Exists(IgnorePath()));

  fs.InjectFailure(FsOp::Move, "ignore.txt", wc::ErrorAccessDenied);
  p.AddIgnoreKey();
  ASSERT_EQ(prompter.asked.size(), 2u);
  EXPECT_EQ(LastPrompt().text.rfind(kIgnoreFileNotChanged, 0), 0u);
  EXPECT_NE(LastPrompt().text.find("MoveFileEx"), std::string::npos) << LastPrompt().text;
  EXPECT_TRUE(IgnoreTexts(irAll).empty());
  EXPECT_EQ(p.IgnoreRowToSelect(), -1);
}

TEST_F(SettingsPageIgnoreList, RemovingTakesAllAndIgnoreListRowsAfterTheQuestion) {
  WriteIni("[SkippedKeys]\r\nHKEY_CURRENT_USER\\Software\\Skip=1\r\n"
           "HKEY_CURRENT_USER\\Software\\a=b=1\r\nHKEY_CURRENT_USER\\Software\\Keep=1\r\n");
  fs.AddFile(IgnorePath(), std::string("[") + kKeyA + "]\r\n\r\n[" + kKeyB + "]\r\nName=\r\n");
  TSettingsPageLogic &p = Shown();
  p.RemoveIgnoreRows({}); // no selection: no question
  EXPECT_TRUE(prompter.asked.empty());

  const std::vector<int> rows = {IgnoreRowOf(irAll, kKeyA),
                                 IgnoreRowOf(irAll, std::string(kKeyB) + "\\\\:Name"),
                                 IgnoreRowOf(irIgnoreList, "HKEY_CURRENT_USER\\Software\\a=b"),
                                 IgnoreRowOf(irIgnoreList, "HKEY_CURRENT_USER\\Software\\Skip")};
  prompter.answers = {TMsgAnswer::No};
  p.RemoveIgnoreRows(rows);
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(LastPrompt().text, "Remove selected item(s) from the list?");
  EXPECT_EQ(LastPrompt().buttons, TMsgButtons::YesNo);
  EXPECT_EQ(LastPrompt().icon, TMsgIcon::Question);
  EXPECT_EQ(IgnoreFileEntries().size(), 2u);

  prompter.answers = {TMsgAnswer::Yes};
  p.RemoveIgnoreRows(rows);
  EXPECT_TRUE(IgnoreFileEntries().empty());
  EXPECT_EQ(File().SkippedKeys, std::vector<std::string>{"HKEY_CURRENT_USER\\Software\\Keep=1"});
  EXPECT_TRUE(IgnoreTexts(irAll).empty());
  EXPECT_EQ(IgnoreTexts(irIgnoreList),
            std::vector<std::string>{"HKEY_CURRENT_USER\\Software\\Keep"});
  EXPECT_EQ(IgnoreTexts(irPermanent).size(), PermanentIgnoreKeyCount);
  EXPECT_EQ(prompter.asked.size(), 2u) << "no message after a removal that worked";
}

TEST_F(SettingsPageIgnoreList, AMixWithPermanentRowsRemovesNothing) {
  fs.AddFile(IgnorePath(), std::string("[") + kKeyA + "]\r\n");
  TSettingsPageLogic &p = Shown();
  const std::string before = Ignore();
  prompter.answers = {TMsgAnswer::Yes, TMsgAnswer::Ok};
  p.RemoveIgnoreRows({IgnoreRowOf(irAll, kKeyA), 1, 99999, -4});
  ASSERT_EQ(prompter.asked.size(), 2u);
  EXPECT_EQ(LastPrompt().text,
            "One or more items selected are \"Permanent Entries\" and cannot be removed");
  EXPECT_EQ(LastPrompt().icon, TMsgIcon::Error);
  EXPECT_EQ(Ignore(), before);
  EXPECT_EQ(IgnoreTexts(irAll), std::vector<std::string>{kKeyA});
}

TEST_F(SettingsPageIgnoreList, AFailedRemovalIsReportedAndTheRowsShowTheFiles) {
  WriteIni("[SkippedKeys]\r\nHKEY_CURRENT_USER\\Software\\Skip=1\r\n"
           "HKEY_CURRENT_USER\\Software\\Keep=1\r\n");
  fs.AddFile(IgnorePath(), std::string("[") + kKeyA + "]\r\n");
  TSettingsPageLogic &p = Shown();
  fs.InjectFailure(FsOp::Move, "ignore.txt", wc::ErrorAccessDenied);
  fs.InjectFailure(FsOp::Move, "quenlo.ini", wc::ErrorAccessDenied);
  prompter.answers = {TMsgAnswer::Yes, TMsgAnswer::Ok, TMsgAnswer::Ok};
  p.RemoveIgnoreRows(
      {IgnoreRowOf(irAll, kKeyA), IgnoreRowOf(irIgnoreList, "HKEY_CURRENT_USER\\Software\\Skip")});
  ASSERT_EQ(prompter.asked.size(), 3u);
  EXPECT_EQ(prompter.asked[1].text.rfind(kIgnoreFileNotChanged, 0), 0u);
  EXPECT_NE(prompter.asked[1].text.find(kKeyA), std::string::npos) << prompter.asked[1].text;
  EXPECT_EQ(prompter.asked[2].text.rfind(kSettingsNotSaved, 0), 0u);
  EXPECT_EQ(IgnoreTexts(irAll), std::vector<std::string>{kKeyA});
  EXPECT_EQ(IgnoreTexts(irIgnoreList),
            (std::vector<std::string>{"HKEY_CURRENT_USER\\Software\\Skip",
                                      "HKEY_CURRENT_USER\\Software\\Keep"}));
  EXPECT_EQ(Settings().SkippedKeys.size(), 2u);
}

// --- the monitored keys

TEST_F(SettingsPageMonitor, AnAddedKeyIsAppendedSelectedAndTheMonitorAsked) {
  WriteIni("[MonitoredKeys]\r\n" + std::string(kKeyB) + "=\r\n");
  TSettingsPageLogic &p = Shown();
  keys.chosen = {kKeyA, ""};
  p.AddMonitoredKey();
  EXPECT_EQ(keys.titles, std::vector<std::string>{"Select registry key to be monitored ..."});
  EXPECT_EQ(File().MonitoredKeys, (std::vector<std::string>{kKeyB, kKeyA}));
  EXPECT_EQ(p.MonitoredKeys(), (std::vector<std::string>{kKeyB, kKeyA}));
  EXPECT_EQ(p.MonitoredRowToSelect(), 1);
  EXPECT_EQ(Sent22(), std::vector<std::string>{"22/0"});
  EXPECT_TRUE(commands.posted.empty());

  p.AddMonitoredKey(); // cancelled: nothing changed, nothing to restart
  EXPECT_EQ(Sent22().size(), 1u);
  EXPECT_TRUE(prompter.asked.empty());
}

TEST_F(SettingsPageMonitor, AKeyInOtherLettersSelectsTheListedRowAndAddsNothing) {
  WriteIni("[MonitoredKeys]\r\n" + std::string(kKeyB) + "=\r\n" + kKeyA + "=\r\n");
  TSettingsPageLogic &p = Shown();
  const std::string before = Ini();
  keys.chosen = {"hkey_current_user\\SOFTWARE\\alpha"};
  p.AddMonitoredKey();
  EXPECT_EQ(Ini(), before);
  EXPECT_EQ(p.MonitoredKeys().size(), 2u);
  EXPECT_EQ(p.MonitoredRowToSelect(), 1);
  EXPECT_EQ(Sent22(), std::vector<std::string>{"22/0"});

  // The same against a key another program added since the page was filled.
  ElsewhereSetMonitoredKeys({kKeyB, kKeyA, "HKEY_CURRENT_USER\\Software\\Gamma"});
  keys.chosen = {"HKEY_CURRENT_USER\\Software\\GAMMA"};
  p.AddMonitoredKey();
  EXPECT_EQ(File().MonitoredKeys.size(), 3u);
  EXPECT_EQ(p.MonitoredKeys().size(), 3u);
  EXPECT_EQ(p.MonitoredRowToSelect(), 2);
  EXPECT_EQ(Sent22().size(), 2u);
}

TEST_F(SettingsPageMonitor, TheLimitHoldsForTheFileNotForTheRowsShown) {
  WriteIni("");
  ElsewhereSetMonitoredKeys(NumberedKeys(63));
  ASSERT_TRUE(LoadSettings());
  TSettingsPageLogic &p = Shown();
  ASSERT_EQ(p.MonitoredKeys().size(), 63u);
  ElsewhereSetMonitoredKeys(NumberedKeys(64));
  prompter.answers = {TMsgAnswer::Ok};
  p.AddMonitoredKey();
  EXPECT_TRUE(keys.titles.empty()) << "no dialog over a full list";
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(LastPrompt().text, "You can select up to 64 registry keys.");
  EXPECT_EQ(LastPrompt().icon, TMsgIcon::Error);
  EXPECT_EQ(p.MonitoredKeys().size(), 64u) << "the rows show the file";
  EXPECT_TRUE(commands.sent.empty());

  // One removed elsewhere: there is room again although 64 rows were shown.
  ElsewhereSetMonitoredKeys(NumberedKeys(63));
  keys.chosen = {kKeyA};
  p.AddMonitoredKey();
  EXPECT_EQ(File().MonitoredKeys.size(), 64u);
  EXPECT_EQ(File().MonitoredKeys.back(), kKeyA);

  // The list filled up while the dialog was open.
  ElsewhereSetMonitoredKeys(NumberedKeys(63));
  p.Show();
  keys.chosen = {kKeyB};
  keys.whileOpen = [this] { ElsewhereSetMonitoredKeys(NumberedKeys(64)); };
  prompter.answers = {TMsgAnswer::Ok};
  p.AddMonitoredKey();
  EXPECT_EQ(File().MonitoredKeys, NumberedKeys(64));
  EXPECT_EQ(LastPrompt().text, "You can select up to 64 registry keys.");
}

TEST_F(SettingsPageMonitor, AKeyTheFileWouldGiveBackChangedIsRefused) {
  TSettingsPageLogic &p = Shown();
  const std::string before = Ini();
  for (const char *key : {"HKEY_CURRENT_USER\\Software\\k=v", "HKEY_CURRENT_USER\\Software\\k ",
                          "HKEY_CURRENT_USER\\Software\\two\r\nlines"}) {
    keys.chosen = {key};
    prompter.answers = {TMsgAnswer::Ok};
    p.AddMonitoredKey();
    ASSERT_FALSE(prompter.asked.empty()) << key;
    EXPECT_EQ(LastPrompt().text.rfind(kKeyNotMonitorable, 0), 0u) << LastPrompt().text;
    EXPECT_NE(LastPrompt().text.find(key), std::string::npos) << LastPrompt().text;
    EXPECT_EQ(LastPrompt().icon, TMsgIcon::Error);
  }
  EXPECT_EQ(Ini(), before);
  EXPECT_EQ(p.MonitoredKeys(), DefaultMonitoredKeys());
  EXPECT_TRUE(commands.sent.empty());
}

TEST_F(SettingsPageMonitor, RemovingTakesTheSelectedKeysAfterTheQuestion) {
  WriteIni("[MonitoredKeys]\r\n" + std::string(kKeyA) + "=\r\n" + kKeyB +
           "=\r\nHKEY_CURRENT_USER\\Software\\Gamma=\r\n");
  TSettingsPageLogic &p = Shown();
  p.RemoveMonitoredKeys({});
  p.RemoveMonitoredKeys({7});
  EXPECT_TRUE(prompter.asked.empty());

  prompter.answers = {TMsgAnswer::No};
  p.RemoveMonitoredKeys({0, 2});
  EXPECT_EQ(LastPrompt().text, "Remove selected key(s) from the list?");
  EXPECT_EQ(LastPrompt().buttons, TMsgButtons::YesNo);
  EXPECT_EQ(File().MonitoredKeys.size(), 3u);
  EXPECT_TRUE(commands.sent.empty());

  prompter.answers = {TMsgAnswer::Yes};
  p.RemoveMonitoredKeys({2, 0, 2});
  EXPECT_EQ(File().MonitoredKeys, std::vector<std::string>{kKeyB});
  EXPECT_EQ(p.MonitoredKeys(), std::vector<std::string>{kKeyB});
  EXPECT_EQ(Sent22(), std::vector<std::string>{"22/0"});

  // A save that fails is said and leaves the row; the monitor is not asked.
  fs.InjectFailure(FsOp::Write, "quenlo.ini", wc::ErrorDiskFull);
  prompter.answers = {TMsgAnswer::Yes, TMsgAnswer::Ok};
  p.RemoveMonitoredKeys({0});
  EXPECT_EQ(LastPrompt().text.rfind(kSettingsNotSaved, 0), 0u);
  EXPECT_EQ(p.MonitoredKeys(), std::vector<std::string>{kKeyB});
  EXPECT_EQ(Settings().MonitoredKeys, std::vector<std::string>{kKeyB});
  EXPECT_EQ(Sent22().size(), 1u);
}

TEST_F(SettingsPageMonitor, AFailedAddIsReportedAndTheRowsShowTheFile) {
  TSettingsPageLogic &p = Shown();
  const std::string before = Ini();
  fs.InjectFailure(FsOp::Write, "quenlo.ini", wc::ErrorDiskFull);
  keys.chosen = {kKeyA};
  prompter.answers = {TMsgAnswer::Ok};
  p.AddMonitoredKey();
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(LastPrompt().text.rfind(kSettingsNotSaved, 0), 0u);
  EXPECT_EQ(p.MonitoredKeys(), DefaultMonitoredKeys());
  EXPECT_EQ(p.MonitoredRowToSelect(), -1);
  EXPECT_EQ(Ini(), before);
  EXPECT_TRUE(commands.sent.empty());
}

// --- full backup and restore

TEST_F(SettingsPageFullBackup, TheBackupAsksThenReportsAndShowsRestoreWhenThereIsOne) {
  TSettingsPageLogic &p = Shown();
  prompter.answers = {TMsgAnswer::No};
  p.FullBackup();
  EXPECT_EQ(fullBackup.runs, 0);
  EXPECT_EQ(LastPrompt().text, kFullBackupPrompt);
  EXPECT_EQ(LastPrompt().buttons, TMsgButtons::YesNo);
  EXPECT_EQ(LastPrompt().icon, TMsgIcon::Question);

  // The cover pumps messages: clicks on either button meanwhile start
  // nothing (the prompter fails on any question they would ask).
  fullBackup.onRun = [this, &p] {
    fs.AddFile(service::FullBackupFolder() + "\\" + kHiveListFile, "list");
    p.FullBackup();
    p.FullRestore();
  };
  prompter.answers = {TMsgAnswer::Yes, TMsgAnswer::Ok};
  p.FullBackup();
  EXPECT_EQ(fullBackup.runs, 1);
  EXPECT_EQ(LastPrompt().text, "Registry Backup completed.");
  EXPECT_EQ(LastPrompt().icon, TMsgIcon::Information);
  EXPECT_TRUE(p.RestoreVisible());

  fullBackup.ok = false;
  fullBackup.failure = "Registry Backup failed:\r\nError code: 1004";
  fullBackup.onRun = [this] { fs.Remove(service::FullBackupFolder()); };
  prompter.answers = {TMsgAnswer::Yes, TMsgAnswer::Ok};
  p.FullBackup();
  EXPECT_EQ(LastPrompt().text, "Registry Backup failed:\r\nError code: 1004");
  EXPECT_EQ(LastPrompt().icon, TMsgIcon::Error);
  EXPECT_FALSE(p.RestoreVisible());
}

TEST_F(SettingsPageFullBackup, TheRestoreStopsAtEachRefusalWithoutAFurtherMessage) {
  TSettingsPageLogic &p = Shown();
  prompter.answers = {TMsgAnswer::No};
  p.FullRestore();
  EXPECT_EQ(LastPrompt().text, kFullRestorePrompt);
  EXPECT_EQ(LastPrompt().buttons, TMsgButtons::YesNo);
  EXPECT_TRUE(host.calls.empty());

  host.spySweeperAllows = false;
  prompter.answers = {TMsgAnswer::Yes};
  p.FullRestore();
  EXPECT_EQ(host.calls, std::vector<std::string>{"SpySweeper2"});

  host.calls.clear();
  host.spySweeperAllows = true;
  host.monitorOff = false;
  prompter.answers = {TMsgAnswer::Yes};
  p.FullRestore();
  EXPECT_EQ(host.calls, (std::vector<std::string>{"SpySweeper2", "MonitorOff"}));
  EXPECT_EQ(prompter.asked.size(), 3u);
  EXPECT_TRUE(longOperation.captions.empty());
}

TEST_F(SettingsPageFullBackup, RestoreFailuresCarryTheirCodesAndTheReason) {
  TSettingsPageLogic &p = Shown();
  const auto restoreOnce = [&] {
    prompter.answers = {TMsgAnswer::Yes, TMsgAnswer::Ok};
    p.FullRestore();
    return LastPrompt();
  };
  longOperation.mode = FakeLongOperation::NotStarted;
  EXPECT_EQ(restoreOnce().text, "Registry Restore failed:\r\nError code: 1003");
  longOperation.mode = FakeLongOperation::Unfinished;
  EXPECT_EQ(restoreOnce().text, "Registry Restore failed:\r\nError code: 1002");
  longOperation.mode = FakeLongOperation::RunWork; // the service itself, with no backup
  const TPrompt failed = restoreOnce();
  EXPECT_EQ(failed.text, "Registry Restore failed:\r\nThere is no registry backup in " +
                             service::FullBackupFolder() + "\r\nError code: 1001");
  EXPECT_EQ(failed.icon, TMsgIcon::Error);
  EXPECT_EQ(longOperation.captions.back(),
            "Restoring Registry.\r\nPlease wait, this may take several minutes ...");
  EXPECT_TRUE(longOperation.bars.back());
  EXPECT_EQ(restart.restarts, 0);
}

TEST_F(SettingsPageFullBackup, ARestoreThatWorkedOffersTheRestart) {
  TSettingsPageLogic &p = Shown();
  longOperation.mode = FakeLongOperation::Succeeds;
  prompter.answers = {TMsgAnswer::Yes, TMsgAnswer::No};
  p.FullRestore();
  EXPECT_EQ(LastPrompt().text, "Registry Restore completed.\r\nYou must restart Windows for the "
                               "the changes to take effect.\r\n\r\nDo you want to restart Windows "
                               "now (recommended)?");
  EXPECT_EQ(LastPrompt().buttons, TMsgButtons::YesNo);
  EXPECT_EQ(LastPrompt().icon, TMsgIcon::Question);
  EXPECT_EQ(restart.restarts, 0);

  prompter.answers = {TMsgAnswer::Yes, TMsgAnswer::Yes};
  p.FullRestore();
  EXPECT_EQ(restart.restarts, 1);
  EXPECT_EQ(prompter.asked.size(), 4u);

  restart.succeeds = false;
  prompter.answers = {TMsgAnswer::Yes, TMsgAnswer::Yes, TMsgAnswer::Ok};
  p.FullRestore();
  EXPECT_EQ(LastPrompt().text, "Can not restart Windows. Please do it manually.");
  EXPECT_EQ(LastPrompt().icon, TMsgIcon::Error);
}

} // namespace
} // namespace quenlo::test
