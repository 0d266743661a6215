// The background queue's table: read in queue order with values no version
// wrote made safe, and written as the rows that changed, in one transaction.
#include <algorithm>
#include <charconv>
#include <string_view>
#include <unordered_set>

#include "library/library.h"
#include "library/library_statements.h"

namespace vexel::library {
namespace {

using queue::QueueItem;

constexpr int kFewestJobs = 1;
constexpr int kMostJobs = 8;
// Positions as read are kept within this, so that the numbers a save hands
// out after them (one more than the row above) never run out.
constexpr std::int64_t kFarthestPosition = std::int64_t{1} << 62;

constexpr std::string_view kSelect =
    "SELECT id, position, address, title, comic, comic_title, state, error, failed, output,"
    " begun, jobs, pack_cbz, pad_pages, series_folders, skip_existing, download_folder"
    " FROM queue_items ORDER BY position, id";
constexpr std::string_view kPut =
    "INSERT INTO queue_items(id, position, address, title, comic, comic_title, state, error,"
    " failed, output, begun, jobs, pack_cbz, pad_pages, series_folders, skip_existing,"
    " download_folder) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15,"
    " ?16, ?17) ON CONFLICT(id) DO UPDATE SET position = excluded.position,"
    " address = excluded.address, title = excluded.title, comic = excluded.comic,"
    " comic_title = excluded.comic_title, state = excluded.state, error = excluded.error,"
    " failed = excluded.failed, output = excluded.output, begun = excluded.begun,"
    " jobs = excluded.jobs, pack_cbz = excluded.pack_cbz, pad_pages = excluded.pad_pages,"
    " series_folders = excluded.series_folders, skip_existing = excluded.skip_existing,"
    " download_folder = excluded.download_folder";
constexpr std::string_view kDelete = "DELETE FROM queue_items WHERE id = ?1";

std::string JoinPages(const std::vector<std::int64_t>& pages) {
  std::string text;
  for (const std::int64_t page : pages) {
    if (!text.empty()) {
      text += ',';
    }
    text += std::to_string(page);
  }
  return text;
}

// The page numbers of `text`; what is no page number is left out.
std::vector<std::int64_t> SplitPages(std::string_view text) {
  std::vector<std::int64_t> pages;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view part = text.substr(0, comma);
    std::int64_t page = 0;
    const auto [end, fault] = std::from_chars(part.data(), part.data() + part.size(), page);
    if (fault == std::errc() && end == part.data() + part.size() && page > 0) {
      pages.push_back(page);
    }
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
  }
  return pages;
}

std::int64_t Flag(bool value) { return value ? 1 : 0; }

// What the table keeps of two items is the same.
bool SameRow(const QueueItem& a, const QueueItem& b) {
  return a.id == b.id && a.address == b.address && a.title == b.title && a.comic == b.comic &&
         a.comic_title == b.comic_title && a.state == b.state && a.error == b.error &&
         a.failed == b.failed && a.output == b.output && a.begun == b.begun &&
         a.options == b.options;
}

}  // namespace

bool Library::ReadQueueRows(std::unordered_map<std::int64_t, QueueRow>& rows,
                            std::vector<QueueItem>& items, std::string& error) {
  sqlite3* db = statements_->db.get();
  sql::Statement select(db, kSelect);
  if (!select.ok()) {
    error = sql::ErrorOf(db);
    return false;
  }
  int code = SQLITE_ROW;
  while ((code = select.Step()) == SQLITE_ROW) {
    QueueItem item;
    item.id = select.Int(0);
    item.address = select.Text(2);
    item.title = select.Text(3);
    item.comic = select.Text(4);
    item.comic_title = select.Text(5);
    // A state no version wrote is taken as waiting: the chapter runs again
    // rather than the queue being lost.
    const bool known_state = queue::StateFromNumber(select.Int(6), item.state);
    item.error = select.Text(7);
    const std::string failed = select.Text(8);
    item.failed = SplitPages(failed);
    item.output = select.Text(9);
    item.begun = select.Int(10) != 0;
    const std::int64_t jobs = select.Int(11);
    item.options.jobs = static_cast<int>(std::clamp<std::int64_t>(jobs, kFewestJobs, kMostJobs));
    item.options.pack_cbz = select.Int(12) != 0;
    item.options.pad_pages = select.Int(13) != 0;
    item.options.series_folders = select.Int(14) != 0;
    item.options.skip_existing = select.Int(15) != 0;
    item.options.download_folder = select.Text(16);
    const std::int64_t position = select.Int(1);
    QueueRow row;
    row.position = std::clamp(position, -kFarthestPosition, kFarthestPosition);
    row.stale = !known_state || jobs != item.options.jobs || failed != JoinPages(item.failed) ||
                position != row.position;
    // A row without an address or a usable id is no chapter: it is not
    // shown, and the next save removes it.
    if (item.id > 0 && !item.address.empty()) {
      items.push_back(item);
    }
    const std::int64_t id = item.id;
    row.item = std::move(item);
    rows[id] = std::move(row);
  }
  if (code != SQLITE_DONE) {
    error = sql::ErrorOf(db);
    return false;
  }
  return true;
}

