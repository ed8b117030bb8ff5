// The window base of every widget and page: owns its HWND (destroyed with
// the object), routes the window procedure to a virtual member through a
// thunk, and keeps the DPI the window is shown at. Standard controls inside
// a window are owned through UniqueHwnd.
#pragma once

#include <functional>
#include <string>

#include "platform/UniqueAny.h"
#include "platform/win32/WinApi.h"
#include "uDpi.h"

namespace quenlo::ui {

struct WindowTraits {
  using Handle = HWND;
  static constexpr HWND Invalid() noexcept { return nullptr; }
  static void Close(HWND h) noexcept { ::DestroyWindow(h); }
};
using UniqueHwnd = qp::TUniqueAny<WindowTraits>;

struct TWindowParams {
  const wchar_t *className = nullptr;
  std::wstring text{};
  DWORD style = WS_CHILD | WS_VISIBLE;
  DWORD exStyle = 0;
  HWND parent = nullptr;
  RECT bounds{0, 0, 0, 0};
  int id = 0; // child windows: the control id
};

class TWindow {
public:
  TWindow() = default;
  TWindow(const TWindow &) = delete;
  TWindow &operator=(const TWindow &) = delete;
  virtual ~TWindow();

  HWND Handle() const { return hwnd_; }
  TDpi Dpi() const { return dpi_; }
  int Scale(int pixelsAt96) const { return dpi_.Scale(pixelsAt96); }
  void Show(bool shown) const;
  void MoveTo(const RECT &bounds) const;
  // A parent tells its children the DPI it moved to.
  void ChangeDpi(TDpi dpi) {
    dpi_ = dpi;
    OnDpiChanged();
  }

  // Called with the text of an exception a window procedure let through
  // (it must not unwind into the system's code); null: none.
  static void SetFatalHandler(std::function<void(const std::string &)> handler);

  // Registers a window class of this module once; later calls do nothing.
  static void RegisterOnce(const wchar_t *className, UINT style = CS_HREDRAW | CS_VREDRAW,
                           HBRUSH background = nullptr);

protected:
  // Creates the window; false when CreateWindowEx failed.
  [[nodiscard]] bool CreateFrom(const TWindowParams &params);
  virtual LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // Called after the DPI changed (WM_DPICHANGED on a top-level window, or
  // told by the parent); rebuild fonts and lay out again.
  virtual void OnDpiChanged() {}

private:
  static LRESULT CALLBACK Thunk(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  HWND hwnd_ = nullptr;
  TDpi dpi_;
};

// A standard control (button, static, edit, list view ...) as a child.
HWND CreateControl(HWND parent, const wchar_t *className, const std::wstring &text, DWORD style,
                   int id, HFONT font);
void SetWindowTextUtf8(HWND hwnd, const std::string &text);

// Centres a top-level window over its owner, or over the work area of the
// owner's monitor when the owner is absent or hidden.
void CentreOver(HWND window, HWND owner);
// The modal loop of a dialog built as a plain window: the owner is off,
// the dialog shown with the focus on focus, until done is set (or the
// program ends: the quit is posted again for the outer loop); then the
// owner is on again before the dialog hides, so it is activated next.
void RunModalLoop(HWND dialog, HWND owner, HWND focus, const bool &done);

} // namespace quenlo::ui
