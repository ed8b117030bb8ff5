// The SQLite wrapper in the Windows build: UTF-8 paths with characters
// outside ASCII reach the file, an analysis leaves the folder as it was
// (WAL and rollback journal), and a database is deleted with its
// companions only when nobody holds it.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "cleaner/uSQLite3Table.h"
#include "cleaner/uSysCleaner.h"
#include "platform/Platform.h"
#include "platform/ScopeGuard.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/WinText.h"

namespace {

using quenlo::ESQLiteException;
using quenlo::omReadOnly;
using quenlo::omReadWrite;
using quenlo::TSQLiteDatabase;
using quenlo::TSQLiteUniTable;

class Win32SQLite : public testing::Test {
protected:
  void SetUp() override {
    // "Prüfung 日本" in the folder's name: SQLite takes UTF-8 file names.
    dir_ = qp::Platform().System().GetTempPath() + "Quenlo Pr\xc3\xbc"
                                                   "fung \xe6\x97\xa5\xe6\x9c\xac";
    Clean();
    ASSERT_EQ(files().CreateDirectory(dir_), 0);
  }
  void TearDown() override { Clean(); }

  static qp::IFileSystem &files() { return qp::Platform().Files(); }
  std::string In(const std::string &name) const { return dir_ + "\\" + name; }

  std::set<std::string> Listing() const {
    std::set<std::string> names;
    qp::FindData found;
    if (auto find = files().FindFirst(In("*"), found)) {
      do {
        if (found.name != "." && found.name != "..")
          names.insert(found.name);
      } while (find->Next(found));
    }
    return names;
  }
  void Clean() {
    for (const std::string &name : Listing())
      qp::IgnoreResult(files().DeleteFile(In(name)));
    qp::IgnoreResult(files().RemoveDirectory(dir_));
  }
  // An empty file is an empty database to SQLite.
  std::string NewDatabase(const std::string &name) const {
    EXPECT_EQ(files().WriteFile(In(name), ""), 0);
    return In(name);
  }
  static void Pragma(TSQLiteDatabase &db, const std::string &sql) {
    TSQLiteUniTable answer(db, sql);
    while (answer.Next()) {
    }
  }
  std::string dir_;
};

TEST_F(Win32SQLite, NonAsciiPathOpensAndAnalysisLeavesTheFolderAsItWas) {
  const std::string wal = NewDatabase("places \xc3\xa9t\xc3\xa9.sqlite");
  const std::string journal = NewDatabase("formhistory.sqlite");
  for (const std::string &path : {wal, journal}) {
    TSQLiteDatabase db(path, omReadWrite);
    if (path == wal)
      Pragma(db, "PRAGMA journal_mode=WAL");
    db.Execute("CREATE TABLE t (v TEXT)");
    db.Execute("INSERT INTO t VALUES (?1)", {std::string("caf\xc3\xa9")});
  }
  const auto before = Listing();
  ASSERT_EQ(before,
            (std::set<std::string>{"places \xc3\xa9t\xc3\xa9.sqlite", "formhistory.sqlite"}));
  std::string walBytes;
  ASSERT_EQ(files().ReadFile(wal, walBytes), 0);
  ASSERT_EQ(walBytes[18], 2) << "not a WAL database";

  for (const std::string &path : {wal, journal}) {
    TSQLiteDatabase db(path, omReadOnly);
    TSQLiteUniTable q(db, "SELECT v FROM t");
    ASSERT_FALSE(q.Eof());
    EXPECT_EQ(q.FieldAsString(0), "caf\xc3\xa9");
  }
  EXPECT_EQ(Listing(), before);
  std::string after;
  ASSERT_EQ(files().ReadFile(wal, after), 0);
  EXPECT_EQ(after, walBytes);

  // A missing database is not made, in either mode.
  for (auto mode : {omReadOnly, omReadWrite})
    EXPECT_THROW(TSQLiteDatabase(In("missing.sqlite"), mode), ESQLiteException);
  EXPECT_EQ(Listing(), before);
}

TEST_F(Win32SQLite, DatabaseIsDeletedWithItsCompanionsOnlyWhenNotOpen) {
  const std::string path = NewDatabase("cookies.sqlite");
  std::string reason;
  {
    TSQLiteDatabase browser(path, omReadWrite);
    Pragma(browser, "PRAGMA journal_mode=WAL");
    browser.Execute("CREATE TABLE moz_cookies (name TEXT)");
    browser.Execute("INSERT INTO moz_cookies VALUES ('sid')");
    ASSERT_TRUE(Listing().count("cookies.sqlite-wal"));
    EXPECT_FALSE(quenlo::DeleteDatabaseFiles(path, reason));
    EXPECT_EQ(reason, quenlo::kReasonInUse);
    // Nothing went, the companions neither.
    EXPECT_EQ(Listing(), (std::set<std::string>{"cookies.sqlite", "cookies.sqlite-wal",
                                                "cookies.sqlite-shm"}));
  }
  // A journal a crash left behind goes with its database.
  ASSERT_EQ(files().WriteFile(path + "-journal", "left by a crash"), 0);
  reason.clear();
  EXPECT_TRUE(quenlo::DeleteDatabaseFiles(path, reason)) << reason;
  EXPECT_TRUE(Listing().empty());
  EXPECT_FALSE(quenlo::DeleteDatabaseFiles(path, reason));
  EXPECT_EQ(reason, quenlo::kReasonNotFound);
}

} // namespace
