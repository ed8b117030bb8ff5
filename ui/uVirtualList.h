// A list view in owner-data mode (LVS_OWNERDATA): it holds no rows, only
// their count, and asks its source for the text of row i, column c when it
// paints (LVN_GETDISPINFO). Opening and scrolling a list of 100,000 rows
// therefore costs what the visible rows cost. The parent forwards its
// WM_NOTIFY for the list to HandleNotify.
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
};

struct TListEvents {
  std::function<void(int row)> onActivate{}; // Enter, double click
  std::function<void(int row)> onToggle{};   // Space, click on the check box
  std::function<void(int row, POINT screen)> onContextMenu{};
  std::function<bool(int row, WORD key)> onKey{}; // true when handled
  std::function<void(int row)> onSelect{};
};

class TVirtualList {
public:
  [[nodiscard]] bool Create(HWND parent, int id, bool checkBoxes);
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

private:
  LRESULT OnGetDispInfo(NMLVDISPINFOW &info) const;
  LRESULT OnCustomDraw(NMLVCUSTOMDRAW &draw) const;

  UniqueHwnd hwnd_;
  int id_ = 0;
  int rows_ = 0;
  int columns_ = 0;
  bool checkBoxes_ = false;
  TListSource source_;
  TListEvents events_;
  HFONT boldFont_ = nullptr;
  mutable std::wstring buffer_;
};

} // namespace quenlo::ui
