// Path extraction, file checks and the shared system helpers, on the
// in-memory platform.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "paths/uPaths.h"
#include "paths/uSysUtils.h"
#include "platform/Utf.h"
#include "platform/memory/MemoryPlatform.h"
#include "registry/uRegAccess.h"

using namespace quenlo;
using qp::mem::MemoryPlatform;
using qp::mem::View;

namespace {

constexpr const char *kSharedDlls =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

class PathsFixture : public ::testing::Test {
protected:
  void SetUp() override {
    plat_.Install();
    auto &sys = plat_.Sys();
    sys.SetSystemDirectory("C:\\Windows\\system32");
    sys.SetWindowsDirectory("C:\\Windows");
    sys.SetEnvironmentVariable("SystemRoot", "C:\\Windows");
    sys.SetEnvironmentVariable("PATH", "C:\\Windows\\system32;C:\\Windows;C:\\Tools");
    sys.SetEnvironmentVariable("ProgramFiles", "C:\\Program Files");
    sys.SetEnvironmentVariable("ProgramFiles(x86)", "C:\\Program Files (x86)");
    sys.SetEnvironmentVariable("ProgramW6432", "C:\\Program Files");
    sys.SetEnvironmentVariable("CommonProgramFiles", "C:\\Program Files\\Common Files");
    sys.SetEnvironmentVariable("CommonProgramFiles(x86)", "C:\\Program Files (x86)\\Common Files");
    sys.SetEnvironmentVariable("CommonProgramW6432", "C:\\Program Files\\Common Files");
    plat_.Fs().AddDir("C:\\Windows\\System32");
    plat_.Fs().AddDir("C:\\Windows\\SysWOW64");
    plat_.Fs().AddDir("C:\\Tools");
    Reinit();
  }
  void TearDown() override { ResetSearchDirsForTests(); }

  // After changing process facts: recompute the layer's flags and forget
  // the search folders.
  void Reinit() {
    InitRegistryLayer();
    ResetSearchDirsForTests();
  }

  MemoryPlatform plat_;
};

using PathsText = PathsFixture;
using PathsSys = PathsFixture;
using PathsProbe = PathsFixture;
using PathsResolve = PathsFixture;
using PathsCommand = PathsFixture;
using PathsEnv = PathsFixture;
using PathsRedirection = PathsFixture;
using PathsSearchDirs = PathsFixture;
using ThreadedPathsSearchDirs = PathsFixture;

std::string Probed(std::string path, int expected) {
  EXPECT_EQ(ProbePath(path), expected) << path;
  return path;
}

} // namespace

TEST_F(PathsText, FindCharQuotesAndIconLocations) {
  EXPECT_EQ(FindCharFrom(1, "ab,c", ",;"), 3u);
  EXPECT_EQ(FindCharFrom(0, "ab,c", ",;"), 3u);
  EXPECT_EQ(FindCharFrom(4, "ab,c", ",;"), 0u);
  EXPECT_EQ(FindCharFrom(9, "ab,c", ",;"), 0u);

  EXPECT_EQ(StripQuotes("\"a b\""), "a b");
  EXPECT_EQ(StripQuotes("\""), "\"");
  EXPECT_EQ(StripQuotes("\"a"), "\"a");

  auto loc = SplitIconLocation("\"C:\\Dir\\x.dll\",1");
  EXPECT_EQ(loc.path, "C:\\Dir\\x.dll");
  EXPECT_EQ(loc.index, "1");
  loc = SplitIconLocation(" C:\\a,b\\x.dll , -2 ");
  EXPECT_EQ(loc.path, "C:\\a,b\\x.dll");
  EXPECT_EQ(loc.index, "-2");
  loc = SplitIconLocation("C:\\x.dll,");
  EXPECT_EQ(loc.path, "C:\\x.dll");
  EXPECT_EQ(loc.index, "");
  loc = SplitIconLocation(" \"C:\\x.dll\" ");
  EXPECT_EQ(loc.path, " \"C:\\x.dll\" "); // without a comma: kept as written
  EXPECT_EQ(loc.index, "");
}

