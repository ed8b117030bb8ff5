#include "uWin32Help.h"

#include <vector>

#include "app/pages/uHelpTopics.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/WinHandles.h"
#include "platform/win32/WinText.h"

namespace quenlo::win {

namespace {

// "<Windows folder>\hh.exe"; empty when the folder is not known.
std::wstring ViewerPath() {
  std::vector<wchar_t> folder(MAX_PATH);
  UINT length = ::GetWindowsDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
  if (length >= folder.size()) {
    // Too small: the answer is the size needed, with its terminating NUL.
    folder.resize(length);
    length = ::GetWindowsDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
  }
  if (length == 0 || length >= folder.size())
    return {};
  std::wstring path(folder.data(), length);
  if (path.back() != L'\\')
    path += L'\\';
  return path + L"hh.exe";
}

} // namespace

bool TWin32HelpViewer::ShowTopic(const std::string &chmFile, const std::string &topic) {
  const std::wstring viewer = ViewerPath();
  if (viewer.empty())
    return false;
  const std::string command = HelpViewerCommandLine(qp::win32::Narrow(viewer), chmFile, topic);
  if (command.empty())
    return false;
  // CreateProcessW may write into the command line.
  const std::wstring wide = qp::win32::Wide(command);
  std::vector<wchar_t> line(wide.begin(), wide.end());
  line.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (::CreateProcessW(viewer.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &started) == FALSE)
    return false;
  // The viewer runs on its own; its handles are not needed here.
  const qp::win32::UniqueHandle process(started.hProcess);
  const qp::win32::UniqueHandle thread(started.hThread);
  return true;
}

} // namespace quenlo::win
