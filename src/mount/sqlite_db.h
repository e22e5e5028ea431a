// SqliteDb and Statement: the little of SQLite the journal needs, with its errors thrown as platform::Error
// (domain "SQLite", the extended result code) and every handle closed by its owner. A SqliteDb is used by one
// thread at a time (the journal serialises its callers); a Statement belongs to the SqliteDb that prepared
// it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace davfp::mount {

class SqliteDb;

class Statement {
 public:
  Statement(SqliteDb& db, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Parameters are numbered from 1, as in SQL's "?1".
  Statement& bind(int index, int64_t value);
  Statement& bind(int index, std::string_view text);
  Statement& bindBlob(int index, std::string_view bytes);
  Statement& bindNull(int index);
  // Advances to the next row: true while there is one; the statement is reset for its next use when the rows
  // are done or on failure.
  bool step();
  // Ends a statement whose rows are not all read, for its next use.
  void stop();
  // Runs a statement that returns no rows, then resets it.
  void run();

  int64_t integer(int column) const;
  std::string text(int column) const;
  bool isNull(int column) const;

 private:
  void reset();

  SqliteDb& db_;
  sqlite3_stmt* stmt_ = nullptr;
};

class SqliteDb {
 public:
  // Opens (creating when missing) the database at path in write-ahead-log mode. A transaction that returned
  // survives a crash of the process at once and a crash of the machine after the next sync(), as a file
  // written and closed on a local file system does after fsync.
  explicit SqliteDb(const std::string& path);
  ~SqliteDb();
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;

  // Runs statements that return no rows (schema, pragmas, BEGIN/COMMIT).
  void exec(std::string_view sql);
  // Puts every transaction that returned on the disk.
  void sync();
  int64_t lastInsertRowId() const;
  int changes() const;

  // Throws the database's last error as a platform::Error when code is not OK, DONE or ROW.
  void check(int code, std::string_view what) const;
  sqlite3* handle() { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

// A transaction: BEGIN IMMEDIATE now, COMMIT by commit(), ROLLBACK when it ends without.
class Transaction {
 public:
  explicit Transaction(SqliteDb& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void commit();

 private:
  SqliteDb& db_;
  bool done_ = false;
};

}  // namespace davfp::mount
