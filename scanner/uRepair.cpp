// Repair of one error with an undo backup: TRegScanner::RepairError.
//
// Order of every repair that changes the registry: the backup file is
// written, then its line is added to the day's "index.txt", then the
// registry is changed. When the change fails and the registry is provably
// unchanged, the index line and the backup are taken back; otherwise (the
// change was partly made, or the state cannot be read) both stay, so that
// the user can play the backup back. The index therefore never names a
// change without its backup, and no change is ever made without one.
#include <exception>
#include <optional>

#include "paths/uPaths.h"
#include "platform/FileOps.h"
#include "platform/PathText.h"
#include "platform/Utf.h"
#include "registry/uRegExport.h"
#include "registry/uRegFile.h"
#include "scanner/uProtectedKeys.h"
#include "scanner/uRegScanner.h"

namespace quenlo {

namespace {

qp::IRegistry &Reg() {
  return qp::Platform().Registry();
}
qp::IFileSystem &Files() {
  return qp::Platform().Files();
}

constexpr std::string_view kMruList = "MRUList";
// Enough tries to step past any burst of same-millisecond names.
constexpr int kMaxNameTries = 100000;

TRegistryView ViewOf(const TRegError &error) {
  return error.View64 != 0 ? rv64 : rv32;
}

// ".REG" only when the system reports the key as reflected between the views.
// A reflection state that cannot be read (the key does not open, or the query
// fails, as it always does under Wine) names the view the error came from:
// a ".REG" file is imported into both views, which would write one view's
// data into the other.
std::string BackupExtension(const TRegError &error) {
  const TRegistryView view = ViewOf(error);
  const std::string own = view == rv64 ? ".REG64" : ".REG32";
  ScopedKey key;
  if (Reg().OpenKey(error.RootKey, error.KeyPath, wc::KeyRead | ViewFlag(view), key.Out()) !=
      wc::ErrorSuccess)
    return own;
  bool disabled = false;
  if (ReflectionAvailable && Reg().HasQueryReflectionKey() &&
      Reg().QueryReflectionKey(key.Get(), disabled) == wc::ErrorSuccess && !disabled)
    return ".REG";
  return own;
}

// A value's state: its type and bytes, or nothing when it does not exist.
// Unreadable states never compare equal.
struct TValueState {
  bool readable = false;
  std::optional<std::pair<std::uint32_t, qp::Bytes>> value;
  bool operator==(const TValueState &other) const {
    return readable && other.readable && value == other.value;
  }
};

TValueState ReadValueState(qp::HKey key, std::string_view name) {
  TValueState state;
  std::uint32_t type = 0;
  qp::Bytes data;
  const long st = Reg().QueryValue(key, name, &type, &data, nullptr);
  if (st == wc::ErrorFileNotFound) {
    state.readable = true;
  } else if (st == wc::ErrorSuccess) {
    state.readable = true;
    state.value = std::make_pair(type, std::move(data));
  }
  return state;
}

bool IsStringKind(TValueKind kind) {
  return kind == vkString || kind == vkExpandString || kind == vkMultiString;
}

qp::Bytes Utf16Z(std::string_view text) {
  qp::Bytes data = qp::Utf8ToRawUtf16(text);
  data.push_back(0);
  data.push_back(0);
  return data;
}

// Removes the letters of "MRUList" that name no value; the value keeps its
// type. Returns the status of the write (0 when nothing had to change).
long RebuildMruList(qp::HKey key, std::string &errorText) {
  std::uint32_t type = 0;
  qp::Bytes data;
  long st = Reg().QueryValue(key, kMruList, &type, &data, nullptr);
  if (st != wc::ErrorSuccess) {
    errorText = "DoRebuildMRUList: " + SysErrorMessage(st);
    return st;
  }
  const std::u16string letters = qp::Utf8ToUtf16(CutAtNul(DataToText(type, data)));
  std::u16string kept;
  for (const char16_t letter : letters)
    if (ValueExists(key, qp::Utf16ToUtf8(std::u16string(1, letter))))
      kept += letter;
  st = Reg().SetValue(key, kMruList, type, Utf16Z(qp::Utf16ToUtf8(kept)));
  if (st != wc::ErrorSuccess)
    errorText = "DoRebuildMRUList: " + SysErrorMessage(st);
  return st;
}

} // namespace

bool TRegScanner::AppendIndexLine(const std::string &backupFile, const TRegError &error) {
  return AppendUndoIndexLine(backupFile, UndoIndexEntry(error.RootKey, error.KeyPath));
}

bool TRegScanner::RemoveIndexLine(const std::string &backupFile, const TRegError &error) {
  return RemoveUndoIndexLine(backupFile, UndoIndexEntry(error.RootKey, error.KeyPath));
}

bool TRegScanner::NewBackupBase(std::string &errorText, std::string &base) {
  for (int tries = 0; tries < kMaxNameTries; ++tries) {
    const TUndoTime now = UndoNow();
    base = undoFolder_ + UndoDayName(now) + "\\" + UndoBackupName(now);
    if (!IsExistingFile(base + ".REG") && !IsExistingFile(base + ".REG32") &&
        !IsExistingFile(base + ".REG64"))
      return true;
    qp::Platform().System().Sleep(1);
  }
  errorText = "No free backup file name in " + qp::FolderOf(base);
  return false;
}

bool TRegScanner::RepairError(std::string &errorText, TRegError &error) {
  errorText.clear();
  bool repaired = false;
  try {
    repaired = DoRepair(errorText, error);
  } catch (const std::exception &e) {
    errorText = e.what();
    repaired = false;
  }
  if (repaired && IsValidCategory(error.Category) && remainingCount_[error.Category] > 0)
    --remainingCount_[error.Category];
  return repaired;
}

bool TRegScanner::DoRepair(std::string &errorText, TRegError &error) {
  std::string base;
  if (!NewBackupBase(errorText, base))
    return false;
  const std::string backup = base + BackupExtension(error);
  if (error.Repaired())
    return true;

  const std::uint32_t root = error.RootKey;
  const TRegistryView view = ViewOf(error);
  const std::string &path = error.KeyPath;

  // After a failed change: take the backup back only when nothing changed.
  auto settle = [&](bool unchanged) {
    if (unchanged && RemoveIndexLine(backup, error))
      Files().DeleteFile(backup);
  };
  auto index = [&]() {
    if (AppendIndexLine(backup, error))
      return true;
    errorText = "AppendIndexLine: cannot write " + qp::FolderOf(backup) + "\\" +
                std::string(UndoIndexTitle);
    Files().DeleteFile(backup);
    return false;
  };

  if (error.Action == raRecycleFile) {
    if (Files().GetAttributes(path) == wc::InvalidFileAttributes)
      return true;
    const int result = Files().RecycleFile(path);
    if (result == 0)
      return true;
    errorText = "SHRecycleFile: " + std::to_string(result);
    return false;
  }
  switch (error.Action) {
  case raDeleteKey:
  case raDeleteValue:
  case raDeleteValueAndEmptyKey:
  case raRemoveListItem:
  case raClearValue:
  case raRebuildMRUList:
  case raDeleteMRUItem:
    break;
  default:
    return false;
  }
  if (!KeyExists(root, view, path))
    return true;

  if (error.Action == raDeleteKey) {
    if (IsProtectedKey(root, path)) {
      errorText = ProtectedKeyError(root, path);
      return false;
    }
    TRegFile before;
    if (!ReadKeyTree(root, view, path, before, errorText))
      return false;
    if (!ExportKeyWithRegedit(errorText, root, view, backup, path))
      return false;
    if (!index())
      return false;
    if (DeleteKeyTree(errorText, root, view, path))
      return true;
    TRegFile after;
    std::string ignored;
    settle(ReadKeyTree(root, view, path, after, ignored) && SameRegContent(before, after, ignored));
    return false;
  }

  ScopedKey key;
  if (!OpenKeyFull(root, view, path, key, errorText))
    return false;
  const std::string &name = error.ValueName;

  switch (error.Action) {
  case raDeleteValue:
  case raDeleteValueAndEmptyKey: {
    if (!ValueExists(key.Get(), name))
      return true;
    const TValueState before = ReadValueState(key.Get(), name);
    if (!ExportValue(errorText, root, key.Get(), name, backup, path))
      return false;
    if (!index())
      return false;
    const long st = Reg().DeleteValue(key.Get(), name);
    if (st != wc::ErrorSuccess) {
      errorText = "RegDeleteValue: " + SysErrorMessage(st);
      settle(ReadValueState(key.Get(), name) == before);
      return false;
    }
    if (error.Action == raDeleteValueAndEmptyKey) {
      key.Reset();
      TRegistryAccess reg(wc::KeyRead);
      reg.SetView(view);
      reg.SetRootKey(root);
      if (reg.OpenKey(path, false) && KeyIsEmpty(reg) && !IsProtectedKey(root, path)) {
        reg.CloseKey();
        DeleteKeyTree(root, view, path); // the value's backup brings the key back
      }
    }
    return true;
  }
  case raRemoveListItem: {
    std::uint32_t type = 0;
    qp::Bytes data;
    if (Reg().QueryValue(key.Get(), name, &type, &data, nullptr) != wc::ErrorSuccess ||
        data.size() > MaxExportDataSize || !IsStringKind(ValueKindOf(type)))
      return true;
    const TValueState before = ReadValueState(key.Get(), name);
    if (!ExportValue(errorText, root, key.Get(), name, backup, path))
      return false;
    std::vector<std::string> items;
    if (ValueKindOf(type) == vkMultiString) {
      SplitMultiString(data, data.size(), items);
    } else {
      const std::string text = DataToText(type, data);
      items = SplitQuotedList(text, text.size());
    }
    std::erase(items, error.Target);
    qp::Bytes rebuilt;
    if (ValueKindOf(type) == vkMultiString) {
      for (const std::string &item : items) {
        const qp::Bytes part = Utf16Z(item);
        rebuilt.insert(rebuilt.end(), part.begin(), part.end());
      }
      rebuilt.push_back(0);
      rebuilt.push_back(0);
    } else {
      std::string joined;
      for (std::size_t i = 0; i < items.size(); ++i)
        joined += (i > 0 ? ";" : "") + items[i];
      rebuilt = Utf16Z(joined);
    }
    if (!index())
      return false;
    const long st = Reg().SetValue(key.Get(), name, type, rebuilt);
    if (st != wc::ErrorSuccess) {
      errorText = "RegSetValueEx: " + SysErrorMessage(st);
      settle(ReadValueState(key.Get(), name) == before);
      return false;
    }
    return true;
  }
  case raClearValue: {
    const TValueState before = ReadValueState(key.Get(), name);
    if (ValueExists(key.Get(), name)) {
      if (!ExportValue(errorText, root, key.Get(), name, backup, path))
        return false;
    } else {
      // The value is created: its backup deletes it again on restore.
      TRegFile file;
      TRegFileKey &fileKey = file.Keys.emplace_back();
      fileKey.Root = root;
      fileKey.Path = path;
      TRegFileValue &value = fileKey.Values.emplace_back();
      value.Name = name;
      value.Delete = true;
      long lastError = 0;
      if (!qp::ForceDirectories(qp::FolderOf(backup), lastError)) {
        errorText = "CreateDirectory: " + SysErrorMessage(lastError) + " " + qp::FolderOf(backup);
        return false;
      }
      if (!WriteRegFile(file, backup, errorText))
        return false;
    }
    if (!index())
      return false;
    const long st = Reg().SetValue(key.Get(), name, wc::RegSz, qp::Bytes{0, 0});
    if (st != wc::ErrorSuccess) {
      errorText = "RegSetValueEx: " + SysErrorMessage(st);
      settle(ReadValueState(key.Get(), name) == before);
      return false;
    }
    return true;
  }
  case raRebuildMRUList: {
    std::uint32_t type = 0;
    qp::Bytes data;
    if (Reg().QueryValue(key.Get(), kMruList, &type, &data, nullptr) != wc::ErrorSuccess ||
        (ValueKindOf(type) != vkString && ValueKindOf(type) != vkExpandString))
      return true;
    const TValueState before = ReadValueState(key.Get(), kMruList);
    if (!ExportValue(errorText, root, key.Get(), kMruList, backup, path))
      return false;
    if (!index())
      return false;
    if (RebuildMruList(key.Get(), errorText) != wc::ErrorSuccess) {
      settle(ReadValueState(key.Get(), kMruList) == before);
      return false;
    }
    return true;
  }
  case raDeleteMRUItem: {
    if (!ValueExists(key.Get(), name) || !ValueExists(key.Get(), kMruList))
      return true;
    const TValueState beforeItem = ReadValueState(key.Get(), name);
    const TValueState beforeList = ReadValueState(key.Get(), kMruList);
    if (!ExportValues(errorText, root, key.Get(), {name, std::string(kMruList)}, backup, path))
      return false;
    if (!index())
      return false;
    const long st = Reg().DeleteValue(key.Get(), name);
    bool done = st == wc::ErrorSuccess;
    if (!done)
      errorText = "RegDeleteValue: " + SysErrorMessage(st);
    if (done && beforeList.value && IsStringKind(ValueKindOf(beforeList.value->first)))
      done = RebuildMruList(key.Get(), errorText) == wc::ErrorSuccess;
    if (done)
      return true;
    settle(ReadValueState(key.Get(), name) == beforeItem &&
           ReadValueState(key.Get(), kMruList) == beforeList);
    return false;
  }
  default:
    break;
  }
  return false;
}

} // namespace quenlo
