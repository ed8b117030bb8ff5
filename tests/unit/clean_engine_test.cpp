// The cleaner's engine: the pass loop, its events on the main thread, the
// outcome of each category, Stop and the end of a pass, and the registry
// access a pass gives its handlers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "TestPlatform.h"
#include "cleaner/uCleanItems.h"
#include "cleaner/uSQLite3Table.h"
#include "cleaner/uSysCleaner.h"

namespace quenlo {
namespace {

using namespace std::chrono_literals;

// Handlers are plain functions: what they share with a test lives here.
struct THandlerState {
  std::mutex mu;
  std::condition_variable changed;
  bool entered = false;
  bool release = false;
  bool finished = false;
  std::atomic<int> calls{0};
};
THandlerState *gState = nullptr;

void Reset(THandlerState &state) {
  gState = &state;
}

void NoOp(TCleanPass &) {
  ++gState->calls;
}

void Found(TCleanPass &pass) {
  pass.MarkFound(pass.Current());
}

void ItemHandler(TCleanPass &pass) {
  if (pass.Reporting())
    pass.AddItem(pass.Current(), "item", 5);
  else
    pass.AddFileInUse("C:\\held.dat");
}

void Failing(TCleanPass &pass) {
  pass.MarkFound(pass.Current());
  pass.AddFailure(pass.Current(), "HKCU\\x", std::string(kReasonAccessDenied));
}

void Refused(TCleanPass &pass) {
  pass.FailCategory(pass.Current(), std::string(kReasonUnsafeFolder));
}

void Raising(TCleanPass &pass) {
  pass.AddItem(pass.Current(), "before", 0);
  throw std::runtime_error("handler broke");
}

// Waits until the test releases it, then marks that it has finished.
void Blocking(TCleanPass &pass) {
  std::unique_lock lock(gState->mu);
  gState->entered = true;
  gState->changed.notify_all();
  gState->changed.wait(lock, [] { return gState->release; });
  pass.AddItem(pass.Current(), "late", 0);
  gState->finished = true;
}

void WriteThroughRegistry(TCleanPass &pass) {
  // The pass's own registry object: an analysis must not be able to write.
  if (!pass.Registry().OpenKey("\\Software\\Probe", false))
    return;
  const long status = pass.Registry().WriteRaw("written", wc::RegDword, {1, 0, 0, 0});
  pass.Registry().CloseKey();
  if (status != wc::ErrorSuccess)
    pass.AddFailure(pass.Current(), "Software\\Probe", ReasonForStatus(status));
  pass.MarkFound(pass.Current());
}

void AskCookies(TCleanPass &pass) {
  for (const char *url : {"keep.example/", "drop.example/"})
    if (pass.QueryDeleteCookie(url))
      pass.AddItem(pass.Current(), url, 0);
}

class CleanEngineTest : public test::MemoryTest {
protected:
  CleanEngineTest() { Reset(state); }

  // Selects exactly these categories, each with the given handler.
  void Use(std::initializer_list<std::pair<TCleanCategory, TCategoryHandler>> handlers) {
    cleaner.Categories.reset();
    for (const auto &[category, handler] : handlers) {
      cleaner.Categories.set(category);
      cleaner.SetHandler(category, handler);
    }
  }

  // Pumps the main thread until the pass has ended and completion ran.
  bool Finish(std::chrono::milliseconds limit = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (cleaner.Running() && std::chrono::steady_clock::now() < deadline)
      mainThread.PumpWait(1ms);
    mainThread.Pump();
    return !cleaner.Running();
  }

  // Serves the main thread's calls (the progress events before the
  // blocking handler) until the blocking handler runs.
  void WaitEntered() {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    for (;;) {
      {
        std::lock_guard lock(state.mu);
        if (state.entered)
          return;
      }
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      mainThread.PumpWait(1ms);
    }
  }

  void ReleaseBlocked() {
    std::lock_guard lock(state.mu);
    state.release = true;
    state.changed.notify_all();
  }

