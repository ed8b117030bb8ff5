// The settings page: "General" (the automatic start's action and frequency
// with Save, the two repair options, the counters' reset, the full registry
// backup and its restore), "Ignore List" (the ignored keys, Add, Remove and
// the row menu) and "Monitor" (the monitored keys, Add, Remove and the
// number of captured events before a notice). Everything shown is read from
// the page's logic, and every input is handed to it.
#include "platform/win32/WinApi.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/WinText.h"
#include "uViews.h"
#include "ui/uGdi.h"

namespace quenlo::win {

namespace {

enum TSettingsControl : int {
  scTitle = 10,
  scTabs,
  // General
  scAutoCaption,
  scActionLabel,
  scAction,
  scFrequencyLabel,
  scFrequency,
  scSave,
  scRepairCaption,
  scRestorePointBox,
  scWeeklyBackupBox,
  scCountersCaption,
  scResetCounters,
  scResetHint,
  scBackupCaption,
  scBackupText,
  scFullBackup,
  scRestore,
  // Ignore List
  scIgnoreHint,
  scIgnoreRemoveHint,
  scIgnoreList,
  scIgnoreAdd,
  scIgnoreRemove,
  // Monitor
  scMonitorHint,
  scMonitorList,
  scMonitorAdd,
  scMonitorRemove,
  scPromptBefore,
  scPrompt,
  scPromptAfter,
};

// The row menu's entry.
enum : UINT { cmRemoveFromIgnoreList = 1 };

// The ignore list's columns.
enum TIgnoreColumn : int { icAppliesTo = 0, icKey = 1 };

// Which tab each control is on.
struct TTabControl {
  int id;
  TSettingsTab tab;
};
constexpr TTabControl kTabControls[] = {
    {scAutoCaption, stGeneral},     {scActionLabel, stGeneral},
    {scAction, stGeneral},          {scFrequencyLabel, stGeneral},
    {scFrequency, stGeneral},       {scSave, stGeneral},
    {scRepairCaption, stGeneral},   {scRestorePointBox, stGeneral},
    {scWeeklyBackupBox, stGeneral}, {scCountersCaption, stGeneral},
    {scResetCounters, stGeneral},   {scResetHint, stGeneral},
    {scBackupCaption, stGeneral},   {scBackupText, stGeneral},
    {scFullBackup, stGeneral},      {scRestore, stGeneral},
    {scIgnoreHint, stIgnoreList},   {scIgnoreRemoveHint, stIgnoreList},
    {scIgnoreList, stIgnoreList},   {scIgnoreAdd, stIgnoreList},
    {scIgnoreRemove, stIgnoreList}, {scMonitorHint, stMonitor},
    {scMonitorList, stMonitor},     {scMonitorAdd, stMonitor},
    {scMonitorRemove, stMonitor},   {scPromptBefore, stMonitor},
    {scPrompt, stMonitor},          {scPromptAfter, stMonitor},
};

constexpr const wchar_t *kTabNames[] = {L"General", L"Ignore List", L"Monitor"};
constexpr const wchar_t *kResetCountersText = L"Reset \"To Date\" Counters";
constexpr const wchar_t *kResetCountersHint = L"Reset counters for Errors and Repairs";
constexpr const wchar_t *kBackupText =
    L"Saves a copy of the registry's hives in the settings folder. \"restore\" puts the last "
    L"copy back; Windows must then be restarted.";
constexpr const wchar_t *kMonitorHint = L"The Registry Monitor watches the following keys.";

// WM_CONTEXTMENU's position when the keyboard asked for the menu.
constexpr DWORD kKeyboardContextMenu = 0xFFFFFFFF;

// Layout at 96 DPI.
constexpr int kMargin = 24;
constexpr int kTitleTop = 16;
constexpr int kTabsTop = 56;
constexpr int kTabsHeight = 26;
constexpr int kContentTop = kTabsTop + kTabsHeight + 16;
constexpr int kCaptionH = 22;
constexpr int kLine = 20;
constexpr int kLabelW = 80;
constexpr int kComboW = 200;
constexpr int kComboDropH = 160; // the combo box and its open list
constexpr int kButtonW = 100;
constexpr int kButtonH = 28;
constexpr int kButtonGap = 10;
constexpr int kButtonPadding = 28; // around a button's text
constexpr int kGroupStep = 160;    // from one group's caption to the next one's
constexpr int kPromptW = 60;
constexpr int kCellPadding = 12; // the list's own margins in a cell

// The edit of the number of events takes digits only: a paste (Ctrl+V,
// Shift+Insert, the edit's own menu) could bring anything in.
constexpr UINT_PTR kNoPasteSubclass = 1;
constexpr WPARAM kCtrlV = 0x16;

bool KeyDown(int key) {
  return (::GetKeyState(key) & 0x8000) != 0;
}

LRESULT CALLBACK SwallowPaste(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                              DWORD_PTR) {
  switch (message) {
  case WM_PASTE:
    return 0;
  case WM_CHAR:
    if (wParam == kCtrlV)
      return 0;
    break;
  case WM_KEYDOWN:
    if ((wParam == VK_INSERT && KeyDown(VK_SHIFT)) || (wParam == 'V' && KeyDown(VK_CONTROL)))
      return 0;
    break;
  case WM_NCDESTROY:
    ::RemoveWindowSubclass(hwnd, &SwallowPaste, id);
    break;
  default:
    break;
  }
  return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

std::wstring W(const std::string &text) {
  return qp::win32::Wide(text);
}

std::vector<int> SelectedRows(HWND list) {
  std::vector<int> rows;
  for (int row = -1;;) {
    row = static_cast<int>(
        ::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(row), LVNI_SELECTED));
    if (row < 0)
      return rows;
    rows.push_back(row);
  }
}

void ClearSelection(HWND list) {
  LVITEMW clear{};
  clear.stateMask = LVIS_SELECTED;
  ::SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&clear));
}

