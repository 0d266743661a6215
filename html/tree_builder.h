// Builds an HtmlDocument from a stream of open/close/text/comment events in
// document order. Every tree source goes through it (gumbo's parse of
// markup, a snapshot of the live page in the browser view), so documents from
// either render and read the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "html/html_document.h"

namespace vexel::html {

struct HtmlAttribute {
  std::string name;
  std::string value;
};

// The same without owning the texts, for sources that already hold them.
struct HtmlAttributeView {
  std::string_view name;
  std::string_view value;
};

class TreeBuilder {
 public:
  TreeBuilder();
  ~TreeBuilder();
  TreeBuilder(const TreeBuilder&) = delete;
  TreeBuilder& operator=(const TreeBuilder&) = delete;
  TreeBuilder(TreeBuilder&&) noexcept;
  TreeBuilder& operator=(TreeBuilder&&) noexcept;

  // Starts an element as a child of the innermost open element (or at the top
  // level). `tag` as the source gives it (lower case for HTML); attributes in
  // source order. `rendered` false marks an element the source knows to have
  // no box (a live page's computed display:none); the builder also hides what
  // the standard's default styles hide (head, script, the hidden attribute,
  // an inline display:none, ...). Descendants of a template element are kept
  // for its markup but are not in the element list.
  void OpenElement(std::string_view tag, std::vector<HtmlAttribute> attributes,
                   bool rendered = true);
  void OpenElementFrom(std::string_view tag, std::span<const HtmlAttributeView> attributes,
                       bool rendered = true);
  // Ends the innermost open element; ignored when none is open.
  void CloseElement();
  void AddText(std::string_view text);
  void AddComment(std::string_view text);

  // Open elements right now.
  std::size_t Depth() const { return open_.size(); }
  // Lets a source that knows roughly how much is coming (elements,
  // attributes, bytes of text and values) build without regrowing its
  // tables. Unused room is address space only: its pages are never touched.
  void Reserve(std::size_t elements, std::size_t attributes, std::size_t text_bytes);

  // Closes whatever is still open and hands over the document; the builder
  // then starts afresh.
  std::unique_ptr<HtmlDocument> Finish(std::string url);

 private:
  struct OpenElementState {
    std::uint32_t node = 0;
    std::uint32_t tag_flags = 0;
    bool children_rendered = true;
    bool preformatted = false;
    bool template_content = false;  // its children are (inside) a template's content
    bool details_closed = false;
    bool seen_summary = false;
  };
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept;
  };
  using NameTable = std::unordered_map<std::string, std::uint32_t, NameHash, std::equal_to<>>;

  void Reset();
  std::uint32_t InternTag(std::string_view tag);
  std::uint32_t InternAttributeName(std::string_view name);
  // Whether a child of the innermost open element gets a box: the parent's
  // content must show, and lists and closed details show only some children.
  bool ChildRendered(bool is_element, std::uint32_t child_tag_flags);
  // Stores `text` in the document's text store; the texts of one document
  // are addressed by 32-bit offsets, so a text that would not fit is dropped.
  void StoreText(std::string_view text, std::uint32_t& begin, std::uint32_t& size);
  void AddLeaf(bool comment, std::string_view text);

  std::unique_ptr<HtmlDocument> document_;
  std::vector<OpenElementState> open_;
  NameTable tag_ids_;
  NameTable attribute_ids_;
};

}  // namespace vexel::html
