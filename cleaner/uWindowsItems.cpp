// The handlers of the Windows categories (0-12) and the key item and MRU
// list procedures the registry categories share. Every registry path is
// below HKEY_CURRENT_USER, 32-bit view.
#include <array>
#include <cstring>
#include <vector>

#include "cleaner/uCleanFiles.h"
#include "cleaner/uCleanItems.h"
#include "cleaner/uCleanSystem.h"
#include "cleaner/uItemTools.h"
#include "cleaner/uUninstallInfo.h"
#include "platform/PathText.h"
#include "platform/Utf.h"

namespace quenlo {

namespace {

constexpr std::string_view kStartMenu2 =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu2";
constexpr std::string_view kStartMenu =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu";
constexpr std::string_view kMapNetworkDriveMru =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Map Network Drive MRU";
constexpr std::string_view kUserAssist =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist";
constexpr std::string_view kRunMru =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RunMRU";
constexpr std::string_view kRecentDocs =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RecentDocs";
constexpr std::string_view kOpenSaveMru =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ComDlg32\\OpenSaveMRU";
constexpr std::string_view kOpenSavePidlMru =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ComDlg32\\OpenSavePidlMRU";
constexpr std::string_view kLastVisitedMru =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ComDlg32\\LastVisitedMRU";
constexpr std::string_view kLastVisitedPidlMru =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ComDlg32\\LastVisitedPidlMRU";
constexpr std::string_view kSearchAssistantMru = "Software\\Microsoft\\Search Assistant\\ACMru";
constexpr std::array<std::string_view, 2> kTrayNotifyKeys = {
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\TrayNotify",
    "Software\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\CurrentVersion\\TrayNotify",
};
constexpr std::array<std::string_view, 2> kTrayIconValues = {"IconStreams", "PastIconsStream"};

constexpr std::string_view kMruList = "MRUList";
constexpr std::string_view kMruListEx = "MRUListEx";
// The most of a binary MRU value that is read as text.
constexpr std::size_t kMruBinaryLimit = 65536;
// The closing entry of an "MRUListEx" names no value.
constexpr std::int32_t kMruListExEnd = -1;

// The IIS services whose sites keep log folders, with the key type of
// their sites.
struct TIisService {
  std::string_view service;
  std::string_view keyType;
};
constexpr std::array<TIisService, 2> kIisServices = {{
    {"W3SVC", "IIsWebServer"},
    {"MSFTPSVC", "IIsFtpServer"},
}};

constexpr std::string_view kServicePackFolder = "$NtServicePackUninstall$";
constexpr std::string_view kHotfixMask = "$NtUninstall*$";
// Windows Imaging Component's uninstaller looks like a hotfix's and is
// never touched.
constexpr std::string_view kWicFolder = "$NtUninstallWIC$";
constexpr std::string_view kTypeUpdate = "UPDATE";
constexpr std::string_view kTypeHotfix = "HOTFIX";

qp::IFileSystem &Files() {
  return qp::Platform().Files();
}

// --- the key item and the MRU lists

// The key item; true when a clean pass deleted the key.
bool KeyItemDeleted(TCleanPass &pass, TCleanCategory category, std::string_view path) {
  if (pass.Terminated())
    return false;
  TPassKey key(pass, path);
  if (!OpenCategoryKey(pass, category, key, path))
    return false;
  if (pass.Reporting()) {
    pass.AddItem(category, KeyFinding(path), 0);
    return false;
  }
  key.Reg().CloseKey();
  const long status = DeleteKeyTreeStatus(path);
  RecordDeleteStatus(pass, category, KeyFinding(path), status);
  return status == wc::ErrorSuccess;
}

// A binary MRU entry as text: UTF-16 up to its zero character. nullopt
// when it is no text (an odd or empty text, an unpaired surrogate).
std::optional<std::string> BinaryMruText(const qp::Bytes &data) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
    const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (unit == 0)
      break;
    text.push_back(unit);
  }
  if (text.empty())
    return std::nullopt;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit < 0xDC00) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] >= 0xE000)
        return std::nullopt;
      ++i;
    } else if (unit >= 0xDC00 && unit < 0xE000) {
      return std::nullopt;
    }
  }
  return qp::Utf16ToUtf8(text);
}

