// vexel-dl URL... run as a separate process against servers on 127.0.0.1.
#include <gtest/gtest.h>
#include <zip.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "examples/png_image.h"
#include "examples/sample_site.h"
#include "tests/cli/download_process.h"
#include "tests/cli/run_dl.h"
#include "tests/support/chapter_page.h"
#include "tests/support/file_temp_dir.h"
#include "tests/support/local_server.h"

namespace vexel::cli {
namespace {

using testing::ListTree;
using testing::ReadWholeFile;
using testing::TempDir;

class SampleSiteCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(site_.ok()); }

  std::string PageLines(int comic, int chapter, int pages, const char* result = "成功") {
    std::string lines;
    const std::string base = "http://127.0.0.1:" + std::to_string(site_.Port()) + "/comic/" +
                             std::to_string(comic) + "/pics/ch" + std::to_string(chapter) + "/";
    for (int page = 1; page <= pages; ++page) {
      lines += "下载图片[" + base + std::to_string(page) + ".png]..." + result + "\n";
    }
    return lines;
  }

  // A chapter's whole log when every page arrives.
  std::string ChapterLog(int comic, int chapter) {
    const int pages = site_.Site()
                          .Comics()[static_cast<std::size_t>(comic - 1)]
                          .chapters[static_cast<std::size_t>(chapter - 1)]
                          .pages;
    return "共有" + std::to_string(pages) + "张图片\n" + PageLines(comic, chapter, pages) +
           "下载全部完成\n下载完成\n";
  }

  std::string ComicAddress(int comic) {
    return site_.BaseAddress() + "comic/" + std::to_string(comic) + "/";
  }

  // How many folders are directly in the output directory.
  std::size_t TopFolders() {
    std::size_t folders = 0;
    for (const std::string& entry : ListTree(out_.path())) {
      folders += entry.find('/') == entry.size() - 1 ? 1 : 0;
    }
    return folders;
  }

  sample::SampleSiteServer site_;
  TempDir out_;
};

TEST_F(SampleSiteCommandTest, DownloadsAChapterIntoAFolderNamedAfterIt) {
  const auto run = Dl({"-o", out_.path(), site_.ChapterAddress(1, 1)});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "共有5张图片\n" + PageLines(1, 1, 5) + "下载全部完成\n下载完成\n");
  EXPECT_EQ(run.err, "");
  std::set<std::string> expected{"星际旅人- 第1话/"};
  for (int page = 1; page <= 5; ++page) {
    const std::string name = "星际旅人- 第1话/" + std::to_string(page) + ".png";
    expected.insert(name);
    EXPECT_EQ(ReadWholeFile(out_ / name), site_.Site().PageImage(1, 1, page));
  }
  EXPECT_EQ(ListTree(out_.path()), expected);
}

// A second run keeps what the first stored and fetches only what is missing;
// --overwrite fetches everything again.
// The archive of a finished chapter, as a reader opens it: ComicInfo.xml,
// then the served pages in order under zero-padded names, and no folder.
TEST_F(SampleSiteCommandTest, CbzHoldsComicInfoAndThePagesAndASecondRunSkipsIt) {
  auto run = Dl({"--cbz", "-o", out_.path(), site_.ChapterAddress(1, 2)});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  const std::string archive = out_ / "星际旅人- 第2话.cbz";
  EXPECT_NE(run.out.find("CBZ文件[" + archive + "]...成功\n下载全部完成\n"), std::string::npos)
      << run.out;
  EXPECT_EQ(ListTree(out_.path()), std::set<std::string>{"星际旅人- 第2话.cbz"});

  int code = 0;
  zip_t* zip = zip_open(archive.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
  ASSERT_NE(zip, nullptr);
  const auto entry = [zip](zip_uint64_t index, std::string& name) {
    zip_stat_t stat;
    zip_stat_index(zip, index, 0, &stat);
    name = stat.name;
    std::string bytes(stat.size, '\0');
    zip_file_t* file = zip_fopen_index(zip, index, 0);
    zip_fread(file, bytes.data(), bytes.size());
    zip_fclose(file);
    return bytes;
  };
  ASSERT_EQ(zip_get_num_entries(zip, 0), 9);
  std::string name;
  const std::string info = entry(0, name);
  EXPECT_EQ(name, "ComicInfo.xml");
  for (const char* field :
       {"<Series>星际旅人</Series>", "<Title>第2话</Title>", "<Number>2</Number>",
        "<PageCount>8</PageCount>", "<LanguageISO>zh</LanguageISO>"}) {
    EXPECT_NE(info.find(field), std::string::npos) << field << "\n" << info;
  }
  EXPECT_NE(info.find("<Web>" + site_.ChapterAddress(1, 2) + "</Web>"), std::string::npos);
  for (int page = 1; page <= 8; ++page) {
    EXPECT_EQ(entry(static_cast<zip_uint64_t>(page), name), site_.Site().PageImage(1, 2, page));
    EXPECT_EQ(name, std::to_string(page) + ".png");
  }
  zip_discard(zip);

  const std::size_t requests = site_.Site().Stats().image_requests;
  run = Dl({"--cbz", "-o", out_.path(), site_.ChapterAddress(1, 2)});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "共有8张图片\nCBZ文件[" + archive + "]...已存在\n下载全部完成\n下载完成\n");
  EXPECT_EQ(site_.Site().Stats().image_requests, requests);
}

