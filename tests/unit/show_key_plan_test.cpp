// The plan for showing a key in the registry editor: the name's parts, the
// view that holds the key, the editor, and the keystrokes.
#include "TestPlatform.h"
#include "registry/uRegShowKey.h"

namespace quenlo::test {
namespace {

using qp::mem::View;

class ShowKeyPlanTest : public MemoryTest {
protected:
  TShowKeyEnvironment Env(bool wow64, bool sysWow64Editor) {
    TShowKeyEnvironment env;
    env.onWow64 = wow64;
    env.sysWow64Editor = "C:\\Windows\\Syswow64\\Regedit.exe";
    env.fileExists = [sysWow64Editor](std::string_view) { return sysWow64Editor; };
    return env;
  }
  static std::vector<TKeyStroke> Typed(const std::vector<TKeyStroke> &keys, std::size_t from) {
    return {keys.begin() + static_cast<long>(from), keys.end()};
  }
};

TEST_F(ShowKeyPlanTest, NameSplitsIntoRootKeyAndValue) {
  TShowKeyName name;
  ASSERT_TRUE(ParseShowKeyName("HKLM\\Software\\X\\\\:Name", name));
  EXPECT_EQ(name.root, wc::HkeyLocalMachine);
  EXPECT_EQ(name.keyPath, "Software\\X");
  EXPECT_EQ(name.typedName, "HKEY_LOCAL_MACHINE\\Software\\X");
  EXPECT_TRUE(name.hasValue);
  EXPECT_EQ(name.valueName, "Name");
  ASSERT_TRUE(ParseShowKeyName("HKEY_CURRENT_USER\\Software\\Y", name));
  EXPECT_FALSE(name.hasValue);
  EXPECT_EQ(name.typedName, "HKEY_CURRENT_USER\\Software\\Y");
  EXPECT_FALSE(ParseShowKeyName("HKLM", name)) << "no backslash";
  EXPECT_FALSE(ParseShowKeyName("HKXX\\Software", name)) << "no such root";
}

TEST_F(ShowKeyPlanTest, KeystrokesWalkTheTreeThenTypeTheValue) {
  reg.CreateKey(View::V32, "HKLM\\Software\\X");
  const TShowKeyPlan plan = PlanShowKey("HKLM\\Software\\X\\\\:Nm", Env(false, false));
  ASSERT_TRUE(plan.ok);
  ASSERT_GT(plan.treeKeys.size(), 514u);
  for (int i = 0; i < kCollapseKeyCount; ++i)
    ASSERT_EQ(plan.treeKeys[static_cast<std::size_t>(i)], (TKeyStroke{ksKeyDown, kVkLeft}));
  EXPECT_EQ(plan.treeKeys[513], (TKeyStroke{ksKeyDown, kVkRight}));
  std::vector<TKeyStroke> expected;
  for (const char c : std::string("HKEY_LOCAL_MACHINE\\Software\\X"))
    expected.push_back(c == '\\' ? TKeyStroke{ksKeyDown, kVkRight}
                                 : TKeyStroke{ksChar, static_cast<std::uint32_t>(c)});
  EXPECT_EQ(Typed(plan.treeKeys, 514), expected);
  EXPECT_EQ(plan.listKeys,
            (std::vector<TKeyStroke>{{ksKeyDown, kVkHome}, {ksChar, 'N'}, {ksChar, 'm'}}));
  EXPECT_EQ(plan.view, rv32);
  EXPECT_EQ(plan.editor, "Regedit.exe");

  const TShowKeyPlan keyOnly = PlanShowKey("HKLM\\Software\\X", Env(false, false));
  EXPECT_TRUE(keyOnly.listKeys.empty());
  // Characters go as UTF-16 units, not bytes.
  reg.CreateKey(View::V32, "HKLM\\Software\\\xC3\xBC");
  const TShowKeyPlan umlaut = PlanShowKey("HKLM\\Software\\\xC3\xBC", Env(false, false));
  ASSERT_TRUE(umlaut.ok);
  EXPECT_EQ(umlaut.treeKeys.back(), (TKeyStroke{ksChar, 0xFC}));
}

TEST_F(ShowKeyPlanTest, ViewAndEditorFollowWhereTheKeyExists) {
  reg.CreateKey(View::V64, "HKLM\\Software\\Only64");
  reg.CreateKey(View::V32, "HKLM\\Software\\Only32");
  TShowKeyPlan plan = PlanShowKey("HKLM\\Software\\Only64", Env(true, true));
  ASSERT_TRUE(plan.ok);
  EXPECT_EQ(plan.view, rv64);
  EXPECT_EQ(plan.editor, "Regedit.exe");
  EXPECT_FALSE(plan.closeOpenEditor);

  plan = PlanShowKey("HKLM\\Software\\Only32", Env(true, true));
  ASSERT_TRUE(plan.ok);
  EXPECT_EQ(plan.view, rv32);
  EXPECT_EQ(plan.editor, "C:\\Windows\\Syswow64\\Regedit.exe");
  EXPECT_TRUE(plan.closeOpenEditor);
  plan = PlanShowKey("HKLM\\Software\\Only32", Env(true, false));
  EXPECT_EQ(plan.editor, "Regedit.exe") << "no 32-bit editor on this system";

  plan = PlanShowKey("HKLM\\Software\\Nowhere\\\\:v", Env(true, true));
  EXPECT_FALSE(plan.ok);
  EXPECT_TRUE(plan.treeKeys.empty()) << "no keys are sent";
  EXPECT_TRUE(plan.listKeys.empty());
}

} // namespace
} // namespace quenlo::test
