#include <gtest/gtest.h>

#include "query/parsed_query.h"

namespace vexel {
namespace {

TEST(ParseQuery, SplitsTheSystemsImageQuery) {
  const ParsedQuery q = ParseQuery(
      "outerHTML element that className = ImgComic AND outerHTML have IMG class=ImgComic");
  EXPECT_EQ(q.head, "outerHTML element");
  EXPECT_EQ(q.match_index, 0);
  ASSERT_EQ(q.conditions.size(), 2U);
  EXPECT_EQ(q.conditions[0].name, "className");
  EXPECT_EQ(q.conditions[0].kind, ConditionOperator::Equal);
  EXPECT_EQ(q.conditions[0].operand, "ImgComic");
  EXPECT_EQ(q.conditions[0].property, ElementProperty::ClassName);
  EXPECT_EQ(q.conditions[1].name, "outerHTML");
  EXPECT_EQ(q.conditions[1].kind, ConditionOperator::Have);
  EXPECT_EQ(q.conditions[1].operand, "IMG class=ImgComic");
}

TEST(ParseQuery, ReadsTheMatchIndexAfterTheFirstElementWord) {
  EXPECT_EQ(ParseQuery("innerText element that ").match_index, 0);
  EXPECT_EQ(ParseQuery("innerText that ").match_index, 0);
  EXPECT_EQ(ParseQuery("innerText element2 that ").match_index, 2);
  EXPECT_EQ(ParseQuery("innerText element  -1 that ").match_index, -1);
  EXPECT_EQ(ParseQuery("innerText elementx3 that ").match_index, 0);
  EXPECT_EQ(ParseQuery("set a = element2 that ").match_index, 2);
  EXPECT_EQ(ParseQuery("set element = element2 that ").match_index, 0);
  EXPECT_EQ(ParseQuery("innerText element99999999999999999999 that ").match_index,
            std::numeric_limits<std::int64_t>::max());
}

TEST(ParseQuery, OperandsRunToTheNextCapitalAnd) {
  const ParsedQuery spaced = ParseQuery("x that title = a b AND id = c");
  ASSERT_EQ(spaced.conditions.size(), 2U);
  EXPECT_EQ(spaced.conditions[0].operand, "a b");
  EXPECT_EQ(spaced.conditions[1].operand, "c");

  const ParsedQuery lower = ParseQuery("x that title = a and b");
  ASSERT_EQ(lower.conditions.size(), 1U);
  EXPECT_EQ(lower.conditions[0].operand, "a and b");

  // "AND " needs no space before it.
  const ParsedQuery glued = ParseQuery("x that title = aAND id = c");
  ASSERT_EQ(glued.conditions.size(), 2U);
  EXPECT_EQ(glued.conditions[0].operand, "a");
  EXPECT_EQ(glued.conditions[1].name, "id");
}

TEST(ParseQuery, EmptyPiecesWhereTerminatorsMeet) {
  const ParsedQuery two_spaces = ParseQuery("x that title  = a");
  ASSERT_EQ(two_spaces.conditions.size(), 1U);
  EXPECT_EQ(two_spaces.conditions[0].name, "title");
  EXPECT_EQ(two_spaces.conditions[0].op, "");
  EXPECT_EQ(two_spaces.conditions[0].kind, ConditionOperator::Always);
  EXPECT_EQ(two_spaces.conditions[0].operand, "= a");

  const ParsedQuery and_after_op = ParseQuery("x that id = AND title = t");
  ASSERT_EQ(and_after_op.conditions.size(), 2U);
  EXPECT_EQ(and_after_op.conditions[0].operand, "");
  EXPECT_EQ(and_after_op.conditions[1].operand, "t");
}

TEST(ParseQuery, OperatorsOutsideTheFourAlwaysHold) {
  for (const char* op : {"==", "is", "HAVE", "No"}) {
    const ParsedQuery q = ParseQuery(std::string("x that id ") + op + " a");
    ASSERT_EQ(q.conditions.size(), 1U) << op;
    EXPECT_EQ(q.conditions[0].kind, ConditionOperator::Always) << op;
  }
  const ParsedQuery wrong_case = ParseQuery("x that classname = a");
  EXPECT_FALSE(wrong_case.conditions[0].property.has_value());
}

TEST(ParseQuery, ReadsAtMostTenConditions) {
  std::string query = "x that ";
  for (int i = 0; i < 12; ++i) {
    query += "id = " + std::to_string(i) + " AND ";
  }
  const ParsedQuery q = ParseQuery(query);
  ASSERT_EQ(q.conditions.size(), ParsedQuery::kMaxConditions);
  EXPECT_EQ(q.conditions.back().operand, "9");
}

// The readings chosen where the language leaves the text open.
TEST(ParseQuery, UnsettledShapesEndTheReadingSafely) {
  const ParsedQuery no_that = ParseQuery("innerText element2 className = x");
  EXPECT_EQ(no_that.head, "");
  EXPECT_EQ(no_that.match_index, 0);
  EXPECT_TRUE(no_that.conditions.empty());

  const ParsedQuery bare_name = ParseQuery("x that className");
  ASSERT_EQ(bare_name.conditions.size(), 1U);
  EXPECT_EQ(bare_name.conditions[0].name, "className");
  EXPECT_EQ(bare_name.conditions[0].kind, ConditionOperator::Always);

  const ParsedQuery bare_op = ParseQuery("x that className =");
  ASSERT_EQ(bare_op.conditions.size(), 1U);
  EXPECT_EQ(bare_op.conditions[0].op, "=");
  EXPECT_EQ(bare_op.conditions[0].operand, "");

  EXPECT_TRUE(ParseQuery("x that ").conditions.empty());
  EXPECT_TRUE(ParseQuery("").conditions.empty());
  // A query made only of terminators still ends, with at most ten conditions.
  EXPECT_LE(ParseQuery(" that " + std::string(1000, ' ')).conditions.size(), 10U);
  EXPECT_LE(ParseQuery(" that AND AND AND AND AND AND AND AND AND AND AND AND ").conditions.size(),
            10U);
}

}  // namespace
}  // namespace vexel
