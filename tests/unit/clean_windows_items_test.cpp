// The Windows categories' handlers (0-12) on the in-memory machine: the MRU
// lists, the key items, the Recent and temporary folders, IIS logs, update
// uninstallers, tray icons and the clipboard; and an analysis of every
// category that leaves the machine as it was.
#include "CleanItemsFixture.h"

#include <chrono>

#include "cleaner/uCleanItems.h"

namespace quenlo {
namespace {

using namespace std::chrono_literals;
using test::View;

constexpr const char *kExplorerKey = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
const std::string kRunMru = std::string(kExplorerKey) + "\\RunMRU";
const std::string kComDlg = std::string(kExplorerKey) + "\\ComDlg32";
const std::string kRecentDocs = std::string(kExplorerKey) + "\\RecentDocs";
const std::string kTrayNotify = std::string(kExplorerKey) + "\\TrayNotify";
const std::string kRecent = "C:\\Users\\user\\AppData\\Roaming\\Microsoft\\Windows\\Recent";
const std::string kTemp = "C:\\Users\\user\\AppData\\Local\\Temp";
// Builder paths of HKEY_CURRENT_USER begin with "HKCU\" as findings do.

qp::Bytes Dwords(std::initializer_list<std::int32_t> values) {
  qp::Bytes bytes;
  for (const std::int32_t value : values)
    for (int b = 0; b < 4; ++b)
      bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (8 * b)));
  return bytes;
}

class CleanWindowsItems : public test::CleanItemsTest {};

// --- MRU lists

TEST_F(CleanWindowsItems, MruListIsFollowedInItsOrderAndDeletedLast) {
  reg.SetString(View::V32, kRunMru, "a", "cmd\\1");
  reg.SetString(View::V32, kRunMru, "b", "notepad\\1");
  reg.SetString(View::V32, kRunMru, "c", "regedit\\1");
  reg.SetString(View::V32, kRunMru, "d", "not listed\\1");
  reg.SetString(View::V32, kRunMru, "MRUList", "cbaz"); // z names no value

  const TPassResult analysed = Run(CleanRunMenu, ccRunMenuHistory, smReport);
  EXPECT_EQ(Names(analysed.categories[ccRunMenuHistory].items),
            (std::vector<std::string>{"regedit\\1", "notepad\\1", "cmd\\1"}));
  EXPECT_EQ(analysed.categories[ccRunMenuHistory].outcome, coDone);
  EXPECT_TRUE(reg.ValueExists(View::V32, kRunMru, "a"));

  const TPassResult cleaned = Run(CleanRunMenu, ccRunMenuHistory, smClean);
  EXPECT_EQ(cleaned.categories[ccRunMenuHistory].outcome, coDone);
  for (const char *name : {"a", "b", "c", "MRUList"})
    EXPECT_FALSE(reg.ValueExists(View::V32, kRunMru, name)) << name;
  EXPECT_TRUE(reg.ValueExists(View::V32, kRunMru, "d")); // not in the list

  // A list whose letters name nothing is still deleted.
  reg.SetString(View::V32, kRunMru, "MRUList", "xy");
  Run(CleanRunMenu, ccRunMenuHistory, smClean);
  EXPECT_FALSE(reg.ValueExists(View::V32, kRunMru, "MRUList"));
}

TEST_F(CleanWindowsItems, MruListExOfTwelveBytesNamesTwoValues) {
  const std::string key = kComDlg + "\\LastVisitedPidlMRU";
  reg.SetRaw(View::V32, key, "MRUListEx", wc::RegBinary, Dwords({1, 0, -1}));
  reg.SetRaw(View::V32, key, "0", wc::RegBinary, {1, 2});
  reg.SetRaw(View::V32, key, "1", wc::RegBinary, {3, 4});
  reg.SetRaw(View::V32, key, "2", wc::RegBinary, {5, 6});
  reg.SetRaw(View::V32, key, "-1", wc::RegBinary, {7});

  const TPassResult analysed = Run(CleanLastVisited, ccLastVisitedHistory, smReport);
  EXPECT_EQ(Names(analysed.categories[ccLastVisitedHistory].items),
            (std::vector<std::string>{key + ", 1", key + ", 0"}));

  Run(CleanLastVisited, ccLastVisitedHistory, smClean);
  for (const char *gone : {"0", "1", "MRUListEx"})
    EXPECT_FALSE(reg.ValueExists(View::V32, key, gone)) << gone;
  EXPECT_TRUE(reg.ValueExists(View::V32, key, "2"));
  EXPECT_TRUE(reg.ValueExists(View::V32, key, "-1")); // the closing entry names nothing
}

