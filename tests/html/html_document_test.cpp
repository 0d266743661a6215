// The in-memory document as the queries see it: the legacy markup rendering,
// innerText by the rendered-text rules, the element list and the write side.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "html/html_document.h"
#include "html/html_parser.h"
#include "query/element_query.h"

namespace vexel::html {
namespace {

std::unique_ptr<HtmlDocument> Parse(std::string_view markup) {
  ParseOutcome outcome = ParseHtml(markup, "http://vexel.example/page.html");
  EXPECT_TRUE(outcome.ok()) << outcome.error;
  return std::move(outcome.document);
}

// The first element whose id attribute is `id`; fails the test when none.
PageElement* ById(HtmlDocument& document, std::string_view id) {
  for (long i = 0; i < document.ElementCount(); ++i) {
    PageElement* element = document.ElementAt(i);
    if (element->Read(ElementProperty::Id) == id) {
      return element;
    }
  }
  ADD_FAILURE() << "no element with id " << id;
  static std::unique_ptr<HtmlDocument> empty = Parse("<i id=missing></i>");
  return empty->ElementAt(3);
}

std::string Read(std::string_view markup, std::string_view id, ElementProperty property) {
  const auto document = Parse(markup);
  return ById(*document, id)->Read(property);
}

std::string OuterHtml(std::string_view markup, std::string_view id) {
  return Read(markup, id, ElementProperty::OuterHTML);
}
std::string InnerHtml(std::string_view markup, std::string_view id) {
  return Read(markup, id, ElementProperty::InnerHTML);
}
std::string InnerText(std::string_view markup, std::string_view id) {
  return Read(markup, id, ElementProperty::InnerText);
}

// ---------------------------------------------------------------------------
// Markup rendering

TEST(LegacyMarkup, PageImageTagReadsAsTheImageQueryExpects) {
  const auto document = Parse(R"(<p><img class="ImgComic" src="pics/1.jpg"></p>)");
  EXPECT_EQ(document->ElementAt(4)->Read(ElementProperty::OuterHTML),
            R"(<IMG class=ImgComic src="pics/1.jpg">)");
}

TEST(LegacyMarkup, ValuesAreBareOnlyWhenNothingInThemNeedsQuotes) {
  const std::string markup =
      "<span id=s a=\"plain\" b=\"two words\" c=\"\" d=\"x=y\" e='say \"hi\"' f=\"a&amp;b\" "
      "g=\"&lt;x&gt;\" h=\"it's\" i=\"back`tick\" j=\"tab\there\" k=\"\xE7\xAC\xAC"
      "5\"></span>";
  EXPECT_EQ(OuterHtml(markup, "s"),
            "<SPAN id=s a=plain b=\"two words\" c=\"\" d=\"x=y\" e=\"say &quot;hi&quot;\" "
            "f=\"a&amp;b\" g=\"<x>\" h=\"it's\" i=\"back`tick\" j=\"tab\there\" "
            "k=\xE7\xAC\xAC"
            "5></SPAN>");
}

TEST(LegacyMarkup, AddressesAreAlwaysQuotedAndAttributesKeepSourceOrder) {
  EXPECT_EQ(OuterHtml("<a id=a href=next.html?p=2&amp;q=3 class=nav>n</a>", "a"),
            R"(<A id=a href="next.html?p=2&amp;q=3" class=nav>n</A>)");
  EXPECT_EQ(OuterHtml(R"(<img id=i src=1.jpg class="ImgComic" alt=x>)", "i"),
            R"(<IMG id=i src="1.jpg" class=ImgComic alt=x>)");
  EXPECT_EQ(OuterHtml(R"(<img id=i SRC='say"x".jpg'>)", "i"),
            R"(<IMG id=i src="say&quot;x&quot;.jpg">)");
}

TEST(LegacyMarkup, VoidElementsHaveNoEndTag) {
  EXPECT_EQ(
      InnerHtml("<div id=d>a<br>b<img src=x.png><input type=text value=1><wbr><hr></div>", "d"),
      R"(a<BR>b<IMG src="x.png"><INPUT type=text value=1><WBR><HR>)");
  EXPECT_EQ(InnerHtml("<br id=b>", "b"), "");
}

TEST(LegacyMarkup, TextIsEscapedExceptInScriptAndStyle) {
  EXPECT_EQ(InnerHtml("<div id=d>1 &lt; 2 &amp;&amp; 3 &gt; 2 \"q\" 'r'</div>", "d"),
            "1 &lt; 2 &amp;&amp; 3 &gt; 2 \"q\" 'r'");
  EXPECT_EQ(OuterHtml("<script id=s>if (a < b && c > d) {}</script>", "s"),
            "<SCRIPT id=s>if (a < b && c > d) {}</SCRIPT>");
  EXPECT_EQ(InnerHtml("<style id=s>a > b { content: \"&\" }</style>", "s"),
            "a > b { content: \"&\" }");
}

TEST(LegacyMarkup, NestingCommentsAndCapitals) {
  const std::string markup =
      "<div id=d class=box><span>x<!-- note --></span><ul><li>1<li>2</ul>tail</div>";
  EXPECT_EQ(
      OuterHtml(markup, "d"),
      "<DIV id=d class=box><SPAN>x<!-- note --></SPAN><UL><LI>1</LI><LI>2</LI></UL>tail</DIV>");
  EXPECT_EQ(InnerHtml(markup, "d"), "<SPAN>x<!-- note --></SPAN><UL><LI>1</LI><LI>2</LI></UL>tail");
}

TEST(LegacyMarkup, UnknownAndSvgElements) {
  EXPECT_EQ(OuterHtml("<My-Widget id=w data-x=1>w</My-Widget>", "w"),
            "<MY-WIDGET id=w data-x=1>w</MY-WIDGET>");
  const auto document = Parse(R"(<svg id=g viewBox="0 0 1 1"><clipPath id=c></clipPath></svg>)");
  EXPECT_EQ(ById(*document, "c")->Read(ElementProperty::TagName), "CLIPPATH");
  EXPECT_EQ(ById(*document, "g")->Read(ElementProperty::OuterHTML),
            R"(<SVG id=g viewBox="0 0 1 1"><CLIPPATH id=c></CLIPPATH></SVG>)");
}

// ---------------------------------------------------------------------------
// Attribute properties and the element list

TEST(ElementList, SimplePropertiesAreTheAttributes) {
  const auto document = Parse(R"(<p id=p class="  ImgComic  " title="A title">x</p><b>y</b>)");
  PageElement* p = ById(*document, "p");
  EXPECT_EQ(p->Read(ElementProperty::ClassName), "  ImgComic  ");
  EXPECT_EQ(p->Read(ElementProperty::Title), "A title");
  EXPECT_EQ(p->Read(ElementProperty::TagName), "P");
  PageElement* b = document->ElementAt(4);
  EXPECT_EQ(b->Read(ElementProperty::TagName), "B");
  EXPECT_EQ(b->Read(ElementProperty::Id), "");
  EXPECT_EQ(b->Read(ElementProperty::ClassName), "");
  EXPECT_EQ(b->Read(ElementProperty::Title), "");
}

TEST(ElementList, EveryElementInStartTagOrderWithoutTemplateContent) {
  const auto document =
      Parse("<title>t</title><p><b>1</b><i>2</i></p><template id=t><span>x</span></template><hr>");
  std::string tags;
  for (long i = 0; i < document->ElementCount(); ++i) {
    tags += document->ElementAt(i)->Read(ElementProperty::TagName) + " ";
  }
  EXPECT_EQ(tags, "HTML HEAD TITLE BODY P B I TEMPLATE HR ");
  EXPECT_EQ(document->ElementAt(-1), nullptr);
  EXPECT_EQ(document->ElementAt(document->ElementCount()), nullptr);
  EXPECT_FALSE(document->IsBusy());
  EXPECT_EQ(document->Url(), "http://vexel.example/page.html");
  EXPECT_EQ(ById(*document, "t")->Read(ElementProperty::InnerHTML), "<SPAN>x</SPAN>");
}

// ---------------------------------------------------------------------------
// innerText

TEST(InnerText, ChapterLineOfTheSite) {
  EXPECT_EQ(InnerText("<div id=c class=\"stauts_left\">您正在看：<a href=\"..\">ABC</a> &gt; "
                      "<a>第5话</a> &gt;共12页</div>",
                      "c"),
            "您正在看：ABC > 第5话 >共12页");
  EXPECT_EQ(InnerText("<div id=c class=\"stauts_left\">\n      您正在看：<a href=\"/comic/1/\">ABC"
                      "</a> &gt; <a\n href=\"/comic/1/5.html\">第5话</a> &gt;共12页\n    </div>",
                      "c"),
            "您正在看：ABC > 第5话 >共12页");
}

TEST(InnerText, WhiteSpaceCollapsesAcrossElements) {
  EXPECT_EQ(InnerText("<div id=d>  a   b\n\t c <span> d </span> e  </div>", "d"), "a b c d e");
  EXPECT_EQ(InnerText("<div id=d>a&nbsp;&nbsp;b</div>", "d"),
            "a\xC2\xA0\xC2\xA0"
            "b");
}

TEST(InnerText, BlocksParagraphsAndLineBreaks) {
  EXPECT_EQ(InnerText("<div id=d>a<div>b</div>c<p>d</p><p>e</p>f</div>", "d"),
            "a\nb\nc\n\nd\n\ne\n\nf");
  EXPECT_EQ(InnerText("<div id=d>a<br>b<br><br>c <br> d</div>", "d"), "a\nb\n\nc\nd");
  EXPECT_EQ(InnerText("<div id=d><div><p>only</p></div></div>", "d"), "only");
  EXPECT_EQ(InnerText("<div id=d>x<h1>T</h1><ul><li>1</li><li>2</li></ul>y</div>", "d"),
            "x\nT\n1\n2\ny");
}

TEST(InnerText, PreformattedTextKeepsItsWhiteSpace) {
  EXPECT_EQ(InnerText("<pre id=d>\n  a  b\n\tc <b> d </b></pre>", "d"), "  a  b\n\tc  d ");
}

TEST(InnerText, TableCellsAreTabSeparatedAndRowsLineSeparated) {
  EXPECT_EQ(InnerText("<table id=d><tr><td>a</td><td> b </td></tr>\n"
                      "<tr><th>c</th><td>d</td></tr></table>",
                      "d"),
            "a\tb\nc\td");
  EXPECT_EQ(InnerText("<div id=d>x<table><tr><td>1<td><table><tr><td>2<tr><td>3</table>"
                      "<tr><td>4</table>y</div>",
                      "d"),
            "x\n1\t\n2\n3\n\n4\ny");
}

TEST(InnerText, HiddenElementsGiveNothing) {
  EXPECT_EQ(InnerText("<div id=d>a<span hidden>b</span><span style=\"color:red; display : "
                      "none !important\">c</span><span style=\"display:none;display:inline\">d"
                      "</span><div hidden style=\"display:block\">e</div><input type=hidden "
                      "value=f style=\"display:inline\"></div>",
                      "d"),
            "ad\ne");
  EXPECT_EQ(InnerText("<div id=d>a<script>x()</script><style>p{}</style><template>t</template>"
                      "<noscript>n</noscript><dialog>g</dialog>b</div>",
                      "d"),
            "ab");
}

TEST(InnerText, ReplacedElementsShowNoContentButKeepTheirPlaceInTheLine) {
  EXPECT_EQ(InnerText("<div id=d>a<textarea>t</textarea><img alt=i>b <input value=v> c"
                      "<iframe>f</iframe><video>v</video></div>",
                      "d"),
            "ab  c");
}

TEST(InnerText, ElementWithoutBoxReadsAsItsTextContent) {
  EXPECT_EQ(InnerText("<span hidden id=h>x  <b>y</b><!--c--></span>", "h"), "x  y");
  EXPECT_EQ(InnerText("<script id=s>var a = 1;</script>", "s"), "var a = 1;");
  EXPECT_EQ(InnerText("<div style=display:none><p id=p>in  <i>hidden</i></p></div>", "p"),
            "in  hidden");
}

TEST(InnerText, ListsAndDetailsShowWhatABrowserShows) {
  const std::string markup =
      "<select id=s>junk<option>One</option><optgroup label=g><option>Two</option></optgroup>"
      "</select><details id=closed><summary>S</summary>body</details>"
      "<details id=open open><summary>S</summary>body</details>";
  EXPECT_EQ(InnerText(markup, "s"), "One\nTwo");
  EXPECT_EQ(InnerText(markup, "closed"), "S");
  EXPECT_EQ(InnerText(markup, "open"), "S\nbody");
}

TEST(InnerText, OuterTextReadsAsInnerText) {
  const std::string markup = "<div id=d>a<p>b</p> c</div>";
  EXPECT_EQ(Read(markup, "d", ElementProperty::OuterText), "a\n\nb\n\nc");
  EXPECT_EQ(Read(markup, "d", ElementProperty::InnerText), "a\n\nb\n\nc");
}

// ---------------------------------------------------------------------------
// Write side

TEST(WriteSide, SelectMovesTheSelectedOption) {
  auto document = Parse(
      "<select id=s><option value=1>A</option><option value=2 selected>B</option>"
      "<optgroup label=g><option value=3>C</option></optgroup></select><div id=d></div>");
  PageElement* list = ById(*document, "s");
  EXPECT_EQ(list->SetSelectedIndex(2), ActionDone);
  const std::string moved =
      "<SELECT id=s><OPTION value=1>A</OPTION><OPTION value=2>B</OPTION><OPTGROUP label=g>"
      "<OPTION value=3 selected=\"\">C</OPTION></OPTGROUP></SELECT>";
  EXPECT_EQ(list->Read(ElementProperty::OuterHTML), moved);
  EXPECT_EQ(list->SetSelectedIndex(3), ActionFailed);
  EXPECT_EQ(list->SetSelectedIndex(-1), ActionFailed);
  EXPECT_EQ(list->Read(ElementProperty::OuterHTML), moved);
  EXPECT_EQ(list->SetSelectedIndex(0), ActionDone);
  EXPECT_EQ(list->Read(ElementProperty::InnerHTML),
            "<OPTION value=1 selected=\"\">A</OPTION><OPTION value=2>B</OPTION><OPTGROUP label=g>"
            "<OPTION value=3>C</OPTION></OPTGROUP>");
  EXPECT_EQ(ById(*document, "d")->SetSelectedIndex(0), ActionNotApplicable);
}

TEST(WriteSide, SetValueWritesTheValueAttributeOfInputsOnly) {
  auto document = Parse(
      "<input id=i type=text value=old name=q><input id=j><textarea id=t></textarea><p id=p>");
  EXPECT_EQ(ById(*document, "i")->SetValue("new & \"x\""), ActionDone);
  EXPECT_EQ(ById(*document, "i")->Read(ElementProperty::OuterHTML),
            "<INPUT id=i type=text value=\"new &amp; &quot;x&quot;\" name=q>");
  EXPECT_EQ(ById(*document, "j")->SetValue("v"), ActionDone);
  EXPECT_EQ(ById(*document, "j")->Read(ElementProperty::OuterHTML), "<INPUT id=j value=v>");
  EXPECT_EQ(ById(*document, "j")->SetValue(""), ActionDone);
  EXPECT_EQ(ById(*document, "j")->Read(ElementProperty::OuterHTML), "<INPUT id=j value=\"\">");
  EXPECT_EQ(ById(*document, "t")->SetValue("v"), ActionNotApplicable);
  EXPECT_EQ(ById(*document, "p")->SetValue("v"), ActionNotApplicable);
  EXPECT_EQ(ById(*document, "p")->Click(), ActionDone);
}

TEST(WriteSide, ActionHeadsOfTheQueryLanguage) {
  auto document = Parse("<input id=q><select id=s><option>a<option>b</select>");
  ElementQuery query(document.get());
  std::string out = "stale";
  EXPECT_EQ(query.Evaluate("set element = [ x ] that id = q", out), QueryMatched);
  EXPECT_EQ(out, "");
  EXPECT_EQ(query.Evaluate("outerHTML element that id = q", out), QueryMatched);
  EXPECT_EQ(out, "<INPUT id=q value=\" x \">");
  EXPECT_EQ(query.Evaluate("select 1 element that id = s", out), QueryMatched);
  EXPECT_EQ(query.Evaluate("innerHTML element that id = s", out), QueryMatched);
  EXPECT_EQ(out, "<OPTION>a</OPTION><OPTION selected=\"\">b</OPTION>");
  EXPECT_EQ(query.Evaluate("select 1 element that id = q", out), QueryNoMatch);
  // A click has nothing to start in a document without scripts.
  EXPECT_EQ(query.Evaluate("click element that tagName = SELECT", out), QueryMatched);
  EXPECT_EQ(query.Evaluate("innerHTML element that id = s", out), QueryMatched);
  EXPECT_EQ(out, "<OPTION>a</OPTION><OPTION selected=\"\">b</OPTION>");
}

}  // namespace
}  // namespace vexel::html