// Sets the row count (every row painted again, the selection dropped: the
// rows may have moved) and selects row when there is one.
void Refill(HWND list, int rows, int select) {
  ClearSelection(list);
  ::SendMessageW(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(rows), 0);
  if (select < 0 || select >= rows)
    return;
  LVITEMW item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  ::SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(select),
                 reinterpret_cast<LPARAM>(&item));
  ::SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(select), FALSE);
}

bool SameRows(const std::vector<TIgnoreRow> &a, const std::vector<TIgnoreRow> &b) {
  return std::equal(
      a.begin(), a.end(), b.begin(), b.end(),
      [](const TIgnoreRow &x, const TIgnoreRow &y) { return x.kind == y.kind && x.key == y.key; });
}

// The widest of texts in the list's font, and the font's average character.
struct TTextMeasure {
  int widest = 0;
  int averageChar = 0;
};

TTextMeasure Measure(HWND list, const std::vector<std::wstring> &texts) {
  TTextMeasure measure;
  const ui::WindowDcScope dc(list);
  const auto font = reinterpret_cast<HGDIOBJ>(::SendMessageW(list, WM_GETFONT, 0, 0));
  const ui::SelectScope select(dc.Dc(), font);
  TEXTMETRICW metrics{};
  if (::GetTextMetricsW(dc.Dc(), &metrics) != FALSE)
    measure.averageChar = metrics.tmAveCharWidth;
  for (const std::wstring &text : texts) {
    SIZE size{0, 0};
    ::GetTextExtentPoint32W(dc.Dc(), text.c_str(), static_cast<int>(text.size()), &size);
    measure.widest = std::max(measure.widest, static_cast<int>(size.cx));
  }
  return measure;
}

} // namespace

// --- building

