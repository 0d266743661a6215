#include "html/tree_builder.h"

#include <algorithm>
#include <array>
#include <functional>
#include <limits>
#include <utility>

#include "text/text.h"

namespace vexel::html {

using tags::Display;

std::size_t TreeBuilder::NameHash::operator()(std::string_view text) const noexcept {
  return std::hash<std::string_view>{}(text);
}

TreeBuilder::TreeBuilder() { Reset(); }
TreeBuilder::~TreeBuilder() = default;
TreeBuilder::TreeBuilder(TreeBuilder&&) noexcept = default;
TreeBuilder& TreeBuilder::operator=(TreeBuilder&&) noexcept = default;

void TreeBuilder::Reset() {
  // The constructor is private to the builder, so make_unique cannot call it.
  document_.reset(new HtmlDocument());  // NOLINT(cppcoreguidelines-owning-memory)
  open_.clear();
  tag_ids_.clear();
  attribute_ids_.clear();
  // Interned first, so that their indices are the KnownName values.
  constexpr std::array<std::string_view, HtmlDocument::kKnownNameCount> kKnownNames{
      "id",   "class", "title",    "style", "hidden", "type",
      "open", "value", "selected", "href",  "src"};
  for (const std::string_view name : kKnownNames) {
    InternAttributeName(name);
  }
}

void TreeBuilder::Reserve(std::size_t elements, std::size_t attributes, std::size_t text_bytes) {
  constexpr std::size_t kLimit = std::numeric_limits<std::uint32_t>::max();
  HtmlDocument& document = *document_;
  // About one text node per element, plus the parser's implied elements.
  document.nodes_.reserve(std::min(2 * elements + 16, kLimit));
  document.elements_.reserve(std::min(elements + 8, kLimit));
  document.attributes_.reserve(std::min(attributes, kLimit));
  document.text_.reserve(std::min(text_bytes, kLimit));
}

std::uint32_t TreeBuilder::InternTag(std::string_view tag) {
  if (const auto found = tag_ids_.find(tag); found != tag_ids_.end()) {
    return found->second;
  }
  const auto id = static_cast<std::uint32_t>(document_->tags_.size());
  std::string upper(tag);
  for (char& c : upper) {
    c = text::ToUpperAscii(c);
  }
  document_->tags_.push_back({std::string(tag), std::move(upper), tags::TraitsOf(tag)});
  tag_ids_.emplace(std::string(tag), id);
  return id;
}

std::uint32_t TreeBuilder::InternAttributeName(std::string_view name) {
  if (const auto found = attribute_ids_.find(name); found != attribute_ids_.end()) {
    return found->second;
  }
  const auto id = static_cast<std::uint32_t>(document_->attribute_names_.size());
  document_->attribute_names_.emplace_back(name);
  attribute_ids_.emplace(std::string(name), id);
  return id;
}

void TreeBuilder::StoreText(std::string_view text, std::uint32_t& begin, std::uint32_t& size) {
  std::string& store = document_->text_;
  constexpr std::size_t kLimit = std::numeric_limits<std::uint32_t>::max();
  begin = static_cast<std::uint32_t>(std::min(store.size(), kLimit));
  if (text.size() > kLimit - begin) {
    size = 0;
    return;
  }
  store.append(text);
  size = static_cast<std::uint32_t>(text.size());
}

bool TreeBuilder::ChildRendered(bool is_element, std::uint32_t child_tag_flags) {
  if (open_.empty()) {
    return true;
  }
  OpenElementState& parent = open_.back();
  // Only the first summary of a closed details element is shown; remember
  // it even when the parent is hidden, so later summaries stay hidden.
  bool first_summary = false;
  if (parent.details_closed && is_element && (child_tag_flags & tags::kSummary) != 0 &&
      !parent.seen_summary) {
    parent.seen_summary = true;
    first_summary = true;
  }
  if (!parent.children_rendered) {
    return false;
  }
  if ((parent.tag_flags & tags::kSelect) != 0) {
    return is_element && (child_tag_flags & (tags::kOption | tags::kOptgroup)) != 0;
  }
  if ((parent.tag_flags & tags::kOptgroup) != 0) {
    return is_element && (child_tag_flags & tags::kOption) != 0;
  }
  if (parent.details_closed) {
    return first_summary;
  }
  return true;
}

// The vector is taken by value so that callers can move a list they built.
void TreeBuilder::OpenElement(std::string_view tag,
                              std::vector<HtmlAttribute> attributes,  // NOLINT(performance-*)
                              bool rendered) {
  std::vector<HtmlAttributeView> views;
  views.reserve(attributes.size());
  for (const HtmlAttribute& attribute : attributes) {
    views.push_back({attribute.name, attribute.value});
  }
  OpenElementFrom(tag, views, rendered);
}

void TreeBuilder::OpenElementFrom(std::string_view tag,
                                  std::span<const HtmlAttributeView> attributes, bool rendered) {
  HtmlDocument& document = *document_;
  const auto index = static_cast<std::uint32_t>(document.nodes_.size());
  const std::uint32_t tag_id = InternTag(tag);
  const tags::TagTraits traits = document.tags_[tag_id].traits;

  HtmlDocument::Node node;
  node.kind = HtmlDocument::NodeKind::Element;
  node.tag = tag_id;
  node.parent = open_.empty() ? HtmlDocument::kNoParent : open_.back().node;
  node.first = static_cast<std::uint32_t>(document.attributes_.size());
  node.count = static_cast<std::uint32_t>(attributes.size());

  bool hidden = false;
  bool open_attribute = false;
  bool hidden_input = false;
  bool styled = false;
  Display style_display = Display::Inline;
  for (const HtmlAttributeView& attribute : attributes) {
    HtmlDocument::Attribute stored;
    stored.name = InternAttributeName(attribute.name);
    StoreText(attribute.value, stored.value_begin, stored.value_size);
    document.attributes_.push_back(stored);
    switch (stored.name) {
      case HtmlDocument::kNameHidden:
        hidden = true;
        break;
      case HtmlDocument::kNameOpen:
        open_attribute = true;
        break;
      case HtmlDocument::kNameStyle:
        styled = tags::DisplayFromStyle(attribute.value, style_display) || styled;
        break;
      case HtmlDocument::kNameType:
        hidden_input = (traits.flags & tags::kInput) != 0 &&
                       text::EqualsIgnoringAsciiCase(attribute.value, "hidden");
        break;
      default:
        break;
    }
  }

  // The user-agent defaults, then the hidden attribute and closed dialogs,
  // then the page's own inline style, which overrides both; a hidden input
  // stays hidden whatever its style says (the default style is !important).
  Display display = traits.display;
  if (hidden || ((traits.flags & tags::kDialog) != 0 && !open_attribute)) {
    display = Display::None;
  }
  if (styled) {
    display = style_display;
  }
  if (hidden_input) {
    display = Display::None;
  }
  node.display = display;

  const bool has_box = rendered && ChildRendered(true, traits.flags) && display != Display::None;
  const bool preformatted =
      (!open_.empty() && open_.back().preformatted) || (traits.flags & tags::kPreformatted) != 0;
  node.flags = static_cast<std::uint8_t>((has_box ? HtmlDocument::kRendered : 0) |
                                         (preformatted ? HtmlDocument::kPreformatted : 0));
  document.nodes_.push_back(node);

  const bool parent_template_content = !open_.empty() && open_.back().template_content;
  if (!parent_template_content) {
    document.elements_.emplace_back(&document, index);
  }

  OpenElementState state;
  state.node = index;
  state.tag_flags = traits.flags;
  state.children_rendered = has_box && (traits.flags & tags::kReplaced) == 0;
  state.preformatted = preformatted;
  state.template_content = parent_template_content || (traits.flags & tags::kTemplate) != 0;
  state.details_closed = (traits.flags & tags::kDetails) != 0 && !open_attribute;
  open_.push_back(state);
}

void TreeBuilder::CloseElement() {
  if (open_.empty()) {
    return;
  }
  document_->nodes_[open_.back().node].end = static_cast<std::uint32_t>(document_->nodes_.size());
  open_.pop_back();
}

void TreeBuilder::AddLeaf(bool comment, std::string_view text) {
  HtmlDocument& document = *document_;
  const auto index = static_cast<std::uint32_t>(document.nodes_.size());
  HtmlDocument::Node node;
  node.kind = comment ? HtmlDocument::NodeKind::Comment : HtmlDocument::NodeKind::Text;
  node.end = index + 1;
  node.parent = open_.empty() ? HtmlDocument::kNoParent : open_.back().node;
  StoreText(text, node.first, node.count);
  if (!comment) {
    const bool shown = ChildRendered(false, 0);
    const bool preformatted = !open_.empty() && open_.back().preformatted;
    node.flags = static_cast<std::uint8_t>((shown ? HtmlDocument::kRendered : 0) |
                                           (preformatted ? HtmlDocument::kPreformatted : 0));
  }
  document.nodes_.push_back(node);
}

void TreeBuilder::AddText(std::string_view text) { AddLeaf(false, text); }

void TreeBuilder::AddComment(std::string_view text) { AddLeaf(true, text); }

std::unique_ptr<HtmlDocument> TreeBuilder::Finish(std::string url) {
  while (!open_.empty()) {
    CloseElement();
  }
  document_->url_ = std::move(url);
  std::unique_ptr<HtmlDocument> built = std::move(document_);
  Reset();
  return built;
}

}  // namespace vexel::html
