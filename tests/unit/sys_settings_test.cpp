// The optimizer's five system settings against the registry: what the page
// reads from each stored form, what Apply writes (only what changed, in the
// value's own type, each with its undo backup), what a failed write leaves,
// putting the old raw values back, and quenlo-cli settings optimize.
#include <sstream>

#include "TestPlatform.h"
#include "app/cli/uCli.h"
#include "app/uEnvironment.h"
#include "app/uSettings.h"
#include "optimizer/uSysSettings.h"
#include "platform/Utf.h"
#include "undo/uUndoIndex.h"

namespace quenlo::test {
namespace {

using qp::mem::RegOp;
using qp::mem::View;

constexpr const char *kDesktop = "HKCU\\Control Panel\\Desktop";
constexpr const char *kControl = "HKLM\\SYSTEM\\CurrentControlSet\\Control";
constexpr const char *kDfrg = "HKLM\\SOFTWARE\\Microsoft\\Dfrg\\BootOptimizeFunction";
constexpr const char *kIndex = "C:\\Undo\\2024-05-06\\index.txt";

class SysSettingsTest : public MemoryTest {
protected:
  void SetUp() override {
    MemoryTest::SetUp();
    reg.SetReflectionQueryStatus(wc::ErrorCallNotImplemented);
  }

  static TUndoFolder Undo() {
    TUndoTime at;
    at.year = 2024;
    at.month = 5;
    at.day = 6;
    at.hour = 10;
    at.minute = 20;
    return {.root = "C:\\Undo\\", .clock = [at]() mutable {
              ++at.millisecond; // one backup name per change
              return at;
            }};
  }

  // Every setting present in its ordinary form.
  void SeedAll() {
    reg.SetString(View::V64, kDesktop, "MenuShowDelay", "250");
    reg.SetString(View::V64, kDesktop, "WaitToKillAppTimeout", "5000");
    reg.SetString(View::V64, kControl, "WaitToKillServiceTimeout", "12000");
    reg.SetString(View::V64, kDfrg, "Enable", "Y");
    reg.SetString(View::V64, kDesktop, "AutoEndTasks", "1");
  }

