#include "app/job_host.h"

#include <QFileInfo>
#include <QString>
#include <QUrl>
#include <QWebEnginePage>

#include "app/downloader_dlg.h"
#include "app/job_controller.h"
#include "app/log_pane.h"
#include "download/outcome_texts.h"
#include "files/program_output_directory.h"

namespace vexel::app {
namespace {

// The window's title while page `page` of `page_count` is fetched: with the
// chapter's place when a queue holds more than one, and "等待重试" while a
// page waits to be tried again, or "等待 N 秒" (the seconds left at `now`)
// while the server's pause lasts, so that a title that stands still says why.
QString ProgressTitle(std::size_t position, std::size_t count, std::int64_t page,
                      std::int32_t page_count, bool retry_pending,
                      std::optional<std::chrono::steady_clock::time_point> pause_until,
                      std::chrono::steady_clock::time_point now) {
  QString title = QString::fromUtf16(kWindowTitle) + QStringLiteral(" - ");
  if (count > 1) {
    title += QStringLiteral("第%1/%2话 ").arg(position).arg(count);
  }
  title += QStringLiteral("第%1/%2页").arg(page).arg(page_count);
  const auto left = pause_until ? std::chrono::ceil<std::chrono::seconds>(*pause_until - now)
                                : std::chrono::seconds(0);
  if (left.count() > 0) {
    title += QStringLiteral(" 等待 %1 秒").arg(left.count());
  } else if (retry_pending) {
    title += QStringLiteral(" 等待重试");
  }
  return title;
}

}  // namespace

// The outcome box's second line, where the chapter went: its folder, or its archive
// once packed; nothing when the job left neither behind.
QString SavedAt(const std::string& folder, bool packed) {
  const std::string place = download::ChapterPlace(folder, packed);
  const bool there = !place.empty() && QFileInfo::exists(QString::fromStdString(place));
  return QString::fromStdString(download::SavedAtText(there ? place : std::string()));
}

JobHost::JobHost(JobController& jobs, LivePage& page, std::size_t position, std::size_t count)
    : jobs_(jobs),
      page_(page),
      document_(page, jobs.Gate(), &jobs.StopFlag(), jobs.Window().Options().max_page_elements),
      position_(position),
      count_(count) {}

void JobHost::ClearLog() {
  if (count_ == 0) {
    jobs_.OnUi([this] { jobs_.Window().Log()->clear(); });
  }
}

void JobHost::AppendLog(std::string_view text) { jobs_.AppendLog(text); }

bool JobHost::StopRequested() { return jobs_.StopRequested(); }

void JobHost::SetResultText(std::string_view text) { jobs_.SetResultText(text); }

std::string JobHost::PageAddress() {
  if (!document_.SnapshotAddress().empty()) {
    return document_.SnapshotAddress();
  }
  std::string address;
  jobs_.OnUi([this, &address] {
    address = page_.EnginePage()->url().toString(QUrl::FullyEncoded).toStdString();
  });
  return address;
}

download::OutputDirectory JobHost::ChooseOutputDirectory() {
  const DialogOptions& options = jobs_.Window().Options();
  if (options.choose_output_directory) {
    return options.choose_output_directory();
  }
  return files::ChooseProgramOutputDirectory(jobs_.JobDownloadFolder());
}

void JobHost::PageStarted(std::int64_t page, std::int32_t page_count) {
  page_number_ = page;
  page_count_ = page_count;
  ShowProgress();
}

void JobHost::RetryPending(bool pending) {
  retry_pending_ = pending;
  ShowProgress();
}

void JobHost::Paused(std::chrono::seconds wait) {
  pause_until_.reset();
  if (wait.count() > 0) {
    pause_until_ = std::chrono::steady_clock::now() + wait;
  }
  ShowProgress();
}

void JobHost::ShowProgress() {
  // While the pause lasts the title counts its seconds down.
  auto title = [position = position_, count = count_, page = page_number_, pages = page_count_,
                retry = retry_pending_, until = pause_until_] {
    return ProgressTitle(position, count, page, pages, retry, until,
                         std::chrono::steady_clock::now());
  };
  jobs_.OnUi([this, title = std::move(title), ticking = pause_until_.has_value()] {
    jobs_.ShowTitle(title, ticking);
  });
}

void JobHost::PageListsChapters(std::size_t count) {
  AppendLog(download::ListedChaptersHint(count));
}

}  // namespace vexel::app
