#include "uCategoryLine.h"

#include <algorithm>
#include <string>

namespace quenlo::ui {

namespace {
constexpr wchar_t kClass[] = L"QuenloCategoryLine";
constexpr int kBoxId = 1;
constexpr int kCountWidth = 56;
constexpr int kGlyphWidth = 22;
} // namespace

bool TCategoryLine::Create(HWND parent, int id, HFONT font, HFONT boldFont) {
  RegisterOnce(kClass);
  if (!CreateFrom({.className = kClass,
                   .style = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN,
                   .exStyle = WS_EX_CONTROLPARENT,
                   .parent = parent,
                   .id = id}))
    return false;
  font_ = font;
  boldFont_ = boldFont;
  box_.Reset(CreateControl(Handle(), L"BUTTON", L"",
                           WS_VISIBLE | WS_TABSTOP | BS_CHECKBOX | BS_NOTIFY, kBoxId, font));
  return true;
}

void TCategoryLine::SetFonts(HFONT font, HFONT boldFont) {
  font_ = font;
  boldFont_ = boldFont;
  ::SendMessageW(box_.Get(), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  Layout();
}

void TCategoryLine::SetState(const TCategoryLineState &state) {
  if (state == state_)
    return; // a page refresh repaints only the lines that changed
  const bool relayout = state.scanning != state_.scanning || state.name != state_.name;
  state_ = state;
  ::SetWindowTextW(box_.Get(), state.name.c_str());
  ::SendMessageW(box_.Get(), BM_SETCHECK, state.checked ? BST_CHECKED : BST_UNCHECKED, 0);
  ::ShowWindow(box_.Get(), state.scanning ? SW_HIDE : SW_SHOW);
  if (relayout)
    Layout();
  ::InvalidateRect(Handle(), nullptr, TRUE);
}

void TCategoryLine::Layout() {
  RECT client{};
  ::GetClientRect(Handle(), &client);
  const int right = client.right - Scale(kCountWidth + kGlyphWidth);
  ::MoveWindow(box_.Get(), Scale(4), 0, std::max(10, right - Scale(4)), client.bottom, TRUE);
}

void TCategoryLine::DrawGlyph(HDC dc, const RECT &area) const {
  if (state_.glyph == TLineGlyph::None)
    return;
  const bool clean = state_.glyph == TLineGlyph::Clean;
  const int size = std::min(area.right - area.left, area.bottom - area.top) - Scale(4);
  const int left = area.left + (area.right - area.left - size) / 2;
  const int top = area.top + (area.bottom - area.top - size) / 2;
  const UniqueGdi brush(::CreateSolidBrush(clean ? RGB(0x00, 0xA8, 0x00) : RGB(0xD8, 0x00, 0x00)));
  const UniqueGdi noPen(::CreatePen(PS_NULL, 0, 0));
  {
    const SelectScope b(dc, brush.Get());
    const SelectScope p(dc, noPen.Get());
    ::Ellipse(dc, left, top, left + size + 1, top + size + 1);
  }
  const UniqueGdi white(::CreatePen(PS_SOLID, std::max(2, Scale(2)), RGB(0xFF, 0xFF, 0xFF)));
  const SelectScope p(dc, white.Get());
  if (clean) {
    ::MoveToEx(dc, left + size * 25 / 100, top + size * 52 / 100, nullptr);
    ::LineTo(dc, left + size * 43 / 100, top + size * 70 / 100);
    ::LineTo(dc, left + size * 75 / 100, top + size * 32 / 100);
  } else {
    ::MoveToEx(dc, left + size / 2, top + size * 22 / 100, nullptr);
    ::LineTo(dc, left + size / 2, top + size * 58 / 100);
    ::MoveToEx(dc, left + size / 2, top + size * 72 / 100, nullptr);
    ::LineTo(dc, left + size / 2, top + size * 78 / 100);
  }
}

void TCategoryLine::Paint() {
  const PaintScope paint(Handle());
  const HDC dc = paint.Dc();
  RECT client{};
  ::GetClientRect(Handle(), &client);
  FillSolid(dc, client, ::GetSysColor(COLOR_WINDOW));
  const int countLeft = client.right - Scale(kCountWidth + kGlyphWidth);
  if (state_.scanning) {
    const SelectScope font(dc, font_);
    RECT name{Scale(22), 0, countLeft, client.bottom};
    DrawTextIn(dc, state_.name, name, ::GetSysColor(COLOR_WINDOWTEXT),
               DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
  }
  if (state_.countShown) {
    const SelectScope font(dc, state_.bold ? boldFont_ : font_);
    RECT count{countLeft, 0, client.right - Scale(kGlyphWidth + 4), client.bottom};
    DrawTextIn(dc, std::to_wstring(state_.count), count,
               state_.count > 0 ? RGB(0xD8, 0x00, 0x00) : ::GetSysColor(COLOR_WINDOWTEXT),
               DT_RIGHT | DT_VCENTER | DT_SINGLELINE);
  }
  DrawGlyph(dc, RECT{client.right - Scale(kGlyphWidth), 0, client.right, client.bottom});
}

LRESULT TCategoryLine::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_SIZE:
    Layout();
    return 0;
  case WM_PAINT:
    Paint();
    return 0;
  case WM_ERASEBKGND:
    return 1;
  case WM_CTLCOLORSTATIC:
  case WM_CTLCOLORBTN: {
    const HDC dc = reinterpret_cast<HDC>(wParam);
    ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
    return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
  }
  case WM_COMMAND:
    if (LOWORD(wParam) == kBoxId) {
      if (HIWORD(wParam) == BN_CLICKED && OnToggle)
        OnToggle();
      else if (HIWORD(wParam) == BN_SETFOCUS && OnHover)
        OnHover();
    }
    return 0;
  case WM_MOUSEMOVE:
    if (!tracking_) {
      TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, Handle(), 0};
      tracking_ = ::TrackMouseEvent(&track) != FALSE;
      if (OnHover)
        OnHover();
    }
    return 0;
  case WM_MOUSELEAVE:
    tracking_ = false;
    return 0;
  case WM_SETCURSOR:
    // Also sent when the pointer is over the check box, which keeps its
    // own mouse messages.
    if (HIWORD(lParam) == WM_MOUSEMOVE && OnHover)
      OnHover();
    return TWindow::OnMessage(message, wParam, lParam);
  default:
    return TWindow::OnMessage(message, wParam, lParam);
  }
}

} // namespace quenlo::ui
