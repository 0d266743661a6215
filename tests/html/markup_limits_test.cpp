// The scan that guards the parser: it must see tags where the parser sees
// them, and estimate nesting the way the parser builds it.
#include "html/markup_limits.h"

#include <gtest/gtest.h>

#include <string>

namespace vexel::html {
namespace {

constexpr MarkupLimits kGenerous{1'000'000, 100'000, 100'000};

MarkupCensus Census(std::string_view markup) {
  MarkupCensus census;
  EXPECT_EQ(CheckMarkupLimits(markup, kGenerous, &census), "");
  return census;
}

std::string Repeat(std::string_view unit, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) {
    out += unit;
  }
  return out;
}

TEST(MarkupScan, TagsHiddenInCommentsAndRawTextAreNotCounted) {
  EXPECT_EQ(Census("<!-- <div><div> --><p>").start_tags, 1U);
  EXPECT_EQ(Census("<!--> <div>").start_tags, 1U);  // "<!-->" is a whole comment
  EXPECT_EQ(Census("<!-- a --!> <div>").start_tags, 1U);
  const MarkupCensus script =
      Census("<SCRIPT>document.write('<div><div>');</script ><p>x</p><title><b></TITLE>");
  EXPECT_EQ(script.start_tags, 3U);
  EXPECT_EQ(script.max_depth, 1U);
  EXPECT_EQ(Census("<textarea><div><div></textarea><div>").max_depth, 1U);
  EXPECT_EQ(Census("<!DOCTYPE html><?xml x?></ ><p>").start_tags, 1U);
}

TEST(MarkupScan, AttributesAreCountedThroughQuotedValues) {
  const MarkupCensus census = Census(R"(<a title=">" b='<div>' c=d e>x</a><i =x>)");
  EXPECT_EQ(census.start_tags, 2U);
  EXPECT_EQ(census.max_attributes, 4U);
}

TEST(MarkupScan, NestingFollowsHowTheParserClosesElements) {
  // Closed properly, or closed by the next sibling of the same kind.
  EXPECT_EQ(Census(Repeat("<div><div></div></div>", 3)).max_depth, 2U);
  EXPECT_EQ(Census(Repeat("<p>text ", 500) + Repeat("<li>item", 500)).max_depth, 1U);
  EXPECT_EQ(Census("<select>" + Repeat("<option>x", 500)).max_depth, 2U);
  EXPECT_EQ(Census("<dl>" + Repeat("<dt>t<dd><font>d", 500)).max_depth, 3U);
  // table, implied tbody, tr, td; unclosed cells and rows do not pile up.
  EXPECT_EQ(Census("<table>" + Repeat("<tr><td><font>a<td>b", 500) + "</table>").max_depth, 5U);
  // "<x/>" opens an HTML element but closes itself inside svg.
  EXPECT_EQ(Census(Repeat("<div/>", 3)).max_depth, 3U);
  EXPECT_EQ(Census("<svg>" + Repeat("<path/>", 5) + "</svg>").max_depth, 1U);
  // An end tag does not reach past a cell: the div stays open around it.
  EXPECT_EQ(Census(Repeat("<div><table><tr><td></div>", 3)).max_depth, 15U);
  // Void elements never nest.
  EXPECT_EQ(Census(Repeat("<br><img src=x><input>", 100)).max_depth, 0U);
}

TEST(MarkupScan, RefusesTheFirstLimitPassed) {
  const MarkupLimits limits{10, 4, 3};
  EXPECT_EQ(CheckMarkupLimits(Repeat("<br>", 10), limits), "");
  EXPECT_EQ(CheckMarkupLimits(Repeat("<br>", 11), limits), "page has more than 10 start tags");
  EXPECT_EQ(CheckMarkupLimits("<a b c d>", limits), "");
  EXPECT_EQ(CheckMarkupLimits("<a b c d e>", limits),
            "page has an element with more than 3 attributes");
  EXPECT_EQ(CheckMarkupLimits(Repeat("<b>", 4), limits), "");
  EXPECT_EQ(CheckMarkupLimits(Repeat("<b>", 5), limits),
            "page nests elements more than 4 levels deep");
}

}  // namespace
}  // namespace vexel::html
