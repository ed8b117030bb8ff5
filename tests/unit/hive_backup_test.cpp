// Hive backup, comparison, check and restore on the in-memory Windows: the
// hives are real loaded hives of the model (saved trees mounted with
// LoadKey), named in a hive list the fixture writes itself.
#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include <sstream>

#include "TestPlatform.h"
#include "app/cli/uCli.h"
#include "app/pages/uFullBackupRunner.h"
#include "app/uAppHost.h"
#include "app/uEnvironment.h"
#include "optimizer/uHiveBackup.h"
#include "optimizer/uHiveFolder.h"
#include "platform/ScopedKey.h"
#include "service/uFullBackup.h"
#include "service/uSettingsEdit.h"

namespace quenlo::test {
namespace {

using qp::mem::View;
using FsOp = qp::mem::MemoryFileSystem::Op;

constexpr const char *kHiveListPath = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\hivelist";
constexpr const char *kGuid = "6c1b2f3e-9a0d-4e55-8f21-0a1b2c3d4e5f";
constexpr const char *kFolder = "C:\\Backups\\Hives";
constexpr const char *kConfig = "C:\\Windows\\System32\\config\\";
constexpr const char *kDevice = "\\Device\\HarddiskVolume2"; // the model's C:
constexpr std::uint64_t kGiB = 1024ull * 1024 * 1024;

struct TSeedHive {
  std::uint32_t root;
  std::string nativeName; // the hive list's value name
  std::string key;
  std::string file;
  std::vector<std::string> topKeys;
};

std::string FolderFile(std::string_view name) {
  return std::string(kFolder) + "\\" + std::string(name);
}

class HiveBackupTest : public MemoryTest {
protected:
  void SetUp() override {
    MemoryTest::SetUp();
    reg.SetString(View::V64, "HKLM\\SOFTWARE\\Microsoft\\Cryptography", "MachineGuid", kGuid);
    now.year = 2026;
    now.month = 12;
    now.day = 9;
    now.hour = 10;
    now.fileTime = 134100000000000000ull;
    SetHiveClock([this] { return now; });
    seeds = {
        {wc::HkeyLocalMachine,
         "\\REGISTRY\\MACHINE\\SAM",
         "SAM",
         std::string(kConfig) + "SAM",
         {"SAM"}},
        {wc::HkeyLocalMachine,
         "\\REGISTRY\\MACHINE\\COMPONENTS",
         "COMPONENTS",
         std::string(kConfig) + "COMPONENTS",
         {"CanonicalData", "DerivedData"}},
        {wc::HkeyUsers,
         "\\REGISTRY\\USER\\.DEFAULT",
         ".DEFAULT",
         std::string(kConfig) + "DEFAULT",
         {"Control Panel", "Software"}},
        {wc::HkeyUsers,
         "\\REGISTRY\\USER\\S-1-5-19",
         "S-1-5-19",
         "C:\\Windows\\ServiceProfiles\\LocalService\\NTUSER.DAT",
         {"Environment", "Software"}},
    };
    for (const TSeedHive &seed : seeds)
      Mount(seed);
    WriteHiveList(seeds);
  }
  void TearDown() override { SetHiveClock({}); }

  // Makes `seed` a loaded hive of the model: a tree saved to its file and
  // mounted from there, as Windows has its hives.
  void Mount(const TSeedHive &seed) {
    const std::string scratch = "HKLM\\QuenloSeed";
    for (const std::string &top : seed.topKeys)
      ASSERT_TRUE(reg.CreateKey(View::Phys, scratch + "\\" + top));
    ASSERT_TRUE(
        reg.SetString(View::Phys, scratch + "\\" + seed.topKeys.front(), "owner", seed.key));
    fs.AddDir(qp::FolderOf(seed.file));
    {
      qp::ScopedKey key;
      ASSERT_EQ(0, platform.Registry().OpenKey(wc::HkeyLocalMachine, "QuenloSeed", wc::KeyRead,
                                               key.Out()));
      ASSERT_EQ(0, sys.SetPrivilege("SeBackupPrivilege", true, nullptr));
      ASSERT_EQ(0, platform.Registry().SaveKey(key.Get(), seed.file));
    }
    ASSERT_TRUE(reg.DeleteTree(View::Phys, scratch));
    // The model's own stand-in key of that name gives way to the hive.
    reg.DeleteTree(View::Phys, RootKeyShortName(seed.root) + "\\" + seed.key);
    ASSERT_EQ(0, sys.SetPrivilege("SeRestorePrivilege", true, nullptr));
    ASSERT_EQ(0, platform.Registry().LoadKey(seed.root, seed.key, seed.file));
    ASSERT_EQ(0, sys.SetPrivilege("SeRestorePrivilege", false, nullptr));
    ASSERT_EQ(0, sys.SetPrivilege("SeBackupPrivilege", false, nullptr));
  }

  // The hive list in the order given, with the entries a list also holds
  // that are no hives with a file.
  void WriteHiveList(const std::vector<TSeedHive> &hives) {
    reg.DeleteTree(View::V64, kHiveListPath);
    ASSERT_TRUE(reg.CreateKey(View::V64, kHiveListPath));
    ASSERT_TRUE(reg.SetString(View::V64, kHiveListPath, "\\REGISTRY\\MACHINE\\HARDWARE", ""));
    for (const TSeedHive &hive : hives) {
      ASSERT_TRUE(
          reg.SetString(View::V64, kHiveListPath, hive.nativeName, kDevice + hive.file.substr(2)));
      // Below a hive of the list, and a file that is gone: not hives.
      ASSERT_TRUE(reg.SetString(View::V64, kHiveListPath, hive.nativeName + "\\Deeper",
                                kDevice + hive.file.substr(2)));
    }
    ASSERT_TRUE(reg.SetString(View::V64, kHiveListPath, "\\REGISTRY\\MACHINE\\GONE",
                              std::string(kDevice) + "\\Windows\\System32\\config\\GONE"));
    ASSERT_TRUE(reg.SetString(View::V64, kHiveListPath, "\\REGISTRY\\OTHER\\X",
                              kDevice + hives.front().file.substr(2)));
  }

