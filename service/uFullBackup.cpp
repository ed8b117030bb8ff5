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

// A run that ended between moving the previous backup aside and putting
// it back (the program was ended, the machine went down) left the previous
// one in "UndoBackup": it is the backup again, unless the new one got its
// list written, that is, finished.
void RecoverInterruptedBackup(const std::string &backup, const std::string &previous) {
  if (!qp::FolderExists(previous))
    return;
  if (qp::FolderExists(backup) && HasList(backup)) {
    qp::IgnoreResult(ShellDeleteFile(previous, false));
    return;
  }
  if (qp::FolderExists(backup))
    qp::IgnoreResult(ShellDeleteFile(backup, false));
  qp::IgnoreResult(ShellRenameFile(previous, backup));
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

bool FullBackupExists() {
  return HasList(FullBackupFolder());
}

bool TFullBackupResult::Complete() const {
  return errorText.empty() && hives.Complete();
}

bool FullRegistryBackup(const THiveProgress &progress, const std::atomic<bool> *terminate,
                        TFullBackupResult &result) {
  result = TFullBackupResult{};
  const std::string backup = FullBackupFolder();
  const std::string previous = PreviousBackupFolder();
  RecoverInterruptedBackup(backup, previous);
  const bool hadPrevious = qp::FolderExists(backup);
  if (hadPrevious && !ShellRenameFile(backup, previous)) {
    result.errorText = "Could not rename folder " + backup;
    return false;
  }
  THiveBackupRequest request;
  request.folder = backup;
  request.progress = progress;
  request.terminate = terminate;
  qp::IgnoreResult(BackupHives(request, result.hives));
  if (!result.hives.Complete()) {
    // Whatever the new one holds, it is less than the previous one.
    if (qp::FolderExists(backup))
      qp::IgnoreResult(ShellDeleteFile(backup, false));
    if (hadPrevious) {
      result.previousKept = ShellRenameFile(previous, backup);
      if (!result.previousKept)
        result.errorText = "Could not rename folder " + previous + " back to " + backup;
    }
    return false;
  }
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
