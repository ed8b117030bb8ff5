// The history page: the category page and the summary page as one window.
// The category page shows the Windows categories in four columns, then the
// five browsers side by side, one column each, with the all-box, the
// downloaded-files box, the progress and the three commands below. The
// summary page is one owner-data list (the analysis, a category's findings
// or the clean result, as the logic's rows say), its hint, the two figures
// and its three commands. Every control of the page that is not shown is
// hidden, so the tab order only ever walks the shown sub-page.
#include "platform/win32/WinApi.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "platform/win32/WinText.h"
#include "uViews.h"
#include "ui/uGdi.h"

namespace quenlo::win {

namespace {

enum THistoryControl : int {
  hcTitle = 10,
  hcCheckAll,
  hcDownloads,
  hcAnalyze,
  hcClean,
  hcStop,
  hcProgressLabel,
  hcProgressText,
  hcProgress,
  hcList,
  hcHint,
  hcTotalLabel,
  hcTotalValue,
  hcSpaceLabel,
  hcSpaceValue,
  hcAfterCleaning,
  hcSummaryClean,
  hcBack,
  hcSummaryStop,
  hcGroupCaption = 40, // + TCleanGroup
  hcCategoryBox = 100, // + TCleanCategory
};

constexpr int GroupCaptionId(TCleanGroup group) {
  return hcGroupCaption + static_cast<int>(group);
}
constexpr int BoxId(TCleanCategory category) {
  return hcCategoryBox + static_cast<int>(category);
}
bool IsBoxId(int id) {
  return id >= hcCategoryBox && id < hcCategoryBox + static_cast<int>(kCleanCategoryCount);
}

constexpr std::array<TCleanGroup, 5> kBrowserGroups = {cgInternetExplorer, cgFirefox, cgChrome,
                                                       cgOpera, cgSafari};
// The Windows categories run down four columns: 0-3, 4-7, 8-11 and 12.
constexpr int kWindowsRows = 4;
constexpr int kWindowsColumns = 4;

// The controls of each sub-page (besides the title, the progress and the
// category boxes with their captions).
constexpr std::array<int, 5> kCategoryControls = {hcCheckAll, hcDownloads, hcAnalyze, hcClean,
                                                  hcStop};
constexpr std::array<int, 4> kSummaryButtons = {hcList, hcSummaryClean, hcBack, hcSummaryStop};
constexpr std::array<int, 5> kFigureControls = {hcTotalLabel, hcTotalValue, hcSpaceLabel,
                                                hcSpaceValue, hcAfterCleaning};

// Layout at 96 DPI.
constexpr int kMargin = 24;
constexpr int kTitleTop = 16;
constexpr int kTitleH = 32;
constexpr int kGroupsTop = 56;
constexpr int kCaptionH = 20;
constexpr int kBoxStep = 22;
constexpr int kBoxH = 20;
constexpr int kGroupGap = 12;
constexpr int kColumnGap = 12;
constexpr int kButtonW = 100;
constexpr int kButtonH = 28;
constexpr int kButtonGap = 10;
constexpr int kProgressLabelW = 70;
constexpr int kLineH = 20;
constexpr int kCountColumnW = 90;
constexpr int kSizeColumnW = 100;
constexpr int kFirstColumnMinW = 160;
constexpr COLORREF kSeparatorColour = RGB(0x80, 0x80, 0x80);

std::wstring W(const std::string &text) {
  return qp::win32::Wide(text);
}

// The categories of a group, in category order.
std::vector<TCleanCategory> GroupCategories(TCleanGroup group) {
  std::vector<TCleanCategory> found;
  for (const TCleanCategoryInfo &info : kCleanCategories)
    if (info.group == group)
      found.push_back(info.category);
  return found;
}

int WindowsGroupHeight() {
  return kCaptionH + 2 + kWindowsRows * kBoxStep;
}

int BrowserGroupsHeight() {
  std::size_t most = 0;
  for (const TCleanGroup group : kBrowserGroups)
    most = std::max(most, GroupCategories(group).size());
  return kCaptionH + 2 + static_cast<int>(most) * kBoxStep;
}

} // namespace

void THistoryPageView::Build() {
  fontRoles_.emplace_back(Add(L"STATIC", W(kHistoryPageTitle), SS_LEFT | SS_NOPREFIX, hcTitle), 2);
  // In tab order: the Windows categories, the browsers column by column,
  // the two boxes below them and the commands.
  std::vector<TCleanGroup> groups = {cgWindows};
  groups.insert(groups.end(), kBrowserGroups.begin(), kBrowserGroups.end());
  for (const TCleanGroup group : groups) {
    fontRoles_.emplace_back(Add(L"STATIC", W(std::string(GroupCaption(group))),
                                SS_LEFT | SS_NOPREFIX, GroupCaptionId(group)),
                            1);
    for (const TCleanCategory category : GroupCategories(group))
      Add(L"BUTTON", W(GetCategoryCaption(category)), WS_TABSTOP | BS_AUTOCHECKBOX,
          BoxId(category));
  }
  // Not an automatic box: its state is the logic's, which a click asks to
  // change.
  Add(L"BUTTON", W(kHistoryCheckAll), WS_TABSTOP | BS_3STATE, hcCheckAll);
  Add(L"BUTTON", W(kHistoryDownloadedFilesBox), WS_TABSTOP | BS_AUTOCHECKBOX, hcDownloads);
  Add(L"BUTTON", L"Analyze", WS_TABSTOP | BS_DEFPUSHBUTTON, hcAnalyze);
  Add(L"BUTTON", L"Clean", WS_TABSTOP | BS_PUSHBUTTON, hcClean);
  Add(L"BUTTON", L"Stop", WS_TABSTOP | BS_PUSHBUTTON, hcStop);

  qp::IgnoreResult(list_.Create(Handle(), hcList, false));
  list_.SetFont(ui::AsFont(ctx_.fonts.normal));
  list_.SetBoldFont(ui::AsFont(ctx_.fonts.bold));
  list_.SetSource({.text = [this](int row, int column) { return CellText(row, column); },
                   .bold =
                       [this](int row) {
                         const std::vector<THistoryRow> &rows = logic_.Rows();
                         return row >= 0 && static_cast<std::size_t>(row) < rows.size() &&
                                rows[static_cast<std::size_t>(row)].bold;
                       }});
  list_.SetEvents({.onActivate = [this](int row) {
    if (row < 0)
      return;
    logic_.OpenRow(static_cast<std::size_t>(row));
    Refresh();
  }});
  Add(L"STATIC", W(kHistorySummaryHint), SS_LEFT | SS_NOPREFIX, hcHint);
  Add(L"STATIC", W(kHistoryTotalFilesLabel), SS_LEFT | SS_NOPREFIX, hcTotalLabel);
  fontRoles_.emplace_back(Add(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, hcTotalValue), 1);
  Add(L"STATIC", W(kHistorySpaceFreedLabel), SS_LEFT | SS_NOPREFIX, hcSpaceLabel);
  fontRoles_.emplace_back(Add(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, hcSpaceValue), 1);
  Add(L"STATIC", W(kHistoryAfterCleaning), SS_LEFT | SS_NOPREFIX, hcAfterCleaning);
  Add(L"BUTTON", L"Clean", WS_TABSTOP | BS_PUSHBUTTON, hcSummaryClean);
  Add(L"BUTTON", L"Back", WS_TABSTOP | BS_PUSHBUTTON, hcBack);
  Add(L"BUTTON", L"Stop", WS_TABSTOP | BS_PUSHBUTTON, hcSummaryStop);

  Add(L"STATIC", W(kHistoryProgressLabel), SS_LEFT | SS_NOPREFIX, hcProgressLabel);
  Add(L"STATIC", L"", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, hcProgressText);
  qp::IgnoreResult(progress_.Create(Handle(), hcProgress));
  progress_.SetMax(100);
}

void THistoryPageView::OnDpiChanged() {
  list_.SetFont(ui::AsFont(ctx_.fonts.normal));
  list_.SetBoldFont(ui::AsFont(ctx_.fonts.bold));
  list_.SetDpi(Dpi());
  TPageView::OnDpiChanged();
}

// --- layout

void THistoryPageView::Layout() {
  const int w = Width();
  const int h = Height();
  Place(hcTitle, kMargin, kTitleTop, w - 2 * kMargin, kTitleH);
  LayoutCategories(w, h);
  LayoutSummary(w, h);
  LayoutProgress(w, h);
  FitColumns();
}

void THistoryPageView::LayoutCategories(int w, int h) {
  const int inner = w - 2 * kMargin;
  // The Windows categories: four columns under their caption.
  int y = kGroupsTop;
  Place(GroupCaptionId(cgWindows), kMargin, y, inner, kCaptionH);
  const int windowsColumnW = (inner - (kWindowsColumns - 1) * kColumnGap) / kWindowsColumns;
  const std::vector<TCleanCategory> windows = GroupCategories(cgWindows);
  for (std::size_t i = 0; i < windows.size(); ++i) {
    const int column = static_cast<int>(i) / kWindowsRows;
    const int row = static_cast<int>(i) % kWindowsRows;
    Place(BoxId(windows[i]), kMargin + column * (windowsColumnW + kColumnGap),
          y + kCaptionH + 2 + row * kBoxStep, windowsColumnW, kBoxH);
  }
  // The browsers: one column each, side by side.
  y += WindowsGroupHeight() + kGroupGap;
  const int browsers = static_cast<int>(kBrowserGroups.size());
  const int browserColumnW = (inner - (browsers - 1) * kColumnGap) / browsers;
  for (int b = 0; b < browsers; ++b) {
    const TCleanGroup group = kBrowserGroups[static_cast<std::size_t>(b)];
    const int x = kMargin + b * (browserColumnW + kColumnGap);
    Place(GroupCaptionId(group), x, y, browserColumnW, kCaptionH);
    const std::vector<TCleanCategory> categories = GroupCategories(group);
    for (std::size_t i = 0; i < categories.size(); ++i)
      Place(BoxId(categories[i]), x, y + kCaptionH + 2 + static_cast<int>(i) * kBoxStep,
            browserColumnW, kBoxH);
  }
  y += BrowserGroupsHeight() + kGroupGap;
  Place(hcCheckAll, kMargin, y, 200, kBoxH + 2);
  Place(hcDownloads, kMargin + 220, y, std::max(120, inner - 220), kBoxH + 2);
  // The commands at the bottom right, under the progress.
  const int progressBottom = y + kBoxH + 2 + 12 + 2 * kLineH + 6;
  const int buttonsY = std::max(progressBottom + 12, h - kMargin - kButtonH);
  const int right = w - kMargin;
  Place(hcStop, right - kButtonW, buttonsY, kButtonW, kButtonH);
  Place(hcClean, right - 2 * kButtonW - kButtonGap, buttonsY, kButtonW, kButtonH);
  Place(hcAnalyze, right - 3 * kButtonW - 2 * kButtonGap, buttonsY, kButtonW, kButtonH);
}

void THistoryPageView::LayoutSummary(int w, int h) {
  const int inner = w - 2 * kMargin;
  const int buttonsY = std::max(kGroupsTop + 160, h - kMargin - kButtonH);
  const int right = w - kMargin;
  Place(hcSummaryStop, right - kButtonW, buttonsY, kButtonW, kButtonH);
  Place(hcBack, right - 2 * kButtonW - kButtonGap, buttonsY, kButtonW, kButtonH);
  Place(hcSummaryClean, right - 3 * kButtonW - 2 * kButtonGap, buttonsY, kButtonW, kButtonH);
  const int figuresY = buttonsY - kLineH - 14;
  figuresY_ = figuresY;
  LayoutFigures();
  const int hintY = figuresY - kLineH - 6;
  Place(hcHint, kMargin, hintY, inner, kLineH);
  Place(hcList, kMargin, kGroupsTop, inner, std::max(60, hintY - 6 - kGroupsTop));
}

// The figures' row, each text as wide as it is (the values change with
// every analysis), so that a value stands next to its label and the remark
// next to the space value at any DPI and font.
void THistoryPageView::LayoutFigures() {
  int x = kMargin;
  const auto next = [&](int id, int gapAfter) {
    const int width = TextWidth96(Item(id)) + 4;
    Place(id, x, figuresY_, width, kLineH);
    x += width + gapAfter;
  };
  next(hcTotalLabel, 6);
  next(hcTotalValue, 28);
  next(hcSpaceLabel, 6);
  next(hcSpaceValue, 8);
  Place(hcAfterCleaning, x, figuresY_, std::max(40, Width() - kMargin - x), kLineH);
}

int THistoryPageView::TextWidth96(HWND control) const {
  wchar_t text[256] = {};
  const int length = ::GetWindowTextW(control, text, 256);
  const ui::WindowDcScope dc(control);
  const auto font = reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0));
  const ui::SelectScope select(dc.Dc(), font);
  SIZE size{0, 0};
  ::GetTextExtentPoint32W(dc.Dc(), text, length, &size);
  return ::MulDiv(size.cx, 96, static_cast<int>(Dpi().Value()));
}

