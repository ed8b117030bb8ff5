// The undo store: days, entries, ages, purge, restore order and failures,
// the restore page's logic, and the command-line front end of repair/undo.
#include <chrono>
#include <sstream>

#include "RegeditFake.h"
#include "TestPlatform.h"
#include "app/cli/uCliRepair.h"
#include "app/cli/uCliUndo.h"
#include "app/pages/uRestorePage.h"
#include "platform/MainThread.h"
#include "registry/uRegExport.h"
#include "scanner/uRegScanner.h"

namespace quenlo::test {
namespace {

using qp::mem::View;

constexpr const char *kUndo = "C:\\Undo";

class UndoTest : public MemoryTest {
protected:
  void SetUp() override {
    MemoryTest::SetUp();
    scanner.SetUndoFolder(kUndo);
    scanner.SetUndoClock([this] { return now; });
  }
  // A backup of value v = data in HKLM\Software\U<key>, written as the
  // program writes it.
  void AddBackup(const std::string &day, const std::string &name, const std::string &key,
                 const std::string &data, const std::string &ext = ".REG64") {
    reg.SetString(View::V64, "HKLM\\Software\\" + key, "v", data);
    ScopedKey handle;
    ASSERT_EQ(OpenKeyFull(wc::HkeyLocalMachine, rv64, "Software\\" + key, handle), 0);
    std::string error;
    const std::string path = "Software\\" + key;
    ASSERT_TRUE(ExportValue(
        error, {.root = wc::HkeyLocalMachine, .view = rv64, .handle = handle.Get(), .path = path},
        "v", std::string(kUndo) + "\\" + day + "\\" + name + ext));
    handle.Reset();
    reg.DeleteTree(View::V64, "HKLM\\Software\\" + key);
    AddLine(day, name + "=HKEY_LOCAL_MACHINE\\Software\\" + key);
  }
  void AddLine(const std::string &day, const std::string &line) {
    const std::string index = std::string(kUndo) + "\\" + day + "\\index.txt";
    fs.AddFile(index, fs.Content(index).value_or("") + line + "\r\n");
  }
  std::vector<std::string> Lines(const std::string &day) {
    std::vector<std::string> lines;
    EXPECT_TRUE(ReadTextLines(std::string(kUndo) + "\\" + day + "\\index.txt", lines));
    return lines;
  }

