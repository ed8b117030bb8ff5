#include "uHealthGauge.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quenlo::ui {

namespace {
constexpr wchar_t kClass[] = L"QuenloHealthGauge";

struct TBand {
  int from; // percent
  int to;
  COLORREF colour;
};
constexpr TBand kBands[] = {{0, 42, RGB(0xD8, 0x00, 0x00)},
                            {42, 85, RGB(0xFF, 0xAE, 0x00)},
                            {85, 100, RGB(0x00, 0xA8, 0x00)}};

// The point on a circle at a share (0..1) of the half-turn from the left.
POINT OnArc(POINT centre, int radius, double share) {
  const double angle = std::numbers::pi * (1.0 - share);
  return {centre.x + static_cast<LONG>(std::lround(radius * std::cos(angle))),
          centre.y - static_cast<LONG>(std::lround(radius * std::sin(angle)))};
}
} // namespace

bool THealthGauge::Create(HWND parent, int id) {
  RegisterOnce(kClass);
  if (!CreateFrom(
          {.className = kClass, .style = WS_CHILD | WS_VISIBLE, .parent = parent, .id = id}))
    return false;
  OnDpiChanged();
  return true;
}

void THealthGauge::OnDpiChanged() {
  textFont_ = CreateUiFont(Dpi(), {.pixelHeight = 20, .weight = TFontWeight::Bold});
  noteFont_ = CreateUiFont(Dpi(), {.pixelHeight = 12});
  ::InvalidateRect(Handle(), nullptr, TRUE);
}

void THealthGauge::SetState(const TGaugeState &state) {
  state_ = state;
  // The window's text names the rating for screen readers.
  const std::wstring name = state.note.empty() ? state.text : state.text + L" " + state.note;
  ::SetWindowTextW(Handle(), name.c_str());
  ::InvalidateRect(Handle(), nullptr, TRUE);
}

void THealthGauge::Paint() {
  const PaintScope paint(Handle());
  const HDC dc = paint.Dc();
  RECT client{};
  ::GetClientRect(Handle(), &client);
  FillSolid(dc, client, RGB(0xFF, 0xFF, 0xFF));
  const int textHeight = Scale(56);
  const int width = client.right - client.left;
  const int radius = std::max(
      10, std::min(width / 2 - Scale(8), static_cast<int>(client.bottom) - textHeight - Scale(8)));
  const POINT centre{width / 2, Scale(8) + radius};
  const RECT box{centre.x - radius, centre.y - radius, centre.x + radius, centre.y + radius};
  const UniqueGdi noPen(::CreatePen(PS_NULL, 0, 0));
  {
    const SelectScope pen(dc, noPen.Get());
    for (const TBand &band : kBands) {
      const UniqueGdi brush(::CreateSolidBrush(band.colour));
      const SelectScope selected(dc, brush.Get());
      // Pie runs counter-clockwise from the first radial to the second.
      const POINT start = OnArc(centre, radius, band.to / 100.0);
      const POINT end = OnArc(centre, radius, band.from / 100.0);
      ::Pie(dc, box.left, box.top, box.right, box.bottom, start.x, start.y, end.x, end.y);
    }
    const int inner = radius * 62 / 100;
    const SelectScope white(dc, ::GetStockObject(WHITE_BRUSH));
    ::Ellipse(dc, centre.x - inner, centre.y - inner, centre.x + inner, centre.y + inner);
  }
  const double share = std::clamp(state_.percent, 0, 100) / 100.0;
  const POINT tip = OnArc(centre, radius * 90 / 100, share);
  const UniqueGdi needlePen(::CreatePen(PS_SOLID, std::max(2, Scale(3)), RGB(0x30, 0x30, 0x30)));
  {
    const SelectScope pen(dc, needlePen.Get());
    ::MoveToEx(dc, centre.x, centre.y, nullptr);
    ::LineTo(dc, tip.x, tip.y);
    const SelectScope hub(dc, ::GetStockObject(DKGRAY_BRUSH));
    const int r = Scale(6);
    ::Ellipse(dc, centre.x - r, centre.y - r, centre.x + r, centre.y + r);
  }
  RECT text{0, centre.y + Scale(14), width, centre.y + Scale(42)};
  {
    const SelectScope font(dc, textFont_.Get());
    DrawTextIn(dc, state_.text, text, state_.textColour, DT_CENTER | DT_SINGLELINE | DT_VCENTER);
  }
  if (!state_.note.empty()) {
    RECT note{0, text.bottom, width, text.bottom + Scale(20)};
    const SelectScope font(dc, noteFont_.Get());
    DrawTextIn(dc, state_.note, note, RGB(0x40, 0x40, 0x40), DT_CENTER | DT_SINGLELINE);
  }
}

LRESULT THealthGauge::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_PAINT:
    Paint();
    return 0;
  case WM_ERASEBKGND:
    return 1;
  default:
    return TWindow::OnMessage(message, wParam, lParam);
  }
}

} // namespace quenlo::ui
