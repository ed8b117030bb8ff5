#include "registry/uRegFile.h"

#include <cstdio>
#include <map>
#include <tuple>

#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "registry/uProtectedKeys.h"

namespace quenlo {

namespace {

constexpr std::u16string_view kRegedit4Header = u"REGEDIT4";
constexpr std::u16string_view kUnicodeHeader = u"Windows Registry Editor Version 5.00";

qp::IRegistry &Reg() {
  return qp::Platform().Registry();
}

std::u16string Ascii16(std::string_view text) {
  return std::u16string(text.begin(), text.end());
}

std::u16string Units(const qp::Bytes &data) {
  std::u16string units;
  units.reserve(data.size() / 2);
  for (std::size_t i = 0; i + 1 < data.size(); i += 2)
    units.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  return units;
}

qp::Bytes RawFromUnits(std::u16string_view units) {
  qp::Bytes raw;
  raw.reserve(units.size() * 2);
  for (const char16_t c : units) {
    raw.push_back(static_cast<std::uint8_t>(c & 0xFF));
    raw.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return raw;
}

bool PrintableAscii(std::u16string_view text) {
  for (const char16_t c : text)
    if (c < 0x20 || c > 0x7E)
      return false;
  return true;
}

// String data a quoted string gives back exactly on import: text without
// NULs followed by exactly one NUL, even length, no line breaks or other
// control characters.
bool QuotableString(const qp::Bytes &data) {
  if (data.size() < 2 || data.size() % 2 != 0)
    return false;
  const std::u16string units = Units(data);
  if (units.back() != 0)
    return false;
  for (std::size_t i = 0; i + 1 < units.size(); ++i)
    if (units[i] < 0x20 && units[i] != u'\t')
      return false;
  return true;
}

bool AsciiUnits(const qp::Bytes &data) {
  if (data.size() % 2 != 0)
    return false;
  for (const char16_t c : Units(data))
    if (c > 0x7F)
      return false;
  return true;
}

bool ValueFitsRegedit4(const TRegFileValue &value) {
  if (!PrintableAscii(qp::Utf8ToUtf16(value.Name)))
    return false;
  if (value.Delete)
    return true;
  switch (value.Type) {
  case wc::RegSz: {
    if (!QuotableString(value.Data))
      return false;
    const std::u16string units = Units(value.Data);
    for (std::size_t i = 0; i + 1 < units.size(); ++i)
      if (units[i] > 0x7E)
        return false;
    return true;
  }
  case wc::RegExpandSz:
  case wc::RegMultiSz:
    return AsciiUnits(value.Data);
  case wc::RegDword:
    return value.Data.size() == 4;
  case wc::RegBinary:
  case wc::RegNone:
    return true;
  default:
    return false;
  }
}

std::u16string Escape(std::u16string_view text) {
  std::u16string out;
  for (const char16_t c : text) {
    switch (c) {
    case u'\\':
      out += u"\\\\";
      break;
    case u'"':
      out += u"\\\"";
      break;
    case u'\n':
      out += u"\\n";
      break;
    case u'\r':
      out += u"\\r";
      break;
    case u'\0':
      out += u"\\0";
      break;
    default:
      out += c;
    }
  }
  return out;
}

void AppendHex2(std::u16string &out, unsigned value) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  out += kDigits[(value >> 4) & 0xF];
  out += kDigits[value & 0xF];
}

void AppendHexList(std::u16string &out, const qp::Bytes &bytes, std::size_t column) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (column >= 77) {
      out += u"\\\r\n  ";
      column = 2;
    }
    AppendHex2(out, bytes[i]);
    if (i + 1 < bytes.size()) {
      out += u',';
      column += 3;
    } else {
      column += 2;
    }
  }
}

std::u16string HexLabel(std::uint32_t type) {
  if (type == wc::RegBinary)
    return u"hex:";
  char buf[24];
  std::snprintf(buf, sizeof buf, "hex(%x):", type);
  return Ascii16(buf);
}

