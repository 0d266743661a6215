// The pacer's turns, on a clock the test hands in.
#include "net/request_pacer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace vexel::net {
namespace {

using std::chrono::milliseconds;
using Clock = RequestPacer::Clock;

TEST(RequestPacerTest, TurnsKeepTheGapAndTheServersHold) {
  RequestPacer pacer;
  const Clock::time_point start = Clock::now();
  // No gap: every request at once, as without a pacer.
  EXPECT_FALSE(pacer.TryTakeTurn({}, start));
  EXPECT_FALSE(pacer.TryTakeTurn({}, start));

  const PaceGap gap{milliseconds(500), milliseconds(500)};
  EXPECT_FALSE(pacer.TryTakeTurn(gap, start));
  const auto next = pacer.TryTakeTurn(gap, start + milliseconds(499));
  ASSERT_TRUE(next);
  EXPECT_GE(*next, start + milliseconds(500));
  EXPECT_LE(*next, start + milliseconds(600));
  EXPECT_FALSE(pacer.TryTakeTurn(gap, *next));

  // A range: the next start lies within it.
  const PaceGap range{milliseconds(100), milliseconds(300)};
  const Clock::time_point later = start + milliseconds(2000);
  EXPECT_FALSE(pacer.TryTakeTurn(range, later));
  const auto due = pacer.TryTakeTurn(range, later);
  ASSERT_TRUE(due);
  EXPECT_GE(*due, later + milliseconds(100));
  EXPECT_LE(*due, later + milliseconds(400));

  // A server's hold outlasts the gap, and an earlier hold shortens nothing.
  const Clock::time_point held = start + milliseconds(5000);
  pacer.HoldUntil(held);
  pacer.HoldUntil(start);
  EXPECT_EQ(pacer.TryTakeTurn({}, start + milliseconds(4000)), held);
  EXPECT_FALSE(pacer.TryTakeTurn({}, held));
}

TEST(RequestPacerTest, AStopEndsTheWaitWithoutATurn) {
  RequestPacer pacer;
  pacer.HoldUntil(Clock::now() + std::chrono::hours(1));
  const std::atomic<bool> stop{true};
  EXPECT_FALSE(pacer.WaitForTurn({}, &stop));
  EXPECT_FALSE(TakeTurn(
      &pacer, {}, [] { return true; }, nullptr));
  EXPECT_TRUE(TakeTurn(nullptr, {}, {}, nullptr));
}

}  // namespace
}  // namespace vexel::net