bool Library::LoadQueue(std::vector<QueueItem>& items, std::string& error) {
  const std::lock_guard lock(mutex_);
  items.clear();
  std::unordered_map<std::int64_t, QueueRow> rows;
  if (!ReadQueueRows(rows, items, error)) {
    items.clear();
    return false;
  }
  queue_rows_ = std::move(rows);
  queue_rows_known_ = true;
  return true;
}

bool Library::SaveQueue(const std::vector<QueueItem>& items, std::string& error) {
  const std::lock_guard lock(mutex_);
  sqlite3* db = statements_->db.get();
  sql::Transaction transaction(db);
  if (!transaction.ok()) {
    error = transaction.error();
    return false;
  }
  // Read under the write lock when this library has not seen the rows yet,
  // so that rows left by an earlier run go too.
  std::unordered_map<std::int64_t, QueueRow> read;
  if (!queue_rows_known_) {
    std::vector<QueueItem> ignored;
    if (!ReadQueueRows(read, ignored, error)) {
      return false;
    }
  }
  const std::unordered_map<std::int64_t, QueueRow>& kept = queue_rows_known_ ? queue_rows_ : read;

  // Each row keeps its position while the order allows; one that must go
  // elsewhere (new, or moved) takes the next number after the row above it.
  // A state change, an added chapter or a removed one writes only its row.
  struct Change {
    std::size_t index;
    std::int64_t position;
  };
  std::vector<Change> changes;
  std::unordered_set<std::int64_t> present;
  std::optional<std::int64_t> previous;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const QueueItem& item = items[i];
    present.insert(item.id);
    const auto found = kept.find(item.id);
    std::int64_t position = 0;
    if (found != kept.end() && (!previous || found->second.position > *previous)) {
      position = found->second.position;
    } else if (previous) {
      position = *previous + 1;
    }
    previous = position;
    if (found == kept.end() || found->second.stale || found->second.position != position ||
        !SameRow(found->second.item, item)) {
      changes.push_back({i, position});
    }
  }
  std::vector<std::int64_t> gone;
  for (const auto& [id, row] : kept) {
    if (!present.contains(id)) {
      gone.push_back(id);
    }
  }

  sql::Statement put(db, kPut);
  sql::Statement remove(db, kDelete);
  if (!put.ok() || !remove.ok()) {
    error = sql::ErrorOf(db);
    return false;
  }
  for (const Change& change : changes) {
    const QueueItem& item = items[change.index];
    if (!put.Start()
             .Bind(1, item.id)
             .Bind(2, change.position)
             .Bind(3, item.address)
             .Bind(4, item.title)
             .Bind(5, item.comic)
             .Bind(6, item.comic_title)
             .Bind(7, static_cast<std::int64_t>(item.state))
             .Bind(8, item.error)
             .Bind(9, JoinPages(item.failed))
             .Bind(10, item.output)
             .Bind(11, Flag(item.begun))
             .Bind(12, std::int64_t{item.options.jobs})
             .Bind(13, Flag(item.options.pack_cbz))
             .Bind(14, Flag(item.options.pad_pages))
             .Bind(15, Flag(item.options.series_folders))
             .Bind(16, Flag(item.options.skip_existing))
             .Bind(17, item.options.download_folder)
             .Run()) {
      error = sql::ErrorOf(db);
      return false;
    }
  }
  for (const std::int64_t id : gone) {
    if (!remove.Start().Bind(1, id).Run()) {
      error = sql::ErrorOf(db);
      return false;
    }
  }
  if (!transaction.Commit()) {
    error = transaction.error();
    return false;
  }
  // Written: the rows as they are now become what the next save compares
  // with. Until here a failure left both the file and them as they were.
  if (!queue_rows_known_) {
    queue_rows_ = std::move(read);
    queue_rows_known_ = true;
  }
  for (const Change& change : changes) {
    const QueueItem& item = items[change.index];
    queue_rows_[item.id] = QueueRow{item, change.position, false};
  }
  for (const std::int64_t id : gone) {
    queue_rows_.erase(id);
  }
  return true;
}

}  // namespace vexel::library
