#include "library/schema.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "library/sqlite_handles.h"

namespace vexel::library {
namespace {

// Version n's step is kSteps[n - 1]: what turns a file of version n - 1 into
// one of version n.
constexpr std::array<const char*, kSchemaVersion> kSteps = {
    // 1: the records. The page files are kept as one text, the names joined
    // by "/", which no file name can hold.
    "CREATE TABLE chapter_records("
    " address TEXT PRIMARY KEY NOT NULL,"
    " title TEXT NOT NULL DEFAULT '',"
    " comic TEXT NOT NULL DEFAULT '',"
    " folder TEXT NOT NULL DEFAULT '',"
    " page_files TEXT NOT NULL DEFAULT '',"
    " archive TEXT NOT NULL DEFAULT '',"
    " archive_size INTEGER NOT NULL DEFAULT 0,"
    " recorded_at INTEGER NOT NULL DEFAULT 0);",
    // 2: followed comics. A chapter no longer listed keeps its row with no
    // position, so the moved rule can still find its title.
    "CREATE TABLE comics("
    " id INTEGER PRIMARY KEY,"
    " address TEXT NOT NULL UNIQUE,"
    " title TEXT NOT NULL DEFAULT '',"
    " folder TEXT NOT NULL DEFAULT '',"
    " followed_at INTEGER NOT NULL DEFAULT 0,"
    " checks INTEGER NOT NULL DEFAULT 0,"
    " last_check INTEGER NOT NULL DEFAULT 0,"
    " last_error TEXT NOT NULL DEFAULT '');"
    "CREATE TABLE comic_chapters("
    " comic INTEGER NOT NULL REFERENCES comics(id) ON DELETE CASCADE,"
    " address TEXT NOT NULL,"
    " title TEXT NOT NULL DEFAULT '',"
    " position INTEGER,"
    " first_seen INTEGER NOT NULL DEFAULT 0,"
    " set_aside INTEGER NOT NULL DEFAULT 0,"
    " PRIMARY KEY(comic, address)) WITHOUT ROWID;"
    "CREATE INDEX comic_chapters_by_position ON comic_chapters(comic, position);"
    "CREATE INDEX chapter_records_by_comic ON chapter_records(comic);",
    // 3: the folder's stamp as it was recorded; 0 (records of version 2):
    // none, every page is looked at.
    "ALTER TABLE chapter_records ADD COLUMN folder_changed_ns INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE chapter_records ADD COLUMN folder_inode INTEGER NOT NULL DEFAULT 0;",
    // 4: the background queue. The id is the queue's own; position orders
    // the rows and need not be dense, so that a change rewrites only the
    // rows it moves. The failed pages are kept as one text, the numbers
    // joined by ",".
    "CREATE TABLE queue_items("
    " id INTEGER PRIMARY KEY,"
    " position INTEGER NOT NULL,"
    " address TEXT NOT NULL DEFAULT '',"
    " title TEXT NOT NULL DEFAULT '',"
    " comic TEXT NOT NULL DEFAULT '',"
    " comic_title TEXT NOT NULL DEFAULT '',"
    " state INTEGER NOT NULL DEFAULT 0,"
    " error TEXT NOT NULL DEFAULT '',"
    " failed TEXT NOT NULL DEFAULT '',"
    " output TEXT NOT NULL DEFAULT '',"
    " begun INTEGER NOT NULL DEFAULT 0,"
    " jobs INTEGER NOT NULL DEFAULT 1,"
    " pack_cbz INTEGER NOT NULL DEFAULT 0,"
    " pad_pages INTEGER NOT NULL DEFAULT 0,"
    " series_folders INTEGER NOT NULL DEFAULT 0,"
    " skip_existing INTEGER NOT NULL DEFAULT 0,"
    " download_folder TEXT NOT NULL DEFAULT '');",
};

std::string Describe(int error) { return std::strerror(error); }

int ReadVersion(sqlite3* db, const char* pragma, std::string& error) {
  sql::Statement statement(db, pragma);
  if (!statement.ok() || statement.Step() != SQLITE_ROW) {
    error = sql::ErrorOf(db);
    return -1;
  }
  const auto value = static_cast<int>(statement.Int(0));
  statement.Reset();
  return value;
}

}  // namespace

std::string CheckExistingFile(const std::string& path, int& version) {
  version = 0;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    return errno == ENOENT ? std::string() : "cannot read it: " + Describe(errno);
  }
  if (!S_ISREG(info.st_mode)) {
    return "not a regular file";
  }
  if (::access(path.c_str(), R_OK) != 0) {
    return "cannot read it: " + Describe(errno);
  }
  if (::access(path.c_str(), W_OK) != 0) {
    return "cannot write it: " + Describe(errno);
  }
  if (info.st_size == 0) {
    return {};
  }
  // SQLite reads a file that is no database as empty until it writes, so
  // the header is looked at first.
  constexpr std::string_view kMagic("SQLite format 3\0", 16);
  char head[16] = {};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    return "cannot read it: " + Describe(errno);
  }
  const ssize_t got = ::read(fd, head, sizeof head);
  ::close(fd);
  if (got != static_cast<ssize_t>(sizeof head) || std::string_view(head, sizeof head) != kMagic) {
    return "not a library (not an SQLite database)";
  }
  std::string error;
  const sql::Database db = sql::Open(path, SQLITE_OPEN_READONLY, error);
  if (!db) {
    return "cannot read it: " + error;
  }
  sqlite3_busy_timeout(db.get(), 5000);
  const int application = ReadVersion(db.get(), "PRAGMA application_id", error);
  version = ReadVersion(db.get(), "PRAGMA user_version", error);
  if (application < 0 || version < 0) {
    return "not a library (" + error + ")";
  }
  if (application != kApplicationId) {
    sql::Statement tables(db.get(), "SELECT count(*) FROM sqlite_schema");
    if (!tables.ok() || tables.Step() != SQLITE_ROW) {
      return "not a library (" + sql::ErrorOf(db.get()) + ")";
    }
    const std::int64_t count = tables.Int(0);
    tables.Reset();
    // An empty database (made by `sqlite3 FILE` and nothing more) holds
    // nothing to lose; anything else belongs to another program.
    if (count != 0 || version != 0) {
      return "not a library (another program's database)";
    }
    version = 0;
  }
  if (version > kSchemaVersion) {
    return "made by a newer version of the program (library version " + std::to_string(version) +
           ", this one reads up to " + std::to_string(kSchemaVersion) + ")";
  }
  return {};
}

bool Migrate(sqlite3* db, std::string& error) {
  sql::Transaction transaction(db);
  if (!transaction.ok()) {
    error = transaction.error();
    return false;
  }
  // Read again under the write lock: another process may have created or
  // migrated the file since it was checked.
  const int version = ReadVersion(db, "PRAGMA user_version", error);
  if (version < 0) {
    return false;
  }
  if (version == kSchemaVersion) {
    return true;  // rolled back: nothing was changed
  }
  if (version > kSchemaVersion) {
    error = "made by a newer version of the program";
    return false;
  }
  for (int step = version; step < kSchemaVersion; ++step) {
    if (!sql::Exec(db, kSteps[static_cast<std::size_t>(step)], error)) {
      return false;
    }
  }
  const std::string stamp = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                            "; PRAGMA user_version = " + std::to_string(kSchemaVersion) + ";";
  if (!sql::Exec(db, stamp.c_str(), error) || !transaction.Commit()) {
    if (error.empty()) {
      error = transaction.error();
    }
    return false;
  }
  return true;
}

}  // namespace vexel::library
