#include "download/download_job.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "files/cbz_packer.h"
#include "files/real_file_system.h"
#include "net/resolve_address.h"
#include "tests/download/job_fakes.h"
#include "tests/download/job_test_fixture.h"
#include "tests/query/fake_document.h"
#include "tests/support/file_faults.h"
#include "tests/support/file_temp_dir.h"

namespace vexel::download {
namespace {

TEST_F(JobTest, ThirdPageFailingStillEndsCompleteWithOneLinePerPage) {
  Page("您正在看：ABC > 第5话 >共3页", ImageTag("pics/ch5/1.jpg"));
  fetcher.answer = [](int call, const ScriptedFetcher::Call& c) {
    return call != 3 && testing::WriteWholeFile(c.target, c.address);
  };

  EXPECT_TRUE(Run());

  const std::string base = "http://127.0.0.1:1/comic/pics/ch5/";
  EXPECT_EQ(host.log, "共有3张图片\r\n" + PageLine(base + "1.jpg", true) +
                          PageLine(base + "2.jpg", true) + PageLine(base + "3.jpg", false) +
                          "有1张图片下载失败：3\r\n下载全部完成\r\n");
  EXPECT_EQ(outcome.stored, 2);
  EXPECT_EQ(outcome.failed, std::vector<std::int64_t>{3});
  EXPECT_EQ(host.results, std::vector<std::string>{"下载完成"});
  EXPECT_EQ(host.clears, 1);
  EXPECT_EQ(host.appends.front(), "<clear>");
  // The page line stays open while the image is fetched.
  EXPECT_EQ(host.appends[2], "下载图片[" + base + "1.jpg]...");
  EXPECT_EQ(host.appends[3], "<page 1/3>");
  EXPECT_EQ(host.appends[4], "成功\r\n");
  EXPECT_EQ(host.appends[9], "<page 3/3>");
  EXPECT_EQ(host.stop_checks, 4);  // before each page and once after the last

  ASSERT_EQ(fetcher.calls.size(), 3U);
  EXPECT_EQ(fetcher.calls[0].target, out / "ABC- 第5话/1.jpg");
  EXPECT_EQ(fetcher.calls[2].target, out / "ABC- 第5话/3.jpg");
  EXPECT_EQ(ListTree(out.path()),
            (std::set<std::string>{"ABC- 第5话/", "ABC- 第5话/1.jpg", "ABC- 第5话/2.jpg"}));
  EXPECT_EQ(ReadWholeFile(out / "ABC- 第5话/2.jpg"), base + "2.jpg");
}

// No page stored is no download: a failure is never reported as success.
TEST_F(JobTest, EveryPageFailingIsAnError) {
  Page("您正在看：ABC >共2页", ImageTag("p/1.png"));
  fetcher.answer = [](int, const ScriptedFetcher::Call&) { return false; };
  EXPECT_FALSE(Run());
  EXPECT_EQ(host.log, "共有2张图片\r\n" + PageLine("http://127.0.0.1:1/comic/p/1.png", false) +
                          PageLine("http://127.0.0.1:1/comic/p/2.png", false) + "下载出错\r\n");
  EXPECT_EQ(host.results, std::vector<std::string>{"下载出错"});
  EXPECT_EQ(outcome.end, JobEnd::Error);
}

// A count that lies must not keep the job asking for days: ten failures in a
// row end the loop, and the outcome follows what was stored.
TEST_F(JobTest, TenPagesFailingInARowEndTheLoop) {
  Page("您正在看：ABC >共2147483647页", ImageTag("p/1.jpg"));
  fetcher.answer = [](int call, const ScriptedFetcher::Call& c) {
    return call == 1 && testing::WriteWholeFile(c.target, c.address);
  };
  EXPECT_TRUE(Run());
  EXPECT_EQ(fetcher.calls.size(), 11U);
  EXPECT_TRUE(host.log.ends_with(PageLine("http://127.0.0.1:1/comic/p/11.jpg", false) +
                                 "连续10张图片下载失败，后面的图片不再下载\r\n"
                                 "有10张图片下载失败：2-11\r\n下载全部完成\r\n"))
      << host.log;
}

// Transient failures are tried again after growing waits, within one log
// line; other failures, and retries turned off, give one try.
TEST_F(JobTest, TransientFailuresAreRetriedOthersAreNot) {
  Page("您正在看：ABC >共2页", ImageTag("p/1.jpg"));
  const auto unavailable = FetchResult::Failed(FetchFailure::HttpStatus, "HTTP 503", 503);
  fetcher.answer = [&](int call, const ScriptedFetcher::Call& c) -> ScriptedFetcher::Answer {
    if (call <= 2) {
      return unavailable;
    }
    if (call == 3) {
      return testing::WriteWholeFile(c.target, c.address);
    }
    return false;  // page 2: a 404 is final
  };
  EXPECT_TRUE(Run());
  EXPECT_EQ(fetcher.calls.size(), 4U);
  ASSERT_EQ(host.waits.size(), 2U);
  EXPECT_GE(host.waits[0], std::chrono::seconds(1));
  EXPECT_GE(host.waits[1], std::chrono::seconds(2));
  EXPECT_EQ(host.log, "共有2张图片\r\n" + PageLine("http://127.0.0.1:1/comic/p/1.jpg", true) +
                          PageLine("http://127.0.0.1:1/comic/p/2.jpg", false) +
                          "有1张图片下载失败：2\r\n下载全部完成\r\n");

  // Retries spent: the last failure's reason is logged.
  fetcher.calls.clear();
  host.waits.clear();
  options.retries = 1;
  fetcher.answer = [&](int, const ScriptedFetcher::Call&) -> ScriptedFetcher::Answer {
    return unavailable;
  };
  EXPECT_FALSE(Run());
  EXPECT_EQ(fetcher.calls.size(), 4U);
  EXPECT_EQ(host.waits.size(), 2U);
  EXPECT_NE(host.log.find("]...失败（HTTP 503）\r\n"), std::string::npos);

  options.retries = 0;
  fetcher.calls.clear();
  host.waits.clear();
  EXPECT_FALSE(Run());
  EXPECT_EQ(fetcher.calls.size(), 2U);
  EXPECT_TRUE(host.waits.empty());
}

// A stop request during a wait ends it, the page fails and the job stops.
TEST_F(JobTest, StopDuringARetryWaitStopsTheJob) {
  Page("您正在看：ABC >共3页", ImageTag("p/1.jpg"));
  bool stop = false;
  host.stop = [&] { return stop; };
  host.wait_answer = [&] {
    stop = true;
    return false;
  };
  fetcher.answer = [](int, const ScriptedFetcher::Call&) -> ScriptedFetcher::Answer {
    return FetchResult::Failed(FetchFailure::Timeout, "no data for 60 s");
  };
  EXPECT_FALSE(Run());
  EXPECT_EQ(fetcher.calls.size(), 1U);
  EXPECT_EQ(host.log,
            "共有3张图片\r\n下载图片[http://127.0.0.1:1/comic/p/1.jpg]...失败（连接超时）\r\n"
            "下载已终止\r\n");
}

// Resuming: pages already in the folder are not fetched again.
TEST_F(JobTest, ExistingPagesAreSkippedWhenAsked) {
  std::filesystem::create_directory(out / "ABC");
  testing::WriteWholeFile(out / "ABC/1.jpg", FakeImage("kept"));
  Page("您正在看：ABC >共2页", ImageTag("p/1.jpg?t=1"));
  options.skip_existing = true;
  EXPECT_TRUE(Run());
  ASSERT_EQ(fetcher.calls.size(), 1U);
  EXPECT_EQ(fetcher.calls[0].target, out / "ABC/2.jpg");
  EXPECT_EQ(ReadWholeFile(out / "ABC/1.jpg"), FakeImage("kept"));
  EXPECT_EQ(host.log, "共有2张图片\r\n下载图片[http://127.0.0.1:1/comic/p/1.jpg?t=1]...已存在\r\n" +
                          PageLine("http://127.0.0.1:1/comic/p/2.jpg?t=1", true) +
                          "下载全部完成\r\n");
  EXPECT_EQ(outcome.present, 1);
  EXPECT_EQ(outcome.stored, 1);
  // Every page there: nothing fetched, and that is complete.
  fetcher.calls.clear();
  EXPECT_TRUE(Run());
  EXPECT_TRUE(fetcher.calls.empty());
  EXPECT_EQ(outcome.present, 2);
}

// Several pages in flight end out of order; the log still reads page by
// page, a retried page keeps its place, and no more than `jobs` run at once.
TEST_F(JobTest, SeveralPagesAtOnceAreLoggedInPageOrder) {
  Page("您正在看：ABC >共7页", ImageTag("p/1.jpg"));
  testing::ConcurrentFetcher several;
  several.missing = {5};
  several.busy_once = {2};
  options.jobs = 3;
  outcome =
      DownloadJob(host, {several, files::RealFileSystem(), net::CurlAddressResolver()}, options);
  EXPECT_TRUE(outcome.complete());
  std::string expected = "共有7张图片\r\n";
  for (int page = 1; page <= 7; ++page) {
    expected += PageLine("http://127.0.0.1:1/comic/p/" + std::to_string(page) + ".jpg", page != 5);
  }
  EXPECT_EQ(host.log, expected + "有1张图片下载失败：5\r\n下载全部完成\r\n");
  EXPECT_EQ(several.most_in_flight, 3U);
  EXPECT_EQ(several.started.size(), 8U);
  EXPECT_EQ(ReadWholeFile(out / "ABC/7.jpg"), FakeImage("http://127.0.0.1:1/comic/p/7.jpg"));

  // A stop starts no new page; those in flight finish and are logged.
  host.log.clear();
  several.started.clear();
  bool stop = false;
  host.stop = [&] { return stop; };
  several.on_finish = [&] { stop = true; };
  options.skip_existing = false;
  outcome =
      DownloadJob(host, {several, files::RealFileSystem(), net::CurlAddressResolver()}, options);
  EXPECT_EQ(outcome.end, JobEnd::Stopped);
  EXPECT_EQ(several.started, (std::vector<std::uint64_t>{1, 2, 3}));
  EXPECT_TRUE(
      host.log.ends_with(PageLine("http://127.0.0.1:1/comic/p/3.jpg", true) + "下载已终止\r\n"))
      << host.log;

  // Every page already there: nothing starts, and with no retry due the loop
  // never waits.
  testing::WriteWholeFile(out / "ABC/5.jpg", FakeImage("kept"));
  host.stop = [] { return false; };
  host.waits.clear();
  several.started.clear();
  options.skip_existing = true;
  outcome =
      DownloadJob(host, {several, files::RealFileSystem(), net::CurlAddressResolver()}, options);
  EXPECT_TRUE(outcome.complete());
  EXPECT_EQ(outcome.present, 7);
  EXPECT_TRUE(several.started.empty());
  EXPECT_TRUE(host.waits.empty());
}

// A chapter whose pages all arrived becomes one archive beside where its
// folder was; one with holes stays a folder; a second run finds the archive.
TEST_F(JobTest, FinishedChaptersArePackedOthersStayFolders) {
  Page("您正在看：ABC > 第5话 >共3页", ImageTag("p/1.jpg?x=1"));
  files::CbzPacker packer(files::RealFileSystem());
  options.pack_cbz = true;
  options.skip_existing = true;
  fetcher.answer = [](int call, const ScriptedFetcher::Call& c) {
    return call != 2 && testing::WriteWholeFile(c.target, FakeImage(c.address));
  };
  const auto run = [&] {
    outcome = DownloadJob(
        host, {fetcher, files::RealFileSystem(), net::CurlAddressResolver(), &packer}, options);
  };
  run();
  EXPECT_TRUE(outcome.complete());
  EXPECT_FALSE(outcome.packed);
  EXPECT_TRUE(
      host.log.ends_with("有1张图片下载失败：2\r\n有图片下载失败，未打包为CBZ\r\n下载全部完成\r\n"))
      << host.log;
  EXPECT_EQ(ListTree(out.path()),
            (std::set<std::string>{"ABC- 第5话/", "ABC- 第5话/1.jpg", "ABC- 第5话/3.jpg"}));

  // Resumed: page 2 arrives, and the whole chapter is packed.
  fetcher.calls.clear();
  run();
  EXPECT_EQ(fetcher.calls.size(), 1U);
  EXPECT_TRUE(outcome.packed);
  const std::string archive = out / "ABC- 第5话.cbz";
  EXPECT_TRUE(host.log.ends_with("CBZ文件[" + archive + "]...成功\r\n下载全部完成\r\n"))
      << host.log;
  EXPECT_EQ(ListTree(out.path()), std::set<std::string>{"ABC- 第5话.cbz"});

  // Once more: the archive is the chapter, nothing is fetched.
  fetcher.calls.clear();
  run();
  EXPECT_TRUE(fetcher.calls.empty());
  EXPECT_EQ(host.log, "共有3张图片\r\nCBZ文件[" + archive + "]...已存在\r\n下载全部完成\r\n");
  EXPECT_EQ(outcome.present, 3);
}

// Asked for an archive and none could be made: the pages stay, and the job
// says it failed rather than complete.
TEST_F(JobTest, AnArchiveThatCannotBeWrittenIsAnError) {
  class FullDisk final : public ChapterPacker {
   public:
    PackResult Pack(const PackRequest&) override { return {false, ENOSPC, "disk full"}; }
    bool IsWholeArchive(const std::string&, std::int64_t) override { return false; }
  } full;
  Page("您正在看：ABC >共1页", ImageTag("p/1.jpg"));
  options.pack_cbz = true;
  outcome = DownloadJob(host, {fetcher, files::RealFileSystem(), net::CurlAddressResolver(), &full},
                        options);
  EXPECT_EQ(outcome.end, JobEnd::Error);
  EXPECT_TRUE(outcome.pack_failed);
  EXPECT_TRUE(host.log.ends_with("CBZ文件[" + (out / "ABC.cbz") +
                                 "]...失败（无法写入：磁盘已满）\r\n下载出错\r\n"))
      << host.log;
  EXPECT_EQ(ListTree(out.path()), (std::set<std::string>{"ABC/", "ABC/1.jpg"}));
}

TEST_F(JobTest, PagesAreNumberedWithoutPadding) {
  Page("您正在看：ABC >共12页", ImageTag("http://img.example/a/1.jpg"));
  EXPECT_TRUE(Run());
  ASSERT_EQ(fetcher.calls.size(), 12U);
  EXPECT_EQ(fetcher.calls[6].address, "http://img.example/a/7.jpg");
  EXPECT_EQ(fetcher.calls[9].address, "http://img.example/a/10.jpg");
  EXPECT_EQ(fetcher.calls[9].target, out / "ABC/10.jpg");
}

}  // namespace
}  // namespace vexel::download
