// One run of chapter jobs, as the window and vexel-dl both make it: the
// program hands in its host (or, for a queue, its chapter runner) and what
// its transfers need; the runtime puts the real fetcher, file system,
// address resolver and packer together, runs the job, and tells the
// library what finished.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "download/chapter_list.h"
#include "download/chapter_queue.h"
#include "download/chapter_records.h"
#include "download/claimed_names.h"
#include "download/download_host.h"
#include "download/download_job.h"
#include "download/file_system.h"
#include "download/image_fetcher.h"
#include "net/curl_image_fetcher.h"

namespace vexel::runtime {

// Makes the image fetcher of one chapter's job. Tests and benchmarks put in
// one that watches the real fetcher or replaces it.
using FetcherFactory =
    std::function<std::unique_ptr<download::ImageFetcher>(const net::FetchOptions& options)>;

// The program's own fetcher: libcurl.
std::unique_ptr<download::ImageFetcher> MakeCurlFetcher(const net::FetchOptions& options);

// What every chapter of a run shares.
struct RunSetup {
  download::JobOptions job;
  // The transfers' user agent, cookies, connections, abandon flag and
  // progress. The Referer is left to each job: its chapter page's address.
  net::FetchOptions fetch;
  // The cookies each chapter's requests may carry, read as its job starts
  // (the window's browser gains some as it loads each page). Empty: those
  // in `fetch`.
  std::function<std::vector<std::string>()> cookies;
  FetcherFactory make_fetcher = MakeCurlFetcher;
  // What was downloaded before; null: nothing is remembered.
  download::ChapterRecords* records = nullptr;
  // Chapters from a comic's list that the records hold, with their output
  // present, are not loaded again. False (--overwrite): every chapter is.
  bool skip_downloaded = true;
  // Null: the real file system.
  download::FileSystem* file_system = nullptr;
};

// The outcome of a chapter that a stop ended before its job began, while
// its page was loading.
download::JobOutcome StoppedBeforeJob();

class JobRuntime {
 public:
  explicit JobRuntime(RunSetup setup);

  // Runs the job of the chapter whose page `host` holds. Chapters run by one
  // runtime never share a folder. A chapter that ends with every page there
  // is flushed to disk and then recorded.
  download::JobOutcome RunChapter(download::DownloadHost& host);
  // Runs `chapters` in order through `runner`, whose RunChapter loads each
  // page and hands it to RunChapter above. A listed chapter already
  // downloaded is not loaded: its header is followed by kLogAlreadyDownloaded,
  // and it counts as complete.
  download::QueueOutcome RunQueue(download::ChapterRunner& runner,
                                  const std::vector<download::ChapterLink>& chapters);
  // Runs the job of `chapter`, whose page `host` holds: recorded under the
  // address and comic its list gave it, as a chapter of a queue is.
  download::JobOutcome RunListedChapter(download::DownloadHost& host,
                                        const download::ChapterLink& chapter);
  // True when `chapter` came from a comic's list and the records hold it
  // with its output present (and downloaded chapters are skipped).
  bool AlreadyDownloaded(const download::ChapterLink& chapter) const;

  const RunSetup& Setup() const { return setup_; }
  // What the next chapter runs with: a runtime that outlives many chapters
  // (the window's background queue) gives each its own options, and keeps
  // their folders apart all the same.
  RunSetup& Setup() { return setup_; }

 private:
  class QueueSteps;

  download::FileSystem& Files() const;
  void Record(download::DownloadHost& host, const download::JobOutcome& outcome);

  RunSetup setup_;
  download::ClaimedNames claimed_names_;
  // The queue's chapter under way, for its record; empty outside a queue.
  download::ChapterLink current_;
};

// "已下载，跳过\r\n": the line after the header of a chapter that is not
// loaded because it was downloaded before.
inline constexpr char kLogAlreadyDownloaded[] = "已下载，跳过\r\n";

}  // namespace vexel::runtime