  RegeditFake editor{platform};
  qp::TMainThread main;
  TRegScanner scanner{main};
  TUndoTime now;
};

TEST_F(UndoTest, DaysEntriesAndAges) {
  AddBackup("2024-05-07", "100000000", "B", "1");
  AddBackup("2024-05-06", "100000000", "A", "1");
  AddBackup("2024-05-06", "100000001", "a", "2");
  AddLine("2024-05-06", "no equals sign");
  fs.AddDir(std::string(kUndo) + "\\2024-05-01"); // no index: not a day
  fs.AddFile(std::string(kUndo) + "\\stray.txt");
  std::vector<std::string> days, entries;
  scanner.BackupDays(days);
  EXPECT_EQ(days, (std::vector<std::string>{"2024-05-06", "2024-05-07"}));
  scanner.DayEntries("2024-05-06", entries);
  EXPECT_EQ(entries, (std::vector<std::string>{"HKEY_LOCAL_MACHINE\\Software\\A"}))
      << "sorted, each once, without case";
  scanner.DayEntries("1999-01-01", entries);
  EXPECT_TRUE(entries.empty());
  EXPECT_GT(scanner.DayIndexAge("2024-05-06"), 0);
  EXPECT_EQ(scanner.DayIndexAge("1999-01-01"), -1);
}

TEST_F(UndoTest, RestoreNewestFirstKeepsFailuresAndRemovesTheEmptyDay) {
  const std::string day = "2024-05-06";
  AddBackup(day, "100000000", "K", "old");
  AddBackup(day, "100000005", "K", "newer");
  AddLine(day, "100000009=HKEY_LOCAL_MACHINE\\Software\\NoFiles");
  AddBackup(day, "100000010", "Fail", "x");
  // The oldest backup is played last, so its data wins: later changes are
  // undone before earlier ones.
  const std::vector<std::string> select = {"hkey_local_machine\\software\\k",
                                           "HKEY_LOCAL_MACHINE\\Software\\NoFiles"};
  TRestoreSummary summary = scanner.RestoreEntries(day, &select);
  EXPECT_EQ(summary.restored, 2);
  EXPECT_EQ(summary.missing, 1) << "a line without files is not a restore";
  ASSERT_EQ(editor.imports.size(), 2u);
  EXPECT_NE(editor.imports[0].find("100000005"), std::string::npos);
  EXPECT_EQ(reg.GetRaw(View::V64, "HKLM\\Software\\K", "v")->second,
            qp::Utf8ToRawUtf16(std::string("old\0", 4)));
  EXPECT_EQ(Lines(day), (std::vector<std::string>{"100000010=HKEY_LOCAL_MACHINE\\Software\\Fail"}));

  editor.mode = RegeditFake::Mode::Fail;
  summary = scanner.RestoreEntries(day, nullptr);
  EXPECT_EQ(summary.failed, 1);
  EXPECT_EQ(Lines(day).size(), 1u);
  EXPECT_TRUE(fs.Exists(std::string(kUndo) + "\\" + day + "\\100000010.REG64"));

  editor.mode = RegeditFake::Mode::Normal;
  summary = scanner.RestoreEntries(day, nullptr);
  EXPECT_EQ(summary.restored, 1);
  EXPECT_FALSE(fs.Exists(std::string(kUndo) + "\\" + day));
  std::vector<std::string> days;
  scanner.BackupDays(days);
  EXPECT_TRUE(days.empty());
}

TEST_F(UndoTest, IndexLinesCannotBeAddedByAKeyName) {
  const std::string day = "2024-05-06";
  AddLine(day, "100000000=HKEY_LOCAL_MACHINE\\Software\\K");
  const std::string backup = std::string(kUndo) + "\\" + day + "\\100000001.REG64";
  for (const std::string &entry :
       {std::string("HKEY_LOCAL_MACHINE\\Software\\A\n..\\..\\Users\\u\\Documents\\keep=z"),
        std::string("HKEY_LOCAL_MACHINE\\Software\\A\r"),
        std::string("HKEY_LOCAL_MACHINE\\Software\\A\tB")}) {
    std::string error;
    EXPECT_FALSE(AppendUndoIndexLine(backup, entry, error));
    EXPECT_NE(error.find("line break or control character"), std::string::npos) << error;
  }
  EXPECT_EQ(Lines(day), (std::vector<std::string>{"100000000=HKEY_LOCAL_MACHINE\\Software\\K"}));
}

TEST_F(UndoTest, IndexWritesNeverShareATemporaryFile) {
  const std::string day = "2024-05-06";
  const std::string folder = std::string(kUndo) + "\\" + day;
  // Another writer's half-written temporary file under the old fixed name.
  fs.AddFile(folder + "\\index.txt.tmp", "stale");
  ASSERT_TRUE(AppendUndoIndexLine(folder + "\\100000001.REG64", "HKEY_LOCAL_MACHINE\\Software\\A"));
  ASSERT_TRUE(AppendUndoIndexLine(folder + "\\100000002.REG64", "HKEY_LOCAL_MACHINE\\Software\\B"));
  EXPECT_EQ(fs.Content(folder + "\\index.txt.tmp"), std::optional<std::string>("stale"));
  EXPECT_EQ(Lines(day), (std::vector<std::string>{"100000001=HKEY_LOCAL_MACHINE\\Software\\A",
                                                  "100000002=HKEY_LOCAL_MACHINE\\Software\\B"}));
}

TEST_F(UndoTest, RestoreRefusesBackupNamesTheRepairDoesNotWrite) {
  const std::string day = "2024-05-06";
  const std::string outside = "C:\\Users\\u\\Documents\\keep.REG64";
  fs.AddFile(outside, "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Z]\r\n");
  const std::vector<std::string> bad = {"..\\..\\..\\Users\\u\\Documents\\keep=z",
                                        "C:\\Users\\u\\Documents\\keep=z", "10000000=z",
                                        "1000000000=z", "10000000a=z"};
  for (const std::string &line : bad)
    AddLine(day, line);
  const TRestoreSummary summary = scanner.RestoreEntries(day, nullptr);
  EXPECT_EQ(summary.refused, static_cast<int>(bad.size()));
  EXPECT_EQ(summary.restored, 0);
  EXPECT_TRUE(editor.imports.empty());
  EXPECT_TRUE(fs.Exists(outside));
  EXPECT_EQ(Lines(day), bad);
}

// A backup is handed to the editor only when the program reads it itself
// and it does no more than a repair's backup: a planted file that deletes a
// key, writes another key, deletes values or holds a bare CR is refused,
// and it and its line stay.
TEST_F(UndoTest, RestorePlaysOnlyWhatARepairsBackupCanHold) {
  const std::string day = "2024-05-06";
  const std::string folder = std::string(kUndo) + "\\" + day + "\\";
  reg.SetString(View::V64, "HKLM\\Software\\Victim", "keep", "me");
  const std::string entry = "=HKEY_LOCAL_MACHINE\\Software\\UA";
  const std::vector<std::pair<std::string, std::string>> planted = {
      {"100000001", "REGEDIT4\r\n\r\n[-HKEY_LOCAL_MACHINE\\Software\\Victim]\r\n"},
      {"100000002", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Victim]\r\n\"x\"=\"1\"\r\n"},
      {"100000003", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\UAB]\r\n\"x\"=\"1\"\r\n"},
      {"100000004", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\UA]\r\n\"a\"=-\r\n\"b\"=-\r\n"},
      {"100000005", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\UA]\r\n\"x\"=\"1\"\r[-HKEY_"
                    "LOCAL_MACHINE\\Software\\Victim]\r\n"},
      {"100000006", "not a registry file"}};
  for (const auto &[name, content] : planted) {
    fs.AddFile(folder + name + ".REG64", content);
    AddLine(day, name + entry);
  }
  const std::vector<std::string> before = Lines(day);
  const TRestoreSummary summary = scanner.RestoreEntries(day, nullptr);
  EXPECT_EQ(summary.refused, static_cast<int>(planted.size()));
  EXPECT_EQ(summary.restored, 0);
  EXPECT_TRUE(editor.imports.empty());
  EXPECT_TRUE(reg.KeyExists(View::V64, "HKLM\\Software\\Victim"));
  EXPECT_FALSE(reg.ValueExists(View::V64, "HKLM\\Software\\Victim", "x"));
  EXPECT_EQ(Lines(day), before);
  for (const auto &[name, content] : planted)
    EXPECT_TRUE(fs.Exists(folder + name + ".REG64")) << name;

  // A created value's backup deletes exactly that value: it is played.
  reg.SetString(View::V64, "HKLM\\Software\\UC", "made", "1");
  fs.AddFile(folder + "100000007.REG64",
             "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\UC]\r\n\"made\"=-\r\n\r\n");
  AddLine(day, "100000007=HKEY_LOCAL_MACHINE\\Software\\UC");
  const std::vector<std::string> created = {"HKEY_LOCAL_MACHINE\\Software\\UC"};
  EXPECT_EQ(scanner.RestoreEntries(day, &created).restored, 1);
  EXPECT_FALSE(reg.ValueExists(View::V64, "HKLM\\Software\\UC", "made"));
}