void THistoryPageView::LayoutProgress(int w, int h) {
  const int inner = w - 2 * kMargin;
  if (logic_.ProgressPlace() == ppSummaryPage) {
    // On the summary page the bar shares the row of the commands.
    const int buttonsY = std::max(kGroupsTop + 160, h - kMargin - kButtonH);
    const int barX = kMargin + kProgressLabelW + 6;
    const int barW = std::max(40, inner - 3 * kButtonW - 2 * kButtonGap - 16 - kProgressLabelW - 6);
    Place(hcProgressLabel, kMargin, buttonsY + 5, kProgressLabelW, kLineH);
    Place(hcProgress, barX, buttonsY + 5, barW, kLineH - 2);
    Place(hcProgressText, barX, buttonsY + 5, 1, 1);
    return;
  }
  const int top = kGroupsTop + WindowsGroupHeight() + kGroupGap + BrowserGroupsHeight() +
                  kGroupGap + kBoxH + 2 + 12;
  Place(hcProgressLabel, kMargin, top, kProgressLabelW, kLineH);
  Place(hcProgressText, kMargin + kProgressLabelW + 6, top, inner - kProgressLabelW - 6, kLineH);
  Place(hcProgress, kMargin, top + kLineH + 4, inner, kLineH - 2);
}

