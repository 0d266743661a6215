#include "download/chapter_plan.h"

#include <limits>

#include "download/outcome_texts.h"
#include "query/query_text.h"

namespace vexel::download {

std::optional<ChapterLine> ReadChapterLine(std::string_view line) {
  const std::size_t p = text::Find(line, kCountMarker);
  if (p == text::kNotFound || p == 0) {
    return std::nullopt;
  }
  const std::optional<text::ScannedInteger> count =
      text::ScanAfterLiteral(line.substr(p), kCountMarker);
  // An error: a count that is missing or does not fit 32 bits means nothing.
  if (!count || count->overflowed || count->value < std::numeric_limits<std::int32_t>::min() ||
      count->value > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  const std::string title =
      text::ClampedSubstr(line, static_cast<std::int64_t>(kMarkerBytes),
                          static_cast<std::int64_t>(p) - static_cast<std::int64_t>(kMarkerBytes));
  return ChapterLine{text::ReplaceAll(text::TrimSpaces(title), " >", "-"),
                     static_cast<std::int32_t>(count->value)};
}

std::optional<std::string> ImageAddressFromTag(std::string_view tag) {
  const std::size_t q = text::Find(tag, kSrcMarker);
  if (q == text::kNotFound || q == 0) {
    return std::nullopt;
  }
  const std::size_t a = q + kSrcMarker.size();
  const std::size_t b = text::Find(tag, kSrcEnd, a);
  if (b == text::kNotFound || b <= a) {
    return std::nullopt;
  }
  return std::string(tag.substr(a, b - a));
}

std::optional<AddressPattern> SplitImageAddress(std::string_view address) {
  AddressPattern pattern{std::string(address), {}};
  for (std::size_t i = address.size(); i-- > 1;) {
    if (address[i] == '.') {
      pattern.extension = std::string(address.substr(i));
    }
    if (address[i] == '/') {
      pattern.url_prefix = std::string(address.substr(0, i + 1));
      break;
    }
  }
  if (pattern.url_prefix.empty() || pattern.extension.empty()) {
    return std::nullopt;
  }
  return pattern;
}

std::string SafeFolderName(std::string_view title) {
  if (title == ".") {
    return "_";
  }
  if (title == "..") {
    return "__";
  }
  std::string safe(title);
  for (char& c : safe) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '/' || byte < 0x20 || byte == 0x7F) {
      c = '_';
    }
  }
  // No hidden folders: a page must not be able to fill ".config" or
  // ".bashrc.d" in the folder the user downloads into (often the home
  // folder), and a hidden chapter would look lost.
  if (safe.starts_with('.')) {
    safe.front() = '_';
  }
  return safe;
}

std::string PageReference(const ChapterPlan& plan, std::int64_t page) {
  return plan.UrlPrefix + std::to_string(page) + plan.Extension;
}

std::string PageFilePath(const ChapterPlan& plan, std::int64_t page) {
  return plan.Folder + std::to_string(page) + plan.Extension;
}

}  // namespace vexel::download
