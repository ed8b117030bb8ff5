// libFuzzer target for the registry file reader and writer: any bytes must
// parse without a crash; a file that parses must write and parse back to the
// same content; and a file built from hostile names the input spells must
// either be refused by the writer or parse back exactly. Built and run by
// scripts/fuzz.sh.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/Utf.h"
#include "registry/uRegFile.h"

using namespace quenlo;

namespace {

void Check(bool condition) {
  if (!condition)
    std::abort();
}

bool SameFile(const TRegFile &a, const TRegFile &b) {
  if (a.Keys.size() != b.Keys.size())
    return false;
  for (std::size_t i = 0; i < a.Keys.size(); ++i) {
    const TRegFileKey &x = a.Keys[i];
    const TRegFileKey &y = b.Keys[i];
    if (x.Root != y.Root || x.Path != y.Path || x.Delete != y.Delete ||
        x.Values.size() != y.Values.size())
      return false;
    for (std::size_t j = 0; j < x.Values.size(); ++j) {
      const TRegFileValue &v = x.Values[j];
      const TRegFileValue &w = y.Values[j];
      if (v.Name != w.Name || v.Delete != w.Delete ||
          (!v.Delete && (v.Type != w.Type || v.Data != w.Data)))
        return false;
    }
  }
  return true;
}

// Writes and reads back; a file the writer refuses is fine, one it writes
// must read back as itself.
void RoundTrip(const TRegFile &file) {
  std::string reason;
  if (!RegFileCanCarryFile(file, reason))
    return;
  TRegFile again;
  std::string error;
  Check(ParseRegFile(FormatRegFile(file), again, error));
  Check(SameFile(file, again));
}

// Names that are not UTF-8 have no UTF-16 spelling to carry.
bool IsUtf8(std::string_view text) {
  return qp::Utf16ToUtf8(qp::Utf8ToUtf16(text)) == text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char *>(data), size);

  TRegFile parsed;
  std::string error;
  if (ParseRegFile(input, parsed, error))
    RoundTrip(parsed);

  // The input split at its first NUL into a key path and a value name, the
  // rest as string data: whatever names these are, the file is refused or
  // exact.
  const std::size_t nul = input.find('\0');
  TRegFile hostile;
  TRegFileKey &key = hostile.Keys.emplace_back();
  key.Root = wc::HkeyLocalMachine;
  key.Path = std::string(input.substr(0, nul));
  while (!key.Path.empty() && (key.Path.front() == '\\' || key.Path.back() == '\\'))
    key.Path.erase(key.Path.front() == '\\' ? 0 : key.Path.size() - 1, 1);
  if (key.Path.find("\\\\") != std::string::npos)
    return 0; // an empty component names no key
  TRegFileValue &value = key.Values.emplace_back();
  value.Type = wc::RegSz;
  if (nul != std::string_view::npos) {
    const std::string_view rest = input.substr(nul + 1);
    const std::size_t split = rest.find('\0');
    value.Name = std::string(rest.substr(0, split));
    if (split != std::string_view::npos)
      for (const char c : rest.substr(split + 1))
        value.Data.push_back(static_cast<std::uint8_t>(c));
  }
  if (IsUtf8(key.Path) && IsUtf8(value.Name))
    RoundTrip(hostile);
  return 0;
}
