// Resolving the monitor's key list into watch points: the root and path of
// each entry and, on 64-bit Windows, whether the key has a separate 32-bit
// view (which then becomes a watch point of its own).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/uRegMonitor.h"

namespace quenlo::monitor {

// Splits "ROOT\path" (long or short root names). False when there is no
// backslash or the root is unknown.
bool ParseKeyEntry(std::string_view entry, std::uint32_t &root, std::string &path);

// The path naming the key's 32-bit view from the 64-bit view when the key
// has two views ("SOFTWARE\Wow6432Node\X" for HKLM\SOFTWARE\X), or empty
// when both views name one key. Asks the registry for the kernel names of
// the key in both views (of its nearest existing ancestor where it does
// not exist); where the registry cannot say, HKLM keys below "SOFTWARE\"
// (but not below "SOFTWARE\Wow6432Node") have two views. Only meaningful
// when ProcessOnWow64.
std::string SecondViewPath(std::uint32_t root, std::string_view path);

// The watch points of one entry: one, or two (rv32 first) for a key with
// two views.
std::vector<TWatchPoint> WatchPointsOf(int index, std::uint32_t root, const std::string &path);

} // namespace quenlo::monitor
