#include "uMonitorTray.h"

#include <cstdint>

#include "platform/ScopeGuard.h"
#include "platform/win32/WinHandles.h"
#include "platform/win32/WinText.h"

namespace quenlo::win {

namespace {

// Not the main window's icon (TTrayIcon, id 1): both may be shown at once.
constexpr UINT kMonitorIconId = 2;
// The icon's callback message on the owner window.
constexpr UINT WM_MONITORTRAY = WM_APP + 20;
enum : UINT { cmOpen = 1, cmClose = 2 };

// Lets an elevated copy hear Explorer's broadcast.
void AllowMessageFromLowerRights(HWND hwnd, UINT message) {
  using FilterFn = BOOL(WINAPI *)(HWND, UINT, DWORD, void *);
  constexpr DWORD kAllow = 1; // MSGFLT_ALLOW
  if (const auto filter = qp::win32::ProcAddress<FilterFn>(::GetModuleHandleW(L"user32.dll"),
                                                           "ChangeWindowMessageFilterEx"))
    qp::IgnoreResult(filter(hwnd, message, kAllow, nullptr));
}

HICON ProgramIcon() {
  // Shared icons (LoadIcon): never destroyed.
  const HICON own = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
  return own != nullptr ? own : ::LoadIconW(nullptr, IDI_APPLICATION);
}

// A grey, lighter copy of icon at the small-icon size: the icon while the
// monitor is off. Null when it cannot be made (the caller falls back).
ui::UniqueIcon GreyedCopy(HICON icon) {
  const int cx = ::GetSystemMetrics(SM_CXSMICON);
  const int cy = ::GetSystemMetrics(SM_CYSMICON);
  const ui::WindowDcScope screen(nullptr);
  const ui::UniqueMemoryDc dc(::CreateCompatibleDC(screen.Dc()));
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = cx;
  info.bmiHeader.biHeight = -cy; // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void *bits = nullptr;
  const ui::UniqueGdi colour(
      ::CreateDIBSection(screen.Dc(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  const ui::UniqueGdi mask(::CreateBitmap(cx, cy, 1, 1, nullptr));
  if (!dc || !colour || !mask || bits == nullptr)
    return ui::UniqueIcon();
  {
    // All opaque, until the original's mask is copied over it below.
    const ui::SelectScope select(dc.Get(), mask.Get());
    ::PatBlt(dc.Get(), 0, 0, cx, cy, BLACKNESS);
  }
  {
    const ui::SelectScope select(dc.Get(), colour.Get());
    ::DrawIconEx(dc.Get(), 0, 0, icon, cx, cy, 0, nullptr, DI_NORMAL);
  }
  ::GdiFlush();
  auto *pixel = static_cast<std::uint32_t *>(bits);
  const std::size_t count = static_cast<std::size_t>(cx) * static_cast<std::size_t>(cy);
  bool anyAlpha = false;
  for (std::size_t i = 0; i < count; ++i)
    anyAlpha = anyAlpha || (pixel[i] >> 24) != 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t p = pixel[i];
    const std::uint32_t r = (p >> 16) & 0xFF;
    const std::uint32_t g = (p >> 8) & 0xFF;
    const std::uint32_t b = p & 0xFF;
    // Luminance, lifted towards white so the icon reads as switched off.
    const std::uint32_t grey = (((r * 30 + g * 59 + b * 11) / 100) + 2 * 0xC0) / 3;
    // An icon without alpha (an old-style one) keeps no alpha either: its
    // shape then comes from the mask.
    const std::uint32_t alpha = anyAlpha ? (p >> 24) : 0;
    pixel[i] = (alpha << 24) | (grey << 16) | (grey << 8) | grey;
  }
  // Without alpha the mask decides what shows: the original icon's mask.
  if (!anyAlpha) {
    ICONINFO original{};
    if (::GetIconInfo(icon, &original) != FALSE) {
      const ui::UniqueGdi originalMask(original.hbmMask);
      const ui::UniqueGdi originalColour(original.hbmColor);
      const ui::UniqueMemoryDc from(::CreateCompatibleDC(screen.Dc()));
      const ui::UniqueMemoryDc to(::CreateCompatibleDC(screen.Dc()));
      BITMAP size{};
      ::GetObjectW(original.hbmMask, sizeof(size), &size);
      const ui::SelectScope selectFrom(from.Get(), originalMask.Get());
      const ui::SelectScope selectTo(to.Get(), mask.Get());
      // A mask without a colour bitmap is twice as high: its top half is the mask.
      const int height = original.hbmColor == nullptr ? size.bmHeight / 2 : size.bmHeight;
      ::StretchBlt(to.Get(), 0, 0, cx, cy, from.Get(), 0, 0, size.bmWidth, height, SRCCOPY);
    }
  }
  ICONINFO made{};
  made.fIcon = TRUE;
  made.hbmMask = static_cast<HBITMAP>(mask.Get());
  made.hbmColor = static_cast<HBITMAP>(colour.Get());
  // CreateIconIndirect copies the bitmaps.
  return ui::UniqueIcon(::CreateIconIndirect(&made));
}

} // namespace

bool TMonitorTray::Create() {
  RegisterOnce(kMonitorTrayClass);
  // Top-level (not message-only) so that broadcasts reach it; never shown.
  if (!CreateFrom({.className = kMonitorTrayClass,
                   .text = L"Quenlo Monitor",
                   .style = WS_POPUP,
                   .exStyle = WS_EX_TOOLWINDOW}))
    return false;
  taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");
  if (taskbarCreated_ != 0)
    AllowMessageFromLowerRights(Handle(), taskbarCreated_);
  return true;
}

NOTIFYICONDATAW TMonitorTray::IconData(UINT flags) const {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = Handle();
  data.uID = kMonitorIconId;
  data.uFlags = flags;
  return data;
}

HICON TMonitorTray::Image(bool monitoring) {
  const HICON program = ProgramIcon();
  if (monitoring)
    return program;
  if (!idleIcon_)
    idleIcon_ = GreyedCopy(program);
  return idleIcon_ ? static_cast<HICON>(idleIcon_.Get()) : ::LoadIconW(nullptr, IDI_APPLICATION);
}

bool TMonitorTray::ShowIcon(bool monitoring) {
  if (Handle() == nullptr)
    return false;
  NOTIFYICONDATAW data = IconData(NIF_MESSAGE | NIF_ICON | NIF_TIP);
  data.uCallbackMessage = WM_MONITORTRAY;
  data.hIcon = Image(monitoring);
  ::lstrcpynW(data.szTip, qp::win32::Wide(kMonitorTrayHint).c_str(), ARRAYSIZE(data.szTip));
  // A shown icon is changed in place; one the shell lost (Explorer started
  // again) answers the change with failure and is added anew.
  bool ok = shown_ && ::Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
  if (!ok)
    ok = ::Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
  shown_ = ok;
  return ok;
}

void TMonitorTray::HideIcon() {
  if (!shown_)
    return;
  NOTIFYICONDATAW data = IconData(0);
  ::Shell_NotifyIconW(NIM_DELETE, &data);
  shown_ = false;
}

void TMonitorTray::ShowBalloon(const std::string &title, const std::string &text,
                               std::uint32_t timeoutMs) {
  if (!shown_)
    return;
  NOTIFYICONDATAW data = IconData(NIF_INFO);
  ::lstrcpynW(data.szInfoTitle, qp::win32::Wide(title).c_str(), ARRAYSIZE(data.szInfoTitle));
  ::lstrcpynW(data.szInfo, qp::win32::Wide(text).c_str(), ARRAYSIZE(data.szInfo));
  data.uTimeout = timeoutMs;
  data.dwInfoFlags = NIIF_INFO;
  ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

void TMonitorTray::HideBalloon() {
  if (!shown_)
    return;
  // An empty text takes the balloon down.
  NOTIFYICONDATAW data = IconData(NIF_INFO);
  ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

void TMonitorTray::ShowMenu() {
  const ui::UniqueMenu menu(::CreatePopupMenu());
  if (!menu)
    return;
  ::AppendMenuW(menu.Get(), MF_STRING, cmOpen, qp::win32::Wide(kMonitorMenuOpen).c_str());
  ::AppendMenuW(menu.Get(), MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(menu.Get(), MF_STRING, cmClose, qp::win32::Wide(kMonitorMenuClose).c_str());
  ::SetMenuDefaultItem(menu.Get(), cmOpen, FALSE);
  POINT at{};
  ::GetCursorPos(&at);
  // The menu closes on a click elsewhere only when its owner is the
  // foreground window; the posted message lets it close at once after.
  ::SetForegroundWindow(Handle());
  const UINT chosen = static_cast<UINT>(::TrackPopupMenu(
      menu.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, Handle(), nullptr));
  ::PostMessageW(Handle(), WM_NULL, 0, 0);
  if (chosen == cmOpen && OnOpen)
    OnOpen();
  else if (chosen == cmClose && OnClose)
    OnClose();
}

LRESULT TMonitorTray::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == taskbarCreated_ && taskbarCreated_ != 0) {
    if (OnTaskbarCreated)
      OnTaskbarCreated();
    return 0;
  }
  switch (message) {
  case WM_MONITORTRAY:
    switch (LOWORD(lParam)) {
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK: {
      const ULONGLONG now = ::GetTickCount64();
      if (now - openedAt_ < ::GetDoubleClickTime())
        break;
      openedAt_ = now;
      if (OnOpen)
        OnOpen();
      break;
    }
    case NIN_BALLOONUSERCLICK:
      if (OnOpen)
        OnOpen();
      break;
    case WM_RBUTTONUP:
    case WM_CONTEXTMENU:
      ShowMenu();
      break;
    default:
      break;
    }
    return 0;
  case WM_TIMER:
    if (OnTimer)
      OnTimer(static_cast<TTimerId>(wParam));
    return 0;
  default:
    return TWindow::OnMessage(message, wParam, lParam);
  }
}

} // namespace quenlo::win
