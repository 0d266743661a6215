// When a failed page is tried again, and after how long. A pure function of
// the failure and the attempt number, so the job and its tests agree on it.
#pragma once

#include <chrono>
#include <optional>

#include "download/image_fetcher.h"

namespace vexel::download {

inline constexpr int kDefaultRetries = 3;
inline constexpr std::chrono::seconds kMaxBackoff{30};
inline constexpr std::chrono::seconds kMaxRetryAfter{60};

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
