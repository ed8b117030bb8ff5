#include "platform/win32/WinText.h"
#include "uViews.h"

namespace quenlo::win {

namespace {
constexpr wchar_t kPageClass[] = L"QuenloPage";
} // namespace

void TFonts::Build(ui::TDpi dpi) {
  normal = ui::CreateUiFont(dpi, {.pixelHeight = 13});
  bold = ui::CreateUiFont(dpi, {.pixelHeight = 13, .weight = ui::TFontWeight::Bold});
  title = ui::CreateUiFont(dpi, {.pixelHeight = 22, .weight = ui::TFontWeight::Bold});
  big = ui::CreateUiFont(dpi, {.pixelHeight = 16, .weight = ui::TFontWeight::Bold});
  link = ui::CreateUiFont(dpi, {.pixelHeight = 13, .underline = true});
}

bool TPageView::Create(HWND parent) {
  RegisterOnce(kPageClass, CS_HREDRAW | CS_VREDRAW, ::GetSysColorBrush(COLOR_WINDOW));
  if (!CreateFrom({.className = kPageClass,
                   .style = WS_CHILD | WS_CLIPCHILDREN,
                   .exStyle = WS_EX_CONTROLPARENT,
                   .parent = parent}))
    return false;
  Build();
  ApplyFonts();
  return true;
}

HWND TPageView::Add(const wchar_t *cls, const std::wstring &text, DWORD style, int id, HFONT font) {
  const HWND hwnd = ui::CreateControl(Handle(), cls, text, WS_VISIBLE | style, id, font);
  controls_.emplace_back(hwnd);
  return hwnd;
}

void TPageView::ApplyFonts() {
  for (const ui::UniqueHwnd &control : controls_) {
    HFONT font = ui::AsFont(ctx_.fonts.normal);
    for (const auto &[hwnd, role] : fontRoles_) {
      if (hwnd != control.Get())
        continue;
      switch (role) {
      case 1:
        font = ui::AsFont(ctx_.fonts.bold);
        break;
      case 2:
        font = ui::AsFont(ctx_.fonts.title);
        break;
      case 3:
        font = ui::AsFont(ctx_.fonts.big);
        break;
      case 4:
        font = ui::AsFont(ctx_.fonts.link);
        break;
      default:
        break;
      }
    }
    ::SendMessageW(control.Get(), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
}

void TPageView::Place(int id, int x, int y, int w, int h) const {
  ::MoveWindow(Item(id), Scale(x), Scale(y), Scale(w), Scale(h), TRUE);
}

void TPageView::SetText(int id, const std::string &utf8) const {
  const std::wstring wide = qp::win32::Wide(utf8);
  wchar_t current[512] = {};
  ::GetWindowTextW(Item(id), current, 512);
  if (wide != current) // unchanged text is not set again: no flicker
    ::SetWindowTextW(Item(id), wide.c_str());
}

void TPageView::Enable(int id, bool enabled) const {
  ::EnableWindow(Item(id), enabled ? TRUE : FALSE);
}

void TPageView::Visible(int id, bool shown) const {
  ::ShowWindow(Item(id), shown ? SW_SHOW : SW_HIDE);
}

int TPageView::Width() const {
  RECT r{};
  ::GetClientRect(Handle(), &r);
  return ::MulDiv(r.right, 96, static_cast<int>(Dpi().Value()));
}

int TPageView::Height() const {
  RECT r{};
  ::GetClientRect(Handle(), &r);
  return ::MulDiv(r.bottom, 96, static_cast<int>(Dpi().Value()));
}

void TPageView::OnDpiChanged() {
  ApplyFonts();
  Layout();
}

LRESULT TPageView::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_SIZE:
    Layout();
    return 0;
  case WM_COMMAND:
    if (lParam != 0) {
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      if (ctx_.requestRefresh)
        ctx_.requestRefresh();
    }
    return 0;
  case WM_NOTIFY: {
    bool handled = false;
    const LRESULT result = OnNotify(*reinterpret_cast<const NMHDR *>(lParam), handled);
    if (handled)
      return result;
    return TWindow::OnMessage(message, wParam, lParam);
  }
  case WM_MEASUREITEM:
  case WM_DRAWITEM:
    if (OnOwnerDrawn(message, lParam))
      return TRUE;
    return TWindow::OnMessage(message, wParam, lParam);
  case WM_CTLCOLORSTATIC: {
    const HDC dc = reinterpret_cast<HDC>(wParam);
    ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
    return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
  }
  case WM_PAINT: {
    const ui::PaintScope paint(Handle());
    PaintExtra(paint.Dc());
    return 0;
  }
  default:
    return TWindow::OnMessage(message, wParam, lParam);
  }
}

// --- placeholder pages
namespace {
enum : int { idPlaceTitle = 10, idPlaceText = 11 };
}

void TPlaceholderPageView::Build() {
  fontRoles_.emplace_back(Add(L"STATIC", title_, SS_LEFT, idPlaceTitle), 2);
  Add(L"STATIC",
      L"This feature comes in a later version of Quenlo. The registry scan and repair are "
      L"available now: choose \"Registry Scan\" above.",
      SS_LEFT, idPlaceText);
}

void TPlaceholderPageView::Layout() {
  Place(idPlaceTitle, 24, 16, Width() - 48, 32);
  Place(idPlaceText, 24, 64, Width() - 48, 60);
}

} // namespace quenlo::win
