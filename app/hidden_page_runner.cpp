#include "app/hidden_page_runner.h"

#include <QByteArray>
#include <QUrl>

#include <chrono>
#include <functional>

#include "app/browser_check.h"
#include "app/browser_profile.h"
#include "app/downloader_dlg.h"
#include "app/explorer.h"
#include "app/hidden_page.h"
#include "app/job_controller.h"
#include "app/job_host.h"
#include "download/outcome_texts.h"

namespace vexel::app {
namespace {

// The longest a chapter page of a queue may take to load before the chapter
// counts as one with an error.
constexpr std::chrono::seconds kChapterLoadTimeout{60};

}  // namespace

QueueRunner::QueueRunner(JobController& jobs, runtime::JobRuntime& runtime)
    : jobs_(jobs), runtime_(runtime) {}

void QueueRunner::AppendLog(std::string_view text) { jobs_.AppendLog(text); }

bool QueueRunner::StopRequested() { return jobs_.StopRequested(); }

std::optional<download::JobOutcome> QueueRunner::RunChapter(std::size_t position, std::size_t count,
                                                            const download::ChapterLink& chapter) {
  // The page's load is a request to the site like any other: it takes its
  // turn of the process's pacer (and waits out a server's pause) first.
  const net::TransferOptions& transfer = runtime_.Setup().fetch.transfer;
  if (transfer.pacer != nullptr &&
      !transfer.pacer->WaitForTurn(transfer.request_gap, &jobs_.StopFlag())) {
    AppendLog(download::kLogStopped);
    return StoppedOrNothing();
  }
  // Made and, later, deleted on the user-interface thread. When the window
  // closes in between, the window deletes it with itself.
  HiddenPage* page = nullptr;
  CDownloaderDlg& window = jobs_.Window();
  if (!jobs_.OnUi([&window, &page] {
        page = new HiddenPage(window.Profile().Profile(), &window);  // owned by the window
      }) ||
      page == nullptr) {
    return StoppedOrNothing();
  }
  const QUrl address = QUrl::fromEncoded(QByteArray::fromStdString(chapter.address));
  // A stop gives up the wait at once; the page is dropped all the same.
  const std::optional<bool> loaded = jobs_.Gate().Await<bool>(
      [page, address](const std::function<void(bool)>& done) { page->Load(address, done); },
      std::chrono::duration_cast<std::chrono::milliseconds>(kChapterLoadTimeout),
      &jobs_.StopFlag());
  std::optional<download::JobOutcome> outcome;
  // Read after the load's last signals, which come on the same turn.
  bool check = false;
  if (loaded) {
    jobs_.OnUi([page, &check] { check = page->AsksForBrowserCheck(); });
  }
  if (check) {
    // The user passes it in the view, once the queue has ended.
    AppendLog(kLogBrowserCheck);
    AppendLog(download::kLogError);
    jobs_.OnUi([&window, address] {
      window.BrowserView()->Navigate(address.toString(QUrl::FullyEncoded));
    });
  } else if (loaded.value_or(false)) {
    JobHost host(jobs_, *page, position, count);
    outcome = jobs_.RunJob(host, runtime_);
    if (!host.Folder().empty()) {
      last_folder_ = host.Folder();
    }
    last_outcome_ = *outcome;
  } else {
    outcome = StoppedOrNothing();
    AppendLog(outcome ? download::kLogStopped : download::kLogError);
  }
  jobs_.OnUi([page] { delete page; });
  return outcome;
}

std::optional<download::JobOutcome> QueueRunner::StoppedOrNothing() const {
  if (jobs_.StopRequested()) {
    return runtime::StoppedBeforeJob();
  }
  return std::nullopt;
}

}  // namespace vexel::app
