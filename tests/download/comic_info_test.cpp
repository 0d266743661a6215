#include "download/comic_info.h"

#include <expat.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "download/chapter_plan.h"

namespace vexel::download {
namespace {

// The text of each element of `xml`, as a strict XML parser reads it; nothing
// when the parser refuses the document.
std::optional<std::map<std::string, std::string>> ParsedElements(const std::string& xml) {
  struct Reading {
    std::map<std::string, std::string> texts;
    std::string current;
  } reading;
  const std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(
      XML_ParserCreate(nullptr), &XML_ParserFree);
  XML_SetUserData(parser.get(), &reading);
  XML_SetElementHandler(
      parser.get(),
      [](void* data, const XML_Char* name, const XML_Char**) {
        static_cast<Reading*>(data)->current = name;
      },
      [](void* data, const XML_Char*) { static_cast<Reading*>(data)->current.clear(); });
  XML_SetCharacterDataHandler(parser.get(), [](void* data, const XML_Char* text, int length) {
    auto& read = *static_cast<Reading*>(data);
    read.texts[read.current].append(text, static_cast<std::size_t>(length));
  });
  if (XML_Parse(parser.get(), xml.data(), static_cast<int>(xml.size()), XML_TRUE) !=
      XML_STATUS_OK) {
    ADD_FAILURE() << XML_ErrorString(XML_GetErrorCode(parser.get())) << " in\n" << xml;
    return std::nullopt;
  }
  return reading.texts;
}

TEST(ComicInfoTest, EveryCharacterXmlForbidsBecomesTheReplacementCharacter) {
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD
  // What a page's numeric references decode to, as the chapter line is read.
  const std::string series = DecodeCharacterReferences("A&#xFFFE;B&#xFFFF;C&#1;D");
  const std::string series_read = "A" + r + "B" + r + "C" + r + "D";
  struct Case {
    std::string title;
    std::string read;
  };
  const Case cases[] = {
      {"X\x01Y\x0BZ\x1F", "X" + r + "Y" + r + "Z" + r},
      {"surrogate \xED\xA0\x80!", "surrogate " + r + "!"},
      {"bad \xFF\xC0\xAF\xBF byte", "bad " + r + r + r + " byte"},
      {"cut \xE4\xB8", "cut " + r + r},
      {"kept\ttab\nline 😀 \xEF\xBF\xBD 第5话\x7F", "kept\ttab\nline 😀 \xEF\xBF\xBD 第5话\x7F"},
  };
  for (const Case& c : cases) {
    std::string shown = series;
    shown.append(" > ").append(c.title);
    const std::string xml = ComicInfoXml(ComicInfoFor(shown, 2, "http://x/\x02"));
    const auto elements = ParsedElements(xml);
    ASSERT_TRUE(elements) << c.title;
    EXPECT_EQ(elements->at("Title"), c.read);
    EXPECT_EQ(elements->at("Series"), series_read);
    EXPECT_EQ(elements->at("Web"), "http://x/" + r);
    EXPECT_EQ(elements->at("PageCount"), "2");
  }
}

}  // namespace
}  // namespace vexel::download
