#include "scanner/uChecksDeep.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "paths/uPaths.h"
#include "platform/PathText.h"
#include "platform/Utf.h"
#include "scanner/uSubChecks.h"
#include "scanner/uValueWalk.h"

namespace quenlo {

namespace {

constexpr std::uint32_t kHKLM = wc::HkeyLocalMachine;
constexpr std::uint32_t kHKCU = wc::HkeyCurrentUser;
constexpr std::uint32_t kFileAttributeReparsePoint = 0x400;

// Recent, desktop, common desktop, Start menu, common Start menu.
constexpr int kShortcutFolders[] = {8, 16, 25, 11, 22};
constexpr int kCommonPrograms = 23;
constexpr int kUserPrograms = 2;

constexpr std::string_view kMenuOrderKeys[] = {
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\Programs",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu2\\Programs"};

// Keys deeper than this are examined by the reference walk without progress
// (the counting pass stops there).
constexpr int kReferenceCountDepth = 7;

bool IsDots(const std::string &name) {
  return name == "." || name == "..";
}

// The entries of folder + pattern (without "." and "..").
std::vector<qp::FindData> ListFolder(const std::string &pattern) {
  std::vector<qp::FindData> entries;
  qp::FindData data;
  std::unique_ptr<qp::IFindHandle> find = qp::Platform().Files().FindFirst(pattern, data);
  if (!find)
    return entries;
  do {
    if (!IsDots(data.name))
      entries.push_back(data);
  } while (find->Next(data));
  return entries;
}

// --- shortcuts

enum class TTargetAnswer : std::uint8_t { NoTest, Found, Missing };

// A shortcut target counts only when it is a drive path.
TTargetAnswer TestShortcutTarget(const std::string &target, bool use64) {
  const std::string expanded = ExpandEnvPath(target, use64);
  const auto drive = expanded.find(":\\");
  if (drive == std::string::npos || drive == 0)
    return TTargetAnswer::NoTest;
  return ProbeFileOrFolder(expanded) ? TTargetAnswer::Found : TTargetAnswer::Missing;
}

void CheckShortcut(TScanThread &t, const std::string &file, const std::string &name) {
  qp::ShellLinkInfo link;
  if (!qp::Platform().System().ReadShellLink(file, link))
    link = {};
  TTargetAnswer answer = TestShortcutTarget(link.path, false);
  if (answer == TTargetAnswer::NoTest)
    return;
  // The program may live in the 64-bit program folder.
  if (answer == TTargetAnswer::Missing && ProcessOnWow64 &&
      TestShortcutTarget(link.path, true) == TTargetAnswer::Found)
    answer = TTargetAnswer::Found;
  if (t.CountTest(answer == TTargetAnswer::Missing))
    t.AddError(0, rv32,
               {.data = name,
                .keyPath = file,
                .target = link.path,
                .kind = ekInvalidShortcut,
                .action = raRecycleFile,
                .testId = 70});
}

// Every shortcut in the folder and, depth first, in its subfolders. Linked
// folders (junctions, symbolic links) are not entered: they may lead back
// into the tree.
void ScanShortcuts(TScanThread &t, const std::string &folderPath) {
  const std::string folder = qp::WithTrailingBackslash(folderPath);
  for (const qp::FindData &entry : ListFolder(folder + "*.lnk")) {
    if (t.Terminated())
      return;
    if ((entry.attributes & wc::FileAttributeDirectory) != 0)
      continue;
    CheckShortcut(t, folder + entry.name, entry.name);
  }
  for (const qp::FindData &entry : ListFolder(folder + "*.*")) {
    if (t.Terminated())
      return;
    if ((entry.attributes & wc::FileAttributeDirectory) == 0 ||
        (entry.attributes & kFileAttributeReparsePoint) != 0)
      continue;
    ScanShortcuts(t, folder + entry.name);
  }
}

// --- start menu order

void CheckMenuOrder(TScanThread &t, TRegistryAccess &access, bool counting,
                    const std::string &commonPrograms, const std::string &userPrograms) {
  for (const std::string_view key : kMenuOrderKeys) {
    if (t.Terminated())
      return;
    access.SetRootKey(kHKCU);
    if (!t.OpenKey(access, key))
      continue;
    if (counting) {
      t.CountSubKeys(access, 0);
      access.CloseKey();
      continue;
    }
    TRegistryAccess work(access.Access());
    CopyRootAndView(work, access);
    access.WalkSubKeys(true, 0, [&](TRegistryAccess &walker, const std::string &path) {
      if (t.Terminated())
        return wrStop;
      t.ReportProgress(path);
      if (!t.OpenCheckedKey(work, path))
        return wrDescend;
      work.CloseKey();
      // The menu folder below "Programs" that the key stands for.
      const std::string item = KeyTail(path, walker.Depth() - 1);
      const bool obsolete =
          !IsExistingFolder(commonPrograms + item) && !IsExistingFolder(userPrograms + item);
      if (!t.CountTest(obsolete))
        return wrDescend;
      t.AddError(kHKCU, access.View(),
                 {.data = item,
                  .keyPath = path,
                  .kind = ekInvalidStartMenuItem,
                  .action = raDeleteKey,
                  .testId = 71});
      return wrSkip;
    });
    access.CloseKey();
  }
}

// --- file and path references

// What the reference test looks at for an element, or nothing when the
// element is not a reference to a fixed drive.
std::optional<std::string> ReferenceText(std::string_view element, TValueKind kind, bool use64) {
  std::string text = qp::UpperAscii(element);
  if (kind == vkExpandString) {
    if (text.find("%TEMP%") != std::string::npos)
      return std::nullopt;
    text = ExpandEnvPath(text, use64);
  }
  if (text.size() < 4)
    return std::nullopt;
  const auto drive = text.find(":\\");
  if (drive == std::string::npos || drive == 0)
    return std::nullopt;
  if (!IsOnFixedDrive(std::string_view(text).substr(drive - 1, 2)))
    return std::nullopt;
  if (text.find("$WIN_NT$") != std::string::npos)
    return std::nullopt;
  return text;
}

bool ReferenceFound(const std::string &text) {
  return ProbeFileOrFolder(text) || CommandTargetExists(text);
}

// Cheap pre-test: text that has no drive path and nothing to expand into
// one cannot hold a reference.
bool MayHoldReference(std::string_view text, TValueKind kind) {
  return text.find(":\\") != std::string_view::npos ||
         (kind == vkExpandString && text.find('%') != std::string_view::npos);
}

void CheckReferenceElement(TScanThread &t, const TRegistryAccess &key, const std::string &name,
                           const std::string &element, TValueKind kind, TRegErrorKind errorKind,
                           TRepairAction action) {
  if (!MayHoldReference(element, kind))
    return;
  const std::optional<std::string> text = ReferenceText(element, kind, false);
  if (!text)
    return;
  bool missing = !ReferenceFound(*text);
  // Retried with the 64-bit program folders; only an expanded text can
  // differ from the first try.
  if (missing && ProcessOnWow64 && kind == vkExpandString) {
    const std::optional<std::string> text64 = ReferenceText(element, kind, true);
    if (text64 && *text64 != *text)
      missing = !ReferenceFound(*text64);
  }
  if (t.CountTest(missing))
    Report(t, key,
           {.data = name,
            .keyPath = key.CurrentPath(),
            .valueName = name,
            .target = element,
            .kind = errorKind,
            .action = action,
            .testId = 47});
}

// The strings of a REG_MULTI_SZ up to the first empty one.
std::vector<std::string> SplitMultiString(std::string_view data) {
  std::vector<std::string> items;
  while (!data.empty()) {
    const auto end = data.find('\0');
    const std::string_view item = data.substr(0, end);
    if (item.empty())
      break;
    items.emplace_back(item);
    if (end == std::string_view::npos)
      break;
    data.remove_prefix(end + 1);
  }
  return items;
}

void CheckReferenceValue(TScanThread &t, TWalkedValue &v) {
  if (v.kind == vkMultiString) {
    if (!MayHoldReference(v.data, vkMultiString))
      return;
    for (const std::string &item : SplitMultiString(v.data)) {
      if (t.Terminated())
        return;
      CheckReferenceElement(t, v.key, v.name, item, v.kind, ekInvalidPathInMultiString,
                            raRemoveListItem);
    }
    return;
  }
  if (v.kind != vkString && v.kind != vkExpandString)
    return;
  if (!MayHoldReference(v.text, v.kind))
    return;
  const std::vector<std::string> items = SplitQuotedList(v.text, v.text.size() + 1);
  const bool list = items.size() >= 2;
  for (const std::string &item : items) {
    if (t.Terminated())
      return;
    CheckReferenceElement(t, v.key, v.name, item, v.kind,
                          list ? ekInvalidPathInList : ekInvalidPath,
                          list ? raRemoveListItem : raDeleteValue);
  }
}

// The whole-registry walk of one root. Every key is opened once: its
// values are examined (unless the 64-bit view refuses the key) and its
// subkeys listed; then the subkeys are walked in index order. Keys on the
// exclusion list are neither examined nor entered; keys below the counted
// depth are examined without progress.
class TReferenceWalk {
public:
  TReferenceWalk(TScanThread &t, const TRegistryAccess &access) : t_(t), work_(access.Access()) {
    CopyRootAndView(work_, access);
    for (const std::string &entry : t.ExclusionList().Items()) {
      for (auto cut = entry.find('\\'); cut != std::string::npos; cut = entry.find('\\', cut + 1))
        parents_.push_back(entry.substr(0, cut));
    }
    std::sort(parents_.begin(), parents_.end());
    parents_.erase(std::unique(parents_.begin(), parents_.end()), parents_.end());
  }

