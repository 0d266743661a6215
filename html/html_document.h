// The in-memory HTML document behind PageDocument when there is no browser:
// an element tree built once (by TreeBuilder, from gumbo's parse or from a
// snapshot of a live page) and read by the query language.
//
// Nodes are kept in one table in document order (pre-order), so the subtree
// of a node is the contiguous range up to its `end`; every walk is a loop over
// that range, never a recursion, and a page nested 100,000 levels deep reads
// like a flat one. Properties are computed when read: nothing is serialised
// or laid out until a query asks for that element's text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "html/html_tags.h"
#include "query/page_document.h"

namespace vexel::html {

class HtmlDocument;
class TreeBuilder;

// One entry of the document's element list; owned by the document.
class HtmlElement final : public vexel::PageElement {
 public:
  HtmlElement(HtmlDocument* document, std::uint32_t node) : document_(document), node_(node) {}

  // tagName in capitals; id, className and title are the attributes (absent:
  // empty); innerText and outerText are the rendered text; innerHTML and
  // outerHTML are the markup in the legacy rendering (html_markup.cpp tells
  // what it is and why the site's queries need it).
  void ReadProperty(ElementProperty property, std::string& out) const override;
  bool ReadAttribute(std::string_view name, std::string& out) const override;

  // A document without scripts has nothing for a click to start: always
  // ActionDone, and nothing changes.
  ActionOutcome Click() override;
  // SELECT only: moves the `selected` attribute to option `index` of the
  // list. An index outside the options gives ActionFailed and changes nothing.
  ActionOutcome SetSelectedIndex(long index) override;
  // INPUT only: sets the value attribute (added after the others when absent),
  // which later reads of the markup show.
  ActionOutcome SetValue(std::string_view value) override;

 private:
  HtmlDocument* document_;
  std::uint32_t node_;
};

class HtmlDocument final : public vexel::PageDocument {
 public:
  ~HtmlDocument() override;
  HtmlDocument(const HtmlDocument&) = delete;
  HtmlDocument& operator=(const HtmlDocument&) = delete;
  HtmlDocument(HtmlDocument&&) = delete;
  HtmlDocument& operator=(HtmlDocument&&) = delete;

  // A built document has finished loading.
  bool IsBusy() override { return false; }
  // Every element in document order, as getElementsByTagName('*') lists them
  // (the content of template elements is not listed).
  long ElementCount() override;
  PageElement* ElementAt(long index) override;
  // Read-only access to the same list; null outside it.
  const HtmlElement* Element(long index) const;

  // The address the document was loaded from (may be empty).
  const std::string& Url() const { return url_; }

 private:
  friend class HtmlElement;
  friend class TreeBuilder;

  enum class NodeKind : std::uint8_t { Element, Text, Comment };
  enum NodeFlag : std::uint8_t {
    kRendered = 1,      // has a box: its text shows (for text: its parent's content shows)
    kPreformatted = 2,  // text keeps its white space (elements: their content does)
  };
  static constexpr std::uint32_t kNoParent = 0xFFFFFFFFU;

  struct Node {
    std::uint32_t end = 0;  // one past the last node of this node's subtree
    std::uint32_t parent = kNoParent;
    std::uint32_t first = 0;  // element: first attribute; text, comment: offset in text_
    std::uint32_t count = 0;  // element: attribute count; text, comment: byte length
    std::uint32_t tag = 0;    // element: index in tags_
    NodeKind kind = NodeKind::Element;
    tags::Display display = tags::Display::Inline;
    std::uint8_t flags = 0;
  };
  struct Attribute {
    std::uint32_t name = 0;  // index in attribute_names_
    std::uint32_t value_begin = 0;
    std::uint32_t value_size = 0;
  };
  struct Tag {
    std::string name;   // as the source gave it
    std::string upper;  // as tagName and the markup show it
    tags::TagTraits traits;
  };

  // Attribute names every document knows by index, so that lookups compare
  // numbers; TreeBuilder interns them first, in this order.
  enum KnownName : std::uint32_t {
    kNameId,
    kNameClass,
    kNameTitle,
    kNameStyle,
    kNameHidden,
    kNameType,
    kNameOpen,
    kNameValue,
    kNameSelected,
    kNameHref,
    kNameSrc,
    kKnownNameCount,
  };

