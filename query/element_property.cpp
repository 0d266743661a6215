#include <array>
#include <utility>

#include "query/page_document.h"

namespace vexel {
namespace {

constexpr std::array<std::pair<std::string_view, ElementProperty>, 8> kProperties{{
    {"id", ElementProperty::Id},
    {"className", ElementProperty::ClassName},
    {"title", ElementProperty::Title},
    {"tagName", ElementProperty::TagName},
    {"innerText", ElementProperty::InnerText},
    {"outerText", ElementProperty::OuterText},
    {"innerHTML", ElementProperty::InnerHTML},
    {"outerHTML", ElementProperty::OuterHTML},
}};

}  // namespace

std::optional<ElementProperty> PropertyFromName(std::string_view name) {
  for (const auto& [text, property] : kProperties) {
    if (text == name) {
      return property;
    }
  }
  return std::nullopt;
}

std::optional<ElementProperty> PropertyAtStartOf(std::string_view text) {
  for (const auto& [name, property] : kProperties) {
    if (text.starts_with(name)) {
      return property;
    }
  }
  return std::nullopt;
}

std::string_view PropertyName(ElementProperty property) {
  for (const auto& [text, candidate] : kProperties) {
    if (candidate == property) {
      return text;
    }
  }
  return {};
}

}  // namespace vexel
