#include "queue/download_queue.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace vexel::queue {
namespace {

constexpr const char* kErrorText = "下载出错";

// Puts the items `ids` (in their queue order) before the first other item
// at or after `row`, as a drag drops them; past the end, at the end. False
// when the order stays as it was.
bool MoveBefore(std::vector<QueueItem>& items, const std::vector<std::int64_t>& ids,
                std::size_t row) {
  const std::unordered_set<std::int64_t> chosen(ids.begin(), ids.end());
  std::vector<std::size_t> moved;
  std::vector<std::size_t> rest;
  std::optional<std::size_t> at;  // where in `rest` the moved ones go
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (chosen.contains(items[i].id)) {
      moved.push_back(i);
      continue;
    }
    if (i >= row && !at) {
      at = rest.size();
    }
    rest.push_back(i);
  }
  std::vector<std::size_t> order(
      rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(at.value_or(rest.size())));
  order.insert(order.end(), moved.begin(), moved.end());
  order.insert(order.end(), rest.begin() + static_cast<std::ptrdiff_t>(at.value_or(rest.size())),
               rest.end());
  bool changed = false;
  for (std::size_t i = 0; i < order.size(); ++i) {
    changed = changed || order[i] != i;
  }
  if (!changed) {
    return false;
  }
  std::vector<QueueItem> arranged;
  arranged.reserve(items.size());
  for (const std::size_t i : order) {
    arranged.push_back(std::move(items[i]));
  }
  items = std::move(arranged);
  return true;
}

void ClearProgress(QueueItem& item) {
  item.page = 0;
  item.page_count = 0;
  item.bytes_per_second = 0;
}

// Waits (again), with nothing left of an earlier end.
void MakeWaiting(QueueItem& item) {
  item.state = ItemState::Waiting;
  item.error.clear();
  item.failed.clear();
}

}  // namespace

DownloadQueue::DownloadQueue(QueueStore* store) : store_(store) {}

bool DownloadQueue::Restore(std::string& error) {
  items_.clear();
  next_id_ = 1;
  if (store_ == nullptr) {
    return true;
  }
  std::vector<QueueItem> kept;
  if (!store_->LoadQueue(kept, error)) {
    return false;
  }
  for (QueueItem& item : kept) {
    // It was under way when the program ended: it runs again from its next
    // page, the stored ones kept.
    if (item.state == ItemState::Running) {
      item.state = ItemState::Waiting;
    }
    ClearProgress(item);
    next_id_ = std::max(next_id_, item.id + 1);
  }
  items_ = std::move(kept);
  return true;
}

const QueueItem* DownloadQueue::Find(std::int64_t id) const {
  const auto found = std::ranges::find(items_, id, &QueueItem::id);
  return found == items_.end() ? nullptr : &*found;
}

QueueItem* DownloadQueue::Get(std::int64_t id) {
  const auto found = std::ranges::find(items_, id, &QueueItem::id);
  return found == items_.end() ? nullptr : &*found;
}

void DownloadQueue::Save() {
  if (store_ == nullptr) {
    return;
  }
  std::string error;
  if (store_->SaveQueue(items_, error)) {
    store_error_.clear();
  } else {
    store_error_ = error.empty() ? "the queue could not be written" : error;
  }
}

AddResult DownloadQueue::Add(const std::vector<download::ChapterLink>& chapters,
                             const std::string& comic_title, const ItemOptions& options) {
  AddResult result;
  std::unordered_map<std::string, std::size_t> by_address;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    by_address.emplace(items_[i].address, i);
  }
  for (const download::ChapterLink& link : chapters) {
    if (link.address.empty()) {
      continue;
    }
    const auto [found, added] = by_address.emplace(link.address, items_.size());
    if (!added) {
      QueueItem& item = items_[found->second];
      if (!Finished(item.state)) {
        ++result.duplicates;
        continue;
      }
      // Asked for again: it keeps its place, its output and its stored
      // pages, and runs as it is asked for now.
      MakeWaiting(item);
      item.options = options;
      if (!link.title.empty()) {
        item.title = link.title;
      }
      if (!link.comic.empty()) {
        item.comic = link.comic;
        item.comic_title = comic_title;
      }
      ++result.added;
      continue;
    }
    QueueItem item;
    item.id = next_id_++;
    item.address = link.address;
    item.title = link.title;
    item.comic = link.comic;
    item.comic_title = comic_title;
    item.options = options;
    items_.push_back(std::move(item));
    ++result.added;
  }
  if (result.added > 0) {
    Save();
  }
  return result;
}

std::optional<QueueItem> DownloadQueue::Next() const {
  if (held_) {
    return std::nullopt;
  }
  const auto found = std::ranges::find(items_, ItemState::Waiting, &QueueItem::state);
  if (found == items_.end()) {
    return std::nullopt;
  }
  return *found;
}

void DownloadQueue::Begin(std::int64_t id) {
  QueueItem* item = Get(id);
  if (item == nullptr) {
    return;
  }
  StopClock();
  item->state = ItemState::Running;
  item->begun = true;
  ClearProgress(*item);
  Save();
}

