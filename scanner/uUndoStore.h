// The undo folder's vocabulary: the clock that names backups, day and backup
// names, index lines, and the text-file helpers the repair and restore
// operations of TRegScanner share. The operations themselves are members of
// TRegScanner (uRepair.cpp, uUndoStore.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "paths/uPaths.h"

namespace quenlo {

// A moment as the undo folder names it: local date and time with
// milliseconds, and the same moment as a FILETIME (UTC) for file ages.
struct TUndoTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  std::uint64_t fileTime = 0;
};
using TUndoClock = std::function<TUndoTime()>;

// The system clock.
TUndoTime SystemUndoTime();

// "yyyy-mm-dd" and "hhnnsszzz".
std::string UndoDayName(const TUndoTime &time);
std::string UndoBackupName(const TUndoTime &time);

inline constexpr std::string_view UndoIndexTitle = "index.txt";
inline constexpr std::uint64_t FileTimeTicksPerDay = 864000000000ull;

// The text after the first "=", or nothing when the line has none.
bool IndexLineEntry(std::string_view line, std::string &entry);

// Lines of a text file (CR LF or LF). A missing file gives no lines and
// true (with *missing set); false when the file exists but cannot be read.
bool ReadTextLines(std::string_view path, std::vector<std::string> &lines, bool *missing = nullptr);
// Replaces a text file with the lines (CR LF after each) through a
// temporary file, so that a failure never leaves a truncated file.
bool WriteTextLines(std::string_view path, const std::vector<std::string> &lines,
                    std::string &errorText);

// The result of a restore: index lines played back, and those left for a
// later try because an import failed.
struct TRestoreSummary {
  int restored = 0;
  int failed = 0;
};

} // namespace quenlo
