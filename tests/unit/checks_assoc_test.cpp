// The file association categories on the in-memory Windows: file types,
// character sets, content types, applications and file extensions, scanned
// through the real scanner.
#include "ChecksFixture.h"

namespace quenlo::test {
namespace {

using ThreadedChecksAssoc = ChecksTest;

const std::string kClasses = "HKLM\\Software\\Classes\\";

TEST_F(ThreadedChecksAssoc, FileTypeKeys) {
  Set(kClasses + ".txt", "", "txtfile"); // no key txtfile
  Set(kClasses + ".txt\\txtfile\\ShellNew", "FileName", "template.doc");
  fs.AddFile("C:\\Windows\\ShellNew\\template.doc");
  Set(kClasses + ".txt\\ShellNew", "FileName", "");
  Set(kClasses + ".txt\\ShellNew", "Command", "C:\\Gone\\maker.exe /new");
  Set(kClasses + ".foo", "", ""); // only an empty default value
  // Never examined, however broken. Neither is Wow6432Node, the 32-bit
  // view's class table (its CLSID key has no default value).
  for (const char *skipped : {"My Type", "*", ".exe", ".reg"}) {
    Set(kClasses + skipped + "\\DefaultIcon", "", "C:\\Gone\\icon.ico");
    Set(kClasses + skipped + "\\shell\\open\\command", "", "C:\\Gone\\x.exe");
    reg.CreateKey(View::V64, kClasses + skipped + "\\Empty");
  }
  EXPECT_EQ(Scan(ecFileTypes),
            Sorted({"41 k14 a1 HKLM ~.txt [] txtfile (.TXT file)",
                    "39 k22 a1 HKLM ~.txt\\ShellNew [FileName]  (.TXT file)",
                    "38 k21 a1 HKLM ~.txt\\ShellNew [Command] C:\\Gone\\maker.exe /new (.TXT file)",
                    "40 k17 a0 HKLM ~.foo []  (.FOO file)"}));
}

TEST_F(ThreadedChecksAssoc, ShellVerbsHandlersAndOpenWith) {
  const std::string bar = kClasses + "barfile";
  Set(bar, "", "Bar File");
  Set(bar + "\\shell\\open\\command", "", "\"%1\" %*");
  Set(bar + "\\shell\\print\\command", "", "rundll32 shell32.dll,PrintIt %1");
  Set(bar + "\\shell\\play\\command", "", "\"C:\\Program Files\\App\\app.exe\" \"%1\"");
  fs.AddFile("C:\\Program Files\\App\\app.exe");
  Set(bar + "\\shell\\edit\\command", "", "C:\\Gone\\editor.exe \"%1\"");
  reg.CreateKey(View::V64, bar + "\\shell\\view\\command");
  Set(bar + "\\shell\\find\\command", "", "");
  Set(bar + "\\shell\\explore\\command", "", "");
  Set(bar + "\\shell\\explore\\command", "DelegateExecute", "{D1}");
  RegisterClass("{D1}");
  const std::string badHandler = "{BADC0DE0-0000-0000-0000-000000000000}";
  reg.CreateKey(View::V64, bar + "\\ShellEx\\ContextMenuHandlers\\" + badHandler);
  Set(bar + "\\ShellEx\\ContextMenuHandlers\\Open With", "", "{D1}");
  Set(bar + "\\ShellEx\\IconHandler", "", "{NOCLASS}");
  Set(bar, "FriendlyTypeName", "@%SystemRoot%\\system32\\shell32.dll,-100");
  Set(bar, "InfoTip", "@C:\\Gone\\res.dll,-1");
  reg.CreateKey(View::V64, bar + "\\PersistentHandler");
  Set(bar + "\\CLSID", "", "{NOCLASS}");
  Set(bar + "\\CurVer", "", "barfile.2");
  Set(bar + "\\Protocol\\StdFileEditing\\Server", "", "C:\\Gone\\server.exe");
  Set(kClasses + ".bar", "", "barfile");
  reg.CreateKey(View::V64, kClasses + ".bar\\OpenWithList\\gone.exe");
  reg.CreateKey(View::V64, kClasses + ".bar\\OpenWithList\\notepad.exe");
  reg.CreateKey(View::V64, kClasses + "Applications\\notepad.exe");
  Set(kClasses + ".bar\\OpenWithList\\own.exe\\shell\\open\\command", "", "C:\\Gone\\own.exe");
  reg.CreateKey(View::V64, kClasses + ".bar\\OpenWithProgids\\Gone.Bar");

  EXPECT_EQ(
      Scan(ecFileTypes),
      Sorted({
          "68 k21 a0 HKLM ~barfile\\Shell\\edit\\Command [] C:\\Gone\\editor.exe \"%1\" (barfile)",
          "67 k21 a0 HKLM ~barfile\\Shell\\view\\Command []  (barfile)",
          "68 k21 a0 HKLM ~barfile\\Shell\\find\\Command []  (barfile)",
          "44 k12 a0 HKLM ~barfile\\ShellEx\\ContextMenuHandlers\\" + badHandler + " [] " +
              badHandler + " (barfile)",
          "44 k12 a0 HKLM ~barfile\\ShellEx\\IconHandler [] {NOCLASS} (barfile)",
          "37 k11 a1 HKLM ~barfile [InfoTip] @C:\\Gone\\res.dll,-1 (barfile)",
          "35 k12 a0 HKLM ~barfile\\PersistentHandler []  (barfile)",
          "36 k12 a0 HKLM ~barfile\\CLSID [] {NOCLASS} (barfile)",
          "42 k14 a0 HKLM ~barfile\\CurVer [] barfile.2 (barfile)",
          "43 k22 a1 HKLM ~barfile\\Protocol\\StdFileEditing\\Server [] C:\\Gone\\server.exe "
          "(barfile)",
          "60 k3 a0 HKLM ~.bar\\OpenWithList\\gone.exe [] gone.exe (.BAR file)",
          "68 k21 a0 HKLM ~.bar\\OpenWithList\\own.exe\\shell\\open\\Command [] C:\\Gone\\own.exe "
          "(.BAR file)",
          "61 k5 a0 HKLM ~.bar\\OpenWithProgids\\Gone.Bar [] Gone.Bar (.BAR file)",
      }));
}

TEST_F(ThreadedChecksAssoc, CharsetsContentTypesAndApplications) {
  const std::string cs = kClasses + "MIME\\Database\\Charset\\";
  Set(cs + "windows-1252", "Codepage", "1252");
  reg.SetDword(View::V64, cs + "iso-8859-1", "Codepage", 1252);
  reg.CreateKey(View::V64, kClasses + "MIME\\Database\\CodePage\\1252");
  reg.SetDword(View::V64, cs + "iso-8859-1", "InternetEncoding", 28591);
  reg.CreateKey(View::V64, cs + "empty");
  Set(cs + "latin1", "AliasForCharset", "iso-8859-99");
  const std::string ct = kClasses + "MIME\\Database\\Content Type\\";
  reg.CreateKey(View::V64, ct + "text/empty");
  Set(ct + "text/plain", "Extension", ".txt");
  reg.CreateKey(View::V64, kClasses + ".txt");
  Set(ct + "text/gone", "Extension", ".gone");
  Set(ct + "text/gone", "CLSID", "{NOCLASS}");
  Set(kClasses + "Applications\\gone.exe\\shell\\open\\command", "", "C:\\Gone\\gone.exe \"%1\"");
  Set(kClasses + "Applications\\notepad.exe\\shell\\open\\command", "",
      "%SystemRoot%\\system32\\notepad.exe %1");

  EXPECT_EQ(
      Scan(TCategorySet::Of(ecCodePages).Add(ecContentType).Add(ecApplications)),
      Sorted({
          "20 k0 a1 HKLM ~MIME\\Database\\Charset\\windows-1252 [Codepage] REG_DWORD "
          "(windows-1252)",
          "19 k2 a2 HKLM ~MIME\\Database\\Charset\\iso-8859-1 [InternetEncoding] 28591 "
          "(iso-8859-1)",
          "21 k17 a0 HKLM ~MIME\\Database\\Charset\\empty []  (empty)",
          "22 k1 a2 HKLM ~MIME\\Database\\Charset\\latin1 [AliasForCharset] iso-8859-99 (latin1)",
          "31 k17 a0 HKLM ~MIME\\Database\\Content Type\\text/empty []  (text/empty)",
          "33 k15 a2 HKLM ~MIME\\Database\\Content Type\\text/gone [Extension] .gone (text/gone)",
          "32 k12 a2 HKLM ~MIME\\Database\\Content Type\\text/gone [CLSID] {NOCLASS} (text/gone)",
          "68 k21 a0 HKLM ~Applications\\gone.exe\\shell\\open\\Command [] C:\\Gone\\gone.exe "
          "\"%1\" (gone.exe)",
      }));
}

TEST_F(ThreadedChecksAssoc, ExplorerFileExtsAndExtensions) {
  const std::string fe = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";
  const std::string list = fe + ".abc\\OpenWithList";
  Set(list, "MRUList", "abcd"); // b and c have no value
  Set(list, "a", "onlyapp.exe");
  reg.CreateKey(View::V64, kClasses + "Applications\\onlyapp.exe");
  Set(list, "d", "goneapp.exe");
  reg.CreateKey(View::V64, fe + ".abc\\OpenWithProgids");
  reg.SetRaw(View::V64, fe + ".xyz\\OpenWithProgids", "Gone.Xyz", wc::RegNone, {});
  reg.CreateKey(View::V64, fe + ".xyz\\OpenWithList");
  const std::string ext = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Extensions";
  Set(ext, "txt", "notepad.exe ^.txt");
  Set(ext, "foo", "C:\\Gone\\foo.exe ^.foo");
  reg.SetDword(View::V64, ext, "num", 5);

  const std::string feKey =
      "HKCU Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";
  const std::string extKey = "HKLM Software\\Microsoft\\Windows\\CurrentVersion\\Extensions";
  EXPECT_EQ(Scan(ecFileExtensions),
            Sorted({
                "29 k25 a9 " + feKey + ".abc\\OpenWithList [MRUList] abcd (.ABC file)",
                "28 k4 a10 " + feKey + ".abc\\OpenWithList [d] goneapp.exe (.ABC file)",
                "25 k17 a0 " + feKey + ".abc\\OpenWithProgids []  (.ABC file)",
                "26 k14 a2 " + feKey + ".xyz\\OpenWithProgids [Gone.Xyz] Gone.Xyz (.XYZ file)",
                "27 k17 a0 " + feKey + ".xyz\\OpenWithList []  (.XYZ file)",
                "34 k22 a1 " + extKey + " [foo] C:\\Gone\\foo.exe ^.foo (foo) +64",
                "83 k0 a1 " + extKey + " [num] REG_SZ or REG_EXPAND_SZ (num) +64",
            }));
}

} // namespace
} // namespace quenlo::test
