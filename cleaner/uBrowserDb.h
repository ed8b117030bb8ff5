// What the Firefox and Chrome handlers share to reach a browser's SQLite
// databases: opening one for the pass, queries and statements that run
// only against the tables and columns the file really has, and the
// clean's unit of work with its checkpoint.
//
// Browsers change their schemas from version to version: a statement
// written for one layout fails on the next ("no such table", "no such
// column"). So every query and statement here names what it needs, and is
// checked against sqlite_master and table_info before it runs:
//  * a query or statement whose tables or columns are missing is skipped
//    and recorded as such (TCleanPass::AddSkipped), never run;
//  * the statements of one clean run in one transaction, each on its own:
//    a failing statement is recorded as a failure of the category and the
//    next one still runs; the work is committed at the end;
//  * a database another program holds (the browser is running) fails the
//    category with kReasonLocked and is left unchanged: the transaction is
//    rolled back as a whole;
//  * after the commit the write-ahead log is checkpointed and truncated,
//    so that the deleted rows (overwritten by secure_delete) do not stay
//    readable in the database file or its log.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cleaner/uSQLite3Table.h"
#include "cleaner/uSysCleaner.h"

namespace quenlo {

// The tables and columns a query or statement needs: "table" or
// "table.column".
using TSchemaNeeds = std::vector<std::string_view>;

struct TBrowserStatement {
  std::string_view sql;
  TSchemaNeeds needs;
};

// What is missing of needs in db ("table moz_favicons", "column
// downloads.url"); empty when the schema has it all.
std::string MissingSchema(TSQLiteDatabase &db, const TSchemaNeeds &needs);

// A browser database of the pass, opened with the pass's mode (read-only
// in an analysis) through TCleanPass::DatabasePath. Null when the file
// does not exist (platform path; nothing is recorded then) or could not be
// opened: a locked one fails the category with kReasonLocked, another
// failure records it with the library's message. A database that exists
// marks the category found.
std::unique_ptr<TSQLiteDatabase> OpenBrowserDatabase(TCleanPass &pass, TCleanCategory category,
                                                     std::string_view platformPath);

// Runs the query when the schema has what it needs (else records it as
// skipped) and hands each row over until the last one, a false answer or
// the pass's end. False when it was skipped or failed (the failure is
// recorded; a lock fails the category). name: how the database is named
// in notes ("places.sqlite").
using TRowCallback = std::function<bool(TSQLiteUniTable &row)>;
bool QueryRows(TCleanPass &pass, TCleanCategory category, TSQLiteDatabase &db,
               std::string_view name, const TBrowserStatement &query, const TRowCallback &onRow);

// Clean passes: the statements in order in one transaction, as described
// above; values are bound to ?1, ?2 ... of every statement that has
// parameters. True when every applicable statement ran and the work was
// committed.
bool RunStatements(TCleanPass &pass, TCleanCategory category, TSQLiteDatabase &db,
                   std::string_view name, const std::vector<TBrowserStatement> &statements,
                   const std::vector<TSQLiteValue> &values = {});

// One step of a clean that needs more than statements (rows to read, ids
// to keep): runs inside one transaction; a lock fails the category and
// rolls back, another exception is recorded and rolls back. The checkpoint
// follows a commit. True when committed.
bool RunInTransaction(TCleanPass &pass, TCleanCategory category, TSQLiteDatabase &db,
                      std::string_view name, const std::function<void()> &work);

// PRAGMA wal_checkpoint(TRUNCATE) for a database in WAL mode; nothing
// else. A failure is recorded.
void CheckpointDatabase(TCleanPass &pass, TCleanCategory category, TSQLiteDatabase &db,
                        std::string_view name);

// What a profile's files are kept with when its browser holds one of its
// databases: the running browser rewrites them, and removing them under it
// would lose nothing but leave the clean half done.
inline constexpr std::string_view kReasonBrowserRunning =
    "left in place: the browser that holds its database is running";

// Keeps each of the files or folders below folder that exists, with
// kReasonBrowserRunning (both modes: an analysis lists what a clean of the
// same state removes).
void KeepForRunningBrowser(TCleanPass &pass, TCleanCategory category, const std::string &folder,
                           const std::vector<std::string_view> &names);

// Records an exception from the wrapper: a lock fails the category with
// kReasonLocked (and counts in TCleanPass::LockedDatabases), anything else
// is a failure named name with its text.
void RecordDatabaseError(TCleanPass &pass, TCleanCategory category, std::string_view name,
                         const ESQLiteException &error);

} // namespace quenlo
