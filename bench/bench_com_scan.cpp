// Benchmark of the COM and file association categories: builds a synthetic
// registry of realistic size (20,000 classes with their subkeys, 5,000 file
// types, interfaces, type libraries and the rest in proportion), then times
// a bare walk that opens the same keys and reads the same values as the scan,
// and the scan of these categories through the scanner, and prints both and
// their ratio.
//
// Native: on the in-memory Windows. Windows build (run under Wine on a
// throwaway prefix): the keys are created below HKLM\Software\Classes and
// HKCU with names that start with the bench marker, and deleted at the end.
//
// Usage: bench_com_scan [scale]   (scale 1 = the sizes above; default 1)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/MainThread.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "registry/uRegAccess.h"
#include "scanner/uRegScanner.h"

#ifdef _WIN32
#include "platform/win32/Win32Platform.h"
#else
#include "platform/memory/MemoryPlatform.h"
#endif

namespace {

using namespace quenlo;
using Clock = std::chrono::steady_clock;

qp::IRegistry &Reg() {
  return qp::Platform().Registry();
}

constexpr const char *kMarker = "QuenloBench";
const std::string kClasses = "Software\\Classes\\";
const std::string kFileExts = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";

struct Sizes {
  int classes = 20000;
  int classes32 = 5000;
  int fileTypes = 5000; // extensions, each with its program ID
  int interfaces = 12000;
  int typeLibs = 1500;
  int appIds = 1000;
  int mimeTypes = 300;
  int applications = 400;
  int fileExts = 400;
};

std::string Guid(int kind, int n) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-B3CE-4000-8000-%012X}", 0xBE5C0000u + kind, n);
  return text;
}

// --- building

class Builder {
public:
  void Key(TRegistryView view, std::uint32_t root, const std::string &path) {
    qp::HKey key = 0;
    if (Reg().CreateKey(root, path, wc::KeyAllAccess | ViewFlag(view), key, nullptr) ==
        wc::ErrorSuccess)
      qp::IgnoreResult(Reg().CloseKey(key));
  }
  void Str(TRegistryView view, std::uint32_t root, const std::string &path, const std::string &name,
           const std::string &value) {
    qp::HKey key = 0;
    if (Reg().CreateKey(root, path, wc::KeyAllAccess | ViewFlag(view), key, nullptr) !=
        wc::ErrorSuccess)
      return;
    qp::Bytes data = qp::Utf8ToRawUtf16(value);
    data.push_back(0);
    data.push_back(0);
    qp::IgnoreResult(Reg().SetValue(key, name, wc::RegSz, data));
    qp::IgnoreResult(Reg().CloseKey(key));
  }
  void Dword(TRegistryView view, std::uint32_t root, const std::string &path,
             const std::string &name, std::uint32_t value) {
    qp::HKey key = 0;
    if (Reg().CreateKey(root, path, wc::KeyAllAccess | ViewFlag(view), key, nullptr) !=
        wc::ErrorSuccess)
      return;
    qp::Bytes data(4);
    for (int i = 0; i < 4; ++i)
      data[i] = static_cast<std::uint8_t>(value >> (8 * i));
    qp::IgnoreResult(Reg().SetValue(key, name, wc::RegDword, data));
    qp::IgnoreResult(Reg().CloseKey(key));
  }
};

constexpr std::uint32_t HKLM = wc::HkeyLocalMachine;
constexpr std::uint32_t HKCU = wc::HkeyCurrentUser;

std::string ProgId(int n) {
  return std::string(kMarker) + ".Type" + std::to_string(n);
}

