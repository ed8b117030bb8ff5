// Text helpers of the path code: character search, quotes, icon locations,
// quoted lists, tokens and file-name parts.
#include <algorithm>
#include <charconv>

#include "paths/uPaths.h"
#include "platform/Utf.h"
#include "registry/uRegAccess.h"

namespace quenlo {

namespace {

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back()))
    s.remove_suffix(1);
  return s;
}

} // namespace

std::size_t FindCharFrom(std::size_t start, std::string_view text, std::string_view set) {
  if (start < 1)
    start = 1;
  if (start > text.size())
    return 0;
  const auto at = text.find_first_of(set, start - 1);
  return at == std::string_view::npos ? 0 : at + 1;
}

std::string StripQuotes(std::string_view text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
    return std::string(text.substr(1, text.size() - 2));
  return std::string(text);
}

IconLocation SplitIconLocation(std::string_view text) {
  IconLocation out;
  const auto comma = text.rfind(',');
  if (comma == std::string_view::npos) {
    // No comma: the whole text is the path, as written.
    out.path = std::string(text);
    return out;
  }
  out.path = StripQuotes(Trim(text.substr(0, comma)));
  out.index = std::string(Trim(text.substr(comma + 1)));
  return out;
}

std::string ExtractIconFile(std::string_view text) {
  return SplitIconLocation(text).path;
}

std::vector<std::string> SplitQuotedList(std::string_view text, std::size_t length) {
  std::vector<std::string> list;
  // length includes the terminating NUL; never read past the text.
  const std::size_t n = length == 0 ? 0 : std::min(length - 1, text.size());
  bool inQuotes = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (c == '"') {
      inQuotes = !inQuotes;
    } else if (c == ';' && !inQuotes) {
      list.push_back(CutAtNul(text.substr(start, i - start)));
      start = i + 1;
    }
  }
  if (start < n) {
    std::string tail = CutAtNul(text.substr(start, n - start));
    if (!tail.empty())
      list.push_back(std::move(tail));
  }
  return list;
}

std::string NextToken(std::string_view text, std::size_t &pos, char delimiter) {
  if (delimiter == ' ')
    while (pos < text.size() && text[pos] == ' ')
      ++pos;
  if (pos >= text.size()) {
    pos = text.size();
    return {};
  }
  const auto end = text.find(delimiter, pos);
  std::string token;
  if (end == std::string_view::npos) {
    token = std::string(text.substr(pos));
    pos = text.size();
  } else {
    token = std::string(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return token;
}

std::int64_t NextIntToken(std::string_view text, std::size_t &pos, char delimiter) {
  const std::string token = NextToken(text, pos, delimiter);
  std::string_view digits = Trim(std::string_view(token).substr(0, 12));
  if (!digits.empty() && digits.front() == '+')
    digits.remove_prefix(1);
  std::int64_t value = 0;
  const auto res = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (res.ec != std::errc() || res.ptr != digits.data() + digits.size())
    return 0;
  return value;
}

bool WideToUtf8(std::u16string_view wide, std::string &text) {
  text = qp::Utf16ToUtf8(wide);
  return !text.empty();
}

std::string_view ExtractFileDrive(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':')
    return path.substr(0, 2);
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
    // "\\server\share": up to (not including) the backslash after the share.
    const auto server = path.find('\\', 2);
    if (server == std::string_view::npos)
      return path;
    const auto share = path.find('\\', server + 1);
    return share == std::string_view::npos ? path : path.substr(0, share);
  }
  return {};
}

std::string_view ExtractFileName(std::string_view path) {
  const auto at = path.find_last_of("\\:");
  return at == std::string_view::npos ? path : path.substr(at + 1);
}

std::string_view ExtractFileExt(std::string_view path) {
  const std::string_view name = ExtractFileName(path);
  const auto dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

} // namespace quenlo
