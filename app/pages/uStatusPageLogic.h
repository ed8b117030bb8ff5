// The PC status page without its window: the health rating from the
// scanner's statistics and the counters from the settings record.
#pragma once

#include <cstdint>
#include <string>

#include "app/pages/uPageServices.h"
#include "app/pages/uPages.h"
#include "app/uSettings.h"

namespace quenlo {

enum THealthLevel : std::uint8_t { hlUnknown = 0, hlPoor = 1, hlModerate = 2, hlGood = 3 };
// Poor and unknown share one picture.
enum THealthGauge : std::uint8_t { hgPoor = 0, hgModerate = 1, hgGood = 2 };

inline constexpr std::uint32_t kHealthRed = 0xD80000;
inline constexpr std::uint32_t kHealthOrange = 0xFFAE00;
inline constexpr std::uint32_t kHealthGreen = 0x00A800;

struct THealthDisplay {
  int value = -1; // clamped to -1..100
  THealthLevel level = hlUnknown;
  std::string text;
  std::uint32_t colour = kHealthRed; // RGB
  bool noScanNote = true;            // "(No Scans Completed)"
  THealthGauge gauge = hgPoor;
};

THealthDisplay HealthDisplayFor(int healthPercent);

struct TStatusCounters {
  std::string lastScan; // date and time, or "No"
  int problemsFound = 0;
  int problemsRepaired = 0;
  int foundToDate = 0;
  int repairedToDate = 0;
};

inline constexpr const char *kNoScansCompleted = "(No Scans Completed)";

class TStatusPageLogic final : public IStatusPageControl {
public:
  TStatusPageLogic(const TRegScanner &scanner, const tProgramSettings &settings,
                   ICommandQueue &commands)
      : scanner_(scanner), settings_(settings), commands_(commands) {}

  void Refresh() override;
  // "Scan Now": clear results, scan page, start a scan.
  void ScanNow() { commands_.Post(mcClearAndScan); }

  const THealthDisplay &Health() const { return health_; }
  const TStatusCounters &Counters() const { return counters_; }

private:
  const TRegScanner &scanner_;
  const tProgramSettings &settings_;
  ICommandQueue &commands_;
  THealthDisplay health_;
  TStatusCounters counters_;
};

} // namespace quenlo
