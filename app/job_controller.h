// The window's own jobs, on the user-interface thread: the one worker thread,
// the stop and abandon flags, and the closing of the window during a job. It
// starts the chapter in the view and the read of the chapters a page lists;
// the background queue (QueueController) runs the chapters the view only
// links to.
//
// The worker's window changes are calls through the gate that the worker
// waits for, made in the order the job makes them, so the window shows
// exactly the job's state at each step; once the window is closing, they are
// skipped.
#pragma once

#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/job_channel.h"
#include "app/ui_call_gate.h"
#include "download/chapter_list.h"
#include "download/download_job.h"
#include "runtime/job_runtime.h"

namespace vexel::app {

class CDownloaderDlg;
struct DialogOptions;

// Where a job's chapter folder goes: the window's own rule when it has one,
// else `download_folder` (下载到, fixed when the job was started or queued),
// else the program's rule.
download::OutputDirectory ChooseJobOutputDirectory(const DialogOptions& options,
                                                   const std::string& download_folder);

// How the window's jobs fetch: the browser's user agent and the cookies it
// holds as each chapter starts, the window's fetcher factory and library,
// with `job` and `transfer` (the settings' pace and rate cap). A set `stop`
// ends a wait for the pacer's turn at once; a set `abandon` gives up the
// transfer under way.
runtime::RunSetup MakeWindowRunSetup(CDownloaderDlg& window, const download::JobOptions& job,
                                     const net::TransferOptions& transfer,
                                     const std::atomic<bool>* stop,
                                     const std::atomic<bool>* abandon);

class JobController final : public JobChannel {
 public:
  // `window` owns the controller and outlives it.
  explicit JobController(CDownloaderDlg& window);
  // A window destroyed during a job all the same: the job is told to end,
  // every wait of the worker is released, and the thread is joined before
  // anything it uses goes away.
  ~JobController() override;
  JobController(const JobController&) = delete;
  JobController& operator=(const JobController&) = delete;
  JobController(JobController&&) = delete;
  JobController& operator=(JobController&&) = delete;

  // True from the start of a job until it has ended (the outcome box has
  // been dismissed).
  bool Downloading() const { return downloading_.load(); }
  bool StopRequested() const { return stop_requested_.load(); }
  // True while a worker thread exists, including its last steps after
  // Downloading has turned false.
  bool WorkerRunning() const { return worker_running_; }
  // True once the window has been closed during a job and waits for it.
  bool Closing() const { return close_pending_; }

  // 下载: the chapter in the view. Nothing while a worker runs.
  void StartSingle();
  // The program runs one job at a time: before the view's job begins, its
  // worker hands `wait` a completion and waits (a stop ends the wait) until
  // that is called, once the background queue has let go of its chapter.
  void SetTurnWait(std::function<void(std::function<void()> go)> wait) {
    turn_wait_ = std::move(wait);
  }
  // 停止: the job ends at its next look at the flag; a read stuck on the
  // page gives up now.
  void RequestStop();
  // Reads the chapters the view's page lists on a worker; `then` gets them,
  // and the page's title (download::PageTitle), on this thread once it has been
  // joined, unless the window is closing.
  void ListChapters(
      std::function<void(std::vector<download::ChapterLink>, const std::string& title)> then);
  // The window closed during a job: the job stops, the image under way is
  // abandoned (the pages stored stay), the window hides at once and ends
  // with `result` once the worker has finished.
  void CloseDuringJob(int result);

  // JobChannel, for the view's job: its log pane, and its progress in the
  // window's title.
  UiCallGate& Gate() override { return gate_; }
  const std::atomic<bool>& StopFlag() const override { return stop_requested_; }
  void ClearLog() override;
  void AppendLog(std::string_view text) override;
  void SetResultText(std::string_view text) override { result_text_ = text; }
  void ShowProgress(const JobProgress& progress) override;
  download::OutputDirectory ChooseOutputDirectory() override;
  std::size_t MaxPageElements() const override;

  bool OnUi(std::function<void()> change);
  CDownloaderDlg& Window() { return window_; }

 private:
  // Starts a job or queue from idle: `run` gets, on the worker thread, the
  // job options the settings give now; the folder its chapters go to is
  // fixed now too.
  void StartJob(std::function<void(const download::JobOptions&)> run);
  // Starts `work` on the worker thread; `then` runs on this thread once the
  // worker has been joined, unless the window is closing by then. False
  // when no thread could be made.
  bool StartWorker(std::function<void()> work, std::function<void()> then = {});
  void OnWorkerDone();

  // The worker thread's whole run, with the options read when the job
  // started.
  void DownloadWorker(const download::JobOptions& job_options);
  // User-interface thread: the window's title is `title()` from now on and,
  // while `ticking`, again every second, so that a countdown in it moves.
  void ShowTitle(std::function<QString()> title, bool ticking);
  // Worker side: the chapters the view's page lists, into listed_chapters_,
  // and its title, into listed_title_.
  void ReadChapterList();
  // Worker side: the window changes before and after a job or queue.
  void EnterJobState();
  // `saved_at`: the box's second line, "保存在：…", or empty.
  void LeaveJobState(const QString& outcome, const QString& saved_at = {});

  CDownloaderDlg& window_;
  // Written by the user-interface thread before a job starts and by the worker
  // while it runs; read by either.
  std::atomic<bool> downloading_{false};
  // Written by the user-interface thread only; the job polls it.
  std::atomic<bool> stop_requested_{false};
  // Set when the window closes during a job: the fetch under way gives up.
  std::atomic<bool> abandon_{false};
  // Written before a job's worker starts, read by the worker.
  std::string job_download_folder_;
  net::TransferOptions job_transfer_;  // the settings' pace and rate cap
  // User-interface thread only.
  bool worker_running_ = false;
  bool close_pending_ = false;
  int close_result_ = 0;
  std::function<void()> after_worker_;
  // Worker thread only.
  std::string result_text_;
  std::function<void(std::function<void()>)> turn_wait_;
  // Written by the worker that reads the page, read here once it is joined.
  std::vector<download::ChapterLink> listed_chapters_;
  std::string listed_title_;

  // User-interface thread only: the job's title while a countdown runs.
  std::function<QString()> title_;
  QTimer title_timer_;

  UiCallGate gate_;
  std::thread worker_;
};

}  // namespace vexel::app
