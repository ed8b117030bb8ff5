// The monitor page: the title with the two counters on the right, the row
// of commands (Start or Stop, Pause or Resume, Clear, Export with its menu,
// the "Settings" link), the hint, the list of changes and a status line for
// what the list does not show (paused or dropped changes, the monitor's
// problems). The list is an owner-data list view: it asks the logic for the
// text of the rows it paints, so 50,000 rows cost what the visible ones do.
#include "platform/win32/WinApi.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/win32/WinText.h"
#include "uViews.h"
#include "ui/uGdi.h"

namespace quenlo::win {

namespace {

enum TMonitorViewControl : int {
  mvTitle = 10,
  mvChanges,
  mvWatchPoints,
  mvStart,
  mvStop,
  mvPause,
  mvClear,
  mvExport,
  mvSettings,
  mvHint,
  mvList,
  mvStatus,
};

enum : UINT { cmShowKey = 1, cmCsv, cmJson, cmUndoFile };

// The list's columns, in their order.
enum TChangeColumn : int {
  ccTime = 0,
  ccName,
  ccAction,
  ccLocation,
  ccView,
  ccType,
  ccOld,
  ccNew,
  ccCount
};

constexpr const wchar_t *kColumnTitles[ccCount] = {
    L"Time", L"Subkey / Value", L"Action",   L"Registry Location",
    L"View", L"Type",           L"Old data", L"New data"};
// Columns whose texts come from a small known set are as wide as their
// longest text; the others share what is left by these weights.
constexpr int kFlexWeight[ccCount] = {0, 3, 0, 6, 0, 0, 2, 2};
constexpr int kMinFlexWidth = 70; // at 96 DPI
constexpr int kCellPadding = 16;  // at 96 DPI: the list's own margins in a cell

// WM_CONTEXTMENU's position when the keyboard asked for the menu.
constexpr DWORD kKeyboardContextMenu = 0xFFFFFFFF;

constexpr const wchar_t *kSettingsLink = L"Settings";
constexpr COLORREF kLinkColour = RGB(0x00, 0x50, 0xC0);

// Layout at 96 DPI.
constexpr int kMargin = 24;
constexpr int kCounterW = 320;
constexpr int kButtonsTop = 64;
constexpr int kButtonW = 100;
constexpr int kButtonH = 28;
constexpr int kButtonGap = 8;
constexpr int kLinkW = 90;
constexpr int kHintTop = 102;
constexpr int kListTop = 124;
constexpr int kStatusH = 20;

std::wstring W(const std::string &text) {
  return qp::win32::Wide(text);
}

int TextWidth(HDC dc, const std::wstring &text) {
  SIZE size{0, 0};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return size.cx;
}

} // namespace

std::string MonitorTimeText(std::chrono::system_clock::time_point time) {
  // FILETIME counts 100 ns from 1601; the system clock counts from 1970.
  constexpr std::int64_t kUnixEpochAsFileTime = 116444736000000000;
  using TTicks = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;
  const std::int64_t ticks =
      std::chrono::duration_cast<TTicks>(time.time_since_epoch()).count() + kUnixEpochAsFileTime;
  FILETIME utc{};
  utc.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) & 0xFFFFFFFFu);
  utc.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
  SYSTEMTIME universal{};
  SYSTEMTIME local{};
  if (::FileTimeToSystemTime(&utc, &universal) == FALSE ||
      ::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local) == FALSE)
    return {};
  wchar_t date[80] = {};
  wchar_t clock[80] = {};
  if (::GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, date, 80,
                        nullptr) == 0 ||
      ::GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &local, nullptr, clock, 80) == 0)
    return {};
  return qp::win32::Narrow(date) + " " + qp::win32::Narrow(clock);
}

void TMonitorPageView::Build() {
  fontRoles_.emplace_back(Add(L"STATIC", L"Registry Monitor", SS_LEFT, mvTitle), 2);
  fontRoles_.emplace_back(Add(L"STATIC", L"", SS_RIGHT | SS_NOPREFIX, mvChanges), 1);
  Add(L"STATIC", L"", SS_RIGHT | SS_NOPREFIX, mvWatchPoints);
  // In tab order: the commands, the link, then the list.
  Add(L"BUTTON", L"Start", WS_TABSTOP | BS_PUSHBUTTON, mvStart);
  Add(L"BUTTON", L"Stop", WS_TABSTOP | BS_PUSHBUTTON, mvStop);
  Add(L"BUTTON", L"Pause", WS_TABSTOP | BS_PUSHBUTTON, mvPause);
  Add(L"BUTTON", L"Clear", WS_TABSTOP | BS_PUSHBUTTON, mvClear);
  Add(L"BUTTON", L"Export", WS_TABSTOP | BS_PUSHBUTTON, mvExport);
  fontRoles_.emplace_back(Add(L"BUTTON", kSettingsLink, WS_TABSTOP | BS_OWNERDRAW, mvSettings), 4);
  Add(L"STATIC", W(kMonitorListHint), SS_LEFT | SS_NOPREFIX, mvHint);
  qp::IgnoreResult(list_.Create(Handle(), mvList, false));
  std::vector<ui::TListColumn> columns;
  for (const wchar_t *title : kColumnTitles)
    columns.push_back({.title = title, .widthAt96 = 100});
  list_.SetColumns(columns, Dpi());
  list_.SetFont(ui::AsFont(ctx_.fonts.normal));
  list_.SetSource({.text = [this](int row, int column) { return CellText(row, column); }});
  list_.SetEvents({.onContextMenu = [this](int row, POINT screen) { RowMenu(row, screen); }});
  Add(L"STATIC", L"", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, mvStatus);
}

