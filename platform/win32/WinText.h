// UTF-8 <-> UTF-16 for the wide Win32 API, through the shared converters so
// that both platform implementations treat names the same way.
#pragma once

#include <string>
#include <string_view>

namespace qp::win32 {

std::wstring Wide(std::string_view text);
std::string Narrow(std::wstring_view text);
// A wide text up to its first NUL (or the whole buffer when it has none).
std::string NarrowUntilNul(const wchar_t *text, std::size_t capacity);

} // namespace qp::win32
