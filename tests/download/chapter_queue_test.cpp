#include "download/chapter_queue.h"

#include <gtest/gtest.h>

#include <map>

namespace vexel::download {
namespace {

JobOutcome Ended(JobEnd end) {
  JobOutcome outcome;
  outcome.end = end;
  return outcome;
}

// Runs chapters by a script: what each one ends in.
class ScriptedRunner final : public ChapterRunner {
 public:
  std::map<std::size_t, std::optional<JobOutcome>> script;
  std::string log;
  bool stop = false;
  std::size_t stop_after = 0;  // sets the stop flag once this chapter ran
  std::vector<std::size_t> ran;

  void AppendLog(std::string_view text) override { log.append(text); }
  bool StopRequested() override { return stop; }
  std::optional<JobOutcome> RunChapter(std::size_t position, std::size_t,
                                       const ChapterLink&) override {
    ran.push_back(position);
    log += "job\r\n";
    stop = stop || position == stop_after;
    return script.contains(position) ? script[position] : Ended(JobEnd::Complete);
  }
};

std::vector<ChapterLink> Chapters(std::size_t count) {
  std::vector<ChapterLink> chapters;
  for (std::size_t i = 1; i <= count; ++i) {
    chapters.push_back({"http://c.example/" + std::to_string(i) + ".html", "ch"});
  }
  return chapters;
}

TEST(ChapterQueueTest, EachChapterUnderItsHeaderAndCountedByItsEnd) {
  ScriptedRunner runner;
  JobOutcome holes = Ended(JobEnd::Complete);
  holes.failed = {3};
  runner.script[2] = std::nullopt;          // the page did not load
  runner.script[3] = Ended(JobEnd::Error);  // 下载出错
  runner.script[4] = holes;
  const QueueOutcome outcome = RunChapterQueue(runner, Chapters(4));
  EXPECT_EQ(runner.log,
            "【1/4】http://c.example/1.html\r\njob\r\n【2/4】http://c.example/2.html\r\njob\r\n"
            "【3/4】http://c.example/3.html\r\njob\r\n【4/4】http://c.example/4.html\r\njob\r\n");
  EXPECT_EQ(outcome.complete, 1U);
  EXPECT_EQ(outcome.errors, 2U);
  EXPECT_EQ(outcome.with_failed_pages, 1U);
  EXPECT_FALSE(outcome.stopped);
  EXPECT_EQ(QueueSummaryText(outcome), "共4话：完成1话，有失败图片1话，出错2话");
}

TEST(ChapterQueueTest, AStopSkipsTheChaptersNotYetBegun) {
  ScriptedRunner runner;
  runner.stop_after = 2;
  runner.script[2] = Ended(JobEnd::Stopped);
  const QueueOutcome outcome = RunChapterQueue(runner, Chapters(5));
  EXPECT_EQ(runner.ran, (std::vector<std::size_t>{1, 2}));
  EXPECT_TRUE(outcome.stopped);
  EXPECT_EQ(outcome.unfinished, 1U);
  EXPECT_EQ(outcome.not_begun, 3U);
  EXPECT_EQ(QueueSummaryText(outcome),
            "共5话：完成1话，有失败图片0话，出错0话，未完成1话，未开始3话，已终止");

  // A stop between two chapters cuts none short.
  ScriptedRunner between;
  between.stop_after = 2;
  const QueueOutcome at_a_seam = RunChapterQueue(between, Chapters(7));
  EXPECT_EQ(at_a_seam.unfinished, 0U);
  EXPECT_EQ(at_a_seam.not_begun, 5U);
  EXPECT_EQ(QueueSummaryText(at_a_seam),
            "共7话：完成2话，有失败图片0话，出错0话，未完成0话，未开始5话，已终止");
}

TEST(ChapterQueueTest, RefusalsEndTheQueue) {
  ScriptedRunner runner;
  JobOutcome refused = Ended(JobEnd::Error);
  refused.refusal = RefusalText(429);
  runner.script[2] = refused;
  const QueueOutcome outcome = RunChapterQueue(runner, Chapters(4));
  EXPECT_EQ(runner.ran, (std::vector<std::size_t>{1, 2}));
  EXPECT_EQ(outcome.errors, 1U);
  EXPECT_EQ(outcome.not_begun, 2U);
  EXPECT_FALSE(outcome.stopped);
  EXPECT_EQ(refused.refusal, "网站拒绝访问（HTTP 429），已停止");
}

}  // namespace
}  // namespace vexel::download
