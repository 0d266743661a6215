#include "app/job_host.h"

#include <QFileInfo>
#include <QString>
#include <QUrl>
#include <QWebEnginePage>

#include "download/outcome_texts.h"

namespace vexel::app {

// The outcome box's second line, where the chapter went: its folder, or its archive
// once packed; nothing when the job left neither behind.
QString SavedAt(const std::string& folder, bool packed) {
  const std::string place = download::ChapterPlace(folder, packed);
  const bool there = !place.empty() && QFileInfo::exists(QString::fromStdString(place));
  return QString::fromStdString(download::SavedAtText(there ? place : std::string()));
}

JobHost::JobHost(JobChannel& channel, LivePage& page)
    : channel_(channel),
      page_(page),
      document_(page, channel.Gate(), &channel.StopFlag(), channel.MaxPageElements()) {}

void JobHost::ClearLog() { channel_.ClearLog(); }

void JobHost::AppendLog(std::string_view text) { channel_.AppendLog(text); }

bool JobHost::StopRequested() { return channel_.StopFlag().load(); }

void JobHost::SetResultText(std::string_view text) { channel_.SetResultText(text); }

std::string JobHost::PageAddress() {
  if (!document_.SnapshotAddress().empty()) {
    return document_.SnapshotAddress();
  }
  std::string address;
  channel_.Gate().Run([this, &address] {
    address = page_.EnginePage()->url().toString(QUrl::FullyEncoded).toStdString();
  });
  return address;
}

download::OutputDirectory JobHost::ChooseOutputDirectory() {
  return channel_.ChooseOutputDirectory();
}

void JobHost::PageStarted(std::int64_t page, std::int32_t page_count) {
  progress_.page = page;
  progress_.page_count = page_count;
  channel_.ShowProgress(progress_);
}

void JobHost::PageFinished(std::int64_t /*page*/, const download::FetchResult& result) {
  if (result.stored) {
    channel_.PageStored(result.bytes);
  }
}

void JobHost::RetryPending(bool pending) {
  progress_.retry_pending = pending;
  channel_.ShowProgress(progress_);
}

void JobHost::Paused(std::chrono::seconds wait) {
  progress_.pause_until.reset();
  if (wait.count() > 0) {
    progress_.pause_until = std::chrono::steady_clock::now() + wait;
  }
  channel_.ShowProgress(progress_);
}

void JobHost::PageListsChapters(std::size_t count) {
  AppendLog(download::ListedChaptersHint(count));
}

}  // namespace vexel::app
