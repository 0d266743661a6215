#include "platform/html_parser.h"

#include <gumbo.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "platform/charset_decoder.h"
#include "platform/markup_limits.h"
#include "platform/tree_builder.h"

namespace vexel::platform {
namespace {

// Every block gumbo allocates carries a link in a list, so that the whole
// parse is freed by walking that list. gumbo_destroy_output would instead
// recurse once per tree level, and nothing bounds the depth gumbo builds
// (the adoption agency can re-open formatting elements past any estimate).
class GumboHeap {
 public:
  GumboHeap() = default;
  ~GumboHeap() {
    Link* link = head_.next;
    while (link != &head_) {
      Link* next = link->next;
      std::free(link);  // NOLINT(cppcoreguidelines-no-malloc): gumbo's blocks are malloc'd
      link = next;
    }
  }
  GumboHeap(const GumboHeap&) = delete;
  GumboHeap& operator=(const GumboHeap&) = delete;
  GumboHeap(GumboHeap&&) = delete;
  GumboHeap& operator=(GumboHeap&&) = delete;

  GumboOptions Options() {
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &Allocate;
    options.deallocator = &Deallocate;
    options.userdata = this;
    // Parse errors are not wanted, and recording them costs memory on broken
    // pages (one record per bad byte).
    options.max_errors = 0;
    return options;
  }

 private:
  struct alignas(std::max_align_t) Link {
    Link* previous;
    Link* next;
  };

  static void* Allocate(void* userdata, std::size_t size) {
    auto* heap = static_cast<GumboHeap*>(userdata);
    // NOLINTNEXTLINE(cppcoreguidelines-no-malloc): gumbo expects malloc semantics
    void* block = std::malloc(sizeof(Link) + size);
    if (block == nullptr) {
      return nullptr;
    }
    auto* link = static_cast<Link*>(block);
    link->previous = &heap->head_;
    link->next = heap->head_.next;
    heap->head_.next->previous = link;
    heap->head_.next = link;
    return link + 1;
  }

  static void Deallocate(void* /*userdata*/, void* pointer) {
    if (pointer == nullptr) {
      return;
    }
    Link* link = static_cast<Link*>(pointer) - 1;
    link->previous->next = link->next;
    link->next->previous = link->previous;
    std::free(link);  // NOLINT(cppcoreguidelines-no-malloc)
  }

  Link head_{&head_, &head_};
};

void LowerAscii(std::string& text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
}

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
  LowerAscii(scratch);
  return scratch;
}

// Walks gumbo's tree with an explicit stack and replays it into the builder.
void Convert(const GumboNode& root, TreeBuilder& builder) {
  struct Frame {
    const GumboVector* children;
    unsigned int next;
  };
  std::vector<Frame> frames;
  frames.push_back({&root.v.document.children, 0});
  std::vector<HtmlAttributeView> attributes;
  std::string name_scratch;
  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.next >= frame.children->length) {
      frames.pop_back();
      if (!frames.empty()) {
        builder.CloseElement();  // every frame above the root is an element
      }
      continue;
    }
    const auto* node = static_cast<const GumboNode*>(frame.children->data[frame.next++]);
    switch (node->type) {
      case GUMBO_NODE_ELEMENT:
      case GUMBO_NODE_TEMPLATE: {
        const GumboElement& element = node->v.element;
        attributes.clear();
        for (unsigned int i = 0; i < element.attributes.length; ++i) {
          const auto* attribute = static_cast<const GumboAttribute*>(element.attributes.data[i]);
          attributes.push_back({attribute->name, attribute->value});
        }
        builder.OpenElementFrom(ElementName(element, name_scratch), attributes);
        frames.push_back({&element.children, 0});
        break;
      }
      case GUMBO_NODE_TEXT:
      case GUMBO_NODE_WHITESPACE:
      case GUMBO_NODE_CDATA:
        builder.AddText(node->v.text.text);
        break;
      case GUMBO_NODE_COMMENT:
        builder.AddComment(node->v.text.text);
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
  outcome.error = CheckMarkupLimits(utf8_markup, limits);
  if (!outcome.error.empty()) {
    return outcome;
  }

  GumboHeap heap;
  const GumboOptions options = heap.Options();
  const GumboOutput* output =
      gumbo_parse_with_options(&options, utf8_markup.data(), utf8_markup.size());
  if (output == nullptr || output->document == nullptr) {
    outcome.error = "the HTML parser gave no document";
    return outcome;
  }
  TreeBuilder builder;
  Convert(*output->document, builder);
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

}  // namespace vexel::platform