// What an analysis lists for one MRU entry: its text, or the value.
std::string MruFinding(TRegistryAccess &reg, std::string_view path, const std::string &name) {
  std::uint32_t type = 0;
  qp::Bytes data;
  if (reg.ReadRaw(name, type, data) == wc::ErrorSuccess) {
    const TValueKind kind = ValueKindOf(type);
    if (kind == vkString || kind == vkExpandString) {
      const std::string text = CutAtNul(DataToText(type, data));
      if (!text.empty())
        return text;
    } else if (kind == vkBinary && data.size() <= kMruBinaryLimit) {
      if (std::optional<std::string> text = BinaryMruText(data))
        return *text;
    }
  }
  return ValueFinding(path, name);
}

void DeleteValueOf(TCleanPass &pass, TCleanCategory category, TRegistryAccess &reg,
                   std::string_view path, std::string_view name) {
  RecordDeleteStatus(pass, category, ValueFinding(path, name), reg.DeleteValue(name));
}

// The one-character names of an "MRUList", in its order.
std::vector<std::string> MruLetters(std::string_view list) {
  std::vector<std::string> names;
  for (const char16_t unit : qp::Utf8ToUtf16(list))
    names.push_back(qp::Utf16ToUtf8(std::u16string(1, unit)));
  return names;
}

// The names an "MRUListEx" holds: its little-endian 32-bit entries.
std::vector<std::string> MruExNames(const qp::Bytes &data) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i + 4 <= data.size(); i += 4) {
    std::uint32_t raw = 0;
    for (std::size_t b = 0; b < 4; ++b)
      raw |= static_cast<std::uint32_t>(data[i + b]) << (8 * b);
    std::int32_t entry = 0;
    std::memcpy(&entry, &raw, sizeof entry);
    if (entry != kMruListExEnd)
      names.push_back(std::to_string(entry));
  }
  return names;
}

// The direct subkeys of a key (marking the category found when the key
// exists).
std::vector<std::string> SubKeysOf(TCleanPass &pass, TCleanCategory category,
                                   std::string_view path) {
  std::vector<std::string> names;
  TPassKey key(pass, path);
  if (OpenCategoryKey(pass, category, key, path) && !key.Reg().GetKeyNames(names))
    names.clear();
  return names;
}

std::string SubPath(std::string_view path, std::string_view name) {
  return std::string(path) + "\\" + std::string(name);
}

// --- files

// A base folder of a file category: "" when it is missing; refused (the
// category fails) when it is one a clean must never empty.
std::string CategoryFolder(TCleanPass &pass, TCleanCategory category, std::string_view path) {
  if (path.empty())
    return {};
  const std::string folder = qp::WithoutTrailingBackslash(path);
  if (!IsRealFolder(folder))
    return {};
  if (!IsSafeBaseFolder(folder)) {
    pass.FailCategory(category, std::string(kReasonUnsafeFolder));
    return {};
  }
  pass.MarkFound(category);
  return folder;
}

TFileCallback FileHandler(TCleanPass &pass, TCleanCategory category, const TFileRules &rules) {
  return [&pass, category, rules](const std::string &path, const qp::FindData &entry) {
    if (pass.Terminated())
      return false;
    HandleFile(pass, category, path, entry, rules);
    return !pass.Terminated();
  };
}

std::int64_t FolderSize(TCleanPass &pass, std::string_view folder) {
  std::int64_t total = 0;
  qp::IgnoreResult(
      WalkFiles(folder, kAllFilesMask, true, [&](const std::string &, const qp::FindData &entry) {
        if (!IsLink(entry))
          total += static_cast<std::int64_t>(entry.size);
        return !pass.Terminated();
      }));
  return total;
}