void TMonitorPageView::Layout() {
  const int w = Width();
  const int h = Height();
  Place(mvTitle, kMargin, 16, std::max(100, w - 2 * kMargin - kCounterW - 16), 32);
  Place(mvChanges, w - kMargin - kCounterW, 18, kCounterW, 20);
  Place(mvWatchPoints, w - kMargin - kCounterW, 40, kCounterW, 20);
  int x = kMargin;
  // Start and Stop share one place: only one of them shows.
  Place(mvStart, x, kButtonsTop, kButtonW, kButtonH);
  Place(mvStop, x, kButtonsTop, kButtonW, kButtonH);
  for (const int id : {mvPause, mvClear, mvExport}) {
    x += kButtonW + kButtonGap;
    Place(id, x, kButtonsTop, kButtonW, kButtonH);
  }
  Place(mvSettings, w - kMargin - kLinkW, kButtonsTop + 4, kLinkW, 20);
  Place(mvHint, kMargin, kHintTop, w - 2 * kMargin, 18);
  Place(mvList, kMargin, kListTop, w - 2 * kMargin, std::max(40, h - kListTop - kStatusH - 20));
  Place(mvStatus, kMargin, h - kStatusH - 8, w - 2 * kMargin, kStatusH);
  FitColumns();
}

void TMonitorPageView::FitColumns() {
  const HWND list = list_.Handle();
  if (list == nullptr || columnsSized_)
    return;
  RECT client{};
  ::GetClientRect(list, &client);
  // Room for the vertical scroll bar even before it shows, so that the
  // first rows do not bring a horizontal one.
  const bool scrollBar = (::GetWindowLongW(list, GWL_STYLE) & WS_VSCROLL) != 0;
  const int available = client.right - (scrollBar ? 0 : ::GetSystemMetrics(SM_CXVSCROLL));
  std::array<int, ccCount> width{};
  std::array<int, ccCount> minimum{};
  {
    const ui::WindowDcScope dc(list);
    const ui::SelectScope font(dc.Dc(), ctx_.fonts.normal.Get());
    const int padding = Scale(kCellPadding);
    auto widest = [&](std::initializer_list<std::wstring> texts) {
      int most = 0;
      for (const std::wstring &t : texts)
        most = std::max(most, TextWidth(dc.Dc(), t));
      return most + padding;
    };
    // A date late in a year and a late hour (2025-11-29 22:30 UTC): about
    // the widest text the locale writes.
    const std::wstring sample = W(MonitorTimeText(
        std::chrono::system_clock::from_time_t(static_cast<std::time_t>(1764455400))));
    width[ccTime] = widest({kColumnTitles[ccTime], sample});
    width[ccAction] = widest({kColumnTitles[ccAction], L"Subkey created", L"Subkey deleted",
                              L"Value created", L"Value deleted", L"Value changed"});
    width[ccView] = widest({kColumnTitles[ccView], L"32-bit", L"64-bit"});
    // The common types whole; a rarer long one is cut with an ellipsis.
    width[ccType] = widest({kColumnTitles[ccType], L"REG_DWORD", L"REG_BINARY"});
    // A flexible column shows at least its whole title.
    for (int c = 0; c < ccCount; ++c)
      if (kFlexWeight[c] > 0)
        minimum[static_cast<std::size_t>(c)] =
            std::max(Scale(kMinFlexWidth), widest({kColumnTitles[c]}));
  }
  int fixed = 0;
  int weights = 0;
  for (int c = 0; c < ccCount; ++c) {
    fixed += width[static_cast<std::size_t>(c)];
    weights += kFlexWeight[c];
  }
  // What is left is shared; where too little is left the flexible columns
  // keep a readable width and the list scrolls sideways.
  const int left = std::max(0, available - fixed);
  for (int c = 0; c < ccCount; ++c)
    if (kFlexWeight[c] > 0)
      width[static_cast<std::size_t>(c)] = std::max(minimum[static_cast<std::size_t>(c)],
                                                    left * kFlexWeight[c] / std::max(1, weights));
  // The minimums may ask for more than is left: the widest flexible
  // columns give it back first, down to their own minimum.
  int total = 0;
  for (const int w : width)
    total += w;
  for (int excess = total - available; excess > 0;) {
    std::size_t widest = ccCount;
    for (std::size_t c = 0; c < ccCount; ++c)
      if (kFlexWeight[c] > 0 && width[c] > minimum[c] &&
          (widest == ccCount || width[c] > width[widest]))
        widest = c;
    if (widest == ccCount)
      break; // every flexible column at its minimum: the list scrolls sideways
    const int taken = std::min(excess, width[widest] - minimum[widest]);
    width[widest] -= taken;
    excess -= taken;
  }
  for (int c = 0; c < ccCount; ++c)
    ::SendMessageW(list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(c),
                   width[static_cast<std::size_t>(c)]);
}

