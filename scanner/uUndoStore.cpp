// The backup store of TRegScanner: days, entries, ages, purging and restore.
#include <algorithm>

#include "paths/uPaths.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "registry/uRegExport.h"
#include "scanner/uRegScanner.h"

namespace quenlo {

namespace {

qp::IFileSystem &Files() {
  return qp::Platform().Files();
}

constexpr std::uint32_t kIndexRetryWaitMilliseconds = 50;

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

void TRegScanner::BackupDays(std::vector<std::string> &list) const {
  list.clear();
  qp::FindData found;
  auto search = Files().FindFirst(undoFolder_ + "*.*", found);
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
  // An index that cannot be read shows no entries (the lines stay empty).
  qp::IgnoreResult(ReadTextLines(undoFolder_ + day + "\\" + std::string(UndoIndexTitle), lines));
  for (const std::string &line : lines) {
    std::string entry;
    if (IndexLineEntry(line, entry))
      list.push_back(std::move(entry));
  }
  SortUniqueNoCase(list);
}

std::int64_t TRegScanner::DayIndexAge(const std::string &day) const {
  qp::FindData found;
  auto search = Files().FindFirst(undoFolder_ + day + "\\" + std::string(UndoIndexTitle), found);
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
    // Only a name of the form the repair writes is used as a file name: any
    // other text could point outside the day folder. The line stays.
    const std::string name = lines[i].substr(0, lines[i].find('='));
    if (!IsUndoBackupName(name)) {
      ++summary.refused;
      continue;
    }
    const std::string base = folder + "\\" + name;
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
    const bool anyFile = failed || !imported.empty();
    if (!anyFile) {
      // Nothing to play back: the line goes, as before, but the entry is
      // reported as missing rather than restored.
      ++summary.missing;
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
    } else if (failed) {
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
    qp::IgnoreResult(Files().DeleteFile(file));
  if (lines.empty())
    qp::IgnoreResult(Files().RemoveDirectory(folder)); // only succeeds when empty
  return summary;
}

void TRegScanner::PurgeBackupDays(bool deleteAfterWeek) {
  std::vector<std::string> days;
  BackupDays(days);
  const std::uint64_t now = UndoNow().fileTime;
  for (const std::string &day : days) {
    std::int64_t age = DayIndexAge(day);
    if (age == -1) {
      // A look-up can fail for a moment (a scan or a virus checker holding
      // the folder): only an index that stays unreadable gives up the day.
      qp::Platform().System().Sleep(kIndexRetryWaitMilliseconds);
      age = DayIndexAge(day);
    }
    if (age == -1) {
      qp::IgnoreResult(DeleteDay(day));
    } else if (deleteAfterWeek && now > static_cast<std::uint64_t>(age) + 7 * FileTimeTicksPerDay) {
      qp::IgnoreResult(DeleteDay(day));
    }
  }
}

} // namespace quenlo
