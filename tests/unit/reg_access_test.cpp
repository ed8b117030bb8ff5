#include <set>

#include "TestPlatform.h"

namespace quenlo::test {
namespace {

using qp::mem::View;

TEST(RegAccessNames, RootNamesAndPaths) {
  EXPECT_EQ(RootKeyShortName(wc::HkeyPerformanceData), "HKEY_PERFORMANCE_DATA");
  EXPECT_EQ(RootKeyLongName(wc::HkeyCurrentConfig), "HKEY_CURRENT_CONFIG");
  EXPECT_EQ(RootKeyShortName(0x80000007u), "");
  EXPECT_EQ(RootKeyFromName("hklm"), wc::HkeyLocalMachine);
  EXPECT_EQ(RootKeyFromName("HKEY_CLASSES_ROOT"), wc::HkeyClassesRoot);
  EXPECT_EQ(RootKeyFromName("HKPD"), 0u);
  EXPECT_EQ(RootKeyFromName("HKEY_PERFORMANCE_DATA"), wc::HkeyPerformanceData);

  EXPECT_EQ(KeyTail("A\\B\\C", 0), "C");
  EXPECT_EQ(KeyTail("A\\B\\C", 1), "B\\C");
  EXPECT_EQ(KeyTail("A\\B\\C", 5), "A\\B\\C");
  EXPECT_EQ(KeyTail("C", 0), "C");
  EXPECT_EQ(KeyParentPath("A\\B\\C"), "A\\B\\");
  EXPECT_EQ(KeyParentPath("C"), "");

  std::string path = "\\REGISTRY\\MACHINE\\SOFTWARE";
  EXPECT_EQ(NativeKeyToRoot(path), wc::HkeyLocalMachine);
  EXPECT_EQ(path, "SOFTWARE");
  path = "\\registry\\user\\S-1-5-18";
  EXPECT_EQ(NativeKeyToRoot(path), wc::HkeyUsers);
  EXPECT_EQ(path, "S-1-5-18");
  path = "\\REGISTRY\\MACHINE\\SOFTWARE\\X";
  EXPECT_EQ(NativeKeyToRoot(path), 0u);
  EXPECT_EQ(path, "\\REGISTRY\\MACHINE\\SOFTWARE\\X");
}

class RegAccess : public MemoryTest {};

TEST_F(RegAccess, ViewBitsFollowTheSystem) {
  TRegistryAccess reg;
  EXPECT_TRUE(reg.IsView64()) << "a 64-bit program on 64-bit Windows starts in the 64-bit view";
  reg.SetView(rv32);
  EXPECT_EQ(reg.Access() & wc::KeyWow64Res, wc::KeyWow64_32Key);
  reg.SetView(rv64);
  EXPECT_EQ(reg.Access() & wc::KeyWow64Res, wc::KeyWow64_64Key);

  sys.SetVersion(5, 0);
  Reinit();
  EXPECT_TRUE(LegacyWindows);
  reg.SetView(rv32);
  EXPECT_EQ(reg.Access() & wc::KeyWow64Res, 0u);
  reg.SetView(rv64);
  EXPECT_EQ(reg.Access() & wc::KeyWow64Res, wc::KeyWow64_64Key);

  sys.SetVersionFails(true);
  Reinit();
  EXPECT_TRUE(LegacyWindows);
}

TEST_F(RegAccess, ProcessOnWow64MeansTwoViews) {
  EXPECT_TRUE(ProcessOnWow64);
  // A 32-bit process on 64-bit Windows.
  sys.SetProcessIs64Bit(false);
  sys.SetWow64Process(true);
  Reinit();
  EXPECT_TRUE(ProcessOnWow64);
  EXPECT_TRUE(TRegistryAccess().IsView64());
  // A 32-bit process on 32-bit Windows.
  sys.SetWow64Process(false);
  sys.SetOs64Bit(false);
  Reinit();
  EXPECT_FALSE(ProcessOnWow64);
  EXPECT_FALSE(TRegistryAccess().IsView64());
  // IsWow64Process not exported.
  sys.SetWow64Process(std::nullopt);
  Reinit();
  EXPECT_FALSE(ProcessOnWow64);
}

TEST_F(RegAccess, WalkSubKeysDepthStopAndLongNames) {
  // A chain 10 levels deep below HKCU\Software\Walk, plus a wide level.
  std::string path = "HKCU\\Software\\Walk";
  for (int i = 0; i < 10; ++i)
    path += "\\L" + std::to_string(i);
  ASSERT_TRUE(reg.CreateKey(View::Phys, path));
  for (int i = 0; i < 5; ++i)
    reg.CreateKey(View::Phys, "HKCU\\Software\\Walk\\W" + std::to_string(i));
  reg.CreateKey(View::Phys, "HKCU\\Software\\Walk\\" + std::string(300, 'x'));

  TRegistryAccess access(wc::KeyRead);
  access.SetRootKey(wc::HkeyCurrentUser);
  ASSERT_TRUE(access.OpenKey("Software\\Walk", false));

  auto depthOf = [](const std::string &p) {
    return static_cast<int>(std::count(p.begin(), p.end(), '\\')) - 1;
  };
  int deepest = 0;
  std::set<std::string> seen;
  access.WalkSubKeys(true, 7, [&](TRegistryAccess &scratch, const std::string &p) {
    EXPECT_EQ(scratch.CurrentKey(), 0u);
    EXPECT_EQ(scratch.RootKey(), wc::HkeyCurrentUser);
    deepest = std::max(deepest, depthOf(p));
    seen.insert(p);
    return wrDescend;
  });
  EXPECT_EQ(deepest, 7);
  EXPECT_EQ(seen.size(), 7u + 5u) << "names over 255 characters cannot be enumerated";

  deepest = 0;
  access.WalkSubKeys(true, 0, [&](TRegistryAccess &, const std::string &p) {
    deepest = std::max(deepest, depthOf(p));
    return wrDescend;
  });
  EXPECT_EQ(deepest, 10);

  int visits = 0;
  const TWalkResult result =
      access.WalkSubKeys(true, 0, [&](TRegistryAccess &, const std::string &p) {
        ++visits;
        return depthOf(p) == 3 ? wrStop : wrDescend;
      });
  EXPECT_EQ(result, wrStop);
  EXPECT_EQ(visits, 3) << "wrStop three levels down ends the whole walk";

  visits = 0;
  access.WalkSubKeys(true, 0, [&](TRegistryAccess &, const std::string &) {
    ++visits;
    return wrSkip;
  });
  EXPECT_EQ(visits, 6);
  EXPECT_EQ(reg.OpenHandleCount(), 1u) << "only the walked key stays open";
}

TEST_F(RegAccess, WalkValuesGivesTextAndKinds) {
  const std::string key = "HKLM\\Software\\Vals";
  reg.SetString(View::V64, key, "s", "C:\\\u00e9t\u00e9\\x.exe");
  reg.SetString(View::V64, key, "e", "%windir%\\x", wc::RegExpandSz);
  reg.SetDword(View::V64, key, "d", 7);
  reg.SetRaw(View::V64, key, "q", wc::RegQword, qp::Bytes(8, 1));
  reg.SetRaw(View::V64, key, "big", wc::RegBinary, qp::Bytes(70000, 2));
  TRegistryAccess access(wc::KeyRead);
  access.SetRootKey(wc::HkeyLocalMachine);
  ASSERT_TRUE(access.OpenKey("Software\\Vals", false));
  std::vector<std::pair<std::string, TValueKind>> got;
  std::string text;
  access.WalkValues([&](TRegistryAccess &, const std::string &path, std::string_view data,
                        TValueKind kind, const std::string &name) {
    EXPECT_EQ(path, "Software\\Vals");
    got.emplace_back(name, kind);
    if (name == "s")
      text = CutAtNul(data);
    return true;
  });
  ASSERT_EQ(got.size(), 4u) << "data over 65536 bytes cannot be enumerated";
  EXPECT_EQ(got[0], std::make_pair(std::string("s"), vkString));
  EXPECT_EQ(got[1].second, vkExpandString);
  EXPECT_EQ(got[2].second, vkDWord);
  EXPECT_EQ(got[3].second, vkUnknown);
  EXPECT_EQ(text, "C:\\\u00e9t\u00e9\\x.exe");
}

TEST_F(RegAccess, ValueAndKeyProbes) {
  reg.SetString(View::V32, "HKLM\\Software\\Probe", "v", "x");
  EXPECT_TRUE(KeyExists(wc::HkeyLocalMachine, rv32, "Software\\Probe"));
  EXPECT_FALSE(KeyExists(wc::HkeyLocalMachine, rv64, "Software\\Probe"));
  reg.SetDenyAccess(View::V32, "HKLM\\Software\\Probe", true);
  EXPECT_FALSE(KeyExists(wc::HkeyLocalMachine, rv32, "Software\\Probe"));
  reg.SetDenyAccess(View::V32, "HKLM\\Software\\Probe", false);

  ScopedKey key;
  std::string error;
  reg.SetDenyWrite(View::V32, "HKLM\\Software\\Probe", true);
  EXPECT_FALSE(OpenKeyFull(wc::HkeyLocalMachine, rv32, "Software\\Probe", key, error));
  EXPECT_EQ(error, "Access is denied.");
  reg.SetDenyWrite(View::V32, "HKLM\\Software\\Probe", false);
  ASSERT_TRUE(OpenKeyFull(wc::HkeyLocalMachine, rv32, "Software\\Probe", key, error));
  EXPECT_TRUE(ValueExists(key.Get(), "v"));
  EXPECT_FALSE(ValueExists(key.Get(), "w"));
  reg.InjectFailure(qp::mem::RegOp::QueryValue, "Probe", wc::ErrorAccessDenied);
  EXPECT_TRUE(ValueExists(key.Get(), "v")) << "an unreadable value still exists";

  TRegistryAccess empty;
  empty.SetView(rv64);
  empty.SetRootKey(wc::HkeyLocalMachine);
  reg.CreateKey(View::V64, "HKLM\\Software\\Empty");
  ASSERT_TRUE(empty.OpenKey("Software\\Empty", false));
  EXPECT_TRUE(KeyIsEmpty(empty));
  reg.SetDword(View::V64, "HKLM\\Software\\Empty", "", 1);
  EXPECT_FALSE(KeyIsEmpty(empty));
}

TEST_F(RegAccess, DeleteKeyTreeErrorsAndPartialDeletes) {
  const std::string base = "HKCU\\Software\\Tree";
  reg.CreateKey(View::V64, base + "\\A\\A1");
  reg.CreateKey(View::V64, base + "\\B\\B1");
  reg.CreateKey(View::V64, base + "\\C");
  reg.SetDenyDelete(View::V64, base + "\\A\\A1", true);

  std::string error;
  EXPECT_FALSE(DeleteKeyTree(error, wc::HkeyCurrentUser, rv64, "Software\\Tree"));
  EXPECT_EQ(error, "RegDeleteKeyEx: Access is denied.");
  EXPECT_FALSE(reg.KeyExists(View::V64, base + "\\B")) << "deleted in reverse index order";
  EXPECT_FALSE(reg.KeyExists(View::V64, base + "\\C"));
  EXPECT_TRUE(reg.KeyExists(View::V64, base + "\\A\\A1"));

  reg.SetDenyDelete(View::V64, base + "\\A\\A1", false);
  reg.SetDeleteKeyExAvailable(false);
  reg.SetDenyDelete(View::V64, base + "\\A", true);
  EXPECT_FALSE(DeleteKeyTree(error, wc::HkeyCurrentUser, rv64, "Software\\Tree"));
  EXPECT_EQ(error, "RegDeleteKey: Access is denied.");
  reg.SetDenyDelete(View::V64, base + "\\A", false);
  EXPECT_TRUE(DeleteKeyTree(error, wc::HkeyCurrentUser, rv64, "Software\\Tree"));
  EXPECT_FALSE(reg.KeyExists(View::V64, base));

  EXPECT_FALSE(DeleteKeyTree(error, wc::HkeyCurrentUser, rv64, "Software\\Tree"));
  EXPECT_EQ(error, "RegKeyOpenEx: The system cannot find the file specified.");
  reg.CreateKey(View::V64, base);
  reg.InjectFailure(qp::mem::RegOp::QueryInfo, "Tree", wc::ErrorAccessDenied);
  EXPECT_FALSE(DeleteKeyTree(error, wc::HkeyCurrentUser, rv64, "Software\\Tree"));
  EXPECT_EQ(error, "RegQueryInfoKey: Access is denied.");
  EXPECT_EQ(reg.OpenHandleCount(), 0u);
}

TEST_F(RegAccess, DeleteKeyTreeStaysInItsView) {
  reg.CreateKey(View::V32, "HKLM\\Software\\Both\\Sub");
  reg.CreateKey(View::V64, "HKLM\\Software\\Both\\Sub");
  EXPECT_TRUE(DeleteKeyTree(wc::HkeyLocalMachine, rv32, "Software\\Both"));
  EXPECT_FALSE(reg.KeyExists(View::V32, "HKLM\\Software\\Both"));
  EXPECT_TRUE(reg.KeyExists(View::V64, "HKLM\\Software\\Both\\Sub"));
}

TEST_F(RegAccess, ReflectionOnlyWhereWindowsHasIt) {
  reg.CreateKey(View::V64, "HKLM\\Software\\Classes\\CLSID\\{1}");
  reg.SetReflectionDisabled(View::V64, "HKLM\\Software\\Classes\\CLSID\\{1}", false);
  // Windows 7 and later: no reflection whatever the query answers.
  EXPECT_FALSE(IsKeyReflected(wc::HkeyLocalMachine, rv64, "Software\\Classes\\CLSID\\{1}"));
  // Vista x64: the query decides.
  sys.SetVersion(6, 0);
  Reinit();
  EXPECT_TRUE(IsKeyReflected(wc::HkeyLocalMachine, rv64, "Software\\Classes\\CLSID\\{1}"));
  reg.SetReflectionDisabled(View::V64, "HKLM\\Software\\Classes\\CLSID\\{1}", true);
  EXPECT_FALSE(IsKeyReflected(wc::HkeyLocalMachine, rv64, "Software\\Classes\\CLSID\\{1}"));
  reg.SetReflectionDisabled(View::V64, "HKLM\\Software\\Classes\\CLSID\\{1}", false);
  // A query that fails (Wine answers 120) or is missing reflects nothing.
  reg.SetReflectionQueryStatus(wc::ErrorCallNotImplemented);
  EXPECT_FALSE(IsKeyReflected(wc::HkeyLocalMachine, rv64, "Software\\Classes\\CLSID\\{1}"));
  reg.SetReflectionQueryStatus(0);
  reg.SetReflectionQueryAvailable(false);
  Reinit();
  EXPECT_FALSE(ReflectionAvailable);
  EXPECT_FALSE(IsKeyReflected(wc::HkeyLocalMachine, rv64, "Software\\Classes\\CLSID\\{1}"));
  // A key that cannot be opened is not reflected either.
  EXPECT_FALSE(IsKeyReflected(wc::HkeyLocalMachine, rv64, "Software\\Missing"));
}

TEST_F(RegAccess, TNTRegistryOpensWithFallbackAndReads) {
  reg.SetString(View::V64, "HKCU\\Software\\Quenlo\\Sub", "name", "value");
  reg.SetDword(View::V64, "HKCU\\Software\\Quenlo\\Sub", "num", 1);
  reg.SetDenyWrite(View::V64, "HKCU\\Software\\Quenlo\\Sub", true);
  TNTRegistry nt;
  ASSERT_TRUE(nt.OpenKey("\\Software\\Quenlo", false));
  ASSERT_TRUE(nt.OpenKey("Sub", false)) << "read-only access is the last fallback";
  EXPECT_EQ(nt.CurrentPath(), "Software\\Quenlo\\Sub");
  EXPECT_EQ(nt.ReadString("name"), "value");
  EXPECT_EQ(nt.ReadString("missing"), "");
  EXPECT_THROW(nt.ReadString("num"), ERegistryException);
  EXPECT_FALSE(nt.OpenKey("\\Software\\Nothing", false));
  EXPECT_TRUE(nt.OpenKey("\\Software\\Made", true));
  EXPECT_TRUE(nt.WriteString("x", "y"));
  EXPECT_EQ(reg.GetText(View::V64, "HKCU\\Software\\Made", "x"), "y");
}

TEST_F(RegAccess, FileProbesSeePastRedirection) {
  fs.AddFile("C:\\Windows\\SysWOW64\\only32.dll", "abc");
  fs.AddFile("C:\\Windows\\System32\\only64.dll", "abcd");
  // The 64-bit program sees the real system folder.
  EXPECT_TRUE(FileExistsNoRedirect("C:\\Windows\\System32\\only64.dll"));
  EXPECT_EQ(FileSizeNoRedirect("C:\\Windows\\System32\\only64.dll"), 4u);
  EXPECT_FALSE(FileExistsNoRedirect("C:\\Windows\\System32\\only32.dll"));
  // So does a 32-bit process, which switches redirection off for the probe.
  sys.SetProcessIs64Bit(false);
  sys.SetWow64Process(true);
  Reinit();
  EXPECT_TRUE(FileExistsNoRedirect("C:\\Windows\\System32\\only64.dll"));
  EXPECT_FALSE(FileExistsNoRedirect("C:\\Windows\\System32\\only32.dll"));
  EXPECT_EQ(FileSizeNoRedirect("C:\\Windows\\System32\\missing.dll"), 0u);
}

} // namespace
} // namespace quenlo::test
