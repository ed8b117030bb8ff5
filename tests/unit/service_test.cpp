// The front-end-neutral service: the repair loop's order, outcomes and
// report summary, the repair record, the restore's refusals and the purge's
// list, and the scan run's completion rules. (The selection is covered
// through the repair command.)
#include <atomic>
#include <memory>
#include <stdexcept>

#include "RegeditFake.h"
#include "TestPlatform.h"
#include "app/uEnvironment.h"
#include "platform/Utf.h"
#include "service/uRepairRun.h"
#include "service/uScanRun.h"
#include "service/uSettingsEdit.h"
#include "service/uUndoRestore.h"

namespace quenlo::test {
namespace {

using qp::mem::View;

constexpr const char *kUndo = "C:\\Undo";

const char *OutcomeName(service::TRepairOutcome outcome) {
  switch (outcome) {
  case service::roRepaired:
    return "repaired";
  case service::roFailed:
    return "failed";
  case service::roLeftAlone:
    return "left alone";
  }
  return "?";
}

class ServiceTest : public MemoryTest {
protected:
  void SetUp() override {
    MemoryTest::SetUp();
    InitEnvironment();
    // Reflection cannot be read (as under Wine): backups name their view.
    reg.SetReflectionQueryStatus(wc::ErrorCallNotImplemented);
    scanner.SetUndoFolder(kUndo);
  }
  // A finding for value v of HKLM\Software\<key>, which exists.
  TRegError &Finding(TErrorCategory category, const std::string &key, int testId = 1) {
    reg.SetString(View::V64, "HKLM\\Software\\" + key, "v", "1");
    TRegErrorInfo info;
    info.View64 = 1;
    info.RootKey = wc::HkeyLocalMachine;
    info.KeyPath = "Software\\" + key;
    info.ValueName = "v";
    info.Category = category;
    info.Kind = ekInvalidPath;
    info.Action = raDeleteValue;
    info.Actions = TRepairActionSet::Of(raDeleteValue);
    info.TestId = testId;
    const int index = scanner.Errors().Add(std::make_unique<TRegError>(info));
    return *scanner.Errors().Items(index);
  }
  bool ValueLeft(const std::string &key) {
    return reg.ValueExists(View::V64, "HKLM\\Software\\" + key, "v");
  }
  std::string Setting(const char *section, const char *key) {
    std::string value, error;
    EXPECT_TRUE(service::GetSetting(section, key, value, error)) << error;
    return value;
  }

