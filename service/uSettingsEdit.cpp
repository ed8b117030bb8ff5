#include "service/uSettingsEdit.h"

#include "app/uSettings.h"

namespace quenlo::service {

bool GetSetting(std::string_view section, std::string_view key, std::string &value,
                std::string &errorText) {
  errorText.clear();
  if (GetSettingText(section, key, value, &errorText))
    return true;
  // Every refusal carries a reason, also one the settings code left unsaid.
  if (errorText.empty())
    errorText = "no key '" + std::string(key) + "' in section '" + std::string(section) + "'";
  return false;
}

bool SetSetting(std::string_view section, std::string_view key, std::string_view value,
                std::string &errorText) {
  errorText.clear();
  return SetSettingText(section, key, value, &errorText);
}

bool RecordScanStatistics(const TRegScanner &scanner, std::string &errorText) {
  errorText.clear();
  return RecordScanComplete(scanner.ErrorCount(), scanner.StatsToText(), &errorText);
}

bool RecordRepairCount(int repaired, std::string &errorText) {
  errorText.clear();
  return RecordRepair(repaired, &errorText);
}

} // namespace quenlo::service
