// Registry export files: the REGEDIT4 writer byte for byte, the Unicode
// format for what REGEDIT4 cannot carry, the reader, and the registry
// editor's export and import as judged by the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "RegeditFake.h"
#include "TestPlatform.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "registry/uRegExport.h"
#include "registry/uRegFile.h"

namespace quenlo::test {
namespace {

using qp::mem::View;

constexpr const char *kKey = "HKLM\\Software\\Exp";
constexpr const char *kFile = "C:\\Undo\\day\\file.REG";

class ExportTest : public MemoryTest {
protected:
  static TExportedKey Exported(const ScopedKey &key) {
    return {
        .root = wc::HkeyLocalMachine, .view = rv64, .handle = key.Get(), .path = "Software\\Exp"};
  }
  ScopedKey Open(TRegistryView view = rv64, const char *path = "Software\\Exp") {
    ScopedKey key;
    EXPECT_EQ(OpenKeyFull(wc::HkeyLocalMachine, view, path, key), 0);
    return key;
  }
  std::string Export(const std::vector<std::string> &names, std::string &error) {
    ScopedKey key = Open();
    if (!ExportValues(error, Exported(key), names, kFile))
      return "<failed>";
    return fs.Content(kFile).value_or("<no file>");
  }
  // Exports, reads the file back and compares it with the key.
  void ExpectExact(const std::vector<std::string> &names) {
    std::string error;
    ScopedKey key = Open();
    ASSERT_TRUE(ExportValues(error, Exported(key), names, kFile)) << error;
    TRegFile file, live;
    ASSERT_TRUE(ReadRegFile(kFile, file, error)) << error;
    ASSERT_TRUE(ReadKeyTree(wc::HkeyLocalMachine, rv64, "Software\\Exp", live, error));
    std::erase_if(live.Keys.front().Values, [&](const TRegFileValue &v) {
      return std::find(names.begin(), names.end(), v.Name) == names.end();
    });
    std::string difference;
    EXPECT_TRUE(SameRegContent(file, live, difference)) << difference;
  }
};

TEST_F(ExportTest, Regedit4ByteForByte) {
  reg.SetString(View::V64, kKey, "a\"b\\c", "x\"y\\z");
  reg.SetString(View::V64, kKey, "", "x");
  reg.SetDword(View::V64, kKey, "dw", 255);
  reg.SetString(View::V64, kKey, "exp", "%A%", wc::RegExpandSz);
  reg.SetMultiString(View::V64, kKey, "multi", {"a", "b"});
  reg.SetRaw(View::V64, kKey, "none", wc::RegNone, {0x01, 0xAB});
  reg.SetRaw(View::V64, kKey, "emptybin", wc::RegBinary, {});
  std::string error;
  EXPECT_EQ(Export({"a\"b\\c", "", "dw", "exp", "multi", "none", "emptybin"}, error),
            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Exp]\r\n"
            "\"a\\\"b\\\\c\"=\"x\\\"y\\\\z\"\r\n"
            "\"\"=\"x\"\r\n"
            "\"dw\"=dword:000000FF\r\n"
            "\"exp\"=hex(2):25,41,25,00\r\n"
            "\"multi\"=hex(7):61,00,62,00,00\r\n"
            "\"none\"=hex(0):01,AB\r\n"
            "\"emptybin\"=hex:\r\n");
}

TEST_F(ExportTest, HexListsWrapByTheColumnCounter) {
  qp::Bytes data(30);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<std::uint8_t>(i);
  reg.SetRaw(View::V64, kKey, "0123456789", wc::RegBinary, data);
  std::string error;
  const std::string text = Export({"0123456789"}, error);
  std::string expected = "\"0123456789\"=hex:";
  for (int i = 0; i < 20; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", i);
    expected += (i > 0 ? "," : "") + std::string(hex);
  }
  expected += ",\\\r\n  14,15,16,17,18,19,1A,1B,1C,1D\r\n";
  EXPECT_NE(text.find(expected), std::string::npos) << text;
}

TEST_F(ExportTest, FailuresLeaveNoFileAndNameTheProblem) {
  reg.SetString(View::V64, kKey, "ok", "x");
  std::string error;
  EXPECT_EQ(Export({"ok", "missing"}, error), "<failed>");
  EXPECT_EQ(error, "RegQueryValueEx(\"missing\"): " + sys.SystemMessage(2));
  EXPECT_FALSE(fs.Exists(kFile));

  reg.SetRaw(View::V64, kKey, "big", wc::RegBinary, qp::Bytes(65536, 1));
  reg.SetRaw(View::V64, kKey, "limit", wc::RegBinary, qp::Bytes(65535, 2));
  EXPECT_EQ(Export({"big"}, error), "<failed>");
  EXPECT_EQ(error, "RegExportValue: data is too big 65536");
  ExpectExact({"limit"});

  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::CreateDir, "Undo", wc::ErrorAccessDenied, 10);
  fs.Remove("C:\\Undo");
  EXPECT_EQ(Export({"ok"}, error), "<failed>");
  EXPECT_EQ(error, "CreateDirectory: " + sys.SystemMessage(5) + " C:\\Undo\\day");
  fs.ClearFailures();

  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::Write, "file.REG", wc::ErrorDiskFull, 1);
  EXPECT_EQ(Export({"ok"}, error), "<failed>");
  EXPECT_EQ(error, "WriteFile: " + sys.SystemMessage(112));
  EXPECT_FALSE(fs.Exists(kFile));
}

