// The settings code on the real Win32 platform under Wine: the settings
// folder, the program's version resource and the scheduled task made
// through "schtasks".
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "WineTestSupport.h"
#include "app/uAppHost.h"
#include "app/uEnvironment.h"
#include "app/uSettings.h"
#include "app/uVersionInfo.h"
#include "platform/Platform.h"
#include "platform/Utf.h"
#include "registry/uRegAccess.h"

using namespace quenlo;

namespace {

std::wstring Wide(const std::string &text) {
  std::u16string u = qp::Utf8ToUtf16(text);
  return std::wstring(u.begin(), u.end());
}

bool PathExists(const std::string &path) {
  return ::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

class SettingsWine : public ::testing::Test {
protected:
  void SetUp() override {
    InitRegistryLayer();
    InitEnvironmentFacts();
  }
};

} // namespace

TEST_F(SettingsWine, SettingsFolderIsBelowLocalAppData) {
  std::string local;
  ASSERT_TRUE(qp::Platform().System().GetSpecialFolder(wc::CsidlLocalAppData, false, local));
  while (!local.empty() && local.back() == '\\')
    local.pop_back();
  EXPECT_EQ(SettingsFolder, local + "\\Brantel");
  EXPECT_TRUE(PathExists(SettingsFolder));
  EXPECT_EQ(WindowsDir.back(), '\\');
  EXPECT_EQ(SystemDir.back(), '\\');
  EXPECT_GE(WindowsVersion, WindowsVista);

  // A save lands in the folder with CRLF line ends and reads back.
  const std::string ini = SettingsFileName();
  ::DeleteFileW(Wide(ini).c_str());
  EXPECT_TRUE(LoadSettings());
  Settings().MonitorPrompt = 123;
  std::string error;
  ASSERT_TRUE(SaveSettings(&error)) << error;
  std::string text;
  ASSERT_EQ(qp::Platform().Files().ReadFile(ini, text), 0);
  EXPECT_NE(text.find("MonitorPrompt=123\r\n"), std::string::npos);
  Settings().MonitorPrompt = 1;
  ASSERT_TRUE(LoadSettings());
  EXPECT_EQ(Settings().MonitorPrompt, 123);
  EXPECT_FALSE(PathExists(ini + ".tmp"));
  ::DeleteFileW(Wide(ini).c_str());
}

TEST_F(SettingsWine, ProgramVersionComesFromTheVersionResource) {
  wchar_t path[MAX_PATH];
  DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  ASSERT_GT(n, 0u);
  std::u16string exe(path, path + n);
  std::string exe8 = qp::Utf16ToUtf8(exe);
  EXPECT_EQ(ProgramDir, exe8.substr(0, exe8.find_last_of('\\')));

  const qp::Bytes resource = AppHost().VersionResource();
  ASSERT_FALSE(resource.empty()) << "the test program has no version resource";
  EXPECT_EQ(ProgramVersion, FileVersionFromResource(resource));
  // The string "FileVersion" is the project version "x.y.z"; the fixed
  // file version of the same resource is x.y.z.0.
  const std::uint8_t signature[] = {0xBD, 0x04, 0xEF, 0xFE};
  auto at =
      std::search(resource.begin(), resource.end(), std::begin(signature), std::end(signature));
  ASSERT_LE(at + 16, resource.end());
  auto dword = [&](std::ptrdiff_t offset) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
      v |= static_cast<std::uint32_t>(at[offset + i]) << (8 * i);
    return v;
  };
  const std::uint32_t ms = dword(8), ls = dword(12);
  EXPECT_EQ(ls & 0xFFFFu, 0u);
  EXPECT_EQ(ProgramVersion, std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFFu) + "." +
                                std::to_string(ls >> 16));
}

TEST_F(SettingsWine, ScheduledTaskIsCreatedAndRemovedWithSchtasks) {
  // Task Scheduler keeps each task as a file named after the task.
  const std::string taskFile = SystemDir + "Tasks\\" + std::string(ScheduledTaskName);
  ASSERT_TRUE(ApplyAutoStart(0)); // nothing there yet is fine
  EXPECT_FALSE(PathExists(taskFile));

  ASSERT_TRUE(ApplyAutoStart(1));
  ASSERT_TRUE(PathExists(taskFile)) << taskFile;
  auto readXml = [](const std::string &file) {
    std::string raw;
    EXPECT_EQ(qp::Platform().Files().ReadFile(file, raw), 0) << file;
    return raw.size() >= 2 && raw.substr(0, 2) == "\xFF\xFE"
               ? qp::RawUtf16ToUtf8(qp::Bytes(raw.begin() + 2, raw.end()))
               : raw;
  };
  // Wine's Task Scheduler keeps the registration and settings of the task
  // but stores neither the logon trigger nor the command of the action, so
  // those are checked in the definition handed to schtasks.
  const std::string stored = readXml(taskFile);
  EXPECT_NE(stored.find("<Author>Brantel, Inc</Author>"), std::string::npos) << stored;
  EXPECT_NE(stored.find("<ExecutionTimeLimit>P3D</ExecutionTimeLimit>"), std::string::npos);
  EXPECT_NE(stored.find("<Hidden>true</Hidden>"), std::string::npos);
  const std::string handed = readXml(SettingsPath(ScheduleFileTitle));
  EXPECT_NE(handed.find("<Command>" + AppHost().ExePath() + "</Command>"), std::string::npos)
      << handed;
  EXPECT_NE(handed.find("<Arguments>autoscan</Arguments>"), std::string::npos);
  EXPECT_NE(handed.find("<LogonTrigger>"), std::string::npos);

  ASSERT_TRUE(ApplyAutoStart(0));
  EXPECT_FALSE(PathExists(taskFile));
  ::DeleteFileW(Wide(SettingsPath(ScheduleFileTitle)).c_str());
}
