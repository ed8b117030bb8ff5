// The Win32 system and process implementation under Wine.
#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "platform/Utf.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/WinHandles.h"
#include "platform/win32/WinText.h"
#include "tests/wine/WineTestSupport.h"

namespace {

qp::ISystem &sys() {
  return qp::Platform().System();
}

bool EndsWithNoCase(const std::string &text, const std::string &tail) {
  return text.size() >= tail.size() &&
         qp::EqualsNoCase(std::string_view(text).substr(text.size() - tail.size()), tail);
}

TEST(Win32System, MessagesEnvironmentAndFolders) {
  // Wine's texts differ from Windows' ("The system cannot find the file
  // specified."); both end with their period and no line break.
  const std::string notFound = sys().SystemMessage(2);
  const std::string denied = sys().SystemMessage(5);
  EXPECT_FALSE(notFound.empty());
  EXPECT_EQ(notFound.back(), '.') << notFound;
  EXPECT_EQ(denied.back(), '.') << denied;
  if (quenlo_wine::RunningOnWine()) {
    EXPECT_EQ(notFound, "File not found.");
    EXPECT_EQ(denied, "Access denied.");
  } else {
    EXPECT_EQ(notFound, "The system cannot find the file specified.");
    EXPECT_EQ(denied, "Access is denied.");
  }
  EXPECT_EQ(sys().SystemMessage(0x2FFFFFFF), "Unknown error 805306367");

  const std::string value = "Gr\xC3\xBC\xC3\x9F"
                            "e \xE6\x97\xA5";
  ASSERT_TRUE(sys().SetEnvironmentVariable("QUENLO_TEST_VAR", value));
  std::string read;
  EXPECT_TRUE(sys().GetEnvironmentVariable("QUENLO_TEST_VAR", read));
  EXPECT_EQ(read, value);
  EXPECT_FALSE(sys().GetEnvironmentVariable("QUENLO_NO_SUCH_VAR", read));
  EXPECT_EQ(sys().ExpandEnvironmentStrings("[%QUENLO_TEST_VAR%] %QUENLO_NO_SUCH_VAR%"),
            "[" + value + "] %QUENLO_NO_SUCH_VAR%");
  EXPECT_EQ(sys().ExpandEnvironmentStrings(""), "");
  const std::string longValue(5000, 'v');
  ASSERT_TRUE(sys().SetEnvironmentVariable("QUENLO_TEST_VAR", longValue));
  EXPECT_TRUE(sys().GetEnvironmentVariable("QUENLO_TEST_VAR", read));
  EXPECT_EQ(read, longValue);
  EXPECT_EQ(sys().ExpandEnvironmentStrings("%QUENLO_TEST_VAR%!"), longValue + "!");

  const std::string windows = sys().GetWindowsDirectory();
  const std::string system = sys().GetSystemDirectory();
  EXPECT_TRUE(EndsWithNoCase(system, "\\system32")) << system;
  EXPECT_TRUE(qp::EqualsNoCase(system.substr(0, windows.size()), windows)) << windows;
  EXPECT_NE(windows.back(), '\\');
  const std::string temp = sys().GetTempPath();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), '\\');
  EXPECT_NE(qp::Platform().Files().GetAttributes(temp) & wc::FileAttributeDirectory, 0u);

  std::string folder;
  EXPECT_TRUE(sys().GetSpecialFolder(wc::CsidlAppData, false, folder));
  EXPECT_NE(qp::Platform().Files().GetAttributes(folder), wc::InvalidFileAttributes) << folder;
  EXPECT_TRUE(sys().GetSpecialFolder(wc::CsidlSystem, false, folder));
  EXPECT_TRUE(qp::EqualsNoCase(folder, system)) << folder;

  std::string device;
  EXPECT_TRUE(sys().QueryDosDevice("C:", device));
  EXPECT_FALSE(device.empty());
  EXPECT_FALSE(sys().QueryDosDevice("Q:", device));
}