// The editor's exit code proves nothing (Wine's exits 0 when it did not
// import): an entry counts as restored only when the registry holds what
// its backup says, and otherwise it keeps its line and its file.
TEST_F(UndoTest, AnImportTheRegistryDoesNotShowIsNotRestored) {
  const std::string day = "2024-05-06";
  AddBackup(day, "100000001", "A", "old");
  editor.mode = RegeditFake::Mode::Silent;
  reg.InjectFailure(qp::mem::RegOp::Create, "SOFTWARE\\A", wc::ErrorAccessDenied, 100);
  const TRestoreSummary summary = scanner.RestoreEntries(day, nullptr);
  reg.ClearFailures();
  EXPECT_EQ(summary.restored, 0);
  EXPECT_EQ(summary.failed, 1);
  EXPECT_EQ(Lines(day).size(), 1u);
  EXPECT_TRUE(fs.Exists(std::string(kUndo) + "\\" + day + "\\100000001.REG64"));
  editor.mode = RegeditFake::Mode::Normal;
  EXPECT_EQ(scanner.RestoreEntries(day, nullptr).restored, 1);
  EXPECT_EQ(reg.GetText(View::V64, "HKLM\\Software\\A", "v"), "old");
}

TEST_F(UndoTest, ReflectedBackupsOn32BitWindowsAreImportedOnce) {
  sys.SetOs64Bit(false);
  Reinit();
  AddBackup("2024-05-06", "100000000", "R", "1", ".REG");
  fs.Remove("C:\\Windows\\SysWOW64");
  scanner.RestoreEntries("2024-05-06", nullptr);
  ASSERT_EQ(editor.imports.size(), 1u);
  EXPECT_NE(platform.Procs().CommandLines().back().find("C:\\Windows\\Regedit.exe"),
            std::string::npos);
}

