#include "scanner/uChecksAssoc.h"

#include <vector>

#include "paths/uPaths.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "scanner/uSubChecks.h"

namespace quenlo {

namespace {

constexpr std::uint32_t kHKCR = wc::HkeyClassesRoot;
constexpr std::uint32_t kStartRoots[] = {wc::HkeyLocalMachine, wc::HkeyCurrentUser};
constexpr const char *kAppPaths = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

// Wow6432Node is the root of the 32-bit view's classes, seen from the
// 64-bit view: its CLSID subkey is the whole 32-bit class table, not a
// handler key.
bool SkippedFileType(const std::string &name) {
  const std::string upper = qp::UpperAscii(name);
  return upper == "*" || upper == ".EXE" || upper == ".REG" || upper == "WOW6432NODE" ||
         name.find(' ') != std::string::npos;
}

// Empty key: nothing below it, and no value but an empty default.
bool IsEmptyFileType(const TRegistryAccess &key, const qp::KeyInfo &info,
                     const std::string &defaultValue) {
  if (info.subKeys != 0)
    return false;
  if (info.values == 0)
    return true;
  return info.values == 1 && defaultValue.empty() && key.ValueExists("");
}

void CheckCurVer(TScanThread &t, TRegistryAccess &work, const std::string &path,
                 const std::string &data) {
  if (!t.OpenCheckedKey(work, path))
    return;
  std::string progId;
  if (t.ReadStringValue(progId, work, raDeleteKey, "") &&
      t.CountTest(!KeyBelowExists(kHKCR, work.View(), "", progId)))
    Report(t, work,
           {.data = data,
            .keyPath = path,
            .target = progId,
            .kind = ekInvalidProgId,
            .action = raDeleteKey,
            .testId = 42});
}

void CheckOleServer(TScanThread &t, TRegistryAccess &work, const std::string &path,
                    const std::string &data) {
  if (!t.OpenCheckedKey(work, path))
    return;
  std::string server;
  if (t.ReadStringValue(server, work, raDeleteValue, "") &&
      t.CountTest(server.empty() || !FileReferenceExists(server)))
    Report(t, work,
           {.data = data,
            .keyPath = path,
            .target = server,
            .kind = ekInvalidPath,
            .action = raDeleteValue,
            .testId = 43});
}

void CheckFileType(TScanThread &t, TRegistryAccess &item, TRegistryAccess &work,
                   const std::string &path) {
  const std::string name = KeyTail(path, 0);
  if (SkippedFileType(name))
    return;
  if (!t.OpenKey(item, path))
    return;
  const TRegistryView view = item.View();
  const bool dotted = !name.empty() && name.front() == '.';
  const std::string data = dotted ? qp::UpperAscii(name) + " file" : name;
  std::string type;
  t.ReadStringValue(type, item, raDeleteValue, "");
  const bool refused = RefusedIn64BitView(item);

  if (!refused) {
    qp::KeyInfo info;
    if (item.GetKeyInfo(info) && t.CountTest(IsEmptyFileType(item, info, type))) {
      Report(
          t, item,
          {.data = data, .keyPath = path, .kind = ekEmptyKey, .action = raDeleteKey, .testId = 40});
      item.CloseKey();
      return;
    }
  }
  if (dotted && !type.empty()) {
    if (!refused && t.CountTest(!KeyExists(kHKCR, view, type)))
      Report(t, item,
             {.data = data,
              .keyPath = path,
              .target = type,
              .kind = ekInvalidProgId,
              .action = raDeleteValue,
              .testId = 41});
    CheckShellNew(t, work, path + "\\" + type + "\\ShellNew", data);
  }
  if (!refused) {
    CheckIndirectString(t, item, "FriendlyTypeName", data);
    CheckIndirectString(t, item, "InfoTip", data);
  }
  item.CloseKey();

  CheckDefaultIcon(t, work, path, data);
  CheckHandlerKey(t, work, path + "\\PersistentHandler", data);
  CheckHandlerKey(t, work, path + "\\CLSID", data);
  CheckOpenWithList(t, work, path + "\\OpenWithList", data);
  CheckOpenWithProgids(t, work, path + "\\OpenWithProgids", data);
  CheckShellNew(t, work, path + "\\ShellNew", data);
  CheckShellExtensionHandlers(t, work, path + "\\ShellEx", data);
  CheckShellVerbs(t, work, path + "\\Shell", data);
  CheckCurVer(t, work, path + "\\CurVer", data);
  CheckOleServer(t, work, path + "\\Protocol\\StdFileEditing\\Server", data);
  work.CloseKey();
}

// A DWORD value that names a code page (tests 20 and 19); a missing value is
// not tested.
void CheckCodePageValue(TScanThread &t, TRegistryAccess &key, const std::string &name,
                        const std::string &data) {
  std::uint32_t type = 0;
  qp::Bytes raw;
  if (key.ReadRaw(name, type, raw) != wc::ErrorSuccess)
    return;
  if (t.CountTest(type != wc::RegDword)) {
    Report(t, key,
           {.data = data,
            .keyPath = key.CurrentPath(),
            .valueName = name,
            .target = "REG_DWORD",
            .kind = ekInvalidValueType,
            .action = raDeleteValue,
            .testId = 20});
    return;
  }
  std::uint32_t number = 0;
  for (std::size_t i = 0; i < raw.size() && i < 4; ++i)
    number |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(raw[i])) << (8 * i);
  const std::string text = std::to_string(number);
  if (t.CountTest(!KeyExists(kHKCR, key.View(), "MIME\\Database\\CodePage\\" + text)))
    Report(t, key,
           {.data = data,
            .keyPath = key.CurrentPath(),
            .valueName = name,
            .target = text,
            .kind = ekInvalidCodePage,
            .action = raDeleteValueAndEmptyKey,
            .testId = 19});
}

void CheckCharset(TScanThread &t, TRegistryAccess &item, const std::string &path) {
  if (!t.OpenCheckedKey(item, path))
    return;
  const std::string data = KeyTail(path, 0);
  if (t.CountTest(KeyIsEmpty(item))) {
    Report(
        t, item,
        {.data = data, .keyPath = path, .kind = ekEmptyKey, .action = raDeleteKey, .testId = 21});
    item.CloseKey();
    return;
  }
  std::string alias;
  if (t.ReadStringValue(alias, item, raDeleteValue, "AliasForCharset") &&
      t.CountTest(!KeyBelowExists(kHKCR, item.View(), "MIME\\Database\\Charset\\", alias)))
    Report(t, item,
           {.data = data,
            .keyPath = path,
            .valueName = "AliasForCharset",
            .target = alias,
            .kind = ekInvalidCharsetAlias,
            .action = raDeleteValueAndEmptyKey,
            .testId = 22});
  CheckCodePageValue(t, item, "Codepage", data);
  CheckCodePageValue(t, item, "InternetEncoding", data);
  item.CloseKey();
}

void CheckContentType(TScanThread &t, TRegistryAccess &item, const std::string &path) {
  if (!t.OpenCheckedKey(item, path))
    return;
  const TRegistryView view = item.View();
  const std::string data = KeyTail(path, 0);
  if (t.CountTest(KeyIsEmpty(item))) {
    Report(
        t, item,
        {.data = data, .keyPath = path, .kind = ekEmptyKey, .action = raDeleteKey, .testId = 31});
    item.CloseKey();
    return;
  }
  std::string value;
  if (t.ReadStringValue(value, item, raDeleteValue, "CLSID") &&
      t.CountTest(!IsValidClass(t, view, value)))
    Report(t, item,
           {.data = data,
            .keyPath = path,
            .valueName = "CLSID",
            .target = value,
            .kind = ekInvalidClassId,
            .action = raDeleteValueAndEmptyKey,
            .testId = 32});
  if (t.ReadStringValue(value, item, raDeleteValue, "Extension") &&
      t.CountTest(!KeyBelowExists(kHKCR, view, "", value)))
    Report(t, item,
           {.data = data,
            .keyPath = path,
            .valueName = "Extension",
            .target = value,
            .kind = ekInvalidFileExtension,
            .action = raDeleteValueAndEmptyKey,
            .testId = 33});
  item.CloseKey();
}

// An application of an Open With MRU list is registered or found as a file.
bool OpenWithAppExists(TRegistryView view, const std::string &app) {
  return KeyBelowExists(wc::HkeyLocalMachine, view, kAppPaths, app) ||
         KeyBelowExists(wc::HkeyCurrentUser, view, kAppPaths, app) ||
         KeyBelowExists(kHKCR, view, "Applications\\", app) || FileReferenceExists(app);
}

void CheckExplorerProgids(TScanThread &t, TRegistryAccess &work, const std::string &path,
                          const std::string &data) {
  qp::KeyInfo info;
  if (!t.OpenCheckedKey(work, path) || !work.GetKeyInfo(info))
    return;
  if (t.CountTest(info.subKeys == 0 && info.values == 0)) {
    Report(
        t, work,
        {.data = data, .keyPath = path, .kind = ekEmptyKey, .action = raDeleteKey, .testId = 25});
    return;
  }
  std::vector<std::string> names;
  qp::IgnoreResult(work.GetValueNames(names));
  for (const std::string &name : names) {
    if (t.Terminated())
      return;
    if (t.CountTest(!KeyExists(kHKCR, work.View(), name)))
      Report(t, work,
             {.data = data,
              .keyPath = path,
              .valueName = name,
              .target = name,
              .kind = ekInvalidProgId,
              .action = raDeleteValueAndEmptyKey,
              .testId = 26});
  }
}

void CheckExplorerOpenWithList(TScanThread &t, TRegistryAccess &work, const std::string &path,
                               const std::string &data) {
  qp::KeyInfo info;
  if (!t.OpenCheckedKey(work, path) || !work.GetKeyInfo(info))
    return;
  if (t.CountTest(info.subKeys == 0 && info.values == 0)) {
    Report(
        t, work,
        {.data = data, .keyPath = path, .kind = ekEmptyKey, .action = raDeleteKey, .testId = 27});
    return;
  }
  std::string mru;
  t.ReadStringValue(mru, work, raDeleteValue, "MRUList");
  bool listReported = false;
  for (const char letter : mru) {
    if (t.Terminated())
      return;
    const std::string name(1, letter);
    if (work.ValueExists(name)) {
      std::string app;
      if (t.ReadStringValue(app, work, raDeleteValue, name) &&
          t.CountTest(!OpenWithAppExists(work.View(), app)))
        Report(t, work,
               {.data = data,
                .keyPath = path,
                .valueName = name,
                .target = app,
                .kind = ekInvalidOpenWithMruEntry,
                .action = raDeleteMRUItem,
                .testId = 28});
    } else if (!listReported) {
      // One report rebuilds the whole list.
      listReported = true;
      if (t.CountTest(true))
        Report(t, work,
               {.data = data,
                .keyPath = path,
                .valueName = "MRUList",
                .target = mru,
                .kind = ekInvalidMruList,
                .action = raRebuildMRUList,
                .testId = 29});
    }
  }
}

void CheckExtensionsKey(TScanThread &t, TRegistryAccess &access, bool counting,
                        std::uint32_t root) {
  access.SetRootKey(root);
  if (!t.OpenCheckedKey(access, "Software\\Microsoft\\Windows\\CurrentVersion\\Extensions"))
    return;
  if (counting) {
    t.CountValues(access);
    access.CloseKey();
    return;
  }
  access.WalkValues([&](TRegistryAccess &, const std::string &keyPath, std::string_view raw,
                        TValueKind kind, const std::string &name) {
    if (t.Terminated())
      return false;
    t.ReportProgress(name);
    if (name.empty())
      return true;
    if (kind != vkString && kind != vkExpandString) {
      ReportTypeError(t, access, name, raDeleteValue);
      return true;
    }
    const std::string file = CutAtNul(raw);
    if (t.CountTest(!FileReferenceExists(file)))
      Report(t, access,
             {.data = name,
              .keyPath = keyPath,
              .valueName = name,
              .target = file,
              .kind = ekInvalidPath,
              .action = raDeleteValue,
              .testId = 34});
    return true;
  });
  access.CloseKey();
}

} // namespace

