#include "library/sqlite_handles.h"

namespace vexel::library::sql {

Database Open(const std::string& path, int flags, std::string& error) {
  sqlite3* raw = nullptr;
  const int code = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  // SQLite hands back a connection even when the open fails, to carry the
  // message; it is closed either way.
  Database db(raw);
  if (code != SQLITE_OK) {
    error = db ? ErrorOf(db.get()) : sqlite3_errstr(code);
    db.reset();
  }
  return db;
}

std::string ErrorOf(sqlite3* db) { return sqlite3_errmsg(db); }

bool Exec(sqlite3* db, const char* sql, std::string& error) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    error = ErrorOf(db);
    return false;
  }
  return true;
}

Statement::Statement(sqlite3* db, std::string_view text) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v3(db, text.data(), static_cast<int>(text.size()), SQLITE_PREPARE_PERSISTENT,
                         &raw, nullptr) == SQLITE_OK) {
    statement_.reset(raw);
  }
}

Statement& Statement::Start() {
  sqlite3_reset(statement_.get());
  sqlite3_clear_bindings(statement_.get());
  return *this;
}

Statement& Statement::Bind(int index, std::string_view value) {
  // A null pointer would bind NULL; an empty text stays a text.
  sqlite3_bind_text(statement_.get(), index, value.data() == nullptr ? "" : value.data(),
                    static_cast<int>(value.size()), SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::Bind(int index, std::int64_t value) {
  sqlite3_bind_int64(statement_.get(), index, value);
  return *this;
}

Statement& Statement::BindNull(int index) {
  sqlite3_bind_null(statement_.get(), index);
  return *this;
}

int Statement::Step() {
  const int code = sqlite3_step(statement_.get());
  if (code != SQLITE_ROW) {
    sqlite3_reset(statement_.get());
  }
  return code;
}

bool Statement::Run() {
  int code = SQLITE_ROW;
  while (code == SQLITE_ROW) {
    code = Step();
  }
  return code == SQLITE_DONE;
}

void Statement::Reset() { sqlite3_reset(statement_.get()); }

std::string Statement::Text(int column) const { return std::string(View(column)); }

std::string_view Statement::View(int column) const {
  const unsigned char* text = sqlite3_column_text(statement_.get(), column);
  const int size = sqlite3_column_bytes(statement_.get(), column);
  return text == nullptr ? std::string_view()
                         : std::string_view(reinterpret_cast<const char*>(text),
                                            static_cast<std::size_t>(size));
}

std::int64_t Statement::Int(int column) const {
  return sqlite3_column_int64(statement_.get(), column);
}

bool Statement::IsNull(int column) const {
  return sqlite3_column_type(statement_.get(), column) == SQLITE_NULL;
}

Transaction::Transaction(sqlite3* db) : db_(db) { begun_ = Exec(db_, "BEGIN IMMEDIATE", error_); }

Transaction::~Transaction() {
  if (begun_ && !done_) {
    std::string ignored;
    Exec(db_, "ROLLBACK", ignored);
  }
}

bool Transaction::Commit() {
  if (!begun_ || done_) {
    return false;
  }
  done_ = Exec(db_, "COMMIT", error_);
  return done_;
}

}  // namespace vexel::library::sql
