// The registry monitor's engine on the in-memory registry: its threads,
// its events on the main thread, its start and stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "TestPlatform.h"
#include "monitor/uRegMonitor.h"

namespace quenlo::test {
namespace {

using namespace std::chrono_literals;
using qp::mem::View;

constexpr auto kPatience = 5s;

class ThreadedRegMonitorTest : public MemoryTest {
protected:
  ThreadedRegMonitorTest() {
    monitor.OnKeyChanged = [this](TRegMonitor &, const TKeyChange &change) {
      changes.push_back(change);
      if (onChange)
        onChange(change);
    };
    monitor.OnError = [this](TRegMonitor &, const TMonitorError &error) {
      errors.push_back(error);
    };
  }
  ~ThreadedRegMonitorTest() override { monitor.Deactivate(); }

  // Serves the monitor's calls until done says so or the patience is out.
  bool PumpUntil(const std::function<bool()> &done,
                 std::chrono::milliseconds patience = kPatience) {
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
  // Serves calls for a while: what arrives meanwhile is collected.
  void PumpFor(std::chrono::milliseconds time) {
    PumpUntil([] { return false; }, time);
  }

  void Watch(std::vector<std::string> keys) {
    monitor.SetKeyList(keys);
    monitor.Activate();
    ASSERT_TRUE(monitor.Active());
  }

  std::vector<std::string> Names(TKeyEventType type) const {
    std::vector<std::string> out;
    for (const TKeyChange &c : changes)
      if (c.type == type)
        out.push_back(c.name);
    return out;
  }

  qp::TMainThread main;
  TRegMonitor monitor{main};
  std::vector<TKeyChange> changes;
  std::vector<TMonitorError> errors;
  std::function<void(const TKeyChange &)> onChange;
};

constexpr const char *kKey = "HKCU\\Software\\Watched";

TEST_F(ThreadedRegMonitorTest, ReportsEachKindOfChangeWithItsKey) {
  reg.SetString(View::V64, kKey, "edit", "1");
  reg.SetString(View::V64, kKey, "gone", "1");
  reg.CreateKey(View::V64, std::string(kKey) + "\\oldsub");
  Watch({"HKEY_CURRENT_USER\\Software\\Watched"});
  const auto started = std::chrono::system_clock::now();

  reg.SetString(View::V64, kKey, "edit", "2");
  ASSERT_TRUE(PumpForChanges(1));
  reg.SetString(View::V64, kKey, "added", "x");
  ASSERT_TRUE(PumpForChanges(2));
  qp::ScopedKey key;
  ASSERT_EQ(qp::Platform().Registry().OpenKey(wc::HkeyCurrentUser, "Software\\Watched",
                                              wc::KeyAllAccess, key.Out()),
            wc::ErrorSuccess);
  ASSERT_EQ(qp::Platform().Registry().DeleteValue(key.Get(), "gone"), wc::ErrorSuccess);
  ASSERT_TRUE(PumpForChanges(3));
  reg.CreateKey(View::V64, std::string(kKey) + "\\newsub");
  ASSERT_TRUE(PumpForChanges(4));
  reg.DeleteTree(View::V64, std::string(kKey) + "\\oldsub");
  ASSERT_TRUE(PumpForChanges(5));
  PumpFor(300ms);

  ASSERT_EQ(changes.size(), 5u);
  EXPECT_EQ(changes[0].type, keEditValue);
  EXPECT_EQ(changes[0].name, "edit");
  ASSERT_TRUE(changes[0].before && changes[0].after);
  EXPECT_NE(changes[0].before->digest, changes[0].after->digest);
  EXPECT_EQ(changes[1].type, keCreateValue);
  EXPECT_EQ(changes[1].name, "added");
  EXPECT_EQ(changes[2].type, keDeleteValue);
  EXPECT_EQ(changes[2].name, "gone");
  EXPECT_EQ(changes[3].type, keCreateSubkey);
  EXPECT_EQ(changes[3].name, "newsub");
  EXPECT_EQ(changes[4].type, keDeleteSubkey);
  EXPECT_EQ(changes[4].name, "oldsub");
  for (const TKeyChange &c : changes) {
    EXPECT_EQ(c.where.index, 0);
    EXPECT_EQ(c.where.root, wc::HkeyCurrentUser);
    EXPECT_EQ(c.where.path, "Software\\Watched");
    EXPECT_EQ(c.where.viewPath, "Software\\Watched");
    EXPECT_FALSE(c.where.oneOfTwoViews);
    EXPECT_GE(c.time, started);
  }
  EXPECT_TRUE(errors.empty());
}

TEST_F(ThreadedRegMonitorTest, ChangesWhileInactiveAreNeverReported) {
  reg.SetString(View::V64, kKey, "before", "1");
  Watch({kKey});
  monitor.Deactivate();
  reg.SetString(View::V64, kKey, "meanwhile", "1");
  monitor.Activate();
  PumpFor(300ms);
  EXPECT_TRUE(changes.empty());
  reg.SetString(View::V64, kKey, "after", "1");
  ASSERT_TRUE(PumpForChanges(1));
  PumpFor(200ms);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].name, "after");
}

TEST_F(ThreadedRegMonitorTest, SameDataRewriteIsSilentTypeChangeIsNot) {
  reg.SetString(View::V64, kKey, "v", "%TEMP%");
  Watch({kKey});
  reg.SetString(View::V64, kKey, "v", "%TEMP%");
  PumpFor(300ms);
  EXPECT_TRUE(changes.empty());
  reg.SetString(View::V64, kKey, "v", "%TEMP%", wc::RegExpandSz);
  ASSERT_TRUE(PumpForChanges(1));
  EXPECT_EQ(changes[0].type, keEditValue);
  EXPECT_EQ(changes[0].before->type, wc::RegSz);
  EXPECT_EQ(changes[0].after->type, wc::RegExpandSz);
}

TEST_F(ThreadedRegMonitorTest, BurstOfWritesGivesExactlyTheTrueDifference) {
  reg.SetDword(View::V64, kKey, "counter", 0);
  Watch({kKey});
  for (std::uint32_t i = 0; i < 100; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "v%03u", i);
    reg.SetDword(View::V64, kKey, name, i);
    reg.SetDword(View::V64, kKey, "counter", i + 1);
  }
  // Every new value once, and the counter's edits end at its last value.
  const qp::Bytes finalCount = {100, 0, 0, 0};
  ASSERT_TRUE(PumpUntil([&] {
    return Names(keCreateValue).size() >= 100 &&
           std::any_of(changes.begin(), changes.end(), [&](const TKeyChange &c) {
             return c.type == keEditValue && c.after->data == finalCount;
           });
  })) << changes.size()
      << " changes";
  PumpFor(300ms);
  const std::vector<std::string> created = Names(keCreateValue);
  EXPECT_EQ(created.size(), 100u);
  EXPECT_EQ(std::set<std::string>(created.begin(), created.end()).size(), 100u);
  EXPECT_TRUE(Names(keDeleteValue).empty());
  // The counter's edits chain: each one starts where the one before ended.
  std::optional<TValueState> last;
  for (const TKeyChange &c : changes) {
    if (c.type != keEditValue)
      continue;
    EXPECT_EQ(c.name, "counter");
    if (last) {
      EXPECT_EQ(*c.before, *last);
    }
    last = c.after;
  }
  ASSERT_TRUE(last);
  EXPECT_EQ(last->data, (qp::Bytes{100, 0, 0, 0}));
}

