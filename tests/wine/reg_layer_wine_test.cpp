// The registry layer and the scan driver over the real registry of a Wine
// prefix.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>

#include "WineTestSupport.h"
#include "platform/MainThread.h"
#include "platform/ScopeGuard.h"
#include "registry/uRegAccess.h"
#include "scanner/uRegScanner.h"

namespace {

using namespace quenlo;

class RegLayerEnvironment : public testing::Environment {
public:
  void SetUp() override {
    qp::MainThread().BindToCurrentThread();
    InitRegistryLayer();
  }
};
testing::Environment *const kEnvironment =
    testing::AddGlobalTestEnvironment(new RegLayerEnvironment);

constexpr const char *kBase = "Software\\QuenloLayerTest";

void MakeKey(std::uint32_t root, TRegistryView view, const std::string &path) {
  TRegistryAccess reg;
  reg.SetView(view);
  reg.SetRootKey(root);
  ASSERT_TRUE(reg.OpenKey(path, true)) << path;
}

class WineRegLayer : public testing::Test {
protected:
  void TearDown() override {
    qp::IgnoreResult(DeleteKeyTree(wc::HkeyLocalMachine, rv32, kBase));
    qp::IgnoreResult(DeleteKeyTree(wc::HkeyLocalMachine, rv64, kBase));
    qp::IgnoreResult(DeleteKeyTree(wc::HkeyCurrentUser, rv64, kBase));
  }
};

TEST_F(WineRegLayer, ProcessFacts) {
  EXPECT_TRUE(ProcessOnWow64) << "a 64-bit program reasons about two views";
  EXPECT_FALSE(LegacyWindows);
  EXPECT_TRUE(ReflectionAvailable) << "Wine exports RegQueryReflectionKey";
  // The query answers 120 under Wine: nothing counts as reflected, so the
  // 64-bit pass examines the 64-bit class registrations.
  EXPECT_FALSE(IsKeyReflected(wc::HkeyLocalMachine, rv64, "Software\\Classes\\CLSID"));
  EXPECT_TRUE(KeyExists(wc::HkeyLocalMachine, rv64, "Software\\Classes\\CLSID"));
}

TEST_F(WineRegLayer, WalksEachViewSeparately) {
  const std::string base = kBase;
  MakeKey(wc::HkeyLocalMachine, rv32, base + "\\Only32\\Deep");
  MakeKey(wc::HkeyLocalMachine, rv64, base + "\\Only64");
  MakeKey(wc::HkeyLocalMachine, rv64, base + "\\Both");
  MakeKey(wc::HkeyLocalMachine, rv32, base + "\\Both");

  for (const TRegistryView view : {rv32, rv64}) {
    TRegistryAccess reg(wc::KeyRead);
    reg.SetView(view);
    reg.SetRootKey(wc::HkeyLocalMachine);
    ASSERT_TRUE(reg.OpenKey(base, false));
    std::set<std::string> seen;
    reg.WalkSubKeys(true, 0, [&](TRegistryAccess &, const std::string &path) {
      seen.insert(path.substr(base.size() + 1));
      return wrDescend;
    });
    const std::set<std::string> expected =
        view == rv32 ? std::set<std::string>{"Both", "Only32", "Only32\\Deep"}
                     : std::set<std::string>{"Both", "Only64"};
    EXPECT_EQ(seen, expected) << "view " << view;
  }
  EXPECT_TRUE(
      KeyExists(wc::HkeyLocalMachine, rv64, "Software\\Wow6432Node\\QuenloLayerTest\\Only32"));
}

TEST_F(WineRegLayer, ValuesKeepTheirKindsAndText) {
  const std::string key = std::string(kBase) + "\\Values";
  TRegistryAccess reg;
  reg.SetRootKey(wc::HkeyCurrentUser);
  ASSERT_TRUE(reg.OpenKey(key, true));
  const std::string text = "C:\\\u00c9t\u00e9\\\u4e2d\u6587\\\u0444\u0430\u0439\u043b.exe";
  EXPECT_TRUE(reg.WriteString("\u540d\u524d", text));
  EXPECT_EQ(reg.WriteRaw("dw", wc::RegDword, {1, 0, 0, 0}), 0);
  EXPECT_EQ(
      reg.WriteRaw("multi", wc::RegMultiSz, TextToData(wc::RegMultiSz, std::string("a\0b\0\0", 5))),
      0);
  EXPECT_EQ(reg.WriteRaw("q", wc::RegQword, qp::Bytes(8, 0xAB)), 0);
  EXPECT_EQ(reg.ReadString("\u540d\u524d"), text);
  EXPECT_EQ(reg.GetDataType("dw"), vkDWord);
  EXPECT_EQ(reg.GetDataType("q"), vkUnknown);
  std::vector<std::pair<std::string, TValueKind>> seen;
  std::string multi;
  reg.WalkValues([&](TRegistryAccess &, const std::string &, std::string_view data, TValueKind kind,
                     const std::string &name) {
    seen.emplace_back(name, kind);
    if (name == "multi")
      multi = std::string(data);
    return true;
  });
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_NE(
      std::find(seen.begin(), seen.end(), std::make_pair(std::string("multi"), vkMultiString)),
      seen.end());
  EXPECT_NE(std::find(seen.begin(), seen.end(), std::make_pair(std::string("q"), vkUnknown)),
            seen.end());
  EXPECT_EQ(multi, std::string("a\0b\0\0", 5));
}

TEST_F(WineRegLayer, DeleteKeyTreeAndItsErrorTexts) {
  const std::string base = kBase;
  MakeKey(wc::HkeyCurrentUser, rv64, base + "\\T\\A\\A1");
  MakeKey(wc::HkeyCurrentUser, rv64, base + "\\T\\B");
  std::string error;
  EXPECT_TRUE(DeleteKeyTree(error, wc::HkeyCurrentUser, rv64, base + "\\T"));
  EXPECT_FALSE(KeyExists(wc::HkeyCurrentUser, rv64, base + "\\T"));
  EXPECT_FALSE(DeleteKeyTree(error, wc::HkeyCurrentUser, rv64, base + "\\T"));
  EXPECT_EQ(error, "RegKeyOpenEx: " + SysErrorMessage(2));
  EXPECT_FALSE(SysErrorMessage(2).empty());
}

TEST_F(WineRegLayer, FileProbes) {
  EXPECT_TRUE(FileExistsNoRedirect("C:\\windows\\system32\\notepad.exe"));
  EXPECT_GT(FileSizeNoRedirect("C:\\windows\\system32\\notepad.exe"), 0u);
  EXPECT_FALSE(FileExistsNoRedirect("C:\\windows\\system32\\no-such-file.exe"));
}

TEST_F(WineRegLayer, ScanDriverEndToEnd) {
  const std::string base = std::string(kBase) + "\\Scan";
  {
    TRegistryAccess reg;
    reg.SetRootKey(wc::HkeyLocalMachine);
    reg.SetView(rv32);
    ASSERT_TRUE(reg.OpenKey(base, true));
    EXPECT_TRUE(reg.WriteString("in32", "C:\\missing32.exe"));
    reg.SetView(rv64);
    reg.CloseKey();
    ASSERT_TRUE(reg.OpenKey(base, true));
    EXPECT_TRUE(reg.WriteString("in64", "C:\\missing64.exe"));
    EXPECT_TRUE(reg.WriteString("ignored", "C:\\ignored.exe"));
  }
  TRegScanner scanner;
  TCategoryChecks checks;
  checks[ecStartup] = [base](TScanThread &t, TRegistryAccess &a, bool counting) {
    a.SetRootKey(wc::HkeyLocalMachine);
    if (!t.OpenKey(a, base))
      return;
    if (counting)
      return t.CountValues(a);
    std::vector<std::string> names;
    qp::IgnoreResult(a.GetValueNames(names));
    for (const std::string &name : names) {
      t.ReportProgress(name);
      std::string text;
      if (!t.ReadStringValue(text, a, raDeleteValue, name))
        continue;
      if (t.CountTest(!FileExistsNoRedirect(text)))
        t.AddError(wc::HkeyLocalMachine, a.View(),
                   {.data = text,
                    .keyPath = a.CurrentPath(),
                    .valueName = name,
                    .target = text,
                    .kind = ekInvalidPath,
                    .action = raDeleteValue,
                    .testId = 66});
    }
  };
  scanner.SetChecks(checks);
  scanner.SetIgnoreList({"HKLM\\" + base + "\\\\:ignored"});
  int progressCalls = 0;
  scanner.OnProgress = [&](const std::string &, TErrorCategory, int, int) { ++progressCalls; };
  scanner.StartScan();
  while (scanner.IsScanning())
    qp::MainThread().PumpWait(std::chrono::milliseconds(10));
  EXPECT_TRUE(scanner.FullScanDone());
  const auto &list = scanner.Errors().CategoryList(ecStartup);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->ValueName, "in32");
  EXPECT_EQ(list[0]->View64, 0);
  EXPECT_EQ(list[1]->ValueName, "in64");
  EXPECT_EQ(list[1]->View64, 1);
  EXPECT_EQ(scanner.IgnoredCount(), 1);
  EXPECT_EQ(scanner.TestCount(ecStartup), 3 - 1);
  EXPECT_EQ(scanner.RemainingCount(ecStartup), 2);
  EXPECT_GE(progressCalls, 3 + 22);
  EXPECT_EQ(scanner.HealthPercent(), 0);
}

} // namespace
