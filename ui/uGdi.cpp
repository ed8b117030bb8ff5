#include "uGdi.h"

namespace quenlo::ui {

void FillSolid(HDC dc, const RECT &rect, COLORREF colour) {
  const UniqueGdi brush(::CreateSolidBrush(colour));
  ::FillRect(dc, &rect, static_cast<HBRUSH>(brush.Get()));
}

void DrawTextIn(HDC dc, const std::wstring &text, RECT rect, COLORREF colour, UINT flags) {
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, colour);
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, flags | DT_NOPREFIX);
}

} // namespace quenlo::ui