TEST_F(ThreadedRegMonitorTest, DeletedKeyWithoutSignalReportsItsContentBothWays) {
  reg.SetQuirks(qp::mem::RegistryQuirks::Wine()); // deleting signals nothing
  reg.SetString(View::V64, kKey, "a", "1");
  reg.SetString(View::V64, kKey, "b", "2");
  Watch({kKey});
  ASSERT_TRUE(reg.DeleteTree(View::V64, kKey));
  ASSERT_TRUE(PumpForChanges(2));
  EXPECT_EQ(Names(keDeleteValue), (std::vector<std::string>{"a", "b"}));
  reg.SetString(View::V64, kKey, "c", "3");
  ASSERT_TRUE(PumpForChanges(3));
  PumpFor(300ms);
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes[2].type, keCreateValue);
  EXPECT_EQ(changes[2].name, "c");
  // Still watched after coming back.
  reg.SetString(View::V64, kKey, "d", "4");
  ASSERT_TRUE(PumpForChanges(4));
  EXPECT_EQ(changes[3].name, "d");
}

TEST_F(ThreadedRegMonitorTest, KeyMissingAtActivationReportsItsContentWhenItComes) {
  Watch({"HKCU\\Software\\Later"});
  PumpFor(250ms);
  EXPECT_TRUE(changes.empty());
  reg.SetString(View::V64, "HKCU\\Software\\Later", "first", "1");
  ASSERT_TRUE(PumpForChanges(1));
  EXPECT_EQ(changes[0].type, keCreateValue);
  EXPECT_EQ(changes[0].name, "first");
  reg.SetString(View::V64, "HKCU\\Software\\Later", "second", "1");
  ASSERT_TRUE(PumpForChanges(2));
  PumpFor(200ms);
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[1].name, "second");
}

