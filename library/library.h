// The library: one SQLite file that remembers what was downloaded and where
// its output is, and the comics the user follows with their chapter lists.
// The window and vexel-dl share it; each opens its own Library on the file,
// and SQLite's locks (write-ahead log, a busy timeout of 10 s) let them work
// at once.
//
// Thread safety: every member function may be called from any thread; one
// mutex serialises them, as the connection and its prepared statements are
// shared state. Two Library objects on one file (two threads or two
// processes) are safe too: every change takes the write lock up front.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "download/chapter_list.h"
#include "download/chapter_records.h"
#include "download/file_system.h"
#include "queue/queue_store.h"

namespace vexel::library {

class Library;

struct OpenedLibrary {
  std::unique_ptr<Library> library;
  // When `library` is empty: one line that names the file and the fault,
  // "cannot use the library FILE: not a library (another program's database)".
  std::string error;
};

// $XDG_DATA_HOME/vexel-downloader/library.sqlite3 when XDG_DATA_HOME is an
// absolute path, else ~/.local/share/vexel-downloader/library.sqlite3; empty
// without a home directory.
std::string DefaultLibraryPath();

// What a write did.
struct StoreResult {
  bool ok = true;
  std::string error;  // when not ok: SQLite's message
  bool changed = false;
  explicit operator bool() const { return ok; }
};

struct ComicSummary {
  std::string address;
  std::string title;
  std::string folder;
  std::size_t total = 0;        // chapters listed at the last look
  std::size_t downloaded = 0;   // of those, recorded with their output present
  std::size_t pending = 0;      // the rest, less those set aside by --new-only
  std::int64_t last_check = 0;  // Unix time; 0 before the first
  std::string last_error;       // of the last check; empty when it went well
};

struct ComicList {
  std::vector<ComicSummary> comics;  // in the order followed
  std::string error;                 // not empty when they could not be read
};

// A listed chapter as the chapter dialog shows it.
struct ComicChapter {
  std::string address;
  std::string title;
  bool downloaded = false;
  bool set_aside = false;  // listed when the comic was followed with --new-only
  bool new_at_last_check = false;
};

struct FollowRequest {
  std::string address;  // the comic page's absolute address
  std::string title;
  // The folder its chapters go to. For a comic already followed it changes
  // only when `folder_given` (vexel-dl follow -o).
  std::string folder;
  bool folder_given = false;
  std::vector<download::ChapterLink> chapters;  // in list order
  // The chapters listed now are set aside: only later ones become pending.
  bool new_only = false;
};

class Library final : public download::ChapterRecords, public queue::QueueStore {
 public:
  // Opens the library file at `path`, creating it (and, with
  // `create_folder`, its missing folders, private to the user) when it does
  // not exist, and bringing an older one forward. A file that is no library
  // (not SQLite, another program's database, a newer version), or that
  // cannot be read or written, is refused untouched. `files` checks chapter
  // output and must outlive the library.
  static OpenedLibrary Open(const std::string& path, download::FileSystem& files,
                            bool create_folder = false);

  ~Library() override;
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  Library(Library&&) = delete;
  Library& operator=(Library&&) = delete;

  const std::string& path() const { return path_; }

  // download::ChapterRecords. Record() also lists the chapter under its
  // comic when that comic is followed and does not list it yet.
  bool IsDownloaded(const std::string& address) override;
  bool Record(const download::FinishedChapter& chapter) override;
  bool HeldByAnother(const std::string& folder, const std::string& address) override;

  // Adds the comic, or refreshes its list and title when it is followed
  // already (RefreshChapters' rules apply).
  StoreResult Follow(const FollowRequest& request);
  // Removes a comic and its list; the records of its chapters stay.
  // `changed` is false when it was not followed.
  StoreResult Unfollow(const std::string& address);
  ComicList Comics();
  // The same comics without their chapters counted (total, downloaded and
  // pending are 0): no chapter's output is looked at.
  ComicList FollowedComics();
  std::optional<ComicSummary> Comic(const std::string& address);