  HtmlDocument() = default;

  std::string_view TextOf(const Node& node) const {
    return std::string_view(text_).substr(node.first, node.count);
  }
  std::string_view ValueOf(const Attribute& attribute) const {
    return std::string_view(text_).substr(attribute.value_begin, attribute.value_size);
  }
  const Tag& TagOf(const Node& node) const { return tags_[node.tag]; }
  bool HasFlag(std::uint32_t node, std::uint32_t flag) const {
    return (TagOf(nodes_[node]).traits.flags & flag) != 0;
  }
  // The first attribute `name` of element `node`, or null.
  const Attribute* FindAttribute(std::uint32_t node, std::uint32_t name) const;
  const Attribute* FindAttribute(std::uint32_t node, std::string_view name) const;
  std::string_view AttributeText(std::uint32_t node, std::uint32_t name) const;
  // The node right after `node`'s subtree (its next sibling when it has one):
  // sibling walks jump over whole subtrees.
  std::uint32_t NextSibling(std::uint32_t node) const { return nodes_[node].end; }

  // The walk over a subtree that every reader of one uses: the nodes below
  // `node` in document order, in one loop over the node table, so that depth
  // costs no stack. `enter(i)` tells whether to go into node i; when it does,
  // `leave(i)` runs after i's last descendant (at once when it has none).
  // When it does not, i's subtree is passed over and leave(i) is not called.
  // Without `leave`, the walk keeps no list of open nodes at all.
  struct NoLeave {
    void operator()(std::uint32_t /*node*/) const {}
  };
  template <typename Enter, typename Leave = NoLeave>
  void WalkSubtree(std::uint32_t node, Enter&& enter, Leave&& leave = {}) const {
    constexpr bool kLeaves = !std::is_same_v<std::decay_t<Leave>, NoLeave>;
    std::vector<std::uint32_t> open;  // entered nodes whose leave is still due
    const std::uint32_t end = nodes_[node].end;
    for (std::uint32_t i = node + 1; i < end;) {
      if constexpr (kLeaves) {
        while (!open.empty() && nodes_[open.back()].end <= i) {
          leave(open.back());
          open.pop_back();
        }
      }
      const std::uint32_t subtree_end = nodes_[i].end;
      if (!enter(i)) {
        i = subtree_end;
        continue;
      }
      if constexpr (kLeaves) {
        if (subtree_end == i + 1) {
          leave(i);
        } else {
          open.push_back(i);
        }
      }
      ++i;
    }
    while (!open.empty()) {
      leave(open.back());
      open.pop_back();
    }
  }

  void ReadProperty(std::uint32_t node, ElementProperty property, std::string& out) const;
  void AppendMarkup(std::uint32_t node, bool with_own_tags, std::string& out) const;
  void AppendStartTag(std::uint32_t node, std::string& out) const;
  void AppendInnerText(std::uint32_t node, std::string& out) const;
  void AppendTextContent(std::uint32_t node, std::string& out) const;
  bool IsLastCellOfRow(std::uint32_t cell) const;
  bool IsLastRowOfTable(std::uint32_t row) const;

  ActionOutcome SelectOption(std::uint32_t node, long index);
  ActionOutcome SetInputValue(std::uint32_t node, std::string_view value);
  // Attribute edits keep each element's attributes contiguous by moving the
  // edited element's list to the end of attributes_.
  void SetAttribute(std::uint32_t node, std::uint32_t name, std::string_view value);
  void RemoveAttribute(std::uint32_t node, std::uint32_t name);
  std::uint32_t AppendText(std::string_view text);

  std::vector<Node> nodes_;
  std::vector<Attribute> attributes_;
  std::string text_;  // every text, comment and attribute value, back to back
  std::vector<Tag> tags_;
  std::vector<std::string> attribute_names_;
  std::vector<HtmlElement> elements_;
  std::string url_;
};

}  // namespace vexel::html
