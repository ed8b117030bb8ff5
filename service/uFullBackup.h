// The settings page's full registry backup and restore, as calls without
// prompts that every front end makes the same way.
//
// The backup lives in "<settings folder>\Backup". A new one is made in a
// folder of its own, "NewBackup", and only once it is complete is it swapped
// in: "Backup" is renamed to "UndoBackup", "NewBackup" to "Backup", and
// "UndoBackup" deleted. Anything less than a complete new backup is deleted
// and "Backup" was never touched, so a partial backup never replaces a
// complete one. A run cut off in the middle of the swap (the program ended,
// the machine went down) is finished or undone by the next call of any of
// the functions below, from what is on the disk. A restore works on a copy of the backup in
// "<settings folder>\Temp" (Windows keeps the files it is handed and the
// live hives' ".BAK" copies there until the restart) and is refused while
// that folder still holds replacements waiting for a restart.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

#include "optimizer/uHiveBackup.h"

namespace quenlo::service {

inline constexpr std::string_view FullBackupFolderTitle = "Backup";
inline constexpr std::string_view PreviousBackupFolderTitle = "UndoBackup";
inline constexpr std::string_view NewBackupFolderTitle = "NewBackup";
inline constexpr std::string_view RestoreWorkFolderTitle = "Temp";

// The three folders in the settings folder.
std::string FullBackupFolder();
std::string PreviousBackupFolder();
std::string RestoreWorkFolder();
std::string NewBackupFolder();

// A backup is there to restore: the settings page shows its "restore"
// button exactly then. A swap that was cut off is settled first.
[[nodiscard]] bool FullBackupExists();

struct TFullBackupResult {
  THiveBackupResult hives; // what became of each hive
  // The previous backup is back in its place (the new one was not complete).
  bool previousKept = false;
  std::string errorText; // why it failed, when it did not get as far as the hives
  // Every hive saved and the new backup in place.
  [[nodiscard]] bool Complete() const;
};

// Makes a new full backup. True only when Complete(). It runs on a worker
// thread, so it leaves the settings alone: the caller records the date
// with RecordFullBackupDate on the thread that owns the settings.
[[nodiscard]] bool FullRegistryBackup(const THiveProgress &progress,
                                      const std::atomic<bool> *terminate,
                                      TFullBackupResult &result);

// The settings' "last_backup" := today as "yyyymmdd".
[[nodiscard]] bool RecordFullBackupDate(std::string &errorText);

struct TFullRestoreResult {
  THiveRestoreResult hives;
  std::string errorText; // why nothing was handed to Windows
  [[nodiscard]] bool Complete() const;
};

// Copies the backup into the work folder and restores the hives from the
// copy (RestoreHives). True only when every hive was accepted; the changes
// take effect at the next restart.
[[nodiscard]] bool FullRegistryRestore(const THiveProgress &progress, TFullRestoreResult &result);

} // namespace quenlo::service
