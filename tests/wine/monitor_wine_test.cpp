// The registry monitor's engine on the real registry of a Wine prefix: the
// digests, the kernel names of both views, and changes made through the
// Win32 API reaching the handler.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "WineTestSupport.h"
#include "monitor/uKeyHash.h"
#include "monitor/uRegMonitor.h"
#include "platform/MainThread.h"
#include "platform/Utf.h"
#include "registry/uRegAccess.h"

namespace {

using namespace quenlo;
using namespace std::chrono_literals;

constexpr const wchar_t *kBaseW = L"Software\\QuenloMonitorTest";
constexpr const char *kBase = "Software\\QuenloMonitorTest";

std::string Md5Of(const char *text) {
  return Md5Hex(reinterpret_cast<const std::uint8_t *>(text), std::strlen(text));
}

TEST(WineMonitorDigest, MatchesTheReferenceVectors) {
  EXPECT_EQ(Md5Of(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Of("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5Of("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Of("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(
      Md5Of("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
      "57edf4a22be3c955ac49da2e2107b67a");
}

HKEY MakeKey(HKEY root, const std::wstring &path, REGSAM view) {
  HKEY key = nullptr;
  EXPECT_EQ(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                              &key, nullptr),
            ERROR_SUCCESS);
  return key;
}

void SetDword(HKEY key, const wchar_t *name, DWORD value) {
  EXPECT_EQ(::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                             sizeof value),
            ERROR_SUCCESS);
}

class WineMonitor : public testing::Test {
protected:
  void SetUp() override {
    InitRegistryLayer();
    Clean();
    monitor.OnKeyChanged = [this](TRegMonitor &, const TKeyChange &c) { changes.push_back(c); };
    monitor.OnError = [this](TRegMonitor &, const TMonitorError &e) { errors.push_back(e); };
  }
  void TearDown() override {
    monitor.Deactivate();
    Clean();
  }
  static void Clean() {
    quenlo_wine::RemoveKeyTree(HKEY_CURRENT_USER, kBaseW, KEY_WOW64_64KEY);
    quenlo_wine::RemoveKeyTree(HKEY_LOCAL_MACHINE, kBaseW, KEY_WOW64_64KEY);
    quenlo_wine::RemoveKeyTree(HKEY_LOCAL_MACHINE, kBaseW, KEY_WOW64_32KEY);
  }
  bool PumpUntil(const std::function<bool()> &done, std::chrono::milliseconds patience = 10s) {
    const auto end = std::chrono::steady_clock::now() + patience;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end)
        return false;
      main.PumpWait(5ms);
    }
    return true;
  }
  bool PumpForChanges(std::size_t count) {
    return PumpUntil([&] { return changes.size() >= count; });
  }
  void PumpFor(std::chrono::milliseconds time) {
    PumpUntil([] { return false; }, time);
  }

  qp::TMainThread main;
  TRegMonitor monitor{main};
  std::vector<TKeyChange> changes;
  std::vector<TMonitorError> errors;
};

TEST_F(WineMonitor, KernelNamesTellTheTwoViewsApart) {
  const std::wstring x = std::wstring(kBaseW) + L"\\X";
  ::RegCloseKey(MakeKey(HKEY_LOCAL_MACHINE, x, KEY_WOW64_64KEY));
  ::RegCloseKey(MakeKey(HKEY_LOCAL_MACHINE, x, KEY_WOW64_32KEY));
  qp::IRegistry &reg = qp::Platform().Registry();
  std::string names[2];
  const REGSAM views[2] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};
  for (int i = 0; i < 2; ++i) {
    qp::ScopedKey key;
    ASSERT_EQ(reg.OpenKey(wc::HkeyLocalMachine, std::string(kBase) + "\\X",
                          wc::KeyQueryValue | views[i], key.Out()),
              wc::ErrorSuccess);
    ASSERT_EQ(reg.QueryKeyName(key.Get(), names[i]), wc::ErrorSuccess);
    std::printf("kernel name in the %s view: %s\n", i == 0 ? "32-bit" : "64-bit", names[i].c_str());
  }
  EXPECT_TRUE(qp::EqualsNoCase(names[0],
                               "\\REGISTRY\\MACHINE\\SOFTWARE\\Wow6432Node\\QuenloMonitorTest\\X"))
      << names[0];
  EXPECT_TRUE(qp::EqualsNoCase(names[1], "\\REGISTRY\\MACHINE\\SOFTWARE\\QuenloMonitorTest\\X"))
      << names[1];
  // The user's key: below \REGISTRY\USER\<sid>, the same in both views.
  ::RegCloseKey(MakeKey(HKEY_CURRENT_USER, kBaseW, KEY_WOW64_64KEY));
  std::string user[2];
  for (int i = 0; i < 2; ++i) {
    qp::ScopedKey key;
    ASSERT_EQ(reg.OpenKey(wc::HkeyCurrentUser, kBase, wc::KeyQueryValue | views[i], key.Out()),
              wc::ErrorSuccess);
    ASSERT_EQ(reg.QueryKeyName(key.Get(), user[i]), wc::ErrorSuccess);
  }
  std::printf("kernel name of the user's key: %s\n", user[1].c_str());
  EXPECT_TRUE(qp::EqualsNoCase(user[1].substr(0, 15), "\\REGISTRY\\USER\\")) << user[1];
  EXPECT_TRUE(qp::EqualsNoCase(user[0], user[1]));
}