void WriteValue(std::u16string &out, const TRegFileValue &value, bool unicode) {
  const std::u16string name = qp::Utf8ToUtf16(value.Name);
  out += u'"';
  out += Escape(name);
  out += u"\"=";
  if (value.Delete) {
    out += u'-';
    return;
  }
  if (value.Type == wc::RegSz && QuotableString(value.Data)) {
    std::u16string text = Units(value.Data);
    text.pop_back();
    out += u'"';
    out += Escape(text);
    out += u'"';
    return;
  }
  if (value.Type == wc::RegDword && value.Data.size() == 4) {
    out += u"dword:";
    for (int i = 3; i >= 0; --i)
      AppendHex2(out, value.Data[static_cast<std::size_t>(i)]);
    return;
  }
  const std::u16string label = HexLabel(value.Type);
  qp::Bytes bytes = value.Data;
  if (!unicode && (value.Type == wc::RegExpandSz || value.Type == wc::RegMultiSz)) {
    // "REGEDIT4" carries string data as ANSI text.
    bytes.clear();
    for (const char16_t c : Units(value.Data))
      bytes.push_back(static_cast<std::uint8_t>(c));
  }
  out += label;
  AppendHexList(out, bytes, name.size() + 3 + label.size());
}

std::u16string KeyLine(const TRegFileKey &key) {
  std::u16string line = u"[";
  if (key.Delete)
    line += u'-';
  line += Ascii16(RootKeyLongName(key.Root));
  if (!key.Path.empty())
    line += u'\\' + qp::Utf8ToUtf16(key.Path);
  line += u']';
  return line;
}

// --- reader helpers

std::u16string TrimLeft(std::u16string_view s) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == u' ' || s[i] == u'\t'))
    ++i;
  return std::u16string(s.substr(i));
}

std::u16string TrimRight(std::u16string_view s) {
  std::size_t n = s.size();
  while (n > 0 && (s[n - 1] == u' ' || s[n - 1] == u'\t'))
    --n;
  return std::u16string(s.substr(0, n));
}

// Reads a quoted text starting after its opening quote; pos ends after the
// closing quote. False when there is none.
bool ReadQuoted(std::u16string_view line, std::size_t &pos, std::u16string &text) {
  text.clear();
  while (pos < line.size()) {
    const char16_t c = line[pos++];
    if (c == u'"')
      return true;
    if (c == u'\\' && pos < line.size()) {
      const char16_t e = line[pos++];
      switch (e) {
      case u'\\':
        text += u'\\';
        break;
      case u'"':
        text += u'"';
        break;
      case u'n':
        text += u'\n';
        break;
      case u'r':
        text += u'\r';
        break;
      case u'0':
        text += u'\0';
        break;
      default:
        text += u'\\';
        text += e;
      }
      continue;
    }
    text += c;
  }
  return false;
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9')
    return c - u'0';
  if (c >= u'a' && c <= u'f')
    return c - u'a' + 10;
  if (c >= u'A' && c <= u'F')
    return c - u'A' + 10;
  return -1;
}

bool ParseHexBytes(std::u16string_view text, qp::Bytes &bytes) {
  bytes.clear();
  std::size_t i = 0;
  auto skipBlanks = [&] {
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
      ++i;
  };
  skipBlanks();
  if (i == text.size())
    return true;
  while (true) {
    skipBlanks();
    if (i + 1 >= text.size())
      return false;
    const int hi = HexDigit(text[i]);
    const int lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0)
      return false;
    bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    i += 2;
    skipBlanks();
    if (i == text.size())
      return true;
    if (text[i] != u',')
      return false;
    ++i;
    skipBlanks();
    if (i == text.size())
      return true; // a trailing comma is tolerated
  }
}

