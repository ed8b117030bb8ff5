#include "optimizer/uHiveFolder.h"

#include <charconv>
#include <cstdio>
#include <mutex>
#include <optional>

#include "platform/PathText.h"
#include "platform/Platform.h"
#include "platform/Utf.h"
#include "registry/uRegAccess.h"

namespace quenlo {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kMachineKey = "SOFTWARE\\Microsoft\\Cryptography";
constexpr std::string_view kMachineValue = "MachineGuid";
// Longest index a list line may carry: far more hives than any system
// loads, and short enough that the number cannot overflow.
constexpr std::size_t kMaxIndexDigits = 6;
constexpr char kFirstPrintable = 0x20;
constexpr std::uint64_t kFileTimeTicksPerMs = 10000;
// Wall-clock time the tick count may lag behind before the difference
// counts as a restart: clock corrections of a running system are seconds,
// a restart costs at least the uptime the marker recorded.
constexpr std::uint64_t kClockAllowanceMs = 2 * 60 * 1000;

constexpr std::string_view kInfoMachine = "machine";
constexpr std::string_view kInfoComputer = "computer";
constexpr std::string_view kInfoWindows = "windows";
constexpr std::string_view kInfoDate = "date";
constexpr std::string_view kInfoFile = "file";
constexpr std::string_view kInfoVolatile = "volatile";
constexpr std::string_view kMarkerTime = "time";
constexpr std::string_view kMarkerTick = "tick";
constexpr std::string_view kMarkerWhen = "replaced";

std::mutex &ClockMutex() {
  static std::mutex mu;
  return mu;
}

TUndoClock &ClockSlot() {
  static TUndoClock clock;
  return clock;
}

// Digits only, within 64 bits.
std::optional<std::uint64_t> ParseDecimal(std::string_view text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size())
    return std::nullopt;
  return value;
}

bool SameText(std::string_view a, std::string_view b) {
  return qp::UpperAscii(a) == qp::UpperAscii(b);
}

std::string DateText(const TUndoTime &now) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day,
                now.hour, now.minute, now.second);
  return text;
}

// "key=value" lines into (key, value) pairs; lines without "=" are kept
// with an empty key so that a reader can refuse them.
std::vector<std::pair<std::string, std::string>> KeyValueLines(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> lines;
  for (const THiveListLine &line : SplitHiveList(text)) {
    const std::size_t eq = line.text.find('=');
    if (eq == std::string::npos)
      lines.emplace_back(std::string(), line.text);
    else
      lines.emplace_back(line.text.substr(0, eq), line.text.substr(eq + 1));
  }
  return lines;
}

} // namespace

std::string HiveFolderPath(std::string_view folder, std::string_view title) {
  return qp::WithTrailingBackslash(folder) + std::string(title);
}

std::string ReadHiveFolderText(const std::string &path, std::string &text) {
  text.clear();
  const std::string title = path.substr(path.rfind('\\') + 1);
  if (!FileExistsNoRedirect(path))
    return title + " is missing";
  if (FileSizeNoRedirect(path) > kHiveListMaxBytes)
    return title + " is larger than " + std::to_string(kHiveListMaxBytes) + " bytes";
  if (const long st = qp::Platform().Files().ReadFile(path, text))
    return title + ": ReadFile: " + SysErrorMessage(st);
  // The size may have changed between the probe and the read.
  if (text.size() > kHiveListMaxBytes) {
    text.clear();
    return title + " is larger than " + std::to_string(kHiveListMaxBytes) + " bytes";
  }
  return {};
}

std::vector<THiveListLine> SplitHiveList(std::string_view text) {
  if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom)
    text.remove_prefix(kUtf8Bom.size());
  std::vector<THiveListLine> lines;
  int number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++number;
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos)
      continue;
    lines.push_back(THiveListLine{number, std::string(line)});
  }
  return lines;
}

bool ParseHiveListLine(std::string_view line, THiveListEntry &entry, std::string *why) {
  const auto refuse = [&](std::string reason) {
    if (why != nullptr)
      *why = std::move(reason);
    return false;
  };
  entry = THiveListEntry{};
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos)
    return refuse("no \":\" after the file name");
  const std::string_view index = line.substr(0, colon);
  if (index.empty() || index.size() > kMaxIndexDigits || !ParseDecimal(index) ||
      (index.size() > 1 && index.front() == '0'))
    return refuse("the file name \"" + std::string(index) + "\" is not a hive index");
  const std::string_view name = line.substr(colon + 1);
  const std::size_t slash = name.find('\\');
  if (slash == std::string_view::npos)
    return refuse("no key after the root name");
  const std::string_view rootName = name.substr(0, slash);
  std::uint32_t root = 0;
  if (SameText(rootName, RootKeyLongName(wc::HkeyLocalMachine)))
    root = wc::HkeyLocalMachine;
  else if (SameText(rootName, RootKeyLongName(wc::HkeyUsers)))
    root = wc::HkeyUsers;
  else
    return refuse("the root \"" + std::string(rootName) + "\" holds no hives");
  const std::string_view key = name.substr(slash + 1);
  if (key.empty() || key == "." || key == "..")
    return refuse("no hive key after the root");
  for (const char c : key)
    if (c == '\\' || c == '/' || c == ':' || static_cast<unsigned char>(c) < kFirstPrintable)
      return refuse("the key \"" + std::string(key) + "\" is not one key below the root");
  entry.fileName = std::string(index);
  entry.root = root;
  entry.keyPath = std::string(key);
  return true;
}

