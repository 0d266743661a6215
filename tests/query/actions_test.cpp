#include <gtest/gtest.h>

#include "query/element_query.h"
#include "tests/query/fake_document.h"

namespace vexel {
namespace {

using testing::FakeDocument;
using testing::FakeKind;

class ActionsTest : public ::testing::Test {
 protected:
  QueryResult Run(const std::string& query) { return ElementQuery(&doc).Evaluate(query, out); }

  FakeDocument doc;
  std::string out = "left over";
};

TEST_F(ActionsTest, ClickActsOnTheSelectedMatchWhateverTheOutcome) {
  doc.Add().Set(ElementProperty::Id, "next");
  doc.Add().Set(ElementProperty::Id, "next").Refuse();
  doc.Add().Set(ElementProperty::Id, "next");
  EXPECT_EQ(Run("click element that id = next"), QueryMatched);
  EXPECT_EQ(doc[0].clicks, 1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(Run("click element1 that id = next"), QueryMatched);  // refused, still 1
  EXPECT_EQ(doc[1].clicks, 1);
  EXPECT_EQ(Run("click element2 that id = next"), QueryMatched);
  EXPECT_EQ(doc[2].clicks, 1);
  EXPECT_EQ(Run("click element that id = none"), QueryNoMatch);
  EXPECT_EQ(doc[0].clicks + doc[1].clicks + doc[2].clicks, 3);
}

TEST_F(ActionsTest, SelectChoosesAnOptionOnSelectionListsOnly) {
  doc.Add().Set(ElementProperty::Id, "s").Kind(FakeKind::Select);
  doc.Add().Set(ElementProperty::Id, "s").Kind(FakeKind::Select);
  doc.Add().Set(ElementProperty::Id, "a");
  doc.Add().Set(ElementProperty::Id, "r").Kind(FakeKind::Select).Refuse();

  EXPECT_EQ(Run("select 3 that id = s"), QueryMatched);
  EXPECT_EQ(doc[0].selected_index, 3);
  EXPECT_EQ(Run("select 3 element1 that id = s"), QueryMatched);
  EXPECT_EQ(doc[1].selected_index, 3);
  EXPECT_EQ(Run("select element1 that id = s"), QueryMatched);  // no number: option 0, match 1
  EXPECT_EQ(doc[1].selected_index, 0);
  EXPECT_EQ(Run("select -2 that id = s"), QueryMatched);
  EXPECT_EQ(doc[0].selected_index, -2);
  EXPECT_EQ(Run("select 1 that id = a"), QueryNoMatch);
  EXPECT_EQ(Run("select 1 that id = r"), QueryMatched);
  EXPECT_EQ(out, "");
}

TEST_F(ActionsTest, SetFillsInputFieldsWithTheBracketedValue) {
  doc.Add().Set(ElementProperty::Id, "f").Kind(FakeKind::Input);
  doc.Add().Set(ElementProperty::Id, "area");
  doc.Add().Set(ElementProperty::Id, "r").Kind(FakeKind::Input).Refuse();

  const std::pair<const char*, const char*> values[] = {
      {"set element = [ x ]", " x "}, {"set element = x", "x"},  {"set element =", ""},
      {"set element = []", ""},       {"set element = [a", "a"}, {"set element = a]", "a"},
      {"set a b = x y", "x y"},       {"set element = ]", ""},
  };
  for (const auto& [head, expected] : values) {
    doc[0].value = "untouched";
    EXPECT_EQ(Run(std::string(head) + " that id = f"), QueryMatched) << head;
    EXPECT_EQ(doc[0].value, expected) << head;
  }

  doc[0].value = "untouched";
  EXPECT_EQ(Run("set element=x that id = f"), QueryMatched);  // no " =": nothing done
  EXPECT_EQ(doc[0].value, "untouched");
  EXPECT_EQ(Run("set element = x that id = area"), QueryNoMatch);
  EXPECT_EQ(Run("set element = x that id = r"), QueryMatched);
  EXPECT_EQ(out, "");
}

TEST_F(ActionsTest, AnElementWordInsideTheValuePicksTheMatch) {
  for (int i = 0; i < 3; ++i) {
    doc.Add().Set(ElementProperty::ClassName, "in").Kind(FakeKind::Input);
  }
  EXPECT_EQ(Run("set a = element2 that className = in"), QueryMatched);
  EXPECT_EQ(doc[2].value, "element2");
  EXPECT_EQ(doc[0].value, "");
}

TEST_F(ActionsTest, NoActionRunsWithoutASelection) {
  doc.Add().Set(ElementProperty::Id, "s").Kind(FakeKind::Select);
  doc.recording = true;
  EXPECT_EQ(Run("select 1 that id = t"), QueryNoMatch);
  EXPECT_EQ(Run("set x = 1 that id = t"), QueryNoMatch);
  for (const std::string& call : doc.calls) {
    EXPECT_EQ(call.find("Set"), std::string::npos) << call;
  }
}

}  // namespace
}  // namespace vexel