std::vector<std::string> ManyKeys(int count) {
  std::vector<std::string> keys;
  for (int i = 0; i < count; ++i)
    keys.push_back("HKCU\\Software\\Many\\K" + std::to_string(i));
  return keys;
}

TEST_F(ThreadedRegMonitorTest, SixtyFourKeysSeeTheirBurst) {
  const std::vector<std::string> keys = ManyKeys(64);
  for (const std::string &k : keys)
    reg.CreateKey(View::V64, k);
  Watch(keys);
  ASSERT_EQ(monitor.WatchPoints().size(), 64u);
  for (int round = 0; round < 3; ++round)
    for (const std::string &k : keys)
      reg.SetDword(View::V64, k, "n" + std::to_string(round), 1);
  ASSERT_TRUE(PumpForChanges(64 * 3)) << changes.size();
  PumpFor(300ms);
  EXPECT_EQ(changes.size(), 64u * 3);
  std::vector<int> perKey(64, 0);
  for (const TKeyChange &c : changes) {
    ASSERT_GE(c.where.index, 0);
    ASSERT_LT(c.where.index, 64);
    EXPECT_EQ(c.where.path, keys[c.where.index].substr(5));
    EXPECT_EQ(c.type, keCreateValue);
    ++perKey[c.where.index];
  }
  for (int n : perKey)
    EXPECT_EQ(n, 3);
}

TEST_F(ThreadedRegMonitorTest, DeactivationUnderLoadIsQuick) {
  const std::vector<std::string> keys = ManyKeys(64);
  for (const std::string &k : keys)
    reg.CreateKey(View::V64, k);
  Watch(keys);
  std::atomic<bool> writing{true};
  std::thread writer([&] {
    for (std::uint32_t i = 0; writing; ++i)
      reg.SetDword(View::V64, keys[i % keys.size()], "n", i);
  });
  PumpUntil([&] { return changes.size() > 50; });
  const auto start = std::chrono::steady_clock::now();
  monitor.Deactivate();
  const auto took = std::chrono::steady_clock::now() - start;
  writing = false;
  writer.join();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
  std::printf("deactivating 64 keys under load took %lld ms\n", static_cast<long long>(ms));
  EXPECT_FALSE(monitor.Active());
  EXPECT_LT(ms, 1000);
  const std::size_t seen = changes.size();
  PumpFor(200ms);
  EXPECT_EQ(changes.size(), seen);
  EXPECT_EQ(reg.OpenHandleCount(), 0u);
}

