#include "library/library.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "library/library_statements.h"
#include "library/record_text.h"
#include "library/schema.h"

namespace vexel::library {
namespace {

// Long enough that the window and vexel-dl, each writing a record now and
// then, never see the other's lock as a failure.
constexpr int kBusyTimeoutMs = 10000;

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
  sql::Statement journal(db.get(), "PRAGMA journal_mode = WAL");
  if (!journal.ok() || journal.Step() != SQLITE_ROW || journal.Text(0) != "wal") {
    journal.Reset();
    return fail("cannot use a write-ahead log: " + sql::ErrorOf(db.get()));
  }
  journal.Reset();
  if (!sql::Exec(db.get(), "PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON;", error) ||
      !Migrate(db.get(), error)) {
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

bool Library::OutputPresent(const std::string& folder, const std::string& page_files,
                            const std::string& archive, std::int64_t archive_size) {
  if (!archive.empty()) {
    const download::FileEnds ends = files_.ReadEnds(archive, 0, 0);
    return ends.error == 0 && ends.regular && ends.size == static_cast<std::uint64_t>(archive_size);
  }
  if (folder.empty() || page_files.empty() ||
      files_.KindOf(folder) != download::EntryKind::Directory) {
    return false;
  }
  bool present = true;
  ForEachPageFile(page_files, [&](std::string_view name) {
    if (present) {
      const download::FileEnds ends = files_.ReadEnds(folder + "/" + std::string(name), 0, 0);
      present = ends.error == 0 && ends.regular && ends.size > 0;
    }
  });
  return present;
}

bool Library::IsDownloaded(const std::string& address) {
  const std::lock_guard lock(mutex_);
  sql::Statement& find = statements_->find_record;
  find.Start().Bind(1, WithoutFragment(address));
  if (find.Step() != SQLITE_ROW) {
    return false;
  }
  const std::string folder = find.Text(0);
  const std::string pages = find.Text(1);
  const std::string archive = find.Text(2);
  const std::int64_t size = find.Int(3);
  find.Reset();
  return OutputPresent(folder, pages, archive, size);
}

bool Library::Record(const download::FinishedChapter& chapter) {
  const std::lock_guard lock(mutex_);
  sql::Transaction transaction(statements_->db.get());
  return transaction.ok() && RecordLocked(chapter) && transaction.Commit();
}

bool Library::RecordLocked(const download::FinishedChapter& chapter) {
  Statements& s = *statements_;
  const std::string address = WithoutFragment(chapter.address);
  const std::string comic = WithoutFragment(chapter.comic);
  if (!s.put_record.Start()
           .Bind(1, address)
           .Bind(2, chapter.title)
           .Bind(3, comic)
           .Bind(4, chapter.folder)
           .Bind(5, JoinPageFiles(chapter.page_files))
           .Bind(6, chapter.archive)
           .Bind(7, chapter.archive_size)
           .Bind(8, Now())
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
