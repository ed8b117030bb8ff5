// Repair of one error with an undo backup: TRegScanner::RepairError.
//
// Each action below says only what it backs up, what it snapshots and what
// it changes; TUndoTransaction (undo/uUndoTransaction.h) runs them in the
// one order every undoable change follows, and settles a failed change.
// So the index never names a change without its backup, and no change is
// ever made without one.
//
// The shortcuts come first and write nothing: an error already marked
// repaired, a key that is gone, a value that is gone or that the action
// leaves alone all count as repaired.
#include <exception>

#include "paths/uPaths.h"
#include "platform/Utf.h"
#include "registry/uProtectedKeys.h"
#include "registry/uRegExport.h"
#include "scanner/uRegScanner.h"
#include "undo/uUndoTransaction.h"

namespace quenlo {

namespace {

qp::IRegistry &Reg() {
  return qp::Platform().Registry();
}
qp::IFileSystem &Files() {
  return qp::Platform().Files();
}

constexpr std::string_view kMruList = "MRUList";

// One repair: the error, the key it names, where its backup goes, and the
// error text the caller reads.
struct TRepairJob {
  const TRegError &error;
  TUndoKey key;
  const TUndoFolder &undo;
  std::string &errorText;

  [[nodiscard]] bool Run(const TUndoPlan &plan) const {
    TUndoTransaction transaction(undo, key);
    return transaction.Run(plan, errorText);
  }
};

bool IsStringKind(TValueKind kind) {
  return kind == vkString || kind == vkExpandString || kind == vkMultiString;
}

bool IsRegistryAction(TRepairAction action) {
  switch (action) {
  case raDeleteKey:
  case raDeleteValue:
  case raDeleteValueAndEmptyKey:
  case raRemoveListItem:
  case raClearValue:
  case raRebuildMRUList:
  case raDeleteMRUItem:
    return true;
  default:
    return false;
  }
}

qp::Bytes Utf16Z(std::string_view text) {
  qp::Bytes data = qp::Utf8ToRawUtf16(text);
  data.push_back(0);
  data.push_back(0);
  return data;
}

// ---- the changes

[[nodiscard]] bool DeleteNamedValue(qp::HKey key, std::string_view name, std::string &errorText) {
  const long st = Reg().DeleteValue(key, name);
  if (st == wc::ErrorSuccess)
    return true;
  errorText = "RegDeleteValue: " + SysErrorMessage(st);
  return false;
}

[[nodiscard]] bool SetNamedValue(qp::HKey key, std::string_view name, std::uint32_t type,
                                 const qp::Bytes &data, std::string &errorText) {
  const long st = Reg().SetValue(key, name, type, data);
  if (st == wc::ErrorSuccess)
    return true;
  errorText = "RegSetValueEx: " + SysErrorMessage(st);
  return false;
}

// Deletes the key when it has neither values nor subkeys and is not
// protected. No backup of its own: the backup of the value that emptied it
// brings the key back. Its failure leaves an empty key, which is harmless.
void DeleteKeyIfEmpty(const TUndoKey &key) {
  TRegistryAccess reg(wc::KeyRead);
  reg.SetView(key.view);
  reg.SetRootKey(key.root);
  if (reg.OpenKey(key.path, false) && KeyIsEmpty(reg) && !IsProtectedKey(key.root, key.path)) {
    reg.CloseKey();
    // Not the whole tree: a subkey made since the test stays, and with it
    // the key (the delete of a key with subkeys fails).
    qp::IRegistry &registry = Reg();
    qp::IgnoreResult(registry.HasDeleteKeyEx()
                         ? registry.DeleteKeyEx(key.root, key.path, ViewFlag(key.view))
                         : registry.DeleteKey(key.root, key.path));
  }
}

// Every string of a REG_MULTI_SZ value, empty ones in the middle included
// (a reader that stops at the first empty string would drop the rest of the
// list when it is written back). The data ends with the list's own empty
// terminator, which is not an item; a value without it loses nothing.
std::vector<std::string> MultiStringItems(const qp::Bytes &data) {
  std::vector<std::string> items;
  std::u16string item;
  for (std::size_t pos = 0; pos + 1 < data.size(); pos += 2) {
    const auto unit = static_cast<char16_t>(data[pos] | data[pos + 1] << 8);
    if (unit != 0) {
      item.push_back(unit);
      continue;
    }
    items.push_back(qp::Utf16ToUtf8(item));
    item.clear();
  }
  if (!item.empty())
    items.push_back(qp::Utf16ToUtf8(item)); // the last string had no NUL
  else if (!items.empty() && items.back().empty())
    items.pop_back(); // the list terminator
  return items;
}

// The list without every item equal (case-sensitive) to target: multi
// strings item by item, the string kinds split at ";" outside quotes and
// joined by ";" again. The data keeps its kind.
qp::Bytes WithoutListItem(std::uint32_t type, const qp::Bytes &data, const std::string &target) {
  const bool multi = ValueKindOf(type) == vkMultiString;
  std::vector<std::string> items;
  if (multi) {
    items = MultiStringItems(data);
  } else {
    const std::string text = DataToText(type, data);
    items = SplitQuotedList(text, text.size());
  }
  std::erase(items, target);
  if (!multi) {
    std::string joined;
    for (std::size_t i = 0; i < items.size(); ++i)
      joined += (i > 0 ? ";" : "") + items[i];
    return Utf16Z(joined);
  }
  qp::Bytes rebuilt;
  for (const std::string &item : items) {
    const qp::Bytes part = Utf16Z(item);
    rebuilt.insert(rebuilt.end(), part.begin(), part.end());
  }
  rebuilt.push_back(0);
  rebuilt.push_back(0);
  return rebuilt;
}

// Removes the letters of "MRUList" that name no value; the value keeps its
// type. Rewritten also when nothing had to change.
[[nodiscard]] bool RewriteMruList(qp::HKey key, std::string &errorText) {
  std::uint32_t type = 0;
  qp::Bytes data;
  long st = Reg().QueryValue(key, kMruList, &type, &data, nullptr);
  if (st == wc::ErrorSuccess) {
    const std::u16string letters = qp::Utf8ToUtf16(CutAtNul(DataToText(type, data)));
    std::u16string kept;
    for (const char16_t letter : letters)
      if (ValueExists(key, qp::Utf16ToUtf8(std::u16string(1, letter))))
        kept += letter;
    st = Reg().SetValue(key, kMruList, type, Utf16Z(qp::Utf16ToUtf8(kept)));
  }
  if (st == wc::ErrorSuccess)
    return true;
  errorText = "DoRebuildMRUList: " + SysErrorMessage(st);
  return false;
}

// ---- the actions

// No backup, no index line: the recycle bin is the file's undo.
bool RecycleFile(const TRegError &error, std::string &errorText) {
  if (Files().GetAttributes(error.KeyPath) == wc::InvalidFileAttributes)
    return true;
  // Only fixed drives have a recycle bin; elsewhere the shell would delete
  // the file for good.
  if (!IsOnFixedDrive(error.KeyPath)) {
    errorText = "SHRecycleFile: " + error.KeyPath +
                " is not on a fixed drive and cannot go to the recycle bin";
    return false;
  }
  const long result = Files().RecycleFile(error.KeyPath);
  if (result == 0)
    return true;
  errorText = "SHRecycleFile: " + std::to_string(result);
  return false;
}

// Backup: the registry editor's export of the key tree. Snapshot: the tree.
// Change: the tree goes. Protected keys are refused before anything is
// written.
bool DeleteKey(const TRepairJob &job) {
  const TUndoKey &key = job.key;
  if (IsProtectedKey(key.root, key.path)) {
    job.errorText = ProtectedKeyError(key.root, key.path);
    return false;
  }
  TKeyTreeSnapshot before(key);
  return job.Run(
      {.backup = KeyTreeBackup(key), .snapshot = before, .change = [&](std::string &errorText) {
         return DeleteKeyTree(errorText, key.root, key.view, key.path);
       }});
}

// What a value's deletion does with a key it leaves empty.
enum class TEmptyKey { Keep, Delete };

// Backup and snapshot: the value. Change: the value goes; then, when asked,
// the key too when that left it empty.
bool DeleteValue(const TRepairJob &job, ScopedKey &key, TEmptyKey emptyKey) {
  const std::string &name = job.error.ValueName;
  if (!ValueExists(key.Get(), name))
    return true;
  TValueSnapshot before(key, {name});
  return job.Run({.backup = ValuesBackup(job.key, key, {name}),
                  .snapshot = before,
                  .change = [&](std::string &errorText) {
                    if (!DeleteNamedValue(key.Get(), name, errorText))
                      return false;
                    if (emptyKey == TEmptyKey::Delete) {
                      key.Reset(); // the key is deleted through a handle of its own
                      DeleteKeyIfEmpty(job.key);
                    }
                    return true;
                  }});
}

// Backup and snapshot: the list value. Change: the list without the target.
// Values that are gone or no string list are left alone; a list too big to
// back up is left alone too, and that is no repair.
bool RemoveListItem(const TRepairJob &job, const ScopedKey &key) {
  const std::string &name = job.error.ValueName;
  std::uint32_t type = 0;
  qp::Bytes data;
  if (Reg().QueryValue(key.Get(), name, &type, &data, nullptr) != wc::ErrorSuccess ||
      !IsStringKind(ValueKindOf(type)))
    return true;
  if (data.size() > MaxExportDataSize) {
    job.errorText = "RemoveListItem: the value holds " + std::to_string(data.size()) +
                    " bytes, more than a backup can hold (" + std::to_string(MaxExportDataSize) +
                    "); it is left as it is";
    return false;
  }
  TValueSnapshot before(key, {name});
  return job.Run({.backup = ValuesBackup(job.key, key, {name}),
                  .snapshot = before,
                  .change = [&](std::string &errorText) {
                    return SetNamedValue(key.Get(), name, type,
                                         WithoutListItem(type, data, job.error.Target), errorText);
                  }});
}

// Backup: the value, or, when the value does not exist and is created, a
// file that deletes it again. Snapshot: the value. Change: the value
// becomes the empty REG_SZ string.
bool ClearValue(const TRepairJob &job, const ScopedKey &key) {
  const std::string &name = job.error.ValueName;
  TValueSnapshot before(key, {name});
  return job.Run({.backup = ValueExists(key.Get(), name) ? ValuesBackup(job.key, key, {name})
                                                         : CreatedValueBackup(job.key, name),
                  .snapshot = before,
                  .change = [&](std::string &errorText) {
                    return SetNamedValue(key.Get(), name, wc::RegSz, qp::Bytes{0, 0}, errorText);
                  }});
}

// Backup and snapshot: "MRUList". Change: its letters that name no value
// go. A key without a string "MRUList" is left alone.
bool RebuildMruList(const TRepairJob &job, const ScopedKey &key) {
  std::uint32_t type = 0;
  qp::Bytes data;
  if (Reg().QueryValue(key.Get(), kMruList, &type, &data, nullptr) != wc::ErrorSuccess ||
      (ValueKindOf(type) != vkString && ValueKindOf(type) != vkExpandString))
    return true;
  const std::string list(kMruList);
  TValueSnapshot before(key, {list});
  return job.Run(
      {.backup = ValuesBackup(job.key, key, {list}),
       .snapshot = before,
       .change = [&](std::string &errorText) { return RewriteMruList(key.Get(), errorText); }});
}

// Backup and snapshot: the item, then "MRUList", in one file. Change: the
// item goes and, when "MRUList" is a string, its letter with it.
bool DeleteMruItem(const TRepairJob &job, const ScopedKey &key) {
  const std::string &name = job.error.ValueName;
  if (!ValueExists(key.Get(), name) || !ValueExists(key.Get(), kMruList))
    return true;
  const std::vector<std::string> names = {name, std::string(kMruList)};
  constexpr std::size_t kListIndex = 1;
  TValueSnapshot before(key, names);
  return job.Run({.backup = ValuesBackup(job.key, key, names),
                  .snapshot = before,
                  .change = [&](std::string &errorText) {
                    if (!DeleteNamedValue(key.Get(), name, errorText))
                      return false;
                    const TUndoValueState &list = before.Before(kListIndex);
                    const bool listIsString =
                        list.value && IsStringKind(ValueKindOf(list.value->first));
                    return !listIsString || RewriteMruList(key.Get(), errorText);
                  }});
}

} // namespace

bool TRegScanner::AppendIndexLine(const std::string &backupFile, const TRegError &error) {
  return AppendUndoIndexLine(backupFile, UndoIndexEntry(error.RootKey, error.KeyPath));
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
  if (error.Repaired())
    return true;
  if (error.Action == raRecycleFile)
    return RecycleFile(error, errorText);
  if (!IsRegistryAction(error.Action))
    return false;
  const TUndoKey key{
      .root = error.RootKey, .view = error.View64 != 0 ? rv64 : rv32, .path = error.KeyPath};
  if (!KeyExists(key.root, key.view, key.path))
    return true;
  const TUndoFolder undo{.root = undoFolder_, .clock = undoClock_};
  const TRepairJob job{.error = error, .key = key, .undo = undo, .errorText = errorText};
  if (error.Action == raDeleteKey)
    return DeleteKey(job);

  ScopedKey open;
  if (!OpenKeyFull(key.root, key.view, key.path, open, errorText))
    return false;
  switch (error.Action) {
  case raDeleteValue:
    return DeleteValue(job, open, TEmptyKey::Keep);
  case raDeleteValueAndEmptyKey:
    return DeleteValue(job, open, TEmptyKey::Delete);
  case raRemoveListItem:
    return RemoveListItem(job, open);
  case raClearValue:
    return ClearValue(job, open);
  case raRebuildMRUList:
    return RebuildMruList(job, open);
  case raDeleteMRUItem:
    return DeleteMruItem(job, open);
  default:
    return false;
  }
}

} // namespace quenlo
