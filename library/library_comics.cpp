// The followed comics: their lists, what of them is pending, and the moved
// rule that keeps a renamed chapter from looking new.
#include <chrono>
#include <map>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "library/library.h"
#include "library/library_statements.h"
#include "library/record_text.h"

namespace vexel::library {
namespace {

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

StoreResult Failed(sqlite3* db) { return {false, sql::ErrorOf(db), false}; }

// A downloaded chapter of a comic, as the moved rule sees it.
struct EarlierChapter {
  std::string address;
  std::string record_title;
  std::string list_title;
  std::string folder;
  std::string page_files;
  std::string archive;
  std::int64_t archive_size = 0;
  std::int64_t folder_changed_ns = 0;
  std::int64_t folder_inode = 0;
  bool used = false;
};

}  // namespace

StoreResult Library::Follow(const FollowRequest& request) {
  const std::lock_guard lock(mutex_);
  Statements& s = *statements_;
  sqlite3* db = s.db.get();
  sql::Transaction transaction(db);
  if (!transaction.ok()) {
    return {false, transaction.error(), false};
  }
  const std::string address = WithoutFragment(request.address);
  std::optional<std::int64_t> id = ComicId(address);
  if (!id) {
    if (!s.insert_comic.Start()
             .Bind(1, address)
             .Bind(2, request.title)
             .Bind(3, request.folder)
             .Bind(4, Now())
             .Run()) {
      return Failed(db);
    }
    id = sqlite3_last_insert_rowid(db);
  } else if (!s.update_comic.Start()
                  .Bind(1, *id)
                  .Bind(2, request.title)
                  .Bind(3, std::int64_t{request.folder_given ? 1 : 0})
                  .Bind(4, request.folder)
                  .Run()) {
    return Failed(db);
  }
  StoreResult result = RefreshLocked(*id, address, request.chapters, request.new_only);
  if (!result) {
    return result;
  }
  // Following loaded the page: that was a check.
  if (!s.set_last_check.Start().Bind(1, address).Bind(2, Now()).Bind(3, std::string_view()).Run() ||
      !transaction.Commit()) {
    return Failed(db);
  }
  return {true, {}, true};
}

StoreResult Library::Unfollow(const std::string& address) {
  const std::lock_guard lock(mutex_);
  Statements& s = *statements_;
  sqlite3* db = s.db.get();
  sql::Transaction transaction(db);
  if (!transaction.ok()) {
    return {false, transaction.error(), false};
  }
  const std::optional<std::int64_t> id = ComicId(address);
  if (!id) {
    return {true, {}, false};
  }
  if (!s.delete_comic_chapters.Start().Bind(1, *id).Run() ||
      !s.delete_comic.Start().Bind(1, *id).Run() || !transaction.Commit()) {
    return Failed(db);
  }
  return {true, {}, true};
}

StoreResult Library::RefreshChapters(const std::string& comic,
                                     const std::vector<download::ChapterLink>& listed) {
  const std::lock_guard lock(mutex_);
  sqlite3* db = statements_->db.get();
  sql::Transaction transaction(db);
  if (!transaction.ok()) {
    return {false, transaction.error(), false};
  }
  const std::string address = WithoutFragment(comic);
  const std::optional<std::int64_t> id = ComicId(address);
  if (!id) {
    return {true, {}, false};
  }
  StoreResult result = RefreshLocked(*id, address, listed, false);
  if (result && !transaction.Commit()) {
    return Failed(db);
  }
  return result;
}

StoreResult Library::RefreshLocked(std::int64_t comic_id, const std::string& comic,
                                   const std::vector<download::ChapterLink>& listed,
                                   bool new_only) {
  Statements& s = *statements_;
  sqlite3* db = s.db.get();
  if (!s.count_check.Start().Bind(1, comic_id).Run()) {
    return Failed(db);
  }
  s.comic_id.Start().Bind(1, comic);
  if (s.comic_id.Step() != SQLITE_ROW) {
    return Failed(db);
  }
  const std::int64_t check = s.comic_id.Int(1);
  s.comic_id.Reset();

  struct Known {
    std::string title;
    std::optional<std::int64_t> position;
    bool listed_now = false;
  };
  std::unordered_map<std::string, Known> known;
  s.list_of_comic.Start().Bind(1, comic_id);
  int code = SQLITE_ROW;
  while ((code = s.list_of_comic.Step()) == SQLITE_ROW) {
    Known entry{s.list_of_comic.Text(1), std::nullopt, false};
    if (!s.list_of_comic.IsNull(2)) {
      entry.position = s.list_of_comic.Int(2);
    }
    known.emplace(s.list_of_comic.Text(0), std::move(entry));
  }
  if (code != SQLITE_DONE) {
    return Failed(db);
  }

  std::vector<std::pair<std::string, std::string>> added;  // address, title
  std::unordered_set<std::string> listed_now;
  std::int64_t position = 0;
  for (const download::ChapterLink& link : listed) {
    std::string address = WithoutFragment(link.address);
    if (!listed_now.insert(address).second) {
      continue;
    }
    const auto found = known.find(address);
    bool ok = true;
    if (found == known.end()) {
      ok = s.insert_listed.Start()
               .Bind(1, comic_id)
               .Bind(2, address)
               .Bind(3, link.title)
               .Bind(4, position)
               .Bind(5, check)
               .Bind(6, std::int64_t{new_only ? 1 : 0})
               .Run();
      added.emplace_back(std::move(address), link.title);
    } else {
      found->second.listed_now = true;
      if (found->second.title != link.title || found->second.position != position) {
        ok = s.update_listed.Start()
                 .Bind(1, comic_id)
                 .Bind(2, address)
                 .Bind(3, link.title)
                 .Bind(4, position)
                 .Run();
      }
    }
    if (!ok) {
      return Failed(db);
    }
    ++position;
  }
  for (const auto& [address, entry] : known) {
    if (!entry.listed_now && entry.position &&
        !s.unlist.Start().Bind(1, comic_id).Bind(2, address).Run()) {
      return Failed(db);
    }
  }
  if (new_only && !s.set_aside_listed.Start().Bind(1, comic_id).Run()) {
    return Failed(db);
  }
  if (added.empty()) {
    return {true, {}, true};
  }

  // The moved rule, only when something is new. Downloaded chapters of the
  // comic that are no longer listed, by the titles they were known under.
  std::vector<EarlierChapter> earlier;
  sql::Statement& records = s.records_of_comic;
  records.Start().Bind(1, comic_id).Bind(2, comic);
  while ((code = records.Step()) == SQLITE_ROW) {
    std::string address = records.Text(0);
    if (listed_now.contains(address)) {
      continue;
    }
    earlier.push_back({std::move(address), records.Text(1), records.Text(6), records.Text(2),
                       records.Text(3), records.Text(4), records.Int(5), records.Int(7),
                       records.Int(8), false});
  }
  if (code != SQLITE_DONE) {
    return Failed(db);
  }
  if (earlier.empty()) {
    return {true, {}, true};
  }
  std::multimap<std::string_view, EarlierChapter*> by_title;
  for (EarlierChapter& chapter : earlier) {
    by_title.emplace(chapter.list_title.empty() ? chapter.record_title : chapter.list_title,
                     &chapter);
    if (!chapter.list_title.empty() && chapter.record_title != chapter.list_title) {
      by_title.emplace(chapter.record_title, &chapter);
    }
  }
  for (const auto& [address, title] : added) {
    s.find_record.Start().Bind(1, address);
    if (s.find_record.Step() == SQLITE_ROW) {
      s.find_record.Reset();
      continue;  // recorded under this address already
    }
    const auto [first, last] = by_title.equal_range(title);
    for (auto it = first; it != last; ++it) {
      EarlierChapter& chapter = *it->second;
      if (chapter.used ||
          !OutputPresent({chapter.folder, chapter.page_files, chapter.archive, chapter.archive_size,
                          chapter.folder_changed_ns, chapter.folder_inode})) {
        continue;
      }
      chapter.used = true;
      if (!s.put_record.Start()
               .Bind(1, address)
               .Bind(2, chapter.record_title)
               .Bind(3, comic)
               .Bind(4, chapter.folder)
               .Bind(5, chapter.page_files)
               .Bind(6, chapter.archive)
               .Bind(7, chapter.archive_size)
               .Bind(8, Now())
               .Bind(9, chapter.folder_changed_ns)
               .Bind(10, chapter.folder_inode)
               .Run()) {
        return Failed(db);
      }
      break;
    }
  }
  return {true, {}, true};
}

std::vector<ComicChapter> Library::ChaptersLocked(const std::string& comic) {
  std::vector<ComicChapter> chapters;
  Statements& s = *statements_;
  s.comic_id.Start().Bind(1, WithoutFragment(comic));
  if (s.comic_id.Step() != SQLITE_ROW) {
    return chapters;
  }
  const std::int64_t id = s.comic_id.Int(0);
  const std::int64_t check = s.comic_id.Int(1);
  s.comic_id.Reset();
  sql::Statement& rows = s.chapters_of_comic;
  rows.Start().Bind(1, id);
  while (rows.Step() == SQLITE_ROW) {
    ComicChapter chapter;
    chapter.address = rows.Text(0);
    chapter.title = rows.Text(1);
    // The first check is the follow itself: nothing is new then.
    chapter.new_at_last_check = check > 1 && rows.Int(2) == check;
    chapter.set_aside = rows.Int(3) != 0;
    chapter.downloaded =
        rows.Int(8) != 0 && OutputPresent({rows.View(4), rows.View(5), rows.View(6), rows.Int(7),
                                           rows.Int(9), rows.Int(10)});
    chapters.push_back(std::move(chapter));
  }
  return chapters;
}

std::vector<ComicChapter> Library::Chapters(const std::string& comic) {
  const std::lock_guard lock(mutex_);
  return ChaptersLocked(comic);
}

std::vector<download::ChapterLink> Library::PendingLocked(const std::string& comic) {
  std::vector<download::ChapterLink> pending;
  const std::optional<std::int64_t> id = ComicId(comic);
  if (!id) {
    return pending;
  }
  // The rows of ChaptersLocked, with no look at the output of a chapter set
  // aside and nothing copied of one that is downloaded.
  sql::Statement& rows = statements_->chapters_of_comic;
  rows.Start().Bind(1, *id);
  while (rows.Step() == SQLITE_ROW) {
    if (rows.Int(3) != 0 ||
        (rows.Int(8) != 0 && OutputPresent({rows.View(4), rows.View(5), rows.View(6), rows.Int(7),
                                            rows.Int(9), rows.Int(10)}))) {
      continue;
    }
    pending.push_back({rows.Text(0), rows.Text(1)});
  }
  return pending;
}

std::vector<download::ChapterLink> Library::PendingChapters(const std::string& comic) {
  const std::lock_guard lock(mutex_);
  return PendingLocked(comic);
}

Library::Checked Library::Check(const std::string& comic,
                                const std::vector<download::ChapterLink>& listed) {
  const std::lock_guard lock(mutex_);
  Statements& s = *statements_;
  sqlite3* db = s.db.get();
  const std::string address = WithoutFragment(comic);
  Checked checked;
  {
    sql::Transaction transaction(db);
    if (!transaction.ok()) {
      checked.store = {false, transaction.error(), false};
      return checked;
    }
    const std::optional<std::int64_t> id = ComicId(address);
    if (!id) {
      checked.store = {true, {}, false};
      return checked;
    }
    checked.store = RefreshLocked(*id, address, listed, false);
    if (!checked.store) {
      return checked;
    }
    if (!s.set_last_check.Start()
             .Bind(1, address)
             .Bind(2, Now())
             .Bind(3, std::string_view())
             .Run() ||
        !transaction.Commit()) {
      checked.store = Failed(db);
      return checked;
    }
  }
  // After the commit: the looks at the chapters' output hold no lock.
  checked.pending = PendingLocked(address);
  return checked;
}

StoreResult Library::SetLastCheck(const std::string& comic, const std::string& error) {
  const std::lock_guard lock(mutex_);
  Statements& s = *statements_;
  sqlite3* db = s.db.get();
  sql::Transaction transaction(db);
  if (!transaction.ok()) {
    return {false, transaction.error(), false};
  }
  if (!s.set_last_check.Start()
           .Bind(1, WithoutFragment(comic))
           .Bind(2, Now())
           .Bind(3, error)
           .Run()) {
    return Failed(db);
  }
  const bool changed = sqlite3_changes(db) > 0;
  if (!transaction.Commit()) {
    return Failed(db);
  }
  return {true, {}, changed};
}

}  // namespace vexel::library
