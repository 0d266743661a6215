#include "library/library.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "library/library_statements.h"
#include "library/record_text.h"
#include "library/schema.h"

namespace vexel::library {
namespace {

// Long enough that the window and vexel-dl, each writing a record now and
// then, never see the other's lock as a failure.
constexpr int kBusyTimeoutMs = 10000;
// How many times, 1 ms apart, a folder's change time is read before its
// stamp is given up; the clock ticks every 1 to 10 ms.
constexpr int kStampTries = 50;

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') {
    return home;
  }
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  return {};
}

// Creates the missing folders above `path`, readable by the user alone: the
// library tells what someone reads.
void CreatePrivateParents(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
      return;  // the open then names the fault
    }
  }
}

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::string DefaultLibraryPath() {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  std::string folder;
  if (data_home != nullptr && data_home[0] == '/') {
    folder = data_home;
  } else {
    const std::string home = HomeDirectory();
    if (home.empty()) {
      return {};
    }
    folder = home + "/.local/share";
  }
  while (folder.size() > 1 && folder.back() == '/') {
    folder.pop_back();
  }
  return folder + "/vexel-downloader/library.sqlite3";
}

namespace {

// Turns the file's journal into a write-ahead log. The switch needs the file
// to itself, and SQLite answers a second program opening it at that moment
// with "database is locked" at once, without its busy handler: the switch is
// tried again until the busy timeout has passed.
bool UseWriteAheadLog(sqlite3* db) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  for (;;) {
    sql::Statement journal(db, "PRAGMA journal_mode = WAL");
    const int step = journal.ok() ? journal.Step() : SQLITE_ERROR;
    const bool wal = step == SQLITE_ROW && journal.Text(0) == "wal";
    journal.Reset();
    if (wal) {
      return true;
    }
    if (step != SQLITE_BUSY || std::chrono::steady_clock::now() >= give_up) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

OpenedLibrary Library::Open(const std::string& path, download::FileSystem& files,
                            bool create_folder) {
  OpenedLibrary opened;
  const auto fail = [&](const std::string& fault) {
    opened.error = "cannot use the library " + path + ": " + fault;
    return std::move(opened);
  };
  if (path.empty()) {
    return fail("no home directory to keep it in");
  }
  if (create_folder) {
    CreatePrivateParents(path);
  }
  int version = 0;
  if (std::string fault = CheckExistingFile(path, version); !fault.empty()) {
    return fail(fault);
  }
  std::string error;
  sql::Database db =
      sql::Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, error);
  if (!db) {
    return fail(error);
  }
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
  // WAL lets a reader and a writer work at once; with it, NORMAL
  // synchronisation never corrupts the file, and a record lost to a power
  // cut only means a chapter is looked at again.
  if (!UseWriteAheadLog(db.get())) {
    return fail("cannot use a write-ahead log: " + sql::ErrorOf(db.get()));
  }
  // A file of this version needs no step, and no write lock to find that
  // out again; any other is looked at anew under the lock. The file is read,
  // not mapped: a mapped file that another program cuts short, or a read
  // error, would end the program with SIGBUS instead of an error.
  if (!sql::Exec(db.get(), "PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON;", error) ||
      (version != kSchemaVersion && !Migrate(db.get(), error))) {
    return fail(error);
  }
  std::unique_ptr<Library> library(new Library(path, files));
  library->statements_ = std::make_unique<Statements>(std::move(db));
  if (std::string problem = library->statements_->Problem(); !problem.empty()) {
    return fail(problem);
  }
  opened.library = std::move(library);
  return opened;
}

Library::Library(std::string path, download::FileSystem& files)
    : path_(std::move(path)), files_(files) {}

Library::~Library() = default;

bool Library::OutputPresent(const RecordedOutput& output) {
  if (!output.archive.empty()) {
    look_path_.assign(output.archive);
    const download::EntryStat archive = files_.StatOf(look_path_);
    return archive.kind == download::EntryKind::File &&
           archive.size == static_cast<std::uint64_t>(output.archive_size);
  }
  if (output.folder.empty() || output.page_files.empty()) {
    return false;
  }
  look_path_.assign(output.folder);
  const download::EntryStat folder = files_.StatOf(look_path_);
  if (folder.kind != download::EntryKind::Directory) {
    return false;
  }
  // The same folder, with no entry added, removed or renamed since its
  // pages were recorded there: they are all still there. A page emptied or
  // overwritten in place is the one change this does not show; anything
  // that changes the folder brings the look at every page below.
  if (output.folder_changed_ns != 0 && folder.changed_ns == output.folder_changed_ns &&
      folder.inode == static_cast<std::uint64_t>(output.folder_inode)) {
    return true;
  }
  return PagesPresent(output.folder, output.page_files, look_path_);
}

bool Library::PagesPresent(std::string_view folder, std::string_view page_files,
                           std::string& path) {
  bool present = true;
  ForEachPageFile(page_files, [&](std::string_view name) {
    if (present) {
      path.assign(folder).append("/").append(name);
      const download::EntryStat page = files_.StatOf(path);
      present = page.kind == download::EntryKind::File && page.size > 0;
    }
  });
  return present;
}

std::pair<std::int64_t, std::int64_t> Library::StampOf(const std::string& folder,
                                                       const std::string& page_files) {
  if (folder.empty() || page_files.empty()) {
    return {0, 0};
  }
  // The last page went in just now, most likely within the clock's current
  // tick: the stamp is taken once the tick has passed, so that a change made
  // later cannot leave the folder's time as it was. A few ms, once a chapter.
  for (int tries = 0; tries < kStampTries; ++tries) {
    const download::EntryStat entry = files_.StatOf(folder);
    if (entry.kind != download::EntryKind::Directory) {
      return {0, 0};
    }
    if (entry.settled) {
      // Read after the stamp: a page that goes from here on changes it.
      std::string path;
      if (!PagesPresent(folder, page_files, path)) {
        return {0, 0};
      }
      return {entry.changed_ns, static_cast<std::int64_t>(entry.inode)};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return {0, 0};  // a clock that does not move on (a remote file system's)
}

bool Library::IsDownloaded(const std::string& address) {
  const std::lock_guard lock(mutex_);
  sql::Statement& find = statements_->find_record;
  find.Start().Bind(1, WithoutFragment(address));
  if (find.Step() != SQLITE_ROW) {
    return false;
  }
  const bool present = OutputPresent(
      {find.View(0), find.View(1), find.View(2), find.Int(3), find.Int(4), find.Int(5)});
  find.Reset();
  return present;
}

bool Library::HeldByAnother(const std::string& folder, const std::string& address) {
  const std::lock_guard lock(mutex_);
  sql::Statement& find = statements_->find_holders;
  find.Start().Bind(1, folder).Bind(2, WithoutFragment(address));
  bool held = false;
  // A holder whose output is gone has given the name up.
  while (!held && find.Step() == SQLITE_ROW) {
    held = OutputPresent(
        {find.View(0), find.View(1), find.View(2), find.Int(3), find.Int(4), find.Int(5)});
  }
  find.Reset();
  return held;
}

bool Library::Record(const download::FinishedChapter& chapter) {
  const std::string page_files = JoinPageFiles(chapter.page_files);
  // Outside the lock: it may wait a few ms.
  const auto [changed_ns, inode] = chapter.archive.empty()
                                       ? StampOf(chapter.folder, page_files)
                                       : std::pair<std::int64_t, std::int64_t>{0, 0};
  const std::lock_guard lock(mutex_);
  sql::Transaction transaction(statements_->db.get());
  return transaction.ok() && RecordLocked(chapter, page_files, changed_ns, inode) &&
         transaction.Commit();
}

bool Library::RecordLocked(const download::FinishedChapter& chapter, const std::string& page_files,
                           std::int64_t folder_changed_ns, std::int64_t folder_inode) {
  Statements& s = *statements_;
  const std::string address = WithoutFragment(chapter.address);
  const std::string comic = WithoutFragment(chapter.comic);
  if (!s.put_record.Start()
           .Bind(1, address)
           .Bind(2, chapter.title)
           .Bind(3, comic)
           .Bind(4, chapter.folder)
           .Bind(5, page_files)
           .Bind(6, chapter.archive)
           .Bind(7, chapter.archive_size)
           .Bind(8, Now())
           .Bind(9, folder_changed_ns)
           .Bind(10, folder_inode)
           .Run()) {
    return false;
  }
  if (comic.empty()) {
    return true;
  }
  s.comic_id.Start().Bind(1, comic);
  if (s.comic_id.Step() != SQLITE_ROW) {
    return true;  // not followed
  }
  const std::int64_t id = s.comic_id.Int(0);
  const std::int64_t checks = s.comic_id.Int(1);
  s.comic_id.Reset();
  return s.add_recorded_chapter.Start()
      .Bind(1, id)
      .Bind(2, address)
      .Bind(3, chapter.title)
      .Bind(4, checks)
      .Run();
}

std::optional<std::int64_t> Library::ComicId(const std::string& address) {
  sql::Statement& find = statements_->comic_id;
  find.Start().Bind(1, WithoutFragment(address));
  if (find.Step() != SQLITE_ROW) {
    return std::nullopt;
  }
  const std::int64_t id = find.Int(0);
  find.Reset();
  return id;
}

}  // namespace vexel::library