TEST_F(CleanWindowsItems, OpenSaveListsReadBinaryEntriesAsUtf16TextUpToTheirZero) {
  const std::string txt = kComDlg + "\\OpenSaveMRU\\txt";
  qp::Bytes path = Wide("C:\\Docs\\caf\xC3\xA9.txt");
  for (const std::uint8_t trailing : {0x14, 0x00, 0x1F, 0x50, 0xE0})
    path.push_back(trailing); // the shell item data behind the path
  reg.SetRaw(View::V32, txt, "a", wc::RegBinary, path);
  reg.SetRaw(View::V32, txt, "b", wc::RegBinary, {0x00, 0xD8, 0x41, 0x00}); // a lone surrogate
  reg.SetString(View::V32, txt, "MRUList", "ab");
  reg.SetString(View::V32, kComDlg + "\\OpenSaveMRU", "a", "C:\\top.doc");
  reg.SetString(View::V32, kComDlg + "\\OpenSaveMRU", "MRUList", "a");
  const std::string pidl = kComDlg + "\\OpenSavePidlMRU\\*";
  reg.SetRaw(View::V32, pidl, "MRUListEx", wc::RegBinary, Dwords({0, -1}));
  reg.SetRaw(View::V32, pidl, "0", wc::RegBinary, {9});

  const TPassResult analysed = Run(CleanOpenSave, ccOpenSaveHistory, smReport);
  EXPECT_EQ(Names(analysed.categories[ccOpenSaveHistory].items),
            (std::vector<std::string>{"C:\\top.doc", "C:\\Docs\\caf\xC3\xA9.txt", txt + ", b",
                                      pidl + ", 0"}));

  Run(CleanOpenSave, ccOpenSaveHistory, smClean);
  EXPECT_TRUE(reg.KeyExists(View::V32, txt)); // the lists go, their keys stay
  EXPECT_FALSE(reg.ValueExists(View::V32, txt, "a"));
  EXPECT_FALSE(reg.ValueExists(View::V32, pidl, "0"));
  EXPECT_FALSE(reg.ValueExists(View::V32, kComDlg + "\\OpenSaveMRU", "MRUList"));
}

// --- Recent Docs

TEST_F(CleanWindowsItems, RecentDocsKeepsFilesInUseAndDeletesTheKeyWithTheFolder) {
  fs.AddFile(kRecent + "\\a.lnk", "aaaa");
  fs.AddFile(kRecent + "\\sub\\b.lnk", "bb");
  fs.AddFile(kRecent + "\\held.lnk", "h");
  fs.SetInUse(kRecent + "\\held.lnk", true);
  reg.SetRaw(View::V32, kRecentDocs + "\\.txt", "0", wc::RegBinary, {1});

  const TCategoryResult analysed =
      Run(CleanRecentDocuments, ccRecentDocuments, smReport).categories[ccRecentDocuments];
  EXPECT_EQ(Sorted(Names(analysed.items)), (std::vector<std::string>{"a.lnk", "sub\\b.lnk"}));
  EXPECT_EQ(Names(analysed.kept), std::vector<std::string>{"held.lnk (in use)"});
  EXPECT_EQ(analysed.items[0].Size + analysed.items[1].Size, 6);

  const TCategoryResult cleaned =
      Run(CleanRecentDocuments, ccRecentDocuments, smClean).categories[ccRecentDocuments];
  EXPECT_FALSE(fs.Exists(kRecent + "\\a.lnk"));
  EXPECT_FALSE(fs.Exists(kRecent + "\\sub\\b.lnk"));
  EXPECT_TRUE(fs.Exists(kRecent + "\\held.lnk"));
  EXPECT_EQ(Names(cleaned.kept), std::vector<std::string>{"held.lnk (in use)"});
  EXPECT_EQ(cleaned.outcome, coDone);
  EXPECT_FALSE(reg.KeyExists(View::V32, kRecentDocs));
}

