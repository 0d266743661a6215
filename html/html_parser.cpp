#include "html/html_parser.h"

#include <gumbo.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "html/charset_decoder.h"
#include "html/gumbo_arena.h"
#include "html/markup_limits.h"
#include "html/tree_builder.h"
#include "text/text.h"

namespace vexel::html {
namespace {

// The tag name as a browser's DOM keeps it: lower case for HTML and MathML,
// the standard's camel case for SVG (foreignObject, clipPath).
std::string_view ElementName(const GumboElement& element, std::string& scratch) {
  const bool svg = element.tag_namespace == GUMBO_NAMESPACE_SVG;
  if (element.tag != GUMBO_TAG_UNKNOWN && !svg) {
    return gumbo_normalized_tagname(element.tag);
  }
  GumboStringPiece original = element.original_tag;
  if (original.data == nullptr || original.length == 0) {
    // Only the parser's own implied elements lack source text, and those
    // are all known tags.
    return element.tag != GUMBO_TAG_UNKNOWN ? gumbo_normalized_tagname(element.tag) : "unknown";
  }
  gumbo_tag_from_original_text(&original);
  if (svg) {
    if (const char* svg_name = gumbo_normalize_svg_tagname(&original)) {
      return svg_name;
    }
  }
  scratch.assign(original.data, original.length);
  for (char& c : scratch) {
    c = text::ToLowerAscii(c);
  }
  return scratch;
}

// Walks gumbo's tree with an explicit stack and replays it into the builder,
// freeing each part of gumbo's tree once it has been copied (the arena is
// draining, so the memory goes back to the system as slabs empty).
void Convert(GumboNode& root, TreeBuilder& builder, GumboArena& arena) {
  struct Frame {
    GumboNode* node;
    unsigned int next;
  };
  std::vector<Frame> frames;
  frames.push_back({&root, 0});
  std::vector<HtmlAttributeView> attributes;
  std::string name_scratch;
  while (!frames.empty()) {
    Frame& frame = frames.back();
    GumboVector& children =
        frame.node == &root ? root.v.document.children : frame.node->v.element.children;
    if (frame.next >= children.length) {
      GumboNode* finished = frame.node;
      frames.pop_back();
      if (finished != &root) {
        builder.CloseElement();
        arena.Free(children.data);
        arena.Free(finished);
      }
      continue;
    }
    auto* node = static_cast<GumboNode*>(children.data[frame.next++]);
    switch (node->type) {
      case GUMBO_NODE_ELEMENT:
      case GUMBO_NODE_TEMPLATE: {
        GumboElement& element = node->v.element;
        attributes.clear();
        for (unsigned int i = 0; i < element.attributes.length; ++i) {
          const auto* attribute = static_cast<const GumboAttribute*>(element.attributes.data[i]);
          attributes.push_back({attribute->name, attribute->value});
        }
        builder.OpenElementFrom(ElementName(element, name_scratch), attributes);
        for (unsigned int i = 0; i < element.attributes.length; ++i) {
          auto* attribute = static_cast<GumboAttribute*>(element.attributes.data[i]);
          arena.Free(const_cast<char*>(attribute->name));
          arena.Free(const_cast<char*>(attribute->value));
          arena.Free(attribute);
        }
        arena.Free(element.attributes.data);
        element.attributes = {nullptr, 0, 0};
        frames.push_back({node, 0});
        break;
      }
      case GUMBO_NODE_TEXT:
      case GUMBO_NODE_WHITESPACE:
      case GUMBO_NODE_CDATA:
      case GUMBO_NODE_COMMENT:
        if (node->type == GUMBO_NODE_COMMENT) {
          builder.AddComment(node->v.text.text);
        } else {
          builder.AddText(node->v.text.text);
        }
        arena.Free(const_cast<char*>(node->v.text.text));
        arena.Free(node);
        break;
      case GUMBO_NODE_DOCUMENT:
        break;
    }
  }
}

}  // namespace

ParseOutcome ParseHtml(std::string_view utf8_markup, std::string url) {
  ParseOutcome outcome;
  if (utf8_markup.size() > kMaxMarkupBytes) {
    outcome.error = "page too large: " + std::to_string(utf8_markup.size()) + " bytes (limit " +
                    std::to_string(kMaxMarkupBytes) + ")";
    return outcome;
  }
  // gumbo would replace invalid bytes itself, but not in every place it copies
  // from the input (unknown tag names come straight from it).
  std::string repaired;
  if (!IsValidUtf8(utf8_markup)) {
    repaired = RepairUtf8(utf8_markup);
    utf8_markup = repaired;
  }
  const MarkupLimits limits{kMaxStartTags, kMaxNestingDepth, kMaxAttributesPerElement};
  MarkupCensus census;
  outcome.error = CheckMarkupLimits(utf8_markup, limits, &census);
  if (!outcome.error.empty()) {
    return outcome;
  }

  GumboArena arena(kMaxParseMemoryBytes);
  GumboOutput* output = arena.Parse(utf8_markup);
  if (output == nullptr) {
    if (arena.OverBudget()) {
      outcome.too_complex = true;
      outcome.error = "page too complex: parsing needs more than " +
                      std::to_string(kMaxParseMemoryBytes >> 20) + " MiB";
    } else {
      outcome.error = "the HTML parser ran out of memory";
    }
    return outcome;
  }
  if (output->document == nullptr) {
    outcome.error = "the HTML parser gave no document";
    return outcome;
  }
  TreeBuilder builder;
  // Texts and values are never longer than the markup they come from.
  builder.Reserve(census.start_tags, census.attributes, utf8_markup.size());
  arena.BeginDraining();
  Convert(*output->document, builder, arena);
  outcome.document = builder.Finish(std::move(url));
  return outcome;
}

ParseOutcome ParseHtmlBytes(std::string_view bytes, std::string_view declared_charset,
                            std::string url) {
  if (bytes.size() > kMaxMarkupBytes) {
    ParseOutcome outcome;
    outcome.error = "page too large: " + std::to_string(bytes.size()) + " bytes (limit " +
                    std::to_string(kMaxMarkupBytes) + ")";
    return outcome;
  }
  return ParseHtml(DecodeToUtf8(bytes, declared_charset), std::move(url));
}

}  // namespace vexel::html