void TSettingsPageView::Build() {
  fontRoles_.emplace_back(Add(L"STATIC", L"Settings", SS_LEFT, scTitle), 2);
  const HWND tabs = Add(WC_TABCONTROLW, L"", WS_TABSTOP | TCS_FOCUSONBUTTONDOWN, scTabs);
  for (int i = 0; i < static_cast<int>(std::size(kTabNames)); ++i) {
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<wchar_t *>(kTabNames[i]);
    ::SendMessageW(tabs, TCM_INSERTITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }
  BuildGeneral();
  BuildIgnoreList();
  BuildMonitor();
}

void TSettingsPageView::BuildGeneral() {
  fontRoles_.emplace_back(Add(L"STATIC", L"Automatic Start", SS_LEFT, scAutoCaption), 3);
  Add(L"STATIC", L"Action", SS_LEFT, scActionLabel);
  const HWND action = Add(WC_COMBOBOXW, L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, scAction);
  for (const char *name : kAutoActionNames)
    ::SendMessageW(action, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(name).c_str()));
  Add(L"STATIC", L"Frequency", SS_LEFT, scFrequencyLabel);
  const HWND frequency =
      Add(WC_COMBOBOXW, L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, scFrequency);
  for (const char *name : kAutoFreqNames)
    ::SendMessageW(frequency, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(name).c_str()));
  Add(L"BUTTON", L"Save", WS_TABSTOP | BS_PUSHBUTTON, scSave);
  fontRoles_.emplace_back(Add(L"STATIC", L"Repair Options", SS_LEFT, scRepairCaption), 3);
  Add(L"BUTTON", L"Create a Restore Point before repairing", WS_TABSTOP | BS_AUTOCHECKBOX,
      scRestorePointBox);
  Add(L"BUTTON", L"Create full registry backup every week", WS_TABSTOP | BS_AUTOCHECKBOX,
      scWeeklyBackupBox);
  fontRoles_.emplace_back(Add(L"STATIC", L"Statistics", SS_LEFT, scCountersCaption), 3);
  Add(L"BUTTON", kResetCountersText, WS_TABSTOP | BS_PUSHBUTTON, scResetCounters);
  Add(L"STATIC", kResetCountersHint, SS_LEFT | SS_NOPREFIX, scResetHint);
  fontRoles_.emplace_back(Add(L"STATIC", L"Registry Backup", SS_LEFT, scBackupCaption), 3);
  Add(L"STATIC", kBackupText, SS_LEFT | SS_NOPREFIX, scBackupText);
  Add(L"BUTTON", L"Full Registry Backup", WS_TABSTOP | BS_PUSHBUTTON, scFullBackup);
  Add(L"BUTTON", L"restore", WS_TABSTOP | BS_PUSHBUTTON, scRestore);
}

HWND TSettingsPageView::AddList(int id, const std::vector<const wchar_t *> &columns) {
  const HWND list =
      Add(WC_LISTVIEWW, L"",
          WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS, id);
  ::SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER,
                 LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  int index = 0;
  for (const wchar_t *title : columns) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cx = Scale(kButtonW);
    column.pszText = const_cast<wchar_t *>(title);
    ::SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index++),
                   reinterpret_cast<LPARAM>(&column));
  }
  return list;
}

void TSettingsPageView::BuildIgnoreList() {
  Add(L"STATIC", W(kIgnoreListHint), SS_LEFT | SS_NOPREFIX, scIgnoreHint);
  Add(L"STATIC", W(kIgnoreListRemoveHint), SS_LEFT | SS_NOPREFIX, scIgnoreRemoveHint);
  AddList(scIgnoreList, {L"Applies to", L"Key"});
  Add(L"BUTTON", L"Add", WS_TABSTOP | BS_PUSHBUTTON, scIgnoreAdd);
  Add(L"BUTTON", L"Remove", WS_TABSTOP | BS_PUSHBUTTON, scIgnoreRemove);
}

void TSettingsPageView::BuildMonitor() {
  Add(L"STATIC", kMonitorHint, SS_LEFT | SS_NOPREFIX, scMonitorHint);
  AddList(scMonitorList, {L"Key"});
  Add(L"BUTTON", L"Add", WS_TABSTOP | BS_PUSHBUTTON, scMonitorAdd);
  Add(L"BUTTON", L"Remove", WS_TABSTOP | BS_PUSHBUTTON, scMonitorRemove);
  Add(L"STATIC", W(kMonitorPromptBefore), SS_LEFT | SS_NOPREFIX, scPromptBefore);
  const HWND prompt =
      Add(L"EDIT", L"", WS_TABSTOP | WS_BORDER | ES_NUMBER | ES_AUTOHSCROLL | ES_RIGHT, scPrompt);
  ::SendMessageW(prompt, EM_SETLIMITTEXT, std::to_string(kMaxMonitorPrompt).size(), 0);
  ::SetWindowSubclass(prompt, &SwallowPaste, kNoPasteSubclass, 0);
  Add(L"STATIC", W(kMonitorPromptAfter), SS_LEFT | SS_NOPREFIX, scPromptAfter);
}

// --- layout

int TSettingsPageView::TextWidth96(HWND control) const {
  wchar_t text[256] = {};
  const int length = ::GetWindowTextW(control, text, 256);
  const ui::WindowDcScope dc(control);
  const auto font = reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0));
  const ui::SelectScope select(dc.Dc(), font);
  SIZE size{0, 0};
  ::GetTextExtentPoint32W(dc.Dc(), text, length, &size);
  return ::MulDiv(size.cx, 96, static_cast<int>(Dpi().Value()));
}

