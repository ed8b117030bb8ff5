// The notification-area icon: hint "Quenlo", a menu with open and "Close",
// double click and balloon click open. Removed when the object goes.
#pragma once

#include <functional>
#include <string>

#include "platform/win32/WinApi.h"

namespace quenlo::win {

class TTrayIcon {
public:
  TTrayIcon() = default;
  TTrayIcon(const TTrayIcon &) = delete;
  TTrayIcon &operator=(const TTrayIcon &) = delete;
  ~TTrayIcon() { Hide(); }

  std::function<void()> OnOpen;
  std::function<void()> OnClose;

  void Show(HWND owner, UINT callbackMessage, const std::string &hint);
  void Hide();
  bool Shown() const { return shown_; }
  // The owner's callback message (lParam: the mouse or balloon event).
  void HandleCallback(LPARAM event);

private:
  HWND owner_ = nullptr;
  bool shown_ = false;
};

} // namespace quenlo::win