TEST_F(ThreadedRegMonitorTest, DeactivateFromTheHandlerStopsAtOnce) {
  Watch({kKey});
  onChange = [&](const TKeyChange &) { monitor.Deactivate(); };
  for (int i = 0; i < 20; ++i)
    reg.SetDword(View::V64, kKey, "v" + std::to_string(i), 1);
  ASSERT_TRUE(PumpForChanges(1));
  EXPECT_FALSE(monitor.Active());
  reg.SetDword(View::V64, kKey, "late", 1);
  PumpFor(300ms);
  EXPECT_EQ(changes.size(), 1u);

  // A new run reports its own changes and none of the old one's.
  onChange = nullptr;
  monitor.Activate();
  ASSERT_TRUE(monitor.Active());
  reg.SetDword(View::V64, kKey, "fresh", 1);
  ASSERT_TRUE(PumpForChanges(2));
  PumpFor(200ms);
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[1].name, "fresh");
}

TEST_F(ThreadedRegMonitorTest, ReactivateFromTheHandlerStartsAFreshRun) {
  Watch({kKey});
  int calls = 0;
  onChange = [&](const TKeyChange &) {
    if (++calls == 1) {
      monitor.Deactivate();
      monitor.Activate();
    }
  };
  reg.SetDword(View::V64, kKey, "one", 1);
  ASSERT_TRUE(PumpForChanges(1));
  EXPECT_TRUE(monitor.Active());
  reg.SetDword(View::V64, kKey, "two", 1);
  ASSERT_TRUE(PumpForChanges(2));
  PumpFor(200ms);
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[1].name, "two");
}

TEST_F(ThreadedRegMonitorTest, FailingHandlerIsReportedAndTheMonitorGoesOn) {
  Watch({kKey});
  onChange = [&](const TKeyChange &change) {
    if (change.name == "bad")
      throw std::runtime_error("handler broke");
  };
  reg.SetDword(View::V64, kKey, "bad", 1);
  ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }));
  EXPECT_EQ(errors[0].problem, mpHandlerFailed);
  EXPECT_EQ(errors[0].index, 0);
  EXPECT_EQ(errors[0].text, "handler broke");
  reg.SetDword(View::V64, kKey, "good", 1);
  ASSERT_TRUE(PumpForChanges(2));
  EXPECT_EQ(changes[1].name, "good");
  EXPECT_EQ(errors.size(), 1u);
}

TEST_F(ThreadedRegMonitorTest, UnreadableSnapshotKeepsTheOldOneAndSaysSo) {
  reg.SetString(View::V64, kKey, "stays", "1");
  Watch({kKey});
  reg.InjectFailure(qp::mem::RegOp::EnumValue, "WATCHED", wc::ErrorAccessDenied, 1);
  reg.SetString(View::V64, kKey, "one", "1");
  ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }));
  EXPECT_EQ(errors[0].problem, mpCompareFailed);
  EXPECT_TRUE(changes.empty());
  // Compared again at the next change, against the snapshot it kept:
  // nothing reported deleted, both new values created.
  reg.SetString(View::V64, kKey, "two", "1");
  ASSERT_TRUE(PumpForChanges(2));
  PumpFor(200ms);
  EXPECT_EQ(Names(keCreateValue), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(changes.size(), 2u);
}

TEST_F(ThreadedRegMonitorTest, BadEntriesAreReportedOnceAndSkipped) {
  Watch({"NoBackslash", "HKEY_NOWHERE\\Software", kKey});
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].index, 0);
  EXPECT_EQ(errors[0].problem, mpBadEntry);
  EXPECT_EQ(errors[1].index, 1);
  EXPECT_EQ(errors[1].problem, mpBadEntry);
  const std::vector<TWatchPoint> points = monitor.WatchPoints();
  ASSERT_EQ(points.size(), 1u);
  EXPECT_EQ(points[0].index, 2);
  reg.SetDword(View::V64, kKey, "v", 1);
  ASSERT_TRUE(PumpForChanges(1));
  PumpFor(250ms);
  EXPECT_EQ(changes[0].where.index, 2);
  EXPECT_EQ(errors.size(), 2u);
}

