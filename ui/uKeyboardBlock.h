// The keyboard switched off for the whole desktop while a long operation
// runs under the progress cover, given back when the object goes away.
//
// Two layers, each optional: a low-level keyboard hook of this process
// that swallows every key (the system removes it when the process ends, so
// the keyboard comes back even after a crash), and BlockInput where the
// system allows it (it needs an elevated caller and blocks the mouse too;
// Wine's is a stub that fails). The hook needs the installing thread to
// keep pumping messages: a thread that stops answering has its hook
// skipped by the system after LowLevelHooksTimeout.
#pragma once

#include "platform/UniqueAny.h"
#include "platform/win32/WinApi.h"

namespace quenlo::ui {

struct HookTraits {
  using Handle = HHOOK;
  static constexpr HHOOK Invalid() noexcept { return nullptr; }
  static void Close(HHOOK h) noexcept { ::UnhookWindowsHookEx(h); }
};
using UniqueHook = qp::TUniqueAny<HookTraits>;

class TKeyboardBlock {
public:
  // Switches the keyboard off at once.
  TKeyboardBlock();
  TKeyboardBlock(const TKeyboardBlock &) = delete;
  TKeyboardBlock &operator=(const TKeyboardBlock &) = delete;
  // Gives the keyboard back.
  ~TKeyboardBlock();

  bool Hooked() const { return static_cast<bool>(hook_); }
  bool InputBlocked() const { return inputBlocked_; }

private:
  static LRESULT CALLBACK SwallowKey(int code, WPARAM wParam, LPARAM lParam);

  UniqueHook hook_;
  bool inputBlocked_ = false;
};

} // namespace quenlo::ui
