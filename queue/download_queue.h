// The background download queue: its chapters in order, what each became,
// and the user's operations on them. It runs nothing itself: whoever runs
// the chapters (the window) asks it for the next one and tells it how each
// ended. Every change is written to the store at once, in one transaction,
// so a restart (or a kill) finds the queue as it was.
//
// Not thread-safe: one thread (the window's) owns it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "download/chapter_list.h"
#include "download/download_job.h"
#include "queue/queue_item.h"
#include "queue/queue_store.h"

namespace vexel::queue {

struct AddResult {
  std::size_t added = 0;
  // Already waiting, running or paused: not added twice.
  std::size_t duplicates = 0;
};

// The line at the foot of the queue window.
struct QueueTotals {
  std::size_t total = 0;
  std::size_t waiting = 0;  // waiting and running
  std::size_t paused = 0;
  std::size_t done = 0;
  std::size_t failed_pages = 0;
  std::size_t errors = 0;
  std::size_t cancelled = 0;
  // An estimate of the time the waiting and running chapters still take,
  // from the pace of the pages fetched so far; nothing before there is one.
  std::optional<std::chrono::seconds> left;
};

// How a run ended, as the window saw it, beside the job's outcome.
enum class RunEnd {
  Ended,      // the job ran to its end (or was not loaded): see its outcome
  Paused,     // the user paused it (or all) during the run
  Cancelled,  // the user cancelled it during the run
  Yielded,    // it gave way to the window's own job: it waits again, first
  Abandoned,  // the program is closing: it stays as it was, to run next time
};

class DownloadQueue {
 public:
  // `store` may be null (no library file): the queue then lasts one run.
  // It must outlive the queue.
  explicit DownloadQueue(QueueStore* store);

  // Reads the kept queue. Items that were running or waiting come back as
  // waiting. False, with `error`, when the store could not be read; the
  // queue is then empty.
  bool Restore(std::string& error);

  const std::vector<QueueItem>& Items() const { return items_; }
  const QueueItem* Find(std::int64_t id) const;
  // The error of the last write that failed; empty after one that worked.
  const std::string& StoreError() const { return store_error_; }

  // Adds `chapters` at the end with `options`. A chapter whose address is
  // waiting, running or paused already is not added; one that finished is
  // queued again in its place as waiting.
  AddResult Add(const std::vector<download::ChapterLink>& chapters, const std::string& comic_title,
                const ItemOptions& options);

  // The chapter to run next: the first waiting one, unless the whole queue is
  // held. Nothing when there is none.
  std::optional<QueueItem> Next() const;
  // The chapter `id` starts to run: it turns Running.
  void Begin(std::int64_t id);
  // Its progress, kept in memory only: `page` pages of `page_count` are
  // done at `now`. Successive calls of one run give the pace of the
  // estimate in Totals.
  void Progress(std::int64_t id, std::int64_t page, std::int32_t page_count,
                std::int64_t bytes_per_second,
                std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());
  // The run of `id` ended as `end` says. With RunEnd::Ended, `outcome` (none:
  // its page never loaded, with `error` as the reason) gives its state:
  // complete → 完成 (or 有失败图片 with its pages), stopped → 暂停, otherwise
  // 出错 with `error`, else the outcome's refusal, else "下载出错". Its
  // output (archive, else folder) is kept once known. Yielded waits again
  // ahead of every waiting item; Abandoned is written nowhere.
  void Finish(std::int64_t id, RunEnd end, const std::optional<download::JobOutcome>& outcome,
              const std::string& error);

  // While held, Next gives nothing; the items keep their states. The window
  // holds the queue at start with 启动时暂停队列.
  void SetHeld(bool held) { held_ = held; }
  bool Held() const { return held_; }
  // Pause and resume all: every waiting item pauses (a running one is the
  // window's to stop, then Finish(Paused)); every paused item waits again,
  // and the hold ends.
  void PauseAll();
  void ResumeAll();
  // One item: pause a waiting one, resume a paused one, cancel a waiting or
  // paused one, retry a finished one (it waits again, its error and failed
  // pages cleared). A running one is the window's to stop: it then tells
  // Finish(Paused) or Finish(Cancelled).
  void Pause(std::int64_t id);
  void Resume(std::int64_t id);
  void Cancel(std::int64_t id);
  void Retry(std::int64_t id);
  // 重试失败的章节: every item with an error or failed pages waits again.
  // The number retried.
  std::size_t RetryFailed();
  // Moves `ids` (in their queue order) to the top, to the bottom, or before
  // the item at `row` of the queue as it is now (Items().size(): the end).
  void MoveToTop(const std::vector<std::int64_t>& ids);
  void MoveToBottom(const std::vector<std::int64_t>& ids);
  void MoveTo(const std::vector<std::int64_t>& ids, std::size_t row);
  // Removes the finished items that are 完成 (remove finished), or the
  // items `ids` that are not running. The number removed.
  std::size_t RemoveFinished();
  std::size_t Remove(const std::vector<std::int64_t>& ids);

  QueueTotals Totals(std::chrono::steady_clock::time_point now) const;
  // Waiting, running and paused items: what a restart would run.
  std::size_t Unfinished() const;

 private:
  QueueItem* Get(std::int64_t id);
  // Writes the queue; keeps the error of a failed write.
  void Save();
  // Ends the pace measurement of the run under way.
  void StopClock();

  QueueStore* store_;
  std::vector<QueueItem> items_;
  std::int64_t next_id_ = 1;  // the next item's id: above every id restored
  bool held_ = false;
  std::string store_error_;
  // The pace of this run of the program: pages done and the time they
  // took, measured between successive Progress calls of one running item.
  std::int64_t pages_done_ = 0;
  std::chrono::steady_clock::duration page_time_{};
  std::optional<std::chrono::steady_clock::time_point> page_clock_;
  std::int64_t clock_item_ = 0;  // the item page_clock_ measures
  std::int64_t clock_page_ = 0;  // its page at page_clock_
  // The chapters whose page count was seen, and their pages: the size of a
  // chapter not begun yet.
  std::int64_t chapters_seen_ = 0;
  std::int64_t chapter_pages_seen_ = 0;
};

}  // namespace vexel::queue