TEST_F(SampleSiteCommandTest, SecondRunResumesAndOverwriteReplaces) {
  // A whole image at a page's name is kept, whatever image it is.
  const std::string kept = site_.Site().PageImage(1, 1, 3);
  std::filesystem::create_directories(out_ / "星际旅人- 第1话");
  testing::WriteWholeFile(out_ / "星际旅人- 第1话/2.png", kept);
  auto run = Dl({"-o", out_.path(), site_.ChapterAddress(1, 1)});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  const std::string base = site_.BaseAddress() + "comic/1/pics/ch1/";
  EXPECT_NE(run.out.find("下载图片[" + base + "2.png]...已存在\n"), std::string::npos) << run.out;
  EXPECT_EQ(ReadWholeFile(out_ / "星际旅人- 第1话/2.png"), kept);
  EXPECT_EQ(site_.Site().Stats().image_requests, 4U);

  run = Dl({"--overwrite", "-o", out_.path(), site_.ChapterAddress(1, 1)});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "共有5张图片\n" + PageLines(1, 1, 5) + "下载全部完成\n下载完成\n");
  EXPECT_EQ(ReadWholeFile(out_ / "星际旅人- 第1话/2.png"), site_.Site().PageImage(1, 1, 2));
}

// Pages that fail for good are not retried, the log names them, and the
// status says the chapter has holes.
TEST(FailedPagesCommandTest, MissingPagesGiveStatusFour) {
  sample::SampleSiteOptions options;
  options.missing_pages = {2};
  sample::SampleSiteServer site(options);
  ASSERT_TRUE(site.ok());
  TempDir out;
  const auto run = Dl({"-o", out.path(), site.ChapterAddress(1, 1)});
  EXPECT_EQ(run.exit_status, 4) << run.err;
  EXPECT_NE(run.out.find("2.png]...失败（HTTP 404）\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("有1张图片下载失败：2\n下载全部完成\n下载完成\n"), std::string::npos);
  EXPECT_EQ(site.Site().Stats().image_requests, 5U);
}

// Pages in flight at once give the same log, in page order, over one
// connection per page in flight at most.
TEST_F(SampleSiteCommandTest, SeveralPagesAtOnceLogInPageOrder) {
  const auto run = Dl({"-j", "4", "-o", out_.path(), site_.ChapterAddress(1, 2)});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "共有8张图片\n" + PageLines(1, 2, 8) + "下载全部完成\n下载完成\n");
  for (int page = 1; page <= 8; ++page) {
    EXPECT_EQ(ReadWholeFile(out_ / ("星际旅人- 第2话/" + std::to_string(page) + ".png")),
              site_.Site().PageImage(1, 2, page));
  }
  EXPECT_LE(site_.Site().Stats().image_connections, 4U);
}

TEST_F(SampleSiteCommandTest, DefaultOutputIsTheCurrentDirectoryAndTitlesLoseSpaceGreater) {
  const auto run = Dl({site_.ChapterAddress(2, 2)}, out_.path());
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(ListTree(out_.path()),
            (std::set<std::string>{"山城故事- 番外-重逢/", "山城故事- 番外-重逢/1.png",
                                   "山城故事- 番外-重逢/2.png", "山城故事- 番外-重逢/3.png",
                                   "山城故事- 番外-重逢/4.png"}));
}

TEST_F(SampleSiteCommandTest, SeveralChaptersAndAFailedLoadGiveTheErrorStatus) {
  const std::string missing = site_.BaseAddress() + "comic/9/1.html";
  const auto run =
      Dl({"-o", out_.path(), site_.ChapterAddress(2, 2), missing, site_.ChapterAddress(1, 1)});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.err.find(missing), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "【1/3】" + site_.ChapterAddress(2, 2) + "\n" + ChapterLog(2, 2) + "【2/3】" +
                         missing + "\n【3/3】" + site_.ChapterAddress(1, 1) + "\n" +
                         ChapterLog(1, 1));
}

