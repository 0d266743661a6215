// Where a page names its charset: the Content-Type header's charset
// parameter, and the HTML standard's prescan of the first 1024 bytes for a
// <meta charset> or <meta http-equiv content>. Decoding itself is in
// charset_decoder.cpp.
#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "html/charset_decoder.h"
#include "html/charset_names.h"
#include "text/text.h"

namespace vexel::html {
namespace {

// The charset named in a meta content value ("text/html; charset=gbk"), as
// the HTML standard extracts it.
std::string_view CharsetFromMetaContent(std::string_view content) {
  std::size_t pos = 0;
  while (true) {
    std::size_t found = std::string_view::npos;
    for (std::size_t i = pos; i + 7 <= content.size(); ++i) {
      if (text::StartsWithIgnoringAsciiCase(content.substr(i), "charset")) {
        found = i;
        break;
      }
    }
    if (found == std::string_view::npos) {
      return {};
    }
    pos = found + 7;
    while (pos < content.size() && text::IsAsciiWhitespace(content[pos])) {
      ++pos;
    }
    if (pos < content.size() && content[pos] == '=') {
      break;
    }
  }
  ++pos;
  while (pos < content.size() && text::IsAsciiWhitespace(content[pos])) {
    ++pos;
  }
  if (pos >= content.size()) {
    return {};
  }
  if (content[pos] == '"' || content[pos] == '\'') {
    const std::size_t close = content.find(content[pos], pos + 1);
    if (close == std::string_view::npos) {
      return {};
    }
    return content.substr(pos + 1, close - pos - 1);
  }
  std::size_t end = pos;
  while (end < content.size() && !text::IsAsciiWhitespace(content[end]) && content[end] != ';') {
    ++end;
  }
  return content.substr(pos, end - pos);
}

// The HTML standard's "get an attribute" over the prescan window. Names and
// values come out in lower case. False when the window ends first or the tag
// has no more attributes.
struct PrescanAttribute {
  std::string name;
  std::string value;
};

bool GetAttribute(std::string_view bytes, std::size_t& pos, PrescanAttribute& attribute) {
  attribute.name.clear();
  attribute.value.clear();
  while (pos < bytes.size() && (text::IsAsciiWhitespace(bytes[pos]) || bytes[pos] == '/')) {
    ++pos;
  }
  if (pos >= bytes.size() || bytes[pos] == '>') {
    return false;
  }
  // Name.
  while (true) {
    if (pos >= bytes.size()) {
      return false;
    }
    const char c = bytes[pos];
    if (c == '=' && !attribute.name.empty()) {
      ++pos;
      break;
    }
    if (text::IsAsciiWhitespace(c)) {
      while (pos < bytes.size() && text::IsAsciiWhitespace(bytes[pos])) {
        ++pos;
      }
      if (pos >= bytes.size()) {
        return false;
      }
      if (bytes[pos] != '=') {
        return true;  // an attribute without a value
      }
      ++pos;
      break;
    }
    if (c == '/' || c == '>') {
      return true;
    }
    attribute.name.push_back(text::ToLowerAscii(c));
    ++pos;
  }
  // Value.
  while (pos < bytes.size() && text::IsAsciiWhitespace(bytes[pos])) {
    ++pos;
  }
  if (pos >= bytes.size()) {
    return false;
  }
  if (bytes[pos] == '"' || bytes[pos] == '\'') {
    const char quote = bytes[pos++];
    while (pos < bytes.size() && bytes[pos] != quote) {
      attribute.value.push_back(text::ToLowerAscii(bytes[pos++]));
    }
    if (pos >= bytes.size()) {
      return false;
    }
    ++pos;
    return true;
  }
  if (bytes[pos] == '>') {
    return true;
  }
  while (pos < bytes.size() && !text::IsAsciiWhitespace(bytes[pos]) && bytes[pos] != '>') {
    attribute.value.push_back(text::ToLowerAscii(bytes[pos++]));
  }
  return pos < bytes.size();
}

}  // namespace

std::string_view PrescanMetaCharset(std::string_view bytes) {
  bytes = bytes.substr(0, 1024);
  std::size_t pos = 0;
  PrescanAttribute attribute;
  while (pos < bytes.size()) {
    const std::string_view rest = bytes.substr(pos);
    if (rest.starts_with("<!--")) {
      const std::size_t close = bytes.find("-->", pos + 2);
      if (close == std::string_view::npos) {
        return {};
      }
      pos = close + 3;
      continue;
    }
    if (text::StartsWithIgnoringAsciiCase(rest, "<meta") && rest.size() > 5 &&
        (text::IsAsciiWhitespace(rest[5]) || rest[5] == '/')) {
      pos += 5;
      bool got_pragma = false;
      std::optional<bool> need_pragma;
      std::string charset;
      std::vector<std::string> seen;
      while (GetAttribute(bytes, pos, attribute)) {
        if (std::find(seen.begin(), seen.end(), attribute.name) != seen.end()) {
          continue;
        }
        seen.push_back(attribute.name);
        if (attribute.name == "http-equiv") {
          got_pragma = got_pragma || attribute.value == "content-type";
        } else if (attribute.name == "content" && charset.empty()) {
          const std::string_view found = CharsetFromMetaContent(attribute.value);
          if (!found.empty()) {
            charset = found;
            need_pragma = true;
          }
        } else if (attribute.name == "charset") {
          charset = attribute.value;
          need_pragma = false;
        }
      }
      if (!need_pragma || (*need_pragma && !got_pragma) || charset.empty()) {
        continue;
      }
      std::string_view canonical = CanonicalEncoding(charset);
      if (canonical == kUtf16Le || canonical == kUtf16Be) {
        canonical = kUtf8;  // a page that can declare itself in ASCII is not UTF-16
      }
      if (!canonical.empty()) {
        return canonical;
      }
      continue;
    }
    if (rest.size() > 1 && rest[0] == '<' &&
        (text::IsAsciiLetter(rest[1]) ||
         (rest[1] == '/' && rest.size() > 2 && text::IsAsciiLetter(rest[2])))) {
      while (pos < bytes.size() && !text::IsAsciiWhitespace(bytes[pos]) && bytes[pos] != '>') {
        ++pos;
      }
      while (GetAttribute(bytes, pos, attribute)) {
      }
      continue;
    }
    if (rest.starts_with("<!") || rest.starts_with("</") || rest.starts_with("<?")) {
      const std::size_t close = bytes.find('>', pos + 2);
      if (close == std::string_view::npos) {
        return {};
      }
      pos = close + 1;
      continue;
    }
    ++pos;
  }
  return {};
}

std::string CharsetFromContentType(std::string_view content_type) {
  // Parameters follow the media type, separated by ';'.
  std::size_t pos = content_type.find(';');
  while (pos != std::string_view::npos) {
    ++pos;
    while (pos < content_type.size() && text::IsAsciiWhitespace(content_type[pos])) {
      ++pos;
    }
    const std::size_t equals = content_type.find('=', pos);
    if (equals == std::string_view::npos) {
      return {};
    }
    const std::string_view name = text::TrimAsciiWhitespace(content_type.substr(pos, equals - pos));
    std::size_t value_begin = equals + 1;
    std::string value;
    std::size_t next = std::string_view::npos;
    if (value_begin < content_type.size() && content_type[value_begin] == '"') {
      ++value_begin;
      std::size_t i = value_begin;
      while (i < content_type.size() && content_type[i] != '"') {
        if (content_type[i] == '\\' && i + 1 < content_type.size()) {
          ++i;
        }
        value.push_back(content_type[i++]);
      }
      next = content_type.find(';', i);
    } else {
      next = content_type.find(';', value_begin);
      value = text::TrimAsciiWhitespace(
          content_type.substr(value_begin, next == std::string_view::npos ? std::string_view::npos
                                                                          : next - value_begin));
    }
    if (text::EqualsIgnoringAsciiCase(name, "charset")) {
      return value;
    }
    pos = next;
  }
  return {};
}

}  // namespace vexel::html