  THiveBackupResult Backup(const std::atomic<bool> *terminate = nullptr) {
    THiveBackupResult result;
    THiveBackupRequest request;
    request.folder = kFolder;
    request.progress = [this](std::uint64_t total, std::uint64_t done) {
      progress.emplace_back(total, done);
    };
    request.terminate = terminate;
    backedUp = BackupHives(request, result);
    return result;
  }

  std::string Check() {
    THiveBackupCheck check;
    const bool ok = CheckHiveBackup(kFolder, check);
    EXPECT_EQ(ok, check.errorText.empty()) << check.errorText;
    return ok ? std::string() : check.errorText;
  }

  std::string Text(std::string_view path) { return fs.Content(path).value_or("<missing>"); }

  std::vector<TSeedHive> seeds;
  TUndoTime now;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
  bool backedUp = false;
};

// --- the hive list

TEST_F(HiveBackupTest, HiveListTakesOnlyDirectHivesWithFiles) {
  fs.SetReportedSize(seeds[1].file, 5 * kGiB + 7);
  THiveArray hives;
  ASSERT_TRUE(GetHiveList(hives));
  ASSERT_EQ(4u, hives.size());
  for (std::size_t i = 0; i < hives.size(); ++i) {
    EXPECT_EQ(seeds[i].root, hives[i].root);
    EXPECT_EQ(seeds[i].key, hives[i].keyPath);
    EXPECT_EQ(seeds[i].file, hives[i].file);
  }
  EXPECT_EQ(5 * kGiB + 7, hives[1].size);
  EXPECT_EQ(Text(seeds[0].file).size(), hives[0].size);

  reg.DeleteTree(View::V64, kHiveListPath);
  EXPECT_FALSE(GetHiveList(hives));
  EXPECT_TRUE(hives.empty());
}

// --- backup

TEST_F(HiveBackupTest, BackupSavesEveryHiveProtectedWithListAndIdentity) {
  const THiveBackupResult result = Backup();
  ASSERT_TRUE(backedUp) << result.errorText;
  EXPECT_TRUE(result.Complete());
  EXPECT_EQ(4, result.saved);
  std::string dacl;
  ASSERT_EQ(0, fs.GetFileSecurity(kFolder, wc::DaclSecurityInformation, dacl));
  EXPECT_EQ("D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", dacl);
  EXPECT_EQ("0:HKEY_LOCAL_MACHINE\\SAM\r\n1:HKEY_LOCAL_MACHINE\\COMPONENTS\r\n"
            "2:HKEY_USERS\\.DEFAULT\r\n3:HKEY_USERS\\S-1-5-19\r\n",
            Text(FolderFile("hivelist.txt")));
  const std::string info = Text(FolderFile("backupinfo.txt"));
  EXPECT_NE(std::string::npos, info.find(std::string("machine=") + kGuid + "\r\n"));
  EXPECT_NE(std::string::npos, info.find("date=2026-12-09 10:00:00\r\n"));
  for (int i = 0; i < 4; ++i)
    EXPECT_NE(std::string::npos,
              info.find("file=" + std::to_string(i) + ":" +
                        std::to_string(Text(FolderFile(std::to_string(i))).size()) + "\r\n"))
        << info;
  // Nothing is kept enabled that was not before.
  EXPECT_FALSE(sys.PrivilegeEnabled("SeBackupPrivilege"));
  EXPECT_FALSE(HasTemporaryFile(fs.List(kFolder)));
}

TEST_F(HiveBackupTest, PartialBackupKeepsIndexNamesAndReportsTheHivesLeftOut) {
  reg.InjectFailure(qp::mem::RegOp::Save, "COMPONENTS", wc::ErrorAccessDenied);
  reg.InjectFailure(qp::mem::RegOp::Open, "S-1-5-19", wc::ErrorFileNotFound);
  const THiveBackupResult result = Backup();
  ASSERT_TRUE(backedUp);
  EXPECT_FALSE(result.Complete());
  EXPECT_EQ(2, result.saved);
  ASSERT_EQ(4u, result.hives.size());
  EXPECT_TRUE(result.hives[0].done);
  EXPECT_FALSE(result.hives[1].done);
  EXPECT_EQ("RegSaveKey: Access is denied.", result.hives[1].errorText);
  EXPECT_EQ("COMPONENTS", result.hives[1].keyPath);
  EXPECT_TRUE(result.hives[2].done);
  EXPECT_EQ("3", result.hives[3].fileName);
  EXPECT_NE(std::string::npos, result.hives[3].errorText.find("RegOpenKeyEx: "));
  EXPECT_EQ("0:HKEY_LOCAL_MACHINE\\SAM\r\n2:HKEY_USERS\\.DEFAULT\r\n",
            Text(FolderFile("hivelist.txt")));
  // The refused save left no empty file that a later restore could take.
  EXPECT_FALSE(fs.Exists(FolderFile("1")));
  EXPECT_FALSE(fs.Exists(FolderFile("3")));
  // The partial folder is still a consistent one.
  EXPECT_EQ("", Check());
}

TEST_F(HiveBackupTest, ProgressCountsBeyondFourGibibytes) {
  fs.SetReportedSize(seeds[2].file, 6 * kGiB);
  const THiveBackupResult result = Backup();
  ASSERT_TRUE(backedUp);
  std::uint64_t total = 0;
  for (const TSeedHive &seed : seeds)
    total += seed.file == seeds[2].file ? 6 * kGiB : Text(seed.file).size();
  ASSERT_GE(progress.size(), 2u);
  EXPECT_EQ(std::make_pair(total, std::uint64_t{0}), progress.front());
  EXPECT_EQ(std::make_pair(total, total), progress.back());
  for (std::size_t i = 1; i < progress.size(); ++i)
    EXPECT_LE(progress[i - 1].second, progress[i].second);
  EXPECT_TRUE(result.Complete());
}

TEST_F(HiveBackupTest, BackupStopsBetweenHivesWhenTerminating) {
  std::atomic<bool> terminate{false};
  THiveBackupResult result;
  THiveBackupRequest request;
  request.folder = kFolder;
  request.terminate = &terminate;
  request.progress = [&](std::uint64_t, std::uint64_t done) {
    if (done > 0)
      terminate = true;
  };
  ASSERT_TRUE(BackupHives(request, result));
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(1, result.saved);
  EXPECT_FALSE(result.Complete());
  EXPECT_EQ("0:HKEY_LOCAL_MACHINE\\SAM\r\n", Text(FolderFile("hivelist.txt")));
  EXPECT_FALSE(fs.Exists(FolderFile("1")));
}

TEST_F(HiveBackupTest, BackupThatSavesNothingRemovesTheFolder) {
  reg.InjectFailure(qp::mem::RegOp::Save, "", wc::ErrorAccessDenied, 10);
  const THiveBackupResult result = Backup();
  EXPECT_FALSE(backedUp);
  EXPECT_FALSE(fs.Exists(kFolder));
  EXPECT_FALSE(result.errorText.empty());
}

TEST_F(HiveBackupTest, BackupWhoseListCannotBeWrittenLeavesNothing) {
  fs.AddFile(FolderFile("keep.txt"), "mine");
  fs.InjectFailure(FsOp::Move, "backupinfo.txt", wc::ErrorDiskFull);
  const THiveBackupResult result = Backup();
  EXPECT_FALSE(backedUp);
  EXPECT_EQ(0u, result.errorText.find("backupinfo.txt: MoveFileEx: ")) << result.errorText;
  EXPECT_EQ(0, result.saved);
  for (const THiveOutcome &hive : result.hives)
    EXPECT_FALSE(hive.done);
  // Neither the hives nor a list without its identity file stay behind.
  EXPECT_EQ(std::vector<std::string>{"keep.txt"}, fs.List(kFolder));
}

TEST_F(HiveBackupTest, FolderThatCannotBeProtectedGetsNoHive) {
  fs.InjectFailure(FsOp::Security, "Hives", wc::ErrorAccessDenied);
  const THiveBackupResult result = Backup();
  EXPECT_FALSE(backedUp);
  EXPECT_EQ("SetFileSecurity: Access is denied.", result.errorText);
  EXPECT_FALSE(fs.Exists(FolderFile("0")));
  EXPECT_FALSE(fs.Exists(kFolder));

  // A folder that was there before stays, but gets nothing either.
  fs.AddFile(FolderFile("keep.txt"), "mine");
  fs.InjectFailure(FsOp::Security, "Hives", wc::ErrorAccessDenied);
  Backup();
  EXPECT_FALSE(backedUp);
  EXPECT_EQ(std::vector<std::string>{"keep.txt"}, fs.List(kFolder));
}

TEST_F(HiveBackupTest, PrivilegesArePutBackAsTheyWere) {
  ASSERT_EQ(0, sys.SetPrivilege("SeBackupPrivilege", true, nullptr));
  Backup();
  ASSERT_TRUE(backedUp);
  EXPECT_TRUE(sys.PrivilegeEnabled("SeBackupPrivilege"));

  ASSERT_EQ(0, sys.SetPrivilege("SeRestorePrivilege", true, nullptr));
  THiveRestoreResult restored;
  ASSERT_TRUE(RestoreHives(kFolder, {}, restored)) << restored.errorText;
  EXPECT_TRUE(sys.PrivilegeEnabled("SeRestorePrivilege"));
  EXPECT_TRUE(sys.PrivilegeEnabled("SeBackupPrivilege"));
}

TEST_F(HiveBackupTest, WithoutBackupPrivilegeNothingIsWritten) {
  sys.SetAdmin(false);
  const THiveBackupResult result = Backup();
  EXPECT_FALSE(backedUp);
  EXPECT_EQ(0, result.errorText.rfind("AdjustTokenPrivileges: ", 0)) << result.errorText;
  EXPECT_FALSE(fs.Exists(kFolder));
}

// --- comparison

TEST_F(HiveBackupTest, CompareMatchesLinesByKeyNameAfterTheListChanged) {
  ASSERT_TRUE(Backup().Complete());
  // The list now has SAM last and COMPONENTS gone: index 0 is .DEFAULT.
  WriteHiveList({seeds[2], seeds[3], seeds[0]});
  fs.SetReportedSize(seeds[0].file, 3 * kGiB); // live SAM, far the largest
  fs.AddFile(FolderFile("7"), "stray");
  ASSERT_TRUE(fs.AppendFile(FolderFile("hivelist.txt"), "7:HKEY_LOCAL_MACHINE\\NOPE\r\n") == 0);
  THiveComparison comparison;
  ASSERT_TRUE(CompareHiveBackup(kFolder, comparison));
  EXPECT_EQ(3 * kGiB + Text(seeds[2].file).size() + Text(seeds[3].file).size(), comparison.current);
  EXPECT_EQ(Text(FolderFile("0")).size() + Text(FolderFile("2")).size() +
                Text(FolderFile("3")).size(),
            comparison.backup);
  EXPECT_EQ(hcOk, comparison.reason);
}

TEST_F(HiveBackupTest, CompareReasonsUseFullSizes) {
  ASSERT_TRUE(Backup().Complete());
  THiveComparison comparison;
  // Live 4 GiB + 5 bytes against a 3 GiB copy: the low 32 bits would make
  // the live hive look 5 bytes long.
  for (int i = 0; i < 4; ++i) {
    fs.SetReportedSize(seeds[i].file, i == 0 ? 4 * kGiB + 5 : 100);
    fs.SetReportedSize(FolderFile(std::to_string(i)), i == 0 ? 3 * kGiB : 100);
  }
  EXPECT_TRUE(CompareHiveBackup(kFolder, comparison));
  EXPECT_EQ(4 * kGiB + 305, comparison.current);
  EXPECT_EQ(3 * kGiB + 300, comparison.backup);

  fs.SetReportedSize(FolderFile("0"), 5 * kGiB);
  EXPECT_FALSE(CompareHiveBackup(kFolder, comparison));
  EXPECT_EQ(hcBackupLarger, comparison.reason);
  EXPECT_EQ("\"backup is larger than current registry\"", HiveCompareReasonText(comparison.reason));

  fs.Remove(FolderFile("hivelist.txt"));
  EXPECT_FALSE(CompareHiveBackup(kFolder, comparison));
  EXPECT_EQ(hcBackupMissing, comparison.reason);
  EXPECT_EQ("\"backup registry missing\"", HiveCompareReasonText(hcBackupMissing));
  EXPECT_EQ("\"registry missing\"", HiveCompareReasonText(hcRegistryMissing));
  EXPECT_EQ("", HiveCompareReasonText(hcOk));
}

// --- the check

struct TDamage {
  const char *name;
  std::function<void(qp::mem::MemoryFileSystem &fs)> apply;
  const char *expected; // text the refusal must hold
};

void SetList(qp::mem::MemoryFileSystem &fs, std::string_view text) {
  fs.AddFile(FolderFile("hivelist.txt"), text);
}

void ReplaceInFile(qp::mem::MemoryFileSystem &fs, const std::string &path, std::string_view from,
                   std::string_view to) {
  std::string text = fs.Content(path).value_or("");
  const std::size_t at = text.find(from);
  ASSERT_NE(std::string::npos, at) << from;
  text.replace(at, from.size(), to);
  fs.AddFile(path, text);
}

const std::string kGoodList = "0:HKEY_LOCAL_MACHINE\\SAM\r\n1:HKEY_LOCAL_MACHINE\\COMPONENTS\r\n"
                              "2:HKEY_USERS\\.DEFAULT\r\n3:HKEY_USERS\\S-1-5-19\r\n";

const std::vector<TDamage> &Damages() {
  static const std::vector<TDamage> damages = {
      {"TruncatedFile",
       [](auto &fs) {
         const std::string text = fs.Content(FolderFile("2")).value();
         fs.AddFile(FolderFile("2"), text.substr(0, text.size() / 2));
       },
       "the backup saved"},
      {"GarbageFileWithMatchingSize",
       [](auto &fs) {
         const std::size_t size = fs.Content(FolderFile("2")).value().size();
         fs.AddFile(FolderFile("2"), std::string(size, 'x'));
       },
       "RegLoadKey: "},
      {"MissingFile", [](auto &fs) { fs.Remove(FolderFile("3")); }, "3 is missing"},
      {"EmptyFile", [](auto &fs) { fs.AddFile(FolderFile("3"), ""); }, "3 is empty"},
      {"FolderInsteadOfFile",
       [](auto &fs) {
         fs.Remove(FolderFile("3"));
         fs.AddDir(FolderFile("3"));
       },
       "is not a plain file"},
      {"ParentInFileName", [](auto &fs) { SetList(fs, "..\\0:HKEY_LOCAL_MACHINE\\SAM\r\n"); },
       "line 1"},
      {"ParentAsKey", [](auto &fs) { SetList(fs, "0:HKEY_LOCAL_MACHINE\\..\r\n"); }, "line 1"},
      {"ParentInKey", [](auto &fs) { SetList(fs, kGoodList + "4:HKEY_USERS\\..\\x\r\n"); },
       "line 5"},
      {"TwoComponents", [](auto &fs) { SetList(fs, "3:HKEY_USERS\\S-1-5-19\\Software\r\n"); },
       "not one key below the root"},
      {"ShortRootTwoComponents", [](auto &fs) { SetList(fs, "3:HKLM\\A\\B\r\n"); },
       "holds no hives"},
      {"SlashInKey", [](auto &fs) { SetList(fs, "0:HKEY_LOCAL_MACHINE\\SAM/x\r\n"); },
       "not one key below the root"},
      {"IndexNotTheFileName", [](auto &fs) { SetList(fs, "00:HKEY_LOCAL_MACHINE\\SAM\r\n"); },
       "not a hive index"},
      {"NoColon", [](auto &fs) { SetList(fs, kGoodList + "garbage\r\n"); }, "line 5"},
      {"DuplicateKey",
       [](auto &fs) {
         fs.AddFile(FolderFile("4"), fs.Content(FolderFile("2")).value());
         SetList(fs, kGoodList + "4:hkey_users\\.default\r\n");
       },
       "listed twice"},
      {"DuplicateFile",
       [](auto &fs) { SetList(fs, kGoodList + "2:HKEY_LOCAL_MACHINE\\SECURITY\r\n"); },
       "listed twice"},
      {"UnknownRoot", [](auto &fs) { SetList(fs, "0:HKEY_CURRENT_USER\\SAM\r\n"); },
       "holds no hives"},
      {"NotALiveHive",
       [](auto &fs) {
         SetList(fs, "0:HKEY_LOCAL_MACHINE\\SAM\r\n4:HKEY_LOCAL_MACHINE\\SECURITY\r\n");
       },
       "no such hive is loaded"},
      {"EmptyList", [](auto &fs) { SetList(fs, "\xEF\xBB\xBF\r\n\r\n"); }, "names no hive"},
      {"MissingList", [](auto &fs) { fs.Remove(FolderFile("hivelist.txt")); },
       "hivelist.txt is missing"},
      {"HugeList", [](auto &fs) { SetList(fs, kGoodList + std::string(70 * 1024, '\n')); },
       "larger than"},
      {"AnotherMachine",
       [](auto &fs) {
         ReplaceInFile(fs, FolderFile("backupinfo.txt"), kGuid,
                       "0f0f0f0f-0000-4000-8000-000000000000");
       },
       "names another machine"},
      {"DamagedInfo",
       [](auto &fs) { ReplaceInFile(fs, FolderFile("backupinfo.txt"), "file=2:", "file=2:x"); },
       "is damaged"},
      {"InfoWithoutMachine",
       [](auto &fs) {
         ReplaceInFile(fs, FolderFile("backupinfo.txt"), std::string("machine=") + kGuid, "");
       },
       "no machine is named"},
      {"MissingInfo", [](auto &fs) { fs.Remove(FolderFile("backupinfo.txt")); },
       "backupinfo.txt is missing"},
      {"ListLostALine",
       [](auto &fs) {
         ReplaceInFile(fs, FolderFile("hivelist.txt"), "3:HKEY_USERS\\S-1-5-19\r\n", "");
       },
       "names more files"},
  };
  return damages;
}

TEST_F(HiveBackupTest, EveryDamageRefusesTheFolderAndReplacesNothing) {
  ASSERT_TRUE(Backup().Complete());
  ASSERT_EQ("", Check());
  const std::string liveBefore = reg.Dump();
  std::vector<std::pair<std::string, std::string>> files;
  for (const std::string &name : fs.List(kFolder))
    files.emplace_back(name, Text(FolderFile(name)));
  for (const TDamage &damage : Damages()) {
    SCOPED_TRACE(damage.name);
    for (const auto &[name, text] : files)
      fs.AddFile(FolderFile(name), text);
    for (const std::string &name : fs.List(kFolder))
      if (std::find_if(files.begin(), files.end(),
                       [&](const auto &f) { return f.first == name; }) == files.end())
        fs.Remove(FolderFile(name));
    damage.apply(fs);
    const std::size_t handles = reg.OpenHandleCount();
    const std::string refusal = Check();
    EXPECT_NE(std::string::npos, refusal.find(damage.expected)) << refusal;
    THiveRestoreResult restored;
    EXPECT_FALSE(RestoreHives(kFolder, {}, restored));
    EXPECT_EQ(refusal, restored.errorText);
    EXPECT_EQ(0, restored.replaced);
    EXPECT_TRUE(restored.hives.empty());
    EXPECT_FALSE(fs.Exists(FolderFile("replaced.txt")));
    EXPECT_FALSE(fs.Exists(FolderFile("0.BAK")));
    // The trial loads left no key mounted and no handle open.
    EXPECT_EQ(handles, reg.OpenHandleCount());
    reg.SimulateReboot();
    EXPECT_EQ(liveBefore, reg.Dump());
  }
}

TEST_F(HiveBackupTest, CheckReadsBomLfAndBlankLines) {
  ASSERT_TRUE(Backup().Complete());
  SetList(fs, "\xEF\xBB\xBF\n0:HKEY_LOCAL_MACHINE\\SAM\n\n  \n1:hkey_local_machine\\components\r\n"
              "2:HKEY_USERS\\.DEFAULT\n3:HKEY_USERS\\S-1-5-19");
  THiveBackupCheck check;
  ASSERT_TRUE(CheckHiveBackup(kFolder, check)) << check.errorText;
  ASSERT_EQ(4u, check.entries.size());
  EXPECT_EQ("components", check.entries[1].keyPath);
  EXPECT_EQ(FolderFile("3"), check.entries[3].file);
  EXPECT_EQ(Text(FolderFile("3")).size(), check.entries[3].size);
}

TEST_F(HiveBackupTest, CheckComparesTopLevelKeysWithTheLiveHive) {
  ASSERT_TRUE(Backup().Complete());
  ASSERT_TRUE(reg.CreateKey(View::Phys, "HKLM\\COMPONENTS\\Installed"));
  ASSERT_TRUE(reg.DeleteTree(View::Phys, "HKU\\S-1-5-19\\Environment"));
  const std::string refusal = Check();
  EXPECT_NE(std::string::npos, refusal.find("COMPONENTS): keys missing from the backup: INSTALLED"))
      << refusal;
  ASSERT_TRUE(reg.DeleteTree(View::Phys, "HKLM\\COMPONENTS\\Installed"));
  EXPECT_NE(std::string::npos, Check().find("keys only in the backup: ENVIRONMENT"));
}

TEST_F(HiveBackupTest, CheckLeavesOutTheVolatileKeysTheBackupRecorded) {
  ASSERT_TRUE(Backup().Complete());
  // A volatile key a save leaves out (as CurrentControlSet on Windows).
  ASSERT_TRUE(reg.CreateKey(View::Phys, "HKLM\\COMPONENTS\\Pending"));
  EXPECT_NE(std::string::npos, Check().find("keys missing from the backup: PENDING"));
  ASSERT_EQ(0, fs.AppendFile(FolderFile("backupinfo.txt"), "volatile=1:Pending\r\n"));
  EXPECT_EQ("", Check());
  // Recorded for another file it does not count.
  ReplaceInFile(fs, FolderFile("backupinfo.txt"), "volatile=1:", "volatile=2:");
  EXPECT_NE(std::string::npos, Check().find("PENDING"));
}

TEST_F(HiveBackupTest, SavedFileThatDoesNotLoadBackIsNoBackup) {
  reg.InjectFailure(qp::mem::RegOp::Load, "", wc::ErrorNotRegistryFile);
  const THiveBackupResult result = Backup();
  ASSERT_TRUE(backedUp);
  EXPECT_FALSE(result.hives[0].done);
  EXPECT_EQ(0u, result.hives[0].errorText.find("the saved file does not load: RegLoadKey: "))
      << result.hives[0].errorText;
  EXPECT_FALSE(fs.Exists(FolderFile("0")));
  EXPECT_EQ(3, result.saved);
}

TEST_F(HiveBackupTest, CheckUnloadsTheTrialKeyAlsoAfterAFailedLoadUnderWine) {
  reg.SetQuirks(qp::mem::RegistryQuirks::Wine());
  ASSERT_TRUE(Backup().Complete());
  fs.AddFile(FolderFile("1"), std::string(Text(FolderFile("1")).size(), 'x'));
  EXPECT_NE(std::string::npos, Check().find("RegLoadKey: "));
  for (const std::string &name : reg.SubKeyNames(View::Phys, "HKLM"))
    EXPECT_EQ(std::string::npos, name.find("Quenlo-check")) << name;
  EXPECT_FALSE(sys.PrivilegeEnabled("SeRestorePrivilege"));
}

// --- restore

TEST_F(HiveBackupTest, RestoreReplacesEveryHiveAtTheNextStart) {
  ASSERT_TRUE(Backup().Complete());
  const std::string saved = reg.Dump();
  for (const TSeedHive &seed : seeds)
    ASSERT_TRUE(reg.SetString(
        View::Phys, RootKeyShortName(seed.root) + "\\" + seed.key + "\\" + seed.topKeys.front(),
        "after", "backup"));
  const std::string changed = reg.Dump();
  progress.clear();
  THiveRestoreResult result;
  ASSERT_TRUE(RestoreHives(
      kFolder,
      [this](std::uint64_t total, std::uint64_t done) { progress.emplace_back(total, done); },
      result))
      << result.errorText;
  EXPECT_TRUE(result.Complete());
  EXPECT_EQ(4, result.replaced);
  for (const THiveOutcome &hive : result.hives) {
    EXPECT_TRUE(hive.done) << hive.errorText;
    EXPECT_TRUE(fs.Exists(FolderFile(hive.fileName + ".BAK")));
  }
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back().first, progress.back().second);
  EXPECT_TRUE(fs.Exists(FolderFile("replaced.txt")));
  EXPECT_TRUE(HiveReplacementPending(kFolder));
  EXPECT_FALSE(sys.PrivilegeEnabled("SeRestorePrivilege"));
  // Windows takes the files at the next start only.
  EXPECT_EQ(changed, reg.Dump());
  reg.SimulateReboot();
  EXPECT_EQ(saved, reg.Dump());
}

TEST_F(HiveBackupTest, RestoreReportsEachHiveWindowsRefused) {
  ASSERT_TRUE(Backup().Complete());
  // The first replacement below HKEY_USERS: ".DEFAULT".
  reg.InjectFailure(qp::mem::RegOp::Replace, "HKU", wc::ErrorAccessDenied);
  THiveRestoreResult result;
  EXPECT_FALSE(RestoreHives(kFolder, {}, result));
  EXPECT_FALSE(result.Complete());
  EXPECT_EQ(3, result.replaced);
  ASSERT_EQ(4u, result.hives.size());
  EXPECT_EQ("RegReplaceKey: Access is denied.", result.hives[2].errorText);
  EXPECT_FALSE(result.hives[2].done);
  // Three replacements wait for the restart: the folder says so.
  EXPECT_TRUE(HiveReplacementPending(kFolder));
}

// --- the restart marker

TEST_F(HiveBackupTest, ReplacementIsPendingUntilTheSystemRestarts) {
  EXPECT_FALSE(HiveReplacementPending(kFolder));
  sys.AdvanceTicks(3600 * 1000);
  ASSERT_TRUE(Backup().Complete());
  THiveRestoreResult result;
  ASSERT_TRUE(RestoreHives(kFolder, {}, result));
  EXPECT_TRUE(HiveReplacementPending(kFolder));
  // An hour later in the same session.
  const std::uint64_t hourTicks = 3600 * 1000;
  now.fileTime += hourTicks * 10000;
  sys.AdvanceTicks(hourTicks);
  EXPECT_TRUE(HiveReplacementPending(kFolder));
  // Neither a backup nor a second restore may touch the waiting files.
  THiveBackupResult backupAfter;
  EXPECT_FALSE(BackupHives(THiveBackupRequest{kFolder, {}, nullptr}, backupAfter));
  EXPECT_NE(std::string::npos, backupAfter.errorText.find("waiting for a restart"));
  THiveRestoreResult again;
  EXPECT_FALSE(RestoreHives(kFolder, {}, again));
  EXPECT_NE(std::string::npos, again.errorText.find("waiting for a restart"));
  EXPECT_EQ(0, again.replaced);
  // Three hours of wall clock, one of ticks: the system was restarted and
  // has been up for less time than has passed.
  now.fileTime += 3 * hourTicks * 10000;
  sys.AdvanceTicks(hourTicks);
  EXPECT_FALSE(HiveReplacementPending(kFolder));
}

TEST(HiveMarker, RestartIsSeenFromTheTicksAndTheClock) {
  TUndoTime at;
  at.fileTime = 134100000000000000ull;
  const std::string marker = MakeReplacementMarker(at, 50000000);
  TUndoTime later = at;
  later.fileTime += 10000ull * 1000 * 60; // a minute later
  EXPECT_TRUE(ReplacementStillPending(marker, later, 50000000 + 60000));
  // A smaller tick count: a new boot session.
  EXPECT_FALSE(ReplacementStillPending(marker, later, 1000));
  // The clock set back a day: no proof of a restart.
  TUndoTime earlier = at;
  earlier.fileTime -= 10000ull * 1000 * 86400;
  EXPECT_TRUE(ReplacementStillPending(marker, earlier, 50000000 + 60000));
  // A marker that cannot be read keeps the folder waiting.
  EXPECT_TRUE(ReplacementStillPending("garbage", later, 1000));
  EXPECT_TRUE(ReplacementStillPending("time=1\r\ntick=x\r\n", later, 1000));
}

// --- the settings page's full backup and restore

class FixedDayHost final : public IAppHost {
public:
  std::string ExePath() override { return "C:\\Program Files\\Quenlo\\quenlo.exe"; }
  qp::Bytes VersionResource() override { return {}; }
  bool CreateShellLink(std::string_view, std::string_view, std::string_view,
                       std::string_view) override {
    return false;
  }
  TLocalTime Now() override { return now; }
  TLocalTime now{2026, 12, 9, 10, 0, 0};
};

class FullBackupTest : public HiveBackupTest {
protected:
  void SetUp() override {
    HiveBackupTest::SetUp();
    SetAppHost(&host);
    InitEnvironment();
  }
  void TearDown() override {
    SetAppHost(nullptr);
    HiveBackupTest::TearDown();
  }
  std::string LastBackup() {
    std::string value, error;
    EXPECT_TRUE(service::GetSetting("settings", "last_backup", value, error)) << error;
    return value;
  }
  // Every file of a folder with its content.
  std::vector<std::pair<std::string, std::string>> Files(const std::string &folder) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const std::string &name : fs.List(folder))
      files.emplace_back(name, Text(folder + "\\" + name));
    return files;
  }
  FixedDayHost host;
};

