// Numbers written as text, read the way the settings file, the registry's
// string values and the system's own tools write them.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qp {

// Decimal, "$hex" or "0xhex" text (blanks around it allowed, a sign before
// it) to a 32-bit integer; nullopt when the text is not a number or does not
// fit. Hex text is the 32 bits it spells ("0xFFFFFFFF" is -1).
std::optional<std::int32_t> ParseInt32(std::string_view text);

} // namespace qp
