// The single-instance channel over Win32: the named mutex, the other copy's
// main window (by class and title), bringing it forward and posting it the
// registered restore command. The decisions are the start-up logic's.
#pragma once

#include "app/pages/uStartup.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/WinHandles.h"

namespace quenlo::win {

class TWin32InstanceChannel final : public IInstanceChannel {
public:
  bool CreateMutexExisted(std::string_view name) override;
  std::uintptr_t FindOtherWindow() override;
  void Activate(std::uintptr_t window) override;
  bool PostRestoreCommand(std::uintptr_t window, TRestoreCommand command) override;

private:
  // Held until the process ends: outside tools see that the program runs.
  qp::win32::UniqueHandle mutex_;
};

} // namespace quenlo::win