std::wstring TMonitorPageView::CellText(int row, int column) const {
  // The logic may have fewer rows than the list was last told (a Clear
  // whose refresh has not come yet).
  if (row < 0 || static_cast<std::size_t>(row) >= logic_.RowCount())
    return {};
  const TMonitorRow &r = logic_.Row(static_cast<std::size_t>(row));
  switch (column) {
  case ccTime:
    return W(r.time);
  case ccName:
    return W(r.text.shown);
  case ccAction:
    return W(r.text.action);
  case ccLocation:
    return W(r.text.location);
  case ccView:
    return W(r.text.view);
  case ccType:
    return W(r.text.type);
  case ccOld:
    return W(r.text.oldData);
  case ccNew:
    return W(r.text.newData);
  default:
    return {};
  }
}

std::string TMonitorPageView::StatusText() const {
  std::string text;
  auto add = [&text](const std::string &part) {
    if (!text.empty())
      text += "    ";
    text += part;
  };
  auto changes = [](std::size_t n) {
    return std::to_string(n) + (n == 1 ? " change" : " changes");
  };
  if (logic_.Paused())
    add("Paused: " + changes(logic_.PausedChanges()) + " not listed");
  if (logic_.DroppedRows() > 0)
    add(changes(logic_.DroppedRows()) + " taken off the list to make room for newer ones");
  const std::vector<std::string> &problems = logic_.Problems();
  if (!problems.empty())
    add(problems.size() == 1
            ? problems.back()
            : std::to_string(problems.size()) + " problems, the last: " + problems.back());
  return text;
}

void TMonitorPageView::RefreshRows() {
  const int before = list_.RowCount();
  const int after = static_cast<int>(logic_.RowCount());
  // The newest row stays in view while the end of the list was in view:
  // a user who scrolled up to read keeps their place.
  const int perPage = static_cast<int>(::SendMessageW(list_.Handle(), LVM_GETCOUNTPERPAGE, 0, 0));
  const bool atEnd = before == 0 || list_.TopRow() + perPage >= before;
  list_.SetRowCount(after);
  if (atEnd && after > before)
    ::SendMessageW(list_.Handle(), LVM_ENSUREVISIBLE, static_cast<WPARAM>(after - 1), FALSE);
}

void TMonitorPageView::Refresh() {
  SetText(mvChanges, logic_.ChangeCounter());
  SetText(mvWatchPoints, logic_.WatchPointCounter());
  const HWND focus = ::GetFocus();
  const bool startFocused = focus == Item(mvStart) || focus == Item(mvStop);
  Visible(mvStart, logic_.StartShown());
  Visible(mvStop, logic_.StopShown());
  // The focus follows the command that took the place of the pressed one.
  if (startFocused)
    ::SetFocus(Item(logic_.StopShown() ? mvStop : mvStart));
  SetText(mvPause, logic_.Paused() ? "Resume" : "Pause");
  SetText(mvStatus, StatusText());
  if (logic_.Version() != shownVersion_) {
    shownVersion_ = logic_.Version();
    RefreshRows();
  }
}

void TMonitorPageView::OnCommand(int id, int code) {
  if (code != BN_CLICKED)
    return;
  switch (id) {
  case mvStart:
  case mvStop:
    logic_.ToggleButton();
    break;
  case mvPause:
    logic_.SetPaused(!logic_.Paused());
    break;
  case mvClear:
    logic_.Clear();
    break;
  case mvExport:
    ExportMenu();
    break;
  case mvSettings:
    logic_.OpenSettings();
    break;
  default:
    return;
  }
  Refresh();
}