void CheckFileTypes(TScanThread &t, TRegistryAccess &access, bool counting) {
  const TItemVisitor visit = [&t](TRegistryAccess &item, TRegistryAccess &work,
                                  const std::string &path) { CheckFileType(t, item, work, path); };
  for (const std::uint32_t root : kStartRoots) {
    if (t.Terminated())
      return;
    WalkStartKey(t, access, counting, root, "Software\\Classes", visit);
    if (counting || t.Terminated())
      continue;
    TRegistryAccess item(access.Access());
    TRegistryAccess work(access.Access());
    CopyRootAndView(item, access);
    CopyRootAndView(work, access);
    for (const char *extra :
         {"Software\\Classes\\Directory\\Background", "Software\\Classes\\Network\\Type"}) {
      t.ReportProgress(extra);
      CheckFileType(t, item, work, extra);
    }
  }
}

void CheckCodePages(TScanThread &t, TRegistryAccess &access, bool counting) {
  WalkStartKeys(t, access, counting, "Software\\Classes\\MIME\\Database\\Charset",
                [&t](TRegistryAccess &item, TRegistryAccess &, const std::string &path) {
                  CheckCharset(t, item, path);
                });
}

void CheckContentTypes(TScanThread &t, TRegistryAccess &access, bool counting) {
  WalkStartKeys(t, access, counting, "Software\\Classes\\MIME\\Database\\Content Type",
                [&t](TRegistryAccess &item, TRegistryAccess &, const std::string &path) {
                  CheckContentType(t, item, path);
                });
}

void CheckApplications(TScanThread &t, TRegistryAccess &access, bool counting) {
  WalkStartKeys(t, access, counting, "Software\\Classes\\Applications",
                [&t](TRegistryAccess &, TRegistryAccess &work, const std::string &path) {
                  CheckShellVerbs(t, work, path + "\\shell", KeyTail(path, 0));
                  work.CloseKey();
                });
}

void CheckFileExtensions(TScanThread &t, TRegistryAccess &access, bool counting) {
  WalkStartKey(t, access, counting, wc::HkeyCurrentUser,
               "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts",
               [&t](TRegistryAccess &, TRegistryAccess &work, const std::string &path) {
                 const std::string data = qp::UpperAscii(KeyTail(path, 0)) + " file";
                 CheckExplorerProgids(t, work, path + "\\OpenWithProgids", data);
                 CheckExplorerOpenWithList(t, work, path + "\\OpenWithList", data);
                 work.CloseKey();
               });
  for (const std::uint32_t root : kStartRoots) {
    if (t.Terminated())
      return;
    CheckExtensionsKey(t, access, counting, root);
  }
}

} // namespace quenlo
