// Several chapters one after another: a header line before each, one job per
// chapter, and a tally that the outcome box and the exit status read.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "download/chapter_list.h"
#include "download/download_job.h"

namespace vexel::download {

// What the queue needs from whoever runs it: the window (a hidden page of
// the browser per chapter) or vexel-dl (the page loader).
class ChapterRunner {
 public:
  virtual ~ChapterRunner() = default;

  // Writes a line of the queue's own (the chapter headers).
  virtual void AppendLog(std::string_view text) = 0;
  // The stop flag; a stop skips the chapters not yet begun.
  virtual bool StopRequested() = 0;
  // Loads `chapter` and runs one DownloadJob on it. Nothing when the page
  // could not be loaded, which counts as a chapter with an error.
  virtual std::optional<JobOutcome> RunChapter(std::size_t position, std::size_t count,
                                               const ChapterLink& chapter) = 0;

 protected:
  ChapterRunner() = default;
  ChapterRunner(const ChapterRunner&) = default;
  ChapterRunner& operator=(const ChapterRunner&) = default;
  ChapterRunner(ChapterRunner&&) = default;
  ChapterRunner& operator=(ChapterRunner&&) = default;
};

struct QueueOutcome {
  std::size_t total = 0;              // chapters in the queue
  std::size_t complete = 0;           // every page stored or present
  std::size_t with_failed_pages = 0;  // complete, but some pages failed
  std::size_t errors = 0;             // not loaded, or the job ended 下载出错
  // A stop: the chapter it cut short (0 or 1), and those it kept from
  // beginning at all.
  std::size_t unfinished = 0;
  std::size_t not_begun = 0;
  bool stopped = false;
};

// "【k/K】ADDRESS\r\n": the line before chapter k of K.
std::string ChapterHeaderLine(std::size_t position, std::size_t count, std::string_view address);

// Runs `chapters` in order. Each chapter's lines follow its header. A job
// that the site's refusals ended (JobOutcome::refusal) ends the queue: the
// chapters after it are skipped.
QueueOutcome RunChapterQueue(ChapterRunner& runner, const std::vector<ChapterLink>& chapters);

// The box text after a queue: "共N话：完成a话，有失败图片b话，出错c话" and, after a stop,
// "，未完成d话，未开始e话，已终止", so that what is missing can be told from
// what was never tried.
std::string QueueSummaryText(const QueueOutcome& outcome);

}  // namespace vexel::download