void TMonitorPageView::ExportMenu() {
  const ui::UniqueMenu popup(::CreatePopupMenu());
  if (!popup)
    return;
  ::AppendMenuW(popup.Get(), MF_STRING, cmCsv, L"Save list as CSV...");
  ::AppendMenuW(popup.Get(), MF_STRING, cmJson, L"Save list as JSON...");
  ::AppendMenuW(popup.Get(), MF_STRING, cmUndoFile, L"Save undo file (.reg)...");
  // Under the button, as a drop-down.
  RECT button{};
  ::GetWindowRect(Item(mvExport), &button);
  const UINT chosen = static_cast<UINT>(
      ::TrackPopupMenu(popup.Get(), TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON,
                       button.left, button.bottom, 0, Handle(), nullptr));
  switch (chosen) {
  case cmCsv:
    logic_.Export(meCsv);
    break;
  case cmJson:
    logic_.Export(meJson);
    break;
  case cmUndoFile:
    logic_.Export(meUndoFile);
    break;
  default:
    break;
  }
}

void TMonitorPageView::RowMenu(int row, POINT screen) {
  const ui::UniqueMenu popup(::CreatePopupMenu());
  if (!popup)
    return;
  const UINT state = logic_.ShowKeyEnabled(row) ? MF_ENABLED : MF_GRAYED;
  ::AppendMenuW(popup.Get(), MF_STRING | state, cmShowKey, W(kShowKeyMenu).c_str());
  const UINT chosen = static_cast<UINT>(::TrackPopupMenu(
      popup.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, screen.x, screen.y, 0, Handle(), nullptr));
  if (chosen == cmShowKey)
    logic_.ShowKey(row);
  Refresh();
}

LRESULT TMonitorPageView::OnNotify(const NMHDR &header, bool &handled) {
  handled = false;
  // A column border dragged or double-clicked: the user's widths stay.
  if (header.code == HDN_ENDTRACKW || header.code == HDN_ENDTRACKA ||
      header.code == HDN_DIVIDERDBLCLICKW || header.code == HDN_DIVIDERDBLCLICKA) {
    columnsSized_ = true;
    return 0;
  }
  return list_.HandleNotify(header, handled);
}

bool TMonitorPageView::OnOwnerDrawn(UINT message, LPARAM lParam) {
  if (message != WM_DRAWITEM)
    return false;
  const auto &item = *reinterpret_cast<const DRAWITEMSTRUCT *>(lParam);
  if (item.CtlType != ODT_BUTTON || item.CtlID != static_cast<UINT>(mvSettings))
    return false;
  // The "Settings" link: underlined text that takes the focus as a button.
  ui::FillSolid(item.hDC, item.rcItem, ::GetSysColor(COLOR_WINDOW));
  const ui::SelectScope font(item.hDC, ctx_.fonts.link.Get());
  ui::DrawTextIn(item.hDC, kSettingsLink, item.rcItem, kLinkColour,
                 DT_RIGHT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  if ((item.itemState & ODS_FOCUS) != 0) {
    RECT measured{0, 0, 0, 0};
    ::DrawTextW(item.hDC, kSettingsLink, -1, &measured, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    RECT focus = item.rcItem;
    focus.left = std::max(focus.left, focus.right - (measured.right - measured.left) - 2);
    ::DrawFocusRect(item.hDC, &focus);
  }
  return true;
}

void TMonitorPageView::OnDpiChanged() {
  list_.SetFont(ui::AsFont(ctx_.fonts.normal));
  list_.SetDpi(Dpi());
  TPageView::OnDpiChanged();
}

LRESULT TMonitorPageView::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_SHOWWINDOW:
    logic_.SetPageShown(wParam != FALSE);
    break;
  case WM_CONTEXTMENU:
    // Shift+F10 on the list (a right click and the menu key reach the row
    // menu through the list's own notifications): the selected row's menu,
    // under the row.
    if (reinterpret_cast<HWND>(wParam) == list_.Handle() &&
        static_cast<DWORD>(lParam) == kKeyboardContextMenu) {
      const int row = list_.Selected();
      RECT r{};
      r.left = LVIR_BOUNDS;
      POINT at{Scale(8), Scale(8)};
      if (row >= 0 && ::SendMessageW(list_.Handle(), LVM_GETITEMRECT, static_cast<WPARAM>(row),
                                     reinterpret_cast<LPARAM>(&r)) != FALSE)
        at = {r.left + Scale(8), r.bottom};
      ::ClientToScreen(list_.Handle(), &at);
      RowMenu(row, at);
      return 0;
    }
    break;
  default:
    break;
  }
  return TPageView::OnMessage(message, wParam, lParam);
}

} // namespace quenlo::win
