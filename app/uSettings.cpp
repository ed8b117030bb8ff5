#include "app/uSettings.h"

#include <limits>

#include "app/uEnvironment.h"
#include "app/uIgnoreLists.h"
#include "paths/uPaths.h"
#include "platform/PathText.h"
#include "platform/Platform.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "scanner/uCategories.h"

namespace quenlo {

const std::array<std::string_view, CleanItemCount> CleanItemKeys = {"StartMenuOrderHistory",
                                                                    "NetworkDriveHistory",
                                                                    "UserAssistHistory",
                                                                    "SearchAssistantHistory",
                                                                    "RunMenuHistory",
                                                                    "RecentDocuments",
                                                                    "WindowsClipboard",
                                                                    "OpenSaveHistory",
                                                                    "LastVisitedHistory",
                                                                    "TrayIconHistory",
                                                                    "TempFiles",
                                                                    "IISLogFiles",
                                                                    "HotFixes",
                                                                    "IECache",
                                                                    "IECookies",
                                                                    "IEVisitedURLHistory",
                                                                    "IETypedURLs",
                                                                    "IEAutoComplete",
                                                                    "IEFavoritesMenuOrderHistory",
                                                                    "FFCache",
                                                                    "FFCookies",
                                                                    "FFDownloadHistory",
                                                                    "FFInputHistory",
                                                                    "FFVisitedURLHistory",
                                                                    "FFFormHistory",
                                                                    "GCHistory",
                                                                    "GCCache",
                                                                    "GCCookies",
                                                                    "GCDownloads",
                                                                    "GCFormInfo",
                                                                    "GCPassword",
                                                                    "OBHistory",
                                                                    "OBCache",
                                                                    "OBCookies",
                                                                    "OBTypedURLs",
                                                                    "OBSession",
                                                                    "OBPassword",
                                                                    "ASHistory",
                                                                    "ASCache",
                                                                    "ASCookies",
                                                                    "ASFormInfo",
                                                                    "ASSession",
                                                                    "ASPassword"};

namespace {

constexpr std::array<bool, CleanItemCount> kCleanDefaults = {
    1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 0, 0, 1, 0, 1, 1, 0, 1, 1, 0, 1,
    1, 1, 0, 1, 1, 0, 1, 1, 0, 1, 1, 0, 1, 1, 0, 1, 1, 0, 1, 1, 0};

enum class TFieldKind { Bool, Int, Str, Short };

// Calls visit(section, key, field, default) for every key of "scan",
// "settings" and "clean" in record order. Field is bool&, int32& or
// std::string& (short strings are passed with TFieldKind::Short).
template <class Settings, class Visitor> void VisitFields(Settings &s, Visitor &&visit) {
  visit(SectionScan, "FirstTimeScan", s.FirstTimeScan, true);
  visit(SectionScan, "CleanAfterScan", s.CleanAfterScan, false);
  visit(SectionScan, "CleanSafeAfterScan", s.CleanSafeAfterScan, false);
  for (std::size_t i = 0; i < ScanCategoryCount; ++i)
    visit(SectionScan, CategorySettingsKey(static_cast<int>(i)), s.ScanCategories[i], true);
  visit(SectionSettings, "window", s.window, TFieldKind::Str);
  visit(SectionSettings, "window_l", s.window_l, TFieldKind::Str);
  visit(SectionSettings, "autorun", s.autorun, TFieldKind::Str);
  visit(SectionSettings, "update", s.update, TFieldKind::Str);
  visit(SectionSettings, "BackupBeforeScan", s.BackupBeforeScan, true);
  visit(SectionSettings, "AutoAction", s.AutoAction, std::int32_t{1});
  visit(SectionSettings, "AutoFreq", s.AutoFreq, std::int32_t{0});
  visit(SectionSettings, "DoNotShowNoticeOnDelayedStart", s.DoNotShowNoticeOnDelayedStart, false);
  visit(SectionSettings, "UpdateFreq", s.UpdateFreq, std::int32_t{1});
  visit(SectionSettings, "MonitorPrompt", s.MonitorPrompt, std::int32_t{300});
  visit(SectionSettings, "DeleteAfterWeek", s.DeleteAfterWeek, false);
  visit(SectionSettings, "healthstatus", s.healthstatus, TFieldKind::Str);
  visit(SectionSettings, "last_optimize", s.last_optimize, TFieldKind::Short);
  visit(SectionSettings, "last_organize", s.last_organize, TFieldKind::Short);
  visit(SectionSettings, "last_backup", s.last_backup, TFieldKind::Short);
  visit(SectionSettings, "last_err", s.last_err, std::int32_t{0});
  visit(SectionSettings, "total_error_found", s.total_error_found, std::int32_t{0});
  visit(SectionSettings, "last_repair", s.last_repair, std::int32_t{0});
  visit(SectionSettings, "total_error_repaired", s.total_error_repaired, std::int32_t{0});
  visit(SectionSettings, "last_scan", s.last_scan, TFieldKind::Short);
  visit(SectionSettings, "FullBackupOnlyOnceWeek", s.FullBackupOnlyOnceWeek, true);
  for (std::size_t i = 0; i < CleanItemCount; ++i)
    visit(SectionClean, CleanItemKeys[i], s.Clean.AtFilePosition(i), kCleanDefaults[i]);
  visit(SectionClean, "DeleteDownloadedFiles", s.DeleteDownloadedFiles, false);
}

// The position of a "clean" key in CleanItemKeys.
std::optional<std::size_t> CleanKeyPosition(std::string_view key) {
  for (std::size_t i = 0; i < CleanItemCount; ++i)
    if (CleanItemKeys[i] == key)
      return i;
  return std::nullopt;
}

// The first 12 characters, never cutting a UTF-8 sequence in two.
std::string ShortString(std::string_view text) {
  std::size_t chars = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (chars == ShortStringLength)
        break;
      ++chars;
    }
    ++i;
  }
  return std::string(text.substr(0, i));
}