// `vexel-dl chapters` lists what the comic's page lists; a page that lists
// nothing, and one that cannot be loaded, have statuses of their own.
TEST_F(SampleSiteCommandTest, ChaptersCommandPrintsAddressAndTitlePerChapter) {
  auto run = Dl({"chapters", ComicAddress(2)});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  std::string expected;
  const auto& chapters = site_.Site().Comics()[1].chapters;
  for (std::size_t h = 0; h < chapters.size(); ++h) {
    expected += site_.ChapterAddress(2, static_cast<int>(h + 1)) + "\t" + chapters[h].name + "\n";
  }
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(chapters.size(), 12U);
  EXPECT_EQ(run.err, "");

  run = Dl({"chapters", site_.ChapterAddress(1, 1)});
  EXPECT_EQ(run.exit_status, 1) << run.err;
  EXPECT_EQ(run.out, "");
  run = Dl({"chapters", site_.BaseAddress() + "comic/9/"});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_NE(run.err.find("HTTP 404"), std::string::npos) << run.err;
  run = Dl({"chapters"});
  EXPECT_EQ(run.exit_status, 2);
}

// The list fed back through standard input, comments and blank lines among
// it, after an address given as an argument; several chapters get headers.
TEST_F(SampleSiteCommandTest, AddressesFromStandardInputFollowThoseGiven) {
  const auto listed = Dl({"chapters", ComicAddress(2)});
  ASSERT_EQ(listed.exit_status, 0) << listed.err;
  // Its second and third lines: 番外 >重逢 and 第2话.
  const std::size_t second = listed.out.find('\n') + 1;
  const std::size_t fourth = listed.out.find('\n', listed.out.find('\n', second) + 1) + 1;
  testing::ProcessHooks hooks;
  hooks.input = "# chosen\n\n" + listed.out.substr(second, fourth - second);
  const auto run = Dl({"-o", out_.path(), site_.ChapterAddress(1, 1), "-i", "-"}, "", {}, hooks);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "【1/3】" + site_.ChapterAddress(1, 1) + "\n" + ChapterLog(1, 1) + "【2/3】" +
                         site_.ChapterAddress(2, 2) + "\n" + ChapterLog(2, 2) + "【3/3】" +
                         site_.ChapterAddress(2, 3) + "\n" + ChapterLog(2, 3));
}

