// The shared receive cap's budget, on a clock the test hands in.
#include "net/receive_budget.h"

#include <gtest/gtest.h>

#include <chrono>

namespace vexel::net {
namespace {

using std::chrono::milliseconds;

TEST(ReceiveBudgetTest, WritesOfAllTransfersDrawFromOneBudget) {
  const ReceiveBudget::Clock::time_point start{};
  ReceiveBudget none(0, start);
  EXPECT_TRUE(none.Take(1 << 30, start));

  // 100000 bytes/s: the bucket starts at its least, one write of curl's.
  ReceiveBudget budget(100000, start);
  EXPECT_TRUE(budget.Take(16384, start));  // one transfer
  EXPECT_FALSE(budget.Take(1, start));     // another transfer waits too
  EXPECT_GE(budget.AvailableAt(), start);
  // 10 ms later 1000 bytes more: one write goes, past the budget.
  EXPECT_TRUE(budget.Take(16384, start + milliseconds(10)));
  EXPECT_FALSE(budget.Available(start + milliseconds(100)));
  // That debt takes about 154 ms to pay off, and then writes go on.
  const auto at = budget.AvailableAt();
  EXPECT_GT(at, start + milliseconds(160));
  EXPECT_LT(at, start + milliseconds(170));
  EXPECT_TRUE(budget.Available(at + milliseconds(1)));
}

}  // namespace
}  // namespace vexel::net
