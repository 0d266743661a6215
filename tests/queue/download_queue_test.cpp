// The background queue on a store kept in memory: what it adds, what it
// runs next, how each run ends, the user's operations, the estimate, and
// what it writes (and does not) to its store.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "queue/download_queue.h"

namespace vexel::queue {
namespace {

using std::chrono::seconds;
using Ids = std::vector<std::int64_t>;

// Keeps the queue as last saved; refuses writes while `fail` is set.
class MemoryStore : public QueueStore {
 public:
  bool LoadQueue(std::vector<QueueItem>& items, std::string& error) override {
    if (fail) {
      error = "cannot read";
      return false;
    }
    items = kept;
    return true;
  }
  bool SaveQueue(const std::vector<QueueItem>& items, std::string& error) override {
    ++saves;
    if (fail) {
      error = "disk I/O error";
      return false;
    }
    kept = items;
    return true;
  }

  std::vector<QueueItem> kept;
  int saves = 0;
  bool fail = false;
};

std::vector<download::ChapterLink> Links(std::initializer_list<const char*> names) {
  std::vector<download::ChapterLink> links;
  for (const char* name : names) {
    links.push_back({std::string("http://127.0.0.1/c/") + name, name, "http://127.0.0.1/c/"});
  }
  return links;
}

Ids IdsOf(const std::vector<QueueItem>& items) {
  Ids ids;
  for (const QueueItem& item : items) {
    ids.push_back(item.id);
  }
  return ids;
}

download::JobOutcome Outcome(download::JobEnd end, std::vector<std::int64_t> failed = {}) {
  download::JobOutcome outcome;
  outcome.end = end;
  outcome.failed = std::move(failed);
  outcome.folder = "/d/ch";
  return outcome;
}

class QueueTest : public ::testing::Test {
 protected:
  // Queues chapters "1" to "n": ids 1 to n.
  void Queue(int n) {
    for (int i = 1; i <= n; ++i) {
      queue_.Add({{"http://127.0.0.1/c/" + std::to_string(i), std::to_string(i)}}, "", {});
    }
  }
  ItemState StateOf(std::int64_t id) const { return queue_.Find(id)->state; }

