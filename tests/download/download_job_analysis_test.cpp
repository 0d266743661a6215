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

// Relative addresses are resolved against the chapter page's address;
// the log and the fetch both show the absolute address.
TEST_F(JobTest, ImageAddressesAreResolvedAgainstThePageAddress) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"pics/ch5/1.jpg", "http://127.0.0.1:1/comic/pics/ch5/2.jpg"},
      {"/pics/1.jpg", "http://127.0.0.1:1/pics/2.jpg"},
      {"../up/1.jpg", "http://127.0.0.1:1/up/2.jpg"},
      {"//img.example/p/1.jpg", "http://img.example/p/2.jpg"},
      {"https://img.example/p/1.jpg", "https://img.example/p/2.jpg"},
      {"图 片/1.jpg", "http://127.0.0.1:1/comic/%e5%9b%be%20%e7%89%87/2.jpg"},
      // No "/" after the first byte: the whole address is the prefix.
      {"1.png", "http://127.0.0.1:1/comic/1.png2.png"},
  };
  for (const auto& [src, second_page] : cases) {
    FakeDocument page;
    page.Add("stauts_left", "您正在看：ABC >共2页");
    page.Add()
        .Set(ElementProperty::ClassName, "ImgComic")
        .Set(ElementProperty::OuterHTML, ImageTag(src));
    host.document = &page;
    fetcher.calls.clear();
    EXPECT_TRUE(Run()) << src;
    ASSERT_EQ(fetcher.calls.size(), 2U) << src;
    EXPECT_EQ(fetcher.calls[1].address, second_page) << src;
    EXPECT_NE(host.log.find("下载图片[" + second_page + "]...成功\r\n"), std::string::npos) << src;
  }
}

TEST_F(JobTest, AnAddressThatCannotBeResolvedIsFetchedAsItStands) {
  host.page_address.clear();
  Page("您正在看：ABC >共1页", ImageTag("pics/1.jpg"));
  fetcher.answer = [](int, const ScriptedFetcher::Call&) { return false; };
  EXPECT_FALSE(Run());
  ASSERT_EQ(fetcher.calls.size(), 1U);
  EXPECT_EQ(fetcher.calls[0].address, "pics/1.jpg");
}

TEST_F(JobTest, ChapterLineErrorsShowOnlyTheErrorLine) {
  const std::vector<std::string> lines = {
      "您正在看：ABC 共12页",           // no ">共"
      ">共12页 您正在看：",             // ">共" at position 0
      "您正在看：ABC >共页",            // no number
      "您正在看：ABC >共2147483648页",  // beyond a 32-bit count
      "您正在看：ABC >共-2147483649页",
  };
  for (const std::string& line : lines) {
    FakeDocument page;
    page.Add("stauts_left", line);
    page.Add()
        .Set(ElementProperty::ClassName, "ImgComic")
        .Set(ElementProperty::OuterHTML, ImageTag("p/1.jpg"));
    host.document = &page;
    host.log.clear();
    host.results.clear();
    SCOPED_TRACE(line);
    ExpectError("下载出错\r\n");
  }
}

TEST_F(JobTest, NoChapterLineBusyPageOrNoPageIsAnError) {
  doc.Add("stauts_left", "共12页");
  ExpectError("下载出错\r\n");

  FakeDocument busy;
  busy.Add("stauts_left", "您正在看：ABC >共12页");
  busy.busy = true;
  host.document = &busy;
  host.results.clear();
  ExpectError("下载出错\r\n");

  host.document = nullptr;
  host.results.clear();
  ExpectError("下载出错\r\n");
}

TEST_F(JobTest, ImageTagErrorsComeAfterTheCountLine) {
  const std::vector<std::string> tags = {
      "<IMG class=ImgComic>",                          // no src="
      "src=\"p/1.jpg\">IMG class=ImgComic",            // src=" at position 0
      "<IMG class=ImgComic src=\"p/1.jpg\" >",         // no quote-greater
      "<IMG class=ImgComic src=\"\">",                 // empty address
      "<IMG class=ImgComic src=\"pics.d/1\">",         // no "." in the last segment
      R"(<IMG class=ImgComic src="pics/1" alt="a">)",  // runs on, still no "." after "/"
  };
  for (const std::string& tag : tags) {
    FakeDocument page;
    page.Add("stauts_left", "您正在看：ABC >共12页");
    page.Add().Set(ElementProperty::ClassName, "ImgComic").Set(ElementProperty::OuterHTML, tag);
    host.document = &page;
    host.results.clear();
    SCOPED_TRACE(tag);
    ExpectError("共有12张图片\r\n下载出错\r\n");
  }

  FakeDocument no_image;
  no_image.Add("stauts_left", "您正在看：ABC >共12页");
  host.document = &no_image;
  host.results.clear();
  ExpectError("共有12张图片\r\n下载出错\r\n");
}

