#include "download/chapter_list.h"

#include <gtest/gtest.h>

#include "download/download_job.h"
#include "files/real_file_system.h"
#include "html/html_parser.h"
#include "net/resolve_address.h"
#include "tests/download/job_fakes.h"

namespace vexel::download {
namespace {

constexpr const char* kPage = "http://comic.example/comic/7/";

std::vector<ChapterLink> ChaptersOf(const std::string& markup, const std::string& address = kPage) {
  const html::ParseOutcome parsed = html::ParseHtml(markup, address);
  EXPECT_TRUE(parsed.ok()) << parsed.error;
  return FindChapterList(parsed.document.get(), address, net::CurlAddressResolver());
}

// A comic page as sites make them: navigation, categories, a pager, other
// comics, a "start reading" link that repeats the first chapter, and the
// list itself, some of it on another host.
TEST(ChapterListTest, TheLargestGroupOfLikeAddressesIsTheList) {
  const std::string page = R"html(
    <a href="/">首页</a> <a href="/list/1/">热血</a> <a href="/list/2/">冒险</a>
    <a href="/comic/8/">别的漫画</a> <a href="/comic/9/">又一部</a>
    <a href="/comic/7/1.html">开始阅读</a>
    <ul>
      <li><a href="1.html"> 第1话
           出发 </a></li>
      <li><a href="/comic/7/2.html">第2话</a></li>
      <li><a href="http://comic.example/comic/7/3.html#top">第3话</a></li>
      <li><a href="2.html#comments">评论</a></li> <li><a href="3.html">第3话</a></li>
      <li><a href="http://other.example/comic/7/4.html">镜像</a></li>
      <li><a href="javascript:void(0)">收藏</a></li>
      <li><a name="no-href">锚点</a></li>
    </ul>
    <a href="/comic/7/?page=2">2</a> <a href="/comic/7/?page=3">3</a>)html";
  const std::vector<ChapterLink> chapters = ChaptersOf(page);
  ASSERT_EQ(chapters.size(), 3U);
  // First occurrence decides the order and the title.
  EXPECT_EQ(chapters[0].address, "http://comic.example/comic/7/1.html");
  EXPECT_EQ(chapters[0].title, "开始阅读");
  EXPECT_EQ(chapters[1].address, "http://comic.example/comic/7/2.html");
  EXPECT_EQ(chapters[1].title, "第2话");
  EXPECT_EQ(chapters[2].address, "http://comic.example/comic/7/3.html#top");
}

TEST(ChapterListTest, TiesGoToTheGroupThatComesFirstAndTitlesAreCollapsed) {
  const std::string page = R"(
    <a href="/a/1.html">a1</a><a href="/b/1.htm">b1</a>
    <a href="/a/22.html">a	two
    two</a><a href="/b/2.htm">b2</a>)";
  const std::vector<ChapterLink> chapters = ChaptersOf(page);
  ASSERT_EQ(chapters.size(), 2U);
  EXPECT_EQ(chapters[1].address, "http://comic.example/a/22.html");
  EXPECT_EQ(chapters[1].title, "a two two");
}

TEST(ChapterListTest, PagesThatListNothing) {
  // One link per shape, the same address twice (or with another fragment),
  // or links to other hosts.
  EXPECT_TRUE(ChaptersOf(R"(<a href="/">home</a><a href="/comic/1/">c</a>)").empty());
  EXPECT_TRUE(ChaptersOf(R"(<a href="/c/1.html">x</a><a href="/c/1.html">y</a>)").empty());
  EXPECT_TRUE(ChaptersOf(R"(<a href="/c/1.html">x</a><a href="/c/1.html#y">y</a>)").empty());
  EXPECT_TRUE(
      ChaptersOf(
          R"(<a href="http://x.example/1.html">1</a><a href="http://x.example/2.html">2</a>)")
          .empty());
  EXPECT_TRUE(ChaptersOf("<p>nothing</p>").empty());
  EXPECT_TRUE(FindChapterList(nullptr, kPage, net::CurlAddressResolver()).empty());
}

// 下载 on a comic's page: the host hears how many chapters the page lists
// just before the error; on a page that lists none it hears nothing.
TEST(ChapterListTest, AJobOnAComicsPageTellsTheHostWhatItLists) {
  const auto run = [](const std::string& markup) {
    const html::ParseOutcome parsed = html::ParseHtml(markup, kPage);
    testing::RecordingHost host;
    host.document = parsed.document.get();
    host.page_address = kPage;
    testing::ScriptedFetcher fetcher;
    DownloadJob(host, {fetcher, files::RealFileSystem(), net::CurlAddressResolver()});
    EXPECT_EQ(host.log, "下载出错\r\n");
    return host.appends;
  };
  EXPECT_EQ(run(R"(<a href="1.html">1</a><a href="2.html">2</a><a href="3.html">3</a>)"),
            (std::vector<std::string>{"<clear>", "<lists 3>", "下载出错\r\n"}));
  EXPECT_EQ(run("<p>nothing</p>"), (std::vector<std::string>{"<clear>", "下载出错\r\n"}));
}

TEST(ChapterRangesTest, PositionsOnceInListOrder) {
  using Positions = std::vector<std::size_t>;
  EXPECT_EQ(ParseChapterRanges("1-3,8,10-", 12), (Positions{1, 2, 3, 8, 10, 11, 12}));
  EXPECT_EQ(ParseChapterRanges("5,2-3,3", 12), (Positions{2, 3, 5}));
  EXPECT_EQ(ParseChapterRanges("11-20, 40", 12), (Positions{11, 12}));
  for (const char* bad : {"", "0", "3-1", "a", "1,,2", "-3", "1-2-3"}) {
    EXPECT_FALSE(ParseChapterRanges(bad, 12)) << bad;
  }
}

}  // namespace
}  // namespace vexel::download
