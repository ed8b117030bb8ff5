#include "platform/win32/WinText.h"

#include "platform/Utf.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the Win32 layer needs 16-bit wchar_t");

namespace qp::win32 {

std::wstring Wide(std::string_view text) {
  const std::u16string u = Utf8ToUtf16(text);
  return std::wstring(u.begin(), u.end());
}

std::string Narrow(std::wstring_view text) {
  const std::u16string u(text.begin(), text.end());
  return Utf16ToUtf8(u);
}

std::string NarrowUntilNul(const wchar_t *text, std::size_t capacity) {
  std::size_t n = 0;
  while (n < capacity && text[n] != L'\0') {
    ++n;
  }
  return Narrow(std::wstring_view(text, n));
}

} // namespace qp::win32
