#include "undo/uUndoTransaction.h"

#include "platform/ScopeGuard.h"
#include "registry/uRegAccess.h"
#include "undo/uUndoIndex.h"

namespace quenlo {

TUndoTransaction::TUndoTransaction(TUndoFolder folder, TUndoKey key)
    : folder_(std::move(folder)), key_(std::move(key)),
      entry_(UndoIndexEntry(key_.root, key_.path)) {}

bool TUndoTransaction::Run(const TUndoPlan &plan, std::string &errorText) {
  if (!PrepareBackup(errorText))
    return false;
  // Until the index names it, the backup (at first the empty file that
  // holds its name) goes again on every way out.
  auto dropBackup = qp::ScopeExit(
      [this]() noexcept { qp::IgnoreResult(qp::Platform().Files().DeleteFile(backupFile_)); });
  if (!plan.snapshot.Take(errorText))
    return false;
  if (!plan.backup(backupFile_, errorText))
    return false;
  // The backup must survive a crash that follows the change: it is on the
  // disk before the index names it (the editor's export is its file, not
  // written through like the program's own).
  if (const long st = qp::Platform().Files().FlushFile(backupFile_); st != wc::ErrorSuccess) {
    errorText = "FlushFileBuffers: " + SysErrorMessage(st) + " " + backupFile_;
    return false;
  }
  if (!RecordBackup(errorText))
    return false;
  dropBackup.Dismiss();
  // From here on the index names the backup: whatever way the change
  // ends, short of success, is settled.
  auto settle = qp::ScopeExit([this, &plan]() noexcept { Settle(plan.snapshot); });
  if (!plan.change(errorText))
    return false;
  settle.Dismiss();
  return true;
}

bool TUndoTransaction::PrepareBackup(std::string &errorText) {
  return NewUndoBackupFile(folder_, UndoBackupExtension(key_), backupFile_, errorText);
}

// A backup that the index does not name cannot be played back, and the
// change must not be made without one.
bool TUndoTransaction::RecordBackup(std::string &errorText) {
  std::string reason;
  if (AppendUndoIndexLine(backupFile_, entry_, reason))
    return true;
  errorText = "AppendIndexLine: " + reason;
  return false;
}

// Runs on the way out of a failed or throwing change, so it must not throw:
// anything that goes wrong here keeps the backup and its line, the side
// that loses nothing.
void TUndoTransaction::Settle(const IUndoSnapshot &snapshot) noexcept {
  try {
    if (snapshot.Unchanged() && RemoveUndoIndexLine(backupFile_, entry_))
      qp::IgnoreResult(qp::Platform().Files().DeleteFile(backupFile_));
  } catch (...) {
    // Both stay.
  }
}

} // namespace quenlo
