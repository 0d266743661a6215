#include "app/queue_controller.h"

#include <QMetaObject>

#include <algorithm>
#include <string_view>
#include <system_error>

#include "app/downloader_dlg.h"
#include "app/job_channel.h"
#include "app/job_controller.h"
#include "download/outcome_texts.h"

namespace vexel::app {
namespace {

// The speed shown is that of the pages stored in the last few seconds.
constexpr std::chrono::seconds kSpeedWindow{5};

// Why a chapter ended with an error, as its row says it: the last line its
// log wrote before "下载出错".
std::string ReasonFromLog(std::string_view log) {
  std::string reason;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find('\n', start);
    if (end == std::string_view::npos) {
      end = log.size();
    }
    std::string_view line = log.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
      line.remove_suffix(1);
    }
    if (!line.empty() && line != download::kResultError) {
      reason = line;
    }
    start = end + 1;
  }
  return reason.empty() ? std::string(download::kResultError) : reason;
}

download::JobOptions JobOptionsOf(const queue::QueueItem& item) {
  download::JobOptions options;
  options.jobs = item.options.jobs;
  options.pack_cbz = item.options.pack_cbz;
  options.pad_pages = item.options.pad_pages;
  options.series_folders = item.options.series_folders;
  // A chapter begun before goes on from where it was: its stored pages stay.
  options.skip_existing = item.options.skip_existing || item.begun;
  return options;
}

}  // namespace

// What the job of the running chapter reaches: its row and its own log.
class QueueController::Channel final : public JobChannel {
 public:
  Channel(QueueController& queue, const queue::QueueItem& item)
      : queue_(queue), id_(item.id), folder_(item.options.download_folder) {}

  UiCallGate& Gate() override { return queue_.gate_; }
  const std::atomic<bool>& StopFlag() const override { return queue_.stop_; }
  void ClearLog() override { queue_.PostLog(id_, {}, true); }
  void AppendLog(std::string_view text) override { queue_.PostLog(id_, std::string(text), false); }
  void SetResultText(std::string_view /*text*/) override {}
  void ShowProgress(const JobProgress& progress) override {
    queue_.PostProgress(id_, progress.page, progress.page_count);
  }
  void PageStored(std::uint64_t bytes) override { queue_.PostBytes(id_, bytes); }
  download::OutputDirectory ChooseOutputDirectory() override {
    return ChooseJobOutputDirectory(queue_.window_.Options(), folder_);
  }
  std::size_t MaxPageElements() const override {
    return queue_.window_.Options().max_page_elements;
  }

 private:
  QueueController& queue_;
  std::int64_t id_;
  std::string folder_;
};

QueueController::QueueController(CDownloaderDlg& window, JobController& jobs,
                                 queue::QueueStore* store)
    : window_(window), jobs_(jobs), queue_(store), gate_(&window) {}

QueueController::~QueueController() {
  if (worker_.joinable()) {
    stop_ = true;
    abandon_ = true;
    gate_.Close();
    worker_.join();
  }
}

bool QueueController::Restore(bool hold, std::string& error) {
  const bool read = queue_.Restore(error);
  queue_.SetHeld(hold);
  Touched();
  return read;
}

queue::AddResult QueueController::Enqueue(const std::vector<download::ChapterLink>& chapters,
                                          const std::string& comic_title) {
  const Settings& settings = window_.CurrentSettings();
  // The settings' own reading of the page options, as the view's job gets it.
  const download::JobOptions job = settings.ApplyTo(download::JobOptions{});
  queue::ItemOptions options;
  options.jobs = job.jobs;
  options.pack_cbz = job.pack_cbz;
  options.pad_pages = job.pad_pages;
  options.series_folders = job.series_folders;
  options.skip_existing = job.skip_existing;
  options.download_folder = settings.download_folder.toStdString();
  const queue::AddResult added = queue_.Add(chapters, comic_title, options);
  Touched();
  return added;
}

void QueueController::PauseAll() {
  queue_.PauseAll();
  StopRunning(queue::RunEnd::Paused);
  Touched();
}

void QueueController::ResumeAll() {
  queue_.ResumeAll();
  Touched();
}

