// The program's options: the process-wide record, the settings file
// "quenlo.ini" it is loaded from and saved to, and the helpers that change a
// few fields with a read-modify-write of the file.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/uIniFile.h"
#include "scanner/uCategories.h"

namespace quenlo {

inline constexpr std::size_t MaxMonitoredKeys = 64;
inline constexpr std::size_t ScanCategoryCount = static_cast<std::size_t>(CategoryCount);
inline constexpr std::size_t CleanItemCount = 43;
// Short string fields keep at most this many characters.
inline constexpr std::size_t ShortStringLength = 12;

inline constexpr std::string_view SettingsFileTitle = "quenlo.ini";
inline constexpr std::string_view SectionScan = "scan";
inline constexpr std::string_view SectionClean = "clean";
inline constexpr std::string_view SectionSettings = "settings";
inline constexpr std::string_view SectionSkippedKeys = "SkippedKeys";
inline constexpr std::string_view SectionMonitoredKeys = "MonitoredKeys";

// Key names of the "clean" switches in the order the settings file lists
// them. This is not the cleaner's category order (the run-menu history is
// the cleaner's category 3 but the file's key 4): a switch is always looked
// up by its key, through TCleanSwitches.
extern const std::array<std::string_view, CleanItemCount> CleanItemKeys;

// The "clean" switches, one per cleaner category. Reached by settings key
// only, so that no numbering can pick the wrong switch.
class TCleanSwitches {
public:
  // The switch stored under a key of CleanItemKeys; nullopt for any other.
  [[nodiscard]] std::optional<bool> Get(std::string_view key) const;
  // False, and nothing changed, for a key that names no switch.
  [[nodiscard]] bool Set(std::string_view key, bool on);
  // The switch at a position of CleanItemKeys: for reading and writing the
  // file, which lists them in that order.
  bool &AtFilePosition(std::size_t position) { return on_.at(position); }
  const bool &AtFilePosition(std::size_t position) const { return on_.at(position); }

private:
  std::array<bool, CleanItemCount> on_{};
};

struct tProgramSettings {
  tProgramSettings();
  // Every field and both lists back to their defaults.
  void SetDefaults();

  std::vector<std::string> MonitoredKeys; // key paths, long root names
  std::vector<std::string> SkippedKeys;   // "key=value" entries

  // "scan"
  bool FirstTimeScan = true;
  bool CleanAfterScan = false;
  bool CleanSafeAfterScan = false;
  // Category i of the scanner at switch i (keys: CategorySettingsKey).
  std::array<bool, ScanCategoryCount> ScanCategories{};

  // "settings"
  std::string window;
  std::string window_l;
  std::string autorun; // next automatic scan, "yyyymmdd"; empty: due now
  std::string update;  // next update check, "yyyymmdd"
  bool BackupBeforeScan = true;
  std::int32_t AutoAction = 1; // 0 disabled, 1 scan and repair, 2 monitor
  std::int32_t AutoFreq = 0;   // 0 daily, 1 weekly, 2 bi-weekly, 3 monthly
  bool DoNotShowNoticeOnDelayedStart = false;
  std::int32_t UpdateFreq = 1; // days; 0 never
  std::int32_t MonitorPrompt = 300;
  bool DeleteAfterWeek = false;
  std::string healthstatus;
  std::string last_optimize; // short strings: at most 12 characters
  std::string last_organize;
  std::string last_backup;
  std::int32_t last_err = 0;
  std::int32_t total_error_found = 0;
  std::int32_t last_repair = 0;
  std::int32_t total_error_repaired = 0;
  std::string last_scan; // "yyyymmddhhnn"
  bool FullBackupOnlyOnceWeek = true;

  // "clean"
  TCleanSwitches Clean;
  // The download history categories also delete the files the lists name.
  // Those are the user's own data, so this stays off unless asked for.
  bool DeleteDownloadedFiles = false;
};

// The process-wide record.
tProgramSettings &Settings();

// The 32 monitored keys used when the file has no "MonitoredKeys" section.
const std::vector<std::string> &DefaultMonitoredKeys();
// The default "SkippedKeys" entries ("key path=1").
std::vector<std::string> DefaultSkippedKeyEntries();

// Fills the record from INI text (missing or unreadable keys keep their
// defaults) and stores it back; both keep what the record does not know.
void ReadSettingsFromIni(tProgramSettings &settings, const TIniFile &ini);
void WriteSettingsToIni(const tProgramSettings &settings, TIniFile &ini);

// SettingsFolder + "\quenlo.ini": the file that saves write.
std::string SettingsFileName();
// The file loads read: "quenlo.ini", else the one of an older installation
// beside the settings folder, else "" (defaults).
std::string SettingsSourceFile();

// Loads the process-wide record. Defaults apply for everything that cannot
// be read; false (with the reason) when a file exists but cannot be read.
[[nodiscard]] bool LoadSettings(std::string *errorText = nullptr);
// Writes the process-wide record into the settings file, keeping every line
// of the file it does not know. The file is replaced as a whole: on failure
// the old file stays as it was and errorText says why.
[[nodiscard]] bool SaveSettings(std::string *errorText = nullptr);

// One key of the file as text. For the keys of the record the value in
// effect (default included); for other keys the stored text. False when the
// key is neither known nor stored.
[[nodiscard]] bool GetSettingText(std::string_view section, std::string_view key,
                                  std::string &value, std::string *errorText = nullptr);
// Read-modify-write of one key; the record is reloaded afterwards.
[[nodiscard]] bool SetSettingText(std::string_view section, std::string_view key,
                                  std::string_view value, std::string *errorText = nullptr);

// After a completed scan: last_scan := now, last_repair := 0, last_err :=
// problems, total_error_found += problems, healthstatus := statistics.
[[nodiscard]] bool RecordScanComplete(std::int32_t problems, std::string_view healthStatus,
                                      std::string *errorText = nullptr);
// After a repair run: last_scan := now, last_repair := repaired,
// total_error_repaired += repaired.
[[nodiscard]] bool RecordRepair(std::int32_t repaired, std::string *errorText = nullptr);

} // namespace quenlo