bool ParseData(std::u16string_view data, bool unicode, TRegFileValue &value) {
  if (data == u"-") {
    value.Delete = true;
    return true;
  }
  if (!data.empty() && data.front() == u'"') {
    std::size_t pos = 1;
    std::u16string text;
    if (!ReadQuoted(data, pos, text) || !TrimLeft(data.substr(pos)).empty())
      return false;
    value.Type = wc::RegSz;
    text.push_back(u'\0');
    value.Data = RawFromUnits(text);
    return true;
  }
  if (data.substr(0, 6) == u"dword:") {
    const std::u16string digits = TrimRight(data.substr(6));
    if (digits.empty() || digits.size() > 8)
      return false;
    std::uint32_t v = 0;
    for (const char16_t c : digits) {
      const int d = HexDigit(c);
      if (d < 0)
        return false;
      v = v << 4 | static_cast<std::uint32_t>(d);
    }
    value.Type = wc::RegDword;
    value.Data = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                  static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    return true;
  }
  std::size_t listStart = 0;
  if (data.substr(0, 4) == u"hex:") {
    value.Type = wc::RegBinary;
    listStart = 4;
  } else if (data.substr(0, 4) == u"hex(") {
    const std::size_t close = data.find(u"):");
    if (close == std::u16string_view::npos || close == 4 || close > 12)
      return false;
    std::uint32_t type = 0;
    for (const char16_t c : data.substr(4, close - 4)) {
      const int d = HexDigit(c);
      if (d < 0)
        return false;
      type = type << 4 | static_cast<std::uint32_t>(d);
    }
    value.Type = type;
    listStart = close + 2;
  } else {
    return false;
  }
  if (!ParseHexBytes(data.substr(listStart), value.Data))
    return false;
  if (!unicode &&
      (value.Type == wc::RegSz || value.Type == wc::RegExpandSz || value.Type == wc::RegMultiSz)) {
    // ANSI text in "REGEDIT4" files becomes UTF-16 on import.
    qp::Bytes wide;
    for (const std::uint8_t b : value.Data) {
      wide.push_back(b);
      wide.push_back(0);
    }
    value.Data = std::move(wide);
  }
  return true;
}

std::u16string DecodeFile(std::string_view bytes) {
  std::u16string text;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
      text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                           static_cast<unsigned char>(bytes[i + 1]) << 8));
    return text;
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF")
    return qp::Utf8ToUtf16(bytes.substr(3));
  for (const char c : bytes)
    text.push_back(static_cast<unsigned char>(c));
  return text;
}

