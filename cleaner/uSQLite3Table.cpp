// The SQLite wrapper over the linked amalgamation.
//
// Every statement is prepared, bound, stepped and finalised here; a failure
// raises ESQLiteException with the connection's code, the code's
// description, the statement and SQLite's own message. A connection never
// creates its file (no SQLITE_OPEN_CREATE), so a missing database stays
// missing.
#include "cleaner/uSQLite3Table.h"

#include "cleaner/uSysCleaner.h"
#include "platform/Platform.h"
#include "platform/Utf.h"
#include "platform/WinConst.h"

#include <sqlite3.h>

#include <array>
#include <cctype>
#include <filesystem>
#include <memory>
#include <utility>

namespace quenlo {

namespace {

// The descriptions of SQLite's primary result codes 0-26, by code.
constexpr std::array<std::string_view, 27> kCodeDescriptions = {
    "Successful result",
    "SQL error or missing database",
    "An internal logic error in SQLite",
    "Access permission denied",
    "Callback routine requested an abort",
    "The database file is locked",
    "A table in the database is locked",
    "A malloc() failed",
    "Attempt to write a readonly database",
    "Operation terminated by sqlite3_interrupt()",
    "Some kind of disk I/O error occurred",
    "The database disk image is malformed",
    "(Internal Only) Table or record not found",
    "Insertion failed because database is full",
    "Unable to open the database file",
    "Database lock protocol error",
    "Database is empty",
    "The database schema changed",
    "Too much data for one row of a table",
    "Abort due to contraint violation",
    "Data type mismatch",
    "Library used incorrectly",
    "Uses OS features not supported on host",
    "Authorization denied",
    "Auxiliary database format error",
    "2nd parameter to sqlite3_bind out of range",
    "File opened that is not a database file",
};

// The text that stands for the statement in a binding's error.
constexpr std::string_view kBindData = "BindData";

// The exception for message M about statement T on a connection (which may
// be null): "M.\rError [code]: description.\r\"T\": library message" when
// the connection has an error, M alone else.
ESQLiteException ErrorFor(sqlite3 *db, std::string_view message, std::string_view sql) {
  const int code = db != nullptr ? sqlite3_errcode(db) : SQLITE_OK;
  const char *library = code != SQLITE_OK ? sqlite3_errmsg(db) : nullptr;
  if (library == nullptr || *library == '\0')
    return ESQLiteException(std::string(message), code);
  std::string text(message);
  text += ".\rError [";
  text += std::to_string(code);
  text += "]: ";
  text += SQLiteErrorDescription(code);
  text += ".\r\"";
  text += sql;
  text += "\": ";
  text += library;
  return ESQLiteException(text, code);
}

struct TStatementFinalizer {
  void operator()(sqlite3_stmt *stmt) const { sqlite3_finalize(stmt); }
};
using TStatementPtr = std::unique_ptr<sqlite3_stmt, TStatementFinalizer>;

// Binds one positional value; the answer is SQLite's status and the
// message that names the value's kind.
struct TBinder {
  sqlite3_stmt *stmt;
  int index;
  const char *&message;

