#include "uWin32HistoryServices.h"

#include "cleaner/uCleanSystem.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/WinText.h"

namespace quenlo::win {

bool TWin32HistoryServices::BrowserRunning(const std::string &exeName) {
  return FindProcessByName(exeName).has_value();
}

long TWin32HistoryServices::DeleteAtRestart(const std::string &path) {
  // No new name: the file goes when Windows next starts. Writing the
  // pending list needs administrator rights; without them the call fails
  // with ERROR_ACCESS_DENIED, which the page reports per file.
  if (::MoveFileExW(qp::win32::Wide(path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE)
    return 0;
  return static_cast<long>(::GetLastError());
}

} // namespace quenlo::win
