// The whole job against the sample site: the real page loader, the real
// document, the real fetcher and files on disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "download/download_job.h"
#include "examples/sample_site.h"
#include "files/real_file_system.h"
#include "net/curl_image_fetcher.h"
#include "net/page_loader.h"
#include "net/resolve_address.h"
#include "tests/download/job_fakes.h"
#include "tests/support/file_temp_dir.h"

namespace vexel::download {
namespace {

using testing::ListTree;
using testing::ReadWholeFile;
using testing::TempDir;

class EndToEndTest : public ::testing::Test {
 protected:
  // Loads `address`, then runs the job on it as the window would.
  bool Download(sample::SampleSiteServer& site, const std::string& address) {
    EXPECT_TRUE(site.ok());
    net::LoadedPage page = net::LoadPage(address);
    EXPECT_TRUE(page.ok()) << page.error;
    host.document = page.document.get();
    host.page_address = page.final_url;
    net::FetchOptions options;
    options.transfer.referer = page.final_url;
    net::CurlImageFetcher fetcher(options);
    return DownloadJob(host, {fetcher, files::RealFileSystem(), net::CurlAddressResolver()})
        .complete();
  }

  // The log lines of pages 1 to `pages`; `failed` maps pages to the reason
  // their line gives.
  std::string Lines(const sample::SampleSiteServer& site, int comic, int chapter, int pages,
                    const std::map<int, std::string>& failed = {}) const {
    std::string lines;
    for (int page = 1; page <= pages; ++page) {
      const auto reason = failed.find(page);
      lines += "下载图片[http://127.0.0.1:" + std::to_string(site.Port()) + "/comic/" +
               std::to_string(comic) + "/pics/ch" + std::to_string(chapter) + "/" +
               std::to_string(page) + ".png]..." +
               (reason != failed.end() ? "失败（" + reason->second + "）" : "成功") + "\r\n";
    }
    return lines;
  }

  TempDir out;
  testing::RecordingHost host;

