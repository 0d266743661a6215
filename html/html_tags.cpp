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
constexpr std::uint32_t kBlockRoles = parse::kClosesP | parse::kSpecial;
constexpr std::uint32_t kRawSpecial = parse::kRaw | parse::kSpecial;

struct KnownTag {
  std::string_view name;
  TagTraits traits;
};

// Sorted by name for the binary search below. Displays follow the user-agent
// style sheet of the HTML standard; noscript counts as hidden because pages
// are shown with scripting enabled. The flags and the scan's roles differ
// where the serialiser and the tokenizer do: title and textarea are raw text
// to the tokenizer but escaped when written; image is void to the parser,
// which turns it into img, so no document holds one.
constexpr std::array kKnownTags{
    KnownTag{"a", {kInline, 0, parse::kReopens}},
    KnownTag{"address", {kBlock, 0, kBlockRoles | parse::kLiTransparent}},
    KnownTag{"applet", {kInline, 0, parse::kSpecial | parse::kScopeBoundary}},
    KnownTag{"area", {kNone, kVoid, parse::kVoid}},
    KnownTag{"article", {kBlock, 0, kBlockRoles}},
    KnownTag{"aside", {kBlock, 0, kBlockRoles}},
    KnownTag{"audio", {kInline, kReplaced, 0}},
    KnownTag{"base", {kNone, kVoid, parse::kVoid}},
    KnownTag{"basefont", {kNone, kVoid, parse::kVoid}},
    KnownTag{"bgsound", {kNone, kVoid, parse::kVoid}},
    KnownTag{"blockquote", {kBlock, 0, kBlockRoles}},
    KnownTag{"body", {kBlock, 0, parse::kNotCounted}},
    KnownTag{"br", {kInline, kVoid | kLineBreak, parse::kVoid}},
    KnownTag{"button", {kInline, 0, parse::kReopens | parse::kSpecial | parse::kButton}},
    KnownTag{"canvas", {kInline, kReplaced, 0}},
    KnownTag{"caption", {kBlock, 0, parse::kSpecial | parse::kScopeBoundary}},
    KnownTag{"center", {kBlock, 0, kBlockRoles}},
    KnownTag{"col", {kInline, kVoid, parse::kVoid}},
    KnownTag{"datalist", {kNone, 0, 0}},
    KnownTag{"dd", {kBlock, 0, kBlockRoles | parse::kDefinition}},
    KnownTag{"details", {kBlock, kDetails, kBlockRoles}},
    KnownTag{"dialog", {kBlock, kDialog, kBlockRoles}},
    KnownTag{"dir", {kBlock, 0, kBlockRoles}},
    KnownTag{"div", {kBlock, 0, kBlockRoles | parse::kLiTransparent}},
    KnownTag{"dl", {kBlock, 0, kBlockRoles}},
    KnownTag{"dt", {kBlock, 0, kBlockRoles | parse::kDefinition}},
    KnownTag{"embed", {kInline, kVoid | kReplaced, parse::kVoid}},
    KnownTag{"fieldset", {kBlock, 0, kBlockRoles}},
    KnownTag{"figcaption", {kBlock, 0, kBlockRoles}},
    KnownTag{"figure", {kBlock, 0, kBlockRoles}},
    KnownTag{"footer", {kBlock, 0, kBlockRoles}},
    KnownTag{"form", {kBlock, 0, kBlockRoles | parse::kForm}},
    KnownTag{"frame", {kBlock, kVoid, parse::kVoid}},
    KnownTag{"frameset", {kBlock, 0, parse::kNotCounted}},
    KnownTag{"h1", {kBlock, 0, kBlockRoles | parse::kHeading}},
    KnownTag{"h2", {kBlock, 0, kBlockRoles | parse::kHeading}},
    KnownTag{"h3", {kBlock, 0, kBlockRoles | parse::kHeading}},
    KnownTag{"h4", {kBlock, 0, kBlockRoles | parse::kHeading}},
    KnownTag{"h5", {kBlock, 0, kBlockRoles | parse::kHeading}},
    KnownTag{"h6", {kBlock, 0, kBlockRoles | parse::kHeading}},
    KnownTag{"head", {kNone, 0, parse::kNotCounted}},
    KnownTag{"header", {kBlock, 0, kBlockRoles}},
    KnownTag{"hgroup", {kBlock, 0, kBlockRoles}},
    KnownTag{"hr", {kBlock, kVoid, parse::kVoid}},
    KnownTag{"html", {kBlock, 0, parse::kNotCounted}},
    KnownTag{"iframe", {kInline, kReplaced | kRawText, kRawSpecial}},
    KnownTag{"image", {kInline, 0, parse::kVoid}},
    KnownTag{"img", {kInline, kVoid | kReplaced, parse::kVoid}},
    KnownTag{"input", {kInline, kVoid | kReplaced | kInput, parse::kVoid}},
    KnownTag{"keygen", {kInline, kVoid | kReplaced, parse::kVoid}},
    KnownTag{"legend", {kBlock, 0, 0}},
    KnownTag{"li", {kBlock, 0, kBlockRoles | parse::kListItem}},
    KnownTag{"link", {kNone, kVoid, parse::kVoid}},
    KnownTag{"listing", {kBlock, kPreformatted, kBlockRoles}},
    KnownTag{"main", {kBlock, 0, kBlockRoles}},
    KnownTag{"marquee", {kInline, 0, parse::kSpecial | parse::kScopeBoundary}},
    KnownTag{"math", {kInline, 0, parse::kForeign}},
    KnownTag{"menu", {kBlock, 0, kBlockRoles}},
    KnownTag{"meta", {kNone, kVoid, parse::kVoid}},
    KnownTag{"nav", {kBlock, 0, kBlockRoles}},
    KnownTag{"nobr", {kInline, 0, parse::kReopens}},
    KnownTag{"noembed", {kNone, kRawText, kRawSpecial}},
    KnownTag{"noframes", {kNone, kRawText, kRawSpecial}},
    KnownTag{"noscript", {kNone, 0, 0}},
    KnownTag{"object", {kInline, kReplaced, parse::kSpecial | parse::kScopeBoundary}},
    KnownTag{"ol", {kBlock, 0, kBlockRoles}},
    KnownTag{"optgroup", {kBlock, kOptgroup, parse::kOptgroup}},
    KnownTag{"option", {kBlock, kOption, parse::kOption}},
    KnownTag{"p", {kBlock, kParagraph, kBlockRoles | parse::kLiTransparent}},
    KnownTag{"param", {kNone, kVoid, parse::kVoid}},
    KnownTag{"plaintext", {kBlock, kPreformatted | kRawText, kBlockRoles | parse::kPlaintext}},
    KnownTag{"pre", {kBlock, kPreformatted, kBlockRoles}},
    KnownTag{"rp", {kNone, 0, 0}},
    KnownTag{"script", {kNone, kRawText, kRawSpecial}},
    KnownTag{"search", {kBlock, 0, kBlockRoles}},
    KnownTag{"section", {kBlock, 0, kBlockRoles}},
    KnownTag{"select", {kInline, kSelect, parse::kReopens | parse::kSpecial}},
    KnownTag{"source", {kNone, kVoid, parse::kVoid}},
    KnownTag{"style", {kNone, kRawText, kRawSpecial}},
    KnownTag{"summary", {kBlock, kSummary, kBlockRoles}},
    KnownTag{"svg", {kInline, 0, parse::kForeign}},
    KnownTag{"table",
             {Display::Table, 0,
              parse::kTable | parse::kSpecial | parse::kScopeBoundary | parse::kTableBoundary}},
    KnownTag{"tbody", {kInline, 0, parse::kSection | parse::kSpecial}},
    KnownTag{"td", {Display::TableCell, 0, parse::kCell | parse::kSpecial | parse::kScopeBoundary}},
    KnownTag{"template",
             {kNone, kTemplate, parse::kSpecial | parse::kScopeBoundary | parse::kTableBoundary}},
    KnownTag{"textarea", {kInline, kReplaced | kPreformatted, kRawSpecial}},
    KnownTag{"tfoot", {kInline, 0, parse::kSection | parse::kSpecial}},
    KnownTag{"th", {Display::TableCell, 0, parse::kCell | parse::kSpecial | parse::kScopeBoundary}},
    KnownTag{"thead", {kInline, 0, parse::kSection | parse::kSpecial}},
    KnownTag{"title", {kNone, 0, kRawSpecial}},
    KnownTag{"tr", {Display::TableRow, 0, parse::kRow | parse::kSpecial}},
    KnownTag{"track", {kNone, kVoid, parse::kVoid}},
    KnownTag{"ul", {kBlock, 0, kBlockRoles}},
    KnownTag{"video", {kInline, kReplaced, 0}},
    KnownTag{"wbr", {kInline, kVoid, parse::kVoid}},
    KnownTag{"xmp", {kBlock, kPreformatted | kRawText, kRawSpecial}},
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
