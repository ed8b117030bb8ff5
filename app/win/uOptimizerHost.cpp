#include "uOptimizerHost.h"

#include <vector>

#include "app/pages/uPages.h"
#include "platform/ScopeGuard.h"
#include "platform/win32/WinHandles.h"
#include "platform/win32/WinText.h"
#include "ui/uProgressCover.h"

namespace quenlo::win {

bool TWin32OptimizerHost::SpySweeperAllows(TSpySweeperKind kind) {
  TMainWindowLogic *logic = logic_();
  return logic != nullptr && logic->SpySweeperCheck(kind);
}

bool TWin32OptimizerHost::ConfirmMonitorOff() {
  return commands_.Send(mcConfirmMonitorOff) != 0;
}

void TWin32OptimizerHost::ClearScanResults() {
  qp::IgnoreResult(commands_.Send(mcClearResults));
}

bool TWin32ProgramRunner::RunAndWait(const std::string &commandLine) {
  // CreateProcessW may write into the command line.
  std::wstring command = qp::win32::Wide(commandLine);
  std::vector<wchar_t> buffer(command.begin(), command.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION info{};
  if (::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &info) == FALSE)
    return false;
  const qp::win32::UniqueHandle process(info.hProcess);
  const qp::win32::UniqueHandle thread(info.hThread);
  ui::TPendingPump pump;
  const HANDLE wait = process.Get();
  // The window stays alive (repaints, timers) until the program ends.
  while (::MsgWaitForMultipleObjects(1, &wait, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
    pump.Run();
  pump.RepostQuit();
  return true;
}

} // namespace quenlo::win
