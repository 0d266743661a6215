// What the HTML code needs to know about a tag name, in one table: for the
// in-memory document, its default display (from the HTML standard's rendering
// section) and how it is serialised; for the markup scan before parsing, what
// the tree construction rules do with it. Unknown names are ordinary inline
// elements with no role in the scan.
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

// What a tag name does to the markup scan's estimated stack of open elements
// (markup_limits.cpp).
namespace parse {
enum Role : std::uint32_t {
  kNotCounted = 1U << 0,  // html, head, body, frameset: at most one each, at the root
  kVoid = 1U << 1,
  kRaw = 1U << 2,        // content is text up to the matching end tag
  kPlaintext = 1U << 3,  // the rest of the page is text
  kForeign = 1U << 4,    // svg, math: "<x/>" closes itself inside
  kClosesP = 1U << 5,    // closes an open p in button scope
  kSpecial = 1U << 6,    // the standard's "special" category
  kScopeBoundary = 1U << 7,
  kTableBoundary = 1U << 8,  // table, template: the table scope
  kCell = 1U << 9,
  kRow = 1U << 10,
  kSection = 1U << 11,  // tbody, thead, tfoot
  kListItem = 1U << 12,
  kDefinition = 1U << 13,     // dd, dt
  kLiTransparent = 1U << 14,  // address, div, p: a list item search passes them
  kOption = 1U << 15,
  kOptgroup = 1U << 16,
  kHeading = 1U << 17,
  kReopens = 1U << 18,  // a, nobr, button, select: a new one closes the open one in scope
  kForm = 1U << 19,     // a form inside an open form is ignored
  kTable = 1U << 20,
  kButton = 1U << 21,  // bounds the button scope in which a p is closed
};
}  // namespace parse

struct TagTraits {
  Display display = Display::Inline;
  std::uint32_t flags = 0;  // TagFlag
  std::uint32_t roles = 0;  // parse::Role
};

// Traits of the tag `name`, compared without regard to ASCII letter case.
TagTraits TraitsOf(std::string_view name);

// The display named by an inline style attribute ("color:red; display: none"),
// if the declarations set one; the last declaration wins, as in CSS.
bool DisplayFromStyle(std::string_view style, Display& display);

}  // namespace vexel::html::tags