struct TDefaultVisitor {
  void operator()(std::string_view, std::string_view, bool &field, bool def) const { field = def; }
  void operator()(std::string_view, std::string_view, std::int32_t &field, std::int32_t def) const {
    field = def;
  }
  void operator()(std::string_view, std::string_view, std::string &field, TFieldKind) const {
    field.clear();
  }
};

struct TReadVisitor {
  const TIniFile &ini;
  void operator()(std::string_view section, std::string_view key, bool &field, bool def) const {
    field = ini.ReadBool(section, key, def);
  }
  void operator()(std::string_view section, std::string_view key, std::int32_t &field,
                  std::int32_t def) const {
    field = ini.ReadInteger(section, key, def);
  }
  void operator()(std::string_view section, std::string_view key, std::string &field,
                  TFieldKind kind) const {
    field = ini.ReadString(section, key, "");
    if (kind == TFieldKind::Short)
      field = ShortString(field);
  }
};

struct TWriteVisitor {
  TIniFile &ini;
  void operator()(std::string_view section, std::string_view key, const bool &field, bool) const {
    ini.WriteBool(section, key, field);
  }
  void operator()(std::string_view section, std::string_view key, const std::int32_t &field,
                  std::int32_t) const {
    ini.WriteInteger(section, key, field);
  }
  void operator()(std::string_view section, std::string_view key, const std::string &field,
                  TFieldKind) const {
    ini.WriteString(section, key, field);
  }
};

// Finds one field by section and key and gives its text.
struct TTextVisitor {
  std::string_view section;
  std::string_view key;
  std::optional<std::string> text;
  bool Is(std::string_view s, std::string_view k) const {
    return qp::EqualsNoCase(s, section) && qp::EqualsNoCase(k, key);
  }
  void operator()(std::string_view s, std::string_view k, const bool &field, bool) {
    if (Is(s, k))
      text = field ? "1" : "0";
  }
  void operator()(std::string_view s, std::string_view k, const std::int32_t &field, std::int32_t) {
    if (Is(s, k))
      text = std::to_string(field);
  }
  void operator()(std::string_view s, std::string_view k, const std::string &field, TFieldKind) {
    if (Is(s, k))
      text = field;
  }
};

