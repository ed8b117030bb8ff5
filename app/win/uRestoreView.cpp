// The restore page: the title and its hint, the day selector with the item
// count, the select-all box, the check list of the day's keys, and the row
// of Restore, Print and Show Key beside the box that purges old days. The
// tab order follows that reading order. The list is a standard list view
// with check boxes, so a click on a box or Space on a row marks it as in
// any Windows list; the view hands each change to the logic.
#include "platform/win32/WinApi.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/WinText.h"
#include "uViews.h"
#include "ui/uGdi.h"

namespace quenlo::win {

namespace {

enum TRestoreControl : int {
  rcTitle = 10,
  rcHint,
  rcDayLabel,
  rcDays,
  rcCount,
  rcSelectAll,
  rcList,
  rcRestore,
  rcPrint,
  rcShowKey,
  rcDeleteAfterWeek,
};

constexpr wchar_t kTitle[] = L"Restore Backups";
constexpr wchar_t kHint[] = L"Tick the keys to put back as they were before a repair, then click "
                            L"Restore.";
constexpr wchar_t kDayLabel[] = L"Backup day:";
constexpr wchar_t kSelectAll[] = L"Select All";
constexpr wchar_t kKeyColumn[] = L"Registry Key";
constexpr wchar_t kDeleteAfterWeek[] = L"Delete backups older than one week";

// The list view's state images with LVS_EX_CHECKBOXES: 1 clear, 2 ticked
// (0: none yet, while an item is being inserted).
constexpr UINT kNoImage = 0;
constexpr UINT kUncheckedImage = 1;
constexpr UINT kCheckedImage = 2;

UINT StateImage(UINT state) {
  return (state & LVIS_STATEIMAGEMASK) >> 12;
}

// Layout at 96 DPI.
constexpr int kMargin = 24;
constexpr int kTitleTop = 16;
constexpr int kTitleH = 32;
constexpr int kHintTop = 50;
constexpr int kLineH = 20;
constexpr int kDaysTop = 76;
constexpr int kDayLabelW = 60; // at least
constexpr int kDaysW = 160;
constexpr int kDropDownH = 240; // the combo box's height with its list open
constexpr int kCountW = 200;
constexpr int kSelectAllTop = 108;
constexpr int kSelectAllW = 200;
constexpr int kBoxH = 22;
constexpr int kListTop = 134;
constexpr int kButtonW = 100;
constexpr int kButtonH = 28;
constexpr int kButtonGap = 10;
constexpr int kGap = 12;

std::wstring W(const std::string &text) {
  return qp::win32::Wide(text);
}

} // namespace

void TRestorePageView::Build() {
  fontRoles_.emplace_back(Add(L"STATIC", kTitle, SS_LEFT | SS_NOPREFIX, rcTitle), 2);
  Add(L"STATIC", kHint, SS_LEFT | SS_NOPREFIX, rcHint);
  Add(L"STATIC", kDayLabel, SS_LEFT | SS_NOPREFIX, rcDayLabel);
  Add(WC_COMBOBOXW, L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, rcDays);
  Add(L"STATIC", L"", SS_RIGHT | SS_NOPREFIX, rcCount);
  // Not an automatic box: its state is the logic's, which a click asks to
  // change.
  Add(L"BUTTON", kSelectAll, WS_TABSTOP | BS_3STATE, rcSelectAll);
  const HWND list =
      Add(WC_LISTVIEWW, L"",
          WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER, rcList);
  ::SetWindowLongW(list, GWL_EXSTYLE, ::GetWindowLongW(list, GWL_EXSTYLE) | WS_EX_CLIENTEDGE);
  ::SetWindowPos(list, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  const DWORD extended = LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER;
  ::SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH;
  column.cx = Scale(400);
  column.pszText = const_cast<wchar_t *>(kKeyColumn);
  ::SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
  Add(L"BUTTON", L"Restore", WS_TABSTOP | BS_PUSHBUTTON, rcRestore);
  Add(L"BUTTON", L"Print", WS_TABSTOP | BS_PUSHBUTTON, rcPrint);
  Add(L"BUTTON", L"Show Key", WS_TABSTOP | BS_PUSHBUTTON, rcShowKey);
  Add(L"BUTTON", kDeleteAfterWeek, WS_TABSTOP | BS_AUTOCHECKBOX, rcDeleteAfterWeek);
}

// --- layout

void TRestorePageView::Layout() {
  const int w = Width();
  const int h = Height();
  const int inner = w - 2 * kMargin;
  Place(rcTitle, kMargin, kTitleTop, inner, kTitleH);
  Place(rcHint, kMargin, kHintTop, inner, kLineH);
  // The label as wide as its text at any DPI and font, the selector beside it.
  const int labelW = std::max(kDayLabelW, TextWidth96(Item(rcDayLabel)) + 4);
  Place(rcDayLabel, kMargin, kDaysTop + 4, labelW, kLineH);
  Place(rcDays, kMargin + labelW + 4, kDaysTop, kDaysW, kDropDownH);
  Place(rcCount, w - kMargin - kCountW, kDaysTop + 4, kCountW, kLineH);
  Place(rcSelectAll, kMargin, kSelectAllTop, kSelectAllW, kBoxH);
  const int buttonsY = std::max(kListTop + 80, h - kMargin - kButtonH);
  const int right = w - kMargin;
  Place(rcShowKey, right - kButtonW, buttonsY, kButtonW, kButtonH);
  Place(rcPrint, right - 2 * kButtonW - kButtonGap, buttonsY, kButtonW, kButtonH);
  Place(rcRestore, right - 3 * kButtonW - 2 * kButtonGap, buttonsY, kButtonW, kButtonH);
  const int boxW = std::max(120, inner - 3 * kButtonW - 2 * kButtonGap - kGap);
  Place(rcDeleteAfterWeek, kMargin, buttonsY + (kButtonH - kBoxH) / 2, boxW, kBoxH);
  Place(rcList, kMargin, kListTop, inner, std::max(60, buttonsY - kGap - kListTop));
  FitColumn();
}

int TRestorePageView::TextWidth96(HWND control) const {
  wchar_t text[256] = {};
  const int length = ::GetWindowTextW(control, text, 256);
  const ui::WindowDcScope dc(control);
  const auto font = reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0));
  const ui::SelectScope select(dc.Dc(), font);
  SIZE size{0, 0};
  ::GetTextExtentPoint32W(dc.Dc(), text, length, &size);
  return ::MulDiv(size.cx, 96, static_cast<int>(Dpi().Value()));
}

