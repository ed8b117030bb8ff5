// A short list with rows of different heights, painted by its owner: the
// results summary (at most a few dozen rows of 68 and 34 pixels). It keeps
// only the row count, the selection and the scroll offset; the owner paints
// row i into the rectangle it is given and decides what a click at a point
// of the row means. Heights are asked in 96-DPI pixels and scaled here, so
// painting, hit-testing and scrolling agree at any DPI. Cost grows with the
// number of rows (it sums their heights), which is why a list of thousands
// goes to TVirtualList instead.
#pragma once

#include <functional>

#include "uWindow.h"

namespace quenlo::ui {

inline constexpr wchar_t kRowListClass[] = L"QuenloRowList";

struct TRowListSource {
  std::function<int(int row)> heightAt96{};
  // Paints the row into rect of dc (already clipped to it).
  std::function<void(HDC dc, int row, const RECT &rect, bool selected, bool focused)> paint{};
};

struct TRowListEvents {
  std::function<void(int row)> onActivate{}; // Enter, double click
  // A left click at point (relative to the row's top-left) of the row of
  // the given size in pixels.
  std::function<void(int row, POINT inRow, SIZE rowSize)> onClick{};
  std::function<void(int row, POINT screen)> onContextMenu{};
  std::function<bool(int row, WORD key)> onKey{}; // true when handled
  std::function<void(int row)> onSelect{};
};

class TRowList final : public TWindow {
public:
  [[nodiscard]] bool Create(HWND parent, int id);
  void SetSource(TRowListSource source) { source_ = std::move(source); }
  void SetEvents(TRowListEvents events) { events_ = std::move(events); }
  // Sets the row count and repaints; keeps the scroll offset where it can.
  void SetRowCount(int rows);
  int RowCount() const { return rows_; }
  int Selected() const { return selected_; }
  void Select(int row);
  // The first row shown at the top; scrolling puts row at the top.
  int TopRow() const;
  void ScrollToTop(int row);
  void Refresh() const;

protected:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
  int HeightOf(int row) const;
  int TopOf(int row) const;
  int TotalHeight() const;
  int RowAt(int y) const; // y in content coordinates; -1 below the last row
  int ClientHeight() const;
  void ScrollTo(int offset);
  void EnsureVisible(int row);
  void UpdateScrollBar();
  void Paint();
  void MoveSelection(int row);
  bool OnKeyDown(WORD key);

  int id_ = 0;
  int rows_ = 0;
  int selected_ = -1;
  int offset_ = 0; // pixels scrolled
  int wheelRest_ = 0;
  TRowListSource source_;
  TRowListEvents events_;
};

} // namespace quenlo::ui
