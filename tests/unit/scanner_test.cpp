#include <map>
#include <mutex>
#include <stdexcept>
#include <tuple>

#include "TestPlatform.h"
#include "platform/ScopeGuard.h"
#include "scanner/uRegScanner.h"

namespace quenlo::test {
namespace {

using qp::mem::View;

class ThreadedScanner : public MemoryTest {
protected:
  void RunToEnd(TRegScanner &scanner) {
    scanner.StartScan();
    while (scanner.IsScanning())
      main.PumpWait(std::chrono::milliseconds(5));
  }
  TCategoryChecks Everywhere(const TCategoryCheck &check) {
    TCategoryChecks checks;
    for (int c = 0; c < CategoryCount; ++c)
      if (c != ecOpenGLDrivers)
        checks[c] = check;
    return checks;
  }
  qp::TMainThread main;
};

TEST_F(ThreadedScanner, RunsBothPassesInEachViewExceptRegistryIntegrity) {
  std::mutex mu;
  std::map<std::tuple<int, bool, int>, int> calls; // category, counting, view64
  TRegScanner scanner(main);
  scanner.SetChecks(Everywhere([&](TScanThread &t, TRegistryAccess &a, bool counting) {
    EXPECT_EQ(a.CurrentKey(), 0u);
    std::lock_guard lock(mu);
    ++calls[{t.CurrentCategory(), counting, a.IsView64() ? 1 : 0}];
  }));
  bool completed = false;
  scanner.OnScanComplete = [&](TRegScanner &) { completed = true; };
  RunToEnd(scanner);
  EXPECT_TRUE(completed);
  EXPECT_TRUE(scanner.FullScanDone());
  for (int c = 0; c < CategoryCount; ++c) {
    const int expected64 = (c == ecShellFolders || c == ecOpenGLDrivers) ? 0 : 1;
    const int expected32 = c == ecOpenGLDrivers ? 0 : 1;
    for (const bool counting : {true, false}) {
      EXPECT_EQ((calls[{c, counting, 0}]), expected32) << c;
      EXPECT_EQ((calls[{c, counting, 1}]), expected64) << c;
    }
    EXPECT_EQ(scanner.TestCount(c), 0) << "every category completes, even one without a check";
  }
  EXPECT_EQ(scanner.HealthPercent(), -1) << "no test performed at all";

  // Without the reflection query there is no 64-bit pass.
  reg.SetReflectionQueryAvailable(false);
  Reinit();
  calls.clear();
  RunToEnd(scanner);
  for (const auto &[key, count] : calls)
    EXPECT_EQ(std::get<2>(key), 0);
}

TEST_F(ThreadedScanner, ProgressFiguresAndEmptyCategories) {
  std::vector<std::tuple<std::string, int, int, int>> reports;
  TRegScanner scanner(main);
  TCategoryChecks checks;
  checks[ecTypeLib] = [](TScanThread &t, TRegistryAccess &a, bool counting) {
    if (a.IsView64())
      return;
    if (counting) {
      a.SetRootKey(wc::HkeyCurrentUser);
      if (t.OpenKey(a, "Software\\Three"))
        t.CountSubKeys(a, 1);
      return;
    }
    for (const char *item : {"a", "b", "c"})
      t.ReportProgress(item);
  };
  reg.CreateKey(View::V32, "HKCU\\Software\\Three\\a");
  reg.CreateKey(View::V32, "HKCU\\Software\\Three\\b");
  reg.CreateKey(View::V32, "HKCU\\Software\\Three\\c");
  scanner.SetChecks(checks);
  scanner.SetScanCategories(TCategorySet::Of(ecTypeLib).Add(ecAppIDs));
  scanner.OnProgress = [&](const std::string &location, TErrorCategory c, int cat, int total) {
    reports.emplace_back(location, c, cat, total);
  };
  RunToEnd(scanner);
  ASSERT_EQ(reports.size(), 4u);
  EXPECT_EQ(reports[0], std::make_tuple(std::string("a"), 1, 66, 33));
  EXPECT_EQ(reports[1], std::make_tuple(std::string("b"), 1, 100, 66));
  EXPECT_EQ(reports[2], std::make_tuple(std::string("c"), 1, 100, 100));
  EXPECT_EQ(reports[3], std::make_tuple(std::string(), 5, 100, 100))
      << "a category with nothing counted reports 100 once";
}

// A check that reports one problem per listed value of HKLM\Software\Items.
void ReportItems(TScanThread &t, TRegistryAccess &a, bool counting) {
  a.SetRootKey(wc::HkeyLocalMachine);
  if (!t.OpenKey(a, "Software\\Items"))
    return;
  if (counting) {
    t.CountValues(a);
    return;
  }
  std::vector<std::string> names;
  qp::IgnoreResult(a.GetValueNames(names));
  for (const std::string &name : names) {
    t.ReportProgress(name);
    if (t.CountTest(true))
      t.AddError(wc::HkeyLocalMachine, a.View(),
                 {.data = name,
                  .keyPath = a.CurrentPath(),
                  .valueName = name,
                  .target = "C:\\gone.exe",
                  .kind = ekInvalidPath,
                  .action = raDeleteValue,
                  .testId = 60});
    t.CountTest(false);
  }
}

TEST_F(ThreadedScanner, FindingsAreFilteredOnTheMainThread) {
  // Shared key: the same finding from both views is listed once.
  reg.SetLayout(qp::mem::Wow64Layout::Wine);
  for (const char *name : {"dup", "ignoredValue", "kept"})
    reg.SetString(View::V64, "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths", name,
                  "x");
  TRegScanner scanner(main);
  TCategoryChecks checks;
  checks[ecAppPaths] = [](TScanThread &t, TRegistryAccess &a, bool counting) {
    a.SetRootKey(wc::HkeyLocalMachine);
    if (!t.OpenKey(a, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths"))
      return;
    if (counting)
      return t.CountValues(a);
    std::vector<std::string> names;
    qp::IgnoreResult(a.GetValueNames(names));
    for (const std::string &name : names) {
      t.ReportProgress(name);
      if (t.CountTest(true))
        t.AddError(wc::HkeyLocalMachine, a.View(),
                   {.data = name,
                    .keyPath = a.CurrentPath(),
                    .valueName = name,
                    .kind = ekInvalidPath,
                    .action = raDeleteValue,
                    .testId = 61});
    }
  };
  checks[ecStartup] = ReportItems;
  scanner.SetChecks(checks);
  scanner.SetScanCategories(TCategorySet::Of(ecAppPaths).Add(ecStartup));
  scanner.SetIgnoreList({"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App "
                         "Paths\\\\:ignoredValue",
                         "HKEY_LOCAL_MACHINE\\Software\\Items", "no backslash here"});
  for (const char *name : {"a", "b"}) {
    reg.SetString(View::V32, "HKLM\\Software\\Items", name, "x");
    reg.SetString(View::V32, "HKLM\\Software\\Items\\Sub", name, "x");
  }
  RunToEnd(scanner);
  const auto &paths = scanner.Errors().CategoryList(ecAppPaths);
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_EQ(paths[0]->ValueName, "dup");
  EXPECT_EQ(paths[0]->View64, 0);
  EXPECT_EQ(paths[1]->ValueName, "kept");
  // 3 values tested per view; the ignored one is taken off once per view.
  EXPECT_EQ(scanner.TestCount(ecAppPaths), 6 - 2);
  EXPECT_EQ(scanner.RemainingCount(ecAppPaths), 2);
  EXPECT_EQ(scanner.Errors().CategoryList(ecStartup).size(), 0u)
      << "an ignored key hides its values";
  EXPECT_EQ(scanner.IgnoredCount(), 2 + 2);
  EXPECT_EQ(scanner.TestCount(ecStartup), 4 - 2);
}

// A finding only the 64-bit view shows is listed by every scan: the
// duplicate test compares with the findings of the scan itself.
TEST_F(ThreadedScanner, EachScanListsItsOwnFindingsAfresh) {
  reg.SetString(View::V64, "HKLM\\Software\\Only64", "v", "x");
  TRegScanner scanner(main);
  TCategoryChecks checks;
  checks[ecAppPaths] = [](TScanThread &t, TRegistryAccess &a, bool counting) {
    if (counting || !a.IsView64() || !t.CountTest(true))
      return;
    t.AddError(wc::HkeyLocalMachine, a.View(),
               {.data = "x",
                .keyPath = "Software\\Only64",
                .valueName = "v",
                .kind = ekInvalidPath,
                .action = raDeleteValue,
                .testId = 61});
  };
  scanner.SetChecks(checks);
  scanner.SetScanCategories(TCategorySet::Of(ecAppPaths));
  for (int scan = 0; scan < 2; ++scan) {
    RunToEnd(scanner);
    EXPECT_EQ(scanner.Errors().CategoryList(ecAppPaths).size(), 1u) << "scan " << scan;
  }
}

TEST_F(ThreadedScanner, IgnoredKeyDoesNotHideSubkeys) {
  TRegScanner scanner(main);
  TCategoryChecks checks;
  checks[ecStartup] = [](TScanThread &t, TRegistryAccess &a, bool counting) {
    if (counting || a.IsView64())
      return;
    for (const char *path : {"Software\\X", "Software\\X\\Y"}) {
      t.CountTest(true);
      t.AddError(
          wc::HkeyLocalMachine, a.View(),
          {.data = "d", .keyPath = path, .kind = ekEmptyKey, .action = raDeleteKey, .testId = 1});
      t.AddError(wc::HkeyLocalMachine, a.View(),
                 {.data = "d",
                  .keyPath = path,
                  .valueName = "val",
                  .kind = ekInvalidPath,
                  .action = raDeleteValue,
                  .testId = 2});
    }
  };
  reg.CreateKey(View::V32, "HKLM\\Software\\X\\Y");
  scanner.SetChecks(checks);
  scanner.SetScanCategories(TCategorySet::Of(ecStartup));
  scanner.SetIgnoreList({"HKEY_LOCAL_MACHINE\\Software\\X"});
  RunToEnd(scanner);
  const auto &list = scanner.Errors().CategoryList(ecStartup);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->KeyPath, "Software\\X\\Y");
  EXPECT_EQ(list[1]->ValueName, "val");
}

TEST_F(ThreadedScanner, ProtectedAndInaccessibleKeysAreDropped) {
  TRegScanner scanner(main);
  TCategoryChecks checks;
  checks[ecHelpFiles] = [](TScanThread &t, TRegistryAccess &a, bool counting) {
    if (counting || a.IsView64())
      return;
    for (const char *path : {"Software\\Protected", "Software\\ReadOnly", "Software\\Open"}) {
      t.CountTest(true);
      t.AddError(wc::HkeyLocalMachine, a.View(),
                 {.data = "d",
                  .keyPath = path,
                  .valueName = "v",
                  .kind = ekInvalidHelpFilePath,
                  .action = raDeleteValue,
                  .testId = 3});
    }
    t.CountTest(true);
    t.AddError(0, a.View(),
               {.data = "C:\\link.lnk",
                .keyPath = "C:\\link.lnk",
                .target = "C:\\gone.exe",
                .kind = ekInvalidShortcut,
                .action = raRecycleFile,
                .testId = 80});
  };
  for (const char *key : {"Protected", "ReadOnly", "Open"})
    reg.CreateKey(View::V32, std::string("HKLM\\Software\\") + key);
  reg.SetDenyWrite(View::V32, "HKLM\\Software\\ReadOnly", true);
  sys.SetSfcProtectedKeys(std::set<std::string>{"HKLM\\Software\\Protected"});
  scanner.SetChecks(checks);
  scanner.SetScanCategories(TCategorySet::Of(ecHelpFiles));
  RunToEnd(scanner);
  const auto &list = scanner.Errors().CategoryList(ecHelpFiles);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->KeyPath, "Software\\Open");
  EXPECT_EQ(list[1]->Kind, ekInvalidShortcut);
  EXPECT_EQ(scanner.TestCount(ecHelpFiles), 4 - 2);
  EXPECT_EQ(scanner.IgnoredCount(), 0);
}

TEST_F(ThreadedScanner, WrongTypeIsReportedAsTest83) {
  reg.SetDword(View::V32, "HKLM\\Software\\Typed", "num", 5);
  reg.SetString(View::V32, "HKLM\\Software\\Typed", "empty", "");
  reg.SetRaw(View::V32, "HKLM\\Software\\Typed", "none", wc::RegNone, {});
  reg.SetRaw(View::V32, "HKLM\\Software\\Typed", "zero", wc::RegSz, {});
  TRegScanner scanner(main);
  std::vector<std::pair<bool, std::string>> reads;
  TCategoryChecks checks;
  checks[ecStartup] = [&](TScanThread &t, TRegistryAccess &a, bool counting) {
    if (counting || a.IsView64())
      return;
    a.SetRootKey(wc::HkeyLocalMachine);
    ASSERT_TRUE(t.OpenKey(a, "Software\\Typed"));
    for (const char *name : {"num", "empty", "none", "zero", "missing"}) {
      std::string text = "junk";
      const bool ok = t.ReadStringValue(text, a, raDeleteValue, name);
      reads.emplace_back(ok, text);
    }
  };
  scanner.SetChecks(checks);
  scanner.SetScanCategories(TCategorySet::Of(ecStartup));
  RunToEnd(scanner);
  const std::vector<std::pair<bool, std::string>> expected{
      {false, ""}, {true, ""}, {false, ""}, {true, ""}, {false, ""}};
  EXPECT_EQ(reads, expected);
  const auto &list = scanner.Errors().CategoryList(ecStartup);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->TestId, 83);
  EXPECT_EQ(list[0]->Kind, ekInvalidValueType);
  EXPECT_EQ(list[0]->Target, "REG_SZ or REG_EXPAND_SZ");
  EXPECT_EQ(list[0]->Data, "num");
  EXPECT_EQ(list[0]->ValueName, "num");
  EXPECT_EQ(list[0]->KeyPath, "Software\\Typed");
  EXPECT_EQ(list[0]->Description(),
            "Value \"num\" is expected to be of type REG_SZ or REG_EXPAND_SZ.");
  EXPECT_EQ(scanner.TestCount(ecStartup), 1);
}

TEST_F(ThreadedScanner, StopKeepsEarlierStatisticsOfUnfinishedCategories) {
  TRegScanner scanner(main);
  scanner.StatsFromText("10,1;10,1;10,1;10,1;10,1;10,1;10,1;10,1;10,1;10,1;10,1;10,1;"
                        "10,1;10,1;10,1;10,1;10,1;10,1;10,1;10,1;10,1;10,1;10,1;10,1");
  std::atomic<bool> reached{false};
  scanner.SetChecks(Everywhere([&](TScanThread &t, TRegistryAccess &, bool counting) {
    if (counting)
      return;
    t.CountTest(false);
    if (t.CurrentCategory() == ecAppIDs) {
      reached = true;
      // Keep handing findings over until the main thread stops the scan.
      while (!t.Terminated()) {
        t.ReportProgress("busy");
        t.AddError(wc::HkeyLocalMachine, rv32,
                   {.data = "d",
                    .keyPath = "Software\\Busy",
                    .kind = ekEmptyKey,
                    .action = raDeleteKey,
                    .testId = 9});
      }
    }
  }));
  scanner.StartScan();
  while (!reached)
    main.PumpWait(std::chrono::milliseconds(5));
  scanner.StopScan();
  EXPECT_FALSE(scanner.IsScanning());
  EXPECT_FALSE(scanner.FullScanDone());
  for (int c = 0; c < CategoryCount; ++c) {
    if (c < ecAppIDs) {
      EXPECT_EQ(scanner.TestCount(c), c == ecShellFolders ? 1 : 2) << c;
      EXPECT_EQ(scanner.RemainingCount(c), 0) << c;
    } else {
      EXPECT_EQ(scanner.TestCount(c), 10) << c;
      EXPECT_EQ(scanner.RemainingCount(c), 1) << c;
    }
  }
}

TEST_F(ThreadedScanner, AFailingCheckEndsTheScanWithItsReason) {
  TRegScanner scanner(main);
  TCategoryChecks checks;
  checks[ecTypeLib] = [](TScanThread &, TRegistryAccess &, bool) {};
  checks[ecAppIDs] = [](TScanThread &, TRegistryAccess &, bool counting) {
    if (!counting)
      throw std::runtime_error("disk on fire");
  };
  scanner.SetChecks(checks);
  RunToEnd(scanner);
  EXPECT_FALSE(scanner.FullScanDone());
  EXPECT_EQ(scanner.ScanFailure(), "disk on fire");
  EXPECT_EQ(scanner.TestCount(ecTypeLib), 0);
  EXPECT_EQ(scanner.TestCount(ecAppIDs), -1) << "an unfinished category keeps its statistics";
}

TEST_F(ThreadedScanner, DestroyingAScanningScannerStopsTheThread) {
  auto scanner = std::make_unique<TRegScanner>(main);
  std::atomic<bool> started{false};
  std::atomic<bool> ended{false};
  scanner->SetChecks(Everywhere([&](TScanThread &t, TRegistryAccess &, bool) {
    started = true;
    while (!t.Terminated())
      t.ReportProgress("spin");
    ended = true;
  }));
  scanner->OnProgress = [](const std::string &, TErrorCategory, int, int) {};
  scanner->StartScan();
  while (!started)
    main.PumpWait(std::chrono::milliseconds(5));
  scanner.reset();
  // The destructor returned only after the worker had left its check; what
  // it queued must not reach the freed scanner (ASan watches the pump).
  EXPECT_TRUE(ended);
  main.PumpWait(std::chrono::milliseconds(20));
}

TEST(ScannerStatistics, TextRoundTripAndHealth) {
  qp::TMainThread main;
  TRegScanner scanner(main);
  EXPECT_EQ(scanner.HealthPercent(), -1);
  scanner.StatsFromText("");
  EXPECT_EQ(scanner.TestCount(0), -1);
  EXPECT_EQ(scanner.HealthPercent(), -1);

  std::string text;
  for (int c = 0; c < CategoryCount; ++c)
    text += (c ? ";" : "") + std::string("100,0");
  scanner.StatsFromText(text + ";5,5;7,7");
  EXPECT_EQ(scanner.StatsToText(), text);
  EXPECT_EQ(scanner.HealthPercent(), 100);

  scanner.SetRemainingCount(3, 50); // half of category 3 failed
  scanner.SetRemainingCount(4, 10); // a tenth of category 4
  EXPECT_EQ(scanner.HealthPercent(), 45);
  scanner.StatsFromText("0,0;x,3");
  EXPECT_EQ(scanner.TestCount(0), 0);
  EXPECT_EQ(scanner.RemainingCount(1), 0) << "no more problems left than tests made";
  EXPECT_EQ(scanner.TestCount(2), -1);
  EXPECT_EQ(scanner.HealthPercent(), -1);

  scanner.SetUndoFolder("C:\\Data\\Undo");
  EXPECT_EQ(scanner.UndoFolder(), "C:\\Data\\Undo\\");
}

TEST_F(ThreadedScanner, ExclusionListHasTheNumberedControlSets) {
  for (const char *set : {"ControlSet001", "ControlSet002", "ControlSet1", "ControlSetABCD"})
    reg.CreateKey(View::V64, std::string("HKLM\\SYSTEM\\") + set);
  const std::vector<std::string> list = BuildExclusionList();
  auto has = [&](const char *p) { return std::find(list.begin(), list.end(), p) != list.end(); };
  EXPECT_TRUE(has("System\\ControlSet001"));
  EXPECT_TRUE(has("System\\ControlSet002"));
  EXPECT_FALSE(has("System\\ControlSet1"));
  EXPECT_FALSE(has("System\\ControlSetABCD"));
  EXPECT_TRUE(has("System\\CurrentControlSet\\Control\\WMI"));
  EXPECT_EQ(list.back(), "Software\\Wow6432Node");
  EXPECT_EQ(list.size(), 33u + 11u + 2u + 3u);
}

} // namespace
} // namespace quenlo::test
