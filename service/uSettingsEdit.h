// Changes to the settings file that every front end makes the same way: one
// key read or written as text, and the figures stored after a scan and after
// a repair run. Each is a read-modify-write of "quenlo.ini" that keeps the
// lines it does not know.
#pragma once

#include <string>
#include <string_view>

#include "scanner/uRegScanner.h"

namespace quenlo::service {

// The value in effect for a key of the record (its default included), or the
// stored text of any other key. False when the key is neither known nor
// stored, or the file cannot be read; errorText then says which.
[[nodiscard]] bool GetSetting(std::string_view section, std::string_view key, std::string &value,
                              std::string &errorText);
// Writes one key and reloads the record, so that the new value is in effect.
[[nodiscard]] bool SetSetting(std::string_view section, std::string_view key,
                              std::string_view value, std::string &errorText);

// After a completed scan: the scan date, the problems found and the
// per-category statistics the health figure is computed from.
[[nodiscard]] bool RecordScanStatistics(const TRegScanner &scanner, std::string &errorText);
// After a repair run: the repair date and the number of problems repaired.
[[nodiscard]] bool RecordRepairCount(int repaired, std::string &errorText);

} // namespace quenlo::service
