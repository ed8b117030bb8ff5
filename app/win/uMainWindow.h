// The main window: a plain top-level window (not a dialog, so Enter never
// arrives as command 0), the header with the seven page buttons and one page
// view at a time. It implements the frame the main window's logic drives,
// and hands every message that asks for a decision to that logic.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <memory>

#include "app/pages/uMonitorPageLogic.h"
#include "app/pages/uPages.h"
#include "uBroadcast.h"
#include "uSplash.h"
#include "uTrayIcon.h"
#include "uViews.h"
#include "ui/uHeaderBar.h"
#include "ui/uWindow.h"

namespace quenlo::win {

inline constexpr wchar_t kMainWindowClass[] = L"QuenloMainWindow";
inline constexpr wchar_t kMainWindowTitle[] = L"Quenlo";
inline constexpr wchar_t kRestoreMessageName[] = L"Quenlo.Restore.Command";

// Makes the view of a page on first use (null for no view).
using TViewFactory = std::function<std::unique_ptr<TPageView>(TPage page)>;

// It is also how the monitor page hides the program to its tray icon.
class TMainWindow final : public ui::TWindow, public IMainFrame, public IMonitorAppWindow {
public:
  [[nodiscard]] bool Create(bool shown);
  void SetLogic(IMainLogicPort *logic) { logic_ = logic; }
  void SetViewFactory(TViewFactory factory) { factory_ = std::move(factory); }
  // The start-up broadcast this window answers for its copy (outlives it).
  void SetBroadcast(TStartupBroadcast *broadcast);
  const TFonts &Fonts() const { return fonts_; }
  // Posts one refresh of the shown page (several requests, one refresh).
  void RequestRefresh();
  void RefreshNow();
  TPage CurrentPage() const { return current_; }
  TPageView *View(TPage page) const;

  // IMainFrame
  void ShowPage(TPage page) override;
  void EnableHeader(bool enabled) override { header_.EnableButtons(enabled); }
  void SelectHeaderButton(THeaderButton button) override { header_.Select(button); }
  void EnableWindow(bool enabled) override;
  // Both the frame's and the monitor's hourglass.
  void SetBusyCursor(bool busy) override;
  void ShowNormal() override;
  void Hide() override { ::ShowWindow(Handle(), SW_HIDE); }
  bool HiddenOrMinimised() const override;
  bool ModalWindowOpen() const override;
  void ShowTrayIcon(const std::string &hint) override;
  void HideTrayIcon() override { tray_.Hide(); }
  void Repaint() override;
  void ShowAbout() override;
  void Quit() override;

  // IMonitorAppWindow
  void HideToTray() override;
  void Minimise() override { ::ShowWindow(Handle(), SW_MINIMIZE); }

protected:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnDpiChanged() override;

private:
  void Layout();
  RECT PageArea() const;
  void CreateHelpMenu();
  // Fills the Help menu as it opens: "Check for Updates" only while no scan
  // or repair runs.
  void FillHelpMenu();

  IMainLogicPort *logic_ = nullptr;
  TStartupBroadcast *broadcast_ = nullptr;
  TViewFactory factory_;
  TFonts fonts_;
  ui::THeaderBar header_;
  std::map<TPage, std::unique_ptr<TPageView>> views_;
  TPage current_ = pgNone;
  TTrayIcon tray_;
  TSplash about_;
  HMENU helpMenu_ = nullptr; // owned by the window's menu bar
  UINT restoreMessage_ = 0;
  bool refreshPosted_ = false;
  bool refreshTimer_ = false;
  bool busyCursor_ = false;
  bool quitting_ = false;
};

} // namespace quenlo::win