void TRestorePageView::FitColumn() const {
  const HWND list = Item(rcList);
  if (list == nullptr)
    return;
  RECT client{};
  ::GetClientRect(list, &client);
  // Room for the vertical scroll bar even before it shows, so that no
  // horizontal one appears for a long day.
  const bool scrollBar = (::GetWindowLongW(list, GWL_STYLE) & WS_VSCROLL) != 0;
  const int width = client.right - (scrollBar ? 0 : ::GetSystemMetrics(SM_CXVSCROLL));
  ::SendMessageW(list, LVM_SETCOLUMNWIDTH, 0, std::max(Scale(120), width - 1));
}

void TRestorePageView::OnDpiChanged() {
  TPageView::OnDpiChanged();
  FitColumn();
}

// --- reading the logic

void TRestorePageView::Refresh() {
  if (Item(rcList) == nullptr)
    return;
  refreshing_ = true;
  RefreshDays();
  RefreshEntries();
  const bool any = !logic_.Entries().empty();
  SetText(rcCount, logic_.ItemCountText());
  SetCheck(rcSelectAll, logic_.SelectAll());
  Enable(rcSelectAll, any);
  Enable(rcRestore, logic_.RestoreEnabled());
  Enable(rcPrint, logic_.PrintEnabled());
  Enable(rcShowKey, any);
  SetCheck(rcDeleteAfterWeek,
           logic_.DeleteAfterWeek() ? TCheckState::Checked : TCheckState::Unchecked);
  KeepFocusUsable();
  refreshing_ = false;
}

void TRestorePageView::RefreshDays() {
  const HWND days = Item(rcDays);
  if (logic_.Days() != shownDays_) {
    ::SendMessageW(days, CB_RESETCONTENT, 0, 0);
    for (const std::string &day : logic_.Days())
      ::SendMessageW(days, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(day).c_str()));
    shownDays_ = logic_.Days();
  }
  const auto selected = static_cast<int>(::SendMessageW(days, CB_GETCURSEL, 0, 0));
  if (selected != logic_.SelectedDay())
    ::SendMessageW(days, CB_SETCURSEL, static_cast<WPARAM>(logic_.SelectedDay()), 0);
  Enable(rcDays, !logic_.Days().empty());
}

