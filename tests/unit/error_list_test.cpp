#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "scanner/uRegErrorList.h"

namespace quenlo {
namespace {

TRegErrorInfo Info(int category, TRegErrorKind kind = ekInvalidClassId, std::string valueName = "v",
                   std::string target = "t", std::string keyPath = "Software\\A\\B") {
  TRegErrorInfo info;
  info.RootKey = 0x80000002;
  info.Category = static_cast<TErrorCategory>(category);
  info.Kind = kind;
  info.ValueName = std::move(valueName);
  info.Target = std::move(target);
  info.KeyPath = std::move(keyPath);
  info.Data = "data";
  info.Action = raDeleteValue;
  info.Actions = TRepairActionSet::Of(raDeleteValue);
  return info;
}

std::unique_ptr<TRegError> Make(int category) {
  return std::make_unique<TRegError>(Info(category));
}

std::string Describe(TRegErrorKind kind, std::string valueName, std::string target,
                     std::string keyPath = "Software\\A\\B") {
  return TRegError(Info(0, kind, std::move(valueName), std::move(target), std::move(keyPath)))
      .Description();
}

using Call = std::tuple<TRegScanner *, TRegError *, TListNotification>;

struct Recorder {
  std::vector<Call> calls;
  TRegScannerChangeLink link{
      [this](TRegScanner *s, TRegError *e, TListNotification a) { calls.emplace_back(s, e, a); }};
};

TRegScanner *FakeScanner() {
  return reinterpret_cast<TRegScanner *>(0x1000);
}

TEST(ErrorModelTables, NamesKeysGroupsAndSets) {
  EXPECT_EQ(CategoryName(ecVirualDevices), "Virtual Devices");
  EXPECT_EQ(CategorySettingsKey(ecVirualDevices), "VirtualDrivers");
  EXPECT_EQ(CategorySettingsKey(ecFilePathRefs), "ConfigurationCache");
  EXPECT_EQ(CategorySettingsKey(ecHistoryLists), "FilePathReferences");
  EXPECT_EQ(CategoryName(ecFilePathRefs), "File/Path References");
  EXPECT_TRUE(CategoryDescription(ecAppPaths).starts_with("Checks to see that the Application"));
  EXPECT_EQ(CategoryName(24), "");
  EXPECT_EQ(CategoryDescription(-1), "");
  EXPECT_EQ(ErrorKindName(ekInvalidValueType), "Invalid Registry Value");
  EXPECT_EQ(ErrorKindName(ekInvalidShortcut), "Invalid Shortcut");
  EXPECT_EQ(ErrorKindName(ErrorKindCount), "");

  // Every category but 8 and 17 is in a group; only 16 is in two.
  for (int c = 0; c < CategoryCount; ++c) {
    int groups = 0;
    for (const auto &g : CategoryGroups)
      groups += g.Members.Contains(static_cast<TErrorCategory>(c)) ? 1 : 0;
    EXPECT_EQ(groups, c == 8 || c == 17 ? 0 : c == 16 ? 2 : 1) << c;
  }
  EXPECT_EQ(CategoryGroups[4].HeadingName, "Driver Related Errors Group");
  EXPECT_TRUE(AllCategories.Contains(ecHistoryLists));
  EXPECT_FALSE(AllCategories.Contains(static_cast<TErrorCategory>(24)));
  EXPECT_EQ(TRepairActionSet::Of(raDeleteValue).ToBits(), 0x0002);
  TRepairActionSet two{0x0101};
  EXPECT_TRUE(two.Contains(raDeleteKey));
  EXPECT_TRUE(two.Contains(static_cast<TRepairAction>(8)));
  EXPECT_FALSE(two.Add(raRecycleFile).Remove(raDeleteKey).Contains(raDeleteKey));
}

TEST(ErrorModelTables, KindNamesFollowTheKindValues) {
  // The name table is indexed by the kind's value: a missing row leaves a
  // kind unnamed, a shifted one names it wrongly.
  for (int kind = 0; kind < ErrorKindCount; ++kind)
    EXPECT_FALSE(ErrorKindName(kind).empty()) << kind;
  // Kinds that differ only in the entry they are reported on share a name.
  EXPECT_EQ(ErrorKindName(ekInvalidOpenWithListKey), "Invalid Open With List Entry");
  EXPECT_EQ(ErrorKindName(ekInvalidOpenWithMruEntry), "Invalid Open With List Entry");
  EXPECT_EQ(ErrorKindName(ekInvalidOpenWithProgId), "Invalid Open With Program IDs Entry");
  for (const TRegErrorKind kind : {ekInvalidPath, ekInvalidPathInMultiString, ekInvalidPathInList})
    EXPECT_EQ(ErrorKindName(kind), "Invalid Path") << static_cast<int>(kind);
  EXPECT_EQ(ErrorKindName(ekInvalidMruList), "Invalid MRU List");
}

TEST(ErrorModelDescription, TextsByKind) {
  EXPECT_EQ(Describe(ekInvalidCharsetAlias, "", ""),
            "Value \"(Default)\" is empty and can be deleted");
  EXPECT_EQ(Describe(ekInvalidCharsetAlias, "x", "1252"),
            "Value \"x\" points to missing character set: 1252");
  EXPECT_EQ(Describe(ekInvalidCodePage, "", ""),
            "Value \"(Default)\" points to missing code page: ");
  EXPECT_EQ(Describe(ekInvalidInterface, "n", ""), "Value \"n\" points to missing interface: ");
  EXPECT_EQ(Describe(ekInvalidFontFile, "Arial", "arial.ttf"),
            "Value \"Arial\" points to missing  font file: arial.ttf");
  EXPECT_EQ(Describe(ekInvalidFontFile, "Arial", ""),
            "Value \"Arial\" is empty and can be deleted");
  EXPECT_EQ(Describe(ekInvalidShortcut, "", "C:\\x.exe"),
            "Shortcut \"data\" contains a path which could not be found: C:\\x.exe");
  EXPECT_EQ(Describe(ekInvalidValueType, "", "REG_SZ or REG_EXPAND_SZ"),
            "Value \"(Default)\" is expected to be of type REG_SZ or REG_EXPAND_SZ.");
  EXPECT_EQ(Describe(ekInvalidOpenWithListKey, "", "app.exe"),
            "Subkey \"B\" points to an application which could not be found: app.exe");
  EXPECT_EQ(Describe(ekEmptyKey, "", "", "Top"), "Subkey \"Top\" is empty and can be deleted");
  EXPECT_EQ(Describe(ekInvalidSharedFilePath, "", "x"), "Shared file could not be found: ");
  EXPECT_EQ(Describe(ekInvalidHelpFilePath, "h.hlp", "C:\\h"),
            "Help file \"h.hlp\" could not be found in folder C:\\h");
  EXPECT_EQ(Describe(ekInvalidHelpFilePath, "", ""),
            "Value \"(Default)\" is empty and can be deleted");
  EXPECT_EQ(Describe(ekInvalidPathInMultiString, "p", "%s"),
            "Value \"p\" contains a path which could not be found: %s");
  EXPECT_EQ(Describe(ekInvalidMruList, "", "a, b"),
            "MRU list point to one or more missing element: a, b");
  EXPECT_EQ(Describe(ekInvalidUninstallEntry, "x", "y"), "");
  EXPECT_EQ(Describe(static_cast<TRegErrorKind>(ErrorKindCount), "x", "y"), "");
}

TEST(ErrorModelDescription, KeyAndValueNames) {
  TRegError e(Info(0, ekInvalidCharsetAlias, "", "", "Software\\X"));
  EXPECT_EQ(e.FullKeyName(), "HKLM\\Software\\X");
  EXPECT_EQ(e.DisplayValueName(), "(Default)");
  e.RootKey = 0;
  e.ValueName = "name";
  EXPECT_EQ(e.FullKeyName(), "Software\\X");
  EXPECT_EQ(e.DisplayValueName(), "name");
  EXPECT_TRUE(e.Checked());
  EXPECT_FALSE(e.Repaired());
  EXPECT_EQ(e.Index(), -1);
  EXPECT_EQ(e.Owner(), nullptr);
}

TEST(ErrorListChanges, AddExtractDeleteKeepOrderCountersAndTellObservers) {
  TErrorList list;
  Recorder rec;
  rec.link.SetScanner(FakeScanner());
  list.AddObserver(rec.link);

  auto first = Make(ecStartup);
  TRegError *a = first.get();
  EXPECT_EQ(list.Add(std::move(first)), 0);
  TRegError *b = list.Items(list.Add(Make(ecCLSIDs)));
  TRegError *c = list.Items(list.Add(Make(ecStartup)));
  EXPECT_EQ(c->Index(), 2);
  EXPECT_EQ(a->Owner(), &list);
  EXPECT_EQ(list.CategoryList(ecStartup), (std::vector<TRegError *>{a, c}));
  EXPECT_EQ(list.CheckedCount(ecStartup), 2);
  ASSERT_EQ(rec.calls.size(), 3u);
  EXPECT_EQ(rec.calls[1], Call(FakeScanner(), b, lnAdded));

  c->SetChecked(true); // unchanged: no counter moves
  EXPECT_EQ(list.CheckedCount(ecStartup), 2);
  c->SetChecked(false);
  c->SetChecked(false);
  EXPECT_EQ(list.CheckedCount(ecStartup), 1);
  EXPECT_EQ(list.CheckedTotal(), 2);

  std::unique_ptr<TRegError> out = list.Extract(a);
  ASSERT_EQ(out.get(), a);
  EXPECT_EQ(a->Owner(), nullptr);
  EXPECT_EQ(list.CategoryList(ecStartup), (std::vector<TRegError *>{c}));
  EXPECT_EQ(list.CheckedCount(ecStartup), 0);
  EXPECT_EQ(rec.calls.back(), Call(FakeScanner(), a, lnExtracted));
  EXPECT_EQ(list.Extract(a), nullptr);
  a->SetChecked(false); // no owner: the list is untouched
  EXPECT_EQ(list.CheckedTotal(), 1);

  // Observers see the deleted error while it still exists.
  std::string seenKey;
  TRegScannerChangeLink peek([&](TRegScanner *, TRegError *e, TListNotification) {
    if (e != nullptr)
      seenKey = e->KeyPath;
  });
  list.AddObserver(peek);
  EXPECT_TRUE(list.Delete(b));
  EXPECT_EQ(seenKey, "Software\\A\\B");
  EXPECT_EQ(rec.calls.back(), Call(FakeScanner(), b, lnDeleted));
  EXPECT_FALSE(list.Delete(a));
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.CategoryErrorCount(ecCLSIDs), 0);

