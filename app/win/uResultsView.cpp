#include "platform/ScopeGuard.h"
#include "platform/win32/WinText.h"
#include "uViews.h"
#include "ui/uGdi.h"

#include <algorithm>

namespace quenlo::win {

namespace {
enum : int {
  idTitle = 10,
  idCaption,
  idFound,
  idSelected,
  idList,
  idTotalSelected,
  idBack,
  idRepair,
  idProgress,
  idRestorePoint,
  idRepairing,
  idSummary,
};
enum : UINT {
  cmIgnore = 1,
  cmSelectAll,
  cmDeselectAll,
  cmShowKey,
  cmSelectInCategory,
  cmDeselectInCategory,
};

std::wstring W(const std::string &text) {
  return qp::win32::Wide(text);
}
} // namespace

// --- how a row is laid out, in 96-DPI pixels from the row's top-left
// (right-hand parts from its right edge); painting and clicks share it.
namespace {
constexpr COLORREF kText = RGB(0, 0, 0);
constexpr COLORREF kGreyText = RGB(0x55, 0x55, 0x55);
constexpr COLORREF kIgnoreText = RGB(0xC0, 0x20, 0x20);
constexpr COLORREF kLinkText = RGB(0x00, 0x50, 0xC0);
constexpr COLORREF kSelectedBack = RGB(0xCC, 0xE8, 0xFF);
constexpr COLORREF kLine = RGB(0xB8, 0xB8, 0xB8);

struct TSummaryLayout {
  RECT glyph;    // group rows: the expand/collapse glyph
  RECT name;     // group or category name
  RECT heading;  // group rows: the heading, in the larger font
  RECT selected; // "Selected: n"
  RECT found;    // "Found: n"
  int separatorX;
  RECT link; // category rows: "Details"
};

TSummaryLayout SummaryLayout(ui::TDpi dpi, bool group, const RECT &row) {
  auto x = [&](int at96) { return row.left + dpi.Scale(at96); };
  auto fromRight = [&](int at96) { return row.right - dpi.Scale(at96); };
  auto y = [&](int at96) { return row.top + dpi.Scale(at96); };
  const int line = group ? dpi.Scale(26) : row.bottom - row.top;
  const int lineTop = group ? y(6) : row.top;
  TSummaryLayout l{};
  l.glyph = {x(10), lineTop + (line - dpi.Scale(11)) / 2, x(21),
             lineTop + (line - dpi.Scale(11)) / 2 + dpi.Scale(11)};
  l.found = {fromRight(216), lineTop, fromRight(116), lineTop + line};
  l.selected = {fromRight(336), lineTop, fromRight(224), lineTop + line};
  l.separatorX = fromRight(104);
  l.link = {fromRight(96), lineTop, fromRight(16), lineTop + line};
  l.name = {group ? x(30) : x(48), lineTop, l.selected.left - dpi.Scale(8), lineTop + line};
  l.heading = {x(30), y(34), l.selected.left - dpi.Scale(8), y(62)};
  return l;
}

struct TDetailLayout {
  RECT check;
  RECT line1;       // kind name (bold), "Ignore", description
  int descriptionX; // where the description starts at the least
  RECT line2;       // location
};

TDetailLayout DetailLayout(ui::TDpi dpi, const RECT &row) {
  auto x = [&](int at96) { return row.left + dpi.Scale(at96); };
  auto y = [&](int at96) { return row.top + dpi.Scale(at96); };
  TDetailLayout l{};
  l.check = {x(10), y(10), x(10) + dpi.Scale(14), y(10) + dpi.Scale(14)};
  l.line1 = {x(34), y(6), row.right - dpi.Scale(10), y(27)};
  l.descriptionX = x(300);
  l.line2 = {x(34), y(29), row.right - dpi.Scale(10), y(49)};
  return l;
}

bool Inside(const RECT &r, POINT p, int slack) {
  return p.x >= r.left - slack && p.x < r.right + slack && p.y >= r.top - slack &&
         p.y < r.bottom + slack;
}

int TextWidth(HDC dc, HFONT font, const std::wstring &text) {
  const ui::SelectScope select(dc, font);
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return size.cx;
}

void Text(HDC dc, HFONT font, const std::wstring &text, const RECT &rect, COLORREF colour,
          UINT flags) {
  const ui::SelectScope select(dc, font);
  ui::DrawTextIn(dc, text, rect, colour, flags | DT_SINGLELINE | DT_VCENTER);
}

void FillRow(HDC dc, const RECT &rect, std::uint32_t background, bool selected, bool focused) {
  ui::FillSolid(dc, rect, selected ? kSelectedBack : ui::FromRgb(background));
  if (focused) {
    RECT inner = rect;
    ::InflateRect(&inner, -1, -1);
    ::DrawFocusRect(dc, &inner);
  }
}

void Line(HDC dc, int x1, int y1, int x2, int y2, COLORREF colour, int width) {
  const ui::UniqueGdi pen(::CreatePen(PS_SOLID, width, colour));
  const ui::SelectScope select(dc, pen.Get());
  ::MoveToEx(dc, x1, y1, nullptr);
  ::LineTo(dc, x2, y2);
}

// A boxed plus or minus.
void Glyph(HDC dc, const RECT &r, bool expanded, ui::TDpi dpi) {
  const int w = std::max(1, dpi.Scale(1));
  {
    const ui::UniqueGdi pen(::CreatePen(PS_SOLID, w, RGB(0x70, 0x70, 0x70)));
    const ui::SelectScope selectPen(dc, pen.Get());
    const ui::SelectScope selectBrush(dc, ::GetStockObject(WHITE_BRUSH));
    ::Rectangle(dc, r.left, r.top, r.right, r.bottom);
  }
  const int cx = (r.left + r.right) / 2;
  const int cy = (r.top + r.bottom) / 2;
  const int arm = (r.right - r.left) / 2 - dpi.Scale(3);
  Line(dc, cx - arm, cy, cx + arm + 1, cy, kText, w);
  if (!expanded)
    Line(dc, cx, cy - arm, cx, cy + arm + 1, kText, w);
}
} // namespace

void TResultsPageView::Build() {
  fontRoles_.emplace_back(Add(L"STATIC", L"Scan Results", SS_LEFT, idTitle), 2);
  fontRoles_.emplace_back(Add(L"STATIC", L"Summary", SS_LEFT, idCaption), 3);
  fontRoles_.emplace_back(Add(L"STATIC", L"", SS_RIGHT, idFound), 1);
  Add(L"STATIC", L"", SS_RIGHT, idSelected);
  qp::IgnoreResult(summary_.Create(Handle(), idSummary));
  qp::IgnoreResult(list_.Create(Handle(), idList, true, kDetailRowHeight, Dpi()));
  list_.SetFont(ui::AsFont(ctx_.fonts.normal));
  fontRoles_.emplace_back(Add(L"STATIC", L"", SS_LEFT, idTotalSelected), 1);
  Add(L"BUTTON", L"Back", WS_TABSTOP | BS_PUSHBUTTON, idBack);
  Add(L"BUTTON", L"Repair", WS_TABSTOP | BS_DEFPUSHBUTTON, idRepair);
  qp::IgnoreResult(progress_.Create(Handle(), idProgress));
  fontRoles_.emplace_back(Add(L"STATIC", L"Creating restore point ...", SS_LEFT, idRestorePoint),
                          1);
  fontRoles_.emplace_back(
      Add(L"STATIC", W(TResultsPageLogic::RepairingText()), SS_LEFT, idRepairing), 1);

  TResultsListModel &model = logic_.Model();
  // Keys both views share: Backspace is "Back".
  auto onKey = [this](int row, WORD key) {
    if (key == VK_BACK) {
      logic_.Back();
      AfterInput();
      return true;
    }
    if ((key == 'S') && logic_.Model().View() == rvDetail && row >= 0) {
      logic_.Model().KeyS(row);
      AfterInput();
      return true;
    }
    return false;
  };
  summary_.SetSource({
      .heightAt96 = [&model](int row) { return std::max(1, model.RowHeight(row)); },
      .paint = [this](HDC dc, int row, const RECT &rect, bool selected,
                      bool focused) { PaintSummaryRow(dc, row, rect, selected, focused); },
  });
  summary_.SetEvents({
      .onActivate =
          [this](int row) {
            if (logic_.Model().View() == rvSummary)
              logic_.Model().Activate(row);
            AfterInput();
          },
      .onClick = [this](int row, POINT inRow, SIZE size) { SummaryClick(row, inRow, size); },
      .onContextMenu = [this](int row, POINT screen) { ContextMenu(row, screen); },
      .onKey = onKey,
      .onSelect = [this](int row) { logic_.Model().Select(row); },
  });
  list_.SetSource({
      .text = [&model](int row, int) -> std::wstring {
        // What a screen reader reads of a row.
        if (model.View() != rvDetail)
          return {};
        const TDetailRowText t = model.DetailText(row);
        return W(t.kindName) + L" " + W(t.description);
      },
      .paint = [this](HDC dc, int row, const RECT &rect, bool selected,
                      bool focused) { PaintDetailRow(dc, row, rect, selected, focused); },
  });
  list_.SetEvents({
      .onActivate = [this](int) { AfterInput(); },
      .onToggle =
          [this](int row) {
            if (logic_.Model().View() == rvDetail)
              logic_.Model().ToggleChecked(row);
            AfterInput();
          },
      .onContextMenu = [this](int row, POINT screen) { ContextMenu(row, screen); },
      .onKey = onKey,
      .onSelect = [this](int row) { logic_.Model().Select(row); },
      .onClick = [this](int row, POINT inRow, SIZE size) { DetailClick(row, inRow, size); },
  });
}

void TResultsPageView::PaintSummaryRow(HDC dc, int row, const RECT &rect, bool selected,
                                       bool focused) const {
  const TResultsListModel &model = logic_.Model();
  const auto &rows = model.SummaryRows();
  if (model.View() != rvSummary || row < 0 || row >= static_cast<int>(rows.size()))
    return;
  const TSummaryRowText t = model.SummaryText(row);
  FillRow(dc, rect, rows[static_cast<std::size_t>(row)].background, selected, focused);
  const ui::TDpi dpi = Dpi();
  const TSummaryLayout l = SummaryLayout(dpi, t.expandable, rect);
  const HFONT normal = ui::AsFont(ctx_.fonts.normal);
  const UINT ellipsis = DT_END_ELLIPSIS;
  if (t.expandable) {
    Glyph(dc, l.glyph, t.expanded, dpi);
    Text(dc, ui::AsFont(ctx_.fonts.bold), W(t.name), l.name, kText, DT_LEFT | ellipsis);
    Text(dc, ui::AsFont(ctx_.fonts.big), W(t.heading), l.heading, kText, DT_LEFT | ellipsis);
  } else {
    Text(dc, normal, W(t.name), l.name, kText, DT_LEFT | ellipsis);
    Line(dc, l.separatorX, rect.top + dpi.Scale(8), l.separatorX, rect.bottom - dpi.Scale(8), kLine,
         std::max(1, dpi.Scale(1)));
    Text(dc, ui::AsFont(ctx_.fonts.link), W(kDetailsLinkText), l.link, kLinkText, DT_CENTER);
  }
  Text(dc, normal, L"Selected: " + std::to_wstring(t.selected), l.selected, kGreyText,
       DT_RIGHT | ellipsis);
  Text(dc, normal, L"Found: " + std::to_wstring(t.found), l.found, kGreyText, DT_RIGHT | ellipsis);
}

void TResultsPageView::PaintDetailRow(HDC dc, int row, const RECT &rect, bool selected,
                                      bool focused) const {
  const TResultsListModel &model = logic_.Model();
  if (model.View() != rvDetail)
    return;
  const TDetailRowText t = model.DetailText(row);
  FillRow(dc, rect, t.background, selected, focused);
  const ui::TDpi dpi = Dpi();
  const TDetailLayout l = DetailLayout(dpi, rect);
  RECT box = l.check;
  ::DrawFrameControl(dc, &box, DFC_BUTTON,
                     DFCS_BUTTONCHECK | DFCS_FLAT | (t.checked ? DFCS_CHECKED : 0));
  const HFONT bold = ui::AsFont(ctx_.fonts.bold);
  const HFONT normal = ui::AsFont(ctx_.fonts.normal);
  const std::wstring kind = W(t.kindName);
  RECT part = l.line1;
  // The kind's name takes what it needs, at most up to the description.
  part.right = std::min<LONG>(l.line1.right, l.descriptionX - dpi.Scale(12));
  Text(dc, bold, kind, part, kText, DT_LEFT | DT_END_ELLIPSIS);
  int after = std::min<int>(part.right, part.left + TextWidth(dc, bold, kind));
  if (t.ignoreMarker) {
    const std::wstring marker = W(kIgnoreMarkerText);
    RECT ignore{after + dpi.Scale(8), l.line1.top, l.line1.right, l.line1.bottom};
    Text(dc, bold, marker, ignore, kIgnoreText, DT_LEFT);
    after = ignore.left + TextWidth(dc, bold, marker);
  }
  RECT description{std::max(l.descriptionX, after + dpi.Scale(12)), l.line1.top, l.line1.right,
                   l.line1.bottom};
  Text(dc, normal, W(t.description), description, kText, DT_LEFT | DT_END_ELLIPSIS);
  Text(dc, normal, W(t.location), l.line2, kGreyText, DT_LEFT | DT_PATH_ELLIPSIS);
}

void TResultsPageView::SummaryClick(int row, POINT inRow, SIZE rowSize) {
  TResultsListModel &model = logic_.Model();
  const auto &rows = model.SummaryRows();
  if (model.View() != rvSummary || row < 0 || row >= static_cast<int>(rows.size()))
    return;
  const bool group = rows[static_cast<std::size_t>(row)].kind != srCategory;
  const TSummaryLayout l = SummaryLayout(Dpi(), group, RECT{0, 0, rowSize.cx, rowSize.cy});
  const int slack = Scale(4);
  if (group && Inside(l.glyph, inRow, slack))
    qp::IgnoreResult(model.ToggleGroup(row));
  else if (!group && Inside(l.link, inRow, 0))
    qp::IgnoreResult(model.OpenDetails(row));
  else
    return;
  AfterInput();
}

void TResultsPageView::DetailClick(int row, POINT inRow, SIZE rowSize) {
  const TDetailLayout l = DetailLayout(Dpi(), RECT{0, 0, rowSize.cx, rowSize.cy});
  if (logic_.Model().View() != rvDetail || !Inside(l.check, inRow, Scale(3)))
    return;
  logic_.Model().ToggleChecked(row);
  AfterInput();
}

bool TResultsPageView::OnOwnerDrawn(UINT message, LPARAM lParam) {
  if (message == WM_MEASUREITEM)
    return list_.MeasureItem(*reinterpret_cast<MEASUREITEMSTRUCT *>(lParam));
  return list_.DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT *>(lParam));
}