  int operator()(std::nullptr_t) const {
    message = "Could not bind null";
    return sqlite3_bind_null(stmt, index);
  }
  int operator()(int value) const {
    message = "Could not bind integer";
    return sqlite3_bind_int(stmt, index, value);
  }
  int operator()(bool value) const {
    message = "Could not bind boolean";
    return sqlite3_bind_int(stmt, index, value ? 1 : 0);
  }
  int operator()(char value) const {
    // The one character alone: a terminating zero bound with it would
    // be stored in the text, which then never equals 'x'.
    message = "Could not bind text";
    return sqlite3_bind_text(stmt, index, &value, 1, SQLITE_TRANSIENT);
  }
  int operator()(double value) const {
    message = "Could not bind extended";
    return sqlite3_bind_double(stmt, index, value);
  }
  int operator()(const std::string &value) const {
    message = "Could not bind text";
    return sqlite3_bind_text64(stmt, index, value.data(), value.size(), SQLITE_TRANSIENT,
                               SQLITE_UTF8);
  }
  int operator()(const std::u16string &value) const {
    message = "Could not bind text";
    return sqlite3_bind_text64(stmt, index, reinterpret_cast<const char *>(value.data()),
                               value.size() * sizeof(char16_t), SQLITE_TRANSIENT, SQLITE_UTF16);
  }
  int operator()(std::int64_t value) const {
    message = "Could not bind int64";
    return sqlite3_bind_int64(stmt, index, value);
  }
  int operator()(const TSQLiteBlob &value) const {
    message = "Could not bind BLOB";
    // An empty vector may have no data pointer, which SQLite would bind
    // as NULL: an empty BLOB is a zero-length BLOB.
    if (value.empty())
      return sqlite3_bind_zeroblob(stmt, index, 0);
    return sqlite3_bind_blob64(stmt, index, value.data(), value.size(), SQLITE_TRANSIENT);
  }
};

// ":name" for a bare name; a name given with its prefix stays as it is.
std::string ParameterName(std::string_view name) {
  if (!name.empty() && (name[0] == ':' || name[0] == '@' || name[0] == '$' || name[0] == '?'))
    return std::string(name);
  return ":" + std::string(name);
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// What lies beside a database. Asked of the file system: SQLite's own
// existence test takes an empty file for a missing one.
enum class TCompanions : std::uint8_t {
  None,      // no "-wal" and no "-journal"
  EmptyOnly, // only empty ones, and no "-shm": nobody has the file open
  Live,      // a log or journal with content, or a "-shm": in use, or to be recovered
};

enum class TCompanion : std::uint8_t { Missing, Empty, Full };

TCompanion CompanionState(const std::string &path) {
  std::error_code error;
  const std::filesystem::path file(qp::Utf8ToUtf16(path));
  const std::filesystem::file_status status = std::filesystem::status(file, error);
  if (status.type() == std::filesystem::file_type::not_found)
    return TCompanion::Missing;
  if (error || !std::filesystem::is_regular_file(status))
    return TCompanion::Full; // when the question fails, as if it held something
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  return !error && size == 0 ? TCompanion::Empty : TCompanion::Full;
}

TCompanions FindCompanions(const std::string &fileName) {
  bool any = false;
  for (std::string_view suffix : {"-wal", "-journal"}) {
    const TCompanion state = CompanionState(fileName + std::string(suffix));
    if (state == TCompanion::Full)
      return TCompanions::Live;
    any = any || state == TCompanion::Empty;
  }
  if (!any)
    return TCompanions::None;
  return CompanionState(fileName + "-shm") == TCompanion::Missing ? TCompanions::EmptyOnly
                                                                  : TCompanions::Live;
}

// The URI that opens a file as immutable: read without locks, logs or a
// shared-memory file, so that nothing beside it is made or removed.
// Empty for a path the URI form cannot name (a share).
std::string ImmutableUri(const std::string &fileName) {
  std::string path = fileName;
  for (char &c : path)
    if (c == '\\')
      c = '/';
  if (path.rfind("//", 0) == 0)
    return {};
  const bool drive =
      path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0])) != 0;
  if (!drive && path.rfind('/', 0) != 0)
    return {};
  std::string uri = drive ? "file:///" : "file://";
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : path) {
    if (std::isalnum(c) != 0 || c == '/' || c == '-' || c == '_' || c == '.' || c == '~' ||
        (c == ':' && drive)) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri + "?immutable=1";
}

} // namespace

// A pragma that answers with rows (secure_delete its new value), stepped
// to its end: Execute takes statements without rows only.
static void RunPragma(TSQLiteDatabase &db, std::string_view pragma) {
  TSQLiteUniTable answer(db, pragma);
  while (answer.Next()) {
  }
}

std::string SQLiteErrorDescription(int code) {
  if (code >= 0 && code < static_cast<int>(kCodeDescriptions.size()))
    return std::string(kCodeDescriptions[static_cast<std::size_t>(code)]);
  if (code == SQLITE_ROW)
    return "sqlite3_step() has another row ready";
  if (code == SQLITE_DONE)
    return "sqlite3_step() has finished executing";
  return "Unknown SQLite Error Code \"" + std::to_string(code) + "\"";
}