TEST_F(CleanWindowsItems, RecentDocsKeyStaysWithoutTheRecentFolder) {
  reg.SetRaw(View::V32, kRecentDocs, "MRUListEx", wc::RegBinary, Dwords({-1}));
  fs.Remove(kRecent);
  const TPassResult cleaned = Run(CleanRecentDocuments, ccRecentDocuments, smClean);
  EXPECT_TRUE(reg.KeyExists(View::V32, kRecentDocs));
  EXPECT_EQ(cleaned.categories[ccRecentDocuments].outcome, coNotFound);

  // A Recent folder that names the Windows folder is refused whole.
  sys.SetSpecialFolder(kCsidlRecent, "C:\\Windows");
  const TPassResult refused = Run(CleanRecentDocuments, ccRecentDocuments, smClean);
  EXPECT_EQ(refused.categories[ccRecentDocuments].outcome, coFailed);
  EXPECT_EQ(refused.categories[ccRecentDocuments].reason, kReasonUnsafeFolder);
  EXPECT_TRUE(fs.Exists("C:\\Windows\\notepad.exe"));
  EXPECT_TRUE(reg.KeyExists(View::V32, kRecentDocs));
}

// --- Temp Files

TEST_F(CleanWindowsItems, TempFilesAnalysisListsWhatTheCleanRemoves) {
  fs.AddFile(kTemp + "\\direct.tmp", "12345");
  fs.AddFile(kTemp + "\\ro.tmp", "r", wc::FileAttributeReadOnly);
  fs.AddFile(kTemp + "\\setup\\cab\\x.cab", "xx");
  fs.AddDir(kTemp + "\\empty");
  fs.AddFile(kTemp + "\\busy\\held.log", "h");
  fs.SetInUse(kTemp + "\\busy\\held.log", true);
  fs.AddFile("C:\\Data\\keep.txt", "mine");
  fs.AddLink(kTemp + "\\outside", "C:\\Data");
  fs.AddFile("C:\\Data2\\file.txt", "mine too");
  fs.AddLink(kTemp + "\\setup\\filelink.txt", "C:\\Data2\\file.txt");

  const TCategoryResult analysed =
      Run(CleanTempFiles, ccTempFiles, smReport).categories[ccTempFiles];
  EXPECT_EQ(Sorted(Names(analysed.items)),
            (std::vector<std::string>{"direct.tmp", "outside", "ro.tmp", "setup\\cab\\x.cab",
                                      "setup\\filelink.txt"}));
  EXPECT_EQ(Names(analysed.kept), std::vector<std::string>{"busy\\held.log (in use)"});
  for (const TCleanItem &item : analysed.items)
    if (item.Name == "outside") {
      EXPECT_EQ(item.Size, 0);
    }

  const TCategoryResult cleaned = Run(CleanTempFiles, ccTempFiles, smClean).categories[ccTempFiles];
  EXPECT_EQ(cleaned.outcome, coDone);
  EXPECT_TRUE(cleaned.failures.empty());
  EXPECT_EQ(Names(cleaned.kept), std::vector<std::string>{"busy\\held.log (in use)"});
  // The temporary folder stays, with what is in use and its folder.
  EXPECT_EQ(Sorted(fs.List(kTemp)), std::vector<std::string>{"busy"});
  EXPECT_EQ(fs.List(kTemp + "\\busy"), std::vector<std::string>{"held.log"});
  // Only the links went: what they point at is outside the folder.
  EXPECT_EQ(fs.Content("C:\\Data\\keep.txt"), "mine");
  EXPECT_EQ(fs.Content("C:\\Data2\\file.txt"), "mine too");

  // Nothing listed a second time but the file in use.
  const TCategoryResult again = Run(CleanTempFiles, ccTempFiles, smReport).categories[ccTempFiles];
  EXPECT_TRUE(again.items.empty());
  EXPECT_EQ(again.kept.size(), 1u);
}

