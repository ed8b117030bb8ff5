#include "service/uJson.h"

#include <cstdio>

namespace quenlo::service {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char c) {
  return (c & 0xC0u) == 0x80u;
}

// The length of the UTF-8 sequence at text[i] and its code point; 0 when
// the bytes there are not a well-formed sequence (a stray continuation
// byte, a cut sequence, an overlong form, beyond U+10FFFF). Surrogate code
// points, which the registry's UTF-16 names may hold unpaired, are decoded
// so that the caller can escape them.
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t &cp) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::size_t length = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1Fu;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0Fu;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07u;
    minimum = 0x10000;
  } else {
    return 0;
  }
  if (i + length > text.size())
    return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto c = static_cast<unsigned char>(text[i + k]);
    if (!IsContinuation(c))
      return 0;
    cp = (cp << 6) | (c & 0x3Fu);
  }
  if (cp < minimum || cp > 0x10FFFF)
    return 0;
  return length;
}

void AppendUnicodeEscape(std::string &out, char32_t cp) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(cp));
  out += buffer;
}

} // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F)
          AppendUnicodeEscape(out, c);
        else
          out += static_cast<char>(c);
      }
      ++i;
      continue;
    }
    char32_t cp = 0;
    const std::size_t length = DecodeUtf8(text, i, cp);
    if (length == 0) {
      AppendUnicodeEscape(out, kReplacement);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      AppendUnicodeEscape(out, cp);
      i += length;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  out += '"';
  return out;
}

} // namespace quenlo::service