  // Returns false once the walk must stop.
  bool Walk(const std::string &path, int depth, bool exclusionsBelow) {
    std::vector<std::string> subKeys;
    if (!Examine(path, subKeys))
      return true;
    for (const std::string &name : subKeys) {
      const std::string sub = path.empty() ? name : path + "\\" + name;
      if (depth + 1 <= kReferenceCountDepth)
        t_.ReportProgress(sub);
      if (t_.Terminated())
        return false;
      bool below = false;
      if (exclusionsBelow) {
        const std::string key = qp::UpperAscii(sub);
        if (t_.ExclusionList().Contains(key))
          continue;
        below = std::binary_search(parents_.begin(), parents_.end(), key);
      }
      if (!Walk(sub, depth + 1, below))
        return false;
    }
    return !t_.Terminated();
  }

private:
  // Opens the key, examines its values and lists its subkeys (names longer
  // than 255 characters cannot be enumerated and are left out).
  bool Examine(const std::string &path, std::vector<std::string> &subKeys) {
    if (!t_.OpenKey(work_, path))
      return false;
    qp::KeyInfo info;
    if (work_.GetKeyInfo(info)) {
      if (!path.empty() && !(work_.IsView64() && IsKeyReflected(work_)))
        ExamineValues(info);
      qp::IRegistry &reg = qp::Platform().Registry();
      const std::uint32_t capacity = std::min<std::uint32_t>(info.maxSubKeyLen + 1, 256);
      std::string name;
      subKeys.reserve(info.subKeys);
      for (std::uint32_t i = 0; i < info.subKeys; ++i)
        if (reg.EnumKey(work_.CurrentKey(), i, capacity, name) == wc::ErrorSuccess)
          subKeys.push_back(name);
    }
    work_.CloseKey();
    return true;
  }

