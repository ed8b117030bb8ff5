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