TEST_F(ExportTest, WhatRegedit4CannotCarryIsWrittenInTheUnicodeFormat) {
  reg.SetRaw(View::V64, kKey, "qword", wc::RegQword, {1, 2, 3, 4, 5, 6, 7, 8});
  reg.SetRaw(View::V64, kKey, "type100", 0x100, {0xAA});
  reg.SetString(View::V64, kKey, "\xC3\xA9\xD0\x96\xE4\xB8\xAD", "\xF0\x9F\x98\x80 \xD8\xB9");
  reg.SetRaw(View::V64, kKey, "nonul", wc::RegSz, {'A', 0, 'B', 0});
  reg.SetRaw(View::V64, kKey, "embedded", wc::RegSz, {'A', 0, 0, 0, 'B', 0, 0, 0});
  reg.SetRaw(View::V64, kKey, "odd", wc::RegSz, {'A', 0, 'B'});
  reg.SetRaw(View::V64, kKey, "emptysz", wc::RegSz, {});
  reg.SetRaw(View::V64, kKey, "dw3", wc::RegDword, {1, 2, 3});
  reg.SetString(View::V64, kKey, "lines", "a\r\nb");
  reg.SetString(View::V64, kKey, "exp", "\xC3\xA9%x%", wc::RegExpandSz);
  ExpectExact({"qword", "type100", "\xC3\xA9\xD0\x96\xE4\xB8\xAD", "nonul", "embedded", "odd",
               "emptysz", "dw3", "lines", "exp"});
  const std::string text = *fs.Content(kFile);
  EXPECT_EQ(text.substr(0, 2), "\xFF\xFE");
  const std::string utf8 = qp::RawUtf16ToUtf8(qp::Bytes(text.begin() + 2, text.end()));
  EXPECT_EQ(utf8.rfind("Windows Registry Editor Version 5.00\r\n\r\n", 0), 0u);
  EXPECT_NE(utf8.find("\"qword\"=hex(b):01,02,03,04,05,06,07,08\r\n"), std::string::npos);
  EXPECT_NE(utf8.find("\"nonul\"=hex(1):41,00,42,00\r\n"), std::string::npos);
  EXPECT_NE(utf8.find("\"\xC3\xA9\xD0\x96\xE4\xB8\xAD\"=\"\xF0\x9F\x98\x80 \xD8\xB9\""),
            std::string::npos);
}