void THistoryPageView::FitColumns() {
  const HWND list = list_.Handle();
  if (list == nullptr || shownColumns_.empty())
    return;
  RECT client{};
  ::GetClientRect(list, &client);
  // Room for the vertical scroll bar even before it shows.
  const bool scrollBar = (::GetWindowLongW(list, GWL_STYLE) & WS_VSCROLL) != 0;
  const int available = client.right - (scrollBar ? 0 : ::GetSystemMetrics(SM_CXVSCROLL));
  // The first column takes what the figures' columns leave.
  const bool detail = logic_.SummaryView() == hvDetail;
  int fixed = 0;
  for (std::size_t c = 1; c < shownColumns_.size(); ++c) {
    const int width = Scale(detail || c == 2 ? kSizeColumnW : kCountColumnW);
    ::SendMessageW(list, LVM_SETCOLUMNWIDTH, c, width);
    fixed += width;
  }
  ::SendMessageW(list, LVM_SETCOLUMNWIDTH, 0,
                 std::max(Scale(kFirstColumnMinW), available - fixed - 1));
}

// --- reading the logic

void THistoryPageView::Refresh() {
  if (list_.Handle() == nullptr)
    return;
  refreshing_ = true;
  const bool onCategories = logic_.SubPage() == hpCategories;
  const int place = static_cast<int>(logic_.ProgressPlace());
  if (shownSubPage_ != static_cast<int>(logic_.SubPage()) || shownPlace_ != place) {
    shownSubPage_ = static_cast<int>(logic_.SubPage());
    shownPlace_ = place;
    Layout();
  }
  SetText(hcTitle, onCategories ? std::string(kHistoryPageTitle) : logic_.SummaryTitle());
  RefreshCategories(onCategories);
  RefreshSummary(!onCategories);
  RefreshProgress(onCategories);
  KeepFocusVisible(onCategories);
  refreshing_ = false;
}

