#include "uDpi.h"

#include "platform/ScopeGuard.h"
#include "platform/win32/WinHandles.h"

namespace quenlo::ui {

TDpi TDpi::ForWindow(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI *)(HWND);
  static const auto getDpi = qp::win32::ProcAddress<GetDpiForWindowFn>(
      ::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow");
  if (getDpi != nullptr && hwnd != nullptr) {
    const UINT dpi = getDpi(hwnd);
    if (dpi != 0)
      return TDpi(dpi);
  }
  const HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  return TDpi(static_cast<UINT>(dpi));
}

void EnablePerMonitorDpiAwareness() {
  const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  using SetContextFn = BOOL(WINAPI *)(HANDLE);
  if (const auto setContext =
          qp::win32::ProcAddress<SetContextFn>(user32, "SetProcessDpiAwarenessContext")) {
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2; fails harmlessly when the
    // manifest already set it.
    if (setContext(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-4))) != FALSE)
      return;
  }
  using SetAwareFn = BOOL(WINAPI *)();
  if (const auto setAware = qp::win32::ProcAddress<SetAwareFn>(user32, "SetProcessDPIAware"))
    qp::IgnoreResult(setAware());
}

UniqueGdi CreateUiFont(const TDpi &dpi, const TFontStyle &style) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  LOGFONTW font{};
  if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0) != FALSE)
    font = metrics.lfMessageFont;
  else
    ::lstrcpynW(font.lfFaceName, L"Tahoma", LF_FACESIZE);
  font.lfHeight = -dpi.Scale(style.pixelHeight);
  font.lfWidth = 0;
  font.lfWeight = style.weight == TFontWeight::Bold ? FW_BOLD : FW_NORMAL;
  font.lfUnderline = style.underline ? TRUE : FALSE;
  font.lfQuality = CLEARTYPE_QUALITY;
  return UniqueGdi(::CreateFontIndirectW(&font));
}

} // namespace quenlo::ui
