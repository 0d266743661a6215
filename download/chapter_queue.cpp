#include "download/chapter_queue.h"

namespace vexel::download {

std::string ChapterHeaderLine(std::size_t position, std::size_t count, std::string_view address) {
  std::string line = "【" + std::to_string(position) + "/" + std::to_string(count) + "】";
  line.append(address).append("\r\n");
  return line;
}

QueueOutcome RunChapterQueue(ChapterRunner& runner, const std::vector<ChapterLink>& chapters) {
  QueueOutcome outcome;
  outcome.total = chapters.size();
  for (std::size_t i = 0; i < chapters.size(); ++i) {
    if (runner.StopRequested()) {
      outcome.stopped = true;
      outcome.not_begun = chapters.size() - i;
      break;
    }
    runner.AppendLog(ChapterHeaderLine(i + 1, chapters.size(), chapters[i].address));
    const std::optional<JobOutcome> job = runner.RunChapter(i + 1, chapters.size(), chapters[i]);
    if (job && !job->refusal.empty()) {
      // The site refuses page after page: the next chapters would only be
      // refused too.
      ++outcome.errors;
      outcome.not_begun = chapters.size() - i - 1;
      break;
    }
    if (!job || job->end == JobEnd::Error) {
      ++outcome.errors;
    } else if (job->end == JobEnd::Stopped) {
      outcome.stopped = true;
      outcome.unfinished = 1;
      outcome.not_begun = chapters.size() - i - 1;
      break;
    } else if (!job->failed.empty()) {
      ++outcome.with_failed_pages;
    } else {
      ++outcome.complete;
    }
  }
  return outcome;
}

std::string QueueSummaryText(const QueueOutcome& outcome) {
  std::string text = "共" + std::to_string(outcome.total) + "话：完成" +
                     std::to_string(outcome.complete) + "话，有失败图片" +
                     std::to_string(outcome.with_failed_pages) + "话，出错" +
                     std::to_string(outcome.errors) + "话";
  if (outcome.stopped) {
    text += "，未完成" + std::to_string(outcome.unfinished) + "话，未开始" +
            std::to_string(outcome.not_begun) + "话，已终止";
  } else if (outcome.not_begun > 0) {
    // The site refused the queue: what was left is named all the same.
    text += "，未开始" + std::to_string(outcome.not_begun) + "话";
  }
  return text;
}

}  // namespace vexel::download
