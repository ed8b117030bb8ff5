// Registry files cannot be turned against the user: key and value names the
// format cannot carry are refused before any file is written, the reader
// rejects what it would have to guess at, backups spell keys as stored, and
// hive roots are never deleted or imported as a whole.
#include <gtest/gtest.h>

#include "RegeditFake.h"
#include "TestPlatform.h"
#include "platform/ScopeGuard.h"
#include "registry/uRegExport.h"
#include "registry/uRegFile.h"

namespace quenlo::test {
namespace {

using qp::mem::View;

constexpr const char *kFile = "C:\\Undo\\day\\file.REG";
// A key path that, written unchecked, adds a deletion of another key.
const std::string kInjected = "Software\\Evil\\a]\n[-HKEY_LOCAL_MACHINE\\Software\\Victim]\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\Evil\\b";

class RegFileHostile : public MemoryTest {
protected:
  bool ExportValueOf(const std::string &path, const std::string &name, std::string &error) {
    ScopedKey key;
    EXPECT_EQ(OpenKeyFull(wc::HkeyLocalMachine, rv64, path, key), 0);
    return ExportValue(
        error, {.root = wc::HkeyLocalMachine, .view = rv64, .handle = key.Get(), .path = path},
        name, kFile);
  }
};

TEST_F(RegFileHostile, KeyNamesTheFormatCannotCarryAreRefusedWithoutAFile) {
  reg.SetString(View::V64, "HKLM\\Software\\Victim", "keep", "1");
  reg.SetString(View::V64, "HKLM\\" + kInjected, "v", "x");
  std::string error;
  EXPECT_FALSE(ExportValueOf(kInjected, "v", error));
  EXPECT_EQ(error.rfind("RegFile: the key name \"", 0), 0u) << error;
  EXPECT_NE(error.find("\\x0A[-HKEY_LOCAL_MACHINE"), std::string::npos) << error;
  EXPECT_FALSE(fs.Exists(kFile));

  for (const std::string &path : {std::string("Software\\Odd\rName"), std::string("Software\\a]"),
                                  std::string("Software\\a]\\b"), std::string("Software\\t\x01")}) {
    reg.SetString(View::V64, "HKLM\\" + path, "v", "x");
    EXPECT_FALSE(ExportValueOf(path, "v", error)) << path;
    EXPECT_FALSE(ExportKeyTree(error, wc::HkeyLocalMachine, rv64, kFile, path)) << path;
    EXPECT_NE(error.find("cannot be written to a registry file"), std::string::npos) << error;
    EXPECT_FALSE(fs.Exists(kFile)) << path;
  }
  // A subkey of an exported tree holding a line feed fails the whole tree.
  reg.SetString(View::V64, "HKLM\\Software\\Tree\\Odd\nName", "v", "x");
  EXPECT_FALSE(ExportKeyTree(error, wc::HkeyLocalMachine, rv64, kFile, "Software\\Tree"));
  EXPECT_FALSE(fs.Exists(kFile));
  EXPECT_TRUE(reg.ValueExists(View::V64, "HKLM\\Software\\Victim", "keep"));
}

TEST_F(RegFileHostile, TheEditorsFileIsNotAcceptedForKeysTheFormatCannotCarry) {
  RegeditFake editor(platform);
  reg.SetString(View::V64, "HKLM\\Software\\Tree\\Odd\nName", "v", "x");
  std::string error;
  EXPECT_FALSE(ExportKeyWithRegedit(error, wc::HkeyLocalMachine, rv64, kFile, "Software\\Tree"));
  EXPECT_EQ(editor.exports, 1);
  EXPECT_NE(error.find("Odd\\x0AName"), std::string::npos) << error;
  EXPECT_FALSE(fs.Exists(kFile)) << "the editor's file is removed";

  const std::size_t runs = platform.Procs().CommandLines().size();
  EXPECT_FALSE(
      ExportKeyWithRegedit(error, wc::HkeyLocalMachine, rv64, kFile, "Software\\Tree\\Odd\nName"));
  EXPECT_EQ(platform.Procs().CommandLines().size(), runs) << "refused before the editor runs";
  EXPECT_FALSE(fs.Exists(kFile));
}

TEST_F(RegFileHostile, CanCarryAnswersBeforeAnythingIsDone) {
  std::string reason;
  EXPECT_TRUE(RegFileCanCarry("Software\\A [x] b\\c", "name \"q\" \\ \t", reason));
  EXPECT_FALSE(RegFileCanCarry("Software\\a\nb", "", reason));
  EXPECT_FALSE(RegFileCanCarry("Software\\a]", "", reason));
  EXPECT_FALSE(RegFileCanCarry("Software\\a\x7F", "", reason));
  EXPECT_FALSE(RegFileCanCarry("Software\\a", "v\r", reason));
  EXPECT_EQ(reason, "RegFile: the value name \"v\\x0D\" of the key \"Software\\a\" cannot be "
                    "written to a registry file: it holds a control character");
}

TEST_F(RegFileHostile, QuotesBackslashesAndControlsInValuesReadBackExactly) {
  reg.SetString(View::V64, "HKLM\\Software\\Q", "a\"\\b\t", "c\"\\d\te");
  reg.SetString(View::V64, "HKLM\\Software\\Q", "lf", "x\ny\rz");
  std::string error;
  ScopedKey key;
  ASSERT_EQ(OpenKeyFull(wc::HkeyLocalMachine, rv64, "Software\\Q", key), 0);
  ASSERT_TRUE(ExportValues(
      error,
      {.root = wc::HkeyLocalMachine, .view = rv64, .handle = key.Get(), .path = "Software\\Q"},
      {"a\"\\b\t", "lf"}, kFile))
      << error;
  const std::string text = *fs.Content(kFile);
  ASSERT_EQ(text.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(qp::RawUtf16ToUtf8(qp::Bytes(text.begin() + 2, text.end())),
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Q]\r\n"
            "\"a\\\"\\\\b\t\"=\"c\\\"\\\\d\te\"\r\n"
            "\"lf\"=hex(1):78,00,0A,00,79,00,0D,00,7A,00,00,00\r\n");
  TRegFile file;
  ASSERT_TRUE(ReadRegFile(kFile, file, error)) << error;
  ASSERT_EQ(file.Keys.at(0).Values.size(), 2u);
  EXPECT_EQ(file.Keys[0].Values[0].Name, "a\"\\b\t");
  EXPECT_EQ(file.Keys[0].Values[1].Data, qp::Utf8ToRawUtf16(std::string("x\ny\rz", 6)));
}

TEST_F(RegFileHostile, TheReaderRejectsWhatItWouldHaveToGuess) {
  TRegFile file;
  std::string error;
  // The editor ends a line at a lone CR: three keys for it, one for a guess.
  EXPECT_FALSE(ParseRegFile("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\a]\r"
                            "[-HKEY_LOCAL_MACHINE\\Software\\Victim]\r\n",
                            file, error));
  EXPECT_EQ(error, "line 3: a carriage return without a line feed");
  EXPECT_TRUE(file.Keys.empty());
  EXPECT_FALSE(ParseRegFile("REGEDIT4\r\n[HKLM\\a] junk\r\n", file, error));
  EXPECT_EQ(error, "line 2: text after the key's \"]\"");
  EXPECT_FALSE(ParseRegFile("REGEDIT4\r\n[HKLM\\a]]\r\n", file, error));
  EXPECT_NE(error.find("cannot be written to a registry file"), std::string::npos);
  EXPECT_FALSE(ParseRegFile("REGEDIT4\r\n[HKLM\\a]\r\n\"v\"=hex:01,\\", file, error));
  EXPECT_TRUE(ParseRegFile("REGEDIT4\r\n[HKLM\\a b]  \r\n", file, error)) << error;
  // A value name the writer refuses is not read either, escaped or not.
  EXPECT_FALSE(ParseRegFile("REGEDIT4\r\n[HKLM\\a]\r\n\"x\\ny\"=\"1\"\r\n", file, error));
  EXPECT_EQ(error, "line 3: the value name is refused: it holds a control character");
  EXPECT_FALSE(ParseRegFile("REGEDIT4\r\n[HKLM\\a]\r\n\"x\\0\"=\"1\"\r\n", file, error));
  EXPECT_TRUE(ParseRegFile("REGEDIT4\r\n[HKLM\\a]\r\n\"x\\\\n\"=\"1\\n\"\r\n", file, error))
      << "a backslash before n, and an escape in the data, are fine: " << error;
}

TEST_F(RegFileHostile, BackupsSpellKeysAsTheRegistryStoresThem) {
  reg.SetString(View::V64, "HKLM\\Software\\Classes\\App\\Shell\\Command", "", "x");
  std::string error;
  TRegFile tree;
  ASSERT_TRUE(ReadKeyTree(wc::HkeyLocalMachine, rv64, "software\\CLASSES\\app\\shell\\command",
                          tree, error))
      << error;
  ASSERT_EQ(tree.Keys.size(), 1u);
  EXPECT_EQ(tree.Keys[0].Path, "SOFTWARE\\Classes\\App\\Shell\\Command");
  ScopedKey key;
  ASSERT_EQ(OpenKeyFull(wc::HkeyLocalMachine, rv64, "Software\\Classes\\App\\Shell\\Command", key),
            0);
  ASSERT_TRUE(ExportValue(error,
                          {.root = wc::HkeyLocalMachine,
                           .view = rv64,
                           .handle = key.Get(),
                           .path = "software\\classes\\app\\shell\\command"},
                          "", kFile));
  EXPECT_EQ(*fs.Content(kFile),
            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\App\\Shell\\Command]\r\n"
            "\"\"=\"x\"\r\n");
}
// Each view spells its own keys: a 32-bit key's backup names it as the
// 32-bit view stores it, even where the 64-bit view spells it otherwise.
TEST_F(RegFileHostile, AValueBackupSpellsTheKeyAsItsOwnViewStoresIt) {
  reg.SetString(View::V64, "HKLM\\Software\\Vendor\\App", "v", "64");
  reg.SetString(View::V32, "HKLM\\Software\\VENDOR\\app", "v", "32");
  ScopedKey key;
  ASSERT_EQ(OpenKeyFull(wc::HkeyLocalMachine, rv32, "Software\\Vendor\\App", key), 0);
  std::string error;
  ASSERT_TRUE(ExportValue(error,
                          {.root = wc::HkeyLocalMachine,
                           .view = rv32,
                           .handle = key.Get(),
                           .path = "Software\\Vendor\\App"},
                          "v", kFile));
  EXPECT_NE(fs.Content(kFile)->find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\VENDOR\\app]"),
            std::string::npos)
      << *fs.Content(kFile);
}

