#include "cleaner/uUninstallInfo.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Utf.h"

namespace quenlo {

namespace {

// The characters 0x80-0x9F of Windows-1252; 0 where the code page has none.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 1;
    if (lead >= 0xF0 && lead < 0xF5)
      length = 4;
    else if (lead >= 0xE0)
      length = lead < 0xF0 ? 3 : 0;
    else if (lead >= 0xC2)
      length = 2;
    else if (lead >= 0x80)
      length = 0;
    if (length == 0 || i + length > text.size())
      return false;
    for (std::size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
        return false;
    i += length;
  }
  return true;
}

std::string Utf16Text(std::string_view data, bool bigEndian) {
  std::u16string wide;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
    const auto first = static_cast<unsigned char>(data[i]);
    const auto second = static_cast<unsigned char>(data[i + 1]);
    wide.push_back(
        static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first));
  }
  return qp::Utf16ToUtf8(wide);
}

std::string AnsiText(std::string_view data) {
  std::u16string wide;
  for (const char ch : data) {
    const auto byte = static_cast<unsigned char>(ch);
    char16_t unit = byte;
    if (byte >= 0x80 && byte < 0xA0)
      unit = kCp1252High[byte - 0x80] != 0 ? kCp1252High[byte - 0x80] : u'?';
    wide.push_back(unit);
  }
  return qp::Utf16ToUtf8(wide);
}

std::string AsUtf8(std::string_view data) {
  if (data.size() >= 2 && data[0] == '\xFF' && data[1] == '\xFE')
    return Utf16Text(data.substr(2), false);
  if (data.size() >= 2 && data[0] == '\xFE' && data[1] == '\xFF')
    return Utf16Text(data.substr(2), true);
  if (data.size() >= 3 && data.substr(0, 3) == "\xEF\xBB\xBF")
    return std::string(data.substr(3));
  return IsValidUtf8(data) ? std::string(data) : AnsiText(data);
}

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos)
    return {};
  const std::size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

} // namespace

TUninstallInfo ParseUninstallInfo(std::string_view data) {
  const std::string text = AsUtf8(data);
  struct TWanted {
    std::string_view section;
    std::string_view key;
    std::string TUninstallInfo::*field;
    bool found = false;
  };
  std::vector<TWanted> wanted = {
      {"Configuration", "UninstallationType", &TUninstallInfo::type},
      {"Version", "NtServicePackVersionFullText", &TUninstallInfo::fullTitle},
      {"Version", "NtServicePackVersionText", &TUninstallInfo::shortTitle},
  };
  TUninstallInfo info;
  std::string section;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    const std::string_view line = Trim(std::string_view(text).substr(start, end - start));
    start = end + 1;
    if (line.empty() || line.front() == ';')
      continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      section = std::string(
          Trim(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1)));
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
      continue;
    const std::string_view key = Trim(line.substr(0, equals));
    for (TWanted &entry : wanted) {
      if (entry.found || !qp::EqualsNoCase(section, entry.section) ||
          !qp::EqualsNoCase(key, entry.key))
        continue;
      info.*entry.field = std::string(Unquote(Trim(line.substr(equals + 1))));
      entry.found = true;
    }
  }
  return info;
}

} // namespace quenlo
