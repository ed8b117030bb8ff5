// The backup store of TRegScanner: days, entries, ages, purging and restore.
#include <algorithm>
#include <initializer_list>

#include "paths/uPaths.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "registry/uRegExport.h"
#include "registry/uRegFile.h"
#include "scanner/uRegScanner.h"

namespace quenlo {

namespace {

qp::IFileSystem &Files() {
  return qp::Platform().Files();
}

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

namespace {

// The key a backup may touch: the entry's key and what is below it.
bool WithinEntry(const TRegFileKey &key, std::uint32_t root, std::string_view path) {
  if (key.Root != root)
    return false;
  const std::string k = qp::UpperAscii(key.Path);
  const std::string p = qp::UpperAscii(path);
  return k == p || (k.size() > p.size() && k.compare(0, p.size(), p) == 0 && k[p.size()] == '\\');
}

// A backup is played only when the program reads it itself and it does no
// more than a repair's backup can: it writes the entry's key and its
// subkeys, deletes no key, and deletes a value only as the backup of a
// created value does (one key, one value, its deletion). Anything else is a
// file the repair did not write. The editor is never asked to read what
// the program cannot: it might read it differently.
bool PlayableBackup(const std::string &file, const std::string &entry, TRegFile &parsed,
                    std::string &reason) {
  if (!ReadRegFile(file, parsed, reason))
    return false;
  const auto slash = entry.find('\\');
  const std::uint32_t root = RootKeyFromName(entry.substr(0, slash));
  const std::string path = slash == std::string::npos ? std::string() : entry.substr(slash + 1);
  if (root == 0 || path.empty()) {
    reason = "the entry names no key";
    return false;
  }
  std::size_t deletions = 0, values = 0;
  for (const TRegFileKey &key : parsed.Keys) {
    if (key.Delete) {
      reason = "it deletes the key " + RootKeyLongName(key.Root) + "\\" + key.Path;
      return false;
    }
    if (!WithinEntry(key, root, path)) {
      reason = "it writes " + RootKeyLongName(key.Root) + "\\" + key.Path + ", outside " + entry;
      return false;
    }
    for (const TRegFileValue &value : key.Values) {
      ++values;
      if (value.Delete)
        ++deletions;
    }
  }
  if (deletions > 0 && !(deletions == 1 && values == 1 && parsed.Keys.size() == 1)) {
    reason = "it deletes values";
    return false;
  }
  return true;
}

} // namespace

TRestoreSummary TRegScanner::RestoreEntries(const std::string &day,
                                            const std::vector<std::string> *selection) {
  TRestoreSummary summary;
  const std::string folder = undoFolder_ + day;
  const std::string indexFile = folder + "\\" + std::string(UndoIndexTitle);
  // Held to the end: a repair adding a line meanwhile would lose it to the
  // rewrite below.
  TUndoDayLock lock;
  if (!lock.Acquire(folder, summary.error))
    return summary;
  std::vector<std::string> lines;
  bool missing = false;
  // An index that cannot be read is left alone: rewriting it would lose lines.
  if (!ReadTextLines(indexFile, lines, &missing) || missing) {
    if (!missing)
      summary.error = "cannot read " + indexFile;
    return summary;
  }
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
    bool refused = false;
    std::vector<std::string> imported;
    // Imports one file into the given views; it counts as played back only
    // when the registry then holds what the program reads in it (the
    // editor's exit code proves nothing: Wine's exits 0 on failure).
    const auto play = [&](const std::string &file, std::initializer_list<bool> views) {
      TRegFile parsed;
      std::string reason;
      if (!PlayableBackup(file, entry, parsed, reason)) {
        refused = true;
        return;
      }
      bool ok = true;
      for (const bool use64 : views)
        ok = ImportRegFile(use64, file) && ok;
      if (ok)
        imported.push_back(file);
      else
        failed = true;
    };
    if (IsExistingFile(base + ".REG")) {
      if (have32BitEditor)
        play(base + ".REG", {false, true});
      else
        play(base + ".REG", {true});
    } else {
      for (const auto &[ext, use64] : {std::pair{".REG32", false}, std::pair{".REG64", true}}) {
        const std::string file = base + ext;
        if (IsExistingFile(file))
          play(file, {use64});
      }
    }
    const bool anyFile = failed || refused || !imported.empty();
    if (refused) {
      // The line stays with every file it names; nothing of it was played
      // that could be told apart from the rest.
      ++summary.refused;
    } else if (!anyFile) {
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
  bool indexUpdated = false;
  if (!lines.empty())
    indexUpdated = WriteTextLines(indexFile, lines, summary.error);
  else if (const long st = Files().DeleteFile(indexFile); st == wc::ErrorSuccess)
    indexUpdated = true;
  else
    summary.error = "DeleteFile: " + SysErrorMessage(st) + " " + indexFile;
  if (!indexUpdated)
    return summary;
  for (const std::string &file : played)
    qp::IgnoreResult(Files().DeleteFile(file));
  lock.Release(); // the folder goes only when empty, its lock file included
  if (lines.empty())
    qp::IgnoreResult(Files().RemoveDirectory(folder)); // only succeeds when empty
  return summary;
}

TPurgeSummary TRegScanner::PurgeBackupDays(bool deleteAfterWeek) {
  TPurgeSummary summary;
  if (!deleteAfterWeek)
    return summary; // nothing may go without the setting
  std::vector<std::string> days;
  BackupDays(days);
  const std::uint64_t now = UndoNow().fileTime;
  for (const std::string &day : days) {
    // A date that cannot be read (or a zero one) says nothing about the
    // day's age: its backups may be the only way back from a recent repair.
    const std::int64_t age = DayIndexAge(day);
    if (age <= 0) {
      summary.undated.push_back(day);
      continue;
    }
    if (now <= static_cast<std::uint64_t>(age) + 7 * FileTimeTicksPerDay)
      continue;
    if (DeleteDay(day))
      summary.recycled.push_back(day);
    else
      summary.notRecycled.push_back(day);
  }
  return summary;
}

} // namespace quenlo
