// Repair with undo backups: every action, backup names and extensions, the
// index, the protected-key guard, and fault injection on every registry and
// file step with the promise that nothing is lost.
#include <chrono>
#include <memory>

#include "RegeditFake.h"
#include "TestPlatform.h"
#include "platform/Utf.h"
#include "registry/uProtectedKeys.h"
#include "scanner/uRegScanner.h"

namespace quenlo::test {
namespace {

using qp::mem::View;

constexpr const char *kUndo = "C:\\Users\\u\\AppData\\Roaming\\Quenlo\\Undo";
constexpr const char *kDay = "2024-05-06";

// 2024-05-06 10:20:30.000 plus the platform's tick count in milliseconds.
TUndoTime ClockAt(std::uint64_t ticks) {
  TUndoTime t;
  t.year = 2024;
  t.month = 5;
  t.day = 6;
  const std::uint64_t ms = (10 * 3600 + 20 * 60 + 30) * 1000ull + ticks;
  t.hour = static_cast<int>(ms / 3600000 % 24);
  t.minute = static_cast<int>(ms / 60000 % 60);
  t.second = static_cast<int>(ms / 1000 % 60);
  t.millisecond = static_cast<int>(ms % 1000);
  t.fileTime = 133594092300000000ull + ticks * 10000;
  return t;
}

// The raw data of a string value as UTF-8 (NULs kept).
std::string Raw(qp::mem::MemoryRegistry &reg, const char *key, const char *name) {
  const auto value = reg.GetRaw(View::V64, key, name);
  return value ? qp::RawUtf16ToUtf8(value->second) : "<missing>";
}

TRegErrorInfo Info(TRepairAction action, std::string keyPath, std::string valueName = "",
                   std::uint8_t view64 = 1, std::string target = "") {
  TRegErrorInfo info;
  info.View64 = view64;
  info.RootKey = wc::HkeyLocalMachine;
  info.KeyPath = std::move(keyPath);
  info.ValueName = std::move(valueName);
  info.Target = std::move(target);
  info.Category = ecStartup;
  info.Kind = ekInvalidPath;
  info.Action = action;
  info.Actions = TRepairActionSet::Of(action);
  return info;
}

// Everything a repair test needs on one in-memory machine.
struct Machine {
  explicit Machine(qp::mem::MemoryPlatform &p) : platform(p), editor(p), scanner(main) {
    scanner.SetUndoFolder(kUndo);
    const std::uint64_t start = p.Sys().TickCount();
    scanner.SetUndoClock([&p, start] { return ClockAt(p.Sys().TickCount() - start); });
  }
  bool Repair(const TRegErrorInfo &info, std::string &error) {
    TRegError e(info);
    return scanner.RepairError(error, e);
  }
  std::vector<std::string> IndexLines() {
    std::vector<std::string> lines;
    EXPECT_TRUE(ReadTextLines(std::string(kUndo) + "\\" + kDay + "\\index.txt", lines));
    return lines;
  }
  // Every index line names a backup file that exists.
  bool IndexConsistent() {
    for (const std::string &line : IndexLines()) {
      const std::string base =
          std::string(kUndo) + "\\" + kDay + "\\" + line.substr(0, line.find('='));
      if (!IsExistingFile(base + ".REG") && !IsExistingFile(base + ".REG32") &&
          !IsExistingFile(base + ".REG64"))
        return false;
    }
    return true;
  }
  std::string Dump() { return CanonicalDump(platform.Reg(), "HKLM\\SOFTWARE"); }
  void RestoreAll() {
    std::vector<std::string> days;
    scanner.BackupDays(days);
    for (const std::string &day : days)
      scanner.RestoreEntries(day, nullptr);
  }

