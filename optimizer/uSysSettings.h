// The five system settings the optimizer page shows: the menu show delay,
// the two shutdown timeouts, boot optimisation and the automatic end of
// hung programs. Each is one registry value; this unit knows where it lives,
// how it is stored and read, its range and default, and writes it through
// the undo protocol (uValueWrite.h), so that every change has its backup in
// the undo folder before the value changes.
//
// Values are held in the page's units: the menu delay in milliseconds
// (0-4000), the two timeouts in seconds (0-60), the two switches as 0 or 1.
// The registry holds them as REG_SZ text: milliseconds, seconds x 1000, "Y"
// or "N", "1" or "0".
//
// Writing keeps each value's type: a value that is a REG_DWORD (or
// REG_EXPAND_SZ) when it is written stays one, holding the same number (or
// text); a missing value, or one of a type these settings have no form in,
// is written as REG_SZ. Reading follows the rule Windows' own control panel
// applied: only REG_SZ text counts, so a REG_DWORD a user or a policy made
// shows the default and is rewritten only when the user changes the
// setting (Apply writes only what changed).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "optimizer/uValueWrite.h"

namespace quenlo {

enum TSysSettingId : std::uint8_t {
  ssMenuShowDelay = 0,
  ssWaitToKillApp = 1,
  ssWaitToKillService = 2,
  ssBootOptimization = 3,
  ssAutoEndTasks = 4,
};
inline constexpr std::size_t kSysSettingCount = 5;

// How a setting's page value becomes registry text.
enum TSysSettingForm : std::uint8_t {
  sfDecimal = 0, // the value times the scale, in decimal
  sfYesNo = 1,   // "Y" / "N"; read as on when the upper-case text is "Y"
  sfOneZero = 2, // "1" / "0"; read as on when the number's low 16 bits are not 0
};

struct TSysSettingDef {
  TSysSettingId id;
  const char *name;    // the command line's name: "MenuShowDelay"
  const char *caption; // what the page calls it: "Menu show delay"
  std::uint32_t root;
  const char *keyPath;
  const char *valueName;
  TSysSettingForm form;
  int scale;   // stored = value x scale (sfDecimal)
  int maximum; // in page units; the minimum is 0
};

// The five definitions, indexed by TSysSettingId.
const std::array<TSysSettingDef, kSysSettingCount> &SysSettingDefs();
const TSysSettingDef &SysSettingDef(TSysSettingId id);
// The setting of a command-line name (no case); nullopt for another name.
std::optional<TSysSettingId> SysSettingByName(std::string_view name);
// Where the value lives (64-bit view).
TValueLocation SysSettingLocation(TSysSettingId id);

// The page's values, in page units.
struct TSysSettingsValues {
  int menuShowDelayMs = 400;
  int waitToKillAppSec = 20;
  int waitToKillServiceSec = 20;
  bool bootOptimization = true;
  bool autoEndTasks = false;

  int Get(TSysSettingId id) const;
  // Clamped into the setting's range.
  void Set(TSysSettingId id, int value);
  friend bool operator==(const TSysSettingsValues &, const TSysSettingsValues &) = default;
};

// What Reset puts on the page: 400 ms, 20 s, 20 s; boot optimisation on and
// autoclose off, the other way round on Windows Vista (WindowsVersion 8).
TSysSettingsValues DefaultSysSettings(int windowsVersion);
// True when the value is within the setting's range (0..maximum).
bool SysSettingInRange(TSysSettingId id, int value);

// The registry's raw values as read, nullopt where a value is missing.
using TSysSettingsRaw = std::array<std::optional<TRawValue>, kSysSettingCount>;

struct TSysSettingsLoad {
  TSysSettingsValues values; // what the page shows
  TSysSettingsRaw raw;       // what the registry held
  // Values that could not be read (they show their default, a switch off),
  // with the reason; every other value was read on its own.
  std::vector<std::pair<TSysSettingId, std::string>> failed;
};

// One raw value in page units by the reading rules: REG_SZ text as an
// integer (blanks before, a sign, decimal or "$"/"0x" hex),
// anything else - missing, another type, no number - the setting's
// default; a negative number is 0, one above the maximum the maximum; the
// timeouts' milliseconds are divided by 1000. A switch is off unless its
// REG_SZ text says on.
int SysSettingFromRaw(TSysSettingId id, const std::optional<TRawValue> &raw);
// The raw value that stores a page value, keeping the type of `current`
// as described above.
TRawValue SysSettingToRaw(TSysSettingId id, int value, const std::optional<TRawValue> &current);

TSysSettingsLoad LoadSysSettings();

struct TSysSettingsWrite {
  std::vector<TSysSettingId> written;
  std::vector<std::pair<TSysSettingId, std::string>> failed; // with the failing step
  [[nodiscard]] bool Complete() const { return failed.empty(); }
};

// Writes the values that differ from `loaded.values`, each through the undo
// protocol; every value is tried even after one failed.
TSysSettingsWrite ApplySysSettings(const TUndoFolder &undo, const TSysSettingsLoad &loaded,
                                   const TSysSettingsValues &values);
// Makes the registry hold `value` for one setting, whatever the page would
// show for what it holds now (the command line's set): the type of the
// value there is kept; a value that already holds it is left alone.
[[nodiscard]] bool WriteSysSetting(const TUndoFolder &undo, TSysSettingId id, int value,
                                   std::string &errorText);
// Puts the raw values back as they were (a missing one is deleted again),
// through the undo protocol; only the settings in `which` (all when empty).
TSysSettingsWrite RestoreSysSettings(const TUndoFolder &undo, const TSysSettingsRaw &previous,
                                     const std::vector<TSysSettingId> &which = {});

} // namespace quenlo