TEST_F(RegFileHostile, HiveRootsAreNeitherDeletedNorImported) {
  reg.SetString(View::V64, "HKCU\\Software\\Keep", "v", "1");
  std::string error;
  for (const char *path : {"", "\\", "\\\\"}) {
    EXPECT_FALSE(DeleteKeyTree(error, wc::HkeyCurrentUser, rv64, path));
    EXPECT_EQ(error, "DeleteKeyTree: refusing to delete the hive root HKEY_CURRENT_USER");
    EXPECT_FALSE(DeleteKeyTree(wc::HkeyCurrentUser, rv64, path));
  }
  TRegFile file;
  ASSERT_TRUE(
      ParseRegFile("REGEDIT4\r\n[HKCU\\Software\\New]\r\n\"n\"=\"1\"\r\n[-HKCU]\r\n", file, error));
  EXPECT_FALSE(ApplyRegFile(file, rv64, error));
  EXPECT_NE(error.find("HKEY_CURRENT_USER"), std::string::npos) << error;
  EXPECT_FALSE(reg.KeyExists(View::V64, "HKCU\\Software\\New")) << "nothing changed";
  EXPECT_TRUE(reg.ValueExists(View::V64, "HKCU\\Software\\Keep", "v"));
}

// The keys the scan starts from, the keys above them and the views'
// "Wow6432Node" keys are refused like a hive root, by both deleters; a key
// below them goes whole, its own "Wow6432Node" subkey with it.
TEST_F(RegFileHostile, KeysTheSafetyNetProtectsAreNeverDeleted) {
  reg.SetString(View::V64, "HKLM\\Software\\Classes\\CLSID\\{1}", "v", "1");
  reg.SetString(View::V64, "HKLM\\Software\\Wow6432Node\\Vendor", "v", "1");
  reg.SetString(View::V64, "HKLM\\Software\\Vendor\\Wow6432Node\\Sub", "v", "1");
  std::string error;
  for (const char *path : {"Software", "software\\classes\\clsid", "Software\\Wow6432Node",
                           "SYSTEM\\ControlSet001\\Services"}) {
    EXPECT_FALSE(DeleteKeyTree(error, wc::HkeyLocalMachine, rv64, path)) << path;
    EXPECT_EQ(error, std::string("Refusing to delete a protected key: HKLM\\") + path);
  }
  EXPECT_FALSE(DeleteKeyTree(error, wc::HkeyClassesRoot, rv64, "CLSID"));
  EXPECT_TRUE(reg.KeyExists(View::V64, "HKLM\\Software\\Classes\\CLSID\\{1}"));
  EXPECT_TRUE(reg.KeyExists(View::V64, "HKLM\\Software\\Wow6432Node\\Vendor"));
  EXPECT_TRUE(DeleteKeyTree(error, wc::HkeyLocalMachine, rv64, "Software\\Vendor")) << error;
  EXPECT_FALSE(reg.KeyExists(View::V64, "HKLM\\Software\\Vendor"));

  TRegFile file;
  ASSERT_TRUE(ParseRegFile("REGEDIT4\r\n[HKLM\\Software\\New]\r\n\"n\"=\"1\"\r\n"
                           "[-HKEY_CLASSES_ROOT\\CLSID]\r\n",
                           file, error));
  EXPECT_FALSE(ApplyRegFile(file, rv64, error));
  EXPECT_NE(error.find("protected key: HKCR\\CLSID"), std::string::npos) << error;
  EXPECT_FALSE(reg.KeyExists(View::V64, "HKLM\\Software\\New")) << "nothing changed";
  EXPECT_TRUE(reg.KeyExists(View::V64, "HKLM\\Software\\Classes\\CLSID\\{1}"));
}

} // namespace
} // namespace quenlo::test
