// vexel-dl query, run as a program on saved pages of the site's layout (GBK
// and UTF-8), standard input, and a server on 127.0.0.1.
#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/cli/query_process.h"
#include "tests/support/chapter_page.h"
#include "tests/support/encode_text.h"
#include "tests/support/local_server.h"

namespace vexel::testing {
namespace {

class QueryCommandTest : public ::testing::Test {
 protected:
  QueryCommandTest() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vexel-query-pages-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
      directory_ = pattern;
    }
    gbk_page_ = ToGbk(ChapterPageUtf8(
        R"(<meta http-equiv="Content-Type" content="text/html; charset=gb2312" />)"));
    Save("chapter-gbk.html", gbk_page_);
    Save("chapter-utf8.html", ChapterPageUtf8("<meta charset=\"utf-8\">"));
  }
  ~QueryCommandTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }

 public:
  QueryCommandTest(const QueryCommandTest&) = delete;
  QueryCommandTest& operator=(const QueryCommandTest&) = delete;
  QueryCommandTest(QueryCommandTest&&) = delete;
  QueryCommandTest& operator=(QueryCommandTest&&) = delete;

 protected:
  void Save(const std::string& name, const std::string& bytes) {
    std::ofstream(directory_ / name, std::ios::binary) << bytes;
  }
  std::string PathOf(const std::string& name) const { return (directory_ / name).string(); }

  std::filesystem::path directory_;
  std::string gbk_page_;
};

TEST_F(QueryCommandTest, SavedGbkPageGivesTheChapterLineExactly) {
  const QueryRun run = RunVexelDl({"query", kChapterLineQuery, PathOf("chapter-gbk.html")});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, kChapterLine);  // no newline added
  EXPECT_EQ(run.err, "");
}

TEST_F(QueryCommandTest, SavedUtf8PageGivesTheImageTagExactly) {
  const QueryRun run = RunVexelDl({"query", kImageQuery, PathOf("chapter-utf8.html")});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, kImageTag);
  EXPECT_EQ(run.err, "");
}

TEST_F(QueryCommandTest, StandardInput) {
  const QueryRun run = RunVexelDl({"query", kImageQuery, "-"}, gbk_page_);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, kImageTag);
  const QueryRun line = RunVexelDl({"query", kChapterLineQuery, "-"}, gbk_page_);
  EXPECT_EQ(line.out, kChapterLine);
}

TEST_F(QueryCommandTest, NoMatchAndHeadsThatReadNothing) {
  const QueryRun none = RunVexelDl(
      {"query", "innerText element that className = nothing", PathOf("chapter-gbk.html")});
  EXPECT_EQ(none.exit_status, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err, "");
  const QueryRun third = RunVexelDl(
      {"query", "innerText element2 that className = stauts_left", PathOf("chapter-gbk.html")});
  EXPECT_EQ(third.exit_status, 1);
  const QueryRun click =
      RunVexelDl({"query", "click element that className = ImgComic", PathOf("chapter-gbk.html")});
  EXPECT_EQ(click.exit_status, 0);
  EXPECT_EQ(click.out, "");
}

TEST_F(QueryCommandTest, LoadAndUsageErrorsExitTwoWithOneLine) {
  const QueryRun missing = RunVexelDl({"query", kChapterLineQuery, PathOf("no-such-page.html")});
  EXPECT_EQ(missing.exit_status, 2);
  EXPECT_EQ(missing.out, "");
  EXPECT_TRUE(missing.err.starts_with("vexel-dl query: cannot load file://")) << missing.err;
  EXPECT_EQ(missing.err.find('\n'), missing.err.size() - 1);

  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"query"}, std::vector<std::string>{"query", kChapterLineQuery},
        std::vector<std::string>{"query", kChapterLineQuery, "a", "b"}}) {
    const QueryRun usage = RunVexelDl(arguments);
    EXPECT_EQ(usage.exit_status, 2);
    EXPECT_EQ(usage.out, "");
    EXPECT_EQ(usage.err,
              "vexel-dl query: expected a query and a page (try vexel-dl query --help)\n");
  }
}

TEST_F(QueryCommandTest, HelpExplainsTheLanguageWithAnExample) {
  const QueryRun help = RunVexelDl({"query", "--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_TRUE(help.out.starts_with("usage: vexel-dl query 'QUERY' SOURCE\n"));
  EXPECT_NE(help.out.find("innerText element that className = stauts_left"), std::string::npos);
  EXPECT_NE(help.out.find("have"), std::string::npos);
  EXPECT_EQ(help.err, "");
}

TEST_F(QueryCommandTest, PagesByAddress) {
  LocalServer local;
  local.server.Get("/comic/12/5.html",
                   [this](const httplib::Request&, httplib::Response& response) {
                     response.set_content(gbk_page_, "text/html");
                   });
  ASSERT_TRUE(local.Start());

  const QueryRun found = RunVexelDl({"query", kChapterLineQuery, local.Url("/comic/12/5.html")});
  EXPECT_EQ(found.exit_status, 0);
  EXPECT_EQ(found.out, kChapterLine);
  const QueryRun missing = RunVexelDl({"query", kChapterLineQuery, local.Url("/comic/12/6.html")});
  EXPECT_EQ(missing.exit_status, 2);
  EXPECT_EQ(missing.err, "vexel-dl query: HTTP 404 from " + local.Url("/comic/12/6.html") + "\n");
}

}  // namespace
}  // namespace vexel::testing
