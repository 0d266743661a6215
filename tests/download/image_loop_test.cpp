// The image loop's own edges: retries that cannot start, and the host told
// while a page waits for a retry.
#include <gtest/gtest.h>

#include <algorithm>

#include "download/download_job.h"
#include "files/real_file_system.h"
#include "net/resolve_address.h"
#include "tests/download/job_fakes.h"
#include "tests/query/fake_document.h"
#include "tests/support/file_temp_dir.h"

namespace vexel::download {
namespace {

class ImageLoopTest : public ::testing::Test {
 protected:
  ImageLoopTest() {
    host.document = &doc;
    host.page_address = "http://127.0.0.1:1/comic/5.html";
    host.output = {out.slash(), false};
    doc.Add("stauts_left", "您正在看：ABC >共3页");
    doc.Add()
        .Set(ElementProperty::ClassName, "ImgComic")
        .Set(ElementProperty::OuterHTML, "<IMG class=ImgComic src=\"p/1.png\">");
  }

  testing::TempDir out;
  testing::FakeDocument doc;
  testing::RecordingHost host;
  JobOptions options;
};

// A retry the fetcher will not start ends that page as failed with its last
// reason; the loop does not wait for a fetch that never began (it used to,
// past any stop). The stop after many checks only keeps a lesser fault from
// spinning without end.
TEST_F(ImageLoopTest, ARetryThatCannotStartEndsThePage) {
  testing::ConcurrentFetcher several;
  several.busy_once = {2};
  several.refuse_restarts = true;
  options.jobs = 2;
  host.stop = [&] { return host.stop_checks > 1000; };
  const JobOutcome outcome =
      DownloadJob(host, {several, files::RealFileSystem(), net::CurlAddressResolver()}, options);
  EXPECT_EQ(outcome.end, JobEnd::Complete) << host.log;
  EXPECT_EQ(outcome.failed, std::vector<std::int64_t>{2});
  EXPECT_NE(host.log.find("2.png]...失败（HTTP 503）\r\n"), std::string::npos) << host.log;
  EXPECT_EQ(outcome.stored, 2);
}

// One page at a time, and several: the host hears the wait begin after the
// failed try and end before the next one.
TEST_F(ImageLoopTest, TheHostHearsWhileARetryIsPending) {
  testing::ScriptedFetcher one;
  one.answer = [](int call,
                  const testing::ScriptedFetcher::Call& c) -> testing::ScriptedFetcher::Answer {
    if (call == 1) {
      return FetchResult::Failed(FetchFailure::HttpStatus, "HTTP 503", 503);
    }
    return testing::WriteWholeFile(c.target, "x");
  };
  DownloadJob(host, {one, files::RealFileSystem(), net::CurlAddressResolver()}, options);
  const std::vector<std::string> first(host.appends.begin() + 2, host.appends.begin() + 7);
  EXPECT_EQ(first,
            (std::vector<std::string>{"下载图片[http://127.0.0.1:1/comic/p/1.png]...", "<page 1/3>",
                                      "<retry pending>", "<retry over>", "成功\r\n"}));
  EXPECT_EQ(host.waits.size(), 1U);

  host.appends.clear();
  testing::ConcurrentFetcher several;
  several.busy_once = {1, 3};
  options.jobs = 3;
  DownloadJob(host, {several, files::RealFileSystem(), net::CurlAddressResolver()}, options);
  const auto pending = std::ranges::count(host.appends, "<retry pending>");
  EXPECT_GE(pending, 1);
  EXPECT_EQ(std::ranges::count(host.appends, "<retry over>"), pending);
  const auto last = std::find_if(host.appends.rbegin(), host.appends.rend(),
                                 [](const std::string& a) { return a.starts_with("<retry"); });
  ASSERT_NE(last, host.appends.rend());
  EXPECT_EQ(*last, "<retry over>");
}

}  // namespace
}  // namespace vexel::download
