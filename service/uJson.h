// JSON text shared by the service's writers (the monitor's changes, the
// cleaner's run): string literals that stay valid JSON whatever bytes the
// text holds.
#pragma once

#include <string>
#include <string_view>

namespace quenlo::service {

// A JSON string literal for UTF-8 text. Quotes, backslashes and every
// control character are escaped; well-formed non-ASCII text is kept as
// UTF-8; bytes that are not UTF-8 become U+FFFD, and an unpaired surrogate
// (the registry's UTF-16 names may hold one) is written as its \u escape.
std::string JsonString(std::string_view text);

} // namespace quenlo::service
