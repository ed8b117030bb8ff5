// The settings page's automatic start over the environment's ApplyAutoStart
// (the scheduled task or, before Vista, the Startup folder's shortcut).
#pragma once

#include <exception>

#include "app/pages/uSettingsPageLogic.h"
#include "app/uEnvironment.h"

namespace quenlo::win {

class TWin32AutoStart final : public IAutoStart {
public:
  // A shortcut that cannot be made raises: that is a failure to report, not
  // an end of the program.
  bool Apply(int action) override {
    try {
      return ApplyAutoStart(action);
    } catch (const std::exception &) {
      return false;
    }
  }
};

} // namespace quenlo::win
