// The job's view of the window: the page it reads, and the channel its log,
// progress and result go to. Every call comes from the worker thread; the
// window changes go through the gate in the order the job makes them.
#pragma once

#include <QString>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/job_channel.h"
#include "app/live_page_document.h"
#include "download/download_host.h"

namespace vexel::app {

// "保存在：…": where a chapter whose folder is `folder` (empty: none made)
// went, its archive when `packed`; empty when the job left neither behind.
QString SavedAt(const std::string& folder, bool packed);

class JobHost : public download::DownloadHost {
 public:
  // A job on `page` (the view, or a queue chapter's hidden page) that
  // reports to `channel`; both outlive the host.
  JobHost(JobChannel& channel, LivePage& page);

  void ClearLog() override;
  void AppendLog(std::string_view text) override;
  bool StopRequested() override;
  void SetResultText(std::string_view text) override;
  PageDocument* Document() override { return &document_; }
  bool DocumentTooComplex() override { return document_.TooComplex(); }
  // The page the job's queries read, so that its image addresses resolve
  // against it even when the view has gone on to another page since (Back
  // stays usable during a job, and a page may redirect itself).
  std::string PageAddress() override;
  download::OutputDirectory ChooseOutputDirectory() override;
  void ChapterFolder(const std::string& folder) override { folder_ = folder; }
  // The chapter folder the job made, or empty.
  const std::string& Folder() const { return folder_; }
  void PageStarted(std::int64_t page, std::int32_t page_count) override;
  void PageFinished(std::int64_t page, const download::FetchResult& result) override;
  // The progress says "等待重试" while a page waits to be tried again, and
  // "等待 N 秒" in its place while the server's pause (a 429 or 503 with
  // Retry-After) holds every request.
  void RetryPending(bool pending) override;
  void Paused(std::chrono::seconds wait) override;
  // "本页列出N话，请用“下载本页列出的章节…”" in the log: the window's way to
  // download a comic's chapters.
  void PageListsChapters(std::size_t count) override;

 private:
  JobChannel& channel_;
  LivePage& page_;
  LivePageDocument document_;
  std::string folder_;
  // Kept so that a retry's wait can be added to the page's progress.
  JobProgress progress_;
};

}  // namespace vexel::app