void TResultsPageView::OnDpiChanged() {
  list_.SetFont(ui::AsFont(ctx_.fonts.normal));
  list_.SetDpi(Dpi());
  summary_.ChangeDpi(Dpi());
  TPageView::OnDpiChanged();
}

void TResultsPageView::Layout() {
  const int w = Width();
  const int h = Height();
  Place(idTitle, 24, 16, 300, 32);
  Place(idCaption, 24, 56, w - 400, 24);
  Place(idFound, w - 344, 20, 320, 22);
  Place(idSelected, w - 344, 44, 320, 22);
  Place(idList, 24, 84, w - 48, h - 84 - 100);
  Place(idSummary, 24, 84, w - 48, h - 84 - 100);
  Place(idTotalSelected, 24, h - 88, 360, 22);
  Place(idProgress, 24, h - 60, w - 48 - 280, 20);
  Place(idRestorePoint, 24, h - 36, 360, 22);
  Place(idRepairing, 400, h - 36, 200, 22);
  Place(idBack, w - 264, h - 64, 110, 32);
  Place(idRepair, w - 144, h - 64, 120, 32);
  list_.FitColumn();
}

int TResultsPageView::ShownTopRow() const {
  return logic_.Model().View() == rvSummary ? summary_.TopRow() : list_.TopRow();
}

