#include "app/pages/uFullBackupRunner.h"

#include "registry/uRegAccess.h"
#include "service/uFullBackup.h"

namespace quenlo {

namespace {

// Why the backup failed: what stopped it, else the hives it left out, one
// line each.
std::string BackupFailure(const service::TFullBackupResult &backup) {
  if (!backup.errorText.empty())
    return backup.errorText;
  const THiveBackupResult &hives = backup.hives;
  std::string text = hives.errorText;
  for (const THiveOutcome &hive : hives.hives) {
    if (hive.done)
      continue;
    if (!text.empty())
      text += "\r\n";
    text += RootKeyLongName(hive.root) + "\\" + hive.keyPath + ": " +
            (hive.errorText.empty() ? std::string("not saved") : hive.errorText);
  }
  return text;
}

} // namespace

std::string FullBackupFailureText(TFullBackupFailure code, const std::string &text) {
  return "Registry Backup failed:\r\n" + text + (text.empty() ? "" : "\r\n") +
         "Error code: " + std::to_string(static_cast<int>(code));
}

bool TFullBackupRunner::RunSilent(std::string &errorText) {
  service::TFullBackupResult backup;
  const TLongOperationResult run = operation_.Run(
      kFullBackupCaption, true, [&backup](const TWorkProgress &progress, std::string &workError) {
        const bool done = service::FullRegistryBackup(progress, nullptr, backup);
        if (!done)
          workError = BackupFailure(backup);
        return done;
      });
  if (!run.started) {
    errorText = FullBackupFailureText(fbNoThread, run.errorText);
    return false;
  }
  if (!run.finished) {
    errorText = FullBackupFailureText(fbWaitFailed, run.errorText);
    return false;
  }
  if (!run.ok) {
    const bool renaming = backup.errorText.rfind("Could not rename folder", 0) == 0;
    errorText = FullBackupFailureText(renaming ? fbRenameFailed : fbBackupFailed, run.errorText);
    return false;
  }
  std::string stampError;
  if (!service::RecordFullBackupDate(stampError)) {
    errorText = stampError;
    return false;
  }
  return true;
}

} // namespace quenlo
