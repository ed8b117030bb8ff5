#include "service/uFullBackup.h"

#include <memory>
#include <vector>

#include "app/uAppHost.h"
#include "app/uEnvironment.h"
#include "app/uSettings.h"
#include "paths/uSysUtils.h"
#include "platform/FileOps.h"
#include "platform/PathText.h"
#include "platform/Platform.h"
#include "registry/uRegAccess.h"

namespace quenlo::service {

namespace {

constexpr std::string_view kLastBackupKey = "last_backup";

bool HasList(const std::string &folder) {
  return qp::FileExists(qp::WithTrailingBackslash(folder) + kHiveListFile);
}

// Settles what a run cut off during the swap left behind. The invariant
// the swap keeps: at every moment "Backup", or else "UndoBackup", holds a
// complete backup (one with its list), so whichever of them has its list is
// the backup. A "NewBackup" is complete only with its list too; one without
// is a backup that never finished and goes.
//   UndoBackup present, Backup complete: the swap ended before its delete.
//   UndoBackup present, Backup missing:  cut between the two renames; the
//                                        new one, when complete, wins.
//   UndoBackup present, Backup partial:  left by the earlier scheme, which
//                                        saved into "Backup" itself.
void SettleInterruptedBackup() {
  const std::string backup = FullBackupFolder();
  const std::string previous = PreviousBackupFolder();
  const std::string fresh = NewBackupFolder();
  if (qp::FolderExists(previous)) {
    if (qp::FolderExists(backup) && HasList(backup)) {
      qp::IgnoreResult(ShellDeleteFile(previous, false));
    } else {
      if (qp::FolderExists(backup))
        qp::IgnoreResult(ShellDeleteFile(backup, false));
      if (qp::FolderExists(fresh) && HasList(fresh) && ShellRenameFile(fresh, backup))
        qp::IgnoreResult(ShellDeleteFile(previous, false));
      else
        qp::IgnoreResult(ShellRenameFile(previous, backup));
    }
  }
  if (qp::FolderExists(fresh) && !qp::FolderExists(backup) && HasList(fresh))
    qp::IgnoreResult(ShellRenameFile(fresh, backup));
}

// The names in a folder (files only).
std::vector<std::string> FilesOf(const std::string &folder) {
  std::vector<std::string> names;
  qp::FindData found;
  std::unique_ptr<qp::IFindHandle> find =
      qp::Platform().Files().FindFirst(qp::WithTrailingBackslash(folder) + "*", found);
  if (find == nullptr)
    return names;
  do {
    if ((found.attributes & wc::FileAttributeDirectory) == 0)
      names.push_back(found.name);
  } while (find->Next(found));
  return names;
}

// What a restore needs of the backup: its hive files and its two lists;
// neither old ".BAK" copies nor a marker.
bool CopyBackup(const std::string &from, const std::string &to, std::string &errorText) {
  if (qp::FolderExists(to) && !ShellDeleteFile(to, false)) {
    errorText = "Could not delete folder " + to;
    return false;
  }
  long st = 0;
  if (!qp::ForceDirectories(to, st)) {
    errorText = "CreateDirectory: " + SysErrorMessage(st != 0 ? st : wc::ErrorPathNotFound);
    return false;
  }
  if ((st = ProtectHiveFolder(to)) != 0) {
    errorText = "SetFileSecurity: " + SysErrorMessage(st);
    return false;
  }
  for (const std::string &name : FilesOf(from)) {
    const bool hiveFile = name.find_first_not_of("0123456789") == std::string::npos;
    if (!hiveFile && name != kHiveListFile && name != kHiveInfoFile)
      continue;
    if ((st = qp::Platform().Files().CopyFile(qp::WithTrailingBackslash(from) + name,
                                              qp::WithTrailingBackslash(to) + name, false))) {
      errorText = "CopyFile " + name + ": " + SysErrorMessage(st);
      return false;
    }
  }
  return true;
}

} // namespace

std::string FullBackupFolder() {
  return SettingsPath(FullBackupFolderTitle);
}

std::string PreviousBackupFolder() {
  return SettingsPath(PreviousBackupFolderTitle);
}

std::string RestoreWorkFolder() {
  return SettingsPath(RestoreWorkFolderTitle);
}

std::string NewBackupFolder() {
  return SettingsPath(NewBackupFolderTitle);
}

bool FullBackupExists() {
  SettleInterruptedBackup();
  return HasList(FullBackupFolder());
}

bool TFullBackupResult::Complete() const {
  return errorText.empty() && hives.Complete();
}

bool FullRegistryBackup(const THiveProgress &progress, const std::atomic<bool> *terminate,
                        TFullBackupResult &result) {
  result = TFullBackupResult{};
  SettleInterruptedBackup();
  const std::string backup = FullBackupFolder();
  const std::string previous = PreviousBackupFolder();
  const std::string fresh = NewBackupFolder();
  // Whatever is still here never finished (settling took any complete one).
  if (qp::FolderExists(fresh) && !ShellDeleteFile(fresh, false)) {
    result.errorText = "Could not delete folder " + fresh;
    return false;
  }
  THiveBackupRequest request;
  request.folder = fresh;
  request.progress = progress;
  request.terminate = terminate;
  qp::IgnoreResult(BackupHives(request, result.hives));
  const bool hadPrevious = qp::FolderExists(backup);
  result.previousKept = hadPrevious;
  if (!result.hives.Complete()) {
    if (qp::FolderExists(fresh))
      qp::IgnoreResult(ShellDeleteFile(fresh, false));
    return false;
  }
  // The swap. Until the second rename "UndoBackup" is the complete backup,
  // after it "Backup" is; a cut anywhere is settled by the next call.
  if (hadPrevious && !ShellRenameFile(backup, previous)) {
    result.errorText = "Could not rename folder " + backup;
    qp::IgnoreResult(ShellDeleteFile(fresh, false));
    return false;
  }
  if (!ShellRenameFile(fresh, backup)) {
    result.errorText = "Could not rename folder " + fresh;
    if (hadPrevious && !ShellRenameFile(previous, backup))
      result.errorText += "; the previous backup is in " + previous;
    qp::IgnoreResult(ShellDeleteFile(fresh, false));
    return false;
  }
  result.previousKept = false;
  if (hadPrevious)
    qp::IgnoreResult(ShellDeleteFile(previous, false));
  return true;
}

bool RecordFullBackupDate(std::string &errorText) {
  // Reload, change one key, save: the file's other lines stay as they are.
  if (SetSettingText(SectionSettings, kLastBackupKey, DateStamp(AppHost().Now()), &errorText))
    return true;
  errorText = "the backup date could not be saved: " + errorText;
  return false;
}

bool TFullRestoreResult::Complete() const {
  return errorText.empty() && hives.Complete();
}

bool FullRegistryRestore(const THiveProgress &progress, TFullRestoreResult &result) {
  result = TFullRestoreResult{};
  const std::string backup = FullBackupFolder();
  const std::string work = RestoreWorkFolder();
  SettleInterruptedBackup();
  if (HiveReplacementPending(work)) {
    result.errorText = "The registry was restored already; restart Windows before another restore.";
    return false;
  }
  if (!FullBackupExists()) {
    result.errorText = "There is no registry backup in " + backup;
    return false;
  }
  if (!CopyBackup(backup, work, result.errorText))
    return false;
  if (!RestoreHives(work, progress, result.hives)) {
    result.errorText = result.hives.errorText;
    return false;
  }
  return true;
}

} // namespace quenlo::service
