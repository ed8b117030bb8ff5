// Whole registry hives saved to a folder and put back from it: the full
// registry backup and the registry defragmenter both work through these.
//
// A backup folder holds one file per saved hive, named by the hive's index
// in the hive list in decimal without extension ("0", "1", ...), the list
// "hivelist.txt" with one "<index>:<long root name>\<key path>" line per
// saved hive in index order, and "backupinfo.txt" beside it: the machine's
// identity and the backup's date, so that a restore can refuse a folder
// made on another machine or damaged since. A restore makes Windows keep
// each live hive as "<index>.BAK" in the same folder.
//
// Invariants: nothing is handed to RegReplaceKey before every file of the
// folder has been checked (list line, file, identity, and a trial load
// whose top-level keys match the live hive's); a restore or backup that
// did not do all it was asked reports which hives it left out.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "undo/uUndoTime.h"

namespace quenlo {

// One loaded hive.
struct THiveRecord {
  std::uint32_t root = 0; // HKEY_LOCAL_MACHINE or HKEY_USERS
  std::string keyPath;    // below the root: "SOFTWARE", a user's SID
  std::string file;       // drive path of the hive file
  std::uint64_t size = 0; // bytes of the hive file
};
using THiveArray = std::vector<THiveRecord>;

// (total, done) in bytes; called on the thread that runs the operation.
using THiveProgress = std::function<void(std::uint64_t total, std::uint64_t done)>;

inline constexpr const char *kHiveListFile = "hivelist.txt";
inline constexpr const char *kHiveInfoFile = "backupinfo.txt";
// Written beside the files after Windows accepted at least one replacement:
// when and in which boot session, so that a second restore (or a
// defragmentation) of the same folder waits for the restart.
inline constexpr const char *kHiveMarkerFile = "replaced.txt";
// Longest "hivelist.txt" or "backupinfo.txt" a check reads: a list holds
// one short line per loaded hive, so anything near this is not ours.
inline constexpr std::uint64_t kHiveListMaxBytes = 64 * 1024;

// The hives the system has loaded, from the hive list key
// "SYSTEM\CurrentControlSet\Control\hivelist". True when at least one was
// found.
[[nodiscard]] bool GetHiveList(THiveArray &hives);

// What became of one hive in a backup or a restore.
struct THiveOutcome {
  std::string fileName; // "3"
  std::uint32_t root = 0;
  std::string keyPath;
  std::uint64_t size = 0; // the live file before a save, the saved one after
  bool done = false;
  std::string errorText; // why not, as "RegSaveKey: <system message>"
};

struct THiveBackupRequest {
  std::string folder;
  THiveProgress progress; // may be empty
  // Polled between hives; the backup stops early when it is set.
  const std::atomic<bool> *terminate = nullptr;
};

struct THiveBackupResult {
  std::vector<THiveOutcome> hives; // every live hive, in list order
  int saved = 0;
  bool stopped = false;  // the terminate flag ended it early
  std::string errorText; // why it could not start, or what went wrong
  // Every live hive was saved and the folder's lists written.
  [[nodiscard]] bool Complete() const;
};

// Gives a folder that holds (or will hold) hive files the access list of
// a backup folder: Administrators and SYSTEM only, inherited by what is
// made inside, nothing inherited from above. 0 or the status.
[[nodiscard]] long ProtectHiveFolder(std::string_view folder);

// Saves every live hive to the folder (created with its parents and given
// an access list for Administrators and SYSTEM only). True when at least
// one hive was saved; Complete() tells a partial backup from a whole one.
// When nothing was saved the folder is removed again.
[[nodiscard]] bool BackupHives(const THiveBackupRequest &request, THiveBackupResult &result);

// CompareHiveBackup's reasons, as the defragmenter shows them.
enum THiveCompareReason : std::uint8_t {
  hcOk = 0,
  hcRegistryMissing = 1, // "\"registry missing\""
  hcBackupMissing = 2,   // "\"backup registry missing\""
  hcBackupLarger = 3,    // "\"backup is larger than current registry\""
};
// The quoted text of a reason; empty for hcOk.
std::string HiveCompareReasonText(THiveCompareReason reason);

struct THiveComparison {
  std::uint64_t current = 0; // bytes of the live hive files listed
  std::uint64_t backup = 0;  // bytes of their saved copies
  THiveCompareReason reason = hcOk;
};

// Sums the sizes of the live hives named by the folder's list, matched by
// their key name (not by index), and of their saved files. True when both
// sums are non-zero and the live one is not smaller.
[[nodiscard]] bool CompareHiveBackup(std::string_view folder, THiveComparison &comparison);

// One hive of a backup folder that passed every check.
struct THiveBackupEntry {
  std::string fileName; // "3"
  std::uint32_t root = 0;
  std::string keyPath;
  std::string file; // folder + fileName
  std::uint64_t size = 0;
};

struct THiveBackupCheck {
  std::vector<THiveBackupEntry> entries;
  std::string errorText; // the first thing that made the folder unusable
};

// Everything a restore checks before it hands a file to Windows: the list's
// lines ("<decimal index>:<HKEY_LOCAL_MACHINE|HKEY_USERS>\<one component>",
// unique keys, each a live hive), each file a non-empty regular file of the
// folder itself, the identity file naming this machine, and a trial load of
// each file under a temporary key whose top-level keys match the live
// hive's. True only when every line passed.
[[nodiscard]] bool CheckHiveBackup(std::string_view folder, THiveBackupCheck &check);

struct THiveRestoreResult {
  std::vector<THiveOutcome> hives; // every hive of the checked list
  int replaced = 0;
  std::string errorText; // why nothing was replaced (the check's reason)
  // Every hive of the list was handed over and accepted.
  [[nodiscard]] bool Complete() const;
};

// Checks the folder (CheckHiveBackup) and, only when all of it passed, asks
// Windows to load each file at the next start (RegReplaceKey), keeping the
// live hive as "<index>.BAK". True only when every hive was accepted.
[[nodiscard]] bool RestoreHives(std::string_view folder, const THiveProgress &progress,
                                THiveRestoreResult &result);

// True while the folder's replacement marker exists and the system has not
// restarted since it was written: its files are then Windows' replacements
// (and the live hives' ".BAK" copies) waiting for the next start, and must
// neither be restored again nor removed. A marker that cannot be read
// counts as pending.
[[nodiscard]] bool HiveReplacementPending(std::string_view folder);

// The clock the backup date and the replacement marker take: the system
// clock, unless a test set another (an empty one puts the system's back).
void SetHiveClock(TUndoClock clock);

} // namespace quenlo