// Almost everything is valid; about one entry in a hundred is broken, as on
// a machine that has seen some uninstalls.
void BuildClasses(Builder &b, TRegistryView view, int count, const Sizes &s) {
  for (int n = 0; n < count; ++n) {
    const std::string cls = kClasses + "CLSID\\" + Guid(view == rv64 ? 1 : 2, n);
    b.Str(view, HKLM, cls, "", std::string(kMarker) + " Class " + std::to_string(n));
    const std::string server = n % 100 == 7 ? "C:\\Gone\\gone.dll"
                               : n % 3 == 0 ? "shell32.dll"
                                            : "C:\\Windows\\System32\\shell32.dll";
    b.Str(view, HKLM, cls + "\\InprocServer32", "", server);
    b.Str(view, HKLM, cls + "\\InprocServer32", "ThreadingModel", "Both");
    if (n % 4 == 0)
      b.Str(view, HKLM, cls + "\\ProgID", "", ProgId(n % s.fileTypes));
    if (n % 4 == 0)
      b.Str(view, HKLM, cls + "\\VersionIndependentProgID", "", ProgId(n % s.fileTypes));
    if (n % 5 == 0)
      b.Str(view, HKLM, cls + "\\DefaultIcon", "", "shell32.dll,-3");
    if (n % 10 == 0)
      b.Str(view, HKLM, cls + "\\TypeLib", "", Guid(3, n % s.typeLibs));
    if (n % 20 == 0)
      b.Str(view, HKLM, cls, "AppID", Guid(4, n % s.appIds));
    if (n % 10 == 1)
      b.Key(view, HKLM, cls + "\\Implemented Categories\\" + Guid(5, 1));
    if (n % 50 == 2)
      b.Str(view, HKLM, cls + "\\TreatAs", "", Guid(view == rv64 ? 1 : 2, n + 1));
  }
}

void BuildRegistry(const Sizes &s) {
  Builder b;
  BuildClasses(b, rv64, s.classes, s);
  BuildClasses(b, rv32, s.classes32, s);
  for (int n = 0; n < s.interfaces; ++n) {
    for (const TRegistryView view : {rv64, rv32}) {
      if (view == rv32 && n % 3 != 0)
        continue;
      const std::string itf = kClasses + "Interface\\" + Guid(6, n);
      b.Str(view, HKLM, itf, "", "I" + std::string(kMarker) + std::to_string(n));
      b.Str(view, HKLM, itf + "\\ProxyStubClsid32", "",
            Guid(view == rv64 ? 1 : 2, n % s.classes32));
      if (n % 4 == 0)
        b.Str(view, HKLM, itf + "\\TypeLib", "", Guid(3, n % s.typeLibs));
    }
  }
  for (int n = 0; n < s.typeLibs; ++n) {
    const std::string lib = kClasses + "TypeLib\\" + Guid(3, n) + "\\1.0";
    b.Str(rv64, HKLM, lib, "", std::string(kMarker) + " Library");
    b.Str(rv64, HKLM, lib + "\\0\\win32", "", "C:\\Windows\\System32\\shell32.dll");
    b.Str(rv64, HKLM, lib + "\\0\\win64", "", "C:\\Windows\\System32\\shell32.dll");
    b.Key(rv64, HKLM, lib + "\\FLAGS");
  }
  for (int n = 0; n < s.appIds; ++n) {
    const std::string app = kClasses + "AppID\\" + Guid(4, n);
    b.Str(rv64, HKLM, app, "", std::string(kMarker) + " App");
    if (n % 10 == 0)
      b.Str(rv64, HKLM, app, "DllSurrogate", "");
  }
  for (const TRegistryView view : {rv64, rv32}) {
    for (int n = 0; n < s.fileTypes; ++n) {
      const std::string ext = kClasses + ".qb" + std::to_string(n);
      b.Str(view, HKLM, ext, "", ProgId(n));
      b.Str(view, HKLM, ext, "Content Type", "application/x-qb");
      if (n % 5 == 0)
        b.Key(view, HKLM, ext + "\\OpenWithProgids\\" + ProgId(n));
      const std::string type = kClasses + ProgId(n);
      b.Str(view, HKLM, type, "", std::string(kMarker) + " document");
      b.Str(view, HKLM, type, "FriendlyTypeName", "@shell32.dll,-100");
      b.Str(view, HKLM, type + "\\DefaultIcon", "", "C:\\Windows\\System32\\shell32.dll,1");
      b.Str(view, HKLM, type + "\\shell\\open\\command", "",
            n % 100 == 5 ? "C:\\Gone\\viewer.exe \"%1\"" : "\"C:\\Windows\\notepad.exe\" \"%1\"");
      if (n % 3 == 0)
        b.Str(view, HKLM, type + "\\shell\\print\\command", "",
              "rundll32.exe shell32.dll,PrintIt \"%1\"");
      if (n % 7 == 0)
        b.Str(view, HKLM, type + "\\ShellEx\\ContextMenuHandlers\\Bench", "",
              Guid(view == rv64 ? 1 : 2, n % s.classes32));
    }
  }
  for (int n = 0; n < s.mimeTypes; ++n) {
    const std::string cs = kClasses + "MIME\\Database\\Charset\\qb-charset-" + std::to_string(n);
    b.Dword(rv64, HKLM, cs, "Codepage", 1252);
    b.Dword(rv64, HKLM, cs, "InternetEncoding", 1252);
    const std::string ct =
        kClasses + "MIME\\Database\\Content Type\\application/x-qb" + std::to_string(n);
    b.Str(rv64, HKLM, ct, "Extension", ".qb" + std::to_string(n));
  }
  b.Key(rv64, HKLM, kClasses + "MIME\\Database\\Codepage\\1252");
  for (int n = 0; n < s.applications; ++n)
    b.Str(rv64, HKLM,
          kClasses + "Applications\\qbapp" + std::to_string(n) + ".exe\\shell\\open\\command", "",
          "\"C:\\Windows\\notepad.exe\" \"%1\"");
  for (int n = 0; n < s.fileExts; ++n) {
    const std::string x = kFileExts + ".qb" + std::to_string(n);
    b.Str(rv64, HKCU, x + "\\OpenWithList", "MRUList", "ab");
    b.Str(rv64, HKCU, x + "\\OpenWithList", "a", "notepad.exe");
    b.Str(rv64, HKCU, x + "\\OpenWithList", "b", "qbapp1.exe");
    b.Str(rv64, HKCU, x + "\\OpenWithProgids", ProgId(n), "");
  }
}

