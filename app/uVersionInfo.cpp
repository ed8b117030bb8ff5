#include "app/uVersionInfo.h"

#include <cstdio>
#include <optional>
#include <vector>

#include "platform/Utf.h"

namespace quenlo {

namespace {

// One node of the resource tree: wLength, wValueLength, wType, szKey, value,
// children, each part aligned to 4 bytes from the resource start.
struct TVersionBlock {
  std::u16string key;
  std::span<const std::uint8_t> value;
  std::vector<TVersionBlock> children;
};

constexpr int kMaxDepth = 6;

std::uint16_t Word(std::span<const std::uint8_t> data, std::size_t at) {
  return static_cast<std::uint16_t>(data[at] | (data[at + 1] << 8));
}

std::uint32_t Dword(std::span<const std::uint8_t> data, std::size_t at) {
  return Word(data, at) | (static_cast<std::uint32_t>(Word(data, at + 2)) << 16);
}

std::size_t Align4(std::size_t n) {
  return (n + 3) & ~static_cast<std::size_t>(3);
}

std::optional<TVersionBlock> ParseBlock(std::span<const std::uint8_t> data, std::size_t at,
                                        std::size_t limit, int depth, std::size_t &length) {
  if (depth > kMaxDepth || at + 6 > limit)
    return std::nullopt;
  length = Word(data, at);
  const std::size_t valueLength = Word(data, at + 2);
  const std::uint16_t type = Word(data, at + 4);
  if (length < 6 || at + length > limit)
    return std::nullopt;
  const std::size_t end = at + length;

  TVersionBlock block;
  std::size_t pos = at + 6;
  for (; pos + 1 < end; pos += 2) {
    std::uint16_t c = Word(data, pos);
    if (c == 0)
      break;
    block.key.push_back(static_cast<char16_t>(c));
  }
  pos = Align4(pos + 2);
  if (pos > end)
    pos = end;
  std::size_t valueBytes = type == 1 ? valueLength * 2 : valueLength;
  if (valueBytes > end - pos)
    valueBytes = end - pos;
  block.value = data.subspan(pos, valueBytes);
  pos = Align4(pos + valueBytes);
  while (pos + 6 <= end) {
    std::size_t childLength = 0;
    auto child = ParseBlock(data, pos, end, depth + 1, childLength);
    if (!child)
      break;
    block.children.push_back(std::move(*child));
    pos = Align4(pos + childLength);
  }
  return block;
}

const TVersionBlock *Child(const TVersionBlock &block, std::u16string_view key) {
  for (const TVersionBlock &child : block.children)
    if (qp::EqualsNoCase(qp::Utf16ToUtf8(child.key), qp::Utf16ToUtf8(key)))
      return &child;
  return nullptr;
}

std::string TextOf(std::span<const std::uint8_t> value) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < value.size(); i += 2) {
    std::uint16_t c = Word(value, i);
    if (c == 0)
      break;
    text.push_back(static_cast<char16_t>(c));
  }
  return qp::Utf16ToUtf8(text);
}

} // namespace

std::string FileVersionFromResource(std::span<const std::uint8_t> resource) {
  std::size_t length = 0;
  auto root = ParseBlock(resource, 0, resource.size(), 0, length);
  if (!root)
    return {};

  if (const TVersionBlock *var = Child(*root, u"VarFileInfo")) {
    const TVersionBlock *translation = Child(*var, u"Translation");
    const TVersionBlock *strings = Child(*root, u"StringFileInfo");
    if (translation != nullptr && strings != nullptr && translation->value.size() >= 4) {
      char name[16];
      std::snprintf(name, sizeof name, "%04X%04X", Word(translation->value, 0),
                    Word(translation->value, 2));
      const std::u16string table = qp::Utf8ToUtf16(name);
      if (const TVersionBlock *t = Child(*strings, table))
        if (const TVersionBlock *fileVersion = Child(*t, u"FileVersion")) {
          std::string text = TextOf(fileVersion->value);
          if (!text.empty())
            return text;
        }
    }
  }

  // VS_FIXEDFILEINFO: signature, struct version, file version MS, LS ...
  if (root->value.size() >= 16 && Dword(root->value, 0) == 0xFEEF04BDu) {
    const std::uint32_t ms = Dword(root->value, 8);
    const std::uint32_t ls = Dword(root->value, 12);
    char text[64];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", ms >> 16, ms & 0xFFFFu, ls >> 16, ls & 0xFFFFu);
    return text;
  }
  return {};
}

} // namespace quenlo
