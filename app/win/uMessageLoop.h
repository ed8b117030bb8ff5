// The main message loop and its keyboard handling. The main window is not a
// dialog, so Tab, Enter and Escape are handled here as a dialog would handle
// them, without IsDialogMessage (which would turn Enter into WM_COMMAND 1
// and make the window's numbered commands ambiguous):
// - Tab / Shift+Tab move the focus between the tab stops of the window;
// - Enter presses a focused push button, or the page's default button when
//   the focus is on a control that does not want Enter itself;
// - Escape and F1 go to the main window's logic; the accelerators too.
#pragma once

#include <functional>

#include "platform/win32/WinApi.h"

namespace quenlo::win {

struct TKeyTargets {
  HWND mainWindow = nullptr;
  std::function<void()> escape;
  std::function<void()> help;
};

// True when the message was a navigation key and has been handled.
bool HandleNavigationKey(const TKeyTargets &targets, MSG &msg);

// Runs until WM_QUIT; returns its exit code.
int RunMessageLoop(const TKeyTargets &targets);

} // namespace quenlo::win