TEST_F(ExportTest, ReaderUnderstandsTheEditorsFormats) {
  const std::string regedit4 =
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\R]\r\n@=\"d\"\r\n"
      "\"m\"=hex(7):61,00,\\\r\n  62,00,00\r\n\"d\"=dword:0000ff01\r\n\"gone\"=-\r\n"
      "; comment\r\n[-HKCU\\Software\\Old]\r\n";
  TRegFile file;
  std::string error;
  ASSERT_TRUE(ParseRegFile(regedit4, file, error)) << error;
  ASSERT_EQ(file.Keys.size(), 2u);
  EXPECT_EQ(file.Keys[0].Root, wc::HkeyCurrentUser);
  EXPECT_EQ(file.Keys[0].Path, "Software\\R");
  ASSERT_EQ(file.Keys[0].Values.size(), 4u);
  EXPECT_EQ(file.Keys[0].Values[0].Name, "");
  EXPECT_EQ(file.Keys[0].Values[1].Data, (qp::Bytes{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}))
      << "ANSI string data becomes UTF-16";
  EXPECT_EQ(file.Keys[0].Values[2].Data, (qp::Bytes{0x01, 0xFF, 0, 0}));
  EXPECT_TRUE(file.Keys[0].Values[3].Delete);
  EXPECT_TRUE(file.Keys[1].Delete);

  EXPECT_FALSE(ParseRegFile("REGEDIT4\r\n\"v\"=\"x\"\r\n", file, error));
  EXPECT_FALSE(ParseRegFile("REGEDIT5\r\n", file, error));
  EXPECT_FALSE(ParseRegFile("REGEDIT4\r\n[HKLM\\X]\r\n\"v\"=hex:1\r\n", file, error));
}

TEST_F(ExportTest, KeyExportThroughTheEditorIsCheckedAgainstTheKey) {
  RegeditFake editor(platform);
  reg.SetString(View::V64, "HKLM\\Software\\Exp\\Sub", "v", "1");
  reg.SetRaw(View::V64, kKey, "q", wc::RegQword, {1, 2, 3, 4, 5, 6, 7, 8});
  std::string error;
  ASSERT_TRUE(ExportKeyWithRegedit(error, wc::HkeyLocalMachine, rv64, kFile, "Software\\Exp"));
  EXPECT_EQ(platform.Procs().CommandLines().back(),
            "\"C:\\Windows\\Regedit.exe\" /e \"C:\\Undo\\day\\file.REG\" "
            "\"HKEY_LOCAL_MACHINE\\SOFTWARE\\Exp\"")
      << "the editor is given the registry's spelling";
  qp::IgnoreResult(ExportKeyWithRegedit(error, wc::HkeyLocalMachine, rv32, kFile, "Software\\Exp"));
  EXPECT_NE(qp::UpperAscii(platform.Procs().CommandLines().back()).find("SYSWOW64"),
            std::string::npos);

  // An editor that leaves out data: the program's own writer takes over.
  editor.mode = RegeditFake::Mode::Lossy;
  ASSERT_TRUE(ExportKeyWithRegedit(error, wc::HkeyLocalMachine, rv64, kFile, "Software\\Exp"));
  TRegFile file, live;
  ASSERT_TRUE(ReadRegFile(kFile, file, error));
  ASSERT_TRUE(ReadKeyTree(wc::HkeyLocalMachine, rv64, "Software\\Exp", live, error));
  EXPECT_TRUE(SameRegContent(file, live, error)) << error;

  // A failing editor: its exit code is the error text and no file stays.
  editor.mode = RegeditFake::Mode::Fail;
  EXPECT_FALSE(ExportKeyWithRegedit(error, wc::HkeyLocalMachine, rv64, kFile, "Software\\Exp"));
  EXPECT_EQ(error, "ExitCode: 1");
  EXPECT_FALSE(fs.Exists(kFile));
  platform.Procs().SetHandler([](std::string_view) { return qp::ProcessResult{}; });
  EXPECT_FALSE(ExportKeyWithRegedit(error, wc::HkeyLocalMachine, rv64, kFile, "Software\\Exp"));
  EXPECT_EQ(error.rfind("CreateProcess: ", 0), 0u);
}

