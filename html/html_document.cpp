#include "html/html_document.h"

#include <algorithm>
#include <limits>

namespace vexel::html {

HtmlDocument::~HtmlDocument() = default;

long HtmlDocument::ElementCount() { return static_cast<long>(elements_.size()); }

PageElement* HtmlDocument::ElementAt(long index) {
  if (index < 0 || static_cast<std::size_t>(index) >= elements_.size()) {
    return nullptr;
  }
  return &elements_[static_cast<std::size_t>(index)];
}

const HtmlElement* HtmlDocument::Element(long index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= elements_.size()) {
    return nullptr;
  }
  return &elements_[static_cast<std::size_t>(index)];
}

const HtmlDocument::Attribute* HtmlDocument::FindAttribute(std::uint32_t node,
                                                           std::uint32_t name) const {
  const Node& element = nodes_[node];
  for (std::uint32_t i = element.first; i < element.first + element.count; ++i) {
    if (attributes_[i].name == name) {
      return &attributes_[i];
    }
  }
  return nullptr;
}

const HtmlDocument::Attribute* HtmlDocument::FindAttribute(std::uint32_t node,
                                                           std::string_view name) const {
  const Node& element = nodes_[node];
  for (std::uint32_t i = element.first; i < element.first + element.count; ++i) {
    if (attribute_names_[attributes_[i].name] == name) {
      return &attributes_[i];
    }
  }
  return nullptr;
}

std::string_view HtmlDocument::AttributeText(std::uint32_t node, std::uint32_t name) const {
  const Attribute* attribute = FindAttribute(node, name);
  return attribute != nullptr ? ValueOf(*attribute) : std::string_view();
}

void HtmlDocument::ReadProperty(std::uint32_t node, ElementProperty property,
                                std::string& out) const {
  out.clear();
  switch (property) {
    case ElementProperty::Id:
      out.assign(AttributeText(node, kNameId));
      break;
    case ElementProperty::ClassName:
      out.assign(AttributeText(node, kNameClass));
      break;
    case ElementProperty::Title:
      out.assign(AttributeText(node, kNameTitle));
      break;
    case ElementProperty::TagName:
      out.assign(TagOf(nodes_[node]).upper);
      break;
    case ElementProperty::InnerText:
    case ElementProperty::OuterText:
      AppendInnerText(node, out);
      break;
    case ElementProperty::InnerHTML:
      AppendMarkup(node, false, out);
      break;
    case ElementProperty::OuterHTML:
      AppendMarkup(node, true, out);
      break;
  }
}

std::uint32_t HtmlDocument::AppendText(std::string_view text) {
  const auto begin = static_cast<std::uint32_t>(text_.size());
  text_.append(text);
  return begin;
}

void HtmlDocument::SetAttribute(std::uint32_t node, std::uint32_t name, std::string_view value) {
  constexpr std::size_t kLimit = std::numeric_limits<std::uint32_t>::max();
  if (value.size() > kLimit - std::min(text_.size(), kLimit)) {
    value = {};  // the text store is addressed by 32-bit offsets
  }
  const Node& element = nodes_[node];
  for (std::uint32_t i = element.first; i < element.first + element.count; ++i) {
    if (attributes_[i].name == name) {
      attributes_[i].value_begin = AppendText(value);
      attributes_[i].value_size = static_cast<std::uint32_t>(value.size());
      return;
    }
  }
  // Move the list to the end, where it can grow by one.
  const auto first = static_cast<std::uint32_t>(attributes_.size());
  for (std::uint32_t i = element.first; i < element.first + element.count; ++i) {
    attributes_.push_back(attributes_[i]);
  }
  const auto begin = AppendText(value);
  attributes_.push_back({name, begin, static_cast<std::uint32_t>(value.size())});
  nodes_[node].first = first;
  nodes_[node].count = element.count + 1;
}

void HtmlDocument::RemoveAttribute(std::uint32_t node, std::uint32_t name) {
  if (FindAttribute(node, name) == nullptr) {
    return;
  }
  const Node element = nodes_[node];
  const auto first = static_cast<std::uint32_t>(attributes_.size());
  for (std::uint32_t i = element.first; i < element.first + element.count; ++i) {
    if (attributes_[i].name != name) {
      attributes_.push_back(attributes_[i]);
    }
  }
  nodes_[node].first = first;
  nodes_[node].count = static_cast<std::uint32_t>(attributes_.size()) - first;
}

ActionOutcome HtmlDocument::SelectOption(std::uint32_t node, long index) {
  if (!HasFlag(node, tags::kSelect)) {
    return ActionNotApplicable;
  }
  // The options of the list in tree order: option elements inside it, not
  // counting those of a list nested in it.
  std::vector<std::uint32_t> options;
  WalkSubtree(node, [&](std::uint32_t i) {
    if (nodes_[i].kind != NodeKind::Element) {
      return false;
    }
    if (HasFlag(i, tags::kSelect)) {
      return false;
    }
    if (HasFlag(i, tags::kOption)) {
      options.push_back(i);
    }
    return true;
  });
  if (index < 0 || static_cast<std::size_t>(index) >= options.size()) {
    return ActionFailed;
  }
  for (const std::uint32_t option : options) {
    RemoveAttribute(option, kNameSelected);
  }
  SetAttribute(options[static_cast<std::size_t>(index)], kNameSelected, "");
  return ActionDone;
}

ActionOutcome HtmlDocument::SetInputValue(std::uint32_t node, std::string_view value) {
  if (!HasFlag(node, tags::kInput)) {
    return ActionNotApplicable;
  }
  SetAttribute(node, kNameValue, value);
  return ActionDone;
}

void HtmlElement::ReadProperty(ElementProperty property, std::string& out) const {
  document_->ReadProperty(node_, property, out);
}

bool HtmlElement::ReadAttribute(std::string_view name, std::string& out) const {
  const HtmlDocument::Attribute* attribute = document_->FindAttribute(node_, name);
  if (attribute == nullptr) {
    out.clear();
    return false;
  }
  out.assign(document_->ValueOf(*attribute));
  return true;
}

ActionOutcome HtmlElement::Click() { return ActionDone; }

ActionOutcome HtmlElement::SetSelectedIndex(long index) {
  return document_->SelectOption(node_, index);
}

ActionOutcome HtmlElement::SetValue(std::string_view value) {
  return document_->SetInputValue(node_, value);
}

}  // namespace vexel::html
