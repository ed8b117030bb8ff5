#include "app/uIgnoreLists.h"

#include <zlib.h>

namespace quenlo {

bool InflateEmbedded(std::span<const std::uint8_t> resource, std::string &text,
                     std::string &error) {
  text.clear();
  if (resource.size() < 2 || resource[0] != 'Z' || resource[1] != 'P') {
    error = "InflateEmbedded: missing \"ZP\" marker";
    return false;
  }
  z_stream stream{};
  if (inflateInit2(&stream, -15) != Z_OK) {
    error = "InflateEmbedded: inflateInit2 failed";
    return false;
  }
  const auto payload = resource.subspan(2);
  stream.next_in = const_cast<Bytef *>(payload.data());
  stream.avail_in = static_cast<uInt>(payload.size());
  char chunk[4096];
  int status = Z_OK;
  while (status == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef *>(chunk);
    stream.avail_out = sizeof chunk;
    status = inflate(&stream, Z_NO_FLUSH);
    if (status == Z_OK || status == Z_STREAM_END)
      text.append(chunk, sizeof chunk - stream.avail_out);
    // No progress with input left means the stream ended early.
    if (status == Z_BUF_ERROR || (status == Z_OK && stream.avail_in == 0 && stream.avail_out != 0))
      break;
  }
  const std::string detail = stream.msg != nullptr ? std::string(" (") + stream.msg + ")" : "";
  inflateEnd(&stream);
  if (status != Z_STREAM_END) {
    error = "InflateEmbedded: damaged or truncated stream" + detail;
    text.clear();
    return false;
  }
  return true;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '\r' && text[i] != '\n')
      continue;
    if (i > start)
      lines.emplace_back(text.substr(start, i - start));
    if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n')
      ++i;
    start = i + 1;
  }
  return lines;
}

const std::vector<std::string> &DefaultSkippedKeys() {
  static const std::vector<std::string> keys = [] {
    std::string text;
    std::string error;
    if (!InflateEmbedded(DefaultSkippedKeysResource(), text, error))
      return std::vector<std::string>{};
    return SplitLines(text);
  }();
  return keys;
}

} // namespace quenlo
