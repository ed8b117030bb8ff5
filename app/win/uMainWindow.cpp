#include "uMainWindow.h"

#include "app/uEnvironment.h"
#include "platform/MainThread.h"
#include "platform/ScopeGuard.h"
#include "platform/win32/WinHandles.h"
#include "uWin32Services.h"

namespace quenlo::win {

namespace {
constexpr int kHeaderId = 1;
constexpr int kWidth = 980;
constexpr int kHeight = 700;
// Not one of the logic's timer ids (TTimerId).
constexpr UINT_PTR kRefreshTimer = 100;
constexpr UINT kRefreshPaceMs = 100;

// Lets an elevated copy receive the restore message from a normal one.
void AllowMessageFromLowerRights(HWND hwnd, UINT message) {
  using FilterFn = BOOL(WINAPI *)(HWND, UINT, DWORD, void *);
  constexpr DWORD kAllow = 1; // MSGFLT_ALLOW
  if (const auto filter = qp::win32::ProcAddress<FilterFn>(::GetModuleHandleW(L"user32.dll"),
                                                           "ChangeWindowMessageFilterEx"))
    qp::IgnoreResult(filter(hwnd, message, kAllow, nullptr));
}
} // namespace

bool TMainWindow::Create(bool shown) {
  RegisterOnce(kMainWindowClass, CS_HREDRAW | CS_VREDRAW, ::GetSysColorBrush(COLOR_WINDOW));
  if (!CreateFrom({.className = kMainWindowClass,
                   .text = kMainWindowTitle,
                   .style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                   .exStyle = WS_EX_CONTROLPARENT,
                   .bounds = {CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT}}))
    return false;
  fonts_.Build(Dpi());
  CreateHelpMenu();
  restoreMessage_ = ::RegisterWindowMessageW(kRestoreMessageName);
  AllowMessageFromLowerRights(Handle(), restoreMessage_);
  AllowMessageFromLowerRights(Handle(), WM_MAINCOMMAND);
  qp::IgnoreResult(header_.Create(Handle(), kHeaderId,
                                  {L"PC Status", L"Registry Scan", L"Optimizer", L"Monitor",
                                   L"Restore", L"History", L"Settings"}));
  tray_.OnOpen = [this] {
    if (logic_ != nullptr)
      logic_->TrayOpen();
  };
  tray_.OnClose = [this] {
    if (logic_ != nullptr)
      logic_->TrayClose();
  };
  header_.OnClick = [this](int index) {
    if (logic_ != nullptr)
      logic_->HeaderButtonClicked(index);
    RefreshNow();
  };
  // The size in 96-DPI pixels, centred in the work area.
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int w = std::min(Scale(kWidth), static_cast<int>(work.right - work.left));
  const int h = std::min(Scale(kHeight), static_cast<int>(work.bottom - work.top));
  ::SetWindowPos(Handle(), nullptr, work.left + (work.right - work.left - w) / 2,
                 work.top + (work.bottom - work.top - h) / 2, w, h, SWP_NOZORDER);
  Layout();
  if (shown)
    ::ShowWindow(Handle(), SW_SHOWNORMAL);
  qp::MainThread().SetWakeHook(
      [hwnd = Handle()] { ::PostMessageW(hwnd, WM_PUMPMAINTHREAD, 0, 0); });
  return true;
}

namespace {

// Menu command ids, above every control id of the window.
constexpr UINT kMenuHelp = 0xE101;
constexpr UINT kMenuCheckForUpdates = 0xE102;
constexpr UINT kMenuWebSite = 0xE103;
constexpr UINT kMenuAbout = 0xE104;

} // namespace

void TMainWindow::CreateHelpMenu() {
  // The bar owns the popup and the window owns the bar: both go with it.
  HMENU bar = ::CreateMenu();
  helpMenu_ = ::CreatePopupMenu();
  if (bar == nullptr || helpMenu_ == nullptr) {
    if (bar != nullptr)
      ::DestroyMenu(bar);
    if (helpMenu_ != nullptr)
      ::DestroyMenu(helpMenu_);
    helpMenu_ = nullptr;
    return;
  }
  ::AppendMenuW(bar, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(helpMenu_), L"&Help");
  FillHelpMenu();
  if (!::SetMenu(Handle(), bar)) {
    ::DestroyMenu(bar); // takes the popup with it
    helpMenu_ = nullptr;
  }
}

void TMainWindow::FillHelpMenu() {
  if (helpMenu_ == nullptr)
    return;
  while (::GetMenuItemCount(helpMenu_) > 0)
    ::DeleteMenu(helpMenu_, 0, MF_BYPOSITION);
  ::AppendMenuW(helpMenu_, MF_STRING, kMenuHelp, L"&Help\tF1");
  if (logic_ == nullptr || !logic_->Busy())
    ::AppendMenuW(helpMenu_, MF_STRING, kMenuCheckForUpdates, L"Check for &Updates");
  ::AppendMenuW(helpMenu_, MF_STRING, kMenuWebSite, L"Quenlo on the &Web");
  ::AppendMenuW(helpMenu_, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(helpMenu_, MF_STRING, kMenuAbout, L"&About Quenlo");
}

void TMainWindow::SetBroadcast(TStartupBroadcast *broadcast) {
  broadcast_ = broadcast;
  if (broadcast_ != nullptr && broadcast_->Message() != 0)
    AllowMessageFromLowerRights(Handle(), broadcast_->Message());
}

TPageView *TMainWindow::View(TPage page) const {
  const auto it = views_.find(page);
  return it == views_.end() ? nullptr : it->second.get();
}

RECT TMainWindow::PageArea() const {
  RECT client{};
  ::GetClientRect(Handle(), &client);
  client.top = Scale(ui::THeaderBar::HeightAt96());
  return client;
}

void TMainWindow::Layout() {
  RECT client{};
  ::GetClientRect(Handle(), &client);
  ::MoveWindow(header_.Handle(), 0, 0, client.right, Scale(ui::THeaderBar::HeightAt96()), TRUE);
  const RECT area = PageArea();
  for (auto &[page, view] : views_)
    view->MoveTo(area);
}

void TMainWindow::OnDpiChanged() {
  fonts_.Build(Dpi());
  header_.ChangeDpi(Dpi());
  for (auto &[page, view] : views_)
    view->ChangeDpi(Dpi());
  Layout();
  RefreshNow();
}

void TMainWindow::ShowPage(TPage page) {
  TPageView *view = View(page);
  if (view == nullptr && factory_) {
    std::unique_ptr<TPageView> made = factory_(page);
    if (made && made->Create(Handle())) {
      made->ChangeDpi(Dpi());
      made->MoveTo(PageArea());
      view = made.get();
      views_[page] = std::move(made);
    }
  }
  const bool changed = current_ != page;
  for (auto &[p, v] : views_)
    if (p != page) {
      v->Show(false);
      if (changed && p == current_)
        v->OnHidden();
    }
  current_ = page;
  if (view != nullptr) {
    if (changed)
      view->OnShown();
    view->Refresh();
    view->Show(true);
  }
}

void TMainWindow::RequestRefresh() {
  if (refreshPosted_)
    return;
  refreshPosted_ = ::PostMessageW(Handle(), WM_REFRESHVIEWS, 0, 0) != FALSE;
}

void TMainWindow::RefreshNow() {
  if (TPageView *view = View(current_))
    view->Refresh();
}

void TMainWindow::EnableWindow(bool enabled) {
  ::EnableWindow(Handle(), enabled ? TRUE : FALSE);
}

void TMainWindow::SetBusyCursor(bool busy) {
  busyCursor_ = busy;
  ::SetCursor(::LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

void TMainWindow::ShowNormal() {
  if (::IsIconic(Handle()) != FALSE || ::IsWindowVisible(Handle()) == FALSE)
    ::ShowWindow(Handle(), SW_SHOWNORMAL);
  if (!ModalWindowOpen()) {
    ::SetForegroundWindow(Handle());
    ::BringWindowToTop(Handle());
  }
}

bool TMainWindow::HiddenOrMinimised() const {
  return ::IsWindowVisible(Handle()) == FALSE || ::IsIconic(Handle()) != FALSE;
}

bool TMainWindow::ModalWindowOpen() const {
  // A modal box disables its owner; the last active popup is the box.
  return ::IsWindowEnabled(Handle()) == FALSE || ::GetLastActivePopup(Handle()) != Handle();
}

void TMainWindow::ShowTrayIcon(const std::string &hint) {
  tray_.Show(Handle(), WM_TRAYICON, hint);
}

void TMainWindow::HideToTray() {
  // Minimised, as the user asked, then hidden: a hidden window has no
  // taskbar button, so the tray icon is the way back.
  ::ShowWindow(Handle(), SW_MINIMIZE);
  ::ShowWindow(Handle(), SW_HIDE);
}

void TMainWindow::Repaint() {
  ::RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TMainWindow::ShowAbout() {
  about_.ShowAbout(Handle(), ProgramVersion);
}

void TMainWindow::Quit() {
  quitting_ = true;
  tray_.Hide();
  ::PostQuitMessage(0);
}

LRESULT TMainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == restoreMessage_ && restoreMessage_ != 0) {
    if (logic_ != nullptr)
      logic_->RestoreCommand(static_cast<int>(wParam));
    RefreshNow();
    return 0;
  }
  if (broadcast_ != nullptr && message == broadcast_->Message() && message != 0) {
    broadcast_->OnMainWindowMessage(wParam, lParam);
    return 0;
  }
  switch (message) {
  case WM_MAINCOMMAND: {
    const LRESULT answer =
        logic_ != nullptr ? logic_->HandleCommand(static_cast<int>(wParam), lParam) : 0;
    RequestRefresh();
    return answer;
  }
  case WM_PUMPMAINTHREAD:
    qp::IgnoreResult(qp::MainThread().Pump());
    // A scan hands over every finding: the page follows at a steady pace
    // instead of once per finding.
    if (!refreshTimer_)
      refreshTimer_ = ::SetTimer(Handle(), kRefreshTimer, kRefreshPaceMs, nullptr) != 0;
    return 0;
  case WM_REFRESHVIEWS:
    refreshPosted_ = false;
    RefreshNow();
    return 0;
  case WM_TIMER:
    if (wParam == kRefreshTimer) {
      ::KillTimer(Handle(), kRefreshTimer);
      refreshTimer_ = false;
      RefreshNow();
      return 0;
    }
    if (logic_ != nullptr)
      logic_->OnTimer(static_cast<TTimerId>(wParam));
    RequestRefresh();
    return 0;
  case WM_TRAYICON:
    tray_.HandleCallback(lParam);
    return 0;
  case WM_SIZE:
    Layout();
    return 0;
  case WM_GETMINMAXINFO: {
    auto *info = reinterpret_cast<MINMAXINFO *>(lParam);
    info->ptMinTrackSize = {Scale(820), Scale(600)};
    return 0;
  }
  case WM_SETCURSOR:
    if (busyCursor_) {
      ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
      return TRUE;
    }
    break;
  case WM_SYSCOMMAND:
    // A minimise on the monitor page hides to the monitor's tray instead.
    if ((wParam & 0xFFF0) == SC_MINIMIZE && logic_ != nullptr && logic_->Minimise())
      return 0;
    break;
  case WM_INITMENUPOPUP:
    if (reinterpret_cast<HMENU>(wParam) == helpMenu_)
      FillHelpMenu();
    break;
  case WM_COMMAND:
    // Menu entries (controls' notifications go to their pages).
    if (HIWORD(wParam) == 0 && lParam == 0 && logic_ != nullptr) {
      switch (LOWORD(wParam)) {
      case kMenuHelp:
        logic_->HelpMenu(heHelp);
        break;
      case kMenuCheckForUpdates:
        logic_->HelpMenu(heCheckForUpdates);
        break;
      case kMenuWebSite:
        logic_->HelpMenu(heWebSite);
        break;
      case kMenuAbout:
        logic_->HelpMenu(heAbout);
        break;
      default:
        break;
      }
      RequestRefresh();
      return 0;
    }
    break;
  case WM_CLOSE:
    if (logic_ == nullptr || logic_->CanClose())
      Quit();
    return 0;
  case WM_QUERYENDSESSION:
    return logic_ == nullptr || logic_->QueryEndSession() ? TRUE : FALSE;
  case WM_ENDSESSION:
    if (logic_ != nullptr)
      logic_->EndSession(wParam != FALSE);
    return 0;
  case WM_DESTROY:
    qp::MainThread().SetWakeHook(nullptr);
    return 0;
  default:
    break;
  }
  return TWindow::OnMessage(message, wParam, lParam);
}

} // namespace quenlo::win
