#include "service/uMonitorEvents.h"

#include <cstdio>
#include <ctime>
#include <map>
#include <set>
#include <string_view>
#include <tuple>

#include "platform/Utf.h"
#include "platform/WinConst.h"
#include "registry/uRegAccess.h"
#include "service/uJson.h"

namespace quenlo::service {
namespace {

constexpr const char *kDefaultValueShown = "(Default)";
constexpr const char *kMultiSeparator = " | ";
constexpr const char *kCutMark = "...";
constexpr const char *kView32 = "32-bit";
constexpr const char *kView64 = "64-bit";
constexpr const char *kTypeArrow = " -> ";
constexpr const char *kCsvLineEnd = "\r\n";
constexpr const char *kJsonLineEnd = "\r\n";
constexpr std::size_t kDwordBytes = 4;
constexpr std::size_t kQwordBytes = 8;

struct TTypeName {
  std::uint32_t type;
  const char *name;
};
constexpr TTypeName kTypeNames[] = {
    {wc::RegNone, "REG_NONE"},
    {wc::RegSz, "REG_SZ"},
    {wc::RegExpandSz, "REG_EXPAND_SZ"},
    {wc::RegBinary, "REG_BINARY"},
    {wc::RegDword, "REG_DWORD"},
    {wc::RegDwordBigEndian, "REG_DWORD_BIG_ENDIAN"},
    {wc::RegLink, "REG_LINK"},
    {wc::RegMultiSz, "REG_MULTI_SZ"},
    {wc::RegResourceList, "REG_RESOURCE_LIST"},
    {wc::RegFullResourceDescriptor, "REG_FULL_RESOURCE_DESCRIPTOR"},
    {wc::RegResourceRequirementsList, "REG_RESOURCE_REQUIREMENTS_LIST"},
    {wc::RegQword, "REG_QWORD"},
};

bool IsContinuation(unsigned char c) {
  return (c & 0xC0u) == 0x80u;
}

// The first `limit` characters of UTF-8 text (a character starts at every
// byte that is not a continuation byte, so a cut never splits a sequence),
// with kCutMark appended when anything was cut.
std::string CutToChars(std::string text, std::size_t limit) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsContinuation(static_cast<unsigned char>(text[i])))
      continue;
    if (chars == limit) {
      text.resize(i);
      text += kCutMark;
      return text;
    }
    ++chars;
  }
  return text;
}

std::uint64_t LittleEndian(const qp::Bytes &data, std::size_t bytes) {
  std::uint64_t number = 0;
  for (std::size_t i = bytes; i-- > 0;)
    number = (number << 8) | data[i];
  return number;
}

std::string HexBytes(const qp::Bytes &data) {
  std::string text;
  text.reserve(data.size() * 3);
  char buffer[4];
  for (std::size_t i = 0; i < data.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, "%02x", data[i]);
    if (i > 0)
      text += ' ';
    text += buffer;
  }
  return text;
}

std::string MultiStringText(const qp::Bytes &data) {
  const std::string all = DataToText(wc::RegMultiSz, data);
  std::vector<std::string_view> parts;
  std::string_view rest(all);
  for (;;) {
    const auto nul = rest.find('\0');
    parts.push_back(rest.substr(0, nul));
    if (nul == std::string_view::npos)
      break;
    rest.remove_prefix(nul + 1);
  }
  // The terminators ("a\0b\0\0") leave empty strings at the end.
  while (!parts.empty() && parts.back().empty())
    parts.pop_back();
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0)
      text += kMultiSeparator;
    text += parts[i];
  }
  return text;
}

std::string NumberText(std::uint64_t number, std::size_t bytes) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%llu (0x%0*llx)", static_cast<unsigned long long>(number),
                static_cast<int>(bytes * 2), static_cast<unsigned long long>(number));
  return buffer;
}

std::string WatchedKeyText(const TWatchPoint &where) {
  const bool otherView = where.oneOfTwoViews && where.view == rv32;
  const std::string &path = otherView ? where.viewPath : where.path;
  std::string text = RootKeyShortName(where.root);
  if (!path.empty())
    text += "\\" + path;
  return text;
}

std::string TypeText(const TKeyChange &change) {
  if (change.before && change.after && change.before->type != change.after->type)
    return RegTypeName(change.before->type) + kTypeArrow + RegTypeName(change.after->type);
  if (change.after)
    return RegTypeName(change.after->type);
  if (change.before)
    return RegTypeName(change.before->type);
  return {};
}

