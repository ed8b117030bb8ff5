// The settings file, the built-in ignore lists, the ignore file, the date
// stamps, the schedule, the automatic start and the first-run set-up, on the
// in-memory platform.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestPlatform.h"
#include "app/uEnvironment.h"
#include "app/uIgnoreLists.h"
#include "app/uIniFile.h"
#include "app/uSettings.h"
#include "app/uVersionInfo.h"
#include "platform/PathText.h"
#include "platform/Utf.h"
#include "platform/memory/MemoryPlatform.h"
#include "registry/uRegAccess.h"

using namespace quenlo;
using qp::mem::MemoryFileSystem;
using qp::mem::MemoryPlatform;
using qp::mem::View;

namespace {

constexpr const char *kFolder = "C:\\Users\\user\\AppData\\Local\\Brantel";
constexpr const char *kIni = "C:\\Users\\user\\AppData\\Local\\Brantel\\quenlo.ini";
constexpr const char *kIgnore = "C:\\Users\\user\\AppData\\Local\\Brantel\\ignore.txt";
constexpr const char *kExe = "C:\\Program Files\\Q & A\\quenlo.exe";
constexpr const char *kMarkerKey = "HKCU\\Software\\Brantel\\Quenlo";

std::string ReadSourceFile(const std::string &relative) {
  std::string here = __FILE__;
  std::string root = here.substr(0, here.rfind("tests/unit/"));
  std::ifstream in(root + relative, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A VS_VERSIONINFO node: header, key, value, children, 4-byte alignment.
qp::Bytes Node(std::u16string_view key, const qp::Bytes &value, std::uint16_t valueLength,
               std::uint16_t type, const std::vector<qp::Bytes> &children = {}) {
  qp::Bytes out(6, 0);
  auto pad = [&out] {
    while (out.size() % 4 != 0)
      out.push_back(0);
  };
  for (char16_t c : key) {
    out.push_back(static_cast<std::uint8_t>(c & 0xFF));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  pad();
  out.insert(out.end(), value.begin(), value.end());
  for (const qp::Bytes &child : children) {
    pad();
    out.insert(out.end(), child.begin(), child.end());
  }
  out[0] = static_cast<std::uint8_t>(out.size() & 0xFF);
  out[1] = static_cast<std::uint8_t>(out.size() >> 8);
  out[2] = static_cast<std::uint8_t>(valueLength & 0xFF);
  out[3] = static_cast<std::uint8_t>(valueLength >> 8);
  out[4] = static_cast<std::uint8_t>(type);
  return out;
}

qp::Bytes Text16(std::string_view text) {
  qp::Bytes raw = qp::Utf8ToRawUtf16(text);
  raw.push_back(0);
  raw.push_back(0);
  return raw;
}

qp::Bytes VersionBlob(std::string_view fileVersion) {
  qp::Bytes fixed(52, 0);
  auto put = [&fixed](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
      fixed[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  put(0, 0xFEEF04BDu);
  put(4, 0x00010000u);
  put(8, (2u << 16) | 5u);  // 2.5
  put(12, (7u << 16) | 9u); // .7.9
  qp::Bytes fv = Text16(fileVersion);
  auto str = Node(u"FileVersion", fv, static_cast<std::uint16_t>(fv.size() / 2), 1);
  auto other = Node(u"ProductName", Text16("Quenlo"), 7, 1);
  auto table = Node(u"040904B0", {}, 0, 1, {other, str});
  auto wrongTable = Node(u"04070000", {}, 0, 1, {Node(u"FileVersion", Text16("9.9"), 4, 1)});
  auto stringInfo = Node(u"StringFileInfo", {}, 0, 1, {wrongTable, table});
  auto translation = Node(u"Translation", {0x09, 0x04, 0xB0, 0x04}, 4, 0);
  auto varInfo = Node(u"VarFileInfo", {}, 0, 1, {translation});
  return Node(u"VS_VERSION_INFO", fixed, 52, 0, {stringInfo, varInfo});
}

class FakeHost : public IAppHost {
public:
  std::string ExePath() override { return exe; }
  qp::Bytes VersionResource() override { return version; }
  bool CreateShellLink(std::string_view linkFile, std::string_view target,
                       std::string_view arguments, std::string_view description) override {
    links.push_back(std::string(linkFile) + "|" + std::string(target) + "|" +
                    std::string(arguments) + "|" + std::string(description));
    if (!linkWorks)
      return false;
    return qp::Platform().Files().WriteFile(linkFile, "LNK") == 0;
  }
  TLocalTime Now() override { return now; }

  std::string exe = kExe;
  qp::Bytes version = VersionBlob("1.2.3.4");
  std::vector<std::string> links;
  bool linkWorks = true;
  TLocalTime now{2024, 3, 10, 14, 30, 0};
};

class SettingsFixture : public ::testing::Test {
protected:
  void SetUp() override {
    plat_.Install();
    SetAppHost(&host_);
    plat_.Fs().AddDir("C:\\Users\\user\\AppData\\Local");
    plat_.Fs().AddDir("C:\\Program Files\\Q & A");
    Reinit();
  }
  void TearDown() override { SetAppHost(nullptr); }
  void Reinit() {
    InitRegistryLayer();
    InitEnvironment();
  }
  MemoryFileSystem &fs() { return plat_.Fs(); }
  std::string File(const char *path) { return fs().Content(path).value_or("<missing>"); }
  void Write(const char *path, std::string_view text) { fs().AddFile(path, text); }

  MemoryPlatform plat_;
  FakeHost host_;
};

using SettingsLists = SettingsFixture;
using SettingsIni = ::testing::Test;
using SettingsFile = SettingsFixture;
using SettingsStamps = SettingsFixture;
using SettingsSchedule = SettingsFixture;
using SettingsIgnoreFile = SettingsFixture;
using SettingsAutoStart = SettingsFixture;
using SettingsFirstRun = SettingsFixture;
using SettingsEnvironment = SettingsFixture;

} // namespace

// --- built-in lists

TEST_F(SettingsLists, EmbeddedListsMatchTheirSourceText) {
  std::string text, error;
  ASSERT_TRUE(InflateEmbedded(DefaultSkippedKeysResource(), text, error)) << error;
  EXPECT_EQ(text, ReadSourceFile("app/data/default_skipped_keys.txt"));
  ASSERT_EQ(DefaultSkippedKeys().size(), DefaultSkippedKeyCount);
  EXPECT_EQ(DefaultSkippedKeys().front(),
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{2662BDD7-05D6-408F-B241-FF98FACE6054}");
  EXPECT_EQ(DefaultSkippedKeys()[122],
            "HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\Main:\\\\Search Bar");
  EXPECT_EQ(DefaultSkippedKeys().back(),
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows CE Services\\SpecialNames");

  std::vector<std::string> permanent(PermanentIgnoreKeys.begin(), PermanentIgnoreKeys.end());
  EXPECT_EQ(permanent, SplitLines(ReadSourceFile("app/data/permanent_ignore_keys.txt")));
  EXPECT_EQ(permanent.front(),
            "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\cmmgr32.exe");
  EXPECT_EQ(permanent[25], "HKLM\\Software\\Classes\\Folder\\Shell\\opennewwindow\\Command\\\\:");
  EXPECT_EQ(permanent.back(), "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileEx"
                              "ts\\Directory\\OpenWithList");
  for (const std::string &key : permanent)
    EXPECT_TRUE(key.starts_with("HKLM\\") || key.starts_with("HKCU\\") || key.starts_with("HKCR\\"))
        << key;
}

TEST_F(SettingsLists, DamagedResourcesAreRejected) {
  auto good = DefaultSkippedKeysResource();
  std::string text, error;
  std::vector<std::uint8_t> noMarker(good.begin() + 2, good.end());
  EXPECT_FALSE(InflateEmbedded(noMarker, text, error));
  std::vector<std::uint8_t> truncated(good.begin(), good.begin() + good.size() / 2);
  EXPECT_FALSE(InflateEmbedded(truncated, text, error));
  EXPECT_TRUE(text.empty());
  std::vector<std::uint8_t> garbage = {'Z', 'P', 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_FALSE(InflateEmbedded(garbage, text, error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(SplitLines("a\r\nb\rc\n\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
}

// --- INI text

TEST_F(SettingsIni, ReadsAnyLineEndAndKeepsEveryLine) {
  TIniFile ini;
  std::string longValue(200000, 'x');
  ini.SetText("\xEF\xBB\xBF; comment\r[Scan]\nDeepScan = 0 \r\ngarbage line\n[scan]\nDeepScan=1\n"
              "TypeLibrary=abc\nlong=" +
              longValue + "\n[other]\n=novalue\nk=v");
  EXPECT_EQ(ini.FileEncoding(), TIniFile::Encoding::Utf8Bom);
  EXPECT_EQ(ini.ReadInteger("scan", "deepscan", 7), 0); // first occurrence wins
  EXPECT_EQ(ini.ReadInteger("scan", "TypeLibrary", 7), 7);
  EXPECT_EQ(ini.ReadString("scan", "long", "").size(), longValue.size());
  EXPECT_EQ(ini.ReadString("other", "k", ""), "v");
  EXPECT_EQ(ini.Sections(), (std::vector<std::string>{"Scan", "other"}));
  EXPECT_EQ(ini.SectionKeys("SCAN"), (std::vector<std::string>{"DeepScan", "TypeLibrary", "long"}));

  ini.WriteString("scan", "DeepScan", "1");
  ini.WriteString("scan", "NewKey", "5");
  ini.WriteString("fresh", "a", "line\r\nbreak");
  const std::string text = ini.Text();
  EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(text.find("; comment\r\n[Scan]\r\nDeepScan=1\r\ngarbage line\r\nNewKey=5\r\n[scan]\r\n"
                      "DeepScan=1\r\nTypeLibrary=abc\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("=novalue\r\nk=v\r\n\r\n[fresh]\r\na=line  break\r\n"), std::string::npos);

  TIniFile again;
  again.SetText(text);
  EXPECT_EQ(again.Text(), text);
}

TEST_F(SettingsIni, ReplaceSectionKeepsPlaceAndForeignLines) {
  TIniFile ini;
  ini.SetText("[a]\nx=1\n[list]\n;note\nk1=1\nk2=1\n\n[b]\ny=2\n[list]\nk3=1\n");
  ini.ReplaceSection("list", {{"n1", "1"}, {"n2", ""}});
  EXPECT_EQ(ini.Text(), "[a]\r\nx=1\r\n[list]\r\n;note\r\nn1=1\r\nn2=\r\n\r\n[b]\r\ny=2\r\n");
  ini.EraseSection("list");
  ini.DeleteKey("a", "X");
  EXPECT_EQ(ini.Text(), "[a]\r\n[b]\r\ny=2\r\n");
  ini.ReplaceSection("new", {{"k", "v"}});
  EXPECT_EQ(ini.Text(), "[a]\r\n[b]\r\ny=2\r\n\r\n[new]\r\nk=v\r\n");
}

TEST_F(SettingsIni, Utf16FilesStayUtf16) {
  std::string content = "\xFF\xFE";
  qp::Bytes raw = qp::Utf8ToRawUtf16("[s]\r\nname=W\xC3\xBCrfel\r\n");
  content.append(raw.begin(), raw.end());
  TIniFile ini;
  ini.SetText(content);
  EXPECT_EQ(ini.ReadString("s", "name", ""), "W\xC3\xBCrfel");
  EXPECT_EQ(ini.Text(), content);
}

TEST_F(SettingsIni, NumbersParseStrictly) {
  EXPECT_EQ(ParseInt32(" 42 "), 42);
  EXPECT_EQ(ParseInt32("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseInt32("2147483647"), INT32_MAX);
  EXPECT_EQ(ParseInt32("2147483648"), std::nullopt);
  EXPECT_EQ(ParseInt32("99999999999999999999"), std::nullopt);
  EXPECT_EQ(ParseInt32("$FF"), 255);
  EXPECT_EQ(ParseInt32("0x10"), 16);
  EXPECT_EQ(ParseInt32("0xFFFFFFFF"), -1);
  EXPECT_EQ(ParseInt32("12abc"), std::nullopt);
  EXPECT_EQ(ParseInt32(""), std::nullopt);
  EXPECT_EQ(ParseInt32("-"), std::nullopt);
}

// --- the settings file

TEST_F(SettingsFile, NoFileGivesDefaultsAndTheFirstSaveWritesThem) {
  const tProgramSettings &s = Settings();
  EXPECT_TRUE(s.FirstTimeScan);
  EXPECT_FALSE(s.CleanAfterScan);
  for (bool on : s.ScanCategories)
    EXPECT_TRUE(on);
  EXPECT_EQ(s.AutoAction, 1);
  EXPECT_EQ(s.UpdateFreq, 1);
  EXPECT_EQ(s.MonitorPrompt, 300);
  EXPECT_TRUE(s.BackupBeforeScan);
  EXPECT_TRUE(s.FullBackupOnlyOnceWeek);
  EXPECT_EQ(s.Clean.Get("TrayIconHistory"), false);
  EXPECT_EQ(s.Clean.Get("TempFiles"), true);
  EXPECT_EQ(s.Clean.Get("ASPassword"), false);
  ASSERT_EQ(s.SkippedKeys.size(), 161u);
  EXPECT_EQ(s.SkippedKeys[0], DefaultSkippedKeys()[0] + "=1");
  ASSERT_EQ(s.MonitoredKeys.size(), 32u);
  EXPECT_EQ(s.MonitoredKeys[31],
            "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache");

  std::string error;
  ASSERT_TRUE(SaveSettings(&error)) << error;
  const std::string text = File(kIni);
  EXPECT_EQ(text.find("\n"), text.find("\r\n") + 1); // CRLF line ends
  EXPECT_LT(text.find("[scan]"), text.find("[settings]"));
  EXPECT_LT(text.find("[settings]"), text.find("[clean]"));
  EXPECT_NE(text.find("ConfigurationCache=1\r\nFilePathReferences=1\r\n"), std::string::npos);
  EXPECT_NE(text.find("[SkippedKeys]\r\n" + DefaultSkippedKeys()[0] + "=1\r\n"), std::string::npos);
  EXPECT_NE(text.find("[MonitoredKeys]\r\n" + DefaultMonitoredKeys()[0] + "=\r\n"),
            std::string::npos);
  EXPECT_FALSE(quenlo::test::HasTemporaryFile(fs().List(qp::FolderOf(kIni))));
}

TEST_F(SettingsFile, BadInputLoadsWhatItCanAndTheSaveKeepsTheRest) {
  Write(kIni, "\xEF\xBB\xBF[settings]\r\nAutoAction=banana\r\nMonitorPrompt=99999999999\r\n"
              "UpdateFreq=5\r\nUpdateFreq=9\r\nlast_scan=202401021530999\r\n"
              "mystery=keep me\r\nthis line means nothing\r\n[settings]\r\nAutoFreq=2\r\n"
              "[Plugin]\r\nx=1\r\n[scan]\r\nDeepScan=0\r\nTypeLib");
  Reinit();
  const tProgramSettings &s = Settings();
  EXPECT_EQ(s.AutoAction, 1);
  EXPECT_EQ(s.MonitorPrompt, 300);
  EXPECT_EQ(s.UpdateFreq, 5);
  EXPECT_EQ(s.AutoFreq, 2);
  EXPECT_EQ(s.last_scan, "202401021530"); // cut to 12 characters
  EXPECT_FALSE(s.ScanCategories[3]);      // DeepScan
  EXPECT_TRUE(s.ScanCategories[1]);

  Settings().MonitorPrompt = 50;
  std::string error;
  ASSERT_TRUE(SaveSettings(&error)) << error;
  const std::string text = File(kIni);
  EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(text.find("AutoAction=1\r\nMonitorPrompt=50\r\nUpdateFreq=5\r\nUpdateFreq=9\r\n"
                      "last_scan=202401021530\r\nmystery=keep me\r\nthis line means nothing\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(
      text.find(
          "[settings]\r\nAutoFreq=2\r\n[Plugin]\r\nx=1\r\n[scan]\r\nDeepScan=0\r\nTypeLib\r\n"),
      std::string::npos);
  EXPECT_LT(text.find("[Plugin]"), text.find("[scan]"));
}

// The file lists the clean switches in another order than the cleaner
// numbers its categories (the run-menu history comes after the search
// assistant in the file, before it in the cleaner): only the key links them.
TEST_F(SettingsFile, CleanSwitchesAreFoundByTheirKey) {
  Write(kIni, "[clean]\r\nRunMenuHistory=0\r\nSearchAssistantHistory=1\r\nIECookies=1\r\n");
  Reinit();
  tProgramSettings &s = Settings();
  EXPECT_EQ(s.Clean.Get("RunMenuHistory"), false);
  EXPECT_EQ(s.Clean.Get("SearchAssistantHistory"), true);
  EXPECT_EQ(s.Clean.Get("IECookies"), true);
  EXPECT_EQ(s.Clean.Get("UserAssistHistory"), true); // default
  EXPECT_EQ(s.Clean.Get("NoSuchHistory"), std::nullopt);
  EXPECT_FALSE(s.Clean.Set("NoSuchHistory", true));

  ASSERT_TRUE(s.Clean.Set("SearchAssistantHistory", false));
  std::string error;
  ASSERT_TRUE(SaveSettings(&error)) << error;
  const std::string text = File(kIni);
  EXPECT_NE(text.find("SearchAssistantHistory=0\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("RunMenuHistory=0\r\n"), std::string::npos) << text;
}

// Deleting the downloaded files themselves is the user's call: off when
// the file does not say otherwise, and kept in the clean section.
TEST_F(SettingsFile, DeletingDownloadedFilesIsOffUntilTheFileSaysSo) {
  EXPECT_FALSE(Settings().DeleteDownloadedFiles);
  Write(kIni, "[clean]\r\nDeleteDownloadedFiles=1\r\n");
  Reinit();
  EXPECT_TRUE(Settings().DeleteDownloadedFiles);

  Settings().DeleteDownloadedFiles = false;
  std::string error;
  ASSERT_TRUE(SaveSettings(&error)) << error;
  const std::string text = File(kIni);
  EXPECT_LT(text.find("[clean]"), text.find("DeleteDownloadedFiles=0\r\n")) << text;
  Reinit();
  EXPECT_FALSE(Settings().DeleteDownloadedFiles);
}

TEST_F(SettingsFile, KeyListsFollowTheirOwnRules) {
  std::string monitored;
  for (int i = 0; i < 70; ++i)
    monitored += "HKEY_CURRENT_USER\\Software\\K" + std::to_string(i) + "=\r\n";
  Write(kIni, "[SkippedKeys]\r\nHKEY_CURRENT_USER\\A=1\r\nHKEY_CURRENT_USER\\B=\r\n"
              "HKEY_CURRENT_USER\\C=x=y\r\n[MonitoredKeys]\r\n" +
                  monitored);
  Reinit();
  EXPECT_EQ(Settings().SkippedKeys,
            (std::vector<std::string>{"HKEY_CURRENT_USER\\A=1", "HKEY_CURRENT_USER\\C=x=y"}));
  ASSERT_EQ(Settings().MonitoredKeys.size(), MaxMonitoredKeys);
  EXPECT_EQ(Settings().MonitoredKeys.back(), "HKEY_CURRENT_USER\\Software\\K63");

  // An existing but empty "MonitoredKeys" stays empty; an empty
  // "SkippedKeys" gets the defaults, which the next save writes.
  Write(kIni, "[SkippedKeys]\r\n[MonitoredKeys]\r\n");
  Reinit();
  EXPECT_TRUE(Settings().MonitoredKeys.empty());
  EXPECT_EQ(Settings().SkippedKeys.size(), 161u);
  ASSERT_TRUE(SaveSettings());
  Reinit();
  EXPECT_EQ(Settings().SkippedKeys.size(), 161u);
  EXPECT_TRUE(Settings().MonitoredKeys.empty());
  EXPECT_NE(File(kIni).find("[SkippedKeys]\r\n" + DefaultSkippedKeys()[0] + "=1"),
            std::string::npos);
}

TEST_F(SettingsFile, OlderFilesAreReadAndMigrated) {
  const char *lintary = "C:\\Users\\user\\AppData\\Local\\LintarySoftware\\quenlo.ini";
  const char *corvel = "C:\\Users\\user\\AppData\\Local\\Corvel\\quenlo.ini";
  Write(lintary, "[settings]\r\nMonitorPrompt=11\r\n");
  Reinit();
  EXPECT_EQ(Settings().MonitorPrompt, 11);
  Write(corvel, "[settings]\r\nMonitorPrompt=22\r\nold=1\r\n");
  Reinit();
  EXPECT_EQ(Settings().MonitorPrompt, 22);

  ASSERT_TRUE(SaveSettings());
  EXPECT_EQ(File(corvel), "[settings]\r\nMonitorPrompt=22\r\nold=1\r\n");
  EXPECT_NE(File(kIni).find("old=1"), std::string::npos);
  Write(corvel, "[settings]\r\nMonitorPrompt=33\r\n");
  Reinit();
  EXPECT_EQ(Settings().MonitorPrompt, 22); // the own file wins once it exists
}

TEST_F(SettingsFile, AFailedSaveLeavesTheOldFileWhole) {
  Write(kIni, "[settings]\r\nMonitorPrompt=7\r\n");
  Reinit();
  Settings().MonitorPrompt = 8;
  std::string error;
  fs().InjectFailure(MemoryFileSystem::Op::Write, "quenlo.ini", wc::ErrorDiskFull);
  EXPECT_FALSE(SaveSettings(&error));
  EXPECT_NE(error.find("quenlo.ini"), std::string::npos);
  EXPECT_NE(error.find("WriteFile: "), std::string::npos);
  EXPECT_EQ(File(kIni), "[settings]\r\nMonitorPrompt=7\r\n");

  fs().InjectFailure(MemoryFileSystem::Op::Move, "quenlo.ini", wc::ErrorAccessDenied);
  EXPECT_FALSE(SaveSettings(&error));
  EXPECT_NE(error.find("MoveFileEx: "), std::string::npos);
  EXPECT_EQ(File(kIni), "[settings]\r\nMonitorPrompt=7\r\n");
  EXPECT_FALSE(quenlo::test::HasTemporaryFile(fs().List(qp::FolderOf(kIni))));

  // A file that exists but cannot be read is not replaced by defaults.
  fs().InjectFailure(MemoryFileSystem::Op::Read, "quenlo.ini", wc::ErrorSharingViolation, 2);
  EXPECT_FALSE(LoadSettings(&error));
  EXPECT_EQ(Settings().MonitorPrompt, 300);
  EXPECT_FALSE(SaveSettings(&error));
  EXPECT_EQ(File(kIni), "[settings]\r\nMonitorPrompt=7\r\n");
  fs().ClearFailures();
  ASSERT_TRUE(SaveSettings(&error)) << error;
  EXPECT_NE(File(kIni).find("MonitorPrompt=300"), std::string::npos);
}

TEST_F(SettingsFile, SingleKeysAndScanRecordsAreReadModifyWrite) {
  Write(kIni, "[settings]\r\nlast_err=3\r\ntotal_error_found=2147483600\r\nplugin=on\r\n");
  Reinit();
  std::string value;
  EXPECT_TRUE(GetSettingText("settings", "MonitorPrompt", value));
  EXPECT_EQ(value, "300");
  EXPECT_TRUE(GetSettingText("Settings", "plugin", value));
  EXPECT_EQ(value, "on");
  EXPECT_FALSE(GetSettingText("settings", "nothing", value));

  ASSERT_TRUE(SetSettingText("settings", "MonitorPrompt", "120"));
  EXPECT_EQ(Settings().MonitorPrompt, 120);
  ASSERT_TRUE(RecordScanComplete(100, "1,0;2,1"));
  const tProgramSettings &s = Settings();
  EXPECT_EQ(s.last_scan, "202403101430");
  EXPECT_EQ(s.last_err, 100);
  EXPECT_EQ(s.last_repair, 0);
  EXPECT_EQ(s.total_error_found, INT32_MAX); // saturates instead of wrapping
  EXPECT_EQ(s.healthstatus, "1,0;2,1");
  ASSERT_TRUE(RecordRepair(4));
  EXPECT_EQ(Settings().last_repair, 4);
  EXPECT_EQ(Settings().total_error_repaired, 4);
  const std::string text = File(kIni);
  EXPECT_NE(text.find("plugin=on"), std::string::npos);
  EXPECT_NE(text.find("MonitorPrompt=120"), std::string::npos);
  EXPECT_NE(text.find("healthstatus=1,0;2,1"), std::string::npos);
}

// --- stamps

TEST_F(SettingsStamps, StampsFormatAndParse) {
  EXPECT_EQ(DateStamp({2024, 3, 5, 7, 8, 0}), "20240305");
  EXPECT_EQ(TimeStamp({2024, 3, 5, 7, 8, 0}), "202403050708");
  EXPECT_EQ(DateStamp(AddDays({2024, 2, 25, 0, 0, 0}, 7)), "20240303");
  EXPECT_EQ(DateStamp(AddDays({2023, 12, 20, 0, 0, 0}, 30)), "20240119");
  EXPECT_DOUBLE_EQ(ParseStamp("20240101"), 45292.0);
  EXPECT_DOUBLE_EQ(ParseStamp("202401011200"), 45292.5);
  EXPECT_DOUBLE_EQ(ParseStamp("18991230"), 0.0);
  EXPECT_EQ(ParseStamp(""), 0.0);
  EXPECT_EQ(ParseStamp("20241301"), 0.0);
  EXPECT_EQ(ParseStamp("2024010x"), 0.0);
  EXPECT_EQ(ParseStamp("20240230"), 0.0);
  EXPECT_EQ(FormatStamp("202401021530", true), "2024-01-02 15:30");
  EXPECT_EQ(FormatStamp("202401021530", false), "2024-01-02");
  EXPECT_EQ(FormatStamp("", true), "");
  EXPECT_EQ(FormatStamp("garbage!", true), "");
}

// --- schedule

TEST_F(SettingsSchedule, DueDatesInEitherFormat) {
  tProgramSettings &s = Settings();
  s.autorun = "";
  EXPECT_TRUE(IsDue(0));
  for (const char *date : {"2024.3.10", "20240310", "2024.03.9", "20231231"}) {
    s.autorun = date;
    EXPECT_TRUE(IsDue(0)) << date;
  }
  for (const char *date :
       {"2024.3.11", "20240311", "2024031x", "abcdefgh", "2024.13.1", "2024.3"}) {
    s.autorun = date;
    EXPECT_FALSE(IsDue(0)) << date;
  }
  s.update = "";
  s.UpdateFreq = 0;
  EXPECT_FALSE(IsDue(1));
  s.UpdateFreq = 3;
  EXPECT_TRUE(IsDue(1));

  ScheduleNext(1, 3);
  EXPECT_EQ(Settings().update, "20240313");
  EXPECT_EQ(Settings().UpdateFreq, 3);
  ScheduleNext(0, 0);
  EXPECT_EQ(Settings().autorun, "");
  EXPECT_NE(File(kIni).find("update=20240313"), std::string::npos);
}

TEST_F(SettingsSchedule, AutoScanSchedulesTheNextRun) {
  Write(kIni, "[settings]\r\nAutoAction=1\r\nAutoFreq=7\r\nautorun=20240301\r\n");
  Reinit();
  EXPECT_TRUE(AutoScanDue());
  EXPECT_EQ(Settings().AutoFreq, 0);
  EXPECT_EQ(Settings().autorun, "");
  EXPECT_NE(File(kIni).find("AutoFreq=0\r\n"), std::string::npos);
  EXPECT_TRUE(AutoScanDue()); // daily: every automatic start scans

  ASSERT_TRUE(SetSettingText("settings", "AutoFreq", "1"));
  EXPECT_TRUE(AutoScanDue());
  EXPECT_EQ(Settings().autorun, "20240317");
  EXPECT_FALSE(AutoScanDue());
  ASSERT_TRUE(SetSettingText("settings", "autorun", ""));
  ASSERT_TRUE(SetSettingText("settings", "AutoAction", "2"));
  EXPECT_FALSE(AutoScanDue());
}

// --- ignore file and the scan's ignore list

TEST_F(SettingsIgnoreFile, EntriesSurviveTheTripThroughTheFile) {
  EXPECT_TRUE(AddIgnoreEntry("HKEY_CURRENT_USER\\Software\\A"));
  EXPECT_TRUE(AddIgnoreEntry("HKEY_CURRENT_USER\\Software\\B\\\\:Value"));
  EXPECT_TRUE(AddIgnoreEntry("HKEY_CURRENT_USER\\Software\\B\\\\:(DEFAULT)"));
  EXPECT_TRUE(AddIgnoreEntry("HKEY_CURRENT_USER\\Software\\A")); // already there
  EXPECT_EQ(File(kIgnore),
            "[HKEY_CURRENT_USER\\Software\\A]\r\n\r\n[HKEY_CURRENT_USER\\Software\\B]\r\n"
            "Value=\r\n(DEFAULT)=\r\n");
  EXPECT_EQ(IgnoreFileEntries(),
            (std::vector<std::string>{"HKEY_CURRENT_USER\\Software\\A",
                                      "HKEY_CURRENT_USER\\Software\\B\\\\:Value",
                                      "HKEY_CURRENT_USER\\Software\\B\\\\:"}));

  EXPECT_TRUE(RemoveIgnoreEntry("HKEY_CURRENT_USER\\Software\\B\\\\:"));
  EXPECT_TRUE(RemoveIgnoreEntry("HKEY_CURRENT_USER\\Software\\A"));
  EXPECT_EQ(IgnoreFileEntries(),
            (std::vector<std::string>{"HKEY_CURRENT_USER\\Software\\B\\\\:Value"}));
  EXPECT_TRUE(RemoveIgnoreEntry("HKEY_CURRENT_USER\\Software\\B\\\\:value"));
  EXPECT_TRUE(IgnoreFileEntries().empty());
  EXPECT_EQ(File(kIgnore), "");
}

TEST_F(SettingsIgnoreFile, AFailedWriteIsReportedAndLeavesTheFile) {
  ASSERT_TRUE(AddIgnoreEntry("HKEY_CURRENT_USER\\Software\\A"));
  const std::string before = File(kIgnore);
  fs().InjectFailure(qp::mem::MemoryFileSystem::Op::Move, "ignore.txt", wc::ErrorAccessDenied);
  std::string error;
  EXPECT_FALSE(AddIgnoreEntry("HKEY_CURRENT_USER\\Software\\B", &error));
  EXPECT_NE(error.find("MoveFileEx"), std::string::npos) << error;
  fs().InjectFailure(qp::mem::MemoryFileSystem::Op::Move, "ignore.txt", wc::ErrorAccessDenied);
  EXPECT_FALSE(RemoveIgnoreEntry("HKEY_CURRENT_USER\\Software\\A"));
  EXPECT_EQ(File(kIgnore), before);
}

// The file trims blanks, ends lines at CR/LF and cuts keys at "=": an entry
// that would come back as another one is refused, and nothing is written.
TEST_F(SettingsIgnoreFile, EntriesTheFileWouldChangeAreRefused) {
  for (const char *entry :
       {"HKEY_CURRENT_USER\\Software\\B\\\\:x=y", "HKEY_CURRENT_USER\\Software\\B\\\\: padded",
        "HKEY_CURRENT_USER\\Software\\B\\\\:two\nlines", "HKEY_CURRENT_USER\\Software\\k ",
        "HKEY_CURRENT_USER\\Odd\rName"}) {
    std::string error;
    EXPECT_FALSE(AddIgnoreEntry(entry, &error)) << entry;
    EXPECT_NE(error.find("cannot be kept in ignore.txt"), std::string::npos) << error;
  }
  EXPECT_FALSE(fs().Exists(kIgnore));
  ASSERT_TRUE(AddIgnoreEntry("HKEY_CURRENT_USER\\Software\\B\\\\:x y"));
  EXPECT_EQ(IgnoreFileEntries(),
            std::vector<std::string>{"HKEY_CURRENT_USER\\Software\\B\\\\:x y"});
}

TEST_F(SettingsFile, AMonitoredKeyTheFileWouldChangeIsNotSaved) {
  std::string error;
  ASSERT_TRUE(SaveSettings(&error)) << error;
  const std::string before = File(kIni);
  Settings().MonitoredKeys.push_back("HKEY_CURRENT_USER\\Software\\k=v");
  EXPECT_FALSE(SaveSettings(&error));
  EXPECT_NE(error.find("cannot be saved"), std::string::npos) << error;
  EXPECT_EQ(File(kIni), before);
  Settings().MonitoredKeys.back() = "HKEY_CURRENT_USER\\Software\\k v";
  ASSERT_TRUE(SaveSettings(&error)) << error;
  ASSERT_TRUE(LoadSettings(&error)) << error;
  EXPECT_EQ(Settings().MonitoredKeys.back(), "HKEY_CURRENT_USER\\Software\\k v");
}

TEST_F(SettingsIgnoreFile, ScanListMergesAllThreeSources) {
  Write(kIni, "[SkippedKeys]\r\nHKEY_CURRENT_USER\\Mine=1\r\n");
  Write(kIgnore, "[HKEY_LOCAL_MACHINE\\X]\r\n[HKEY_LOCAL_MACHINE\\Y]\r\n(default)=\r\nv=\r\n");
  Reinit();
  std::vector<std::string> list{"stale"};
  ASSERT_TRUE(BuildScanIgnoreList(list));
  ASSERT_EQ(list.size(), 1u + 172u + 3u);
  EXPECT_EQ(list[0], "HKEY_CURRENT_USER\\Mine=1");
  EXPECT_EQ(list[1], "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\cmmgr32.exe");
  EXPECT_EQ(list[173], "HKEY_LOCAL_MACHINE\\X");
  EXPECT_EQ(list[174], "HKEY_LOCAL_MACHINE\\Y\\\\:");
  EXPECT_EQ(list[175], "HKEY_LOCAL_MACHINE\\Y\\\\:v");

  // Without a settings file the defaults are in front of the permanent keys.
  fs().Remove(kIni);
  fs().Remove(kIgnore);
  Reinit();
  ASSERT_TRUE(BuildScanIgnoreList(list));
  ASSERT_EQ(list.size(), 161u + 172u);
  EXPECT_EQ(list[161], std::string(PermanentIgnoreKeys[0]));
}

// --- automatic start

TEST_F(SettingsAutoStart, ScheduledTaskFromVistaOn) {
  ASSERT_GE(WindowsVersion, WindowsVista);
  ASSERT_TRUE(ApplyAutoStart(1));
  const std::string xmlFile = std::string(kFolder) + "\\schedule.xml";
  EXPECT_EQ(plat_.Procs().CommandLines(),
            (std::vector<std::string>{
                "\"C:\\Windows\\system32\\schtasks.exe\" /delete /tn \"Quenlo PC Status\" /f",
                "\"C:\\Windows\\system32\\schtasks.exe\" /create /tn \"Quenlo PC Status\" /xml \"" +
                    xmlFile + "\""}));
  const std::string raw = File(xmlFile.c_str());
  ASSERT_EQ(raw.substr(0, 2), "\xFF\xFE");
  const std::string xml = qp::RawUtf16ToUtf8(qp::Bytes(raw.begin() + 2, raw.end()));
  EXPECT_NE(xml.find("<Command>C:\\Program Files\\Q &amp; A\\quenlo.exe</Command>"),
            std::string::npos);
  EXPECT_NE(xml.find("<Arguments>autoscan</Arguments>"), std::string::npos);
  EXPECT_NE(xml.find("<Author>Brantel, Inc</Author>"), std::string::npos);
  EXPECT_NE(xml.find("<Interval>PT4H</Interval>"), std::string::npos);
  EXPECT_EQ(ScheduleTaskXml("monitor", "D:\\quenlo.exe").find("schedule"), std::string::npos);

  ASSERT_TRUE(ApplyAutoStart(0));
  EXPECT_EQ(plat_.Procs().CommandLines().size(), 3u);
  EXPECT_EQ(plat_.Procs().CommandLines().back(), RemoveTaskCommandLine());

  // schtasks that cannot start is tried three times; one that refuses the
  // task is a failure.
  int calls = 0;
  plat_.Procs().SetHandler([&calls](std::string_view) {
    ++calls;
    qp::ProcessResult r;
    r.started = false;
    r.startError = wc::ErrorFileNotFound;
    return r;
  });
  EXPECT_FALSE(ApplyAutoStart(2));
  EXPECT_EQ(calls, 3);
  plat_.Procs().SetHandler([](std::string_view line) {
    qp::ProcessResult r;
    r.started = true;
    r.exitCode = line.find("/create") != std::string_view::npos ? 1 : 0;
    return r;
  });
  EXPECT_FALSE(ApplyAutoStart(2));
  EXPECT_TRUE(ApplyAutoStart(0));
}

TEST_F(SettingsAutoStart, StartupShortcutBeforeVista) {
  plat_.Sys().SetVersion(5, 1, 2600);
  plat_.Reg().SetString(
      View::V64, "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
      "Startup", "C:\\Users\\user\\Startup");
  plat_.Fs().AddDir("C:\\Users\\user\\Startup");
  Reinit();
  EXPECT_EQ(WindowsVersion, 6);
  EXPECT_EQ(StartupFolder(), "C:\\Users\\user\\Startup\\");
  ASSERT_TRUE(ApplyAutoStart(2));
  ASSERT_EQ(host_.links.size(), 1u);
  EXPECT_EQ(host_.links[0], "C:\\Users\\user\\Startup\\quenlo.lnk|" + std::string(kExe) +
                                "|monitor|Brantel Quenlo");
  EXPECT_TRUE(fs().Exists("C:\\Users\\user\\Startup\\quenlo.lnk"));
  EXPECT_TRUE(ApplyAutoStart(0));
  EXPECT_FALSE(fs().Exists("C:\\Users\\user\\Startup\\quenlo.lnk"));
  host_.linkWorks = false;
  EXPECT_FALSE(ApplyAutoStart(1));
  EXPECT_TRUE(plat_.Procs().CommandLines().empty());
}

TEST_F(SettingsFirstRun, MarkerDecidesAndIsWrittenOnce) {
  Write(kIni, "[settings]\r\nAutoAction=0\r\nAutoFreq=3\r\n");
  Reinit();
  EXPECT_TRUE(FirstRunSetup());
  EXPECT_EQ(Settings().AutoAction, 1);
  EXPECT_EQ(Settings().AutoFreq, 0);
  EXPECT_NE(File(kIni).find("AutoAction=1\r\nAutoFreq=0"), std::string::npos);
  EXPECT_EQ(plat_.Procs().CommandLines().size(), 2u);
  auto marker = plat_.Reg().GetRaw(View::V64, kMarkerKey, "ProgramWasRun");
  ASSERT_TRUE(marker.has_value());
  EXPECT_EQ(marker->first, wc::RegDword);
  EXPECT_EQ(marker->second, (qp::Bytes{1, 0, 0, 0}));
  EXPECT_FALSE(FirstRunSetup());

  plat_.Reg().SetRaw(View::V64, kMarkerKey, "ProgramWasRun", wc::RegBinary, {1, 0});
  EXPECT_FALSE(FirstRunSetup());
  plat_.Reg().SetString(View::V64, kMarkerKey, "ProgramWasRun", "1");
  EXPECT_TRUE(FirstRunSetup());
  plat_.Reg().SetDword(View::V64, kMarkerKey, "ProgramWasRun", 2);
  EXPECT_TRUE(FirstRunSetup());
}

// --- environment

TEST_F(SettingsEnvironment, FactsComeFromThePlatformAndTheProgram) {
  EXPECT_EQ(SettingsFolder, kFolder);
  EXPECT_TRUE(fs().Exists(kFolder));
  EXPECT_EQ(ProgramDir, "C:\\Program Files\\Q & A");
  EXPECT_EQ(ProgramVersion, "1.2.3.4");
  EXPECT_EQ(WindowsDir.back(), '\\');
  EXPECT_EQ(SystemDir.back(), '\\');
  EXPECT_EQ(WindowsVersion, 9);

  plat_.Sys().SetSpecialFolder(wc::CsidlLocalAppData, std::nullopt);
  plat_.Sys().SetAdmin(false);
  host_.version = VersionBlob("");
  Reinit();
  EXPECT_EQ(SettingsFolder, "C:\\Program Files\\Q & A");
  EXPECT_EQ(ProgramVersion, "2.5.7.9");
  EXPECT_FALSE(IsAdmin);

  EXPECT_EQ(WindowsVersionFrom(1, 4, 0), 1);
  EXPECT_EQ(WindowsVersionFrom(1, 4, 90), 3);
  EXPECT_EQ(WindowsVersionFrom(1, 4, 50), 0);
  EXPECT_EQ(WindowsVersionFrom(2, 3, 51), 4);
  EXPECT_EQ(WindowsVersionFrom(2, 5, 2), 7);
  EXPECT_EQ(WindowsVersionFrom(2, 5, 3), 0);
  EXPECT_EQ(WindowsVersionFrom(2, 6, 3), 11);
  EXPECT_EQ(WindowsVersionFrom(2, 10, 0), 12); // never taken for a system before Vista
}

TEST_F(SettingsEnvironment, VersionResourceReaderStaysInsideItsBytes) {
  const qp::Bytes blob = VersionBlob("3.0.1");
  EXPECT_EQ(FileVersionFromResource(blob), "3.0.1");
  for (std::size_t cut = 0; cut < blob.size(); cut += 7) {
    qp::Bytes part(blob.begin(), blob.begin() + static_cast<std::ptrdiff_t>(cut));
    if (cut >= 2) // a shorter length field keeps the reader inside the cut
      part[0] = static_cast<std::uint8_t>(cut & 0xFF),
      part[1] = static_cast<std::uint8_t>(cut >> 8);
    (void)FileVersionFromResource(part);
  }
  EXPECT_EQ(FileVersionFromResource({}), "");
}
