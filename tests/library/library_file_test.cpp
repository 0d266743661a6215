// The library file itself: older versions brought forward, files that are no
// library left byte for byte as they were, and two writers at once.
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "library/schema.h"
#include "tests/library/library_fixture.h"

namespace vexel::library {
namespace {

using testing::ReadWholeFile;
using testing::TempDir;
using testing::WriteWholeFile;

// Runs `sql` on a new database at `path`, as an older program (or another
// one) would have left it.
void MakeDatabase(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << error;
  sqlite3_free(error);
  sqlite3_close(db);
}

int UserVersion(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &statement, nullptr);
  const int version = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int(statement, 0) : -1;
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return version;
}

TEST(LibraryFileTest, EachOlderVersionIsBroughtForwardWithItsRecords) {
  TempDir dir;
  // Version 0: an empty database, as `sqlite3 FILE` leaves one.
  MakeDatabase(dir / "v0.sqlite3", "VACUUM;");
  // Version 1: the records alone.
  MakeDatabase(dir / "v1.sqlite3",
               "CREATE TABLE chapter_records(address TEXT PRIMARY KEY NOT NULL,"
               " title TEXT NOT NULL DEFAULT '', comic TEXT NOT NULL DEFAULT '',"
               " folder TEXT NOT NULL DEFAULT '', page_files TEXT NOT NULL DEFAULT '',"
               " archive TEXT NOT NULL DEFAULT '', archive_size INTEGER NOT NULL DEFAULT 0,"
               " recorded_at INTEGER NOT NULL DEFAULT 0);"
               "PRAGMA application_id = 1448627266; PRAGMA user_version = 1;");
  std::filesystem::create_directories(dir / "ch");
  WriteWholeFile(dir / "ch/1.png", "x");
  const std::string insert =
      "INSERT INTO chapter_records(address, title, comic, folder, page_files) VALUES("
      "'http://h/c/1.html', '第1话', 'http://h/c/', '" +
      (dir / "ch") + "', '1.png');";
  MakeDatabase(dir / "v1.sqlite3", insert.c_str());

  // Version 2: the comics and their lists beside the records, which hold no
  // folder stamp yet.
  MakeDatabase(dir / "v2.sqlite3",
               "CREATE TABLE chapter_records(address TEXT PRIMARY KEY NOT NULL,"
               " title TEXT NOT NULL DEFAULT '', comic TEXT NOT NULL DEFAULT '',"
               " folder TEXT NOT NULL DEFAULT '', page_files TEXT NOT NULL DEFAULT '',"
               " archive TEXT NOT NULL DEFAULT '', archive_size INTEGER NOT NULL DEFAULT 0,"
               " recorded_at INTEGER NOT NULL DEFAULT 0);"
               "CREATE TABLE comics(id INTEGER PRIMARY KEY, address TEXT NOT NULL UNIQUE,"
               " title TEXT NOT NULL DEFAULT '', folder TEXT NOT NULL DEFAULT '',"
               " followed_at INTEGER NOT NULL DEFAULT 0, checks INTEGER NOT NULL DEFAULT 0,"
               " last_check INTEGER NOT NULL DEFAULT 0, last_error TEXT NOT NULL DEFAULT '');"
               "CREATE TABLE comic_chapters("
               " comic INTEGER NOT NULL REFERENCES comics(id) ON DELETE CASCADE,"
               " address TEXT NOT NULL, title TEXT NOT NULL DEFAULT '', position INTEGER,"
               " first_seen INTEGER NOT NULL DEFAULT 0, set_aside INTEGER NOT NULL DEFAULT 0,"
               " PRIMARY KEY(comic, address)) WITHOUT ROWID;"
               "CREATE INDEX comic_chapters_by_position ON comic_chapters(comic, position);"
               "CREATE INDEX chapter_records_by_comic ON chapter_records(comic);"
               "PRAGMA application_id = 1448627266; PRAGMA user_version = 2;");
  MakeDatabase(dir / "v2.sqlite3", insert.c_str());
  // Version 3: the same with each record's folder stamp, none taken yet.
  std::filesystem::copy_file(dir / "v2.sqlite3", dir / "v3.sqlite3");
  MakeDatabase(dir / "v3.sqlite3",
               "ALTER TABLE chapter_records ADD COLUMN folder_changed_ns INTEGER NOT NULL"
               " DEFAULT 0;"
               "ALTER TABLE chapter_records ADD COLUMN folder_inode INTEGER NOT NULL DEFAULT 0;"
               "PRAGMA user_version = 3;");

  for (const char* name :
       {"v0.sqlite3", "v1.sqlite3", "v2.sqlite3", "v3.sqlite3", "new/none.sqlite3"}) {
    SCOPED_TRACE(name);
    OpenedLibrary opened =
        Library::Open(dir / name, files::RealFileSystem(), /*create_folder=*/true);
    ASSERT_NE(opened.library, nullptr) << opened.error;
    EXPECT_EQ(UserVersion(dir / name), kSchemaVersion);
    ASSERT_TRUE(opened.library->Follow(
        {"http://h/c/", "T", "/c", true, {{"http://h/c/1.html", "第1话"}}, false}));
    const bool recorded = name[1] == '1' || name[1] == '2' || name[1] == '3';
    EXPECT_EQ(opened.library->Comic("http://h/c/")->downloaded, recorded ? 1U : 0U);
    // Without a stamp, the pages are looked at: one gone is seen.
    if (recorded) {
      std::filesystem::rename(dir / "ch/1.png", dir / "ch/1.old");
      EXPECT_FALSE(opened.library->IsDownloaded("http://h/c/1.html"));
      std::filesystem::rename(dir / "ch/1.old", dir / "ch/1.png");
    }
    // The queue's table is there, empty.
    std::vector<queue::QueueItem> queued(1);
    std::string error;
    EXPECT_TRUE(opened.library->LoadQueue(queued, error)) << error;
    EXPECT_TRUE(queued.empty());
  }
  EXPECT_EQ(std::filesystem::status(dir / "new").permissions(), std::filesystem::perms::owner_all);
  // Opened again at the current version, nothing is migrated twice.
  EXPECT_NE(Library::Open(dir / "v1.sqlite3", files::RealFileSystem()).library, nullptr);
}

TEST(LibraryFileTest, TheDefaultFileIsInTheUsersDataFolder) {
  const std::string saved_home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  ::setenv("HOME", "/home/reader", 1);
  ::setenv("XDG_DATA_HOME", "/data/", 1);
  EXPECT_EQ(DefaultLibraryPath(), "/data/vexel-downloader/library.sqlite3");
  ::setenv("XDG_DATA_HOME", "relative/data", 1);  // not absolute: ignored
  EXPECT_EQ(DefaultLibraryPath(), "/home/reader/.local/share/vexel-downloader/library.sqlite3");
  ::unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(DefaultLibraryPath(), "/home/reader/.local/share/vexel-downloader/library.sqlite3");
  ::setenv("HOME", saved_home.c_str(), 1);
}

// Runs `check` in a child process that, when the tests run as root, has
// become an ordinary user first, for whom file permissions hold.
bool AsOrdinaryUser(const std::function<bool()>& check) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(2);
    }
    ::_exit(check() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(LibraryFileTest, AFileThatIsNoLibraryIsRefusedAndLeftAsItWas) {
  TempDir dir;
  ::chmod(dir.path().c_str(), 0777);  // for the ordinary user below
  MakeDatabase(dir / "foreign.sqlite3",
               "CREATE TABLE notes(text TEXT); INSERT INTO notes VALUES('x');");
  MakeDatabase(dir / "newer.sqlite3",
               "PRAGMA application_id = 1448627266; PRAGMA user_version = 9;"
               " CREATE TABLE queue(x);");
  WriteWholeFile(dir / "garbage.sqlite3", std::string(5000, 'G'));
  WriteWholeFile(dir / "half.sqlite3", "SQLite format 3");
  MakeDatabase(dir / "unreadable.sqlite3", "VACUUM;");
  MakeDatabase(dir / "unwritable.sqlite3", "VACUUM;");
  ::chmod((dir / "unreadable.sqlite3").c_str(), 0200);
  ::chmod((dir / "unwritable.sqlite3").c_str(), 0444);
  std::filesystem::create_directory(dir / "folder.sqlite3");

  struct Case {
    std::string name;
    std::string fault;
    bool permissions = false;  // tried as an ordinary user
  };
  const std::vector<Case> cases = {
      {"foreign.sqlite3", "not a library (another program's database)"},
      {"newer.sqlite3", "made by a newer version of the program (library version 9"},
      {"garbage.sqlite3", "not a library (not an SQLite database)"},
      {"half.sqlite3", "not a library (not an SQLite database)"},
      {"unreadable.sqlite3", "cannot read it: Permission denied", true},
      {"unwritable.sqlite3", "cannot write it: Permission denied", true},
      {"folder.sqlite3", "not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / c.name;
    const std::string before = c.name == "folder.sqlite3" ? "" : ReadWholeFile(path);
    const auto refused = [&] {
      const OpenedLibrary opened = Library::Open(path, files::RealFileSystem());
      return opened.library == nullptr &&
             opened.error.starts_with("cannot use the library " + path + ": " + c.fault);
    };
    EXPECT_TRUE(c.permissions ? AsOrdinaryUser(refused) : refused());
    if (c.name != "folder.sqlite3") {
      EXPECT_EQ(ReadWholeFile(path), before);
    }
    EXPECT_FALSE(std::filesystem::exists(path + "-wal"));
  }
}

TEST(LibraryFileTest, TwoWritersAtOnceLoseNoRecord) {
  TempDir dir;
  const std::string path = dir / "library.sqlite3";
  WriteWholeFile(dir / "a.cbz", "zip");
  constexpr int kEach = 150;
  const auto writer = [&](char side, bool& all_recorded) {
    OpenedLibrary opened = Library::Open(path, files::RealFileSystem());
    all_recorded = opened.library != nullptr;
    for (int i = 0; i < kEach && all_recorded; ++i) {
      download::FinishedChapter chapter;
      chapter.address = "http://h/" + std::string(1, side) + std::to_string(i);
      chapter.archive = dir / "a.cbz";
      chapter.archive_size = 3;
      all_recorded =
          opened.library->Record(chapter) && opened.library->IsDownloaded(chapter.address);
    }
  };
  bool first = false;
  bool second = false;
  {
    std::jthread one(writer, 'a', std::ref(first));
    std::jthread two(writer, 'b', std::ref(second));
  }
  EXPECT_TRUE(first);
  EXPECT_TRUE(second);
  const std::unique_ptr<Library> library = Library::Open(path, files::RealFileSystem()).library;
  ASSERT_NE(library, nullptr);
  for (int i = 0; i < kEach; ++i) {
    EXPECT_TRUE(library->IsDownloaded("http://h/a" + std::to_string(i)));
    EXPECT_TRUE(library->IsDownloaded("http://h/b" + std::to_string(i)));
  }
}

}  // namespace
}  // namespace vexel::library