void TRestorePageView::RefreshEntries() {
  const HWND list = Item(rcList);
  const std::vector<TRestorePage::TEntry> &entries = logic_.Entries();
  std::vector<std::string> texts;
  texts.reserve(entries.size());
  for (const TRestorePage::TEntry &entry : entries)
    texts.push_back(entry.text);
  if (texts != shownEntries_) {
    // Another list: filled anew, from its top, its first row the one that
    // Space and Show Key act on.
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    for (std::size_t i = 0; i < texts.size(); ++i) {
      const std::wstring text = W(texts[i]);
      LVITEMW item{};
      item.mask = LVIF_TEXT;
      item.iItem = static_cast<int>(i);
      item.pszText = const_cast<wchar_t *>(text.c_str());
      ::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    if (!texts.empty()) {
      LVITEMW first{};
      first.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
      first.state = LVIS_SELECTED | LVIS_FOCUSED;
      ::SendMessageW(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&first));
    }
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list, nullptr, TRUE);
    shownEntries_ = std::move(texts);
    FitColumn();
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const UINT wanted = entries[i].checked ? kCheckedImage : kUncheckedImage;
    const auto state = static_cast<UINT>(
        ::SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_STATEIMAGEMASK));
    if (StateImage(state) == wanted)
      continue;
    LVITEMW item{};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(wanted);
    ::SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }
}

void TRestorePageView::SetCheck(int id, TCheckState state) const {
  const WPARAM wanted = state == TCheckState::Checked ? BST_CHECKED
                        : state == TCheckState::Mixed ? BST_INDETERMINATE
                                                      : BST_UNCHECKED;
  if (static_cast<WPARAM>(::SendMessageW(Item(id), BM_GETCHECK, 0, 0)) != wanted)
    ::SendMessageW(Item(id), BM_SETCHECK, wanted, 0);
}

void TRestorePageView::KeepFocusUsable() {
  // A button disabled under the focus (the last entry restored) leaves the
  // keyboard nowhere: the focus moves to a control that still works.
  const HWND focus = ::GetFocus();
  if (focus == nullptr || ::IsChild(Handle(), focus) == FALSE || ::IsWindowEnabled(focus) != FALSE)
    return;
  for (const int id : {rcList, rcDays, rcDeleteAfterWeek})
    if (::IsWindowEnabled(Item(id)) != FALSE) {
      ::SetFocus(Item(id));
      return;
    }
}

int TRestorePageView::SelectedRow() const {
  return static_cast<int>(
      ::SendMessageW(Item(rcList), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// --- input

void TRestorePageView::OnCommand(int id, int code) {
  if (refreshing_)
    return;
  if (id == rcDays) {
    if (code == CBN_SELCHANGE)
      logic_.SelectDay(static_cast<int>(::SendMessageW(Item(rcDays), CB_GETCURSEL, 0, 0)));
    Refresh();
    return;
  }
  if (code != BN_CLICKED)
    return;
  switch (id) {
  case rcSelectAll:
    // A click on a clear or grey box ticks every entry; on a ticked one
    // clears them.
    logic_.SetSelectAll(logic_.SelectAll() != TCheckState::Checked);
    break;
  case rcRestore:
    logic_.Restore();
    break;
  case rcPrint:
    logic_.Print();
    break;
  case rcShowKey:
    logic_.ShowKey(SelectedRow());
    break;
  case rcDeleteAfterWeek:
    logic_.SetDeleteAfterWeek(::SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED);
    break;
  default:
    return;
  }
  Refresh();
}

LRESULT TRestorePageView::OnNotify(const NMHDR &header, bool &handled) {
  handled = false;
  if (refreshing_ || header.hwndFrom != Item(rcList) || header.code != LVN_ITEMCHANGED)
    return 0;
  const auto &change = reinterpret_cast<const NMLISTVIEW &>(header);
  const std::vector<TRestorePage::TEntry> &entries = logic_.Entries();
  if (change.iItem < 0 || static_cast<std::size_t>(change.iItem) >= entries.size() ||
      (change.uChanged & LVIF_STATE) == 0)
    return 0;
  // The item's mark as the list now shows it; the notification's own old
  // and new states are not filled alike by every list (Wine's differ).
  const UINT image = StateImage(static_cast<UINT>(::SendMessageW(
      Item(rcList), LVM_GETITEMSTATE, static_cast<WPARAM>(change.iItem), LVIS_STATEIMAGEMASK)));
  const bool checked = image == kCheckedImage;
  // No image yet: the item is being inserted. The same mark: a change of
  // the selection, not of the mark.
  if (image == kNoImage || checked == entries[static_cast<std::size_t>(change.iItem)].checked)
    return 0;
  logic_.SetEntryChecked(change.iItem, checked);
  // The select-all box and the buttons follow once the list is done.
  if (ctx_.requestRefresh)
    ctx_.requestRefresh();
  return 0;
}

} // namespace quenlo::win
