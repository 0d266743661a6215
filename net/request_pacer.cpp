#include "net/request_pacer.h"

#include <algorithm>
#include <thread>

namespace vexel::net {
namespace {

// How long one sleep of a wait for a turn lasts at most before the stop
// flag is looked at again.
constexpr std::chrono::milliseconds kWaitSlice{50};
// Added to every gap: the site sees when requests arrive, which connection
// set-up and the scheduler on either side move by some milliseconds against
// the moment the turn was taken; the slack keeps the gap it sees at least
// the one asked for.
constexpr std::chrono::milliseconds kSlack{20};

}  // namespace

RequestPacer::RequestPacer() : random_(std::random_device{}()) {}

std::optional<RequestPacer::Clock::time_point> RequestPacer::TryTakeTurn(const PaceGap& gap,
                                                                         Clock::time_point now) {
  const std::lock_guard lock(mutex_);
  Clock::time_point due = held_until_;
  if (next_ && *next_ > due) {
    due = *next_;
  }
  if (due > now) {
    return due;
  }
  if (gap.none()) {
    // Without a gap nothing is drawn or kept: today's speed, exactly.
    next_.reset();
    return std::nullopt;
  }
  const auto low = std::max<std::chrono::milliseconds::rep>(gap.low.count(), 0);
  const auto high = std::max(low, gap.high.count());
  const auto drawn =
      std::uniform_int_distribution<std::chrono::milliseconds::rep>(low, high)(random_);
  next_ = now + std::chrono::milliseconds(drawn) + kSlack;
  return std::nullopt;
}

bool RequestPacer::WaitForTurn(const PaceGap& gap, const std::function<bool()>& stopped) {
  // A turn that is due is taken even after a stop: the request was under
  // way before, and only a wait is cut short.
  for (;;) {
    const Clock::time_point now = Clock::now();
    const std::optional<Clock::time_point> due = TryTakeTurn(gap, now);
    if (!due) {
      return true;
    }
    if (stopped && stopped()) {
      return false;
    }
    std::this_thread::sleep_for(std::min<Clock::duration>(*due - now, kWaitSlice));
  }
}

bool RequestPacer::WaitForTurn(const PaceGap& gap, const std::atomic<bool>* stop) {
  return WaitForTurn(gap, [stop] { return stop != nullptr && stop->load(); });
}

void RequestPacer::HoldUntil(Clock::time_point until) {
  const std::lock_guard lock(mutex_);
  held_until_ = std::max(held_until_, until);
}

RequestPacer& ProcessPacer() {
  static RequestPacer pacer;
  return pacer;
}

bool TakeTurn(RequestPacer* pacer, const PaceGap& gap, const std::function<bool()>& stopped,
              const std::atomic<bool>* abandon) {
  if (pacer == nullptr) {
    return true;
  }
  return pacer->WaitForTurn(
      gap, [&] { return (abandon != nullptr && abandon->load()) || (stopped && stopped()); });
}

}  // namespace vexel::net