// A whole comic in the list's order over one connection, page and images
// alike; --chapters picks positions of the list.
TEST_F(SampleSiteCommandTest, AllChaptersOfAComicOneAfterAnother) {
  auto run = Dl({"-o", out_.path(), "--all-chapters", ComicAddress(2)});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  std::string expected;
  for (int h = 1; h <= 12; ++h) {
    expected +=
        "【" + std::to_string(h) + "/12】" + site_.ChapterAddress(2, h) + "\n" + ChapterLog(2, h);
  }
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(TopFolders(), 12U);
  EXPECT_EQ(ReadWholeFile(out_ / "山城故事- 番外-重逢/4.png"), site_.Site().PageImage(2, 2, 4));
  EXPECT_EQ(ReadWholeFile(out_ / "山城故事- 第11话/2.png"), site_.Site().PageImage(2, 12, 2));
  EXPECT_EQ(site_.Site().Stats().connections, 1U);

  // Without the library, which holds them now, the chosen ones load again.
  TempDir chosen;
  run = Dl({"-o", chosen.path(), "--no-library", "--chapters", "2-3,5", ComicAddress(2)});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "【1/3】" + site_.ChapterAddress(2, 2) + "\n" + ChapterLog(2, 2) + "【2/3】" +
                         site_.ChapterAddress(2, 3) + "\n" + ChapterLog(2, 3) + "【3/3】" +
                         site_.ChapterAddress(2, 5) + "\n" + ChapterLog(2, 5));

  // Positions past the list choose nothing, and a page without a list is an
  // error too.
  run = Dl({"-o", chosen.path(), "--chapters", "13-", ComicAddress(2)});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "");
  run = Dl({"-o", chosen.path(), "--all-chapters", site_.ChapterAddress(1, 1)});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "");
}

// A comic's page given as a chapter: the job's own outcome, and a hint.
TEST_F(SampleSiteCommandTest, ComicPageGivenAsAChapterSaysHowManyItLists) {
  const auto run = Dl({"-o", out_.path(), ComicAddress(2)});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "下载出错\n下载出错\n");
  EXPECT_EQ(run.err, "vexel-dl: this page lists 12 chapters; use --all-chapters\n");
}

TEST_F(SampleSiteCommandTest, PageWithoutAChapterLineEndsInTheErrorOutcome) {
  const auto run = Dl({"-o", out_.path(), site_.BaseAddress()});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "下载出错\n下载出错\n");
  EXPECT_TRUE(ListTree(out_.path()).empty());
}

TEST_F(SampleSiteCommandTest, ServerThatCannotBeReachedIsALoadError) {
  // Port 1 on the loopback address has no listener.
  const auto run = Dl({"-o", out_.path(), "http://127.0.0.1:1/comic/1/1.html"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("http://127.0.0.1:1/comic/1/1.html"), std::string::npos);
}

TEST_F(SampleSiteCommandTest, OutputDirectoryIsCreatedOrRefused) {
  auto run = Dl({"-o", out_ / "new/deeper", site_.ChapterAddress(2, 2)});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_TRUE(std::filesystem::exists(out_ / "new/deeper/山城故事- 番外-重逢/4.png"));

  testing::WriteWholeFile(out_ / "file", "x");
  run = Dl({"-o", out_ / "file/sub", site_.ChapterAddress(2, 2)});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "");
}

