#include "app/uEnvironment.h"

#include <cstdio>
#include <optional>

#include "app/uIgnoreLists.h"
#include "app/uIniFile.h"
#include "app/uSettings.h"
#include "app/uVersionInfo.h"
#include "paths/uPaths.h"
#include "platform/Platform.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "registry/uRegAccess.h"

namespace quenlo {

int WindowsVersion = 0;
bool IsAdmin = false;
std::string WindowsDir;
std::string SystemDir;
std::string ProgramVersion;
std::string ProgramDir;
std::string SettingsFolder;
std::string ShortDateFormat = "yyyy-mm-dd";
std::string ShortTimeFormat = "hh:nn";

namespace {

std::optional<std::string> g_startupFolder;

std::string WithBackslash(std::string path) {
  if (!path.empty() && path.back() != '\\')
    path += '\\';
  return path;
}

std::string WithoutBackslash(std::string path) {
  while (!path.empty() && path.back() == '\\')
    path.pop_back();
  return path;
}

bool IsDigits(std::string_view text) {
  if (text.empty())
    return false;
  for (char c : text)
    if (c < '0' || c > '9')
      return false;
  return true;
}

int DaysInMonth(int year, int month) {
  static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

bool IsValid(const TLocalTime &t) {
  return t.year >= 1 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
         t.day <= DaysInMonth(t.year, t.month) && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
         t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

// Days since 1970-01-01 of a civil date, and back.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int &year, int &month, int &day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

constexpr std::int64_t kDelphiEpochOffset = 25569; // 1899-12-30 .. 1970-01-01

std::optional<int> Number(std::string_view text) {
  if (!IsDigits(text) || text.size() > 9)
    return std::nullopt;
  int n = 0;
  for (char c : text)
    n = n * 10 + (c - '0');
  return n;
}

// The stamp's date (and time, when present); nullopt when invalid.
std::optional<TLocalTime> StampTime(std::string_view text) {
  TLocalTime t;
  if (text.size() < 8 || !IsDigits(text.substr(0, 8)))
    return std::nullopt;
  t.year = *Number(text.substr(0, 4));
  t.month = *Number(text.substr(4, 2));
  t.day = *Number(text.substr(6, 2));
  if (text.size() >= 12) {
    if (!IsDigits(text.substr(8, 4)))
      return std::nullopt;
    t.hour = *Number(text.substr(8, 2));
    t.minute = *Number(text.substr(10, 2));
  }
  if (!IsValid(t))
    return std::nullopt;
  return t;
}

// A due date: "y.m.d" (split at dots) or "yyyymmdd".
std::optional<TLocalTime> DueDate(std::string_view text) {
  TLocalTime t;
  if (text.find('.') != std::string_view::npos) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
      std::size_t dot = text.find('.', start);
      parts.push_back(text.substr(start, dot == std::string_view::npos ? dot : dot - start));
      if (dot == std::string_view::npos)
        break;
      start = dot + 1;
    }
    if (parts.size() < 3)
      return std::nullopt;
    auto y = Number(parts[0]), m = Number(parts[1]), d = Number(parts[2]);
    if (!y || !m || !d)
      return std::nullopt;
    t.year = *y;
    t.month = *m;
    t.day = *d;
  } else {
    if (text.size() < 8)
      return std::nullopt;
    auto y = Number(text.substr(0, 4)), m = Number(text.substr(4, 2)),
         d = Number(text.substr(6, 2));
    if (!y || !m || !d)
      return std::nullopt;
    t.year = *y;
    t.month = *m;
    t.day = *d;
  }
  if (!IsValid(t))
    return std::nullopt;
  return t;
}

std::string Pad(int value, int width) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*d", width, value);
  return text;
}

std::string ApplyFormat(std::string format, const TLocalTime &t) {
  auto replace = [&](std::string_view token, const std::string &value) {
    for (std::size_t at = format.find(token); at != std::string::npos;
         at = format.find(token, at + value.size()))
      format.replace(at, token.size(), value);
  };
  replace("yyyy", Pad(t.year, 4));
  replace("mm", Pad(t.month, 2));
  replace("dd", Pad(t.day, 2));
  replace("hh", Pad(t.hour, 2));
  replace("nn", Pad(t.minute, 2));
  return format;
}

void ReplaceAll(std::string &text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// The task definition; "schedule" and "quenlo.exe" are placeholders.
constexpr std::string_view kTaskTemplate =
    R"(<?xml version="1.0" encoding="UTF-16"?>
<Task version="1.1" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">
  <RegistrationInfo>
    <Author>Brantel, Inc</Author>
  </RegistrationInfo>
  <Triggers>
    <LogonTrigger>
      <Repetition>
        <Interval>PT4H</Interval>
        <Duration>PT5H</Duration>
        <StopAtDurationEnd>false</StopAtDurationEnd>
      </Repetition>
      <Enabled>true</Enabled>
    </LogonTrigger>
  </Triggers>
  <Principals>
    <Principal id="Author">
      <LogonType>InteractiveToken</LogonType>
      <RunLevel>HighestAvailable</RunLevel>
    </Principal>
  </Principals>
  <Settings>
    <DisallowStartIfOnBatteries>true</DisallowStartIfOnBatteries>
    <StopIfGoingOnBatteries>true</StopIfGoingOnBatteries>
    <IdleSettings>
      <StopOnIdleEnd>true</StopOnIdleEnd>
      <RestartOnIdle>false</RestartOnIdle>
    </IdleSettings>
    <Enabled>true</Enabled>
    <Hidden>true</Hidden>
    <RunOnlyIfIdle>false</RunOnlyIfIdle>
    <WakeToRun>false</WakeToRun>
    <ExecutionTimeLimit>P3D</ExecutionTimeLimit>
    <Priority>7</Priority>
  </Settings>
  <Actions Context="Author">
    <Exec>
      <Command>quenlo.exe</Command>
      <Arguments>schedule</Arguments>
    </Exec>
  </Actions>
</Task>
)";

// Runs a task command hidden: up to three attempts, a second apart, until
// the program could be started.
std::optional<qp::ProcessResult> RunTaskCommand(const std::string &commandLine) {
  auto &platform = qp::Platform();
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (attempt > 0)
      platform.System().Sleep(1000);
    qp::ProcessResult result = platform.Processes().RunHiddenAndWait(commandLine);
    if (result.started)
      return result;
  }
  return std::nullopt;
}

