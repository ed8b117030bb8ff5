// The header of the main window: a row of owner-drawn page buttons, one of
// them shown as selected. They are real BUTTON controls (tab stops, named
// by their text for screen readers); only their look is drawn here.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "uWindow.h"

namespace quenlo::ui {

class THeaderBar final : public TWindow {
public:
  std::function<void(int index)> OnClick;

  [[nodiscard]] bool Create(HWND parent, int id, const std::vector<std::wstring> &captions);
  void Select(int index);
  int Selected() const { return selected_; }
  void EnableButtons(bool enabled);
  static int HeightAt96() { return 64; }

protected:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnDpiChanged() override;

private:
  void Layout();
  // Sets the buttons' font: the designed size, or smaller where the widest
  // caption would not fit a button of that width (a high DPI on a screen
  // that keeps the window narrow).
  void FitFont(int buttonWidth);
  int WidestCaption() const;
  void Draw(const DRAWITEMSTRUCT &item) const;
  void Paint();

  std::vector<UniqueHwnd> buttons_;
  std::vector<std::wstring> captions_;
  UniqueGdi font_;
  int fontPixels_ = 0; // font_'s height in 96-DPI pixels
  UniqueGdi titleFont_;
  int selected_ = 0;
};

} // namespace quenlo::ui
