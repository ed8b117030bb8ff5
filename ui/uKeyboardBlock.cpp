#include "uKeyboardBlock.h"

namespace quenlo::ui {

TKeyboardBlock::TKeyboardBlock()
    : hook_(::SetWindowsHookExW(WH_KEYBOARD_LL, &TKeyboardBlock::SwallowKey,
                                ::GetModuleHandleW(nullptr), 0)),
      inputBlocked_(::BlockInput(TRUE) != FALSE) {}

TKeyboardBlock::~TKeyboardBlock() {
  if (inputBlocked_)
    ::BlockInput(FALSE);
  // The hook goes with hook_.
}

LRESULT CALLBACK TKeyboardBlock::SwallowKey(int code, WPARAM wParam, LPARAM lParam) {
  // A negative code must be passed on untouched; every real key stops here.
  if (code < 0)
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
  return 1;
}

} // namespace quenlo::ui
