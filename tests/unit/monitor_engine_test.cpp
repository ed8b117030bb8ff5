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

#include "ForwardingRegistry.h"
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

TEST_F(ThreadedRegMonitorTest, DeactivateFromTheErrorHandlerStopsAtOnce) {
  Watch({kKey});
  onChange = [&](const TKeyChange &) { throw std::runtime_error("handler broke"); };
  monitor.OnError = [&](TRegMonitor &sender, const TMonitorError &error) {
    errors.push_back(error);
    sender.Deactivate();
  };
  for (int i = 0; i < 10; ++i)
    reg.SetDword(View::V64, kKey, "v" + std::to_string(i), 1);
  ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }));
  EXPECT_FALSE(monitor.Active());
  PumpFor(300ms);
  EXPECT_EQ(errors.size(), 1u);
  EXPECT_EQ(changes.size(), 1u);
  monitor.Activate();
  EXPECT_TRUE(monitor.Active());
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

// The model's registry with a hook where the monitor's calls pass, to put a
// change into the moments between them that the engine must not lose.
class THookedRegistry final : public test::TForwardingRegistry {
public:
  using TForwardingRegistry::TForwardingRegistry;

  // Runs once, on the thread that re-arms a watch, before the re-arm.
  std::function<void()> beforeRearm;
  // Runs once, after the first snapshot handle (one opened to enumerate,
  // without KEY_NOTIFY) is closed.
  std::function<void()> afterSnapshot;
  std::atomic<int> snapshotOpens{0};

  // Runs before every open (it may throw, as a failing allocation would).
  std::function<void(std::string_view subKey, std::uint32_t sam)> beforeOpen;
  long OpenKey(qp::HKey parent, std::string_view subKey, std::uint32_t sam,
               qp::HKey &out) override {
    if (beforeOpen)
      beforeOpen(subKey, sam);
    const long st = inner_.OpenKey(parent, subKey, sam, out);
    if (st == wc::ErrorSuccess && (sam & wc::KeyNotify) == 0 &&
        (sam & wc::KeyEnumerateSubKeys) != 0) {
      ++snapshotOpens;
      std::lock_guard lock(mu_);
      snapshotHandles_.insert(out);
    }
    return st;
  }
  long CloseKey(qp::HKey key) override {
    const long st = inner_.CloseKey(key);
    bool snapshot = false;
    {
      std::lock_guard lock(mu_);
      snapshot = snapshotHandles_.erase(key) == 1;
    }
    if (snapshot && afterSnapshot && !afterSnapshotRan_.exchange(true))
      afterSnapshot();
    return st;
  }
  long NotifyChangeKeyValue(qp::HKey key, bool subtree, std::uint32_t filter,
                            std::unique_ptr<qp::IChangeWatch> &watch) override {
    if (arms_++ > 0 && beforeRearm && !beforeRearmRan_.exchange(true))
      beforeRearm();
    return inner_.NotifyChangeKeyValue(key, subtree, filter, watch);
  }
  // As a registry that cannot name keys answers (the interface's default).
  std::atomic<bool> noKeyNames{false};
  long QueryKeyName(qp::HKey key, std::string &name) override {
    return noKeyNames ? IRegistry::QueryKeyName(key, name) : inner_.QueryKeyName(key, name);
  }

private:
  std::mutex mu_;
  std::set<qp::HKey> snapshotHandles_;
  std::atomic<int> arms_{0};
  std::atomic<bool> beforeRearmRan_{false};
  std::atomic<bool> afterSnapshotRan_{false};
};

using THookedPlatform = test::TForwardingPlatform<THookedRegistry>;

class ThreadedRegMonitorHookedTest : public MemoryTest {
protected:
  ~ThreadedRegMonitorHookedTest() override { monitor.Deactivate(); }
  bool PumpForNames(const std::set<std::string> &names) {
    const auto end = std::chrono::steady_clock::now() + kPatience;
    for (;;) {
      std::set<std::string> seen;
      for (const TKeyChange &c : changes)
        seen.insert(c.name);
      if (std::includes(seen.begin(), seen.end(), names.begin(), names.end()))
        return true;
      if (std::chrono::steady_clock::now() > end)
        return false;
      main.PumpWait(5ms);
    }
  }

  THookedPlatform hooked{platform};
  qp::TMainThread main;
  TRegMonitor monitor{main};
  std::vector<TKeyChange> changes;
};

