#include "uSplash.h"

#include "platform/win32/WinText.h"
#include "ui/uGdi.h"

namespace quenlo::win {

namespace {
constexpr wchar_t kClass[] = L"QuenloSplash";
constexpr UINT_PTR kTimer = 1;
constexpr int kClose = 1;
constexpr int kWidth = 420;
constexpr int kHeight = 220;
} // namespace

bool TSplash::Build(HWND owner, const std::string &version, bool about) {
  RegisterOnce(kClass);
  version_ = qp::win32::Wide("v. " + version);
  about_ = about;
  closed_ = false;
  const ui::TDpi dpi = ui::TDpi::ForWindow(owner);
  const int w = dpi.Scale(kWidth);
  const int h = dpi.Scale(kHeight);
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + (work.right - work.left - w) / 2;
  const int y = work.top + (work.bottom - work.top - h) / 2;
  if (!CreateFrom({.className = kClass,
                   .text = about ? L"About Quenlo" : L"Quenlo",
                   .style = WS_POPUP | WS_BORDER | (about ? WS_CAPTION : 0u),
                   .exStyle = static_cast<DWORD>(about ? WS_EX_DLGMODALFRAME
                                                       : WS_EX_TOOLWINDOW | WS_EX_TOPMOST),
                   .parent = owner,
                   .bounds = {x, y, x + w, y + h}}))
    return false;
  titleFont_ = ui::CreateUiFont(Dpi(), {.pixelHeight = 34, .weight = ui::TFontWeight::Bold});
  font_ = ui::CreateUiFont(Dpi(), {.pixelHeight = 14});
  if (about) {
    close_.Reset(ui::CreateControl(Handle(), L"BUTTON", L"Close",
                                   WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, kClose,
                                   ui::AsFont(font_)));
    RECT client{};
    ::GetClientRect(Handle(), &client);
    ::MoveWindow(close_.Get(), client.right - Scale(110), client.bottom - Scale(44), Scale(96),
                 Scale(32), TRUE);
  }
  ::ShowWindow(Handle(), SW_SHOW);
  ::UpdateWindow(Handle());
  return true;
}

bool TSplash::ShowSplash(const std::string &version) {
  if (!Build(nullptr, version, false))
    return false;
  ::SetTimer(Handle(), kTimer, kSplashMs, nullptr);
  return true;
}

void TSplash::ShowAbout(HWND owner, const std::string &version) {
  if (!Build(owner, version, true))
    return;
  ::EnableWindow(owner, FALSE);
  ::SetFocus(close_.Get());
  MSG msg{};
  while (!closed_ && ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (::IsDialogMessageW(Handle(), &msg))
      continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  if (msg.message == WM_QUIT)
    ::PostQuitMessage(static_cast<int>(msg.wParam));
  ::EnableWindow(owner, TRUE);
  ::SetForegroundWindow(owner);
  if (Handle() != nullptr)
    ::DestroyWindow(Handle());
}

void TSplash::Paint() {
  const ui::PaintScope paint(Handle());
  RECT client{};
  ::GetClientRect(Handle(), &client);
  ui::FillSolid(paint.Dc(), client, RGB(0x1F, 0x3A, 0x68));
  {
    const ui::SelectScope font(paint.Dc(), titleFont_.Get());
    RECT title{0, Scale(40), client.right, Scale(100)};
    ui::DrawTextIn(paint.Dc(), L"Quenlo", title, RGB(0xFF, 0xFF, 0xFF), DT_CENTER | DT_SINGLELINE);
  }
  const ui::SelectScope font(paint.Dc(), font_.Get());
  RECT version{0, Scale(104), client.right, Scale(128)};
  ui::DrawTextIn(paint.Dc(), version_, version, RGB(0xE0, 0xE8, 0xF4), DT_CENTER | DT_SINGLELINE);
  if (!about_) {
    RECT loading{Scale(16), client.bottom - Scale(40), client.right, client.bottom - Scale(12)};
    ui::DrawTextIn(paint.Dc(), L"Loading . . .", loading, RGB(0xFF, 0xFF, 0xFF),
                   DT_LEFT | DT_SINGLELINE);
  }
}

LRESULT TSplash::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_PAINT:
    Paint();
    return 0;
  case WM_ERASEBKGND:
    return 1;
  case WM_TIMER:
    if (wParam == kTimer) {
      ::KillTimer(Handle(), kTimer);
      ::DestroyWindow(Handle());
    }
    return 0;
  case WM_COMMAND:
    if (LOWORD(wParam) == kClose)
      closed_ = true;
    return 0;
  case WM_CLOSE:
    if (about_)
      closed_ = true;
    return 0;
  default:
    return TWindow::OnMessage(message, wParam, lParam);
  }
}

} // namespace quenlo::win
