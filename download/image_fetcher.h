// Fetching one page image to a file.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace vexel::download {

// Why a page image was not stored.
enum class FetchFailure {
  None,        // stored
  Network,     // no connection, a reset, a bad address, a broken transfer
  Timeout,     // no connection in time, or no data for too long
  BadAddress,  // an address no request can be made for
  HttpStatus,  // the server answered with an error status
  TooLarge,    // the body passed the size limit
  NotAnImage,  // the server sent a web page in place of an image
  Empty,       // the body was empty
  File,        // the body could not be written or put in place
  Abandoned,   // the transfer was given up on request
};

struct FetchResult {
  bool stored = false;
  FetchFailure failure = FetchFailure::None;
  long http_status = 0;  // the last response's status; 0 when none came
  std::string reason;    // one short line, in English; empty when stored
  // The server's Retry-After in seconds (from a number or a date); -1 when
  // it sent none.
  long long retry_after_seconds = -1;
  // The errno of a File failure, so the log can say why (a full disk).
  int system_error = 0;
  // The bytes received for a stored page (0 when unknown), for a display of
  // the speed.
  std::uint64_t bytes = 0;

  static FetchResult Stored(long http_status) {
    FetchResult result;
    result.stored = true;
    result.http_status = http_status;
    return result;
  }
  static FetchResult Failed(FetchFailure failure, std::string reason, long http_status = 0) {
    FetchResult result;
    result.failure = failure;
    result.http_status = http_status;
    result.reason = std::move(reason);
    return result;
  }
};

// A fetch started with StartFetch that has ended.
struct FinishedFetch {
  std::uint64_t tag = 0;
  FetchResult result;
};

class ImageFetcher {
 public:
  virtual ~ImageFetcher() = default;

  // Told the chapter page's address once the job has read the page, before
  // its first fetch, for fetchers that send it as every request's Referer.
  virtual void SetReferer(const std::string& /*page_address*/) {}

  // Fetches `address` and stores the body at `target`, replacing any file
  // there. On failure nothing half-written is left under `target`.
  virtual FetchResult FetchImage(const std::string& address, const std::string& target) = 0;

  // Several fetches in flight at once, for fetchers that can do that. The
  // job uses them only when asked for more than one page at a time, and
  // falls back to FetchImage when StartFetch says no.
  //
  // Starts fetching `address` to `target` under `tag`; false when this
  // fetcher fetches one page at a time.
  virtual bool StartFetch(std::uint64_t /*tag*/, const std::string& /*address*/,
                          const std::string& /*target*/) {
    return false;
  }
  // Waits up to `timeout` for one started fetch to end; nothing when none
  // ended in that time (or none is in flight).
  virtual std::optional<FinishedFetch> NextFinished(std::chrono::milliseconds /*timeout*/) {
    return std::nullopt;
  }

 protected:
  ImageFetcher() = default;
  ImageFetcher(const ImageFetcher&) = default;
  ImageFetcher& operator=(const ImageFetcher&) = default;
  ImageFetcher(ImageFetcher&&) = default;
  ImageFetcher& operator=(ImageFetcher&&) = default;
};

}  // namespace vexel::download