// --- TSQLiteDatabase

TSQLiteDatabase::TSQLiteDatabase(std::string_view fileName, TSQLiteOpenMode mode)
    : fileName_(fileName), mode_(mode) {
  // An analysis reads a database that has no "-wal" or "-journal" beside
  // it over a read-write handle with query_only on. A read-only connection
  // to a WAL database creates "-wal" and "-shm" and, unable to lock its
  // read-only file exclusively at the close, leaves them behind; this one
  // removes what it made, as the last connection to close does. Beside an
  // existing companion (the browser has the database open, or a journal
  // waits to be rolled back) it opens read-only: a read-write connection
  // would roll a journal back or checkpoint a WAL into the file.
  // Never SQLITE_OPEN_CREATE: an analysis must not make an empty database
  // where none was, nor a clean.
  // Beside companions that are empty and no "-shm" (the browser closed the
  // file and left an empty log or journal) nobody has it open, and every
  // row is in the file itself: it is read as immutable, which leaves the
  // empty companions as they are - a read-only connection would remove an
  // empty log when it closes, and make a "-shm".
  const TCompanions companions = mode == omReadOnly ? FindCompanions(fileName_) : TCompanions::None;
  const bool guardedReader = mode == omReadOnly && companions == TCompanions::None;
  const std::string immutable =
      companions == TCompanions::EmptyOnly ? ImmutableUri(fileName_) : std::string();
  int flags = mode == omReadWrite || guardedReader ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;
  if (!immutable.empty())
    flags |= SQLITE_OPEN_URI;
  const int rc = sqlite3_open_v2(immutable.empty() ? fileName_.c_str() : immutable.c_str(), &db_,
                                 flags, nullptr);
  if (rc != SQLITE_OK) {
    if (db_ == nullptr)
      throw ESQLiteException("Failed to open database \"" + fileName_ + "\" : unknown error", rc);
    std::string text = "Failed to open database \"" + fileName_ + "\" : " + sqlite3_errmsg(db_);
    sqlite3_close(db_);
    db_ = nullptr;
    throw ESQLiteException(text, rc);
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  if (guardedReader) {
    // SQLite refuses every change of the file on this connection.
    try {
      RunPragma(*this, "PRAGMA query_only=ON");
    } catch (...) {
      sqlite3_close(db_);
      db_ = nullptr;
      throw;
    }
  }
  if (mode == omReadWrite) {
    // Right after opening: foreign_keys does nothing inside a transaction.
    // Each answers with rows (secure_delete its new value), so both are
    // stepped to their end rather than run through Execute.
    try {
      RunPragma(*this, "PRAGMA secure_delete=ON");
      RunPragma(*this, "PRAGMA foreign_keys=ON");
    } catch (...) {
      sqlite3_close(db_);
      db_ = nullptr;
      throw;
    }
  }
}

TSQLiteDatabase::~TSQLiteDatabase() {
  if (transactionOpen_) {
    try {
      Rollback();
    } catch (...) {
      // Closing the connection rolls back what is still open.
    }
  }
  // close_v2: a query left alive by mistake keeps the connection until it
  // is finalised instead of failing the close.
  sqlite3_close_v2(db_);
}

void TSQLiteDatabase::RaiseError(std::string_view message, std::string_view sql) const {
  throw ErrorFor(db_, message, sql);
}

sqlite3_stmt *TSQLiteDatabase::Prepare(std::string_view sql,
                                       const std::vector<TSQLiteValue> &values) {
  // The named parameters belong to this statement alone, whatever happens.
  std::vector<TParam> params = std::exchange(params_, {});
  sqlite3_stmt *raw = nullptr;
  const int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
  TStatementPtr stmt(raw);
  if (rc != SQLITE_OK)
    RaiseError("Error executing SQL", sql);
  if (!stmt)
    RaiseError("Could not prepare SQL statement", sql);
  if (OnQuery)
    OnQuery(std::string(sql));

  for (const TParam &param : params) {
    const int index = sqlite3_bind_parameter_index(stmt.get(), ParameterName(param.name).c_str());
    const char *message = nullptr;
    int bound = SQLITE_OK;
    if (std::holds_alternative<std::int64_t>(param.value)) {
      message = "Could not bind int64";
      bound = sqlite3_bind_int64(stmt.get(), index, std::get<std::int64_t>(param.value));
    } else if (std::holds_alternative<double>(param.value)) {
      message = "Could not bind extended";
      bound = sqlite3_bind_double(stmt.get(), index, std::get<double>(param.value));
    } else if (std::holds_alternative<std::string>(param.value)) {
      const std::string &text = std::get<std::string>(param.value);
      message = "Could not bind text";
      bound = sqlite3_bind_text64(stmt.get(), index, text.data(), text.size(), SQLITE_TRANSIENT,
                                  SQLITE_UTF8);
    } else {
      message = "Could not bind null";
      bound = sqlite3_bind_null(stmt.get(), index);
    }
    if (bound != SQLITE_OK)
      RaiseError(message, kBindData);
  }
  for (std::size_t i = 0; i < values.size(); ++i) {
    const char *message = nullptr;
    const int bound = std::visit(TBinder{stmt.get(), static_cast<int>(i + 1), message}, values[i]);
    if (bound != SQLITE_OK)
      RaiseError(message, kBindData);
  }
  return stmt.release();
}

void TSQLiteDatabase::Execute(std::string_view sql, const std::vector<TSQLiteValue> &values) {
  TStatementPtr stmt(Prepare(sql, values));
  if (sqlite3_step(stmt.get()) != SQLITE_DONE) {
    // The text is taken before the reset and the finalisation touch the
    // connection's error.
    ESQLiteException error = ErrorFor(db_, "Error executing SQL statement", sql);
    sqlite3_reset(stmt.get());
    throw error;
  }
}

void TSQLiteDatabase::AddParamInt(std::string_view name, std::int64_t value) {
  params_.push_back({std::string(name), value});
}

void TSQLiteDatabase::AddParamFloat(std::string_view name, double value) {
  params_.push_back({std::string(name), value});
}

void TSQLiteDatabase::AddParamText(std::string_view name, std::string_view value) {
  params_.push_back({std::string(name), std::string(value)});
}

void TSQLiteDatabase::AddParamNull(std::string_view name) {
  params_.push_back({std::string(name), nullptr});
}

void TSQLiteDatabase::BeginTransaction() {
  // IMMEDIATE takes the write lock at once: a browser holding the file
  // fails the clean here (busy) instead of in the middle of its statements.
  Execute(mode_ == omReadWrite ? "BEGIN IMMEDIATE" : "BEGIN");
  transactionOpen_ = true;
}

void TSQLiteDatabase::Commit() {
  try {
    Execute("COMMIT");
  } catch (...) {
    // A busy COMMIT leaves the transaction open (to be rolled back); other
    // failures may have ended it already.
    transactionOpen_ = sqlite3_get_autocommit(db_) == 0;
    throw;
  }
  transactionOpen_ = false;
}

void TSQLiteDatabase::Rollback() {
  transactionOpen_ = false;
  // SQLite rolls some failures (a full disk, an interrupt) back itself; a
  // ROLLBACK then would fail with "no transaction is active".
  if (sqlite3_get_autocommit(db_) != 0)
    return;
  Execute("ROLLBACK");
}

int TSQLiteDatabase::RowsChanged() const {
  return sqlite3_changes(db_);
}

void TSQLiteDatabase::SetSynchronised(bool on) {
  if (on == synchronised_)
    return;
  Execute(on ? "PRAGMA synchronous = ON;" : "PRAGMA synchronous = OFF;");
  synchronised_ = on;
}

bool TSQLiteDatabase::TableExists(std::string_view table) {
  // Table names compare without regard to ASCII case in SQLite.
  TSQLiteUniTable query(*this,
                        "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1 "
                        "COLLATE NOCASE",
                        {std::string(table)});
  return !query.Eof();
}

std::vector<std::string> TSQLiteDatabase::TableColumns(std::string_view table) {
  // The table-valued form of PRAGMA table_info takes the name as a bound
  // value: nothing from the caller is pasted into the statement.
  TSQLiteUniTable query(*this, "SELECT name FROM pragma_table_info(?1) ORDER BY cid",
                        {std::string(table)});
  std::vector<std::string> columns;
  for (; !query.Eof(); query.Next())
    columns.push_back(query.FieldAsString(0));
  return columns;
}

bool TSQLiteDatabase::HasColumn(std::string_view table, std::string_view column) {
  for (const std::string &name : TableColumns(table))
    if (SameNameIgnoringCase(name, column))
      return true;
  return false;
}

// --- TSQLiteUniTable

TSQLiteUniTable::TSQLiteUniTable(TSQLiteDatabase &db, std::string_view sql,
                                 const std::vector<TSQLiteValue> &values)
    : db_(db), sql_(sql) {
  stmt_ = db_.Prepare(sql_, values);
  colCount_ = sqlite3_column_count(stmt_);
  for (int i = 0; i < colCount_; ++i) {
    const char *name = sqlite3_column_name(stmt_, i);
    std::string upper = name != nullptr ? name : "";
    for (char &c : upper)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    columns_.push_back(std::move(upper));
  }
  try {
    Next();
  } catch (...) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    throw;
  }
}

