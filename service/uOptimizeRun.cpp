#include "service/uOptimizeRun.h"

#include <algorithm>
#include <charconv>

#include "app/uAppHost.h"
#include "app/uEnvironment.h"
#include "app/uSettings.h"
#include "platform/Utf.h"
#include "service/uUndoRestore.h"

namespace quenlo::service {

std::vector<TOptimizeValue> ReadOptimizeSettings(const std::vector<TSysSettingId> &which) {
  const TSysSettingsLoad load = LoadSysSettings();
  std::vector<TOptimizeValue> values;
  for (const TSysSettingDef &def : SysSettingDefs()) {
    if (!which.empty() && std::find(which.begin(), which.end(), def.id) == which.end())
      continue;
    TOptimizeValue value{
        .id = def.id, .value = load.values.Get(def.id), .readOk = true, .errorText = {}};
    for (const auto &[id, error] : load.failed)
      if (id == def.id) {
        value.readOk = false;
        value.errorText = error;
      }
    values.push_back(std::move(value));
  }
  return values;
}

std::string OptimizeValueText(TSysSettingId id, int value) {
  if (SysSettingDef(id).form != sfDecimal)
    return value != 0 ? "on" : "off";
  return std::to_string(value);
}

bool ParseOptimizeValue(TSysSettingId id, std::string_view text, int &value,
                        std::string &errorText) {
  const TSysSettingDef &def = SysSettingDef(id);
  if (def.form != sfDecimal) {
    const std::string word = qp::LowerAscii(text);
    if (word == "on" || word == "1" || word == "yes" || word == "true") {
      value = 1;
      return true;
    }
    if (word == "off" || word == "0" || word == "no" || word == "false") {
      value = 0;
      return true;
    }
    errorText = std::string(def.name) + " is on or off, not '" + std::string(text) + "'";
    return false;
  }
  int number = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (ec != std::errc() || end != text.data() + text.size() || !SysSettingInRange(id, number)) {
    errorText = std::string(def.name) + " takes a whole number from 0 to " +
                std::to_string(def.maximum) + (def.scale == 1 ? " (ms)" : " (seconds)") +
                ", not '" + std::string(text) + "'";
    return false;
  }
  value = number;
  return true;
}

TOptimizeSetResult SetOptimizeSetting(TSysSettingId id, int value) {
  TOptimizeSetResult result;
  const TUndoFolder undo{.root = StandardUndoFolder() + "\\", .clock = {}};
  result.written = WriteSysSetting(undo, id, value, result.errorText);
  if (!result.written)
    return result;
  result.errorText.clear();
  if (LoadSettings(&result.stampError)) {
    Settings().last_optimize = TimeStamp(AppHost().Now());
    if (SaveSettings(&result.stampError))
      result.stampError.clear();
  }
  return result;
}

} // namespace quenlo::service
