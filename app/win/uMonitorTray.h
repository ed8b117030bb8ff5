// The registry monitor's notification-area icon. It lives on a hidden
// top-level window of its own: the shell's "TaskbarCreated" broadcast (sent
// when Explorer starts again and every icon is gone) reaches top-level
// windows only, and the icon's callbacks must not depend on the main window,
// which is hidden while the program sits in the tray. The same window
// carries the monitor page's balloon timer.
#pragma once

#include <functional>
#include <string>

#include "app/pages/uMonitorPageLogic.h"
#include "ui/uGdi.h"
#include "ui/uWindow.h"

namespace quenlo::win {

inline constexpr wchar_t kMonitorTrayClass[] = L"QuenloMonitorTray";

class TMonitorTray final : public ui::TWindow, public IMonitorTray {
public:
  TMonitorTray() = default;
  ~TMonitorTray() override { HideIcon(); }
  // Creates the hidden owner window; false when it could not be made (the
  // icon then reports that the shell refused it).
  [[nodiscard]] bool Create();

  // The icon's click, double click, balloon click and "Open Quenlo".
  std::function<void()> OnOpen;
  // The menu's "Close".
  std::function<void()> OnClose;
  // Explorer started again: the icons it showed are gone.
  std::function<void()> OnTaskbarCreated;
  // WM_TIMER of the owner window (a TWin32Timers bound to Handle()).
  std::function<void(TTimerId)> OnTimer;

  // IMonitorTray
  [[nodiscard]] bool ShowIcon(bool monitoring) override;
  void HideIcon() override;
  bool IconShown() const override { return shown_; }
  void ShowBalloon(const std::string &title, const std::string &text,
                   std::uint32_t timeoutMs) override;
  void HideBalloon() override;

protected:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
  NOTIFYICONDATAW IconData(UINT flags) const;
  HICON Image(bool monitoring);
  void ShowMenu();

  UINT taskbarCreated_ = 0;
  bool shown_ = false;
  // When a click last opened the program: a double click (up, double
  // click, up) opens it once.
  ULONGLONG openedAt_ = 0;
  // The greyed copy of the program icon (image 1), made on first use.
  ui::UniqueIcon idleIcon_;
};

} // namespace quenlo::win