  std::optional<std::pair<std::uint32_t, qp::Bytes>> Raw(const char *key, const char *name) {
    return reg.GetRaw(View::V64, key, name);
  }
  std::string Text(const char *key, const char *name) {
    return reg.GetText(View::V64, key, name).value_or("<missing>");
  }
  std::vector<std::string> IndexLines() {
    std::vector<std::string> lines;
    if (fs.Exists(kIndex)) {
      EXPECT_TRUE(ReadTextLines(kIndex, lines));
    }
    return lines;
  }
};

struct TReadCase {
  const char *key;
  const char *name;
  std::optional<std::string> text; // REG_SZ; nullopt: a REG_DWORD 1 instead
  TSysSettingId id;
  int expected;
};

TEST_F(SysSettingsTest, EachStoredFormReadsAsThePageShowsIt) {
  const TReadCase cases[] = {
      {kDesktop, "MenuShowDelay", "9000", ssMenuShowDelay, 4000},
      {kDesktop, "MenuShowDelay", "abc", ssMenuShowDelay, 400},
      {kDesktop, "MenuShowDelay", std::nullopt, ssMenuShowDelay, 400},
      {kDesktop, "MenuShowDelay", "-5", ssMenuShowDelay, 0},
      {kDesktop, "MenuShowDelay", " 250", ssMenuShowDelay, 250},
      {kDesktop, "MenuShowDelay", "250 ", ssMenuShowDelay, 400},
      {kDesktop, "MenuShowDelay", "$100", ssMenuShowDelay, 256},
      {kDesktop, "MenuShowDelay", "99999999999", ssMenuShowDelay, 400},
      {kDesktop, "WaitToKillAppTimeout", "5999", ssWaitToKillApp, 5},
      {kDesktop, "WaitToKillAppTimeout", "61000", ssWaitToKillApp, 60},
      {kDesktop, "WaitToKillAppTimeout", "-20000", ssWaitToKillApp, 0},
      {kControl, "WaitToKillServiceTimeout", "", ssWaitToKillService, 20},
      {kControl, "WaitToKillServiceTimeout", "12000", ssWaitToKillService, 12},
      {kDfrg, "Enable", "y", ssBootOptimization, 1},
      {kDfrg, "Enable", "N", ssBootOptimization, 0},
      {kDfrg, "Enable", "Yes", ssBootOptimization, 0},
      {kDfrg, "Enable", std::nullopt, ssBootOptimization, 0},
      {kDesktop, "AutoEndTasks", "1", ssAutoEndTasks, 1},
      {kDesktop, "AutoEndTasks", "65536", ssAutoEndTasks, 0}, // 16 bits: 0
      {kDesktop, "AutoEndTasks", "abc", ssAutoEndTasks, 0},
      {kDesktop, "AutoEndTasks", std::nullopt, ssAutoEndTasks, 0},
  };
  for (const TReadCase &c : cases) {
    if (c.text)
      reg.SetString(View::V64, c.key, c.name, *c.text);
    else
      reg.SetDword(View::V64, c.key, c.name, 1);
    const TSysSettingsLoad load = LoadSysSettings();
    EXPECT_EQ(load.values.Get(c.id), c.expected) << c.name << " = " << c.text.value_or("DWORD");
    EXPECT_TRUE(load.failed.empty());
    ASSERT_TRUE(load.raw.at(c.id).has_value());
    EXPECT_EQ(load.raw.at(c.id)->type, c.text ? wc::RegSz : wc::RegDword) << "kept raw";
  }
  // Nothing stored at all: the defaults, the switches off.
  reg.DeleteTree(View::V64, kDesktop);
  reg.DeleteTree(View::V64, kControl);
  reg.DeleteTree(View::V64, kDfrg);
  const TSysSettingsLoad empty = LoadSysSettings();
  EXPECT_EQ(empty.values, (TSysSettingsValues{400, 20, 20, false, false}));
  EXPECT_FALSE(empty.raw.at(ssMenuShowDelay).has_value());
}

// One value that cannot be read says so and shows its default; every other
// value is still read on its own.
TEST_F(SysSettingsTest, AnUnreadableKeyLeavesTheOtherValuesRead) {
  SeedAll();
  reg.SetDenyAccess(View::V64, kDesktop, true);
  const TSysSettingsLoad load = LoadSysSettings();
  ASSERT_EQ(load.failed.size(), 3u);
  EXPECT_EQ(load.failed[0].first, ssMenuShowDelay);
  EXPECT_NE(load.failed[0].second.find("RegOpenKeyEx: Access is denied."), std::string::npos)
      << load.failed[0].second;
  EXPECT_EQ(load.values.menuShowDelayMs, 400);
  EXPECT_FALSE(load.values.autoEndTasks);
  EXPECT_EQ(load.values.waitToKillServiceSec, 12);
  EXPECT_TRUE(load.values.bootOptimization) << "read after the Desktop key failed";
}

TEST_F(SysSettingsTest, ApplyWritesOnlyWhatChangedEachWithItsBackup) {
  SeedAll();
  // A stored form the page cannot show exactly: written back only if changed.
  reg.SetString(View::V64, kDesktop, "WaitToKillAppTimeout", "5500");
  const TSysSettingsLoad load = LoadSysSettings();
  TSysSettingsValues values = load.values;
  values.menuShowDelayMs = 100;
  values.waitToKillServiceSec = 30;
  values.autoEndTasks = false;
  const TSysSettingsWrite write = ApplySysSettings(Undo(), load, values);
  EXPECT_TRUE(write.Complete());
  EXPECT_EQ(write.written,
            (std::vector<TSysSettingId>{ssMenuShowDelay, ssWaitToKillService, ssAutoEndTasks}));
  EXPECT_EQ(Text(kDesktop, "MenuShowDelay"), "100");
  EXPECT_EQ(Text(kControl, "WaitToKillServiceTimeout"), "30000");
  EXPECT_EQ(Text(kDesktop, "AutoEndTasks"), "0");
  EXPECT_EQ(Text(kDesktop, "WaitToKillAppTimeout"), "5500") << "unchanged: not rewritten";
  EXPECT_EQ(Text(kDfrg, "Enable"), "Y");
  EXPECT_EQ(IndexLines().size(), 3u) << "one indexed backup per written value";
  EXPECT_EQ(LoadSysSettings().values, values);
}

// A REG_DWORD (or REG_EXPAND_SZ) value stays of its type when written; a
// missing one is made REG_SZ.
TEST_F(SysSettingsTest, WritingKeepsTheValueType) {
  reg.SetDword(View::V64, kDesktop, "MenuShowDelay", 100);
  reg.SetString(View::V64, kDesktop, "WaitToKillAppTimeout", "5000", wc::RegExpandSz);
  reg.SetDword(View::V64, kDesktop, "AutoEndTasks", 0);
  const TSysSettingsLoad load = LoadSysSettings();
  TSysSettingsValues values = load.values;
  values.menuShowDelayMs = 500;
  values.waitToKillAppSec = 30;
  values.autoEndTasks = true;
  values.bootOptimization = true;
  values.waitToKillServiceSec = 7;
  ASSERT_TRUE(ApplySysSettings(Undo(), load, values).Complete());

  const auto menu = Raw(kDesktop, "MenuShowDelay");
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->first, wc::RegDword);
  EXPECT_EQ(menu->second, DwordData(500));
  const auto app = Raw(kDesktop, "WaitToKillAppTimeout");
  ASSERT_TRUE(app);
  EXPECT_EQ(app->first, wc::RegExpandSz);
  EXPECT_EQ(Text(kDesktop, "WaitToKillAppTimeout"), "30000");
  EXPECT_EQ(Raw(kDesktop, "AutoEndTasks")->second, DwordData(1));
  EXPECT_EQ(Raw(kDfrg, "Enable")->first, wc::RegSz);
  EXPECT_EQ(Text(kDfrg, "Enable"), "Y");
  EXPECT_EQ(Raw(kControl, "WaitToKillServiceTimeout")->first, wc::RegSz);
  EXPECT_EQ(Text(kControl, "WaitToKillServiceTimeout"), "7000");
}

TEST_F(SysSettingsTest, AFailedWriteIsReportedAndTheOthersStillWritten) {
  SeedAll();
  reg.SetDenyWrite(View::V64, kControl, true);
  const TSysSettingsLoad load = LoadSysSettings();
  TSysSettingsValues values = load.values;
  values.waitToKillServiceSec = 40;
  values.bootOptimization = false;
  const TSysSettingsWrite write = ApplySysSettings(Undo(), load, values);
  EXPECT_FALSE(write.Complete());
  ASSERT_EQ(write.failed.size(), 1u);
  EXPECT_EQ(write.failed[0].first, ssWaitToKillService);
  EXPECT_NE(write.failed[0].second.find("Access is denied."), std::string::npos)
      << write.failed[0].second;
  EXPECT_EQ(write.written, std::vector<TSysSettingId>{ssBootOptimization});
  EXPECT_EQ(Text(kControl, "WaitToKillServiceTimeout"), "12000");
  EXPECT_EQ(Text(kDfrg, "Enable"), "N");

  // A value set fails after its backup: reported too, the value as it was.
  reg.SetDenyWrite(View::V64, kControl, false);
  reg.InjectFailure(RegOp::SetValue, "Dfrg", wc::ErrorAccessDenied);
  const TSysSettingsLoad again = LoadSysSettings();
  TSysSettingsValues on = again.values;
  on.bootOptimization = true;
  const TSysSettingsWrite second = ApplySysSettings(Undo(), again, on);
  ASSERT_EQ(second.failed.size(), 1u);
  EXPECT_NE(second.failed[0].second.find("RegSetValueEx"), std::string::npos);
  EXPECT_EQ(Text(kDfrg, "Enable"), "N");
}

TEST_F(SysSettingsTest, TheRawValuesBeforeApplyCanBePutBack) {
  reg.SetDword(View::V64, kDesktop, "MenuShowDelay", 100);
  reg.SetString(View::V64, kDfrg, "Enable", "y");
  // WaitToKillAppTimeout, AutoEndTasks and the service timeout are missing.
  const TSysSettingsLoad load = LoadSysSettings();
  TSysSettingsValues values{1000, 10, 10, false, true};
  ASSERT_TRUE(ApplySysSettings(Undo(), load, values).Complete());
  ASSERT_TRUE(reg.ValueExists(View::V64, kDesktop, "AutoEndTasks"));

  const TSysSettingsWrite back = RestoreSysSettings(Undo(), load.raw);
  EXPECT_TRUE(back.Complete());
  EXPECT_EQ(Raw(kDesktop, "MenuShowDelay")->second, DwordData(100));
  EXPECT_EQ(Text(kDfrg, "Enable"), "y") << "byte for byte, not re-formed";
  EXPECT_FALSE(reg.ValueExists(View::V64, kDesktop, "AutoEndTasks")) << "deleted again";
  EXPECT_FALSE(reg.ValueExists(View::V64, kDesktop, "WaitToKillAppTimeout"));
  EXPECT_FALSE(reg.ValueExists(View::V64, kControl, "WaitToKillServiceTimeout"));
}

// --- quenlo-cli settings optimize

struct CliRun {
  int code;
  std::string out;
  std::string err;
};

class SysSettingsCli : public SysSettingsTest {
protected:
  void SetUp() override {
    SysSettingsTest::SetUp();
    InitEnvironment();
  }
  static CliRun Run(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int code = cli::RunCli(args, {out, err, false});
    return {code, out.str(), err.str()};
  }
};

TEST_F(SysSettingsCli, GetShowsThePageUnits) {
  SeedAll();
  const CliRun all = Run({"settings", "optimize", "get"});
  EXPECT_EQ(all.code, 0) << all.err;
  EXPECT_EQ(all.out, "MenuShowDelay\t250\nWaitToKillAppTimeout\t5\nWaitToKillServiceTimeout\t12\n"
                     "BootOptimization\ton\nAutoEndTasks\ton\n");
  EXPECT_EQ(Run({"settings", "optimize", "get", "waittokillapptimeout"}).out, "5\n");
  const CliRun json =
      Run({"settings", "optimize", "get", "MenuShowDelay", "AutoEndTasks", "--json"});
  EXPECT_EQ(json.out, "{\"MenuShowDelay\":{\"value\":250,\"read\":true},"
                      "\"AutoEndTasks\":{\"value\":\"on\",\"read\":true}}\n");
  EXPECT_EQ(Run({"settings", "optimize", "get", "NoSuch"}).code, 2);

  reg.SetDenyAccess(View::V64, kDfrg, true);
  const CliRun denied = Run({"settings", "optimize", "get", "BootOptimization"});
  EXPECT_EQ(denied.code, 1);
  EXPECT_NE(denied.err.find("BootOptimization could not be read"), std::string::npos);
}

TEST_F(SysSettingsCli, SetWritesThroughTheUndoFolderAndStampsTheSettings) {
  SeedAll();
  const CliRun set = Run({"settings", "optimize", "set", "WaitToKillAppTimeout", "45", "--json"});
  EXPECT_EQ(set.code, 0) << set.err;
  EXPECT_EQ(set.out, "{\"name\":\"WaitToKillAppTimeout\",\"value\":45,\"written\":true}\n");
  EXPECT_EQ(Text(kDesktop, "WaitToKillAppTimeout"), "45000");
  EXPECT_EQ(Run({"settings", "optimize", "set", "BootOptimization", "off"}).code, 0);
  EXPECT_EQ(Text(kDfrg, "Enable"), "N");
  qp::FindData found;
  const std::string undo = SettingsPath(UndoFolderTitle);
  auto search = fs.FindFirst(undo + "\\*", found);
  ASSERT_TRUE(search) << "the undo folder holds the backups";
  std::string value;
  ASSERT_TRUE(GetSettingText(SectionSettings, "last_optimize", value));
  EXPECT_EQ(value.size(), 12u) << value;

  for (const auto &[name, text] :
       std::vector<std::pair<std::string, std::string>>{{"MenuShowDelay", "4001"},
                                                        {"MenuShowDelay", "-1"},
                                                        {"WaitToKillServiceTimeout", "61"},
                                                        {"WaitToKillServiceTimeout", "2x"},
                                                        {"AutoEndTasks", "maybe"},
                                                        {"Nothing", "1"}}) {
    const CliRun bad = Run({"settings", "optimize", "set", name, text});
    EXPECT_EQ(bad.code, 2) << name << " " << text;
  }
  EXPECT_EQ(Text(kDesktop, "MenuShowDelay"), "250");

  reg.SetDenyWrite(View::V64, kDesktop, true);
  const CliRun denied = Run({"settings", "optimize", "set", "MenuShowDelay", "300"});
  EXPECT_EQ(denied.code, 1);
  EXPECT_NE(denied.err.find("MenuShowDelay was not written"), std::string::npos) << denied.err;
  EXPECT_EQ(Text(kDesktop, "MenuShowDelay"), "250");
}

// The command line makes the registry hold what was asked even where the
// page would show that value already (a REG_DWORD reads as the default).
TEST_F(SysSettingsCli, SetWritesAValueThePageShowsAsTheDefault) {
  reg.SetDword(View::V64, kDesktop, "MenuShowDelay", 100);
  EXPECT_EQ(Run({"settings", "optimize", "set", "MenuShowDelay", "400"}).code, 0);
  EXPECT_EQ(Raw(kDesktop, "MenuShowDelay")->second, DwordData(400));
}

} // namespace
} // namespace quenlo::test
