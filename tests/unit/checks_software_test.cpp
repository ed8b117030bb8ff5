// Software, startup and system file categories on the in-memory Windows.
#include <cstring>

#include "ChecksFixture.h"
#include "scanner/uChecksSoftware.h"

namespace quenlo::test {
namespace {

using V = qp::mem::View;

const std::string kCV = "Software\\Microsoft\\Windows\\CurrentVersion";
const std::string kLmCV = "HKLM\\" + kCV;
const std::string kCuCV = "HKCU\\" + kCV;

class ThreadedSoftwareChecks : public ChecksTest {
protected:
  // A 32-bit program on 64-bit Windows, as the product once was.
  void Make32BitProcess() {
    sys.SetProcessIs64Bit(false);
    sys.SetWow64Process(true);
    Reinit();
  }
};

qp::Bytes SlowInfoRecord(std::uint32_t flag, const std::u16string &path, std::size_t size = 552) {
  qp::Bytes record(size, 0);
  for (int i = 0; i < 4 && 4 + i < static_cast<int>(size); ++i)
    record[4 + i] = static_cast<std::uint8_t>(flag >> (8 * i));
  for (std::size_t i = 0; i < path.size() && 28 + 2 * i + 1 < size; ++i) {
    record[28 + 2 * i] = static_cast<std::uint8_t>(path[i] & 0xFF);
    record[28 + 2 * i + 1] = static_cast<std::uint8_t>(path[i] >> 8);
  }
  return record;
}

TEST(SlowInfoCache, RecordIsReadOnlyWithinItsBounds) {
  EXPECT_EQ(SlowInfoCachePath(SlowInfoRecord(1, u"C:\\App\\a.exe")), "C:\\App\\a.exe");
  EXPECT_EQ(SlowInfoCachePath(SlowInfoRecord(0, u"C:\\App\\a.exe")), std::nullopt);
  EXPECT_EQ(SlowInfoCachePath(SlowInfoRecord(1, u"C:\\App\\a.exe", 551)), std::nullopt);
  EXPECT_EQ(SlowInfoCachePath(SlowInfoRecord(1, u"C:\\App\\a.exe", 600)), std::nullopt);
  EXPECT_EQ(SlowInfoCachePath(SlowInfoRecord(1, u"")), std::nullopt);
  EXPECT_EQ(SlowInfoCachePath({}), std::nullopt);
  // 262 characters fill the room: no terminator inside the record.
  EXPECT_EQ(SlowInfoCachePath(SlowInfoRecord(1, std::u16string(262, u'x'))), std::nullopt);
  EXPECT_EQ(SlowInfoCachePath(SlowInfoRecord(1, std::u16string(261, u'x'))), std::string(261, 'x'));
  EXPECT_EQ(SlowInfoCachePath(SlowInfoRecord(0x01000000u, u"C:\\\u00e9")), "C:\\\xc3\xa9");
}

TEST_F(ThreadedSoftwareChecks, StartupListsTestTheProgramOfEachCommand) {
  fs.AddFile("C:\\Tools\\t.exe");
  const std::string run = kLmCV + "\\Run";
  reg.SetString(V::V32, run, "Present", "C:\\Tools\\t.exe /min");
  reg.SetString(V::V32, run, "Gone", "C:\\Gone\\t.exe /min");
  reg.SetString(V::V32, run, "Empty", "");
  reg.SetString(V::V32, run, "", "C:\\Gone\\unnamed.exe");
  reg.SetString(V::V32, run, "Expanded", "%SystemRoot%\\notepad.exe", wc::RegExpandSz);
  reg.SetDword(V::V32, run, "Number", 1);
  reg.SetString(V::V64, kLmCV + "\\RunServices-", "Svc", "\"C:\\Gone Dir\\s.exe\" -x");
  reg.SetString(V::V64, kCuCV + "\\Run-", "Off", "nosuchprogram /q");
  EXPECT_EQ(
      Scan(ecStartup),
      Sorted({"72 k22 a1 HKLM " + kCV + "\\Run [Gone] C:\\Gone\\t.exe /min (Gone)",
              "72 k22 a1 HKLM " + kCV + "\\Run [Empty]  (Empty)",
              "83 k0 a1 HKLM " + kCV + "\\Run [Number] REG_SZ or REG_EXPAND_SZ (Number)",
              "72 k22 a1 HKLM " + kCV + "\\RunServices- [Svc] \"C:\\Gone Dir\\s.exe\" -x (Svc) +64",
              "72 k22 a1 HKCU " + kCV + "\\Run- [Off] nosuchprogram /q (Off)"}));
  // 32-bit Run: 5 tests (the unnamed value is skipped); RunServices-: 1;
  // HKCU Run- is the same key in both passes: 2.
  EXPECT_EQ(tests, 8);
}

TEST_F(ThreadedSoftwareChecks, AppPathsFindTheProgramByDefaultValueOrPathFolders) {
  const std::string ap = kLmCV + "\\App Paths";
  fs.AddFile("C:\\A\\tool.exe");
  fs.AddDir("C:\\B");
  // No default value; the program is in the "Path" folder.
  reg.SetString(V::V32, ap + "\\tool.exe", "Path", "C:\\A");
  // A list with a missing folder: only that element is reported.
  reg.SetString(V::V32, ap + "\\two.exe", "", "C:\\A\\tool.exe");
  reg.SetString(V::V32, ap + "\\two.exe", "Path", "C:\\B;\"C:\\Gone\\\"");
  // The default value is missing, but the program is in a Path folder.
  reg.SetString(V::V32, ap + "\\tool.exe2", "", "C:\\Old\\tool.exe");
  reg.SetString(V::V32, ap + "\\tool.exe2", "Path", "C:\\A\\");
  fs.AddFile("C:\\A\\tool.exe2");
  // Nothing finds the program.
  reg.SetString(V::V32, ap + "\\lost.exe", "", "\"%ProgramFiles%\\Lost\\lost.exe\"");
  reg.SetString(V::V32, ap + "\\lost.exe", "Path", "C:\\B");
  // A folder as default value counts as found.
  reg.SetString(V::V32, ap + "\\dir.exe", "", "C:\\B");
  EXPECT_EQ(Scan(ecAppPaths),
            Sorted({"4 k24 a3 HKLM " + kCV + "\\App Paths\\two.exe [Path] \"C:\\Gone\\\" (two.exe)",
                    "5 k22 a1 HKLM " + kCV +
                        "\\App Paths\\lost.exe [] \"%ProgramFiles%\\Lost\\lost.exe\" (lost.exe)"}));
}

TEST_F(ThreadedSoftwareChecks, SharedDllsHelpFontsAndInstalledFiles) {
  reg.SetDword(V::V32, kLmCV + "\\SharedDLLs", "C:\\Gone\\lib.dll", 1);
  reg.SetDword(V::V32, kLmCV + "\\SharedDLLs", "C:\\Windows\\System32\\shell32.dll", 3);
  reg.SetDword(V::V32, kLmCV + "\\SharedDLLs", "", 3);
  const std::string help = "HKLM\\Software\\Microsoft\\Windows\\Help";
  fs.AddFile("C:\\Help\\there.hlp");
  reg.SetString(V::V32, help, "there.hlp", "C:\\Help");
  reg.SetString(V::V32, help, "gone.hlp", "%SystemRoot%\\Help\\", wc::RegExpandSz);
  reg.SetDword(V::V32, help, "number.hlp", 1); // skipped without a report
  fs.AddFile("C:\\Windows\\Fonts\\arial.ttf");
  const std::string fonts = "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
  reg.SetString(V::V64, fonts, "Arial (TrueType)", "arial.ttf");
  reg.SetString(V::V64, fonts, "X (TrueType)", "C:\\Fonts2\\x.ttf");
  const std::string installed = "HKLM\\System\\CurrentControlSet\\Control\\InstalledFiles";
  reg.SetString(V::Phys, installed, "a", "notepad.exe");
  reg.SetString(V::Phys, installed, "b", "C:\\Gone\\b.sys");

  const auto lines = Scan(
      TCategorySet::Of(ecSharedFiles).Add(ecHelpFiles).Add(ecWindowsFonts).Add(ecInstalledFiles));
  EXPECT_EQ(lines,
            Sorted({"66 k7 a1 HKLM " + kCV + "\\SharedDLLs [C:\\Gone\\lib.dll]  (lib.dll)",
                    "45 k8 a1/0x0082 HKLM Software\\Microsoft\\Windows\\Help [gone.hlp] "
                    "%SystemRoot%\\Help\\ (gone.hlp)",
                    "82 k26 a1 HKLM Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts [X "
                    "(TrueType)] C:\\Fonts2\\x.ttf (X (TrueType))",
                    "48 k22 a1 HKLM System\\CurrentControlSet\\Control\\InstalledFiles [b] "
                    "C:\\Gone\\b.sys (b)"}));
  TRegScanner scanner(main);
  scanner.SetScanCategories(TCategorySet::Of(ecSharedFiles));
  scanner.StartScan();
  while (scanner.IsScanning())
    main.PumpWait(std::chrono::milliseconds(5));
  ASSERT_EQ(scanner.Errors().Count(), 1);
  EXPECT_EQ(scanner.Errors().CategoryList(ecSharedFiles)[0]->Description(),
            "Shared file could not be found: C:\\Gone\\lib.dll");
  EXPECT_EQ(scanner.TestCount(ecSharedFiles), 3); // the empty name passes
}

TEST_F(ThreadedSoftwareChecks, ShellFoldersKnownDllsAndVirtualDevices) {
  const std::string shell = kCuCV + "\\Explorer\\Shell Folders";
  reg.SetString(V::V64, shell, "Desktop", "C:\\Users\\user\\Desktop");
  reg.SetString(V::V64, shell, "Gone", "C:\\Users\\user\\Gone\\");
  reg.SetString(V::V64, shell, "!Do not use this registry key", "Use the API instead");
  reg.SetString(V::V64, kCuCV + "\\Explorer\\User Shell Folders", "Local",
                "%USERPROFILE%\\AppData\\Local", wc::RegExpandSz);
  const std::string known = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\KnownDLLs";
  reg.SetString(V::Phys, known, "DllDirectory", "%SystemRoot%\\system32", wc::RegExpandSz);
  reg.SetString(V::Phys, known, "kernel32", "kernel32.dll");
  reg.SetString(V::Phys, known, "bogus", "bogus.dll");
  const std::string vxd = "HKLM\\System\\CurrentControlSet\\Services\\VXD";
  reg.SetString(V::Phys, vxd + "\\VNETSUP", "StaticVxD", "C:\\Gone\\vnetsup.vxd");
  reg.SetString(V::Phys, vxd + "\\VREDIR", "StaticVxD", "kernel32.dll");
  reg.CreateKey(V::Phys, vxd + "\\NOVALUE");
  EXPECT_EQ(
      Scan(TCategorySet::Of(ecShellFolders).Add(ecSessionManagerKnownDLLs).Add(ecVirualDevices)),
      Sorted({"69 k22 a1 HKCU " + kCV +
                  "\\Explorer\\Shell Folders [Gone] C:\\Users\\user\\Gone\\ (Gone)",
              "65 k22 a1 HKLM System\\CurrentControlSet\\Control\\Session "
              "Manager\\KnownDLLs [bogus] bogus.dll (bogus)",
              "81 k22 a1 HKLM System\\CurrentControlSet\\Services\\VXD\\VNETSUP [StaticVxD] "
              "C:\\Gone\\vnetsup.vxd (VNETSUP)"}));
}

TEST_F(ThreadedSoftwareChecks, UninstallEntriesFollowTheirFlags) {
  const std::string un = kLmCV + "\\Uninstall";
  fs.SetDrive('R', wc::DriveCdrom);
  fs.AddFile("C:\\App\\setup.exe");
  auto entry = [&](const std::string &name) { return un + "\\" + name; };
  // Broken throughout.
  reg.SetString(V::V32, entry("Broken"), "DisplayName", "Broken App");
  reg.SetString(V::V32, entry("Broken"), "InstallSource", "C:\\Gone\\");
  reg.SetString(V::V32, entry("Broken"), "DisplayIcon", "C:\\Gone\\app.exe,0");
  reg.SetString(V::V32, entry("Broken"), "UninstallString", "C:\\Gone\\unins.exe /x");
  reg.SetString(V::V32, entry("Broken"), "QuietUninstallString", "C:\\Gone\\q.exe");
  // A system component: no uninstall test; a CD source is not tested.
  reg.SetString(V::V32, entry("Component"), "InstallSource", "R:\\setup\\");
  reg.SetString(V::V32, entry("Component"), "DisplayIcon", "");
  reg.SetString(V::V32, entry("Component"), "UninstallString", "C:\\Gone\\unins.exe");
  reg.SetDword(V::V32, entry("Component"), "SystemComponent", 1);
  // NoRemove and subkeys end the entry.
  reg.SetString(V::V32, entry("Fixed"), "UninstallString", "C:\\Gone\\unins.exe");
  reg.SetDword(V::V32, entry("Fixed"), "NoRemove", 1);
  reg.SetString(V::V32, entry("Parent"), "UninstallString", "C:\\Gone\\unins.exe");
  reg.CreateKey(V::V32, entry("Parent") + "\\Child");
  // Only the quiet command, of a wrong-typed UninstallString, is tested.
  reg.SetDword(V::V32, entry("Quiet"), "UninstallString", 5);
  reg.SetString(V::V32, entry("Quiet"), "QuietUninstallString", "\"C:\\App\\setup.exe\" /q");
  reg.SetString(V::V32, entry("Msi"), "UninstallString", "MsiExec.exe /X{1234}");
  reg.SetDword(V::V32, entry("Msi"), "NoRemove", 0);
  const std::string p = "HKLM " + kCV + "\\Uninstall\\";
  EXPECT_EQ(
      Scan(ecAddRemoveCache),
      Sorted(
          {"77 k22 a1 " + p + "Broken [InstallSource] C:\\Gone\\ (Broken App)",
           "78 k10 a1 " + p + "Broken [DisplayIcon] C:\\Gone\\app.exe,0 (Broken App)",
           "79 k22 a0 " + p + "Broken [UninstallString] C:\\Gone\\unins.exe /x (Broken App)",
           "78 k10 a1 " + p + "Component [DisplayIcon]  (Component)",
           "83 k0 a1 " + p + "Quiet [UninstallString] REG_SZ or REG_EXPAND_SZ (UninstallString)"}));
}

TEST_F(ThreadedSoftwareChecks, AddRemoveCachesInstallerFoldersAndMuiCache) {
  const std::string arp = kLmCV + "\\App Management\\ARPCache";
  fs.AddFile("C:\\App\\app.exe");
  reg.SetRaw(V::V32, arp + "\\Present", "SlowInfoCache", wc::RegBinary,
             SlowInfoRecord(1, u"C:\\App\\app.exe"));
  reg.SetRaw(V::V32, arp + "\\Gone", "SlowInfoCache", wc::RegBinary,
             SlowInfoRecord(1, u"C:\\Gone\\app.exe"));
  reg.SetRaw(V::V32, arp + "\\Short", "SlowInfoCache", wc::RegBinary,
             SlowInfoRecord(1, u"C:\\Gone\\app.exe", 100));
  reg.SetRaw(V::V32, arp + "\\NoFlag", "SlowInfoCache", wc::RegBinary,
             SlowInfoRecord(0, u"C:\\Gone\\app.exe"));
  const std::string folders = kLmCV + "\\Installer\\Folders";
  reg.SetString(V::V32, folders, "C:\\Program Files\\", "");
  reg.SetString(V::V32, folders, "C:\\Gone\\Folder\\", "");
  const std::string mui = "HKCU\\Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache";
  reg.SetString(V::V64, mui, "LangID", "x");
  reg.SetString(V::V64, mui, "C:\\Windows\\notepad.exe", "Notepad");
  reg.SetString(V::V64, mui, "C:\\Gone\\app.exe", "App");
  reg.SetString(V::V64, mui, "@C:\\Gone\\res.dll,-12", "Resource");
  reg.SetString(V::V64, mui, "@%SystemRoot%\\System32\\shell32.dll,-8", "Shell");
  reg.SetDword(V::V64, mui, "C:\\Gone\\dword.exe", 1);
  const std::string m = "HKCU Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache ";
  EXPECT_EQ(
      Scan(ecAddRemoveCache),
      Sorted({"7 k22 a0 HKLM " + kCV +
                  "\\App Management\\ARPCache\\Gone [SlowInfoCache] C:\\Gone\\app.exe (Gone)",
              "49 k22 a1 HKLM " + kCV +
                  "\\Installer\\Folders [C:\\Gone\\Folder\\] C:\\Gone\\Folder\\ (Installer "
                  "Folder)",
              "59 k22 a1 " + m + "[C:\\Gone\\app.exe] C:\\Gone\\app.exe (App)",
              "58 k11 a1 " + m + "[@C:\\Gone\\res.dll,-12] @C:\\Gone\\res.dll,-12 (Resource)"}));
}

TEST_F(ThreadedSoftwareChecks, OpenGlDriversCompleteWithNothingExamined) {
  TRegScanner scanner(main);
  scanner.SetScanCategories(TCategorySet::Of(ecOpenGLDrivers));
  scanner.StartScan();
  while (scanner.IsScanning())
    main.PumpWait(std::chrono::milliseconds(5));
  EXPECT_EQ(scanner.TestCount(ecOpenGLDrivers), 0);
  EXPECT_EQ(scanner.RemainingCount(ecOpenGLDrivers), 0);
  EXPECT_FALSE(DefaultCategoryChecks()[ecOpenGLDrivers]);
  for (int c = 0; c < CategoryCount; ++c)
    if (c != ecOpenGLDrivers) {
      EXPECT_TRUE(DefaultCategoryChecks()[c]) << c;
    }
}

TEST_F(ThreadedSoftwareChecks, ThirtyTwoAndSixtyFourBitProcessesAgree) {
  // A startup program in the x86 program folder is found, one only in the
  // 64-bit folder is not (startup commands get no 64-bit retry); a path
  // into System32 is found in whichever folder the 32-bit process sees.
  fs.AddFile("C:\\Program Files (x86)\\App32\\a.exe");
  fs.AddFile("C:\\Program Files\\App64\\b.exe");
  fs.AddFile("C:\\Windows\\SysWOW64\\only32.exe");
  const std::string run = kLmCV + "\\Run";
  const std::string font = "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
  for (const V view : {V::V32, V::V64}) {
    reg.SetString(view, run, "A", "%ProgramFiles%\\App32\\a.exe", wc::RegExpandSz);
    reg.SetString(view, run, "B", "%ProgramFiles%\\App64\\b.exe", wc::RegExpandSz);
    reg.SetString(view, run, "C", "C:\\Windows\\System32\\only32.exe");
  }
  reg.SetString(V::V64, font, "Redirected", "C:\\Windows\\System32\\only32.exe");
  const auto sixtyFour = Scan(TCategorySet::Of(ecStartup).Add(ecWindowsFonts));
  Make32BitProcess();
  const auto thirtyTwo = Scan(TCategorySet::Of(ecStartup).Add(ecWindowsFonts));
  EXPECT_EQ(sixtyFour, thirtyTwo);
  EXPECT_EQ(thirtyTwo,
            Sorted({"72 k22 a1 HKLM " + kCV + "\\Run [B] %ProgramFiles%\\App64\\b.exe (B)"}));
}

} // namespace
} // namespace quenlo::test