TEST_F(JobTest, ZeroOrNegativeCountCreatesTheFolderAndCompletesWithoutPages) {
  Page("您正在看：ABC >共0页", ImageTag("p/1.jpg"));
  EXPECT_TRUE(Run());
  EXPECT_EQ(host.log, "共有0张图片\r\n下载全部完成\r\n");
  EXPECT_EQ(host.results, std::vector<std::string>{"下载完成"});
  EXPECT_EQ(ListTree(out.path()), std::set<std::string>{"ABC/"});

  FakeDocument negative;
  negative.Add("stauts_left", "您正在看：NEG >共-3页");
  negative.Add()
      .Set(ElementProperty::ClassName, "ImgComic")
      .Set(ElementProperty::OuterHTML, ImageTag("p/1.jpg"));
  host.document = &negative;
  EXPECT_TRUE(Run());
  EXPECT_EQ(host.log, "共有-3张图片\r\n下载全部完成\r\n");
  EXPECT_TRUE(fetcher.calls.empty());
  EXPECT_EQ(ListTree(out.path()), (std::set<std::string>{"ABC/", "NEG/"}));
}

TEST_F(JobTest, StopBeforeTheFirstPageLeavesNoFolder) {
  Page("您正在看：ABC >共5页", ImageTag("p/1.jpg"));
  host.stop = [] { return true; };
  EXPECT_FALSE(Run());
  EXPECT_EQ(host.log, "共有5张图片\r\n下载已终止\r\n");
  EXPECT_EQ(host.results, std::vector<std::string>{"下载已终止"});
  EXPECT_TRUE(fetcher.calls.empty());
  EXPECT_TRUE(ListTree(out.path()).empty());
}

TEST_F(JobTest, StopWithZeroPagesStillEndsStopped) {
  Page("您正在看：ABC >共0页", ImageTag("p/1.jpg"));
  host.stop = [] { return true; };
  EXPECT_FALSE(Run());
  EXPECT_EQ(host.log, "共有0张图片\r\n下载已终止\r\n");
}

TEST_F(JobTest, StopDuringAPageLetsThatPageFinish) {
  Page("您正在看：ABC >共5页", ImageTag("p/1.jpg"));
  bool stop = false;
  host.stop = [&] { return stop; };
  fetcher.answer = [&](int call, const ScriptedFetcher::Call& c) {
    stop = stop || call == 2;
    return testing::WriteWholeFile(c.target, "x");
  };
  EXPECT_FALSE(Run());
  EXPECT_EQ(host.log, "共有5张图片\r\n" + PageLine("http://127.0.0.1:1/comic/p/1.jpg", true) +
                          PageLine("http://127.0.0.1:1/comic/p/2.jpg", true) + "下载已终止\r\n");
  EXPECT_EQ(host.results, std::vector<std::string>{"下载已终止"});
  EXPECT_EQ(ListTree(out.path()), (std::set<std::string>{"ABC/", "ABC/1.jpg", "ABC/2.jpg"}));
}

TEST_F(JobTest, StopDuringTheLastPageEndsStoppedNotComplete) {
  Page("您正在看：ABC >共3页", ImageTag("p/1.jpg"));
  bool stop = false;
  host.stop = [&] { return stop; };
  fetcher.answer = [&](int call, const ScriptedFetcher::Call&) {
    stop = call == 3;
    return true;
  };
  EXPECT_FALSE(Run());
  EXPECT_EQ(fetcher.calls.size(), 3U);
  EXPECT_TRUE(host.log.ends_with("]...成功\r\n下载已终止\r\n"));
  EXPECT_EQ(host.results, std::vector<std::string>{"下载已终止"});
}

TEST_F(JobTest, LargestCountIsAcceptedAndAStopEndsIt) {
  Page("您正在看：ABC >共2147483647页", ImageTag("p/1.jpg"));
  bool stop = false;
  host.stop = [&] { return stop; };
  fetcher.answer = [&](int, const ScriptedFetcher::Call&) {
    stop = true;
    return false;
  };
  EXPECT_FALSE(Run());
  EXPECT_TRUE(host.log.starts_with("共有2147483647张图片\r\n"));
  EXPECT_EQ(fetcher.calls.size(), 1U);
}

TEST_F(JobTest, EmptyTitleStoresImagesInTheOutputDirectoryItself) {
  Page("您正在看：>共2页", ImageTag("p/1.jpg"));
  EXPECT_TRUE(Run());
  ASSERT_EQ(fetcher.calls.size(), 2U);
  EXPECT_EQ(fetcher.calls[0].target, out.slash() + "/1.jpg");
  EXPECT_EQ(ListTree(out.path()), (std::set<std::string>{"1.jpg", "2.jpg"}));
}