void THistoryPageView::RefreshCategories(bool shown) {
  for (const TCleanCategoryInfo &info : kCleanCategories) {
    Visible(BoxId(info.category), shown);
    SetCheck(BoxId(info.category), logic_.Checked(info.category));
    Enable(BoxId(info.category), logic_.BoxesEnabled());
  }
  Enable(hcCheckAll, logic_.BoxesEnabled());
  Enable(hcDownloads, logic_.BoxesEnabled());
  Visible(GroupCaptionId(cgWindows), shown);
  for (const TCleanGroup group : kBrowserGroups)
    Visible(GroupCaptionId(group), shown);
  for (const int id : kCategoryControls)
    Visible(id, shown);
  const TCheckState all = logic_.CheckAllState();
  const WPARAM state = all == TCheckState::Checked ? BST_CHECKED
                       : all == TCheckState::Mixed ? BST_INDETERMINATE
                                                   : BST_UNCHECKED;
  if (static_cast<WPARAM>(::SendMessageW(Item(hcCheckAll), BM_GETCHECK, 0, 0)) != state)
    ::SendMessageW(Item(hcCheckAll), BM_SETCHECK, state, 0);
  SetCheck(hcDownloads, logic_.DeleteDownloadedFiles());
  Enable(hcAnalyze, logic_.AnalyzeEnabled());
  Enable(hcClean, logic_.CleanEnabled());
  Enable(hcStop, logic_.StopEnabled());
}

