// Hive backup, check and restore on the real registry of a Wine prefix.
// Wine's hive list is empty, so each test names the prefix's own hive
// files in it ("system.reg" for HKLM\SYSTEM and HKLM\SOFTWARE, "userdef.reg"
// for HKU\.DEFAULT, "user.reg" for the user's hive) and puts the list back
// as it found it. Wine's RegReplaceKey answers success and changes nothing,
// so a restore here proves what was checked and handed over, not a reboot.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "WineTestSupport.h"
#include "optimizer/uHiveBackup.h"
#include "optimizer/uHiveFolder.h"
#include "paths/uSysUtils.h"
#include "platform/FileOps.h"
#include "platform/Platform.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "registry/uRegAccess.h"

using namespace quenlo;

namespace {

constexpr const char *kHiveListKey = "SYSTEM\\CurrentControlSet\\Control\\hivelist";
constexpr const char *kFolder = "C:\\quenlo-hives-wine";
constexpr const char *kRoundTripKey = "QuenloWineRoundTrip";

qp::IRegistry &Reg() {
  return qp::Platform().Registry();
}

qp::IFileSystem &Files() {
  return qp::Platform().Files();
}

struct TRawValue {
  std::string name;
  std::uint32_t type = 0;
  qp::Bytes data;
};

std::vector<TRawValue> ReadValues(HKey key) {
  std::vector<TRawValue> values;
  qp::KeyInfo info;
  if (Reg().QueryInfoKey(key, info) != 0)
    return values;
  for (std::uint32_t i = 0;; ++i) {
    TRawValue value;
    if (Reg().EnumValue(key, i, info.maxValueNameLen + 1, info.maxValueLen, value.name, value.type,
                        value.data) != 0)
      break;
    values.push_back(std::move(value));
  }
  return values;
}

// A key tree: each key by its path below the top (upper-cased), with its
// values by name (upper-cased) as "type:hex data"; link keys Wine has
// below SOFTWARE are kept as keys without values.
using TTree = std::map<std::string, std::map<std::string, std::string>>;

void ReadTree(HKey root, const std::string &path, const std::string &relative, TTree &tree,
              const std::set<std::string> &skipTop) {
  ScopedKey key;
  if (Reg().OpenKey(root, path, wc::KeyRead | wc::KeyWow64_64Key, key.Out()) != 0) {
    tree[qp::UpperAscii(relative)]["<unreadable>"] = "";
    return;
  }
  auto &values = tree[qp::UpperAscii(relative)];
  for (const TRawValue &value : ReadValues(key.Get())) {
    std::string hex = std::to_string(value.type) + ":";
    for (const std::uint8_t byte : value.data) {
      static const char *digits = "0123456789abcdef";
      hex += digits[byte >> 4];
      hex += digits[byte & 15];
    }
    values[qp::UpperAscii(value.name)] = hex;
  }
  qp::KeyInfo info;
  if (Reg().QueryInfoKey(key.Get(), info) != 0)
    return;
  std::vector<std::string> subKeys;
  for (std::uint32_t i = 0;; ++i) {
    std::string name;
    if (Reg().EnumKey(key.Get(), i, info.maxSubKeyLen + 1, name) != 0)
      break;
    subKeys.push_back(name);
  }
  key.Reset();
  for (const std::string &name : subKeys) {
    if (relative.empty() && skipTop.count(qp::UpperAscii(name)) != 0)
      continue;
    ReadTree(root, path + "\\" + name, relative + "\\" + name, tree, {});
  }
}

TTree Tree(HKey root, const std::string &path, const std::set<std::string> &skipTop = {}) {
  TTree tree;
  ReadTree(root, path, "", tree, skipTop);
  return tree;
}

std::string FolderFile(std::string_view name) {
  return std::string(kFolder) + "\\" + std::string(name);
}

std::string ReadText(const std::string &path) {
  std::string text;
  qp::IgnoreResult(Files().ReadFile(path, text));
  return text;
}

class HivesWine : public testing::Test {
protected:
  void SetUp() override {
    InitRegistryLayer();
    std::string prefix;
    if (!qp::Platform().System().GetEnvironmentVariable("WINEPREFIX", prefix) || prefix.empty() ||
        prefix.front() != '/')
      GTEST_SKIP() << "the prefix's folder is not known (WINEPREFIX)";
    std::string device;
    ASSERT_TRUE(qp::Platform().System().QueryDosDevice("Z:", device));
    std::replace(prefix.begin(), prefix.end(), '/', '\\');
    const std::string files = device.c_str() + prefix; // Z: is the host's "/"
    ASSERT_TRUE(qp::Platform().System().GetUserSid(userSid));

    ASSERT_EQ(0, Reg().CreateKey(wc::HkeyLocalMachine, kHiveListKey,
                                 wc::KeyAllAccess | wc::KeyWow64_64Key, list.Out(), nullptr));
    foundValues = ReadValues(list.Get());
    SetListValue("\\REGISTRY\\MACHINE\\SYSTEM", files + "\\system.reg");
    SetListValue("\\REGISTRY\\MACHINE\\SOFTWARE", files + "\\system.reg");
    SetListValue("\\REGISTRY\\USER\\.DEFAULT", files + "\\userdef.reg");
    SetListValue("\\REGISTRY\\USER\\" + userSid, files + "\\user.reg");
    qp::IgnoreResult(ShellDeleteFile(kFolder, false));
    seeded = true;
  }

