#include "uRowList.h"

#include <algorithm>

#include "uGdi.h"

namespace quenlo::ui {

namespace {
constexpr int kWheelStepAt96 = 34;
constexpr int kWheelLinesPerNotch = 3;
} // namespace

bool TRowList::Create(HWND parent, int id) {
  id_ = id;
  RegisterOnce(kRowListClass, CS_DBLCLKS, ::GetSysColorBrush(COLOR_WINDOW));
  return CreateFrom({.className = kRowListClass,
                     .style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL,
                     .exStyle = WS_EX_CLIENTEDGE,
                     .parent = parent,
                     .bounds = {0, 0, 10, 10},
                     .id = id});
}

int TRowList::HeightOf(int row) const {
  const int at96 = source_.heightAt96 ? source_.heightAt96(row) : 20;
  return std::max(1, Scale(at96));
}

int TRowList::TopOf(int row) const {
  int y = 0;
  for (int i = 0; i < row && i < rows_; ++i)
    y += HeightOf(i);
  return y;
}

int TRowList::TotalHeight() const {
  return TopOf(rows_);
}

int TRowList::RowAt(int y) const {
  if (y < 0)
    return -1;
  int top = 0;
  for (int i = 0; i < rows_; ++i) {
    top += HeightOf(i);
    if (y < top)
      return i;
  }
  return -1;
}

int TRowList::ClientHeight() const {
  RECT client{};
  ::GetClientRect(Handle(), &client);
  return client.bottom - client.top;
}

void TRowList::SetRowCount(int rows) {
  rows_ = std::max(0, rows);
  if (selected_ >= rows_)
    selected_ = rows_ - 1;
  ScrollTo(offset_);
}

void TRowList::Select(int row) {
  selected_ = row >= 0 && row < rows_ ? row : -1;
  if (selected_ >= 0)
    EnsureVisible(selected_);
  Refresh();
}

int TRowList::TopRow() const {
  const int row = RowAt(offset_);
  return row < 0 ? 0 : row;
}

void TRowList::ScrollToTop(int row) {
  if (row >= 0 && row < rows_)
    ScrollTo(TopOf(row));
}

void TRowList::Refresh() const {
  if (Handle() != nullptr)
    ::InvalidateRect(Handle(), nullptr, FALSE);
}

void TRowList::ScrollTo(int offset) {
  const int most = std::max(0, TotalHeight() - ClientHeight());
  offset_ = std::clamp(offset, 0, most);
  UpdateScrollBar();
  Refresh();
}

void TRowList::EnsureVisible(int row) {
  const int top = TopOf(row);
  const int bottom = top + HeightOf(row);
  if (top < offset_)
    ScrollTo(top);
  else if (bottom > offset_ + ClientHeight())
    ScrollTo(bottom - ClientHeight());
}

void TRowList::UpdateScrollBar() {
  if (Handle() == nullptr)
    return;
  SCROLLINFO info{};
  info.cbSize = sizeof(info);
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  info.nMin = 0;
  info.nMax = std::max(0, TotalHeight() - 1);
  info.nPage = static_cast<UINT>(std::max(0, ClientHeight()));
  info.nPos = offset_;
  ::SetScrollInfo(Handle(), SB_VERT, &info, TRUE);
}

void TRowList::Paint() {
  const PaintScope paint(Handle());
  RECT client{};
  ::GetClientRect(Handle(), &client);
  const int w = client.right - client.left;
  const int h = client.bottom - client.top;
  if (w <= 0 || h <= 0)
    return;
  // Painted off-screen first: no flicker while a scan refreshes the counts.
  const HDC target = paint.Dc();
  const UniqueGdi bitmap(::CreateCompatibleBitmap(target, w, h));
  const UniqueMemoryDc memory(::CreateCompatibleDC(target));
  if (!memory || !bitmap)
    return;
  const HDC dc = memory.Get();
  const SelectScope selected(dc, bitmap.Get());
  FillSolid(dc, client, ::GetSysColor(COLOR_WINDOW));
  const bool focused = ::GetFocus() == Handle();
  int top = -offset_;
  for (int row = 0; row < rows_ && top < h; ++row) {
    const int height = HeightOf(row);
    if (top + height > 0 && source_.paint) {
      const RECT rect{0, top, w, top + height};
      const int saved = ::SaveDC(dc);
      ::IntersectClipRect(dc, rect.left, rect.top, rect.right, rect.bottom);
      source_.paint(dc, row, rect, row == selected_, focused && row == selected_);
      ::RestoreDC(dc, saved);
    }
    top += height;
  }
  ::BitBlt(target, 0, 0, w, h, dc, 0, 0, SRCCOPY);
}

void TRowList::MoveSelection(int row) {
  if (rows_ == 0)
    return;
  const int target = std::clamp(row, 0, rows_ - 1);
  const bool changed = target != selected_;
  Select(target);
  if (changed && events_.onSelect)
    events_.onSelect(target);
}

bool TRowList::OnKeyDown(WORD key) {
  const int page = std::max(1, ClientHeight() / std::max(1, Scale(kWheelStepAt96)));
  switch (key) {
  case VK_UP:
    MoveSelection(selected_ < 0 ? 0 : selected_ - 1);
    return true;
  case VK_DOWN:
    MoveSelection(selected_ + 1);
    return true;
  case VK_HOME:
    MoveSelection(0);
    return true;
  case VK_END:
    MoveSelection(rows_ - 1);
    return true;
  case VK_PRIOR:
    MoveSelection(std::max(0, selected_ - page));
    return true;
  case VK_NEXT:
    MoveSelection(selected_ + page);
    return true;
  case VK_RETURN:
    if (selected_ >= 0 && events_.onActivate)
      events_.onActivate(selected_);
    return true;
  case VK_APPS:
    if (events_.onContextMenu) {
      POINT screen{Scale(16),
                   selected_ >= 0 ? TopOf(selected_) - offset_ + HeightOf(selected_) : Scale(16)};
      ::ClientToScreen(Handle(), &screen);
      events_.onContextMenu(selected_, screen);
    }
    return true;
  default:
    return events_.onKey && events_.onKey(selected_, key);
  }
}

LRESULT TRowList::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_PAINT:
    Paint();
    return 0;
  case WM_ERASEBKGND:
    return TRUE;
  case WM_SIZE:
    ScrollTo(offset_);
    return 0;
  case WM_SETFOCUS:
  case WM_KILLFOCUS:
    Refresh();
    return 0;
  case WM_GETDLGCODE: {
    // Arrows and letters for the list; Enter too, so that the window's
    // default button does not take it; Tab stays with the window.
    LRESULT code = DLGC_WANTARROWS | DLGC_WANTCHARS;
    const auto *msg = reinterpret_cast<const MSG *>(lParam);
    if (msg != nullptr && msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN)
      code |= DLGC_WANTALLKEYS;
    return code;
  }
  case WM_KEYDOWN:
    if (OnKeyDown(static_cast<WORD>(wParam)))
      return 0;
    break;
  case WM_LBUTTONDOWN:
  case WM_LBUTTONDBLCLK: {
    ::SetFocus(Handle());
    const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    const int row = RowAt(at.y + offset_);
    if (row < 0)
      return 0;
    MoveSelection(row);
    if (message == WM_LBUTTONDBLCLK) {
      if (events_.onActivate)
        events_.onActivate(row);
    } else if (events_.onClick) {
      RECT client{};
      ::GetClientRect(Handle(), &client);
      const int top = TopOf(row) - offset_;
      events_.onClick(row, POINT{at.x, at.y - top}, SIZE{client.right, HeightOf(row)});
    }
    return 0;
  }
  case WM_RBUTTONDOWN: {
    ::SetFocus(Handle());
    const int row = RowAt(static_cast<short>(HIWORD(lParam)) + offset_);
    if (row >= 0)
      MoveSelection(row);
    return 0;
  }
  case WM_CONTEXTMENU: {
    POINT screen{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    if (screen.x == -1 && screen.y == -1) {
      // Shift+F10 or the menu key: the menu of the selected row.
      OnKeyDown(VK_APPS);
      return 0;
    }
    POINT client = screen;
    ::ScreenToClient(Handle(), &client);
    const int row = RowAt(client.y + offset_);
    if (events_.onContextMenu)
      events_.onContextMenu(row, screen);
    return 0;
  }
  case WM_MOUSEWHEEL: {
    wheelRest_ += static_cast<short>(HIWORD(wParam));
    const int notches = wheelRest_ / WHEEL_DELTA;
    wheelRest_ -= notches * WHEEL_DELTA;
    ScrollTo(offset_ - notches * kWheelLinesPerNotch * Scale(kWheelStepAt96) / 2);
    return 0;
  }
  case WM_VSCROLL: {
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SIF_ALL;
    ::GetScrollInfo(Handle(), SB_VERT, &info);
    const int line = Scale(kWheelStepAt96);
    int offset = offset_;
    switch (LOWORD(wParam)) {
    case SB_LINEUP:
      offset -= line;
      break;
    case SB_LINEDOWN:
      offset += line;
      break;
    case SB_PAGEUP:
      offset -= ClientHeight();
      break;
    case SB_PAGEDOWN:
      offset += ClientHeight();
      break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
      offset = info.nTrackPos;
      break;
    case SB_TOP:
      offset = 0;
      break;
    case SB_BOTTOM:
      offset = TotalHeight();
      break;
    default:
      break;
    }
    ScrollTo(offset);
    return 0;
  }
  default:
    break;
  }
  return TWindow::OnMessage(message, wParam, lParam);
}

} // namespace quenlo::ui