  qp::mem::MemoryPlatform &platform;
  RegeditFake editor;
  qp::TMainThread main;
  TRegScanner scanner;
};

class RepairTest : public MemoryTest {
protected:
  void SetUp() override {
    MemoryTest::SetUp();
    // Reflection cannot be read (as under Wine): backups name their view.
    reg.SetReflectionQueryStatus(wc::ErrorCallNotImplemented);
    m = std::make_unique<Machine>(platform);
  }
  std::string Backup(const std::string &name) {
    return std::string(kUndo) + "\\" + kDay + "\\" + name;
  }
  std::unique_ptr<Machine> m;
};

TEST_F(RepairTest, DeleteValueIsBackedUpIndexedAndRestored) {
  reg.SetString(View::V64, "HKLM\\Software\\Rep", "v", "data");
  reg.SetString(View::V64, "HKLM\\Software\\Rep", "other", "x");
  const std::string before = m->Dump();
  std::string error;
  ASSERT_TRUE(m->Repair(Info(raDeleteValue, "Software\\Rep", "v"), error)) << error;
  EXPECT_FALSE(reg.ValueExists(View::V64, "HKLM\\Software\\Rep", "v"));
  EXPECT_TRUE(fs.Exists(Backup("102030000.REG64")));
  EXPECT_EQ(m->IndexLines(),
            (std::vector<std::string>{"102030000=HKEY_LOCAL_MACHINE\\Software\\Rep"}));
  std::vector<std::string> days, entries;
  m->scanner.BackupDays(days);
  EXPECT_EQ(days, (std::vector<std::string>{kDay}));
  m->scanner.DayEntries(kDay, entries);
  EXPECT_EQ(entries, (std::vector<std::string>{"HKEY_LOCAL_MACHINE\\Software\\Rep"}));

  const TRestoreSummary summary = m->scanner.RestoreEntries(kDay, nullptr);
  EXPECT_EQ(summary.restored, 1);
  EXPECT_EQ(m->Dump(), before);
  EXPECT_FALSE(fs.Exists(std::string(kUndo) + "\\" + kDay)) << "an emptied day disappears";
}

TEST_F(RepairTest, BackupNamesAndExtensions) {
  reg.SetString(View::V64, "HKLM\\Software\\Rep", "a", "1");
  reg.SetString(View::V64, "HKLM\\Software\\Rep", "b", "1");
  reg.SetString(View::V32, "HKLM\\Software\\Rep", "c", "1");
  std::string error;
  // Same millisecond: the second name waits until it is free.
  ASSERT_TRUE(m->Repair(Info(raDeleteValue, "Software\\Rep", "a"), error));
  ASSERT_TRUE(m->Repair(Info(raDeleteValue, "Software\\Rep", "b"), error));
  ASSERT_TRUE(m->Repair(Info(raDeleteValue, "Software\\Rep", "c", 0), error));
  EXPECT_TRUE(fs.Exists(Backup("102030000.REG64")));
  EXPECT_TRUE(fs.Exists(Backup("102030001.REG64")));
  EXPECT_TRUE(fs.Exists(Backup("102030002.REG32")));

  // A key the system reports as reflected gets a ".REG" backup, imported
  // into both views by restore; a key with reflection disabled names its view.
  reg.SetReflectionQueryStatus(0);
  reg.SetString(View::V64, "HKLM\\Software\\Refl", "r", "1");
  reg.SetString(View::V64, "HKLM\\Software\\Own", "o", "1");
  reg.SetReflectionDisabled(View::V64, "HKLM\\Software\\Own", true);
  ASSERT_TRUE(m->Repair(Info(raDeleteValue, "Software\\Refl", "r"), error));
  ASSERT_TRUE(m->Repair(Info(raDeleteValue, "Software\\Own", "o"), error));
  EXPECT_TRUE(fs.Exists(Backup("102030003.REG")));
  EXPECT_TRUE(fs.Exists(Backup("102030004.REG64")));
  const std::vector<std::string> only = {"HKEY_LOCAL_MACHINE\\Software\\Refl"};
  m->editor.imports.clear();
  m->scanner.RestoreEntries(kDay, &only);
  ASSERT_EQ(m->editor.imports.size(), 2u);
  EXPECT_EQ(m->editor.imports[0].substr(0, 3), "32:");
  EXPECT_EQ(m->editor.imports[1].substr(0, 3), "64:");
  EXPECT_TRUE(reg.ValueExists(View::V64, "HKLM\\Software\\Refl", "r"));
}

TEST_F(RepairTest, RemoveListItem) {
  const char *key = "HKLM\\Software\\List";
  reg.SetString(View::V64, key, "s", "a;b;a");
  reg.SetString(View::V64, key, "q", "\"x;y\";z", wc::RegExpandSz);
  reg.SetMultiString(View::V64, key, "m", {"a", "b", "a"});
  reg.SetDword(View::V64, key, "d", 1);
  const std::string before = m->Dump();
  std::string error;
  ASSERT_TRUE(m->Repair(Info(raRemoveListItem, "Software\\List", "s", 1, "a"), error));
  ASSERT_TRUE(m->Repair(Info(raRemoveListItem, "Software\\List", "q", 1, "z"), error));
  ASSERT_TRUE(m->Repair(Info(raRemoveListItem, "Software\\List", "m", 1, "a"), error));
  ASSERT_TRUE(m->Repair(Info(raRemoveListItem, "Software\\List", "d", 1, "a"), error));
  EXPECT_EQ(Raw(reg, key, "s"), std::string("b\0", 2));
  EXPECT_EQ(Raw(reg, key, "q"), std::string("\"x;y\"\0", 6));
  EXPECT_EQ(reg.GetRaw(View::V64, key, "q")->first, wc::RegExpandSz);
  EXPECT_EQ(Raw(reg, key, "m"), std::string("b\0\0", 3));
  EXPECT_EQ(m->IndexLines().size(), 3u) << "the DWORD is left alone without a backup";
  m->RestoreAll();
  EXPECT_EQ(m->Dump(), before);
}

// A multi-string list is rebuilt from all of its strings: an empty one in
// the middle must not end the list. A list too big for a backup is left as
// it is, and that is reported as no repair.
TEST_F(RepairTest, ListRepairsKeepEveryOtherItemAndRefuseOversizedLists) {
  const char *key = "HKLM\\Software\\List";
  qp::Bytes multi = qp::Utf8ToRawUtf16(std::string("a\0\0b\0x\0\0", 8));
  reg.SetRaw(View::V64, key, "m", wc::RegMultiSz, multi);
  std::string big(40000, 'p');
  reg.SetString(View::V64, key, "big", big + ";a");
  const std::string before = m->Dump();
  std::string error;
  ASSERT_TRUE(m->Repair(Info(raRemoveListItem, "Software\\List", "m", 1, "a"), error)) << error;
  EXPECT_EQ(Raw(reg, key, "m"), std::string("\0b\0x\0\0", 6));

  EXPECT_FALSE(m->Repair(Info(raRemoveListItem, "Software\\List", "big", 1, "a"), error));
  EXPECT_NE(error.find("65535"), std::string::npos) << error;
  EXPECT_EQ(m->IndexLines().size(), 1u) << "no backup for the list left alone";
  m->RestoreAll();
  EXPECT_EQ(m->Dump(), before);
}

// The recycle bin exists on fixed drives only; elsewhere the shell deletes
// for good, so the file is left where it is and the repair fails.
TEST_F(RepairTest, AFileOffAFixedDriveIsNotRecycled) {
  fs.SetDrive('E', wc::DriveRemovable);
  fs.AddFile("E:\\Start\\old.lnk", "x");
  std::string error;
  EXPECT_FALSE(m->Repair(Info(raRecycleFile, "E:\\Start\\old.lnk"), error));
  EXPECT_NE(error.find("fixed drive"), std::string::npos) << error;
  EXPECT_TRUE(fs.Recycled().empty());
  EXPECT_TRUE(fs.Exists("E:\\Start\\old.lnk"));
}

TEST_F(RepairTest, RepairedMissingAndRecycleCases) {
  m->scanner.SetRemainingCount(ecStartup, 2);
  TRegError done(Info(raDeleteKey, "Software\\Anything"));
  done.SetRepaired(true);
  std::string error;
  EXPECT_TRUE(m->scanner.RepairError(error, done));
  EXPECT_EQ(m->scanner.RemainingCount(ecStartup), 1);
  EXPECT_FALSE(fs.Exists(kUndo)) << "nothing written";

  EXPECT_TRUE(m->Repair(Info(raDeleteValue, "Software\\Missing", "v"), error));
  EXPECT_TRUE(m->Repair(Info(raDeleteKey, "Software\\Missing"), error));
  EXPECT_EQ(m->scanner.RemainingCount(ecStartup), 0);
  EXPECT_TRUE(m->Repair(Info(raRecycleFile, "C:\\gone.txt"), error));
  EXPECT_TRUE(fs.Recycled().empty());
  fs.AddFile("C:\\old.lnk", "x");
  EXPECT_TRUE(m->Repair(Info(raRecycleFile, "C:\\old.lnk"), error));
  EXPECT_EQ(fs.Recycled(), (std::vector<std::string>{"C:\\old.lnk"}));
  fs.AddFile("C:\\locked.lnk", "x");
  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::Recycle, "locked", wc::ErrorAccessDenied);
  EXPECT_FALSE(m->Repair(Info(raRecycleFile, "C:\\locked.lnk"), error));
  EXPECT_EQ(error, "SHRecycleFile: 5");
  EXPECT_FALSE(m->Repair(Info(static_cast<TRepairAction>(6), "Software\\X"), error));
  EXPECT_EQ(error, "");
}

TEST_F(RepairTest, FailingDeleteLeavesNoBackupAndNoIndexLine) {
  reg.SetString(View::V64, "HKLM\\Software\\Rep", "v", "data");
  reg.InjectFailure(qp::mem::RegOp::DeleteValue, "Rep", wc::ErrorAccessDenied);
  std::string error;
  EXPECT_FALSE(m->Repair(Info(raDeleteValue, "Software\\Rep", "v"), error));
  EXPECT_EQ(error, "RegDeleteValue: " + sys.SystemMessage(5));
  EXPECT_FALSE(fs.Exists(Backup("102030000.REG64")));
  EXPECT_TRUE(m->IndexLines().empty());
  EXPECT_TRUE(reg.ValueExists(View::V64, "HKLM\\Software\\Rep", "v"));

  // A key tree that can be deleted only in part keeps its backup, indexed.
  reg.SetString(View::V64, "HKLM\\Software\\Tree\\A", "a", "1");
  reg.SetString(View::V64, "HKLM\\Software\\Tree\\B", "b", "1");
  reg.SetDenyDelete(View::V64, "HKLM\\Software\\Tree\\A", true);
  const std::string before = m->Dump();
  EXPECT_FALSE(m->Repair(Info(raDeleteKey, "Software\\Tree"), error));
  EXPECT_FALSE(reg.KeyExists(View::V64, "HKLM\\Software\\Tree\\B")) << "deleted before A failed";
  EXPECT_EQ(m->IndexLines().size(), 1u);
  EXPECT_TRUE(m->IndexConsistent());
  reg.SetDenyDelete(View::V64, "HKLM\\Software\\Tree\\A", false);
  m->RestoreAll();
  EXPECT_EQ(m->Dump(), before);
}

TEST_F(RepairTest, ClearValueAndMruLists) {
  const char *key = "HKLM\\Software\\Mru";
  reg.SetString(View::V64, key, "a", "one");
  reg.SetString(View::V64, key, "b", "two");
  reg.SetString(View::V64, key, "MRUList", "cab");
  reg.SetString(View::V64, key, "keep", "text");
  const std::string before = m->Dump();
  std::string error;
  ASSERT_TRUE(m->Repair(Info(raClearValue, "Software\\Mru", "keep"), error));
  ASSERT_TRUE(m->Repair(Info(raClearValue, "Software\\Mru", "new"), error));
  EXPECT_EQ(Raw(reg, key, "keep"), std::string("\0", 1));
  EXPECT_EQ(Raw(reg, key, "new"), std::string("\0", 1));
  ASSERT_TRUE(m->Repair(Info(raRebuildMRUList, "Software\\Mru"), error));
  EXPECT_EQ(Raw(reg, key, "MRUList"), std::string("ab\0", 3));
  ASSERT_TRUE(m->Repair(Info(raDeleteMRUItem, "Software\\Mru", "b"), error));
  EXPECT_FALSE(reg.ValueExists(View::V64, key, "b"));
  EXPECT_EQ(Raw(reg, key, "MRUList"), std::string("a\0", 2));
  EXPECT_TRUE(m->IndexConsistent());
  m->RestoreAll();
  EXPECT_EQ(m->Dump(), before) << "the created value is deleted again";
}

TEST_F(RepairTest, DeleteValueAndEmptyKeyAndDeleteKey) {
  reg.SetString(View::V64, "HKLM\\Software\\Lone", "v", "x");
  reg.SetString(View::V64, "HKLM\\Software\\Busy", "v", "x");
  reg.SetString(View::V64, "HKLM\\Software\\Busy", "w", "x");
  reg.SetString(View::V64, "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "v", "x");
  reg.SetString(View::V64, "HKLM\\Software\\Tree\\Sub\\Deep", "q\"uote", "\xC3\xA9");
  reg.SetRaw(View::V64, "HKLM\\Software\\Tree", "qw", wc::RegQword, {1, 2, 3, 4, 5, 6, 7, 8});
  const std::string before = m->Dump();
  std::string error;
  ASSERT_TRUE(m->Repair(Info(raDeleteValueAndEmptyKey, "Software\\Lone", "v"), error));
  ASSERT_TRUE(m->Repair(Info(raDeleteValueAndEmptyKey, "Software\\Busy", "v"), error));
  ASSERT_TRUE(m->Repair(
      Info(raDeleteValueAndEmptyKey, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "v"),
      error));
  EXPECT_FALSE(reg.KeyExists(View::V64, "HKLM\\Software\\Lone"));
  EXPECT_TRUE(reg.KeyExists(View::V64, "HKLM\\Software\\Busy"));
  EXPECT_TRUE(reg.KeyExists(View::V64, "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"))
      << "an emptied start key stays";
  ASSERT_TRUE(m->Repair(Info(raDeleteKey, "Software\\Tree"), error)) << error;
  EXPECT_FALSE(reg.KeyExists(View::V64, "HKLM\\Software\\Tree"));
  EXPECT_EQ(m->editor.exports, 1);
  m->RestoreAll();
  EXPECT_EQ(m->Dump(), before);
}

TEST_F(RepairTest, ProtectedKeys) {
  for (const char *path :
       {"", "\\", "Software", "software\\classes", "Software\\Classes\\CLSID\\",
        "Software\\Classes\\Wow6432Node\\CLSID", "Software\\Wow6432Node\\Classes\\CLSID",
        "Software\\Classes\\Wow6432Node", "Software\\Wow6432Node", "Anything\\wow6432node",
        "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
        "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run",
        "Software\\Microsoft\\Windows\\CurrentVersion", "System\\ControlSet001\\Services\\VXD"})
    EXPECT_TRUE(IsProtectedKey(wc::HkeyLocalMachine, path)) << path;
  EXPECT_TRUE(IsProtectedKey(wc::HkeyClassesRoot, "CLSID"));
  EXPECT_TRUE(IsProtectedKey(wc::HkeyClassesRoot, ""));
  EXPECT_TRUE(IsProtectedKey(wc::HkeyUsers, "S-1-5-21-1"));
  EXPECT_TRUE(IsProtectedKey(wc::HkeyUsers, "S-1-5-21-1_Classes\\Interface"));
  EXPECT_TRUE(IsProtectedKey(wc::HkeyCurrentUser,
                             "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RunMRU"));
  for (const char *path :
       {"Software\\Classes\\CLSID\\{1}", "Software\\Classes\\.txt",
        "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\x", "Software\\Vendor"})
    EXPECT_FALSE(IsProtectedKey(wc::HkeyLocalMachine, path)) << path;
  EXPECT_FALSE(IsProtectedKey(wc::HkeyClassesRoot, "CLSID\\{1}"));

  reg.CreateKey(View::Phys, "HKLM\\SOFTWARE\\Classes\\Wow6432Node\\CLSID\\{1}");
  std::string error;
  EXPECT_FALSE(m->Repair(Info(raDeleteKey, "Software\\Classes\\Wow6432Node\\CLSID"), error));
  EXPECT_EQ(error,
            "Refusing to delete a protected key: HKLM\\Software\\Classes\\Wow6432Node\\CLSID");
  EXPECT_TRUE(reg.KeyExists(View::Phys, "HKLM\\SOFTWARE\\Classes\\Wow6432Node\\CLSID\\{1}"));
  EXPECT_FALSE(fs.Exists(kUndo));
}

// A scan that reports the 32-bit class tree for deletion (as the file-type
// walk of HKLM\Software\Classes in the 64-bit view does) with no ignore list
// at all: the finding is listed, and its repair is refused.
TEST(ThreadedRepairGuard, HoldsWithoutIgnoreLists) {
  qp::mem::MemoryPlatform platform;
  platform.Install();
  InitRegistryLayer();
  platform.Reg().CreateKey(View::Phys, "HKLM\\SOFTWARE\\Classes\\Wow6432Node\\CLSID\\{1}");
  Machine m(platform);
  TCategoryChecks checks;
  checks[ecFileTypes] = [](TScanThread &t, TRegistryAccess &a, bool counting) {
    if (counting || !a.IsView64())
      return;
    t.CountTest(true);
    t.AddError(wc::HkeyLocalMachine, rv64,
               {.data = "Wow6432Node",
                .keyPath = "Software\\Classes\\Wow6432Node\\CLSID",
                .kind = ekInvalidShellCommand,
                .action = raDeleteKey,
                .testId = 15});
  };
  m.scanner.SetChecks(checks);
  m.scanner.SetScanCategories(TCategorySet::Of(ecFileTypes));
  m.scanner.SetIgnoreList({});
  m.scanner.StartScan();
  while (m.scanner.IsScanning())
    m.main.PumpWait(std::chrono::milliseconds(5));
  ASSERT_EQ(m.scanner.ErrorCount(), 1);
  std::string error;
  EXPECT_FALSE(m.scanner.RepairError(error, *m.scanner.ErrorAt(ecFileTypes, 0)));
  EXPECT_EQ(error.rfind("Refusing to delete a protected key: ", 0), 0u);
  EXPECT_TRUE(
      platform.Reg().KeyExists(View::Phys, "HKLM\\SOFTWARE\\Classes\\Wow6432Node\\CLSID\\{1}"));
}

// Every registry and file step of every action fails in turn (once, twice,
// and for good). After each failure the registry is unchanged or its backup
// is present and indexed; no index line names a missing backup; and once the
// fault is gone, restoring every backup gives back the registry as it was.
TEST(RepairFaultInjection, NothingIsLost) {
  struct Scenario {
    const char *name;
    std::function<void(qp::mem::MemoryRegistry &)> build;
    TRegErrorInfo info;
  };
  const char *key = "HKLM\\Software\\Fault";
  const std::vector<Scenario> scenarios = {
      {"deleteKey",
       [&](auto &r) {
         r.SetString(View::V64, std::string(key) + "\\A", "a", "1");
         r.SetString(View::V64, std::string(key) + "\\B\\C", "c", "2");
       },
       Info(raDeleteKey, "Software\\Fault")},
      {"deleteValue", [&](auto &r) { r.SetString(View::V64, key, "v", "1"); },
       Info(raDeleteValue, "Software\\Fault", "v")},
      {"deleteValueAndEmptyKey", [&](auto &r) { r.SetString(View::V64, key, "v", "1"); },
       Info(raDeleteValueAndEmptyKey, "Software\\Fault", "v")},
      {"removeListItem", [&](auto &r) { r.SetString(View::V64, key, "v", "a;b"); },
       Info(raRemoveListItem, "Software\\Fault", "v", 1, "a")},
      {"clearValue", [&](auto &r) { r.SetString(View::V64, key, "v", "1"); },
       Info(raClearValue, "Software\\Fault", "v")},
      {"clearMissingValue", [&](auto &r) { r.SetString(View::V64, key, "w", "1"); },
       Info(raClearValue, "Software\\Fault", "v")},
      {"rebuildMru",
       [&](auto &r) {
         r.SetString(View::V64, key, "a", "1");
         r.SetString(View::V64, key, "MRUList", "ba");
       },
       Info(raRebuildMRUList, "Software\\Fault")},
      {"deleteMruItem",
       [&](auto &r) {
         r.SetString(View::V64, key, "a", "1");
         r.SetString(View::V64, key, "b", "2");
         r.SetString(View::V64, key, "MRUList", "ba");
       },
       Info(raDeleteMRUItem, "Software\\Fault", "b")},
  };
  using FsOp = qp::mem::MemoryFileSystem::Op;
  const std::vector<qp::mem::RegOp> regOps = {
      qp::mem::RegOp::Open,     qp::mem::RegOp::Create,      qp::mem::RegOp::QueryInfo,
      qp::mem::RegOp::EnumKey,  qp::mem::RegOp::EnumValue,   qp::mem::RegOp::QueryValue,
      qp::mem::RegOp::SetValue, qp::mem::RegOp::DeleteValue, qp::mem::RegOp::DeleteKey};
  const std::vector<FsOp> fileOps = {FsOp::Attributes, FsOp::Find,   FsOp::CreateDir,
                                     FsOp::RemoveDir,  FsOp::Delete, FsOp::Move,
                                     FsOp::Copy,       FsOp::Read,   FsOp::Write};
  int failures = 0;
  for (const Scenario &s : scenarios) {
    for (int op = 0; op < static_cast<int>(regOps.size() + fileOps.size()); ++op) {
      for (const int count : {1, 2, 1000}) {
        qp::mem::MemoryPlatform platform;
        platform.Install();
        InitRegistryLayer();
        platform.Reg().SetReflectionQueryStatus(wc::ErrorCallNotImplemented);
        s.build(platform.Reg());
        Machine m(platform);
        // An earlier repair of the same day, whose line must survive.
        platform.Reg().SetString(View::V64, "HKLM\\Software\\Earlier", "e", "1");
        std::string error;
        ASSERT_TRUE(m.Repair(Info(raDeleteValue, "Software\\Earlier", "e"), error));
        const std::string before = m.Dump();
        const std::string context =
            std::string(s.name) + " op " + std::to_string(op) + " count " + std::to_string(count);
        if (op < static_cast<int>(regOps.size()))
          platform.Reg().InjectFailure(regOps[static_cast<std::size_t>(op)], "", 5, count);
        else
          platform.Fs().InjectFailure(fileOps[static_cast<std::size_t>(op) - regOps.size()], "",
                                      wc::ErrorAccessDenied, count);
        const bool ok = m.Repair(s.info, error);
        platform.Reg().ClearFailures();
        platform.Fs().ClearFailures();
        const std::vector<std::string> lines = m.IndexLines();
        EXPECT_TRUE(m.IndexConsistent()) << context;
        ASSERT_FALSE(lines.empty()) << context;
        EXPECT_EQ(lines.front().substr(lines.front().find('=')),
                  "=HKEY_LOCAL_MACHINE\\Software\\Earlier")
            << context;
        if (!ok) {
          ++failures;
          EXPECT_TRUE(m.Dump() == before || lines.size() == 2) << context << ": " << error;
        }
        const std::vector<std::string> mine = {"HKEY_LOCAL_MACHINE\\Software\\Fault"};
        m.scanner.RestoreEntries(kDay, &mine);
        EXPECT_EQ(m.Dump(), before) << context << (ok ? " (repaired)" : " failed: " + error);
      }
    }
  }
  EXPECT_GT(failures, 50) << "the faults reached the repairs";
}

} // namespace
} // namespace quenlo::test
