#include "uVirtualList.h"

#include "uGdi.h"

#include <commctrl.h>

#include <algorithm>

namespace quenlo::ui {

bool TVirtualList::Create(HWND parent, int id, bool checkBoxes, int ownerDrawnRowHeightAt96,
                          TDpi dpi) {
  id_ = id;
  checkBoxes_ = checkBoxes;
  ownerDrawnAt96_ = ownerDrawnRowHeightAt96;
  dpi_ = dpi;
  DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL |
                LVS_SHOWSELALWAYS;
  if (ownerDrawnAt96_ > 0)
    style |= LVS_OWNERDRAWFIXED | LVS_NOCOLUMNHEADER;
  // The list asks its parent for the row height while it is created, by
  // id: the height is known before.
  hwnd_.Reset(::CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"", style, 0, 0, 10, 10, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                ::GetModuleHandleW(nullptr), nullptr));
  if (!hwnd_)
    return false;
  DWORD extended = LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER;
  // An owner-drawn row paints its own check box.
  if (checkBoxes && ownerDrawnAt96_ == 0)
    extended |= LVS_EX_CHECKBOXES;
  ::SendMessageW(hwnd_.Get(), LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
  return true;
}

void TVirtualList::SetColumns(const std::vector<TListColumn> &columns, TDpi dpi) {
  while (columns_ > 0)
    ::SendMessageW(hwnd_.Get(), LVM_DELETECOLUMN, static_cast<WPARAM>(--columns_), 0);
  for (const TListColumn &column : columns) {
    LVCOLUMNW lvc{};
    lvc.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    lvc.fmt = column.rightAligned && columns_ > 0 ? LVCFMT_RIGHT : LVCFMT_LEFT;
    lvc.cx = dpi.Scale(column.widthAt96);
    lvc.pszText = const_cast<wchar_t *>(column.title.c_str());
    ::SendMessageW(hwnd_.Get(), LVM_INSERTCOLUMNW, static_cast<WPARAM>(columns_),
                   reinterpret_cast<LPARAM>(&lvc));
    ++columns_;
  }
}

void TVirtualList::SetDpi(TDpi dpi) {
  dpi_ = dpi;
  if (ownerDrawnAt96_ == 0 || !hwnd_)
    return;
  // The list measures its rows again when it is told it moved.
  RECT r{};
  ::GetWindowRect(hwnd_.Get(), &r);
  WINDOWPOS pos{};
  pos.hwnd = hwnd_.Get();
  pos.cx = r.right - r.left;
  pos.cy = r.bottom - r.top;
  pos.flags = SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOOWNERZORDER | SWP_NOZORDER;
  ::SendMessageW(hwnd_.Get(), WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
  Refresh();
}

void TVirtualList::FitColumn() {
  if (ownerDrawnAt96_ == 0 || !hwnd_)
    return;
  RECT client{};
  ::GetClientRect(hwnd_.Get(), &client);
  // Room for the vertical scroll bar even before it shows, so that no
  // horizontal one ever appears.
  const bool scrollBar = (::GetWindowLongW(hwnd_.Get(), GWL_STYLE) & WS_VSCROLL) != 0;
  const int width =
      std::max<int>(1, client.right - (scrollBar ? 0 : ::GetSystemMetrics(SM_CXVSCROLL)));
  if (columns_ == 0) {
    LVCOLUMNW lvc{};
    lvc.mask = LVCF_WIDTH;
    lvc.cx = width;
    ::SendMessageW(hwnd_.Get(), LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&lvc));
    columns_ = 1;
  } else {
    ::SendMessageW(hwnd_.Get(), LVM_SETCOLUMNWIDTH, 0, width);
  }
}

bool TVirtualList::MeasureItem(MEASUREITEMSTRUCT &measure) const {
  if (ownerDrawnAt96_ == 0 || measure.CtlType != ODT_LISTVIEW ||
      static_cast<int>(measure.CtlID) != id_)
    return false;
  measure.itemHeight = static_cast<UINT>(dpi_.Scale(ownerDrawnAt96_));
  return true;
}

bool TVirtualList::DrawItem(const DRAWITEMSTRUCT &draw) const {
  if (ownerDrawnAt96_ == 0 || draw.CtlType != ODT_LISTVIEW || draw.hwndItem != hwnd_.Get())
    return false;
  const int row = static_cast<int>(draw.itemID);
  if (row < 0 || row >= rows_ || !source_.paint)
    return true;
  RECT rect = draw.rcItem;
  RECT client{};
  ::GetClientRect(hwnd_.Get(), &client);
  // The row's rectangle spans its column; the row is painted across the
  // whole width, so that no unpainted strip shows at either edge.
  rect.left = std::min(rect.left, client.left);
  rect.right = std::max(rect.right, client.right);
  const int saved = ::SaveDC(draw.hDC);
  ::IntersectClipRect(draw.hDC, rect.left, rect.top, rect.right, rect.bottom);
  source_.paint(draw.hDC, row, rect, (draw.itemState & ODS_SELECTED) != 0,
                (draw.itemState & ODS_FOCUS) != 0);
  ::RestoreDC(draw.hDC, saved);
  return true;
}

void TVirtualList::SetRowCount(int rows) {
  rows_ = rows;
  ::SendMessageW(hwnd_.Get(), LVM_SETITEMCOUNT, static_cast<WPARAM>(rows),
                 LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
  Refresh();
}

int TVirtualList::Selected() const {
  return static_cast<int>(
      ::SendMessageW(hwnd_.Get(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void TVirtualList::Select(int row) {
  LVITEMW clear{};
  clear.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  ::SendMessageW(hwnd_.Get(), LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                 reinterpret_cast<LPARAM>(&clear));
  if (row < 0 || row >= rows_)
    return;
  LVITEMW item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  ::SendMessageW(hwnd_.Get(), LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
  ::SendMessageW(hwnd_.Get(), LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

int TVirtualList::TopRow() const {
  return static_cast<int>(::SendMessageW(hwnd_.Get(), LVM_GETTOPINDEX, 0, 0));
}

void TVirtualList::ScrollToTop(int row) {
  if (row <= 0 || row >= rows_)
    return;
  // Scrolling to the last row and back to row brings row to the top.
  ::SendMessageW(hwnd_.Get(), LVM_ENSUREVISIBLE, static_cast<WPARAM>(rows_ - 1), FALSE);
  ::SendMessageW(hwnd_.Get(), LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

void TVirtualList::Refresh() const {
  ::InvalidateRect(hwnd_.Get(), nullptr, FALSE);
}

void TVirtualList::SetFont(HFONT font) const {
  ::SendMessageW(hwnd_.Get(), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

LRESULT TVirtualList::OnGetDispInfo(NMLVDISPINFOW &info) const {
  LVITEMW &item = info.item;
  if (item.iItem < 0 || item.iItem >= rows_)
    return 0;
  if ((item.mask & LVIF_TEXT) != 0 && item.pszText != nullptr && item.cchTextMax > 0) {
    buffer_ = source_.text ? source_.text(item.iItem, item.iSubItem) : std::wstring();
    const std::size_t room = static_cast<std::size_t>(item.cchTextMax) - 1;
    const std::size_t n = buffer_.size() < room ? buffer_.size() : room;
    buffer_.copy(item.pszText, n);
    item.pszText[n] = L'\0';
  }
  if (checkBoxes_ && (item.mask & LVIF_STATE) != 0 && source_.checked) {
    item.state = INDEXTOSTATEIMAGEMASK(source_.checked(item.iItem) ? 2 : 1);
    item.stateMask = LVIS_STATEIMAGEMASK;
  }
  return 0;
}

LRESULT TVirtualList::OnCustomDraw(NMLVCUSTOMDRAW &draw) const {
  if (ownerDrawnAt96_ > 0)
    return CDRF_DODEFAULT;
  switch (draw.nmcd.dwDrawStage) {
  case CDDS_PREPAINT:
    return CDRF_NOTIFYITEMDRAW;
  case CDDS_ITEMPREPAINT: {
    const int row = static_cast<int>(draw.nmcd.dwItemSpec);
    if (source_.background)
      draw.clrTextBk = FromRgb(source_.background(row));
    draw.clrText = RGB(0, 0, 0);
    if (boldFont_ != nullptr && source_.bold && source_.bold(row)) {
      ::SelectObject(draw.nmcd.hdc, boldFont_);
      return CDRF_NEWFONT;
    }
    return CDRF_DODEFAULT;
  }
  default:
    return CDRF_DODEFAULT;
  }
}

LRESULT TVirtualList::HandleNotify(const NMHDR &header, bool &handled) {
  handled = false;
  if (header.hwndFrom != hwnd_.Get())
    return 0;
  NMHDR &mutableHeader = const_cast<NMHDR &>(header);
  switch (header.code) {
  case LVN_GETDISPINFOW:
    handled = true;
    return OnGetDispInfo(reinterpret_cast<NMLVDISPINFOW &>(mutableHeader));
  case NM_CUSTOMDRAW:
    handled = true;
    return OnCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW &>(mutableHeader));
  case LVN_ITEMCHANGED: {
    const auto &change = reinterpret_cast<const NMLISTVIEW &>(header);
    if ((change.uNewState & LVIS_SELECTED) != 0 && events_.onSelect)
      events_.onSelect(change.iItem);
    return 0;
  }
  case NM_DBLCLK: {
    const auto &click = reinterpret_cast<const NMITEMACTIVATE &>(header);
    if (click.iItem >= 0 && events_.onActivate)
      events_.onActivate(click.iItem);
    return 0;
  }
  case NM_CLICK: {
    const auto &click = reinterpret_cast<const NMITEMACTIVATE &>(header);
    LVHITTESTINFO hit{};
    hit.pt = click.ptAction;
    ::SendMessageW(hwnd_.Get(), LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    if (ownerDrawnAt96_ > 0) {
      const int row = hit.iItem >= 0 ? hit.iItem : click.iItem;
      RECT r{};
      r.left = LVIR_BOUNDS;
      if (row >= 0 && events_.onClick &&
          ::SendMessageW(hwnd_.Get(), LVM_GETITEMRECT, static_cast<WPARAM>(row),
                         reinterpret_cast<LPARAM>(&r)) != FALSE) {
        RECT client{};
        ::GetClientRect(hwnd_.Get(), &client);
        events_.onClick(row, POINT{click.ptAction.x - r.left, click.ptAction.y - r.top},
                        SIZE{std::max(r.right, client.right) - r.left, r.bottom - r.top});
      }
      return 0;
    }
    if (checkBoxes_ && hit.iItem >= 0 && (hit.flags & LVHT_ONITEMSTATEICON) != 0 &&
        events_.onToggle)
      events_.onToggle(hit.iItem);
    return 0;
  }
  case NM_RCLICK: {
    const auto &click = reinterpret_cast<const NMITEMACTIVATE &>(header);
    POINT screen = click.ptAction;
    ::ClientToScreen(hwnd_.Get(), &screen);
    if (events_.onContextMenu)
      events_.onContextMenu(click.iItem, screen);
    return 0;
  }
  case LVN_KEYDOWN: {
    const auto &key = reinterpret_cast<const NMLVKEYDOWN &>(header);
    const int row = Selected();
    if (key.wVKey == VK_SPACE && checkBoxes_ && row >= 0 && events_.onToggle) {
      events_.onToggle(row);
      handled = true;
      return 0;
    }
    if (key.wVKey == VK_APPS && events_.onContextMenu) {
      RECT r{};
      r.left = LVIR_BOUNDS;
      ::SendMessageW(hwnd_.Get(), LVM_GETITEMRECT, static_cast<WPARAM>(row < 0 ? 0 : row),
                     reinterpret_cast<LPARAM>(&r));
      POINT screen{r.left + 8, r.bottom};
      ::ClientToScreen(hwnd_.Get(), &screen);
      events_.onContextMenu(row, screen);
      return 0;
    }
    if (events_.onKey && events_.onKey(row, key.wVKey))
      handled = true;
    return 0;
  }
  case NM_RETURN: {
    const int row = Selected();
    if (row >= 0 && events_.onActivate)
      events_.onActivate(row);
    handled = true;
    return 0;
  }
  default:
    return 0;
  }
}

} // namespace quenlo::ui
