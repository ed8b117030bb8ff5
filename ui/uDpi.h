// Scaling for per-monitor DPI (v2): every length in the widgets is written in
// 96-DPI pixels and scaled by the DPI of the window it is drawn in. The DPI
// is read with GetDpiForWindow where the system has it (looked up at run
// time: older systems and Wine builds without it fall back to the screen's).
#pragma once

#include "platform/win32/WinApi.h"
#include "uGdi.h"

namespace quenlo::ui {

inline constexpr UINT BaseDpi = 96;

class TDpi {
public:
  TDpi() = default;
  explicit TDpi(UINT dpi) : dpi_(dpi == 0 ? BaseDpi : dpi) {}
  static TDpi ForWindow(HWND hwnd);
  UINT Value() const { return dpi_; }
  int Scale(int pixelsAt96) const { return ::MulDiv(pixelsAt96, static_cast<int>(dpi_), 96); }

private:
  UINT dpi_ = BaseDpi;
};

// Asks for per-monitor v2 awareness when the manifest could not (a system
// that reads only the older dpiAware element). Call before any window.
void EnablePerMonitorDpiAwareness();

enum class TFontWeight { Normal, Bold };
struct TFontStyle {
  int pixelHeight = 13; // at 96 DPI
  TFontWeight weight = TFontWeight::Normal;
  bool underline = false;
};
// The system's message font face at the given size, scaled for dpi.
UniqueGdi CreateUiFont(const TDpi &dpi, const TFontStyle &style);

} // namespace quenlo::ui