// Links Wine shows without the reparse-point attribute: removing one would
// remove what it points at, so both modes keep them, each noted once, and
// the clean leaves them and their targets. A temporary folder that is such
// a link is the folder it names.
TEST_F(CleanWindowsItems, TempFilesKeepUnmarkedLinksAndTheirTargets) {
  using Kind = qp::mem::MemoryFileSystem::LinkKind;
  using Mark = qp::mem::MemoryFileSystem::LinkMark;
  const std::string real = "D:\\RealTemp";
  fs.AddFile(real + "\\own.tmp", "own");
  fs.AddFile(real + "\\sub\\inner.tmp", "in");
  fs.AddFile("C:\\Data\\keep.txt", "mine");
  fs.AddFile("C:\\Data\\dir\\inner.txt", "mine too");
  fs.AddDir("C:\\Data\\empty");
  fs.Remove(kTemp);
  fs.AddLink(kTemp, real, Kind::Folder, Mark::Unmarked);
  fs.AddLink(real + "\\file.txt", "C:\\Data\\keep.txt", Kind::File, Mark::Unmarked);
  fs.AddLink(real + "\\sub\\dir", "C:\\Data\\dir", Kind::Folder, Mark::Unmarked);
  // Wine's link to a folder: the attribute, no reparse tag.
  fs.AddLink(real + "\\empty", "C:\\Data\\empty", Kind::Folder, Mark::Tagless);
  const std::vector<std::string> links{"empty (" + std::string(kReasonLink) + ")",
                                       "file.txt (" + std::string(kReasonLink) + ")",
                                       "sub\\dir (" + std::string(kReasonLink) + ")"};

  const TCategoryResult analysed =
      Run(CleanTempFiles, ccTempFiles, smReport).categories[ccTempFiles];
  EXPECT_EQ(Sorted(Names(analysed.items)), (std::vector<std::string>{"own.tmp", "sub\\inner.tmp"}));
  EXPECT_EQ(Sorted(Names(analysed.kept)), links);

  const TCategoryResult cleaned = Run(CleanTempFiles, ccTempFiles, smClean).categories[ccTempFiles];
  EXPECT_EQ(cleaned.outcome, coDone);
  EXPECT_TRUE(cleaned.failures.empty());
  EXPECT_EQ(Sorted(Names(cleaned.kept)), links);
  EXPECT_EQ(fs.Content("C:\\Data\\keep.txt"), "mine");
  EXPECT_EQ(fs.Content("C:\\Data\\dir\\inner.txt"), "mine too");
  EXPECT_TRUE(fs.Exists("C:\\Data\\empty"));
  EXPECT_EQ(Sorted(fs.List(real)), (std::vector<std::string>{"empty", "file.txt", "sub"}));
  EXPECT_EQ(fs.List(real + "\\sub"), std::vector<std::string>{"dir"});
}

// A link the clean could not remove is one failure, not one for each
// routine that met it (the folder walk and the file walk).
TEST_F(CleanWindowsItems, ALinkThatStaysIsReportedOnce) {
  fs.AddDir("C:\\Data");
  fs.AddLink(kTemp + "\\outside", "C:\\Data");
  fs.AddLink(kTemp + "\\sub\\deeper", "C:\\Data");
  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::RemoveDir, "\\outside", wc::ErrorDirNotEmpty, 5);
  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::RemoveDir, "\\deeper", wc::ErrorDirNotEmpty, 5);

  const TCategoryResult cleaned = Run(CleanTempFiles, ccTempFiles, smClean).categories[ccTempFiles];
  EXPECT_EQ(cleaned.outcome, coIncomplete);
  EXPECT_EQ(
      Sorted(Names(cleaned.failures)),
      (std::vector<std::string>{"outside (" + ReasonForStatus(wc::ErrorDirNotEmpty) + ")",
                                "sub\\deeper (" + ReasonForStatus(wc::ErrorDirNotEmpty) + ")"}));
  EXPECT_TRUE(fs.IsLink(kTemp + "\\outside"));
}

