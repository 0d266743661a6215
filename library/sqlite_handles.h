// Owners for the SQLite C API's handles: a database connection and a prepared
// statement are closed by their destructors on every path, and a transaction
// that is not committed is rolled back when it goes out of scope.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vexel::library::sql {

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;

struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

// Opens `path` with `flags` (SQLITE_OPEN_*). On failure the connection is
// empty and `error` says why.
Database Open(const std::string& path, int flags, std::string& error);

// The connection's latest error message.
std::string ErrorOf(sqlite3* db);

// Runs statements that give no rows. False, with `error` set, on failure.
bool Exec(sqlite3* db, const char* sql, std::string& error);

// A prepared statement, reused across calls: Start() resets it and clears
// its parameters, Bind*() set them (from 1), Step() moves on. A statement
// that reaches its end or fails is reset at once, so no read stays open to
// hold the write-ahead log back; a caller that stops early calls Reset().
class Statement {
 public:
  Statement() = default;
  Statement(sqlite3* db, std::string_view text);

  bool ok() const { return statement_ != nullptr; }

  Statement& Start();
  Statement& Bind(int index, std::string_view value);
  Statement& Bind(int index, std::int64_t value);
  Statement& BindNull(int index);
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step();
  // Steps to the end; true when the statement completed.
  bool Run();
  void Reset();

  std::string Text(int column) const;
  // The column's text as SQLite holds it: valid until the next Step or Reset.
  std::string_view View(int column) const;
  std::int64_t Int(int column) const;
  bool IsNull(int column) const;

 private:
  std::unique_ptr<sqlite3_stmt, StatementFinalizer> statement_;
};

// BEGIN IMMEDIATE: the write lock is taken at the start, so a writer never
// has to upgrade a read and fail with SQLITE_BUSY where the busy timeout
// would not help.
class Transaction {
 public:
  explicit Transaction(sqlite3* db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  Transaction(Transaction&&) = delete;
  Transaction& operator=(Transaction&&) = delete;

  bool ok() const { return begun_; }
  const std::string& error() const { return error_; }
  bool Commit();

 private:
  sqlite3* db_;
  bool begun_ = false;
  bool done_ = false;
  std::string error_;
};

}  // namespace vexel::library::sql