TSQLiteUniTable::~TSQLiteUniTable() {
  sqlite3_finalize(stmt_);
}

bool TSQLiteUniTable::Next() {
  eof_ = true;
  // Finished: a further step would start the query over.
  if (stmt_ == nullptr)
    return false;
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) {
    eof_ = false;
    ++row_;
    return true;
  }
  if (rc != SQLITE_DONE) {
    ESQLiteException error = ErrorFor(db_.db_, "Could not retrieve data", sql_);
    sqlite3_reset(stmt_);
    throw error;
  }
  // Done: finalising now ends the read transaction (and its lock) at once.
  sqlite3_finalize(stmt_);
  stmt_ = nullptr;
  return false;
}

std::string TSQLiteUniTable::FieldAsString(int index) const {
  if (eof_ || stmt_ == nullptr)
    return {};
  const auto *text = sqlite3_column_text(stmt_, index);
  if (text == nullptr)
    return {};
  const int bytes = sqlite3_column_bytes(stmt_, index);
  return std::string(reinterpret_cast<const char *>(text), static_cast<std::size_t>(bytes));
}

std::int64_t TSQLiteUniTable::FieldAsInt64(int index) const {
  if (eof_ || stmt_ == nullptr)
    return 0;
  return sqlite3_column_int64(stmt_, index);
}