void TSettingsPageView::Layout() {
  const int w = Width();
  const int h = Height();
  Place(scTitle, kMargin, kTitleTop, w - 2 * kMargin, 32);
  Place(scTabs, kMargin, kTabsTop, w - 2 * kMargin, kTabsHeight);
  LayoutGeneral(kContentTop);
  LayoutIgnoreList(kContentTop, w, h);
  LayoutMonitor(kContentTop, w, h);
}

void TSettingsPageView::LayoutGeneral(int top) {
  const int columnW = (Width() - 3 * kMargin) / 2;
  const int left = kMargin;
  const int right = 2 * kMargin + columnW;
  const int fieldX = left + kLabelW + 6;
  const int comboW = std::min(kComboW, columnW - kLabelW - 6);
  // The automatic start and the repair options on the left.
  Place(scAutoCaption, left, top, columnW, kCaptionH);
  Place(scActionLabel, left, top + 37, kLabelW, kLine);
  Place(scAction, fieldX, top + 34, comboW, kComboDropH);
  Place(scFrequencyLabel, left, top + 71, kLabelW, kLine);
  Place(scFrequency, fieldX, top + 68, comboW, kComboDropH);
  Place(scSave, fieldX, top + 104, kButtonW, kButtonH);
  const int repairTop = top + kGroupStep;
  Place(scRepairCaption, left, repairTop, columnW, kCaptionH);
  Place(scRestorePointBox, left, repairTop + 32, columnW, kLine);
  Place(scWeeklyBackupBox, left, repairTop + 58, columnW, kLine);
  // The counters and the full backup on the right; the buttons as wide as
  // their texts need.
  Place(scCountersCaption, right, top, columnW, kCaptionH);
  const int resetW =
      std::min(columnW, std::max(kButtonW, TextWidth96(Item(scResetCounters)) + kButtonPadding));
  Place(scResetCounters, right, top + 34, resetW, kButtonH);
  Place(scResetHint, right, top + 70, columnW, kLine);
  Place(scBackupCaption, right, repairTop, columnW, kCaptionH);
  Place(scBackupText, right, repairTop + 32, columnW, 48);
  const int backupW =
      std::min(columnW, std::max(kButtonW, TextWidth96(Item(scFullBackup)) + kButtonPadding));
  Place(scFullBackup, right, repairTop + 88, backupW, kButtonH);
  Place(scRestore, right + backupW + kButtonGap, repairTop + 88, kButtonW, kButtonH);
}

void TSettingsPageView::LayoutIgnoreList(int top, int w, int h) {
  const int innerW = w - 2 * kMargin;
  Place(scIgnoreHint, kMargin, top, innerW, kLine);
  Place(scIgnoreRemoveHint, kMargin, top + 22, innerW, 34);
  const int buttonsY = h - kMargin - kButtonH;
  const int listTop = top + 62;
  Place(scIgnoreList, kMargin, listTop, innerW, std::max(40, buttonsY - 10 - listTop));
  Place(scIgnoreRemove, w - kMargin - kButtonW, buttonsY, kButtonW, kButtonH);
  Place(scIgnoreAdd, w - kMargin - 2 * kButtonW - kButtonGap, buttonsY, kButtonW, kButtonH);
  FitIgnoreColumns();
}

void TSettingsPageView::LayoutMonitor(int top, int w, int h) {
  const int innerW = w - 2 * kMargin;
  Place(scMonitorHint, kMargin, top, innerW, kLine);
  const int buttonsY = h - kMargin - kButtonH;
  const int listTop = top + 26;
  Place(scMonitorList, kMargin, listTop, innerW, std::max(40, buttonsY - 10 - listTop));
  Place(scMonitorRemove, w - kMargin - kButtonW, buttonsY, kButtonW, kButtonH);
  Place(scMonitorAdd, w - kMargin - 2 * kButtonW - kButtonGap, buttonsY, kButtonW, kButtonH);
  // "You will be notified after [N] captured events", on the buttons' line.
  const int beforeW = TextWidth96(Item(scPromptBefore)) + 4;
  const int afterW = TextWidth96(Item(scPromptAfter)) + 4;
  Place(scPromptBefore, kMargin, buttonsY + 7, beforeW, kLine);
  Place(scPrompt, kMargin + beforeW + 4, buttonsY + 3, kPromptW, 22);
  Place(scPromptAfter, kMargin + beforeW + kPromptW + 12, buttonsY + 7, afterW, kLine);
  FitMonitorColumn();
}

