// The bundled sample site: what the downloader, the window's tests and the
// benchmark rely on.
#include "examples/sample_site.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include "download/chapter_list.h"
#include "examples/gbk_text.h"
#include "examples/png_image.h"
#include "net/page_loader.h"
#include "net/resolve_address.h"

namespace vexel::sample {
namespace {

std::uint32_t BigEndian(const std::string& bytes, std::size_t at) {
  return (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 24) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
}

// The chunk types of a PNG file, after checking its signature, lengths and CRCs.
std::vector<std::string> PngChunks(const std::string& png) {
  std::vector<std::string> types;
  if (png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) {
    return {"bad signature"};
  }
  std::size_t at = 8;
  while (at + 12 <= png.size()) {
    const std::uint32_t length = BigEndian(png, at);
    if (at + 12 + length > png.size()) {
      return {"bad length"};
    }
    const std::string typed = png.substr(at + 4, 4 + length);
    if (Crc32(typed) != BigEndian(png, at + 8 + length)) {
      return {"bad crc"};
    }
    types.push_back(typed.substr(0, 4));
    at += 12 + length;
  }
  if (at != png.size()) {
    types.emplace_back("trailing bytes");
  }
  return types;
}

// The status `client` gets for `path`, or -1 when no answer came.
int StatusOf(httplib::Client& client, const std::string& path) {
  const auto answer = client.Get(path);
  return answer ? answer->status : -1;
}

TEST(PngImageTest, ChecksumsMatchTheirStandardCheckValues) {
  EXPECT_EQ(Crc32("123456789"), 0xCBF43926U);
  EXPECT_EQ(Crc32(""), 0U);
  EXPECT_EQ(Adler32("Wikipedia"), 0x11E60398U);
  EXPECT_EQ(Adler32(""), 1U);
}

TEST(PngImageTest, PageImageIsAWellFormedPngWithThePageNumberDrawn) {
  const GrayImage image = DrawPageNumber(12, 0xF0);
  const std::string png = EncodePng(image);
  EXPECT_EQ(PngChunks(png), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
  EXPECT_EQ(BigEndian(png, 16), 96U);  // width
  EXPECT_EQ(BigEndian(png, 20), 64U);  // height
  EXPECT_LT(png.size(), 8000U);
  // Ink in the middle band, background in the corners.
  EXPECT_EQ(image.pixels[0], 0xF0);
  EXPECT_NE(std::count(image.pixels.begin(), image.pixels.end(), 0x20), 0);
  EXPECT_NE(EncodePng(DrawPageNumber(13, 0xF0)), png);
}

TEST(PngImageTest, PaddingReachesTheRequestedSizeExactly) {
  const std::string padded = EncodePng(DrawPageNumber(7, 0xF0), 100000);
  EXPECT_EQ(padded.size(), 100000U);
  EXPECT_EQ(PngChunks(padded), (std::vector<std::string>{"IHDR", "IDAT", "tEXt", "IEND"}));
  // A large image needs more than one stored block.
  GrayImage big{400, 300, std::vector<std::uint8_t>(std::size_t{400} * 300, 0x80)};
  EXPECT_EQ(PngChunks(EncodePng(big)), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
}

TEST(GbkTextTest, ConvertsTheSitesTexts) {
  EXPECT_EQ(Utf8ToGbk("您正在看：A"),
            "\xC4\xFA\xD5\xFD\xD4\xDA\xBF\xB4\xA3\xBA"
            "A");
  EXPECT_FALSE(Utf8ToGbk("\xF0\x9F\x98\x80"));  // an emoji has no GBK form
}

class SampleSiteTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.ok()); }

  httplib::Result Get(const std::string& path, const httplib::Headers& headers = {}) {
    httplib::Client client("127.0.0.1", server_.Port());
    return client.Get(path, headers);
  }

