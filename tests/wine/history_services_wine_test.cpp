// The history page's system services over Win32: a browser is seen running
// by its executable's file name in any letter case, and no longer once it
// has ended; a file marked for deletion when Windows restarts is named in
// the system's list of pending operations, and a mark that cannot be made
// answers the system's status instead of 0.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/win/uWin32HistoryServices.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/WinText.h"

namespace {

using quenlo::win::TWin32HistoryServices;

constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPending[] = L"PendingFileRenameOperations";

std::wstring TempFolder() {
  wchar_t path[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, path);
  return path;
}

// The pending operations' raw value (a REG_MULTI_SZ); empty when absent.
std::vector<wchar_t> ReadPending() {
  DWORD type = 0;
  DWORD size = 0;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending, RRF_RT_ANY, &type, nullptr,
                     &size) != ERROR_SUCCESS)
    return {};
  std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending, RRF_RT_ANY, &type, data.data(),
                     &size) != ERROR_SUCCESS)
    return {};
  return data;
}

// Puts the pending operations back as they were before the test, so that
// the prefix's next start deletes nothing of this test's.
void RestorePending(const std::vector<wchar_t> &before) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return;
  if (before.empty())
    ::RegDeleteValueW(key, kPending);
  else
    ::RegSetValueExW(key, kPending, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(before.data()),
                     static_cast<DWORD>(before.size() * sizeof(wchar_t)));
  ::RegCloseKey(key);
}

bool PendingNames(const std::vector<wchar_t> &data, const std::wstring &fileName) {
  // Each entry is an NT path ("\??\C:\...") followed by its new name
  // (empty for a delete).
  for (std::size_t at = 0; at < data.size();) {
    const std::wstring entry(data.data() + at);
    if (!entry.empty() && entry.size() >= fileName.size() &&
        ::lstrcmpiW(entry.c_str() + entry.size() - fileName.size(), fileName.c_str()) == 0)
      return true;
    at += entry.size() + 1;
  }
  return false;
}

// A program that stays until it is ended: the system's command prompt,
// copied under a browser's name, reading from a pipe nobody writes to.
class TStandIn {
public:
  explicit TStandIn(const std::wstring &exeName) {
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    folder_ = TempFolder() + L"quenlo-history-services";
    ::CreateDirectoryW(folder_.c_str(), nullptr);
    exe_ = folder_ + L"\\" + exeName;
    if (::CopyFileW((std::wstring(system) + L"\\cmd.exe").c_str(), exe_.c_str(), FALSE) == FALSE)
      return;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    if (::CreatePipe(&read_, &write_, &inherit, 0) == FALSE)
      return;
    ::SetHandleInformation(write_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = read_;
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    std::wstring line = L"\"" + exe_ + L"\" /q /k";
    if (::CreateProcessW(exe_.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                         nullptr, nullptr, &startup, &process_) != FALSE)
      ::CloseHandle(process_.hThread);
  }
  TStandIn(const TStandIn &) = delete;
  TStandIn &operator=(const TStandIn &) = delete;
  ~TStandIn() {
    End();
    if (write_ != nullptr)
      ::CloseHandle(write_);
    if (read_ != nullptr)
      ::CloseHandle(read_);
    ::DeleteFileW(exe_.c_str());
    ::RemoveDirectoryW(folder_.c_str());
  }
  bool Started() const { return process_.hProcess != nullptr; }
  void End() {
    if (process_.hProcess == nullptr)
      return;
    ::TerminateProcess(process_.hProcess, 0);
    ::WaitForSingleObject(process_.hProcess, 10000);
    ::CloseHandle(process_.hProcess);
    process_.hProcess = nullptr;
  }

private:
  std::wstring folder_;
  std::wstring exe_;
  HANDLE read_ = nullptr;
  HANDLE write_ = nullptr;
  PROCESS_INFORMATION process_{};
};

TEST(WineHistoryServices, ABrowserRunsUntilItEndsWhateverTheLetterCase) {
  TWin32HistoryServices services;
  EXPECT_FALSE(services.BrowserRunning("opera.exe"));
  TStandIn browser(L"Opera.exe");
  ASSERT_TRUE(browser.Started());
  EXPECT_TRUE(services.BrowserRunning("opera.exe"));
  EXPECT_TRUE(services.BrowserRunning("OPERA.EXE"));
  // Another browser's name, and a name the running one merely begins with.
  EXPECT_FALSE(services.BrowserRunning("safari.exe"));
  EXPECT_FALSE(services.BrowserRunning("opera.ex"));
  browser.End();
  EXPECT_FALSE(services.BrowserRunning("opera.exe"));
}

TEST(WineHistoryServices, AFileMarkedForDeletionAtRestartIsPendingAndStays) {
  TWin32HistoryServices services;
  const std::vector<wchar_t> before = ReadPending();
  const std::wstring file = TempFolder() + L"quenlo-pending-index.dat";
  const HANDLE created = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(created, INVALID_HANDLE_VALUE);
  ::CloseHandle(created);

  EXPECT_EQ(services.DeleteAtRestart(qp::win32::Narrow(file)), 0);
  const std::vector<wchar_t> after = ReadPending();
  RestorePending(before);
  EXPECT_TRUE(PendingNames(after, L"\\quenlo-pending-index.dat"));
  // Marked, not deleted: the file is there until Windows restarts.
  EXPECT_NE(::GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
  ::DeleteFileW(file.c_str());
}

TEST(WineHistoryServices, AMarkThatCannotBeMadeAnswersTheSystemStatus) {
  TWin32HistoryServices services;
  const std::vector<wchar_t> before = ReadPending();
  // No file name at all: the system refuses the mark.
  const long status = services.DeleteAtRestart("");
  RestorePending(before);
  EXPECT_NE(status, 0);
}

} // namespace
