// vexel-dl query 'QUERY' SOURCE: evaluates one element query against a saved
// page or an address and prints exactly what the query hands back, for people
// who adapt the site's queries or find out why a page fails its analysis.
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "cli/commands.h"
#include "html/html_parser.h"
#include "net/page_loader.h"
#include "query/element_query.h"

namespace vexel::cli {
namespace {

constexpr int kExitMatched = 0;
constexpr int kExitNoMatch = 1;
constexpr int kExitError = 2;

constexpr std::string_view kHelp =
    "usage: vexel-dl query 'QUERY' SOURCE\n"
    "\n"
    "Evaluates QUERY against the page SOURCE (a file, - for standard input, or an\n"
    "http(s) address) and prints the query's output text exactly, with no newline\n"
    "added. Pages are decoded from their declared charset (GBK and others).\n"
    "\n"
    "A query reads 'HEAD that CONDITION AND CONDITION ...'. A condition is\n"
    "'PROPERTY OPERATOR OPERAND': PROPERTY is one of id, className, title, tagName,\n"
    "innerText, outerText, innerHTML, outerHTML; OPERATOR is = != have (contains) or\n"
    "no (does not contain). The first element in document order that meets every\n"
    "condition is selected ('element2' in the head takes the third). A head that\n"
    "begins with a property name prints that property of the selected element;\n"
    "'click element', 'select N' and 'set element = VALUE' act on the in-memory\n"
    "copy of the page and print nothing.\n"
    "\n"
    "Example:\n"
    "  vexel-dl query 'innerText element that className = stauts_left AND innerText "
    "have 您正在看：' page.html\n"
    "\n"
    "Exit status: 0 an element was selected, 1 none was, 2 the page could not be\n"
    "loaded or the arguments are wrong.\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "vexel-dl query: %s\n", message.c_str());
  return kExitError;
}

// Standard input, read up to one byte past the parser's limit so that an
// endless stream is refused rather than held.
bool ReadStandardInput(std::string& bytes) {
  char buffer[1 << 16];
  while (bytes.size() <= html::kMaxMarkupBytes) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, stdin);
    bytes.append(buffer, got);
    if (got < sizeof buffer) {
      return std::ferror(stdin) == 0;
    }
  }
  return true;
}

}  // namespace

int RunQueryCommand(std::span<const std::string_view> args) {
  for (const std::string_view arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::fwrite(kHelp.data(), 1, kHelp.size(), stdout);
      return kExitMatched;
    }
  }
  if (args.size() != 2) {
    return Fail("expected a query and a page (try vexel-dl query --help)");
  }
  const std::string_view query = args[0];
  const std::string_view source = args[1];

  std::unique_ptr<html::HtmlDocument> document;
  if (source == "-") {
    std::string bytes;
    if (!ReadStandardInput(bytes)) {
      return Fail("cannot read standard input");
    }
    html::ParseOutcome parsed = html::ParseHtmlBytes(bytes, {});
    if (!parsed.ok()) {
      return Fail("cannot read standard input: " + parsed.error);
    }
    document = std::move(parsed.document);
  } else {
    net::LoadedPage loaded = net::LoadPage(source);
    if (!loaded.ok()) {
      return Fail(loaded.error);
    }
    document = std::move(loaded.document);
  }

  std::string out;
  const QueryResult result = ElementQuery(document.get()).Evaluate(std::string(query), out);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  return result == QueryMatched ? kExitMatched : kExitNoMatch;
}

}  // namespace vexel::cli
