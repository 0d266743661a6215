// Finding the chapters a comic's page lists, by a general rule rather than
// the site's layout: the chapter list is the largest group of links on the
// page's own host whose addresses share one shape.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "download/address_resolver.h"
#include "query/page_document.h"

namespace vexel::download {

struct ChapterLink {
  std::string address;  // absolute
  std::string title;    // the link's text, trimmed, inner white space collapsed
  // The comic page that listed it, when it came from a list; empty for a
  // chapter address given as such.
  std::string comic = {};
};

// The chapter list of `document`, whose address is `page_address`:
//  1. the A elements with an href, resolved against the page address;
//  2. of those, the http(s) links on the page's host;
//  3. grouped by the shape of path plus query, every run of ASCII digits
//     standing for one placeholder;
//  4. the largest group with at least 2 distinct addresses; on a tie, the
//     group whose first link comes first in the document;
//  5. each address once, in the order of its first link; addresses that
//     differ only in their fragment are one;
//  6. titled by the text of that link, with `page_address` as its comic.
// Empty when no group qualifies (or nothing is loaded).
std::vector<ChapterLink> FindChapterList(PageDocument* document, const std::string& page_address,
                                         const AddressResolver& resolver);

// The page's <title>, trimmed, its white space collapsed, as a chapter's
// link text is: a followed comic's title. Empty without one.
std::string PageTitle(PageDocument* document);

// The 1-based positions that `ranges` chooses from a list of `count`:
// "1-5,8,10-" (an open end runs to the last). Positions past the list are
// dropped; each position is taken once, in list order. Nothing when the text
// is not a list of ranges.
std::optional<std::vector<std::size_t>> ParseChapterRanges(std::string_view ranges,
                                                           std::size_t count);

}  // namespace vexel::download
