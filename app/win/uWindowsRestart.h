// The restart the optimizer offers after its changes, over the system
// helpers' RestartWindows (shutdown privilege, then a planned reboot).
#pragma once

#include "app/pages/uOptimizerServices.h"
#include "paths/uSysUtils.h"

namespace quenlo::win {

class TWin32WindowsRestart final : public IWindowsRestart {
public:
  bool Restart() override { return RestartWindows(); }
};

} // namespace quenlo::win
