#include "uHeaderBar.h"

#include <algorithm>

namespace quenlo::ui {

namespace {
constexpr wchar_t kClass[] = L"QuenloHeaderBar";
constexpr int kFirstButtonId = 1000;
constexpr COLORREF kBand = RGB(0x1F, 0x3A, 0x68);
constexpr COLORREF kBandText = RGB(0xFF, 0xFF, 0xFF);
constexpr COLORREF kSelected = RGB(0xFF, 0xFF, 0xFF);
constexpr COLORREF kSelectedText = RGB(0x1F, 0x3A, 0x68);
constexpr COLORREF kHot = RGB(0x2E, 0x55, 0x94);
constexpr COLORREF kDisabledText = RGB(0x8A, 0x97, 0xAD);
constexpr int kTitleWidth = 130;
constexpr int kButtonFontPixels = 12;
constexpr int kSmallestButtonFontPixels = 8;
constexpr int kCaptionPadding = 10; // each side, room for the focus frame
} // namespace

bool THeaderBar::Create(HWND parent, int id, const std::vector<std::wstring> &captions) {
  RegisterOnce(kClass);
  if (!CreateFrom({.className = kClass,
                   .style = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN,
                   .exStyle = WS_EX_CONTROLPARENT,
                   .parent = parent,
                   .id = id}))
    return false;
  captions_ = captions;
  OnDpiChanged();
  for (std::size_t i = 0; i < captions.size(); ++i) {
    buttons_.emplace_back(CreateControl(Handle(), L"BUTTON", captions[i],
                                        WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW,
                                        kFirstButtonId + static_cast<int>(i), AsFont(font_)));
  }
  Layout();
  return true;
}

void THeaderBar::OnDpiChanged() {
  fontPixels_ = 0; // chosen again for the new DPI
  FitFont(0);
  titleFont_ = CreateUiFont(Dpi(), {.pixelHeight = 22, .weight = TFontWeight::Bold});
  Layout();
}

int THeaderBar::WidestCaption() const {
  const WindowDcScope dc(Handle());
  if (dc.Dc() == nullptr)
    return 0;
  const SelectScope font(dc.Dc(), font_.Get());
  int widest = 0;
  for (const std::wstring &caption : captions_) {
    SIZE size{};
    if (::GetTextExtentPoint32W(dc.Dc(), caption.c_str(), static_cast<int>(caption.size()), &size))
      widest = std::max(widest, static_cast<int>(size.cx));
  }
  return widest;
}

void THeaderBar::FitFont(int buttonWidth) {
  int pixels = kButtonFontPixels;
  for (;;) {
    if (pixels != fontPixels_) {
      font_ = CreateUiFont(Dpi(), {.pixelHeight = pixels, .weight = TFontWeight::Bold});
      fontPixels_ = pixels;
    }
    const bool fits =
        buttonWidth <= 0 || WidestCaption() + 2 * Scale(kCaptionPadding) <= buttonWidth;
    if (fits || pixels <= kSmallestButtonFontPixels)
      break;
    --pixels;
  }
  for (const UniqueHwnd &button : buttons_)
    ::SendMessageW(button.Get(), WM_SETFONT, reinterpret_cast<WPARAM>(AsFont(font_)), FALSE);
}

void THeaderBar::Select(int index) {
  selected_ = index;
  for (const UniqueHwnd &button : buttons_)
    ::InvalidateRect(button.Get(), nullptr, TRUE);
}

void THeaderBar::EnableButtons(bool enabled) {
  for (const UniqueHwnd &button : buttons_)
    ::EnableWindow(button.Get(), enabled ? TRUE : FALSE);
}

void THeaderBar::Layout() {
  if (buttons_.empty())
    return;
  RECT client{};
  ::GetClientRect(Handle(), &client);
  const int left = Scale(kTitleWidth);
  const int count = static_cast<int>(buttons_.size());
  const int width = (client.right - left - Scale(8)) / count;
  const int top = Scale(8);
  const int height = client.bottom - top;
  FitFont(width - Scale(4));
  for (int i = 0; i < count; ++i)
    ::MoveWindow(buttons_[i].Get(), left + i * width, top, width - Scale(4), height, TRUE);
}

void THeaderBar::Draw(const DRAWITEMSTRUCT &item) const {
  const int index = static_cast<int>(item.CtlID) - kFirstButtonId;
  if (index < 0 || index >= static_cast<int>(captions_.size()))
    return;
  const bool selected = index == selected_;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  COLORREF back = selected ? kSelected : (pressed ? kHot : kBand);
  COLORREF text = selected ? kSelectedText : kBandText;
  if (disabled && !selected)
    text = kDisabledText;
  FillSolid(item.hDC, item.rcItem, back);
  const SelectScope font(item.hDC, font_.Get());
  RECT r = item.rcItem;
  DrawTextIn(item.hDC, captions_[index], r, text,
             DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
  if ((item.itemState & ODS_FOCUS) != 0) {
    ::InflateRect(&r, -Scale(3), -Scale(3));
    ::DrawFocusRect(item.hDC, &r);
  }
}

void THeaderBar::Paint() {
  const PaintScope paint(Handle());
  RECT client{};
  ::GetClientRect(Handle(), &client);
  FillSolid(paint.Dc(), client, kBand);
  const SelectScope font(paint.Dc(), titleFont_.Get());
  RECT title{Scale(12), 0, Scale(kTitleWidth), client.bottom};
  DrawTextIn(paint.Dc(), L"Quenlo", title, kBandText, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
}

LRESULT THeaderBar::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_SIZE:
    Layout();
    return 0;
  case WM_PAINT:
    Paint();
    return 0;
  case WM_ERASEBKGND:
    return 1;
  case WM_DRAWITEM:
    Draw(*reinterpret_cast<const DRAWITEMSTRUCT *>(lParam));
    return TRUE;
  case WM_COMMAND:
    if (HIWORD(wParam) == BN_CLICKED && OnClick) {
      const int index = LOWORD(wParam) - kFirstButtonId;
      if (index >= 0 && index < static_cast<int>(buttons_.size())) {
        // A page button shows itself chosen at once, as a tab does; the
        // logic selects another one when it refuses the page.
        Select(index);
        OnClick(index);
      }
    }
    return 0;
  default:
    return TWindow::OnMessage(message, wParam, lParam);
  }
}

} // namespace quenlo::ui