  SampleSiteServer server_;
};

TEST_F(SampleSiteTest, ChapterPagesAreGbkWithTheChapterLineAndImageTag) {
  const auto page = Get("/comic/2/2.html");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=gbk");
  const auto expect_part = [&](const std::string& utf8) {
    EXPECT_NE(page->body.find(*Utf8ToGbk(utf8)), std::string::npos) << utf8;
  };
  expect_part(
      "<div class=\"stauts_left\">您正在看：<a href=\"/comic/2/\">山城故事</a> &gt; <a "
      "href=\"/comic/2/2.html\">番外 &gt;重逢</a> &gt;共4页</div>");
  expect_part("<img class=\"ImgComic\" alt=\"第1页\" src=\"pics/ch2/1.png\">");
  expect_part("<a href=\"?p=2\">下一页</a>");

  const auto third = Get("/comic/2/2.html?p=3");
  ASSERT_TRUE(third);
  EXPECT_NE(third->body.find("src=\"pics/ch2/3.png\">"), std::string::npos);
  EXPECT_EQ(Get("/comic/2/2.html?p=5")->status, 404);
  EXPECT_EQ(Get("/comic/3/1.html")->status, 404);
}

TEST_F(SampleSiteTest, HomeAndChapterListsLinkEveryChapter) {
  const auto home = Get("/");
  ASSERT_TRUE(home);
  EXPECT_NE(home->body.find("href=\"/comic/1/\""), std::string::npos);
  EXPECT_NE(home->body.find("href=\"/comic/2/\""), std::string::npos);
  const auto list = Get("/comic/1/");
  ASSERT_TRUE(list);
  for (int chapter = 1; chapter <= 3; ++chapter) {
    EXPECT_NE(list->body.find("href=\"" + SampleSite::ChapterPath(1, chapter) + "\""),
              std::string::npos);
  }
}

// Each comic's page, among its navigation, categories, pager and other
// comics, lists its chapters so that the general rule finds exactly them;
// each is there to download, and comic 1 is as long as asked.
TEST(SampleComicPageTest, ChapterListIsFoundAndEveryChapterIsThere) {
  SampleSiteOptions options;
  options.comic_chapters = 20;
  options.long_chapter_pages = 3;
  SampleSiteServer server(options);
  ASSERT_TRUE(server.ok());
  httplib::Client client("127.0.0.1", server.Port());
  for (int comic = 1; comic <= 2; ++comic) {
    const std::string address = server.BaseAddress() + "comic/" + std::to_string(comic) + "/";
    const net::LoadedPage page = net::LoadPage(address);
    ASSERT_TRUE(page.ok()) << page.error;
    const std::vector<download::ChapterLink> found =
        download::FindChapterList(page.document.get(), page.final_url, net::CurlAddressResolver());
    const std::vector<SampleChapter>& chapters =
        server.Site().Comics()[static_cast<std::size_t>(comic - 1)].chapters;
    ASSERT_EQ(found.size(), comic == 1 ? 20U : 12U);
    ASSERT_EQ(found.size(), chapters.size());
    for (std::size_t h = 0; h < found.size(); ++h) {
      const int chapter = static_cast<int>(h + 1);
      EXPECT_EQ(found[h].address, server.ChapterAddress(comic, chapter));
      EXPECT_EQ(found[h].title, chapters[h].name);
      const int pages = chapters[h].pages;
      const std::string images =
          "/comic/" + std::to_string(comic) + "/pics/ch" + std::to_string(chapter) + "/";
      EXPECT_EQ(
          StatusOf(client, SampleSite::ChapterPath(comic, chapter) + "?p=" + std::to_string(pages)),
          200);
      EXPECT_EQ(StatusOf(client, images + std::to_string(pages) + ".png"), 200) << images;
      EXPECT_EQ(StatusOf(client, images + std::to_string(pages + 1) + ".png"), 404) << images;
    }
  }
  // The chapters that were there before keep their names and lengths.
  EXPECT_EQ(server.Site().Comics()[0].chapters[1].name, "第2话");
  EXPECT_EQ(server.Site().Comics()[0].chapters[1].pages, 8);
  EXPECT_EQ(server.Site().Comics()[1].chapters[1].name, "番外 >重逢");
  EXPECT_EQ(StatusOf(client, "/comic/1/21.html"), 404);
  EXPECT_EQ(StatusOf(client, "/comic/01/1.html"), 404);
  EXPECT_EQ(StatusOf(client, "/list/2/"), 200);
}

TEST_F(SampleSiteTest, ImagesExistForEveryPageAndNoOther) {
  const auto image = Get("/comic/1/pics/ch2/8.png");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->status, 200);
  EXPECT_EQ(image->get_header_value("Content-Type"), "image/png");
  EXPECT_EQ(image->body, server_.Site().PageImage(1, 2, 8));
  EXPECT_EQ(PngChunks(image->body), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
  EXPECT_EQ(Get("/comic/1/pics/ch2/9.png")->status, 404);
  EXPECT_EQ(Get("/comic/1/pics/ch2/0.png")->status, 404);
  EXPECT_EQ(Get("/comic/1/pics/ch13/1.png")->status, 404);
  EXPECT_EQ(Get("/comic/1/pics/ch2/99999999999999999999.png")->status, 404);
}

TEST(SampleSiteOptionsTest, LongChapterPaddingMissingPagesAndRefererRule) {
  SampleSiteOptions options;
  options.long_chapter_pages = 300;
  options.image_bytes = 100000;
  options.missing_pages = {2};
  options.require_referer = true;
  SampleSiteServer server(options);
  ASSERT_TRUE(server.ok());
  httplib::Client client("127.0.0.1", server.Port());
  const httplib::Headers from_site = {{"Referer", server.ChapterAddress(1, 3)}};

  const auto page = client.Get("/comic/1/3.html");
  ASSERT_TRUE(page);
  EXPECT_NE(page->body.find(*Utf8ToGbk("&gt;共300页")), std::string::npos);
  const auto image = client.Get("/comic/1/pics/ch3/300.png", from_site);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->status, 200);
  EXPECT_EQ(image->body.size(), 100000U);
  EXPECT_EQ(client.Get("/comic/1/pics/ch3/300.png")->status, 403);
  EXPECT_EQ(client.Get("/comic/1/pics/ch3/300.png", {{"Referer", "http://elsewhere/"}})->status,
            403);
  EXPECT_EQ(client.Get("/comic/1/pics/ch3/2.png", from_site)->status, 404);
}

