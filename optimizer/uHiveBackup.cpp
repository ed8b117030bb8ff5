#include "optimizer/uHiveBackup.h"

#include <algorithm>
#include <iterator>
#include <set>
#include <utility>

#include "optimizer/uHiveFolder.h"
#include "optimizer/uHiveTrial.h"
#include "paths/uSysUtils.h"
#include "platform/FileOps.h"
#include "platform/Guards.h"
#include "platform/PathText.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "registry/uRegAccess.h"

namespace quenlo {

namespace {

constexpr std::string_view kHiveListKey = "SYSTEM\\CurrentControlSet\\Control\\hivelist";
constexpr std::string_view kBackupPrivilege = "SeBackupPrivilege";
constexpr std::string_view kRestorePrivilege = "SeRestorePrivilege";
// Administrators and SYSTEM only, inherited by every file made inside and
// nothing inherited from above: a hive holds password hashes and secrets.
constexpr std::string_view kBackupFolderDacl = "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
constexpr std::string_view kOldHiveSuffix = ".BAK";

qp::IRegistry &Reg() {
  return qp::Platform().Registry();
}

qp::IFileSystem &Files() {
  return qp::Platform().Files();
}

std::string CallError(std::string_view call, long status) {
  return std::string(call) + ": " + SysErrorMessage(status);
}

THiveOutcome OutcomeOf(std::size_t index, const THiveRecord &hive) {
  THiveOutcome outcome;
  outcome.fileName = std::to_string(index);
  outcome.root = hive.root;
  outcome.keyPath = hive.keyPath;
  outcome.size = hive.size;
  return outcome;
}

void Report(const THiveProgress &progress, std::uint64_t total, std::uint64_t done) {
  if (progress)
    progress(total, done);
}

// Removes what a refused save may have left (the model and Windows both
// can leave an empty file behind).
void RemoveQuietly(const std::string &path) {
  qp::IgnoreResult(Files().DeleteFile(path));
}

} // namespace

bool GetHiveList(THiveArray &hives) {
  hives.clear();
  // The list is a fact of the system, so it is read in the 64-bit view
  // also from a 32-bit process (on 32-bit Windows the view bit is ignored).
  TRegistryAccess reg(wc::KeyRead);
  reg.SetView(rv64);
  reg.SetRootKey(wc::HkeyLocalMachine);
  if (!reg.OpenKey(kHiveListKey, false))
    return false;
  std::vector<std::string> names;
  if (!reg.GetValueNames(names))
    return false;
  for (const std::string &name : names) {
    std::string keyPath = name;
    const std::uint32_t root = NativeKeyToRoot(keyPath);
    // One component directly below the machine or the users: deeper
    // names ("\REGISTRY\USER\S-1-5-21-x\Sub") are not hives of their own.
    if (root == 0 || keyPath.empty() || keyPath.find('\\') != std::string::npos)
      continue;
    // Volatile hives (HARDWARE) have no file: their data is empty.
    const std::string device = reg.ReadString(name);
    if (device.empty())
      continue;
    const std::string file = DevicePathToDosPath(device);
    if (file.empty() || !FileExistsNoRedirect(file))
      continue;
    hives.push_back(THiveRecord{root, keyPath, file, FileSizeNoRedirect(file)});
  }
  return !hives.empty();
}

long ProtectHiveFolder(std::string_view folder) {
  return Files().SetFileSecurity(qp::WithoutTrailingBackslash(folder), wc::DaclSecurityInformation,
                                 kBackupFolderDacl);
}

bool THiveBackupResult::Complete() const {
  return errorText.empty() && !stopped && !hives.empty() && saved == static_cast<int>(hives.size());
}

namespace {

// Saves one hive to its file; the outcome says how it went.
void SaveHive(const THiveRecord &hive, const std::string &file, THiveOutcome &outcome) {
  ScopedKey key;
  if (const long st =
          Reg().OpenKey(hive.root, hive.keyPath, wc::KeyRead | ViewFlag(rv64), key.Out())) {
    outcome.errorText = CallError("RegOpenKeyEx", st);
    return;
  }
  // RegSaveKey does not overwrite on Windows: a file of an earlier backup
  // in the same folder goes first.
  if (const long st = Files().DeleteFile(file);
      st != wc::ErrorSuccess && st != wc::ErrorFileNotFound) {
    outcome.errorText = CallError("DeleteFile", st);
    return;
  }
  if (const long st = Reg().SaveKey(key.Get(), file)) {
    outcome.errorText = CallError("RegSaveKey", st);
    RemoveQuietly(file);
    return;
  }
  outcome.size = FileSizeNoRedirect(file);
  outcome.done = true;
}

// Loads the saved file back once: a file that does not load is no backup,
// and the live top-level keys it lacks are volatile ones the check must
// not miss later.
void VerifySavedHive(const THiveRecord &hive, const std::string &file, THiveOutcome &outcome,
                     std::set<std::string> &volatileKeys) {
  std::set<std::string> live;
  std::set<std::string> saved;
  std::string errorText;
  if (!LiveTopKeys(hive.root, hive.keyPath, live, errorText) ||
      !SavedTopKeys(file, saved, errorText)) {
    outcome.done = false;
    outcome.errorText = "the saved file does not load: " + errorText;
    RemoveQuietly(file);
    return;
  }
  volatileKeys.clear();
  std::set_difference(live.begin(), live.end(), saved.begin(), saved.end(),
                      std::inserter(volatileKeys, volatileKeys.end()));
  // The size the identity file records is the one after the load: Windows
  // may rewrite a hive's header when it mounts and unmounts it.
  outcome.size = FileSizeNoRedirect(file);
}

// Creates the folder (with its parents) and protects it before anything
// is written into it. `created` tells whether it was not there before.
bool PrepareBackupFolder(const std::string &folder, bool &created, std::string &errorText) {
  created = !qp::FolderExists(folder);
  long st = 0;
  if (!qp::ForceDirectories(folder, st)) {
    errorText = CallError("CreateDirectory", st != 0 ? st : wc::ErrorPathNotFound);
    return false;
  }
  if (HiveReplacementPending(folder)) {
    // Its files are what Windows loads at the next start.
    errorText = "the folder " + folder + " holds hive replacements waiting for a restart";
    return false;
  }
  st = ProtectHiveFolder(folder);
  if (st != wc::ErrorSuccess) {
    errorText = CallError("SetFileSecurity", st);
    if (created)
      qp::IgnoreResult(ShellDeleteFile(folder, false));
    return false;
  }
  // An old list must never describe the new files of a backup that
  // stops half-way; a marker of a finished restart means nothing here.
  for (const char *title : {kHiveListFile, kHiveInfoFile, kHiveMarkerFile})
    RemoveQuietly(HiveFolderPath(folder, title));
  return true;
}

} // namespace

bool BackupHives(const THiveBackupRequest &request, THiveBackupResult &result) {
  result = THiveBackupResult{};
  THiveArray hives;
  if (!GetHiveList(hives)) {
    result.errorText = "no loaded hive found in the hive list";
    return false;
  }
  for (std::size_t i = 0; i < hives.size(); ++i)
    result.hives.push_back(OutcomeOf(i, hives[i]));

  // Saving needs the backup privilege, loading the saved file back the
  // restore privilege.
  const qp::TPrivilegeScope privilege(kBackupPrivilege);
  const qp::TPrivilegeScope loadPrivilege(kRestorePrivilege);
  for (const qp::TPrivilegeScope *scope : {&privilege, &loadPrivilege})
    if (!scope->Held()) {
      result.errorText = CallError("AdjustTokenPrivileges", scope->Status());
      return false;
    }
  const std::string folder = qp::WithoutTrailingBackslash(request.folder);
  bool created = false;
  if (!PrepareBackupFolder(folder, created, result.errorText))
    return false;

  std::uint64_t total = 0;
  for (const THiveRecord &hive : hives)
    total += hive.size;
  Report(request.progress, total, 0);
  std::uint64_t done = 0;
  TVolatileKeys volatileKeys;
  for (std::size_t i = 0; i < hives.size(); ++i) {
    THiveOutcome &outcome = result.hives[i];
    if (request.terminate != nullptr && request.terminate->load()) {
      result.stopped = true;
      for (std::size_t rest = i; rest < hives.size(); ++rest)
        result.hives[rest].errorText = "the backup was stopped before this hive";
      break;
    }
    // Counted before the save, so that a hive that fails still advances.
    done += hives[i].size;
    const std::string file = HiveFolderPath(folder, outcome.fileName);
    SaveHive(hives[i], file, outcome);
    if (outcome.done)
      VerifySavedHive(hives[i], file, outcome, volatileKeys[outcome.fileName]);
    if (outcome.done)
      ++result.saved;
    Report(request.progress, total, done);
  }
  Report(request.progress, total, total);

  if (result.saved > 0) {
    const THiveFolderLists lists = MakeHiveFolderLists(result.hives, volatileKeys, HiveClock()());
    std::string failedCall;
    for (const auto &[title, text] :
         {std::pair{kHiveListFile, &lists.hiveList}, std::pair{kHiveInfoFile, &lists.backupInfo}}) {
      if (const long st =
              qp::ReplaceFileContent(HiveFolderPath(folder, title), *text, &failedCall)) {
        result.errorText = std::string(title) + ": " + CallError(failedCall, st);
        result.saved = 0;
        for (THiveOutcome &outcome : result.hives)
          if (outcome.done) {
            outcome.done = false;
            outcome.errorText = "the folder's lists could not be written";
          }
        break;
      }
    }
  }
  if (result.saved == 0) {
    // Without a hive (or without its lists) nothing here can be restored.
    if (created)
      qp::IgnoreResult(ShellDeleteFile(folder, false));
    else {
      for (const THiveOutcome &outcome : result.hives)
        RemoveQuietly(HiveFolderPath(folder, outcome.fileName));
      for (const char *title : {kHiveListFile, kHiveInfoFile})
        RemoveQuietly(HiveFolderPath(folder, title));
    }
    if (result.errorText.empty())
      result.errorText = "no hive could be saved";
    return false;
  }
  return true;
}

std::string HiveCompareReasonText(THiveCompareReason reason) {
  switch (reason) {
  case hcRegistryMissing:
    return "\"registry missing\"";
  case hcBackupMissing:
    return "\"backup registry missing\"";
  case hcBackupLarger:
    return "\"backup is larger than current registry\"";
  case hcOk:
    break;
  }
  return {};
}

bool CompareHiveBackup(std::string_view folder, THiveComparison &comparison) {
  comparison = THiveComparison{};
  THiveArray hives;
  qp::IgnoreResult(GetHiveList(hives));
  std::string text;
  if (ReadHiveFolderText(HiveFolderPath(folder, kHiveListFile), text).empty()) {
    for (const THiveListLine &line : SplitHiveList(text)) {
      THiveListEntry entry;
      // Only well-formed lines count: their file name is a plain index.
      if (!ParseHiveListLine(line.text, entry, nullptr))
        continue;
      const auto live = std::find_if(hives.begin(), hives.end(), [&](const THiveRecord &hive) {
        return hive.root == entry.root &&
               qp::UpperAscii(hive.keyPath) == qp::UpperAscii(entry.keyPath);
      });
      if (live == hives.end())
        continue;
      const std::uint64_t current = FileSizeNoRedirect(live->file);
      const std::uint64_t saved = FileSizeNoRedirect(HiveFolderPath(folder, entry.fileName));
      if (current != 0 && saved != 0) {
        comparison.current += current;
        comparison.backup += saved;
      }
    }
  }
  if (comparison.current < comparison.backup)
    comparison.reason = hcBackupLarger;
  else if (comparison.backup == 0)
    comparison.reason = hcBackupMissing;
  else if (comparison.current == 0)
    comparison.reason = hcRegistryMissing;
  return comparison.reason == hcOk;
}

bool THiveRestoreResult::Complete() const {
  return errorText.empty() && !hives.empty() && replaced == static_cast<int>(hives.size());
}

bool RestoreHives(std::string_view folder, const THiveProgress &progress,
                  THiveRestoreResult &result) {
  result = THiveRestoreResult{};
  if (HiveReplacementPending(folder)) {
    // Windows has not taken the last replacements of this folder yet.
    result.errorText =
        "the folder " + std::string(folder) + " holds hive replacements waiting for a restart";
    return false;
  }
  THiveBackupCheck check;
  if (!CheckHiveBackup(folder, check)) {
    result.errorText = check.errorText;
    return false;
  }
  const qp::TPrivilegeScope privilege(kRestorePrivilege);
  if (!privilege.Held()) {
    result.errorText = CallError("AdjustTokenPrivileges", privilege.Status());
    return false;
  }
  std::uint64_t total = 0;
  for (const THiveBackupEntry &entry : check.entries)
    total += entry.size;
  Report(progress, total, 0);
  std::uint64_t done = 0;
  for (const THiveBackupEntry &entry : check.entries) {
    THiveOutcome outcome;
    outcome.fileName = entry.fileName;
    outcome.root = entry.root;
    outcome.keyPath = entry.keyPath;
    outcome.size = entry.size;
    const std::string oldFile = entry.file + std::string(kOldHiveSuffix);
    ScopedKey root;
    if (const long st = Files().DeleteFile(oldFile);
        st != wc::ErrorSuccess && st != wc::ErrorFileNotFound) {
      outcome.errorText = CallError("DeleteFile", st);
    } else if (const long open =
                   Reg().OpenKey(entry.root, "", wc::KeyRead | ViewFlag(rv64), root.Out())) {
      outcome.errorText = CallError("RegOpenKeyEx", open);
    } else if (const long st = Reg().ReplaceKey(root.Get(), entry.keyPath, entry.file, oldFile)) {
      outcome.errorText = CallError("RegReplaceKey", st);
    } else {
      outcome.done = true;
      ++result.replaced;
      done += entry.size;
      Report(progress, total, done);
    }
    result.hives.push_back(std::move(outcome));
  }
  Report(progress, total, total);
  if (result.replaced > 0) {
    std::string failedCall;
    const std::string marker =
        MakeReplacementMarker(HiveClock()(), qp::Platform().System().TickCount());
    if (const long st =
            qp::ReplaceFileContent(HiveFolderPath(folder, kHiveMarkerFile), marker, &failedCall))
      result.errorText = std::string(kHiveMarkerFile) + ": " + CallError(failedCall, st);
  }
  return result.Complete();
}

bool HiveReplacementPending(std::string_view folder) {
  const std::string path = HiveFolderPath(folder, kHiveMarkerFile);
  if (!FileExistsNoRedirect(path))
    return false;
  std::string text;
  if (!ReadHiveFolderText(path, text).empty())
    return true;
  return ReplacementStillPending(text, HiveClock()(), qp::Platform().System().TickCount());
}

} // namespace quenlo
