// outerHTML and innerHTML: the legacy markup rendering.
//
// The site's queries were written against the markup that older browsers gave
// for innerHTML and outerHTML, and they match it as plain text: the image
// query wants an outerHTML that holds "IMG class=ImgComic", and the job then
// cuts the picture's address out of that tag between `src="` and `">`. The
// markup a browser writes today, `<img class="ImgComic" src="pics/1.jpg">`,
// holds neither, so every document here (parsed markup and snapshots of the
// live page alike) writes its markup the older way:
//   - tag names in capitals; attribute names as the source gave them, in the
//     source's order;
//   - an attribute value bare when it is not empty and holds no white space
//     and none of " ' ` = < > &; else in double quotes, & and " escaped;
//   - href and src always in double quotes, whatever they hold, with & as
//     &amp;;
//   - void elements (IMG, BR, INPUT, ...) with no end tag and no content;
//     every other element with its end tag, even where the source left it
//     out;
//   - text with & < > escaped, except in raw-text elements (SCRIPT, STYLE,
//     ...), which keep it as written; comments as written.
// So `<img class="ImgComic" src="pics/1.jpg">` reads as
// `<IMG class=ImgComic src="pics/1.jpg">`.
#include <string>
#include <string_view>

#include "html/html_document.h"

namespace vexel::html {
namespace {

// A value is written bare only when nothing in it could end or confuse an
// unquoted attribute.
bool IsBareValue(std::string_view value) {
  if (value.empty()) {
    return false;
  }
  for (const char c : value) {
    switch (c) {
      case ' ':
      case '\t':
      case '\n':
      case '\r':
      case '\f':
      case '\v':
      case '"':
      case '\'':
      case '`':
      case '=':
      case '<':
      case '>':
      case '&':
        return false;
      default:
        break;
    }
  }
  return true;
}

void AppendEscaped(std::string_view text, std::string_view specials, std::string& out) {
  std::size_t start = 0;
  while (true) {
    const std::size_t found = text.find_first_of(specials, start);
    out.append(text.substr(start, found - start));
    if (found == std::string_view::npos) {
      return;
    }
    switch (text[found]) {
      case '&':
        out.append("&amp;");
        break;
      case '<':
        out.append("&lt;");
        break;
      case '>':
        out.append("&gt;");
        break;
      case '"':
        out.append("&quot;");
        break;
      default:
        out.push_back(text[found]);
        break;
    }
    start = found + 1;
  }
}

}  // namespace

void HtmlDocument::AppendStartTag(std::uint32_t node, std::string& out) const {
  const Node& element = nodes_[node];
  out.push_back('<');
  out.append(TagOf(element).upper);
  for (std::uint32_t i = element.first; i < element.first + element.count; ++i) {
    const Attribute& attribute = attributes_[i];
    const std::string_view value = ValueOf(attribute);
    out.push_back(' ');
    out.append(attribute_names_[attribute.name]);
    // Addresses are always quoted, whatever they hold.
    if (attribute.name == kNameHref || attribute.name == kNameSrc || !IsBareValue(value)) {
      out.append("=\"");
      AppendEscaped(value, "&\"", out);
      out.push_back('"');
    } else {
      out.push_back('=');
      out.append(value);
    }
  }
  out.push_back('>');
}

void HtmlDocument::AppendMarkup(std::uint32_t node, bool with_own_tags, std::string& out) const {
  const bool is_void = HasFlag(node, tags::kVoid);
  if (with_own_tags) {
    AppendStartTag(node, out);
  }
  if (is_void) {
    return;  // no content and no end tag, whatever a source put inside
  }
  const auto append_end_tag = [&](std::uint32_t element) {
    out.append("</");
    out.append(TagOf(nodes_[element]).upper);
    out.push_back('>');
  };
  const auto enter = [&](std::uint32_t i) {
    const Node& current = nodes_[i];
    switch (current.kind) {
      case NodeKind::Text:
        // Script and style text is kept as written, as browsers serialise it.
        if (current.parent != kNoParent && HasFlag(current.parent, tags::kRawText)) {
          out.append(TextOf(current));
        } else {
          AppendEscaped(TextOf(current), "&<>", out);
        }
        return false;
      case NodeKind::Comment:
        out.append("<!--");
        out.append(TextOf(current));
        out.append("-->");
        return false;
      case NodeKind::Element:
        break;
    }
    AppendStartTag(i, out);
    return !HasFlag(i, tags::kVoid);  // a void element has no end tag
  };
  WalkSubtree(node, enter, append_end_tag);
  if (with_own_tags) {
    append_end_tag(node);
  }
}

}  // namespace vexel::html
