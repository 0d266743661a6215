#include "download/comic_info.h"

#include <cstddef>
#include <cstdint>

#include "text/text.h"

namespace vexel::download {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

struct Character {
  std::size_t length = 1;  // bytes
  bool allowed = false;
};

// The character at the start of `text`: a lead byte with its continuation
// bytes, or one byte that does not begin one. It is allowed when XML 1.0
// allows it (tab, line feed, carriage return, U+0020 to U+D7FF, U+E000 to
// U+FFFD, U+10000 to U+10FFFF) and is written in its shortest form; a
// reader's parser refuses the rest.
Character CharacterAt(std::string_view text) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) {
    return {1, lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r'};
  }
  std::size_t length = 0;
  std::uint32_t code = 0;
  if (lead >= 0xC0 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1FU;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0FU;
  } else if (lead >= 0xF0 && lead <= 0xF7) {
    length = 4;
    code = lead & 0x07U;
  } else {
    return {};
  }
  if (text.size() < length) {
    return {};
  }
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0U) != 0x80) {
      return {};
    }
    code = (code << 6) | (byte(i) & 0x3FU);
  }
  static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  return {length, code >= kSmallest[length] && code <= 0x10FFFF &&
                      (code < 0xD800 || code > 0xDFFF) && code != 0xFFFE && code != 0xFFFF};
}

// `text` escaped for element content; every character XML does not allow,
// and every byte that begins no character, becomes U+FFFD, so that a page's title can never make
// the document one that a comic reader refuses to read.
void AppendEscaped(std::string& out, std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const Character character = CharacterAt(text.substr(i));
    const std::size_t length = character.length;
    if (!character.allowed) {
      out += kReplacement;
      i += length;
      continue;
    }
    switch (text[i]) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out.append(text.substr(i, length));
    }
    i += length;
  }
}

void AppendElement(std::string& out, std::string_view name, std::string_view value) {
  out.append("  <").append(name).append(">");
  AppendEscaped(out, value);
  out.append("</").append(name).append(">\n");
}

}  // namespace

ComicInfo ComicInfoFor(std::string_view shown_title, std::int32_t page_count, std::string web) {
  ComicInfo info;
  const std::size_t split = shown_title.find(" > ");
  if (split == std::string_view::npos) {
    info.title = std::string(text::TrimSpaces(shown_title));
  } else {
    info.series = std::string(text::TrimSpaces(shown_title.substr(0, split)));
    info.title = std::string(text::TrimSpaces(shown_title.substr(split + 3)));
  }
  const std::size_t digit = info.title.find_first_of("0123456789");
  if (digit != std::string::npos) {
    const std::size_t end = info.title.find_first_not_of("0123456789", digit);
    info.number = info.title.substr(digit, end - digit);
    // "第05话" is number 5.
    while (info.number.size() > 1 && info.number.front() == '0') {
      info.number.erase(0, 1);
    }
  }
  info.page_count = page_count;
  info.web = std::move(web);
  return info;
}

std::string ComicInfoXml(const ComicInfo& info) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<ComicInfo xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
  AppendElement(xml, "Title", info.title);
  if (!info.series.empty()) {
    AppendElement(xml, "Series", info.series);
  }
  if (!info.number.empty()) {
    AppendElement(xml, "Number", info.number);
  }
  AppendElement(xml, "Web", info.web);
  AppendElement(xml, "PageCount", std::to_string(info.page_count));
  AppendElement(xml, "LanguageISO", "zh");
  xml += "</ComicInfo>\n";
  return xml;
}

}  // namespace vexel::download
