#include "uInstance.h"

#include "platform/win32/WinText.h"
#include "uMainWindow.h"

namespace quenlo::win {

namespace {
constexpr int kFindAttempts = 50;
constexpr DWORD kFindPauseMs = 100;
} // namespace

bool TWin32InstanceChannel::CreateMutexExisted(std::string_view name) {
  mutex_.Reset(::CreateMutexW(nullptr, TRUE, qp::win32::Wide(name).c_str()));
  return mutex_ && ::GetLastError() == ERROR_ALREADY_EXISTS;
}

std::uintptr_t TWin32InstanceChannel::FindOtherWindow() {
  // A first copy that is still starting holds the mutex before its window
  // exists: look for a few seconds.
  for (int attempt = 0; attempt < kFindAttempts; ++attempt) {
    if (const HWND other = ::FindWindowW(kMainWindowClass, kMainWindowTitle))
      return reinterpret_cast<std::uintptr_t>(other);
    ::Sleep(kFindPauseMs);
  }
  return 0;
}

void TWin32InstanceChannel::Activate(std::uintptr_t window) {
  const HWND other = reinterpret_cast<HWND>(window);
  const HWND popup = ::GetLastActivePopup(other);
  ::BringWindowToTop(other);
  if (::IsIconic(popup) != FALSE)
    ::ShowWindow(popup, SW_RESTORE);
  ::ShowWindow(popup, SW_SHOWNORMAL);
  ::SetForegroundWindow(popup);
}

bool TWin32InstanceChannel::PostRestoreCommand(std::uintptr_t window, TRestoreCommand command) {
  const UINT message = ::RegisterWindowMessageW(qp::win32::Wide(kRestoreCommandMessage).c_str());
  return message != 0 && ::PostMessageW(reinterpret_cast<HWND>(window), message,
                                        static_cast<WPARAM>(command), 0) != FALSE;
}

} // namespace quenlo::win