TEST_F(UndoTest, UnreadableIndexIsNeverRewritten) {
  AddBackup("2024-05-06", "100000000", "K", "1");
  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::Read, "index.txt", wc::ErrorSharingViolation);
  EXPECT_NE(scanner.RestoreEntries("2024-05-06", nullptr).error.find("cannot read"),
            std::string::npos);
  EXPECT_EQ(Lines("2024-05-06").size(), 1u);
  EXPECT_TRUE(editor.imports.empty());
}

// Another process's repair or restore holds the day: this restore waits,
// then gives up saying why, and plays nothing back.
TEST_F(UndoTest, ARestoreLeavesADayAnotherProcessHolds) {
  AddBackup("2024-05-06", "100000000", "K", "1");
  std::unique_ptr<qp::IFileLock> other;
  ASSERT_EQ(fs.OpenLockFile(std::string(kUndo) + "\\2024-05-06\\index.lock", other), 0);
  const std::uint64_t before = sys.TickCount();
  const TRestoreSummary summary = scanner.RestoreEntries("2024-05-06", nullptr);
  EXPECT_GE(sys.TickCount() - before, 30000u) << "waited for the holder";
  EXPECT_NE(summary.error.find("another repair or restore"), std::string::npos) << summary.error;
  EXPECT_EQ(summary.restored, 0);
  EXPECT_TRUE(editor.imports.empty());
  EXPECT_EQ(Lines("2024-05-06").size(), 1u);

  other.reset();
  EXPECT_EQ(scanner.RestoreEntries("2024-05-06", nullptr).restored, 1);
  EXPECT_FALSE(fs.Exists(std::string(kUndo) + "\\2024-05-06")) << "the lock file went too";
}

// Only a day whose index date proves it more than a week old goes, and only
// with the setting on. A date that cannot be read proves nothing: that day
// stays, however long its index stays unreadable.
TEST_F(UndoTest, PurgeMovesOnlyDaysProvenOlderThanAWeekToTheRecycleBin) {
  AddBackup("2024-05-01", "100000000", "Old", "1");
  AddBackup("2024-05-06", "100000000", "New", "1");
  const auto oldAge = static_cast<std::uint64_t>(scanner.DayIndexAge("2024-05-01"));
  const auto newAge = static_cast<std::uint64_t>(scanner.DayIndexAge("2024-05-06"));
  ASSERT_GT(newAge, oldAge + 1);
  now.fileTime = oldAge + 7 * FileTimeTicksPerDay;
  EXPECT_TRUE(scanner.PurgeBackupDays(true).recycled.empty());
  EXPECT_TRUE(fs.Recycled().empty()) << "seven days are not yet past";
  now.fileTime = oldAge + 7 * FileTimeTicksPerDay + 1;
  EXPECT_TRUE(scanner.PurgeBackupDays(false).recycled.empty());
  EXPECT_TRUE(fs.Recycled().empty()) << "the setting is off";
  const TPurgeSummary purged = scanner.PurgeBackupDays(true);
  EXPECT_EQ(purged.recycled, (std::vector<std::string>{"2024-05-01"}));
  EXPECT_EQ(fs.Recycled(), (std::vector<std::string>{"C:\\Undo\\2024-05-01"}));

  // Long after both dates, the newer day's index date cannot be read at all.
  now.fileTime = newAge + 30 * FileTimeTicksPerDay;
  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::Find, "2024-05-06\\index", 5, 1000);
  const TPurgeSummary unproven = scanner.PurgeBackupDays(true);
  EXPECT_EQ(fs.Recycled().size(), 1u) << "an unreadable date must not recycle the day";
  EXPECT_TRUE(unproven.recycled.empty());
  EXPECT_EQ(unproven.undated, (std::vector<std::string>{"2024-05-06"}));
  fs.ClearFailures();

  // Old enough, but the recycle bin refuses it: said so, and the day stays.
  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::Recycle, "2024-05-06", wc::ErrorAccessDenied);
  const TPurgeSummary refused = scanner.PurgeBackupDays(true);
  EXPECT_TRUE(refused.recycled.empty());
  EXPECT_EQ(refused.notRecycled, (std::vector<std::string>{"2024-05-06"}));
}

