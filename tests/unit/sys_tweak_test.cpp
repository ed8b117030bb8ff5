// The system tweaks' engine on the in-memory Windows: how values are read
// (the system's own meaning, not a capped number), what a write puts back,
// the apply order and its failures, a system key's owner given back, and
// the ribbon switch with its protected-file operation.
#include <memory>
#include <sstream>

#include "TestPlatform.h"
#include "app/cli/uCli.h"
#include "optimizer/uSysTweak.h"
#include "platform/Guards.h"
#include "service/uTweaksRun.h"

namespace quenlo::test {
namespace {

using qp::mem::View;

constexpr const char *kAdvanced =
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";
constexpr const char *kFileSystem = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\FileSystem";
constexpr const char *kAppCompat = "HKLM\\SOFTWARE\\Policies\\Microsoft\\Windows\\AppCompat";
constexpr const char *kFavorites =
    "HKLM\\Software\\Classes\\CLSID\\{323CA680-C24D-4099-B94D-446DD2D7249E}\\ShellFolder";
constexpr const char *kDwm = "HKCU\\Software\\Microsoft\\Windows\\DWM";
constexpr const char *kSystemDir = "C:\\Windows\\system32";
constexpr const char *kTrustedInstaller =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

constexpr TTweakEnvironment kWindows7{
    .windowsVersion = twWindows7, .screenWidth = 1920, .screenHeight = 1080};

// A clock that moves a millisecond per call, so that every backup gets a
// name of its own.
TUndoFolder Undo() {
  auto tick = std::make_shared<int>(0);
  return {.root = "C:\\Undo\\", .clock = [tick] {
            TUndoTime at;
            at.year = 2026;
            at.month = 12;
            at.day = 9;
            at.hour = 10;
            at.millisecond = (*tick)++;
            return at;
          }};
}

std::optional<TRawValue> Dword(std::uint32_t value) {
  return TRawValue{wc::RegDword, DwordData(value)};
}

class SysTweakTest : public MemoryTest {
protected:
  TTweakReading ReadFrom(int id, std::optional<TRawValue> raw) {
    return InterpretTweak(id, raw, kWindows7);
  }
  std::optional<std::uint32_t> DwordAt(const char *key, const char *name) {
    const auto raw = reg.GetRaw(View::V64, key, name);
    if (!raw || raw->first != wc::RegDword || raw->second.size() != 4)
      return std::nullopt;
    return raw->second[0] | (raw->second[1] << 8) | (raw->second[2] << 16) |
           (static_cast<std::uint32_t>(raw->second[3]) << 24);
  }
  // The backup files of the day (its index.txt aside).
  std::size_t BackupCount() {
    std::size_t count = 0;
    for (const std::string &name : fs.List("C:\\Undo\\2026-12-09"))
      count += name != "index.txt" ? 1 : 0;
    return count;
  }