// --- time

// Days from 1970-01-01 to a civil date (proleptic Gregorian calendar).
long long DaysFromCivil(long long year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const auto yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

long long CivilSeconds(const std::tm &tm) {
  const long long days = DaysFromCivil(tm.tm_year + 1900LL, static_cast<unsigned>(tm.tm_mon + 1),
                                       static_cast<unsigned>(tm.tm_mday));
  return days * 86400 + tm.tm_hour * 3600LL + tm.tm_min * 60LL + tm.tm_sec;
}

bool BreakDown(std::time_t seconds, bool local, std::tm &out) {
#ifdef _WIN32
  return (local ? localtime_s(&out, &seconds) : gmtime_s(&out, &seconds)) == 0;
#else
  return (local ? localtime_r(&seconds, &out) : gmtime_r(&seconds, &out)) != nullptr;
#endif
}

// "2026-12-09T13:04:05.123+01:00": local time, milliseconds, and the offset
// from UTC in effect at that moment (the two broken-down forms of the same
// instant differ by exactly that offset).
std::string IsoLocalTime(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto whole = floor<seconds>(time);
  const auto millis = duration_cast<milliseconds>(time - whole).count();
  const std::time_t seconds = system_clock::to_time_t(whole);
  std::tm local{};
  std::tm utc{};
  if (!BreakDown(seconds, true, local) || !BreakDown(seconds, false, utc))
    return {};
  const long long offset = CivilSeconds(local) - CivilSeconds(utc);
  const long long offsetMinutes = (offset < 0 ? -offset : offset) / 60;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02lld:%02lld",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<int>(millis), offset < 0 ? '-' : '+', offsetMinutes / 60,
                offsetMinutes % 60);
  return buffer;
}

// --- JSON

void AddJsonField(std::string &out, const char *key, std::string_view value) {
  if (out.size() > 1)
    out += ',';
  out += JsonString(key);
  out += ':';
  out += JsonString(value);
}

// --- CSV

// A spreadsheet runs a cell that starts like a formula; registry data is
// whatever any program wrote, so such a field is made plain text.
bool LooksLikeFormula(std::string_view field) {
  if (field.empty())
    return false;
  switch (field.front()) {
  case '=':
  case '+':
  case '-':
  case '@':
  case '\t':
  case '\r':
    return true;
  default:
    return false;
  }
}

std::string CsvField(std::string_view value) {
  std::string field(value);
  if (LooksLikeFormula(field))
    field.insert(0, "'");
  if (field.find_first_of(",\"\r\n") == std::string::npos)
    return field;
  std::string quoted = "\"";
  for (char c : field) {
    if (c == '"')
      quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

void AppendCsvLine(std::string &out, const std::vector<std::string> &fields) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0)
      out += ',';
    out += CsvField(fields[i]);
  }
  out += kCsvLineEnd;
}

// --- the undo file

// A value as the undo file knows it: the key named from the 64-bit view,
// and the value name; both compared without case, as the registry does.
using TValueId = std::tuple<std::uint32_t, std::string, std::string>;

TValueId ValueIdOf(const TKeyChange &change) {
  return {change.where.root, qp::UpperAscii(change.where.viewPath), qp::UpperAscii(change.name)};
}

} // namespace

const char *ActionText(TKeyEventType type) {
  switch (type) {
  case keCreateSubkey:
    return "Subkey created";
  case keDeleteSubkey:
    return "Subkey deleted";
  case keCreateValue:
    return "Value created";
  case keDeleteValue:
    return "Value deleted";
  case keEditValue:
    return "Value changed";
  }
  return "";
}

std::string RegTypeName(std::uint32_t type) {
  for (const TTypeName &known : kTypeNames)
    if (known.type == type)
      return known.name;
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "REG_0x%x", static_cast<unsigned>(type));
  return buffer;
}

std::string ValueDataText(const TValueState &value) {
  if (!value.dataKept)
    return "(not kept: " + std::to_string(value.size) + " bytes)";
  std::string text;
  switch (value.type) {
  case wc::RegSz:
  case wc::RegExpandSz:
    text = CutAtNul(DataToText(value.type, value.data));
    break;
  case wc::RegMultiSz:
    text = MultiStringText(value.data);
    break;
  case wc::RegDword:
  case wc::RegQword: {
    const std::size_t bytes = value.type == wc::RegDword ? kDwordBytes : kQwordBytes;
    text = value.data.size() == bytes ? NumberText(LittleEndian(value.data, bytes), bytes)
                                      : HexBytes(value.data);
    break;
  }
  default:
    text = HexBytes(value.data);
  }
  return CutToChars(std::move(text), ShownDataChars);
}