bool InstallShortcut(std::string_view argument) {
  return AppHost().CreateShellLink(StartupFolder() + std::string(ShortcutTitle),
                                   AppHost().ExePath(), argument, "Brantel Quenlo");
}

bool RemoveShortcut() {
  const std::string link = StartupFolder() + std::string(ShortcutTitle);
  if (IsExistingFile(link))
    qp::IgnoreResult(qp::Platform().Files().DeleteFile(link));
  return !IsExistingFile(link);
}

constexpr std::string_view kRunMarkerKey = "Software\\Brantel\\Quenlo";
constexpr std::string_view kRunMarkerValue = "ProgramWasRun";

std::uint32_t ReadRunMarker() {
  TRegistry reg(wc::KeyRead);
  reg.SetRootKey(wc::HkeyCurrentUser);
  if (!reg.OpenKey(kRunMarkerKey, false))
    return 0;
  std::uint32_t type = 0;
  qp::Bytes data;
  if (reg.ReadRaw(kRunMarkerValue, type, data) != wc::ErrorSuccess)
    return 0;
  if (type != wc::RegDword && type != wc::RegBinary)
    return 0;
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < data.size() && i < 4; ++i)
    value |= static_cast<std::uint32_t>(data[i]) << (8 * i);
  return value;
}

void WriteRunMarker() {
  TRegistry reg(wc::KeyWrite);
  reg.SetRootKey(wc::HkeyCurrentUser);
  if (!reg.OpenKey(kRunMarkerKey, false)) {
    reg.SetAccess(wc::KeySetValue | wc::KeyQueryValue);
    if (!reg.OpenKey(kRunMarkerKey, true))
      return;
  }
  qp::IgnoreResult(reg.WriteRaw(kRunMarkerValue, wc::RegDword, qp::Bytes{1, 0, 0, 0}));
}

} // namespace

int WindowsVersionFrom(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor) {
  if (platformId == 1 && major == 4) {
    if (minor == 0)
      return 1;
    if (minor == 10)
      return 2;
    if (minor == 90)
      return 3;
    return 0;
  }
  if (platformId != 2)
    return 0;
  if (major <= 4)
    return 4;
  if (major == 5)
    return minor == 0 ? 5 : minor == 1 ? 6 : minor == 2 ? 7 : 0;
  if (major == 6)
    return minor == 0 ? 8 : minor == 1 ? 9 : minor == 2 ? 10 : minor == 3 ? 11 : 12;
  return 12; // Windows 10 and later
}

