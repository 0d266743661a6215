// The second stage of a job: fetching pages 1 to the page count of a plan
// whose folder exists, one after another or several at once.
#pragma once

#include "download/chapter_plan.h"
#include "download/download_host.h"
#include "download/download_job.h"

namespace vexel::download {

// Fetches and logs every page of `plan` and decides the end: stopped when a
// stop request was seen, an error when pages were asked for and none was
// stored or found, else complete (after a line naming the failed pages).
// Writes neither the result text nor the last line; DownloadJob does.
JobOutcome RunImageLoop(DownloadHost& host, const JobTools& tools, const JobOptions& options,
                        const ChapterPlan& plan);

}  // namespace vexel::download
