// The tweaks page's logic: boxes and their dependencies, the number editor,
// Apply with its failures, the UAC warning and the restart question, and
// "OS defaults" on the in-memory registry.
#include <map>
#include <set>

#include "PageFakes.h"
#include "TestPlatform.h"
#include "app/pages/uTweaksPageLogic.h"

namespace quenlo::test {
namespace {

using qp::mem::View;

constexpr TTweakEnvironment kWindows7{
    .windowsVersion = twWindows7, .screenWidth = 1920, .screenHeight = 1080};
constexpr TTweakEnvironment kWindows8{
    .windowsVersion = twWindows8, .screenWidth = 1920, .screenHeight = 1080};

// Readings from raw values through the engine's own rules; writes are
// recorded and fail for the tweaks named.
class FakeTweakStore final : public ITweakStore {
public:
  explicit FakeTweakStore(TTweakEnvironment env) : env_(env) {}
  TTweakReading Read(int id) override {
    if (id == twRibbon) {
      TTweakReading ribbon;
      ribbon.ticked = ribbonAbsent;
      return ribbon;
    }
    const auto raw = raws.find(id);
    return InterpretTweak(id, raw == raws.end() ? std::nullopt : std::optional(raw->second), env_);
  }
  bool Write(int id, const TTweakWish &wish, const TTweakReading &,
             std::string &errorText) override {
    if (failing.contains(id)) {
      errorText = "RegCreateKeyEx: Access is denied.";
      return false;
    }
    written[id] = wish;
    order.push_back(id);
    return true;
  }
  std::map<int, TRawValue> raws;
  bool ribbonAbsent = false;
  std::set<int> failing;
  std::map<int, TTweakWish> written;
  std::vector<int> order;

private:
  TTweakEnvironment env_;
};

class FakeRestart final : public IWindowsRestart {
public:
  bool Restart() override {
    ++calls;
    return works;
  }
  int calls = 0;
  bool works = true;
};

TRawValue Dword(std::uint32_t value) {
  return {wc::RegDword, DwordData(value)};
}

class TweaksPageTest : public ::testing::Test {
protected:
  explicit TweaksPageTest(TTweakEnvironment env = kWindows7)
      : store(env), page(store, env, {prompter, restart}) {}
  FakeTweakStore store;
  FakePrompter prompter;
  FakeRestart restart;
  TTweaksPageLogic page;
};

class TweaksPage8Test : public TweaksPageTest {
protected:
  TweaksPage8Test() : TweaksPageTest(kWindows8) {}
};

TEST_F(TweaksPageTest, LoadShowsTheVersionsBoxesInTheirReadState) {
  store.raws[twAero] = Dword(0);
  store.raws[twPeekDelay] = Dword(30000);
  page.Load();
  EXPECT_TRUE(page.IsShown(twFavorites));
  EXPECT_FALSE(page.IsShown(twRibbon));
  EXPECT_TRUE(page.Ticked(twAero));
  EXPECT_FALSE(page.Ticked(twPeekDelay));
  EXPECT_EQ(page.Value(twPeekDelay), 20000);
  EXPECT_FALSE(page.ApplyAvailable());
  EXPECT_EQ(page.PendingRestart(), rkNone);
  EXPECT_FALSE(page.Editor().visible);
  const TTweakBox uac = page.Box(twUac);
  EXPECT_EQ(uac.name, "Disable User Account Control");
  EXPECT_EQ(uac.group, tgOther);
  EXPECT_EQ(uac.description, "Disabling User Account Control improves \r\nuser experience, but "
                             "can compromise \r\nthe security of your PC");
}

TEST_F(TweaksPageTest, AeroOffDisablesBothDelays) {
  page.Load();
  EXPECT_TRUE(page.Enabled(twPeekDelay));
  page.SetTicked(twAero, true);
  EXPECT_FALSE(page.Enabled(twPeekDelay));
  EXPECT_FALSE(page.Enabled(twThumbnailDelay));
  page.SetTicked(twThumbnailDelay, true); // a disabled box does not change
  EXPECT_FALSE(page.Ticked(twThumbnailDelay));
  page.SetTicked(twAero, false);
  EXPECT_TRUE(page.Enabled(twThumbnailDelay));
  // Back as read: nothing left to apply.
  EXPECT_FALSE(page.ApplyAvailable());
  EXPECT_FALSE(page.Modified(twAero));
}

TEST_F(TweaksPage8Test, RibbonOffDisablesItsMinimizing) {
  store.ribbonAbsent = true;
  page.Load();
  EXPECT_TRUE(page.Ticked(twRibbon));
  EXPECT_FALSE(page.Enabled(twRibbonMinimized));
  page.SetTicked(twRibbon, false);
  EXPECT_TRUE(page.Enabled(twRibbonMinimized));
}

TEST_F(TweaksPageTest, DelayEditorFollowsItsBox) {
  page.Load();
  page.Select(twPeekDelay);
  TNumberEditor editor = page.Editor();
  EXPECT_TRUE(editor.visible);
  EXPECT_FALSE(editor.enabled);
  EXPECT_EQ(editor.caption, "Set Delay Time:");
  EXPECT_EQ(editor.unit, "Milliseconds");
  EXPECT_EQ(editor.maximum, 20000);
  EXPECT_EQ(editor.digits, 5);
  EXPECT_EQ(page.EditNumber("900"), "200"); // disabled: ignored
  EXPECT_FALSE(page.ApplyAvailable());

  page.SetTicked(twPeekDelay, true);
  EXPECT_TRUE(page.Editor().enabled);
  EXPECT_FALSE(page.ApplyAvailable()); // the box alone changes nothing
  EXPECT_EQ(page.EditNumber("-5"), "0");
  EXPECT_EQ(page.EditNumber("99999"), "20000");
  EXPECT_EQ(page.EditNumber("1x5"), "15");
  EXPECT_TRUE(page.Modified(twPeekDelay));
  EXPECT_EQ(page.PendingRestart(), rkLogOff);

  page.SetTicked(twPeekDelay, false); // back to the snapshot
  EXPECT_EQ(page.Value(twPeekDelay), 200);
  EXPECT_FALSE(page.Modified(twPeekDelay));
  EXPECT_FALSE(page.ApplyAvailable());
  EXPECT_TRUE(TTweaksPageLogic::EditorAccepts('7'));
  EXPECT_TRUE(TTweaksPageLogic::EditorAccepts('\b'));
  EXPECT_FALSE(TTweaksPageLogic::EditorAccepts('-'));
}

TEST_F(TweaksPage8Test, RowsEditorOnAFullHdScreen) {
  page.Load();
  EXPECT_FALSE(page.Ticked(twStartRows));
  page.SetTicked(twStartRows, true);
  const TNumberEditor editor = page.Editor();
  EXPECT_EQ(editor.caption, "Number of rows:");
  EXPECT_EQ(editor.maximum, 6);
  EXPECT_EQ(editor.digits, 1);
  EXPECT_TRUE(editor.typedDigitReplaces);
  EXPECT_EQ(editor.text, "5");
  EXPECT_EQ(page.EditNumber("8"), "6");
  EXPECT_EQ(page.PendingRestart(), rkRestart);
}

TEST_F(TweaksPage8Test, KindZeroAsksNothing) {
  page.Load();
  page.SetTicked(twCharmsBar, true);
  const TTweaksApplyReport report = page.Apply();
  EXPECT_EQ(report.written, std::vector<int>{twCharmsBar});
  EXPECT_EQ(report.asked, rkNone);
  EXPECT_TRUE(prompter.asked.empty());
  EXPECT_FALSE(page.ApplyAvailable());
}

TEST_F(TweaksPageTest, RestartOutranksLogOff) {
  page.Load();
  page.SetTicked(twDragContents, true); // kind 2
  page.SetTicked(twAutoRun, true);      // kind 1
  EXPECT_EQ(page.PendingRestart(), rkRestart);
  prompter.answers = {TMsgAnswer::Yes, TMsgAnswer::Ok};
  restart.works = false;
  const TTweaksApplyReport report = page.Apply();
  EXPECT_EQ(report.written, (std::vector<int>{twDragContents, twAutoRun}));
  ASSERT_EQ(prompter.asked.size(), 2u);
  EXPECT_EQ(prompter.asked[0].text, "You must restart Windows for the changes to take "
                                    "effect\r\n\r\nDo you want to restart Windows now "
                                    "(recommended)?");
  EXPECT_EQ(prompter.asked[0].buttons, TMsgButtons::YesNo);
  EXPECT_EQ(prompter.asked[0].icon, TMsgIcon::Question);
  EXPECT_EQ(prompter.asked[1].text, "Can not restart Windows. Please do it manually.");
  EXPECT_EQ(prompter.asked[1].icon, TMsgIcon::Error);
  EXPECT_EQ(restart.calls, 1);
  EXPECT_EQ(page.PendingRestart(), rkNone);
}

TEST_F(TweaksPageTest, FailedWriteIsNamedStaysModifiedAndDoesNotCountForTheQuestion) {
  store.failing = {twAutoRun};
  page.Load();
  page.SetTicked(twDragContents, true); // kind 2, written
  page.SetTicked(twAutoRun, true);      // kind 1, fails
  prompter.answers = {TMsgAnswer::Ok, TMsgAnswer::No};
  const TTweaksApplyReport report = page.Apply();
  ASSERT_EQ(report.failed.size(), 1u);
  EXPECT_EQ(report.failed[0].id, twAutoRun);
  ASSERT_EQ(prompter.asked.size(), 2u);
  EXPECT_EQ(prompter.asked[0].text, "These tweaks could not be changed:\r\nDisable Auto Run of "
                                    "the CD-ROM/DVD/USB drive: RegCreateKeyEx: Access is denied.");
  // Only the written tweak's kind: log off, not restart.
  EXPECT_EQ(report.asked, rkLogOff);
  EXPECT_EQ(prompter.asked[1].text.rfind("You must Log off or Restart your system", 0), 0u);
  EXPECT_TRUE(page.Modified(twAutoRun));
  EXPECT_FALSE(page.Modified(twDragContents));
  EXPECT_TRUE(page.ApplyAvailable());
  EXPECT_EQ(page.PendingRestart(), rkRestart);

  // The next Apply writes only what is still modified.
  store.failing.clear();
  store.order.clear();
  prompter.answers = {TMsgAnswer::No};
  EXPECT_EQ(page.Apply().written, std::vector<int>{twAutoRun});
  EXPECT_EQ(store.order, std::vector<int>{twAutoRun});
}

TEST_F(TweaksPageTest, UacOffIsAskedOnceMoreAndNoKeepsItPending) {
  page.Load();
  page.SetTicked(twUac, true);
  page.SetTicked(twCompatAssistant, true);
  prompter.answers = {TMsgAnswer::No};
  const TTweaksApplyReport report = page.Apply();
  ASSERT_FALSE(prompter.asked.empty());
  EXPECT_EQ(prompter.asked[0].text, std::string(kTweaksUacWarning));
  EXPECT_EQ(prompter.asked[0].buttons, TMsgButtons::YesNo);
  EXPECT_EQ(prompter.asked[0].icon, TMsgIcon::Warning);
  EXPECT_EQ(report.declined, std::vector<int>{twUac});
  EXPECT_EQ(store.order, std::vector<int>{twCompatAssistant});
  EXPECT_TRUE(page.Modified(twUac));
  EXPECT_TRUE(page.ApplyAvailable());

  prompter.answers = {TMsgAnswer::Yes, TMsgAnswer::No};
  EXPECT_EQ(page.Apply().written, std::vector<int>{twUac});
}

TEST_F(TweaksPageTest, OsDefaultsOnWindows7) {
  store.raws[twAero] = Dword(0);
  store.raws[twCompressedColor] = Dword(0);
  store.raws[twRecentDocs] = Dword(1);
  store.raws[twShortNames] = Dword(2); // the system's per-volume choice
  store.raws[twThumbnailDelay] = Dword(1000);
  page.Load();

  prompter.answers = {TMsgAnswer::No};
  EXPECT_FALSE(page.OsDefaults().ran);
  EXPECT_EQ(prompter.asked[0].text, "Do you really want to reset all tweaks to their OS defaults?");
  EXPECT_TRUE(store.order.empty());

  prompter.answers = {TMsgAnswer::Yes, TMsgAnswer::No};
  const TTweaksApplyReport report = page.OsDefaults();
  for (const int id : page.Shown())
    EXPECT_EQ(page.Ticked(id), id == twCompressedColor) << id;
  EXPECT_EQ(report.written,
            (std::vector<int>{twAero, twRecentDocs, twThumbnailDelay, twCompressedColor}));
  EXPECT_EQ(store.written[twThumbnailDelay].value, 400);
  EXPECT_FALSE(page.ApplyAvailable());
}

// The page over the real engine: "OS defaults" rewrites nothing that
// already means "off", and ticking then unticking leaves no value behind.
class TweaksPageRegistryTest : public MemoryTest {
protected:
  TUndoFolder Undo() {
    return {.root = "C:\\Undo\\", .clock = [this] {
              TUndoTime at;
              at.year = 2026;
              at.month = 12;
              at.day = 9;
              at.millisecond = tick++;
              return at;
            }};
  }
  int tick = 0;
  FakePrompter prompter;
  FakeRestart restart;
};

TEST_F(TweaksPageRegistryTest, OsDefaultsKeepsSystemValuesThatMeanOff) {
  const char *fileSystem = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\FileSystem";
  reg.SetDword(View::V64, fileSystem, "NtfsDisable8dot3NameCreation", 2);
  TSysTweakStore store(kWindows7, Undo());
  TTweaksPageLogic page(store, kWindows7, {prompter, restart});
  page.Load();
  const std::string before = reg.Dump();
  prompter.answers = {TMsgAnswer::Yes};
  const TTweaksApplyReport report = page.OsDefaults();
  EXPECT_TRUE(report.written.empty());
  EXPECT_TRUE(report.failed.empty());
  EXPECT_EQ(reg.Dump(), before);
}

TEST_F(TweaksPageRegistryTest, TickAndUntickLeaveNoPolicyBehind) {
  const char *policies = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
  TSysTweakStore store(kWindows7, Undo());
  TTweaksPageLogic page(store, kWindows7, {prompter, restart});
  page.Load();
  page.SetTicked(twRecentDocs, true);
  prompter.answers = {TMsgAnswer::No};
  ASSERT_EQ(page.Apply().written, std::vector<int>{twRecentDocs});
  EXPECT_TRUE(reg.ValueExists(View::V64, policies, "NoRecentDocsHistory"));
  page.SetTicked(twRecentDocs, false);
  prompter.answers = {TMsgAnswer::No};
  ASSERT_EQ(page.Apply().written, std::vector<int>{twRecentDocs});
  EXPECT_FALSE(reg.ValueExists(View::V64, policies, "NoRecentDocsHistory"));
}

} // namespace
} // namespace quenlo::test