TEST_F(ExportTest, KeysTheCommandLineCannotCarryAreWrittenByTheProgram) {
  RegeditFake editor(platform);
  const std::string evil = "Software\\Exp\\a\" /s \"C:\\evil.reg";
  reg.SetString(View::V64, "HKLM\\" + evil, "v", "1");
  const std::size_t runs = platform.Procs().CommandLines().size();
  std::string error;
  ASSERT_TRUE(ExportKeyWithRegedit(error, wc::HkeyLocalMachine, rv64, kFile, evil)) << error;
  EXPECT_EQ(platform.Procs().CommandLines().size(), runs) << "no editor started";
  TRegFile file;
  ASSERT_TRUE(ReadRegFile(kFile, file, error));
  ASSERT_EQ(file.Keys.size(), 1u);
  EXPECT_EQ(file.Keys[0].Path, "SOFTWARE" + evil.substr(8));

  // 64-bit Windows without a 32-bit editor: no editor sees the 32-bit view.
  fs.Remove("C:\\Windows\\SysWOW64\\regedit.exe");
  reg.SetString(View::V32, kKey, "only32", "x");
  ASSERT_TRUE(ExportKeyWithRegedit(error, wc::HkeyLocalMachine, rv32, kFile, "Software\\Exp"));
  EXPECT_EQ(platform.Procs().CommandLines().size(), runs);
  ASSERT_TRUE(ReadRegFile(kFile, file, error));
  ASSERT_EQ(file.Keys[0].Values.size(), 1u);
  EXPECT_EQ(file.Keys[0].Values[0].Name, "only32");
}

TEST_F(ExportTest, ImportChoosesTheEditorOfTheViewAndChecksTheResult) {
  RegeditFake editor(platform);
  reg.SetString(View::V64, kKey, "v", "1");
  std::string error;
  {
    ScopedKey key = Open();
    ASSERT_TRUE(ExportValue(error, Exported(key), "v", kFile));
  }
  reg.DeleteTree(View::V64, kKey);
  EXPECT_TRUE(ImportRegFile(true, kFile));
  EXPECT_EQ(editor.imports.back(), std::string("64:") + kFile);
  EXPECT_EQ(reg.GetRaw(View::V64, kKey, "v")->second, qp::Utf8ToRawUtf16(std::string("1", 2)));
  EXPECT_TRUE(ImportRegFile(false, kFile));
  EXPECT_EQ(editor.imports.back(), std::string("32:") + kFile);
  EXPECT_NE(qp::UpperAscii(platform.Procs().CommandLines().back()).find("SYSWOW64\\REGEDIT.EXE"),
            std::string::npos);

  fs.Remove("C:\\Windows\\SysWOW64\\regedit.exe");
  reg.DeleteTree(View::V32, kKey);
  EXPECT_TRUE(ImportRegFile(false, kFile));
  EXPECT_EQ(platform.Procs().CommandLines().back(),
            "\"C:\\Windows\\system32\\reg.exe\" import \"C:\\Undo\\day\\file.REG\" /reg:32");
  EXPECT_TRUE(reg.ValueExists(View::V32, kKey, "v"));

  // An editor that reports success without doing the work: the program
  // writes what is missing itself.
  editor.mode = RegeditFake::Mode::Silent;
  reg.DeleteTree(View::V64, kKey);
  EXPECT_TRUE(ImportRegFile(true, kFile));
  EXPECT_TRUE(reg.ValueExists(View::V64, kKey, "v"));
  reg.DeleteTree(View::V64, kKey);
  reg.InjectFailure(qp::mem::RegOp::Create, "Exp", wc::ErrorAccessDenied, 1);
  EXPECT_FALSE(ImportRegFile(true, kFile)) << "and fails when that fails";
  editor.mode = RegeditFake::Mode::Fail;
  EXPECT_FALSE(ImportRegFile(true, kFile));
}

TEST_F(ExportTest, SplitMultiString) {
  const qp::Bytes data = qp::Utf8ToRawUtf16(std::string("ab\0c\0\0zz\0", 9));
  std::vector<std::string> list{"keep"};
  SplitMultiString(data, data.size(), list);
  EXPECT_EQ(list, (std::vector<std::string>{"keep", "ab", "c"}));
  list.clear();
  SplitMultiString(data, 4, list);
  EXPECT_EQ(list, (std::vector<std::string>{"ab"}));
  list.clear();
  SplitMultiString(qp::Utf8ToRawUtf16("x"), 2, list);
  EXPECT_EQ(list, (std::vector<std::string>{"x"}));
}

} // namespace
} // namespace quenlo::test