// The command line's purge says what it did with each day: the moved ones,
// the kept ones whose date cannot be read, and a day it could not move (exit
// code 1).
TEST_F(UndoTest, CliPurgeNamesEveryDayItLeaves) {
  AddBackup("2024-05-01", "100000000", "Old", "1");
  AddBackup("2024-05-02", "100000000", "Undated", "1");
  AddBackup("2024-05-03", "100000000", "Stuck", "1");
  now.fileTime =
      static_cast<std::uint64_t>(scanner.DayIndexAge("2024-05-03")) + 30 * FileTimeTicksPerDay;
  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::Find, "2024-05-02\\index", 5, 1000);
  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::Recycle, "2024-05-03", wc::ErrorAccessDenied);
  std::ostringstream out, err;
  const int code = cli::RunUndo(scanner, {"purge"}, true, {out, err, false});
  EXPECT_EQ(code, 1);
  EXPECT_EQ(out.str(), "moved to the recycle bin: 2024-05-01\n"
                       "kept (the date of its index cannot be read): 2024-05-02\n"
                       "Days left: 2\n");
  EXPECT_EQ(err.str(), "quenlo-cli undo: 2024-05-03 could not be moved to the recycle bin\n");
}

class FakeUi : public TRestorePageUi {
public:
  TMsgAnswer Message(const std::string &text, TMsgButtons, TMsgIcon icon) override {
    messages.push_back(text);
    icons.push_back(icon);
    return answer;
  }
  void SetBusyCursor(bool busy) override { busyCalls.push_back(busy); }
  bool ShowKeyInRegedit(const std::string &entry) override {
    shown.push_back(entry);
    return jumpWorks;
  }
  bool PrintLines(const std::vector<std::string> &lines) override {
    printed = lines;
    return printWorks;
  }
  TMsgAnswer answer = TMsgAnswer::Yes;
  bool jumpWorks = true, printWorks = true;
  std::vector<std::string> messages, shown, printed;
  std::vector<TMsgIcon> icons;
  std::vector<bool> busyCalls;
};

std::vector<std::string> EntryTexts(const TRestorePage &page) {
  std::vector<std::string> texts;
  for (const TRestorePage::TEntry &entry : page.Entries())
    texts.push_back(entry.text + (entry.checked ? " [x]" : " [ ]"));
  return texts;
}

class RestorePageTest : public UndoTest {
protected:
  FakeUi ui;
  std::vector<bool> saved;
  bool saveWorks = true;
  TRestorePage page{{.scanner = scanner,
                     .ui = ui,
                     .deleteAfterWeek = false,
                     .saveDeleteAfterWeek = [this](bool on, std::string &error) {
                       if (!saveWorks) {
                         error = "Access denied";
                         return false;
                       }
                       saved.push_back(on);
                       return true;
                     }}};
};

