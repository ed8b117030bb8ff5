#include "uTrayIcon.h"

#include "platform/win32/WinText.h"
#include "ui/uGdi.h"

namespace quenlo::win {

namespace {
constexpr UINT kIconId = 1;
enum : UINT { cmOpen = 1, cmClose = 2 };
} // namespace

void TTrayIcon::Show(HWND owner, UINT callbackMessage, const std::string &hint) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = owner;
  data.uID = kIconId;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = callbackMessage;
  data.hIcon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
  if (data.hIcon == nullptr)
    data.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
  ::lstrcpynW(data.szTip, qp::win32::Wide(hint).c_str(), ARRAYSIZE(data.szTip));
  owner_ = owner;
  shown_ = ::Shell_NotifyIconW(shown_ ? NIM_MODIFY : NIM_ADD, &data) != FALSE || shown_;
}

void TTrayIcon::Hide() {
  if (!shown_)
    return;
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = owner_;
  data.uID = kIconId;
  ::Shell_NotifyIconW(NIM_DELETE, &data);
  shown_ = false;
}

void TTrayIcon::HandleCallback(LPARAM event) {
  switch (LOWORD(event)) {
  case WM_LBUTTONDBLCLK:
  case NIN_BALLOONUSERCLICK:
    if (OnOpen)
      OnOpen();
    break;
  case WM_RBUTTONUP:
  case WM_CONTEXTMENU: {
    const ui::UniqueMenu menu(::CreatePopupMenu());
    ::AppendMenuW(menu.Get(), MF_STRING, cmOpen, L"Open Quenlo");
    ::AppendMenuW(menu.Get(), MF_STRING, cmClose, L"Close");
    ::SetMenuDefaultItem(menu.Get(), cmOpen, FALSE);
    POINT at{};
    ::GetCursorPos(&at);
    // The menu closes when the user clicks elsewhere only when the owner
    // is the foreground window.
    ::SetForegroundWindow(owner_);
    const UINT chosen = static_cast<UINT>(::TrackPopupMenu(
        menu.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, owner_, nullptr));
    ::PostMessageW(owner_, WM_NULL, 0, 0);
    if (chosen == cmOpen && OnOpen)
      OnOpen();
    else if (chosen == cmClose && OnClose)
      OnClose();
    break;
  }
  default:
    break;
  }
}

} // namespace quenlo::win
