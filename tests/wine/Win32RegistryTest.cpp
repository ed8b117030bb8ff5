// The Win32 registry implementation against Wine's registry.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "platform/Platform.h"
#include "platform/Utf.h"
#include "platform/win32/WinApi.h"
#include "tests/wine/WineTestSupport.h"

namespace {

using qp::Bytes;
using qp::HKey;
using quenlo_wine::ScopedKey;

constexpr const char *kTestKey = "Software\\QuenloTest";
constexpr const wchar_t *kTestKeyW = L"Software\\QuenloTest";

Bytes RawString(std::string_view utf8) {
  Bytes raw = qp::Utf8ToRawUtf16(utf8);
  raw.push_back(0);
  raw.push_back(0);
  return raw;
}

class Win32Registry : public testing::Test {
protected:
  void SetUp() override { Cleanup(); }
  void TearDown() override { Cleanup(); }
  static void Cleanup() {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      quenlo_wine::RemoveKeyTree(root, kTestKeyW, KEY_WOW64_64KEY);
      quenlo_wine::RemoveKeyTree(root, kTestKeyW, KEY_WOW64_32KEY);
    }
  }
  qp::IRegistry &reg() { return qp::Platform().Registry(); }

  // Creates root\path in the view and closes it again.
  void Make(std::uint32_t root, const std::string &path, std::uint32_t view = 0) {
    ScopedKey key;
    ASSERT_EQ(reg().CreateKey(root, path, wc::KeyAllAccess | view, key.Out(), nullptr), 0) << path;
  }
};

