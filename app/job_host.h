// The job's view of the window. Every call comes from the worker thread; the
// window changes go through the gate in the order the job makes them.
#pragma once

#include <QString>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/live_page_document.h"
#include "download/download_host.h"

namespace vexel::app {

class JobController;

// "保存在：…": where a chapter whose folder is `folder` (empty: none made)
// went, its archive when `packed`; empty when the job left neither behind.
QString SavedAt(const std::string& folder, bool packed);

class JobHost : public download::DownloadHost {
 public:
  // A job on `page`: the view, or the hidden page of chapter `position` of a
  // queue of `count` (0 for the view's own job). A queue empties the log once
  // before its first chapter, so its jobs leave the log alone: every chapter's
  // lines stay under its header.
  JobHost(JobController& jobs, LivePage& page, std::size_t position = 0, std::size_t count = 0);

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
  // The window's title says "等待重试" while a page waits to be tried again.
  void RetryPending(bool pending) override;
  // "等待 N 秒" in the title, in place of "等待重试", while the server's
  // pause (a 429 or 503 with Retry-After) holds every request.
  void Paused(std::chrono::seconds wait) override;
  // "本页列出N话，请用“下载本页列出的章节…”" in the log: the window's way to
  // download a comic's chapters.
  void PageListsChapters(std::size_t count) override;

 private:
  JobController& jobs_;
  LivePage& page_;
  LivePageDocument document_;
  std::size_t position_;
  std::size_t count_;
  std::string folder_;
  // The title's progress, kept so that a retry's wait can be added to it.
  std::int64_t page_number_ = 0;
  std::int32_t page_count_ = 0;
  bool retry_pending_ = false;
  // The end of the server's pause; none while there is none.
  std::optional<std::chrono::steady_clock::time_point> pause_until_;

  void ShowProgress();
};

}  // namespace vexel::app