void TResultsPageView::Refresh() {
  const TResultsListModel &model = logic_.Model();
  const bool summary = model.View() == rvSummary;
  const bool viewChanged =
      shownView_ != model.View() || (!summary && shownCategory_ != model.DetailCategory());
  shownView_ = model.View();
  shownCategory_ = summary ? -1 : model.DetailCategory();
  if (summary) {
    summary_.SetRowCount(model.RowCount());
    list_.SetRowCount(0);
    // The model chooses the row after a group opens or closes.
    if (summary_.Selected() != model.Selected())
      summary_.Select(model.Selected());
  } else {
    list_.SetRowCount(model.RowCount());
    summary_.SetRowCount(0);
  }
  if (viewChanged) {
    const HWND focus = ::GetFocus();
    const bool listHadFocus = focus == summary_.Handle() || focus == list_.Handle();
    Visible(idSummary, summary);
    Visible(idList, !summary);
    if (summary) {
      summary_.ScrollToTop(model.ScrollPosition());
    } else {
      list_.FitColumn();
      list_.Select(model.Selected());
      list_.ScrollToTop(model.ScrollPosition());
    }
    if (listHadFocus)
      ::SetFocus(summary ? summary_.Handle() : list_.Handle());
  }
  SetText(idCaption, model.CaptionText());
  SetText(idFound, model.FoundText());
  SetText(idSelected, model.SelectedText());
  SetText(idTotalSelected, model.TotalSelectedText());
  Enable(idRepair, logic_.RepairButtonEnabled());
  Enable(idBack, logic_.BackEnabled());
  Visible(idProgress, logic_.ProgressShown());
  progress_.SetMax(logic_.ProgressMax());
  progress_.SetPosition(logic_.ProgressPosition());
  Visible(idRestorePoint, logic_.RestorePointLabel());
  Visible(idRepairing, logic_.Repairing());
  ::EnableWindow(Handle(), logic_.Enabled() ? TRUE : FALSE);
  if (logic_.RefreshPending())
    logic_.RefreshDone();
}

