// The site's two queries over a chapter page in the site's own layout and
// encoding: the texts they deliver are what the chapter analysis parses.
#include <gtest/gtest.h>

#include <string>

#include "html/html_parser.h"
#include "query/element_query.h"
#include "tests/support/chapter_page.h"
#include "tests/support/encode_text.h"

namespace vexel::html {
namespace {

using vexel::testing::ChapterPageUtf8;
using vexel::testing::kChapterLine;
using vexel::testing::kChapterLineQuery;
using vexel::testing::kImageQuery;
using vexel::testing::kImageTag;
using vexel::testing::ToGbk;

constexpr std::string_view kHttpEquivGb2312 =
    R"(<meta http-equiv="Content-Type" content="text/html; charset=gb2312" />)";

struct Answer {
  QueryResult result;
  std::string out;
};

Answer Ask(HtmlDocument& document, const char* query) {
  Answer answer{QueryBusy, "stale"};
  answer.result = ElementQuery(&document).Evaluate(query, answer.out);
  return answer;
}

void ExpectSiteQueriesRead(HtmlDocument& document) {
  const Answer line = Ask(document, kChapterLineQuery);
  EXPECT_EQ(line.result, QueryMatched);
  EXPECT_EQ(line.out, kChapterLine);
  const Answer image = Ask(document, kImageQuery);
  EXPECT_EQ(image.result, QueryMatched);
  EXPECT_EQ(image.out, kImageTag);
}

TEST(ChapterPage, GbkPageDeclaringItselfInAMetaPragma) {
  const std::string bytes = ToGbk(ChapterPageUtf8(kHttpEquivGb2312));
  ASSERT_EQ(bytes.find("\xE6\x82\xA8"), std::string::npos);  // not UTF-8 any more
  const ParseOutcome outcome = ParseHtmlBytes(bytes, "", "http://vexel.example/comic/12/5.html");
  ASSERT_TRUE(outcome.ok()) << outcome.error;
  ExpectSiteQueriesRead(*outcome.document);
  EXPECT_EQ(outcome.document->Url(), "http://vexel.example/comic/12/5.html");
}

TEST(ChapterPage, GbkPageNamedOnlyByTheServer) {
  const std::string bytes = ToGbk(ChapterPageUtf8(""));
  const ParseOutcome declared = ParseHtmlBytes(bytes, "gbk");
  ASSERT_TRUE(declared.ok()) << declared.error;
  ExpectSiteQueriesRead(*declared.document);

  // Read as UTF-8 the marker is lost, and the chapter line with it.
  const ParseOutcome undeclared = ParseHtmlBytes(bytes, "");
  ASSERT_TRUE(undeclared.ok()) << undeclared.error;
  const Answer line = Ask(*undeclared.document, kChapterLineQuery);
  EXPECT_EQ(line.result, QueryNoMatch);
  EXPECT_EQ(line.out, "");
  EXPECT_EQ(Ask(*undeclared.document, kImageQuery).out, kImageTag);
}

TEST(ChapterPage, Utf8Page) {
  const ParseOutcome outcome = ParseHtmlBytes(ChapterPageUtf8("<meta charset=\"utf-8\">"), "");
  ASSERT_TRUE(outcome.ok()) << outcome.error;
  ExpectSiteQueriesRead(*outcome.document);
}

TEST(ChapterPage, OtherTextsOfThePage) {
  const ParseOutcome outcome = ParseHtmlBytes(ToGbk(ChapterPageUtf8(kHttpEquivGb2312)), "");
  ASSERT_TRUE(outcome.ok()) << outcome.error;
  HtmlDocument& document = *outcome.document;
  EXPECT_EQ(Ask(document, "innerText element1 that className = stauts_left").out,
            "相关漫画：星际旅人外传");
  EXPECT_EQ(Ask(document, "innerText element that tagName = TITLE").out,
            "星际旅人 第5话 - 在线漫画");
  EXPECT_EQ(Ask(document, "innerText element that className = nav").out, "上一页\t下一页");
  EXPECT_EQ(Ask(document, "outerHTML element that tagName = A AND innerText = 搜索").out,
            "<A href=\"/search/?q=%E6%BC%AB&amp;t=1\">搜索</A>");
  EXPECT_EQ(Ask(document, "innerText element that className = stauts_right").out, "第1页\n第2页");
  EXPECT_EQ(
      Ask(document, "innerText element that className = ImgComic AND outerHTML no ad.jpg").result,
      QueryMatched);
}

}  // namespace
}  // namespace vexel::html