TEST_F(FullBackupTest, PartialBackupNeverReplacesTheCompleteOne) {
  service::TFullBackupResult first;
  ASSERT_TRUE(service::FullRegistryBackup({}, nullptr, first)) << first.errorText;
  EXPECT_TRUE(first.Complete());
  std::string error;
  ASSERT_TRUE(service::RecordFullBackupDate(error)) << error;
  EXPECT_EQ("20261209", LastBackup());
  EXPECT_TRUE(service::FullBackupExists());
  const auto saved = Files(service::FullBackupFolder());
  ASSERT_FALSE(saved.empty());

  host.now.day = 10;
  reg.InjectFailure(qp::mem::RegOp::Save, "COMPONENTS", wc::ErrorAccessDenied);
  service::TFullBackupResult second;
  EXPECT_FALSE(service::FullRegistryBackup({}, nullptr, second));
  EXPECT_FALSE(second.Complete());
  EXPECT_TRUE(second.previousKept);
  EXPECT_EQ("RegSaveKey: Access is denied.", second.hives.hives[1].errorText);
  EXPECT_EQ(saved, Files(service::FullBackupFolder()));
  EXPECT_FALSE(fs.Exists(service::PreviousBackupFolder()));
  EXPECT_EQ("20261209", LastBackup());

  // A complete one takes the place of the old one.
  service::TFullBackupResult third;
  ASSERT_TRUE(service::FullRegistryBackup({}, nullptr, third)) << third.errorText;
  EXPECT_EQ("20261209", LastBackup()) << "the worker's backup leaves the settings alone";
  ASSERT_TRUE(service::RecordFullBackupDate(error)) << error;
  EXPECT_EQ("20261210", LastBackup());
  EXPECT_FALSE(fs.Exists(service::PreviousBackupFolder()));
}

