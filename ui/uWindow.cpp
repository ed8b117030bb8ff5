#include "uWindow.h"

#include <exception>

#include "platform/win32/WinText.h"

namespace quenlo::ui {

namespace {
std::function<void(const std::string &)> &FatalHandler() {
  static std::function<void(const std::string &)> handler;
  return handler;
}

void ReportFatal(const char *text) {
  if (FatalHandler())
    FatalHandler()(text);
}
} // namespace

void TWindow::SetFatalHandler(std::function<void(const std::string &)> handler) {
  FatalHandler() = std::move(handler);
}

TWindow::~TWindow() {
  if (hwnd_ != nullptr) {
    // Messages sent while the window goes away must not reach a half
    // destroyed object.
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    ::DestroyWindow(hwnd_);
  }
}

void TWindow::Show(bool shown) const {
  if (hwnd_ != nullptr)
    ::ShowWindow(hwnd_, shown ? SW_SHOW : SW_HIDE);
}

void TWindow::MoveTo(const RECT &bounds) const {
  if (hwnd_ != nullptr)
    ::MoveWindow(hwnd_, bounds.left, bounds.top, bounds.right - bounds.left,
                 bounds.bottom - bounds.top, TRUE);
}

void TWindow::RegisterOnce(const wchar_t *className, UINT style, HBRUSH background) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof(existing);
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  if (::GetClassInfoExW(instance, className, &existing) != FALSE)
    return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = style;
  wc.lpfnWndProc = &TWindow::Thunk;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = background != nullptr ? background : ::GetSysColorBrush(COLOR_WINDOW);
  wc.lpszClassName = className;
  wc.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
  ::RegisterClassExW(&wc);
}

bool TWindow::CreateFrom(const TWindowParams &params) {
  const RECT &r = params.bounds;
  const HWND hwnd = ::CreateWindowExW(
      params.exStyle, params.className, params.text.c_str(), params.style, r.left, r.top,
      r.right - r.left, r.bottom - r.top, params.parent,
      (params.style & WS_CHILD) != 0 ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(params.id))
                                     : nullptr,
      ::GetModuleHandleW(nullptr), this);
  if (hwnd == nullptr)
    return false;
  dpi_ = TDpi::ForWindow(hwnd);
  return true;
}

LRESULT TWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK TWindow::Thunk(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto *create = reinterpret_cast<CREATESTRUCTW *>(lParam);
    auto *self = static_cast<TWindow *>(create->lpCreateParams);
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto *self = reinterpret_cast<TWindow *>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr)
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_DPICHANGED && (::GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD) == 0) {
    self->dpi_ = TDpi(HIWORD(wParam));
    const auto *suggested = reinterpret_cast<const RECT *>(lParam);
    ::SetWindowPos(hwnd, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    self->OnDpiChanged();
    return 0;
  }
  LRESULT result = 0;
  try {
    result = self->OnMessage(message, wParam, lParam);
  } catch (const std::exception &error) {
    ReportFatal(error.what());
    result = ::DefWindowProcW(hwnd, message, wParam, lParam);
  } catch (...) {
    ReportFatal("an unknown exception");
    result = ::DefWindowProcW(hwnd, message, wParam, lParam);
  }
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
  }
  return result;
}

HWND CreateControl(HWND parent, const wchar_t *className, const std::wstring &text, DWORD style,
                   int id, HFONT font) {
  const HWND hwnd = ::CreateWindowExW(0, className, text.c_str(), WS_CHILD | style, 0, 0, 10, 10,
                                      parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                      ::GetModuleHandleW(nullptr), nullptr);
  if (hwnd != nullptr && font != nullptr)
    ::SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return hwnd;
}

void SetWindowTextUtf8(HWND hwnd, const std::string &text) {
  if (hwnd != nullptr)
    ::SetWindowTextW(hwnd, qp::win32::Wide(text).c_str());
}

void CentreOver(HWND window, HWND owner) {
  RECT area{};
  if (owner != nullptr && ::IsWindowVisible(owner) != FALSE) {
    ::GetWindowRect(owner, &area);
  } else {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ::GetMonitorInfoW(::MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY), &monitor);
    area = monitor.rcWork;
  }
  RECT own{};
  ::GetWindowRect(window, &own);
  const int w = own.right - own.left;
  const int h = own.bottom - own.top;
  ::SetWindowPos(window, nullptr, (area.left + area.right - w) / 2,
                 (area.top + area.bottom - h) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void RunModalLoop(HWND dialog, HWND owner, HWND focus, const bool &done) {
  if (owner != nullptr)
    ::EnableWindow(owner, FALSE);
  ::ShowWindow(dialog, SW_SHOW);
  ::SetFocus(focus);
  MSG msg{};
  while (!done) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      if (got == 0)
        ::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (::IsDialogMessageW(dialog, &msg) != FALSE)
      continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  if (owner != nullptr)
    ::EnableWindow(owner, TRUE);
  ::ShowWindow(dialog, SW_HIDE);
}

} // namespace quenlo::ui
