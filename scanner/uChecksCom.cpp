#include "scanner/uChecksCom.h"
#include "platform/ScopeGuard.h"

#include <vector>

#include "paths/uPaths.h"
#include "scanner/uSubChecks.h"

namespace quenlo {

namespace {

constexpr std::uint32_t kHKCR = wc::HkeyClassesRoot;

// A type library file named by the default value of K\0\win32 or K\0\win64.
void CheckTypeLibFile(TScanThread &t, TRegistryAccess &work, const std::string &path,
                      const std::string &data, std::int32_t testId) {
  if (!t.OpenCheckedKey(work, path))
    return;
  std::string file;
  if (!t.ReadStringValue(file, work, raDeleteKey, "") || file.empty())
    return;
  if (t.CountTest(!FileReferenceExists(file)))
    Report(t, work,
           {.data = data,
            .keyPath = path,
            .target = file,
            .kind = ekInvalidPath,
            .action = raDeleteKey,
            .testId = testId});
}

void CheckHelpDir(TScanThread &t, TRegistryAccess &work, const std::string &path,
                  const std::string &data) {
  if (!t.OpenCheckedKey(work, path))
    return;
  if (t.CountTest(!work.ValueExists(""))) {
    Report(t, work,
           {.data = data,
            .keyPath = path,
            .kind = ekInvalidHelpDirectoryPath,
            .action = raDeleteKey,
            .testId = 75});
    return;
  }
  std::string folder;
  if (!t.ReadStringValue(folder, work, raDeleteKey, ""))
    return;
  const std::string expanded = StripQuotes(ExpandEnvPath(folder));
  if (expanded.empty())
    return;
  if (t.CountTest(!ProbeFileOrFolder(expanded)))
    Report(t, work,
           {.data = data,
            .keyPath = path,
            .target = folder,
            .kind = ekInvalidHelpDirectoryPath,
            .action = raDeleteKey,
            .testId = 76});
}

// InprocHandler, InprocServer, LocalServer and their 32-bit forms. Only an
// absolute path is looked for: a bare name is found by the system's own
// search rules.
void CheckServerKey(TScanThread &t, TRegistryAccess &work, const std::string &path,
                    const std::string &data) {
  if (!t.OpenCheckedKey(work, path))
    return;
  std::string server;
  if (t.ReadStringValue(server, work, raDeleteKey, "")) {
    const bool bad =
        server.empty() || (server.find(":\\") != std::string::npos && !FileReferenceExists(server));
    if (t.CountTest(bad))
      Report(t, work,
             {.data = data,
              .keyPath = path,
              .target = server,
              .kind = ekInvalidPath,
              .action = raDeleteKey,
              .testId = 8});
  } else if (t.CountTest(KeyIsEmpty(work))) {
    Report(t, work,
           {.data = data, .keyPath = path, .kind = ekEmptyKey, .action = raDeleteKey, .testId = 9});
  }
}

void CheckClass(TScanThread &t, TRegistryAccess &item, TRegistryAccess &work,
                const std::string &cls) {
  if (!t.OpenKey(item, cls))
    return;
  const TRegistryView view = item.View();
  const std::string data = ItemTextOf(t, item, raDeleteValue);

  if (!RefusedIn64BitView(item)) {
    std::string appId;
    if (t.ReadStringValue(appId, item, raDeleteValue, "AppID") &&
        t.CountTest(!KeyBelowExists(kHKCR, view, "AppID\\", appId)))
      Report(t, item,
             {.data = data,
              .keyPath = cls,
              .valueName = "AppID",
              .target = appId,
              .kind = ekInvalidAppId,
              .action = raDeleteValue,
              .testId = 18});
  }
  item.CloseKey();

  CheckDefaultIcon(t, work, cls, data);

  static const TDefaultValueRule bitmap{.missingTest = 14,
                                        .badTest = 15,
                                        .kind = ekInvalidToolboxBitmapPath,
                                        .missingAction = raDeleteKey,
                                        .badAction = raDeleteKey,
                                        .wrongType = raDeleteKey};
  for (const char *sub : {"\\ToolboxBitmap", "\\ToolboxBitmap32"})
    CheckDefaultValue(t, work, cls + sub, data, bitmap, [](const std::string &value) {
      if (value == "%1" || value == "\"%1\"")
        return false;
      return value.empty() || !FileReferenceExists(ExtractIconFile(value));
    });

  static const TDefaultValueRule progId{.missingTest = 12,
                                        .badTest = 13,
                                        .kind = ekInvalidProgId,
                                        .missingAction = raDeleteKey,
                                        .badAction = raDeleteValueAndEmptyKey,
                                        .wrongType = raDeleteValue};
  for (const char *sub : {"\\ProgID", "\\VersionIndependentProgID"})
    CheckDefaultValue(t, work, cls + sub, data, progId, [view](const std::string &value) {
      return !KeyBelowExists(kHKCR, view, "", value);
    });

  for (const char *sub : {"\\InprocHandler", "\\InprocHandler32", "\\InprocServer",
                          "\\InprocServer32", "\\LocalServer", "\\LocalServer32"})
    CheckServerKey(t, work, cls + sub, data);

  static const TDefaultValueRule treatAs{.missingTest = 10,
                                         .badTest = 11,
                                         .kind = ekInvalidClassId,
                                         .missingAction = raDeleteKey,
                                         .badAction = raDeleteValueAndEmptyKey,
                                         .wrongType = raDeleteValue};
  for (const char *sub : {"\\AutoConvertTo", "\\AutoTreatAs", "\\TreatAs"})
    CheckDefaultValue(t, work, cls + sub, data, treatAs, [&t, view](const std::string &value) {
      return !IsValidClass(t, view, value);
    });

  static const TDefaultValueRule typeLib{.missingTest = 16,
                                         .badTest = 17,
                                         .kind = ekInvalidTypeLib,
                                         .missingAction = raDeleteKey,
                                         .badAction = raDeleteKey,
                                         .wrongType = raDeleteKey};
  CheckDefaultValue(t, work, cls + "\\TypeLib", data, typeLib, [view](const std::string &value) {
    return !KeyBelowExists(kHKCR, view, "TypeLib\\", value);
  });

  const std::string errors = cls + "\\ExtendedErrors";
  std::vector<std::string> names;
  if (t.OpenKey(work, errors))
    qp::IgnoreResult(work.GetKeyNames(names));
  for (const std::string &name : names) {
    if (t.CountTest(!IsValidClass(t, view, name)))
      Report(t, work,
             {.data = data,
              .keyPath = errors + "\\" + name,
              .target = name,
              .kind = ekInvalidClassId,
              .action = raDeleteKey,
              .testId = 30});
  }
  work.CloseKey();
}

void CheckInterface(TScanThread &t, TRegistryAccess &item, TRegistryAccess &work,
                    const std::string &itf) {
  if (!t.OpenKey(item, itf))
    return;
  const TRegistryView view = item.View();
  const std::string data = ItemTextOf(t, item, raDeleteValue);
  item.CloseKey();

  static const TDefaultValueRule typeLib{.missingTest = 53,
                                         .badTest = 54,
                                         .kind = ekInvalidTypeLib,
                                         .missingAction = raDeleteKey,
                                         .badAction = raDeleteKey,
                                         .wrongType = raDeleteKey};
  CheckDefaultValue(t, work, itf + "\\TypeLib", data, typeLib, [view](const std::string &value) {
    return !KeyBelowExists(kHKCR, view, "TypeLib\\", value);
  });
  static const TDefaultValueRule proxy{.missingTest = 50,
                                       .badTest = 51,
                                       .kind = ekInvalidClassId,
                                       .missingAction = raDeleteKey,
                                       .badAction = raDeleteKey,
                                       .wrongType = raDeleteKey};
  for (const char *sub : {"\\ProxyStubClsid", "\\ProxyStubClsid32"})
    CheckDefaultValue(t, work, itf + sub, data, proxy, [&t, view](const std::string &value) {
      return !IsValidClass(t, view, value);
    });
  work.CloseKey();
}

void CheckAppId(TScanThread &t, TRegistryAccess &item, const std::string &app) {
  if (!t.OpenCheckedKey(item, app))
    return;
  const TRegistryView view = item.View();
  const std::string data = ItemTextOf(t, item, raDeleteValue);
  std::string value;
  if (t.ReadStringValue(value, item, raDeleteValue, "AppID") &&
      t.CountTest(!KeyBelowExists(kHKCR, view, "AppID\\", value)))
    Report(t, item,
           {.data = data,
            .keyPath = app,
            .valueName = "AppID",
            .target = value,
            .kind = ekInvalidAppId,
            .action = raDeleteValue,
            .testId = 2});
  if (t.ReadStringValue(value, item, raDeleteValue, "LocalService") &&
      t.CountTest(!KeyBelowExists(wc::HkeyLocalMachine, view,
                                  "System\\CurrentControlSet\\Services\\", value)))
    Report(t, item,
           {.data = data,
            .keyPath = app,
            .valueName = "LocalService",
            .target = value,
            .kind = ekInvalidLocalService,
            .action = raDeleteValue,
            .testId = 3});
  // An empty DllSurrogate selects the system's own surrogate.
  for (const char *name : {"DllSurrogate", "DllSurrogateExecutable"}) {
    if (t.ReadStringValue(value, item, raClearValue, name) && !value.empty() &&
        t.CountTest(!FileReferenceExists(value)))
      Report(t, item,
             {.data = data,
              .keyPath = app,
              .valueName = name,
              .target = value,
              .kind = ekInvalidPath,
              .action = raClearValue,
              .testId = 1});
  }
  item.CloseKey();
}

} // namespace

void CheckTypeLib(TScanThread &t, TRegistryAccess &access, bool counting) {
  WalkStartKeys(t, access, counting, "Software\\Classes\\TypeLib",
                [&t](TRegistryAccess &item, TRegistryAccess &work, const std::string &lib) {
                  std::vector<std::string> versions;
                  if (!t.OpenKey(item, lib) || !item.GetKeyNames(versions))
                    return;
                  for (const std::string &version : versions) {
                    const std::string key = lib + "\\" + version;
                    if (!t.OpenKey(item, key))
                      continue;
                    std::string data;
                    t.ReadStringValue(data, item, raDeleteValue, "");
                    CheckTypeLibFile(t, work, key + "\\0\\win32", data, 73);
                    // The 64-bit registration matters wherever Windows is
                    // 64-bit, whichever the bitness of this program.
                    if (ProcessOnWow64)
                      CheckTypeLibFile(t, work, key + "\\0\\win64", data, 74);
                    CheckHelpDir(t, work, key + "\\HelpDir", data);
                  }
                  item.CloseKey();
                  work.CloseKey();
                });
}

void CheckCLSIDs(TScanThread &t, TRegistryAccess &access, bool counting) {
  WalkStartKeys(t, access, counting, "Software\\Classes\\CLSID",
                [&t](TRegistryAccess &item, TRegistryAccess &work, const std::string &cls) {
                  CheckClass(t, item, work, cls);
                });
}

void CheckInterfaces(TScanThread &t, TRegistryAccess &access, bool counting) {
  WalkStartKeys(t, access, counting, "Software\\Classes\\Interface",
                [&t](TRegistryAccess &item, TRegistryAccess &work, const std::string &itf) {
                  CheckInterface(t, item, work, itf);
                });
}

void CheckAppIDs(TScanThread &t, TRegistryAccess &access, bool counting) {
  WalkStartKeys(t, access, counting, "Software\\Classes\\AppID",
                [&t](TRegistryAccess &item, TRegistryAccess &, const std::string &app) {
                  CheckAppId(t, item, app);
                });
}

} // namespace quenlo
