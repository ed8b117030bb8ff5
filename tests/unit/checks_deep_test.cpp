// Start menu, file/path reference and history list categories on the
// in-memory Windows.
#include <atomic>

#include "ChecksFixture.h"
#include "paths/uProbeCache.h"
#include "scanner/uChecksDeep.h"

namespace quenlo::test {
namespace {

using V = qp::mem::View;

const std::string kCV = "Software\\Microsoft\\Windows\\CurrentVersion";
const std::string kCuCV = "HKCU\\" + kCV;
const std::string kDesktop = "C:\\Users\\user\\Desktop";

class ThreadedDeepChecks : public ChecksTest {
protected:
  void Make32BitProcess() {
    sys.SetProcessIs64Bit(false);
    sys.SetWow64Process(true);
    Reinit();
  }
  void Shortcut(const std::string &file, const std::string &target) {
    fs.AddFile(file, "L");
    qp::ShellLinkInfo info;
    info.path = target;
    sys.SetShellLink(file, info);
  }
  // Runs the scan thread alone on one category; returns it ended.
  std::unique_ptr<TScanThread> RunThread(TErrorCategory category) {
    auto thread = std::make_unique<TScanThread>(
        TCategorySet::Of(category), std::vector<std::string>{}, DefaultCategoryChecks(), main);
    std::atomic<bool> done{false};
    thread->OnTerminate = [&] { done = true; };
    thread->Start();
    while (!done)
      main.PumpWait(std::chrono::milliseconds(5));
    thread->Join();
    return thread;
  }
};

TEST_F(ThreadedDeepChecks, ShortcutsWithMissingDrivePathTargetsAreReported) {
  fs.AddFile("C:\\Program Files (x86)\\App\\app.exe");
  fs.AddFile("C:\\Program Files\\App64\\app64.exe");
  Shortcut(kDesktop + "\\Gone.lnk", "C:\\Gone\\app.exe");
  Shortcut(kDesktop + "\\Panel.lnk", "::{21EC2020-3AEA-1069-A2DD-08002B30309D}");
  Shortcut(kDesktop + "\\App.lnk", "%ProgramFiles%\\App\\app.exe");
  Shortcut(kDesktop + "\\App64.lnk", "%ProgramFiles%\\App64\\app64.exe");
  Shortcut(kDesktop + "\\Tools\\Deep\\Old.lnk", "C:\\Old\\tool.exe");
  Shortcut(kDesktop + "\\Folder.lnk", "C:\\Windows");
  fs.AddFile(kDesktop + "\\Broken.lnk", "not a link"); // cannot be loaded: no test
  fs.AddFile(kDesktop + "\\readme.txt");
  Shortcut("C:\\Users\\Public\\Desktop\\Common.lnk", "C:\\Gone\\common.exe");
  const std::string programs = "C:\\Users\\user\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu";
  Shortcut(programs + "\\Programs\\Gone\\x.lnk", "C:\\Gone\\x.exe");

  const std::vector<std::string> expected = Sorted(
      {"70 k29 a11  " + kDesktop + "\\Gone.lnk [] C:\\Gone\\app.exe (Gone.lnk)",
       "70 k29 a11  " + kDesktop + "\\Tools\\Deep\\Old.lnk [] C:\\Old\\tool.exe (Old.lnk)",
       "70 k29 a11  C:\\Users\\Public\\Desktop\\Common.lnk [] C:\\Gone\\common.exe (Common.lnk)",
       "70 k29 a11  " + programs + "\\Programs\\Gone\\x.lnk [] C:\\Gone\\x.exe (x.lnk)"});
  // Both registry views are scanned, the shortcuts only once.
  EXPECT_EQ(Scan(ecStartMenu), expected);
  EXPECT_EQ(tests, 7); // every shortcut with a drive path, once
  Make32BitProcess();
  EXPECT_EQ(Scan(ecStartMenu), expected);
}

TEST_F(ThreadedDeepChecks, MenuOrderKeysNeedTheirMenuFolder) {
  const std::string order = kCuCV + "\\Explorer\\MenuOrder\\Start Menu\\Programs";
  fs.AddDir("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Accessories\\Tools");
  reg.CreateKey(V::V64, order + "\\Accessories\\Tools");
  reg.CreateKey(V::V64, order + "\\Accessories\\Gone");
  reg.CreateKey(V::V64, order + "\\Games\\Sub"); // below a reported key: not walked
  EXPECT_EQ(Scan(ecStartMenu),
            Sorted({"71 k6 a0 HKCU " + kCV +
                        "\\Explorer\\MenuOrder\\Start Menu\\Programs\\Accessories\\Gone [] "
                        " (Accessories\\Gone)",
                    "71 k6 a0 HKCU " + kCV +
                        "\\Explorer\\MenuOrder\\Start Menu\\Programs\\Games []  (Games)"}));
  EXPECT_EQ(tests, 2 * 4); // four keys tested, once per view
}

TEST_F(ThreadedDeepChecks, ReferenceWalkTestsDrivePathsOutsideTheExcludedKeys) {
  fs.AddFile("C:\\Program Files\\App\\app.exe");
  fs.SetDrive('D', wc::DriveCdrom);
  const std::string app = "HKCU\\Software\\Vendor\\App";
  Set(app, "Program", "C:\\Program Files\\App\\app.exe -x");
  reg.SetString(V::V64, app, "Temp", "%TEMP%\\x.tmp", wc::RegExpandSz);
  Set(app, "Cd", "D:\\x");
  Set(app, "List", "C:\\Gone\\a.dll;C:\\Windows");
  Set(app, "Gone", "C:\\Gone\\b.dll");
  Set(app, "Installer", "C:\\$WIN_NT$.~BT\\x");
  Set(app, "Short", "C:\\");
  reg.SetMultiString(V::V64, app, "Multi",
                     {"C:\\Windows", "C:\\Gone\\m.dll", "", "C:\\Gone\\after"});
  reg.SetDword(V::V64, app, "Number", 7);
  Set(kCuCV + "\\Run", "Excluded", "C:\\Gone\\run.exe");
  Set("HKCU\\Software\\Classes\\.x", "", "C:\\Gone\\class.exe");
  reg.SetString(V::Phys, "HKLM\\System\\ControlSet001\\Services\\S", "ImagePath",
                "C:\\Gone\\s.sys");
  reg.SetString(V::Phys, "HKLM\\System\\ControlSet0001\\S", "ImagePath", "C:\\Gone\\t.sys");
  // Deeper than the counted depth: still examined.
  Set("HKCU\\A\\B\\C\\D\\E\\F\\G\\H\\I", "Deep", "C:\\Gone\\deep.exe");
  const std::string v = "HKCU Software\\Vendor\\App ";
  EXPECT_EQ(
      Scan(ecFilePathRefs),
      Sorted({"47 k24 a3 " + v + "[List] C:\\Gone\\a.dll (List)",
              "47 k22 a1 " + v + "[Gone] C:\\Gone\\b.dll (Gone)",
              "47 k23 a3 " + v + "[Multi] C:\\Gone\\m.dll (Multi)",
              "47 k22 a1 HKLM SYSTEM\\ControlSet0001\\S [ImagePath] C:\\Gone\\t.sys (ImagePath)",
              "47 k22 a1 HKCU A\\B\\C\\D\\E\\F\\G\\H\\I [Deep] C:\\Gone\\deep.exe (Deep)"}));
}

TEST_F(ThreadedDeepChecks, ReferenceWalkCountsAndReportsProgressDownToDepthSeven) {
  std::string path = "HKCU\\Q1";
  for (int depth = 2; depth <= 10; ++depth)
    path += "\\Q" + std::to_string(depth);
  reg.CreateKey(V::Phys, path);
  reg.CreateKey(V::Phys, "HKCU\\Environment\\Sub\\Sub"); // excluded: counted, not entered
  const auto before = RunThread(ecFilePathRefs);
  // Adding keys below depth 7 changes neither figure.
  reg.CreateKey(V::Phys, path + "\\Q11\\Q12");
  reg.CreateKey(V::Phys, "HKCU\\Q1\\Q2\\Q3\\Q4\\Q5\\Q6\\Q7\\Other");
  const auto after = RunThread(ecFilePathRefs);
  EXPECT_EQ(before->Counted(ecFilePathRefs), after->Counted(ecFilePathRefs));
  EXPECT_EQ(after->Processed(ecFilePathRefs), after->Counted(ecFilePathRefs));
  EXPECT_EQ(before->Processed(ecFilePathRefs), before->Counted(ecFilePathRefs));
  // The seven Q keys and Environment count; below Environment nothing.
  reg.CreateKey(V::Phys, "HKCU\\Environment\\Sub2");
  reg.CreateKey(V::Phys, "HKCU\\Q1\\Q2\\Q3\\Q4\\Q5\\Q6\\Sibling");
  const auto more = RunThread(ecFilePathRefs);
  const int perView = ReflectionAvailable && ProcessOnWow64 ? 2 : 1;
  EXPECT_EQ(more->Counted(ecFilePathRefs) - after->Counted(ecFilePathRefs), perView);
}

TEST_F(ThreadedDeepChecks, ProbesOfOnePathAreMadeOncePerScan) {
  const std::string app = "HKCU\\Software\\Vendor\\Many";
  Set(app + "0", "Gone", "C:\\Gone\\same.dll");
  std::uint64_t start = fs.AttributeQueries();
  EXPECT_EQ(Scan(ecFilePathRefs).size(), 1u);
  const std::uint64_t once = fs.AttributeQueries() - start;
  for (int i = 1; i < 20; ++i)
    Set(app + std::to_string(i), "Gone", "C:\\Gone\\same.dll");
  start = fs.AttributeQueries();
  EXPECT_EQ(Scan(ecFilePathRefs).size(), 20u);
  EXPECT_EQ(fs.AttributeQueries() - start, once);

  // Outside a scan every probe asks the file system.
  start = fs.AttributeQueries();
  EXPECT_FALSE(ProbeFile("C:\\Gone\\same.dll"));
  const std::uint64_t one = fs.AttributeQueries() - start;
  EXPECT_FALSE(ProbeFile("C:\\Gone\\same.dll"));
  EXPECT_EQ(fs.AttributeQueries() - start, 2 * one);
  {
    TProbeCacheScope scope;
    start = fs.AttributeQueries();
    EXPECT_FALSE(ProbeFile("C:\\Gone\\same.dll"));
    const std::uint64_t first = fs.AttributeQueries() - start;
    EXPECT_LE(first, one);
    EXPECT_FALSE(ProbeFile("C:\\Gone\\same.dll"));
    EXPECT_EQ(fs.AttributeQueries() - start, first);
    fs.AddFile("C:\\Gone\\same.dll");
  }
  // The memo ended with its scope.
  EXPECT_EQ(ProbeCacheSize(), 0u);
  EXPECT_TRUE(ProbeFile("C:\\Gone\\same.dll"));
}

TEST_F(ThreadedDeepChecks, ProbeMemoKeepsTheFileSystemViewsApart) {
  fs.AddFile("C:\\Windows\\SysWOW64\\only32.dll");
  TProbeCacheScope scope;
  // The native view misses it, the other view (retry) finds it: the first
  // answer must not be reused for the retry.
  EXPECT_TRUE(ProbeFile("C:\\Windows\\System32\\only32.dll"));
  EXPECT_TRUE(ProbeFile("C:\\Windows\\System32\\only32.dll"));
  EXPECT_FALSE(ProbeFile("C:\\Windows\\System32\\only64.dll"));
}

TEST_F(ThreadedDeepChecks, HistoryListsCheckTheirEntries) {
  fs.AddFile("C:\\Docs\\there.txt");
  const std::string mru = kCuCV + "\\Explorer\\ComDlg32\\OpenSaveMRU";
  Set(mru + "\\txt", "MRUList", "abcd");
  Set(mru + "\\txt", "a", "C:\\Docs\\deleted.txt");
  Set(mru + "\\txt", "b", "C:\\Docs\\there.txt");
  // c and d have no value: one report for the list.
  Set(mru, "MRUList", "ab");
  Set(mru, "a", "C:\\Docs\\any.doc"); // depth 0: only the folder must exist
  Set(mru, "b", "C:\\Nowhere\\x.doc");
  const std::string run = kCuCV + "\\Explorer\\RunMRU";
  Set(run, "MRUList", "abd");
  Set(run, "a", "notepad\\1");
  Set(run, "b", "C:\\Gone\\x.exe\\1");
  reg.SetDword(V::V64, run, "d", 1);
  const std::string paint = kCuCV + "\\Applets\\Paint\\Recent File List";
  Set(paint, "File1", "C:\\Pictures\\deleted.bmp");
  Set(paint, "File2", "C:\\Docs\\there.txt");
  reg.SetDword(V::V64, paint, "MaxFiles", 4);
  reg.SetDword(V::V64, paint, "file3", 4);
  reg.SetString(V::V64, kCuCV + "\\Applets\\Wordpad\\Recent File List", "File1",
                "%USERPROFILE%\\gone.rtf", wc::RegExpandSz);
  const std::string h = "HKCU " + kCV;
  EXPECT_EQ(Scan(ecHistoryLists),
            Sorted({"56 k22 a10 " + h +
                        "\\Explorer\\ComDlg32\\OpenSaveMRU\\txt [a] C:\\Docs\\deleted.txt "
                        "(OpenSaveMRU\\txt)",
                    "57 k25 a9 " + h +
                        "\\Explorer\\ComDlg32\\OpenSaveMRU\\txt [MRUList] abcd "
                        "(OpenSaveMRU\\txt)",
                    "56 k22 a10 " + h +
                        "\\Explorer\\ComDlg32\\OpenSaveMRU [b] C:\\Nowhere\\x.doc "
                        "(OpenSaveMRU)",
                    "63 k22 a10 " + h + "\\Explorer\\RunMRU [b] C:\\Gone\\x.exe\\1 (RunMRU)",
                    "83 k0 a1 " + h + "\\Explorer\\RunMRU [d] REG_SZ or REG_EXPAND_SZ (d)",
                    "62 k22 a1 " + h +
                        "\\Applets\\Paint\\Recent File List [File1] "
                        "C:\\Pictures\\deleted.bmp (Paint Recent File List)",
                    "83 k0 a1 " + h +
                        "\\Applets\\Paint\\Recent File List [file3] REG_SZ or "
                        "REG_EXPAND_SZ (file3)",
                    "62 k22 a1 " + h +
                        "\\Applets\\Wordpad\\Recent File List [File1] "
                        "%USERPROFILE%\\gone.rtf (Wordpad Recent File List)"}));
}

} // namespace
} // namespace quenlo::test
