#include "download/retry_policy.h"

#include <algorithm>
#include <string>

namespace vexel::download {

bool IsTransient(const FetchResult& result) {
  switch (result.failure) {
    case FetchFailure::Network:
    case FetchFailure::Timeout:
      return true;
    case FetchFailure::HttpStatus:
      switch (result.http_status) {
        case 408:
        case 429:
        case 500:
        case 502:
        case 503:
        case 504:
          return true;
        default:
          return false;
      }
    default:
      return false;
  }
}

bool IsRefusal(const FetchResult& result, bool pages_arrived) {
  return !result.stored && result.failure == FetchFailure::HttpStatus &&
         (result.http_status == 429 || (result.http_status == 403 && pages_arrived));
}

std::string RefusalText(long http_status) {
  return "网站拒绝访问（HTTP " + std::to_string(http_status) + "），已停止";
}

std::optional<std::chrono::seconds> ServerPause(const FetchResult& result) {
  if (result.stored || result.retry_after_seconds <= 0 ||
      (result.http_status != 429 && result.http_status != 503)) {
    return std::nullopt;
  }
  return std::min<std::chrono::seconds>(std::chrono::seconds(result.retry_after_seconds),
                                        kMaxRetryAfter);
}

std::optional<std::chrono::milliseconds> RetryDelay(const FetchResult& result, int attempt,
                                                    int retries, double jitter) {
  using std::chrono::milliseconds;
  if (result.stored || attempt < 1 || attempt > retries || !IsTransient(result)) {
    return std::nullopt;
  }
  if (result.retry_after_seconds >= 0) {
    return std::min<milliseconds>(std::chrono::seconds(result.retry_after_seconds), kMaxRetryAfter);
  }
  // 1 s << (attempt - 1), without shifting past the cap.
  const milliseconds base =
      attempt > 5 ? milliseconds(kMaxBackoff)
                  : std::min<milliseconds>(std::chrono::seconds(1LL << (attempt - 1)), kMaxBackoff);
  const double spread = std::clamp(jitter, 0.0, 1.0) * 0.1;
  return base + milliseconds(static_cast<long long>(static_cast<double>(base.count()) * spread));
}

}  // namespace vexel::download
