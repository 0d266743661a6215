#include "download/comic_info.h"

#include "text/text.h"

namespace vexel::download {
namespace {

void AppendEscaped(std::string& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
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
        // XML 1.0 has no place for other control characters.
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r') {
          out += c;
        }
    }
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