std::string SettingsPath(std::string_view title) {
  return SettingsFolder + "\\" + std::string(title);
}

void InitEnvironmentFacts() {
  auto &system = qp::Platform().System();
  qp::VersionInfo version;
  const bool haveVersion = system.GetVersion(version);
  WindowsVersion =
      haveVersion ? WindowsVersionFrom(version.platformId, version.major, version.minor) : 0;
  WindowsDir = WithBackslash(system.GetWindowsDirectory());
  SystemDir = WithBackslash(system.GetSystemDirectory());
  ProgramVersion = FileVersionFromResource(AppHost().VersionResource());
  const std::string exe = AppHost().ExePath();
  const std::size_t slash = exe.find_last_of('\\');
  ProgramDir = slash == std::string::npos ? std::string() : exe.substr(0, slash);
  IsAdmin = (haveVersion && version.platformId == 1) || system.IsAdmin();

  std::string appData;
  if (system.GetSpecialFolder(wc::CsidlLocalAppData, false, appData) &&
      !WithoutBackslash(appData).empty()) {
    SettingsFolder = WithoutBackslash(appData) + "\\Brantel";
    qp::IgnoreResult(
        qp::Platform().Files().CreateDirectory(SettingsFolder)); // failure is harmless here
  } else {
    SettingsFolder = ProgramDir;
  }
  g_startupFolder.reset();
}

void InitEnvironment() {
  InitEnvironmentFacts();
  // A file that cannot be read leaves the defaults in effect; no save ever
  // overwrites such a file.
  qp::IgnoreResult(LoadSettings());
}

// --- date stamps

std::string DateStamp(const TLocalTime &t) {
  return Pad(t.year, 4) + Pad(t.month, 2) + Pad(t.day, 2);
}

std::string TimeStamp(const TLocalTime &t) {
  return DateStamp(t) + Pad(t.hour, 2) + Pad(t.minute, 2);
}

TLocalTime AddDays(const TLocalTime &t, int days) {
  TLocalTime out = t;
  CivilFromDays(
      DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) + days,
      out.year, out.month, out.day);
  return out;
}

TDateTime EncodeDateTime(const TLocalTime &t) {
  const std::int64_t days =
      DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) +
      kDelphiEpochOffset;
  return static_cast<double>(days) + (t.hour * 3600 + t.minute * 60 + t.second) / 86400.0;
}

TDateTime ParseStamp(std::string_view text) {
  auto t = StampTime(text);
  return t ? EncodeDateTime(*t) : 0.0;
}

std::string FormatStamp(std::string_view text, bool withTime) {
  auto t = StampTime(text);
  if (!t)
    return {};
  std::string shown = ApplyFormat(ShortDateFormat, *t);
  if (withTime)
    shown += " " + ApplyFormat(ShortTimeFormat, *t);
  return shown;
}

// --- schedule

namespace {

// Reloads the settings, stores the next date (today + days, or empty when
// days <= 0) and saves; autoFreq, when given, is stored with it.
void Schedule(int kind, int days, std::optional<std::int32_t> autoFreq) {
  qp::IgnoreResult(LoadSettings());
  const std::string date = days <= 0 ? std::string() : DateStamp(AddDays(AppHost().Now(), days));
  tProgramSettings &s = Settings();
  if (kind == 0) {
    s.autorun = date;
  } else {
    s.UpdateFreq = days;
    s.update = date;
  }
  if (autoFreq)
    s.AutoFreq = *autoFreq;
  qp::IgnoreResult(SaveSettings());
}

} // namespace

void ScheduleNext(int kind, int days) {
  Schedule(kind, days, std::nullopt);
}

bool IsDue(int kind) {
  const tProgramSettings &s = Settings();
  std::string date = kind == 0 ? s.autorun : s.update;
  if (kind != 0 && s.UpdateFreq == 0)
    date = "2099.12.31";
  if (date.empty())
    return true;
  auto due = DueDate(date);
  if (!due) // an unreadable date is never due
    return false;
  const TLocalTime now = AppHost().Now();
  return DaysFromCivil(now.year, static_cast<unsigned>(now.month),
                       static_cast<unsigned>(now.day)) >=
         DaysFromCivil(due->year, static_cast<unsigned>(due->month),
                       static_cast<unsigned>(due->day));
}

