// The optimizer's system settings as the command line reads and changes
// them: one value at a time in the page's units (the menu delay in
// milliseconds, the two timeouts in seconds, the switches on or off),
// every change through the undo folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "optimizer/uSysSettings.h"

namespace quenlo::service {

struct TOptimizeValue {
  TSysSettingId id = ssMenuShowDelay;
  int value = 0;      // page units
  bool readOk = true; // false: shown as the default, errorText says why
  std::string errorText;
};

// The values as the page shows them, in definition order; only `which`
// when given.
std::vector<TOptimizeValue> ReadOptimizeSettings(const std::vector<TSysSettingId> &which = {});

// "400", "20", "on" / "off" for a value in page units.
std::string OptimizeValueText(TSysSettingId id, int value);
// The page units of a command-line value: a decimal number within the
// setting's range, or on/off (also 1/0, yes/no, true/false) for a switch.
// False with the reason otherwise.
[[nodiscard]] bool ParseOptimizeValue(TSysSettingId id, std::string_view text, int &value,
                                      std::string &errorText);

struct TOptimizeSetResult {
  bool written = false;
  std::string errorText;  // why the value was not written
  std::string stampError; // the value was written but "last_optimize" not saved
};
// Writes one setting through the standard undo folder and stamps
// "last_optimize" when it was written.
TOptimizeSetResult SetOptimizeSetting(TSysSettingId id, int value);

} // namespace quenlo::service
