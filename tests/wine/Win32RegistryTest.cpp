// What the Win32 registry layer adds to the API, checked against Wine's
// registry through the raw API itself. The behaviour the in-memory model
// shares is tested by the conformance suite (tests/conformance).
#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "platform/Utf.h"
#include "platform/win32/WinApi.h"
#include "tests/wine/WineTestSupport.h"

namespace {

using qp::Bytes;
using quenlo_wine::ScopedKey;

constexpr const char *kTestKey = "Software\\QuenloTest";
constexpr const wchar_t *kTestKeyW = L"Software\\QuenloTest";

class Win32Registry : public testing::Test {
protected:
  void SetUp() override { Cleanup(); }
  void TearDown() override { Cleanup(); }
  static void Cleanup() {
    quenlo_wine::RemoveKeyTree(HKEY_CURRENT_USER, kTestKeyW, KEY_WOW64_64KEY);
  }
  qp::IRegistry &reg() { return qp::Platform().Registry(); }
};

// Names and string data cross as UTF-16 in both directions.
TEST_F(Win32Registry, TextCrossesAsUtf16BothWays) {
  ScopedKey key;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kTestKey, wc::KeyAllAccess, key.Out(), nullptr),
            0);
  const std::string name = "Gr\xC3\xBC\xC3\x9F"
                           "e \xE5\x90\x8D\xE5\x89\x8D";
  Bytes data = qp::Utf8ToRawUtf16("\xE6\x97\xA5\xE6\x9C\xAC");
  data.insert(data.end(), {0, 0});
  ASSERT_EQ(reg().SetValue(key.Get(), name, wc::RegSz, data), 0);
  wchar_t text[16] = {};
  DWORD type = 0, size = sizeof text;
  ASSERT_EQ(::RegGetValueW(HKEY_CURRENT_USER, kTestKeyW, L"Gr\u00FC\u00DFe \u540D\u524D",
                           RRF_RT_ANY, &type, text, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::wstring(text), L"\u65E5\u672C");

  const wchar_t written[] = L"\u00E9t\u00E9";
  ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, kTestKeyW, L"\u540D", REG_EXPAND_SZ, written,
                              sizeof written),
            ERROR_SUCCESS);
  Bytes read;
  std::uint32_t kind = 0;
  ASSERT_EQ(reg().QueryValue(key.Get(), "\xE5\x90\x8D", &kind, &read, nullptr), 0);
  EXPECT_EQ(kind, wc::RegExpandSz);
  EXPECT_EQ(qp::RawUtf16ToUtf8(read), std::string("\xC3\xA9t\xC3\xA9", 5) + '\0');
}

TEST_F(Win32Registry, ReflectionQuery) {
  ASSERT_TRUE(reg().HasQueryReflectionKey());
  ASSERT_TRUE(reg().HasDeleteKeyEx());
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

} // namespace
