// One chapter of the background download queue, as the queue window shows it
// and the library file keeps it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vexel::queue {

// What became of a chapter. The numbers are what the library file stores;
// never renumber them.
enum class ItemState : int {
  Waiting = 0,      // 等待
  Running = 1,      // 下载中 n/N
  Paused = 2,       // 暂停
  Done = 3,         // 完成
  FailedPages = 4,  // 有失败图片: complete, some pages failed
  Error = 5,        // 出错: with the reason
  Cancelled = 6,    // 已取消
};

// The state as stored; nothing for a number no version wrote.
bool StateFromNumber(std::int64_t number, ItemState& state);

// Done, FailedPages, Error and Cancelled: the chapter is not run again until
// it is retried.
bool Finished(ItemState state);

// How the chapter's job treats its pages, fixed when it was queued so that a
// restart downloads it as it was asked for.
struct ItemOptions {
  int jobs = 1;  // pages at once, 1 to 8
  bool pack_cbz = false;
  bool pad_pages = false;
  bool series_folders = false;
  bool skip_existing = false;
  // Where its folder goes: an absolute path; empty for the program's rule.
  std::string download_folder;
  bool operator==(const ItemOptions&) const = default;
};

struct QueueItem {
  std::int64_t id = 0;  // the item's key in the queue, > 0 once added
  std::string address;  // the chapter page's absolute address
  std::string title;    // the chapter as its link names it; may be empty
  std::string comic;    // the comic page it was listed on; empty when none
  std::string comic_title;
  ItemState state = ItemState::Waiting;
  // 出错: why; 有失败图片: empty (the pages are in `failed`).
  std::string error;
  std::vector<std::int64_t> failed;  // pages that failed, in page order
  // The chapter's folder, or its archive once packed; empty until known.
  std::string output;
  // True once a job has begun on it: a later run keeps the pages stored
  // ("已存在") whatever skip_existing says.
  bool begun = false;
  ItemOptions options;

  // Not kept in the library file: the progress of the run under way.
  std::int64_t page = 0;
  std::int32_t page_count = 0;
  std::int64_t bytes_per_second = 0;
};

}  // namespace vexel::queue