// One uninstall folder of category 10: an analysis lists its title with
// the size of its files; a clean removes it.
void HandleUninstaller(TCleanPass &pass, const std::string &folder, const TUninstallInfo &info) {
  pass.MarkFound(ccHotFixes);
  if (!IsSafeBaseFolder(folder)) {
    pass.AddFailure(ccHotFixes, folder, std::string(kReasonUnsafeFolder));
    return;
  }
  const std::string title = info.fullTitle.empty() ? folder : info.fullTitle;
  if (pass.Reporting()) {
    pass.SizeTotal = FolderSize(pass, folder);
    pass.AddItem(ccHotFixes, title, pass.SizeTotal);
    return;
  }
  qp::IgnoreResult(ShellDelete(folder, [&](const std::string &path, long status) {
    if (!IsGoneStatus(status))
      pass.AddFailure(ccHotFixes, path, ReasonForStatus(status));
  }));
}

// IIS 7 and later keep "%SystemDrive%\inetpub\logs\LogFiles" as it was
// typed; a text that cannot be expanded names no folder.
std::string LogDirectory(const qp::IisSite &site) {
  if (site.logFileDirectory.find('%') == std::string::npos)
    return site.logFileDirectory;
  return qp::Platform().System().ExpandEnvironmentStrings(site.logFileDirectory).value_or("");
}

bool ReadUninstaller(const std::string &folder, TUninstallInfo &info) {
  std::string data;
  if (Files().ReadFile(folder + "\\spuninst\\spuninst.inf", data) != wc::ErrorSuccess)
    return false;
  info = ParseUninstallInfo(data);
  return true;
}

} // namespace

// --- shared procedures

std::string KeyFinding(std::string_view path) {
  return "HKCU\\" + std::string(path);
}

std::string ValueFinding(std::string_view path, std::string_view value) {
  return KeyFinding(path) + ", " + std::string(value);
}

void KeyItem(TCleanPass &pass, TCleanCategory category, std::string_view path) {
  qp::IgnoreResult(KeyItemDeleted(pass, category, path));
}

void MruList(TCleanPass &pass, TCleanCategory category, std::string_view path) {
  if (pass.Terminated())
    return;
  TPassKey key(pass, path);
  if (!OpenCategoryKey(pass, category, key, path))
    return;
  TRegistryAccess &reg = key.Reg();
  const TValueKind kind = reg.GetDataType(kMruList);
  if (kind != vkString && kind != vkExpandString)
    return;
  for (const std::string &name : MruLetters(reg.ReadString(kMruList))) {
    if (pass.Terminated())
      return;
    if (!reg.ValueExists(name))
      continue;
    if (pass.Reporting())
      pass.AddItem(category, MruFinding(reg, path, name), 0);
    else
      DeleteValueOf(pass, category, reg, path, name);
  }
  if (!pass.Reporting())
    DeleteValueOf(pass, category, reg, path, kMruList);
}

void MruListEx(TCleanPass &pass, TCleanCategory category, std::string_view path) {
  if (pass.Terminated())
    return;
  TPassKey key(pass, path);
  if (!OpenCategoryKey(pass, category, key, path))
    return;
  TRegistryAccess &reg = key.Reg();
  std::uint32_t type = 0;
  qp::Bytes data;
  if (reg.ReadRaw(kMruListEx, type, data) != wc::ErrorSuccess || ValueKindOf(type) != vkBinary)
    return;
  for (const std::string &name : MruExNames(data)) {
    if (pass.Terminated())
      return;
    if (!reg.ValueExists(name))
      continue;
    if (pass.Reporting())
      pass.AddItem(category, ValueFinding(path, name), 0);
    else
      DeleteValueOf(pass, category, reg, path, name);
  }
  if (!pass.Reporting())
    DeleteValueOf(pass, category, reg, path, kMruListEx);
}

// --- the Windows categories

void CleanStartMenuOrder(TCleanPass &pass) {
  KeyItem(pass, ccStartMenuOrderHistory, kStartMenu2);
  KeyItem(pass, ccStartMenuOrderHistory, kStartMenu);
}

void CleanNetworkDrive(TCleanPass &pass) {
  MruList(pass, ccNetworkDriveHistory, kMapNetworkDriveMru);
}

