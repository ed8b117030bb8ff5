// The browser handlers' database steps: statements checked against the
// schema the file really has, failures that stay one statement's own, a
// held database that is left exactly as it was, and a write-ahead log that
// keeps no copy of what was deleted.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "CleanItemsFixture.h"
#include "cleaner/uBrowserDb.h"

namespace quenlo::test {
namespace {

constexpr const char *kMachinePath = "C:\\Users\\user\\AppData\\Roaming\\Browser\\places.db";
constexpr TCleanCategory kCategory = ccFFVisitedURLHistory;

std::string ReadBytes(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class BrowserDbTest : public HostDatabaseTest {
protected:
  void SetUp() override {
    HostDatabaseTest::SetUp();
    file_ = HostPath(kMachinePath);
    dir_ = std::filesystem::path(file_).parent_path();
    std::filesystem::create_directories(dir_);
    std::ofstream(file_, std::ios::binary).flush();
    TSQLiteDatabase db(file_, omReadWrite);
    db.Execute("CREATE TABLE visits(id INTEGER PRIMARY KEY, url TEXT)");
    db.Execute("CREATE TABLE marks(id INTEGER PRIMARY KEY, fk INTEGER)");
    TSQLiteTransaction seed(db);
    for (int i = 0; i < 50; ++i)
      db.Execute("INSERT INTO visits(url) VALUES(?1)",
                 {"http://secret.example/page" + std::to_string(i)});
    db.Execute("INSERT INTO marks(fk) VALUES(1)");
    seed.Commit();
    fs.AddFile(kMachinePath, "stand-in");
  }

  // A pass of the mode whose databases are the test's host file.
  struct TPassRun {
    TPassResult result;
    std::atomic<bool> terminated{false};
    std::unique_ptr<TCleanPass> pass;
  };
  std::unique_ptr<TPassRun> MakePass(TScanMode mode) {
    auto run = std::make_unique<TPassRun>();
    run->result.mode = mode;
    run->result.categories[kCategory].outcome = coNotFound;
    run->pass = std::make_unique<TCleanPass>(mode, run->result, run->terminated, mainThread);
    run->pass->SetCurrent(kCategory);
    run->pass->DatabasePathMap = [this](std::string_view) { return file_; };
    return run;
  }
  std::int64_t Count(const char *table) {
    TSQLiteDatabase db(file_, omReadOnly);
    TSQLiteUniTable rows(db, std::string("SELECT count(*) FROM ") + table);
    return rows.FieldAsInt64(0);
  }

  std::filesystem::path dir_;
  std::string file_;
};

TEST_F(BrowserDbTest, StatementsForMissingTablesOrColumnsAreSkippedAndTheOthersRun) {
  auto run = MakePass(smClean);
  auto db = OpenBrowserDatabase(*run->pass, kCategory, kMachinePath);
  ASSERT_TRUE(db);
  const std::vector<TBrowserStatement> statements = {
      {"DELETE FROM moz_favicons", {"moz_favicons"}},
      {"UPDATE visits SET hidden = 1", {"visits.hidden"}},
      {"DELETE FROM visits", {"visits"}},
  };
  EXPECT_TRUE(RunStatements(*run->pass, kCategory, *db, "places.db", statements));
  const TCategoryResult &result = run->result.categories[kCategory];
  ASSERT_EQ(result.skipped.size(), 2u);
  EXPECT_EQ(result.skipped[0].Reason, "no table moz_favicons");
  EXPECT_EQ(result.skipped[1].Reason, "no column visits.hidden");
  EXPECT_EQ(result.outcome, coDone);
  EXPECT_TRUE(result.failures.empty());
  db.reset();
  EXPECT_EQ(Count("visits"), 0);
  EXPECT_EQ(Count("marks"), 1);
}

TEST_F(BrowserDbTest, AFailingStatementIsRecordedAndTheNextOneStillRuns) {
  auto run = MakePass(smClean);
  auto db = OpenBrowserDatabase(*run->pass, kCategory, kMachinePath);
  ASSERT_TRUE(db);
  const std::vector<TBrowserStatement> statements = {
      {"DELETE FROM visits WHERE no_such_function(url)", {"visits"}},
      {"DELETE FROM marks", {"marks"}},
  };
  EXPECT_FALSE(RunStatements(*run->pass, kCategory, *db, "places.db", statements));
  const TCategoryResult &result = run->result.categories[kCategory];
  ASSERT_EQ(result.failures.size(), 1u);
  EXPECT_NE(result.failures[0].Name.find("no_such_function"), std::string::npos);
  EXPECT_EQ(result.outcome, coIncomplete);
  db.reset();
  EXPECT_EQ(Count("visits"), 50);
  EXPECT_EQ(Count("marks"), 0);
}

TEST_F(BrowserDbTest, ADatabaseAnotherProgramHoldsFailsTheCategoryAndStaysByteForByte) {
  const std::string before = ReadBytes(file_);
  TSQLiteDatabase browser(file_, omReadWrite);
  browser.Execute("BEGIN EXCLUSIVE");
  auto run = MakePass(smClean);
  auto db = OpenBrowserDatabase(*run->pass, kCategory, kMachinePath);
  if (db) {
    EXPECT_FALSE(RunStatements(*run->pass, kCategory, *db, "places.db",
                               {{"DELETE FROM marks", {"marks"}}, {"DELETE FROM visits", {}}}));
  }
  const TCategoryResult &result = run->result.categories[kCategory];
  EXPECT_EQ(result.outcome, coFailed);
  EXPECT_EQ(result.reason, kReasonLocked);
  db.reset();
  browser.Rollback();
  EXPECT_EQ(ReadBytes(file_), before);
}

TEST_F(BrowserDbTest, ACleanOfAWalDatabaseLeavesNoReadableCopyInTheFileOrItsLog) {
  {
    TSQLiteDatabase db(file_, omReadWrite);
    TSQLiteUniTable mode(db, "PRAGMA journal_mode=WAL");
    ASSERT_EQ(mode.FieldAsString(0), "wal");
  }
  auto run = MakePass(smClean);
  auto db = OpenBrowserDatabase(*run->pass, kCategory, kMachinePath);
  ASSERT_TRUE(db);
  EXPECT_TRUE(
      RunStatements(*run->pass, kCategory, *db, "places.db", {{"DELETE FROM visits", {"visits"}}}));
  // Still open, as a browser's connection would be: the log is where the
  // old pages would otherwise wait.
  for (const auto &entry : std::filesystem::directory_iterator(dir_)) {
    EXPECT_EQ(ReadBytes(entry.path()).find("secret.example"), std::string::npos) << entry.path();
  }
  db.reset();
  EXPECT_EQ(ReadBytes(file_).find("secret.example"), std::string::npos);
}

TEST_F(BrowserDbTest, AnAnalysisQuerySkipsWhatTheSchemaLacksAndCreatesNoFile) {
  auto run = MakePass(smReport);
  auto db = OpenBrowserDatabase(*run->pass, kCategory, kMachinePath);
  ASSERT_TRUE(db);
  std::vector<std::string> urls;
  const auto collect = [&](TSQLiteUniTable &row) {
    urls.push_back(row.FieldAsString(0));
    return urls.size() < 3;
  };
  EXPECT_FALSE(QueryRows(*run->pass, kCategory, *db, "places.db",
                         {"SELECT url, title FROM visits", {"visits.url", "visits.title"}},
                         collect));
  EXPECT_TRUE(urls.empty());
  EXPECT_TRUE(QueryRows(*run->pass, kCategory, *db, "places.db",
                        {"SELECT url FROM visits ORDER BY id", {"visits.url"}}, collect));
  EXPECT_EQ(urls.size(), 3u); // the callback ended the walk
  db.reset();
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_),
                          std::filesystem::directory_iterator()),
            1);
  EXPECT_EQ(run->result.categories[kCategory].skipped.size(), 1u);
}

TEST_F(BrowserDbTest, AMissingDatabaseIsNotFoundWithoutANote) {
  fs.Remove(kMachinePath);
  auto run = MakePass(smReport);
  EXPECT_FALSE(OpenBrowserDatabase(*run->pass, kCategory, kMachinePath));
  const TCategoryResult &result = run->result.categories[kCategory];
  EXPECT_EQ(result.outcome, coNotFound);
  EXPECT_TRUE(result.failures.empty());
}

} // namespace
} // namespace quenlo::test
