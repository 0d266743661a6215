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
#include "app/job_host.h"
#include "download/outcome_texts.h"

namespace vexel::app {
namespace {

// The longest a chapter page may take to load before the chapter counts as
// one with an error.
constexpr std::chrono::seconds kChapterLoadTimeout{60};

}  // namespace

HiddenPageRun RunInHiddenPage(CDownloaderDlg& window, JobChannel& channel,
                              runtime::JobRuntime& runtime, const download::ChapterLink& chapter) {
  HiddenPageRun run;
  UiCallGate& gate = channel.Gate();
  const net::TransferOptions& transfer = runtime.Setup().fetch.transfer;
  if (transfer.pacer != nullptr &&
      !transfer.pacer->WaitForTurn(transfer.request_gap, &channel.StopFlag())) {
    run.stopped = true;
    return run;
  }
  // Made and, later, deleted on the user-interface thread. When the window
  // goes in between, it deletes the page with itself.
  HiddenPage* page = nullptr;
  if (!gate.Run([&window, &page] {
        page = new HiddenPage(window.Profile().Profile(), &window);  // owned by the window
      }) ||
      page == nullptr) {
    run.stopped = true;
    return run;
  }
  const QUrl address = QUrl::fromEncoded(QByteArray::fromStdString(chapter.address));
  // A stop gives up the wait at once; the page is dropped all the same.
  const std::optional<bool> loaded = gate.Await<bool>(
      [page, address](const std::function<void(bool)>& done) { page->Load(address, done); },
      std::chrono::duration_cast<std::chrono::milliseconds>(kChapterLoadTimeout),
      &channel.StopFlag());
  // Read after the load's last signals, which come on the same turn.
  bool check = false;
  if (loaded) {
    gate.Run([page, &check] { check = page->AsksForBrowserCheck(); });
  }
  if (check) {
    channel.AppendLog(kLogBrowserCheck);
    channel.AppendLog(download::kLogError);
    gate.Run([&window, address] {
      window.BrowserView()->Navigate(address.toString(QUrl::FullyEncoded));
    });
  } else if (loaded.value_or(false)) {
    JobHost host(channel, *page);
    run.outcome = runtime.RunListedChapter(host, chapter);
    run.folder = host.Folder();
  } else if (channel.StopFlag().load()) {
    run.stopped = true;
  } else {
    channel.AppendLog(kLogPageNotLoaded);
    channel.AppendLog(download::kLogError);
  }
  gate.Run([page] { delete page; });
  return run;
}

}  // namespace vexel::app
