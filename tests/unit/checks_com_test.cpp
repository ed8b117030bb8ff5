// The COM categories on the in-memory Windows: type libraries, classes,
// interfaces and application IDs, scanned through the real scanner.
#include "ChecksFixture.h"

namespace quenlo::test {
namespace {

using ThreadedChecksCom = ChecksTest;

const std::string kClsid = "HKLM\\Software\\Classes\\CLSID\\";

TEST_F(ThreadedChecksCom, ClassKeysAndTheirSubKeys) {
  const std::string c1 = kClsid + "{C1}";
  Set(c1, "", "Broken Class");
  Set(c1, "AppID", "{NOAPP}");
  Set(c1 + "\\InprocServer32", "", "mscoree.dll"); // a bare name is not looked for
  Set(c1 + "\\LocalServer32", "", "\"C:\\Program Files\\App\\app.exe\" /automation");
  fs.AddFile("C:\\Program Files\\App\\app.exe");
  Set(c1 + "\\InprocHandler32", "", "C:\\Gone\\x.dll");
  Set(c1 + "\\InprocServer", "", "");
  reg.CreateKey(View::V64, c1 + "\\LocalServer"); // neither values nor subkeys
  Set(c1 + "\\DefaultIcon", "", "\"C:\\Dir\\x.dll\",0");
  fs.AddFile("C:\\Dir\\x.dll");
  Set(c1 + "\\TreatAs", "", "");
  Set(c1 + "\\ProgID", "", "Gone.Prog.1");
  Set(c1 + "\\VersionIndependentProgID", "", "Real.Prog");
  reg.CreateKey(View::V64, "HKLM\\Software\\Classes\\Real.Prog");
  Set(c1 + "\\TypeLib", "", "{NOLIB}");
  Set(c1 + "\\ToolboxBitmap32", "", "C:\\Gone\\tb.dll,1");
  reg.CreateKey(View::V64, c1 + "\\ExtendedErrors\\{NOCLASS}");
  reg.CreateKey(View::V64, c1 + "\\ExtendedErrors\\{C2}");
  RegisterClass("{C2}");
  Set(kClsid + "{C2}\\DefaultIcon", "", "%1");
  Set(kClsid + "{C2}\\AutoConvertTo", "", "{C2}");
  reg.SetDword(View::V64, kClsid + "{C2}\\InprocServer32", "", 1);
  Set(kClsid + "{C3}\\DefaultIcon", "", "C:\\Gone\\i.ico,0");
  reg.CreateKey(View::V64, kClsid + "{C3}\\ToolboxBitmap");
  reg.CreateKey(View::V64, kClsid + "{C4}\\DefaultIcon");

  EXPECT_EQ(
      Scan(ecCLSIDs),
      Sorted({
          "18 k13 a1 HKLM ~CLSID\\{C1} [AppID] {NOAPP} (Broken Class) +64",
          "8 k22 a0 HKLM ~CLSID\\{C1}\\InprocHandler32 [] C:\\Gone\\x.dll (Broken Class) +64",
          "8 k22 a0 HKLM ~CLSID\\{C1}\\InprocServer []  (Broken Class) +64",
          "9 k17 a0 HKLM ~CLSID\\{C1}\\LocalServer []  (Broken Class) +64",
          "11 k12 a2 HKLM ~CLSID\\{C1}\\TreatAs []  (Broken Class) +64",
          "13 k14 a2 HKLM ~CLSID\\{C1}\\ProgID [] Gone.Prog.1 (Broken Class) +64",
          "17 k19 a0 HKLM ~CLSID\\{C1}\\TypeLib [] {NOLIB} (Broken Class) +64",
          "15 k9 a0 HKLM ~CLSID\\{C1}\\ToolboxBitmap32 [] C:\\Gone\\tb.dll,1 (Broken Class) +64",
          "30 k12 a0 HKLM ~CLSID\\{C1}\\ExtendedErrors\\{NOCLASS} [] {NOCLASS} (Broken Class) "
          "+64",
          "83 k0 a0 HKLM ~CLSID\\{C2}\\InprocServer32 [] REG_SZ or REG_EXPAND_SZ () +64",
          "24 k10 a0/0x0101 HKLM ~CLSID\\{C3}\\DefaultIcon [] C:\\Gone\\i.ico,0 ({C3}) +64",
          "14 k9 a0 HKLM ~CLSID\\{C3}\\ToolboxBitmap []  ({C3}) +64",
          "23 k10 a0/0x0101 HKLM ~CLSID\\{C4}\\DefaultIcon []  ({C4}) +64",
      }));
}

TEST_F(ThreadedChecksCom, ReflectedClassesKeepOnlyTheirExtendedErrorsIn64BitView) {
  sys.SetVersion(6, 0); // Vista: registry reflection exists and answers
  reg.SetReflectionQueryStatus(0);
  Reinit();
  const std::string c1 = kClsid + "{C1}";
  Set(c1, "AppID", "{NOAPP}");
  Set(c1 + "\\InprocServer32", "", "C:\\Gone\\x.dll");
  reg.CreateKey(View::V64, c1 + "\\ExtendedErrors\\{NOCLASS}");
  EXPECT_EQ(
      Scan(ecCLSIDs),
      Sorted({"30 k12 a0 HKLM ~CLSID\\{C1}\\ExtendedErrors\\{NOCLASS} [] {NOCLASS} ({C1}) +64"}));

  reg.SetReflectionDisabled(View::V64, c1, true);
  reg.SetReflectionDisabled(View::V64, c1 + "\\InprocServer32", true);
  EXPECT_EQ(Scan(ecCLSIDs).size(), 3u) << "reflection disabled: examined in the 64-bit view";
}

TEST_F(ThreadedChecksCom, InterfacesCountEveryTest) {
  const std::string itf = "HKLM\\Software\\Classes\\Interface\\{I1}";
  Set(itf, "", "IOne");
  Set(itf + "\\TypeLib", "", "{NOLIB}");
  reg.CreateKey(View::V64, itf + "\\ProxyStubClsid");
  Set(itf + "\\ProxyStubClsid32", "", "{PS}");
  RegisterClass("{PS}");
  EXPECT_EQ(Scan(ecInterfaces),
            Sorted({"54 k19 a0 HKLM ~Interface\\{I1}\\TypeLib [] {NOLIB} (IOne) +64",
                    "50 k12 a0 HKLM ~Interface\\{I1}\\ProxyStubClsid []  (IOne) +64"}));
  EXPECT_EQ(tests, 5) << "53, 54, 50, 50 and 51 once each";
}

TEST_F(ThreadedChecksCom, ApplicationIds) {
  const std::string a1 = "HKLM\\Software\\Classes\\AppID\\{A1}";
  Set(a1, "", "App One");
  Set(a1, "AppID", "{A9}");
  Set(a1, "LocalService", "NoSuchSvc");
  Set(a1, "DllSurrogate", ""); // the system's surrogate
  Set(a1, "DllSurrogateExecutable", "C:\\Gone\\surrogate.exe");
  const std::string a2 = "HKLM\\Software\\Classes\\AppID\\app.exe";
  Set(a2, "AppID", "{A1}");
  Set(a2, "LocalService", "RealSvc");
  reg.CreateKey(View::V64, "HKLM\\System\\CurrentControlSet\\Services\\RealSvc");
  Set(a2, "DllSurrogate", "%SystemRoot%\\system32\\notepad.exe");
  Set("HKCU\\Software\\Classes\\AppID\\{U1}", "AppID", "");
  EXPECT_EQ(Scan(ecAppIDs),
            Sorted({"2 k13 a1 HKLM ~AppID\\{A1} [AppID] {A9} (App One)",
                    "3 k20 a1 HKLM ~AppID\\{A1} [LocalService] NoSuchSvc (App One)",
                    "1 k22 a4 HKLM ~AppID\\{A1} [DllSurrogateExecutable] C:\\Gone\\surrogate.exe "
                    "(App One)",
                    "2 k13 a1 HKCU ~AppID\\{U1} [AppID]  ({U1})"}));
}

// Type libraries live in a key both views share: each finding is listed
// once, from the 32-bit pass.
void SeedTypeLibraries(qp::mem::View view, qp::mem::MemoryRegistry &reg,
                       qp::mem::MemoryFileSystem &fs) {
  const std::string lib = "HKLM\\Software\\Classes\\TypeLib\\{L1}";
  reg.SetString(view, lib + "\\1.0", "", "Lib One");
  reg.SetString(view, lib + "\\1.0\\0\\win32", "", "C:\\Gone\\one.tlb");
  reg.SetString(view, lib + "\\1.0\\0\\win64", "", "C:\\Gone\\one64.tlb");
  reg.SetString(view, lib + "\\1.0\\HelpDir", "", "%windir%\\Help");
  fs.AddDir("C:\\Windows\\Help");
  reg.SetString(view, lib + "\\2.0\\0\\win32", "", "%SystemRoot%\\system32\\shell32.dll");
  reg.SetString(view, lib + "\\2.0\\0\\win64", "", "");
  reg.SetString(view, lib + "\\2.0\\HelpDir", "", "\"C:\\Gone Help\"");
  reg.CreateKey(view, lib + "\\3.0\\HelpDir");
}

const std::vector<std::string> kTypeLibFindings = {
    "73 k22 a0 HKLM ~TypeLib\\{L1}\\1.0\\0\\win32 [] C:\\Gone\\one.tlb (Lib One)",
    "76 k16 a0 HKLM ~TypeLib\\{L1}\\2.0\\HelpDir [] \"C:\\Gone Help\" ()",
    "75 k16 a0 HKLM ~TypeLib\\{L1}\\3.0\\HelpDir []  ()",
};
const std::string kWin64Finding =
    "74 k22 a0 HKLM ~TypeLib\\{L1}\\1.0\\0\\win64 [] C:\\Gone\\one64.tlb (Lib One)";

TEST_F(ThreadedChecksCom, TypeLibrariesOn64BitWindows) {
  SeedTypeLibraries(View::V64, reg, fs);
  std::vector<std::string> expected = kTypeLibFindings;
  expected.push_back(kWin64Finding);
  EXPECT_EQ(Scan(ecTypeLib), Sorted(expected));
}

TEST_F(ThreadedChecksCom, TypeLibrariesSeenByA32BitProcessOn64BitWindows) {
  sys.SetProcessIs64Bit(false);
  sys.SetWow64Process(true);
  Reinit();
  SeedTypeLibraries(View::V64, reg, fs);
  std::vector<std::string> expected = kTypeLibFindings;
  expected.push_back(kWin64Finding);
  EXPECT_EQ(Scan(ecTypeLib), Sorted(expected)) << "the same answer as the 64-bit program";
}

TEST_F(ThreadedChecksCom, TypeLibrariesOn32BitWindowsHaveNoWin64Test) {
  sys.SetOs64Bit(false);
  Reinit();
  SeedTypeLibraries(View::V32, reg, fs);
  EXPECT_EQ(Scan(ecTypeLib), Sorted(kTypeLibFindings));
}

} // namespace
} // namespace quenlo::test