void QueueController::Pause(std::int64_t id) {
  if (id == running_id_) {
    StopRunning(queue::RunEnd::Paused);
  } else {
    queue_.Pause(id);
  }
  Touched();
}

void QueueController::Resume(std::int64_t id) {
  queue_.Resume(id);
  Touched();
}

void QueueController::Cancel(std::int64_t id) {
  if (id == running_id_) {
    StopRunning(queue::RunEnd::Cancelled);
  } else {
    queue_.Cancel(id);
  }
  Touched();
}

void QueueController::Retry(std::int64_t id) {
  queue_.Retry(id);
  Touched();
}

std::size_t QueueController::RetryFailed() {
  const std::size_t retried = queue_.RetryFailed();
  Touched();
  return retried;
}

void QueueController::MoveToTop(const std::vector<std::int64_t>& ids) {
  queue_.MoveToTop(ids);
  Touched();
}

void QueueController::MoveToBottom(const std::vector<std::int64_t>& ids) {
  queue_.MoveToBottom(ids);
  Touched();
}

void QueueController::MoveTo(const std::vector<std::int64_t>& ids, std::size_t row) {
  queue_.MoveTo(ids, row);
  Touched();
}

std::size_t QueueController::RemoveFinished() {
  const std::size_t removed = queue_.RemoveFinished();
  for (auto it = logs_.begin(); it != logs_.end();) {
    it = queue_.Find(it->first) == nullptr ? logs_.erase(it) : std::next(it);
  }
  Touched();
  return removed;
}

QString QueueController::LogOf(std::int64_t id) const {
  const auto found = logs_.find(id);
  return found == logs_.end() ? QString() : QString::fromStdString(found->second);
}

bool QueueController::Working() const { return running_id_ != 0 || queue_.Next().has_value(); }

void QueueController::YieldThen(std::function<void()> go) {
  if (!worker_.joinable()) {
    go();
    return;
  }
  after_yield_.push_back(std::move(go));
  if (intent_ == queue::RunEnd::Ended) {
    StopRunning(queue::RunEnd::Yielded);
  }
}

void QueueController::StopRunning(queue::RunEnd intent) {
  if (running_id_ == 0) {
    return;
  }
  // The strongest wish holds: a cancel over a pause, either over giving way
  // to the view's job.
  const auto rank = [](queue::RunEnd end) {
    switch (end) {
      case queue::RunEnd::Ended:
        return 0;
      case queue::RunEnd::Yielded:
        return 1;
      case queue::RunEnd::Paused:
        return 2;
      case queue::RunEnd::Cancelled:
        return 3;
      case queue::RunEnd::Abandoned:
        return 4;
    }
    return 0;
  };
  if (rank(intent) > rank(intent_)) {
    intent_ = intent;
  }
  stop_ = true;
  gate_.WakeWaiters();  // a wait for the page or for the pacer gives up now
}

void QueueController::Abandon() {
  closing_ = true;
  after_yield_.clear();
  if (worker_.joinable()) {
    intent_ = queue::RunEnd::Abandoned;
    stop_ = true;
    abandon_ = true;
    // Every wait of the worker ends now, and it makes no more changes.
    gate_.Close();
  }
}

void QueueController::Touched() {
  const bool failed = !queue_.StoreError().empty();
  if (failed && !store_failed_) {
    emit StoreFailed(QString::fromStdString(queue_.StoreError()));
  }
  store_failed_ = failed;
  emit Changed();
  TryStart();
}

void QueueController::TryStart() {
  if (closing_ || worker_.joinable() || jobs_.Downloading()) {
    return;
  }
  StartNext();
}

