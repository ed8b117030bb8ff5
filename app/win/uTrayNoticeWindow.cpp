#include "uTrayNoticeWindow.h"

#include "app/pages/uTrayNoticeLogic.h"
#include "platform/ScopeGuard.h"
#include "platform/win32/WinText.h"
#include "ui/uGdi.h"

#include <windowsx.h>

namespace quenlo::win {

namespace {
constexpr wchar_t kClass[] = L"QuenloTrayNotice";
constexpr int kWidth = 340;
constexpr int kHeight = 150;
constexpr int kBarHeight = 26;
enum : int { idFix = 10, idClose = 11, idDoNotShow = 12 };

TScreenRect ToRect(const RECT &r) {
  return {r.left, r.top, r.right, r.bottom};
}
} // namespace

void TTrayNoticeWindow::Build(int problemCount) {
  RegisterOnce(kClass);
  const ui::TDpi dpi = ui::TDpi::ForWindow(owner_ ? owner_() : nullptr);
  TNoticePlacementInput place;
  if (const HWND taskbar = ::FindWindowW(L"Shell_TrayWnd", nullptr)) {
    RECT r{};
    place.taskbarFound = ::GetWindowRect(taskbar, &r) != FALSE;
    place.taskbar = ToRect(r);
  }
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  place.workArea = ToRect(work);
  place.screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
  place.noticeWidth = dpi.Scale(kWidth);
  place.noticeHeight = dpi.Scale(kHeight);
  const TNoticePoint at = TrayNoticePlacement(place);
  text_ = qp::win32::Wide(TrayNoticeText(problemCount));
  shift_ = TrayNoticeTextShift(problemCount);
  if (!CreateFrom(
          {.className = kClass,
           .text = qp::win32::Wide(kNoticeCaption),
           .style = WS_POPUP | WS_BORDER,
           .exStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT,
           .parent = owner_ ? owner_() : nullptr,
           .bounds = {at.left, at.top, at.left + place.noticeWidth, at.top + place.noticeHeight}}))
    return;
  font_ = ui::CreateUiFont(Dpi(), {.pixelHeight = 13});
  bold_ = ui::CreateUiFont(Dpi(), {.pixelHeight = 13, .weight = ui::TFontWeight::Bold});
  auto add = [this](const wchar_t *cls, const wchar_t *text, DWORD style, int id, int x, int y,
                    int w, int h) {
    const HWND hwnd =
        ui::CreateControl(Handle(), cls, text, WS_VISIBLE | style, id, ui::AsFont(font_));
    ::MoveWindow(hwnd, Scale(x), Scale(y), Scale(w), Scale(h), TRUE);
  };
  if (TrayNoticeFixShown(problemCount))
    add(L"BUTTON", L"Fix Problems", WS_TABSTOP | BS_DEFPUSHBUTTON, idFix, 70, 86, 120, 28);
  add(L"BUTTON", L"Close", WS_TABSTOP | BS_PUSHBUTTON, idClose, kWidth - 100, 86, 86, 28);
  add(L"BUTTON", qp::win32::Wide(kNoticeDoNotShow).c_str(), WS_TABSTOP | BS_AUTOCHECKBOX,
      idDoNotShow, 14, 120, kWidth - 28, 22);
}

bool TTrayNoticeWindow::Show(int problemCount) {
  Build(problemCount);
  if (Handle() == nullptr)
    return false;
  const HWND owner = owner_ ? owner_() : nullptr;
  done_ = false;
  fix_ = false;
  if (owner != nullptr)
    ::EnableWindow(owner, FALSE);
  ::ShowWindow(Handle(), SW_SHOW);
  ::SetForegroundWindow(Handle());
  MSG msg{};
  while (!done_ && ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (::IsDialogMessageW(Handle(), &msg))
      continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  if (msg.message == WM_QUIT)
    ::PostQuitMessage(static_cast<int>(msg.wParam));
  if (owner != nullptr)
    ::EnableWindow(owner, TRUE);
  ::DestroyWindow(Handle());
  return fix_;
}

void TTrayNoticeWindow::Paint() {
  const ui::PaintScope paint(Handle());
  const HDC dc = paint.Dc();
  RECT client{};
  ::GetClientRect(Handle(), &client);
  ui::FillSolid(dc, client, RGB(0xFF, 0xFF, 0xFF));
  RECT bar{0, 0, client.right, Scale(kBarHeight)};
  ui::FillSolid(dc, bar, RGB(0x1F, 0x3A, 0x68));
  {
    const ui::SelectScope font(dc, bold_.Get());
    RECT caption = bar;
    caption.left = Scale(10);
    ui::DrawTextIn(dc, qp::win32::Wide(kNoticeCaption), caption, RGB(0xFF, 0xFF, 0xFF),
                   DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  }
  const int top = Scale(kBarHeight + 14 + shift_);
  const ui::UniqueGdi brush(::CreateSolidBrush(RGB(0xD8, 0x00, 0x00)));
  {
    const ui::SelectScope b(dc, brush.Get());
    ::Ellipse(dc, Scale(16), top, Scale(44), top + Scale(28));
  }
  const ui::SelectScope font(dc, font_.Get());
  RECT text{Scale(56), top, client.right - Scale(12), top + Scale(40)};
  ui::DrawTextIn(dc, text_, text, RGB(0, 0, 0), DT_LEFT | DT_WORDBREAK);
}

LRESULT TTrayNoticeWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_PAINT:
    Paint();
    return 0;
  case WM_ERASEBKGND:
    return 1;
  case WM_NCHITTEST: {
    // The top bar moves the window.
    POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ::ScreenToClient(Handle(), &at);
    if (at.y < Scale(kBarHeight))
      return HTCAPTION;
    break;
  }
  case WM_ACTIVATE:
    if (LOWORD(wParam) != WA_INACTIVE)
      ::SetForegroundWindow(Handle());
    break;
  case WM_CTLCOLORSTATIC:
  case WM_CTLCOLORBTN:
    return reinterpret_cast<LRESULT>(::GetStockObject(WHITE_BRUSH));
  case WM_COMMAND:
    switch (LOWORD(wParam)) {
    case idFix:
      fix_ = true;
      done_ = true;
      break;
    case IDCANCEL:
    case idClose:
      done_ = true;
      break;
    case idDoNotShow: {
      const bool checked =
          ::SendMessageW(::GetDlgItem(Handle(), idDoNotShow), BM_GETCHECK, 0, 0) == BST_CHECKED;
      qp::IgnoreResult(SaveDoNotShowNotice(checked)); // the box still shows the choice
      break;
    }
    default:
      break;
    }
    return 0;
  case WM_CLOSE:
    done_ = true;
    return 0;
  default:
    break;
  }
  return TWindow::OnMessage(message, wParam, lParam);
}

} // namespace quenlo::win
