// The backup store of TRegScanner: days, entries, ages, purging and restore.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "paths/uPaths.h"
#include "platform/Utf.h"
#include "registry/uRegExport.h"
#include "scanner/uRegScanner.h"

namespace quenlo {

namespace {

qp::IFileSystem &Files() {
  return qp::Platform().Files();
}

constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ull;

bool LessNoCase(const std::string &a, const std::string &b) {
  return qp::UpperAscii(a) < qp::UpperAscii(b);
}

void SortUniqueNoCase(std::vector<std::string> &list) {
  std::stable_sort(list.begin(), list.end(), LessNoCase);
  list.erase(std::unique(
                 list.begin(), list.end(),
                 [](const std::string &a, const std::string &b) { return qp::EqualsNoCase(a, b); }),
             list.end());
}

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
  time.year = local.tm_year + 1900;
  time.month = local.tm_mon + 1;
  time.day = local.tm_mday;
  time.hour = local.tm_hour;
  time.minute = local.tm_min;
  time.second = local.tm_sec;
  time.millisecond = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000);
  time.fileTime = kUnixEpochAsFileTime +
                  static_cast<std::uint64_t>(
                      std::chrono::duration_cast<std::chrono::microseconds>(sinceEpoch).count()) *
                      10;
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

bool IndexLineEntry(std::string_view line, std::string &entry) {
  const auto eq = line.find('=');
  if (eq == std::string_view::npos)
    return false;
  entry = std::string(line.substr(eq + 1));
  return true;
}

bool ReadTextLines(std::string_view path, std::vector<std::string> &lines, bool *missing) {
  lines.clear();
  if (missing != nullptr)
    *missing = false;
  std::string text;
  const long st = Files().ReadFile(path, text);
  if (st == wc::ErrorFileNotFound || st == wc::ErrorPathNotFound) {
    if (missing != nullptr)
      *missing = true;
    return true;
  }
  if (st != wc::ErrorSuccess)
    return false;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return true;
}

bool WriteTextLines(std::string_view path, const std::vector<std::string> &lines,
                    std::string &errorText) {
  std::string text;
  for (const std::string &line : lines)
    text += line + "\r\n";
  const std::string temp = std::string(path) + ".tmp";
  long st = Files().WriteFile(temp, text);
  if (st == wc::ErrorSuccess)
    st = Files().MoveFile(temp, path, 1);
  if (st == wc::ErrorSuccess)
    return true;
  Files().DeleteFile(temp);
  errorText = "WriteFile: " + SysErrorMessage(st);
  return false;
}

void TRegScanner::BackupDays(std::vector<std::string> &list) const {
  list.clear();
  qp::FindData found;
  long error = 0;
  auto search = Files().FindFirst(undoFolder_ + "*.*", found, error);
  if (!search)
    return;
  do {
    if ((found.attributes & wc::FileAttributeDirectory) == 0 || found.name == "." ||
        found.name == "..")
      continue;
    if (IsExistingFile(undoFolder_ + found.name + "\\" + std::string(UndoIndexTitle)))
      list.push_back(found.name);
  } while (search->Next(found));
  std::sort(list.begin(), list.end(), LessNoCase);
}

void TRegScanner::DayEntries(const std::string &day, std::vector<std::string> &list) const {
  list.clear();
  std::vector<std::string> lines;
  ReadTextLines(undoFolder_ + day + "\\" + std::string(UndoIndexTitle), lines);
  for (const std::string &line : lines) {
    std::string entry;
    if (IndexLineEntry(line, entry))
      list.push_back(std::move(entry));
  }
  SortUniqueNoCase(list);
}

std::int64_t TRegScanner::DayIndexAge(const std::string &day) const {
  qp::FindData found;
  long error = 0;
  auto search =
      Files().FindFirst(undoFolder_ + day + "\\" + std::string(UndoIndexTitle), found, error);
  if (!search)
    return -1;
  return static_cast<std::int64_t>(found.lastWriteTime);
}

bool TRegScanner::DeleteDay(const std::string &day) {
  return Files().RecycleFile(undoFolder_ + day) == 0;
}

TRestoreSummary TRegScanner::RestoreEntries(const std::string &day,
                                            const std::vector<std::string> *selection) {
  TRestoreSummary summary;
  const std::string folder = undoFolder_ + day;
  const std::string indexFile = folder + "\\" + std::string(UndoIndexTitle);
  std::vector<std::string> lines;
  bool missing = false;
  // An index that cannot be read is left alone: rewriting it would lose lines.
  if (!ReadTextLines(indexFile, lines, &missing) || missing)
    return summary;
  const bool have32BitEditor = !Regedit32Path().empty();
  std::vector<std::string> played; // backup files imported successfully

  // Newest repair first, so that later changes are undone before earlier ones.
  for (std::size_t i = lines.size(); i-- > 0;) {
    std::string entry;
    if (!IndexLineEntry(lines[i], entry)) {
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    if (selection != nullptr &&
        std::none_of(selection->begin(), selection->end(),
                     [&](const std::string &s) { return qp::EqualsNoCase(s, entry); }))
      continue;
    const std::string base = folder + "\\" + lines[i].substr(0, lines[i].find('='));
    bool failed = false;
    std::vector<std::string> imported;
    if (IsExistingFile(base + ".REG")) {
      const std::string file = base + ".REG";
      bool ok = true;
      if (have32BitEditor)
        ok = ImportRegFile(false, file);
      ok = ImportRegFile(true, file) && ok;
      if (ok)
        imported.push_back(file);
      else
        failed = true;
    } else {
      for (const auto &[ext, use64] : {std::pair{".REG32", false}, std::pair{".REG64", true}}) {
        const std::string file = base + ext;
        if (!IsExistingFile(file))
          continue;
        if (ImportRegFile(use64, file))
          imported.push_back(file);
        else
          failed = true;
      }
    }
    if (failed) {
      // The line stays with every file it names, so the entry can be
      // restored again later.
      ++summary.failed;
    } else {
      ++summary.restored;
      played.insert(played.end(), imported.begin(), imported.end());
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }

  // The index is updated first; only then are the played files deleted, so
  // that no line ever names a file that is gone.
  std::string errorText;
  bool indexUpdated = false;
  if (!lines.empty())
    indexUpdated = WriteTextLines(indexFile, lines, errorText);
  else
    indexUpdated = Files().DeleteFile(indexFile) == wc::ErrorSuccess;
  if (!indexUpdated)
    return summary;
  for (const std::string &file : played)
    Files().DeleteFile(file);
  if (lines.empty())
    Files().RemoveDirectory(folder); // only succeeds when empty
  return summary;
}

void TRegScanner::PurgeBackupDays(bool deleteAfterWeek) {
  std::vector<std::string> days;
  BackupDays(days);
  const std::uint64_t now = UndoNow().fileTime;
  for (const std::string &day : days) {
    const std::int64_t age = DayIndexAge(day);
    if (age == -1) {
      DeleteDay(day);
    } else if (deleteAfterWeek && now > static_cast<std::uint64_t>(age) + 7 * FileTimeTicksPerDay) {
      DeleteDay(day);
    }
  }
}

} // namespace quenlo
