#include "download/chapter_plan.h"

#include <cctype>
#include <cstdint>
#include <limits>
#include <utility>

#include "download/outcome_texts.h"
#include "text/text.h"

namespace vexel::download {
namespace {

// As a browser reads a numeric character reference: NUL, surrogates and
// numbers past Unicode become U+FFFD.
void AppendUtf8(std::string& text, std::uint32_t code) {
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    code = 0xFFFD;
  }
  if (code < 0x80) {
    text += static_cast<char>(code);
  } else if (code < 0x800) {
    text += static_cast<char>(0xC0 | (code >> 6));
    text += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    text += static_cast<char>(0xE0 | (code >> 12));
    text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | (code >> 18));
    text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (code & 0x3F));
  }
}

}  // namespace

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
  std::string shown(text::TrimSpaces(title));
  return ChapterLine{text::ReplaceAll(shown, " >", "-"), static_cast<std::int32_t>(count->value),
                     std::move(shown)};
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
  return DecodeCharacterReferences(tag.substr(a, b - a));
}

std::string DecodeCharacterReferences(std::string_view markup) {
  static constexpr std::pair<std::string_view, std::string_view> kNamed[] = {
      {"amp;", "&"}, {"quot;", "\""}, {"apos;", "'"}, {"lt;", "<"}, {"gt;", ">"}};
  std::string text;
  text.reserve(markup.size());
  std::size_t i = 0;
  while (i < markup.size()) {
    if (markup[i] != '&') {
      text += markup[i++];
      continue;
    }
    const std::string_view rest = markup.substr(i + 1);
    bool replaced = false;
    for (const auto& [name, character] : kNamed) {
      if (rest.starts_with(name)) {
        text += character;
        i += 1 + name.size();
        replaced = true;
        break;
      }
    }
    if (!replaced && rest.starts_with('#')) {
      const bool hex = rest.size() > 1 && (rest[1] == 'x' || rest[1] == 'X');
      std::size_t j = hex ? 2 : 1;
      std::uint32_t code = 0;
      const std::size_t digits_start = j;
      while (j < rest.size() && j - digits_start < 8 &&
             (hex ? std::isxdigit(static_cast<unsigned char>(rest[j])) != 0
                  : std::isdigit(static_cast<unsigned char>(rest[j])) != 0)) {
        const char c = rest[j];
        const std::uint32_t digit = c <= '9' ? static_cast<std::uint32_t>(c - '0')
                                             : static_cast<std::uint32_t>((c | 0x20) - 'a' + 10);
        code = code * (hex ? 16 : 10) + digit;
        ++j;
      }
      if (j > digits_start && j < rest.size() && rest[j] == ';') {
        AppendUtf8(text, code);
        i += 1 + j + 1;
        replaced = true;
      }
    }
    if (!replaced) {
      text += markup[i++];
    }
  }
  return text;
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

std::string FitFolderName(std::string_view name, std::size_t reserved) {
  if (name.size() + reserved <= kMaxNameBytes) {
    return std::string(name);
  }
  std::size_t length = reserved < kMaxNameBytes ? kMaxNameBytes - reserved : 0;
  // Back to the first byte of a character, so that no half character is
  // left at the end: a name that is not UTF-8 shows as garbage, and some
  // file systems refuse it.
  while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0U) == 0x80) {
    --length;
  }
  return std::string(name.substr(0, length));
}

std::string PageReference(const ChapterPlan& plan, std::int64_t page) {
  return plan.UrlPrefix + std::to_string(page) + plan.Extension;
}

std::string FileExtension(std::string_view extension) {
  return std::string(extension.substr(0, extension.find_first_of("?#")));
}

std::string PaddedPageNumber(std::int64_t page, std::int32_t page_count) {
  std::string number = std::to_string(page);
  const std::size_t width = std::to_string(page_count).size();
  if (number.size() < width) {
    number.insert(0, width - number.size(), '0');
  }
  return number;
}

std::string PageFilePath(const ChapterPlan& plan, std::int64_t page, bool padded) {
  return plan.Folder + (padded ? PaddedPageNumber(page, plan.PageCount) : std::to_string(page)) +
         FileExtension(plan.Extension);
}

std::string PageFilePath(const ChapterPlan& plan, std::int64_t page) {
  return PageFilePath(plan, page, plan.PadPages);
}

}  // namespace vexel::download