  THandlerState state;
  qp::TMainThread mainThread;
  TSysCleaner cleaner{mainThread};
  std::vector<TScanMode> completed;
  std::vector<std::pair<TCleanCategory, int>> progress;
};

// --- the pass loop and its events

class ThreadedSysCleaner : public CleanEngineTest {
protected:
  void SetUp() override {
    CleanEngineTest::SetUp();
    cleaner.OnScanComplete = [this](TSysCleaner &, TScanMode mode) {
      EXPECT_TRUE(mainThread.IsMainThread());
      completed.push_back(mode);
    };
    cleaner.OnProgress = [this](TSysCleaner &, TCleanCategory category, int total) {
      EXPECT_TRUE(mainThread.IsMainThread());
      progress.emplace_back(category, total);
    };
  }
};

TEST_F(ThreadedSysCleaner, NoCategorySelectedGivesNoProgressThenCompletion) {
  cleaner.Categories.reset();
  ASSERT_TRUE(cleaner.Start(smClean));
  ASSERT_TRUE(Finish());
  EXPECT_TRUE(progress.empty());
  EXPECT_EQ(completed, std::vector<TScanMode>{smClean});
  EXPECT_EQ(cleaner.LastClean().end, peComplete);
  EXPECT_TRUE(cleaner.LastClean().AllDone());
}

TEST_F(ThreadedSysCleaner, ProgressAfterEachSelectedCategoryInOrder) {
  Use({{ccIECache, NoOp}, {ccRunMenuHistory, NoOp}, {ccGCCookies, NoOp}});
  ASSERT_TRUE(cleaner.Start(smReport));
  ASSERT_TRUE(Finish());
  const std::vector<std::pair<TCleanCategory, int>> expected = {
      {ccRunMenuHistory, 33}, {ccIECache, 66}, {ccGCCookies, 100}};
  EXPECT_EQ(progress, expected);
  EXPECT_EQ(state.calls.load(), 3);
  EXPECT_EQ(completed, std::vector<TScanMode>{smReport});
}

TEST_F(ThreadedSysCleaner, OutcomesFollowWhatTheHandlersRecorded) {
  Use({{ccStartMenuOrderHistory, Found},
       {ccNetworkDriveHistory, NoOp},
       {ccRunMenuHistory, ItemHandler}});
  ASSERT_TRUE(cleaner.Start(smReport));
  ASSERT_TRUE(Finish());
  const TPassResult &result = cleaner.LastAnalysis();
  EXPECT_EQ(result.categories[ccStartMenuOrderHistory].outcome, coDone);
  EXPECT_EQ(result.categories[ccNetworkDriveHistory].outcome, coNotFound);
  EXPECT_EQ(result.categories[ccRunMenuHistory].outcome, coDone); // an item means it exists
  EXPECT_EQ(result.categories[ccUserAssistHistory].outcome, coNotHandled); // not selected
  EXPECT_TRUE(result.AllDone());

  Use({{ccStartMenuOrderHistory, Failing}, {ccNetworkDriveHistory, Refused}});
  ASSERT_TRUE(cleaner.Start(smClean));
  ASSERT_TRUE(Finish());
  const TPassResult &clean = cleaner.LastClean();
  EXPECT_EQ(clean.categories[ccStartMenuOrderHistory].outcome, coIncomplete);
  ASSERT_EQ(clean.categories[ccStartMenuOrderHistory].failures.size(), 1u);
  EXPECT_EQ(clean.categories[ccStartMenuOrderHistory].failures[0].Reason, kReasonAccessDenied);
  EXPECT_EQ(clean.categories[ccNetworkDriveHistory].outcome, coFailed);
  EXPECT_EQ(clean.categories[ccNetworkDriveHistory].reason, kReasonUnsafeFolder);
  EXPECT_EQ(clean.end, peComplete);
  EXPECT_FALSE(clean.AllDone());
}

TEST_F(ThreadedSysCleaner, AnalysisEmptiesTheFindingsAndCleanKeepsThemAndItsOwnRecords) {
  Use({{ccRunMenuHistory, ItemHandler}});
  ASSERT_TRUE(cleaner.Start(smReport));
  ASSERT_TRUE(Finish());
  ASSERT_EQ(cleaner.ItemCount(ccRunMenuHistory), 1u);
  EXPECT_EQ(cleaner.Item(ccRunMenuHistory, 0).Name, "item");
  EXPECT_EQ(cleaner.Item(ccRunMenuHistory, 0).Size, 5);

  ASSERT_TRUE(cleaner.Start(smClean));
  ASSERT_TRUE(Finish());
  EXPECT_EQ(cleaner.ItemCount(ccRunMenuHistory), 1u); // the analysis before it
  EXPECT_EQ(cleaner.FilesInUse(), std::vector<std::string>{"C:\\held.dat"});

  // A second analysis starts from nothing, and leaves the clean's records.
  cleaner.SetHandler(ccRunMenuHistory, NoOp);
  ASSERT_TRUE(cleaner.Start(smReport));
  ASSERT_TRUE(Finish());
  EXPECT_EQ(cleaner.ItemCount(ccRunMenuHistory), 0u);
  EXPECT_EQ(cleaner.FilesInUse(), std::vector<std::string>{"C:\\held.dat"});
}

TEST_F(ThreadedSysCleaner, ExceptionEndsThePassAsFailedAndCompletionStillFollows) {
  Use({{ccStartMenuOrderHistory, NoOp},
       {ccNetworkDriveHistory, Raising},
       {ccRunMenuHistory, NoOp}});
  ASSERT_TRUE(cleaner.Start(smReport));
  ASSERT_TRUE(Finish());
  const TPassResult &result = cleaner.LastAnalysis();
  EXPECT_EQ(result.end, peFailed);
  EXPECT_EQ(result.failureText, "handler broke");
  EXPECT_EQ(result.categories[ccNetworkDriveHistory].outcome, coFailed);
  EXPECT_EQ(result.categories[ccNetworkDriveHistory].reason, "handler broke");
  EXPECT_EQ(result.categories[ccRunMenuHistory].outcome, coNotHandled);
  EXPECT_EQ(result.categories[ccRunMenuHistory].reason, kReasonPassEnded);
  EXPECT_EQ(state.calls.load(), 1); // the third handler never ran
  EXPECT_FALSE(result.AllDone());
  EXPECT_EQ(completed, std::vector<TScanMode>{smReport});
  // What the failed handler found before it raised stays readable.
  EXPECT_EQ(cleaner.ItemCount(ccNetworkDriveHistory), 1u);
}

TEST_F(ThreadedSysCleaner, StartWhileRunningIsRefusedAndStopWaitsForTheWorker) {
  Use({{ccStartMenuOrderHistory, Found},
       {ccNetworkDriveHistory, Blocking},
       {ccRunMenuHistory, NoOp}});
  ASSERT_TRUE(cleaner.Start(smReport));
  WaitEntered();
  EXPECT_TRUE(cleaner.Running());
  EXPECT_FALSE(cleaner.Start(smReport));
  EXPECT_FALSE(cleaner.Start(smClean));

  std::thread releaser([this] {
    std::this_thread::sleep_for(50ms);
    ReleaseBlocked();
  });
  cleaner.Stop();
  {
    std::lock_guard lock(state.mu);
    EXPECT_TRUE(state.finished); // Stop returned only after the worker ended
  }
  releaser.join();
  EXPECT_FALSE(cleaner.Running());
  Finish(50ms);
  EXPECT_TRUE(completed.empty());

  const TPassResult &result = cleaner.LastAnalysis();
  EXPECT_EQ(result.end, peStopped);
  EXPECT_EQ(result.categories[ccStartMenuOrderHistory].outcome, coDone); // kept
  EXPECT_EQ(result.categories[ccRunMenuHistory].outcome, coNotHandled);
  EXPECT_EQ(result.categories[ccRunMenuHistory].reason, kReasonStopped);
  EXPECT_EQ(state.calls.load(), 0);
  EXPECT_FALSE(result.AllDone());
  // A finding the handler made after the stop request is not recorded.
  EXPECT_EQ(cleaner.ItemCount(ccNetworkDriveHistory), 0u);
  // The component is idle again.
  ASSERT_TRUE(cleaner.Start(smReport));
  ReleaseBlocked();
  EXPECT_TRUE(Finish());
}

TEST_F(ThreadedSysCleaner, StopInsideAnEventOnlyRequestsTheEnd) {
  Use({{ccStartMenuOrderHistory, NoOp}, {ccNetworkDriveHistory, NoOp}, {ccRunMenuHistory, NoOp}});
  bool startInside = true;
  cleaner.OnProgress = [&](TSysCleaner &sender, TCleanCategory category, int total) {
    progress.emplace_back(category, total);
    sender.Stop();
    EXPECT_FALSE(sender.Running());
    // The worker waits for this handler: it cannot be joined yet.
    startInside = sender.Start(smReport);
  };
  ASSERT_TRUE(cleaner.Start(smReport));
  ASSERT_TRUE(Finish());
  EXPECT_FALSE(startInside);
  EXPECT_EQ(progress.size(), 1u); // no event after the stop
  EXPECT_TRUE(completed.empty());
  EXPECT_EQ(state.calls.load(), 1);
  EXPECT_EQ(cleaner.LastAnalysis().end, peStopped);
  EXPECT_EQ(cleaner.LastAnalysis().categories[ccRunMenuHistory].reason, kReasonStopped);
  // The stopped worker is joined by the next Start.
  cleaner.OnProgress = nullptr;
  EXPECT_TRUE(cleaner.Start(smClean));
  EXPECT_TRUE(Finish());
  EXPECT_EQ(completed, std::vector<TScanMode>{smClean});
}

TEST_F(ThreadedSysCleaner, CompletionHandlerMayStartTheNextPass) {
  Use({{ccRunMenuHistory, NoOp}});
  bool second = false;
  cleaner.OnScanComplete = [&](TSysCleaner &sender, TScanMode mode) {
    completed.push_back(mode);
    EXPECT_FALSE(sender.Running());
    if (mode == smClean)
      second = sender.Start(smReport);
  };
  ASSERT_TRUE(cleaner.Start(smClean));
  ASSERT_TRUE(Finish());
  EXPECT_TRUE(second);
  ASSERT_TRUE(Finish());
  EXPECT_EQ(completed, (std::vector<TScanMode>{smClean, smReport}));
}

TEST_F(ThreadedSysCleaner, DestructorJoinsARunningPass) {
  auto own = std::make_unique<TSysCleaner>(mainThread);
  own->Categories.reset();
  own->Categories.set(ccNetworkDriveHistory);
  own->SetHandler(ccNetworkDriveHistory, Blocking);
  bool completedOwn = false;
  own->OnScanComplete = [&](TSysCleaner &, TScanMode) { completedOwn = true; };
  ASSERT_TRUE(own->Start(smClean));
  WaitEntered();
  std::thread releaser([this] {
    std::this_thread::sleep_for(20ms);
    ReleaseBlocked();
  });
  own.reset();
  {
    std::lock_guard lock(state.mu);
    EXPECT_TRUE(state.finished);
  }
  releaser.join();
  mainThread.Pump(); // a completion queued by the worker finds no component
  EXPECT_FALSE(completedOwn);
}

TEST_F(ThreadedSysCleaner, CookieQueryRunsOnTheMainThreadAndMayKeepACookie) {
  Use({{ccIECookies, AskCookies}});
  std::vector<std::string> asked;
  cleaner.OnQueryDeleteCookie = [&](TSysCleaner &, const std::string &url, bool &canDelete) {
    EXPECT_TRUE(mainThread.IsMainThread());
    EXPECT_TRUE(canDelete);
    asked.push_back(url);
    canDelete = url != "keep.example/";
  };
  ASSERT_TRUE(cleaner.Start(smReport));
  ASSERT_TRUE(Finish());
  EXPECT_EQ(asked, (std::vector<std::string>{"keep.example/", "drop.example/"}));
  ASSERT_EQ(cleaner.ItemCount(ccIECookies), 1u);
  EXPECT_EQ(cleaner.Item(ccIECookies, 0).Name, "drop.example/");

  // Without a handler every cookie may go.
  cleaner.OnQueryDeleteCookie = nullptr;
  ASSERT_TRUE(cleaner.Start(smReport));
  ASSERT_TRUE(Finish());
  EXPECT_EQ(cleaner.ItemCount(ccIECookies), 2u);
}

TEST_F(ThreadedSysCleaner, AnalysisRegistryIsReadOnlyAndCleanRegistryWrites) {
  Use({{ccRunMenuHistory, WriteThroughRegistry}});
  reg.CreateKey(qp::mem::View::V32, "HKCU\\Software\\Probe");
  ASSERT_TRUE(cleaner.Start(smReport));
  ASSERT_TRUE(Finish());
  EXPECT_FALSE(reg.ValueExists(qp::mem::View::V32, "HKCU\\Software\\Probe", "written"));
  const TCategoryResult &analysed = cleaner.LastAnalysis().categories[ccRunMenuHistory];
  EXPECT_EQ(analysed.outcome, coIncomplete);
  ASSERT_EQ(analysed.failures.size(), 1u);
  EXPECT_EQ(analysed.failures[0].Reason, kReasonAccessDenied);

  ASSERT_TRUE(cleaner.Start(smClean));
  ASSERT_TRUE(Finish());
  EXPECT_TRUE(reg.ValueExists(qp::mem::View::V32, "HKCU\\Software\\Probe", "written"));
  EXPECT_EQ(cleaner.LastClean().categories[ccRunMenuHistory].outcome, coDone);
}

TEST_F(ThreadedSysCleaner, StopAtAnyPointOfARealPassLeavesNoEventAndNoLaterFinding) {
  // The real handlers, with something to find in the file categories.
  for (int i = 0; i < 40; ++i)
    fs.AddFile("C:\\Users\\user\\AppData\\Local\\Temp\\f" + std::to_string(i) + ".tmp", "x");
  for (int round = 0; round < 12; ++round) {
    completed.clear();
    progress.clear();
    ASSERT_TRUE(cleaner.Start(smReport));
    for (int pumps = 0; pumps < round; ++pumps)
      mainThread.PumpWait(1ms);
    cleaner.Stop();
    const std::size_t items = cleaner.ItemCount(ccTempFiles);
    const std::size_t events = progress.size();
    mainThread.PumpWait(5ms);
    EXPECT_EQ(cleaner.ItemCount(ccTempFiles), items);
    EXPECT_EQ(progress.size(), events);
    EXPECT_EQ(cleaner.LastAnalysis().end, peStopped) << round;
    EXPECT_TRUE(completed.empty()) << round;
  }
}

// --- the browser categories

TEST_F(CleanEngineTest, BrowserCategoriesAreNotFoundWithoutTheBrowserAndFoundWithIt) {
  std::string local;
  ASSERT_TRUE(sys.GetSpecialFolder(28, false, local));
  TPassResult result;
  std::atomic<bool> terminated{false};
  TCleanPass pass(smReport, result, terminated, mainThread);
  const auto run = [&](TCleanCategory category) {
    result.categories[category] = TCategoryResult{};
    pass.SetCurrent(category);
    result.categories[category].outcome = coNotFound;
    DefaultCleanHandlers()[category](pass);
    return result.categories[category];
  };
  EXPECT_EQ(run(ccGCCache).outcome, coNotFound);
  fs.AddDir(local + "\\Google\\Chrome\\User Data\\Default");
  EXPECT_EQ(run(ccGCCache).outcome, coNotFound); // a profile without a cache
  fs.AddDir(local + "\\Google\\Chrome\\User Data\\Default\\Cache");
  EXPECT_EQ(run(ccGCCache).outcome, coDone);
  EXPECT_EQ(run(ccASHistory).outcome, coNotFound); // another browser's folder
  for (std::size_t c = 0; c < kCleanCategoryCount; ++c)
    EXPECT_NE(DefaultCleanHandlers()[c], nullptr) << c;
}

} // namespace
} // namespace quenlo

