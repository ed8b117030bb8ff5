#include "platform/win32/Win32System.h"

#include <vector>

#include "platform/win32/WinApi.h"
#include "platform/win32/WinHandles.h"
#include "platform/win32/WinText.h"

namespace qp::win32 {

ProcessResult Win32Processes::RunHiddenAndWait(std::string_view commandLine) {
  ProcessResult result;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process{};
  // CreateProcessW may write into the command line.
  std::wstring command = Wide(commandLine);
  std::vector<wchar_t> buffer(command.begin(), command.end());
  buffer.push_back(L'\0');
  if (!::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    result.startError = static_cast<long>(::GetLastError());
    return result;
  }
  result.started = true;
  const UniqueHandle processHandle(process.hProcess);
  const UniqueHandle threadHandle(process.hThread);
  const DWORD waited = ::WaitForSingleObject(processHandle.Get(), INFINITE);
  if (waited != WAIT_OBJECT_0) {
    result.waitError =
        waited == WAIT_FAILED ? static_cast<long>(::GetLastError()) : static_cast<long>(waited);
    return result;
  }
  DWORD exitCode = 0;
  if (!::GetExitCodeProcess(processHandle.Get(), &exitCode)) {
    result.exitCodeError = static_cast<long>(::GetLastError());
    return result;
  }
  result.exitCode = exitCode;
  return result;
}

} // namespace qp::win32

// --- placeholders until the process list and the desktop session land
namespace qp::win32 {
bool Win32Processes::ListProcesses(std::vector<ProcessEntry> &) {
  return false;
}
std::uint32_t Win32Processes::CurrentProcessId() {
  return ::GetCurrentProcessId();
}
std::uint32_t Win32Processes::CurrentSessionId() {
  return 0;
}
TCloseProcessResult Win32Processes::CloseProcess(std::uint32_t, std::uint32_t) {
  return cpNotClosed;
}
bool Win32Processes::StartProcess(std::string_view) {
  return false;
}

bool Win32Desktop::ReadClipboard(std::vector<ClipboardEntry> &) {
  return false;
}
bool Win32Desktop::EmptyClipboard() {
  return false;
}
bool Win32Desktop::GetUrlCacheContainer(std::uint32_t, std::string &) {
  return false;
}
void Win32Desktop::EnumUrlCache(std::string_view,
                                const std::function<bool(const UrlCacheEntry &)> &) {}
long Win32Desktop::DeleteUrlCacheEntry(std::string_view) {
  return ERROR_FILE_NOT_FOUND;
}
long Win32Desktop::ClearUrlHistory() {
  return 0;
}
bool Win32Desktop::ListIisSites(std::string_view, std::vector<IisSite> &) {
  return false;
}
void Win32Desktop::BroadcastSettingChange() {}
} // namespace qp::win32
