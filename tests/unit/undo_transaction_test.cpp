// The undo transaction on its own: what a change that throws, fails, or
// cannot be recorded leaves in the registry and in the undo folder.
#include <algorithm>
#include <atomic>
#include <memory>
#include <set>
#include <stdexcept>
#include <thread>

#include "RegeditFake.h"
#include "TestPlatform.h"
#include "registry/uRegExport.h"
#include "undo/uUndoIndex.h"
#include "undo/uUndoTransaction.h"

namespace quenlo::test {
namespace {

using qp::mem::View;
using FsOp = qp::mem::MemoryFileSystem::Op;

constexpr const char *kKey = "HKLM\\Software\\Tx";
constexpr const char *kIndex = "C:\\Undo\\2024-05-06\\index.txt";
constexpr const char *kBackup = "C:\\Undo\\2024-05-06\\102030000.REG64";
constexpr const char *kLine = "102030000=HKEY_LOCAL_MACHINE\\Software\\Tx";
// A repair made earlier that day; its line must survive whatever happens.
constexpr const char *kEarlierLine = "090000000=HKEY_LOCAL_MACHINE\\Software\\Earlier";

// A snapshot whose proof cannot be had: it throws.
class ThrowingSnapshot final : public IUndoSnapshot {
public:
  bool Take(std::string &) override { return true; }
  bool Unchanged() const override { throw std::runtime_error("cannot tell"); }
};

class UndoTransactionTest : public MemoryTest {
protected:
  void SetUp() override {
    MemoryTest::SetUp();
    reg.SetReflectionQueryStatus(wc::ErrorCallNotImplemented);
    reg.SetString(View::V64, kKey, "v", "data");
    fs.AddFile(kIndex, std::string(kEarlierLine) + "\r\n");
    ASSERT_EQ(OpenKeyFull(wc::HkeyLocalMachine, rv64, "Software\\Tx", key), wc::ErrorSuccess);
  }

  static TUndoFolder Folder() {
    TUndoTime at;
    at.year = 2024;
    at.month = 5;
    at.day = 6;
    at.hour = 10;
    at.minute = 20;
    at.second = 30;
    return {.root = "C:\\Undo\\", .clock = [at] { return at; }};
  }

  // A transaction that backs up and snapshots the value v of the key.
  bool Run(TUndoChange change, std::string &error) {
    TValueSnapshot before(key, {"v"});
    return Run(before, std::move(change), error);
  }
  bool Run(IUndoSnapshot &snapshot, TUndoChange change, std::string &error) {
    TUndoTransaction transaction(Folder(), undoKey);
    return transaction.Run({.backup = ValuesBackup(undoKey, key, {"v"}),
                            .snapshot = snapshot,
                            .change = std::move(change)},
                           error);
  }

  std::vector<std::string> IndexLines() {
    std::vector<std::string> lines;
    EXPECT_TRUE(ReadTextLines(kIndex, lines));
    return lines;
  }
  std::string Value() {
    const auto value = reg.GetRaw(View::V64, kKey, "v");
    return value ? qp::RawUtf16ToUtf8(value->second) : "<missing>";
  }

