#include "cleaner/uItemTools.h"

#include <vector>

#include "cleaner/uCleanFiles.h"
#include "cleaner/uCleanItems.h"
#include "platform/FileOps.h"
#include "platform/PathText.h"
#include "platform/ScopedKey.h"
#include "platform/Utf.h"

namespace quenlo {

namespace {

constexpr long kErrorLockViolation = 33;
constexpr std::string_view kIndexFileName = "index.dat";

qp::IFileSystem &Files() {
  return qp::Platform().Files();
}

// DeleteFile, clearing a read-only attribute first when that is what
// refused it (as the shell delete does), so that what an analysis lists a
// clean can remove.
long ForceDelete(std::string_view path) {
  const std::uint32_t attributes = Files().GetAttributes(path);
  if (attributes == wc::InvalidFileAttributes)
    return PlainDelete(path); // its status says why
  return RemoveEntry(std::string(path), attributes & ~wc::FileAttributeDirectory);
}

bool FolderIsEmpty(std::string_view folder) {
  qp::FindData entry;
  std::unique_ptr<qp::IFindHandle> find = Files().FindFirst(std::string(folder) + "\\*", entry);
  if (!find)
    return true;
  do {
    if (entry.name != "." && entry.name != "..")
      return false;
  } while (find->Next(entry));
  return true;
}

bool RecordsInUse(const TFileRules &rules, std::string_view fullPath) {
  switch (rules.filesInUse) {
  case irAll:
    return true;
  case irIndexDat: {
    const std::size_t slash = fullPath.find_last_of('\\');
    const std::string_view name =
        slash == std::string_view::npos ? fullPath : fullPath.substr(slash + 1);
    return qp::EqualsNoCase(name, kIndexFileName);
  }
  default:
    return false;
  }
}

void KeepInUse(TCleanPass &pass, TCleanCategory category, const std::string &fullPath,
               std::string name, const TFileRules &rules) {
  if (!pass.Reporting() && RecordsInUse(rules, fullPath))
    pass.AddFileInUse(fullPath);
  pass.AddKept(category, std::move(name), std::string(kReasonInUse));
}

std::string FindingName(const TCleanPass &pass, const std::string &fullPath,
                        const TFileRules &rules) {
  return rules.fullNames ? fullPath : RelativeName(pass.BasePath, fullPath);
}

// A failure of a removal: in use is kept, gone is nothing, else a failure.
void RecordRemoval(TCleanPass &pass, TCleanCategory category, const std::string &fullPath,
                   long status, const TFileRules &rules) {
  if (status == wc::ErrorSuccess || IsGoneStatus(status))
    return;
  std::string name = FindingName(pass, fullPath, rules);
  if (status == kErrorLeadsElsewhere)
    pass.AddKept(category, std::move(name), std::string(kReasonLink));
  else if (IsInUseStatus(status))
    KeepInUse(pass, category, fullPath, std::move(name), rules);
  else
    pass.AddFailure(category, std::move(name), ReasonForStatus(status));
}

void ShellRemove(TCleanPass &pass, TCleanCategory category, const std::string &path,
                 const TFileRules &rules) {
  qp::IgnoreResult(ShellDelete(path, [&](const std::string &failed, long status) {
    RecordRemoval(pass, category, failed, status, rules);
  }));
}

} // namespace

TPassKey::TPassKey(TCleanPass &pass, std::string_view path) : reg_(pass.Registry().Access()) {
  reg_.SetRootKey(wc::HkeyCurrentUser);
  reg_.SetView(pass.Registry().View());
  status_ = reg_.OpenKey("\\" + std::string(path), false) ? wc::ErrorSuccess : reg_.LastStatus();
}

bool OpenCategoryKey(TCleanPass &pass, TCleanCategory category, TPassKey &key,
                     std::string_view path) {
  if (key.IsOpen()) {
    pass.MarkFound(category);
    return true;
  }
  if (!IsGoneStatus(key.Status()))
    pass.AddFailure(category, KeyFinding(path), ReasonForStatus(key.Status()));
  return false;
}

long DeleteKeyTreeStatus(std::string_view path) {
  if (path.find_first_not_of('\\') == std::string_view::npos)
    return wc::ErrorInvalidParameter; // never the hive's root
  qp::IRegistry &reg = qp::Platform().Registry();
  const std::uint32_t flag = ViewFlag(rv32);
  {
    qp::ScopedKey key;
    long status = reg.OpenKey(wc::HkeyCurrentUser, path, wc::KeyAllAccess | flag, key.Out());
    if (status != wc::ErrorSuccess)
      return status;
    qp::KeyInfo info;
    status = reg.QueryInfoKey(key.Get(), info);
    if (status != wc::ErrorSuccess)
      return status;
    std::vector<std::string> names;
    std::string name;
    for (std::uint32_t index = 0;; ++index) {
      status = reg.EnumKey(key.Get(), index, info.maxSubKeyLen + 1, name);
      if (status == wc::ErrorNoMoreItems)
        break;
      if (status != wc::ErrorSuccess)
        return status;
      names.push_back(name);
    }
    for (const std::string &sub : names) {
      status = DeleteKeyTreeStatus(std::string(path) + "\\" + sub);
      if (status != wc::ErrorSuccess && !IsGoneStatus(status))
        return status;
    }
  }
  return reg.HasDeleteKeyEx() ? reg.DeleteKeyEx(wc::HkeyCurrentUser, path, flag)
                              : reg.DeleteKey(wc::HkeyCurrentUser, path);
}

void RecordDeleteStatus(TCleanPass &pass, TCleanCategory category, std::string name, long status) {
  if (status != wc::ErrorSuccess && !IsGoneStatus(status))
    pass.AddFailure(category, std::move(name), ReasonForStatus(status));
}

bool IsInUseStatus(long status) {
  return status == wc::ErrorSharingViolation || status == kErrorLockViolation;
}

bool IsGoneStatus(long status) {
  return status == wc::ErrorFileNotFound || status == wc::ErrorPathNotFound;
}

void HandleFile(TCleanPass &pass, TCleanCategory category, const std::string &fullPath,
                const qp::FindData &entry, const TFileRules &rules) {
  if (LeadsElsewhere(entry)) {
    // Neither opened nor removed, in either mode: both reach the target.
    pass.AddKept(category, FindingName(pass, fullPath, rules), std::string(kReasonLink));
    return;
  }
  if (IsLink(entry)) {
    // Never opened: that would reach the link's target.
    if (pass.Reporting())
      pass.AddItem(category, FindingName(pass, fullPath, rules), 0);
    else
      ShellRemove(pass, category, fullPath, rules);
    return;
  }
  const long open = Files().TestExclusiveOpen(fullPath);
  if (IsGoneStatus(open))
    return;
  if (IsInUseStatus(open)) {
    KeepInUse(pass, category, fullPath, FindingName(pass, fullPath, rules), rules);
    return;
  }
  if (pass.Reporting()) {
    pass.AddItem(category, FindingName(pass, fullPath, rules),
                 static_cast<std::int64_t>(entry.size));
    return;
  }
  if (rules.plainDelete)
    RecordRemoval(pass, category, fullPath, ForceDelete(fullPath), rules);
  else
    ShellRemove(pass, category, fullPath, rules);
}

void RemoveWalkedFolder(TCleanPass &pass, TCleanCategory category, const std::string &folder,
                        const TFileRules &rules) {
  const std::uint32_t attributes = Files().GetAttributes(folder);
  if (attributes == wc::InvalidFileAttributes)
    return;
  if ((attributes & kFileAttributeReparse) != 0) {
    ShellRemove(pass, category, folder, rules); // the link, not what it points to
    return;
  }
  if (qp::LeadsElsewhere(folder)) {
    pass.AddKept(category, FindingName(pass, folder, rules), std::string(kReasonLink));
    return;
  }
  qp::IgnoreResult(WalkFiles(folder, kAllFilesMask, false,
                             [&](const std::string &path, const qp::FindData &entry) {
                               HandleFile(pass, category, path, entry, rules);
                               return !pass.Terminated();
                             }));
  // What is still there was kept or recorded: the folder stays with it.
  if (!pass.Terminated() && FolderIsEmpty(folder))
    ShellRemove(pass, category, folder, rules);
}

bool IsRealFolder(std::string_view path) {
  const std::uint32_t attributes = Files().GetAttributes(path);
  return attributes != wc::InvalidFileAttributes &&
         (attributes & wc::FileAttributeDirectory) != 0 &&
         (attributes & kFileAttributeReparse) == 0;
}

namespace {
constexpr std::string_view kReasonFolder = "a folder, not a downloaded file";
constexpr std::string_view kReasonNotAbsolute = "not a plain absolute path";
} // namespace

bool IsPlainAbsolutePath(std::string_view path) {
  const bool drive = path.size() > 3 && path[1] == ':' && path[2] == '\\' &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  const bool share = path.size() > 4 && path[0] == '\\' && path[1] == '\\' && path[2] != '\\' &&
                     path[2] != '?' && path[2] != '.';
  if (!drive && !share)
    return false;
  std::size_t start = drive ? 3 : 2;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos)
      end = path.size();
    const std::string_view part = path.substr(start, end - start);
    if (part.empty() || part == "." || part == ".." ||
        part.find_first_of("*?\"<>|:/") != std::string_view::npos)
      return false;
    start = end + 1;
  }
  return true;
}

