#include "mount/sqlite_db.h"

#include <sqlite3.h>

#include "platform/error.h"

namespace davfp::mount {

namespace {

constexpr const char* kDomain = "SQLite";

}  // namespace

SqliteDb::SqliteDb(const std::string& path) {
  int rc = sqlite3_open_v2(path.c_str(), &db_,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw platform::Error(kDomain, rc, "open " + path + ": " + why);
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, 5000);
  exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;");
}

void SqliteDb::sync() {
  // A checkpoint syncs the log before it copies it into the database, and the database after.
  exec("PRAGMA wal_checkpoint(PASSIVE)");
}

SqliteDb::~SqliteDb() { sqlite3_close_v2(db_); }

void SqliteDb::exec(std::string_view sql) {
  char* message = nullptr;
  int rc = sqlite3_exec(db_, std::string(sql).c_str(), nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    std::string why = message ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    throw platform::Error(kDomain, rc, why);
  }
}

int64_t SqliteDb::lastInsertRowId() const { return sqlite3_last_insert_rowid(db_); }

int SqliteDb::changes() const { return sqlite3_changes(db_); }

void SqliteDb::check(int code, std::string_view what) const {
  if (code == SQLITE_OK || code == SQLITE_DONE || code == SQLITE_ROW) return;
  throw platform::Error(kDomain, code, std::string(what) + ": " + sqlite3_errmsg(db_));
}

Statement::Statement(SqliteDb& db, std::string_view sql) : db_(db) {
  db_.check(sqlite3_prepare_v3(db_.handle(), sql.data(), static_cast<int>(sql.size()),
                               SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr),
            sql);
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::bind(int index, int64_t value) {
  db_.check(sqlite3_bind_int64(stmt_, index, value), "bind");
  return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
  db_.check(sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT),
            "bind");
  return *this;
}

Statement& Statement::bindBlob(int index, std::string_view bytes) {
  db_.check(sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT),
            "bind");
  return *this;
}

Statement& Statement::bindNull(int index) {
  db_.check(sqlite3_bind_null(stmt_, index), "bind");
  return *this;
}

bool Statement::step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc != SQLITE_DONE) {
    std::string why = sqlite3_errmsg(db_.handle());
    reset();
    throw platform::Error(kDomain, rc, "step: " + why);
  }
  reset();
  return false;
}

void Statement::stop() { reset(); }

void Statement::run() {
  while (step()) {
  }
}

void Statement::reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

int64_t Statement::integer(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string Statement::text(int column) const {
  const void* bytes = sqlite3_column_blob(stmt_, column);
  int size = sqlite3_column_bytes(stmt_, column);
  return bytes ? std::string(static_cast<const char*>(bytes), size) : std::string();
}

bool Statement::isNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

Transaction::Transaction(SqliteDb& db) : db_(db) { db_.exec("BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
  if (done_) return;
  try {
    db_.exec("ROLLBACK");
  } catch (...) {
  }
}

void Transaction::commit() {
  db_.exec("COMMIT");
  done_ = true;
}

}  // namespace davfp::mount
