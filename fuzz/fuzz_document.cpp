// Page bytes through the whole document path: charset decoding, the markup
// limits, gumbo, the tree builder, and every property of the elements read
// back. A second mode drives TreeBuilder with arbitrary event sequences, the
// shapes a live page's snapshot may have that no parser output has (void
// elements with children, rows outside tables, text at the top level).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "html/charset_decoder.h"
#include "html/html_parser.h"
#include "html/tree_builder.h"

namespace {

using vexel::ElementProperty;
using vexel::PageElement;
using vexel::html::HtmlDocument;

constexpr ElementProperty kProperties[] = {
    ElementProperty::Id,        ElementProperty::ClassName, ElementProperty::Title,
    ElementProperty::TagName,   ElementProperty::InnerText, ElementProperty::OuterText,
    ElementProperty::InnerHTML, ElementProperty::OuterHTML,
};

void Check(bool condition) {
  if (!condition) {
    __builtin_trap();
  }
}

// Reads every property of some elements (the first ones, the last ones, and
// a spread in between, so that huge documents stay quick) and acts on them.
void Exercise(HtmlDocument& document, bool expect_valid_utf8) {
  const long count = document.ElementCount();
  std::vector<long> picks;
  for (long i = 0; i < count && i < 48; ++i) {
    picks.push_back(i);
  }
  for (long i = 48; i < count; i += 1 + count / 16) {
    picks.push_back(i);
  }
  if (count > 0) {
    picks.push_back(count - 1);
  }
  std::string text;
  for (const long index : picks) {
    PageElement* element = document.ElementAt(index);
    Check(element != nullptr);
    for (const ElementProperty property : kProperties) {
      element->ReadProperty(property, text);
      if (expect_valid_utf8) {
        Check(vexel::html::IsValidUtf8(text));
      }
    }
    std::string outer;
    element->ReadProperty(ElementProperty::OuterHTML, outer);
    element->ReadProperty(ElementProperty::TagName, text);
    Check(outer.size() > text.size() && outer[0] == '<' &&
          outer.compare(1, text.size(), text) == 0);
  }
  if (count > 0) {
    PageElement* element = document.ElementAt(count / 2);
    element->SetValue("v\"&<x>");
    element->SetSelectedIndex(1);
    element->SetSelectedIndex(-1);
    element->Click();
    element->ReadProperty(ElementProperty::OuterHTML, text);
  }
  Check(document.ElementAt(-1) == nullptr && document.ElementAt(count) == nullptr);
}

void ParsePage(std::string_view input) {
  constexpr std::string_view kLabels[] = {"",         "gbk",    "big5",         "shift_jis",
                                          "euc-kr",   "utf-8",  "windows-1252", "utf-16le",
                                          "utf-16be", "euc-jp", "x-unknown"};
  const std::string_view label = kLabels[static_cast<unsigned char>(input[0]) % std::size(kLabels)];
  input.remove_prefix(1);
  const std::string decoded = vexel::html::DecodeToUtf8(input, label);
  Check(vexel::html::IsValidUtf8(decoded));
  vexel::html::ParseOutcome parsed = vexel::html::ParseHtml(decoded, "fuzz");
  Check(parsed.ok() != !parsed.error.empty());
  if (parsed.ok()) {
    Exercise(*parsed.document, true);
  }
}

// Each byte is an event; names and texts come from the bytes that follow.
void BuildTree(std::string_view input) {
  constexpr std::string_view kTags[] = {
      "div", "p",     "br",   "table",  "tr",       "td",      "pre",     "select",   "option",
      "img", "input", "span", "script", "template", "details", "summary", "textarea", "x-y"};
  constexpr std::string_view kNames[] = {"class", "id", "hidden", "style", "type", "open", "src"};
  constexpr std::string_view kValues[] = {"",         "display:none",      "hidden",        "a b",
                                          "ImgComic", "display:table-row", "display:block", "x\"&"};
  vexel::html::TreeBuilder builder;
  std::size_t pos = 1;
  const auto next = [&]() -> unsigned {
    return pos < input.size() ? static_cast<unsigned char>(input[pos++]) : 0U;
  };
  for (int events = 0; pos < input.size() && events < 4096; ++events) {
    const unsigned op = next();
    switch (op % 5) {
      case 0:
      case 1: {
        std::vector<vexel::html::HtmlAttributeView> attributes;
        const unsigned tag = next();
        for (unsigned n = next() % 4; n > 0; --n) {
          attributes.push_back(
              {kNames[next() % std::size(kNames)], kValues[next() % std::size(kValues)]});
        }
        builder.OpenElementFrom(kTags[tag % std::size(kTags)], attributes, (op & 0x80U) == 0);
        break;
      }
      case 2:
        builder.CloseElement();
        break;
      case 3: {
        const std::size_t length = next() % 16;
        builder.AddText(input.substr(std::min(pos, input.size()), length));
        pos += length;
        break;
      }
      default:
        builder.AddComment(input.substr(std::min(pos, input.size()), next() % 8));
        break;
    }
  }
  const auto document = builder.Finish("fuzz");
  Exercise(*document, false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if ((data[0] & 0xC0U) == 0xC0U) {
    BuildTree(input);
  } else {
    ParsePage(input);
  }
  return 0;
}