TEST(Win32System, VersionBitnessAndUser) {
  qp::VersionInfo version;
  ASSERT_TRUE(sys().GetVersion(version));
  EXPECT_GE(version.major, 6u);
  EXPECT_EQ(version.platformId, 2u);
  EXPECT_GT(version.build, 0u);
  EXPECT_EQ(sys().IsWow64Process(), std::optional<bool>(false));
  EXPECT_TRUE(sys().ProcessIs64Bit());
  EXPECT_FALSE(sys().IsFarEastLocale());

  std::string sid;
  ASSERT_TRUE(sys().GetUserSid(sid));
  EXPECT_EQ(sid.rfind("S-1-5-", 0), 0u) << sid;
  std::string name;
  ASSERT_TRUE(sys().GetUserName(name));
  EXPECT_FALSE(name.empty());
  // The Wine user is an administrator.
  if (quenlo_wine::RunningOnWine()) {
    EXPECT_TRUE(sys().IsAdmin());
  }
  const long shutdown = sys().SetPrivilege("SeShutdownPrivilege", true, nullptr);
  EXPECT_TRUE(shutdown == 0 || shutdown == wc::ErrorNotAllAssigned) << shutdown;
  EXPECT_EQ(sys().SetPrivilege("SeShutdownPrivilege", false, nullptr), 0);
  EXPECT_EQ(sys().SetPrivilege("SeNoSuchPrivilege", true, nullptr), 1313); // ERROR_NO_SUCH_PRIVILEGE

  const std::uint64_t before = sys().TickCount();
  sys().Sleep(1);
  EXPECT_GE(sys().TickCount(), before);
}

TEST(Win32System, ProtectedKeyProbe) {
  const auto answer =
      sys().SfcIsKeyProtected(wc::HkeyLocalMachine, "Software\\QuenloTest", wc::KeyWow64_64Key);
  // Wine's sfc exports the function; nothing is protected.
  ASSERT_TRUE(answer.has_value());
  EXPECT_FALSE(*answer);
}

TEST(Win32System, ShellLinkReadsBackWhatWasSaved) {
  const std::string file = sys().GetTempPath() + "quenlo_test.lnk";
  const std::wstring wfile = qp::win32::Wide(file);
  {
    const qp::win32::ComScope com;
    ASSERT_TRUE(com.Usable());
    qp::win32::ComPtr<IShellLinkW> link;
    ASSERT_EQ(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 link.put_void()),
              S_OK);
    ASSERT_EQ(link->SetPath(L"C:\\windows\\system32\\notepad.exe"), S_OK);
    ASSERT_EQ(link->SetArguments(L"/a \u00FC.txt"), S_OK);
    ASSERT_EQ(link->SetWorkingDirectory(L"C:\\windows"), S_OK);
    ASSERT_EQ(link->SetIconLocation(L"C:\\windows\\system32\\shell32.dll", 3), S_OK);
    qp::win32::ComPtr<IPersistFile> persist;
    ASSERT_EQ(link->QueryInterface(IID_IPersistFile, persist.put_void()), S_OK);
    ASSERT_EQ(persist->Save(wfile.c_str(), TRUE), S_OK);
  }
  qp::ShellLinkInfo info;
  ASSERT_TRUE(sys().ReadShellLink(file, info));
  EXPECT_TRUE(qp::EqualsNoCase(info.path, "C:\\windows\\system32\\notepad.exe")) << info.path;
  EXPECT_EQ(info.arguments, "/a \xC3\xBC.txt");
  EXPECT_TRUE(qp::EqualsNoCase(info.workingDir, "C:\\windows")) << info.workingDir;
  EXPECT_TRUE(qp::EqualsNoCase(info.iconLocation, "C:\\windows\\system32\\shell32.dll"))
      << info.iconLocation;
  EXPECT_EQ(qp::Platform().Files().DeleteFile(file), 0);

  EXPECT_FALSE(sys().ReadShellLink(sys().GetTempPath() + "quenlo_missing.lnk", info));
}

TEST(Win32Processes, RunsHiddenAndReportsTheExitCode) {
  const qp::ProcessResult exit3 = qp::Platform().Processes().RunHiddenAndWait("cmd.exe /c exit 3");
  EXPECT_TRUE(exit3.started);
  EXPECT_EQ(exit3.startError, 0);
  EXPECT_EQ(exit3.waitError, 0);
  EXPECT_EQ(exit3.exitCodeError, 0);
  EXPECT_EQ(exit3.exitCode, 3u);

  const qp::ProcessResult missing =
      qp::Platform().Processes().RunHiddenAndWait("quenlo_no_such_program.exe /x");
  EXPECT_FALSE(missing.started);
  EXPECT_EQ(missing.startError, wc::ErrorFileNotFound);
}

} // namespace
