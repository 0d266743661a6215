// A quick scan of markup before it goes to the HTML parser, to refuse pages
// that would make the parser's work explode: too many start tags, too many
// attributes on one element, or elements nested too deeply.
//
// The nesting depth is estimated with a simplified form of the HTML tree
// construction rules: end tags close elements in scope, and the start tags
// that close an open element (a new cell, row, list item, option, paragraph,
// link, ...) do so. Where the rules are simplified the estimate counts too
// many levels rather than too few, so a page refused here may in rare cases
// be one the parser would have nested less deeply, never the other way round
// for ordinary nesting.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vexel::html {

struct MarkupLimits {
  std::size_t max_start_tags = 0;
  std::size_t max_depth = 0;
  std::size_t max_attributes = 0;
};

struct MarkupCensus {
  std::size_t start_tags = 0;
  std::size_t max_depth = 0;       // deepest estimated nesting seen (up to the first refusal)
  std::size_t max_attributes = 0;  // most attributes on one start tag
  std::size_t attributes = 0;      // attributes on all start tags together
};

// Empty when `markup` is within `limits`; otherwise a one-line reason. The
// scan stops at the first limit passed. `census`, when given, receives the
// counts.
std::string CheckMarkupLimits(std::string_view markup, const MarkupLimits& limits,
                              MarkupCensus* census = nullptr);

}  // namespace vexel::html