  void TearDown() override {
    if (!seeded)
      return;
    // The list as it was found: the values added go, the ones there stay.
    for (const TRawValue &value : ReadValues(list.Get()))
      qp::IgnoreResult(Reg().DeleteValue(list.Get(), value.name));
    for (const TRawValue &value : foundValues)
      EXPECT_EQ(0, Reg().SetValue(list.Get(), value.name, value.type, value.data));
    qp::IgnoreResult(ShellDeleteFile(kFolder, false));
  }

  void SetListValue(const std::string &name, const std::string &file) {
    ASSERT_EQ(0, Reg().SetValue(list.Get(), name, wc::RegSz, TextToData(wc::RegSz, file)));
  }

  THiveBackupResult Backup() {
    THiveBackupResult result;
    THiveBackupRequest request;
    request.folder = kFolder;
    EXPECT_TRUE(BackupHives(request, result)) << result.errorText;
    return result;
  }

  ScopedKey list;
  std::vector<TRawValue> foundValues;
  std::string userSid;
  bool seeded = false;
};

TEST_F(HivesWine, SavedHivesLoadBackEqualToTheLiveKeys) {
  THiveArray hives;
  ASSERT_TRUE(GetHiveList(hives));
  ASSERT_EQ(4u, hives.size());
  const THiveBackupResult result = Backup();
  ASSERT_TRUE(result.Complete()) << result.errorText;
  // The folder's access list is set (Wine answers success but keeps only
  // what its mode bits can say, so its entries are checked on the model).
  EXPECT_TRUE(qp::FolderExists(kFolder));
  THiveBackupInfo info;
  std::string why;
  ASSERT_TRUE(ParseBackupInfo(ReadText(FolderFile("backupinfo.txt")), info, why)) << why;
  const qp::TPrivilegeScope restore("SeRestorePrivilege");
  ASSERT_TRUE(restore.Held());
  for (const THiveOutcome &hive : result.hives) {
    SCOPED_TRACE(hive.keyPath);
    ASSERT_EQ(0, Reg().LoadKey(wc::HkeyLocalMachine, kRoundTripKey, FolderFile(hive.fileName)));
    auto unload =
        qp::ScopeExit([] { EXPECT_EQ(0, Reg().UnLoadKey(wc::HkeyLocalMachine, kRoundTripKey)); });
    const TTree saved = Tree(wc::HkeyLocalMachine, kRoundTripKey);
    const TTree live = Tree(hive.root, hive.keyPath, info.volatileKeys[hive.fileName]);
    EXPECT_GT(saved.size(), 1u);
    // Every key of the file is the live one, values and all.
    for (const auto &[path, values] : saved) {
      const auto there = live.find(path);
      ASSERT_NE(live.end(), there) << path;
      EXPECT_EQ(there->second, values) << path;
    }
    // The live tree may hold more only where keys are volatile, which a
    // save leaves out whole (Wine's NetworkCards, ActiveComputerName ...).
  }
}

TEST_F(HivesWine, DamagedFoldersAreRefusedBeforeAnyReplacement) {
  ASSERT_TRUE(Backup().Complete());
  std::vector<std::pair<std::string, std::string>> files;
  for (const char *name : {"0", "1", "2", "3", "hivelist.txt", "backupinfo.txt"})
    files.emplace_back(name, ReadText(FolderFile(name)));
  const auto put = [](const std::string &name, const std::string &text) {
    ASSERT_EQ(0, Files().WriteFile(FolderFile(name), text));
  };
  const std::string list = files[4].second;
  const std::string info = files[5].second;
  struct TDamage {
    const char *name;
    std::function<void()> apply;
    const char *expected;
  };
  const std::string otherMachine = [&] {
    std::string text = info;
    text.replace(text.find("machine=") + 8, 8, "00000000");
    return text;
  }();
  const std::vector<TDamage> damages = {
      {"truncated", [&] { put("2", files[2].second.substr(0, files[2].second.size() / 2)); },
       "the backup saved"},
      {"garbage", [&] { put("2", std::string(files[2].second.size(), 'x')); }, "RegLoadKey: "},
      {"missing", [&] { ASSERT_EQ(0, Files().DeleteFile(FolderFile("3"))); }, "3 is missing"},
      {"parent", [&] { put("hivelist.txt", "0:HKEY_LOCAL_MACHINE\\..\\SOFTWARE\r\n"); }, "line 1"},
      {"duplicate", [&] { put("hivelist.txt", list + "1:HKEY_LOCAL_MACHINE\\software\r\n"); },
       "listed twice"},
      {"unknown root", [&] { put("hivelist.txt", "0:HKEY_CLASSES_ROOT\\SOFTWARE\r\n"); },
       "holds no hives"},
      {"another prefix", [&] { put("backupinfo.txt", otherMachine); }, "names another machine"},
  };
  for (const TDamage &damage : damages) {
    SCOPED_TRACE(damage.name);
    for (const auto &[name, text] : files)
      put(name, text);
    damage.apply();
    THiveRestoreResult result;
    EXPECT_FALSE(RestoreHives(kFolder, {}, result));
    EXPECT_NE(std::string::npos, result.errorText.find(damage.expected)) << result.errorText;
    EXPECT_EQ(0, result.replaced);
    EXPECT_FALSE(qp::FileExists(FolderFile("replaced.txt")));
  }
  // No trial key stays mounted after all that.
  ScopedKey probe;
  EXPECT_EQ(wc::ErrorFileNotFound, Reg().OpenKey(wc::HkeyLocalMachine, "Quenlo-check-0",
                                                 wc::KeyRead | wc::KeyWow64_64Key, probe.Out()));
}

TEST_F(HivesWine, GoodFolderIsHandedOverAndWaitsForTheRestart) {
  ASSERT_TRUE(Backup().Complete());
  THiveRestoreResult result;
  ASSERT_TRUE(RestoreHives(kFolder, {}, result)) << result.errorText;
  EXPECT_EQ(4, result.replaced);
  EXPECT_TRUE(HiveReplacementPending(kFolder));
  THiveRestoreResult again;
  EXPECT_FALSE(RestoreHives(kFolder, {}, again));
  EXPECT_EQ(0, again.replaced);
}

} // namespace
