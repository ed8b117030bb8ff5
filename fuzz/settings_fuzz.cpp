// libFuzzer target for the settings parser: any bytes as "quenlo.ini" must
// load without a crash, and what a save writes must read back the same.
// Built and run by scripts/fuzz.sh.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/uEnvironment.h"
#include "app/uIniFile.h"
#include "app/uSettings.h"
#include "app/uVersionInfo.h"

using namespace quenlo;

namespace {

void Check(bool condition) {
  if (!condition)
    std::abort();
}

std::string Normalised(const tProgramSettings &settings) {
  TIniFile ini;
  WriteSettingsToIni(settings, ini);
  return ini.Text();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char *>(data), size);

  TIniFile ini;
  ini.SetText(input);
  tProgramSettings first;
  ReadSettingsFromIni(first, ini);
  Check(first.MonitoredKeys.size() <= MaxMonitoredKeys);
  for (const std::string &stamp : {first.last_scan, first.last_backup, first.last_organize})
    Check(stamp.size() <= 4 * ShortStringLength);

  // Save and load again: the same record, and a stable file.
  WriteSettingsToIni(first, ini);
  const std::string saved = ini.Text();
  TIniFile reread;
  reread.SetText(saved);
  Check(reread.Text() == saved);
  tProgramSettings second;
  ReadSettingsFromIni(second, reread);
  if (first.SkippedKeys.empty()) // an empty list reads as the defaults
    second.SkippedKeys.clear();
  Check(Normalised(first) == Normalised(second));

  // The stamp and version readers take the same bytes.
  (void)ParseStamp(input.substr(0, 16));
  (void)FormatStamp(input.substr(0, 16), true);
  (void)FileVersionFromResource(std::span<const std::uint8_t>(data, size));
  return 0;
}