void QueueController::StartNext() {
  const std::optional<queue::QueueItem> next = queue_.Next();
  if (!next) {
    // Paused chapters still to come make no end yet.
    if (ran_any_ && queue_.Unfinished() == 0) {
      ran_any_ = false;
      emit Emptied();
    }
    return;
  }
  const queue::QueueItem& item = *next;
  runtime::RunSetup setup = MakeWindowRunSetup(
      window_, JobOptionsOf(item), window_.CurrentSettings().ApplyPaceTo(net::TransferOptions{}),
      &stop_, &abandon_);
  if (!runtime_) {
    runtime_ = std::make_unique<runtime::JobRuntime>(std::move(setup));
  } else {
    runtime_->Setup().job = setup.job;
    runtime_->Setup().fetch = std::move(setup.fetch);
  }
  stop_ = false;
  intent_ = queue::RunEnd::Ended;
  running_id_ = item.id;
  ran_any_ = true;
  recent_bytes_.clear();
  logs_[item.id].clear();
  queue_.Begin(item.id);
  download::ChapterLink link{item.address, item.title, item.comic};
  try {
    worker_ = std::thread([this, item, link = std::move(link)] {
      Channel channel(*this, item);
      HiddenPageRun run;
      if (runtime_->AlreadyDownloaded(link)) {
        channel.AppendLog(runtime::kLogAlreadyDownloaded);
        run.outcome.emplace();
        run.outcome->end = download::JobEnd::Complete;
      } else {
        run = RunInHiddenPage(window_, channel, *runtime_, link);
      }
      // Not through the gate: this must arrive even once it is closed.
      QMetaObject::invokeMethod(
          this, [this, id = item.id, run = std::move(run)] { OnWorkerDone(id, run); },
          Qt::QueuedConnection);
    });
  } catch (const std::system_error&) {
    // No thread: the chapter stays waiting for the next try.
    running_id_ = 0;
    queue_.Finish(item.id, queue::RunEnd::Yielded, std::nullopt, {});
  }
  emit Changed();
}

void QueueController::OnWorkerDone(std::int64_t id, const HiddenPageRun& run) {
  if (worker_.joinable()) {
    worker_.join();
  }
  running_id_ = 0;
  queue::RunEnd end = intent_;
  if (end == queue::RunEnd::Ended && run.stopped) {
    end = queue::RunEnd::Paused;
  }
  std::string reason;
  if (end == queue::RunEnd::Ended &&
      (!run.outcome || run.outcome->end == download::JobEnd::Error)) {
    reason = run.outcome && !run.outcome->refusal.empty() ? run.outcome->refusal
                                                          : ReasonFromLog(logs_[id]);
  }
  queue_.Finish(id, end, run.outcome, reason);
  intent_ = queue::RunEnd::Ended;
  emit WorkerEnded();
  std::vector<std::function<void()>> waiting = std::move(after_yield_);
  after_yield_.clear();
  for (const std::function<void()>& go : waiting) {
    go();
  }
  if (closing_) {
    return;
  }
  Touched();
}

void QueueController::PostLog(std::int64_t id, std::string text, bool clear) {
  gate_.Run([this, id, text = std::move(text), clear] {
    std::string& log = logs_[id];
    if (clear) {
      log.clear();
      return;
    }
    log += text;
    emit LogAppended(id, QString::fromStdString(text));
  });
}

void QueueController::PostProgress(std::int64_t id, std::int64_t page, std::int32_t page_count) {
  gate_.Run([this, id, page, page_count] {
    const queue::QueueItem* item = queue_.Find(id);
    if (item == nullptr) {
      return;
    }
    queue_.Progress(id, page, page_count, item->bytes_per_second);
    emit ProgressChanged(id);
  });
}

void QueueController::PostBytes(std::int64_t id, std::uint64_t bytes) {
  gate_.Run([this, id, bytes, now = std::chrono::steady_clock::now()] {
    const queue::QueueItem* item = queue_.Find(id);
    if (item == nullptr || id != running_id_) {
      return;
    }
    recent_bytes_.emplace_back(now, bytes);
    while (recent_bytes_.size() > 1 && now - recent_bytes_.front().first > kSpeedWindow) {
      recent_bytes_.pop_front();
    }
    std::uint64_t sum = 0;
    for (const auto& [at, count] : recent_bytes_) {
      sum += count;
    }
    const auto span = std::max(std::chrono::duration<double>(now - recent_bytes_.front().first),
                               std::chrono::duration<double>(1.0));
    queue_.Progress(id, item->page, item->page_count,
                    static_cast<std::int64_t>(static_cast<double>(sum) / span.count()));
    emit ProgressChanged(id);
  });
}

}  // namespace vexel::app
