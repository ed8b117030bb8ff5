// The optimizer page: "System performance" (the defragmenter's panel, the
// three sliders with their captions and "more info" links, the two check
// boxes with their descriptions, Apply and Reset) and, from Vista on,
// "Windows Tweaks" (the tweaks' boxes in their three groups, the selected
// tweak's description, the number editor, Apply, Reset and "OS defaults"),
// one tab each. The tab control is only the strip of tab headers; the
// controls of both tabs are children of the page, the other tab's hidden.
#include "platform/win32/WinApi.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

#include "platform/win32/WinText.h"
#include "uViews.h"
#include "ui/uGdi.h"

namespace quenlo::win {

namespace {

enum TOptimizerControl : int {
  ocTitle = 10,
  ocTabs,
  // System performance
  ocDefragCaption,
  ocDefragText,
  ocAnalyze,
  ocSettingsCaption,
  ocBootBox,
  ocBootText,
  ocAutoEndBox,
  ocAutoEndText,
  ocApply,
  ocReset,
  ocSliderCaption = 40, // + TSysSettingId of the three sliders
  ocSlider = 50,
  ocSliderInfo = 60,
  // Windows Tweaks
  ocGroupCaption = 70, // + TTweakGroup
  ocTweakDescription = 80,
  ocEditorCaption,
  ocEditor,
  ocEditorUnit,
  ocTweaksApply,
  ocTweaksReset,
  ocOsDefaults,
  ocTweakBox = 100, // + tweak number
};

// The controls that come one per slider, group or tweak.
constexpr int SliderCaptionId(TSysSettingId id) {
  return ocSliderCaption + static_cast<int>(id);
}
constexpr int SliderId(TSysSettingId id) {
  return ocSlider + static_cast<int>(id);
}
constexpr int SliderInfoId(TSysSettingId id) {
  return ocSliderInfo + static_cast<int>(id);
}
constexpr int GroupCaptionId(TTweakGroup group) {
  return ocGroupCaption + static_cast<int>(group);
}

enum TOptimizerTab : int { otPerformance = 0, otTweaks = 1 };

constexpr TSysSettingId kSliders[] = {ssMenuShowDelay, ssWaitToKillApp, ssWaitToKillService};
constexpr TTweakGroup kGroups[] = {tgInterface, tgPerformance, tgOther};

constexpr const wchar_t *kDefragCaption = L"Registry Defragmentation";
constexpr const wchar_t *kDefragText =
    L"Analyzes the registry files and rebuilds them without the gaps that deleted entries "
    L"leave behind. Windows loads the compact files at the next restart.";
constexpr const wchar_t *kSettingsCaption = L"System Settings";
constexpr const wchar_t *kMoreInfo = L"more info";
constexpr COLORREF kLinkColour = RGB(0x00, 0x50, 0xC0);

// Layout at 96 DPI.
constexpr int kMargin = 24;
constexpr int kTitleTop = 16;
constexpr int kTabsTop = 56;
constexpr int kTabsHeight = 26;
constexpr int kContentGap = 16;
constexpr int kLine = 20;      // a check box or a caption
constexpr int kTweakStep = 20; // between two tweak boxes
constexpr int kGroupGap = 10;  // before a group caption
constexpr int kButtonW = 100;
constexpr int kButtonH = 28;
constexpr int kButtonGap = 10;
constexpr int kSliderH = 30;
constexpr int kSliderStep = 76;
constexpr int kInfoW = 70;
constexpr int kIndent = 20;
constexpr int kTweakIndent = 8;
constexpr int kCheckRoom = 24; // the box and its gap before the text

// The slider's range in its unit.
int SliderMaximum(TSysSettingId id) {
  return id == ssMenuShowDelay ? kMenuShowDelayMax : kTimeoutMaxSec;
}

} // namespace

TOptimizerPageView::TOptimizerPageView(TViewContext context, TOptimizerPageLogic &performance,
                                       TTweaksPageLogic *tweaks)
    : TPageView(context), performance_(performance), tweaks_(tweaks) {}

int TOptimizerPageView::ContentTop() const {
  return tweaks_ != nullptr ? kTabsTop + kTabsHeight + kContentGap : kTabsTop;
}

void TOptimizerPageView::Build() {
  fontRoles_.emplace_back(Add(L"STATIC", L"Optimize System Performance", SS_LEFT, ocTitle), 2);
  if (tweaks_ != nullptr) {
    const HWND tabs = Add(WC_TABCONTROLW, L"", WS_TABSTOP | TCS_FOCUSONBUTTONDOWN, ocTabs);
    const wchar_t *names[] = {L"System performance", L"Windows Tweaks"};
    for (int i = 0; i < 2; ++i) {
      TCITEMW item{};
      item.mask = TCIF_TEXT;
      item.pszText = const_cast<wchar_t *>(names[i]);
      ::SendMessageW(tabs, TCM_INSERTITEMW, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(&item));
    }
  }
  BuildPerformance();
  if (tweaks_ != nullptr)
    BuildTweaks();
  ShowTab(otPerformance);
}

void TOptimizerPageView::BuildPerformance() {
  fontRoles_.emplace_back(Add(L"STATIC", kDefragCaption, SS_LEFT, ocDefragCaption), 3);
  Add(L"STATIC", kDefragText, SS_LEFT, ocDefragText);
  Add(L"BUTTON", L"Analyze", WS_TABSTOP | BS_PUSHBUTTON, ocAnalyze);
  fontRoles_.emplace_back(Add(L"STATIC", kSettingsCaption, SS_LEFT, ocSettingsCaption), 3);
  for (const TSysSettingId id : kSliders) {
    Add(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, SliderCaptionId(id));
    const HWND slider =
        Add(TRACKBAR_CLASSW, L"", WS_TABSTOP | TBS_HORZ | TBS_AUTOTICKS | TBS_BOTTOM, SliderId(id));
    ::SendMessageW(slider, TBM_SETRANGEMIN, FALSE, 0);
    ::SendMessageW(slider, TBM_SETRANGEMAX, TRUE, SliderMaximum(id));
    // Ticks every 500 ms or 5 s; the arrow keys move by one unit, Page Up
    // and Page Down by a tick.
    const int tick = id == ssMenuShowDelay ? 500 : 5;
    ::SendMessageW(slider, TBM_SETTICFREQ, static_cast<WPARAM>(tick), 0);
    ::SendMessageW(slider, TBM_SETPAGESIZE, 0, tick);
    fontRoles_.emplace_back(Add(L"BUTTON", kMoreInfo, WS_TABSTOP | BS_OWNERDRAW, SliderInfoId(id)),
                            4);
  }
  Add(L"BUTTON", qp::win32::Wide(kBootOptimizationBox), WS_TABSTOP | BS_AUTOCHECKBOX, ocBootBox);
  Add(L"STATIC", qp::win32::Wide(kBootOptimizationText), SS_LEFT, ocBootText);
  Add(L"BUTTON", qp::win32::Wide(kAutoEndTasksBox), WS_TABSTOP | BS_AUTOCHECKBOX, ocAutoEndBox);
  Add(L"STATIC", qp::win32::Wide(kAutoEndTasksText), SS_LEFT, ocAutoEndText);
  Add(L"BUTTON", L"Apply", WS_TABSTOP | BS_PUSHBUTTON, ocApply);
  Add(L"BUTTON", L"Reset", WS_TABSTOP | BS_PUSHBUTTON, ocReset);
}

void TOptimizerPageView::BuildTweaks() {
  tweaks_->Load();
  for (const TTweakGroup group : kGroups)
    fontRoles_.emplace_back(Add(L"STATIC", qp::win32::Wide(std::string(TweakGroupCaption(group))),
                                SS_LEFT, GroupCaptionId(group)),
                            1);
  for (const int id : tweaks_->Shown())
    Add(L"BUTTON", qp::win32::Wide(tweaks_->Box(id).name), WS_TABSTOP | BS_AUTOCHECKBOX | BS_NOTIFY,
        ocTweakBox + id);
  Add(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, ocTweakDescription);
  Add(L"STATIC", L"", SS_LEFT, ocEditorCaption);
  Add(L"EDIT", L"", WS_TABSTOP | WS_BORDER | ES_NUMBER | ES_AUTOHSCROLL, ocEditor);
  Add(L"STATIC", L"", SS_LEFT, ocEditorUnit);
  Add(L"BUTTON", L"Apply", WS_TABSTOP | BS_PUSHBUTTON, ocTweaksApply);
  Add(L"BUTTON", L"Reset", WS_TABSTOP | BS_PUSHBUTTON, ocTweaksReset);
  Add(L"BUTTON", L"OS defaults", WS_TABSTOP | BS_PUSHBUTTON, ocOsDefaults);
}

void TOptimizerPageView::Layout() {
  const int w = Width();
  const int h = Height();
  Place(ocTitle, kMargin, kTitleTop, w - 2 * kMargin, 32);
  if (tweaks_ != nullptr)
    Place(ocTabs, kMargin, kTabsTop, w - 2 * kMargin, kTabsHeight);
  const int top = ContentTop();
  const int columnW = (w - 3 * kMargin) / 2;
  const int left = kMargin;
  const int right = 2 * kMargin + columnW;
  // The buttons of both tabs sit at the bottom right, under the content.
  const int buttonsY = std::max(top + 330, h - kMargin - kButtonH);

  // --- System performance: the defragmenter and the check boxes on the
  // left, the sliders on the right.
  int y = top;
  Place(ocDefragCaption, left, y, columnW, 22);
  Place(ocDefragText, left, y + 26, columnW, 48);
  Place(ocAnalyze, left, y + 80, kButtonW + 20, kButtonH);
  y = performance_.DefragPanelVisible() ? top + 140 : top;
  Place(ocBootBox, left, y, columnW, kLine);
  Place(ocBootText, left + kIndent, y + 22, columnW - kIndent, 36);
  Place(ocAutoEndBox, left, y + 70, columnW, kLine);
  Place(ocAutoEndText, left + kIndent, y + 92, columnW - kIndent, 50);
  Place(ocSettingsCaption, right, top, columnW, 22);
  for (std::size_t i = 0; i < std::size(kSliders); ++i) {
    const TSysSettingId id = kSliders[i];
    const int sy = top + 30 + static_cast<int>(i) * kSliderStep;
    Place(SliderCaptionId(id), right, sy, columnW - kInfoW - 8, kLine);
    Place(SliderInfoId(id), right + columnW - kInfoW, sy, kInfoW, kLine);
    Place(SliderId(id), right, sy + 22, columnW, kSliderH);
  }
  const int buttonsRight = w - kMargin;
  Place(ocReset, buttonsRight - kButtonW, buttonsY, kButtonW, kButtonH);
  Place(ocApply, buttonsRight - 2 * kButtonW - kButtonGap, buttonsY, kButtonW, kButtonH);

  if (tweaks_ == nullptr)
    return;
  // --- Windows Tweaks: the interface tweaks on the left, the other two
  // groups and the editor on the right. The columns share the width by
  // their longest names, so no name is cut off where the page is narrow.
  const int available = w - 3 * kMargin;
  int leftNeed = 0;
  int rightNeed = 0;
  for (const int id : tweaks_->Shown()) {
    const int need = kTweakIndent + kCheckRoom + TextWidth96(Item(ocTweakBox + id));
    int &column = TweakGroup(id) == tgInterface ? leftNeed : rightNeed;
    column = std::max(column, need);
  }
  int leftW = available / 2;
  if (leftNeed + rightNeed > 0)
    leftW = leftNeed + rightNeed <= available ? leftNeed + (available - leftNeed - rightNeed) / 2
                                              : available * leftNeed / (leftNeed + rightNeed);
  const int rightW = available - leftW;
  const int tweaksRight = 2 * kMargin + leftW;
  int rightY = top;
  for (const TTweakGroup group : kGroups) {
    const bool leftColumn = group == tgInterface;
    const int x = leftColumn ? left : tweaksRight;
    const int columnWidth = leftColumn ? leftW : rightW;
    int gy = leftColumn ? top : rightY;
    if (!leftColumn && group != tgPerformance)
      gy += kGroupGap;
    Place(GroupCaptionId(group), x, gy, columnWidth, kLine);
    gy += kLine + 4;
    for (const int id : tweaks_->Shown()) {
      if (TweakGroup(id) != group)
        continue;
      Place(ocTweakBox + id, x + kTweakIndent, gy, columnWidth - kTweakIndent, kLine - 2);
      gy += kTweakStep;
    }
    if (!leftColumn)
      rightY = gy;
  }
  rightY += kGroupGap + 4;
  Place(ocTweakDescription, tweaksRight, rightY, rightW, 66);
  rightY += 66 + 12;
  Place(ocEditorCaption, tweaksRight, rightY + 3, 110, kLine);
  Place(ocEditor, tweaksRight + 114, rightY, 64, 22);
  Place(ocEditorUnit, tweaksRight + 186, rightY + 3, rightW - 186, kLine);
  Place(ocOsDefaults, buttonsRight - kButtonW, buttonsY, kButtonW, kButtonH);
  Place(ocTweaksReset, buttonsRight - 2 * kButtonW - kButtonGap, buttonsY, kButtonW, kButtonH);
  Place(ocTweaksApply, buttonsRight - 3 * kButtonW - 2 * kButtonGap, buttonsY, kButtonW, kButtonH);
}

int TOptimizerPageView::TextWidth96(HWND control) const {
  wchar_t text[256] = {};
  const int length = ::GetWindowTextW(control, text, 256);
  const ui::WindowDcScope dc(control);
  const auto font = reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0));
  const ui::SelectScope select(dc.Dc(), font);
  SIZE size{0, 0};
  ::GetTextExtentPoint32W(dc.Dc(), text, length, &size);
  return ::MulDiv(size.cx, 96, static_cast<int>(Dpi().Value()));
}