namespace quenlo {
namespace {

// --- the database seam: a handler on the in-memory machine reads a real
// SQLite file, mapped from the path the machine gives it.

constexpr const char *kMachineDatabase = "C:\\Users\\user\\AppData\\Roaming\\Browser\\history.db";
std::string gMappedFrom;

// Lists every address of the database's "urls" table, in a transaction
// that is rolled back in an analysis and committed after a delete in a
// clean; a locked database fails the category.
void DatabaseHandler(TCleanPass &pass) {
  try {
    TSQLiteDatabase db(pass.DatabasePath(kMachineDatabase),
                       pass.Reporting() ? omReadOnly : omReadWrite);
    pass.MarkFound(pass.Current());
    if (pass.Reporting()) {
      for (TSQLiteUniTable rows(db, "SELECT url FROM urls ORDER BY id"); !rows.Eof(); rows.Next())
        pass.AddItem(pass.Current(), rows.FieldAsString(0), 0);
      return;
    }
    TSQLiteTransaction transaction(db);
    db.Execute("DELETE FROM urls WHERE url <> ?1", {std::string("keep")});
    transaction.Commit();
  } catch (const ESQLiteException &e) {
    pass.FailCategory(pass.Current(), e.Locked() ? std::string(kReasonLocked) : e.what());
  }
}

class ThreadedCleanDatabaseSeam : public CleanEngineTest {
protected:
  void SetUp() override {
    CleanEngineTest::SetUp();
    std::string pattern =
        (std::filesystem::path(::testing::TempDir()) / "quenlo-seam-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    file_ = (dir_ / "history.db").string();
    std::ofstream(file_, std::ios::binary).flush();
    {
      TSQLiteDatabase db(file_, omReadWrite);
      db.Execute("CREATE TABLE urls(id INTEGER PRIMARY KEY, url TEXT)");
      for (const char *url : {"http://a.example/", "keep", "http://b.example/"})
        db.Execute("INSERT INTO urls(url) VALUES(?1)", {std::string(url)});
    }
    cleaner.SetDatabasePathMap([this](std::string_view machinePath) {
      gMappedFrom = std::string(machinePath);
      return file_;
    });
    Use({{ccFFVisitedURLHistory, DatabaseHandler}});
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::filesystem::path dir_;
  std::string file_;
};

TEST_F(ThreadedCleanDatabaseSeam, HandlersReachRealDatabasesThroughTheMap) {
  ASSERT_TRUE(cleaner.Start(smReport));
  ASSERT_TRUE(Finish());
  EXPECT_EQ(gMappedFrom, kMachineDatabase);
  ASSERT_EQ(cleaner.ItemCount(ccFFVisitedURLHistory), 3u);
  EXPECT_EQ(cleaner.Item(ccFFVisitedURLHistory, 0).Name, "http://a.example/");

  ASSERT_TRUE(cleaner.Start(smClean));
  ASSERT_TRUE(Finish());
  EXPECT_TRUE(cleaner.LastClean().AllDone());
  ASSERT_TRUE(cleaner.Start(smReport));
  ASSERT_TRUE(Finish());
  ASSERT_EQ(cleaner.ItemCount(ccFFVisitedURLHistory), 1u);
  EXPECT_EQ(cleaner.Item(ccFFVisitedURLHistory, 0).Name, "keep");
}

TEST_F(ThreadedCleanDatabaseSeam, ADatabaseTheBrowserHoldsIsReportedLockedNotCleaned) {
  TSQLiteDatabase browser(file_, omReadWrite);
  browser.Execute("BEGIN EXCLUSIVE");
  browser.Execute("DELETE FROM urls WHERE url = 'keep'");

  ASSERT_TRUE(cleaner.Start(smClean));
  ASSERT_TRUE(Finish(10s));
  const TCategoryResult &result = cleaner.LastClean().categories[ccFFVisitedURLHistory];
  EXPECT_EQ(result.outcome, coFailed);
  EXPECT_EQ(result.reason, kReasonLocked);
  EXPECT_FALSE(cleaner.LastClean().AllDone());
  browser.Rollback();
}

} // namespace
} // namespace quenlo
