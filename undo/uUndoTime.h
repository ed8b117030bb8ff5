// The moments that name undo backups: the clock, day folder names and
// backup names. A backup's name is the time of its change, so that a day's
// folder lists its changes in order and two changes never share a name.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

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

inline constexpr std::uint64_t FileTimeTicksPerDay = 864000000000ull;

} // namespace quenlo