  // Re-adding an extracted error puts it at the end of its category.
  list.Add(std::move(out));
  EXPECT_EQ(list.CategoryList(ecStartup), (std::vector<TRegError *>{c, a}));
  EXPECT_EQ(list.CheckedCount(ecStartup), 0);
}

TEST(ErrorListChanges, ClearTellsEachObserverOnceAndUpdatesAreSilent) {
  TErrorList list;
  Recorder r1, r2;
  list.AddObserver(r1.link);
  list.AddObserver(r2.link);
  list.BeginUpdate();
  for (int i = 0; i < 500; ++i)
    list.Add(Make(i % CategoryCount));
  list.EndUpdate();
  EXPECT_TRUE(r1.calls.empty());
  EXPECT_EQ(list.CheckedTotal(), 500);

  list.Clear();
  EXPECT_EQ(r1.calls, (std::vector<Call>{Call(nullptr, nullptr, lnDeleted)}));
  EXPECT_EQ(r2.calls, r1.calls);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.CheckedTotal(), 0);
  EXPECT_EQ(list.CategoryErrorCount(ecHistoryLists), 0);
  EXPECT_EQ(list.UpdateCount(), 0);
}

TEST(ErrorListGroups, SumsCountSixteenTwiceAndSkipEightAndSeventeen) {
  TErrorList list;
  for (int c = 0; c < CategoryCount; ++c)
    list.Add(Make(c));
  list.CategoryList(ecStartup)[0]->SetChecked(false);
  const int expectedCounts[CategoryGroupCount] = {6, 4, 2, 7, 4};
  int groupTotal = 0;
  for (int g = 0; g < CategoryGroupCount; ++g) {
    EXPECT_EQ(list.GroupErrorCount(g), expectedCounts[g]) << g;
    groupTotal += list.GroupErrorCount(g);
  }
  EXPECT_EQ(groupTotal, 23); // 24 - {8, 17} + 16 again
  EXPECT_EQ(list.GroupCheckedCount(0), 5);
  EXPECT_EQ(list.GroupCheckedCount(3), 7);
  EXPECT_EQ(list.CheckedTotal(), 23);
  EXPECT_EQ(list.GroupErrorCount(5), 0);
}

