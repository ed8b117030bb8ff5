#include "platform/ScopeGuard.h"
#include "platform/win32/WinText.h"
#include "uViews.h"
#include "ui/uGdi.h"

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

void TResultsPageView::Build() {
  fontRoles_.emplace_back(Add(L"STATIC", L"Scan Results", SS_LEFT, idTitle), 2);
  fontRoles_.emplace_back(Add(L"STATIC", L"Summary", SS_LEFT, idCaption), 3);
  fontRoles_.emplace_back(Add(L"STATIC", L"", SS_RIGHT, idFound), 1);
  Add(L"STATIC", L"", SS_RIGHT, idSelected);
  qp::IgnoreResult(list_.Create(Handle(), idList, true));
  list_.SetFont(ui::AsFont(ctx_.fonts.normal));
  list_.SetBoldFont(ui::AsFont(ctx_.fonts.bold));
  fontRoles_.emplace_back(Add(L"STATIC", L"", SS_LEFT, idTotalSelected), 1);
  Add(L"BUTTON", L"Back", WS_TABSTOP | BS_PUSHBUTTON, idBack);
  Add(L"BUTTON", L"Repair", WS_TABSTOP | BS_DEFPUSHBUTTON, idRepair);
  qp::IgnoreResult(progress_.Create(Handle(), idProgress));
  fontRoles_.emplace_back(Add(L"STATIC", L"Creating restore point ...", SS_LEFT, idRestorePoint),
                          1);
  fontRoles_.emplace_back(
      Add(L"STATIC", W(TResultsPageLogic::RepairingText()), SS_LEFT, idRepairing), 1);

  TResultsListModel &model = logic_.Model();
  list_.SetSource({
      .text = [&model](int row, int column) -> std::wstring {
        if (model.View() == rvSummary) {
          const TSummaryRowText t = model.SummaryText(row);
          switch (column) {
          case 0:
            if (t.expandable)
              return (t.expanded ? L"\u2212  " : L"+  ") + W(t.name);
            return L"        " + W(t.name);
          case 1:
            return std::to_wstring(t.selected);
          case 2:
            return std::to_wstring(t.found);
          case 3:
            return t.expandable ? W(t.heading) : L"Details";
          default:
            return {};
          }
        }
        const TDetailRowText t = model.DetailText(row);
        switch (column) {
        case 0:
          return W(t.kindName) + (t.ignoreMarker ? L"  Ignore" : L"");
        case 1:
          return W(t.description);
        case 2:
          return W(t.location);
        default:
          return {};
        }
      },
      .checked =
          [&model](int row) {
            if (model.View() == rvDetail)
              return model.DetailText(row).checked;
            const TSummaryRowText t = model.SummaryText(row);
            return t.found > 0 && t.selected == t.found;
          },
      .background = [&model](int row) -> std::uint32_t {
        if (model.View() == rvDetail)
          return model.DetailText(row).background;
        const auto &rows = model.SummaryRows();
        return row >= 0 && row < static_cast<int>(rows.size())
                   ? rows[static_cast<std::size_t>(row)].background
                   : kRowWhite;
      },
      .bold =
          [&model](int row) {
            if (model.View() == rvDetail)
              return false;
            const auto &rows = model.SummaryRows();
            return row >= 0 && row < static_cast<int>(rows.size()) &&
                   rows[static_cast<std::size_t>(row)].kind != srCategory;
          },
  });
  list_.SetEvents({
      .onActivate =
          [this](int row) {
            if (logic_.Model().View() == rvSummary)
              logic_.Model().Activate(row);
            AfterInput();
          },
      .onToggle =
          [this](int row) {
            if (logic_.Model().View() == rvDetail)
              logic_.Model().ToggleChecked(row);
            AfterInput();
          },
      .onContextMenu = [this](int row, POINT screen) { ContextMenu(row, screen); },
      .onKey =
          [this](int row, WORD key) {
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
          },
      .onSelect = [this](int row) { logic_.Model().Select(row); },
  });
}

void TResultsPageView::SetColumnsFor(TResultsView view) {
  if (columnsView_ == view)
    return;
  columnsView_ = view;
  const int w = std::max(600, Width() - 48);
  if (view == rvSummary)
    list_.SetColumns(
        {{L"Problem area", w - 500}, {L"Selected", 90, true}, {L"Found", 90, true}, {L"", 300}},
        Dpi());
  else
    list_.SetColumns(
        {{L"Problem", 230}, {L"Description", (w - 270) / 2}, {L"Location", (w - 270) / 2}}, Dpi());
}

void TResultsPageView::OnDpiChanged() {
  list_.SetFont(ui::AsFont(ctx_.fonts.normal));
  list_.SetBoldFont(ui::AsFont(ctx_.fonts.bold));
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
  Place(idTotalSelected, 24, h - 88, 360, 22);
  Place(idProgress, 24, h - 60, w - 48 - 280, 20);
  Place(idRestorePoint, 24, h - 36, 360, 22);
  Place(idRepairing, 400, h - 36, 200, 22);
  Place(idBack, w - 264, h - 64, 110, 32);
  Place(idRepair, w - 144, h - 64, 120, 32);
  columnsView_ = -1;
  SetColumnsFor(logic_.Model().View());
}

void TResultsPageView::Refresh() {
  const TResultsListModel &model = logic_.Model();
  const bool viewChanged = columnsView_ != model.View() ||
                           (model.View() == rvDetail && shownCategory_ != model.DetailCategory());
  SetColumnsFor(model.View());
  shownCategory_ = model.View() == rvDetail ? model.DetailCategory() : -1;
  list_.SetRowCount(model.RowCount());
  if (viewChanged) {
    list_.Select(model.Selected());
    list_.ScrollToTop(model.ScrollPosition());
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
  logic_.Model().SetScrollPosition(list_.TopRow());
  Refresh();
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