bool AutoScanDue() {
  const tProgramSettings &s = Settings();
  if (s.AutoAction != 1 || !IsDue(0))
    return false;
  static constexpr int kDays[] = {0, 7, 14, 30};
  const std::int32_t freq = s.AutoFreq < 0 || s.AutoFreq > 3 ? 0 : s.AutoFreq;
  // The reload inside would bring back an out-of-range frequency: the
  // clamped one is stored with the date.
  Schedule(0, kDays[freq], freq);
  return true;
}

// --- automatic start

// The task runs with the highest rights: the tool is named by its full path
// in the system folder, never looked up through the search path, where a
// planted "schtasks.exe" would be found first.
std::string SchtasksProgram() {
  return "\"" + SystemDir + "schtasks.exe\"";
}

std::string RemoveTaskCommandLine() {
  return SchtasksProgram() + " /delete /tn \"" + std::string(ScheduledTaskName) + "\" /f";
}

std::string CreateTaskCommandLine(std::string_view xmlFile) {
  return SchtasksProgram() + " /create /tn \"" + std::string(ScheduledTaskName) + "\" /xml \"" +
         std::string(xmlFile) + "\"";
}

std::string ScheduleTaskXml(std::string_view argument, std::string_view exePath) {
  std::string xml(kTaskTemplate);
  ReplaceAll(xml, "schedule", MarkupEscape(argument));
  ReplaceAll(xml, "quenlo.exe", MarkupEscape(exePath));
  return xml;
}

bool RemoveScheduledTask() {
  return RunTaskCommand(RemoveTaskCommandLine()).has_value();
}

bool InstallScheduledTask(std::string_view argument) {
  try {
    if (!RemoveScheduledTask())
      return false;
    auto &files = qp::Platform().Files();
    qp::IgnoreResult(files.CreateDirectory(SettingsFolder)); // may exist already
    const std::string xmlFile = SettingsPath(ScheduleFileTitle);
    qp::IgnoreResult(files.DeleteFile(xmlFile));
    // Task Scheduler reads the definition as UTF-16 with a byte-order mark.
    const qp::Bytes wide = qp::Utf8ToRawUtf16(ScheduleTaskXml(argument, AppHost().ExePath()));
    std::string content = "\xFF\xFE";
    content.append(wide.begin(), wide.end());
    if (files.WriteFile(xmlFile, content) != wc::ErrorSuccess)
      return false;
    auto result = RunTaskCommand(CreateTaskCommandLine(xmlFile));
    return result && result->exitCode == 0;
  } catch (...) {
    return false;
  }
}

std::string StartupFolder() {
  if (g_startupFolder)
    return *g_startupFolder;
  std::string folder;
  try {
    TNTRegistry reg;
    reg.SetRootKey(wc::HkeyCurrentUser);
    if (reg.OpenKey("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", false))
      folder = reg.ReadString("Startup");
  } catch (const ERegistryException &) {
    folder.clear();
  }
  if (folder.empty())
    folder = WindowsDir + "Startm~1\\Programs\\StartUp\\";
  g_startupFolder = WithBackslash(folder);
  return *g_startupFolder;
}

bool ApplyAutoStart(int action) {
  const std::string_view argument = action == 1 ? "autoscan" : action == 2 ? "monitor" : "";
  if (WindowsVersion < WindowsVista)
    return argument.empty() ? RemoveShortcut() : InstallShortcut(argument);
  return argument.empty() ? RemoveScheduledTask() : InstallScheduledTask(argument);
}

bool FirstRunSetup() {
  const bool firstRun = ReadRunMarker() != 1;
  if (!firstRun)
    return false;
  qp::IgnoreResult(LoadSettings());
  Settings().AutoAction = 1;
  Settings().AutoFreq = 0;
  qp::IgnoreResult(SaveSettings());
  try {
    if (WindowsVersion < WindowsVista)
      InstallShortcut("autoscan");
    else
      qp::IgnoreResult(InstallScheduledTask("autoscan"));
  } catch (...) {
    // the automatic start is only a convenience here
  }
  WriteRunMarker();
  return true;
}

// --- the user's ignore file