TEST_F(PathsText, SplitQuotedList) {
  EXPECT_EQ(SplitQuotedList("a;\"b;c\";;d", 12),
            (std::vector<std::string>{"a", "\"b;c\"", "", "d"}));
  EXPECT_EQ(SplitQuotedList("a;"), (std::vector<std::string>{"a"}));
  EXPECT_EQ(SplitQuotedList("a;;"), (std::vector<std::string>{"a", ""}));
  EXPECT_EQ(SplitQuotedList(std::string("a\0x;b\0", 6), 7), (std::vector<std::string>{"a", "b"}));
  // The length limits the text; it never reads past it.
  EXPECT_EQ(SplitQuotedList("a;b;c", 4), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(SplitQuotedList("abc", 0).empty());
  EXPECT_TRUE(SplitQuotedList("").empty());
}

TEST_F(PathsText, TokensAndNumbers) {
  const std::string stats = "12,3;0,0;7,-1";
  std::size_t pos = 0;
  std::vector<std::int64_t> got;
  while (pos < stats.size()) {
    std::string pair = NextToken(stats, pos, ';');
    std::size_t p = 0;
    got.push_back(NextIntToken(pair, p, ','));
    got.push_back(NextIntToken(pair, p, ','));
  }
  EXPECT_EQ(got, (std::vector<std::int64_t>{12, 3, 0, 0, 7, -1}));

  pos = 0;
  EXPECT_EQ(NextToken("   ab  cd", pos, ' '), "ab");
  EXPECT_EQ(NextToken("   ab  cd", pos, ' '), "cd");
  EXPECT_EQ(pos, 9u);
  EXPECT_EQ(NextToken("   ab  cd", pos, ' '), "");

  pos = 0;
  EXPECT_EQ(NextIntToken("1234567890123,x", pos, ','), 123456789012); // first 12 characters
  EXPECT_EQ(NextIntToken("1234567890123,x", pos, ','), 0);            // not a number

  std::string utf8;
  EXPECT_TRUE(WideToUtf8(u"C:\\Caf\u00e9", utf8));
  EXPECT_EQ(utf8, "C:\\Caf\xc3\xa9");
  EXPECT_FALSE(WideToUtf8(u"", utf8));
}

TEST_F(PathsText, ExtractCommandFile) {
  EXPECT_EQ(ExtractCommandFile("\"C:\\Program Files\\A\\a.exe\" -x"),
            "C:\\Program Files\\A\\a.exe");
  EXPECT_EQ(ExtractCommandFile("\"%1\""), "%1");
  EXPECT_EQ(ExtractCommandFile("rundll32 shell32.dll,Control_RunDLL"), "rundll32");
  EXPECT_EQ(ExtractCommandFile("C:\\App\\x.exe/s"), "C:\\App\\x.exe");
  EXPECT_EQ(ExtractCommandFile("\"unterminated"), "");
  EXPECT_EQ(ExtractCommandFile(""), "");
}

TEST_F(PathsSys, FormatByteSizeThresholds) {
  EXPECT_EQ(FormatByteSize(0), "0 B");
  EXPECT_EQ(FormatByteSize(1024), "1024 B");
  EXPECT_EQ(FormatByteSize(1025), "1 KB");
  EXPECT_EQ(FormatByteSize(1048576), "1024 KB");
  EXPECT_EQ(FormatByteSize(1048577), "1.00 MB");
  EXPECT_EQ(FormatByteSize(1073741824), "1,024.00 MB");
  EXPECT_EQ(FormatByteSize(1073741825), "1.00 GB");
  EXPECT_EQ(FormatByteSize(5497558138880LL), "5,120.00 GB");
}

TEST_F(PathsSys, DevicePathToDosPath) {
  plat_.Sys().SetDosDevice('C', "\\Device\\HarddiskVolume1");
  plat_.Sys().SetDosDevice('D', "\\Device\\HarddiskVolume10");
  EXPECT_EQ(DevicePathToDosPath("\\Device\\HarddiskVolume10\\WINDOWS\\config\\SAM"),
            "D:\\WINDOWS\\config\\SAM");
  EXPECT_EQ(DevicePathToDosPath("\\device\\harddiskvolume1\\x"), "C:\\x");
  EXPECT_EQ(DevicePathToDosPath("\\Device\\Other\\x"), "\\Device\\Other\\x");
}

TEST_F(PathsSys, ShellFileOperations) {
  auto &fs = plat_.Fs();
  fs.AddFile("C:\\Junk\\a.txt");
  fs.AddFile("C:\\Junk\\sub\\b.txt");
  EXPECT_TRUE(ShellDeleteFile("C:\\Junk\\", false));
  EXPECT_FALSE(fs.Exists("C:\\Junk"));
  EXPECT_FALSE(ShellDeleteFile("C:\\Junk", false)); // already gone
  EXPECT_FALSE(ShellDeleteFile("C:\\", false));     // never a whole drive
  EXPECT_TRUE(fs.Exists("C:\\Windows"));

  fs.AddFile("C:\\r.txt");
  EXPECT_TRUE(ShellDeleteFile("C:\\r.txt", true));
  EXPECT_EQ(fs.Recycled(), (std::vector<std::string>{"C:\\r.txt"}));

  fs.AddFile("C:\\c.txt", "data");
  EXPECT_TRUE(ShellCopyFile("C:\\c.txt", "C:\\d.txt"));
  EXPECT_TRUE(ShellRenameFile("C:\\d.txt", "C:\\e.txt"));
  EXPECT_EQ(fs.Content("C:\\e.txt"), "data");
  EXPECT_FALSE(fs.Exists("C:\\d.txt"));

  plat_.Sys().SetPrivilegeResult(wc::ErrorNotAllAssigned);
  EXPECT_FALSE(SetPrivilege("SeShutdownPrivilege", true));
  EXPECT_FALSE(RestartWindows());
  plat_.Sys().SetPrivilegeResult(0);
  EXPECT_TRUE(SetPrivilege("SeBackupPrivilege", true));

  std::string sid;
  plat_.Sys().SetUserSid(std::nullopt);
  EXPECT_FALSE(GetUserSidText(sid));
  plat_.Sys().SetUserSid("S-1-5-21-1-2-3-1000");
  EXPECT_TRUE(GetUserSidText(sid));
  EXPECT_EQ(sid, "S-1-5-21-1-2-3-1000");
}

TEST_F(PathsProbe, SeparatorWalk) {
  auto &fs = plat_.Fs();
  fs.AddFile("C:\\Program Files\\App\\app.exe");
  fs.AddDir("C:\\Data\\sub");

  const auto before = fs.AttributeQueries();
  EXPECT_EQ(Probed("C:\\Program Files\\App\\app.exe /s", kProbeFile),
            "C:\\Program Files\\App\\app.exe");
  // Whole text, then C:, C:\Program, C:\Program Files, ...\App, ...\app.exe.
  EXPECT_LE(fs.AttributeQueries() - before, 6u);

  EXPECT_EQ(Probed("C:\\Program Files\\App\\app.exe -x", kProbeFile),
            "C:\\Program Files\\App\\app.exe");
  EXPECT_EQ(Probed("xyz C:\\Program Files\\App\\app.exe,0", kProbeFile),
            "C:\\Program Files\\App\\app.exe");
  EXPECT_EQ(Probed("C:\\Program Files\\App\\app.exe|tail", kProbeFile),
            "C:\\Program Files\\App\\app.exe");

  // Folders count only at the end of the text or before a blank or comma.
  EXPECT_EQ(Probed("C:\\Data\\", kProbeFolder), "C:\\Data\\");
  EXPECT_EQ(Probed("C:\\Data, 3", kProbeFolder), "C:\\Data");
  EXPECT_EQ(Probed("C:\\Data\\ /x", kProbeFolder), "C:\\Data");
  Probed("C:\\Data\\missing.exe", kProbeNone);
  Probed("C:\\Program Files\\App\\gone.exe /s", kProbeNone);
  Probed("no drive here", kProbeNone);
  Probed("", kProbeNone);
  Probed(":\\x", kProbeNone);

  EXPECT_FALSE(ProbeFile("C:\\Data\\"));
  EXPECT_TRUE(ProbeFileOrFolder("C:\\Data\\"));
  EXPECT_TRUE(ProbeFile("\"C:\\Program Files\\App\\app.exe\" /s"));
}

TEST_F(PathsProbe, OnlyFixedDrivesCount) {
  auto &fs = plat_.Fs();
  fs.SetDrive('D', wc::DriveCdrom);
  fs.SetDrive('E', wc::DriveRemovable);
  fs.AddFile("D:\\x.exe");
  fs.AddFile("E:\\y.exe");
  std::string d = "D:\\x.exe";
  EXPECT_EQ(ProbePath(d), kProbeNone);
  EXPECT_FALSE(ProbeFile("D:\\x.exe"));
  EXPECT_FALSE(FileReferenceExists("D:\\x.exe"));
  EXPECT_FALSE(ProbeFile("run E:\\y.exe now"));
  EXPECT_FALSE(FileReferenceExists("\\\\server\\share\\x.exe"));
  // The first drive named in the text decides.
  fs.AddFile("C:\\z.exe");
  EXPECT_TRUE(ProbeFile("run C:\\z.exe now"));
  EXPECT_FALSE(ProbeFile("D:\\setup.exe C:\\z.exe"));
}

TEST_F(PathsResolve, BareNamesFollowTheSearchOrder) {
  auto &fs = plat_.Fs();
  fs.AddFile("C:\\Windows\\pad.exe");
  EXPECT_EQ(qp::LowerAscii(ResolveFilePath("pad.exe")), "c:\\windows\\pad.exe");
  fs.AddFile("C:\\Windows\\System32\\pad.exe");
  EXPECT_EQ(qp::LowerAscii(ResolveFilePath("pad.exe /p x.txt")), "c:\\windows\\system32\\pad.exe");
  fs.AddFile("C:\\Tools\\tool.exe");
  EXPECT_EQ(ResolveFilePath("tool.exe"), "C:\\Tools\\tool.exe");
  fs.AddFile("C:\\rootfile.exe");
  EXPECT_EQ(qp::LowerAscii(ResolveFilePath("rootfile.exe")), "c:\\rootfile.exe");

  // A full path is not searched for elsewhere.
  EXPECT_EQ(ResolveFilePath("C:\\Nowhere\\pad.exe"), "");
  EXPECT_EQ(ResolveFilePath("nosuch.exe"), "");
  EXPECT_EQ(ResolveFilePath(""), "");

  // Environment variables and a leading quote.
  EXPECT_EQ(qp::LowerAscii(ResolveFilePath("%SystemRoot%\\pad.exe")), "c:\\windows\\pad.exe");
  fs.AddFile("C:\\Dir\\x.dll");
  EXPECT_EQ(ResolveFilePath("\"C:\\Dir\\x.dll\",1"), "C:\\Dir\\x.dll");
  EXPECT_TRUE(FileReferenceExists(ExtractIconFile("\"C:\\Dir\\x.dll\",1")));
}

TEST_F(PathsResolve, SharedDllsAreTheLastResort) {
  auto &fs = plat_.Fs();
  auto &reg = plat_.Reg();
  fs.AddFile("C:\\Shared\\Lib\\shared.dll");
  fs.AddFile("C:\\Other\\only64.dll");
  reg.SetDword(View::V32, kSharedDlls, "C:\\Gone\\shared.dll", 1);
  reg.SetDword(View::V32, kSharedDlls, "C:\\Shared\\Lib\\Shared.dll", 1);
  reg.SetDword(View::V64, kSharedDlls, "C:\\Other\\only64.dll", 1);

  EXPECT_EQ(ResolveFilePath("SHARED.DLL"), "C:\\Shared\\Lib\\Shared.dll");
  // The list is read in the 32-bit view only.
  EXPECT_EQ(ResolveFilePath("only64.dll"), "");

  // A search folder still comes first.
  fs.AddFile("C:\\Windows\\shared.dll");
  EXPECT_EQ(qp::LowerAscii(ResolveFilePath("shared.dll")), "c:\\windows\\shared.dll");

  // A key that cannot be opened skips the step.
  fs.Remove("C:\\Windows\\shared.dll");
  reg.SetDenyAccess(View::V32, kSharedDlls, true);
  EXPECT_EQ(ResolveFilePath("shared.dll"), "");
}

TEST_F(PathsCommand, CommandTargetExists) {
  auto &fs = plat_.Fs();
  for (const char *f :
       {"C:\\Windows\\explorer.exe", "C:\\Windows\\SysWOW64\\explorer.exe",
        "C:\\Windows\\System32\\rundll32.exe", "C:\\Windows\\SysWOW64\\rundll32.exe"})
    fs.Remove(f);
  EXPECT_TRUE(CommandTargetExists("rundll32 shell32.dll,Control_RunDLL"));
  EXPECT_TRUE(CommandTargetExists("\"%1\""));
  EXPECT_TRUE(CommandTargetExists("Explorer /e"));
  EXPECT_TRUE(CommandTargetExists("svchost -k netsvcs"));
  EXPECT_TRUE(CommandTargetExists(""));
  EXPECT_FALSE(CommandTargetExists("explorer.exe /e")); // searched like any file
  EXPECT_FALSE(CommandTargetExists("rundll32.exe x.dll,Entry"));

  EXPECT_FALSE(CommandTargetExists("foo /x"));
  fs.AddFile("C:\\Tools\\foo.bat");
  EXPECT_TRUE(CommandTargetExists("foo /x"));
  fs.Remove("C:\\Tools\\foo.bat");
  fs.AddFile("C:\\Tools\\foo");
  EXPECT_TRUE(CommandTargetExists("foo /x"));

  fs.AddFile("C:\\Program Files\\App\\app.exe");
  EXPECT_TRUE(CommandTargetExists("C:\\Program Files\\App\\app.exe -x"));
  EXPECT_TRUE(CommandTargetExists("\"C:\\Program Files\\App\\app.exe\" \"%1\""));
  EXPECT_FALSE(CommandTargetExists("\"C:\\Program Files\\App\\gone.exe\" \"%1\""));
}

TEST_F(PathsEnv, ExpandIn64BitProcess) {
  EXPECT_EQ(ExpandEnvPath(""), "");
  EXPECT_EQ(ExpandEnvPath("C:\\plain"), "C:\\plain");
  // Reasoned as a 32-bit process: the usual names give the x86 folders.
  EXPECT_EQ(ExpandEnvPath("%ProgramFiles%\\x"), "C:\\Program Files (x86)\\x");
  EXPECT_EQ(ExpandEnvPath("%COMMONPROGRAMFILES%\\y"), "C:\\Program Files (x86)\\Common Files\\y");
  EXPECT_EQ(ExpandEnvPath("%ProgramFiles(x86)%\\x"), "C:\\Program Files (x86)\\x");
  EXPECT_EQ(ExpandEnvPath("%ProgramFiles%\\x", true), "C:\\Program Files\\x");
  EXPECT_EQ(ExpandEnvPath("%commonprogramfiles%\\y", true), "C:\\Program Files\\Common Files\\y");
  EXPECT_EQ(ExpandEnvPath("%NoSuchVariable%\\z"), "%NoSuchVariable%\\z");
}

TEST_F(PathsEnv, ExpandIn32BitProcessOnWow64) {
  auto &sys = plat_.Sys();
  sys.SetProcessIs64Bit(false);
  sys.SetWow64Process(true);
  sys.SetEnvironmentVariable("ProgramFiles", "C:\\Program Files (x86)");
  sys.SetEnvironmentVariable("CommonProgramFiles", "C:\\Program Files (x86)\\Common Files");
  Reinit();
  EXPECT_EQ(ExpandEnvPath("%ProgramFiles%\\x"), "C:\\Program Files (x86)\\x");
  EXPECT_EQ(ExpandEnvPath("%ProgramFiles%\\x", true), "C:\\Program Files\\x");
  EXPECT_EQ(ExpandEnvPath("%CommonProgramFiles%\\y", true), "C:\\Program Files\\Common Files\\y");

  plat_.Fs().AddFile("C:\\Program Files\\App64\\a.exe");
  EXPECT_TRUE(ProbeFile(ExpandEnvPath("%ProgramFiles%\\App64\\a.exe", true)));
  EXPECT_FALSE(ProbeFile(ExpandEnvPath("%ProgramFiles%\\App64\\a.exe")));
}

TEST_F(PathsEnv, ExpandOn32BitWindows) {
  auto &sys = plat_.Sys();
  sys.SetOs64Bit(false);
  sys.SetProcessIs64Bit(false);
  sys.SetWow64Process(false);
  Reinit();
  EXPECT_FALSE(ProcessOnWow64);
  EXPECT_EQ(ExpandEnvPath("%ProgramFiles%\\x"), "C:\\Program Files\\x");
  // The 64-bit name does not exist here: it stays and names nothing.
  EXPECT_EQ(ExpandEnvPath("%ProgramFiles%\\x", true), "%ProgramW6432%\\x");
  plat_.Fs().AddFile("C:\\Program Files\\x");
  EXPECT_FALSE(ProbeFile(ExpandEnvPath("%ProgramFiles%\\x", true)));
  EXPECT_TRUE(ProbeFile(ExpandEnvPath("%ProgramFiles%\\x")));
}

TEST_F(PathsRedirection, FilesOfEitherViewAreFound) {
  plat_.Fs().AddFile("C:\\Windows\\SysWOW64\\only32.dll");
  ASSERT_TRUE(ProcessOnWow64);

  std::string path = "C:\\Windows\\System32\\only32.dll";
  EXPECT_EQ(ProbePath(path), kProbeNone);
  EXPECT_TRUE(ProbeFile("C:\\Windows\\System32\\only32.dll"));
  EXPECT_TRUE(ProbeFileOrFolder("C:\\Windows\\System32\\only32.dll"));
  // The view is switched back afterwards.
  path = "C:\\Windows\\System32\\only32.dll";
  EXPECT_EQ(ProbePath(path), kProbeNone);

  EXPECT_EQ(ResolveFilePath("only32.dll"), "");
  EXPECT_EQ(qp::LowerAscii(LocateFile("only32.dll")), "c:\\windows\\system32\\only32.dll");
  EXPECT_TRUE(CommandTargetExists("only32.dll,Entry"));
  EXPECT_EQ(ResolveFilePath("only32.dll"), "");
}

TEST_F(PathsSearchDirs, OrderAndPathEntries) {
  plat_.Sys().SetEnvironmentVariable(
      "PATH", "C:\\Windows\\System32;\"C:\\Tool Dir;2\";;C:\\Bin\\; C:\\Spaced ;C:\\Windows");
  Reinit();
  EXPECT_EQ(SearchDirs(),
            (std::vector<std::string>{"c:\\windows\\system32\\", "c:\\windows\\", "c:\\",
                                      "C:\\Tool Dir;2\\", "C:\\Bin\\", " C:\\Spaced \\"}));
  plat_.Fs().AddFile("C:\\Tool Dir;2\\t.exe");
  EXPECT_EQ(ResolveFilePath("t.exe"), "C:\\Tool Dir;2\\t.exe");
}

TEST_F(ThreadedPathsSearchDirs, BuiltOnceForAllThreads) {
  plat_.Fs().AddFile("C:\\Tools\\tool.exe");
  std::vector<std::string> found(4);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < found.size(); ++t)
    threads.emplace_back([&found, t] { found[t] = ResolveFilePath("tool.exe"); });
  for (auto &th : threads)
    th.join();
  for (const auto &f : found)
    EXPECT_EQ(f, "C:\\Tools\\tool.exe");
}
