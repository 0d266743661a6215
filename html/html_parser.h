// Markup to HtmlDocument through gumbo, the HTML5 parser.
//
// gumbo 0.10.1 has no depth limit and its tree construction costs grow with
// the square of the nesting depth and of an element's attribute count (a page
// of 30,000 nested divs takes it most of a minute). So the markup is scanned
// before it is handed over, and pages beyond these limits are refused with
// an error instead of being parsed:
//   - 32 MiB of markup (after decoding to UTF-8);
//   - 1,000,000 start tags;
//   - 2,048 levels of open elements (estimated the way the parser closes them,
//     erring on the side of counting too many);
//   - 1,000 attributes on one element.
// gumbo's output lives in an allocator of our own that frees it in one sweep,
// because gumbo's own destructor recurses once per level of the tree. That
// allocator also bounds the parse's memory, because the markup alone cannot
// tell what the parse will cost: gumbo re-opens every formatting element
// still open (<b>, <font>, ...) in each new block, so a 61 KB page of 2,000
// unclosed <b> tags and 5,000 paragraphs becomes ten million elements. A
// parse that would need more than 512 MiB is abandoned and the page refused
// as too complex.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "html/html_document.h"

namespace vexel::html {

inline constexpr std::size_t kMaxMarkupBytes = std::size_t{32} << 20;
inline constexpr std::size_t kMaxStartTags = 1'000'000;
inline constexpr std::size_t kMaxNestingDepth = 2048;
inline constexpr std::size_t kMaxAttributesPerElement = 1'000;
inline constexpr std::size_t kMaxParseMemoryBytes = std::size_t{512} << 20;

struct ParseOutcome {
  std::unique_ptr<HtmlDocument> document;  // null on error
  std::string error;                       // one line, in English
  // The page was refused because parsing it would need more than
  // kMaxParseMemoryBytes, as opposed to being too large, too deep or broken.
  bool too_complex = false;
  bool ok() const { return document != nullptr; }
};

// `utf8_markup` is read as UTF-8; invalid bytes become U+FFFD.
ParseOutcome ParseHtml(std::string_view utf8_markup, std::string url = {});

// Decodes with DecodeToUtf8 (BOM, `declared_charset`, <meta>, UTF-8), then
// parses. Input over kMaxMarkupBytes is refused before decoding.
ParseOutcome ParseHtmlBytes(std::string_view bytes, std::string_view declared_charset,
                            std::string url = {});

}  // namespace vexel::html