void TSettingsPageView::FitIgnoreColumns() {
  const HWND list = Item(scIgnoreList);
  std::vector<std::wstring> kinds{L"Applies to"};
  for (const TIgnoreRowKind kind : {irAll, irPermanent, irIgnoreList})
    kinds.push_back(W(IgnoreRowKindText(kind)));
  std::vector<std::wstring> keys{L"Key"};
  for (const TIgnoreRow &row : shownIgnoreRows_)
    keys.push_back(W(row.key));
  const int padding = Scale(kCellPadding);
  const TTextMeasure kindWidth = Measure(list, kinds);
  const TTextMeasure keyWidth = Measure(list, keys);
  // "Key" is as wide as its widest text and a character more; the cell's
  // own margins come on top, or that text would end in an ellipsis.
  ::SendMessageW(list, LVM_SETCOLUMNWIDTH, icAppliesTo,
                 kindWidth.widest + kindWidth.averageChar + padding);
  ::SendMessageW(list, LVM_SETCOLUMNWIDTH, icKey, keyWidth.widest + keyWidth.averageChar + padding);
}

void TSettingsPageView::FitMonitorColumn() {
  const HWND list = Item(scMonitorList);
  std::vector<std::wstring> keys{L"Key"};
  for (const std::string &key : shownMonitoredKeys_)
    keys.push_back(W(key));
  const TTextMeasure measure = Measure(list, keys);
  RECT client{};
  ::GetClientRect(list, &client);
  // Across the list (room kept for its scroll bar), wider where a key needs it.
  const int across = client.right - ::GetSystemMetrics(SM_CXVSCROLL);
  ::SendMessageW(list, LVM_SETCOLUMNWIDTH, 0,
                 std::max(across, measure.widest + measure.averageChar + Scale(kCellPadding)));
}

void TSettingsPageView::OnDpiChanged() {
  TPageView::OnDpiChanged();
  // The lists' fonts changed with the others: their columns follow.
  FitIgnoreColumns();
  FitMonitorColumn();
}

// --- refreshing

void TSettingsPageView::OnShown() {
  logic_.Show();
  RefreshIgnoreRows(true);
  RefreshMonitoredKeys(true);
  // The field shows the stored number, whatever was typed before.
  refreshing_ = true;
  SetText(scPrompt, std::to_string(logic_.MonitorPrompt()));
  refreshing_ = false;
}

void TSettingsPageView::Refresh() {
  refreshing_ = true;
  if (static_cast<int>(logic_.Tab()) != shownTab_)
    ShowTab(logic_.Tab());
  RefreshGeneral();
  RefreshIgnoreRows(false);
  RefreshMonitoredKeys(false);
  RefreshPrompt();
  RefreshListButtons();
  for (const TTabControl &control : kTabControls) {
    bool shown = control.tab == logic_.Tab();
    if (control.id == scFrequencyLabel || control.id == scFrequency)
      shown = shown && logic_.FrequencyVisible();
    if (control.id == scRestore)
      shown = shown && logic_.RestoreVisible();
    Visible(control.id, shown);
  }
  refreshing_ = false;
}

void TSettingsPageView::ShowTab(int tab) {
  const bool switched = shownTab_ >= 0;
  shownTab_ = tab;
  if (::SendMessageW(Item(scTabs), TCM_GETCURSEL, 0, 0) != tab)
    ::SendMessageW(Item(scTabs), TCM_SETCURSEL, static_cast<WPARAM>(tab), 0);
  // Remove on the monitor tab waits for a row chosen after the switch.
  if (switched)
    ClearSelection(Item(scMonitorList));
}

void TSettingsPageView::RefreshGeneral() {
  SetComboIndex(scAction, logic_.Action());
  SetComboIndex(scFrequency, logic_.Frequency());
  Enable(scSave, logic_.SaveEnabled());
  SetCheck(scRestorePointBox, logic_.BackupBeforeScan());
  SetCheck(scWeeklyBackupBox, logic_.FullBackupWeekly());
}