std::int32_t SaturatingAdd(std::int32_t a, std::int32_t b) {
  std::int64_t sum = static_cast<std::int64_t>(a) + b;
  if (sum > std::numeric_limits<std::int32_t>::max())
    return std::numeric_limits<std::int32_t>::max();
  if (sum < std::numeric_limits<std::int32_t>::min())
    return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(sum);
}

void SetError(std::string *errorText, std::string text) {
  if (errorText != nullptr)
    *errorText = std::move(text);
}

// The file as it is now, the base of every save. A file that exists but
// cannot be read is never overwritten.
bool ReadBaseFile(TIniFile &ini, std::string *errorText) {
  std::string source = SettingsSourceFile();
  if (source.empty()) {
    ini.SetText("");
    return true;
  }
  std::string error;
  if (!ini.LoadFile(source, error)) {
    SetError(errorText, "Cannot read the settings file \"" + source + "\": " + error);
    return false;
  }
  return true;
}

bool WriteSettingsFile(const TIniFile &ini, std::string *errorText) {
  const std::string target = SettingsFileName();
  std::string error;
  if (ini.SaveFile(target, error))
    return true;
  SetError(errorText, "Cannot save the settings file \"" + target + "\": " + error);
  return false;
}

} // namespace

std::optional<bool> TCleanSwitches::Get(std::string_view key) const {
  const std::optional<std::size_t> position = CleanKeyPosition(key);
  if (!position)
    return std::nullopt;
  return on_[*position];
}

bool TCleanSwitches::Set(std::string_view key, bool on) {
  const std::optional<std::size_t> position = CleanKeyPosition(key);
  if (!position)
    return false;
  on_[*position] = on;
  return true;
}

tProgramSettings::tProgramSettings() {
  SetDefaults();
}

void tProgramSettings::SetDefaults() {
  VisitFields(*this, TDefaultVisitor{});
  MonitoredKeys = DefaultMonitoredKeys();
  SkippedKeys = DefaultSkippedKeyEntries();
}

tProgramSettings &Settings() {
  static tProgramSettings settings;
  return settings;
}

const std::vector<std::string> &DefaultMonitoredKeys() {
  static const std::vector<std::string> keys = {
      "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell "
      "Folders",
      "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell "
      "Folders",
      "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Fonts",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\Help",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\HTML Help",
      "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
      "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
      "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run-",
      "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
      "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce-",
      "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx",
      "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices",
      "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce",
      "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Shared Tools\\MSConfig\\startupreg",
      "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
      "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run-",
      "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
      "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce-",
      "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx",
      "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices",
      "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools\\MSConfig\\startupreg",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders",
      "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\VirtualDeviceDrivers",
      "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VxD",
      "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts",
      "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache"};
  return keys;
}

std::vector<std::string> DefaultSkippedKeyEntries() {
  std::vector<std::string> entries;
  for (const std::string &key : DefaultSkippedKeys())
    entries.push_back(key + "=1");
  return entries;
}

void ReadSettingsFromIni(tProgramSettings &settings, const TIniFile &ini) {
  VisitFields(settings, TReadVisitor{ini});

  settings.SkippedKeys.clear();
  for (const auto &[key, value] : ini.SectionPairs(SectionSkippedKeys))
    if (!value.empty())
      settings.SkippedKeys.push_back(key + "=" + value);
  if (ini.SectionKeys(SectionSkippedKeys).empty())
    settings.SkippedKeys = DefaultSkippedKeyEntries();

  if (ini.SectionExists(SectionMonitoredKeys)) {
    settings.MonitoredKeys = ini.SectionKeys(SectionMonitoredKeys);
    if (settings.MonitoredKeys.size() > MaxMonitoredKeys)
      settings.MonitoredKeys.resize(MaxMonitoredKeys);
  } else {
    settings.MonitoredKeys = DefaultMonitoredKeys();
  }
}

