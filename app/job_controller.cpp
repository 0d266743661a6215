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
#include "app/job_host.h"
#include "app/live_page_document.h"
#include "app/log_pane.h"
#include "download/outcome_texts.h"
#include "files/program_output_directory.h"
#include "net/resolve_address.h"

namespace vexel::app {
namespace {

// The window's title while page `page` of `page_count` is fetched, with
// "等待重试" while a page waits to be tried again, or "等待 N 秒" (the
// seconds left at `now`) while the server's pause lasts, so that a title
// that stands still says why.
QString ProgressTitle(const JobProgress& progress, std::chrono::steady_clock::time_point now) {
  QString title = QString::fromUtf16(kWindowTitle) + QStringLiteral(" - ");
  title += QStringLiteral("第%1/%2页").arg(progress.page).arg(progress.page_count);
  const auto left = progress.pause_until
                        ? std::chrono::ceil<std::chrono::seconds>(*progress.pause_until - now)
                        : std::chrono::seconds(0);
  if (left.count() > 0) {
    title += QStringLiteral(" 等待 %1 秒").arg(left.count());
  } else if (progress.retry_pending) {
    title += QStringLiteral(" 等待重试");
  }
  return title;
}

}  // namespace

runtime::RunSetup MakeWindowRunSetup(CDownloaderDlg& window, const download::JobOptions& job,
                                     const net::TransferOptions& transfer,
                                     const std::atomic<bool>* stop,
                                     const std::atomic<bool>* abandon) {
  BrowserProfile& profile = window.Profile();
  runtime::RunSetup setup;
  setup.job = job;
  setup.fetch.transfer = transfer;
  setup.fetch.transfer.user_agent = profile.UserAgent();
  setup.fetch.transfer.stop_waiting = [stop] { return stop->load(); };
  setup.fetch.abandon = abandon;
  // Each chapter's requests carry the cookies the browser holds once its
  // page has loaded.
  setup.cookies = [&cookies = profile.Cookies()] { return cookies.CurlCookieLines(); };
  setup.make_fetcher = window.Options().make_fetcher;
  setup.records = window.Shelf().Library();
  return setup;
}

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

void JobController::ClearLog() {
  OnUi([this] {
    window_.log_view_->clear();
    window_.log_item_ = 0;  // the pane is this job's again
    window_.job_log_.clear();
  });
}

void JobController::ShowProgress(const JobProgress& progress) {
  // While the pause lasts the title counts its seconds down.
  auto title = [progress] { return ProgressTitle(progress, std::chrono::steady_clock::now()); };
  OnUi([this, title = std::move(title), ticking = progress.pause_until.has_value()] {
    ShowTitle(title, ticking);
  });
}

download::OutputDirectory ChooseJobOutputDirectory(const DialogOptions& options,
                                                   const std::string& download_folder) {
  if (options.choose_output_directory) {
    return options.choose_output_directory();
  }
  return files::ChooseProgramOutputDirectory(download_folder);
}

download::OutputDirectory JobController::ChooseOutputDirectory() {
  return ChooseJobOutputDirectory(window_.Options(), job_download_folder_);
}

std::size_t JobController::MaxPageElements() const { return window_.Options().max_page_elements; }

void JobController::DownloadWorker(const download::JobOptions& job_options) {
  EnterJobState();
  QString saved_at;
  std::vector<std::int64_t> failed;
  if (turn_wait_) {
    // A stop while the queue finishes its page ends the wait, and the job
    // then ends at once as stopped.
    gate_.Await<bool>(
        [this](const std::function<void(bool)>& done) { turn_wait_([done] { done(true); }); },
        std::nullopt, &stop_requested_);
  }
  {
    JobHost host(*this, *window_.browser_view_);
    runtime::JobRuntime runtime(
        MakeWindowRunSetup(window_, job_options, job_transfer_, &stop_requested_, &abandon_));
    const download::JobOutcome outcome = runtime.RunChapter(host);
    if (!host.Folder().empty()) {
      // A packed chapter's folder is gone; its archive lies in the folder above.
      const QString folder = QString::fromStdString(host.Folder());
      const QString shown = outcome.packed ? QFileInfo(folder).path() : folder;
      OnUi([this, shown] { window_.RememberFolder(shown); });
    }
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
