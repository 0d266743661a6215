// Servers too slow to wait for: the low-speed limit and the deadline, in the
// image fetcher's single and multi-page paths.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>

#include "net/curl_image_fetcher.h"
#include "tests/net/image_site_test.h"
#include "tests/net/trickle_server.h"
#include "tests/support/file_temp_dir.h"
#include "tests/support/local_server.h"

namespace vexel::net {
namespace {

using download::FetchFailure;
using std::chrono::milliseconds;
using testing::ListTree;
using testing::ReadWholeFile;
using testing::TrickleServer;

constexpr const char* kImageHead =
    "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: 12000\r\n\r\n";

class SlowServerTest : public ImageSiteTest {};

// A server that trickles its headers or its body holds no page for long:
// under the speed limit for the window, the page fails as a timeout, also
// with several pages at once; a stop is heeded while it trickles.
TEST_F(SlowServerTest, TricklingServersFailAsTimeouts) {
  TrickleServer headers(
      TrickleServer::Trickle("HTTP/1.1 200 OK\r\n", "X-Slow: 1\r\n", 300, milliseconds(100)));
  TrickleServer body(TrickleServer::Trickle(kImageHead, "x", 300, milliseconds(100)));
  ASSERT_TRUE(headers.Start() && body.Start());
  options_.transfer.low_speed_seconds = 1;  // at 1024 bytes a second
  CurlImageFetcher fetcher(options_);
  EXPECT_EQ(fetcher.FetchImage(headers.Url("/1.png"), out_ / "1.png").failure,
            FetchFailure::Timeout);

  ASSERT_TRUE(fetcher.StartFetch(2, body.Url("/2.png"), out_ / "2.png"));
  ASSERT_TRUE(fetcher.StartFetch(3, Url("/img/3.png"), out_ / "3.png"));
  std::map<std::uint64_t, FetchFailure> ended;
  while (std::optional<download::FinishedFetch> done =
             fetcher.NextFinished(std::chrono::seconds(20))) {
    ended[done->tag] = done->result.failure;
  }
  EXPECT_EQ(ended, (std::map<std::uint64_t, FetchFailure>{{2, FetchFailure::Timeout},
                                                          {3, FetchFailure::None}}));
  EXPECT_EQ(ListTree(out_.path()), std::set<std::string>{"3.png"});

  std::atomic<bool> abandon{false};
  options_.abandon = &abandon;
  options_.transfer.low_speed_bytes_per_second = 0;  // only the stop can end it
  options_.progress = [&abandon](std::int64_t received, std::int64_t) {
    if (received > 0) {
      abandon = true;
    }
  };
  CurlImageFetcher stopped(options_);
  EXPECT_EQ(stopped.FetchImage(body.Url("/4.png"), out_ / "4.png").failure,
            FetchFailure::Abandoned);
}

// A slow line above the limit keeps its pages; the deadline ends any page
// that runs past it, however steadily it moves.
TEST_F(SlowServerTest, ASteadySlowLineIsStoredUntilTheDeadline) {
  // 12000 bytes at 4000 a second, against a limit of 100 a second.
  TrickleServer steady(
      TrickleServer::Trickle(kImageHead, std::string(400, 'i'), 30, milliseconds(100)));
  ASSERT_TRUE(steady.Start());
  options_.transfer.low_speed_bytes_per_second = 100;
  options_.transfer.low_speed_seconds = 1;
  CurlImageFetcher fetcher(options_);
  const download::FetchResult stored = fetcher.FetchImage(steady.Url("/1.png"), out_ / "1.png");
  EXPECT_TRUE(stored.stored) << stored.reason;
  EXPECT_EQ(ReadWholeFile(out_ / "1.png"), std::string(12000, 'i'));

  options_.transfer.deadline_seconds = 1;
  CurlImageFetcher hurried(options_);
  EXPECT_EQ(hurried.FetchImage(steady.Url("/2.png"), out_ / "2.png").failure,
            FetchFailure::Timeout);
  EXPECT_EQ(ListTree(out_.path()), std::set<std::string>{"1.png"});
}

}  // namespace
}  // namespace vexel::net
