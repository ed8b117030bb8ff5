#include "uInstance.h"

#include "uMainWindow.h"

namespace quenlo::win {

bool TInstanceChannel::CreateMutexFirst() {
  mutex_.Reset(::CreateMutexW(nullptr, TRUE, L"QuenloMutex"));
  return ::GetLastError() == ERROR_ALREADY_EXISTS;
}

HWND TInstanceChannel::FindOther() {
  // Wait briefly: a first copy that is still starting has its mutex but
  // perhaps not yet its window.
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (const HWND other = ::FindWindowW(kMainWindowClass, kMainWindowTitle))
      return other;
    ::Sleep(100);
  }
  return nullptr;
}

bool TInstanceChannel::PostRestore(HWND other, int command) {
  const UINT message = ::RegisterWindowMessageW(kRestoreMessageName);
  return message != 0 && ::PostMessageW(other, message, static_cast<WPARAM>(command), 0) != FALSE;
}

void TInstanceChannel::Activate(HWND other) {
  const HWND popup = ::GetLastActivePopup(other);
  ::BringWindowToTop(other);
  if (::IsIconic(popup) != FALSE)
    ::ShowWindow(popup, SW_RESTORE);
  ::SetForegroundWindow(popup);
}

} // namespace quenlo::win
