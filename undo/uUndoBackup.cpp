#include "undo/uUndoBackup.h"

#include <array>
#include <string_view>

#include "platform/FileOps.h"
#include "platform/PathText.h"
#include "registry/uRegExport.h"
#include "registry/uRegFile.h"
#include "undo/uUndoIndex.h"

namespace quenlo {

namespace {

qp::IRegistry &Reg() {
  return qp::Platform().Registry();
}

constexpr std::string_view kBothViews = ".REG";
constexpr std::string_view k64BitView = ".REG64";
constexpr std::string_view k32BitView = ".REG32";
constexpr std::array kBackupExtensions = {kBothViews, k32BitView, k64BitView};

// Enough tries to step past any burst of same-millisecond names.
constexpr int kMaxNameTries = 100000;
constexpr std::uint32_t kNameWaitMilliseconds = 1;

bool AnyBackupNamed(const std::string &base) {
  for (const std::string_view extension : kBackupExtensions)
    if (qp::FileExists(base + std::string(extension)))
      return true;
  return false;
}

} // namespace

bool NewUndoBackupFile(const TUndoFolder &folder, std::string_view extension, std::string &file,
                       std::string &errorText) {
  for (int tries = 0; tries < kMaxNameTries; ++tries) {
    const TUndoTime now = folder.Now();
    const std::string day = folder.root + UndoDayName(now);
    long lastError = 0;
    if (!qp::ForceDirectories(day, lastError)) {
      errorText = "CreateDirectory: " + SysErrorMessage(lastError) + " " + day;
      return false;
    }
    // Under the day's lock no other process looks for a name between this
    // test and the file that takes the name.
    TUndoDayLock lock;
    if (!lock.Acquire(day, errorText))
      return false;
    const std::string base = day + "\\" + UndoBackupName(now);
    if (!AnyBackupNamed(base)) {
      file = base + std::string(extension);
      if (const long st = qp::Platform().Files().WriteFile(file, ""); st != wc::ErrorSuccess) {
        errorText = "WriteFile: " + SysErrorMessage(st) + " " + file;
        return false;
      }
      return true;
    }
    lock.Release();
    qp::Platform().System().Sleep(kNameWaitMilliseconds);
  }
  errorText = "No free backup file name in " + folder.root;
  return false;
}

// A reflection state that cannot be read (the key does not open, or the
// query fails, as it always does under Wine) names the key's own view: a
// ".REG" file is imported into both views, which would write one view's
// data into the other.
std::string UndoBackupExtension(const TUndoKey &key) {
  const std::string own(key.view == rv64 ? k64BitView : k32BitView);
  qp::ScopedKey open;
  if (Reg().OpenKey(key.root, key.path, wc::KeyRead | ViewFlag(key.view), open.Out()) !=
      wc::ErrorSuccess)
    return own;
  bool disabled = false;
  if (ReflectionAvailable && Reg().HasQueryReflectionKey() &&
      Reg().QueryReflectionKey(open.Get(), disabled) == wc::ErrorSuccess && !disabled)
    return std::string(kBothViews);
  return own;
}

TBackupWriter KeyTreeBackup(const TUndoKey &key) {
  return [key](const std::string &backupFile, std::string &errorText) {
    return ExportKeyWithRegedit(errorText, key.root, key.view, backupFile, key.path);
  };
}

TBackupWriter ValuesBackup(const TUndoKey &key, const qp::ScopedKey &open,
                           std::vector<std::string> names) {
  return [key, &open, names = std::move(names)](const std::string &backupFile,
                                                std::string &errorText) {
    return ExportValues(
        errorText, {.root = key.root, .view = key.view, .handle = open.Get(), .path = key.path},
        names, backupFile);
  };
}

TBackupWriter CreatedValueBackup(const TUndoKey &key, std::string name) {
  return [key, name = std::move(name)](const std::string &backupFile, std::string &errorText) {
    TRegFile file;
    TRegFileKey &fileKey = file.Keys.emplace_back();
    fileKey.Root = key.root;
    fileKey.Path = key.path;
    TRegFileValue &value = fileKey.Values.emplace_back();
    value.Name = name;
    value.Delete = true;
    const std::string folder = qp::FolderOf(backupFile);
    long lastError = 0;
    if (!qp::ForceDirectories(folder, lastError)) {
      errorText = "CreateDirectory: " + SysErrorMessage(lastError) + " " + folder;
      return false;
    }
    return WriteRegFile(file, backupFile, errorText);
  };
}

} // namespace quenlo
