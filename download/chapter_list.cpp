#include "download/chapter_list.h"

#include <charconv>
#include <map>
#include <set>

#include "text/text.h"

namespace vexel::download {
namespace {

// The shape of path plus query: every run of ASCII digits is one "#".
void AppendShape(std::string_view text, std::string& shape) {
  bool in_digits = false;
  for (const char c : text) {
    const bool digit = c >= '0' && c <= '9';
    if (!digit) {
      shape += c;
    } else if (!in_digits) {
      shape += '\x01';  // no character of an address, so no clash with "#"
    }
    in_digits = digit;
  }
}
std::string Shape(const AddressParts& parts) {
  std::string shape;
  shape.reserve(parts.path.size() + 1 + parts.query.size());
  AppendShape(parts.path, shape);
  if (!parts.query.empty()) {
    shape += '?';
    AppendShape(parts.query, shape);
  }
  return shape;
}

struct Group {
  std::size_t first_position = 0;   // document position of its first link
  std::vector<ChapterLink> links;   // distinct addresses, first occurrence first
  std::set<std::string> addresses;  // without their fragments
};

// A fragment only scrolls the page a browser shows: "2.html" and "2.html#x"
// load the same chapter, which must be fetched once. In a resolved address
// the first "#" begins the fragment.
std::string_view WithoutFragment(std::string_view address) {
  return address.substr(0, address.find('#'));
}

}  // namespace

std::vector<ChapterLink> FindChapterList(PageDocument* document, const std::string& page_address,
                                         const AddressResolver& resolver) {
  if (document == nullptr || document->IsBusy()) {
    return {};
  }
  const std::optional<AddressParts> page = resolver.Split(page_address);
  if (!page) {
    return {};
  }
  std::map<std::string, Group> groups;
  std::string tag;
  std::string href;
  const long count = document->ElementCount();
  for (long i = 0; i < count; ++i) {
    const PageElement* element = document->ElementAt(i);
    if (element == nullptr) {
      continue;
    }
    element->ReadProperty(ElementProperty::TagName, tag);
    if (tag != "A" || !element->ReadAttribute("href", href)) {
      continue;
    }
    const std::optional<std::string> address = resolver.Resolve(page_address, href);
    if (!address) {
      continue;
    }
    const std::optional<AddressParts> parts = resolver.Split(*address);
    if (!parts || (parts->scheme != "http" && parts->scheme != "https") ||
        parts->host != page->host) {
      continue;
    }
    auto [entry, added] = groups.try_emplace(Shape(*parts));
    Group& group = entry->second;
    if (added) {
      group.first_position = static_cast<std::size_t>(i);
    }
    if (group.addresses.emplace(WithoutFragment(*address)).second) {
      group.links.push_back(
          {*address, text::CollapseAsciiWhitespace(element->Read(ElementProperty::InnerText)),
           page_address});
    }
  }
  const Group* best = nullptr;
  for (const auto& [shape, group] : groups) {
    if (group.links.size() < 2) {
      continue;
    }
    if (best == nullptr || group.links.size() > best->links.size() ||
        (group.links.size() == best->links.size() && group.first_position < best->first_position)) {
      best = &group;
    }
  }
  return best != nullptr ? best->links : std::vector<ChapterLink>{};
}

std::optional<std::vector<std::size_t>> ParseChapterRanges(std::string_view ranges,
                                                           std::size_t count) {
  const auto number = [](std::string_view text) -> std::optional<std::size_t> {
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value == 0) {
      return std::nullopt;
    }
    return value;
  };
  std::set<std::size_t> chosen;
  while (true) {
    const std::size_t comma = ranges.find(',');
    const std::string_view item = text::TrimAsciiWhitespace(ranges.substr(0, comma));
    const std::size_t dash = item.find('-');
    const std::optional<std::size_t> first = number(item.substr(0, dash));
    std::optional<std::size_t> last = first;
    if (dash != std::string_view::npos) {
      const std::string_view end = item.substr(dash + 1);
      last = end.empty() ? std::optional<std::size_t>(count) : number(end);
    }
    if (!first || !last ||
        (dash != std::string_view::npos && !item.substr(dash + 1).empty() && *last < *first)) {
      return std::nullopt;
    }
    for (std::size_t position = *first; position <= *last && position <= count; ++position) {
      chosen.insert(position);
    }
    if (comma == std::string_view::npos) {
      break;
    }
    ranges.remove_prefix(comma + 1);
  }
  return std::vector<std::size_t>(chosen.begin(), chosen.end());
}

std::string PageTitle(PageDocument* document) {
  const long count = document != nullptr ? document->ElementCount() : 0;
  for (long i = 0; i < count; ++i) {
    const PageElement* element = document->ElementAt(i);
    if (element != nullptr && element->Read(ElementProperty::TagName) == "TITLE") {
      return text::CollapseAsciiWhitespace(element->Read(ElementProperty::InnerText));
    }
  }
  return {};
}

}  // namespace vexel::download