void CleanUserAssist(TCleanPass &pass) {
  // Explorer rereads what it keeps there once it hears of the change.
  if (KeyItemDeleted(pass, ccUserAssistHistory, kUserAssist))
    qp::Platform().Desktop().BroadcastSettingChange();
}

void CleanRunMenu(TCleanPass &pass) {
  MruList(pass, ccRunMenuHistory, kRunMru);
}

void CleanRecentDocuments(TCleanPass &pass) {
  const std::string folder =
      CategoryFolder(pass, ccRecentDocuments, GetSpecialFolderPath(kCsidlRecent));
  // Without the Recent folder the key is left alone: it lists what the
  // folder's shortcuts point at.
  if (folder.empty())
    return;
  pass.BasePath = folder + "\\";
  qp::IgnoreResult(
      WalkFiles(folder, kAllFilesMask, true, FileHandler(pass, ccRecentDocuments, {})));
  if (!pass.Reporting() && !pass.Terminated())
    KeyItem(pass, ccRecentDocuments, kRecentDocs);
}

void CleanClipboard(TCleanPass &pass) {
  qp::IDesktop &desktop = qp::Platform().Desktop();
  std::vector<qp::ClipboardEntry> formats;
  if (!desktop.ReadClipboard(formats))
    return;
  pass.MarkFound(ccWindowsClipboard);
  if (pass.Reporting()) {
    for (const qp::ClipboardEntry &format : formats)
      pass.AddItem(ccWindowsClipboard,
                   GetClipboardFormatCaption(format.format, format.registeredName),
                   static_cast<std::int64_t>(format.size));
    return;
  }
  if (!formats.empty() && !desktop.EmptyClipboard())
    pass.AddFailure(ccWindowsClipboard, GetCategoryCaption(ccWindowsClipboard),
                    "the clipboard could not be emptied");
}

void CleanOpenSave(TCleanPass &pass) {
  MruList(pass, ccOpenSaveHistory, kOpenSaveMru);
  for (const std::string &name : SubKeysOf(pass, ccOpenSaveHistory, kOpenSaveMru))
    MruList(pass, ccOpenSaveHistory, SubPath(kOpenSaveMru, name));
  for (const std::string &name : SubKeysOf(pass, ccOpenSaveHistory, kOpenSavePidlMru))
    MruListEx(pass, ccOpenSaveHistory, SubPath(kOpenSavePidlMru, name));
}

void CleanLastVisited(TCleanPass &pass) {
  MruList(pass, ccLastVisitedHistory, kLastVisitedMru);
  MruListEx(pass, ccLastVisitedHistory, kLastVisitedPidlMru);
}

void CleanTempFiles(TCleanPass &pass) {
  const std::string folder =
      CategoryFolder(pass, ccTempFiles, qp::Platform().System().GetTempPath());
  if (folder.empty())
    return;
  pass.BasePath = folder + "\\";
  const TFileCallback onFile = FileHandler(pass, ccTempFiles, {});
  if (pass.Reporting()) {
    qp::IgnoreResult(WalkFiles(folder, kAllFilesMask, true, onFile));
    return;
  }
  // Every subfolder, deepest first, then the files of the folder itself;
  // the temporary folder stays.
  qp::IgnoreResult(WalkFolders(folder, kAllFilesMask, true, [&](const std::string &sub) {
    RemoveWalkedFolder(pass, ccTempFiles, sub, {});
    return !pass.Terminated();
  }));
  if (!pass.Terminated())
    qp::IgnoreResult(WalkFiles(folder, kAllFilesMask, false, onFile));
}