void TSettingsPageView::RefreshIgnoreRows(bool force) {
  const std::vector<TIgnoreRow> &rows = logic_.IgnoreRows();
  if (!force && SameRows(rows, shownIgnoreRows_))
    return;
  shownIgnoreRows_ = rows;
  Refill(Item(scIgnoreList), static_cast<int>(rows.size()), logic_.IgnoreRowToSelect());
  FitIgnoreColumns();
}

void TSettingsPageView::RefreshMonitoredKeys(bool force) {
  const std::vector<std::string> &keys = logic_.MonitoredKeys();
  if (!force && keys == shownMonitoredKeys_)
    return;
  shownMonitoredKeys_ = keys;
  Refill(Item(scMonitorList), static_cast<int>(keys.size()), logic_.MonitoredRowToSelect());
  FitMonitorColumn();
}

void TSettingsPageView::RefreshPrompt() {
  // Not while the user types: "0300" stays as typed, it means 300.
  if (::GetFocus() != Item(scPrompt))
    SetText(scPrompt, std::to_string(logic_.MonitorPrompt()));
}

void TSettingsPageView::RefreshListButtons() {
  const std::pair<int, int> buttons[] = {{scIgnoreRemove, scIgnoreList},
                                         {scMonitorRemove, scMonitorList}};
  for (const auto &[button, list] : buttons) {
    const bool selected =
        ::SendMessageW(Item(list), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED) >= 0;
    // A disabled button keeps no focus: the keyboard goes on from the list.
    if (!selected && ::GetFocus() == Item(button))
      ::SetFocus(Item(list));
    Enable(button, selected);
  }
}

void TSettingsPageView::SetCheck(int id, bool checked) const {
  const WPARAM state = checked ? BST_CHECKED : BST_UNCHECKED;
  if (static_cast<WPARAM>(::SendMessageW(Item(id), BM_GETCHECK, 0, 0)) != state)
    ::SendMessageW(Item(id), BM_SETCHECK, state, 0);
}