bool TSQLiteUniTable::FieldIsNull(int index) const {
  if (eof_ || stmt_ == nullptr)
    return true;
  return sqlite3_column_type(stmt_, index) == SQLITE_NULL;
}

// --- TSQLiteTransaction

TSQLiteTransaction::TSQLiteTransaction(TSQLiteDatabase &db) : db_(db) {
  db_.BeginTransaction();
}

TSQLiteTransaction::~TSQLiteTransaction() {
  if (done_ || !db_.IsTransactionOpen())
    return;
  try {
    db_.Rollback();
  } catch (...) {
    // The connection's close rolls back what is left.
  }
}

void TSQLiteTransaction::Commit() {
  db_.Commit();
  done_ = true;
}

// --- deleting a database

bool DeleteDatabaseFiles(std::string_view path, std::string &reason) {
  qp::IFileSystem &files = qp::Platform().Files();
  // SQLite keeps its database open with sharing: an open for this caller
  // alone fails while anybody (the browser) has it.
  if (const long status = files.TestExclusiveOpen(path); status != 0) {
    reason = ReasonForStatus(status);
    return false;
  }
  // The main file first: a companion left without its database is
  // harmless, a database left without its journal or WAL loses what they
  // hold.
  if (const long status = files.DeleteFile(path); status != 0) {
    reason = ReasonForStatus(status);
    return false;
  }
  bool all = true;
  for (std::string_view suffix : kDatabaseCompanions) {
    const std::string companion = std::string(path) + std::string(suffix);
    if (files.GetAttributes(companion) == wc::InvalidFileAttributes)
      continue;
    if (const long status = files.DeleteFile(companion); status != 0 && all) {
      reason = ReasonForStatus(status);
      all = false;
    }
  }
  return all;
}

} // namespace quenlo