void HandleDownloadedFile(TCleanPass &pass, TCleanCategory category, const std::string &path) {
  if (!IsPlainAbsolutePath(path)) {
    pass.AddKept(category, path, std::string(kReasonNotAbsolute));
    return;
  }
  // A list names what the browser wrote, but a list can be forged: never
  // a file of the Windows, program or profile folder itself.
  if (!IsSafeBaseFolder(qp::FolderOf(path))) {
    pass.AddKept(category, path, std::string(kReasonUnsafeFolder));
    return;
  }
  qp::FindData entry;
  if (!Files().FindFirst(path, entry))
    return; // gone already
  if ((entry.attributes & wc::FileAttributeDirectory) != 0 && !IsLink(entry)) {
    pass.AddKept(category, path, std::string(kReasonFolder));
    return;
  }
  if (IsLink(entry) || qp::LeadsElsewhere(path)) {
    pass.AddKept(category, path, std::string(kReasonLink));
    return;
  }
  if (pass.Reporting()) {
    if (IsInUseStatus(Files().TestExclusiveOpen(path)))
      pass.AddKept(category, path, std::string(kReasonInUse));
    return;
  }
  TFileRules rules;
  rules.plainDelete = true;
  rules.fullNames = true;
  HandleFile(pass, category, path, entry, rules);
}

} // namespace quenlo