  // The values of the open key, within the limits of a value walk (names up
  // to 32767 characters, data up to 64 KB). Data is converted to text only
  // when its raw form holds a drive path or something to expand.
  void ExamineValues(const qp::KeyInfo &info) {
    qp::IRegistry &reg = qp::Platform().Registry();
    const std::uint32_t nameCapacity = std::min<std::uint32_t>(info.maxValueNameLen + 1, 32768);
    const std::uint32_t dataCapacity = std::min<std::uint32_t>(info.maxValueLen, 65536);
    for (std::uint32_t i = 0; i < info.values && !t_.Terminated(); ++i) {
      if (reg.EnumValue(work_.CurrentKey(), i, nameCapacity, dataCapacity, name_, type_, data_) !=
          wc::ErrorSuccess)
        continue;
      const TValueKind kind = ValueKindOf(type_);
      if ((kind != vkString && kind != vkExpandString && kind != vkMultiString) ||
          !RawMayHoldReference(data_, kind))
        continue;
      const std::string text = DataToText(type_, data_);
      TWalkedValue value{work_, name_, text, kind, {}};
      if (kind != vkMultiString)
        value.text = CutAtNul(text);
      CheckReferenceValue(t_, value);
    }
  }

  // MayHoldReference on UTF-16 data as stored.
  static bool RawMayHoldReference(const qp::Bytes &data, TValueKind kind) {
    char16_t previous = 0;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
      const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
      if ((previous == u':' && unit == u'\\') || (kind == vkExpandString && unit == u'%'))
        return true;
      previous = unit;
    }
    return false;
  }