// A usage error is one line that names the fault and points at the help.
TEST(DownloadCommandUsageTest, UsageErrorsAndHelp) {
  auto run = Dl({});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.err, "vexel-dl: no chapter address given (see vexel-dl --help)\n");
  run = Dl({"--bogus", "http://127.0.0.1:1/"});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.err, "vexel-dl: unknown option --bogus (see vexel-dl --help)\n");
  EXPECT_EQ(run.out, "");
  for (const char* bad : {"--retries=-1", "--retries=x", "--retries=101", "--retries", "-j0",
                          "--jobs=9", "-j", "-o", "-i", "--chapters=3-1", "--chapters=x"}) {
    run = Dl({"http://127.0.0.1:1/", bad});
    EXPECT_EQ(run.exit_status, 2) << bad;
    EXPECT_TRUE(run.err.ends_with(" (see vexel-dl --help)\n")) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
  run = Dl({"-i", "/nonexistent/addresses"});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_NE(run.err.find("/nonexistent/addresses"), std::string::npos);
  run = Dl({"--version"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "vexel-dl " VEXEL_VERSION "\n");
  run = Dl({"--help"});
  EXPECT_EQ(run.exit_status, 0);
  for (const char* text :
       {"Exit status", "0  every page stored", "1  error", "2  usage", "3  stopped",
        "4  complete, but some pages failed", "--retries N", "--overwrite", "-j, --jobs N",
        "--all-chapters", "--chapters RANGES", "-i, --input FILE", "--version", "vexel-dl chapters",
        "averages under 1 KiB/s over 30 s (headers included)",
        "past 10 minutes, fails as （连接超时）, with -j too"}) {
    EXPECT_NE(run.out.find(text), std::string::npos) << text;
  }
}

// An address list is read a line at a time within limits; what is no list
// of addresses ends the run before it begins, with one line and status 2.
TEST(DownloadCommandUsageTest, AddressListsPastTheirLimitsAreRefused) {
  const std::string nowhere = "http://127.0.0.1:1/";
  const auto refused = [](const std::vector<std::string>& args, const std::string& input,
                          const std::string& reason) {
    testing::ProcessHooks hooks;
    if (!input.empty()) {
      hooks.input = input;
    }
    const auto run = Dl(args, "", {}, hooks);
    EXPECT_EQ(run.exit_status, 2) << reason << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  };
  // An endless line is refused once it passes the limit, not held.
  refused({"-i", "/dev/zero"}, "", "line 1 of /dev/zero is longer than 65536 bytes");
  refused({"-i", "-"}, nowhere + "\n" + std::string(65537, 'a') + "\n",
          "line 2 of standard input is longer than 65536 bytes");
  // The rest of a line past a NUL must not vanish, nor an escape reach the
  // log; a comment is a line like any other.
  refused({"-i", "-"}, nowhere + std::string(1, '\0') + "http://other/\n",
          "line 1 of standard input holds the control character 0x00");
  refused({"-i", "-"}, "# \x1b[2J\n", "holds the control character 0x1B");
  refused({"-i", "-"}, nowhere + "\xc2\x9b\n", "holds the control character 0xC2");
  std::string many;
  for (std::size_t i = 0; i <= 100000; ++i) {
    many += nowhere + "\n";
  }
  refused({"-i", "-"}, many, "standard input holds more than 100000 addresses");

  // At the limits, with "\r\n" line ends and a tab and title: an address,
  // which the loader is then asked for.
  testing::ProcessHooks hooks;
  hooks.input = nowhere + std::string(65536 - nowhere.size(), 'a') + "\n" + nowhere + "\t第1话\r\n";
  const auto run = Dl({"-i", "-"}, "", {}, hooks);
  EXPECT_EQ(run.exit_status, 1) << run.err;
  EXPECT_NE(run.err.find("vexel-dl: " + nowhere + ": cannot load"), std::string::npos) << run.err;
}

// An argument that is neither an address nor a file is a mistake, most often
// an address without its scheme: said at once, not tried as a path. A saved
// page still loads by its path or its file:// address.
TEST_F(SampleSiteCommandTest, ArgumentThatIsNeitherAnAddressNorAFileIsAUsageError) {
  auto run = Dl({"-o", out_.path(), site_.ChapterAddress(1, 1), "host/path"});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.err,
            "vexel-dl: not an address or a file: host/path (did you mean http://host/path?)\n");
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(ListTree(out_.path()).empty());
  testing::ProcessHooks hooks;
  hooks.input = "host/path\n";
  run = Dl({"-o", out_.path(), "-i", "-"}, "", {}, hooks);
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.err,
            "vexel-dl: not an address or a file: host/path (did you mean http://host/path?)\n");
  run = Dl({"--all-chapters", "/no/such/comic.html"});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.err, "vexel-dl: not an address or a file: /no/such/comic.html\n");
  run = Dl({"chapters", "host/path"});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.err,
            "vexel-dl chapters: not an address or a file: host/path (did you mean "
            "http://host/path?)\n");

  TempDir saved;
  testing::WriteWholeFile(saved / "saved.html",
                          testing::BareChapterPage("您正在看：星际旅人 > 第1话 >共5页",
                                                   site_.BaseAddress() + "comic/1/pics/ch1/1.png"));
  run = Dl({"-o", out_.path(), "saved.html"}, saved.path());
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "共有5张图片\n" + PageLines(1, 1, 5) + "下载全部完成\n下载完成\n");
  run = Dl({"-o", out_.path(), "file://" + (saved / "saved.html")});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "共有5张图片\n" + PageLines(1, 1, 5, "已存在") + "下载全部完成\n下载完成\n");
}

}  // namespace
}  // namespace vexel::cli
