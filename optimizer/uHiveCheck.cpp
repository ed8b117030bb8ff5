// CheckHiveBackup: everything a restore must know about a folder before a
// single file goes to RegReplaceKey. The checks run from the cheapest to the
// one that touches the registry (the trial load), and the first failure
// refuses the whole folder.
#include <algorithm>
#include <iterator>
#include <set>

#include "optimizer/uHiveBackup.h"
#include "optimizer/uHiveFolder.h"
#include "optimizer/uHiveTrial.h"
#include "platform/Guards.h"
#include "platform/PathText.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "registry/uRegAccess.h"

namespace quenlo {

namespace {

constexpr std::string_view kRestorePrivilege = "SeRestorePrivilege";
constexpr std::uint32_t kFileAttributeReparsePoint = 0x400;
// Names listed in a message about differing keys.
constexpr std::size_t kNamesShown = 5;

std::string CallError(std::string_view call, long status) {
  return std::string(call) + ": " + SysErrorMessage(status);
}

std::string Upper(std::string_view text) {
  return qp::UpperAscii(text);
}

std::string NameList(const std::vector<std::string> &names) {
  std::string text;
  for (std::size_t i = 0; i < names.size() && i < kNamesShown; ++i)
    text += (i == 0 ? "" : ", ") + names[i];
  if (names.size() > kNamesShown)
    text += " and " + std::to_string(names.size() - kNamesShown) + " more";
  return text;
}

// "" when both sets are equal, else what differs.
std::string KeySetDifference(const std::set<std::string> &live,
                             const std::set<std::string> &saved) {
  std::vector<std::string> onlyLive;
  std::vector<std::string> onlySaved;
  std::set_difference(live.begin(), live.end(), saved.begin(), saved.end(),
                      std::back_inserter(onlyLive));
  std::set_difference(saved.begin(), saved.end(), live.begin(), live.end(),
                      std::back_inserter(onlySaved));
  std::string text;
  if (!onlyLive.empty())
    text += "keys missing from the backup: " + NameList(onlyLive);
  if (!onlySaved.empty())
    text +=
        std::string(text.empty() ? "" : "; ") + "keys only in the backup: " + NameList(onlySaved);
  return text;
}

// Mounts the file for a moment and compares its top-level keys with the
// live hive's: equal sets, but for the live volatile keys the backup
// recorded (a save leaves them out).
bool TrialLoad(const THiveBackupEntry &entry, const std::set<std::string> &volatileKeys,
               std::string &errorText) {
  std::set<std::string> live;
  if (!LiveTopKeys(entry.root, entry.keyPath, live, errorText))
    return false;
  for (const std::string &name : volatileKeys)
    live.erase(name);
  std::set<std::string> saved;
  if (!SavedTopKeys(entry.file, saved, errorText))
    return false;
  errorText = KeySetDifference(live, saved);
  return errorText.empty();
}

// The file folder + name must be a non-empty regular file of the folder.
bool ProbeHiveFile(const std::string &path, std::string_view name, std::uint64_t &size,
                   std::string &why) {
  qp::FindData found;
  const std::optional<bool> wow64 = qp::Platform().System().IsWow64Process();
  {
    const qp::TFsViewSwitch view(wow64.value_or(false));
    long error = 0;
    if (qp::Platform().Files().FindFirst(path, found, &error) == nullptr) {
      why = "is missing";
      return false;
    }
  }
  if (Upper(found.name) != Upper(name) ||
      (found.attributes & (wc::FileAttributeDirectory | kFileAttributeReparsePoint)) != 0) {
    why = "is not a plain file";
    return false;
  }
  if (found.size == 0) {
    why = "is empty";
    return false;
  }
  size = found.size;
  return true;
}

struct TParsedList {
  std::vector<THiveBackupEntry> entries;
  std::vector<int> lineNumbers;
};

bool ParseList(std::string_view folder, const THiveArray &hives, TParsedList &parsed,
               std::string &errorText) {
  std::string text;
  if (std::string why = ReadHiveFolderText(HiveFolderPath(folder, kHiveListFile), text);
      !why.empty()) {
    errorText = why;
    return false;
  }
  std::set<std::string> keys;
  std::set<std::string> files;
  for (const THiveListLine &line : SplitHiveList(text)) {
    const std::string where = std::string(kHiveListFile) + " line " + std::to_string(line.number) +
                              " \"" + line.text + "\": ";
    THiveListEntry entry;
    std::string why;
    if (!ParseHiveListLine(line.text, entry, &why)) {
      errorText = where + why;
      return false;
    }
    const std::string key = std::to_string(entry.root) + "\\" + Upper(entry.keyPath);
    if (!keys.insert(key).second) {
      errorText = where + "the hive is listed twice";
      return false;
    }
    if (!files.insert(entry.fileName).second) {
      errorText = where + "the file " + entry.fileName + " is listed twice";
      return false;
    }
    const bool isLive = std::any_of(hives.begin(), hives.end(), [&](const THiveRecord &hive) {
      return hive.root == entry.root && Upper(hive.keyPath) == Upper(entry.keyPath);
    });
    if (!isLive) {
      errorText = where + "no such hive is loaded";
      return false;
    }
    THiveBackupEntry checked;
    checked.fileName = entry.fileName;
    checked.root = entry.root;
    checked.keyPath = entry.keyPath;
    checked.file = HiveFolderPath(folder, entry.fileName);
    if (!ProbeHiveFile(checked.file, entry.fileName, checked.size, why)) {
      errorText = "file " + checked.file + " " + why;
      return false;
    }
    parsed.entries.push_back(std::move(checked));
    parsed.lineNumbers.push_back(line.number);
  }
  if (parsed.entries.empty()) {
    errorText = std::string(kHiveListFile) + " names no hive";
    return false;
  }
  return true;
}

bool CheckIdentity(std::string_view folder, const std::vector<THiveBackupEntry> &entries,
                   THiveBackupInfo &info, std::string &errorText) {
  const std::string infoTitle = kHiveInfoFile;
  std::string text;
  if (std::string why = ReadHiveFolderText(HiveFolderPath(folder, kHiveInfoFile), text);
      !why.empty()) {
    errorText = why;
    return false;
  }
  if (std::string why; !ParseBackupInfo(text, info, why)) {
    errorText = infoTitle + ": " + why;
    return false;
  }
  const std::string machine = MachineIdentity();
  if (machine.empty()) {
    errorText = "this machine's MachineGuid cannot be read";
    return false;
  }
  if (Upper(info.machine) != Upper(machine)) {
    errorText = infoTitle + " names another machine (" + info.machine + ")";
    return false;
  }
  for (const THiveBackupEntry &entry : entries) {
    const auto it = info.sizes.find(entry.fileName);
    if (it == info.sizes.end()) {
      errorText = infoTitle + " has no size for file " + entry.fileName;
      return false;
    }
    if (it->second != entry.size) {
      errorText = "file " + entry.file + " has " + std::to_string(entry.size) +
                  " bytes, the backup saved " + std::to_string(it->second);
      return false;
    }
  }
  // A size for a file the list does not name: lines were lost.
  if (info.sizes.size() != entries.size()) {
    errorText = infoTitle + " names more files than " + std::string(kHiveListFile) + " lists";
    return false;
  }
  return true;
}

} // namespace

bool CheckHiveBackup(std::string_view folder, THiveBackupCheck &check) {
  check = THiveBackupCheck{};
  const std::string base = qp::WithoutTrailingBackslash(folder);
  THiveArray hives;
  if (!GetHiveList(hives)) {
    check.errorText = "no loaded hive found in the hive list";
    return false;
  }
  TParsedList parsed;
  if (!ParseList(base, hives, parsed, check.errorText))
    return false;
  THiveBackupInfo info;
  if (!CheckIdentity(base, parsed.entries, info, check.errorText))
    return false;
  const qp::TPrivilegeScope privilege(kRestorePrivilege);
  if (!privilege.Held()) {
    check.errorText = CallError("AdjustTokenPrivileges", privilege.Status());
    return false;
  }
  static const std::set<std::string> kNone;
  for (const THiveBackupEntry &entry : parsed.entries) {
    const auto volatileKeys = info.volatileKeys.find(entry.fileName);
    if (std::string why; !TrialLoad(
            entry, volatileKeys != info.volatileKeys.end() ? volatileKeys->second : kNone, why)) {
      check.errorText = "file " + entry.file + " (" + RootKeyLongName(entry.root) + "\\" +
                        entry.keyPath + "): " + why;
      return false;
    }
  }
  check.entries = std::move(parsed.entries);
  return true;
}

} // namespace quenlo