TEST_F(CleanWindowsItems, TempFolderThatIsADriveRootIsRefused) {
  fs.AddFile("C:\\Data\\keep.txt", "mine");
  ASSERT_TRUE(sys.SetEnvironmentVariable("TMP", "C:\\"));
  ASSERT_TRUE(sys.SetEnvironmentVariable("TEMP", "C:\\"));
  const TPassResult cleaned = Run(CleanTempFiles, ccTempFiles, smClean);
  EXPECT_EQ(cleaned.categories[ccTempFiles].outcome, coFailed);
  EXPECT_EQ(cleaned.categories[ccTempFiles].reason, kReasonUnsafeFolder);
  EXPECT_TRUE(fs.Exists("C:\\Data\\keep.txt"));
  EXPECT_TRUE(fs.Exists("C:\\Windows\\notepad.exe"));
}

// --- IIS Log Files

TEST_F(CleanWindowsItems, IisLogsOfMatchingSitesArePlainDeletedAndThoseInUseRecorded) {
  const std::string logs = "C:\\inetpub\\logs\\LogFiles";
  desk.SetIisSites("W3SVC", {{"1", "iiswebserver", logs},     // type in small letters
                             {"2", "IIsWebVirtualDir", logs}, // not a site
                             {"..\\..\\..\\Windows", "IIsWebServer", logs}}); // hostile name
  desk.SetIisSites("MSFTPSVC", {{"1", "IIsFtpServer", "%SystemDrive%\\inetpub\\logs\\LogFiles\\"}});
  fs.AddFile(logs + "\\W3SVC1\\ex1.log", "1111");
  fs.AddFile(logs + "\\W3SVC1\\ex2.log", "22");
  fs.SetInUse(logs + "\\W3SVC1\\ex2.log", true);
  fs.AddFile(logs + "\\W3SVC1\\old\\ex0.log", "0"); // not recursive
  fs.AddFile(logs + "\\W3SVC2\\ex9.log", "9");
  fs.AddFile(logs + "\\MSFTPSVC1\\ftp.log", "f");

  const TCategoryResult analysed =
      Run(CleanIisLogFiles, ccIISLogFiles, smReport).categories[ccIISLogFiles];
  EXPECT_EQ(Sorted(Names(analysed.items)),
            (std::vector<std::string>{logs + "\\MSFTPSVC1\\ftp.log", logs + "\\W3SVC1\\ex1.log"}));
  EXPECT_EQ(Names(analysed.kept), std::vector<std::string>{logs + "\\W3SVC1\\ex2.log (in use)"});

  const TPassResult cleaned = Run(CleanIisLogFiles, ccIISLogFiles, smClean);
  EXPECT_FALSE(fs.Exists(logs + "\\W3SVC1\\ex1.log"));
  EXPECT_FALSE(fs.Exists(logs + "\\MSFTPSVC1\\ftp.log"));
  EXPECT_TRUE(fs.Exists(logs + "\\W3SVC1\\ex2.log"));
  EXPECT_TRUE(fs.Exists(logs + "\\W3SVC1\\old\\ex0.log"));
  EXPECT_TRUE(fs.Exists(logs + "\\W3SVC2\\ex9.log"));
  EXPECT_EQ(cleaned.filesInUse, std::vector<std::string>{logs + "\\W3SVC1\\ex2.log"});
  EXPECT_TRUE(fs.Exists("C:\\Windows\\notepad.exe"));
}

// --- Update Uninstallers

std::string Inf(std::string_view type, std::string_view fullTitle, std::string_view shortTitle) {
  return "[Version]\r\nNtServicePackVersionFullText=\"" + std::string(fullTitle) +
         "\"\r\nNtServicePackVersionText = " + std::string(shortTitle) +
         "\r\n\r\n[Configuration]\r\nUninstallationType=" + std::string(type) + "\r\n";
}

std::string Utf16File(const std::string &text) {
  const qp::Bytes wide = qp::Utf8ToRawUtf16(text);
  return "\xFF\xFE" + std::string(wide.begin(), wide.end());
}

