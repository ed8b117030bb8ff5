// The smooth progress bar: the common control with PBS_SMOOTH, 0..max.
#pragma once

#include "uWindow.h"

// After <windows.h>, which uWindow.h brings.
#include <commctrl.h>

namespace quenlo::ui {

class TProgressBar {
public:
  [[nodiscard]] bool Create(HWND parent, int id) {
    hwnd_.Reset(CreateControl(parent, PROGRESS_CLASSW, L"", WS_VISIBLE | PBS_SMOOTH, id, nullptr));
    return static_cast<bool>(hwnd_);
  }
  HWND Handle() const { return hwnd_.Get(); }
  void SetMax(int max) const { ::SendMessageW(hwnd_.Get(), PBM_SETRANGE32, 0, max); }
  void SetPosition(int position) const {
    ::SendMessageW(hwnd_.Get(), PBM_SETPOS, static_cast<WPARAM>(position), 0);
  }

private:
  UniqueHwnd hwnd_;
};

} // namespace quenlo::ui