// Runs the work on the caller's thread, as the window's runner does on its
// worker, or answers as a runner whose thread did not start.
class InlineLongOperation final : public ILongOperation {
public:
  bool start = true;
  int progressCalls = 0;
  TLongOperationResult Run(const std::string &caption, bool, const TLongWork &work) override {
    captions.push_back(caption);
    TLongOperationResult result;
    if (!start)
      return result;
    result.started = result.finished = true;
    result.ok = work([this](std::uint64_t, std::uint64_t) { ++progressCalls; }, result.errorText);
    return result;
  }
  std::vector<std::string> captions;
};

TEST_F(FullBackupTest, TheRepairRunsBackupReportsWhatItLeftOutAndStampsOnlyAWholeOne) {
  InlineLongOperation operation;
  TFullBackupRunner runner(operation);
  std::string error;
  ASSERT_TRUE(runner.RunSilent(error)) << error;
  EXPECT_EQ(operation.captions,
            std::vector<std::string>{
                "Creating Registry backup.\r\nPlease wait, this may take several minutes..."});
  EXPECT_GT(operation.progressCalls, 0);
  EXPECT_EQ("20261209", LastBackup());

  host.now.day = 11;
  reg.InjectFailure(qp::mem::RegOp::Save, "COMPONENTS", wc::ErrorAccessDenied);
  EXPECT_FALSE(runner.RunSilent(error));
  EXPECT_EQ(error.rfind("Registry Backup failed:\r\n", 0), 0u) << error;
  EXPECT_NE(error.find("COMPONENTS: RegSaveKey: Access is denied."), std::string::npos) << error;
  EXPECT_NE(error.find("Error code: 1002"), std::string::npos) << error;
  EXPECT_EQ("20261209", LastBackup()) << "a partial backup is no backup";
  EXPECT_TRUE(service::FullBackupExists()) << "the complete one is still there";

  reg.DeleteTree(View::V64, "HKLM\\SYSTEM\\CurrentControlSet\\Control\\hivelist");
  EXPECT_FALSE(runner.RunSilent(error));
  EXPECT_EQ(error, "Registry Backup failed:\r\nno loaded hive found in the hive list\r\n"
                   "Error code: 1002")
      << "the reason reaches the user when there is nothing to save";

  operation.start = false;
  EXPECT_FALSE(runner.RunSilent(error));
  EXPECT_EQ(error, "Registry Backup failed:\r\nError code: 1004");
}

