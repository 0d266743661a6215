#include "net/receive_budget.h"

#include <algorithm>

#include <curl/curl.h>

namespace vexel::net {
namespace {

// The bucket holds at most this share of a second's bytes (and at least one
// full write of curl's), so a cap is kept over any second rather than only
// on average over the run.
constexpr double kBurstShare = 0.05;
constexpr double kLeastBurst = CURL_MAX_WRITE_SIZE;

}  // namespace

ReceiveBudget::ReceiveBudget(std::int64_t bytes_per_second, Clock::time_point now)
    : rate_(bytes_per_second > 0 ? static_cast<double>(bytes_per_second) : 0),
      tokens_(std::max(kLeastBurst, rate_ * kBurstShare)),
      burst_(tokens_),
      refilled_(now) {}

void ReceiveBudget::Refill(Clock::time_point now) {
  const std::chrono::duration<double> passed = now - refilled_;
  if (passed.count() > 0) {
    refilled_ = now;
    tokens_ = std::min(burst_, tokens_ + rate_ * passed.count());
  }
}

bool ReceiveBudget::Take(std::size_t bytes, Clock::time_point now) {
  if (!capped()) {
    return true;
  }
  if (!Available(now)) {
    return false;
  }
  tokens_ -= static_cast<double>(bytes);
  return true;
}

bool ReceiveBudget::Available(Clock::time_point now) {
  Refill(now);
  return tokens_ > 0;
}

ReceiveBudget::Clock::time_point ReceiveBudget::AvailableAt() const {
  if (!capped() || tokens_ >= 1) {
    return refilled_;
  }
  return refilled_ + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>((1 - tokens_) / rate_));
}

}  // namespace vexel::net
