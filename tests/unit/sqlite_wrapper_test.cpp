// The SQLite wrapper on real database files in a host temp folder: error
// texts, bindings, transactions, the pragmas of a clean, locks, and that an
// analysis (read-only) leaves the folder as it found it.
#include "cleaner/uSQLite3Table.h"
#include "cleaner/uSysCleaner.h"
#include "tests/unit/TestPlatform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <system_error>

namespace {

using quenlo::ESQLiteException;
using quenlo::omReadOnly;
using quenlo::omReadWrite;
using quenlo::TSQLiteBlob;
using quenlo::TSQLiteDatabase;
using quenlo::TSQLiteTransaction;
using quenlo::TSQLiteUniTable;
namespace fs = std::filesystem;

class SQLiteWrapper : public ::testing::Test {
protected:
  void SetUp() override {
    std::string pattern = (fs::path(::testing::TempDir()) / "quenlo-sqlite-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string PathOf(const std::string &name) const { return (dir_ / name).string(); }

  // A new database: SQLite takes an existing empty file for an empty
  // database, and the wrapper never creates one itself.
  std::string NewDatabase(const std::string &name) const {
    const std::string path = PathOf(name);
    std::ofstream(path, std::ios::binary).flush();
    return path;
  }

  std::set<std::string> Listing() const {
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir_))
      names.insert(entry.path().filename().string());
    return names;
  }

  static std::string Bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  static std::string Scalar(TSQLiteDatabase &db, const std::string &sql,
                            const std::vector<quenlo::TSQLiteValue> &values = {}) {
    TSQLiteUniTable query(db, sql, values);
    return query.Eof() ? "<none>" : query.FieldAsString(0);
  }

  // Sets a pragma whose answer is a row (journal_mode, busy_timeout ...).
  static void Pragma(TSQLiteDatabase &db, const std::string &sql) {
    TSQLiteUniTable answer(db, sql);
    while (answer.Next()) {
    }
  }