std::vector<std::u16string> SplitLines(std::u16string_view text) {
  std::vector<std::u16string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(u'\n', start);
    if (end == std::u16string_view::npos)
      end = text.size();
    std::u16string line(text.substr(start, end - start));
    if (!line.empty() && line.back() == u'\r')
      line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::string KeyId(std::uint32_t root, std::string_view path) {
  return std::to_string(root) + "\\" + qp::UpperAscii(path);
}

using TValueMap = std::map<std::string, const TRegFileValue *>;
using TKeyMap = std::map<std::string, std::pair<const TRegFileKey *, TValueMap>>;

TKeyMap IndexFile(const TRegFile &file) {
  TKeyMap keys;
  for (const TRegFileKey &key : file.Keys) {
    auto &entry = keys[KeyId(key.Root, key.Path)];
    entry.first = &key;
    for (const TRegFileValue &value : key.Values)
      entry.second[qp::UpperAscii(value.Name)] = &value;
  }
  return keys;
}

std::string ValueText(const TRegFileKey &key, const std::string &name) {
  return RootKeyShortName(key.Root) + "\\" + key.Path + " [" + name + "]";
}

bool ReadTreeInto(std::uint32_t root, TRegistryView view, const std::string &path, TRegFile &tree,
                  std::string &errorText) {
  ScopedKey key;
  long st = Reg().OpenKey(root, path, wc::KeyRead | ViewFlag(view), key.Out());
  if (st != wc::ErrorSuccess) {
    errorText = "RegOpenKeyEx: " + SysErrorMessage(st);
    return false;
  }
  qp::KeyInfo info;
  st = Reg().QueryInfoKey(key.Get(), info);
  if (st != wc::ErrorSuccess) {
    errorText = "RegQueryInfoKey: " + SysErrorMessage(st);
    return false;
  }
  TRegFileKey node;
  node.Root = root;
  node.Path = path;
  for (std::uint32_t i = 0; i < info.values; ++i) {
    TRegFileValue value;
    st = Reg().EnumValue(key.Get(), i, info.maxValueNameLen + 1, info.maxValueLen, value.Name,
                         value.Type, value.Data);
    if (st != wc::ErrorSuccess) {
      errorText = "RegEnumValue: " + SysErrorMessage(st);
      return false;
    }
    node.Values.push_back(std::move(value));
  }
  std::vector<std::string> names;
  for (std::uint32_t i = 0; i < info.subKeys; ++i) {
    std::string name;
    st = Reg().EnumKey(key.Get(), i, info.maxSubKeyLen + 1, name);
    if (st != wc::ErrorSuccess) {
      errorText = "RegEnumKeyEx: " + SysErrorMessage(st);
      return false;
    }
    names.push_back(std::move(name));
  }
  key.Reset();
  tree.Keys.push_back(std::move(node));
  for (const std::string &name : names)
    if (!ReadTreeInto(root, view, path.empty() ? name : path + "\\" + name, tree, errorText))
      return false;
  return true;
}

std::string TrimPath(std::string_view path) {
  while (!path.empty() && path.front() == '\\')
    path.remove_prefix(1);
  while (!path.empty() && path.back() == '\\')
    path.remove_suffix(1);
  return std::string(path);
}

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;

bool IsControl(unsigned char c) {
  return c < kFirstPrintable || c == kDelete;
}

// The name with control characters shown as "\xNN", for error texts.
std::string Visible(std::string_view name) {
  std::string out;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (IsControl(u)) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

// Why a key path cannot be carried, or empty when it can.
std::string KeyPathFault(std::string_view keyPath) {
  for (const char c : keyPath)
    if (IsControl(static_cast<unsigned char>(c)))
      return "it holds a control character";
  std::size_t start = 0;
  while (start <= keyPath.size()) {
    std::size_t end = keyPath.find('\\', start);
    if (end == std::string_view::npos)
      end = keyPath.size();
    if (end > start && keyPath[end - 1] == ']')
      return "a component ends in \"]\"";
    start = end + 1;
  }
  return {};
}

std::string ValueNameFault(std::string_view valueName) {
  for (const char c : valueName) {
    const auto u = static_cast<unsigned char>(c);
    if (IsControl(u) && c != '\t')
      return "it holds a control character";
  }
  return {};
}

std::string LineError(std::size_t lineNo, std::string_view what) {
  return "line " + std::to_string(lineNo) + ": " + std::string(what);
}

// A carriage return not followed by a line feed: the registry editor ends
// a line there, so the file must not be read as if it did not.
bool FindBareCr(std::u16string_view text, std::size_t &lineNo) {
  lineNo = 1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\n')
      ++lineNo;
    else if (text[i] == u'\r' && (i + 1 == text.size() || text[i + 1] != u'\n'))
      return true;
  }
  return false;
}

bool IsBlank(std::u16string_view s) {
  return TrimRight(s).empty();
}

// The subkey of parent named name without regard to case, as the parent's
// list spells it; an exact match wins over one that differs in case only.
bool StoredSubKeyName(std::uint32_t root, TRegistryView view, const std::string &parent,
                      const std::string &name, std::string &spelling, std::string &errorText) {
  ScopedKey key;
  long st = Reg().OpenKey(root, parent, wc::KeyRead | ViewFlag(view), key.Out());
  if (st != wc::ErrorSuccess) {
    errorText = "RegOpenKeyEx: " + SysErrorMessage(st);
    return false;
  }
  qp::KeyInfo info;
  st = Reg().QueryInfoKey(key.Get(), info);
  if (st != wc::ErrorSuccess) {
    errorText = "RegQueryInfoKey: " + SysErrorMessage(st);
    return false;
  }
  const std::string upper = qp::UpperAscii(name);
  bool found = false;
  for (std::uint32_t i = 0; i < info.subKeys; ++i) {
    std::string sub;
    st = Reg().EnumKey(key.Get(), i, info.maxSubKeyLen + 1, sub);
    if (st != wc::ErrorSuccess) {
      errorText = "RegEnumKeyEx: " + SysErrorMessage(st);
      return false;
    }
    if (sub == name) {
      spelling = sub;
      return true;
    }
    if (!found && qp::UpperAscii(sub) == upper) {
      spelling = sub;
      found = true;
    }
  }
  if (!found)
    errorText = "RegOpenKeyEx: " + SysErrorMessage(wc::ErrorFileNotFound);
  return found;
}
} // namespace

// --- what the format can carry

bool RegFileCanCarryKey(std::string_view keyPath, std::string &reason) {
  const std::string fault = KeyPathFault(keyPath);
  if (fault.empty())
    return true;
  reason = "RegFile: the key name \"" + Visible(keyPath) +
           "\" cannot be written to a registry file: " + fault;
  return false;
}

