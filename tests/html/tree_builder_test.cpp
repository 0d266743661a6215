// Documents built straight through TreeBuilder, as the browser view's
// snapshot builds them, must read exactly like parsed ones.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "html/html_parser.h"
#include "html/tree_builder.h"

namespace vexel::html {
namespace {

std::string ReadAt(HtmlDocument& document, long index, ElementProperty property) {
  PageElement* element = document.ElementAt(index);
  return element != nullptr ? element->Read(property) : "<none>";
}

TEST(TreeBuilder, BuildsTheSameDocumentAsTheParser) {
  const std::string markup =
      "<html><head><title>T</title></head><body><div class=\"stauts_left\">您正在看："
      "<a href=\"/c/\">ABC</a> &gt;共3页</div><!--x--><img class=\"ImgComic\" "
      "src=\"p/1.jpg\"></body></html>";
  ParseOutcome parsed = ParseHtml(markup);
  ASSERT_TRUE(parsed.ok()) << parsed.error;

  TreeBuilder builder;
  builder.OpenElement("html", {});
  builder.OpenElement("head", {});
  builder.OpenElement("title", {});
  builder.AddText("T");
  builder.CloseElement();
  builder.CloseElement();
  builder.OpenElement("body", {});
  builder.OpenElement("div", {{"class", "stauts_left"}});
  builder.AddText("您正在看：");
  builder.OpenElement("a", {{"href", "/c/"}});
  builder.AddText("ABC");
  builder.CloseElement();
  builder.AddText(" >共3页");
  builder.CloseElement();
  builder.AddComment("x");
  const HtmlAttributeView image[] = {{"class", "ImgComic"}, {"src", "p/1.jpg"}};
  builder.OpenElementFrom("img", image);
  builder.CloseElement();
  const auto built = builder.Finish("http://vexel.example/c/1.html");

  ASSERT_EQ(built->ElementCount(), parsed.document->ElementCount());
  for (long i = 0; i < built->ElementCount(); ++i) {
    for (const ElementProperty property :
         {ElementProperty::TagName, ElementProperty::ClassName, ElementProperty::InnerText,
          ElementProperty::OuterHTML}) {
      EXPECT_EQ(ReadAt(*built, i, property), ReadAt(*parsed.document, i, property))
          << "element " << i << " " << PropertyName(property);
    }
  }
  EXPECT_EQ(built->Url(), "http://vexel.example/c/1.html");
}

TEST(TreeBuilder, ElementsTheSourceReportsUnrenderedGiveNoText) {
  TreeBuilder builder;
  builder.OpenElement("div", {});
  builder.OpenElement("span", {{"class", "ad"}}, /*rendered=*/false);
  builder.AddText("hidden by a style sheet");
  builder.OpenElement("b", {});
  builder.AddText(" and below it");
  builder.CloseElement();
  builder.CloseElement();
  builder.AddText("shown");
  builder.CloseElement();
  const auto document = builder.Finish({});
  EXPECT_EQ(ReadAt(*document, 0, ElementProperty::InnerText), "shown");
  // The hidden element itself reads as its text content, as in a browser.
  EXPECT_EQ(ReadAt(*document, 1, ElementProperty::InnerText),
            "hidden by a style sheet and below it");
  EXPECT_EQ(ReadAt(*document, 0, ElementProperty::OuterHTML),
            "<DIV><SPAN class=ad>hidden by a style sheet<B> and below it</B></SPAN>shown</DIV>");
}

TEST(TreeBuilder, UnbalancedEventsAreClosedAndTheBuilderStartsAfresh) {
  TreeBuilder builder;
  builder.CloseElement();  // nothing open: ignored
  builder.AddText("top-level text");
  builder.OpenElement("ul", {});
  builder.OpenElement("li", {});
  builder.AddText("one");
  EXPECT_EQ(builder.Depth(), 2U);
  const auto first = builder.Finish("first");
  EXPECT_EQ(builder.Depth(), 0U);
  EXPECT_EQ(first->ElementCount(), 2);
  EXPECT_EQ(ReadAt(*first, 0, ElementProperty::OuterHTML), "<UL><LI>one</LI></UL>");

  builder.OpenElement("P", {{"ID", "x"}});  // names are kept as the source gives them
  builder.AddText("again");
  const auto second = builder.Finish("second");
  EXPECT_EQ(second->ElementCount(), 1);
  EXPECT_EQ(ReadAt(*second, 0, ElementProperty::OuterHTML), "<P ID=x>again</P>");
  EXPECT_EQ(ReadAt(*second, 0, ElementProperty::InnerText), "again");
  EXPECT_EQ(second->Url(), "second");
  EXPECT_EQ(ReadAt(*first, 0, ElementProperty::InnerText), "one");  // untouched by the reuse
}

TEST(TreeBuilder, TextMayHoldNulAndAnyBytes) {
  TreeBuilder builder;
  builder.OpenElement("div", {{"title", std::string("a\0b", 3)}});
  builder.AddText(std::string_view("x\0y", 3));
  const auto document = builder.Finish({});
  EXPECT_EQ(ReadAt(*document, 0, ElementProperty::Title), std::string("a\0b", 3));
  EXPECT_EQ(ReadAt(*document, 0, ElementProperty::InnerText), std::string("x\0y", 3));
}

}  // namespace
}  // namespace vexel::html
