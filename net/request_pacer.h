// The pace of the program's requests to the site: one pacer for the whole
// process, through which every page load and every image fetch takes its
// turn before it starts, so that no number of parallel fetches or chapters
// in a row makes the program ask faster than the user allowed, and a
// server's "come back later" (429 or 503 with Retry-After) holds every
// request, not only the one it answered.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <random>

namespace vexel::net {

// The least time between the starts of two requests: a gap drawn uniformly
// from [low, high] for each turn (low == high: that fixed gap). Zero: no
// pause at all.
struct PaceGap {
  std::chrono::milliseconds low{0};
  std::chrono::milliseconds high{0};
  bool none() const { return high.count() <= 0; }
  bool operator==(const PaceGap&) const = default;
};

class RequestPacer {
 public:
  using Clock = std::chrono::steady_clock;

  RequestPacer();

  // Takes the turn when it is due at `now`: nothing is returned and the
  // request may start. Otherwise returns the time from which a turn is
  // possible, and nothing is taken. The gap after a taken turn is drawn from
  // `gap` as the turn is taken, plus a slack of some milliseconds for the
  // way to the site.
  std::optional<Clock::time_point> TryTakeTurn(const PaceGap& gap, Clock::time_point now);
  // Blocks until a turn is taken (true), or until `stopped` says true
  // (false, no turn taken). `stopped` is asked every few tens of
  // milliseconds, so a stop ends the wait at once whatever the gap.
  bool WaitForTurn(const PaceGap& gap, const std::function<bool()>& stopped);
  // The same with an atomic flag (the abandon flag); null never stops.
  bool WaitForTurn(const PaceGap& gap, const std::atomic<bool>* stop);

  // No turn is given before `until`; an earlier time than a hold already in
  // force changes nothing.
  void HoldUntil(Clock::time_point until);

 private:
  std::mutex mutex_;
  std::optional<Clock::time_point> next_;  // the earliest start of the next turn
  Clock::time_point held_until_{};
  std::minstd_rand random_;
};

// The pacer of this process: vexel-dl's page loads and image fetches, and
// the window's, all go through it.
RequestPacer& ProcessPacer();

// Waits for a turn when `pacer` is set; true at once when it is not.
bool TakeTurn(RequestPacer* pacer, const PaceGap& gap, const std::function<bool()>& stopped,
              const std::atomic<bool>* abandon);

}  // namespace vexel::net