namespace {

// Splits "key\\:value" at the first separator.
bool SplitEntry(std::string_view entry, std::string &key, std::string &value) {
  std::size_t at = entry.find(IgnoreValueSeparator);
  if (at == std::string_view::npos)
    return false;
  key = std::string(entry.substr(0, at));
  value = std::string(entry.substr(at + IgnoreValueSeparator.size()));
  return true;
}

} // namespace

bool AddIgnoreEntry(std::string_view entry, std::string *errorText) {
  // An entry the file would give back changed would ignore something else,
  // or nothing: it is refused instead.
  std::string key, value, reason;
  const bool withValue = SplitEntry(entry, key, value);
  const bool storable = withValue ? IniSectionRoundTrips(key, reason) &&
                                        (value.empty() || IniKeyRoundTrips(value, reason))
                                  : IniSectionRoundTrips(entry, reason);
  if (!storable) {
    if (errorText != nullptr)
      *errorText = "The entry cannot be kept in " + std::string(IgnoreFileTitle) + ": " + reason;
    return false;
  }
  const std::string path = SettingsPath(IgnoreFileTitle);
  TIniFile ini;
  std::string error;
  if (!ini.LoadFile(path, error)) {
    if (errorText != nullptr)
      *errorText = error;
    return false; // never replace a file that could not be read
  }
  if (withValue) {
    if (value.empty())
      value = "(DEFAULT)";
    ini.WriteString(key, value, "");
  } else {
    // A section with keys ignores only those values; the whole key covers
    // them, so they give way to it instead of keeping the key half-ignored.
    if (ini.SectionExists(entry) && ini.SectionKeys(entry).empty())
      return true;
    ini.ReplaceSection(entry, {});
  }
  if (ini.SaveFile(path, error))
    return true;
  if (errorText != nullptr)
    *errorText = error;
  return false;
}

bool RemoveIgnoreEntry(std::string_view entry, std::string *errorText) {
  const std::string path = SettingsPath(IgnoreFileTitle);
  TIniFile ini;
  std::string error;
  if (!IsExistingFile(path))
    return true; // nothing is ignored
  if (!ini.LoadFile(path, error)) {
    if (errorText != nullptr)
      *errorText = error;
    return false;
  }
  std::string key, value;
  if (SplitEntry(entry, key, value)) {
    if (value.empty()) {
      for (const std::string &name : ini.SectionKeys(key))
        if (qp::EqualsNoCase(name, "(DEFAULT)"))
          ini.DeleteKey(key, name);
    } else {
      ini.DeleteKey(key, value);
    }
    if (ini.SectionKeys(key).empty())
      ini.EraseSection(key);
  } else {
    ini.EraseSection(entry);
  }
  if (ini.SaveFile(path, error))
    return true;
  if (errorText != nullptr)
    *errorText = error;
  return false;
}

bool ReadIgnoreFileEntries(std::vector<std::string> &entries, std::string &errorText) {
  entries.clear();
  const std::string path = SettingsPath(IgnoreFileTitle);
  if (!IsExistingFile(path))
    return true;
  TIniFile ini;
  if (!ini.LoadFile(path, errorText))
    return false;
  for (const std::string &section : ini.Sections()) {
    const std::vector<std::string> keys = ini.SectionKeys(section);
    if (keys.empty()) {
      entries.push_back(section);
      continue;
    }
    for (const std::string &key : keys)
      entries.push_back(section + std::string(IgnoreValueSeparator) +
                        (qp::EqualsNoCase(key, "(DEFAULT)") ? std::string() : key));
  }
  return true;
}

std::vector<std::string> IgnoreFileEntries() {
  std::vector<std::string> entries;
  std::string error;
  qp::IgnoreResult(ReadIgnoreFileEntries(entries, error)); // none when unreadable
  return entries;
}

bool BuildScanIgnoreList(std::vector<std::string> &list, std::string *errorText) {
  list = Settings().SkippedKeys;
  list.insert(list.end(), PermanentIgnoreKeys.begin(), PermanentIgnoreKeys.end());
  std::vector<std::string> own;
  std::string error;
  if (!ReadIgnoreFileEntries(own, error)) {
    if (errorText != nullptr)
      *errorText = SettingsPath(IgnoreFileTitle) + ": " + error;
    return false;
  }
  list.insert(list.end(), own.begin(), own.end());
  return true;
}

std::string MarkupEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    case '\'':
      out += "&#39;";
      break;
    default:
      out += c;
    }
  }
  return out;
}

} // namespace quenlo