void TResultsPageView::AfterInput() {
  logic_.Model().SetScrollPosition(ShownTopRow());
  Refresh();
  summary_.Refresh();
  list_.Refresh();
}

void TResultsPageView::ContextMenu(int row, POINT screen) {
  TResultsListModel &model = logic_.Model();
  const TResultsMenu menu = model.MenuFor(row);
  const ui::UniqueMenu popup(::CreatePopupMenu());
  auto add = [&popup](bool shown, UINT id, const wchar_t *text, bool enabled = true,
                      bool checked = false) {
    if (!shown)
      return;
    UINT flags = MF_STRING;
    if (!enabled)
      flags |= MF_GRAYED;
    if (checked)
      flags |= MF_CHECKED;
    ::AppendMenuW(popup.Get(), flags, id, text);
  };
  add(menu.permanentlyIgnoreShown, cmIgnore, L"Permanently Ignore item",
      menu.permanentlyIgnoreEnabled, menu.permanentlyIgnoreChecked);
  add(menu.selectAll, cmSelectAll, L"Select All");
  add(menu.deselectAll, cmDeselectAll, L"Deselect All");
  add(menu.showKey, cmShowKey, L"Show Key");
  add(menu.selectAllInCategory, cmSelectInCategory, L"Select All In This Category");
  add(menu.deselectAllInCategory, cmDeselectInCategory, L"Deselect All In This Category");
  if (::GetMenuItemCount(popup.Get()) <= 0)
    return;
  const UINT chosen = static_cast<UINT>(::TrackPopupMenu(
      popup.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, screen.x, screen.y, 0, Handle(), nullptr));
  switch (chosen) {
  case cmIgnore:
    model.PermanentlyIgnore(row);
    break;
  case cmSelectAll:
    model.SelectAll(true);
    break;
  case cmDeselectAll:
    model.SelectAll(false);
    break;
  case cmShowKey:
    logic_.ShowKey(row);
    break;
  case cmSelectInCategory:
    model.SelectAllInGroup(row, true);
    break;
  case cmDeselectInCategory:
    model.SelectAllInGroup(row, false);
    break;
  default:
    return;
  }
  AfterInput();
}

LRESULT TResultsPageView::OnNotify(const NMHDR &header, bool &handled) {
  return list_.HandleNotify(header, handled);
}

void TResultsPageView::OnCommand(int id, int code) {
  if (code != BN_CLICKED)
    return;
  if (id == idBack) {
    logic_.Back();
    AfterInput();
  } else if (id == idRepair) {
    ctx_.logic.RepairNow();
  }
}

} // namespace quenlo::win
