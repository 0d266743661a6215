// The window's background download queue: the chapters the view links to,
// those a page lists and those 书架 finds new, each run in a hidden page of
// the browser profile on a worker thread of its own, one after another,
// while the view stays free for browsing. It owns the queue (kept in the
// library file) and each chapter's log, and keeps the program's one-job
// rule: while the view's own job runs, no chapter starts, and a chapter
// under way gives way after its page.
//
// User-interface thread, except the worker's channel.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/hidden_page_runner.h"
#include "app/ui_call_gate.h"
#include "download/chapter_list.h"
#include "queue/download_queue.h"
#include "runtime/job_runtime.h"

namespace vexel::app {

class CDownloaderDlg;
class JobController;

class QueueController : public QObject {
  Q_OBJECT

 public:
  // `store` (the window's library, or null for a queue of this run only),
  // `window` and `jobs` must outlive the controller.
  QueueController(CDownloaderDlg& window, JobController& jobs, queue::QueueStore* store);
  // A chapter under way is abandoned and its worker joined.
  ~QueueController() override;
  QueueController(const QueueController&) = delete;
  QueueController& operator=(const QueueController&) = delete;
  QueueController(QueueController&&) = delete;
  QueueController& operator=(QueueController&&) = delete;

  // The kept queue, as the window starts: with `hold` (启动时暂停队列) it
  // waits for 全部继续, otherwise it starts at once. False, with `error`,
  // when the store could not be read.
  bool Restore(bool hold, std::string& error);

  const queue::DownloadQueue& Queue() const { return queue_; }
  // Adds `chapters` with the settings' options as they are now, and starts
  // the first unless something runs.
  queue::AddResult Enqueue(const std::vector<download::ChapterLink>& chapters,
                           const std::string& comic_title);

  void PauseAll();
  void ResumeAll();
  // A running chapter pauses or is cancelled after its page under way.
  void Pause(std::int64_t id);
  void Resume(std::int64_t id);
  void Cancel(std::int64_t id);
  void Retry(std::int64_t id);
  std::size_t RetryFailed();
  void MoveToTop(const std::vector<std::int64_t>& ids);
  void MoveToBottom(const std::vector<std::int64_t>& ids);
  void MoveTo(const std::vector<std::int64_t>& ids, std::size_t row);
  std::size_t RemoveFinished();

  // The log of chapter `id` since it last started; empty when it has none.
  QString LogOf(std::int64_t id) const;
  // The chapter that runs, or 0.
  std::int64_t RunningId() const { return running_id_; }
  bool WorkerRunning() const { return worker_.joinable(); }
  // True while chapters run or wait to run (not held, not all paused).
  bool Working() const;

  // The one-job rule: `go` runs once no chapter runs, at once when none does;
  // a chapter under way gives way after its page and waits again, first.
  void YieldThen(std::function<void()> go);
  // Starts the next waiting chapter when nothing else runs; the window calls
  // it once its own job has ended.
  void TryStart();
  // The window is closing: the chapter under way is abandoned (it stays in
  // the queue as it was, to run next time) and nothing starts any more.
  void Abandon();

 signals:
  // The items, their order or a state changed.
  void Changed();
  // The progress (page, speed) of item `id` changed.
  void ProgressChanged(qint64 id);
  // Text was added to the log of item `id`.
  void LogAppended(qint64 id, const QString& text);
  // The queue ran its last waiting chapter: the totals are final.
  void Emptied();
  // A chapter's worker has ended and been joined.
  void WorkerEnded();
  // The library file took a change of the queue no more (said once until a
  // write works again): the queue goes on, but a restart would not find it.
  void StoreFailed(const QString& error);

 private:
  class Channel;

  void StartNext();
  void OnWorkerDone(std::int64_t id, const HiddenPageRun& run);
  // The change after an operation: the view is told, and the next chapter
  // may start.
  void Touched();
  void StopRunning(queue::RunEnd intent);
  // Worker side, for the channel.
  void PostLog(std::int64_t id, std::string text, bool clear);
  void PostProgress(std::int64_t id, std::int64_t page, std::int32_t page_count);
  void PostBytes(std::int64_t id, std::uint64_t bytes);

  CDownloaderDlg& window_;
  JobController& jobs_;
  queue::DownloadQueue queue_;
  std::map<std::int64_t, std::string> logs_;
  // User-interface thread only.
  std::int64_t running_id_ = 0;
  queue::RunEnd intent_ = queue::RunEnd::Ended;
  bool closing_ = false;
  bool ran_any_ = false;       // since the queue was last empty
  bool store_failed_ = false;  // said, until a write works again
  std::vector<std::function<void()>> after_yield_;
  // The bytes of the running chapter's last pages and when they came.
  std::deque<std::pair<std::chrono::steady_clock::time_point, std::uint64_t>> recent_bytes_;
  // Set by this thread, read by the worker.
  std::atomic<bool> stop_{false};
  std::atomic<bool> abandon_{false};
  // One for the queue's life, so that its chapters never share a folder;
  // made with the first chapter, used by one worker at a time.
  std::unique_ptr<runtime::JobRuntime> runtime_;
  UiCallGate gate_;
  std::thread worker_;
};

}  // namespace vexel::app