TEST_F(FullBackupTest, BackupLeftAsideByAnInterruptedRunIsTakenBack) {
  service::TFullBackupResult first;
  ASSERT_TRUE(service::FullRegistryBackup({}, nullptr, first));
  const auto saved = Files(service::FullBackupFolder());
  // The run ended after moving it aside, with the new backup half made.
  ASSERT_EQ(0, fs.MoveFile(service::FullBackupFolder(), service::PreviousBackupFolder(), 0));
  fs.AddFile(service::FullBackupFolder() + "\\0", "half");
  reg.InjectFailure(qp::mem::RegOp::Save, "SAM", wc::ErrorAccessDenied);
  service::TFullBackupResult again;
  EXPECT_FALSE(service::FullRegistryBackup({}, nullptr, again));
  EXPECT_EQ(saved, Files(service::FullBackupFolder()));
}

// The new backup is made beside the old one: a swap that cannot move the
// old one aside leaves it as it was, and nothing of the new one.
TEST_F(FullBackupTest, BackupThatCannotMoveTheOldOneAsideStops) {
  service::TFullBackupResult first;
  ASSERT_TRUE(service::FullRegistryBackup({}, nullptr, first));
  const auto saved = Files(service::FullBackupFolder());
  fs.InjectFailure(FsOp::Move, service::FullBackupFolder(), wc::ErrorAccessDenied);
  service::TFullBackupResult second;
  EXPECT_FALSE(service::FullRegistryBackup({}, nullptr, second));
  EXPECT_EQ("Could not rename folder " + service::FullBackupFolder(), second.errorText);
  EXPECT_EQ(saved, Files(service::FullBackupFolder()));
  EXPECT_FALSE(fs.Exists(service::NewBackupFolder()));
  EXPECT_FALSE(fs.Exists(service::PreviousBackupFolder()));
}