  // Takes `listed` as the comic's list: chapters no longer there leave it
  // (their records stay), new ones join it as first seen at this check. A
  // new address counts as downloaded when its title equals the title of a
  // downloaded chapter of this comic that is no longer listed; it is then
  // recorded under the new address too, so a site that renames its
  // addresses does not make the comic new again. `changed` is false when the
  // comic is not followed.
  StoreResult RefreshChapters(const std::string& comic,
                              const std::vector<download::ChapterLink>& listed);
  // The listed chapters that are neither downloaded nor set aside, in list
  // order.
  std::vector<download::ChapterLink> PendingChapters(const std::string& comic);
  // Every listed chapter, in list order.
  std::vector<ComicChapter> Chapters(const std::string& comic);
  // Notes a check of the comic now, and its error (empty: it went well).
  StoreResult SetLastCheck(const std::string& comic, const std::string& error);

  // queue::QueueStore: the background queue's table. A save writes only the
  // rows that changed since the queue was last read or written here.
  bool LoadQueue(std::vector<queue::QueueItem>& items, std::string& error) override;
  bool SaveQueue(const std::vector<queue::QueueItem>& items, std::string& error) override;
  // A check that went well, as update makes it: RefreshChapters and
  // SetLastCheck with no error in one transaction, then PendingChapters.
  struct Checked {
    StoreResult store;
    std::vector<download::ChapterLink> pending;
  };
  Checked Check(const std::string& comic, const std::vector<download::ChapterLink>& listed);

 private:
  struct Statements;
  Library(std::string path, download::FileSystem& files);

  // Where a record says its output is; the texts are borrowed from the row
  // or the strings they were read into.
  struct RecordedOutput {
    std::string_view folder;
    std::string_view page_files;
    std::string_view archive;
    std::int64_t archive_size = 0;
    // The folder's change time and inode once its pages were recorded there;
    // 0: no stamp, every page is looked at.
    std::int64_t folder_changed_ns = 0;
    std::int64_t folder_inode = 0;
  };
  bool OutputPresent(const RecordedOutput& output);
  // `path` is room for the page paths, kept between calls.
  bool PagesPresent(std::string_view folder, std::string_view page_files, std::string& path);
  // The stamp of `folder` with every page of `page_files` in it, or {0, 0}.
  std::pair<std::int64_t, std::int64_t> StampOf(const std::string& folder,
                                                const std::string& page_files);
  bool RecordLocked(const download::FinishedChapter& chapter, const std::string& page_files,
                    std::int64_t folder_changed_ns, std::int64_t folder_inode);
  StoreResult RefreshLocked(std::int64_t comic_id, const std::string& comic,
                            const std::vector<download::ChapterLink>& listed, bool new_only);
  std::optional<std::int64_t> ComicId(const std::string& address);
  std::vector<ComicChapter> ChaptersLocked(const std::string& comic);
  std::vector<download::ChapterLink> PendingLocked(const std::string& comic);

  std::mutex mutex_;
  std::string path_;
  download::FileSystem& files_;
  std::unique_ptr<Statements> statements_;

  // The queue's rows as this library last read or wrote them, by id, so
  // that a save of a long queue writes only what changed. Kept only while
  // `queue_rows_known_`: a save before any load reads the rows first.
  struct QueueRow {
    queue::QueueItem item;
    std::int64_t position = 0;
    // The file holds values that were made safe as they were read: the row
    // is written again at the next save.
    bool stale = false;
  };
  bool ReadQueueRows(std::unordered_map<std::int64_t, QueueRow>& rows,
                     std::vector<queue::QueueItem>& items, std::string& error);
  std::unordered_map<std::int64_t, QueueRow> queue_rows_;
  bool queue_rows_known_ = false;
  // The paths OutputPresent looks at, built here (under the mutex) so that
  // a look at many chapters allocates none.
  std::string look_path_;
};

}  // namespace vexel::library