// No title writes outside the output directory.
TEST_F(JobTest, UnsafeTitlesStayInsideTheOutputDirectory) {
  TempDir root;
  const std::string output = root / "out/";
  std::filesystem::create_directory(output);
  host.output = {output, false};
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"../../escape", "_._.._escape"},
      {"/tmp/abs", "_tmp_abs"},
      {"..", "__"},
      {".", "_"},
      {"a\x01"
       "b\tc\nd",
       "a_b_c_d"},
      {std::string("nul\0byte", 8), "nul_byte"},
      {"A >B", "A-B"},
  };
  for (const auto& [title, folder] : cases) {
    FakeDocument page;
    page.Add("stauts_left", "您正在看：" + title + " >共1页");
    page.Add()
        .Set(ElementProperty::ClassName, "ImgComic")
        .Set(ElementProperty::OuterHTML, ImageTag("p/1.jpg"));
    host.document = &page;
    fetcher.calls.clear();
    EXPECT_TRUE(Run()) << folder;
    ASSERT_EQ(fetcher.calls.size(), 1U);
    EXPECT_EQ(fetcher.calls[0].target, output + folder + "/1.jpg");
  }
  std::set<std::string> expected{"out/"};
  for (const auto& [title, folder] : cases) {
    expected.insert("out/" + folder + "/");
    expected.insert("out/" + folder + "/1.jpg");
  }
  EXPECT_EQ(ListTree(root.path()), expected);
}

TEST_F(JobTest, AnExistingFolderIsReusedAndItsPagesReplaced) {
  std::filesystem::create_directory(out / "ABC");
  testing::WriteWholeFile(out / "ABC/1.jpg", "old");
  testing::WriteWholeFile(out / "ABC/other.txt", "kept");
  Page("您正在看：ABC >共1页", ImageTag("p/1.jpg"));
  EXPECT_TRUE(Run());
  EXPECT_EQ(ReadWholeFile(out / "ABC/1.jpg"), FakeImage("http://127.0.0.1:1/comic/p/1.jpg"));
  EXPECT_EQ(ReadWholeFile(out / "ABC/other.txt"), "kept");
}

// A folder that cannot be made is an error with its reason, not a run of
// failed pages that ends 下载完成.
TEST_F(JobTest, FolderThatCannotBeCreatedIsAnErrorWithItsReason) {
  testing::FaultyFileSystem files;
  files.fail_create_directory = ENOSPC;
  Page("您正在看：ABC >共2页", ImageTag("p/1.jpg"));
  EXPECT_FALSE(DownloadJob(host, {fetcher, files, net::CurlAddressResolver()}).complete());
  EXPECT_EQ(files.created, std::vector<std::string>{out / "ABC"});
  EXPECT_TRUE(fetcher.calls.empty());
  EXPECT_EQ(host.log,
            "共有2张图片\r\n创建文件夹[" + (out / "ABC") + "]失败（磁盘已满）\r\n下载出错\r\n");
  EXPECT_EQ(host.results, std::vector<std::string>{"下载出错"});
}

// An unwritable program directory sends chapters to the download
// folder, and the log says where, right after the folder is made.
TEST_F(JobTest, FallbackFolderIsAnnouncedOnceAfterItIsCreated) {
  Page("您正在看：ABC >共1页", ImageTag("p/1.jpg"));
  host.output = {out.slash(), true};
  EXPECT_TRUE(Run());
  EXPECT_EQ(host.log, "共有1张图片\r\n程序目录不可写入，改存到：" + out.slash() + "ABC\r\n" +
                          PageLine("http://127.0.0.1:1/comic/p/1.jpg", true) + "下载全部完成\r\n");
  EXPECT_TRUE(std::filesystem::is_directory(out / "ABC"));
  EXPECT_EQ(host.output_requests, 1);
  // When the folder that failed was the one chosen as 下载到, the line says so.
  host.output.chosen_folder_unwritable = true;
  EXPECT_TRUE(Run());
  EXPECT_TRUE(host.log.starts_with("共有1张图片\r\n下载到的文件夹不可写入，改存到：" + out.slash() +
                                   "ABC\r\n"))
      << host.log;
}

TEST_F(JobTest, NoFallbackLineWhenTheOutputDirectoryIsThePreferredOne) {
  Page("您正在看：ABC >共1页", ImageTag("p/1.jpg"));
  EXPECT_TRUE(Run());
  EXPECT_EQ(host.log.find("程序目录不可写入"), std::string::npos);
}

TEST_F(JobTest, NoOutputDirectoryIsAnErrorRatherThanTheWorkingDirectory) {
  Page("您正在看：ABC >共1页", ImageTag("p/1.jpg"));
  host.output = {"", true};
  EXPECT_FALSE(Run());
  EXPECT_EQ(host.log, "共有1张图片\r\n下载出错\r\n");
  EXPECT_TRUE(fetcher.calls.empty());
}

TEST_F(JobTest, EachRunClearsTheLogAndSetsOneResult) {
  Page("您正在看：ABC >共1页", ImageTag("p/1.jpg"));
  EXPECT_TRUE(Run());
  EXPECT_TRUE(Run());
  EXPECT_EQ(host.clears, 2);
  EXPECT_EQ(host.results, (std::vector<std::string>{"下载完成", "下载完成"}));
  EXPECT_TRUE(host.log.starts_with("共有1张图片\r\n"));
  EXPECT_EQ(host.log.find("共有", 1), std::string::npos);
}

}  // namespace
}  // namespace vexel::download
