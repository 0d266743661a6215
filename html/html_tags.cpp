#include "html/html_tags.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "text/text.h"

namespace vexel::html::tags {
namespace {

constexpr Display kInline = Display::Inline;
constexpr Display kBlock = Display::Block;
constexpr Display kNone = Display::None;

struct KnownTag {
  std::string_view name;
  TagTraits traits;
};

// Sorted by name for the binary search below. Displays follow the user-agent
// style sheet of the HTML standard; noscript counts as hidden because pages
// are shown with scripting enabled.
constexpr std::array kKnownTags{
    KnownTag{"address", {kBlock, 0}},
    KnownTag{"area", {kNone, kVoid}},
    KnownTag{"article", {kBlock, 0}},
    KnownTag{"aside", {kBlock, 0}},
    KnownTag{"audio", {kInline, kReplaced}},
    KnownTag{"base", {kNone, kVoid}},
    KnownTag{"basefont", {kNone, kVoid}},
    KnownTag{"bgsound", {kNone, kVoid}},
    KnownTag{"blockquote", {kBlock, 0}},
    KnownTag{"body", {kBlock, 0}},
    KnownTag{"br", {kInline, kVoid | kLineBreak}},
    KnownTag{"canvas", {kInline, kReplaced}},
    KnownTag{"caption", {kBlock, 0}},
    KnownTag{"center", {kBlock, 0}},
    KnownTag{"col", {kInline, kVoid}},
    KnownTag{"datalist", {kNone, 0}},
    KnownTag{"dd", {kBlock, 0}},
    KnownTag{"details", {kBlock, kDetails}},
    KnownTag{"dialog", {kBlock, kDialog}},
    KnownTag{"dir", {kBlock, 0}},
    KnownTag{"div", {kBlock, 0}},
    KnownTag{"dl", {kBlock, 0}},
    KnownTag{"dt", {kBlock, 0}},
    KnownTag{"embed", {kInline, kVoid | kReplaced}},
    KnownTag{"fieldset", {kBlock, 0}},
    KnownTag{"figcaption", {kBlock, 0}},
    KnownTag{"figure", {kBlock, 0}},
    KnownTag{"footer", {kBlock, 0}},
    KnownTag{"form", {kBlock, 0}},
    KnownTag{"frame", {kBlock, kVoid}},
    KnownTag{"frameset", {kBlock, 0}},
    KnownTag{"h1", {kBlock, 0}},
    KnownTag{"h2", {kBlock, 0}},
    KnownTag{"h3", {kBlock, 0}},
    KnownTag{"h4", {kBlock, 0}},
    KnownTag{"h5", {kBlock, 0}},
    KnownTag{"h6", {kBlock, 0}},
    KnownTag{"head", {kNone, 0}},
    KnownTag{"header", {kBlock, 0}},
    KnownTag{"hgroup", {kBlock, 0}},
    KnownTag{"hr", {kBlock, kVoid}},
    KnownTag{"html", {kBlock, 0}},
    KnownTag{"iframe", {kInline, kReplaced | kRawText}},
    KnownTag{"img", {kInline, kVoid | kReplaced}},
    KnownTag{"input", {kInline, kVoid | kReplaced | kInput}},
    KnownTag{"keygen", {kInline, kVoid | kReplaced}},
    KnownTag{"legend", {kBlock, 0}},
    KnownTag{"li", {kBlock, 0}},
    KnownTag{"link", {kNone, kVoid}},
    KnownTag{"listing", {kBlock, kPreformatted}},
    KnownTag{"main", {kBlock, 0}},
    KnownTag{"menu", {kBlock, 0}},
    KnownTag{"meta", {kNone, kVoid}},
    KnownTag{"nav", {kBlock, 0}},
    KnownTag{"noembed", {kNone, kRawText}},
    KnownTag{"noframes", {kNone, kRawText}},
    KnownTag{"noscript", {kNone, 0}},
    KnownTag{"object", {kInline, kReplaced}},
    KnownTag{"ol", {kBlock, 0}},
    KnownTag{"optgroup", {kBlock, kOptgroup}},
    KnownTag{"option", {kBlock, kOption}},
    KnownTag{"p", {kBlock, kParagraph}},
    KnownTag{"param", {kNone, kVoid}},
    KnownTag{"plaintext", {kBlock, kPreformatted | kRawText}},
    KnownTag{"pre", {kBlock, kPreformatted}},
    KnownTag{"rp", {kNone, 0}},
    KnownTag{"script", {kNone, kRawText}},
    KnownTag{"search", {kBlock, 0}},
    KnownTag{"section", {kBlock, 0}},
    KnownTag{"select", {kInline, kSelect}},
    KnownTag{"source", {kNone, kVoid}},
    KnownTag{"style", {kNone, kRawText}},
    KnownTag{"summary", {kBlock, kSummary}},
    KnownTag{"table", {Display::Table, 0}},
    KnownTag{"td", {Display::TableCell, 0}},
    KnownTag{"template", {kNone, kTemplate}},
    KnownTag{"textarea", {kInline, kReplaced | kPreformatted}},
    KnownTag{"th", {Display::TableCell, 0}},
    KnownTag{"title", {kNone, 0}},
    KnownTag{"tr", {Display::TableRow, 0}},
    KnownTag{"track", {kNone, kVoid}},
    KnownTag{"ul", {kBlock, 0}},
    KnownTag{"video", {kInline, kReplaced}},
    KnownTag{"wbr", {kInline, kVoid}},
    KnownTag{"xmp", {kBlock, kPreformatted | kRawText}},
};

static_assert(std::is_sorted(kKnownTags.begin(), kKnownTags.end(),
                             [](const KnownTag& a, const KnownTag& b) { return a.name < b.name; }));

std::optional<Display> DisplayFromValue(std::string_view value) {
  constexpr std::array<std::pair<std::string_view, Display>, 15> kValues{{
      {"none", Display::None},
      {"block", Display::Block},
      {"list-item", Display::Block},
      {"flex", Display::Block},
      {"grid", Display::Block},
      {"flow-root", Display::Block},
      {"table-caption", Display::Block},
      {"table", Display::Table},
      {"table-row", Display::TableRow},
      {"table-cell", Display::TableCell},
      {"inline", Display::Inline},
      {"inline-block", Display::Inline},
      {"inline-flex", Display::Inline},
      {"inline-grid", Display::Inline},
      {"inline-table", Display::Inline},
  }};
  for (const auto& [name, display] : kValues) {
    if (text::EqualsIgnoringAsciiCase(value, name)) {
      return display;
    }
  }
  return std::nullopt;
}

}  // namespace

TagTraits TraitsOf(std::string_view name) {
  constexpr std::size_t kLongestKnown = 10;
  if (name.empty() || name.size() > kLongestKnown) {
    return {};
  }
  std::array<char, kLongestKnown> lower{};
  for (std::size_t i = 0; i < name.size(); ++i) {
    lower[i] = text::ToLowerAscii(name[i]);
  }
  const std::string_view key(lower.data(), name.size());
  const auto* found =
      std::lower_bound(kKnownTags.begin(), kKnownTags.end(), key,
                       [](const KnownTag& tag, std::string_view k) { return tag.name < k; });
  if (found != kKnownTags.end() && found->name == key) {
    return found->traits;
  }
  return {};
}

bool DisplayFromStyle(std::string_view style, Display& display) {
  bool found = false;
  while (!style.empty()) {
    const std::size_t end = std::min(style.find(';'), style.size());
    const std::string_view declaration = style.substr(0, end);
    style.remove_prefix(std::min(end + 1, style.size()));
    const std::size_t colon = declaration.find(':');
    if (colon == std::string_view::npos ||
        !text::EqualsIgnoringAsciiCase(text::TrimAsciiWhitespace(declaration.substr(0, colon)),
                                       "display")) {
      continue;
    }
    std::string_view value = text::TrimAsciiWhitespace(declaration.substr(colon + 1));
    if (const std::size_t bang = value.find('!'); bang != std::string_view::npos) {
      value = text::TrimAsciiWhitespace(value.substr(0, bang));  // "none !important"
    }
    if (const auto parsed = DisplayFromValue(value)) {
      display = *parsed;
      found = true;
    }
  }
  return found;
}

}  // namespace vexel::html::tags
