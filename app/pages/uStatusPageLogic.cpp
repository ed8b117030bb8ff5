#include "app/pages/uStatusPageLogic.h"

#include <algorithm>

#include "app/uEnvironment.h"

namespace quenlo {

THealthDisplay HealthDisplayFor(int healthPercent) {
  THealthDisplay d;
  d.value = std::clamp(healthPercent, -1, 100);
  const std::string percent = std::to_string(d.value) + "%";
  d.noScanNote = false;
  if (d.value < 0) {
    d.level = hlUnknown;
    d.text = "Unknown";
    d.colour = kHealthRed;
    d.noScanNote = true;
    d.gauge = hgPoor;
  } else if (d.value <= 41) {
    d.level = hlPoor;
    d.text = "Poor " + percent;
    d.colour = kHealthRed;
    d.gauge = hgPoor;
  } else if (d.value <= 84) {
    d.level = hlModerate;
    d.text = "Moderate " + percent;
    d.colour = kHealthOrange;
    d.gauge = hgModerate;
  } else {
    d.level = hlGood;
    d.text = "Good " + percent;
    d.colour = kHealthGreen;
    d.gauge = hgGood;
  }
  return d;
}

void TStatusPageLogic::Refresh() {
  health_ = HealthDisplayFor(scanner_.HealthPercent());
  // An empty stamp and one that names no real date both mean no scan is
  // known.
  const std::string stamp = FormatStamp(settings_.last_scan, true);
  counters_.lastScan = stamp.empty() ? "No" : stamp;
  counters_.problemsFound = settings_.last_err;
  counters_.problemsRepaired = settings_.last_repair;
  counters_.foundToDate = settings_.total_error_found;
  counters_.repairedToDate = settings_.total_error_repaired;
}

} // namespace quenlo