void DownloadQueue::Finish(std::int64_t id, RunEnd end,
                           const std::optional<download::JobOutcome>& outcome,
                           const std::string& error) {
  QueueItem* item = Get(id);
  if (item == nullptr) {
    return;
  }
  if (item->state == ItemState::Running && item->page_count > 0) {
    ++chapters_seen_;
    chapter_pages_seen_ += item->page_count;
  }
  if (clock_item_ == id) {
    StopClock();
  }
  ClearProgress(*item);
  if (outcome) {
    item->begun = true;
    const std::string& output = outcome->archive.empty() ? outcome->folder : outcome->archive;
    if (!output.empty()) {
      item->output = output;
    }
  }
  item->error.clear();
  item->failed.clear();
  switch (end) {
    case RunEnd::Ended:
      if (outcome && outcome->complete()) {
        item->failed = outcome->failed;
        item->state = item->failed.empty() ? ItemState::Done : ItemState::FailedPages;
      } else if (outcome && outcome->end == download::JobEnd::Stopped) {
        item->state = ItemState::Paused;
      } else {
        item->state = ItemState::Error;
        if (!error.empty()) {
          item->error = error;
        } else if (outcome && !outcome->refusal.empty()) {
          item->error = outcome->refusal;
        } else {
          item->error = kErrorText;
        }
      }
      break;
    case RunEnd::Paused:
      item->state = ItemState::Paused;
      break;
    case RunEnd::Cancelled:
      item->state = ItemState::Cancelled;
      break;
    case RunEnd::Yielded: {
      // It runs first once the window's job is over: ahead of any item that
      // began to wait above it meanwhile.
      item->state = ItemState::Waiting;
      const auto first = std::ranges::find(items_, ItemState::Waiting, &QueueItem::state);
      MoveBefore(items_, {id}, static_cast<std::size_t>(first - items_.begin()));
      break;
    }
    case RunEnd::Abandoned:
      // The program is closing: the file keeps it as running, which the
      // next start runs again. Nothing is written now, so that the close
      // waits for no lock.
      item->state = ItemState::Waiting;
      return;
  }
  Save();
}

void DownloadQueue::PauseAll() {
  bool changed = false;
  for (QueueItem& item : items_) {
    if (item.state == ItemState::Waiting) {
      item.state = ItemState::Paused;
      changed = true;
    }
  }
  if (changed) {
    Save();
  }
}

void DownloadQueue::ResumeAll() {
  held_ = false;
  bool changed = false;
  for (QueueItem& item : items_) {
    if (item.state == ItemState::Paused) {
      item.state = ItemState::Waiting;
      changed = true;
    }
  }
  if (changed) {
    Save();
  }
}

void DownloadQueue::Pause(std::int64_t id) {
  QueueItem* item = Get(id);
  if (item != nullptr && item->state == ItemState::Waiting) {
    item->state = ItemState::Paused;
    Save();
  }
}

void DownloadQueue::Resume(std::int64_t id) {
  QueueItem* item = Get(id);
  if (item != nullptr && item->state == ItemState::Paused) {
    item->state = ItemState::Waiting;
    Save();
  }
}

void DownloadQueue::Cancel(std::int64_t id) {
  QueueItem* item = Get(id);
  if (item != nullptr && (item->state == ItemState::Waiting || item->state == ItemState::Paused)) {
    item->state = ItemState::Cancelled;
    Save();
  }
}

void DownloadQueue::Retry(std::int64_t id) {
  QueueItem* item = Get(id);
  if (item != nullptr && Finished(item->state)) {
    MakeWaiting(*item);
    Save();
  }
}

std::size_t DownloadQueue::RetryFailed() {
  std::size_t retried = 0;
  for (QueueItem& item : items_) {
    if (item.state == ItemState::Error || item.state == ItemState::FailedPages) {
      MakeWaiting(item);
      ++retried;
    }
  }
  if (retried > 0) {
    Save();
  }
  return retried;
}

void DownloadQueue::MoveToTop(const std::vector<std::int64_t>& ids) { MoveTo(ids, 0); }

void DownloadQueue::MoveToBottom(const std::vector<std::int64_t>& ids) {
  MoveTo(ids, items_.size());
}

void DownloadQueue::MoveTo(const std::vector<std::int64_t>& ids, std::size_t row) {
  if (MoveBefore(items_, ids, row)) {
    Save();
  }
}

std::size_t DownloadQueue::RemoveFinished() {
  const std::size_t removed =
      std::erase_if(items_, [](const QueueItem& item) { return item.state == ItemState::Done; });
  if (removed > 0) {
    Save();
  }
  return removed;
}

std::size_t DownloadQueue::Remove(const std::vector<std::int64_t>& ids) {
  const std::unordered_set<std::int64_t> chosen(ids.begin(), ids.end());
  const std::size_t removed = std::erase_if(items_, [&](const QueueItem& item) {
    return item.state != ItemState::Running && chosen.contains(item.id);
  });
  if (removed > 0) {
    Save();
  }
  return removed;
}

std::size_t DownloadQueue::Unfinished() const {
  return static_cast<std::size_t>(
      std::ranges::count_if(items_, [](const QueueItem& item) { return !Finished(item.state); }));
}

}  // namespace vexel::queue