std::string MachineIdentity() {
  TRegistryAccess reg(wc::KeyRead);
  reg.SetView(rv64);
  reg.SetRootKey(wc::HkeyLocalMachine);
  if (!reg.OpenKey(kMachineKey, false))
    return {};
  return reg.ReadString(kMachineValue);
}

THiveFolderLists MakeHiveFolderLists(const std::vector<THiveOutcome> &hives,
                                     const TVolatileKeys &volatileKeys, const TUndoTime &now) {
  THiveFolderLists lists;
  auto &sys = qp::Platform().System();
  std::string computer;
  if (!sys.GetEnvironmentVariable("COMPUTERNAME", computer))
    computer.clear();
  qp::VersionInfo version;
  const std::string windows = sys.GetVersion(version) ? std::to_string(version.major) + "." +
                                                            std::to_string(version.minor) + "." +
                                                            std::to_string(version.build)
                                                      : std::string();
  lists.backupInfo = std::string(kInfoMachine) + "=" + MachineIdentity() + std::string(kLineEnd) +
                     std::string(kInfoComputer) + "=" + computer + std::string(kLineEnd) +
                     std::string(kInfoWindows) + "=" + windows + std::string(kLineEnd) +
                     std::string(kInfoDate) + "=" + DateText(now) + std::string(kLineEnd);
  for (const THiveOutcome &hive : hives) {
    if (!hive.done)
      continue;
    lists.hiveList += hive.fileName + ":" + RootKeyLongName(hive.root) + "\\" + hive.keyPath +
                      std::string(kLineEnd);
    lists.backupInfo += std::string(kInfoFile) + "=" + hive.fileName + ":" +
                        std::to_string(hive.size) + std::string(kLineEnd);
    if (const auto keys = volatileKeys.find(hive.fileName); keys != volatileKeys.end())
      for (const std::string &name : keys->second)
        // A name with a line break cannot be written; the check then
        // refuses the file, which is the safe side.
        if (name.find_first_of("\r\n") == std::string::npos)
          lists.backupInfo +=
              std::string(kInfoVolatile) + "=" + hive.fileName + ":" + name + std::string(kLineEnd);
  }
  return lists;
}

bool ParseBackupInfo(std::string_view text, THiveBackupInfo &info, std::string &why) {
  info = THiveBackupInfo{};
  for (const auto &[key, value] : KeyValueLines(text)) {
    if (key == kInfoMachine) {
      info.machine = value;
    } else if (key == kInfoDate) {
      info.date = value;
    } else if (key == kInfoFile) {
      const std::size_t colon = value.find(':');
      const std::optional<std::uint64_t> size =
          colon == std::string::npos ? std::nullopt : ParseDecimal(value.substr(colon + 1));
      const std::string name = value.substr(0, colon);
      if (!size || !ParseDecimal(name)) {
        why = "the size line \"" + value + "\" is damaged";
        return false;
      }
      if (!info.sizes.emplace(name, *size).second) {
        why = "file " + name + " is named twice";
        return false;
      }
    } else if (key == kInfoVolatile) {
      const std::size_t colon = value.find(':');
      if (colon == std::string::npos || !ParseDecimal(value.substr(0, colon))) {
        why = "the line \"" + value + "\" is damaged";
        return false;
      }
      info.volatileKeys[value.substr(0, colon)].insert(qp::UpperAscii(value.substr(colon + 1)));
    } else if (key.empty()) {
      why = "the line \"" + value + "\" is damaged";
      return false;
    }
  }
  if (info.machine.empty()) {
    why = "no machine is named";
    return false;
  }
  return true;
}

std::string MakeReplacementMarker(const TUndoTime &now, std::uint64_t tickCount) {
  return std::string(kMarkerWhen) + "=" + DateText(now) + std::string(kLineEnd) +
         std::string(kMarkerTime) + "=" + std::to_string(now.fileTime / kFileTimeTicksPerMs) +
         std::string(kLineEnd) + std::string(kMarkerTick) + "=" + std::to_string(tickCount) +
         std::string(kLineEnd);
}

bool ReplacementStillPending(std::string_view marker, const TUndoTime &now,
                             std::uint64_t tickCount) {
  std::optional<std::uint64_t> recordedMs;
  std::optional<std::uint64_t> recordedTick;
  for (const auto &[key, value] : KeyValueLines(marker)) {
    if (key == kMarkerTime)
      recordedMs = ParseDecimal(value);
    else if (key == kMarkerTick)
      recordedTick = ParseDecimal(value);
  }
  if (!recordedMs || !recordedTick)
    return true;
  if (tickCount < *recordedTick)
    return false;
  const std::uint64_t nowMs = now.fileTime / kFileTimeTicksPerMs;
  // A clock set back says nothing about a restart.
  if (nowMs < *recordedMs)
    return true;
  const std::uint64_t wallElapsed = nowMs - *recordedMs;
  const std::uint64_t tickElapsed = tickCount - *recordedTick;
  return wallElapsed <= tickElapsed + kClockAllowanceMs;
}

void SetHiveClock(TUndoClock clock) {
  const std::lock_guard lock(ClockMutex());
  ClockSlot() = std::move(clock);
}

TUndoClock HiveClock() {
  const std::lock_guard lock(ClockMutex());
  if (ClockSlot())
    return ClockSlot();
  return SystemUndoTime;
}

} // namespace quenlo
