#include "cleaner/uBrowserDb.h"

#include "platform/Platform.h"
#include "platform/WinConst.h"

namespace quenlo {

namespace {

bool FileExists(std::string_view path) {
  const std::uint32_t attributes = qp::Platform().Files().GetAttributes(path);
  return attributes != wc::InvalidFileAttributes && (attributes & wc::FileAttributeDirectory) == 0;
}

std::string NoteName(std::string_view name, std::string_view sql) {
  std::string text(name);
  text += ": ";
  text += sql;
  return text;
}

// The first line of the wrapper's error text is the library's message with
// the statement; the rest repeats codes the note does not need.
std::string ErrorText(const ESQLiteException &error) {
  std::string text = error.what();
  const std::size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos)
    text.resize(end);
  return text;
}

} // namespace

std::string MissingSchema(TSQLiteDatabase &db, const TSchemaNeeds &needs) {
  std::string missing;
  const auto add = [&missing](std::string text) {
    if (!missing.empty())
      missing += ", ";
    missing += text;
  };
  for (std::string_view need : needs) {
    const std::size_t dot = need.find('.');
    const std::string_view table = need.substr(0, dot);
    if (dot == std::string_view::npos) {
      if (!db.TableExists(table))
        add("table " + std::string(table));
      continue;
    }
    if (!db.TableExists(table))
      add("table " + std::string(table));
    else if (!db.HasColumn(table, need.substr(dot + 1)))
      add("column " + std::string(need));
  }
  return missing;
}

void RecordDatabaseError(TCleanPass &pass, TCleanCategory category, std::string_view name,
                         const ESQLiteException &error) {
  if (error.Locked()) {
    ++pass.LockedDatabases;
    pass.FailCategory(category, std::string(kReasonLocked));
    return;
  }
  pass.AddFailure(category, std::string(name), ErrorText(error));
}

void KeepForRunningBrowser(TCleanPass &pass, TCleanCategory category, const std::string &folder,
                           const std::vector<std::string_view> &names) {
  for (std::string_view name : names) {
    std::string path = folder;
    if (!path.empty() && path.back() != '\\')
      path += '\\';
    path += name;
    if (qp::Platform().Files().GetAttributes(path) != wc::InvalidFileAttributes)
      pass.AddKept(category, path, std::string(kReasonBrowserRunning));
  }
}

std::unique_ptr<TSQLiteDatabase> OpenBrowserDatabase(TCleanPass &pass, TCleanCategory category,
                                                     std::string_view platformPath) {
  if (!FileExists(platformPath))
    return nullptr;
  pass.MarkFound(category);
  try {
    auto db = std::make_unique<TSQLiteDatabase>(pass.DatabasePath(platformPath),
                                                pass.Reporting() ? omReadOnly : omReadWrite);
    // A database that opens may still be held: the first read tells.
    qp::IgnoreResult(db->TableExists("sqlite_master"));
    return db;
  } catch (const ESQLiteException &error) {
    RecordDatabaseError(pass, category, platformPath, error);
    return nullptr;
  }
}

bool QueryRows(TCleanPass &pass, TCleanCategory category, TSQLiteDatabase &db,
               std::string_view name, const TBrowserStatement &query, const TRowCallback &onRow) {
  try {
    const std::string missing = MissingSchema(db, query.needs);
    if (!missing.empty()) {
      pass.AddSkipped(category, NoteName(name, query.sql), "no " + missing);
      return false;
    }
    TSQLiteUniTable rows(db, query.sql);
    while (!rows.Eof() && !pass.Terminated()) {
      if (!onRow(rows))
        break;
      rows.Next();
    }
    return true;
  } catch (const ESQLiteException &error) {
    RecordDatabaseError(pass, category, NoteName(name, query.sql), error);
    return false;
  }
}

void CheckpointDatabase(TCleanPass &pass, TCleanCategory category, TSQLiteDatabase &db,
                        std::string_view name) {
  try {
    bool wal = false;
    {
      TSQLiteUniTable mode(db, "PRAGMA journal_mode");
      wal = !mode.Eof() && mode.FieldAsString(0) == "wal";
    }
    if (!wal)
      return;
    TSQLiteUniTable checkpoint(db, "PRAGMA wal_checkpoint(TRUNCATE)");
    // busy, log frames, checkpointed frames: a busy checkpoint left rows
    // of the log in place.
    if (!checkpoint.Eof() && checkpoint.FieldAsInt64(0) != 0)
      pass.AddFailure(category, NoteName(name, "PRAGMA wal_checkpoint(TRUNCATE)"),
                      std::string(kReasonLocked));
  } catch (const ESQLiteException &error) {
    RecordDatabaseError(pass, category, NoteName(name, "PRAGMA wal_checkpoint(TRUNCATE)"), error);
  }
}

bool RunInTransaction(TCleanPass &pass, TCleanCategory category, TSQLiteDatabase &db,
                      std::string_view name, const std::function<void()> &work) {
  try {
    TSQLiteTransaction transaction(db);
    work();
    if (pass.Terminated())
      return false; // rolled back: a stopped clean changes nothing more
    transaction.Commit();
  } catch (const ESQLiteException &error) {
    RecordDatabaseError(pass, category, name, error);
    return false;
  }
  CheckpointDatabase(pass, category, db, name);
  return true;
}

bool RunStatements(TCleanPass &pass, TCleanCategory category, TSQLiteDatabase &db,
                   std::string_view name, const std::vector<TBrowserStatement> &statements,
                   const std::vector<TSQLiteValue> &values) {
  bool all = true;
  const bool committed = RunInTransaction(pass, category, db, name, [&] {
    for (const TBrowserStatement &statement : statements) {
      if (pass.Terminated())
        return;
      const std::string missing = MissingSchema(db, statement.needs);
      if (!missing.empty()) {
        pass.AddSkipped(category, NoteName(name, statement.sql), "no " + missing);
        continue;
      }
      try {
        const bool bound = statement.sql.find('?') != std::string_view::npos;
        db.Execute(statement.sql, bound ? values : std::vector<TSQLiteValue>{});
      } catch (const ESQLiteException &error) {
        // A lock ends the whole unit of work; anything else is this
        // statement's alone.
        if (error.Locked())
          throw;
        all = false;
        pass.AddFailure(category, NoteName(name, statement.sql), ErrorText(error));
      }
    }
  });
  return committed && all;
}

} // namespace quenlo