bool RegFileCanCarry(std::string_view keyPath, std::string_view valueName, std::string &reason) {
  if (!RegFileCanCarryKey(keyPath, reason))
    return false;
  const std::string fault = ValueNameFault(valueName);
  if (fault.empty())
    return true;
  reason = "RegFile: the value name \"" + Visible(valueName) + "\" of the key \"" +
           Visible(keyPath) + "\" cannot be written to a registry file: " + fault;
  return false;
}

bool RegFileCanCarryFile(const TRegFile &file, std::string &reason) {
  for (const TRegFileKey &key : file.Keys) {
    if (!RegFileCanCarryKey(key.Path, reason))
      return false;
    for (const TRegFileValue &value : key.Values)
      if (!RegFileCanCarry(key.Path, value.Name, reason))
        return false;
  }
  return true;
}

// --- writer

bool FitsRegedit4(const TRegFile &file) {
  for (const TRegFileKey &key : file.Keys) {
    if (!PrintableAscii(qp::Utf8ToUtf16(key.Path)))
      return false;
    for (const TRegFileValue &value : key.Values)
      if (!ValueFitsRegedit4(value))
        return false;
  }
  return true;
}

std::string FormatRegFile(const TRegFile &file) {
  const bool unicode = !FitsRegedit4(file);
  std::u16string text(unicode ? kUnicodeHeader : kRegedit4Header);
  text += u"\r\n";
  for (const TRegFileKey &key : file.Keys) {
    text += u"\r\n";
    text += KeyLine(key);
    text += u"\r\n";
    for (const TRegFileValue &value : key.Values) {
      WriteValue(text, value, unicode);
      text += u"\r\n";
    }
  }
  std::string bytes;
  if (!unicode) {
    bytes.reserve(text.size());
    for (const char16_t c : text)
      bytes.push_back(static_cast<char>(c));
    return bytes;
  }
  bytes.reserve(2 + text.size() * 2);
  bytes += "\xFF\xFE";
  for (const char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

bool WriteRegFile(const TRegFile &file, std::string_view path, std::string &errorText) {
  if (!RegFileCanCarryFile(file, errorText)) {
    qp::IgnoreResult(qp::Platform().Files().DeleteFile(path));
    return false;
  }
  const long st = qp::Platform().Files().WriteFile(path, FormatRegFile(file));
  if (st == wc::ErrorSuccess)
    return true;
  errorText = "WriteFile: " + SysErrorMessage(st);
  qp::IgnoreResult(qp::Platform().Files().DeleteFile(path));
  return false;
}

// --- reader

bool ParseRegFile(std::string_view bytes, TRegFile &file, std::string &errorText) {
  file = TRegFile{};
  const std::u16string text = DecodeFile(bytes);
  if (std::size_t crLine = 0; FindBareCr(text, crLine)) {
    errorText = LineError(crLine, "a carriage return without a line feed");
    return false;
  }
  const std::vector<std::u16string> lines = SplitLines(text);
  std::size_t i = 0;
  while (i < lines.size() && TrimRight(lines[i]).empty())
    ++i;
  if (i == lines.size()) {
    errorText = "not a registry file: it is empty";
    return false;
  }
  const std::u16string header = TrimRight(lines[i]);
  if (header == kUnicodeHeader) {
    file.Unicode = true;
  } else if (header != kRegedit4Header) {
    errorText = "not a registry file: unknown header";
    return false;
  }
  for (++i; i < lines.size(); ++i) {
    const std::size_t lineNo = i + 1;
    std::u16string line = TrimLeft(lines[i]);
    if (TrimRight(line).empty() || line.front() == u';')
      continue;
    if (line.front() == u'[') {
      const std::size_t close = line.rfind(u']');
      if (close == std::u16string::npos) {
        errorText = "line " + std::to_string(lineNo) + ": key without \"]\"";
        return false;
      }
      if (!IsBlank(std::u16string_view(line).substr(close + 1))) {
        errorText = LineError(lineNo, "text after the key's \"]\"");
        return false;
      }
      TRegFileKey key;
      std::u16string name = line.substr(1, close - 1);
      if (!name.empty() && name.front() == u'-') {
        key.Delete = true;
        name.erase(0, 1);
      }
      const std::string full = qp::Utf16ToUtf8(name);
      const std::size_t slash = full.find('\\');
      key.Root = RootKeyFromName(full.substr(0, slash));
      key.Path = slash == std::string::npos ? std::string() : TrimPath(full.substr(slash + 1));
      if (key.Root == 0) {
        errorText = "line " + std::to_string(lineNo) + ": unknown root key";
        return false;
      }
      if (std::string reason; !RegFileCanCarryKey(key.Path, reason)) {
        errorText = LineError(lineNo, reason);
        return false;
      }
      file.Keys.push_back(std::move(key));
      continue;
    }
    if (line.front() != u'"' && line.front() != u'@') {
      errorText = "line " + std::to_string(lineNo) + ": not a key or value";
      return false;
    }
    if (file.Keys.empty()) {
      errorText = "line " + std::to_string(lineNo) + ": value before the first key";
      return false;
    }
    TRegFileValue value;
    std::size_t pos = 1;
    if (line.front() == u'"') {
      std::u16string name;
      if (!ReadQuoted(line, pos, name)) {
        errorText = "line " + std::to_string(lineNo) + ": value name without closing quote";
        return false;
      }
      value.Name = qp::Utf16ToUtf8(name);
      // What the writer refuses is not read either: the editors do not agree
      // on what an escaped line break in a name means.
      if (const std::string fault = ValueNameFault(value.Name); !fault.empty()) {
        errorText = "line " + std::to_string(lineNo) + ": the value name is refused: " + fault;
        return false;
      }
    }
    while (pos < line.size() && (line[pos] == u' ' || line[pos] == u'\t'))
      ++pos;
    if (pos >= line.size() || line[pos] != u'=') {
      errorText = "line " + std::to_string(lineNo) + ": \"=\" expected";
      return false;
    }
    std::u16string data = TrimRight(TrimLeft(std::u16string_view(line).substr(pos + 1)));
    if (data.substr(0, 3) == u"hex") {
      // Hex lists continue over lines ending with a backslash.
      while (!data.empty() && data.back() == u'\\' && i + 1 < lines.size()) {
        data.pop_back();
        data += TrimRight(TrimLeft(lines[++i]));
      }
    }
    if (!ParseData(data, file.Unicode, value)) {
      errorText = "line " + std::to_string(lineNo) + ": unreadable data";
      return false;
    }
    file.Keys.back().Values.push_back(std::move(value));
  }
  return true;
}

bool ReadRegFile(std::string_view path, TRegFile &file, std::string &errorText) {
  std::string bytes;
  const long st = qp::Platform().Files().ReadFile(path, bytes);
  if (st != wc::ErrorSuccess) {
    errorText = "ReadFile: " + SysErrorMessage(st);
    return false;
  }
  return ParseRegFile(bytes, file, errorText);
}

// --- the live registry

bool StoredKeyPath(std::uint32_t root, TRegistryView view, std::string_view path,
                   std::string &stored, std::string &errorText) {
  const std::string wanted = TrimPath(path);
  std::string resolved;
  std::size_t start = 0;
  while (start < wanted.size()) {
    std::size_t end = wanted.find('\\', start);
    if (end == std::string::npos)
      end = wanted.size();
    const std::string component = wanted.substr(start, end - start);
    start = end + 1;
    std::string spelling;
    if (!StoredSubKeyName(root, view, resolved, component, spelling, errorText))
      return false;
    resolved += (resolved.empty() ? "" : "\\") + spelling;
  }
  stored = std::move(resolved);
  return true;
}

bool ReadKeyTree(std::uint32_t root, TRegistryView view, std::string_view path, TRegFile &tree,
                 std::string &errorText) {
  tree = TRegFile{};
  std::string stored;
  if (!StoredKeyPath(root, view, path, stored, errorText))
    return false;
  return ReadTreeInto(root, view, stored, tree, errorText);
}

bool ApplyRegFile(const TRegFile &file, TRegistryView view, std::string &errorText) {
  // Checked for the whole file first so that a refused file changes nothing.
  for (const TRegFileKey &key : file.Keys) {
    if (TrimPath(key.Path).empty()) {
      errorText = "ApplyRegFile: the file names the hive root " + RootKeyLongName(key.Root) +
                  " itself, which is never imported";
      return false;
    }
    if (key.Delete && IsProtectedKey(key.Root, key.Path)) {
      errorText = "ApplyRegFile: " + ProtectedKeyError(key.Root, key.Path);
      return false;
    }
  }
  for (const TRegFileKey &key : file.Keys) {
    if (key.Delete) {
      if (KeyExists(key.Root, view, key.Path) &&
          !DeleteKeyTree(errorText, key.Root, view, key.Path))
        return false;
      continue;
    }
    ScopedKey handle;
    long st = Reg().CreateKey(key.Root, key.Path, wc::KeyAllAccess | ViewFlag(view), handle.Out(),
                              nullptr);
    if (st != wc::ErrorSuccess) {
      errorText = "RegCreateKeyEx: " + SysErrorMessage(st);
      return false;
    }
    for (const TRegFileValue &value : key.Values) {
      st = value.Delete ? Reg().DeleteValue(handle.Get(), value.Name)
                        : Reg().SetValue(handle.Get(), value.Name, value.Type, value.Data);
      if (st == wc::ErrorFileNotFound && value.Delete)
        st = wc::ErrorSuccess;
      if (st != wc::ErrorSuccess) {
        errorText = (value.Delete ? "RegDeleteValue: " : "RegSetValueEx: ") + SysErrorMessage(st);
        return false;
      }
    }
  }
  return true;
}

bool RegFileApplied(const TRegFile &file, TRegistryView view, std::string &difference) {
  // Later lines of a file win over earlier ones, as on import.
  const TKeyMap keys = IndexFile(file);
  for (const auto &[id, entry] : keys) {
    const TRegFileKey &key = *entry.first;
    ScopedKey handle;
    const long st = Reg().OpenKey(key.Root, key.Path, wc::KeyRead | ViewFlag(view), handle.Out());
    if (key.Delete) {
      if (st == wc::ErrorSuccess) {
        difference = "key still exists: " + RootKeyShortName(key.Root) + "\\" + key.Path;
        return false;
      }
      continue;
    }
    if (st != wc::ErrorSuccess) {
      difference = "key missing: " + RootKeyShortName(key.Root) + "\\" + key.Path;
      return false;
    }
    for (const auto &[upper, value] : entry.second) {
      std::uint32_t type = 0;
      qp::Bytes data;
      const long vst = Reg().QueryValue(handle.Get(), value->Name, &type, &data, nullptr);
      if (value->Delete) {
        if (vst != wc::ErrorFileNotFound) {
          difference = "value still exists: " + ValueText(key, value->Name);
          return false;
        }
        continue;
      }
      if (vst != wc::ErrorSuccess || type != value->Type || data != value->Data) {
        difference = "value differs: " + ValueText(key, value->Name);
        return false;
      }
    }
  }
  return true;
}

bool SameRegContent(const TRegFile &a, const TRegFile &b, std::string &difference) {
  const TKeyMap ka = IndexFile(a);
  const TKeyMap kb = IndexFile(b);
  for (const auto &[id, entry] : ka)
    if (!kb.count(id)) {
      difference = "key only in the first: " + RootKeyShortName(entry.first->Root) + "\\" +
                   entry.first->Path;
      return false;
    }
  for (const auto &[id, entry] : kb) {
    const auto other = ka.find(id);
    if (other == ka.end()) {
      difference = "key only in the second: " + RootKeyShortName(entry.first->Root) + "\\" +
                   entry.first->Path;
      return false;
    }
    if (other->second.first->Delete != entry.first->Delete) {
      difference = "key deleted in one only: " + entry.first->Path;
      return false;
    }
    const TValueMap &va = other->second.second;
    const TValueMap &vb = entry.second;
    if (va.size() != vb.size()) {
      difference = "different values in " + entry.first->Path;
      return false;
    }
    for (const auto &[name, value] : vb) {
      const auto match = va.find(name);
      if (match == va.end() || match->second->Name != value->Name ||
          match->second->Delete != value->Delete || match->second->Type != value->Type ||
          match->second->Data != value->Data) {
        difference = "value differs: " + ValueText(*entry.first, value->Name);
        return false;
      }
    }
  }
  return true;
}

} // namespace quenlo
