// What the download job needs from whoever runs it: the window or vexel-dl.
//
// The job runs on a worker thread. Every call below is made from that thread;
// a host that owns a user interface forwards each one to its own thread and
// returns only once the change has taken effect, so that the log shows the
// job's steps in order.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "download/image_fetcher.h"
#include "query/page_document.h"

namespace vexel::download {

// Where chapter folders go.
struct OutputDirectory {
  std::string path;       // ends in "/"
  bool fallback = false;  // true when the preferred directory was not writable
                          // and `path` is the user's download folder instead
  // With `fallback`: the directory that could not be written was the folder
  // the user chose (下载到), not the program's own directory.
  bool chosen_folder_unwritable = false;
};

class DownloadHost {
 public:
  virtual ~DownloadHost() = default;

  // Empties the log pane.
  virtual void ClearLog() = 0;
  // Appends `text` at the end of the log; callers supply the "\r\n" line ends.
  virtual void AppendLog(std::string_view text) = 0;
  // The stop flag, polled between pages.
  virtual bool StopRequested() = 0;
  // The outcome text, set exactly once per run.
  virtual void SetResultText(std::string_view text) = 0;

  // The chapter page as the queries see it; may be null when nothing is loaded.
  virtual PageDocument* Document() = 0;
  // True when the last read of the page was refused because the page is too
  // complex to read (far too many elements); the job then says so.
  virtual bool DocumentTooComplex() { return false; }
  // The chapter page's absolute address: the base for relative image
  // addresses and the Referer of every image request.
  virtual std::string PageAddress() = 0;
  // The directory that receives the chapter folder.
  virtual OutputDirectory ChooseOutputDirectory() = 0;
  // Told once the chapter folder exists (`folder`: its path, without a final
  // "/"), before any page is fetched. Does nothing unless overridden.
  virtual void ChapterFolder(const std::string& /*folder*/) {}
  // Told when the page is no chapter but lists `count` chapters, just before
  // the job writes its 下载出错, so that the host can point the user to its
  // own way of downloading them. Does nothing unless overridden.
  virtual void PageListsChapters(std::size_t /*count*/) {}

  // Told just before page `page` of `page_count` is fetched (its log line is
  // already open), for a progress display. Does nothing unless overridden.
  virtual void PageStarted(std::int64_t /*page*/, std::int32_t /*page_count*/) {}
  // Told once page `page` has been fetched or has failed (its log line is
  // complete), with why it failed. Does nothing unless overridden.
  virtual void PageFinished(std::int64_t /*page*/, const FetchResult& /*result*/) {}

  // Waits `delay` before a failed page is tried again. False when a stop
  // request (or the program closing) ended the wait early. This default
  // looks at StopRequested() every 50 ms; hosts that can be woken at once
  // override it.
  virtual bool WaitBeforeRetry(std::chrono::milliseconds delay);
  // Told when the job starts (true) and stops (false) waiting for a page to
  // be tried again, so a progress display can say why nothing moves. Does
  // nothing unless overridden.
  virtual void RetryPending(bool /*pending*/) {}
  // Told when the server asked for a pause of every request (429 or 503
  // with Retry-After) and no page starts for `wait`, and with 0 once the
  // pause is over. Does nothing unless overridden.
  virtual void Paused(std::chrono::seconds /*wait*/) {}

 protected:
  DownloadHost() = default;
  DownloadHost(const DownloadHost&) = default;
  DownloadHost& operator=(const DownloadHost&) = default;
  DownloadHost(DownloadHost&&) = default;
  DownloadHost& operator=(DownloadHost&&) = default;
};

}  // namespace vexel::download
