// innerText: the HTML standard's "rendered text collection steps", with each
// element's default display (or its inline style) standing in for layout.
//
// The standard builds a list of strings and "required line break counts" and
// joins it at the end; here the list is folded into the output as it is made:
// `pending_break_` is the largest count of the run not yet written, and white
// space collapsing (CSS 'white-space: normal') is a pending space that is
// written only when more text follows on the same line.
#include <algorithm>
#include <string>
#include <string_view>

#include "html/html_document.h"

namespace vexel::html {
namespace {

// The document white space of CSS: space, tab and segment breaks (the parser
// has already turned CR LF into LF; a lone CR collapses like a space).
constexpr bool IsCollapsible(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

class TextCollector {
 public:
  explicit TextCollector(std::string& out) : out_(out), base_(out.size()) {}

  // A required line break count (1 around blocks, 2 around paragraphs).
  void Break(int count) {
    pending_break_ = std::max(pending_break_, count);
    EndLine();
  }

  // A new line box starts: white space at its start and at the end of the
  // line before is dropped.
  void EndLine() {
    pending_space_ = false;
    line_has_content_ = false;
  }

  // A string item ("\n" for br, "\t" between cells, text).
  void Emit(std::string_view text) {
    if (text.empty()) {
      return;
    }
    if (pending_break_ > 0) {
      // Breaks before the first text are dropped, like those at the end.
      if (out_.size() > base_) {
        out_.append(static_cast<std::size_t>(pending_break_), '\n');
      }
      pending_break_ = 0;
    }
    out_.append(text);
  }

  void Text(std::string_view text, bool preformatted) {
    if (preformatted) {
      if (!text.empty()) {
        FlushSpace();
        Emit(text);
        line_has_content_ = true;
      }
      return;
    }
    std::size_t i = 0;
    while (i < text.size()) {
      if (IsCollapsible(text[i])) {
        pending_space_ = pending_space_ || line_has_content_;
        ++i;
        continue;
      }
      std::size_t j = i + 1;
      while (j < text.size() && !IsCollapsible(text[j])) {
        ++j;
      }
      FlushSpace();
      Emit(text.substr(i, j - i));
      line_has_content_ = true;
      i = j;
    }
  }

  // An image, input or other replaced element: no text of its own, but it
  // sits in the line, so the spaces on both sides of it stay.
  void AtomicInline() {
    FlushSpace();
    line_has_content_ = true;
  }

 private:
  void FlushSpace() {
    if (pending_space_) {
      pending_space_ = false;
      Emit(" ");
    }
  }

  std::string& out_;
  std::size_t base_;
  int pending_break_ = 0;
  bool pending_space_ = false;
  bool line_has_content_ = false;
};

bool IsBlockLevel(tags::Display display) {
  return display == tags::Display::Block || display == tags::Display::Table;
}

}  // namespace

bool HtmlDocument::IsLastCellOfRow(std::uint32_t cell) const {
  const std::uint32_t row = nodes_[cell].parent;
  if (row == kNoParent) {
    return true;
  }
  for (std::uint32_t i = NextSibling(cell); i < nodes_[row].end; i = NextSibling(i)) {
    const Node& sibling = nodes_[i];
    if (sibling.kind == NodeKind::Element && (sibling.flags & kRendered) != 0 &&
        sibling.display == tags::Display::TableCell) {
      return false;
    }
  }
  return true;
}

bool HtmlDocument::IsLastRowOfTable(std::uint32_t row) const {
  // Rows sit a level or two below their table; the search is bounded so that
  // a row-styled element deep in a hostile page stays cheap.
  constexpr int kMaxLevels = 64;
  std::uint32_t table = nodes_[row].parent;
  for (int level = 0; table != kNoParent && nodes_[table].display != tags::Display::Table;
       ++level) {
    if (level == kMaxLevels) {
      return true;
    }
    table = nodes_[table].parent;
  }
  if (table == kNoParent) {
    return true;
  }
  for (std::uint32_t i = NextSibling(row); i < nodes_[table].end;) {
    const Node& node = nodes_[i];
    const bool element = node.kind == NodeKind::Element;
    if (element && (node.flags & kRendered) != 0 && node.display == tags::Display::TableRow) {
      return false;
    }
    // Skip what is hidden, and the rows of a nested table.
    const bool skip =
        element && ((node.flags & kRendered) == 0 || node.display == tags::Display::Table);
    i = skip ? node.end : i + 1;
  }
  return true;
}

void HtmlDocument::AppendTextContent(std::uint32_t node, std::string& out) const {
  if (HasFlag(node, tags::kTemplate)) {
    return;  // a template's content is not among its children in a browser
  }
  WalkSubtree(node, [&](std::uint32_t i) {
    const Node& current = nodes_[i];
    if (current.kind == NodeKind::Text) {
      out.append(TextOf(current));
    }
    return current.kind != NodeKind::Element || !HasFlag(i, tags::kTemplate);
  });
}

void HtmlDocument::AppendInnerText(std::uint32_t node, std::string& out) const {
  // An element without a box reads as its text content, as in a browser.
  if ((nodes_[node].flags & kRendered) == 0) {
    AppendTextContent(node, out);
    return;
  }
  TextCollector collector(out);

  const auto open_element = [&](std::uint32_t element) {
    const Node& current = nodes_[element];
    if (HasFlag(element, tags::kParagraph)) {
      collector.Break(2);
    }
    if (IsBlockLevel(current.display)) {
      collector.Break(1);
    }
    if (current.display == tags::Display::TableCell) {
      collector.EndLine();
    }
    if (HasFlag(element, tags::kReplaced)) {
      collector.AtomicInline();
    }
  };
  const auto close_element = [&](std::uint32_t element) {
    const Node& current = nodes_[element];
    if (HasFlag(element, tags::kLineBreak)) {
      collector.Emit("\n");
      collector.EndLine();
    }
    if (current.display == tags::Display::TableCell) {
      if (!IsLastCellOfRow(element)) {
        collector.Emit("\t");
      }
      collector.EndLine();
    }
    if (current.display == tags::Display::TableRow) {
      if (!IsLastRowOfTable(element)) {
        collector.Emit("\n");
      }
      collector.EndLine();
    }
    if (HasFlag(element, tags::kParagraph)) {
      collector.Break(2);
    }
    if (IsBlockLevel(current.display)) {
      collector.Break(1);
    }
  };

  const auto enter = [&](std::uint32_t i) {
    const Node& current = nodes_[i];
    if (current.kind == NodeKind::Comment) {
      return false;
    }
    if (current.kind == NodeKind::Text) {
      if ((current.flags & kRendered) != 0) {
        collector.Text(TextOf(current), (current.flags & kPreformatted) != 0);
      }
      return false;
    }
    if ((current.flags & kRendered) == 0) {
      return false;  // nothing inside a hidden element shows
    }
    open_element(i);
    if (HasFlag(i, tags::kReplaced) || HasFlag(i, tags::kVoid)) {
      close_element(i);  // its content, if a source gave it one, never shows
      return false;
    }
    return true;
  };
  WalkSubtree(node, enter, close_element);
}

}  // namespace vexel::html