#ifdef _WIN32
// Deletes every key the bench made (names carry the marker or its GUIDs).
void DeleteRegistry() {
  const auto isBench = [](const std::string &name) {
    return name.find(kMarker) != std::string::npos || name.rfind(".qb", 0) == 0 ||
           name.rfind("{BE5C", 0) == 0 || name.rfind("qb-charset-", 0) == 0 ||
           name.rfind("application/x-qb", 0) == 0 || name.rfind("qbapp", 0) == 0;
  };
  for (const TRegistryView view : {rv64, rv32}) {
    for (const auto &[root, parent] : std::vector<std::pair<std::uint32_t, std::string>>{
             {HKLM, "Software\\Classes"},
             {HKLM, "Software\\Classes\\CLSID"},
             {HKLM, "Software\\Classes\\Interface"},
             {HKLM, "Software\\Classes\\TypeLib"},
             {HKLM, "Software\\Classes\\AppID"},
             {HKLM, "Software\\Classes\\MIME\\Database\\Charset"},
             {HKLM, "Software\\Classes\\MIME\\Database\\Content Type"},
             {HKLM, "Software\\Classes\\Applications"},
             {HKCU, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts"}}) {
      TRegistryAccess reg(wc::KeyRead);
      reg.SetView(view);
      reg.SetRootKey(root);
      std::vector<std::string> names;
      if (!reg.OpenKey(parent, false) || !reg.GetKeyNames(names))
        continue;
      reg.CloseKey();
      for (const std::string &name : names)
        if (isBench(name))
          DeleteKeyTree(root, view, parent + "\\" + name);
    }
  }
}
#endif

// --- the bare walk: the registry work of the scan, without its logic

class BareWalk {
public:
  explicit BareWalk(TRegistryView view) : flag_(wc::KeyRead | ViewFlag(view)) {}

  qp::HKey Open(std::uint32_t root, const std::string &path) {
    qp::HKey key = 0;
    if (Reg().OpenKey(root, path, flag_, key) != wc::ErrorSuccess)
      return 0;
    ++opens;
    return key;
  }
  void Close(qp::HKey key) {
    if (key != 0)
      qp::IgnoreResult(Reg().CloseKey(key));
  }
  bool Exists(std::uint32_t root, const std::string &path) {
    qp::HKey key = Open(root, path);
    Close(key);
    return key != 0;
  }
  std::string Read(qp::HKey key, const std::string &name) {
    std::uint32_t type = 0, size = 0;
    if (Reg().QueryValue(key, name, &type, nullptr, &size) != wc::ErrorSuccess)
      return {};
    qp::Bytes data;
    if (Reg().QueryValue(key, name, &type, &data, &size) != wc::ErrorSuccess)
      return {};
    return CutAtNul(DataToText(type, data));
  }
  std::vector<std::string> Names(qp::HKey key) {
    std::vector<std::string> names;
    qp::KeyInfo info;
    if (Reg().QueryInfoKey(key, info) != wc::ErrorSuccess)
      return names;
    std::string name;
    for (std::uint32_t i = 0; i < info.subKeys; ++i)
      if (Reg().EnumKey(key, i, info.maxSubKeyLen + 1, name) == wc::ErrorSuccess)
        names.push_back(name);
    return names;
  }
  // Opens root\path, reads its default value (and the named values).
  std::string Default(std::uint32_t root, const std::string &path) {
    qp::HKey key = Open(root, path);
    if (key == 0)
      return {};
    std::string value = Read(key, "");
    Close(key);
    return value;
  }
  void Items(std::uint32_t root, const std::string &path,
             const std::function<void(const std::string &)> &item) {
    qp::HKey key = Open(root, path);
    if (key == 0)
      return;
    for (const std::string &name : Names(key))
      item(path + "\\" + name);
    Close(key);
  }

  void Run() {
    for (const std::uint32_t root : {HKLM, HKCU}) {
      Items(root, kClasses + "TypeLib", [&](const std::string &lib) {
        qp::HKey key = Open(root, lib);
        for (const std::string &v : Names(key)) {
          const std::string ver = lib + "\\" + v;
          Default(root, ver);
          Default(root, ver + "\\0\\win32");
          Default(root, ver + "\\0\\win64");
          Default(root, ver + "\\HelpDir");
        }
        Close(key);
      });
    }
    for (const std::uint32_t root : {HKLM, HKCU}) {
      Items(root, kClasses + "CLSID", [&](const std::string &cls) {
        qp::HKey key = Open(root, cls);
        Read(key, "");
        if (!Read(key, "AppID").empty())
          Exists(wc::HkeyClassesRoot, "AppID\\x");
        Close(key);
        for (const char *sub : {"\\DefaultIcon", "\\ToolboxBitmap", "\\ToolboxBitmap32",
                                "\\InprocHandler", "\\InprocHandler32", "\\InprocServer",
                                "\\InprocServer32", "\\LocalServer", "\\LocalServer32"})
          Default(root, cls + sub);
        for (const char *sub : {"\\ProgID", "\\VersionIndependentProgID"}) {
          const std::string v = Default(root, cls + sub);
          if (!v.empty())
            Exists(wc::HkeyClassesRoot, v);
        }
        for (const char *sub : {"\\AutoConvertTo", "\\AutoTreatAs", "\\TreatAs"}) {
          const std::string v = Default(root, cls + sub);
          if (!v.empty())
            Exists(wc::HkeyClassesRoot, "CLSID\\" + v);
        }
        const std::string lib = Default(root, cls + "\\TypeLib");
        if (!lib.empty())
          Exists(wc::HkeyClassesRoot, "TypeLib\\" + lib);
        qp::HKey errors = Open(root, cls + "\\ExtendedErrors");
        Close(errors);
      });
    }
    for (const std::uint32_t root : {HKLM, HKCU}) {
      Items(root, kClasses + "Interface", [&](const std::string &itf) {
        Default(root, itf);
        const std::string lib = Default(root, itf + "\\TypeLib");
        if (!lib.empty())
          Exists(wc::HkeyClassesRoot, "TypeLib\\" + lib);
        for (const char *sub : {"\\ProxyStubClsid", "\\ProxyStubClsid32"}) {
          const std::string v = Default(root, itf + sub);
          if (!v.empty())
            Exists(wc::HkeyClassesRoot, "CLSID\\" + v);
        }
      });
    }
    for (const std::uint32_t root : {HKLM, HKCU}) {
      Items(root, kClasses + "AppID", [&](const std::string &app) {
        qp::HKey key = Open(root, app);
        for (const char *name :
             {"", "AppID", "LocalService", "DllSurrogate", "DllSurrogateExecutable"})
          Read(key, name);
        Close(key);
      });
    }
    for (const std::uint32_t root : {HKLM, HKCU}) {
      Items(root, "Software\\Classes", [&](const std::string &k) { FileType(root, k); });
      FileType(root, kClasses + "Directory\\Background");
      FileType(root, kClasses + "Network\\Type");
    }
    for (const std::uint32_t root : {HKLM, HKCU}) {
      Items(root, kClasses + "MIME\\Database\\Charset", [&](const std::string &cs) {
        qp::HKey key = Open(root, cs);
        qp::KeyInfo info;
        qp::IgnoreResult(Reg().QueryInfoKey(key, info));
        Read(key, "AliasForCharset");
        for (const char *name : {"Codepage", "InternetEncoding"}) {
          std::uint32_t type = 0;
          qp::Bytes data;
          if (Reg().QueryValue(key, name, &type, &data, nullptr) == wc::ErrorSuccess)
            Exists(wc::HkeyClassesRoot, "MIME\\Database\\Codepage\\1252");
        }
        Close(key);
      });
      Items(root, kClasses + "MIME\\Database\\Content Type", [&](const std::string &ct) {
        qp::HKey key = Open(root, ct);
        qp::KeyInfo info;
        qp::IgnoreResult(Reg().QueryInfoKey(key, info));
        Read(key, "CLSID");
        if (!Read(key, "Extension").empty())
          Exists(wc::HkeyClassesRoot, ".qb1");
        Close(key);
      });
    }
    for (const std::uint32_t root : {HKLM, HKCU})
      Items(root, kClasses + "Applications",
            [&](const std::string &app) { Verbs(root, app + "\\shell"); });
    Items(HKCU, kFileExts.substr(0, kFileExts.size() - 1), [&](const std::string &x) {
      qp::KeyInfo info;
      qp::HKey key = Open(HKCU, x + "\\OpenWithProgids");
      if (key != 0 && Reg().QueryInfoKey(key, info) == wc::ErrorSuccess) {
        std::string name;
        std::uint32_t type = 0;
        qp::Bytes data;
        for (std::uint32_t i = 0; i < info.values; ++i)
          if (Reg().EnumValue(key, i, info.maxValueNameLen + 1, info.maxValueLen, name, type,
                              data) == wc::ErrorSuccess)
            Exists(wc::HkeyClassesRoot, name);
      }
      Close(key);
      key = Open(HKCU, x + "\\OpenWithList");
      if (key != 0 && Reg().QueryInfoKey(key, info) == wc::ErrorSuccess) {
        for (const char c : Read(key, "MRUList")) {
          Read(key, std::string(1, c));
          Exists(wc::HkeyClassesRoot, "Applications\\x");
        }
      }
      Close(key);
    });
  }

  std::uint64_t opens = 0;

private:
  void Verbs(std::uint32_t root, const std::string &shell) {
    qp::HKey key = Open(root, shell);
    if (key == 0)
      return;
    for (const std::string &verb : Names(key))
      Default(root, shell + "\\" + verb + "\\Command");
    Close(key);
  }
  void FileType(std::uint32_t root, const std::string &k) {
    qp::HKey key = Open(root, k);
    if (key == 0)
      return;
    const std::string d = Read(key, "");
    qp::KeyInfo info;
    qp::IgnoreResult(Reg().QueryInfoKey(key, info));
    if (!d.empty() && k[k.rfind('\\') + 1] == '.') {
      Exists(wc::HkeyClassesRoot, d);
      Exists(root, k + "\\" + d + "\\ShellNew");
    }
    Read(key, "FriendlyTypeName");
    Read(key, "InfoTip");
    Close(key);
    for (const char *sub :
         {"\\DefaultIcon", "\\PersistentHandler", "\\CLSID", "\\ShellEx\\DataHandler",
          "\\ShellEx\\DropHandler", "\\ShellEx\\IconHandler", "\\ShellEx\\PropertyHandler",
          "\\CurVer", "\\Protocol\\StdFileEditing\\Server", "\\ShellNew"})
      Default(root, k + sub);
    for (const char *list : {"\\OpenWithList", "\\OpenWithProgids", "\\ShellEx\\ColumnHandlers",
                             "\\ShellEx\\ContextMenuHandlers", "\\ShellEx\\CopyHookHandlers",
                             "\\ShellEx\\DragDropHandlers", "\\ShellEx\\PropertySheetHandlers"}) {
      qp::HKey lk = Open(root, k + list);
      if (lk == 0)
        continue;
      for (const std::string &name : Names(lk))
        Default(root, k + list + "\\" + name);
      Close(lk);
    }
    Verbs(root, k + "\\Shell");
  }

  std::uint32_t flag_;
};

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

constexpr TCategorySet kCategories = TCategorySet::Of(ecTypeLib)
                                         .Add(ecFileTypes)
                                         .Add(ecCLSIDs)
                                         .Add(ecInterfaces)
                                         .Add(ecAppIDs)
                                         .Add(ecCodePages)
                                         .Add(ecContentType)
                                         .Add(ecApplications)
                                         .Add(ecFileExtensions);

} // namespace

int main(int argc, char **argv) {
  const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
#ifdef _WIN32
  qp::win32::InstallWin32Platform();
#else
  qp::mem::MemoryPlatform platform;
  platform.Install();
#endif
  qp::TMainThread main;
  InitRegistryLayer();

  Sizes s;
  for (int *n : {&s.classes, &s.classes32, &s.fileTypes, &s.interfaces, &s.typeLibs, &s.appIds,
                 &s.mimeTypes, &s.applications, &s.fileExts})
    *n = std::max(1, static_cast<int>(*n * scale));
  const auto built = Clock::now();
  BuildRegistry(s);
  std::printf("built %d classes (+%d 32-bit), %d file types, %d interfaces, %d type libraries "
              "in %.2f s\n",
              s.classes, s.classes32, s.fileTypes, s.interfaces, s.typeLibs,
              Seconds(Clock::now() - built));

  const bool both = ReflectionAvailable && ProcessOnWow64;
  double bestBare = 1e30, bestScan = 1e30;
  std::uint64_t opens = 0;
  int findings = 0;
  for (int round = 0; round < 3; ++round) {
    auto start = Clock::now();
    opens = 0;
    for (const TRegistryView view : {rv32, rv64}) {
      if (view == rv64 && !both)
        break;
      BareWalk walk(view);
      walk.Run();
      opens += walk.opens;
    }
    bestBare = std::min(bestBare, Seconds(Clock::now() - start));

    TRegScanner scanner(main);
    scanner.SetScanCategories(kCategories);
    start = Clock::now();
    scanner.StartScan();
    while (scanner.IsScanning())
      main.PumpWait(std::chrono::milliseconds(1));
    bestScan = std::min(bestScan, Seconds(Clock::now() - start));
    findings = scanner.ErrorCount();
    if (round == 0 && std::getenv("BENCH_FINDINGS") != nullptr)
      for (int c = 0; c < CategoryCount; ++c)
        if (scanner.CategoryErrorCount(c) > 0)
          std::printf("  %s: %d (first: test %d %s)\n", std::string(CategoryName(c)).c_str(),
                      scanner.CategoryErrorCount(c), scanner.ErrorAt(c, 0)->TestId,
                      scanner.ErrorAt(c, 0)->KeyPath.c_str());
  }
  std::printf("bare walk: %.3f s (%llu key opens, %s)\n", bestBare,
              static_cast<unsigned long long>(opens), both ? "both views" : "one view");
  std::printf("scan:      %.3f s (%d findings)\n", bestScan, findings);
  std::printf("ratio scan / bare walk: %.2f\n", bestScan / bestBare);
#ifdef _WIN32
  DeleteRegistry();
#endif
  return 0;
}
