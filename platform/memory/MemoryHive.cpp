#include "platform/memory/MemoryHive.h"

#include <algorithm>

namespace qp::mem {

namespace {

constexpr std::string_view kMagic = "QUENLO MODEL HIVE 1";
constexpr std::string_view kNone = "-";

std::string Hex(const std::uint8_t *bytes, std::size_t size) {
  if (size == 0)
    return std::string(kNone);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0xF];
  }
  return out;
}

std::string HexText(std::string_view text) {
  return Hex(reinterpret_cast<const std::uint8_t *>(text.data()), text.size());
}

int Digit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

std::optional<Bytes> Unhex(std::string_view text) {
  Bytes out;
  if (text == kNone)
    return out;
  if (text.empty() || text.size() % 2 != 0)
    return std::nullopt;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int hi = Digit(text[i]), lo = Digit(text[i + 1]);
    if (hi < 0 || lo < 0)
      return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  return out;
}

std::optional<std::string> UnhexText(std::string_view text) {
  const std::optional<Bytes> bytes = Unhex(text);
  if (!bytes)
    return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

std::optional<std::uint64_t> Number(std::string_view text) {
  if (text.empty() || text.size() > 20)
    return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9')
      return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t start = 0;
  while (start < line.size()) {
    const std::size_t end = std::min(line.find(' ', start), line.size());
    words.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

void WriteKey(const HiveKey &key, const std::string &path, std::string &out, std::size_t &count) {
  out += "key " + HexText(path) + " " + std::to_string(key.lastWrite) + " " + HexText(key.owner) +
         " " + HexText(key.dacl) + "\n";
  ++count;
  for (const HiveValue &v : key.values)
    out += "value " + HexText(v.name) + " " + std::to_string(v.type) + " " +
           Hex(v.data.data(), v.data.size()) + "\n";
  for (const HiveKey &sub : key.subKeys)
    WriteKey(sub, path.empty() ? sub.name : path + "\\" + sub.name, out, count);
}

// The key a path names below the root, made as the file lists it: a key
// comes after its parent and after its older siblings.
HiveKey *Place(HiveKey &root, std::string_view path) {
  HiveKey *key = &root;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    const std::string_view name = path.substr(start, end - start);
    if (name.empty())
      return nullptr;
    const bool last = end == path.size();
    if (last) {
      key->subKeys.push_back(HiveKey{std::string(name), 0, {}, {}, {}, {}});
      return &key->subKeys.back();
    }
    if (key->subKeys.empty() || key->subKeys.back().name != name)
      return nullptr;
    key = &key->subKeys.back();
    start = end + 1;
  }
}

} // namespace

std::string WriteHive(const HiveKey &root) {
  std::string out = std::string(kMagic) + "\n";
  std::size_t count = 0;
  WriteKey(root, "", out, count);
  out += "end " + std::to_string(count) + "\n";
  return out;
}

std::optional<HiveKey> ReadHive(std::string_view text) {
  HiveKey root;
  HiveKey *current = nullptr;
  std::size_t keys = 0;
  bool ended = false;
  std::size_t lineNo = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos || ended)
      return std::nullopt;
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (lineNo++ == 0) {
      if (line != kMagic)
        return std::nullopt;
      continue;
    }
    const std::vector<std::string_view> w = Words(line);
    if (w.size() == 5 && w[0] == "key") {
      const std::optional<std::string> path = UnhexText(w[1]);
      const std::optional<std::uint64_t> written = Number(w[2]);
      const std::optional<std::string> owner = UnhexText(w[3]);
      const std::optional<std::string> dacl = UnhexText(w[4]);
      if (!path || !written || !owner || !dacl || (keys == 0) != path->empty())
        return std::nullopt;
      current = keys == 0 ? &root : Place(root, *path);
      if (current == nullptr)
        return std::nullopt;
      current->lastWrite = *written;
      current->owner = *owner;
      current->dacl = *dacl;
      ++keys;
    } else if (w.size() == 4 && w[0] == "value" && current != nullptr) {
      const std::optional<std::string> name = UnhexText(w[1]);
      const std::optional<std::uint64_t> type = Number(w[2]);
      const std::optional<Bytes> data = Unhex(w[3]);
      if (!name || !type || *type > 0xFFFFFFFFull || !data)
        return std::nullopt;
      current->values.push_back(HiveValue{*name, static_cast<std::uint32_t>(*type), *data});
    } else if (w.size() == 2 && w[0] == "end") {
      const std::optional<std::uint64_t> count = Number(w[1]);
      if (!count || *count != keys || keys == 0)
        return std::nullopt;
      ended = true;
    } else {
      return std::nullopt;
    }
  }
  if (!ended)
    return std::nullopt;
  return root;
}

} // namespace qp::mem