TEST_F(Win32Registry, ValueKindsRoundTripAsRawBytes) {
  ScopedKey key;
  std::uint32_t disposition = 0;
  ASSERT_EQ(
      reg().CreateKey(wc::HkeyCurrentUser, kTestKey, wc::KeyAllAccess, key.Out(), &disposition), 0);
  EXPECT_EQ(disposition, wc::RegCreatedNewKey);

  const std::string unicodeName = "Gr\xC3\xBC\xC3\x9F"
                                  "e \xE5\x90\x8D\xE5\x89\x8D";
  const std::map<std::string, std::pair<std::uint32_t, Bytes>> values = {
      {unicodeName,
       {wc::RegSz, RawString("Stra\xC3\x9F"
                             "e \xE6\x97\xA5\xE6\x9C\xAC")}},
      {"multi", {wc::RegMultiSz, Bytes{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}}},
      {"dword", {wc::RegDword, Bytes{0x78, 0x56, 0x34, 0x12}}},
      {"binary", {wc::RegBinary, Bytes{0, 1, 2, 0xFF, 0}}},
      {"qword", {wc::RegQword, Bytes{1, 2, 3, 4, 5, 6, 7, 8}}},
      {"none", {wc::RegNone, Bytes{}}},
      {"emptysz", {wc::RegSz, Bytes{}}},
      {"", {wc::RegExpandSz, RawString("%windir%\\x")}},
      // Odd-sized string data is stored as given.
      {"oddsz", {wc::RegSz, Bytes{'a', 0, 'b'}}},
  };
  for (const auto &[name, value] : values) {
    EXPECT_EQ(reg().SetValue(key.Get(), name, value.first, value.second), 0) << name;
  }

  for (const auto &[name, value] : values) {
    std::uint32_t type = 99, size = 99;
    Bytes data;
    EXPECT_EQ(reg().QueryValue(key.Get(), name, &type, &data, &size), 0) << name;
    EXPECT_EQ(type, value.first) << name;
    EXPECT_EQ(data, value.second) << name;
    EXPECT_EQ(size, value.second.size()) << name;
    // Without a buffer only type and size come back.
    type = 99;
    size = 99;
    EXPECT_EQ(reg().QueryValue(key.Get(), name, &type, nullptr, &size), 0) << name;
    EXPECT_EQ(type, value.first);
    EXPECT_EQ(size, value.second.size());
  }

  // The name reached the registry as UTF-16, not as bytes.
  DWORD type = 0, size = 0;
  EXPECT_EQ(::RegGetValueW(HKEY_CURRENT_USER, kTestKeyW, L"Gr\u00FC\u00DFe \u540D\u524D",
                           RRF_RT_ANY, &type, nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

  qp::KeyInfo info;
  ASSERT_EQ(reg().QueryInfoKey(key.Get(), info), 0);
  EXPECT_EQ(info.values, values.size());
  EXPECT_EQ(info.subKeys, 0u);
  EXPECT_EQ(info.maxValueNameLen, qp::Utf16Length(unicodeName));
  EXPECT_GE(info.maxValueLen, 20u);
  EXPECT_NE(info.lastWriteTime, 0u);

  std::set<std::string> seen;
  for (std::uint32_t i = 0;; ++i) {
    std::string name;
    std::uint32_t kind = 0;
    Bytes data;
    const long rc =
        reg().EnumValue(key.Get(), i, info.maxValueNameLen + 1, info.maxValueLen, name, kind, data);
    if (rc == wc::ErrorNoMoreItems) {
      break;
    }
    ASSERT_EQ(rc, 0) << i;
    ASSERT_TRUE(values.count(name)) << name;
    EXPECT_EQ(kind, values.at(name).first) << name;
    EXPECT_EQ(data, values.at(name).second) << name;
    seen.insert(name);
  }
  EXPECT_EQ(seen.size(), values.size());

  EXPECT_EQ(reg().DeleteValue(key.Get(), "dword"), 0);
  EXPECT_EQ(reg().QueryValue(key.Get(), "dword", nullptr, nullptr, nullptr), wc::ErrorFileNotFound);
  EXPECT_EQ(reg().DeleteValue(key.Get(), "dword"), wc::ErrorFileNotFound);
}

TEST_F(Win32Registry, EnumerationReportsShortBuffersAsMoreData) {
  Make(wc::HkeyCurrentUser, std::string(kTestKey) + "\\alpha");
  Make(wc::HkeyCurrentUser, std::string(kTestKey) + "\\beta_long_name");
  ScopedKey key;
  ASSERT_EQ(reg().OpenKey(wc::HkeyCurrentUser, kTestKey, wc::KeyAllAccess, key.Out()), 0);
  ASSERT_EQ(reg().SetValue(key.Get(), "value_name", wc::RegBinary, Bytes{1, 2, 3, 4}), 0);

  qp::KeyInfo info;
  ASSERT_EQ(reg().QueryInfoKey(key.Get(), info), 0);
  EXPECT_EQ(info.subKeys, 2u);
  EXPECT_EQ(info.maxSubKeyLen, 14u);

  std::set<std::string> names;
  for (std::uint32_t i = 0; i < 2; ++i) {
    std::string name;
    EXPECT_EQ(reg().EnumKey(key.Get(), i, 15, name), 0);
    names.insert(name);
  }
  EXPECT_EQ(names, (std::set<std::string>{"alpha", "beta_long_name"}));
  std::string name;
  EXPECT_EQ(reg().EnumKey(key.Get(), 2, 256, name), wc::ErrorNoMoreItems);

  // The capacity counts the NUL: 14 units do not hold a 14-unit name.
  bool sawMoreData = false;
  for (std::uint32_t i = 0; i < 2; ++i) {
    const long rc = reg().EnumKey(key.Get(), i, 14, name);
    sawMoreData = sawMoreData || rc == wc::ErrorMoreData;
    EXPECT_TRUE(rc == 0 || rc == wc::ErrorMoreData) << rc;
  }
  EXPECT_TRUE(sawMoreData);

  std::uint32_t type = 0;
  Bytes data;
  EXPECT_EQ(reg().EnumValue(key.Get(), 0, 11, 4, name, type, data), 0);
  EXPECT_EQ(name, "value_name");
  EXPECT_EQ(data, (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(reg().EnumValue(key.Get(), 0, 10, 4, name, type, data), wc::ErrorMoreData);
  EXPECT_EQ(reg().EnumValue(key.Get(), 0, 11, 3, name, type, data), wc::ErrorMoreData);
  EXPECT_EQ(reg().EnumValue(key.Get(), 0, 11, 0, name, type, data), wc::ErrorMoreData);
  EXPECT_EQ(reg().EnumValue(key.Get(), 1, 11, 4, name, type, data), wc::ErrorNoMoreItems);
}

TEST_F(Win32Registry, MissingKeysAndKeysWithSubkeys) {
  ScopedKey missing;
  EXPECT_EQ(
      reg().OpenKey(wc::HkeyCurrentUser, "Software\\QuenloTest\\Nope", wc::KeyRead, missing.Out()),
      wc::ErrorFileNotFound);
  EXPECT_EQ(missing.Get(), 0u);
  EXPECT_EQ(reg().DeleteKey(wc::HkeyCurrentUser, "Software\\QuenloTest\\Nope"),
            wc::ErrorFileNotFound);

  Make(wc::HkeyCurrentUser, std::string(kTestKey) + "\\Parent\\Child");
  EXPECT_EQ(reg().DeleteKey(wc::HkeyCurrentUser, "Software\\QuenloTest\\Parent"),
            wc::ErrorAccessDenied);
  EXPECT_EQ(reg().DeleteKey(wc::HkeyCurrentUser, "Software\\QuenloTest\\Parent\\Child"), 0);
  EXPECT_EQ(reg().DeleteKey(wc::HkeyCurrentUser, "Software\\QuenloTest\\Parent"), 0);

  // Opening an existing key again reports it as existing.
  ScopedKey again;
  std::uint32_t disposition = 0;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kTestKey, wc::KeyRead, again.Out(), &disposition),
            0);
  EXPECT_EQ(disposition, wc::RegOpenedExistingKey);

  // Every predefined root works as a parent.
  for (std::uint32_t root : {wc::HkeyClassesRoot, wc::HkeyCurrentUser, wc::HkeyLocalMachine,
                             wc::HkeyUsers, wc::HkeyCurrentConfig}) {
    ScopedKey key;
    EXPECT_EQ(reg().OpenKey(root, "", wc::KeyRead, key.Out()), 0) << std::hex << root;
  }
}

TEST_F(Win32Registry, ThirtyTwoBitViewOfMachineSoftwareIsWow6432Node) {
  Make(wc::HkeyLocalMachine, std::string(kTestKey) + "\\Only32", wc::KeyWow64_32Key);
  Make(wc::HkeyLocalMachine, std::string(kTestKey) + "\\Only64", wc::KeyWow64_64Key);

  ScopedKey k1, k2, k3, k4;
  EXPECT_EQ(reg().OpenKey(wc::HkeyLocalMachine, "Software\\Wow6432Node\\QuenloTest\\Only32",
                          wc::KeyRead | wc::KeyWow64_64Key, k1.Out()),
            0);
  EXPECT_EQ(reg().OpenKey(wc::HkeyLocalMachine, "Software\\QuenloTest\\Only32",
                          wc::KeyRead | wc::KeyWow64_64Key, k2.Out()),
            wc::ErrorFileNotFound);
  EXPECT_EQ(reg().OpenKey(wc::HkeyLocalMachine, "Software\\QuenloTest\\Only64",
                          wc::KeyRead | wc::KeyWow64_32Key, k3.Out()),
            wc::ErrorFileNotFound);
  // The natural view of a 64-bit program is the 64-bit one.
  EXPECT_EQ(
      reg().OpenKey(wc::HkeyLocalMachine, "Software\\QuenloTest\\Only64", wc::KeyRead, k4.Out()),
      0);

  // HKCU\Software is shared between the views.
  Make(wc::HkeyCurrentUser, std::string(kTestKey) + "\\Shared", wc::KeyWow64_32Key);
  ScopedKey shared;
  EXPECT_EQ(reg().OpenKey(wc::HkeyCurrentUser, "Software\\QuenloTest\\Shared",
                          wc::KeyRead | wc::KeyWow64_64Key, shared.Out()),
            0);

  ASSERT_TRUE(reg().HasDeleteKeyEx());
  EXPECT_EQ(
      reg().DeleteKeyEx(wc::HkeyLocalMachine, "Software\\QuenloTest\\Only64", wc::KeyWow64_32Key),
      wc::ErrorFileNotFound);
  EXPECT_EQ(
      reg().DeleteKeyEx(wc::HkeyLocalMachine, "Software\\QuenloTest\\Only32", wc::KeyWow64_32Key),
      0);
  ScopedKey gone;
  EXPECT_EQ(reg().OpenKey(wc::HkeyLocalMachine, "Software\\Wow6432Node\\QuenloTest\\Only32",
                          wc::KeyRead, gone.Out()),
            wc::ErrorFileNotFound);
}

TEST_F(Win32Registry, ReflectionQuery) {
  ASSERT_TRUE(reg().HasQueryReflectionKey());
  ScopedKey key;
  ASSERT_EQ(reg().OpenKey(wc::HkeyLocalMachine, "Software", wc::KeyRead, key.Out()), 0);
  bool disabled = true;
  const long rc = reg().QueryReflectionKey(key.Get(), disabled);
  if (quenlo_wine::RunningOnWine()) {
    // Wine exports the function but implements it for no key.
    EXPECT_EQ(rc, wc::ErrorCallNotImplemented);
  } else {
    EXPECT_EQ(rc, 0);
  }
  EXPECT_FALSE(disabled);
}

TEST_F(Win32Registry, ChangeNotificationSecurityAndSave) {
  ScopedKey key;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kTestKey, wc::KeyAllAccess, key.Out(), nullptr),
            0);
  std::unique_ptr<qp::IChangeWatch> watch;
  ASSERT_EQ(reg().NotifyChangeKeyValue(key.Get(), false, REG_NOTIFY_CHANGE_LAST_SET, watch), 0);
  ASSERT_NE(watch, nullptr);
  EXPECT_FALSE(watch->Wait(0));
  ASSERT_EQ(reg().SetValue(key.Get(), "x", wc::RegDword, Bytes{1, 0, 0, 0}), 0);
  EXPECT_TRUE(watch->Wait(10000));

  std::string sddl;
  ASSERT_EQ(reg().GetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, sddl), 0);
  EXPECT_EQ(sddl.rfind("D:", 0), 0u) << sddl;
  EXPECT_EQ(reg().SetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, sddl), 0);
  EXPECT_EQ(reg().SetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, "not sddl"),
            wc::ErrorInvalidParameter);

  // Saving a key needs the backup privilege (the Wine user holds it).
  qp::ISystem &sys = qp::Platform().System();
  ASSERT_EQ(sys.SetPrivilege("SeBackupPrivilege", true), 0);
  const std::string hive = sys.GetTempPath() + "quenlo_test_hive.dat";
  qp::Platform().Files().DeleteFile(hive);
  EXPECT_EQ(reg().SaveKey(key.Get(), hive), 0);
  EXPECT_NE(qp::Platform().Files().GetAttributes(hive), wc::InvalidFileAttributes);
  // Windows refuses to overwrite a file; Wine replaces it.
  EXPECT_EQ(reg().SaveKey(key.Get(), hive),
            quenlo_wine::RunningOnWine() ? wc::ErrorSuccess : wc::ErrorAlreadyExists);
  EXPECT_EQ(qp::Platform().Files().DeleteFile(hive), 0);
  sys.SetPrivilege("SeBackupPrivilege", false);
}

} // namespace