void THistoryPageView::RefreshSummary(bool shown) {
  for (const int id : kSummaryButtons)
    Visible(id, shown);
  const bool figures = shown && logic_.FiguresVisible();
  for (const int id : kFigureControls)
    Visible(id, figures);
  const std::string totalFiles = logic_.TotalFilesText();
  const std::string spaceFreed = logic_.SpaceFreedText();
  if (totalFiles != shownFigures_[0] || spaceFreed != shownFigures_[1]) {
    SetText(hcTotalValue, totalFiles);
    SetText(hcSpaceValue, spaceFreed);
    shownFigures_ = {totalFiles, spaceFreed};
    LayoutFigures();
  }
  // The hint is about opening a row, which the clean result does not offer.
  Visible(hcHint, shown && logic_.SummaryView() != hvCleanResult);
  Enable(hcList, logic_.SummaryListEnabled());
  Enable(hcSummaryClean, logic_.CleanEnabled());
  Enable(hcBack, logic_.BackEnabled());
  Enable(hcSummaryStop, logic_.StopEnabled());
  RefreshList();
}

void THistoryPageView::RefreshList() {
  const std::vector<std::string> columns = logic_.Columns();
  if (columns != shownColumns_) {
    std::vector<ui::TListColumn> set;
    for (std::size_t c = 0; c < columns.size(); ++c)
      set.push_back({.title = W(columns[c]), .widthAt96 = 100, .rightAligned = c > 0});
    list_.SetColumns(set, Dpi());
    shownColumns_ = columns;
    FitColumns();
  }
  const std::string title = logic_.SummaryTitle();
  const int view = static_cast<int>(logic_.SummaryView());
  const bool otherList = view != shownView_ || title != shownTitle_;
  list_.SetRowCount(static_cast<int>(logic_.Rows().size()));
  if (otherList) {
    // Another list: from its top, its first row selected, so that Enter
    // acts on a row at once.
    shownView_ = view;
    shownTitle_ = title;
    // The clean result opens nothing: no row is picked there.
    list_.Select(logic_.Rows().empty() || view == hvCleanResult ? -1 : 0);
    ::SendMessageW(list_.Handle(), LVM_ENSUREVISIBLE, 0, FALSE);
  }
}

void THistoryPageView::RefreshProgress(bool onCategories) {
  const bool here = (logic_.ProgressPlace() == ppCategoryPage) == onCategories;
  const bool shown = logic_.ProgressVisible() && here;
  Visible(hcProgressLabel, shown);
  Visible(hcProgress, shown);
  // The "please wait" text belongs to the category page.
  Visible(hcProgressText, shown && logic_.ProgressPlace() == ppCategoryPage);
  SetText(hcProgressText, logic_.ProgressText());
  progress_.SetPosition(std::clamp(logic_.Progress(), 0, 100));
}

void THistoryPageView::KeepFocusVisible(bool onCategories) {
  // A control that was hidden or disabled under the focus leaves the
  // keyboard nowhere: the focus moves to the shown sub-page.
  const HWND focus = ::GetFocus();
  if (focus == nullptr || ::IsChild(Handle(), focus) == FALSE)
    return;
  if (::IsWindowVisible(focus) != FALSE && ::IsWindowEnabled(focus) != FALSE)
    return;
  HWND target = onCategories ? Item(hcAnalyze) : list_.Handle();
  if (::IsWindowEnabled(target) == FALSE)
    target = onCategories ? Item(BoxId(ccStartMenuOrderHistory)) : Item(hcSummaryStop);
  if (::IsWindowEnabled(target) == FALSE)
    target = ::GetNextDlgTabItem(Handle(), nullptr, FALSE);
  if (target != nullptr)
    ::SetFocus(target);
}

