#include "optimizer/uSysSettings.h"

#include <algorithm>

#include "platform/NumberText.h"
#include "platform/Utf.h"

namespace quenlo {

namespace {

constexpr const char *kDesktopKey = "Control Panel\\Desktop";

const std::array<TSysSettingDef, kSysSettingCount> kDefs{{
    {ssMenuShowDelay, "MenuShowDelay", "Menu show delay", wc::HkeyCurrentUser, kDesktopKey,
     "MenuShowDelay", sfDecimal, 1, 4000},
    {ssWaitToKillApp, "WaitToKillAppTimeout", "Wait to kill application timeout",
     wc::HkeyCurrentUser, kDesktopKey, "WaitToKillAppTimeout", sfDecimal, 1000, 60},
    {ssWaitToKillService, "WaitToKillServiceTimeout", "Wait to kill service timeout",
     wc::HkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Control", "WaitToKillServiceTimeout",
     sfDecimal, 1000, 60},
    {ssBootOptimization, "BootOptimization", "Boot optimization", wc::HkeyLocalMachine,
     "SOFTWARE\\Microsoft\\Dfrg\\BootOptimizeFunction", "Enable", sfYesNo, 1, 1},
    {ssAutoEndTasks, "AutoEndTasks", "Autoclose non-responsive task", wc::HkeyCurrentUser,
     kDesktopKey, "AutoEndTasks", sfOneZero, 1, 1},
}};

// The default a slider reads when its value gives no number, in stored
// units (milliseconds).
int StoredDefault(TSysSettingId id) {
  return id == ssMenuShowDelay ? 400 : 20000;
}

// Registry text up to its first NUL.
std::string TextOf(const TRawValue &raw) {
  std::string text = qp::RawUtf16ToUtf8(raw.data);
  if (const auto nul = text.find('\0'); nul != std::string::npos)
    text.resize(nul);
  return text;
}

bool IsText(const std::optional<TRawValue> &raw) {
  return raw && raw->type == wc::RegSz;
}

// The system's own reading of a stored number: blanks may lead, but
// nothing may follow the digits.
std::optional<std::int32_t> StoredNumber(std::string_view text) {
  if (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    return std::nullopt;
  return qp::ParseInt32(text);
}

std::string StoredText(TSysSettingId id, int value) {
  const TSysSettingDef &def = SysSettingDef(id);
  switch (def.form) {
  case sfYesNo:
    return value != 0 ? "Y" : "N";
  case sfOneZero:
    return value != 0 ? "1" : "0";
  case sfDecimal:
    break;
  }
  return std::to_string(value * def.scale);
}

std::int64_t StoredNumber(TSysSettingId id, int value) {
  const TSysSettingDef &def = SysSettingDef(id);
  return def.form == sfDecimal ? std::int64_t{value} * def.scale : (value != 0 ? 1 : 0);
}

void WriteRaw(const TUndoFolder &undo, TSysSettingId id, const std::optional<TRawValue> &raw,
              TSysSettingsWrite &result) {
  if (std::string error; WriteValueUndoably(undo, SysSettingLocation(id), raw, error))
    result.written.push_back(id);
  else
    result.failed.emplace_back(id, error);
}

} // namespace

const std::array<TSysSettingDef, kSysSettingCount> &SysSettingDefs() {
  return kDefs;
}

const TSysSettingDef &SysSettingDef(TSysSettingId id) {
  return kDefs.at(id);
}

std::optional<TSysSettingId> SysSettingByName(std::string_view name) {
  for (const TSysSettingDef &def : kDefs)
    if (qp::EqualsNoCase(def.name, name))
      return def.id;
  return std::nullopt;
}

TValueLocation SysSettingLocation(TSysSettingId id) {
  const TSysSettingDef &def = SysSettingDef(id);
  return {.root = def.root, .view = rv64, .keyPath = def.keyPath, .name = def.valueName};
}

int TSysSettingsValues::Get(TSysSettingId id) const {
  switch (id) {
  case ssMenuShowDelay:
    return menuShowDelayMs;
  case ssWaitToKillApp:
    return waitToKillAppSec;
  case ssWaitToKillService:
    return waitToKillServiceSec;
  case ssBootOptimization:
    return bootOptimization ? 1 : 0;
  case ssAutoEndTasks:
    return autoEndTasks ? 1 : 0;
  }
  return 0;
}

void TSysSettingsValues::Set(TSysSettingId id, int value) {
  value = std::clamp(value, 0, SysSettingDef(id).maximum);
  switch (id) {
  case ssMenuShowDelay:
    menuShowDelayMs = value;
    break;
  case ssWaitToKillApp:
    waitToKillAppSec = value;
    break;
  case ssWaitToKillService:
    waitToKillServiceSec = value;
    break;
  case ssBootOptimization:
    bootOptimization = value != 0;
    break;
  case ssAutoEndTasks:
    autoEndTasks = value != 0;
    break;
  }
}

TSysSettingsValues DefaultSysSettings(int windowsVersion) {
  const bool vista = windowsVersion == 8;
  TSysSettingsValues values;
  values.bootOptimization = !vista;
  values.autoEndTasks = vista;
  return values;
}

bool SysSettingInRange(TSysSettingId id, int value) {
  return value >= 0 && value <= SysSettingDef(id).maximum;
}

int SysSettingFromRaw(TSysSettingId id, const std::optional<TRawValue> &raw) {
  const TSysSettingDef &def = SysSettingDef(id);
  switch (def.form) {
  case sfYesNo:
    return IsText(raw) && qp::UpperAscii(TextOf(*raw)) == "Y" ? 1 : 0;
  case sfOneZero: {
    const auto number = IsText(raw) ? StoredNumber(TextOf(*raw)) : std::nullopt;
    return number && (static_cast<std::uint32_t>(*number) & 0xFFFFu) != 0 ? 1 : 0;
  }
  case sfDecimal:
    break;
  }
  const auto number = IsText(raw) ? StoredNumber(TextOf(*raw)) : std::nullopt;
  const std::int64_t stored = std::clamp<std::int64_t>(number.value_or(StoredDefault(id)), 0,
                                                       std::int64_t{def.maximum} * def.scale);
  return static_cast<int>(stored / def.scale);
}

TRawValue SysSettingToRaw(TSysSettingId id, int value, const std::optional<TRawValue> &current) {
  const TSysSettingDef &def = SysSettingDef(id);
  value = std::clamp(value, 0, def.maximum);
  if (current && current->type == wc::RegDword && def.form != sfYesNo)
    return {wc::RegDword, DwordData(static_cast<std::uint32_t>(StoredNumber(id, value)))};
  const std::uint32_t type =
      current && current->type == wc::RegExpandSz ? wc::RegExpandSz : wc::RegSz;
  return {type, StringData(StoredText(id, value))};
}

TSysSettingsLoad LoadSysSettings() {
  TSysSettingsLoad load;
  for (const TSysSettingDef &def : kDefs) {
    std::string error;
    std::optional<TRawValue> raw;
    if (!ReadRawValue(SysSettingLocation(def.id), raw, error)) {
      load.failed.emplace_back(def.id, error);
      raw.reset();
    }
    load.values.Set(def.id, SysSettingFromRaw(def.id, raw));
    load.raw.at(def.id) = std::move(raw);
  }
  return load;
}

TSysSettingsWrite ApplySysSettings(const TUndoFolder &undo, const TSysSettingsLoad &loaded,
                                   const TSysSettingsValues &values) {
  TSysSettingsWrite result;
  for (const TSysSettingDef &def : kDefs) {
    const int value = values.Get(def.id);
    if (value == loaded.values.Get(def.id))
      continue;
    WriteRaw(undo, def.id, SysSettingToRaw(def.id, value, loaded.raw.at(def.id)), result);
  }
  return result;
}

bool WriteSysSetting(const TUndoFolder &undo, TSysSettingId id, int value, std::string &errorText) {
  const TValueLocation where = SysSettingLocation(id);
  std::optional<TRawValue> current;
  if (!ReadRawValue(where, current, errorText))
    return false;
  return WriteValueUndoably(undo, where, SysSettingToRaw(id, value, current), errorText);
}

TSysSettingsWrite RestoreSysSettings(const TUndoFolder &undo, const TSysSettingsRaw &previous,
                                     const std::vector<TSysSettingId> &which) {
  TSysSettingsWrite result;
  for (const TSysSettingDef &def : kDefs) {
    if (!which.empty() && std::find(which.begin(), which.end(), def.id) == which.end())
      continue;
    WriteRaw(undo, def.id, previous.at(def.id), result);
  }
  return result;
}

} // namespace quenlo