  std::string name_;
  std::uint32_t type_ = 0;
  qp::Bytes data_;
  TScanThread &t_;
  TRegistryAccess work_;
  std::vector<std::string> parents_; // upper-cased keys that hold excluded keys
};

void CheckReferencesBelow(TScanThread &t, TRegistryAccess &access, bool counting,
                          std::uint32_t root) {
  access.SetRootKey(root);
  if (!t.OpenKey(access, ""))
    return;
  if (counting) {
    access.WalkSubKeys(true, kReferenceCountDepth,
                       [&](TRegistryAccess &scratch, const std::string &path) {
                         return t.ExclusionVisitor(scratch, path);
                       });
  } else {
    access.CloseKey();
    TReferenceWalk walk(t, access);
    walk.Walk("", 0, true);
  }
  access.CloseKey();
}

// --- history lists

// Reads "MRUList" of the open key; false when it is not readable.
bool ReadMruList(TScanThread &t, TRegistryAccess &key, std::string &list) {
  return t.ReadStringValue(list, key, raDeleteValue, "MRUList");
}

// The part of a path up to and including its last '\' or ':'.
std::string FolderPart(const std::string &path) {
  const auto cut = path.find_last_of("\\:");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// The entries named by the letters of "MRUList". entryBad decides whether a
// readable entry is broken; a letter without a value is reported once per
// key as a broken list.
template <typename EntryBad>
void CheckMruEntries(TScanThread &t, TRegistryAccess &key, const std::string &data,
                     const std::string &list, std::int32_t entryTest, std::int32_t listTest,
                     EntryBad entryBad) {
  const std::string path = key.CurrentPath();
  bool listReported = false;
  for (const char letter : list) {
    if (t.Terminated())
      return;
    const std::string name(1, letter);
    if (!key.ValueExists(name)) {
      if (listReported)
        continue;
      listReported = true;
      if (t.CountTest(true))
        Report(t, key,
               {.data = data,
                .keyPath = path,
                .valueName = "MRUList",
                .target = list,
                .kind = ekInvalidMruList,
                .action = raRebuildMRUList,
                .testId = listTest});
      continue;
    }
    std::string entry;
    if (!t.ReadStringValue(entry, key, raDeleteValue, name))
      continue;
    if (t.CountTest(entryBad(entry)))
      Report(t, key,
             {.data = data,
              .keyPath = path,
              .valueName = name,
              .target = entry,
              .kind = ekInvalidPath,
              .action = raDeleteMRUItem,
              .testId = entryTest});
  }
}

// An OpenSaveMRU key at depth d: the key itself (0) lists folders' files of
// any type, its subkeys (1 and deeper) files of one extension.
void CheckMruFileKey(TScanThread &t, TRegistryAccess &work, const std::string &path, int depth) {
  t.ReportProgress(path);
  if (!t.OpenCheckedKey(work, path))
    return;
  std::string list;
  if (ReadMruList(t, work, list)) {
    CheckMruEntries(t, work, KeyTail(path, depth), list, 56, 57, [depth](const std::string &file) {
      return depth == 0 ? !IsExistingFolder(FolderPart(file)) : !ProbeFile(file);
    });
  }
  work.CloseKey();
}

void CheckOpenSaveMru(TScanThread &t, TRegistryAccess &access, bool counting) {
  const std::string path =
      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ComDlg32\\OpenSaveMRU";
  access.SetRootKey(kHKCU);
  if (!t.OpenKey(access, path))
    return;
  if (counting) {
    t.CountSubKeys(access, 1);
    access.CloseKey();
    return;
  }
  TRegistryAccess work(access.Access());
  CopyRootAndView(work, access);
  access.WalkSubKeys(true, 0, [&](TRegistryAccess &walker, const std::string &sub) {
    if (t.Terminated())
      return wrStop;
    CheckMruFileKey(t, work, sub, walker.Depth());
    return t.Terminated() ? wrStop : wrDescend;
  });
  access.CloseKey();
  if (!t.Terminated())
    CheckMruFileKey(t, work, path, 0);
}

// The Run box's list: each entry is a command line ending in "\1".
void CheckRunMru(TScanThread &t, TRegistryAccess &access, bool counting) {
  access.SetRootKey(kHKCU);
  if (!t.OpenCheckedKey(access, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RunMRU"))
    return;
  if (counting) {
    t.CountingVisitor(access, access.CurrentPath()); // one item: the list
  } else {
    t.ReportProgress(access.CurrentPath());
    std::string list;
    if (ReadMruList(t, access, list)) {
      CheckMruEntries(t, access, KeyTail(access.CurrentPath(), 0), list, 63, 64,
                      [](std::string command) {
                        const std::size_t n = command.size();
                        if (n >= 3 && command[n - 1] == '1' && command[n - 2] == '\\')
                          command.resize(n - 2);
                        return !CommandTargetExists(command);
                      });
    }
  }
  access.CloseKey();
}

// Paint's and WordPad's "Recent File List": values File1, File2 ...
void CheckRecentFileList(TScanThread &t, TRegistryAccess &access, bool counting,
                         std::string_view program) {
  const std::string path = std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\") +
                           std::string(program) + "\\Recent File List";
  const std::string data = std::string(program) + " " + KeyTail(path, 0);
  WalkKeyValues(t, access, counting, kHKCU, path, TKeyOpen::Checked, [&](TWalkedValue &v) {
    t.ReportProgress(v.name);
    if (v.name.size() < 4 || !qp::EqualsNoCase(std::string_view(v.name).substr(0, 4), "File"))
      return;
    if (v.kind != vkString && v.kind != vkExpandString) {
      ReportTypeError(t, v.key, v.name, raDeleteValue);
      return;
    }
    const std::string file = v.kind == vkExpandString ? ExpandEnvPath(v.text) : v.text;
    if (t.CountTest(file.empty() || !ProbeFile(file)))
      Report(t, v.key,
             {.data = data,
              .keyPath = v.key.CurrentPath(),
              .valueName = v.name,
              .target = v.text,
              .kind = ekInvalidPath,
              .action = raDeleteValue,
              .testId = 62});
  });
}

} // namespace

void CheckStartMenu(TScanThread &t, TRegistryAccess &access, bool counting) {
  std::string commonPrograms;
  std::string userPrograms;
  if (!counting) {
    // Shortcut files are not registry keys: one look, in the first view.
    if (access.View() == rv32) {
      for (const int csidl : kShortcutFolders) {
        if (t.Terminated())
          return;
        std::string folder;
        if (GetSpecialFolder(0, csidl, false, folder))
          ScanShortcuts(t, folder);
      }
    }
    if (!GetSpecialFolder(0, kCommonPrograms, false, commonPrograms) ||
        !GetSpecialFolder(0, kUserPrograms, false, userPrograms))
      return;
    commonPrograms = qp::WithTrailingBackslash(std::move(commonPrograms));
    userPrograms = qp::WithTrailingBackslash(std::move(userPrograms));
  }
  CheckMenuOrder(t, access, counting, commonPrograms, userPrograms);
}

void CheckFilePathRefs(TScanThread &t, TRegistryAccess &access, bool counting) {
  for (const std::uint32_t root : {kHKLM, kHKCU}) {
    if (t.Terminated())
      return;
    CheckReferencesBelow(t, access, counting, root);
  }
}

void CheckHistoryLists(TScanThread &t, TRegistryAccess &access, bool counting) {
  CheckOpenSaveMru(t, access, counting);
  if (t.Terminated())
    return;
  CheckRunMru(t, access, counting);
  if (t.Terminated())
    return;
  CheckRecentFileList(t, access, counting, "Paint");
  if (t.Terminated())
    return;
  CheckRecentFileList(t, access, counting, "Wordpad");
}

void RegisterDeepChecks(TCategoryChecks &table) {
  table[ecStartMenu] = CheckStartMenu;
  table[ecFilePathRefs] = CheckFilePathRefs;
  table[ecHistoryLists] = CheckHistoryLists;
}

} // namespace quenlo
