// When a failed page is tried again, and after how long. A pure function of
// the failure and the attempt number, so the job and its tests agree on it.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "download/image_fetcher.h"

namespace vexel::download {

inline constexpr int kDefaultRetries = 3;
inline constexpr std::chrono::seconds kMaxBackoff{30};
inline constexpr std::chrono::seconds kMaxRetryAfter{60};
inline constexpr int kDefaultRefusalsInARow = 5;

// A try the site refused: 429, or 403 once pages of the chapter have
// arrived (a 403 before any is a forbidden chapter, no refusal).
bool IsRefusal(const FetchResult& result, bool pages_arrived);

// "网站拒绝访问（HTTP 429），已停止" with the status of the refusals.
std::string RefusalText(long http_status);

// The wait a server asked of every request (429 or 503 with Retry-After),
// up to kMaxRetryAfter; nothing for any other result.
std::optional<std::chrono::seconds> ServerPause(const FetchResult& result);

// True for failures that another try may cure: a refused, reset or broken
// connection, a timeout or stall, and HTTP 408, 429, 500, 502, 503 and 504.
// Other statuses, bad addresses, file errors and wrong content are not.
bool IsTransient(const FetchResult& result);

// The wait before try `attempt` + 1 of a page whose try `attempt` (1-based)
// has just failed with `result`, or nothing when the page is not tried
// again: the failure is not transient or `retries` tries have already been
// added. Waits double from 1 s (1, 2, 4, ...) up to 30 s, plus `jitter`
// (0 to 1) tenths of that; a Retry-After of the server's takes their place,
// up to 60 s.
std::optional<std::chrono::milliseconds> RetryDelay(const FetchResult& result, int attempt,
                                                    int retries, double jitter);

// One page's tries, as the job keeps them.
struct PageAttempts {
  int tries = 0;
  FetchResult last;
};

}  // namespace vexel::download