std::wstring THistoryPageView::CellText(int row, int column) const {
  const std::vector<THistoryRow> &rows = logic_.Rows();
  // The logic may hold fewer rows than the list was last told.
  if (row < 0 || static_cast<std::size_t>(row) >= rows.size())
    return {};
  const THistoryRow &r = rows[static_cast<std::size_t>(row)];
  // A detail list has the name and, where the category has one, the size;
  // the other lists have the section, its count and its size.
  if (logic_.SummaryView() == hvDetail)
    return W(column == 0 ? r.section : column == 1 ? r.size : std::string());
  switch (column) {
  case 0:
    return W(r.section);
  case 1:
    return W(r.count);
  case 2:
    return W(r.size);
  default:
    return {};
  }
}

// --- input

void THistoryPageView::SetCheck(int id, bool checked) const {
  const WPARAM state = checked ? BST_CHECKED : BST_UNCHECKED;
  if (static_cast<WPARAM>(::SendMessageW(Item(id), BM_GETCHECK, 0, 0)) != state)
    ::SendMessageW(Item(id), BM_SETCHECK, state, 0);
}

bool THistoryPageView::Checked(int id) const {
  return ::SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void THistoryPageView::OnCommand(int id, int code) {
  if (refreshing_ || code != BN_CLICKED)
    return;
  if (IsBoxId(id)) {
    logic_.SetChecked(static_cast<TCleanCategory>(id - hcCategoryBox), Checked(id));
    Refresh();
    return;
  }
  switch (id) {
  case hcCheckAll:
    logic_.ClickCheckAll();
    break;
  case hcDownloads:
    logic_.SetDeleteDownloadedFiles(Checked(id));
    break;
  case hcAnalyze:
    logic_.Analyze();
    break;
  case hcClean:
    logic_.CleanFromCategoryPage();
    break;
  case hcStop:
    logic_.StopAnalysis();
    break;
  case hcSummaryClean:
    logic_.CleanFromSummaryPage();
    break;
  case hcBack:
    logic_.Back();
    break;
  case hcSummaryStop:
    logic_.StopClean();
    break;
  default:
    return;
  }
  Refresh();
}

LRESULT THistoryPageView::OnNotify(const NMHDR &header, bool &handled) {
  if (header.hwndFrom == list_.Handle() && header.code == NM_CUSTOMDRAW)
    return CustomDrawList(header, handled);
  return list_.HandleNotify(header, handled);
}

// The list paints its rows itself; a separator row gets a line drawn over
// it afterwards: across its middle when it has no text of its own, else
// along its top.
LRESULT THistoryPageView::CustomDrawList(const NMHDR &header, bool &handled) {
  LRESULT result = list_.HandleNotify(header, handled);
  const auto &draw = reinterpret_cast<const NMLVCUSTOMDRAW &>(header);
  const std::vector<THistoryRow> &rows = logic_.Rows();
  const auto row = static_cast<std::size_t>(draw.nmcd.dwItemSpec);
  if (draw.nmcd.dwDrawStage != CDDS_ITEMPREPAINT && draw.nmcd.dwDrawStage != CDDS_ITEMPOSTPAINT)
    return result;
  if (row >= rows.size() || !rows[row].separator)
    return result;
  handled = true;
  if (draw.nmcd.dwDrawStage == CDDS_ITEMPREPAINT)
    return result | CDRF_NOTIFYPOSTPAINT;
  RECT r{};
  r.left = LVIR_BOUNDS;
  if (::SendMessageW(list_.Handle(), LVM_GETITEMRECT, static_cast<WPARAM>(row),
                     reinterpret_cast<LPARAM>(&r)) == FALSE)
    return CDRF_DODEFAULT;
  const int y = rows[row].section.empty() ? (r.top + r.bottom) / 2 : r.top;
  const ui::UniqueGdi pen(::CreatePen(PS_SOLID, std::max(1, Scale(1)), kSeparatorColour));
  const ui::SelectScope select(draw.nmcd.hdc, pen.Get());
  ::MoveToEx(draw.nmcd.hdc, r.left + Scale(4), y, nullptr);
  ::LineTo(draw.nmcd.hdc, r.right - Scale(4), y);
  return CDRF_DODEFAULT;
}

} // namespace quenlo::win