  MemoryStore store_;
  DownloadQueue queue_{&store_};
};

TEST_F(QueueTest, AChapterIsQueuedOnceAndAFinishedOneWaitsAgainInItsPlace) {
  ItemOptions options;
  options.jobs = 4;
  AddResult added = queue_.Add(Links({"a", "b", "a"}), "漫画", options);
  EXPECT_EQ(added.added, 2U);
  EXPECT_EQ(added.duplicates, 1U);
  EXPECT_EQ(store_.saves, 1);
  queue_.Add(Links({"c"}), "漫画", options);
  queue_.Begin(2);
  queue_.Finish(2, RunEnd::Ended, Outcome(download::JobEnd::Error), "网络错误");
  queue_.Pause(3);

  // Waiting, running or paused: refused; finished: asked for again.
  queue_.Begin(1);
  options.pack_cbz = true;
  const int saves = store_.saves;
  added = queue_.Add(Links({"a", "b", "c", "d"}), "漫画", options);
  EXPECT_EQ(added.added, 2U);
  EXPECT_EQ(added.duplicates, 2U);
  EXPECT_EQ(store_.saves, saves + 1);
  EXPECT_EQ(IdsOf(queue_.Items()), (Ids{1, 2, 3, 4}));
  const QueueItem& again = *queue_.Find(2);
  EXPECT_EQ(again.state, ItemState::Waiting);
  EXPECT_EQ(again.error, "");
  EXPECT_EQ(again.output, "/d/ch");
  EXPECT_TRUE(again.begun);
  EXPECT_TRUE(again.options.pack_cbz);
  EXPECT_FALSE(queue_.Find(3)->options.pack_cbz);
  EXPECT_EQ(queue_.Find(4)->comic_title, "漫画");
  EXPECT_EQ(IdsOf(store_.kept), IdsOf(queue_.Items()));
  EXPECT_EQ(queue_.Unfinished(), 4U);
}

TEST_F(QueueTest, NextIsTheFirstWaitingChapterUnlessTheQueueIsHeld) {
  Queue(3);
  queue_.Pause(1);
  EXPECT_EQ(queue_.Next()->id, 2);
  queue_.SetHeld(true);
  EXPECT_FALSE(queue_.Next());
  queue_.ResumeAll();
  EXPECT_FALSE(queue_.Held());
  EXPECT_EQ(queue_.Next()->id, 1);

  queue_.Begin(1);
  queue_.PauseAll();  // the running one is the window's to stop
  EXPECT_EQ(StateOf(1), ItemState::Running);
  EXPECT_EQ(StateOf(2), ItemState::Paused);
  EXPECT_FALSE(queue_.Next());
  queue_.Cancel(3);
  queue_.ResumeAll();
  EXPECT_EQ(StateOf(3), ItemState::Cancelled);
  EXPECT_EQ(queue_.Next()->id, 2);
  EXPECT_EQ(store_.kept[1].state, ItemState::Waiting);
}

TEST_F(QueueTest, EachEndOfARunGivesItsState) {
  download::JobOutcome refused = Outcome(download::JobEnd::Error);
  refused.refusal = "网站拒绝了请求";
  download::JobOutcome packed = Outcome(download::JobEnd::Complete);
  packed.packed = true;
  packed.archive = "/d/ch.cbz";
  struct Case {
    RunEnd end;
    std::optional<download::JobOutcome> outcome;
    std::string error;
    ItemState state;
    std::string stored_error;
    std::vector<std::int64_t> failed;
    std::string output;
  };
  const std::vector<Case> cases = {
      {RunEnd::Ended, Outcome(download::JobEnd::Complete), "", ItemState::Done, "", {}, "/d/ch"},
      {RunEnd::Ended, packed, "", ItemState::Done, "", {}, "/d/ch.cbz"},
      {RunEnd::Ended,
       Outcome(download::JobEnd::Complete, {3, 7}),
       "",
       ItemState::FailedPages,
       "",
       {3, 7},
       "/d/ch"},
      {RunEnd::Ended, refused, "", ItemState::Error, "网站拒绝了请求", {}, "/d/ch"},
      {RunEnd::Ended,
       Outcome(download::JobEnd::Error),
       "磁盘已满",
       ItemState::Error,
       "磁盘已满",
       {},
       "/d/ch"},
      {RunEnd::Ended, std::nullopt, "页面加载失败", ItemState::Error, "页面加载失败", {}, ""},
      {RunEnd::Ended, std::nullopt, "", ItemState::Error, "下载出错", {}, ""},
      {RunEnd::Ended, Outcome(download::JobEnd::Stopped), "", ItemState::Paused, "", {}, "/d/ch"},
      {RunEnd::Paused, Outcome(download::JobEnd::Stopped), "", ItemState::Paused, "", {}, "/d/ch"},
      {RunEnd::Cancelled, std::nullopt, "", ItemState::Cancelled, "", {}, ""},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const Case& c = cases[i];
    MemoryStore store;
    DownloadQueue queue(&store);
    queue.Add(Links({"a"}), "", {});
    queue.Begin(1);
    EXPECT_TRUE(store.kept[0].begun);
    queue.Finish(1, c.end, c.outcome, c.error);
    EXPECT_EQ(store.saves, 3);
    const QueueItem& item = store.kept[0];
    EXPECT_EQ(item.state, c.state);
    EXPECT_EQ(item.error, c.stored_error);
    EXPECT_EQ(item.failed, c.failed);
    EXPECT_EQ(item.output, c.output);
  }
}

TEST_F(QueueTest, AYieldedChapterRunsFirstAgainAndAnAbandonedOneWritesNothing) {
  Queue(3);
  queue_.Pause(1);
  queue_.Begin(2);
  queue_.Progress(2, 4, 10, 1000);
  queue_.Resume(1);  // waits above the running one now
  queue_.Finish(2, RunEnd::Yielded, std::nullopt, "");
  EXPECT_EQ(IdsOf(store_.kept), (Ids{2, 1, 3}));
  EXPECT_EQ(store_.kept[0].state, ItemState::Waiting);
  EXPECT_EQ(queue_.Next()->id, 2);
  EXPECT_EQ(queue_.Find(2)->page, 0);

  queue_.Begin(2);
  const int saves = store_.saves;
  queue_.Finish(2, RunEnd::Abandoned, std::nullopt, "");
  EXPECT_EQ(store_.saves, saves);
  EXPECT_EQ(store_.kept[0].state, ItemState::Running);
  EXPECT_EQ(queue_.Unfinished(), 3U);
}

TEST_F(QueueTest, RetryClearsTheEndAndRetryFailedTakesEveryFailedChapter) {
  Queue(5);
  const std::vector<std::pair<download::JobEnd, std::vector<std::int64_t>>> ends = {
      {download::JobEnd::Error, {}},
      {download::JobEnd::Complete, {2}},
      {download::JobEnd::Complete, {}}};
  for (std::size_t i = 0; i < ends.size(); ++i) {
    queue_.Begin(static_cast<std::int64_t>(i + 1));
    queue_.Finish(static_cast<std::int64_t>(i + 1), RunEnd::Ended,
                  Outcome(ends[i].first, ends[i].second), "");
  }
  queue_.Cancel(4);
  EXPECT_EQ(queue_.RetryFailed(), 2U);
  EXPECT_EQ(StateOf(1), ItemState::Waiting);
  EXPECT_EQ(queue_.Find(1)->error, "");
  EXPECT_TRUE(queue_.Find(2)->failed.empty());
  EXPECT_EQ(StateOf(3), ItemState::Done);
  EXPECT_EQ(StateOf(4), ItemState::Cancelled);
  queue_.Retry(4);
  EXPECT_EQ(StateOf(4), ItemState::Waiting);
  const int saves = store_.saves;
  queue_.Retry(5);  // not finished: nothing to do
  EXPECT_EQ(queue_.RetryFailed(), 0U);
  EXPECT_EQ(store_.saves, saves);
}

TEST_F(QueueTest, MovesKeepTheChosenInQueueOrderAndADragDropsBeforeTheRow) {
  Queue(5);
  queue_.MoveToTop({4, 2});
  EXPECT_EQ(IdsOf(queue_.Items()), (Ids{2, 4, 1, 3, 5}));
  queue_.MoveToBottom({2, 1});
  EXPECT_EQ(IdsOf(queue_.Items()), (Ids{4, 3, 5, 2, 1}));
  // Dragging the first row onto row 3 puts it before the chapter there.
  queue_.MoveTo({4}, 3);
  EXPECT_EQ(IdsOf(queue_.Items()), (Ids{3, 5, 4, 2, 1}));
  queue_.MoveTo({3, 1}, 5);
  EXPECT_EQ(IdsOf(queue_.Items()), (Ids{5, 4, 2, 3, 1}));
  // Dropped onto a row of its own selection: before the next other one.
  queue_.MoveTo({2, 3}, 3);
  EXPECT_EQ(IdsOf(queue_.Items()), (Ids{5, 4, 2, 3, 1}));
  EXPECT_EQ(IdsOf(store_.kept), IdsOf(queue_.Items()));
  const int saves = store_.saves;
  queue_.MoveToTop({5});
  queue_.MoveTo({4}, 2);
  EXPECT_EQ(store_.saves, saves);
}

TEST_F(QueueTest, RemoveFinishedTakesTheCompleteOnesAndARunningOneStays) {
  Queue(4);
  queue_.Begin(1);
  queue_.Finish(1, RunEnd::Ended, Outcome(download::JobEnd::Complete), "");
  queue_.Begin(2);
  queue_.Finish(2, RunEnd::Ended, Outcome(download::JobEnd::Complete, {1}), "");
  queue_.Begin(3);
  EXPECT_EQ(queue_.RemoveFinished(), 1U);
  EXPECT_EQ(queue_.Remove({2, 3}), 1U);
  EXPECT_EQ(IdsOf(store_.kept), (Ids{3, 4}));
}

TEST_F(QueueTest, TheEstimateFollowsThePaceOfThePages) {
  Queue(4);
  queue_.Begin(4);
  queue_.Finish(4, RunEnd::Ended, Outcome(download::JobEnd::Complete), "");
  const auto t0 = std::chrono::steady_clock::time_point() + seconds(100);
  EXPECT_FALSE(queue_.Totals(t0).left);
  queue_.Begin(1);
  queue_.Progress(1, 0, 10, 0, t0);
  EXPECT_FALSE(queue_.Totals(t0).left);
  queue_.Progress(1, 2, 10, 5000, t0 + seconds(4));
  const QueueTotals totals = queue_.Totals(t0 + seconds(4));
  EXPECT_EQ(totals.total, 4U);
  EXPECT_EQ(totals.waiting, 3U);
  EXPECT_EQ(totals.done, 1U);
  // 2 s a page: 8 pages of this chapter and 10 for each of the two waiting.
  EXPECT_EQ(totals.left, seconds(56));
  EXPECT_EQ(queue_.Totals(t0 + seconds(5)).left, seconds(55));
  EXPECT_EQ(queue_.Totals(t0 + seconds(9)).left, seconds(54));

  queue_.Finish(1, RunEnd::Ended, Outcome(download::JobEnd::Complete), "");
  queue_.Begin(2);
  queue_.Progress(2, 0, 20, 0, t0 + seconds(20));
  // Chapters of 15 pages on average now: 20 pages here, 15 for the last.
  EXPECT_EQ(queue_.Totals(t0 + seconds(20)).left, seconds(70));
  queue_.Pause(3);
  EXPECT_EQ(queue_.Totals(t0 + seconds(20)).left, seconds(40));
}

TEST_F(QueueTest, AFailedWriteIsKeptAndTheQueueGoesOn) {
  store_.fail = true;
  Queue(2);
  EXPECT_EQ(queue_.StoreError(), "disk I/O error");
  EXPECT_EQ(queue_.Items().size(), 2U);
  EXPECT_EQ(queue_.Next()->id, 1);
  store_.fail = false;
  queue_.Pause(1);
  EXPECT_EQ(queue_.StoreError(), "");
  EXPECT_EQ(IdsOf(store_.kept), (Ids{1, 2}));
}

TEST(QueueRestoreTest, RunningChaptersWaitAgainAndNewIdsGoAboveTheKeptOnes) {
  MemoryStore store;
  store.kept.resize(3);
  const std::vector<std::pair<std::int64_t, ItemState>> kept = {
      {7, ItemState::Running}, {3, ItemState::Paused}, {5, ItemState::Error}};
  for (std::size_t i = 0; i < kept.size(); ++i) {
    store.kept[i].id = kept[i].first;
    store.kept[i].address = "http://127.0.0.1/c/" + std::to_string(i);
    store.kept[i].state = kept[i].second;
    store.kept[i].page = 9;
  }
  DownloadQueue queue(&store);
  std::string error;
  ASSERT_TRUE(queue.Restore(error));
  EXPECT_EQ(store.saves, 0);
  EXPECT_EQ(IdsOf(queue.Items()), (Ids{7, 3, 5}));
  EXPECT_EQ(queue.Items()[0].state, ItemState::Waiting);
  EXPECT_EQ(queue.Items()[0].page, 0);
  EXPECT_EQ(queue.Items()[1].state, ItemState::Paused);
  queue.Add(Links({"new"}), "", {});
  EXPECT_EQ(queue.Items().back().id, 8);

  store.fail = true;
  EXPECT_FALSE(queue.Restore(error));
  EXPECT_EQ(error, "cannot read");
  EXPECT_TRUE(queue.Items().empty());

  ItemState state = ItemState::Waiting;
  EXPECT_TRUE(StateFromNumber(6, state));
  EXPECT_EQ(state, ItemState::Cancelled);
  EXPECT_FALSE(StateFromNumber(7, state));
  EXPECT_FALSE(StateFromNumber(-1, state));
}

}  // namespace
}  // namespace vexel::queue