void CleanIisLogFiles(TCleanPass &pass) {
  qp::IDesktop &desktop = qp::Platform().Desktop();
  TFileRules rules;
  rules.plainDelete = true;
  rules.filesInUse = irAll;
  rules.fullNames = true;
  for (const TIisService &service : kIisServices) {
    std::vector<qp::IisSite> sites;
    if (pass.Terminated() || !desktop.ListIisSites(service.service, sites))
      continue;
    for (const qp::IisSite &site : sites) {
      if (pass.Terminated())
        return;
      if (qp::LowerAscii(site.keyType) != qp::LowerAscii(service.keyType) ||
          site.logFileDirectory.empty())
        continue;
      // The site's name comes from the metabase: it is used only as the
      // last name of the log folder.
      const std::string leaf = std::string(service.service) + site.name;
      if (!IsPlainFileName(leaf))
        continue;
      const std::string folder = qp::WithTrailingBackslash(LogDirectory(site)) + leaf;
      if (!IsRealFolder(folder))
        continue;
      pass.MarkFound(ccIISLogFiles);
      if (!IsSafeBaseFolder(folder)) {
        pass.AddFailure(ccIISLogFiles, folder, std::string(kReasonUnsafeFolder));
        continue;
      }
      qp::IgnoreResult(
          WalkFiles(folder, kAllFilesMask, false, FileHandler(pass, ccIISLogFiles, rules)));
    }
  }
}

void CleanHotFixes(TCleanPass &pass) {
  const std::string windows =
      qp::WithTrailingBackslash(qp::Platform().System().GetWindowsDirectory());
  if (windows.size() <= 1)
    return;
  TUninstallInfo info;
  const std::string servicePack = windows + std::string(kServicePackFolder);
  if (IsRealFolder(servicePack) && ReadUninstaller(servicePack, info) &&
      qp::UpperAscii(info.type) == kTypeUpdate)
    HandleUninstaller(pass, servicePack, info);

  // The names of the hotfix folders first: a clean removes them.
  std::vector<std::string> names;
  qp::FindData entry;
  if (std::unique_ptr<qp::IFindHandle> find =
          Files().FindFirst(windows + std::string(kHotfixMask), entry)) {
    do {
      if ((entry.attributes & wc::FileAttributeDirectory) != 0 && !IsLink(entry))
        names.push_back(entry.name);
    } while (find->Next(entry));
  }
  for (const std::string &name : names) {
    if (pass.Terminated())
      return;
    if (qp::EqualsNoCase(name, kWicFolder) || !IsPlainFileName(name))
      continue;
    const std::string folder = windows + name;
    if (!ReadUninstaller(folder, info) || qp::UpperAscii(info.type) != kTypeHotfix)
      continue;
    // The title comes from the file: only a plain name may name the log.
    if (!pass.Reporting() && IsPlainFileName(info.shortTitle)) {
      const std::string log = windows + info.shortTitle + ".log";
      if (Files().GetAttributes(log) != wc::InvalidFileAttributes && !IsRealFolder(log))
        qp::IgnoreResult(ShellDelete(log, [&](const std::string &path, long status) {
          if (!IsGoneStatus(status))
            pass.AddFailure(ccHotFixes, path, ReasonForStatus(status));
        }));
    }
    HandleUninstaller(pass, folder, info);
  }
}

void CleanSearchAssistant(TCleanPass &pass) {
  KeyItem(pass, ccSearchAssistantHistory, kSearchAssistantMru);
}

void CleanTrayIconHistory(TCleanPass &pass) {
  bool deleted = false;
  for (const std::string_view path : kTrayNotifyKeys) {
    if (pass.Terminated())
      break;
    TPassKey key(pass, path);
    if (!OpenCategoryKey(pass, ccTrayIconHistory, key, path))
      continue;
    for (const std::string_view value : kTrayIconValues) {
      if (!key.Reg().ValueExists(value))
        continue;
      if (pass.Reporting()) {
        pass.AddItem(ccTrayIconHistory, ValueFinding(path, value), 0);
        continue;
      }
      const long status = key.Reg().DeleteValue(value);
      RecordDeleteStatus(pass, ccTrayIconHistory, ValueFinding(path, value), status);
      deleted = deleted || status == wc::ErrorSuccess;
    }
  }
  if (pass.Reporting())
    return;
  // The shell writes its icon history back when it ends: it is restarted
  // so that what was removed stays removed, and only then.
  pass.SetExplorerRestartFailed(deleted && !RestartExplorer());
}

} // namespace quenlo
