#include <gtest/gtest.h>

#include <algorithm>

#include "query/element_query.h"
#include "tests/query/fake_document.h"
#include "tests/support/chapter_page.h"

namespace vexel {
namespace {

using testing::FakeDocument;
using testing::kChapterLineQuery;
using testing::kImageQuery;

class EvaluateTest : public ::testing::Test {
 protected:
  QueryResult Run(const std::string& query) { return ElementQuery(&doc).Evaluate(query, out); }

  FakeDocument doc;
  std::string out = "left over";
};

TEST_F(EvaluateTest, TheSystemsQueriesReadTheChapterLineAndImageTag) {
  doc.Add("nav", "首页");
  doc.Add("stauts_left", "首页");
  doc.Add("stauts_left", "您正在看：ABC > 第5话 >共12页 ");
  doc.Add().Set(ElementProperty::ClassName, "ImgComic").Set(ElementProperty::OuterHTML, "<IMG>");
  doc.Add()
      .Set(ElementProperty::ClassName, " ImgComic ")
      .Set(ElementProperty::OuterHTML, "<IMG class=ImgComic src=\"pics/1.jpg\">");

  EXPECT_EQ(Run(kChapterLineQuery), QueryMatched);
  EXPECT_EQ(out, "您正在看：ABC > 第5话 >共12页 ");  // read heads are not trimmed
  EXPECT_EQ(Run(kImageQuery), QueryMatched);
  EXPECT_EQ(out, "<IMG class=ImgComic src=\"pics/1.jpg\">");
  EXPECT_EQ(Run("className that className = ImgComic"), QueryMatched);
  EXPECT_EQ(out, "ImgComic");
  EXPECT_EQ(Run("className element1 that className = ImgComic"), QueryMatched);
  EXPECT_EQ(out, " ImgComic ");
}

TEST_F(EvaluateTest, NoMatchAndBusyLeaveOutEmpty) {
  doc.Add("x", "a");
  EXPECT_EQ(Run("innerText element that className = y"), QueryNoMatch);
  EXPECT_EQ(out, "");
  out = "again";
  doc.busy = true;
  EXPECT_EQ(Run("innerText element that "), QueryBusy);
  EXPECT_EQ(out, "");
}

TEST_F(EvaluateTest, MatchIndexCountsMatchesInDocumentOrder) {
  doc.Add("y", "zero");
  doc.Add("x", "first");
  doc.Add("x", "second");
  doc.Add("x", "third");
  EXPECT_EQ(Run("innerText element1 that className = x"), QueryMatched);
  EXPECT_EQ(out, "second");
  EXPECT_EQ(Run("innerText element3 that className = x"), QueryNoMatch);
  EXPECT_EQ(out, "");
  EXPECT_EQ(Run("innerText element-1 that className = x"), QueryMatched);
  EXPECT_EQ(out, "first");
  EXPECT_EQ(Run("innerText element99999999999999999999 that className = x"), QueryNoMatch);
  // The smallest index there is (and anything below, which saturates to it).
  EXPECT_EQ(Run("innerText element-9223372036854775808 that className = x"), QueryMatched);
  EXPECT_EQ(out, "first");
  EXPECT_EQ(Run("innerText element-99999999999999999999 that className = x"), QueryMatched);
  EXPECT_EQ(out, "first");
  EXPECT_EQ(Run("innerText element that "), QueryMatched);
  EXPECT_EQ(out, "zero");
}

// Nested elements that each carry most of a huge page: the evaluation gives
// up after reading a bounded amount of text instead of serialising them all.
TEST_F(EvaluateTest, ConditionReadsHaveABudget) {
  const std::string megabyte(std::size_t{1} << 20, 'x');
  for (int i = 0; i < 400; ++i) {
    doc.Add("ImgComic", megabyte);
  }
  doc.Add("ImgComic", "needle");
  doc.recording = true;
  EXPECT_EQ(Run("innerText element that className = ImgComic AND innerText have needle"),
            QueryNoMatch);
  const auto reads = std::count_if(doc.calls.begin(), doc.calls.end(),
                                   [](const std::string& c) { return c.ends_with(" innerText"); });
  EXPECT_GT(reads, 200);
  EXPECT_LT(reads, 300);
  // The same page read up to its needle within the budget is found.
  EXPECT_EQ(Run("innerText element200 that className = ImgComic"), QueryMatched);
  EXPECT_EQ(out.size(), megabyte.size());
}

TEST_F(EvaluateTest, OperatorsCompareTrimmedTextWithTheOperand) {
  doc.Add("x", "  hello world ");
  auto holds = [&](const std::string& condition) {
    return Run("innerText that " + condition) == QueryMatched;
  };
  EXPECT_TRUE(holds("innerText = hello world"));
  EXPECT_FALSE(holds("innerText = Hello world"));
  EXPECT_TRUE(holds("innerText != hello"));
  EXPECT_FALSE(holds("innerText != hello world"));
  EXPECT_TRUE(holds("innerText have lo wo"));
  EXPECT_TRUE(holds("innerText have "));
  EXPECT_FALSE(holds("innerText no "));
  EXPECT_TRUE(holds("innerText no bye"));
  EXPECT_TRUE(holds("innerText == nonsense"));
  EXPECT_TRUE(holds("innerText is nonsense"));
  EXPECT_TRUE(holds("innerText  = nonsense"));     // two spaces: empty operator
  EXPECT_FALSE(holds("innertext = hello world"));  // other names give the empty text
  EXPECT_TRUE(holds("nosuch = "));
}

TEST_F(EvaluateTest, HeadsAreChosenByTheirBeginning) {
  doc.Add()
      .Set(ElementProperty::Id, "i")
      .Set(ElementProperty::ClassName, "c")
      .Set(ElementProperty::Title, "t")
      .Set(ElementProperty::TagName, "DIV")
      .Set(ElementProperty::InnerText, "it")
      .Set(ElementProperty::OuterText, "ot")
      .Set(ElementProperty::InnerHTML, "ih")
      .Set(ElementProperty::OuterHTML, "oh");
  const std::pair<const char*, const char*> cases[] = {
      {"id", "i"},         {"className", "c"},   {"title", "t"},
      {"tagName", "DIV"},  {"innerText", "it"},  {"outerText", "ot"},
      {"innerHTML", "ih"}, {"outerHTML", "oh"},  {"innerTextual", "it"},
      {"identity", "i"},   {"text element", ""}, {"", ""},
  };
  for (const auto& [head, expected] : cases) {
    EXPECT_EQ(Run(std::string(head) + " that "), QueryMatched) << head;
    EXPECT_EQ(out, expected) << head;
  }
}

TEST_F(EvaluateTest, EmptyOrGappedDocuments) {
  EXPECT_EQ(Run("innerText that "), QueryNoMatch);
  doc.Add("x", "a");
  doc.Add("x", "b");
  doc.MakeGap(0);
  EXPECT_EQ(Run("innerText that className = x"), QueryMatched);
  EXPECT_EQ(out, "b");
  // A skipped entry is not counted as a match either.
  EXPECT_EQ(Run("innerText element1 that className = x"), QueryNoMatch);
}

TEST_F(EvaluateTest, NoDocumentEndsTheCallWithoutHarm) {
  out = "stale";
  EXPECT_EQ(ElementQuery(nullptr).Evaluate(kChapterLineQuery, out), QueryNoMatch);
  EXPECT_EQ(out, "");
}

TEST_F(EvaluateTest, QueryWithoutThatSelectsTheFirstElementAndReadsNothing) {
  doc.Add("x", "a");
  EXPECT_EQ(Run("innerText element className = y"), QueryMatched);
  EXPECT_EQ(out, "");
}

TEST_F(EvaluateTest, EleventhConditionIsIgnored) {
  doc.Add("x", "a");
  std::string query = "innerText that ";
  for (int i = 0; i < 10; ++i) {
    query += "className = x AND ";
  }
  EXPECT_EQ(Run(query + "className = never"), QueryMatched);
  EXPECT_EQ(out, "a");
}

// The call sequence the document sees: busy first, the count once, each entry
// once in order, conditions in written order stopping at the first failure,
// and the walk ending at the selected element.
TEST_F(EvaluateTest, ReadsTheDocumentInTheFixedOrder) {
  doc.Add("a", "one");
  doc.Add("x", "two");
  doc.Add("x", "three");
  doc.Add("x", "four");
  doc.recording = true;
  ASSERT_EQ(Run("innerText element1 that className = x AND innerText no tw"), QueryMatched);
  EXPECT_EQ(out, "four");
  const std::vector<std::string> expected = {
      "IsBusy",           "ElementCount",     "ElementAt 0",      "Read 0 className",
      "ElementAt 1",      "Read 1 className", "Read 1 innerText", "ElementAt 2",
      "Read 2 className", "Read 2 innerText", "ElementAt 3",      "Read 3 className",
      "Read 3 innerText",
      "Read 3 innerText",  // the head's read
  };
  EXPECT_EQ(doc.calls, expected);
}

TEST_F(EvaluateTest, NothingIsReadWhileBusyOrForUnknownNames) {
  doc.Add("x", "a");
  doc.recording = true;
  doc.busy = true;
  EXPECT_EQ(Run("innerText that className = x"), QueryBusy);
  EXPECT_EQ(doc.calls, std::vector<std::string>{"IsBusy"});
  doc.busy = false;
  doc.calls.clear();
  EXPECT_EQ(Run("tagname that classname = x"), QueryNoMatch);
  EXPECT_EQ(doc.calls, (std::vector<std::string>{"IsBusy", "ElementCount", "ElementAt 0"}));
}

}  // namespace
}  // namespace vexel
