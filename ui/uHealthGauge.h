// The health gauge of the status page, drawn in code: a half-ring in three
// bands (poor, moderate, good), a needle at the value and the level text
// under it in the level's colour.
#pragma once

#include <string>

#include "uWindow.h"

namespace quenlo::ui {

struct TGaugeState {
  int percent = -1; // -1: unknown, the needle rests at the left end
  std::wstring text;
  COLORREF textColour = RGB(0, 0, 0);
  std::wstring note; // under the text; empty for none
};

class THealthGauge final : public TWindow {
public:
  [[nodiscard]] bool Create(HWND parent, int id);
  void SetState(const TGaugeState &state);

protected:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnDpiChanged() override;

private:
  void Paint();
  TGaugeState state_;
  UniqueGdi textFont_;
  UniqueGdi noteFont_;
};

} // namespace quenlo::ui
