#include "cli/console_output.h"

#include <gtest/gtest.h>

namespace vexel::cli {
namespace {

using Clock = ConsoleOutput::Clock;
using std::chrono::milliseconds;

// What a terminal would finally show: "\r\x1b[K" wipes the current line.
std::string Screen(const std::string& bytes) {
  std::string screen;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes.compare(i, 4, "\r\x1b[K") == 0) {
      screen.erase(line_start);
      i += 3;
      continue;
    }
    screen += bytes[i];
    if (bytes[i] == '\n') {
      line_start = screen.size();
    }
  }
  return screen;
}

TEST(ConsoleOutputTest, PlainOutputIsTheLogWithUnixLineEnds) {
  std::string written;
  ConsoleOutput console([&](std::string_view bytes) { written += bytes; }, false);
  const auto t0 = Clock::now();
  console.Log("共有2张图片\r\n");
  console.Log("下载图片[http://h/1.png]...");
  EXPECT_EQ(written, "共有2张图片\n下载图片[http://h/1.png]...");  // open lines show at once
  console.PageStarted(1, 2, t0);
  console.Transferred(5000, t0 + milliseconds(500));
  console.Log("成功\r");
  console.Log("\n下载全部完成\r\n");
  console.Line("下载完成");
  EXPECT_EQ(written, "共有2张图片\n下载图片[http://h/1.png]...成功\n下载全部完成\n下载完成\n");
}

TEST(ConsoleOutputTest, TerminalStatusLineNeverGarblesTheLog) {
  std::string written;
  ConsoleOutput console([&](std::string_view bytes) { written += bytes; }, true, 80);
  const auto t0 = Clock::now();
  console.Log("共有2张图片\r\n");
  console.Log("下载图片[http://h/1.png]...");
  console.PageStarted(1, 2, t0);
  console.Transferred(std::int64_t{1024} * 1024, t0 + milliseconds(500));
  EXPECT_EQ(Screen(written), "共有2张图片\npage 1/2  1.0 MB  2.0 MB/s");
  console.Log("成功\r\n");
  EXPECT_EQ(Screen(written),
            "共有2张图片\n下载图片[http://h/1.png]...成功\npage 1/2  1.0 MB  2.0 MB/s");
  console.Log("下载图片[http://h/2.png]...");
  console.PageStarted(2, 2, t0 + milliseconds(600));
  console.Transferred(std::int64_t{1024} * 1024, t0 + milliseconds(1000));
  EXPECT_EQ(Screen(written).substr(Screen(written).rfind('\n') + 1), "page 2/2  2.0 MB  2.0 MB/s");
  console.Log("失败\r\n下载全部完成\r\n");
  console.Line("下载完成");
  EXPECT_EQ(Screen(written),
            "共有2张图片\n下载图片[http://h/1.png]...成功\n下载图片[http://h/2.png]...失败\n"
            "下载全部完成\n下载完成\n");
}

// An image address from a hostile page must not reach the terminal as
// escape sequences; a pipe gets the log's bytes unchanged.
TEST(ConsoleOutputTest, ControlCharactersFromThePageNeverReachATerminal) {
  const std::string line =
      "下载图片[http://h/\x1b]0;owned\x07\x7f\xc2\x9b"
      "2J\xc2\xa0x.png]...\r\n";
  std::string shown;
  ConsoleOutput terminal([&](std::string_view bytes) { shown += bytes; }, true, 200);
  terminal.Log(line);
  EXPECT_EQ(shown, "下载图片[http://h/?]0;owned???2J\xc2\xa0x.png]...\n");
  std::string piped;
  ConsoleOutput pipe([&](std::string_view bytes) { piped += bytes; }, false);
  pipe.Log(line);
  EXPECT_EQ(piped, line.substr(0, line.size() - 2) + "\n");
  // A chapter title (vexel-dl chapters) has no line of its own to keep.
  EXPECT_EQ(ReplaceControlCharacters("第1话\x1b[2J\t\n\x7f\xc2\x9b\xc2\xa0x\xc2"),
            "第1话?[2J????\xc2\xa0x\xc2");
}

TEST(ConsoleOutputTest, StatusLineFitsTheTerminalAndShowsAStop) {
  std::string written;
  ConsoleOutput console([&](std::string_view bytes) { written += bytes; }, true, 20);
  const auto t0 = Clock::now();
  console.PageStarted(3, 300, t0);
  console.SetStopping(1, t0 + milliseconds(10));
  EXPECT_NE(console.StatusText(t0).find("stopping after this page"), std::string::npos);
  EXPECT_EQ(Screen(written).size(), 19U);
  console.SetStopping(2, t0 + milliseconds(20));
  EXPECT_NE(console.StatusText(t0).find("abandoning"), std::string::npos);
}