TEST_F(CleanWindowsItems, UpdateUninstallersByTypeWithWicNeverTouched) {
  const std::string w = "C:\\Windows\\";
  fs.AddFile(w + "$NtServicePackUninstall$\\spuninst\\spuninst.inf",
             Inf("Update", "Service Pack 1", "SP1"));
  fs.AddFile(w + "$NtServicePackUninstall$\\old.dll", "123456");
  fs.AddFile(w + "$NtUninstallKB1$\\spuninst\\spuninst.inf",
             Utf16File(Inf("hotfix", "Hotfix for Windows (KB1)", "KB1")));
  fs.AddFile(w + "$NtUninstallKB1$\\a.dll", "1234");
  fs.AddFile(w + "KB1.log", "log");
  fs.AddFile(w + "$NtUninstallWIC$\\spuninst\\spuninst.inf", Inf("HOTFIX", "WIC", "WIC"));
  fs.AddFile(w + "WIC.log", "log");
  fs.AddFile(w + "$NtUninstallKB2$\\spuninst\\spuninst.inf", Inf("Update", "Not a hotfix", "KB2"));

  const TCategoryResult analysed = Run(CleanHotFixes, ccHotFixes, smReport).categories[ccHotFixes];
  ASSERT_EQ(Names(analysed.items),
            (std::vector<std::string>{"Service Pack 1", "Hotfix for Windows (KB1)"}));
  const std::size_t spInf =
      fs.Content(w + "$NtServicePackUninstall$\\spuninst\\spuninst.inf")->size();
  EXPECT_EQ(analysed.items[0].Size, static_cast<std::int64_t>(6 + spInf));

  Run(CleanHotFixes, ccHotFixes, smClean);
  EXPECT_FALSE(fs.Exists(w + "$NtServicePackUninstall$"));
  EXPECT_FALSE(fs.Exists(w + "$NtUninstallKB1$"));
  EXPECT_FALSE(fs.Exists(w + "KB1.log"));
  EXPECT_TRUE(fs.Exists(w + "$NtUninstallWIC$\\spuninst\\spuninst.inf"));
  EXPECT_TRUE(fs.Exists(w + "WIC.log"));
  EXPECT_TRUE(fs.Exists(w + "$NtUninstallKB2$"));
}

TEST_F(CleanWindowsItems, HostileShortTitleDeletesNothingOutsideItsFolder) {
  const std::string w = "C:\\Windows\\";
  fs.AddFile("C:\\x.log", "keep");
  fs.AddFile("C:\\Users\\x.log", "keep");
  fs.AddFile(w + "$NtUninstallKB3$\\spuninst\\spuninst.inf", Inf("HOTFIX", "KB3", "..\\..\\x"));
  fs.AddFile(w + "$NtUninstallKB4$\\spuninst\\spuninst.inf", Inf("HOTFIX", "KB4", "C:\\x"));
  fs.AddFile(w + "$NtUninstallKB5$\\spuninst\\spuninst.inf", Inf("HOTFIX", "KB5", "..\\Users\\x"));
  // No ".." needed to reach a file the title should never name.
  fs.AddFile(w + "System32\\config\\SYSTEM.log", "hive log");
  fs.AddFile(w + "$NtUninstallKB6$\\spuninst\\spuninst.inf",
             Inf("HOTFIX", "KB6", "System32\\config\\SYSTEM"));
  const std::string before = FileDump("C:\\Users") + fs.Content("C:\\x.log").value_or("");
  Run(CleanHotFixes, ccHotFixes, smClean);
  EXPECT_EQ(FileDump("C:\\Users") + fs.Content("C:\\x.log").value_or(""), before);
  EXPECT_TRUE(fs.Exists("C:\\Windows\\notepad.exe"));
  EXPECT_EQ(fs.Content(w + "System32\\config\\SYSTEM.log"), "hive log");
  EXPECT_FALSE(fs.Exists(w + "$NtUninstallKB3$")); // the uninstaller itself still goes
}

// --- Tray Icon History