TEST(SampleSiteOptionsTest, StatsCountConnectionsAndImageRequests) {
  SampleSiteOptions options;
  options.stats_route = true;
  SampleSiteServer server(options);
  ASSERT_TRUE(server.ok());
  {
    httplib::Client client("127.0.0.1", server.Port());
    client.set_keep_alive(true);
    for (int page = 1; page <= 5; ++page) {
      ASSERT_TRUE(client.Get("/comic/1/pics/ch1/" + std::to_string(page) + ".png"));
    }
  }
  httplib::Client other("127.0.0.1", server.Port());
  ASSERT_TRUE(other.Get("/"));
  const SiteStats stats = server.Site().Stats();
  EXPECT_EQ(stats.connections, 2U);
  EXPECT_EQ(stats.image_connections, 1U);
  EXPECT_EQ(stats.image_requests, 5U);
  EXPECT_EQ(stats.requests, 6U);
  const auto text = other.Get("/stats");
  ASSERT_TRUE(text);
  EXPECT_EQ(text->body, "connections 2\nrequests 6\nimage_connections 1\nimages 5\n");
  ASSERT_TRUE(other.Get("/stats/reset"));
  EXPECT_EQ(server.Site().Stats().requests, 0U);
}

TEST(SampleSiteOptionsTest, FailFirstCountsEachImageOnItsOwn) {
  SampleSiteOptions options;
  options.fail_first = 2;
  options.retry_after_seconds = 7;
  SampleSiteServer server(options);
  ASSERT_TRUE(server.ok());
  httplib::Client client("127.0.0.1", server.Port());

  const auto busy = client.Get("/comic/1/pics/ch1/1.png");
  ASSERT_TRUE(busy);
  EXPECT_EQ(busy->status, 503);
  EXPECT_EQ(busy->get_header_value("Retry-After"), "7");
  EXPECT_EQ(StatusOf(client, "/comic/1/pics/ch1/2.png"), 503);
  EXPECT_EQ(StatusOf(client, "/comic/1/pics/ch1/1.png"), 503);
  const auto served = client.Get("/comic/1/pics/ch1/1.png");
  ASSERT_TRUE(served);
  EXPECT_EQ(served->status, 200);
  EXPECT_EQ(served->body, server.Site().PageImage(1, 1, 1));
  EXPECT_EQ(StatusOf(client, "/comic/1/pics/ch1/2.png"), 503);
  EXPECT_EQ(StatusOf(client, "/comic/2/pics/ch1/2.png"), 503);  // another comic's page 2
  EXPECT_EQ(StatusOf(client, "/comic/1/pics/ch1/2.png"), 200);

  // Resetting the stats does not start the 503s over.
  const std::map<std::string, std::size_t> expected = {{"/comic/1/pics/ch1/1.png", 3},
                                                       {"/comic/1/pics/ch1/2.png", 3},
                                                       {"/comic/2/pics/ch1/2.png", 1}};
  EXPECT_EQ(server.Site().Stats().image_requests_by_path, expected);
  server.Site().ResetStats();
  EXPECT_EQ(StatusOf(client, "/comic/1/pics/ch1/1.png"), 200);
  EXPECT_EQ(server.Site().Stats().image_requests_by_path.size(), 1U);

  SampleSiteOptions plain;
  plain.fail_first = 1;
  SampleSiteServer without(plain);
  ASSERT_TRUE(without.ok());
  const auto no_hint = httplib::Client("127.0.0.1", without.Port()).Get("/comic/1/pics/ch1/1.png");
  ASSERT_TRUE(no_hint);
  EXPECT_EQ(no_hint->status, 503);
  EXPECT_FALSE(no_hint->has_header("Retry-After"));
}

TEST(SampleSiteOptionsTest, EmptyAndHtmlPagesStandInForChosenImages) {
  SampleSiteOptions options;
  options.empty_pages = {2};
  options.html_pages = {3, 4};
  SampleSiteServer server(options);
  ASSERT_TRUE(server.ok());
  httplib::Client client("127.0.0.1", server.Port());

  for (const std::string chapter : {"/comic/1/pics/ch1/", "/comic/2/pics/ch2/"}) {
    const auto empty = client.Get(chapter + "2.png");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->status, 200);
    EXPECT_EQ(empty->get_header_value("Content-Type"), "image/png");
    EXPECT_TRUE(empty->body.empty());
    for (const std::string page : {"3.png", "4.png"}) {
      const auto html = client.Get(chapter + page);
      ASSERT_TRUE(html);
      EXPECT_EQ(html->status, 200);
      EXPECT_EQ(html->get_header_value("Content-Type"), "text/html");
      EXPECT_EQ(html->body.rfind("<!DOCTYPE html><html>", 0), 0U) << html->body;
    }
  }
  const auto image = client.Get("/comic/1/pics/ch1/1.png");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->body, server.Site().PageImage(1, 1, 1));
}

}  // namespace
}  // namespace vexel::sample
