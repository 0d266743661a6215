// A chapter the view only links to: its page is loaded into a hidden page of
// the window's browser profile, which hands the chapter's job its document
// and goes once the job has ended. Worker thread.
#pragma once

#include <optional>
#include <string>

#include "app/job_channel.h"
#include "download/chapter_list.h"
#include "download/download_job.h"
#include "runtime/job_runtime.h"

namespace vexel::app {

class CDownloaderDlg;

// "章节页面打不开\r\n": the chapter's page did not load (or not in time).
inline constexpr char kLogPageNotLoaded[] = "章节页面打不开\r\n";

struct HiddenPageRun {
  // Nothing when the job never began: its page did not load, the site asked
  // for its browser check, or a stop came first (`stopped`).
  std::optional<download::JobOutcome> outcome;
  bool stopped = false;
  std::string folder;  // the chapter folder the job made, or empty
};

// Loads `chapter` and runs its job through `runtime`, reporting to
// `channel`. The page load takes its turn of the pacer first, like any other
// request to the site. A page that asks for the browser check goes to the
// window's view, where the user can pass it.
HiddenPageRun RunInHiddenPage(CDownloaderDlg& window, JobChannel& channel,
                              runtime::JobRuntime& runtime, const download::ChapterLink& chapter);

}  // namespace vexel::app