// While a backup is made the last complete one stays in "Backup": a run cut
// off while saving the hives leaves a "NewBackup" without its list, which
// is no backup and never replaces one.
TEST_F(FullBackupTest, BackupCutOffWhileSavingLeavesTheCompleteOneInPlace) {
  service::TFullBackupResult first;
  ASSERT_TRUE(service::FullRegistryBackup({}, nullptr, first));
  const auto saved = Files(service::FullBackupFolder());
  fs.AddFile(service::NewBackupFolder() + "\\0", "half");
  EXPECT_TRUE(service::FullBackupExists());
  EXPECT_EQ(saved, Files(service::FullBackupFolder()));
  reg.InjectFailure(qp::mem::RegOp::Save, "SAM", wc::ErrorAccessDenied);
  service::TFullBackupResult again;
  EXPECT_FALSE(service::FullRegistryBackup({}, nullptr, again));
  EXPECT_EQ(saved, Files(service::FullBackupFolder()));
  EXPECT_FALSE(fs.Exists(service::NewBackupFolder())) << "the half-made one went";
}

// Cut between the swap's two renames: "UndoBackup" holds the old backup and
// "NewBackup" the complete new one. The next look settles it to the new one;
// with only the old one complete, to the old one.
TEST_F(FullBackupTest, SwapCutOffBetweenItsRenamesIsSettled) {
  service::TFullBackupResult first;
  ASSERT_TRUE(service::FullRegistryBackup({}, nullptr, first));
  const auto older = Files(service::FullBackupFolder());
  host.now.day = 10;
  ASSERT_TRUE(reg.SetString(View::Phys, "HKLM\\SAM\\SAM", "later", "1"));
  service::TFullBackupResult second;
  ASSERT_TRUE(service::FullRegistryBackup({}, nullptr, second));
  const auto newer = Files(service::FullBackupFolder());
  ASSERT_NE(older, newer);

  ASSERT_EQ(0, fs.MoveFile(service::FullBackupFolder(), service::NewBackupFolder(), 0));
  for (const auto &[name, text] : older)
    fs.AddFile(service::PreviousBackupFolder() + "\\" + name, text);
  EXPECT_TRUE(service::FullBackupExists());
  EXPECT_EQ(newer, Files(service::FullBackupFolder()));
  EXPECT_FALSE(fs.Exists(service::PreviousBackupFolder()));
  EXPECT_FALSE(fs.Exists(service::NewBackupFolder()));

  // The new one had not got its list yet: the old one is the backup again.
  ASSERT_EQ(0, fs.MoveFile(service::FullBackupFolder(), service::PreviousBackupFolder(), 0));
  fs.AddFile(service::NewBackupFolder() + "\\0", "half");
  service::TFullRestoreResult restored;
  EXPECT_TRUE(service::FullRegistryRestore({}, restored)) << restored.errorText;
  EXPECT_EQ(newer, Files(service::FullBackupFolder()));
  EXPECT_FALSE(fs.Exists(service::PreviousBackupFolder()));
}

