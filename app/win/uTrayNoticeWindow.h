// The tray notice after an automatic scan: a small modal window by the
// taskbar ("Quenlo Notice") with the message, the fix button, a close button
// and "Do not show this message again". Text, button and placement come from
// the tray notice logic.
#pragma once

#include "app/pages/uPages.h"
#include "ui/uWindow.h"

namespace quenlo::win {

class TTrayNoticeWindow final : public ui::TWindow, public ITrayNotice {
public:
  explicit TTrayNoticeWindow(std::function<HWND()> owner) : owner_(std::move(owner)) {}
  bool Show(int problemCount) override;

protected:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
  void Build(int problemCount);
  void Paint();

  std::function<HWND()> owner_;
  ui::UniqueGdi font_;
  ui::UniqueGdi bold_;
  std::wstring text_;
  int shift_ = 0;
  bool done_ = false;
  bool fix_ = false;
};

} // namespace quenlo::win
