// Pages built to break a parser: each gives a document or a clear error,
// never a crash, a stack overflow or a runaway allocation.
#include <gtest/gtest.h>

#include <string>

#include "html/charset_decoder.h"
#include "html/html_parser.h"
#include "html/tree_builder.h"

namespace vexel::html {
namespace {

std::string Repeat(std::string_view unit, std::size_t times) {
  std::string out;
  out.reserve(unit.size() * times);
  for (std::size_t i = 0; i < times; ++i) {
    out += unit;
  }
  return out;
}

TEST(HostilePage, HundredThousandLevelsOfMarkupAreRefused) {
  for (const char* unit : {"<div>", "<b>", "<table><tr><td>", "<li><ul>", "<font color=1>",
                           "<div><table><tr><td></div>", "<svg><g>"}) {
    const ParseOutcome outcome = ParseHtml(Repeat(unit, 100'000) + "x");
    EXPECT_FALSE(outcome.ok()) << unit;
    EXPECT_EQ(outcome.error, "page nests elements more than 2048 levels deep") << unit;
  }
  // Just inside the limit the page parses.
  const ParseOutcome inside = ParseHtml(Repeat("<div>", 2000) + "deep" + Repeat("</div>", 2000));
  ASSERT_TRUE(inside.ok()) << inside.error;
  EXPECT_EQ(inside.document->ElementCount(), 2003);
  EXPECT_EQ(inside.document->ElementAt(2002)->Read(ElementProperty::InnerText), "deep");
}

TEST(HostilePage, HundredThousandLevelsBuiltDirectlyAreReadWithoutRecursion) {
  constexpr int kDepth = 100'000;
  TreeBuilder builder;
  for (int i = 0; i < kDepth; ++i) {
    builder.OpenElement(i % 2 == 0 ? "div" : "span", {{"class", "c"}});
  }
  builder.AddText("x < y");
  const auto document = builder.Finish({});
  ASSERT_EQ(document->ElementCount(), kDepth);
  PageElement* top = document->ElementAt(0);
  EXPECT_EQ(top->Read(ElementProperty::InnerText), "x < y");
  const std::string outer = top->Read(ElementProperty::OuterHTML);
  EXPECT_EQ(outer.size(), (kDepth / 2) * (std::string("<DIV class=c></DIV>").size() +
                                          std::string("<SPAN class=c></SPAN>").size()) +
                              std::string("x &lt; y").size());
  EXPECT_TRUE(outer.starts_with("<DIV class=c><SPAN class=c><DIV class=c>"));
  const std::size_t start_tags =
      (kDepth / 2) * (std::string("<DIV class=c>").size() + std::string("<SPAN class=c>").size());
  EXPECT_EQ(outer.find("x &lt; y</SPAN></DIV></SPAN>"), start_tags);
  EXPECT_TRUE(outer.ends_with("</SPAN></DIV>"));
  EXPECT_EQ(document->ElementAt(kDepth - 1)->Read(ElementProperty::InnerHTML), "x &lt; y");
}

TEST(HostilePage, MillionElementsParse) {
  const ParseOutcome outcome = ParseHtml(Repeat("<br>", 1'000'000));
  ASSERT_TRUE(outcome.ok()) << outcome.error;
  HtmlDocument& document = *outcome.document;
  EXPECT_EQ(document.ElementCount(), 1'000'003);  // with html, head and body
  EXPECT_EQ(document.ElementAt(1'000'002)->Read(ElementProperty::OuterHTML), "<BR>");
  EXPECT_EQ(document.ElementAt(2)->Read(ElementProperty::InnerText).size(), 1'000'000U);

  const ParseOutcome over = ParseHtml(Repeat("<br>", 1'000'001));
  EXPECT_EQ(over.error, "page has more than 1000000 start tags");
  EXPECT_FALSE(over.too_complex);
}

TEST(HostilePage, HundredThousandAttributesOnOneElementAreRefused) {
  std::string markup = "<div";
  for (int i = 0; i < 100'000; ++i) {
    markup += " a" + std::to_string(i) + "=1";
  }
  markup += ">x</div>";
  EXPECT_EQ(ParseHtml(markup).error, "page has an element with more than 1000 attributes");

  std::string allowed = "<div id=d";
  for (int i = 1; i < 1'000; ++i) {
    allowed += " a" + std::to_string(i) + "=" + std::to_string(i);
  }
  allowed += ">x</div>";
  const ParseOutcome outcome = ParseHtml(allowed);
  ASSERT_TRUE(outcome.ok()) << outcome.error;
  const std::string outer = outcome.document->ElementAt(3)->Read(ElementProperty::OuterHTML);
  EXPECT_TRUE(outer.starts_with("<DIV id=d a1=1 a2=2 a3=3"));
  EXPECT_TRUE(outer.ends_with(" a999=999>x</DIV>"));
}

// gumbo re-opens every formatting element left open in each new paragraph,
// so these pages, within every markup limit, become millions of elements:
// 61 KB needed 3 GB to parse, and 117 KB more memory than a machine might
// have (gumbo then crashed on a null allocation).
TEST(HostilePage, ReopenedFormattingElementsPastTheMemoryBudgetAreRefused) {
  std::string open_bold;
  for (int i = 0; i < 2000; ++i) {
    open_bold += "<b id=" + std::to_string(i) + ">";
  }
  for (const std::size_t paragraphs : {5'000, 12'000}) {
    const ParseOutcome outcome =
        ParseHtml("<p>" + open_bold + "</p>" + Repeat("<p>x</p>", paragraphs));
    EXPECT_FALSE(outcome.ok()) << paragraphs;
    EXPECT_TRUE(outcome.too_complex) << paragraphs;
    EXPECT_EQ(outcome.error, "page too complex: parsing needs more than 512 MiB") << paragraphs;
  }
  // A few paragraphs of the same stay within the budget, clones and all.
  const ParseOutcome few = ParseHtml("<p>" + open_bold + "</p>" + Repeat("<p>x</p>", 20));
  ASSERT_TRUE(few.ok()) << few.error;
  EXPECT_EQ(few.document->ElementCount(), 3 + 21 * 2001);
  PageElement* last_bold = few.document->ElementAt(few.document->ElementCount() - 1);
  EXPECT_EQ(last_bold->Read(ElementProperty::OuterHTML), "<B id=1999>x</B>");
}

TEST(HostilePage, InvalidUtf8AndNulBytes) {
  using namespace std::string_literals;
  const std::string markup =
      "<p id=a title=\"t\0u\xFF\">x\0y\xC3</p><b\xFF\x80 class=\xE6>z</b>"
      "<script>s\0t</script><!--c\0d-->"s;
  const ParseOutcome outcome = ParseHtml(markup);
  ASSERT_TRUE(outcome.ok()) << outcome.error;
  HtmlDocument& document = *outcome.document;
  for (long i = 0; i < document.ElementCount(); ++i) {
    for (const ElementProperty property :
         {ElementProperty::Id, ElementProperty::ClassName, ElementProperty::Title,
          ElementProperty::TagName, ElementProperty::InnerText, ElementProperty::OuterText,
          ElementProperty::InnerHTML, ElementProperty::OuterHTML}) {
      const std::string text = document.ElementAt(i)->Read(property);
      EXPECT_TRUE(IsValidUtf8(text)) << i << " " << PropertyName(property);
    }
  }
  // As the HTML standard has it: NUL in body text is dropped, elsewhere it
  // becomes U+FFFD; invalid bytes become U+FFFD.
  PageElement* p = document.ElementAt(3);
  EXPECT_EQ(p->Read(ElementProperty::Title), "t\xEF\xBF\xBDu\xEF\xBF\xBD");
  EXPECT_EQ(p->Read(ElementProperty::InnerText), "xy\xEF\xBF\xBD");
  EXPECT_EQ(document.ElementAt(4)->Read(ElementProperty::TagName), "B\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(HostilePage, SixtyFourMegabytePageIsRefusedBeforeParsing) {
  const std::string huge(std::size_t{64} << 20, 'x');
  const std::string expected = "page too large: 67108864 bytes (limit 33554432)";
  EXPECT_EQ(ParseHtml(huge).error, expected);
  EXPECT_EQ(ParseHtmlBytes(huge, "gbk").error, expected);
}

}  // namespace
}  // namespace vexel::html