TEST_F(FullBackupTest, RestoreWorksOnACopyAndWaitsForTheRestart) {
  service::TFullRestoreResult none;
  EXPECT_FALSE(service::FullRegistryRestore({}, none));
  EXPECT_NE(std::string::npos, none.errorText.find("no registry backup"));

  service::TFullBackupResult backup;
  ASSERT_TRUE(service::FullRegistryBackup({}, nullptr, backup));
  const auto saved = Files(service::FullBackupFolder());
  const std::string before = reg.Dump();
  ASSERT_TRUE(reg.SetString(View::Phys, "HKLM\\SAM\\SAM", "later", "1"));
  sys.AdvanceTicks(60 * 1000);
  service::TFullRestoreResult restored;
  ASSERT_TRUE(service::FullRegistryRestore({}, restored)) << restored.errorText;
  EXPECT_EQ(4, restored.hives.replaced);
  // The backup itself is untouched; Windows works on the copy.
  EXPECT_EQ(saved, Files(service::FullBackupFolder()));
  EXPECT_TRUE(fs.Exists(service::RestoreWorkFolder() + "\\0.BAK"));
  std::string dacl;
  ASSERT_EQ(0, fs.GetFileSecurity(service::RestoreWorkFolder(), wc::DaclSecurityInformation, dacl));
  EXPECT_EQ("D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", dacl);

  service::TFullRestoreResult again;
  EXPECT_FALSE(service::FullRegistryRestore({}, again));
  EXPECT_NE(std::string::npos, again.errorText.find("restart Windows"));
  EXPECT_TRUE(fs.Exists(service::RestoreWorkFolder() + "\\0.BAK"));

  reg.SimulateReboot();
  EXPECT_EQ(before, reg.Dump());
  // A new session: a day later on the clock, ten minutes of uptime.
  now.fileTime += 86400ull * 1000 * 10000;
  sys.AdvanceTicks(10 * 60 * 1000);
  service::TFullRestoreResult afterRestart;
  EXPECT_TRUE(service::FullRegistryRestore({}, afterRestart)) << afterRestart.errorText;
}

