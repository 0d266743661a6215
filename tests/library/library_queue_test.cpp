// The background queue's table in a real library file: what a save writes
// comes back after a reopen, rows no version wrote are made safe, and a save
// that fails leaves the file as it was.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "tests/library/library_fixture.h"

namespace vexel::library {
namespace {

using queue::ItemState;
using queue::QueueItem;

// Everything the table keeps of the items, one text each, for readable
// differences.
std::vector<std::string> Rows(const std::vector<QueueItem>& items) {
  std::vector<std::string> rows;
  for (const QueueItem& item : items) {
    std::string row = std::to_string(item.id) + "|" + item.address + "|" + item.title + "|" +
                      item.comic + "|" + item.comic_title + "|" +
                      std::to_string(static_cast<int>(item.state)) + "|" + item.error + "|";
    for (const std::int64_t page : item.failed) {
      row += std::to_string(page) + ",";
    }
    const queue::ItemOptions& o = item.options;
    row += "|" + item.output + "|" + std::to_string(static_cast<int>(item.begun)) + "|" +
           std::to_string(o.jobs) + std::to_string(static_cast<int>(o.pack_cbz)) +
           std::to_string(static_cast<int>(o.pad_pages)) +
           std::to_string(static_cast<int>(o.series_folders)) +
           std::to_string(static_cast<int>(o.skip_existing)) + "|" + o.download_folder;
    rows.push_back(row);
  }
  return rows;
}

QueueItem Item(std::int64_t id, ItemState state = ItemState::Waiting) {
  QueueItem item;
  item.id = id;
  item.address = "http://127.0.0.1/comic/1/" + std::to_string(id) + ".html";
  item.title = "第" + std::to_string(id) + "话";
  item.state = state;
  return item;
}

void Exec(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 5000);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << error;
  sqlite3_free(error);
  sqlite3_close(db);
}

std::int64_t CountRows(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*) FROM queue_items", -1, &statement, nullptr);
  const std::int64_t count =
      sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return count;
}

class LibraryQueueTest : public LibraryTest {
 protected:
  // The queue as a library opened afresh on the file reads it.
  std::vector<std::string> Reopened() {
    std::vector<QueueItem> items;
    std::string error;
    EXPECT_TRUE(OpenAt(path_)->LoadQueue(items, error)) << error;
    return Rows(items);
  }
  bool Save(const std::vector<QueueItem>& items) {
    std::string error;
    const bool saved = library_->SaveQueue(items, error);
    EXPECT_EQ(error.empty(), saved);
    return saved;
  }
};

TEST_F(LibraryQueueTest, EachSavedQueueComesBackAfterAReopen) {
  QueueItem failed = Item(2, ItemState::FailedPages);
  failed.failed = {3, 7, 8};
  failed.output = "/d/第2话.cbz";
  failed.begun = true;
  failed.comic = "http://127.0.0.1/comic/1/";
  failed.comic_title = "漫画";
  failed.options = {4, true, true, true, true, "/d"};
  QueueItem error = Item(3, ItemState::Error);
  error.error = "网络错误";
  error.title.clear();
  std::vector<QueueItem> items = {Item(1), failed, error, Item(4, ItemState::Paused)};
  ASSERT_TRUE(Save(items));
  EXPECT_EQ(Reopened(), Rows(items));

  // One library's saves in turn: a state, a move to the top, a removal, an
  // addition and a drag, each written over the one before.
  const auto saved = [&] {
    EXPECT_TRUE(Save(items));
    EXPECT_EQ(Reopened(), Rows(items));
  };
  items[0].state = ItemState::Running;
  saved();
  std::rotate(items.begin(), items.end() - 1, items.end());  // 4 1 2 3
  saved();
  items.erase(items.begin() + 1);  // 4 2 3
  items.push_back(Item(5, ItemState::Cancelled));
  saved();
  std::swap(items[0], items[2]);  // 3 2 4 5
  saved();

  // A library that saves before it reads: the rows it does not name go.
  library_ = OpenAt(path_);
  items = {Item(6)};
  saved();
}

TEST_F(LibraryQueueTest, RowsNoVersionWroteAreReadSafelyAndTheUnusableOnesGo) {
  Exec(path_,
       "INSERT INTO queue_items(id, position, address, state, jobs, failed) VALUES"
       " (1, 5, 'http://127.0.0.1/a', 99, 40, '3,x,-1,,8'),"
       " (2, 6, '', 0, 1, ''),"
       " (3, 9223372036854775807, 'http://127.0.0.1/c', 2, -3, '');");
  std::vector<QueueItem> items;
  std::string error;
  ASSERT_TRUE(library_->LoadQueue(items, error));
  ASSERT_EQ(items.size(), 2U);
  EXPECT_EQ(items[0].state, ItemState::Waiting);
  EXPECT_EQ(items[0].options.jobs, 8);
  EXPECT_EQ(items[0].failed, (std::vector<std::int64_t>{3, 8}));
  EXPECT_EQ(items[1].id, 3);
  EXPECT_EQ(items[1].state, ItemState::Paused);
  EXPECT_EQ(items[1].options.jobs, 1);
  EXPECT_EQ(CountRows(path_), 3);
  items.push_back(Item(4));  // after the last position there is
  ASSERT_TRUE(Save(items));
  EXPECT_EQ(CountRows(path_), 3);
  EXPECT_EQ(Reopened(), Rows(items));
}

TEST_F(LibraryQueueTest, AFailedSaveLeavesTheFileAsItWasAndTheNextSaveWritesAll) {
  std::vector<QueueItem> items = {Item(1), Item(2), Item(3)};
  ASSERT_TRUE(Save(items));
  const std::vector<std::string> before = Rows(items);
  // The new chapter's row is refused after the first row was written.
  Exec(path_,
       "CREATE TRIGGER refuse BEFORE INSERT ON queue_items WHEN NEW.id = 9"
       " BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  items = {Item(1, ItemState::Done), Item(3), Item(9)};
  std::string error;
  EXPECT_FALSE(library_->SaveQueue(items, error));
  EXPECT_EQ(error, "refused");
  EXPECT_EQ(Reopened(), before);
  Exec(path_, "DROP TRIGGER refuse;");
  ASSERT_TRUE(Save(items));
  EXPECT_EQ(Reopened(), Rows(items));
}

}  // namespace
}  // namespace vexel::library