TEST_F(RestorePageTest, RestorePageLogic) {
  AddBackup("2024-05-05", "100000000", "Z", "1");
  AddBackup("2024-05-06", "100000000", "A", "1");
  AddBackup("2024-05-06", "100000001", "B", "1");
  page.Show();
  EXPECT_EQ(page.SelectedDay(), 1) << "the newest day";
  EXPECT_EQ(page.ItemCountText(), "2 Items");
  EXPECT_TRUE(page.RestoreEnabled());
  page.SetEntryChecked(0, false);
  EXPECT_EQ(page.SelectAll(), TCheckState::Mixed);
  page.SetEntryChecked(1, false);
  EXPECT_EQ(page.SelectAll(), TCheckState::Unchecked);
  page.Restore();
  EXPECT_EQ(ui.messages.back(), "Please select items to restore.");
  page.SetEntryChecked(1, true);
  ui.answer = TMsgAnswer::No;
  page.Restore();
  EXPECT_EQ(ui.messages.back(), "Restore selected items?");
  EXPECT_TRUE(editor.imports.empty());
  ui.answer = TMsgAnswer::Yes;
  page.Restore();
  EXPECT_EQ(ui.messages.back(), "Restore completed.");
  EXPECT_EQ(ui.icons.back(), TMsgIcon::Information);
  EXPECT_EQ(ui.busyCalls, (std::vector<bool>{true, false}));
  EXPECT_TRUE(reg.ValueExists(View::V64, "HKLM\\Software\\B", "v"));
  ASSERT_EQ(page.Entries().size(), 1u) << "the unrestored entry stays, unchecked";
  EXPECT_FALSE(page.Entries()[0].checked);
  EXPECT_EQ(page.SelectAll(), TCheckState::Unchecked);

  ui.answer = TMsgAnswer::Cancel;
  page.ShowKey(0);
  EXPECT_TRUE(ui.shown.empty());
  ui.answer = TMsgAnswer::Ok;
  page.ShowKey(-1);
  EXPECT_EQ(ui.messages.back(), "Please select an item from the list");
  ui.jumpWorks = false;
  page.ShowKey(0);
  EXPECT_EQ(ui.messages.back(), "Registry key does not exist.");
  ui.printWorks = false;
  page.Print();
  EXPECT_EQ(ui.printed, (std::vector<std::string>{"HKEY_LOCAL_MACHINE\\Software\\A"}));
  EXPECT_EQ(ui.messages.back(), "Error Printing text.");
}

// "Restore completed." only when every selected entry was played back (an
// entry whose backups are gone counts as done: there is nothing to play).
// Otherwise the message says how many could not be restored and why, the
// page still reloads, and what failed stays listed for another try.
TEST_F(RestorePageTest, ARestoreThatLeavesEntriesBehindSaysHowManyAndWhy) {
  const std::string day = "2024-05-06";
  AddBackup(day, "100000000", "A", "1");
  AddBackup(day, "100000001", "B", "1");
  AddLine(day, "100000002=HKEY_LOCAL_MACHINE\\Software\\Gone"); // no backup files
  page.Show();
  ASSERT_EQ(page.Entries().size(), 3u);
  editor.mode = RegeditFake::Mode::Fail;
  page.Restore();
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[1], "2 of 3 selected items could not be restored:\r"
                            "- the registry editor could not import 2 backups\r\r"
                            "What was not restored stays in the list.");
  EXPECT_EQ(ui.icons[1], TMsgIcon::Warning) << "one of them was done";
  EXPECT_EQ(EntryTexts(page), (std::vector<std::string>{"HKEY_LOCAL_MACHINE\\Software\\A [x]",
                                                        "HKEY_LOCAL_MACHINE\\Software\\B [x]"}))
      << "reloaded: the missing one went, the failed ones stay checked";
  EXPECT_EQ(ui.busyCalls, (std::vector<bool>{true, false}));

  // The editor works again; the missing backups count as done.
  editor.mode = RegeditFake::Mode::Normal;
  page.Restore();
  EXPECT_EQ(ui.messages.back(), "Restore completed.");
  EXPECT_TRUE(page.Days().empty());
  EXPECT_TRUE(page.Entries().empty());
  EXPECT_FALSE(page.RestoreEnabled());
}