  RegeditFake editor{platform};
  qp::TMainThread main;
  TRegScanner scanner{main};
};

TEST_F(ServiceTest, RepairRunOrderOutcomesAndSummary) {
  Finding(ecStartup, "SvcA");
  Finding(ecStartup, "SvcB");
  Finding(ecStartup, "SvcC").SetChecked(false);
  Finding(ecStartup, "SvcD").SetRepaired(true); // marked to be ignored
  Finding(ecStartup, "SvcE");
  Finding(ecTypeLib, "SvcT"); // listed last, repaired first
  reg.InjectFailure(qp::mem::RegOp::DeleteValue, "SvcB", 5);

  std::vector<std::string> seen;
  std::string failureText;
  const service::TRepairRunResult run =
      service::RepairSelected(scanner, [&](const service::TRepairItem &item) {
        seen.push_back(item.error->KeyPath + ": " + OutcomeName(item.outcome));
        if (item.outcome == service::roFailed)
          failureText = item.errorText;
      });
  EXPECT_EQ(seen, (std::vector<std::string>{"Software\\SvcT: repaired", "Software\\SvcA: repaired",
                                            "Software\\SvcB: failed", "Software\\SvcD: left alone",
                                            "Software\\SvcE: repaired"}));
  EXPECT_FALSE(failureText.empty());
  EXPECT_FALSE(ValueLeft("SvcA"));
  EXPECT_TRUE(ValueLeft("SvcB"));
  EXPECT_TRUE(ValueLeft("SvcC")) << "unchecked";
  EXPECT_TRUE(ValueLeft("SvcD")) << "ignored";
  EXPECT_FALSE(ValueLeft("SvcE")) << "the loop goes on after a failure";
  EXPECT_FALSE(ValueLeft("SvcT"));

  const service::TCategoryRepairSummary &startup = run.categories[ecStartup];
  EXPECT_EQ(startup.found, 5);
  EXPECT_EQ(startup.leftAlone, 2) << "the failure and the ignored one";
  EXPECT_EQ(startup.repaired, 2);
  EXPECT_EQ(run.categories[ecTypeLib].found, 1);
  EXPECT_EQ(run.categories[ecTypeLib].repaired, 1);
  EXPECT_EQ(run.categories[ecCLSIDs].found, 0);
  EXPECT_EQ(run.found, 6);
  EXPECT_EQ(run.repaired, 3);
  EXPECT_EQ(run.failed, 1);
  EXPECT_EQ(run.leftAlone, 2);

  // A second run repairs only what failed; the rest is done or ignored.
  const service::TRepairRunResult again = service::RepairSelected(scanner);
  EXPECT_EQ(again.repaired, 1);
  EXPECT_EQ(again.failed, 0);
  EXPECT_EQ(again.leftAlone, 4);
  EXPECT_FALSE(ValueLeft("SvcB"));
  std::vector<std::string> entries;
  ASSERT_TRUE(service::UndoDayEntries(scanner, service::UndoDays(scanner).at(0).name, entries));
  EXPECT_EQ(entries.size(), 4u) << "one backup per repair, none for the repeats";
}

TEST_F(ServiceTest, RepairCountReachesTheSettingsOnlyAfterRepairsWereTried) {
  std::string error;
  ASSERT_TRUE(service::SetSetting("settings", "last_repair", "7", error)) << error;
  ASSERT_TRUE(service::SetSetting("settings", "total_error_repaired", "10", error)) << error;
  EXPECT_TRUE(service::RecordRepairRun({}, error)) << error;
  EXPECT_EQ(Setting("settings", "last_repair"), "7") << "nothing was tried";

  service::TRepairRunResult run;
  run.repaired = 2;
  run.failed = 1;
  EXPECT_TRUE(service::RecordRepairRun(run, error)) << error;
  EXPECT_EQ(Setting("settings", "last_repair"), "2");
  EXPECT_EQ(Setting("settings", "total_error_repaired"), "12");

  run.repaired = 0; // every repair failed: the run still counts
  EXPECT_TRUE(service::RecordRepairRun(run, error)) << error;
  EXPECT_EQ(Setting("settings", "last_repair"), "0");
}

TEST_F(ServiceTest, RestoreRefusesUnknownDaysAndEntriesBeforePlayingAnythingBack) {
  Finding(ecStartup, "UndoA");
  Finding(ecStartup, "UndoB");
  ASSERT_EQ(service::RepairSelected(scanner).repaired, 2);
  const std::vector<service::TUndoDay> days = service::UndoDays(scanner);
  ASSERT_EQ(days.size(), 1u);
  EXPECT_EQ(days[0].entryCount, 2);
  const std::string day = days[0].name;
  const std::string entryA = "HKEY_LOCAL_MACHINE\\Software\\UndoA";
  std::vector<std::string> entries;
  EXPECT_FALSE(service::UndoDayEntries(scanner, "1999-01-01", entries));

  service::TUndoRestoreResult r = service::RestoreUndoEntries(scanner, "1999-01-01", {});
  EXPECT_EQ(r.refusal, service::urUnknownDay);
  r = service::RestoreUndoEntries(scanner, day, {entryA, "HKEY_LOCAL_MACHINE\\Software\\None"});
  EXPECT_EQ(r.refusal, service::urUnknownEntry);
  EXPECT_EQ(r.unknownEntry, "HKEY_LOCAL_MACHINE\\Software\\None");
  EXPECT_FALSE(ValueLeft("UndoA")) << "a refused restore plays nothing back";
  EXPECT_EQ(scanner.ErrorCount(), 2);

  r = service::RestoreUndoEntries(scanner, day, {qp::LowerAscii(entryA)});
  ASSERT_TRUE(r.Accepted());
  EXPECT_EQ(r.summary.restored, 1);
  EXPECT_EQ(r.summary.failed, 0);
  EXPECT_TRUE(ValueLeft("UndoA"));
  EXPECT_FALSE(ValueLeft("UndoB"));
  EXPECT_EQ(scanner.ErrorCount(), 0) << "results that no longer hold are dropped";

  // A day whose index date cannot be read has no proven age: the purge
  // keeps it and names it.
  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::Find, day + "\\index", 5, 1000);
  const service::TUndoPurgeResult purged = service::PurgeUndoDays(scanner, true);
  EXPECT_TRUE(purged.removedDays.empty());
  EXPECT_EQ(purged.undatedDays, (std::vector<std::string>{day}));
  EXPECT_EQ(purged.daysLeft, 1);
}

class ServiceScanTest : public ServiceTest {
protected:
  // Type Library finds one problem, App IDs fails when told to, CLSIDs runs
  // until stopped when told to.
  void SetChecks() {
    reg.CreateKey(View::V32, "HKLM\\Software\\Lib");
    TCategoryChecks checks;
    checks[ecTypeLib] = [](TScanThread &t, TRegistryAccess &a, bool counting) {
      if (counting || a.IsView64())
        return;
      t.CountTest(true);
      t.AddError(wc::HkeyLocalMachine, rv32,
                 {.data = "",
                  .keyPath = "Software\\Lib",
                  .kind = ekInvalidCharsetAlias,
                  .action = raDeleteKey,
                  .testId = 1});
    };
    checks[ecAppIDs] = [this](TScanThread &, TRegistryAccess &, bool counting) {
      if (!counting && failAppIds)
        throw std::runtime_error("disk on fire");
    };
    checks[ecCLSIDs] = [this](TScanThread &t, TRegistryAccess &, bool) {
      spinning = true;
      while (spin && !t.Terminated())
        t.ReportProgress("spin");
    };
    scanner.SetChecks(checks);
  }
  bool failAppIds = false;
  std::atomic<bool> spin{false};
  std::atomic<bool> spinning{false};
};

TEST_F(ServiceScanTest, OnlyAnUninterruptedScanCompletesAndIsRecorded) {
  SetChecks();
  const std::string health = Setting("settings", "healthstatus");
  service::TScanRun run(scanner, main);
  int finished = 0;
  run.OnFinished = [&](const service::TScanResult &) { ++finished; };
  scanner.SetScanCategories(TCategorySet::Of(ecTypeLib).Add(ecCLSIDs).Add(ecAppIDs));
  failAppIds = true;
  service::TScanResult r = run.RunToEnd();
  EXPECT_FALSE(r.completed);
  EXPECT_EQ(r.failure, "disk on fire");
  EXPECT_EQ(r.completedCategories, TCategorySet::Of(ecTypeLib).Add(ecCLSIDs));
  EXPECT_FALSE(r.statisticsStored);
  EXPECT_EQ(Setting("settings", "healthstatus"), health) << "an incomplete scan is not stored";

  failAppIds = false;
  r = run.RunToEnd();
  EXPECT_TRUE(r.completed);
  EXPECT_TRUE(r.failure.empty());
  EXPECT_TRUE(r.statisticsStored) << r.statisticsError;
  EXPECT_EQ(Setting("settings", "last_err"), "1");
  EXPECT_EQ(finished, 2);

  // Started without waiting, then stopped: the categories keep the
  // statistics of the scan before, yet this scan did not complete.
  spin = true;
  spinning = false;
  run.Start();
  while (!spinning)
    main.PumpWait(std::chrono::milliseconds(5));
  EXPECT_TRUE(run.Running());
  run.Stop();
  EXPECT_EQ(finished, 3);
  EXPECT_TRUE(run.Finished());
  EXPECT_TRUE(run.Result().stopped);
  EXPECT_FALSE(run.Result().completed);
}

TEST_F(ServiceScanTest, PreparationFollowsTheSettingsUnlessTold) {
  std::string error;
  ASSERT_TRUE(service::SetSetting("scan", "TypeLibrary", "0", error)) << error;
  const TCategorySet fromSettings = service::PrepareScan(scanner, {}).categories;
  EXPECT_FALSE(fromSettings.Contains(ecTypeLib));
  EXPECT_TRUE(fromSettings.Contains(ecCLSIDs));
  EXPECT_EQ(scanner.ScanCategories(), fromSettings);
  EXPECT_FALSE(scanner.IgnoreList().empty());

  const TCategorySet chosen = TCategorySet::Of(ecTypeLib);
  EXPECT_EQ(service::PrepareScan(scanner, {chosen, false}).categories, chosen);
  EXPECT_EQ(scanner.ScanCategories(), chosen);
  EXPECT_TRUE(scanner.IgnoreList().empty());
}

} // namespace
} // namespace quenlo::test