  RegeditFake editor{platform};
  ScopedKey key;
  const TUndoKey undoKey{.root = wc::HkeyLocalMachine, .view = rv64, .path = "Software\\Tx"};
  const std::string data = std::string("data\0", 5);
};

TEST_F(UndoTransactionTest, ThrowingChangeSettlesOnItsWayOut) {
  // Nothing changed before the throw: line and backup are taken back.
  std::string error;
  EXPECT_THROW(Run([](std::string &) -> bool { throw std::runtime_error("boom"); }, error),
               std::runtime_error);
  EXPECT_FALSE(fs.Exists(kBackup));
  EXPECT_EQ(IndexLines(), (std::vector<std::string>{kEarlierLine}));
  EXPECT_EQ(Value(), data);

  // The value went before the throw: both stay, and the backup brings it back.
  bool recordedFirst = false;
  EXPECT_THROW(Run(
                   [&](std::string &) -> bool {
                     recordedFirst = fs.Exists(kBackup) && IndexLines().back() == kLine;
                     qp::IgnoreResult(platform.Registry().DeleteValue(key.Get(), "v"));
                     throw std::runtime_error("boom");
                   },
                   error),
               std::runtime_error);
  EXPECT_TRUE(recordedFirst) << "the change ran before its backup was indexed";
  EXPECT_EQ(IndexLines(), (std::vector<std::string>{kEarlierLine, kLine}));
  ASSERT_TRUE(fs.Exists(kBackup));
  EXPECT_TRUE(ImportRegFile(true, kBackup, error)) << error;
  EXPECT_EQ(Value(), data);
}

TEST_F(UndoTransactionTest, FailedChangeKeepsBothUnlessProvablyUnchanged) {
  std::string error;
  // The value could be read neither before the change (the snapshot's read
  // fails, the backup's succeeds) nor after it: that is no proof.
  reg.InjectFailure(qp::mem::RegOp::QueryValue, "Tx", wc::ErrorAccessDenied, 1);
  EXPECT_FALSE(Run(
      [&](std::string &) {
        reg.InjectFailure(qp::mem::RegOp::QueryValue, "Tx", wc::ErrorAccessDenied, 1000);
        return false;
      },
      error));
  reg.ClearFailures();
  EXPECT_TRUE(fs.Exists(kBackup));
  EXPECT_EQ(IndexLines(), (std::vector<std::string>{kEarlierLine, kLine}));
  fs.Remove(kBackup);
  fs.AddFile(kIndex, std::string(kEarlierLine) + "\r\n");

  // The index cannot be read to take the line back: the backup it names stays.
  EXPECT_FALSE(Run(
      [&](std::string &) {
        fs.InjectFailure(FsOp::Read, "index.txt", wc::ErrorSharingViolation, 1000);
        return false;
      },
      error));
  fs.ClearFailures();
  EXPECT_TRUE(fs.Exists(kBackup));
  EXPECT_EQ(IndexLines(), (std::vector<std::string>{kEarlierLine, kLine}));
  fs.Remove(kBackup);
  fs.AddFile(kIndex, std::string(kEarlierLine) + "\r\n");

  // The check itself throws: both stay, and nothing escapes the guard.
  ThrowingSnapshot throwing;
  EXPECT_FALSE(Run(
      throwing, [](std::string &) { return false; }, error));
  EXPECT_TRUE(fs.Exists(kBackup));
  EXPECT_EQ(IndexLines(), (std::vector<std::string>{kEarlierLine, kLine}));
}

TEST_F(UndoTransactionTest, AKeyNameWithALineBreakFailsBeforeAnyChange) {
  bool changed = false;
  const TUndoChange change = [&](std::string &) { return changed = true; };
  TValueSnapshot before(key, {"v"});
  TUndoKey injected = undoKey;
  injected.path = "Software\\Tx\n..\\..\\Users\\u\\Documents\\keep=z";
  TUndoTransaction transaction(Folder(), injected);
  std::string error;
  EXPECT_FALSE(transaction.Run(
      {.backup = ValuesBackup(undoKey, key, {"v"}), .snapshot = before, .change = change}, error));
  EXPECT_FALSE(changed);
  EXPECT_NE(error.find("line break or control character"), std::string::npos) << error;
  EXPECT_FALSE(fs.Exists(kBackup));
  EXPECT_EQ(IndexLines(), (std::vector<std::string>{kEarlierLine}));
}

TEST_F(UndoTransactionTest, NothingIsChangedWithoutAnIndexedBackup) {
  bool changed = false;
  const TUndoChange change = [&](std::string &) { return changed = true; };
  std::string error;
  // The index cannot be written.
  fs.InjectFailure(FsOp::Write, "index.txt", wc::ErrorDiskFull, 1000);
  EXPECT_FALSE(Run(change, error));
  EXPECT_EQ(error, std::string("AppendIndexLine: cannot write ") + kIndex);
  fs.ClearFailures();
  // The index exists but cannot be read: it is not rewritten without its lines.
  fs.InjectFailure(FsOp::Read, "index.txt", wc::ErrorSharingViolation, 1000);
  EXPECT_FALSE(Run(change, error));
  fs.ClearFailures();
  EXPECT_FALSE(changed);
  EXPECT_FALSE(fs.Exists(kBackup));
  EXPECT_EQ(IndexLines(), (std::vector<std::string>{kEarlierLine}));

  // The backup cannot be written: no line either.
  TValueSnapshot before(key, {"v"});
  TUndoTransaction transaction(Folder(), undoKey);
  EXPECT_FALSE(transaction.Run({.backup =
                                    [](const std::string &, std::string &text) {
                                      text = "no room";
                                      return false;
                                    },
                                .snapshot = before,
                                .change = change},
                               error));
  EXPECT_EQ(error, "no room");
  // The key tree cannot be read before a key is deleted: its effect could
  // not be judged, so the key is not touched.
  TKeyTreeSnapshot tree(undoKey);
  reg.InjectFailure(qp::mem::RegOp::EnumValue, "Tx", wc::ErrorAccessDenied, 1000);
  EXPECT_FALSE(Run(tree, change, error));
  reg.ClearFailures();
  EXPECT_FALSE(changed);
  EXPECT_FALSE(fs.Exists(kBackup));
  EXPECT_EQ(IndexLines(), (std::vector<std::string>{kEarlierLine}));
  EXPECT_EQ(Value(), data);
}

// The backup is on the disk before the index names it and before the
// change; a backup that cannot be put there stops the change.
TEST_F(UndoTransactionTest, TheBackupReachesTheDiskBeforeTheChange) {
  std::string error;
  bool flushedFirst = false;
  EXPECT_TRUE(Run(
      [&](std::string &) {
        const std::vector<std::string> flushed = fs.Flushed();
        flushedFirst = std::find(flushed.begin(), flushed.end(), kBackup) != flushed.end();
        return true;
      },
      error))
      << error;
  EXPECT_TRUE(flushedFirst);

  fs.Remove(kBackup); // the clock stands still: free the name again
  fs.InjectFailure(FsOp::Flush, "REG64", wc::ErrorWriteFault);
  bool changed = false;
  EXPECT_FALSE(Run(
      [&](std::string &) {
        changed = true;
        return true;
      },
      error));
  EXPECT_FALSE(changed);
  EXPECT_NE(error.find("FlushFileBuffers"), std::string::npos) << error;
  EXPECT_FALSE(fs.Exists(kBackup));
  EXPECT_EQ(IndexLines().size(), 2u) << "only the earlier line and the first change's";
}

// A backup that was being written when the transaction gave up leaves no
// file behind: the empty file that took its name goes too.
TEST_F(UndoTransactionTest, AFailedBackupLeavesNoFileBehind) {
  std::string error;
  TValueSnapshot before(key, {"v"});
  TUndoTransaction transaction(Folder(), undoKey);
  bool changed = false;
  EXPECT_FALSE(transaction.Run({.backup =
                                    [](const std::string &, std::string &why) {
                                      why = "export failed";
                                      return false;
                                    },
                                .snapshot = before,
                                .change =
                                    [&](std::string &) {
                                      changed = true;
                                      return true;
                                    }},
                               error));
  EXPECT_FALSE(changed);
  EXPECT_EQ(fs.List("C:\\Undo\\2024-05-06"), (std::vector<std::string>{"index.txt"}));
}

// Repairs running at the same moment in other threads (a scheduled scan and
// the user are other processes; the lock file keeps out both alike): every
// change gets a backup of its own, and the index keeps every line.
TEST(ThreadedUndoTransaction, ConcurrentRepairsKeepEveryBackupAndLine) {
  qp::mem::MemoryPlatform platform;
  platform.Install();
  InitRegistryLayer();
  platform.Sys().SetVirtualSleep(false);
  platform.Reg().SetReflectionQueryStatus(wc::ErrorCallNotImplemented);
  constexpr int kThreads = 4;
  constexpr int kChangesEach = 12;
  for (int t = 0; t < kThreads; ++t)
    for (int c = 0; c < kChangesEach; ++c)
      platform.Reg().SetString(
          View::V64, "HKLM\\Software\\T" + std::to_string(t) + "_" + std::to_string(c), "v", "old");
  // A clock that gives each millisecond to three calls, so that threads keep
  // meeting on the same name.
  auto calls = std::make_shared<std::atomic<int>>(0);
  const TUndoFolder folder{.root = "C:\\Undo\\", .clock = [calls] {
                             TUndoTime at;
                             at.year = 2024;
                             at.month = 5;
                             at.day = 6;
                             at.hour = 10;
                             at.millisecond = static_cast<std::uint32_t>(*calls += 1) / 3;
                             return at;
                           }};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int c = 0; c < kChangesEach; ++c) {
        const std::string path = "Software\\T" + std::to_string(t) + "_" + std::to_string(c);
        ScopedKey key;
        if (OpenKeyFull(wc::HkeyLocalMachine, rv64, path, key) != wc::ErrorSuccess) {
          ++failures;
          continue;
        }
        const TUndoKey undoKey{.root = wc::HkeyLocalMachine, .view = rv64, .path = path};
        TValueSnapshot before(key, {"v"});
        TUndoTransaction transaction(folder, undoKey);
        std::string error;
        if (!transaction.Run({.backup = ValuesBackup(undoKey, key, {"v"}),
                              .snapshot = before,
                              .change =
                                  [&](std::string &) {
                                    return qp::Platform().Registry().DeleteValue(key.Get(), "v") ==
                                           wc::ErrorSuccess;
                                  }},
                             error))
          ++failures;
      }
    });
  for (std::thread &thread : threads)
    thread.join();
  EXPECT_EQ(failures, 0);

  std::vector<std::string> lines;
  ASSERT_TRUE(ReadTextLines("C:\\Undo\\2024-05-06\\index.txt", lines));
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kChangesEach));
  std::set<std::string> names;
  for (const std::string &line : lines) {
    const std::string name = line.substr(0, line.find('='));
    names.insert(name);
    // Each line's backup holds its own key's value.
    const auto content = platform.Fs().Content("C:\\Undo\\2024-05-06\\" + name + ".REG64");
    ASSERT_TRUE(content.has_value()) << line;
    const std::string entry = line.substr(line.find('=') + 1);
    // (The backup spells the key as the registry stores it: SOFTWARE.)
    EXPECT_NE(qp::UpperAscii(*content).find(qp::UpperAscii("[" + entry + "]")), std::string::npos)
        << line;
  }
  EXPECT_EQ(names.size(), lines.size()) << "two changes shared a backup";
  EXPECT_FALSE(platform.Fs().Exists("C:\\Undo\\2024-05-06\\index.lock"));
}

} // namespace
} // namespace quenlo::test
