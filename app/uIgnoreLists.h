// The two built-in ignore lists: keys of well-known software and system
// components that the scanner must never report or repair.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quenlo {

inline constexpr std::size_t PermanentIgnoreKeyCount = 172;
inline constexpr std::size_t DefaultSkippedKeyCount = 161;

// Always appended to the scanner's ignore list; short root names
// ("HKLM", "HKCU", "HKCR"). Shown as "Permanent" and never removable.
extern const std::array<std::string_view, PermanentIgnoreKeyCount> PermanentIgnoreKeys;

// The default "SkippedKeys" list as stored in the program: "ZP" followed by a
// raw deflate stream of the list text, one key path per line.
std::span<const std::uint8_t> DefaultSkippedKeysResource();

// Inflates an embedded "ZP" + raw deflate resource. False (with a reason in
// error) when the marker is missing or the stream is damaged or truncated.
[[nodiscard]] bool InflateEmbedded(std::span<const std::uint8_t> resource, std::string &text,
                                   std::string &error);

// Splits text at any line end (CRLF, LF or CR); empty lines are dropped.
std::vector<std::string> SplitLines(std::string_view text);

// The 161 default key paths (long root names), in their stored order.
const std::vector<std::string> &DefaultSkippedKeys();

} // namespace quenlo
