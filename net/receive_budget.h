// The shared receive cap of the image fetcher: a token bucket that all its
// transfers in flight draw from. libcurl caps one transfer at a time
// (CURLOPT_MAX_RECV_SPEED_LARGE); dividing a cap by the transfers in flight
// would need the option changed on transfers under way, which libcurl does
// not promise to heed. Instead a write past the budget pauses its transfer
// (CURL_WRITEFUNC_PAUSE, which libcurl supports on a multi handle) until the
// budget has refilled; the socket is then not read, and TCP slows the
// server down.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace vexel::net {

class ReceiveBudget {
 public:
  using Clock = std::chrono::steady_clock;

  // `bytes_per_second` 0: no cap, every Take succeeds.
  ReceiveBudget(std::int64_t bytes_per_second, Clock::time_point now);

  bool capped() const { return rate_ > 0; }
  // Takes `bytes` at `now` when any budget is left; it may go below zero
  // by this one write, which later writes wait for. False: pause.
  bool Take(std::size_t bytes, Clock::time_point now);
  // True when a paused transfer may go on at `now`.
  bool Available(Clock::time_point now);
  // When the budget holds a byte again (in the past when it does now).
  Clock::time_point AvailableAt() const;

 private:
  void Refill(Clock::time_point now);

  double rate_ = 0;
  double tokens_ = 0;
  double burst_ = 0;
  Clock::time_point refilled_;
};

}  // namespace vexel::net
