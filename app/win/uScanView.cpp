#include "platform/ScopeGuard.h"
#include "platform/win32/WinText.h"
#include "uViews.h"

namespace quenlo::win {

namespace {
enum : int {
  idTitle = 10,
  idCheckAll,
  idDescriptionHeading,
  idDescription,
  idScanningNow,
  idProgress,
  idProgressText,
  idScanButton,
  idFirstLine = 100,
};
constexpr int kLinesPerColumn = 12;
constexpr int kLineHeight = 24;
constexpr int kColumnWidth = 330;
constexpr int kLinesTop = 60;
constexpr int kSideWidth = 200;

TCheckState BoxState(HWND box) {
  switch (::SendMessageW(box, BM_GETCHECK, 0, 0)) {
  case BST_CHECKED:
    return TCheckState::Checked;
  case BST_INDETERMINATE:
    return TCheckState::Mixed;
  default:
    return TCheckState::Unchecked;
  }
}
} // namespace

void TScanPageView::Build() {
  fontRoles_.emplace_back(Add(L"STATIC", L"Registry Scan", SS_LEFT, idTitle), 2);
  for (int c = 0; c < CategoryCount; ++c) {
    ui::TCategoryLine &line = lines_[static_cast<std::size_t>(c)];
    qp::IgnoreResult(line.Create(Handle(), idFirstLine + c, ui::AsFont(ctx_.fonts.normal),
                                 ui::AsFont(ctx_.fonts.bold)));
    const auto category = static_cast<TErrorCategory>(c);
    line.OnToggle = [this, category] {
      logic_.SetCategoryChecked(category, !logic_.Line(category).checked);
      Refresh();
    };
    line.OnHover = [this, c] {
      const std::string before = logic_.DescriptionText();
      logic_.Hover(c);
      if (logic_.DescriptionText() != before)
        SetText(idDescription, logic_.DescriptionText());
    };
  }
  Add(L"BUTTON", L"Check All/Uncheck All", WS_TABSTOP | BS_3STATE, idCheckAll);
  fontRoles_.emplace_back(Add(L"STATIC", L"Description", SS_LEFT, idDescriptionHeading), 1);
  Add(L"STATIC", L"", SS_LEFT, idDescription);
  fontRoles_.emplace_back(Add(L"STATIC", L"Scanning now", SS_LEFT, idScanningNow), 3);
  qp::IgnoreResult(progress_.Create(Handle(), idProgress));
  Add(L"STATIC", L"", SS_LEFT | SS_PATHELLIPSIS, idProgressText);
  Add(L"BUTTON", L"Scan Now", WS_TABSTOP | BS_DEFPUSHBUTTON, idScanButton);
  progress_.SetMax(100);
}

void TScanPageView::OnDpiChanged() {
  for (ui::TCategoryLine &line : lines_) {
    line.ChangeDpi(Dpi());
    line.SetFonts(ui::AsFont(ctx_.fonts.normal), ui::AsFont(ctx_.fonts.bold));
  }
  TPageView::OnDpiChanged();
}

void TScanPageView::Layout() {
  const int w = Width();
  Place(idTitle, 24, 16, w - 48, 32);
  // The side panel (description, the scan button) keeps its width; the two
  // columns of lines share what is left.
  const int columnWidth = std::min(kColumnWidth, (w - 24 * 4 - kSideWidth) / 2);
  for (int c = 0; c < CategoryCount; ++c) {
    const int column = c / kLinesPerColumn;
    const int row = c % kLinesPerColumn;
    ::MoveWindow(lines_[static_cast<std::size_t>(c)].Handle(),
                 Scale(24 + column * (columnWidth + 24)), Scale(kLinesTop + row * kLineHeight),
                 Scale(columnWidth), Scale(kLineHeight - 2), TRUE);
  }
  const int below = kLinesTop + kLinesPerColumn * kLineHeight + 8;
  Place(idCheckAll, 28, below, 260, 24);
  const int right = 24 + 2 * (columnWidth + 24);
  const int sideWidth = std::max(kSideWidth, w - right - 24);
  Place(idDescriptionHeading, right, kLinesTop, sideWidth, 22);
  Place(idDescription, right, kLinesTop + 26, sideWidth, 180);
  Place(idScanningNow, 24, below + 40, 300, 24);
  Place(idProgress, 24, below + 70, right - 48, 22);
  Place(idProgressText, 24, below + 98, right - 48, 22);
  Place(idScanButton, right, below + 66, 140, 32);
}

void TScanPageView::Refresh() {
  const bool scanning = logic_.Scanning();
  for (int c = 0; c < CategoryCount; ++c) {
    const auto category = static_cast<TErrorCategory>(c);
    const TCategoryLineState &line = logic_.Line(category);
    ui::TCategoryLineState state;
    state.name = qp::win32::Wide(CategoryName(c));
    state.checked = line.checked;
    state.scanning = scanning;
    state.countShown = line.countShown;
    state.count = line.count;
    state.bold = line.bold;
    state.glyph = line.icon == ciClean      ? ui::TLineGlyph::Clean
                  : line.icon == ciProblems ? ui::TLineGlyph::Problems
                                            : ui::TLineGlyph::None;
    lines_[static_cast<std::size_t>(c)].SetState(state);
  }
  const TCheckState all = logic_.CheckAllState();
  ::SendMessageW(Item(idCheckAll), BM_SETCHECK,
                 all == TCheckState::Checked ? BST_CHECKED
                 : all == TCheckState::Mixed ? BST_INDETERMINATE
                                             : BST_UNCHECKED,
                 0);
  Visible(idCheckAll, logic_.CheckAllShown());
  Visible(idScanningNow, logic_.ScanningNowShown());
  Visible(idProgressText, logic_.ProgressTextShown());
  Visible(idProgress, scanning);
  progress_.SetPosition(logic_.ProgressPercent());
  SetText(idProgressText, logic_.ProgressText());
  SetText(idScanButton, logic_.StopShown() ? "Stop" : "Scan Now");
  SetText(idDescription, logic_.DescriptionText());
}

void TScanPageView::OnCommand(int id, int code) {
  if (code != BN_CLICKED)
    return;
  if (id == idCheckAll) {
    // A click on a grey or clear box checks all; on a checked one clears all.
    logic_.SetCheckAll(BoxState(Item(idCheckAll)) != TCheckState::Checked);
  } else if (id == idScanButton) {
    if (logic_.StopShown())
      logic_.Stop();
    else
      logic_.ScanNow();
  }
  Refresh();
}

} // namespace quenlo::win