TEST_F(ThreadedRegMonitorTest, KeyListIsFrozenWhileActive) {
  Watch({kKey, "HKLM\\Software\\X"});
  const std::vector<std::string> before = monitor.KeyList().Items();
  const auto refused = [&](const std::function<void()> &change, const char *text) {
    try {
      change();
      ADD_FAILURE() << "accepted while active";
    } catch (const EInvalidOperation &e) {
      EXPECT_STREQ(e.what(), text);
    }
    EXPECT_EQ(monitor.KeyList().Items(), before);
  };
  refused([&] { monitor.KeyList().Add("HKCU\\Other"); }, kKeyListChangeRefused);
  refused([&] { monitor.KeyList().Delete(0); }, kKeyListChangeRefused);
  refused([&] { monitor.KeyList().Clear(); }, kKeyListChangeRefused);
  refused([&] { monitor.KeyList().Assign({"HKCU\\Other"}); }, kKeyListChangeRefused);
  refused([&] { monitor.SetKeyList({"HKCU\\Other"}); }, kKeyListSetRefused);
  monitor.SetActive(false);
  monitor.KeyList().Delete(1);
  EXPECT_EQ(monitor.KeyList().Items(), (std::vector<std::string>{kKey}));
}

TEST_F(ThreadedRegMonitorTest, ActivatingTwiceOrWithNothingToWatch) {
  monitor.Activate();
  EXPECT_TRUE(monitor.Active());
  EXPECT_TRUE(monitor.WatchPoints().empty());
  monitor.SetActive(true);
  monitor.Deactivate();
  Watch({kKey});
  monitor.Activate(); // already active: still one watch point, one report per change
  monitor.SetActive(true);
  EXPECT_EQ(monitor.WatchPoints().size(), 1u);
  reg.SetDword(View::V64, kKey, "v", 1);
  ASSERT_TRUE(PumpForChanges(1));
  PumpFor(250ms);
  EXPECT_EQ(changes.size(), 1u);
  EXPECT_TRUE(errors.empty());
}

TEST_F(ThreadedRegMonitorTest, KeyWithTwoViewsIsWatchedInEach) {
  // The model's Windows 7 layout: HKLM\SOFTWARE\Vendor has its 32-bit view
  // below Wow6432Node; HKLM\SYSTEM has one view.
  reg.CreateKey(View::V64, "HKLM\\SOFTWARE\\Vendor");
  reg.CreateKey(View::V32, "HKLM\\SOFTWARE\\Vendor");
  ASSERT_TRUE(reg.KeyExists(View::Phys, "HKLM\\SOFTWARE\\Wow6432Node\\Vendor"));
  reg.CreateKey(View::V64, "HKLM\\SYSTEM\\Setup");
  Watch({"HKLM\\SOFTWARE\\Vendor", "HKLM\\SYSTEM\\Setup"});
  const std::vector<TWatchPoint> points = monitor.WatchPoints();
  ASSERT_EQ(points.size(), 3u);
  EXPECT_EQ(points[0].view, rv32);
  EXPECT_TRUE(points[0].oneOfTwoViews);
  EXPECT_EQ(points[0].viewPath, "SOFTWARE\\Wow6432Node\\Vendor");
  EXPECT_EQ(points[1].view, rv64);
  EXPECT_TRUE(points[1].oneOfTwoViews);
  EXPECT_EQ(points[1].viewPath, "SOFTWARE\\Vendor");
  EXPECT_FALSE(points[2].oneOfTwoViews);
  EXPECT_EQ(points[2].view, rv64);

  reg.SetDword(View::V32, "HKLM\\SOFTWARE\\Vendor", "bits", 32);
  ASSERT_TRUE(PumpForChanges(1));
  PumpFor(300ms);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].where.view, rv32);
  EXPECT_NE(changes[0].where.viewPath.find("Wow6432Node"), std::string::npos);
  reg.SetDword(View::V64, "HKLM\\SOFTWARE\\Vendor", "bits", 64);
  ASSERT_TRUE(PumpForChanges(2));
  PumpFor(300ms);
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[1].where.view, rv64);
  EXPECT_EQ(changes[1].where.viewPath, "SOFTWARE\\Vendor");
}

} // namespace
} // namespace quenlo::test
