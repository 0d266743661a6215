#include "app/job_controller.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QUrl>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <system_error>
#include <utility>

#include "app/bookshelf.h"
#include "app/browser_check.h"
#include "app/browser_profile.h"
#include "app/downloader_dlg.h"
#include "app/explorer.h"
#include "app/hidden_page_runner.h"
#include "app/job_host.h"
#include "app/live_page_document.h"
#include "app/log_pane.h"
#include "download/outcome_texts.h"
#include "net/resolve_address.h"

namespace vexel::app {
JobController::JobController(CDownloaderDlg& window) : window_(window), gate_(&window) {
  title_timer_.setInterval(1000);
  QObject::connect(&title_timer_, &QTimer::timeout, &title_timer_,
                   [this] { window_.setWindowTitle(title_()); });
}

JobController::~JobController() {
  if (worker_.joinable()) {
    stop_requested_ = true;
    abandon_ = true;
    gate_.Close();
    worker_.join();
  }
}

void JobController::StartSingle() {
  // A worker that has finished its job but not yet its last window changes
  // still owns the thread; the press that caught it there has nothing to do.
  if (worker_running_) {
    return;
  }
  StartJob([this](const download::JobOptions& job_options) { DownloadWorker(job_options); });
}

void JobController::RequestStop() {
  stop_requested_ = true;
  window_.download_button_->setEnabled(false);
  gate_.WakeWaiters();  // a read stuck on the page gives up now
}

void JobController::StartJob(std::function<void(const download::JobOptions&)> run) {
  stop_requested_ = false;
  // Read here, once: the worker never looks at the menu or the settings, so
  // changing them during a job touches only the next one. Retries keep the
  // job's own default.
  const Settings& settings = window_.settings_;
  job_download_folder_ = settings.download_folder.toStdString();
  job_transfer_ = settings.ApplyPaceTo(net::TransferOptions{});
  const download::JobOptions job_options = settings.ApplyTo(download::JobOptions{});
  // The window counts as downloading before the thread exists, so a second
  // press can only ever ask for a stop.
  downloading_ = true;
  window_.HideLastLog();
  if (!StartWorker([run = std::move(run), job_options] { run(job_options); })) {
    downloading_ = false;  // no thread, no job: the window simply stays idle
  }
}

void JobController::StartQueue(std::vector<download::ChapterLink> chapters) {
  // The link item and the chapter list can only start a queue from idle.
  if (downloading_ || worker_running_ || chapters.empty()) {
    return;
  }
  StartJob([this, queue = std::move(chapters)](const download::JobOptions& job_options) {
    QueueWorker(job_options, queue);
  });
}

void JobController::ListChapters(
    std::function<void(std::vector<download::ChapterLink>, const std::string& title)> then) {
  if (worker_running_) {
    return;
  }
  listed_chapters_.clear();
  listed_title_.clear();
  StartWorker([this] { ReadChapterList(); },
              [this, then = std::move(then)] {
                std::vector<download::ChapterLink> chapters = std::move(listed_chapters_);
                listed_chapters_.clear();
                then(std::move(chapters), listed_title_);
              });
}

bool JobController::StartWorker(std::function<void()> work, std::function<void()> then) {
  worker_running_ = true;
  after_worker_ = std::move(then);
  try {
    worker_ = std::thread([this, work = std::move(work)] {
      work();
      // Not through the gate: this one must arrive even when the window is
      // closing, since that is what finally lets it close.
      QMetaObject::invokeMethod(
          &window_, [this] { OnWorkerDone(); }, Qt::QueuedConnection);
    });
  } catch (const std::system_error&) {
    worker_running_ = false;
    after_worker_ = nullptr;
    return false;
  }
  return true;
}

void JobController::OnWorkerDone() {
  // The worker posts this as its very last act, so the join is immediate.
  if (worker_.joinable()) {
    worker_.join();
  }
  worker_running_ = false;
  const std::function<void()> then = std::move(after_worker_);
  after_worker_ = nullptr;
  emit window_.WorkerFinished();
  if (close_pending_) {
    close_pending_ = false;
    window_.EndDialog(close_result_);
    return;
  }
  if (then) {
    then();
  }
}

void JobController::CloseDuringJob(int result) {
  close_result_ = result;
  close_pending_ = true;
  stop_requested_ = true;
  abandon_ = true;
  // Releases the worker from any wait on this thread; from now on it makes no
  // window change, shows no outcome box, and only reports that it is done.
  gate_.Close();
  if (window_.outcome_box_ != nullptr) {
    window_.outcome_box_->reject();
  }
  window_.hide();
}

bool JobController::OnUi(std::function<void()> change) { return gate_.Run(std::move(change)); }

void JobController::AppendLog(std::string_view text) {
  OnUi([this, line = std::string(text)] { window_.log_view_->AppendJobText(line); });
}

void JobController::ShowTitle(std::function<QString()> title, bool ticking) {
  title_ = std::move(title);
  window_.setWindowTitle(title_());
  if (!ticking) {
    title_timer_.stop();
  } else if (!title_timer_.isActive()) {
    title_timer_.start();
  }
}

void JobController::EnterJobState() {
  downloading_ = true;
  OnUi([this] { window_.download_button_->setText(QStringLiteral("停止")); });
  OnUi([this] { window_.open_button_->setEnabled(false); });
  OnUi([this] { window_.address_box_->setEnabled(false); });
  OnUi([this] { window_.LayoutControls(); });
}

void JobController::LeaveJobState(const QString& outcome, const QString& saved_at) {
  // Skipped, like every later change, once the window is closing.
  OnUi([this] {
    title_timer_.stop();
    window_.setWindowTitle(QString::fromUtf16(kWindowTitle));
  });
  OnUi([this, outcome, saved_at] { window_.ShowOutcome(outcome, saved_at); });
  downloading_ = false;
  OnUi([this] { window_.download_button_->setText(QStringLiteral("下载")); });
  OnUi([this] { window_.download_button_->setEnabled(true); });
  OnUi([this] { window_.open_button_->setEnabled(true); });
  OnUi([this] { window_.address_box_->setEnabled(true); });
  OnUi([this] { window_.LayoutControls(); });
}

runtime::RunSetup JobController::MakeRunSetup(const download::JobOptions& job_options) {
  BrowserProfile& profile = window_.profile_;
  runtime::RunSetup setup;
  setup.job = job_options;
  setup.fetch.transfer = job_transfer_;
  setup.fetch.transfer.user_agent = profile.UserAgent();
  // A stop ends a wait for the pacer's turn (or the server's pause) at once.
  setup.fetch.transfer.stop_waiting = [this] { return stop_requested_.load(); };
  setup.fetch.abandon = &abandon_;
  // Each chapter's requests carry the cookies the browser holds once its
  // page has loaded.
  setup.cookies = [&cookies = profile.Cookies()] { return cookies.CurlCookieLines(); };
  setup.make_fetcher = window_.options_.make_fetcher;
  setup.records = window_.Shelf().Library();
  return setup;
}

download::JobOutcome JobController::RunJob(JobHost& host, runtime::JobRuntime& runtime) {
  download::JobOutcome outcome = runtime.RunChapter(host);
  if (!host.Folder().empty()) {
    // A packed chapter's folder is gone; its archive lies in the folder above.
    const QString folder = QString::fromStdString(host.Folder());
    const QString shown = outcome.packed ? QFileInfo(folder).path() : folder;
    OnUi([this, shown] { window_.RememberFolder(shown); });
  }
  return outcome;
}

void JobController::DownloadWorker(const download::JobOptions& job_options) {
  EnterJobState();
  QString saved_at;
  std::vector<std::int64_t> failed;
  {
    JobHost host(*this, *window_.browser_view_);
    runtime::JobRuntime runtime(MakeRunSetup(job_options));
    const download::JobOutcome outcome = RunJob(host, runtime);
    // The view shows the site's check already; the log says what it wants.
    bool check = false;
    if (outcome.end == download::JobEnd::Error) {
      OnUi([this, &check] { check = window_.browser_view_->AsksForBrowserCheck(); });
    }
    if (check) {
      AppendLog(kLogBrowserCheck);
    }
    saved_at = SavedAt(host.Folder(), outcome.packed);
    failed = outcome.failed;
  }
  LeaveJobState(QString::fromStdString(download::ChapterResultText(result_text_, failed)),
                saved_at);
}

void JobController::QueueWorker(const download::JobOptions& job_options,
                                const std::vector<download::ChapterLink>& chapters) {
  EnterJobState();
  OnUi([this] { window_.log_view_->clear(); });
  result_text_.clear();
  runtime::JobRuntime runtime(MakeRunSetup(job_options));
  QueueRunner runner(*this, runtime);
  const download::QueueOutcome outcome = runtime.RunQueue(runner, chapters);
  std::string text;
  QString saved_at;
  if (chapters.size() == 1) {
    // One chapter reads like the view's own job; one that never reached its
    // job was stopped or could not be loaded.
    if (!result_text_.empty()) {
      text = download::ChapterResultText(result_text_, runner.LastOutcome().failed);
      saved_at = SavedAt(runner.LastFolder(), runner.LastOutcome().packed);
    } else {
      text = outcome.stopped ? download::kResultStopped : download::kResultError;
    }
  } else {
    text = download::QueueSummaryText(outcome);
    // The chapters' folders and archives lie side by side in one folder.
    if (!runner.LastFolder().empty()) {
      saved_at = SavedAt(
          QFileInfo(QString::fromStdString(runner.LastFolder())).path().toStdString(), false);
    }
  }
  LeaveJobState(QString::fromStdString(text), saved_at);
}

void JobController::ReadChapterList() {
  CExplorer& view = *window_.browser_view_;
  std::string address;
  OnUi([&view, &address] { address = view.url().toString(QUrl::FullyEncoded).toStdString(); });
  LivePageDocument document(view, gate_, nullptr, window_.options_.max_page_elements);
  const download::AddressResolver& resolver = net::CurlAddressResolver();
  listed_chapters_ = download::FindChapterList(&document, address, resolver);
  // The view went on to another page between the two reads: its links
  // resolve against the page they were read from.
  if (!document.SnapshotAddress().empty() && document.SnapshotAddress() != address) {
    listed_chapters_ = download::FindChapterList(&document, document.SnapshotAddress(), resolver);
  }
  if (!listed_chapters_.empty()) {
    listed_title_ = download::PageTitle(&document);
  }
}

}  // namespace vexel::app
