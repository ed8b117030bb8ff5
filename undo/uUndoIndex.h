// The index of a day folder: "index.txt" names every backup of the day, one
// line each, "name=ROOT\path" (the backup's file name without folder and
// extension, "=", the long root name, "\" and the key path), in the order
// the changes were made. Restore reads the lines back; the text after the
// first "=" is the entry the user picks.
//
// Invariant kept by every writer: a line is never dropped by accident. A
// file that exists but cannot be read is never rewritten, and a rewrite
// goes through a temporary file, so that it either happens whole or not.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qp {
class IFileLock;
}

namespace quenlo {

inline constexpr std::string_view UndoIndexTitle = "index.txt";
inline constexpr std::string_view UndoLockTitle = "index.lock";

// Holds a day folder's "index.lock". Every read-modify-write of the day's
// index, and every choice of a backup name in it, happens under this lock,
// so that two processes (a scheduled scan and the user) never overwrite one
// another's lines or pick the same name. The system deletes the file when
// the holder's process ends, so a crash leaves no stale lock behind.
class TUndoDayLock {
public:
  TUndoDayLock();
  ~TUndoDayLock();
  TUndoDayLock(const TUndoDayLock &) = delete;
  TUndoDayLock &operator=(const TUndoDayLock &) = delete;

  // Waits while another holder has the lock (up to half a minute: a restore
  // holds it while the registry editor plays a day back). False, with the
  // reason, when the lock cannot be had; the folder must exist.
  [[nodiscard]] bool Acquire(std::string_view dayFolder, std::string &errorText);
  void Release();

private:
  std::unique_ptr<qp::IFileLock> lock_;
};

// "HKEY_LOCAL_MACHINE\path": the entry an index line names.
std::string UndoIndexEntry(std::uint32_t root, std::string_view keyPath);
// The index file of the day folder that holds the backup.
std::string UndoIndexFileOf(std::string_view backupFile);
// The line that records the backup for the entry.
std::string UndoIndexLine(std::string_view backupFile, std::string_view entry);

// The text after the first "=", or nothing when the line has none.
[[nodiscard]] bool IndexLineEntry(std::string_view line, std::string &entry);

// Whether the text can stand in one index line: no CR, LF or other control
// character, which would end the line early and let a key name add a line
// of its own choosing.
bool FitsIndexLine(std::string_view text);
// Whether the text is a backup name as the repair writes it: the nine
// digits "hhnnsszzz" and nothing else, so that it can only ever name a
// file inside its own day folder.
bool IsUndoBackupName(std::string_view name);

// Adds the backup's line at the end of its day's index (creating the file),
// under the day's lock. False when the line would not fit (FitsIndexLine),
// when the lock cannot be had, when the index exists but cannot be read or
// when it cannot be written; the index then is as it was, and the error
// text says why.
[[nodiscard]] bool AppendUndoIndexLine(std::string_view backupFile, std::string_view entry,
                                       std::string &errorText);
[[nodiscard]] bool AppendUndoIndexLine(std::string_view backupFile, std::string_view entry);
// Takes the backup's line out of its day's index again (the last such line;
// the file goes when no line is left), under the day's lock. True when no
// line names the backup any more, also when there was none; false when the
// lock cannot be had or the index could not be read or written, and then it
// still names the backup.
[[nodiscard]] bool RemoveUndoIndexLine(std::string_view backupFile, std::string_view entry);

// Lines of a text file (CR LF or LF). A missing file gives no lines and
// true (with *missing set); false when the file exists but cannot be read.
[[nodiscard]] bool ReadTextLines(std::string_view path, std::vector<std::string> &lines,
                                 bool *missing = nullptr);
// Replaces a text file with the lines (CR LF after each) through a
// temporary file, so that a failure never leaves a truncated file.
[[nodiscard]] bool WriteTextLines(std::string_view path, const std::vector<std::string> &lines,
                                  std::string &errorText);

} // namespace quenlo
