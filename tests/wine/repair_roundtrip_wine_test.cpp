// Repair and restore over the real registry of a Wine prefix, with Wine's own
// registry editor and reg.exe: keys and values of every kind are repaired by
// each action in both views, played back from the undo folder, and the
// registry must then be exactly as before (names, types and bytes).
#include <gtest/gtest.h>

#include <functional>

#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "registry/uRegAccess.h"
#include "registry/uRegExport.h"
#include "registry/uRegFile.h"
#include "scanner/uRegScanner.h"

namespace {

using namespace quenlo;

constexpr const char *kBase = "Software\\QuenloRoundTrip";

qp::Bytes Wide(const std::string &text, bool nul = true) {
  qp::Bytes data = qp::Utf8ToRawUtf16(text);
  if (nul) {
    data.push_back(0);
    data.push_back(0);
  }
  return data;
}

void Set(std::uint32_t root, TRegistryView view, const std::string &path, const std::string &name,
         std::uint32_t type, const qp::Bytes &data) {
  TRegistryAccess reg;
  reg.SetView(view);
  reg.SetRootKey(root);
  ASSERT_TRUE(reg.OpenKey(path, true)) << path;
  ASSERT_EQ(reg.WriteRaw(name, type, data), 0) << path << " " << name;
}

// Names and data that stress the file formats.
const std::vector<std::string> kNames = {"plain",
                                         "q\"uote",
                                         "back\\slash",
                                         "a=b",
                                         "\xC3\xA9t\xC3\xA9",
                                         "\xD0\x96\xD1\x83\xD0\xBA",
                                         "\xE4\xB8\xAD\xE6\x96\x87",
                                         "\xD8\xB9\xD8\xB1\xD8\xA8\xD9\x8A",
                                         "\"=\\\""};

void BuildValues(std::uint32_t root, TRegistryView view, const std::string &path) {
  qp::Bytes big(65535);
  for (std::size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<std::uint8_t>(i * 7);
  Set(root, view, path, "", wc::RegSz, Wide("default"));
  Set(root, view, path, "sz", wc::RegSz, Wide("C:\\a \"b\" = \xC3\xA9\xF0\x9F\x98\x80"));
  Set(root, view, path, "szEmpty", wc::RegSz, Wide(""));
  Set(root, view, path, "szZero", wc::RegSz, {});
  Set(root, view, path, "szNoNul", wc::RegSz, Wide("abc", false));
  Set(root, view, path, "szInnerNul", wc::RegSz, Wide(std::string("a\0b", 3)));
  Set(root, view, path, "szOdd", wc::RegSz, {'A', 0, 'B'});
  Set(root, view, path, "szLines", wc::RegSz, Wide("one\r\ntwo"));
  Set(root, view, path, "expand", wc::RegExpandSz, Wide("%SystemRoot%\\x"));
  Set(root, view, path, "expandUni", wc::RegExpandSz, Wide("%TEMP%\\\xE4\xB8\xAD"));
  Set(root, view, path, "multi", wc::RegMultiSz, Wide(std::string("a\0b;c\0\0", 7), false));
  Set(root, view, path, "multiEmpty", wc::RegMultiSz, {});
  Set(root, view, path, "dword", wc::RegDword, {0xFF, 0, 0, 0x80});
  Set(root, view, path, "dwordShort", wc::RegDword, {1, 2, 3});
  Set(root, view, path, "dwordBE", wc::RegDwordBigEndian, {0, 0, 1, 2});
  Set(root, view, path, "binary", wc::RegBinary, {0, 1, 0xFE, 0xFF});
  Set(root, view, path, "binaryEmpty", wc::RegBinary, {});
  Set(root, view, path, "binaryMax", wc::RegBinary, big);
  Set(root, view, path, "none", wc::RegNone, {9, 8});
  Set(root, view, path, "noneEmpty", wc::RegNone, {});
  Set(root, view, path, "qword", wc::RegQword, {1, 2, 3, 4, 5, 6, 7, 8});
  Set(root, view, path, "resources", wc::RegResourceList, {1, 0, 0, 0});
  Set(root, view, path, "custom", 0x123456, {0xAB});
  for (const std::string &name : kNames)
    Set(root, view, path, name, wc::RegSz, Wide(name));
  Set(root, view, path, "list", wc::RegSz, Wide("x;\"y;z\";x;\xC3\xA9"));
  Set(root, view, path, "mlist", wc::RegMultiSz, Wide(std::string("x\0\xC3\xA9\0x\0\0", 9), false));
  Set(root, view, path, "a", wc::RegSz, Wide("mru a"));
  Set(root, view, path, "b", wc::RegSz, Wide("mru b"));
  Set(root, view, path, "MRUList", wc::RegSz, Wide("cba"));
}

struct Place {
  std::uint32_t root;
  TRegistryView view;
};
const std::vector<Place> kPlaces = {
    {wc::HkeyLocalMachine, rv64}, {wc::HkeyLocalMachine, rv32}, {wc::HkeyCurrentUser, rv64}};

class WineRepairRoundTrip : public testing::Test {
protected:
  void SetUp() override {
    Clean();
    undo_ = qp::Platform().System().GetTempPath() + "QuenloRoundTrip\\Undo";
    scanner_.SetUndoFolder(undo_);
    RemoveUndo();
  }
  void TearDown() override {
    Clean();
    RemoveUndo();
  }
  void Clean() {
    for (const Place &p : kPlaces)
      qp::IgnoreResult(DeleteKeyTree(p.root, p.view, kBase));
  }
  void RemoveUndo() {
    std::vector<std::string> days;
    scanner_.BackupDays(days);
    for (const std::string &day : days) {
      qp::FindData found;
      long error = 0;
      const std::string folder = undo_ + "\\" + day + "\\";
      if (auto search = qp::Platform().Files().FindFirst(folder + "*.*", found, &error)) {
        do {
          qp::Platform().Files().DeleteFile(folder + found.name);
        } while (search->Next(found));
      }
      qp::Platform().Files().RemoveDirectory(folder);
    }
  }
  std::vector<TRegFile> Snapshot() {
    std::vector<TRegFile> trees;
    for (const Place &p : kPlaces) {
      TRegFile tree;
      std::string error;
      if (KeyExists(p.root, p.view, kBase)) {
        EXPECT_TRUE(ReadKeyTree(p.root, p.view, kBase, tree, error)) << error;
      }
      trees.push_back(std::move(tree));
    }
    return trees;
  }
  void ExpectSame(const std::vector<TRegFile> &a, const std::vector<TRegFile> &b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
      std::string difference;
      EXPECT_TRUE(SameRegContent(a[i], b[i], difference)) << "place " << i << ": " << difference;
    }
  }
  bool Repair(const Place &p, TRepairAction action, const std::string &path,
              const std::string &value = "", const std::string &target = "") {
    TRegErrorInfo info;
    info.View64 = p.view == rv64 ? 1 : 0;
    info.RootKey = p.root;
    info.KeyPath = path;
    info.ValueName = value;
    info.Target = target;
    info.Category = ecStartup;
    info.Action = action;
    info.Actions = TRepairActionSet::Of(action);
    TRegError error(info);
    std::string text;
    const bool ok = scanner_.RepairError(text, error);
    EXPECT_TRUE(ok) << path << " [" << value << "] action " << int(action) << ": " << text;
    return ok;
  }
  TRestoreSummary RestoreAll() {
    TRestoreSummary total;
    std::vector<std::string> days;
    scanner_.BackupDays(days);
    EXPECT_FALSE(days.empty());
    for (const std::string &day : days) {
      const TRestoreSummary s = scanner_.RestoreEntries(day, nullptr);
      total.restored += s.restored;
      total.failed += s.failed;
    }
    return total;
  }

  std::string undo_;
  TRegScanner scanner_;
};

TEST_F(WineRepairRoundTrip, DeleteValueOfEveryKindInEveryView) {
  for (const Place &p : kPlaces)
    BuildValues(p.root, p.view, std::string(kBase) + "\\V");
  const std::vector<TRegFile> before = Snapshot();
  int repairs = 0;
  for (const Place &p : kPlaces) {
    const TRegFile &tree = before[static_cast<std::size_t>(&p - &kPlaces[0])];
    ASSERT_EQ(tree.Keys.size(), 2u);
    for (const TRegFileValue &value : tree.Keys.back().Values) {
      Repair(p, raDeleteValue, std::string(kBase) + "\\V", value.Name);
      ++repairs;
    }
    TRegistryAccess reg(wc::KeyRead);
    reg.SetView(p.view);
    reg.SetRootKey(p.root);
    ASSERT_TRUE(reg.OpenKey(std::string(kBase) + "\\V", false));
    std::vector<std::string> left;
    EXPECT_TRUE(reg.GetValueNames(left));
    EXPECT_TRUE(left.empty()) << left.size() << " values left";
  }
  const TRestoreSummary summary = RestoreAll();
  EXPECT_EQ(summary.restored, repairs);
  EXPECT_EQ(summary.failed, 0);
  ExpectSame(Snapshot(), before);
}

TEST_F(WineRepairRoundTrip, DeleteKeyTreesWithAwkwardNames) {
  for (const Place &p : kPlaces) {
    const std::string tree = std::string(kBase) + "\\Tree";
    BuildValues(p.root, p.view, tree);
    BuildValues(p.root, p.view, tree + "\\Sub \xC3\xA9\xD0\x96\xE4\xB8\xAD");
    Set(p.root, p.view, tree + "\\Sub \xC3\xA9\xD0\x96\xE4\xB8\xAD\\Deeper", "", wc::RegSz,
        Wide("d"));
    // A key name that would inject arguments if it reached a command line.
    Set(p.root, p.view, std::string(kBase) + "\\In\" /s \"C:\\evil.reg", "v", wc::RegSz, Wide("1"));
    Set(p.root, p.view, std::string(kBase) + "\\Key=With=Equals", "v", wc::RegSz, Wide("2"));
  }
  const std::vector<TRegFile> before = Snapshot();
  for (const Place &p : kPlaces) {
    for (const char *name : {"Tree", "In\" /s \"C:\\evil.reg", "Key=With=Equals"}) {
      const std::string path = std::string(kBase) + "\\" + name;
      Repair(p, raDeleteKey, path);
      EXPECT_FALSE(KeyExists(p.root, p.view, path)) << path;
    }
  }
  EXPECT_EQ(RestoreAll().failed, 0);
  ExpectSame(Snapshot(), before);
}

TEST_F(WineRepairRoundTrip, EveryOtherAction) {
  const std::string path = std::string(kBase) + "\\Act";
  const std::string lone = std::string(kBase) + "\\Lone \xE4\xB8\xAD";
  for (const Place &p : kPlaces) {
    BuildValues(p.root, p.view, path);
    Set(p.root, p.view, lone, "q\"=\\", wc::RegQword, {1, 2, 3, 4, 5, 6, 7, 8});
  }
  const std::vector<TRegFile> before = Snapshot();
  for (const Place &p : kPlaces) {
    Repair(p, raDeleteValueAndEmptyKey, lone, "q\"=\\");
    EXPECT_FALSE(KeyExists(p.root, p.view, lone));
    Repair(p, raRemoveListItem, path, "list", "x");
    Repair(p, raRemoveListItem, path, "mlist", "x");
    Repair(p, raClearValue, path, "\xC3\xA9t\xC3\xA9");
    Repair(p, raClearValue, path, "created \xD0\x96");
    Repair(p, raClearValue, path, "qword");
    Repair(p, raRebuildMRUList, path);
    Repair(p, raDeleteMRUItem, path, "b");
  }
  EXPECT_EQ(RestoreAll().failed, 0);
  ExpectSame(Snapshot(), before);
}

TEST_F(WineRepairRoundTrip, ExportsTheEditorCannotCarryAreRewritten) {
  // Wine's editor exports REG_SZ data without its NUL, short DWORDs and
  // inner NULs in a way that does not import back; the export is checked
  // against the key and replaced by the program's own writer.
  const std::string path = std::string(kBase) + "\\E";
  BuildValues(wc::HkeyCurrentUser, rv64, path);
  const std::string file = undo_ + "\\export\\e.REG";
  std::string error;
  ASSERT_TRUE(ExportKeyWithRegedit(error, wc::HkeyCurrentUser, rv64, file, path)) << error;
  TRegFile exported, live;
  ASSERT_TRUE(ReadRegFile(file, exported, error)) << error;
  ASSERT_TRUE(ReadKeyTree(wc::HkeyCurrentUser, rv64, path, live, error));
  EXPECT_TRUE(SameRegContent(exported, live, error)) << error;
  qp::IgnoreResult(DeleteKeyTree(wc::HkeyCurrentUser, rv64, path));
  EXPECT_TRUE(ImportRegFile(true, file, error)) << error;
  TRegFile after;
  ASSERT_TRUE(ReadKeyTree(wc::HkeyCurrentUser, rv64, path, after, error));
  EXPECT_TRUE(SameRegContent(after, live, error)) << error;
  qp::Platform().Files().DeleteFile(file);
  qp::Platform().Files().RemoveDirectory(undo_ + "\\export");
}

} // namespace
