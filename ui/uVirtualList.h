// A list view in owner-data mode (LVS_OWNERDATA): it holds no rows, only
// their count, and asks its source for the text of row i, column c when it
// paints (LVN_GETDISPINFO). Opening and scrolling a list of 100,000 rows
// therefore costs what the visible rows cost. The parent forwards its
// WM_NOTIFY for the list to HandleNotify.
//
// Owner-drawn (a row height given at creation): every row has that height
// and is painted by the source's paint function (the parent forwards
// WM_MEASUREITEM and WM_DRAWITEM); the list has one column across its
// width and no header, and a click anywhere in a row goes to onClick.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "uWindow.h"

namespace quenlo::ui {

struct TListColumn {
  std::wstring title;
  int widthAt96 = 100;
  bool rightAligned = false;
};

struct TListSource {
  std::function<std::wstring(int row, int column)> text{};
  // Rows with a check box (optional): whether row i is checked.
  std::function<bool(int row)> checked{};
  // Background as 0xRRGGBB (optional).
  std::function<std::uint32_t(int row)> background{};
  // Bold rows (optional): group rows of the summary.
  std::function<bool(int row)> bold{};
  // Owner-drawn lists: paints row into rect of dc.
  std::function<void(HDC dc, int row, const RECT &rect, bool selected, bool focused)> paint{};
};

struct TListEvents {
  std::function<void(int row)> onActivate{}; // Enter, double click
  std::function<void(int row)> onToggle{};   // Space, click on the check box
  std::function<void(int row, POINT screen)> onContextMenu{};
  std::function<bool(int row, WORD key)> onKey{}; // true when handled
  std::function<void(int row)> onSelect{};
  // Owner-drawn lists: a left click at point (relative to the row's
  // top-left) of the row of the given size in pixels.
  std::function<void(int row, POINT inRow, SIZE rowSize)> onClick{};
};

class TVirtualList {
public:
  // ownerDrawnRowHeightAt96 0: a standard report list.
  [[nodiscard]] bool Create(HWND parent, int id, bool checkBoxes, int ownerDrawnRowHeightAt96 = 0,
                            TDpi dpi = TDpi());
  HWND Handle() const { return hwnd_.Get(); }
  int Id() const { return id_; }
  void SetColumns(const std::vector<TListColumn> &columns, TDpi dpi);
  void SetSource(TListSource source) { source_ = std::move(source); }
  void SetEvents(TListEvents events) { events_ = std::move(events); }
  // Sets the row count and repaints; keeps the scroll position.
  void SetRowCount(int rows);
  int RowCount() const { return rows_; }
  int Selected() const;
  void Select(int row);
  int TopRow() const;
  void ScrollToTop(int row);
  void Refresh() const;
  void SetFont(HFONT font) const;
  // The font of the rows the source calls bold.
  void SetBoldFont(HFONT font) { boldFont_ = font; }
  // WM_NOTIFY from the list; handled tells whether the result is meant.
  LRESULT HandleNotify(const NMHDR &header, bool &handled);
  // Owner-drawn lists: the row height at a new DPI, and the one column
  // across the list's width (after every move or resize).
  void SetDpi(TDpi dpi);
  void FitColumn();
  // WM_MEASUREITEM / WM_DRAWITEM the parent got; false when not for this list.
  bool MeasureItem(MEASUREITEMSTRUCT &measure) const;
  bool DrawItem(const DRAWITEMSTRUCT &draw) const;

private:
  LRESULT OnGetDispInfo(NMLVDISPINFOW &info) const;
  LRESULT OnCustomDraw(NMLVCUSTOMDRAW &draw) const;

  UniqueHwnd hwnd_;
  int id_ = 0;
  int rows_ = 0;
  int columns_ = 0;
  bool checkBoxes_ = false;
  int ownerDrawnAt96_ = 0;
  TDpi dpi_;
  TListSource source_;
  TListEvents events_;
  HFONT boldFont_ = nullptr;
  mutable std::wstring buffer_;
};

} // namespace quenlo::ui