void TOptimizerPageView::ShowTab(int tab) {
  tab_ = tweaks_ != nullptr ? tab : otPerformance;
  if (tweaks_ != nullptr)
    ::SendMessageW(Item(ocTabs), TCM_SETCURSEL, static_cast<WPARAM>(tab_), 0);
  Refresh();
}

void TOptimizerPageView::OnShown() {
  // The values are read from the registry each time the page comes up.
  performance_.Load();
}

void TOptimizerPageView::Refresh() {
  refreshing_ = true;
  RefreshPerformance(tab_ == otPerformance);
  if (tweaks_ != nullptr)
    RefreshTweaks(tab_ == otTweaks);
  refreshing_ = false;
}

void TOptimizerPageView::RefreshPerformance(bool shown) {
  const bool defrag = shown && performance_.DefragPanelVisible();
  for (const int id : {ocDefragCaption, ocDefragText, ocAnalyze})
    Visible(id, defrag);
  for (const int id :
       {ocSettingsCaption, ocBootBox, ocBootText, ocAutoEndBox, ocAutoEndText, ocApply, ocReset})
    Visible(id, shown);
  const int positions[] = {performance_.MenuShowDelayPosition(),
                           performance_.WaitToKillAppPosition(),
                           performance_.WaitToKillServicePosition()};
  const std::string captions[] = {performance_.MenuShowDelayCaption(),
                                  performance_.WaitToKillAppCaption(),
                                  performance_.WaitToKillServiceCaption()};
  for (std::size_t i = 0; i < std::size(kSliders); ++i) {
    const TSysSettingId id = kSliders[i];
    for (const int control : {SliderCaptionId(id), SliderId(id), SliderInfoId(id)})
      Visible(control, shown);
    SetText(SliderCaptionId(id), captions[i]);
    const HWND slider = Item(SliderId(id));
    if (::SendMessageW(slider, TBM_GETPOS, 0, 0) != positions[i])
      ::SendMessageW(slider, TBM_SETPOS, TRUE, positions[i]);
  }
  SetCheck(ocBootBox, performance_.BootOptimizationChecked());
  SetCheck(ocAutoEndBox, performance_.AutoEndTasksChecked());
  Enable(ocApply, performance_.ApplyEnabled());
  Enable(ocReset, performance_.ResetEnabled());
}