TEST_F(CleanWindowsItems, TrayIconsRestartTheShellOnlyWhenAValueWasDeleted) {
  reg.CreateKey(View::V32, kTrayNotify);
  procs.AddProcess({0, 1, "\\Device\\HarddiskVolume1\\Windows\\explorer.exe"});
  procs.SetOnStart([](std::string_view) -> std::optional<qp::ProcessEntry> {
    return qp::ProcessEntry{0, 1, "\\Device\\HarddiskVolume1\\Windows\\EXPLORER.EXE"};
  });
  TPassResult cleaned = Run(CleanTrayIconHistory, ccTrayIconHistory, smClean);
  EXPECT_FALSE(cleaned.explorerRestartFailed);
  EXPECT_TRUE(procs.CloseCalls().empty());
  EXPECT_EQ(cleaned.categories[ccTrayIconHistory].outcome, coDone);

  const std::string local =
      "HKCU\\Software\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\CurrentVersion\\"
      "TrayNotify";
  reg.SetRaw(View::V32, local, "PastIconsStream", wc::RegBinary, {1, 2});
  const TPassResult analysed = Run(CleanTrayIconHistory, ccTrayIconHistory, smReport);
  EXPECT_EQ(Names(analysed.categories[ccTrayIconHistory].items),
            std::vector<std::string>{local + ", PastIconsStream"});
  EXPECT_TRUE(procs.CloseCalls().empty());

  cleaned = Run(CleanTrayIconHistory, ccTrayIconHistory, smClean);
  EXPECT_FALSE(reg.ValueExists(View::V32, local, "PastIconsStream"));
  EXPECT_EQ(procs.CloseCalls().size(), 1u);
  EXPECT_FALSE(cleaned.explorerRestartFailed);

  // No shell of this session to restart: the failure is reported.
  reg.SetRaw(View::V32, kTrayNotify, "IconStreams", wc::RegBinary, {1});
  for (const qp::ProcessEntry &running : procs.Running())
    ASSERT_EQ(procs.CloseProcess(running.id, 0), qp::cpEnded);
  procs.SetStartFails(true);
  cleaned = Run(CleanTrayIconHistory, ccTrayIconHistory, smClean);
  EXPECT_FALSE(reg.ValueExists(View::V32, kTrayNotify, "IconStreams"));
  EXPECT_TRUE(cleaned.explorerRestartFailed);
}

// --- a whole analysis

class ThreadedCleanAnalysis : public test::CleanItemsTest {};

