#include "scanner/uChecksSoftware.h"

#include <string_view>
#include <vector>

#include "paths/uPaths.h"
#include "platform/PathText.h"
#include "platform/Utf.h"
#include "scanner/uChecksDeep.h"
#include "scanner/uSubChecks.h"
#include "scanner/uValueWalk.h"

namespace quenlo {

namespace {

constexpr std::uint32_t kHKLM = wc::HkeyLocalMachine;
constexpr std::uint32_t kHKCU = wc::HkeyCurrentUser;

// Delete the value (1), plus action 7, which has no repair of its own.
constexpr TRepairActionSet kHelpFileActions{0x0082};

constexpr std::string_view kCurrentVersion = "Software\\Microsoft\\Windows\\CurrentVersion\\";

struct TListKey {
  std::uint32_t root;
  std::string_view path;
};

std::string CurrentVersionKey(std::string_view tail) {
  std::string path(kCurrentVersion);
  path += tail;
  return path;
}

// A non-zero REG_DWORD value of the open key.
bool DwordFlagSet(const TRegistryAccess &key, std::string_view name) {
  std::uint32_t type = 0;
  qp::Bytes data;
  if (key.ReadRaw(name, type, data) != wc::ErrorSuccess || type != wc::RegDword || data.size() < 4)
    return false;
  return (data[0] | data[1] | data[2] | data[3]) != 0;
}

// --- value-list categories

// Walks the given keys in order with the string-value frame.
void WalkStringLists(TScanThread &t, TRegistryAccess &access, bool counting,
                     std::initializer_list<TListKey> keys, const TWalkedValueVisitor &test) {
  for (const TListKey &key : keys) {
    if (t.Terminated())
      return;
    WalkStringValues(t, access, counting, key.root, key.path, test);
  }
}

// The help-file test: the value name is the file, the data its folder.
void CheckHelpList(TScanThread &t, TRegistryAccess &access, bool counting, std::string_view path) {
  WalkKeyValues(t, access, counting, kHKLM, path, TKeyOpen::Checked, [&](TWalkedValue &v) {
    t.ReportProgress(v.name);
    if (v.name.empty() || (v.kind != vkString && v.kind != vkExpandString))
      return;
    std::string folder = v.kind == vkExpandString ? ExpandEnvPath(v.text) : v.text;
    folder = qp::WithTrailingBackslash(std::move(folder));
    if (t.CountTest(!ProbeFile(folder + v.name)))
      ReportWalkedValue(t, v, ekInvalidHelpFilePath, raDeleteValue, 45, kHelpFileActions);
  });
}

// --- App Paths

// One App Paths entry (named after its program file).
void CheckAppPathEntry(TScanThread &t, TRegistryAccess &work, const std::string &path) {
  if (!t.OpenCheckedKey(work, path))
    return;
  const std::string data = KeyTail(path, 0);

  std::string program;
  bool found = true;
  const bool programReadable = t.ReadStringValue(program, work, raDeleteValue, "");
  if (programReadable && !program.empty()) {
    const std::string expanded = StripQuotes(ExpandEnvPath(program));
    found = IsExistingFolder(expanded) || FileReferenceExists(expanded);
  }

  std::string folders;
  if (t.ReadStringValue(folders, work, raDeleteValue, "Path")) {
    const std::vector<std::string> items = SplitQuotedList(folders, folders.size() + 1);
    const bool list = items.size() >= 2;
    const TRegErrorKind kind = list ? ekInvalidPathInList : ekInvalidPath;
    const TRepairAction action = list ? raRemoveListItem : raDeleteValue;
    for (const std::string &item : items) {
      if (t.Terminated())
        return;
      if (item.empty())
        continue;
      const std::string folder = qp::WithoutTrailingBackslash(ExpandEnvPath(StripQuotes(item)));
      if (t.CountTest(!IsExistingFolder(folder)))
        Report(t, work,
               {.data = data,
                .keyPath = path,
                .valueName = "Path",
                .target = item,
                .kind = kind,
                .action = action,
                .testId = 4});
      if (!found)
        found = ProbeFile(folder + "\\" + data);
    }
  }

  if (t.CountTest(!found))
    Report(t, work,
           {.data = data,
            .keyPath = path,
            .target = program,
            .kind = ekInvalidPath,
            .action = raDeleteValue,
            .testId = 5});
}

// --- Add/Remove caches

void CheckArpCacheEntry(TScanThread &t, TRegistryAccess &work, const std::string &path) {
  if (!t.OpenCheckedKey(work, path))
    return;
  std::uint32_t type = 0;
  qp::Bytes record;
  if (work.ReadRaw("SlowInfoCache", type, record) != wc::ErrorSuccess || type != wc::RegBinary)
    return;
  const std::optional<std::string> program = SlowInfoCachePath(record);
  if (!program)
    return;
  if (t.CountTest(!ProbeFile(*program)))
    Report(t, work,
           {.data = KeyTail(path, 0),
            .keyPath = path,
            .valueName = "SlowInfoCache",
            .target = *program,
            .kind = ekInvalidPath,
            .action = raDeleteKey,
            .testId = 7});
}

// A readable string value of the uninstall entry that fails isBad.
template <typename Predicate>
bool CheckUninstallValue(TScanThread &t, TRegistryAccess &work, const std::string &path,
                         const std::string &data, std::string_view name, TRegErrorKind kind,
                         TRepairAction action, std::int32_t testId, Predicate isBad) {
  std::string value;
  if (!t.ReadStringValue(value, work, raDeleteValue, name))
    return false;
  if (t.CountTest(value.empty() || isBad(value)))
    Report(t, work,
           {.data = data,
            .keyPath = path,
            .valueName = std::string(name),
            .target = value,
            .kind = kind,
            .action = action,
            .testId = testId});
  return true;
}

void CheckUninstallEntry(TScanThread &t, TRegistryAccess &work, const std::string &path) {
  if (!t.OpenCheckedKey(work, path))
    return;
  std::string data;
  if (work.GetDataType("DisplayName") == vkString)
    data = work.ReadString("DisplayName");
  if (data.empty())
    data = KeyTail(path, 0);

  qp::KeyInfo info;
  if (!work.GetKeyInfo(info) || info.subKeys > 0 || DwordFlagSet(work, "NoRemove"))
    return;

  CheckUninstallValue(t, work, path, data, "InstallSource", ekInvalidPath, raDeleteValue, 77,
                      [](const std::string &source) {
                        const std::string expanded = ExpandEnvPath(source);
                        return IsOnFixedDrive(expanded) && !ProbeFileOrFolder(expanded);
                      });
  CheckUninstallValue(t, work, path, data, "DisplayIcon", ekInvalidIconPath, raDeleteValue, 78,
                      [](const std::string &icon) { return !FileReferenceExists(icon); });
  if (DwordFlagSet(work, "SystemComponent") || DwordFlagSet(work, "WindowsInstaller"))
    return;
  const auto missingProgram = [](const std::string &command) {
    return !CommandTargetExists(ExpandEnvPath(command));
  };
  if (!CheckUninstallValue(t, work, path, data, "UninstallString", ekInvalidPath, raDeleteKey, 79,
                           missingProgram))
    CheckUninstallValue(t, work, path, data, "QuietUninstallString", ekInvalidPath, raDeleteKey, 80,
                        missingProgram);
}

void CheckInstallerFolders(TScanThread &t, TRegistryAccess &access, bool counting) {
  WalkKeyValues(t, access, counting, kHKLM, CurrentVersionKey("Installer\\Folders"),
                TKeyOpen::Plain, [&](TWalkedValue &v) {
                  const std::string folder = qp::WithoutTrailingBackslash(v.name);
                  t.ReportProgress(std::string(ExtractFileName(folder)));
                  if (t.CountTest(!folder.empty() && !IsExistingFolder(folder)))
                    Report(t, v.key,
                           {.data = "Installer Folder",
                            .keyPath = v.key.CurrentPath(),
                            .valueName = v.name,
                            .target = v.name,
                            .kind = ekInvalidPath,
                            .action = raDeleteValue,
                            .testId = 49});
                });
}

void CheckMuiCache(TScanThread &t, TRegistryAccess &access, bool counting) {
  WalkKeyValues(t, access, counting, kHKCU, "Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache",
                TKeyOpen::Checked, [&](TWalkedValue &v) {
                  const std::string item = v.kind == vkString ? v.text : v.name;
                  t.ReportProgress(item);
                  if (v.name.empty() || v.kind != vkString || qp::UpperAscii(v.name) == "LANGID")
                    return;
                  if (v.name.front() == '@') {
                    if (t.CountTest(!FileReferenceExists(ExtractIconFile(v.name.substr(1)))))
                      Report(t, v.key,
                             {.data = item,
                              .keyPath = v.key.CurrentPath(),
                              .valueName = v.name,
                              .target = v.name,
                              .kind = ekInvalidIndirectString,
                              .action = raDeleteValue,
                              .testId = 58});
                  } else if (t.CountTest(!FileReferenceExists(v.name))) {
                    Report(t, v.key,
                           {.data = item,
                            .keyPath = v.key.CurrentPath(),
                            .valueName = v.name,
                            .target = v.name,
                            .kind = ekInvalidPath,
                            .action = raDeleteValue,
                            .testId = 59});
                  }
                });
}

} // namespace

std::optional<std::string> SlowInfoCachePath(const qp::Bytes &record) {
  constexpr std::size_t kRecordSize = 552;
  constexpr std::size_t kFlagOffset = 4;
  constexpr std::size_t kPathOffset = 28;
  constexpr std::size_t kPathChars = (kRecordSize - kPathOffset) / 2; // 262
  if (record.size() != kRecordSize)
    return std::nullopt;
  const std::uint32_t flag = record[kFlagOffset] | (record[kFlagOffset + 1] << 8) |
                             (record[kFlagOffset + 2] << 16) |
                             (static_cast<std::uint32_t>(record[kFlagOffset + 3]) << 24);
  if (flag == 0)
    return std::nullopt;
  std::u16string wide;
  for (std::size_t i = 0; i < kPathChars; ++i) {
    const std::size_t at = kPathOffset + 2 * i;
    const auto unit = static_cast<char16_t>(record[at] | (record[at + 1] << 8));
    if (unit == 0) {
      std::string path;
      if (!WideToUtf8(wide, path))
        return std::nullopt;
      return path;
    }
    wide.push_back(unit);
  }
  return std::nullopt; // no terminator inside the record
}

void CheckShellFolders(TScanThread &t, TRegistryAccess &access, bool counting) {
  const std::string shell = CurrentVersionKey("Explorer\\Shell Folders");
  const std::string user = CurrentVersionKey("Explorer\\User Shell Folders");
  WalkStringLists(
      t, access, counting, {{kHKLM, shell}, {kHKCU, shell}, {kHKLM, user}, {kHKCU, user}},
      [&](TWalkedValue &v) {
        if (v.name.front() == '!')
          return;
        const bool bad = v.text.empty() ||
                         !IsExistingFolder(qp::WithoutTrailingBackslash(ExpandEnvPath(v.text)));
        if (t.CountTest(bad))
          ReportWalkedValue(t, v, ekInvalidPath, raDeleteValue, 69);
      });
}

void CheckKnownDlls(TScanThread &t, TRegistryAccess &access, bool counting) {
  WalkStringLists(t, access, counting,
                  {{kHKLM, "System\\CurrentControlSet\\Control\\Session Manager\\KnownDLLs"},
                   {kHKLM, "System\\CurrentControlSet\\Control\\Session Manager\\Known16DLLs"},
                   {kHKLM, "System\\CurrentControlSet\\Control\\SessionManager\\KnownDLLs"},
                   {kHKLM, "System\\CurrentControlSet\\Control\\SessionManager\\Known16DLLs"}},
                  [&](TWalkedValue &v) {
                    bool bad = v.text.empty();
                    if (!bad) {
                      const std::string expanded =
                          qp::WithoutTrailingBackslash(ExpandEnvPath(v.text));
                      bad = !IsExistingFolder(expanded) && !FileReferenceExists(expanded);
                    }
                    if (t.CountTest(bad))
                      ReportWalkedValue(t, v, ekInvalidPath, raDeleteValue, 65);
                  });
}

void CheckVirtualDevices(TScanThread &t, TRegistryAccess &access, bool counting) {
  WalkStartKey(t, access, counting, kHKLM, "System\\CurrentControlSet\\Services\\VXD",
               [&](TRegistryAccess &, TRegistryAccess &work, const std::string &path) {
                 if (!t.OpenCheckedKey(work, path))
                   return;
                 std::string driver;
                 if (!t.ReadStringValue(driver, work, raDeleteValue, "StaticVxD"))
                   return;
                 if (t.CountTest(driver.empty() || !FileReferenceExists(driver)))
                   Report(t, work,
                          {.data = KeyTail(path, 0),
                           .keyPath = path,
                           .valueName = "StaticVxD",
                           .target = driver,
                           .kind = ekInvalidPath,
                           .action = raDeleteValue,
                           .testId = 81});
               });
}

void CheckSharedDlls(TScanThread &t, TRegistryAccess &access, bool counting) {
  WalkKeyValues(t, access, counting, kHKLM, CurrentVersionKey("SharedDLLs"), TKeyOpen::Checked,
                [&](TWalkedValue &v) {
                  const std::string file(ExtractFileName(v.name));
                  t.ReportProgress(file);
                  if (t.CountTest(!v.name.empty() && !ProbeFile(v.name)))
                    Report(t, v.key,
                           {.data = file,
                            .keyPath = v.key.CurrentPath(),
                            .valueName = v.name,
                            .kind = ekInvalidSharedFilePath,
                            .action = raDeleteValue,
                            .testId = 66});
                });
}

void CheckStartup(TScanThread &t, TRegistryAccess &access, bool counting) {
  const std::string run = CurrentVersionKey("Run");
  const std::string runOff = CurrentVersionKey("Run-");
  const std::string services = CurrentVersionKey("RunServices");
  const std::string servicesOff = CurrentVersionKey("RunServices-");
  WalkStringLists(t, access, counting,
                  {{kHKLM, run},
                   {kHKCU, run},
                   {kHKLM, runOff},
                   {kHKCU, runOff},
                   {kHKLM, services},
                   {kHKLM, servicesOff}},
                  [&](TWalkedValue &v) {
                    const bool bad = v.text.empty() || !CommandTargetExists(ExpandEnvPath(v.text));
                    if (t.CountTest(bad))
                      ReportWalkedValue(t, v, ekInvalidPath, raDeleteValue, 72);
                  });
}

void CheckHelpFiles(TScanThread &t, TRegistryAccess &access, bool counting) {
  CheckHelpList(t, access, counting, "Software\\Microsoft\\Windows\\Help");
}

void CheckHtmlHelp(TScanThread &t, TRegistryAccess &access, bool counting) {
  CheckHelpList(t, access, counting, "Software\\Microsoft\\Windows\\HTML Help");
}

void CheckWindowsFonts(TScanThread &t, TRegistryAccess &access, bool counting) {
  const std::string fonts = counting ? std::string() : GetWindowsDir() + "Fonts\\";
  WalkStringLists(t, access, counting,
                  {{kHKLM, CurrentVersionKey("Fonts")},
                   {kHKLM, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"}},
                  [&](TWalkedValue &v) {
                    const std::string file = ExpandEnvPath(v.text);
                    const bool bad = !ProbeFile(file) && !ProbeFile(fonts + file);
                    if (t.CountTest(bad))
                      ReportWalkedValue(t, v, ekInvalidFontFile, raDeleteValue, 82);
                  });
}

void CheckAppPaths(TScanThread &t, TRegistryAccess &access, bool counting) {
  WalkStartKeys(t, access, counting, CurrentVersionKey("App Paths"),
                [&](TRegistryAccess &, TRegistryAccess &work, const std::string &path) {
                  CheckAppPathEntry(t, work, path);
                });
}

void CheckInstalledFiles(TScanThread &t, TRegistryAccess &access, bool counting) {
  WalkStringLists(t, access, counting,
                  {{kHKLM, "System\\CurrentControlSet\\Control\\InstalledFiles"}},
                  [&](TWalkedValue &v) {
                    const bool bad = v.text.empty() || !FileReferenceExists(v.text);
                    if (t.CountTest(bad))
                      ReportWalkedValue(t, v, ekInvalidPath, raDeleteValue, 48);
                  });
}

void CheckAddRemoveCache(TScanThread &t, TRegistryAccess &access, bool counting) {
  WalkStartKey(t, access, counting, kHKLM, CurrentVersionKey("App Management\\ARPCache"),
               [&](TRegistryAccess &, TRegistryAccess &work, const std::string &path) {
                 CheckArpCacheEntry(t, work, path);
               });
  if (t.Terminated())
    return;
  WalkStartKey(t, access, counting, kHKLM, CurrentVersionKey("Uninstall"),
               [&](TRegistryAccess &, TRegistryAccess &work, const std::string &path) {
                 CheckUninstallEntry(t, work, path);
               });
  if (t.Terminated())
    return;
  CheckInstallerFolders(t, access, counting);
  if (t.Terminated())
    return;
  CheckMuiCache(t, access, counting);
}

void RegisterSoftwareChecks(TCategoryChecks &table) {
  table[ecShellFolders] = CheckShellFolders;
  table[ecSessionManagerKnownDLLs] = CheckKnownDlls;
  table[ecVirualDevices] = CheckVirtualDevices;
  table[ecSharedFiles] = CheckSharedDlls;
  table[ecStartup] = CheckStartup;
  table[ecHelpFiles] = CheckHelpFiles;
  table[ecWindowsFonts] = CheckWindowsFonts;
  table[ecAppPaths] = CheckAppPaths;
  table[ecHTMLHelp] = CheckHtmlHelp;
  table[ecInstalledFiles] = CheckInstalledFiles;
  table[ecAddRemoveCache] = CheckAddRemoveCache;
  RegisterDeepChecks(table);
}

} // namespace quenlo
