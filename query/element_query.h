// The element query language.
//
// A query such as
//   "innerText element that className = stauts_left AND innerText have 您正在看："
// names a head (what to do with the selected element, most often a property to
// read) and up to ten conditions over element properties. Evaluate walks every
// element of the document in order, selects the (N+1)-th element that passes
// all conditions and applies the head to it.
#pragma once

#include <string>

#include "query/page_document.h"
#include "query/parsed_query.h"

namespace vexel {

// The numeric values are part of the interface: callers compare with 1.
enum QueryResult : int {
  QueryBusy = 0,     // the page is still loading; nothing was evaluated
  QueryMatched = 1,  // an element was selected and the head applied to it
  QueryNoMatch = 2,  // no element selected, or an action head found it unsuitable
};

class ElementQuery {
 public:
  // `document` is not owned and may be null (nothing loaded): every call then
  // ends with QueryNoMatch and an empty out, reading nothing.
  explicit ElementQuery(PageDocument* document) : document_(document) {}

  // Empties `out` first, then parses `query` afresh and evaluates it. Only a
  // read head writes `out`, with the property text exactly as delivered.
  QueryResult Evaluate(std::string query, std::string& out) const;

 private:
  PageDocument* document_;
};

}  // namespace vexel
