// Query texts against parsed pages: the input is a query, a newline, then
// markup. Also runs the site's two queries over the same page.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "html/html_parser.h"
#include "query/element_query.h"

namespace {

void Check(bool condition) {
  if (!condition) {
    __builtin_trap();
  }
}

void Evaluate(vexel::ElementQuery& query, std::string text) {
  std::string out = "stale";
  const vexel::QueryResult result = query.Evaluate(std::move(text), out);
  // A built document is never busy, and only a match may leave text.
  Check(result == vexel::QueryMatched || result == vexel::QueryNoMatch);
  Check(result == vexel::QueryMatched || out.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t newline = input.find('\n');
  const std::string_view query_text = input.substr(0, newline);
  const std::string_view markup =
      newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);
  vexel::html::ParseOutcome parsed = vexel::html::ParseHtml(markup, "fuzz");
  if (!parsed.ok()) {
    return 0;
  }
  vexel::ElementQuery query(parsed.document.get());
  Evaluate(query, std::string(query_text));
  Evaluate(query, "innerText element that className = stauts_left AND innerText have 您正在看：");
  Evaluate(query,
           "outerHTML element that className = ImgComic AND outerHTML have IMG class=ImgComic");
  return 0;
}