// --- quenlo-cli hives

struct TCliRun {
  int code = 0;
  std::string out;
  std::string err;
};

TCliRun RunHives(std::vector<std::string> args) {
  std::ostringstream out, err;
  args.insert(args.begin(), "hives");
  const int code = cli::RunCli(args, {out, err, false});
  return {code, out.str(), err.str()};
}

TEST_F(HiveBackupTest, CliExitCodesFollowWhatWasDone) {
  for (const std::vector<std::string> &bad :
       {std::vector<std::string>{}, {"backup"}, {"frob", kFolder}, {"backup", kFolder, "x"}}) {
    const TCliRun run = RunHives(bad);
    EXPECT_EQ(2, run.code);
    EXPECT_NE(std::string::npos, run.err.find("usage: quenlo-cli"));
  }

  reg.InjectFailure(qp::mem::RegOp::Save, "COMPONENTS", wc::ErrorAccessDenied);
  TCliRun run = RunHives({"backup", kFolder});
  EXPECT_EQ(1, run.code);
  EXPECT_NE(
      std::string::npos,
      run.out.find("left out 1 HKEY_LOCAL_MACHINE\\COMPONENTS: RegSaveKey: Access is denied.\n"))
      << run.out;
  EXPECT_NE(std::string::npos, run.out.find("Saved: 3 of 4\n"));

  run = RunHives({"backup", kFolder, "--json"});
  EXPECT_EQ(0, run.code) << run.err;
  EXPECT_EQ(0u, run.out.find("{\"command\":\"backup\""));
  EXPECT_NE(std::string::npos, run.out.find("\"complete\":true"));
  EXPECT_NE(std::string::npos, run.out.find("\"key\":\"HKEY_USERS\\\\S-1-5-19\""));

  run = RunHives({"compare", kFolder, "--json"});
  EXPECT_EQ(0, run.code);
  EXPECT_NE(std::string::npos, run.out.find("\"ok\":true"));

  fs.Remove(FolderFile("backupinfo.txt"));
  run = RunHives({"restore", kFolder});
  EXPECT_EQ(1, run.code);
  EXPECT_NE(std::string::npos, run.err.find("backupinfo.txt is missing"));
  EXPECT_NE(std::string::npos, run.out.find("Replaced: 0 of 0"));

  ASSERT_EQ(0, RunHives({"backup", kFolder}).code);
  reg.InjectFailure(qp::mem::RegOp::Replace, "HKU", wc::ErrorAccessDenied);
  run = RunHives({"restore", kFolder});
  EXPECT_EQ(1, run.code);
  EXPECT_NE(std::string::npos,
            run.out.find("left out 2 HKEY_USERS\\.DEFAULT: RegReplaceKey: Access is denied.\n"));
  EXPECT_NE(std::string::npos, run.out.find("Replaced: 3 of 4\n"));
}

} // namespace
} // namespace quenlo::test
