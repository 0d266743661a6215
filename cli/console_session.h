// A download run of vexel-dl on the console, shared by the download and
// update commands: Ctrl-C, the printed log and status line, one set of
// connections for every page and image, and the runtime that runs the jobs.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/console_output.h"
#include "cli/download_arguments.h"
#include "cli/interrupt_flags.h"
#include "download/chapter_list.h"
#include "download/chapter_queue.h"
#include "download/chapter_records.h"
#include "net/curl_handle.h"
#include "net/page_loader.h"
#include "runtime/job_runtime.h"

namespace vexel::cli {

inline constexpr int kExitComplete = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitStopped = 3;
inline constexpr int kExitFailedPages = 4;

// The absolute output directory, created when missing, ending in "/".
std::optional<std::string> PrepareOutputDirectory(const std::string& requested);

// The exit status of a run: 3 if stopped, else 1 after any error (or
// `failed`), else 4 if any page failed, else 0.
int ExitStatus(const download::QueueOutcome& outcome, bool failed);

class ConsoleChapterRunner;

class ConsoleSession {
 public:
  // Chapters go to `output` (ending in "/"); `headers`: each chapter's log
  // follows a line 【k/K】ADDRESS. `records` may be null.
  ConsoleSession(const DownloadArguments& arguments, std::string output, bool headers,
                 download::ChapterRecords* records);
  ~ConsoleSession();
  ConsoleSession(const ConsoleSession&) = delete;
  ConsoleSession& operator=(const ConsoleSession&) = delete;
  ConsoleSession(ConsoleSession&&) = delete;
  ConsoleSession& operator=(ConsoleSession&&) = delete;

  // `address` loaded over the run's connections; a second Ctrl-C ends the
  // load at once.
  net::LoadedPage LoadPage(const std::string& address) const;
  // The same page fetched and not read (net::ReadPage reads it). It may be
  // called from another thread while this one does no transfer, with the
  // curl handle of that thread (see PageLoadOptions; null: a new one).
  net::FetchedPage FetchPage(const std::string& address, CURL* handle) const;
  // The chapters listed by `comic` go to `folder` (ending in "/").
  void SetComicFolder(const std::string& comic, std::string folder);
  // Runs `chapters` in order, one job each.
  download::QueueOutcome Run(const std::vector<download::ChapterLink>& chapters);
  bool StopRequested() const { return interrupts_.StopRequested(); }

 private:
  InterruptFlags interrupts_;
  // Once the reader of the output has gone, nothing more is written and the
  // job stops after the page under way, as on a first Ctrl-C, rather than
  // dying halfway through a page.
  bool output_closed_ = false;
  ConsoleOutput console_;
  // Declared before every transfer that uses it, so it is cleaned up last.
  net::CurlShare connections_;
  runtime::JobRuntime runtime_;
  std::unique_ptr<ConsoleChapterRunner> runner_;
};

}  // namespace vexel::cli
