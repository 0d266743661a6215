// What the in-memory document needs to know about an HTML tag name: its
// default display (from the HTML standard's rendering section) and how it is
// serialised. Unknown names are ordinary inline elements.
#pragma once

#include <cstdint>
#include <string_view>

namespace vexel::html::tags {

// Only the display kinds that change the rendered text.
enum class Display : std::uint8_t {
  Inline = 0,
  Block = 1,  // block-level: one required line break before and after
  None = 2,   // no box: neither the element nor its content gives text
  Table = 3,  // block-level, and the box that table rows belong to
  TableRow = 4,
  TableCell = 5,
};

enum TagFlag : std::uint32_t {
  kVoid = 1U << 0,          // no end tag, no content
  kRawText = 1U << 1,       // text content is serialised without escapes
  kPreformatted = 1U << 2,  // white space of the content is kept
  kReplaced = 1U << 3,      // content is never rendered; the element is one inline unit
  kParagraph = 1U << 4,     // p: two required line breaks
  kLineBreak = 1U << 5,     // br
  kSelect = 1U << 6,
  kOptgroup = 1U << 7,
  kOption = 1U << 8,
  kTemplate = 1U << 9,
  kInput = 1U << 10,
  kDetails = 1U << 11,
  kSummary = 1U << 12,
  kDialog = 1U << 13,
};

struct TagTraits {
  Display display = Display::Inline;
  std::uint32_t flags = 0;
};

// Traits of the tag `name`, compared without regard to ASCII letter case.
TagTraits TraitsOf(std::string_view name);

// The display named by an inline style attribute ("color:red; display: none"),
// if the declarations set one; the last declaration wins, as in CSS.
bool DisplayFromStyle(std::string_view style, Display& display);

}  // namespace vexel::html::tags
