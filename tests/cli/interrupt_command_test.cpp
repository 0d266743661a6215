// vexel-dl stopped by the user: Ctrl-C, a second Ctrl-C, SIGTERM and a reader
// that goes away, run as a separate process against a server on 127.0.0.1.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/types.h>

#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "tests/cli/run_dl.h"
#include "tests/support/chapter_page.h"
#include "tests/support/file_temp_dir.h"
#include "tests/support/local_server.h"

namespace vexel::cli {
namespace {

using testing::ListTree;
using testing::ReadWholeFile;
using testing::TempDir;

// Whether the child has taken the SIGINT sent to it: not pending (for the
// process or its main thread) and the main thread asleep again, or gone. A
// sanitizer's runtime may hold a signal back until its thread next blocks,
// and would merge a second one into it.
bool InterruptTaken(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  bool settled = false;
  for (std::string line; std::getline(status, line);) {
    settled = settled || line.starts_with("State:\tS") || line.starts_with("State:\tZ");
    if ((line.starts_with("ShdPnd:") || line.starts_with("SigPnd:")) &&
        ((std::strtoull(line.c_str() + 7, nullptr, 16) >> (SIGINT - 1)) & 1U) != 0) {
      return false;
    }
  }
  return settled;
}

// Sends two SIGINTs that the child takes one after the other.
void SendTwoInterrupts(pid_t pid) {
  ::kill(pid, SIGINT);
  // Two signals sent together could merge into one.
  while (!InterruptTaken(pid)) {
    std::this_thread::yield();
  }
  ::kill(pid, SIGINT);
}

// A chapter of three pages whose images wait for the test, or (from
// first_stalled_page_ on) never finish; and a chapter page that never
// finishes loading.
class SlowSiteCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    local_.server.Get("/c/1.html", [](const httplib::Request&, httplib::Response& response) {
      response.set_content(testing::BareChapterPage("您正在看：慢 > 第1话 >共3页", "pics/1.png"),
                           "text/html; charset=utf-8");
    });
    local_.server.Get("/c/stalled.html",
                      [this](const httplib::Request&, httplib::Response& response) {
                        NoteStall();
                        response.set_chunked_content_provider(
                            "text/html", [this](std::size_t offset, httplib::DataSink& sink) {
                              if (offset == 0) {
                                return sink.write("<html><body>", 12);
                              }
                              local_.WaitForRelease(std::chrono::seconds(120));
                              return false;
                            });
                      });
    local_.server.Get(R"(/c/pics/(\d)\.png)", [this](const httplib::Request& request,
                                                     httplib::Response& response) {
      const bool stall = stall_ && std::stoi(request.matches[1].str()) >= first_stalled_page_;
      if (stall_ && !stall) {
        response.set_content("picture", "image/png");
        return;
      }
      if (stall) {
        NoteStall();
        response.set_content_provider(
            1000, "image/png", [this](std::size_t offset, std::size_t, httplib::DataSink& sink) {
              if (offset == 0) {
                sink.write("partial", 7);
                return true;
              }
              local_.WaitForRelease(std::chrono::seconds(120));
              return false;
            });
        return;
      }
      local_.WaitForRelease();  // until the test has sent its Ctrl-C
      response.set_content("picture", "image/png");
    });
    ASSERT_TRUE(local_.Start());
  }

  // Whether a stalling transfer has begun; bounded, so a fault fails the
  // test instead of hanging it.
  bool WaitForStall() {
    std::unique_lock lock(mutex_);
    return stalled_cv_.wait_for(lock, std::chrono::seconds(20), [this] { return stalled_; });
  }

  void NoteStall() {
    {
      const std::lock_guard lock(mutex_);
      stalled_ = true;
    }
    stalled_cv_.notify_all();
  }

  // Declared before the server, so the server's threads have ended before
  // these go.
  std::mutex mutex_;
  std::condition_variable stalled_cv_;
  bool stalled_ = false;
  std::atomic<bool> stall_{false};  // read by the server's threads
  std::atomic<int> first_stalled_page_{1};
  testing::LocalServer local_;
  TempDir out_;
};

TEST_F(SlowSiteCommandTest, FirstCtrlCLetsThePageUnderWayFinishThenStops) {
  bool sent = false;
  const auto run = Dl({"-o", out_.path(), local_.Url("/c/1.html")}, "",
                      [this, &sent](const std::string& out, pid_t pid) {
                        if (!sent && out.find("下载图片[") != std::string::npos) {
                          sent = true;
                          // Pending from here on: the child takes it before
                          // it can read the image that the release lets go.
                          ::kill(pid, SIGINT);
                          local_.Release();
                        }
                      });
  EXPECT_EQ(run.exit_status, 3) << run.err;
  EXPECT_EQ(run.out, "共有3张图片\n下载图片[" + local_.Url("/c/pics/1.png") +
                         "]...成功\n下载已终止\n下载已终止\n");
  EXPECT_EQ(ListTree(out_.path()), (std::set<std::string>{"慢- 第1话/", "慢- 第1话/1.png"}));
}

