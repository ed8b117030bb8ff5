// The simple case mappings of the scripts a registry name is likely to use:
// ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic and the full-width Latin
// letters. Characters outside them compare exactly.
#include "platform/memory/MemoryNames.h"

#include "platform/Utf.h"

namespace qp::mem {

namespace {

// Latin Extended-A pairs an upper-case letter at an even code point with
// its lower case at the next one, except for the two runs that pair odd
// with even and the few letters that have no partner.
bool ExtendedAPairsOddUpper(char16_t c) {
  return (c >= 0x0139 && c <= 0x0148) || (c >= 0x0179 && c <= 0x017E);
}
bool ExtendedAUnpaired(char16_t c) {
  return c == 0x0130 || c == 0x0131 || c == 0x0138 || c == 0x0149 || c == 0x017F;
}

char16_t Upper(char16_t c) {
  if (c >= u'a' && c <= u'z')
    return static_cast<char16_t>(c - 0x20);
  if (c < 0x00E0)
    return c;
  if (c <= 0x00FE)
    return c == 0x00F7 ? c : static_cast<char16_t>(c - 0x20);
  if (c == 0x00FF)
    return 0x0178;
  if (c >= 0x0100 && c <= 0x017F) {
    if (ExtendedAUnpaired(c))
      return c;
    const bool lower = ExtendedAPairsOddUpper(c) ? (c % 2 == 0) : (c % 2 == 1);
    return lower ? static_cast<char16_t>(c - 1) : c;
  }
  if (c >= 0x03B1 && c <= 0x03C9 && c != 0x03C2)
    return static_cast<char16_t>(c - 0x20);
  if (c >= 0x0430 && c <= 0x044F)
    return static_cast<char16_t>(c - 0x20);
  if (c >= 0x0450 && c <= 0x045F)
    return static_cast<char16_t>(c - 0x50);
  if (c >= 0xFF41 && c <= 0xFF5A)
    return static_cast<char16_t>(c - 0x20);
  return c;
}

char16_t Lower(char16_t c) {
  if (c >= u'A' && c <= u'Z')
    return static_cast<char16_t>(c + 0x20);
  if (c < 0x00C0)
    return c;
  if (c <= 0x00DE)
    return c == 0x00D7 ? c : static_cast<char16_t>(c + 0x20);
  if (c == 0x0178)
    return 0x00FF;
  if (c >= 0x0100 && c <= 0x017F) {
    if (ExtendedAUnpaired(c))
      return c;
    const bool upper = ExtendedAPairsOddUpper(c) ? (c % 2 == 1) : (c % 2 == 0);
    return upper ? static_cast<char16_t>(c + 1) : c;
  }
  if (c >= 0x0391 && c <= 0x03A9 && c != 0x03A2)
    return static_cast<char16_t>(c + 0x20);
  if (c >= 0x0410 && c <= 0x042F)
    return static_cast<char16_t>(c + 0x20);
  if (c >= 0x0400 && c <= 0x040F)
    return static_cast<char16_t>(c + 0x50);
  if (c >= 0xFF21 && c <= 0xFF3A)
    return static_cast<char16_t>(c + 0x20);
  return c;
}

bool IsAscii(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80)
      return false;
  return true;
}

template <typename Map> std::string Fold(std::string_view utf8, Map map) {
  std::u16string units = Utf8ToUtf16(utf8);
  for (char16_t &c : units)
    c = map(c);
  return Utf16ToUtf8(units);
}

} // namespace

std::string FoldUpper(std::string_view utf8) {
  return IsAscii(utf8) ? UpperAscii(utf8) : Fold(utf8, Upper);
}

std::string FoldLower(std::string_view utf8) {
  return IsAscii(utf8) ? LowerAscii(utf8) : Fold(utf8, Lower);
}

bool SameName(std::string_view a, std::string_view b) {
  if (IsAscii(a) && IsAscii(b))
    return EqualsNoCase(a, b);
  return FoldUpper(a) == FoldUpper(b);
}

} // namespace qp::mem