void TOptimizerPageView::RefreshTweaks(bool shown) {
  for (const TTweakGroup group : kGroups) {
    const bool any = std::any_of(tweaks_->Shown().begin(), tweaks_->Shown().end(),
                                 [group](int id) { return TweakGroup(id) == group; });
    Visible(GroupCaptionId(group), shown && any);
  }
  for (const int id : tweaks_->Shown()) {
    Visible(ocTweakBox + id, shown);
    SetCheck(ocTweakBox + id, tweaks_->Ticked(id));
    Enable(ocTweakBox + id, tweaks_->Enabled(id));
  }
  Visible(ocTweakDescription, shown);
  const std::optional<int> selected = tweaks_->Selected();
  SetText(ocTweakDescription, selected ? tweaks_->Box(*selected).description : std::string());

  const TNumberEditor editor = tweaks_->Editor();
  for (const int id : {ocEditorCaption, ocEditor, ocEditorUnit})
    Visible(id, shown && editor.visible);
  SetText(ocEditorCaption, editor.caption);
  SetText(ocEditorUnit, editor.unit);
  Enable(ocEditor, editor.enabled);
  ::SendMessageW(Item(ocEditor), EM_SETLIMITTEXT, static_cast<WPARAM>(std::max(1, editor.digits)),
                 0);
  SetText(ocEditor, editor.text);
  for (const int id : {ocTweaksApply, ocTweaksReset, ocOsDefaults})
    Visible(id, shown);
  Enable(ocTweaksApply, tweaks_->ApplyAvailable());
  Enable(ocTweaksReset, tweaks_->ResetAvailable());
}