TEST_F(WineMonitor, ValueAndSubkeyChangesAreReported) {
  HKEY key = MakeKey(HKEY_CURRENT_USER, kBaseW, KEY_WOW64_64KEY);
  SetDword(key, L"v", 1);
  monitor.SetKeyList({std::string("HKCU\\") + kBase});
  monitor.Activate();
  ASSERT_EQ(monitor.WatchPoints().size(), 1u) << "the user's keys have one view";
  EXPECT_EQ(monitor.WatchPoints()[0].view, rv64);
  SetDword(key, L"v", 2);
  ASSERT_TRUE(PumpForChanges(1));
  EXPECT_EQ(changes[0].type, keEditValue);
  EXPECT_EQ(changes[0].name, "v");
  HKEY sub = MakeKey(key, L"Sub", KEY_WOW64_64KEY);
  ::RegCloseKey(sub);
  ASSERT_TRUE(PumpForChanges(2));
  EXPECT_EQ(changes[1].type, keCreateSubkey);
  EXPECT_EQ(changes[1].name, "Sub");
  EXPECT_EQ(::RegDeleteKeyW(key, L"Sub"), ERROR_SUCCESS);
  ASSERT_TRUE(PumpForChanges(3));
  EXPECT_EQ(changes[2].type, keDeleteSubkey);
  ::RegCloseKey(key);
  PumpFor(300ms);
  EXPECT_EQ(changes.size(), 3u);
  EXPECT_TRUE(errors.empty());
}

TEST_F(WineMonitor, WatchedKeyDeletedAndMadeAgain) {
  HKEY key = MakeKey(HKEY_CURRENT_USER, kBaseW, KEY_WOW64_64KEY);
  SetDword(key, L"a", 1);
  ::RegCloseKey(key);
  monitor.SetKeyList({std::string("HKCU\\") + kBase});
  monitor.Activate();
  quenlo_wine::RemoveKeyTree(HKEY_CURRENT_USER, kBaseW, KEY_WOW64_64KEY);
  ASSERT_TRUE(PumpForChanges(1));
  EXPECT_EQ(changes[0].type, keDeleteValue);
  EXPECT_EQ(changes[0].name, "a");
  key = MakeKey(HKEY_CURRENT_USER, kBaseW, KEY_WOW64_64KEY);
  SetDword(key, L"b", 1);
  ::RegCloseKey(key);
  ASSERT_TRUE(PumpForChanges(2));
  EXPECT_EQ(changes[1].type, keCreateValue);
  EXPECT_EQ(changes[1].name, "b");
  PumpFor(300ms);
  EXPECT_EQ(changes.size(), 2u);
}

TEST_F(WineMonitor, ThirtyTwoBitViewIsItsOwnWatchPoint) {
  const std::wstring x = std::wstring(kBaseW) + L"\\X";
  HKEY key32 = MakeKey(HKEY_LOCAL_MACHINE, x, KEY_WOW64_32KEY);
  ::RegCloseKey(MakeKey(HKEY_LOCAL_MACHINE, x, KEY_WOW64_64KEY));
  monitor.SetKeyList({std::string("HKLM\\") + kBase + "\\X"});
  monitor.Activate();
  const std::vector<TWatchPoint> points = monitor.WatchPoints();
  ASSERT_EQ(points.size(), 2u);
  EXPECT_EQ(points[0].view, rv32);
  EXPECT_TRUE(qp::EqualsNoCase(points[0].viewPath, "SOFTWARE\\Wow6432Node\\QuenloMonitorTest\\X"))
      << points[0].viewPath;
  SetDword(key32, L"bits", 32);
  ::RegCloseKey(key32);
  ASSERT_TRUE(PumpForChanges(1));
  PumpFor(300ms);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].where.view, rv32);
}

TEST_F(WineMonitor, SixtyFourKeysStopWithinASlice) {
  std::vector<std::string> keys;
  for (int i = 0; i < 64; ++i) {
    const std::wstring path = std::wstring(kBaseW) + L"\\K" + std::to_wstring(i);
    ::RegCloseKey(MakeKey(HKEY_CURRENT_USER, path, KEY_WOW64_64KEY));
    keys.push_back(std::string("HKCU\\") + kBase + "\\K" + std::to_string(i));
  }
  monitor.SetKeyList(keys);
  monitor.Activate();
  ASSERT_EQ(monitor.WatchPoints().size(), 64u);
  HKEY last = MakeKey(HKEY_CURRENT_USER, std::wstring(kBaseW) + L"\\K63", KEY_WOW64_64KEY);
  SetDword(last, L"n", 1);
  ::RegCloseKey(last);
  ASSERT_TRUE(PumpForChanges(1));
  EXPECT_EQ(changes[0].where.index, 63);
  // Every waiting thread is woken through its watch, not at the end of its slice.
  const auto start = std::chrono::steady_clock::now();
  monitor.Deactivate();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  std::printf("deactivating 64 keys took %lld ms\n", static_cast<long long>(ms));
  EXPECT_FALSE(monitor.Active());
  EXPECT_LT(ms, 1000);
}

} // namespace