bool TSettingsPageView::Checked(int id) const {
  return ::SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TSettingsPageView::SetComboIndex(int id, int index) const {
  if (::SendMessageW(Item(id), CB_GETCURSEL, 0, 0) != index)
    ::SendMessageW(Item(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

// --- input

void TSettingsPageView::OnCommand(int id, int code) {
  if (refreshing_)
    return;
  if (id == scPrompt && code == EN_CHANGE) {
    PromptChanged();
    return;
  }
  if (code == CBN_SELCHANGE) {
    const int index = static_cast<int>(::SendMessageW(Item(id), CB_GETCURSEL, 0, 0));
    if (id == scAction)
      logic_.SetAction(index);
    else if (id == scFrequency)
      logic_.SetFrequency(index);
    Refresh();
    return;
  }
  if (code != BN_CLICKED)
    return;
  switch (id) {
  case scSave:
    logic_.Save();
    break;
  case scRestorePointBox:
    logic_.SetBackupBeforeScan(Checked(id));
    break;
  case scWeeklyBackupBox:
    logic_.SetFullBackupWeekly(Checked(id));
    break;
  case scResetCounters:
    logic_.ResetCounters();
    break;
  case scFullBackup:
    logic_.FullBackup();
    break;
  case scRestore:
    logic_.FullRestore();
    break;
  case scIgnoreAdd:
    logic_.AddIgnoreKey();
    RefreshIgnoreRows(true);
    // The added row shows selected, ready for the keyboard.
    if (logic_.IgnoreRowToSelect() >= 0)
      ::SetFocus(Item(scIgnoreList));
    break;
  case scIgnoreRemove:
    logic_.RemoveIgnoreRows(SelectedRows(Item(scIgnoreList)));
    RefreshIgnoreRows(true);
    break;
  case scMonitorAdd:
    logic_.AddMonitoredKey();
    RefreshMonitoredKeys(true);
    if (logic_.MonitoredRowToSelect() >= 0)
      ::SetFocus(Item(scMonitorList));
    break;
  case scMonitorRemove:
    logic_.RemoveMonitoredKeys(SelectedRows(Item(scMonitorList)));
    RefreshMonitoredKeys(true);
    break;
  default:
    return;
  }
  Refresh();
}

void TSettingsPageView::PromptChanged() {
  wchar_t typed[32] = {};
  ::GetWindowTextW(Item(scPrompt), typed, 32);
  if (logic_.SetMonitorPromptText(qp::win32::Narrow(typed)))
    return;
  // Refused (emptied, out of range): the stored number comes back.
  const std::string stored = std::to_string(logic_.MonitorPrompt());
  refreshing_ = true;
  ::SetWindowTextW(Item(scPrompt), W(stored).c_str());
  ::SendMessageW(Item(scPrompt), EM_SETSEL, stored.size(), stored.size());
  refreshing_ = false;
}

void TSettingsPageView::IgnoreListMenu(POINT screen) {
  const HWND list = Item(scIgnoreList);
  const ui::UniqueMenu popup(::CreatePopupMenu());
  if (!popup)
    return;
  const std::vector<int> rows = SelectedRows(list);
  const UINT state = rows.empty() ? MF_GRAYED : MF_ENABLED;
  ::AppendMenuW(popup.Get(), MF_STRING | state, cmRemoveFromIgnoreList,
                W(kRemoveFromIgnoreListMenu).c_str());
  const UINT chosen = static_cast<UINT>(::TrackPopupMenu(
      popup.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, screen.x, screen.y, 0, Handle(), nullptr));
  if (chosen != cmRemoveFromIgnoreList)
    return;
  logic_.RemoveIgnoreRows(rows);
  RefreshIgnoreRows(true);
  Refresh();
}

void TSettingsPageView::CellText(NMLVDISPINFOW &info) const {
  if ((info.item.mask & LVIF_TEXT) == 0 || info.item.pszText == nullptr ||
      info.item.cchTextMax <= 0)
    return;
  const auto row = static_cast<std::size_t>(info.item.iItem);
  std::wstring text;
  // The logic may hold fewer rows than the list was last told.
  if (info.hdr.idFrom == static_cast<UINT_PTR>(scIgnoreList) && row < shownIgnoreRows_.size())
    text = info.item.iSubItem == icAppliesTo ? W(IgnoreRowKindText(shownIgnoreRows_[row].kind))
                                             : W(shownIgnoreRows_[row].key);
  else if (info.hdr.idFrom == static_cast<UINT_PTR>(scMonitorList) &&
           row < shownMonitoredKeys_.size())
    text = W(shownMonitoredKeys_[row]);
  ::lstrcpynW(info.item.pszText, text.c_str(), info.item.cchTextMax);
}

LRESULT TSettingsPageView::OnNotify(const NMHDR &header, bool &handled) {
  handled = false;
  if (header.idFrom == static_cast<UINT_PTR>(scTabs) && header.code == TCN_SELCHANGE) {
    handled = true;
    const int tab = static_cast<int>(::SendMessageW(Item(scTabs), TCM_GETCURSEL, 0, 0));
    if (tab >= stGeneral && tab <= stMonitor)
      logic_.SelectTab(static_cast<TSettingsTab>(tab));
    Refresh();
    return 0;
  }
  if (header.idFrom != static_cast<UINT_PTR>(scIgnoreList) &&
      header.idFrom != static_cast<UINT_PTR>(scMonitorList))
    return 0;
  switch (header.code) {
  case LVN_GETDISPINFOW:
    handled = true;
    CellText(const_cast<NMLVDISPINFOW &>(reinterpret_cast<const NMLVDISPINFOW &>(header)));
    return 0;
  case LVN_ITEMCHANGED:
  case LVN_ODSTATECHANGED:
    handled = true;
    if (!refreshing_)
      RefreshListButtons();
    return 0;
  default:
    return 0;
  }
}

LRESULT TSettingsPageView::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CONTEXTMENU && reinterpret_cast<HWND>(wParam) == Item(scIgnoreList)) {
    const HWND list = Item(scIgnoreList);
    POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    // From the keyboard (Shift+F10, the menu key): under the focused row.
    if (static_cast<DWORD>(lParam) == kKeyboardContextMenu) {
      const int row = static_cast<int>(
          ::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
      RECT r{};
      r.left = LVIR_BOUNDS;
      at = {Scale(8), Scale(8)};
      if (row >= 0 && ::SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row),
                                     reinterpret_cast<LPARAM>(&r)) != FALSE)
        at = {r.left + Scale(8), r.bottom};
      ::ClientToScreen(list, &at);
    }
    IgnoreListMenu(at);
    return 0;
  }
  return TPageView::OnMessage(message, wParam, lParam);
}

} // namespace quenlo::win