void TOptimizerPageView::SetCheck(int id, bool checked) const {
  const WPARAM state = checked ? BST_CHECKED : BST_UNCHECKED;
  if (static_cast<WPARAM>(::SendMessageW(Item(id), BM_GETCHECK, 0, 0)) != state)
    ::SendMessageW(Item(id), BM_SETCHECK, state, 0);
}

bool TOptimizerPageView::Checked(int id) const {
  return ::SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TOptimizerPageView::OnCommand(int id, int code) {
  if (refreshing_)
    return;
  if (id >= ocTweakBox && id < ocTweakBox + kTweakCount && tweaks_ != nullptr) {
    const int tweak = id - ocTweakBox;
    if (code == BN_CLICKED)
      tweaks_->SetTicked(tweak, Checked(id));
    else if (code == BN_SETFOCUS)
      tweaks_->Select(tweak);
    else
      return;
    Refresh();
    return;
  }
  if (id == ocEditor && code == EN_CHANGE && tweaks_ != nullptr) {
    EditorChanged();
    return;
  }
  if (code != BN_CLICKED)
    return;
  switch (id) {
  case ocAnalyze:
    performance_.Analyze();
    break;
  case ocApply:
    performance_.Apply();
    break;
  case ocReset:
    performance_.Reset();
    break;
  case ocBootBox:
    performance_.SetBootOptimization(Checked(id));
    break;
  case ocAutoEndBox:
    performance_.SetAutoEndTasks(Checked(id));
    break;
  case SliderInfoId(ssMenuShowDelay):
  case SliderInfoId(ssWaitToKillApp):
  case SliderInfoId(ssWaitToKillService):
    performance_.ShowMoreInfo(static_cast<TSysSettingId>(id - ocSliderInfo));
    break;
  case ocTweaksApply:
    if (tweaks_ != nullptr)
      qp::IgnoreResult(tweaks_->Apply());
    break;
  case ocTweaksReset:
    if (tweaks_ != nullptr)
      tweaks_->Reset();
    break;
  case ocOsDefaults:
    if (tweaks_ != nullptr)
      qp::IgnoreResult(tweaks_->OsDefaults());
    break;
  default:
    return;
  }
  Refresh();
}

void TOptimizerPageView::EditorChanged() {
  const HWND edit = Item(ocEditor);
  wchar_t typed[32] = {};
  ::GetWindowTextW(edit, typed, 32);
  const std::string text = qp::win32::Narrow(typed);
  const std::string shown = tweaks_->EditNumber(text);
  refreshing_ = true;
  if (shown != text) {
    ::SetWindowTextW(edit, qp::win32::Wide(shown).c_str());
    ::SendMessageW(edit, EM_SETSEL, shown.size(), shown.size());
  }
  // A one-digit number: the next digit typed replaces it.
  if (tweaks_->Editor().typedDigitReplaces)
    ::SendMessageW(edit, EM_SETSEL, 0, -1);
  refreshing_ = false;
  Refresh();
}

void TOptimizerPageView::SliderMoved(HWND slider) {
  const int id = ::GetDlgCtrlID(slider) - ocSlider;
  const int position = static_cast<int>(::SendMessageW(slider, TBM_GETPOS, 0, 0));
  switch (id) {
  case ssMenuShowDelay:
    performance_.SetMenuShowDelay(position);
    break;
  case ssWaitToKillApp:
    performance_.SetWaitToKillApp(position);
    break;
  case ssWaitToKillService:
    performance_.SetWaitToKillService(position);
    break;
  default:
    return;
  }
  // The caption follows the slider as it moves.
  Refresh();
}

LRESULT TOptimizerPageView::OnNotify(const NMHDR &header, bool &handled) {
  handled = false;
  if (header.idFrom == ocTabs && header.code == TCN_SELCHANGE) {
    handled = true;
    ShowTab(static_cast<int>(::SendMessageW(Item(ocTabs), TCM_GETCURSEL, 0, 0)));
  }
  return 0;
}

bool TOptimizerPageView::OnOwnerDrawn(UINT message, LPARAM lParam) {
  if (message != WM_DRAWITEM)
    return false;
  const auto &item = *reinterpret_cast<const DRAWITEMSTRUCT *>(lParam);
  if (item.CtlType != ODT_BUTTON)
    return false;
  // A "more info" link: underlined text that takes the focus as a button.
  ui::FillSolid(item.hDC, item.rcItem, ::GetSysColor(COLOR_WINDOW));
  const ui::SelectScope font(item.hDC, ctx_.fonts.link.Get());
  RECT text = item.rcItem;
  ui::DrawTextIn(item.hDC, kMoreInfo, text, kLinkColour,
                 DT_RIGHT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  if ((item.itemState & ODS_FOCUS) != 0) {
    RECT measured{0, 0, 0, 0};
    ::DrawTextW(item.hDC, kMoreInfo, -1, &measured, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    RECT focus = item.rcItem;
    focus.left = std::max(focus.left, focus.right - (measured.right - measured.left) - 2);
    ::DrawFocusRect(item.hDC, &focus);
  }
  return true;
}

LRESULT TOptimizerPageView::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_HSCROLL && lParam != 0) {
    if (!refreshing_)
      SliderMoved(reinterpret_cast<HWND>(lParam));
    return 0;
  }
  return TPageView::OnMessage(message, wParam, lParam);
}

} // namespace quenlo::win
