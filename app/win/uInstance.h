// The single-instance channel: the mutex "QuenloMutex" (created first; an
// existing one means another copy runs), the other copy's main window and
// the registered restore message posted to it.
#pragma once

#include "platform/win32/WinApi.h"
#include "platform/win32/WinHandles.h"

namespace quenlo::win {

class TInstanceChannel {
public:
  // Creates the mutex owned; true when it already existed.
  [[nodiscard]] bool CreateMutexFirst();
  // The other copy's main window, by class and title; null when none.
  static HWND FindOther();
  // Posts the restore message with the command to the other copy.
  static bool PostRestore(HWND other, int command);
  // Brings the other copy to the front (its last active popup restored).
  static void Activate(HWND other);

private:
  qp::win32::UniqueHandle mutex_;
};

} // namespace quenlo::win