// Chapter k of K, and the time left: what the run has taken so far, scaled
// to the part still to do. Pages found present take no time and so do not
// count as done.
TEST(ConsoleOutputTest, StatusLineShowsTheChapterAndTheTimeLeft) {
  std::string written;
  ConsoleOutput console([&](std::string_view bytes) { written += bytes; }, true, 200);
  const auto t0 = Clock::now();
  console.ChapterStarted(1, 2, t0);
  console.PageStarted(1, 4, t0);
  EXPECT_EQ(console.TimeLeft(t0), std::nullopt);  // nothing measured yet
  EXPECT_EQ(Screen(written), "chapter 1/2  page 1/4  0 B");
  console.Transferred(20480, t0 + std::chrono::seconds(10));
  console.PageFinished(true, t0 + std::chrono::seconds(10));
  console.PageStarted(2, 4, t0 + std::chrono::seconds(10));
  // A quarter of one chapter of two in 10 s: 70 s to go.
  EXPECT_EQ(Screen(written), "chapter 1/2  page 2/4  20 KB  2 KB/s  ~1m10s left");
  console.PageFinished(false, t0 + std::chrono::seconds(10));
  // One of the three pages to fetch: 50 s to go.
  EXPECT_EQ(console.StatusText(t0 + std::chrono::seconds(10)),
            "chapter 1/2  page 2/4  20 KB  2 KB/s  ~50s left");
  console.Line("下载完成");
  console.ChapterStarted(2, 2, t0 + std::chrono::seconds(40));
  console.PageStarted(1, 9, t0 + std::chrono::seconds(41));
  EXPECT_EQ(console.StatusText(t0 + std::chrono::seconds(41)),
            "chapter 2/2  page 1/9  0 B  ~41s left");

  // One chapter has no chapter count; an estimate beyond reason is none.
  ConsoleOutput single([](std::string_view) {}, true, 200);
  single.ChapterStarted(1, 1, t0);
  single.PageStarted(1, 1000000, t0);
  single.PageFinished(true, t0 + std::chrono::seconds(5));
  EXPECT_EQ(single.StatusText(t0 + std::chrono::seconds(5)), "page 1/1000000  0 B  0 B/s");
  EXPECT_EQ(FormatDuration(std::chrono::seconds(59)), "59s");
  EXPECT_EQ(FormatDuration(std::chrono::seconds(3599)), "59m59s");
  EXPECT_EQ(FormatDuration(std::chrono::seconds(12000)), "3h20m");
}

// While a page waits to be tried again the line says so at once, in the
// columns the terminal has, where Chinese takes two a character; a pipe gets
// none of it.
TEST(ConsoleOutputTest, StatusLineSaysWhenAPageWaitsForARetry) {
  std::string written;
  ConsoleOutput console([&](std::string_view bytes) { written += bytes; }, true, 20);
  const auto t0 = Clock::now();
  console.PageStarted(3, 9, t0);
  console.SetRetryPending(true, t0 + milliseconds(1));
  EXPECT_EQ(console.StatusText(t0), "page 3/9  0 B  等待重试");
  EXPECT_EQ(Screen(written), "page 3/9  0 B  等待");  // 19 columns at most
  console.SetRetryPending(false, t0 + milliseconds(2));
  EXPECT_EQ(Screen(written), "page 3/9  0 B");
  // A server's pause counts down, and says more than a retry awaited.
  console.SetRetryPending(true, t0 + milliseconds(3));
  console.SetPaused(std::chrono::seconds(5), t0);
  EXPECT_EQ(console.StatusText(t0 + milliseconds(2500)), "page 3/9  0 B  0 B/s  等待 3 秒");
  console.SetPaused(std::chrono::seconds(0), t0 + milliseconds(2600));
  EXPECT_EQ(console.StatusText(t0 + milliseconds(2600)).find("等待 "), std::string::npos);

  std::string piped;
  ConsoleOutput pipe([&](std::string_view bytes) { piped += bytes; }, false);
  pipe.ChapterStarted(1, 2, t0);
  pipe.PageStarted(1, 2, t0);
  pipe.SetRetryPending(true, t0);
  pipe.PageFinished(true, t0 + milliseconds(5));
  pipe.Log("失败\r\n");
  EXPECT_EQ(piped, "失败\n");
}

TEST(ConsoleOutputTest, RedrawsAreThrottled) {
  std::string written;
  ConsoleOutput console([&](std::string_view bytes) { written += bytes; }, true, 80);
  const auto t0 = Clock::now();
  console.PageStarted(1, 1, t0);
  const std::size_t after_start = written.size();
  for (int i = 1; i <= 50; ++i) {
    console.Transferred(std::int64_t{i} * 100, t0 + milliseconds(i));  // 50 updates within 50 ms
  }
  EXPECT_EQ(written.size(), after_start);
  console.Transferred(6000, t0 + milliseconds(150));
  EXPECT_GT(written.size(), after_start);
}

TEST(ConsoleOutputTest, BytesAreShownInReadableUnits) {
  EXPECT_EQ(FormatBytes(512), "512 B");
  EXPECT_EQ(FormatBytes(100 * 1024), "100 KB");
  EXPECT_EQ(FormatBytes(30.0 * 1024 * 1024), "30.0 MB");
}

}  // namespace
}  // namespace vexel::cli