  TSysTweakStore store{kWindows7, Undo()};
};

// --- reading

TEST_F(SysTweakTest, ValuesReadWithTheSystemsMeaning) {
  // Aero: absent means enabled, 0 means disabled (ticked).
  EXPECT_FALSE(ReadFrom(twAero, std::nullopt).ticked);
  EXPECT_TRUE(ReadFrom(twAero, Dword(0)).ticked);
  // 8.3 names: 2 leaves it to each volume; it is not "disabled" (a capped
  // number would read it as 1).
  EXPECT_FALSE(ReadFrom(twShortNames, Dword(2)).ticked);
  EXPECT_FALSE(ReadFrom(twShortNames, Dword(3)).ticked);
  EXPECT_TRUE(ReadFrom(twShortNames, Dword(1)).ticked);
  // Last access: bit 0, with the "managed by the system" bit above.
  EXPECT_TRUE(ReadFrom(twLastAccess, Dword(0x80000003u)).ticked);
  EXPECT_FALSE(ReadFrom(twLastAccess, Dword(0x80000002u)).ticked);
  // A policy is on for any number but 0.
  EXPECT_TRUE(ReadFrom(twCompatAssistant, Dword(2)).ticked);
  // The desktop strings; a DWORD where a string belongs is the default.
  EXPECT_TRUE(ReadFrom(twDragContents, TRawValue{wc::RegSz, StringData("0")}).ticked);
  EXPECT_FALSE(ReadFrom(twDragContents, TRawValue{wc::RegSz, StringData("1")}).ticked);
  EXPECT_FALSE(ReadFrom(twDragContents, Dword(0)).ticked);
  // Favorites: the one number that hides them.
  EXPECT_TRUE(ReadFrom(twFavorites, Dword(0xA9400100u)).ticked);
  EXPECT_FALSE(ReadFrom(twFavorites, Dword(0xA0900100u)).ticked);
}

TEST_F(SysTweakTest, NumbersAreCappedAndTheDelayBoxIsNeverTicked) {
  const TTweakReading peek = ReadFrom(twPeekDelay, Dword(30000));
  EXPECT_EQ(peek.value, 20000);
  EXPECT_FALSE(peek.ticked);
  EXPECT_EQ(peek.raw, Dword(30000)); // kept as it was
  EXPECT_TRUE(ReadFrom(twThumbnailDelay, Dword(1000)).ticked);
  EXPECT_FALSE(ReadFrom(twThumbnailDelay, Dword(400)).ticked);

  // 1920 x 1080: five rows by default, six at most; absent reads five.
  EXPECT_EQ(TweakDefault(twStartRows, kWindows7), 5);
  EXPECT_EQ(TweakMaximum(twStartRows, kWindows7), 6);
  const TTweakReading rows = ReadFrom(twStartRows, std::nullopt);
  EXPECT_EQ(rows.value, 5);
  EXPECT_FALSE(rows.ticked);
  EXPECT_EQ(ReadFrom(twStartRows, Dword(9)).value, 6);
}

TEST_F(SysTweakTest, StartScreenRowsBySize) {
  struct Case {
    int w, h, rows, maximum;
  };
  for (const Case c : {Case{960, 2000, 3, 3}, Case{961, 600, 4, 4}, Case{1200, 600, 5, 5},
                       Case{1366, 768, 4, 4}, Case{1440, 900, 5, 5}, Case{1600, 960, 5, 6},
                       Case{1680, 1050, 6, 6}, Case{1901, 1099, 5, 6}, Case{1901, 1100, 6, 6},
                       Case{2200, 1100, 6, 7}, Case{2560, 1440, 6, 9}}) {
    const TStartRows rows = StartScreenRows(c.w, c.h);
    EXPECT_EQ(rows.defaultRows, c.rows) << c.w << "x" << c.h;
    EXPECT_EQ(rows.maximumRows, c.maximum) << c.w << "x" << c.h;
  }
}

TEST_F(SysTweakTest, ShownTweaksAndNamesPerVersion) {
  const std::vector<int> others{17, 18, 19, 20, 21, 22, 23};
  auto with = [&](std::vector<int> ids) {
    ids.insert(ids.end(), others.begin(), others.end());
    return ids;
  };
  EXPECT_EQ(ShownTweaks(twVista), with({4, 8, 9, 10, 11, 12, 13, 16}));
  EXPECT_EQ(ShownTweaks(twWindows7), with({4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
  EXPECT_EQ(ShownTweaks(twWindows8), with({0, 1, 2, 3, 7, 8, 9, 10, 15, 16}));
  EXPECT_EQ(ShownTweaks(twWindows81), with({0, 1, 2, 7, 8, 9, 10, 15, 16}));
  EXPECT_TRUE(ShownTweaks(7).empty());

  EXPECT_EQ(TweakName(twSelectionRect, twVista),
            "Don't use translucent selection rectangle for Desktop");
  EXPECT_EQ(TweakName(twSelectionRect, twWindows7),
            "Do not use translucent selection rectangle for Desktop");
  EXPECT_EQ(TweakName(twIconShadows, twWindows8), "Don't drop shadows under icons on the desktop");
  EXPECT_EQ(TweakName(twIconShadows, twWindows7), "Do not drop shadows under icons on the desktop");
  EXPECT_EQ(TweakGroup(twAero), tgInterface);
  EXPECT_EQ(TweakGroup(twShortNames), tgPerformance);
  EXPECT_EQ(TweakGroup(twAutoRun), tgOther);
}

// --- writing

TEST_F(SysTweakTest, UntickingPutsBackWhatWasReadAbsentValuesIncluded) {
  const TTweakReading absent = store.Read(twCompatAssistant);
  std::string error;
  ASSERT_TRUE(store.Write(twCompatAssistant, {true, 0}, absent, error)) << error;
  EXPECT_EQ(DwordAt(kAppCompat, "DisablePCA"), 1u);
  ASSERT_TRUE(store.Write(twCompatAssistant, {false, 0}, absent, error)) << error;
  // Deleted again, not a policy of 0 left behind.
  EXPECT_FALSE(reg.ValueExists(View::V64, kAppCompat, "DisablePCA"));
  EXPECT_EQ(BackupCount(), 2u); // both changes went through the undo folder

  // A value the tweak does not know survives a tick and untick.
  reg.SetDword(View::V64, kFileSystem, "NtfsDisable8dot3NameCreation", 2);
  const TTweakReading perVolume = store.Read(twShortNames);
  ASSERT_TRUE(store.Write(twShortNames, {true, 0}, perVolume, error)) << error;
  EXPECT_EQ(DwordAt(kFileSystem, "NtfsDisable8dot3NameCreation"), 1u);
  ASSERT_TRUE(store.Write(twShortNames, {false, 0}, perVolume, error)) << error;
  EXPECT_EQ(DwordAt(kFileSystem, "NtfsDisable8dot3NameCreation"), 2u);

  // A value ticked when read gets the tweak's own "off".
  reg.SetDword(View::V64, kDwm, "Composition", 0);
  const TTweakReading aeroOff = store.Read(twAero);
  ASSERT_TRUE(store.Write(twAero, {false, 0}, aeroOff, error)) << error;
  EXPECT_EQ(DwordAt(kDwm, "Composition"), 1u);
}

TEST_F(SysTweakTest, OsDefaultLeavesValuesThatAlreadyMeanOff) {
  reg.SetDword(View::V64, kFileSystem, "NtfsDisable8dot3NameCreation", 2);
  const TTweakReading read = store.Read(twShortNames);
  const TTweakWish wish = OsDefaultWish(twShortNames, {read.ticked, read.value}, read, kWindows7);
  EXPECT_EQ(TweakTarget(twShortNames, wish, read, kWindows7), Dword(2));

  // An absent delay is the system's default: it is not written as 500.
  const TTweakReading peek = store.Read(twPeekDelay);
  EXPECT_EQ(OsDefaultWish(twPeekDelay, {false, peek.value}, peek, kWindows7).value, peek.value);
  const TTweakReading set = ReadFrom(twPeekDelay, Dword(3000));
  EXPECT_EQ(OsDefaultWish(twPeekDelay, {false, set.value}, set, kWindows7).value, 500);
}

// A store whose writes are recorded and fail (or throw) for chosen tweaks.
class ScriptedStore final : public ITweakStore {
public:
  TTweakReading Read(int) override { return {}; }
  bool Write(int id, const TTweakWish &, const TTweakReading &, std::string &errorText) override {
    order.push_back(id);
    if (id == throwing)
      throw ERegistryException("The system cannot find the file specified.");
    if (id == failing) {
      errorText = "RegCreateKeyEx: Access is denied.";
      return false;
    }
    return true;
  }
  std::vector<int> order;
  int failing = -1;
  int throwing = -1;
};

TEST(SysTweakApply, FixedOrderAndFailuresDoNotStopTheRest) {
  ScriptedStore store;
  store.failing = twRecentDocs;
  store.throwing = twFavorites;
  std::array<std::optional<TTweakWish>, kTweakCount> wishes{};
  for (auto &wish : wishes)
    wish = TTweakWish{true, 0};
  const TTweakApplyResult result = ApplyTweaks(store, wishes, TTweakReadings{});
  const std::vector<int> order{17, 18, 19, 20, 0,  1,  2,  3,  4,  5,  6,  7,
                               8,  9,  10, 11, 12, 13, 14, 15, 16, 21, 22, 23};
  EXPECT_EQ(store.order, order);
  ASSERT_EQ(result.failed.size(), 2u);
  EXPECT_EQ(result.failed[0].id, twRecentDocs);
  EXPECT_EQ(result.failed[1].id, twFavorites);
  EXPECT_NE(result.failed[1].errorText.find("cannot find"), std::string::npos);
  EXPECT_EQ(result.written.size(), 22u);
  EXPECT_EQ(result.written.back(), twUac);
}

// --- a system key's owner

TEST_F(SysTweakTest, FavoritesKeyGetsItsOwnerAndAccessListBack) {
  ASSERT_TRUE(reg.CreateKey(View::V64, kFavorites));
  reg.SetDword(View::V64, kFavorites, "Attributes", 0xA0900100u);
  {
    ScopedKey key;
    ASSERT_EQ(OpenKeyFull(wc::HkeyClassesRoot, rv64,
                          "CLSID\\{323CA680-C24D-4099-B94D-446DD2D7249E}\\ShellFolder", key),
              wc::ErrorSuccess);
    const std::string system = std::string("O:") + kTrustedInstaller + "D:(A;CI;KA;;;" +
                               kTrustedInstaller + ")(A;CI;0xa0019;;;BA)";
    ASSERT_EQ(reg.SetKeySecurity(
                  key.Get(), wc::OwnerSecurityInformation | wc::DaclSecurityInformation, system),
              wc::ErrorSuccess);
  }
  const std::string before = reg.KeySecurity(View::V64, kFavorites);
  std::string error;
  ASSERT_TRUE(store.Write(twFavorites, {true, 0}, store.Read(twFavorites), error)) << error;
  EXPECT_EQ(DwordAt(kFavorites, "Attributes"), 0xA9400100u);
  EXPECT_EQ(reg.KeySecurity(View::V64, kFavorites), before);
  EXPECT_FALSE(sys.PrivilegeEnabled("SeRestorePrivilege"));
  EXPECT_FALSE(sys.PrivilegeEnabled("SeTakeOwnershipPrivilege"));
}

TEST_F(SysTweakTest, TakenOwnershipTextCarriesTheOwner) {
  ASSERT_TRUE(reg.CreateKey(View::V64, "HKLM\\Software\\Owned"));
  const std::string before = reg.KeySecurity(View::V64, "HKLM\\Software\\Owned");
  std::string saved;
  ASSERT_TRUE(TakeKeyOwnership(wc::HkeyLocalMachine, "Software\\Owned", saved));
  EXPECT_EQ(saved, before);
  EXPECT_NE(reg.KeySecurity(View::V64, "HKLM\\Software\\Owned"), before);
  ASSERT_TRUE(TakeKeyOwnership(wc::HkeyLocalMachine, "Software\\Owned", saved));
  EXPECT_EQ(reg.KeySecurity(View::V64, "HKLM\\Software\\Owned"), before);
  EXPECT_THROW(
      { qp::IgnoreResult(TakeKeyOwnership(wc::HkeyLocalMachine, "Software\\Missing", saved)); },
      ERegistryException);
}

TEST_F(SysTweakTest, MissingFavoritesKeyFailsAloneInApply) {
  std::array<std::optional<TTweakWish>, kTweakCount> wishes{};
  wishes[twFavorites] = TTweakWish{true, 0};
  wishes[twCompressedColor] = TTweakWish{false, 0};
  const TTweakReadings loaded = ReadAllTweaks(store);
  const TTweakApplyResult result = ApplyTweaks(store, wishes, loaded);
  ASSERT_EQ(result.failed.size(), 1u);
  EXPECT_EQ(result.failed[0].id, twFavorites);
  EXPECT_EQ(result.written, std::vector<int>{twCompressedColor});
  EXPECT_EQ(DwordAt(kAdvanced, "showCompColor"), 0u);
}

// --- what the command line asks for

TEST_F(SysTweakTest, CommandLineDefaultsWriteOnlyWhatTheyChange) {
  reg.SetDword(View::V64, kDwm, "Composition", 0);
  reg.SetDword(View::V64, kAdvanced, "ExtendedUIHoverTime", 1000);
  reg.SetDword(View::V64, kFileSystem, "NtfsDisable8dot3NameCreation", 2);
  const TTweakApplyResult result = service::DefaultTweaks(store, kWindows7);
  EXPECT_TRUE(result.failed.empty());
  EXPECT_EQ(result.written, (std::vector<int>{twAero, twThumbnailDelay}));
  EXPECT_EQ(DwordAt(kDwm, "Composition"), 1u);
  EXPECT_EQ(DwordAt(kAdvanced, "ExtendedUIHoverTime"), 400u);
  EXPECT_EQ(DwordAt(kFileSystem, "NtfsDisable8dot3NameCreation"), 2u);
  EXPECT_FALSE(reg.ValueExists(View::V64, kAdvanced, "showCompColor"));
}

TEST_F(SysTweakTest, CommandLineNumbersAreCappedAndOffIsTheOsDefault) {
  const TTweakApplyResult set =
      service::SetTweak(store, kWindows7, {.id = twPeekDelay, .ticked = true, .number = 90000});
  EXPECT_EQ(set.written, std::vector<int>{twPeekDelay});
  EXPECT_EQ(DwordAt(kAdvanced, "DesktopLivePreviewHoverTime"), 20000u);
  const TTweakApplyResult off =
      service::SetTweak(store, kWindows7, {.id = twPeekDelay, .ticked = false, .number = {}});
  EXPECT_EQ(off.written, std::vector<int>{twPeekDelay});
  EXPECT_EQ(DwordAt(kAdvanced, "DesktopLivePreviewHoverTime"), 500u);
  // Asking for what is there writes nothing.
  EXPECT_TRUE(
      service::SetTweak(store, kWindows7, {.id = twRecentDocs, .ticked = false, .number = {}})
          .written.empty());
}

TEST(SysTweakCli, BadUsageIsRefusedBeforeAnythingIsRead) {
  for (const std::vector<std::string> &args : {std::vector<std::string>{"tweaks"},
                                               {"tweaks", "frob"},
                                               {"tweaks", "set", "24", "on"},
                                               {"tweaks", "set", "4", "7"},
                                               {"tweaks", "set", "15", "-5"},
                                               {"tweaks", "set", "2"}}) {
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunCli(args, {out, err}), 2) << args.back();
    EXPECT_TRUE(out.str().empty());
  }
}

// --- the ribbon

class RibbonTest : public SysTweakTest {
protected:
  void SetUp() override {
    SysTweakTest::SetUp();
    fs.AddFile(Library(), "ribbon v1");
    const qp::TPrivilegeScope restore("SeRestorePrivilege");
    ASSERT_EQ(fs.SetFileSecurity(Library(),
                                 wc::OwnerSecurityInformation | wc::DaclSecurityInformation,
                                 std::string("O:") + kTrustedInstaller + kProtectedDacl),
              wc::ErrorSuccess);
  }
  static std::string Library(std::string_view suffix = {}) {
    return std::string(kSystemDir) + "\\UIRibbon.dll" + std::string(suffix);
  }
  std::string Security(const std::string &path) {
    std::string sddl;
    EXPECT_EQ(
        fs.GetFileSecurity(path, wc::OwnerSecurityInformation | wc::DaclSecurityInformation, sddl),
        wc::ErrorSuccess);
    return sddl;
  }
  static constexpr const char *kProtectedDacl = "D:P(A;;FA;;;SY)(A;;0x1200a9;;;BA)";
};

TEST_F(RibbonTest, DisabledTwiceKeepsOneLibraryWithItsOwner) {
  const std::string before = Security(Library());
  std::string error;
  ASSERT_TRUE(SwitchRibbon(true, error)) << error;
  ASSERT_TRUE(SwitchRibbon(true, error)) << error;
  EXPECT_FALSE(fs.Exists(Library()));
  EXPECT_EQ(fs.Content(Library(".old")), "ribbon v1");
  EXPECT_EQ(Security(Library(".old")), before);
  EXPECT_FALSE(sys.PrivilegeEnabled("SeTakeOwnershipPrivilege"));
  EXPECT_FALSE(sys.PrivilegeEnabled("SeRestorePrivilege"));
  EXPECT_TRUE(store.Read(twRibbon).ticked);
}

TEST_F(RibbonTest, EnablingWithBothPresentKeepsTheCurrentOne) {
  fs.AddFile(Library(".old"), "ribbon v0");
  std::string error;
  ASSERT_TRUE(SwitchRibbon(false, error)) << error;
  EXPECT_EQ(fs.Content(Library()), "ribbon v0");
  EXPECT_EQ(fs.Content(Library(".~")), "ribbon v1");
  EXPECT_FALSE(fs.Exists(Library(".old")));
  EXPECT_EQ(Security(Library(".~")), std::string("O:") + kTrustedInstaller + kProtectedDacl);
  EXPECT_FALSE(store.Read(twRibbon).ticked);
}

TEST_F(RibbonTest, AFailedMoveGivesTheOwnerBackAndSaysSo) {
  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::Move, "UIRibbon.dll", wc::ErrorAccessDenied);
  std::string error;
  EXPECT_FALSE(SwitchRibbon(true, error));
  EXPECT_EQ(error.rfind("MoveFile: ", 0), 0u) << error;
  EXPECT_EQ(Security(Library()), std::string("O:") + kTrustedInstaller + kProtectedDacl);
}

} // namespace
} // namespace quenlo::test