TEST_F(RestorePageTest, RefusedBackupsAndAnUnreadableIndexAreNamed) {
  const std::string day = "2024-05-06";
  AddLine(day, "..\\..\\evil=HKEY_LOCAL_MACHINE\\Software\\Planted");
  page.Show();
  ASSERT_EQ(page.Entries().size(), 1u);
  page.Restore();
  EXPECT_EQ(ui.messages.back(), "The selected item could not be restored:\r"
                                "- 1 backup is not a backup this program writes\r\r"
                                "What was not restored stays in the list.");
  EXPECT_EQ(ui.icons.back(), TMsgIcon::Error) << "nothing was restored";
  EXPECT_EQ(page.Entries().size(), 1u);

  AddBackup(day, "100000003", "A", "1");
  page.Reload();
  ASSERT_EQ(page.Entries().size(), 2u);
  // The index cannot be read when the restore comes to it (a virus checker
  // holding it); the page reads it again afterwards.
  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::Read, "index.txt", wc::ErrorSharingViolation);
  page.Restore();
  const std::string &text = ui.messages.back();
  EXPECT_EQ(text.rfind("2 of 2 selected items could not be restored:\r- cannot read ", 0), 0u)
      << text;
  EXPECT_NE(text.find("index.txt"), std::string::npos) << text;
  EXPECT_EQ(ui.icons.back(), TMsgIcon::Error);
  EXPECT_EQ(page.Entries().size(), 2u);
  EXPECT_FALSE(reg.ValueExists(View::V64, "HKLM\\Software\\A", "v"));
}

// An older day that keeps entries after a restore stays selected, so that
// what failed is in view, not the newest day.
TEST_F(RestorePageTest, TheRestoredDayStaysShownWhileItHasEntries) {
  AddBackup("2024-05-05", "100000000", "Older", "1");
  AddBackup("2024-05-06", "100000000", "Newest", "1");
  page.Show();
  page.SelectDay(0);
  editor.mode = RegeditFake::Mode::Fail;
  page.Restore();
  EXPECT_EQ(page.SelectedDay(), 0);
  EXPECT_EQ(EntryTexts(page),
            (std::vector<std::string>{"HKEY_LOCAL_MACHINE\\Software\\Older [x]"}));
}

// The main window reloads the page after a repair run only once the page
// exists; a reload never purges, and the first show still does.
TEST_F(UndoTest, TheFirstShowPurgesAndAReloadNever) {
  AddBackup("2024-05-01", "100000000", "Old", "1");
  AddBackup("2024-05-09", "100000000", "New", "1");
  now.fileTime =
      static_cast<std::uint64_t>(scanner.DayIndexAge("2024-05-01")) + 7 * FileTimeTicksPerDay + 1;
  FakeUi ui;
  TRestorePage page(
      {.scanner = scanner, .ui = ui, .deleteAfterWeek = true, .saveDeleteAfterWeek = {}});
  IRestorePageControl &control = page;
  EXPECT_FALSE(control.Exists());
  control.Reload();
  EXPECT_TRUE(fs.Recycled().empty()) << "a reload is no first show";
  EXPECT_EQ(page.Days().size(), 2u);
  page.Show();
  EXPECT_TRUE(control.Exists());
  EXPECT_EQ(fs.Recycled(), (std::vector<std::string>{"C:\\Undo\\2024-05-01"}));
  EXPECT_EQ(page.Days(), (std::vector<std::string>{"2024-05-09"}));
  // Weeks later, within the same run of the program.
  now.fileTime += 30 * FileTimeTicksPerDay;
  page.Show();
  control.Reload();
  EXPECT_EQ(fs.Recycled().size(), 1u) << "only the first show purges";
  EXPECT_EQ(page.Days().size(), 1u);
  EXPECT_TRUE(ui.messages.empty()) << "the purge is silent";
}

// The box writes the setting at once; a failed write is said, and the box
// keeps the setting in effect.
TEST_F(RestorePageTest, TheDeleteAfterWeekBoxSavesAtOnceAndSaysWhenItCannot) {
  page.SetDeleteAfterWeek(true);
  EXPECT_EQ(saved, (std::vector<bool>{true}));
  EXPECT_TRUE(page.DeleteAfterWeek());
  saveWorks = false;
  page.SetDeleteAfterWeek(false);
  EXPECT_TRUE(page.DeleteAfterWeek()) << "the file still says on";
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], "The setting could not be saved: Access denied");
  EXPECT_EQ(ui.icons[0], TMsgIcon::Error);
}