// In a queue the stop also skips the chapters not yet begun.
TEST_F(SlowSiteCommandTest, CtrlCInAQueueSkipsTheChaptersNotBegun) {
  bool sent = false;
  const auto run = Dl({"-o", out_.path(), local_.Url("/c/1.html"), local_.Url("/c/1.html?again")},
                      "", [this, &sent](const std::string& out, pid_t pid) {
                        if (!sent && out.find("下载图片[") != std::string::npos) {
                          sent = true;
                          ::kill(pid, SIGINT);
                          local_.Release();
                        }
                      });
  EXPECT_EQ(run.exit_status, 3) << run.err;
  EXPECT_EQ(run.out, "【1/2】" + local_.Url("/c/1.html") + "\n共有3张图片\n下载图片[" +
                         local_.Url("/c/pics/1.png") + "]...成功\n下载已终止\n下载已终止\n");
}

TEST_F(SlowSiteCommandTest, SecondCtrlCAbandonsTheTransferAtOnce) {
  stall_ = true;
  int sent = 0;
  const auto run = Dl({"-o", out_.path(), local_.Url("/c/1.html")}, "",
                      [&sent](const std::string& out, pid_t pid) {
                        if (sent == 0 && out.find("下载图片[") != std::string::npos) {
                          SendTwoInterrupts(pid);
                          sent = 2;
                        }
                      });
  // Without the abandon the transfer would stall past the run's time limit
  // and the process would be killed.
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exit_status, 3) << run.err;
  EXPECT_EQ(run.out, "共有3张图片\n下载图片[" + local_.Url("/c/pics/1.png") +
                         "]...失败（已放弃）\n下载已终止\n下载已终止\n");
  // No page arrived, so the folder the job made is gone again.
  EXPECT_TRUE(ListTree(out_.path()).empty());
}

TEST_F(SlowSiteCommandTest, SecondCtrlCAbandonsAStalledPageLoad) {
  testing::ProcessHooks hooks;
  hooks.started = [this](pid_t pid) {
    if (WaitForStall()) {
      SendTwoInterrupts(pid);
    }
  };
  const auto run = Dl({"-o", out_.path(), local_.Url("/c/stalled.html")}, "", {}, hooks);
  // Without the abandon the load would stall past the run's time limit.
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exit_status, 3) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(ListTree(out_.path()).empty());
}

// SIGTERM abandons the transfer under way as a second Ctrl-C does: the pages
// already stored stay, and nothing of the stalled one is left behind.
TEST_F(SlowSiteCommandTest, TerminateAbandonsTheTransferAndLeavesOnlyFinishedPages) {
  stall_ = true;
  first_stalled_page_ = 2;
  bool sent = false;
  const auto run = Dl({"-o", out_.path(), local_.Url("/c/1.html")}, "",
                      [this, &sent](const std::string& out, pid_t pid) {
                        if (!sent && out.find("2.png]...") != std::string::npos && WaitForStall()) {
                          sent = true;
                          ::kill(pid, SIGTERM);
                        }
                      });
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exit_status, 3) << run.err;
  EXPECT_EQ(run.out, "共有3张图片\n下载图片[" + local_.Url("/c/pics/1.png") +
                         "]...成功\n下载图片[" + local_.Url("/c/pics/2.png") +
                         "]...失败（已放弃）\n下载已终止\n下载已终止\n");
  EXPECT_EQ(ListTree(out_.path()), (std::set<std::string>{"慢- 第1话/", "慢- 第1话/1.png"}));
  EXPECT_EQ(ReadWholeFile(out_ / "慢- 第1话/1.png"), "picture");
}

// vexel-dl URL | head -1: the closed pipe ends the output, not the process;
// the page under way is finished and the job stops as on a first Ctrl-C.
TEST_F(SlowSiteCommandTest, ReaderThatGoesAwayStopsTheJobAfterThePageUnderWay) {
  testing::ProcessHooks hooks;
  hooks.close_output_after = "\n";
  // Page 1 is held until the pipe is closed, so the stop comes while it is
  // in flight.
  hooks.output_closed = [this] { local_.Release(); };
  const auto run = Dl({"-o", out_.path(), local_.Url("/c/1.html")}, "", {}, hooks);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exit_status, 3) << run.err;
  EXPECT_TRUE(run.out.starts_with("共有3张图片\n")) << run.out;
  EXPECT_EQ(ListTree(out_.path()), (std::set<std::string>{"慢- 第1话/", "慢- 第1话/1.png"}));
  EXPECT_EQ(ReadWholeFile(out_ / "慢- 第1话/1.png"), "picture");
}
}  // namespace
}  // namespace vexel::cli
