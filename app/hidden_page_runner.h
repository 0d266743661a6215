// The queue's view of the window: each chapter is loaded into a hidden page
// of its own, which hands the chapter's job its document and goes once the
// job has ended. Worker thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "download/chapter_queue.h"
#include "download/download_job.h"
#include "runtime/job_runtime.h"

namespace vexel::app {

class JobController;

class QueueRunner : public download::ChapterRunner {
 public:
  QueueRunner(JobController& jobs, runtime::JobRuntime& runtime);

  void AppendLog(std::string_view text) override;
  bool StopRequested() override;
  std::optional<download::JobOutcome> RunChapter(std::size_t position, std::size_t count,
                                                 const download::ChapterLink& chapter) override;

  // For the outcome box: the folder of the last chapter that made one
  // (empty while none has), and the outcome of the last job that ran.
  const std::string& LastFolder() const { return last_folder_; }
  const download::JobOutcome& LastOutcome() const { return last_outcome_; }

 private:
  // A chapter that never reached its job: stopped when a stop (or the window
  // closing) cut it short, otherwise one whose page did not load.
  std::optional<download::JobOutcome> StoppedOrNothing() const;

  JobController& jobs_;
  runtime::JobRuntime& runtime_;  // one for the whole queue
  std::string last_folder_;
  download::JobOutcome last_outcome_;
};

}  // namespace vexel::app
