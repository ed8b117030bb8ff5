// The SQLite wrapper the browser categories read and clean their databases
// through: TSQLiteDatabase for a connection, TSQLiteUniTable for the rows
// of one query, ESQLiteException for every failure.
//
// SQLite is linked into the program (one unmodified amalgamation for every
// build), so there is no library to search for and load: SQLiteLoaded() is
// always true.
//
// Invariants:
//  * An analysis opens a database read-only and never creates a file: a
//    missing database fails to open, it is not made as an empty one, and
//    no "-wal", "-shm" or "-journal" file is left behind that was not there.
//  * A clean opens read-write, never creating; it turns on secure_delete
//    (deleted rows do not stay readable in the file) and foreign_keys
//    (cascades clean dependent rows) and waits kBusyTimeoutMs for a lock.
//  * Values reach SQL only as bound parameters.
//  * A transaction that is not committed is rolled back.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace quenlo {

class ESQLiteException : public std::runtime_error {
public:
  // code: the connection's error code when the failure had one (0 else).
  explicit ESQLiteException(const std::string &message, int code = 0)
      : std::runtime_error(message), code_(code) {}
  int Code() const { return code_; }
  // SQLITE_BUSY or SQLITE_LOCKED: another program (the browser) holds it.
  bool Locked() const { return code_ == 5 || code_ == 6; }

private:
  int code_;
};

inline constexpr int kBusyTimeoutMs = 2000;

enum TSQLiteOpenMode : std::uint8_t {
  omReadOnly = 0,  // analysis
  omReadWrite = 1, // clean; the file must exist
};

using TSQLiteBlob = std::vector<std::uint8_t>;
// A positional value; its kind picks the binding (and the message on a
// failed binding): int "Could not bind integer", bool "Could not bind
// boolean", char "Could not bind text", double "Could not bind extended",
// std::string / std::u16string "Could not bind text", nullptr "Could not
// bind null", TSQLiteBlob "Could not bind BLOB", std::int64_t "Could not
// bind int64".
using TSQLiteValue = std::variant<std::nullptr_t, int, bool, char, double, std::string,
                                  std::u16string, std::int64_t, TSQLiteBlob>;

using THookQuery = std::function<void(const std::string &sql)>;

// "Successful result" ... ; "Unknown SQLite Error Code \"27\"" for others.
std::string SQLiteErrorDescription(int code);
inline bool SQLiteLoaded() {
  return true;
}

class TSQLiteDatabase {
public:
  // Raises "Failed to open database \"<file>\" : <message>" (": unknown
  // error" without a connection).
  TSQLiteDatabase(std::string_view fileName, TSQLiteOpenMode mode);
  ~TSQLiteDatabase(); // rolls back an open transaction, closes
  TSQLiteDatabase(const TSQLiteDatabase &) = delete;
  TSQLiteDatabase &operator=(const TSQLiteDatabase &) = delete;

  // One statement that returns no rows, with positional values bound to
  // ?1, ?2 ... and the named parameters added since the last statement.
  void Execute(std::string_view sql, const std::vector<TSQLiteValue> &values = {});
  void AddParamInt(std::string_view name, std::int64_t value);
  void AddParamFloat(std::string_view name, double value);
  void AddParamText(std::string_view name, std::string_view value);
  void AddParamNull(std::string_view name);

  void BeginTransaction(); // BEGIN IMMEDIATE in a clean, BEGIN in an analysis
  void Commit();
  void Rollback();
  bool IsTransactionOpen() const { return transactionOpen_; }
  int RowsChanged() const;
  bool Synchronised() const { return synchronised_; }
  void SetSynchronised(bool on);

  // The tables and columns the file really has.
  bool TableExists(std::string_view table);
  std::vector<std::string> TableColumns(std::string_view table); // as declared
  bool HasColumn(std::string_view table, std::string_view column);

  const std::string &FileName() const { return fileName_; }
  TSQLiteOpenMode Mode() const { return mode_; }
  sqlite3 *Handle() const { return db_; }

  THookQuery OnQuery;

  // Raises ESQLiteException with the error format (message, code, its
  // description, the statement, the library's message).
  [[noreturn]] void RaiseError(std::string_view message, std::string_view sql) const;

private:
  friend class TSQLiteUniTable;
  struct TParam {
    std::string name;
    std::variant<std::nullptr_t, std::int64_t, double, std::string> value;
  };
  sqlite3_stmt *Prepare(std::string_view sql, const std::vector<TSQLiteValue> &values);

  sqlite3 *db_ = nullptr;
  std::string fileName_;
  TSQLiteOpenMode mode_;
  std::vector<TParam> params_;
  bool transactionOpen_ = false;
  bool synchronised_ = true;
};

class TSQLiteUniTable {
public:
  // Prepares the query and fetches the first row.
  TSQLiteUniTable(TSQLiteDatabase &db, std::string_view sql,
                  const std::vector<TSQLiteValue> &values = {});
  ~TSQLiteUniTable();
  TSQLiteUniTable(const TSQLiteUniTable &) = delete;
  TSQLiteUniTable &operator=(const TSQLiteUniTable &) = delete;

  bool Next(); // answers !Eof
  bool Eof() const { return eof_; }
  int Row() const { return row_; }
  int ColCount() const { return colCount_; }
  const std::vector<std::string> &Columns() const { return columns_; } // upper case
  std::string FieldAsString(int index) const;                          // "" for NULL
  std::int64_t FieldAsInt64(int index) const;
  bool FieldIsNull(int index) const;
  const std::string &SQL() const { return sql_; }

private:
  TSQLiteDatabase &db_;
  sqlite3_stmt *stmt_ = nullptr;
  std::string sql_;
  bool eof_ = true;
  int row_ = 0;
  int colCount_ = 0;
  std::vector<std::string> columns_;
};

// A clean's unit of work: begins at construction, rolls back at
// destruction unless committed.
class TSQLiteTransaction {
public:
  explicit TSQLiteTransaction(TSQLiteDatabase &db);
  ~TSQLiteTransaction();
  TSQLiteTransaction(const TSQLiteTransaction &) = delete;
  TSQLiteTransaction &operator=(const TSQLiteTransaction &) = delete;
  void Commit();

private:
  TSQLiteDatabase &db_;
  bool done_ = false;
};

// The companions SQLite keeps beside a database ("-journal", "-wal",
// "-shm"); never removed on their own.
inline constexpr std::string_view kDatabaseCompanions[] = {"-journal", "-wal", "-shm"};
// Deletes a database file (a platform path) together with its companions,
// only when nobody holds it open. False with the reason (kReasonInUse ...)
// when it stays; the companions then stay as well.
[[nodiscard]] bool DeleteDatabaseFiles(std::string_view path, std::string &reason);

} // namespace quenlo