  EndToEndTest() { host.output = {out.slash(), false}; }
};

TEST_F(EndToEndTest, ChapterIsStoredPageByPageOverOneConnection) {
  sample::SampleSiteServer site;
  EXPECT_TRUE(Download(site, site.ChapterAddress(1, 2)));
  EXPECT_EQ(host.log, "共有8张图片\r\n" + Lines(site, 1, 2, 8) + "下载全部完成\r\n");
  EXPECT_EQ(host.results, std::vector<std::string>{"下载完成"});
  for (int page = 1; page <= 8; ++page) {
    EXPECT_EQ(ReadWholeFile(out / ("星际旅人- 第2话/" + std::to_string(page) + ".png")),
              site.Site().PageImage(1, 2, page));
  }
  EXPECT_EQ(ListTree(out.path()).size(), 9U);
  const sample::SiteStats stats = site.Site().Stats();
  EXPECT_EQ(stats.image_requests, 8U);
  EXPECT_EQ(stats.image_connections, 1U);
}

TEST_F(EndToEndTest, AnyPageViewOfTheChapterGivesTheWholeChapter) {
  sample::SampleSiteServer site;
  EXPECT_TRUE(Download(site, site.ChapterAddress(2, 2) + "?p=3"));
  EXPECT_EQ(host.log, "共有4张图片\r\n" + Lines(site, 2, 2, 4) + "下载全部完成\r\n");
  EXPECT_TRUE(std::filesystem::exists(out / "山城故事- 番外-重逢/4.png"));
}

TEST_F(EndToEndTest, MissingImageFailsItsPageOnly) {
  sample::SampleSiteOptions options;
  options.missing_pages = {2, 5};
  sample::SampleSiteServer site(options);
  EXPECT_TRUE(Download(site, site.ChapterAddress(1, 1)));
  EXPECT_EQ(host.log, "共有5张图片\r\n" + Lines(site, 1, 1, 5, {{2, "HTTP 404"}, {5, "HTTP 404"}}) +
                          "有2张图片下载失败：2、5\r\n下载全部完成\r\n");
  EXPECT_EQ(host.results, std::vector<std::string>{"下载完成"});
  EXPECT_EQ(ListTree(out.path()),
            (std::set<std::string>{"星际旅人- 第1话/", "星际旅人- 第1话/1.png",
                                   "星际旅人- 第1话/3.png", "星际旅人- 第1话/4.png"}));
}

TEST_F(EndToEndTest, BusyServerIsAskedAgainUntilEveryPageIsStored) {
  sample::SampleSiteOptions options;
  options.fail_first = 1;
  options.retry_after_seconds = 0;
  sample::SampleSiteServer site(options);
  EXPECT_TRUE(Download(site, site.ChapterAddress(1, 1)));
  EXPECT_EQ(host.log, "共有5张图片\r\n" + Lines(site, 1, 1, 5) + "下载全部完成\r\n");
  EXPECT_EQ(host.waits.size(), 5U);
  std::map<std::string, std::size_t> twice;
  for (int page = 1; page <= 5; ++page) {
    twice["/comic/1/pics/ch1/" + std::to_string(page) + ".png"] = 2;
    EXPECT_EQ(ReadWholeFile(out / ("星际旅人- 第1话/" + std::to_string(page) + ".png")),
              site.Site().PageImage(1, 1, page));
  }
  EXPECT_EQ(site.Site().Stats().image_requests_by_path, twice);
}

// An empty body or a web page in an image's place is no page, and asking
// again would not change that.
TEST_F(EndToEndTest, EmptyOrHtmlBodyFailsItsPageWithoutRetries) {
  sample::SampleSiteOptions options;
  options.empty_pages = {2};
  options.html_pages = {4};
  sample::SampleSiteServer site(options);
  EXPECT_TRUE(Download(site, site.ChapterAddress(1, 1)));
  EXPECT_EQ(host.log, "共有5张图片\r\n" + Lines(site, 1, 1, 5, {{2, "内容为空"}, {4, "不是图片"}}) +
                          "有2张图片下载失败：2、4\r\n下载全部完成\r\n");
  EXPECT_TRUE(host.waits.empty());
  EXPECT_EQ(site.Site().Stats().image_requests, 5U);
  EXPECT_EQ(ListTree(out.path()),
            (std::set<std::string>{"星际旅人- 第1话/", "星际旅人- 第1话/1.png",
                                   "星际旅人- 第1话/3.png", "星际旅人- 第1话/5.png"}));
}

TEST_F(EndToEndTest, SiteThatRequiresTheRefererGetsIt) {
  sample::SampleSiteOptions options;
  options.require_referer = true;
  sample::SampleSiteServer site(options);
  EXPECT_TRUE(Download(site, site.ChapterAddress(2, 1)));
  EXPECT_EQ(host.log, "共有6张图片\r\n" + Lines(site, 2, 1, 6) + "下载全部完成\r\n");
}

TEST_F(EndToEndTest, FolderThatCannotBeMadeIsAnErrorBeforeAnyRequest) {
  sample::SampleSiteServer site;
  testing::WriteWholeFile(out / "file", "x");
  host.output = {out / "file/", false};
  EXPECT_FALSE(Download(site, site.ChapterAddress(2, 2)));
  EXPECT_EQ(host.log, "共有4张图片\r\n创建文件夹[" + (out / "file/山城故事- 番外-重逢") +
                          "]失败（路径不存在）\r\n下载出错\r\n");
  EXPECT_EQ(site.Site().Stats().image_requests, 0U);
  EXPECT_EQ(ListTree(out.path()), std::set<std::string>{"file"});
}

TEST_F(EndToEndTest, ASecondRunReplacesTheFirstRunsFiles) {
  sample::SampleSiteServer site;
  std::filesystem::create_directory(out / "山城故事- 番外-重逢");
  testing::WriteWholeFile(out / "山城故事- 番外-重逢/2.png", "stale");
  EXPECT_TRUE(Download(site, site.ChapterAddress(2, 2)));
  EXPECT_EQ(ReadWholeFile(out / "山城故事- 番外-重逢/2.png"), site.Site().PageImage(2, 2, 2));
}

}  // namespace
}  // namespace vexel::download
