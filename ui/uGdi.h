// Owning wrappers for the GDI and USER objects the widgets create, and the
// small drawing helpers they share.
#pragma once

#include <string>

#include "platform/UniqueAny.h"
#include "platform/win32/WinApi.h"

namespace quenlo::ui {

struct GdiObjectTraits {
  using Handle = HGDIOBJ;
  static constexpr HGDIOBJ Invalid() noexcept { return nullptr; }
  static void Close(HGDIOBJ h) noexcept { ::DeleteObject(h); }
};
struct MenuTraits {
  using Handle = HMENU;
  static constexpr HMENU Invalid() noexcept { return nullptr; }
  static void Close(HMENU h) noexcept { ::DestroyMenu(h); }
};
struct IconTraits {
  using Handle = HICON;
  static constexpr HICON Invalid() noexcept { return nullptr; }
  static void Close(HICON h) noexcept { ::DestroyIcon(h); }
};
struct AccelTraits {
  using Handle = HACCEL;
  static constexpr HACCEL Invalid() noexcept { return nullptr; }
  static void Close(HACCEL h) noexcept { ::DestroyAcceleratorTable(h); }
};
struct ModuleTraits {
  using Handle = HMODULE;
  static constexpr HMODULE Invalid() noexcept { return nullptr; }
  static void Close(HMODULE h) noexcept { ::FreeLibrary(h); }
};

struct MemoryDcTraits {
  using Handle = HDC;
  static constexpr HDC Invalid() noexcept { return nullptr; }
  static void Close(HDC h) noexcept { ::DeleteDC(h); }
};

using UniqueGdi = qp::TUniqueAny<GdiObjectTraits>;
using UniqueMemoryDc = qp::TUniqueAny<MemoryDcTraits>;
using UniqueMenu = qp::TUniqueAny<MenuTraits>;
using UniqueIcon = qp::TUniqueAny<IconTraits>;
using UniqueAccel = qp::TUniqueAny<AccelTraits>;
using UniqueModule = qp::TUniqueAny<ModuleTraits>;

inline HFONT AsFont(const UniqueGdi &font) {
  return static_cast<HFONT>(font.Get());
}

// Selects an object into a DC for the life of the scope.
class SelectScope {
public:
  SelectScope(HDC dc, HGDIOBJ object) : dc_(dc), old_(::SelectObject(dc, object)) {}
  SelectScope(const SelectScope &) = delete;
  SelectScope &operator=(const SelectScope &) = delete;
  ~SelectScope() { ::SelectObject(dc_, old_); }

private:
  HDC dc_;
  HGDIOBJ old_;
};

// BeginPaint/EndPaint.
class PaintScope {
public:
  explicit PaintScope(HWND hwnd) : hwnd_(hwnd) { dc_ = ::BeginPaint(hwnd, &ps_); }
  PaintScope(const PaintScope &) = delete;
  PaintScope &operator=(const PaintScope &) = delete;
  ~PaintScope() { ::EndPaint(hwnd_, &ps_); }
  HDC Dc() const { return dc_; }

private:
  HWND hwnd_;
  PAINTSTRUCT ps_{};
  HDC dc_ = nullptr;
};

// GetDC/ReleaseDC: a window's DC for measuring outside WM_PAINT.
class WindowDcScope {
public:
  explicit WindowDcScope(HWND hwnd) : hwnd_(hwnd), dc_(::GetDC(hwnd)) {}
  WindowDcScope(const WindowDcScope &) = delete;
  WindowDcScope &operator=(const WindowDcScope &) = delete;
  ~WindowDcScope() {
    if (dc_ != nullptr)
      ::ReleaseDC(hwnd_, dc_);
  }
  HDC Dc() const { return dc_; }

private:
  HWND hwnd_;
  HDC dc_;
};

// An RGB value written 0xRRGGBB (as page logic gives colours) to a COLORREF.
constexpr COLORREF FromRgb(std::uint32_t rgb) {
  return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

void FillSolid(HDC dc, const RECT &rect, COLORREF colour);
// Draws UTF-16 text in a rectangle with DrawTextW flags and a colour.
void DrawTextIn(HDC dc, const std::wstring &text, RECT rect, COLORREF colour, UINT flags);

} // namespace quenlo::ui
