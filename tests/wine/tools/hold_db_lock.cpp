// hold_db_lock.exe FILE SECONDS : holds a write lock on the SQLite database
// FILE the way a running browser does, for the Wine tests. It opens FILE,
// runs BEGIN EXCLUSIVE and a write inside that transaction, prints "locked"
// and waits until its standard input ends (or a line arrives) or SECONDS
// pass; then it rolls back and closes, so that the file's bytes are those
// it found and no journal or log is left behind. The lock is taken by
// SQLite's Windows layer (LockFileEx): a lock taken by a host program would
// not be seen by Windows programs under Wine.
//
// Exit code 0 after a clean release, 1 when the lock could not be taken,
// 2 for bad usage.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "sqlite3.h"

namespace {

struct TCloseDatabase {
  void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
};
using TDatabase = std::unique_ptr<sqlite3, TCloseDatabase>;

bool Exec(sqlite3 *db, const char *sql) {
  char *error = nullptr;
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &error);
  if (rc != SQLITE_OK) {
    std::fprintf(stderr, "hold_db_lock: %s: %s\n", sql, error ? error : sqlite3_errstr(rc));
    sqlite3_free(error);
    return false;
  }
  return true;
}

// Waits for the end of standard input, or a line on it, for at most
// seconds. The reader thread is detached: when the time runs out it may
// still be blocked in its read, and the process's exit ends it.
void WaitForRelease(long seconds) {
  auto released = std::make_shared<std::promise<void>>();
  std::future<void> done = released->get_future();
  std::thread([released] {
    std::string line;
    std::getline(std::cin, line);
    released->set_value();
  }).detach();
  const std::future_status status = done.wait_for(std::chrono::seconds(seconds));
  static_cast<void>(status);
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fputs("usage: hold_db_lock FILE SECONDS\n", stderr);
    return 2;
  }
  char *end = nullptr;
  const long seconds = std::strtol(argv[2], &end, 10);
  if (end == argv[2] || *end != '\0' || seconds < 1 || seconds > 3600) {
    std::fputs("hold_db_lock: SECONDS must be 1-3600\n", stderr);
    return 2;
  }
  sqlite3 *raw = nullptr;
  // FILE must exist: SQLITE_OPEN_CREATE is left out so that a wrong path
  // fails instead of making an empty database.
  const int rc = sqlite3_open_v2(argv[1], &raw, SQLITE_OPEN_READWRITE, nullptr);
  TDatabase db(raw);
  if (rc != SQLITE_OK) {
    std::fprintf(stderr, "hold_db_lock: cannot open %s: %s\n", argv[1],
                 raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
    return 1;
  }
  // The write is a schema change, which every database accepts whatever
  // its tables; it is never committed.
  if (!Exec(db.get(), "BEGIN EXCLUSIVE") || !Exec(db.get(), "CREATE TABLE quenlo_lock_probe(x)"))
    return 1;
  std::puts("locked");
  std::fflush(stdout);
  WaitForRelease(seconds);
  if (!Exec(db.get(), "ROLLBACK"))
    return 1;
  db.reset();
  return 0;
}
