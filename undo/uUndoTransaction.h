// One change to the registry made undoable: the protocol every repair,
// optimisation and tweak follows, written once.
//
//   1. A backup file is chosen (unique by the millisecond wait, taken under
//      the day's lock by creating it empty) with the extension of the key's
//      view.
//   2. The snapshot reads what the change may alter.
//   3. The backup writer saves it to the backup file.
//   4. The backup's line is added to the day's "index.txt".
//   5. The change is made.
//   6. Unless the change reports success, it is settled: when the snapshot
//      proves the registry unchanged, the index line and then the backup
//      are taken back; otherwise (the change was partly made, or the state
//      cannot be read) both stay, so that the user can play the backup back.
//      An exception thrown by the change settles the same way on its way
//      out.
//
// Invariants: no change is made without its backup named in the index; the
// index never names a backup that is not there (the line goes before the
// file does); a failure before step 5 leaves the registry untouched and no
// backup behind.
#pragma once

#include <functional>
#include <string>

#include "undo/uUndoBackup.h"
#include "undo/uUndoSnapshot.h"

namespace quenlo {

// Makes the change; on false the error text names the failing step.
using TUndoChange = std::function<bool(std::string &errorText)>;

// What one change is made of. The snapshot outlives the transaction's Run.
struct TUndoPlan {
  TBackupWriter backup;    // saves what the change alters
  IUndoSnapshot &snapshot; // proves, after a failure, that nothing changed
  TUndoChange change;      // the change itself
};

class TUndoTransaction {
public:
  TUndoTransaction(TUndoFolder folder, TUndoKey key);
  TUndoTransaction(const TUndoTransaction &) = delete;
  TUndoTransaction &operator=(const TUndoTransaction &) = delete;

  // Runs the protocol once; the change's result. On false the error text
  // names the failing step.
  [[nodiscard]] bool Run(const TUndoPlan &plan, std::string &errorText);
  // The backup file Run chose; empty before.
  const std::string &BackupFile() const { return backupFile_; }

private:
  [[nodiscard]] bool PrepareBackup(std::string &errorText);
  [[nodiscard]] bool RecordBackup(std::string &errorText);
  void Settle(const IUndoSnapshot &snapshot) noexcept;

  TUndoFolder folder_;
  TUndoKey key_;
  std::string entry_; // what the index line names
  std::string backupFile_;
};

} // namespace quenlo