// A change made after a signal and before the re-arm is not lost: the
// comparison that follows the signal sees it. (Asking for the comparison
// before re-arming would let it snapshot first and lose the change.)
TEST_F(ThreadedRegMonitorHookedTest, ChangeBeforeTheRearmIsNotLost) {
  reg.CreateKey(View::V64, kKey);
  monitor.OnKeyChanged = [this](TRegMonitor &, const TKeyChange &c) { changes.push_back(c); };
  monitor.SetKeyList({kKey});
  monitor.Activate();
  hooked.reg.beforeRearm = [&] {
    // Gives a comparison asked for too early the time to take its snapshot.
    const int opens = hooked.reg.snapshotOpens;
    const auto end = std::chrono::steady_clock::now() + 300ms;
    while (hooked.reg.snapshotOpens == opens && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(2ms);
    reg.SetDword(View::V64, kKey, "late", 1);
  };
  reg.SetDword(View::V64, kKey, "first", 1);
  EXPECT_TRUE(PumpForNames({"first", "late"})) << changes.size() << " changes";
}

// A change made right after the first snapshot is reported: the watch was
// armed before it.
TEST_F(ThreadedRegMonitorHookedTest, ChangeRightAfterTheFirstSnapshotIsReported) {
  reg.CreateKey(View::V64, kKey);
  monitor.OnKeyChanged = [this](TRegMonitor &, const TKeyChange &c) { changes.push_back(c); };
  hooked.reg.afterSnapshot = [&] { reg.SetDword(View::V64, kKey, "early", 1); };
  monitor.SetKeyList({kKey});
  monitor.Activate();
  EXPECT_TRUE(PumpForNames({"early"}));
}

std::vector<std::pair<TRegistryView, std::string>> Views(const TRegMonitor &monitor) {
  std::vector<std::pair<TRegistryView, std::string>> out;
  for (const TWatchPoint &p : monitor.WatchPoints())
    out.emplace_back(p.view, p.viewPath);
  return out;
}

using ViewList = std::vector<std::pair<TRegistryView, std::string>>;

TEST_F(ThreadedRegMonitorHookedTest, ViewsFollowTheLayout) {
  reg.CreateKey(View::V64, "HKLM\\SOFTWARE\\Wow6432Node");
  reg.CreateKey(View::V64, "HKLM\\SOFTWARE\\Classes\\CLSID");
  reg.CreateKey(View::V32, "HKLM\\SOFTWARE\\Classes\\CLSID");
  reg.CreateKey(View::V64, "HKCU\\Software\\Classes\\CLSID");
  reg.CreateKey(View::V32, "HKCU\\Software\\Classes\\CLSID");
  reg.CreateKey(View::V64, "HKLM\\SOFTWARE\\Classes\\AppID");
  reg.CreateKey(View::V64, "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths");
  const auto watch = [&](const std::string &key) {
    monitor.SetKeyList({key});
    monitor.Activate();
    ViewList views = Views(monitor);
    monitor.Deactivate();
    return views;
  };
  // Windows 7: CLSID has two views in both classes halves; App Paths and
  // the key's own Wow6432Node path have one.
  EXPECT_EQ(watch("HKLM\\SOFTWARE\\Classes\\CLSID"),
            (ViewList{{rv32, "SOFTWARE\\Classes\\Wow6432Node\\CLSID"},
                      {rv64, "SOFTWARE\\Classes\\CLSID"}}));
  EXPECT_EQ(watch("HKCU\\Software\\Classes\\CLSID"),
            (ViewList{{rv32, "Software\\Classes\\Wow6432Node\\CLSID"},
                      {rv64, "Software\\Classes\\CLSID"}}));
  EXPECT_EQ(watch("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths"),
            (ViewList{{rv64, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths"}}));
  EXPECT_EQ(watch("HKLM\\SOFTWARE\\Wow6432Node\\Vendor"),
            (ViewList{{rv64, "SOFTWARE\\Wow6432Node\\Vendor"}}));
  EXPECT_EQ(watch("HKCU\\Software\\Vendor"), (ViewList{{rv64, "Software\\Vendor"}}));
  // A key that exists in neither view is told apart by its ancestors.
  EXPECT_EQ(
      watch("HKLM\\SOFTWARE\\Nobody\\Yet"),
      (ViewList{{rv32, "SOFTWARE\\Wow6432Node\\Nobody\\Yet"}, {rv64, "SOFTWARE\\Nobody\\Yet"}}));

  // Wine's layout: the user's classes have one view.
  reg.SetLayout(qp::mem::Wow64Layout::Wine);
  EXPECT_EQ(watch("HKCU\\Software\\Classes\\CLSID"),
            (ViewList{{rv64, "Software\\Classes\\CLSID"}}));
  EXPECT_EQ(watch("HKLM\\SOFTWARE\\Classes\\AppID"),
            (ViewList{{rv64, "SOFTWARE\\Classes\\AppID"}}));

  // 32-bit Windows: one view, the 32-bit one.
  sys.SetOs64Bit(false);
  Reinit();
  EXPECT_EQ(watch("HKLM\\SOFTWARE\\Classes\\CLSID"),
            (ViewList{{rv32, "SOFTWARE\\Classes\\CLSID"}}));
}

TEST_F(ThreadedRegMonitorHookedTest, WithoutKernelNamesTheSoftwareRuleDecides) {
  hooked.reg.noKeyNames = true;
  const auto watch = [&](const std::string &key) {
    monitor.SetKeyList({key});
    monitor.Activate();
    ViewList views = Views(monitor);
    monitor.Deactivate();
    return views;
  };
  EXPECT_EQ(
      watch("HKEY_LOCAL_MACHINE\\Software\\Vendor\\App"),
      (ViewList{{rv32, "SOFTWARE\\Wow6432Node\\Vendor\\App"}, {rv64, "Software\\Vendor\\App"}}));
  EXPECT_EQ(watch("HKLM\\SOFTWARE\\Wow6432Node\\Vendor"),
            (ViewList{{rv64, "SOFTWARE\\Wow6432Node\\Vendor"}}));
  EXPECT_EQ(watch("HKLM\\SOFTWARE"), (ViewList{{rv64, "SOFTWARE"}}));
  EXPECT_EQ(watch("HKLM\\SYSTEM\\Setup"), (ViewList{{rv64, "SYSTEM\\Setup"}}));
  EXPECT_EQ(watch("HKCU\\Software\\Vendor"), (ViewList{{rv64, "Software\\Vendor"}}));
}

TEST_F(ThreadedRegMonitorHookedTest, MonitorEndedByItsOwnHandler) {
  reg.CreateKey(View::V64, kKey);
  auto owned = std::make_unique<TRegMonitor>(main);
  int calls = 0;
  owned->OnKeyChanged = [&](TRegMonitor &, const TKeyChange &) {
    ++calls;
    owned.reset();
  };
  owned->SetKeyList({kKey});
  owned->Activate();
  for (int i = 0; i < 10; ++i)
    reg.SetDword(View::V64, kKey, "v" + std::to_string(i), 1);
  const auto end = std::chrono::steady_clock::now() + kPatience;
  while (owned && std::chrono::steady_clock::now() < end)
    main.PumpWait(5ms);
  EXPECT_FALSE(owned);
  // Whatever was still on its way is dropped.
  const auto quiet = std::chrono::steady_clock::now() + 300ms;
  while (std::chrono::steady_clock::now() < quiet)
    main.PumpWait(5ms);
  EXPECT_EQ(calls, 1);
}

TEST_F(ThreadedRegMonitorHookedTest, FailedActivationLeavesNothingRunning) {
  reg.CreateKey(View::V64, "HKCU\\Software\\First");
  reg.CreateKey(View::V64, "HKCU\\Software\\Second");
  monitor.OnKeyChanged = [this](TRegMonitor &, const TKeyChange &c) { changes.push_back(c); };
  monitor.SetKeyList({"HKCU\\Software\\First", "HKCU\\Software\\Second"});
  // The second key's watch fails once the first one is armed.
  hooked.reg.beforeOpen = [](std::string_view subKey, std::uint32_t sam) {
    if (subKey == "Software\\Second" && (sam & wc::KeyNotify) != 0)
      throw std::runtime_error("no room");
  };
  EXPECT_THROW(monitor.Activate(), std::runtime_error);
  EXPECT_FALSE(monitor.Active());
  EXPECT_TRUE(monitor.WatchPoints().empty());
  EXPECT_EQ(reg.OpenHandleCount(), 0u) << "the first key's watch is let go";
  reg.SetDword(View::V64, "HKCU\\Software\\First", "unseen", 1);
  main.PumpWait(200ms);
  EXPECT_TRUE(changes.empty());

  hooked.reg.beforeOpen = nullptr;
  monitor.Activate();
  ASSERT_TRUE(monitor.Active());
  reg.SetDword(View::V64, "HKCU\\Software\\Second", "seen", 1);
  EXPECT_TRUE(PumpForNames({"seen"}));
}

// --- the platform's additions the monitor stands on

class MonitorPlatformTest : public MemoryTest {
protected:
  std::string KernelName(std::uint32_t root, const std::string &path, std::uint32_t view) {
    qp::ScopedKey key;
    EXPECT_EQ(qp::Platform().Registry().OpenKey(root, path, wc::KeyQueryValue | view, key.Out()),
              wc::ErrorSuccess)
        << path;
    std::string name;
    EXPECT_EQ(qp::Platform().Registry().QueryKeyName(key.Get(), name), wc::ErrorSuccess);
    return name;
  }
};

TEST_F(MonitorPlatformTest, ModelNamesKeysByTheirPhysicalPlace) {
  reg.CreateKey(View::V64, "HKLM\\SOFTWARE\\Vendor\\App");
  reg.CreateKey(View::V32, "HKLM\\SOFTWARE\\Vendor\\App");
  reg.CreateKey(View::V64, "HKCU\\Software\\Mine");
  std::string sid;
  ASSERT_TRUE(sys.GetUserSid(sid));
  EXPECT_EQ(KernelName(wc::HkeyLocalMachine, "Software\\vendor\\App", wc::KeyWow64_64Key),
            "\\REGISTRY\\MACHINE\\SOFTWARE\\Vendor\\App");
  EXPECT_EQ(KernelName(wc::HkeyLocalMachine, "Software\\Vendor\\App", wc::KeyWow64_32Key),
            "\\REGISTRY\\MACHINE\\SOFTWARE\\Wow6432Node\\Vendor\\App");
  EXPECT_EQ(KernelName(wc::HkeyCurrentUser, "Software\\Mine", wc::KeyWow64_64Key),
            "\\REGISTRY\\USER\\" + sid + "\\Software\\Mine");
  EXPECT_EQ(KernelName(wc::HkeyLocalMachine, "", wc::KeyWow64_64Key), "\\REGISTRY\\MACHINE");
  // Shared by both views in the Windows 7 layout: one name.
  reg.CreateKey(View::V64, "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\a.exe");
  const std::string shared = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\a.exe";
  EXPECT_EQ(KernelName(wc::HkeyLocalMachine, shared, wc::KeyWow64_32Key),
            KernelName(wc::HkeyLocalMachine, shared, wc::KeyWow64_64Key));
}

TEST_F(MonitorPlatformTest, DeletedKeyHasNoName) {
  reg.CreateKey(View::V64, "HKCU\\Software\\Doomed");
  qp::ScopedKey key;
  ASSERT_EQ(qp::Platform().Registry().OpenKey(wc::HkeyCurrentUser, "Software\\Doomed",
                                              wc::KeyQueryValue, key.Out()),
            wc::ErrorSuccess);
  ASSERT_TRUE(reg.DeleteTree(View::V64, "HKCU\\Software\\Doomed"));
  std::string name = "stale";
  EXPECT_EQ(qp::Platform().Registry().QueryKeyName(key.Get(), name), wc::ErrorKeyDeleted);
  EXPECT_TRUE(name.empty());
}

using ThreadedMonitorPlatformTest = MonitorPlatformTest;

TEST_F(ThreadedMonitorPlatformTest, CancelWakesAWaitingWatch) {
  reg.CreateKey(View::V64, "HKCU\\Software\\Quiet");
  qp::ScopedKey key;
  ASSERT_EQ(qp::Platform().Registry().OpenKey(wc::HkeyCurrentUser, "Software\\Quiet", wc::KeyNotify,
                                              key.Out()),
            wc::ErrorSuccess);
  std::unique_ptr<qp::IChangeWatch> watch;
  ASSERT_EQ(
      qp::Platform().Registry().NotifyChangeKeyValue(key.Get(), false, kMonitorNotifyFilter, watch),
      wc::ErrorSuccess);
  EXPECT_FALSE(watch->Wait(10));
  const auto start = std::chrono::steady_clock::now();
  std::thread canceller([&] {
    std::this_thread::sleep_for(20ms);
    watch->Cancel();
  });
  const bool woke = watch->Wait(10000);
  canceller.join();
  EXPECT_TRUE(woke);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_TRUE(watch->Wait(0)) << "a cancelled watch stays signalled";
}

} // namespace
} // namespace quenlo::test