void WriteSettingsToIni(const tProgramSettings &settings, TIniFile &ini) {
  VisitFields(settings, TWriteVisitor{ini});

  std::vector<std::pair<std::string, std::string>> pairs;
  for (const std::string &entry : settings.SkippedKeys) {
    std::size_t eq = entry.rfind('=');
    if (eq == std::string::npos)
      pairs.emplace_back(entry, "");
    else
      pairs.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
  }
  ini.ReplaceSection(SectionSkippedKeys, pairs);

  pairs.clear();
  for (const std::string &key : settings.MonitoredKeys)
    pairs.emplace_back(key, "");
  ini.ReplaceSection(SectionMonitoredKeys, pairs);
}

std::string SettingsFileName() {
  return SettingsPath(SettingsFileTitle);
}

std::string SettingsSourceFile() {
  std::string own = SettingsFileName();
  if (IsExistingFile(own))
    return own;
  const std::string parent = qp::FolderOf(SettingsFolder);
  std::string found;
  for (const char *older : {"LintarySoftware", "Corvel"}) {
    std::string candidate = parent + "\\" + older + "\\" + std::string(SettingsFileTitle);
    if (IsExistingFile(candidate))
      found = candidate; // the later one wins when both exist
  }
  return found;
}

bool LoadSettings(std::string *errorText) {
  TIniFile ini;
  std::string source = SettingsSourceFile();
  bool ok = true;
  std::string error;
  if (!source.empty() && !ini.LoadFile(source, error)) {
    SetError(errorText, "Cannot read the settings file \"" + source + "\": " + error);
    ok = false;
  }
  ReadSettingsFromIni(Settings(), ini);
  return ok;
}

bool SaveSettings(std::string *errorText) {
  // A monitored key is stored as a key name of its own; one the file would
  // give back changed ("=" in it, blanks around it) would watch another key.
  for (const std::string &key : Settings().MonitoredKeys) {
    std::string reason;
    if (!IniKeyRoundTrips(key, reason)) {
      SetError(errorText, "The monitored key \"" + key + "\" cannot be saved: " + reason);
      return false;
    }
  }
  TIniFile ini;
  if (!ReadBaseFile(ini, errorText))
    return false;
  WriteSettingsToIni(Settings(), ini);
  return WriteSettingsFile(ini, errorText);
}

bool GetSettingText(std::string_view section, std::string_view key, std::string &value,
                    std::string *errorText) {
  TIniFile ini;
  if (!ReadBaseFile(ini, errorText))
    return false;
  tProgramSettings settings;
  ReadSettingsFromIni(settings, ini);
  TTextVisitor finder{section, key, std::nullopt};
  VisitFields(std::as_const(settings), finder);
  if (finder.text) {
    value = *finder.text;
    return true;
  }
  if (auto stored = ini.ReadValue(section, key)) {
    value = *stored;
    return true;
  }
  SetError(errorText,
           "No key \"" + std::string(key) + "\" in section \"" + std::string(section) + "\"");
  return false;
}

bool SetSettingText(std::string_view section, std::string_view key, std::string_view value,
                    std::string *errorText) {
  TIniFile ini;
  if (!ReadBaseFile(ini, errorText))
    return false;
  ini.WriteString(section, key, value);
  if (!WriteSettingsFile(ini, errorText))
    return false;
  qp::IgnoreResult(LoadSettings());
  return true;
}

bool RecordScanComplete(std::int32_t problems, std::string_view healthStatus,
                        std::string *errorText) {
  // The save refuses to replace a file that cannot be read, so a failed
  // load is reported by the save below.
  qp::IgnoreResult(LoadSettings());
  tProgramSettings &s = Settings();
  s.last_scan = TimeStamp(AppHost().Now());
  s.last_repair = 0;
  s.last_err = problems;
  s.total_error_found = SaturatingAdd(s.total_error_found, problems);
  s.healthstatus = std::string(healthStatus);
  return SaveSettings(errorText);
}

bool RecordRepair(std::int32_t repaired, std::string *errorText) {
  qp::IgnoreResult(LoadSettings());
  tProgramSettings &s = Settings();
  s.last_scan = TimeStamp(AppHost().Now());
  s.last_repair = repaired;
  s.total_error_repaired = SaturatingAdd(s.total_error_repaired, repaired);
  return SaveSettings(errorText);
}

} // namespace quenlo
