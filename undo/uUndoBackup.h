// Backup files of the undo folder: where a change's backup goes, what it is
// called, and the writers that fill it.
//
// A backup is "<undo folder><yyyy-mm-dd>\<hhnnsszzz><extension>". The name
// is the moment of the change; the extension says which registry view the
// file belongs to, because restore imports a ".REG" file into both views
// and a ".REG32" or ".REG64" file into its own view only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ScopedKey.h"
#include "registry/uRegAccess.h"
#include "undo/uUndoTime.h"

namespace quenlo {

// The key a change is made in: the index line names it, and its backup is
// written from its view.
struct TUndoKey {
  std::uint32_t root = 0;
  TRegistryView view = rv64;
  std::string path;
};

// Where backups go and the clock that names them.
struct TUndoFolder {
  std::string root; // ends with a backslash
  TUndoClock clock; // empty: the system clock
  TUndoTime Now() const { return clock ? clock() : SystemUndoTime(); }
};

// Chooses the backup file for a change made now and takes its name by
// creating it empty, so that no other repair, in this process or another,
// can choose it too. While a file with that name and any of the three
// extensions exists, the name is formed again a millisecond later. False
// (with the reason) when no free name turns up or the file cannot be made.
[[nodiscard]] bool NewUndoBackupFile(const TUndoFolder &folder, std::string_view extension,
                                     std::string &file, std::string &errorText);

// ".REG" only when the system reports the key as reflected between the
// views; otherwise ".REG64" or ".REG32" after the key's view.
std::string UndoBackupExtension(const TUndoKey &key);

// Writes a change's backup to the file. On false the error text names the
// failing step and no file is left behind.
using TBackupWriter = std::function<bool(const std::string &backupFile, std::string &errorText)>;

// The key and its whole subtree, exported by the registry editor of its view.
TBackupWriter KeyTreeBackup(const TUndoKey &key);
// The named values of the open key, in that order, in one file. The key
// must stay open while the writer is used.
TBackupWriter ValuesBackup(const TUndoKey &key, const qp::ScopedKey &open,
                           std::vector<std::string> names);
// For a value the change creates: a file that deletes the value again.
TBackupWriter CreatedValueBackup(const TUndoKey &key, std::string name);

} // namespace quenlo
