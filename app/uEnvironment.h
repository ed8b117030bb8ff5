// Environment facts computed once at start, the date stamps, the schedule of
// automatic scans and update checks, the automatic start, the first-run
// set-up and the user's ignore file "ignore.txt".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/uAppHost.h"

namespace quenlo {

// Windows version values: 1 95, 2 98, 3 ME, 4 NT 4 and older, 5 2000, 6 XP,
// 7 Server 2003, 8 Vista, 9 7, 10 8, 11 8.1, 12 10 and later, 0 unknown.
inline constexpr int WindowsVista = 8;

extern int WindowsVersion;
extern bool IsAdmin;
extern std::string WindowsDir;     // with trailing backslash
extern std::string SystemDir;      // with trailing backslash
extern std::string ProgramVersion; // file version text of the executable
extern std::string ProgramDir;     // without trailing backslash
extern std::string SettingsFolder; // without trailing backslash

inline constexpr std::string_view IgnoreFileTitle = "ignore.txt";
inline constexpr std::string_view ScheduleFileTitle = "schedule.xml";
inline constexpr std::string_view UndoFolderTitle = "Undo";
inline constexpr std::string_view ScheduledTaskName = "Quenlo PC Status";
inline constexpr std::string_view ShortcutTitle = "quenlo.lnk";
// Separates a key path from a value name in one ignore entry.
inline constexpr std::string_view IgnoreValueSeparator = "\\\\:";

// Version value for platform id, major and minor version.
int WindowsVersionFrom(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor);

// Computes the environment facts, creates the settings folder and loads the
// settings. Runs once before any window exists (tests may run it again).
void InitEnvironment();
// Computes the environment facts and creates the settings folder only.
void InitEnvironmentFacts();

// SettingsFolder + "\" + title.
std::string SettingsPath(std::string_view title);

// The text with & < > " ' written as character references, so that it can
// stand in XML or HTML text and attribute values.
std::string MarkupEscape(std::string_view text);

// --- date stamps
// Days since 1899-12-30 with the time of day as fraction; 0 for no time.
using TDateTime = double;

std::string DateStamp(const TLocalTime &time); // "yyyymmdd"
std::string TimeStamp(const TLocalTime &time); // "yyyymmddhhnn"
TLocalTime AddDays(const TLocalTime &time, int days);
TDateTime EncodeDateTime(const TLocalTime &time);
// "yyyymmdd" or "yyyymmddhhnn" to a time value; 0 when empty or invalid.
TDateTime ParseStamp(std::string_view text);
// For display: "" for an empty or invalid stamp, else the date (and time)
// in ShortDateFormat (and ShortTimeFormat).
std::string FormatStamp(std::string_view text, bool withTime);
// Display formats: "yyyy", "mm", "dd", "hh", "nn" are replaced.
extern std::string ShortDateFormat;
extern std::string ShortTimeFormat;

// --- schedule. kind 0: automatic scan, kind 1: update check.
void ScheduleNext(int kind, int days);
bool IsDue(int kind);
// True when the automatic scan should run now; then the next one is
// scheduled according to AutoFreq.
bool AutoScanDue();

// --- automatic start
// The command lines the program runs for the scheduled task.
std::string RemoveTaskCommandLine();
std::string CreateTaskCommandLine(std::string_view xmlFile);
// The task definition with its placeholders replaced ("schedule" by the
// argument, "quenlo.exe" by the program path).
std::string ScheduleTaskXml(std::string_view argument, std::string_view exePath);
[[nodiscard]] bool RemoveScheduledTask();
[[nodiscard]] bool InstallScheduledTask(std::string_view argument);
// The user's Startup folder with trailing backslash (cached).
std::string StartupFolder();
// action 0 removes the automatic start, 1 installs it for "autoscan",
// 2 for "monitor". False when that failed.
[[nodiscard]] bool ApplyAutoStart(int action);
// True on the first run of the program for this user; arms the automatic
// scan and sets the registry marker.
[[nodiscard]] bool FirstRunSetup();

// --- the user's ignore file
// Adding and removing an entry: false (with the reason) when the file could
// not be read or written; the file is then as it was.
[[nodiscard]] bool AddIgnoreEntry(std::string_view entry, std::string *errorText = nullptr);
[[nodiscard]] bool RemoveIgnoreEntry(std::string_view entry, std::string *errorText = nullptr);
// The entries of "ignore.txt" in the program's one-string form.
std::vector<std::string> IgnoreFileEntries();
// The same; false (with the reason) when the file exists but cannot be read.
[[nodiscard]] bool ReadIgnoreFileEntries(std::vector<std::string> &entries, std::string &errorText);
// The scanner's ignore list: "SkippedKeys", the permanent keys, then the
// entries of "ignore.txt". False (with the reason, the list holding the
// first two) when "ignore.txt" exists but cannot be read: a scan on that
// list would report, and a repair remove, what the user chose to keep.
[[nodiscard]] bool BuildScanIgnoreList(std::vector<std::string> &list,
                                       std::string *errorText = nullptr);

} // namespace quenlo
