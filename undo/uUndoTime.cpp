#include "undo/uUndoTime.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace quenlo {

namespace {

constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ull;
constexpr std::uint64_t kFileTimeTicksPerMicrosecond = 10;
constexpr int kMillisecondsPerSecond = 1000;
constexpr int kTmYearBase = 1900;

} // namespace

TUndoTime SystemUndoTime() {
  const auto now = std::chrono::system_clock::now();
  const auto sinceEpoch = now.time_since_epoch();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  TUndoTime time;
  time.year = local.tm_year + kTmYearBase;
  time.month = local.tm_mon + 1;
  time.day = local.tm_mday;
  time.hour = local.tm_hour;
  time.minute = local.tm_min;
  time.second = local.tm_sec;
  time.millisecond =
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() %
                       kMillisecondsPerSecond);
  time.fileTime = kUnixEpochAsFileTime +
                  static_cast<std::uint64_t>(
                      std::chrono::duration_cast<std::chrono::microseconds>(sinceEpoch).count()) *
                      kFileTimeTicksPerMicrosecond;
  return time;
}

std::string UndoDayName(const TUndoTime &time) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", time.year, time.month, time.day);
  return buf;
}

std::string UndoBackupName(const TUndoTime &time) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d%02d%02d%03d", time.hour, time.minute, time.second,
                time.millisecond);
  return buf;
}

} // namespace quenlo