TMonitorEventText DescribeChange(const TKeyChange &change) {
  TMonitorEventText text;
  text.watchedKey = WatchedKeyText(change.where);
  const bool valueEvent = IsValueEvent(change.type);
  text.location = valueEvent ? text.watchedKey : text.watchedKey + "\\" + change.name;
  text.name = change.name;
  text.shown = change.name.empty() && valueEvent ? kDefaultValueShown : change.name;
  if (change.where.oneOfTwoViews)
    text.view = change.where.view == rv32 ? kView32 : kView64;
  text.action = ActionText(change.type);
  if (valueEvent) {
    text.type = TypeText(change);
    if (change.before)
      text.oldData = ValueDataText(*change.before);
    if (change.after)
      text.newData = ValueDataText(*change.after);
  }
  return text;
}

std::string ChangeJson(const TKeyChange &change) {
  const TMonitorEventText text = DescribeChange(change);
  std::string out = "{";
  AddJsonField(out, "time", IsoLocalTime(change.time));
  AddJsonField(out, "key", text.location);
  AddJsonField(out, "name", text.name);
  AddJsonField(out, "action", KeyEventTypeName(change.type));
  if (!text.view.empty())
    AddJsonField(out, "view", text.view);
  if (IsValueEvent(change.type)) {
    AddJsonField(out, "type", text.type);
    if (change.before)
      AddJsonField(out, "old", text.oldData);
    if (change.after)
      AddJsonField(out, "new", text.newData);
  }
  out += '}';
  return out;
}

std::string ChangesJson(const std::vector<TKeyChange> &changes) {
  std::string out = "[";
  for (std::size_t i = 0; i < changes.size(); ++i) {
    out += i > 0 ? "," : "";
    out += kJsonLineEnd;
    out += ChangeJson(changes[i]);
  }
  out += kJsonLineEnd;
  out += "]";
  out += kJsonLineEnd;
  return out;
}

std::string ChangesCsv(const std::vector<TKeyChange> &changes) {
  std::string out;
  AppendCsvLine(out, {"Time", "Subkey / Value", "Action", "Registry Location", "View", "Type",
                      "Old data", "New data"});
  for (const TKeyChange &change : changes) {
    const TMonitorEventText text = DescribeChange(change);
    AppendCsvLine(out, {IsoLocalTime(change.time), text.shown, text.action, text.location,
                        text.view, text.type, text.oldData, text.newData});
  }
  return out;
}

TUndoFileResult UndoFileForChanges(const std::vector<TKeyChange> &changes) {
  TUndoFileResult result;
  std::set<TValueId> seen;
  // Keys in the order their first value change was listed; a key whose
  // values were all left out is not written (importing it would only
  // create it again).
  std::vector<TRegFileKey> keys;
  std::map<std::pair<std::uint32_t, std::string>, std::size_t> keyIndex;
  for (const TKeyChange &change : changes) {
    if (!IsValueEvent(change.type)) {
      ++result.subkeyChanges;
      continue;
    }
    // Only the first listed change of a value counts: its state before it
    // is the state the file puts back.
    if (!seen.insert(ValueIdOf(change)).second)
      continue;
    TRegFileValue value;
    value.Name = change.name;
    std::string reason;
    if (!RegFileCanCarry(change.where.viewPath, change.name, reason)) {
      ++result.valuesUnwritable;
      continue;
    }
    if (change.type == keCreateValue) {
      value.Delete = true;
    } else if (change.before && change.before->dataKept) {
      value.Type = change.before->type;
      value.Data = change.before->data;
    } else {
      ++result.valuesLeftOut;
      continue;
    }
    const auto keyId = std::make_pair(change.where.root, qp::UpperAscii(change.where.viewPath));
    auto [it, added] = keyIndex.emplace(keyId, keys.size());
    if (added) {
      TRegFileKey key;
      key.Root = change.where.root;
      key.Path = change.where.viewPath;
      keys.push_back(std::move(key));
    }
    keys[it->second].Values.push_back(std::move(value));
    ++result.valuesIncluded;
  }
  result.file.Keys = std::move(keys);
  result.file.Unicode = !FitsRegedit4(result.file);
  return result;
}

} // namespace quenlo::service
