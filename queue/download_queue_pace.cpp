// The pace of the queue's pages and the line at the foot of the queue
// window: the counts by state and the estimate of the time left.
#include <algorithm>
#include <cmath>

#include "queue/download_queue.h"

namespace vexel::queue {

void DownloadQueue::StopClock() {
  page_clock_.reset();
  clock_item_ = 0;
  clock_page_ = 0;
}

void DownloadQueue::Progress(std::int64_t id, std::int64_t page, std::int32_t page_count,
                             std::int64_t bytes_per_second,
                             std::chrono::steady_clock::time_point now) {
  QueueItem* item = Get(id);
  if (item == nullptr || item->state != ItemState::Running) {
    return;
  }
  item->page = page;
  item->page_count = page_count;
  item->bytes_per_second = bytes_per_second;
  if (!page_clock_ || clock_item_ != id || page < clock_page_) {
    // The first report of a run starts the clock: the time before it went
    // to loading the chapter, not to its pages.
    page_clock_ = now;
    clock_item_ = id;
    clock_page_ = page;
    return;
  }
  if (page > clock_page_) {
    pages_done_ += page - clock_page_;
    page_time_ += now - *page_clock_;
    page_clock_ = now;
    clock_page_ = page;
  }
}

QueueTotals DownloadQueue::Totals(std::chrono::steady_clock::time_point now) const {
  QueueTotals totals;
  totals.total = items_.size();
  auto chapter_pages = static_cast<double>(chapter_pages_seen_);
  auto chapters = static_cast<double>(chapters_seen_);
  for (const QueueItem& item : items_) {
    switch (item.state) {
      case ItemState::Waiting:
        ++totals.waiting;
        break;
      case ItemState::Running:
        ++totals.waiting;
        if (item.page_count > 0) {
          chapter_pages += item.page_count;
          chapters += 1;
        }
        break;
      case ItemState::Paused:
        ++totals.paused;
        break;
      case ItemState::Done:
        ++totals.done;
        break;
      case ItemState::FailedPages:
        ++totals.failed_pages;
        break;
      case ItemState::Error:
        ++totals.errors;
        break;
      case ItemState::Cancelled:
        ++totals.cancelled;
        break;
    }
  }
  if (pages_done_ == 0 || chapters == 0) {
    return totals;
  }
  const double per_page =
      std::chrono::duration<double>(page_time_).count() / static_cast<double>(pages_done_);
  const double per_chapter = chapter_pages / chapters;
  double pages_left = 0;
  for (const QueueItem& item : items_) {
    if (item.state == ItemState::Running) {
      pages_left +=
          item.page_count > 0
              ? static_cast<double>(std::max<std::int64_t>(item.page_count - item.page, 0))
              : per_chapter;
    } else if (item.state == ItemState::Waiting) {
      pages_left += per_chapter;
    }
  }
  double left = per_page * pages_left;
  // The page under way has been at it since the last report: the estimate
  // counts down between pages, by at most that page's share.
  if (page_clock_ && pages_left > 0) {
    const double since = std::chrono::duration<double>(now - *page_clock_).count();
    left -= std::clamp(since, 0.0, per_page);
  }
  totals.left = std::chrono::seconds(static_cast<std::int64_t>(std::ceil(std::max(left, 0.0))));
  return totals;
}

}  // namespace vexel::queue