  fs::path dir_;
};

TEST(SQLiteErrorDescription, TableAndUnknownCodes) {
  EXPECT_EQ(quenlo::SQLiteErrorDescription(19), "Abort due to contraint violation");
  EXPECT_EQ(quenlo::SQLiteErrorDescription(26), "File opened that is not a database file");
  EXPECT_EQ(quenlo::SQLiteErrorDescription(101), "sqlite3_step() has finished executing");
  EXPECT_EQ(quenlo::SQLiteErrorDescription(27), "Unknown SQLite Error Code \"27\"");
  EXPECT_EQ(quenlo::SQLiteErrorDescription(-1), "Unknown SQLite Error Code \"-1\"");
}

TEST_F(SQLiteWrapper, NotADatabaseFailsOnTheFirstStatementWithTheErrorFormat) {
  const std::string path = PathOf("notes.txt");
  std::ofstream(path) << "These are not the pages of a database, just some text that is long "
                         "enough to have a header.\n";
  for (auto mode : {omReadOnly, omReadWrite}) {
    TSQLiteDatabase db(path, mode); // opening reads nothing yet
    try {
      db.Execute("DELETE FROM moz_places");
      FAIL() << "no error";
    } catch (const ESQLiteException &e) {
      EXPECT_EQ(std::string(e.what()),
                "Error executing SQL.\rError [26]: File opened that is not a database file.\r"
                "\"DELETE FROM moz_places\": file is not a database");
      EXPECT_EQ(e.Code(), 26);
      EXPECT_FALSE(e.Locked());
    }
  }
  EXPECT_EQ(Listing(), std::set<std::string>{"notes.txt"});
}

TEST_F(SQLiteWrapper, MissingFileFailsToOpenAndIsNotCreated) {
  const std::string path = PathOf("places.sqlite");
  for (auto mode : {omReadOnly, omReadWrite}) {
    try {
      TSQLiteDatabase db(path, mode);
      FAIL() << "opened a missing file";
    } catch (const ESQLiteException &e) {
      EXPECT_EQ(std::string(e.what()),
                "Failed to open database \"" + path + "\" : unable to open database file");
      EXPECT_EQ(e.Code(), 14);
    }
  }
  EXPECT_TRUE(Listing().empty());
}

TEST_F(SQLiteWrapper, StatementErrorsCarryTheirMessageCodeAndText) {
  TSQLiteDatabase db(NewDatabase("a.sqlite"), omReadWrite);
  try {
    db.Execute("DELETE FROM nowhere");
    FAIL();
  } catch (const ESQLiteException &e) {
    EXPECT_EQ(std::string(e.what()),
              "Error executing SQL.\rError [1]: SQL error or missing database.\r"
              "\"DELETE FROM nowhere\": no such table: nowhere");
  }
  // Nothing to prepare: no code on the connection, the message alone.
  try {
    db.Execute("  -- only a comment");
    FAIL();
  } catch (const ESQLiteException &e) {
    EXPECT_EQ(std::string(e.what()), "Could not prepare SQL statement");
    EXPECT_EQ(e.Code(), 0);
  }
  // A statement that answers rows is not for Execute.
  db.Execute("CREATE TABLE t (v INTEGER NOT NULL UNIQUE)");
  db.Execute("INSERT INTO t VALUES (1)");
  try {
    db.Execute("INSERT INTO t VALUES (1)");
    FAIL();
  } catch (const ESQLiteException &e) {
    EXPECT_EQ(std::string(e.what()),
              "Error executing SQL statement.\rError [19]: Abort due to contraint violation.\r"
              "\"INSERT INTO t VALUES (1)\": UNIQUE constraint failed: t.v");
    EXPECT_EQ(e.Code(), 19);
  }
  // A failed query step.
  try {
    TSQLiteUniTable q(db, "SELECT abs(-9223372036854775807 - 1)");
    FAIL();
  } catch (const ESQLiteException &e) {
    EXPECT_EQ(std::string(e.what()), "Could not retrieve data.\rError [1]: SQL error or missing "
                                     "database.\r\"SELECT abs(-9223372036854775807 - 1)\": "
                                     "integer overflow");
  }
  // A read-only connection refuses to write.
  TSQLiteDatabase reader(db.FileName(), omReadOnly);
  try {
    reader.Execute("DELETE FROM t");
    FAIL();
  } catch (const ESQLiteException &e) {
    EXPECT_EQ(e.Code(), 8) << e.what();
  }
  EXPECT_EQ(Scalar(db, "SELECT count(*) FROM t"), "1");
}

TEST_F(SQLiteWrapper, QueriesStepRowsAndStopAtTheEnd) {
  TSQLiteDatabase db(NewDatabase("a.sqlite"), omReadWrite);
  db.Execute("CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url TEXT, visit_count INTEGER)");
  {
    TSQLiteUniTable empty(db, "SELECT id, url AS Address FROM moz_places");
    EXPECT_TRUE(empty.Eof());
    EXPECT_EQ(empty.Row(), 0);
    EXPECT_EQ(empty.ColCount(), 2);
    EXPECT_EQ(empty.Columns(), (std::vector<std::string>{"ID", "ADDRESS"}));
    EXPECT_EQ(empty.FieldAsString(0), "");
    EXPECT_FALSE(empty.Next());
  }
  db.Execute("INSERT INTO moz_places (url, visit_count) VALUES ('http://a/', 3), (NULL, 5)");
  TSQLiteUniTable rows(db, "SELECT url, visit_count FROM moz_places ORDER BY id");
  ASSERT_FALSE(rows.Eof());
  EXPECT_EQ(rows.Row(), 1);
  EXPECT_EQ(rows.FieldAsString(0), "http://a/");
  EXPECT_EQ(rows.FieldAsInt64(1), 3);
  EXPECT_FALSE(rows.FieldIsNull(0));
  EXPECT_TRUE(rows.Next());
  EXPECT_EQ(rows.Row(), 2);
  EXPECT_EQ(rows.FieldAsString(0), "");
  EXPECT_TRUE(rows.FieldIsNull(0));
  EXPECT_FALSE(rows.Next());
  EXPECT_TRUE(rows.Eof());
  // Past the end it stays at the end: the query does not start over.
  EXPECT_FALSE(rows.Next());
  EXPECT_EQ(rows.Row(), 2);
}

TEST_F(SQLiteWrapper, EveryValueKindBindsAsItsType) {
  TSQLiteDatabase db(NewDatabase("a.sqlite"), omReadWrite);
  struct Case {
    quenlo::TSQLiteValue value;
    std::string type;
    std::string text;
  };
  const Case cases[] = {
      {nullptr, "null", ""},
      {42, "integer", "42"},
      {true, "integer", "1"},
      {false, "integer", "0"},
      {'x', "text", "x"}, // the character alone, no terminating zero
      {2.5, "real", "2.5"},
      {std::string("it's; DROP TABLE t"), "text", "it's; DROP TABLE t"},
      {std::u16string(u"Gr\u00fc\u00dfe \u65e5\u672c"), "text",
       "Gr\xc3\xbc\xc3\x9f"
       "e \xe6\x97\xa5\xe6\x9c\xac"},
      {std::int64_t{9007199254740993}, "integer", "9007199254740993"},
      {TSQLiteBlob{'a', 0, 'b'}, "blob", std::string("a\0b", 3)},
      {TSQLiteBlob{}, "blob", ""}, // empty, yet a BLOB and not NULL
  };
  for (const Case &c : cases) {
    TSQLiteUniTable q(db, "SELECT typeof(?1), ?1", {c.value});
    ASSERT_FALSE(q.Eof());
    EXPECT_EQ(q.FieldAsString(0), c.type) << c.text;
    EXPECT_EQ(q.FieldAsString(1), c.text) << c.type;
  }
  // The UTF-16 value reaches the file as UTF-8.
  TSQLiteUniTable utf8(db, "SELECT hex(CAST(?1 AS BLOB))", {std::u16string(u"\u00fc")});
  EXPECT_EQ(utf8.FieldAsString(0), "C3BC");
}

TEST_F(SQLiteWrapper, NamedParametersBindOnceAndPositionalOnesCheckTheirRange) {
  TSQLiteDatabase db(NewDatabase("a.sqlite"), omReadWrite);
  db.Execute("CREATE TABLE t (i INTEGER, f REAL, s TEXT, n TEXT)");
  db.AddParamInt("i", 1LL << 40);
  db.AddParamFloat(":f", 0.25);
  db.AddParamText("@s", "a'b");
  db.AddParamNull("n");
  db.Execute("INSERT INTO t VALUES (:i, :f, @s, :n)");
  // The list is empty again: a second statement gets NULLs.
  db.Execute("INSERT INTO t VALUES (:i, :f, @s, :n)");
  TSQLiteUniTable q(db, "SELECT i, f, s, n IS NULL, i IS NULL FROM t ORDER BY rowid");
  EXPECT_EQ(q.FieldAsInt64(0), 1LL << 40);
  EXPECT_EQ(q.FieldAsString(1), "0.25");
  EXPECT_EQ(q.FieldAsString(2), "a'b");
  EXPECT_EQ(q.FieldAsInt64(3), 1);
  ASSERT_TRUE(q.Next());
  EXPECT_EQ(q.FieldAsInt64(4), 1);

  try {
    db.Execute("DELETE FROM t WHERE i = ?1", {1, 2});
    FAIL();
  } catch (const ESQLiteException &e) {
    EXPECT_EQ(std::string(e.what()), "Could not bind integer.\rError [25]: 2nd parameter to "
                                     "sqlite3_bind out of range.\r\"BindData\": column index "
                                     "out of range");
    EXPECT_EQ(e.Code(), 25);
  }
  // A named parameter the statement lacks is a failed binding as well,
  // and the list is still emptied.
  db.AddParamText("missing", "x");
  EXPECT_THROW(db.Execute("DELETE FROM t"), ESQLiteException);
  db.Execute("DELETE FROM t WHERE s = 'none'");
}

TEST_F(SQLiteWrapper, TransactionsRollBackUnlessCommitted) {
  const std::string path = NewDatabase("a.sqlite");
  std::vector<std::string> seen;
  {
    TSQLiteDatabase db(path, omReadWrite);
    db.OnQuery = [&](const std::string &sql) { seen.push_back(sql); };
    db.Execute("CREATE TABLE t (v)");
    {
      TSQLiteTransaction work(db);
      EXPECT_TRUE(db.IsTransactionOpen());
      db.Execute("INSERT INTO t VALUES (1)");
    } // not committed
    EXPECT_FALSE(db.IsTransactionOpen());
    EXPECT_EQ(Scalar(db, "SELECT count(*) FROM t"), "0");
    {
      TSQLiteTransaction work(db);
      db.Execute("INSERT INTO t VALUES (?1)", {2});
      EXPECT_EQ(db.RowsChanged(), 1);
      work.Commit();
    }
    EXPECT_EQ(Scalar(db, "SELECT count(*) FROM t"), "1");
    // Left open when the connection goes: rolled back, not committed.
    db.BeginTransaction();
    db.Execute("DELETE FROM t");
  }
  EXPECT_EQ(seen,
            (std::vector<std::string>{
                "CREATE TABLE t (v)", "BEGIN IMMEDIATE", "INSERT INTO t VALUES (1)", "ROLLBACK",
                "SELECT count(*) FROM t", "BEGIN IMMEDIATE", "INSERT INTO t VALUES (?1)", "COMMIT",
                "SELECT count(*) FROM t", "BEGIN IMMEDIATE", "DELETE FROM t", "ROLLBACK"}));
  TSQLiteDatabase again(path, omReadOnly);
  EXPECT_EQ(Scalar(again, "SELECT v FROM t"), "2");
}

TEST_F(SQLiteWrapper, CleanTurnsOnSecureDeleteAndForeignKeys) {
  const std::string path = NewDatabase("places.sqlite");
  {
    TSQLiteDatabase db(path, omReadWrite);
    EXPECT_EQ(Scalar(db, "PRAGMA secure_delete"), "1");
    EXPECT_EQ(Scalar(db, "PRAGMA foreign_keys"), "1");
    db.Execute("CREATE TABLE places (id INTEGER PRIMARY KEY, url TEXT)");
    db.Execute("CREATE TABLE visits (place INTEGER REFERENCES places(id) ON DELETE CASCADE, "
               "note TEXT)");
    db.Execute("INSERT INTO places VALUES (1, 'http://secret-one.example/'), "
               "(2, 'http://secret-two.example/')");
    db.Execute("INSERT INTO visits VALUES (1, 'visit-of-one'), (2, 'visit-of-two')");
  }
  ASSERT_NE(Bytes(path).find("secret-one"), std::string::npos);
  {
    TSQLiteDatabase db(path, omReadWrite);
    TSQLiteTransaction work(db);
    db.Execute("DELETE FROM places WHERE id = ?1", {1});
    work.Commit();
    // The cascade removed the dependent row.
    EXPECT_EQ(Scalar(db, "SELECT group_concat(note) FROM visits"), "visit-of-two");
  }
  std::string bytes = Bytes(path);
  EXPECT_EQ(bytes.find("secret-one"), std::string::npos);
  EXPECT_EQ(bytes.find("visit-of-one"), std::string::npos);
  // The check itself sees what a delete without the pragma leaves behind.
  {
    TSQLiteDatabase db(path, omReadWrite);
    Pragma(db, "PRAGMA secure_delete=OFF");
    db.Execute("DELETE FROM places WHERE id = 2");
  }
  EXPECT_NE(Bytes(path).find("secret-two"), std::string::npos);
}

TEST_F(SQLiteWrapper, LockedDatabaseIsReportedLocked) {
  const std::string path = NewDatabase("cookies.sqlite");
  TSQLiteDatabase browser(path, omReadWrite);
  browser.Execute("CREATE TABLE moz_cookies (name TEXT)");
  browser.Execute("INSERT INTO moz_cookies VALUES ('sid')");
  browser.Execute("BEGIN EXCLUSIVE");
  browser.Execute("INSERT INTO moz_cookies VALUES ('more')");

  TSQLiteDatabase cleaner(path, omReadWrite);
  Pragma(cleaner, "PRAGMA busy_timeout=50"); // instead of kBusyTimeoutMs
  try {
    TSQLiteTransaction work(cleaner);
    FAIL() << "began while the browser holds the file";
  } catch (const ESQLiteException &e) {
    EXPECT_TRUE(e.Locked()) << e.what();
    EXPECT_EQ(e.Code(), 5);
  }
  EXPECT_FALSE(cleaner.IsTransactionOpen());

  TSQLiteDatabase analysis(path, omReadOnly);
  Pragma(analysis, "PRAGMA busy_timeout=50");
  try {
    TSQLiteUniTable q(analysis, "SELECT count(*) FROM moz_cookies");
    FAIL() << "read while the browser holds the file";
  } catch (const ESQLiteException &e) {
    EXPECT_TRUE(e.Locked()) << e.what();
  }
  browser.Rollback();
  EXPECT_EQ(Scalar(analysis, "SELECT count(*) FROM moz_cookies"), "1");
}

TEST_F(SQLiteWrapper, CommitThatCannotFinishLeavesNothingChanged) {
  // A rollback-journal database: a reader in the middle of its rows keeps
  // the clean's COMMIT from taking the file.
  const std::string path = NewDatabase("formhistory.sqlite");
  TSQLiteDatabase cleaner(path, omReadWrite);
  cleaner.Execute("CREATE TABLE moz_formhistory (value TEXT)");
  cleaner.Execute("INSERT INTO moz_formhistory VALUES ('a'), ('b')");
  Pragma(cleaner, "PRAGMA busy_timeout=50");
  TSQLiteDatabase browser(path, omReadWrite);
  {
    TSQLiteTransaction work(cleaner);
    cleaner.Execute("DELETE FROM moz_formhistory");
    TSQLiteUniTable reading(browser, "SELECT value FROM moz_formhistory");
    ASSERT_FALSE(reading.Eof());
    try {
      work.Commit();
      FAIL() << "committed under a reader";
    } catch (const ESQLiteException &e) {
      EXPECT_TRUE(e.Locked()) << e.what();
    }
    // Still open, so that it is rolled back and not left half done.
    EXPECT_TRUE(cleaner.IsTransactionOpen());
  }
  EXPECT_FALSE(cleaner.IsTransactionOpen());
  EXPECT_EQ(Scalar(browser, "SELECT count(*) FROM moz_formhistory"), "2");
  EXPECT_EQ(Scalar(cleaner, "SELECT count(*) FROM moz_formhistory"), "2");
}

TEST_F(SQLiteWrapper, ReadOnlyOpenLeavesTheFolderAsItWas) {
  // A WAL database closed cleanly (its -wal and -shm gone) and a rollback
  // journal one; the analysis reads each and must leave no companion.
  const std::string wal = NewDatabase("places.sqlite");
  const std::string journal = NewDatabase("formhistory.sqlite");
  for (const std::string &path : {wal, journal}) {
    TSQLiteDatabase db(path, omReadWrite);
    if (path == wal)
      Pragma(db, "PRAGMA journal_mode=WAL");
    db.Execute("CREATE TABLE t (v TEXT)");
    db.Execute("INSERT INTO t VALUES ('x')");
  }
  const auto before = Listing();
  ASSERT_EQ(before, (std::set<std::string>{"places.sqlite", "formhistory.sqlite"}));
  ASSERT_EQ(Bytes(wal)[18], 2) << "not a WAL database";
  const std::string walBytes = Bytes(wal);
  const std::string journalBytes = Bytes(journal);

  for (const std::string &path : {wal, journal}) {
    TSQLiteDatabase db(path, omReadOnly);
    EXPECT_TRUE(db.TableExists("t"));
    EXPECT_EQ(Scalar(db, "SELECT v FROM t"), "x");
    {
      TSQLiteTransaction reading(db); // BEGIN: a read transaction
      EXPECT_EQ(Scalar(db, "SELECT count(*) FROM t"), "1");
    }
    try {
      db.Execute("DELETE FROM t");
      ADD_FAILURE() << "an analysis changed " << path;
    } catch (const ESQLiteException &e) {
      EXPECT_EQ(e.Code(), 8) << e.what();
    }
  }
  EXPECT_EQ(Listing(), before);
  EXPECT_EQ(Bytes(wal), walBytes);
  EXPECT_EQ(Bytes(journal), journalBytes);
}

TEST_F(SQLiteWrapper, ReadOnlyOpenKeepsTheEmptyCompanionsABrowserLeftAndMakesNone) {
  // Browsers close their databases leaving an empty -wal or -journal; the
  // analysis reads the rows (all in the file) and neither removes them nor
  // adds a -shm. A space and a percent sign in the folder's name go through
  // the URI form the read takes.
  fs::create_directories(dir_ / "Profile 1%");
  const std::string wal = (dir_ / "Profile 1%" / "places.sqlite").string();
  const std::string journal = (dir_ / "Profile 1%" / "History").string();
  for (const std::string &path : {wal, journal}) {
    std::ofstream(path, std::ios::binary).flush();
    {
      TSQLiteDatabase db(path, omReadWrite);
      if (path == wal)
        Pragma(db, "PRAGMA journal_mode=WAL");
      db.Execute("CREATE TABLE t (v TEXT)");
      db.Execute("INSERT INTO t VALUES ('x')");
    }
    std::ofstream(path + (path == wal ? "-wal" : "-journal"), std::ios::binary).flush();
  }
  std::set<std::string> before;
  for (const auto &entry : fs::directory_iterator(dir_ / "Profile 1%"))
    before.insert(entry.path().filename().string());
  ASSERT_EQ(before.size(), 4u);
  for (const std::string &path : {wal, journal}) {
    TSQLiteDatabase db(path, omReadOnly);
    EXPECT_EQ(Scalar(db, "SELECT v FROM t"), "x") << path;
  }
  std::set<std::string> after;
  for (const auto &entry : fs::directory_iterator(dir_ / "Profile 1%"))
    after.insert(entry.path().filename().string());
  EXPECT_EQ(after, before);
}

TEST_F(SQLiteWrapper, ReadOnlyOpenBesideAWritingProgramSeesItsRows) {
  // The browser has its WAL database open and has written to it: the -wal
  // and -shm are its, the analysis shares them and reads the new rows.
  const std::string path = NewDatabase("places.sqlite");
  TSQLiteDatabase browser(path, omReadWrite);
  Pragma(browser, "PRAGMA journal_mode=WAL");
  browser.Execute("CREATE TABLE t (v TEXT)");
  browser.Execute("INSERT INTO t VALUES ('fresh')");
  {
    TSQLiteDatabase analysis(path, omReadOnly);
    EXPECT_EQ(Scalar(analysis, "SELECT v FROM t"), "fresh");
  }
  browser.Execute("INSERT INTO t VALUES ('later')");
  EXPECT_EQ(Scalar(browser, "SELECT count(*) FROM t"), "2");
}

TEST_F(SQLiteWrapper, TablesAndColumnsAsTheFileHasThem) {
  TSQLiteDatabase db(NewDatabase("a.sqlite"), omReadWrite);
  db.Execute("CREATE TABLE moz_places (id INTEGER, Url TEXT, frecency INTEGER)");
  db.Execute("CREATE TABLE \"we\"\"ird'name\" (a, b)");
  db.Execute("CREATE VIEW v AS SELECT id FROM moz_places");
  EXPECT_TRUE(db.TableExists("moz_places"));
  EXPECT_TRUE(db.TableExists("MOZ_PLACES"));
  EXPECT_FALSE(db.TableExists("v")); // a view is no table
  EXPECT_FALSE(db.TableExists("moz_places' OR '1'='1"));
  EXPECT_TRUE(db.TableExists("we\"ird'name"));
  EXPECT_EQ(db.TableColumns("moz_places"), (std::vector<std::string>{"id", "Url", "frecency"}));
  EXPECT_EQ(db.TableColumns("we\"ird'name"), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(db.TableColumns("moz_places); DROP TABLE moz_places; --").empty());
  EXPECT_TRUE(db.HasColumn("moz_places", "url"));
  EXPECT_FALSE(db.HasColumn("moz_places", "title"));
  EXPECT_FALSE(db.HasColumn("missing", "id"));
  EXPECT_TRUE(db.TableExists("moz_places"));
}

} // namespace

namespace {

using DatabaseFiles = quenlo::test::MemoryTest;

// Deleting a database goes through the platform: on the model, a file that
// another program holds open stays with every companion.
TEST_F(DatabaseFiles, DeletedWithCompanionsOnlyWhenNotHeld) {
  const std::string db = "C:\\Profile\\places.sqlite";
  fs.AddFile(db, "pages");
  fs.AddFile(db + "-wal", "frames");
  fs.AddFile(db + "-shm", "index");
  fs.AddFile("C:\\Profile\\places.sqlite.bak", "kept");
  fs.SetInUse(db, true);
  std::string reason;
  EXPECT_FALSE(quenlo::DeleteDatabaseFiles(db, reason));
  EXPECT_EQ(reason, quenlo::kReasonInUse);
  EXPECT_TRUE(fs.Exists(db));
  EXPECT_TRUE(fs.Exists(db + "-wal"));
  EXPECT_TRUE(fs.Exists(db + "-shm"));

  fs.SetInUse(db, false);
  reason.clear();
  EXPECT_TRUE(quenlo::DeleteDatabaseFiles(db, reason)) << reason;
  EXPECT_FALSE(fs.Exists(db));
  EXPECT_FALSE(fs.Exists(db + "-wal"));
  EXPECT_FALSE(fs.Exists(db + "-shm"));
  EXPECT_TRUE(fs.Exists("C:\\Profile\\places.sqlite.bak"));

  EXPECT_FALSE(quenlo::DeleteDatabaseFiles(db, reason));
  EXPECT_EQ(reason, quenlo::kReasonNotFound);
}

// A companion that cannot go is reported, after the database itself went.
TEST_F(DatabaseFiles, CompanionThatStaysIsReported) {
  const std::string db = "C:\\Profile\\cookies.sqlite";
  fs.AddFile(db, "pages");
  fs.AddFile(db + "-journal", "rollback");
  fs.SetInUse(db + "-journal", true);
  std::string reason;
  EXPECT_FALSE(quenlo::DeleteDatabaseFiles(db, reason));
  EXPECT_EQ(reason, quenlo::kReasonInUse);
  EXPECT_FALSE(fs.Exists(db));
}

} // namespace