TEST_F(ThreadedCleanAnalysis, AnalysisOfEveryCategoryChangesNothing) {
  // Something for each Windows and Internet Explorer category.
  reg.SetString(View::V32, kRunMru, "a", "cmd\\1");
  reg.SetString(View::V32, kRunMru, "MRUList", "a");
  reg.SetString(View::V32, std::string(kExplorerKey) + "\\Map Network Drive MRU", "a", "\\\\s\\x");
  reg.SetString(View::V32, kComDlg + "\\OpenSaveMRU\\txt", "MRUList", "");
  reg.SetString(View::V32, std::string(kExplorerKey) + "\\MenuOrder\\Start Menu2\\x", "Order", "1");
  reg.CreateKey(View::V32, std::string(kExplorerKey) + "\\MenuOrder\\Favorites\\Links");
  reg.SetRaw(View::V32, std::string(kExplorerKey) + "\\UserAssist\\{G}\\Count", "v", wc::RegBinary,
             {1});
  reg.SetRaw(View::V32, kRecentDocs, "MRUListEx", wc::RegBinary, Dwords({-1}));
  reg.SetRaw(View::V32, kComDlg + "\\LastVisitedPidlMRU", "MRUListEx", wc::RegBinary,
             Dwords({0, -1}));
  reg.SetRaw(View::V32, kComDlg + "\\LastVisitedPidlMRU", "0", wc::RegBinary, {1});
  reg.SetString(View::V32, "HKCU\\Software\\Microsoft\\Search Assistant\\ACMru\\5603", "000", "q");
  reg.SetRaw(View::V32, kTrayNotify, "IconStreams", wc::RegBinary, {1});
  reg.SetString(View::V32, "HKCU\\Software\\Microsoft\\Internet Explorer\\TypedURLs", "url1",
                "http://example.com/");
  reg.SetRaw(View::V32, "HKCU\\Software\\Microsoft\\Internet Explorer\\IntelliForms\\Storage2", "x",
             wc::RegBinary, {1});
  fs.AddFile(kRecent + "\\a.lnk", "a");
  fs.AddFile(kTemp + "\\sub\\t.tmp", "t");
  fs.AddFile(kTemp + "\\direct.tmp", "d", wc::FileAttributeReadOnly);
  fs.AddLink(kTemp + "\\outside", "C:\\Data");
  fs.AddFile("C:\\Data\\keep.txt", "k");
  fs.AddFile("C:\\Windows\\$NtUninstallKB1$\\spuninst\\spuninst.inf", Inf("HOTFIX", "KB1", "KB1"));
  fs.AddFile("C:\\Windows\\KB1.log", "log");
  desk.SetIisSites("W3SVC", {{"1", "IIsWebServer", "C:\\inetpub\\logs"}});
  fs.AddFile("C:\\inetpub\\logs\\W3SVC1\\ex.log", "e");
  desk.SetClipboard({{1, "", 5}});
  const std::string cache =
      "C:\\Users\\user\\AppData\\Local\\Microsoft\\Windows\\Temporary Internet Files";
  desk.SetCacheContainer(qp::kCacheContainerContent, cache + "\\Content.IE5");
  fs.AddFile(cache + "\\Content.IE5\\AB12\\page.htm", "p");
  fs.AddFile(cache + "\\Content.IE5\\index.dat", "i");
  fs.SetInUse(cache + "\\Content.IE5\\index.dat", true);
  const std::string cookies = "C:\\Users\\user\\AppData\\Roaming\\Microsoft\\Windows\\Cookies";
  desk.SetCacheContainer(qp::kCacheContainerCookies, cookies);
  fs.AddFile(cookies + "\\user@example[1].txt", "id\n1\nexample.com/\n");
  desk.AddUrlCacheEntry(
      {"Cookie:user@example.com/", cookies + "\\user@example[1].txt", qp::kCookieCacheEntry, 20});
  desk.AddUrlCacheEntry({"Visited: user@http://example.com/", "", qp::kUrlHistoryCacheEntry, 0});
  procs.AddProcess({0, 1, "\\Device\\HarddiskVolume1\\Windows\\explorer.exe"});
  fs.AddFile("C:\\Users\\user\\AppData\\Local\\Google\\Chrome\\User "
             "Data\\Default\\Cache\\Cache_Data\\f_000001",
             "cached");

  const std::string before = MachineDump();
  const std::size_t cacheEntries = desk.UrlCacheEntries().size();

  TSysCleaner cleaner(mainThread);
  const auto pass = [&](TScanMode mode) {
    ASSERT_TRUE(cleaner.Start(mode));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (cleaner.Running() && std::chrono::steady_clock::now() < deadline)
      mainThread.PumpWait(1ms);
    ASSERT_FALSE(cleaner.Running());
  };
  pass(smReport);

  EXPECT_NE(before.find("direct.tmp"), std::string::npos);
  EXPECT_EQ(MachineDump(), before);
  EXPECT_EQ(desk.UrlCacheEntries().size(), cacheEntries);
  EXPECT_EQ(desk.Clipboard().size(), 1u);
  EXPECT_EQ(desk.ClipboardEmpties(), 0);
  EXPECT_EQ(desk.UrlHistoryClears(), 0);
  EXPECT_EQ(desk.Broadcasts(), 0);
  EXPECT_TRUE(procs.CloseCalls().empty());
  EXPECT_TRUE(procs.StartedCommandLines().empty());

  // It did look at every one of them.
  const TPassResult &result = cleaner.LastAnalysis();
  EXPECT_EQ(result.end, peComplete);
  for (std::size_t c = 0; c <= ccIEFavoritesMenuOrderHistory; ++c) {
    EXPECT_EQ(result.categories[c].outcome, coDone) << GetCategoryCaption(TCleanCategory(c));
  }
  EXPECT_EQ(result.categories[ccGCCache].outcome, coDone);
  EXPECT_EQ(result.categories[ccGCCache].items.size(), 1u);

  // A clean removes what the analysis listed: a second analysis lists
  // nothing more, and keeps what is in use.
  pass(smClean);
  EXPECT_EQ(desk.Broadcasts(), 1); // after the UserAssist key went
  EXPECT_EQ(fs.Content("C:\\Data\\keep.txt"), "k");
  pass(smReport);
  for (std::size_t c = 0; c < kCleanCategoryCount; ++c)
    EXPECT_EQ(cleaner.ItemCount(TCleanCategory(c)), 0u) << GetCategoryCaption(TCleanCategory(c));
  EXPECT_EQ(cleaner.LastAnalysis().categories[ccIECache].kept.size(), 1u);
}

} // namespace
} // namespace quenlo