TEST(ErrorListLifetime, ObserversAndStrayDeletesAreSafe) {
  Recorder rec;
  auto list = std::make_unique<TErrorList>();
  rec.link.SetScanner(FakeScanner());
  list->AddObserver(rec.link);
  {
    TRegScannerChangeLink shortLived;
    list->AddObserver(shortLived);
    EXPECT_EQ(list->ObserverCount(), 2);
  }
  EXPECT_EQ(list->ObserverCount(), 1);

  // An observer that unregisters itself while being told.
  TRegScannerChangeLink once;
  once.OnChange = [&](TRegScanner *, TRegError *, TListNotification) {
    list->RemoveObserver(once);
  };
  list->AddObserver(once);
  TRegError *e = list->Items(list->Add(Make(ecStartup)));
  EXPECT_EQ(list->ObserverCount(), 1);
  EXPECT_EQ(rec.calls.size(), 1u);

  // Deleting a listed error directly detaches it first.
  list->Add(Make(ecStartup));
  delete e;
  EXPECT_EQ(list->Count(), 1);
  EXPECT_EQ(list->CategoryErrorCount(ecStartup), 1);
  EXPECT_EQ(list->CheckedCount(ecStartup), 1);
  EXPECT_EQ(std::get<2>(rec.calls.back()), lnExtracted);

  list.reset();
  EXPECT_EQ(rec.link.Scanner(), nullptr);
  EXPECT_EQ(rec.link.List(), nullptr);
}

TEST(ErrorListLifetime, FailedAddFreesTheErrorAndLeavesTheListUnchanged) {
  TErrorList list;
  EXPECT_THROW(list.Add(Make(24)), std::out_of_range);
  EXPECT_THROW(list.Add(nullptr), std::invalid_argument);

  Recorder rec;
  list.AddObserver(rec.link);
  bool fail = true;
  TRegScannerChangeLink failing([&](TRegScanner *, TRegError *, TListNotification a) {
    if (fail && a == lnAdded)
      throw std::runtime_error("observer");
  });
  list.AddObserver(failing);
  EXPECT_THROW(list.Add(Make(ecStartup)), std::runtime_error);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.CheckedCount(ecStartup), 0);
  ASSERT_EQ(rec.calls.size(), 2u);
  EXPECT_EQ(std::get<2>(rec.calls[1]), lnDeleted);
  fail = false;
  EXPECT_EQ(list.Add(Make(ecStartup)), 0);
}

} // namespace
} // namespace quenlo
