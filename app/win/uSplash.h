// The splash and about window: "Loading . . ." and "v. " + the program
// version, closed by its own 2000 ms timer; opened from the help menu it
// shows a "Close" button instead and is modal.
#pragma once

#include <string>

#include "ui/uWindow.h"

namespace quenlo::win {

inline constexpr UINT kSplashMs = 2000;

class TSplash final : public ui::TWindow {
public:
  // The splash: painted at once, closes itself after kSplashMs.
  [[nodiscard]] bool ShowSplash(const std::string &version);
  // The about box: modal to owner until "Close".
  void ShowAbout(HWND owner, const std::string &version);
  bool Open() const { return Handle() != nullptr; }

protected:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
  [[nodiscard]] bool Build(HWND owner, const std::string &version, bool about);
  void Paint();
  std::wstring version_;
  bool about_ = false;
  bool closed_ = false;
  ui::UniqueGdi titleFont_;
  ui::UniqueGdi font_;
  ui::UniqueHwnd close_;
};

} // namespace quenlo::win