struct CliRun {
  int code;
  std::string out, err;
};

TEST_F(UndoTest, CliUndoCommands) {
  AddBackup("2024-05-06", "100000000", "A", "1");
  auto run = [&](std::vector<std::string> args) {
    std::ostringstream out, err;
    const int code = cli::RunUndo(scanner, args, false, {out, err, false});
    return CliRun{code, out.str(), err.str()};
  };
  EXPECT_EQ(run({"days"}).out, "2024-05-06\t1 Items\n");
  EXPECT_EQ(run({"entries", "2024-05-06"}).out, "HKEY_LOCAL_MACHINE\\Software\\A\n");
  EXPECT_EQ(run({"entries", "1999-01-01"}).code, 1);
  EXPECT_EQ(run({"restore", "2024-05-06", "HKLM\\nothing"}).code, 1);
  EXPECT_EQ(run({"bogus"}).code, 2);
  const CliRun restored = run({"restore", "2024-05-06"});
  EXPECT_EQ(restored.code, 0);
  EXPECT_EQ(restored.out, "Restored: 1\nFailed: 0\nMissing: 0\nRefused: 0\n");
  EXPECT_TRUE(reg.ValueExists(View::V64, "HKLM\\Software\\A", "v"));
  EXPECT_EQ(run({"purge"}).out, "Days left: 0\n");
}

class ThreadedCliRepair : public UndoTest {};

TEST_F(ThreadedCliRepair, SelectsByCategoryAndTestId) {
  qp::MainThread().BindToCurrentThread();
  reg.SetReflectionQueryStatus(wc::ErrorCallNotImplemented);
  reg.SetString(View::V64, "HKLM\\Software\\C1", "v", "1");
  reg.SetString(View::V64, "HKLM\\Software\\C2", "v", "1");
  TRegScanner cliScanner;
  cliScanner.SetUndoFolder(kUndo);
  TCategoryChecks checks;
  checks[ecStartup] = [](TScanThread &t, TRegistryAccess &a, bool counting) {
    if (counting || !a.IsView64())
      return;
    for (const auto &[key, id] : {std::pair{"Software\\C1", 1}, std::pair{"Software\\C2", 2},
                                  std::pair{"Software\\Classes\\Wow6432Node", 3}}) {
      t.CountTest(true);
      const TRepairAction action = id == 3 ? raDeleteKey : raDeleteValue;
      t.AddError(wc::HkeyLocalMachine, rv64,
                 {.data = "v",
                  .keyPath = key,
                  .valueName = id == 3 ? "" : "v",
                  .kind = ekInvalidPath,
                  .action = action,
                  .testId = id});
    }
  };
  cliScanner.SetChecks(checks);
  reg.CreateKey(View::Phys, "HKLM\\SOFTWARE\\Classes\\Wow6432Node\\CLSID");
  cli::TRepairOptions options;
  std::string message;
  ASSERT_TRUE(cli::ParseRepairOptions({"--category", "Startup", "--test-id", "2", "--json"},
                                      options, message));
  std::ostringstream out, err;
  EXPECT_EQ(cli::RunRepair(cliScanner, options, {out, err, false}), 0);
  EXPECT_TRUE(reg.ValueExists(View::V64, "HKLM\\Software\\C1", "v"));
  EXPECT_FALSE(reg.ValueExists(View::V64, "HKLM\\Software\\C2", "v"));
  EXPECT_NE(out.str().find("\"repaired\":1,\"failed\":0"), std::string::npos) << out.str();

  options.testIds = {3};
  options.scan.json = false;
  std::ostringstream out2, err2;
  EXPECT_EQ(cli::RunRepair(cliScanner, options, {out2, err2, false}), 1);
  EXPECT_NE(out2.str().find("error: Refusing to delete a protected key: "
                            "HKLM\\Software\\Classes\\Wow6432Node"),
            std::string::npos)
      << out2.str();
  EXPECT_FALSE(cli::ParseRepairOptions({"--test-id", "x"}, options, message));
}

} // namespace
} // namespace quenlo::test
