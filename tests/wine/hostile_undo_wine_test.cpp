// Repair and restore with Wine's own registry editor on key names that a
// program can legally create but a registry file cannot carry plainly (line
// feeds, carriage returns, "]" and "[-" injections), and with a planted
// hostile backup and index line. Whatever the program decides — repair and
// restore exactly, or refuse — nothing outside the repaired entry changes
// and nothing is lost.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/FileOps.h"
#include "platform/PathText.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "registry/uRegAccess.h"
#include "registry/uRegFile.h"
#include "scanner/uRegScanner.h"

namespace {

using namespace quenlo;

constexpr const char *kBase = "Software\\QuenloHostile";
constexpr const char *kVictim = "Software\\QuenloVictim";

qp::Bytes Sz(const std::string &text) {
  qp::Bytes data = qp::Utf8ToRawUtf16(text);
  data.push_back(0);
  data.push_back(0);
  return data;
}

void Set(const std::string &path, const std::string &name, const std::string &text) {
  TRegistryAccess reg;
  reg.SetView(rv64);
  reg.SetRootKey(wc::HkeyCurrentUser);
  ASSERT_TRUE(reg.OpenKey(path, true)) << path;
  ASSERT_EQ(reg.WriteRaw(name, wc::RegSz, Sz(text)), 0) << path;
}

// The names: each makes a subkey of kBase holding value "v".
const std::vector<std::string> kHostileNames = {
    "Odd\nName",
    "Lone\rReturn",
    "Ends]",
    std::string("a]\n[-HKEY_CURRENT_USER\\") + kVictim + "]\n[HKEY_CURRENT_USER\\" + kBase + "\\b",
    std::string("c]\r[-HKEY_CURRENT_USER\\") + kVictim + "]\r[HKEY_CURRENT_USER\\" + kBase + "\\d",
    "eq=\"quoted\"",
};

class WineHostileUndo : public testing::Test {
protected:
  void SetUp() override {
    Clean();
    undo_ = qp::Platform().System().GetTempPath() + "QuenloHostile\\Undo\\";
    scanner_.SetUndoFolder(undo_);
    RemoveUndo();
    Set(kVictim, "keep", "me");
  }
  void TearDown() override {
    Clean();
    RemoveUndo();
  }
  void Clean() {
    qp::IgnoreResult(DeleteKeyTree(wc::HkeyCurrentUser, rv64, kBase));
    qp::IgnoreResult(DeleteKeyTree(wc::HkeyCurrentUser, rv64, kVictim));
  }
  void RemoveUndo() {
    std::vector<std::string> days;
    scanner_.BackupDays(days);
    for (const std::string &day : days) {
      const std::string folder = undo_ + day + "\\";
      qp::FindData found;
      std::vector<std::string> files;
      if (auto search = qp::Platform().Files().FindFirst(folder + "*.*", found)) {
        do {
          if ((found.attributes & wc::FileAttributeDirectory) == 0)
            files.push_back(folder + found.name);
        } while (search->Next(found));
      }
      for (const std::string &file : files)
        qp::IgnoreResult(qp::Platform().Files().DeleteFile(file));
      qp::IgnoreResult(qp::Platform().Files().RemoveDirectory(folder));
    }
  }
  TRegFile Tree(const char *path) {
    TRegFile tree;
    std::string error;
    EXPECT_TRUE(ReadKeyTree(wc::HkeyCurrentUser, rv64, path, tree, error)) << error;
    return tree;
  }
  void ExpectSame(const TRegFile &a, const TRegFile &b, const std::string &what) {
    std::string difference;
    EXPECT_TRUE(SameRegContent(a, b, difference)) << what << ": " << difference;
  }
  bool Repair(TRepairAction action, const std::string &path, const std::string &value,
              std::string &error) {
    TRegErrorInfo info;
    info.View64 = 1;
    info.RootKey = wc::HkeyCurrentUser;
    info.KeyPath = path;
    info.ValueName = value;
    info.Category = ecStartup;
    info.Kind = ekInvalidPath;
    info.Action = action;
    info.Actions = TRepairActionSet::Of(action);
    TRegError e(info);
    return scanner_.RepairError(error, e);
  }
  void RestoreAll() {
    std::vector<std::string> days;
    scanner_.BackupDays(days);
    for (const std::string &day : days)
      qp::IgnoreResult(scanner_.RestoreEntries(day, nullptr));
  }
  // Writes a day folder by hand, as a hostile program could.
  void Plant(const std::string &indexLine, const std::string &fileName,
             const std::string &content) {
    const std::string folder = undo_ + "2024-01-02";
    long error = 0;
    ASSERT_TRUE(qp::ForceDirectories(folder, error)) << error;
    ASSERT_EQ(qp::Platform().Files().WriteFile(folder + "\\index.txt", indexLine + "\r\n"), 0);
    if (!fileName.empty()) {
      ASSERT_EQ(qp::Platform().Files().WriteFile(folder + "\\" + fileName, content), 0);
    }
  }

  std::string undo_;
  qp::TMainThread main_;
  TRegScanner scanner_{main_};
};

TEST_F(WineHostileUndo, HostileKeyNamesAreRepairedExactlyOrRefusedWithNothingChanged) {
  for (const std::string &name : kHostileNames)
    Set(std::string(kBase) + "\\" + name, "v", "value of " + name);
  const TRegFile base = Tree(kBase);
  const TRegFile victim = Tree(kVictim);

  for (const std::string &name : kHostileNames) {
    const std::string path = std::string(kBase) + "\\" + name;
    for (const TRepairAction action : {raDeleteValue, raDeleteKey}) {
      std::string error;
      const bool repaired = Repair(action, path, action == raDeleteValue ? "v" : "", error);
      if (!repaired) {
        // A refusal changes nothing.
        ExpectSame(Tree(kBase), base, "after a refused repair of " + qp::UpperAscii(name));
      }
      RestoreAll();
      ExpectSame(Tree(kBase), base, "after restoring " + qp::UpperAscii(name));
      ExpectSame(Tree(kVictim), victim, "the victim, after " + qp::UpperAscii(name));
    }
  }
}

TEST_F(WineHostileUndo, APlantedBackupThatDeletesAnotherKeyIsNotPlayed) {
  const TRegFile victim = Tree(kVictim);
  Set(std::string(kBase) + "\\safe", "v", "1");
  Plant("120000000=HKEY_CURRENT_USER\\" + std::string(kBase) + "\\safe", "120000000.REG64",
        "REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER\\" + std::string(kVictim) + "]\r\n\r\n");
  RestoreAll();
  ExpectSame(Tree(kVictim), victim, "the victim");
  EXPECT_TRUE(qp::FileExists(undo_ + "2024-01-02\\120000000.REG64")) << "a refused backup is kept";
}

TEST_F(WineHostileUndo, AnIndexLineCannotNameAFileOutsideTheDay) {
  const std::string outside = undo_ + "keep.REG64";
  const std::string content = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\" + std::string(kVictim) +
                              "]\r\n\"planted\"=\"yes\"\r\n\r\n";
  ASSERT_EQ(qp::Platform().Files().WriteFile(outside, content), 0);
  Plant("..\\keep=HKEY_CURRENT_USER\\" + std::string(kVictim), "", "");
  const TRegFile victim = Tree(kVictim);
  RestoreAll();
  ExpectSame(Tree(kVictim), victim, "the victim");
  std::string left;
  EXPECT_EQ(qp::Platform().Files().ReadFile(outside, left), 0) << "the file outside is kept";
  EXPECT_EQ(left, content);
  qp::IgnoreResult(qp::Platform().Files().DeleteFile(outside));
}

} // namespace
