#include "html/charset_decoder.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "html/iconv_handle.h"
#include "text/text.h"

namespace vexel::html {
namespace {

constexpr std::string_view kUtf8 = "UTF-8";
constexpr std::string_view kUtf16Le = "UTF-16LE";
constexpr std::string_view kUtf16Be = "UTF-16BE";
constexpr std::string_view kGb18030 = "GB18030";
constexpr std::string_view kBig5 = "Big5";
constexpr std::string_view kShiftJis = "Shift_JIS";
constexpr std::string_view kEucKr = "EUC-KR";
constexpr std::string_view kEucJp = "EUC-JP";
constexpr std::string_view kWindows1252 = "windows-1252";
constexpr std::string_view kWindows1251 = "windows-1251";
constexpr std::string_view kKoi8R = "KOI8-R";

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Labels of the WHATWG Encoding standard for the encodings decoded here.
constexpr std::array<std::pair<std::string_view, std::string_view>, 80> kLabels{{
    {"unicode-1-1-utf-8", kUtf8},
    {"unicode11utf8", kUtf8},
    {"unicode20utf8", kUtf8},
    {"utf-8", kUtf8},
    {"utf8", kUtf8},
    {"x-unicode20utf8", kUtf8},
    {"chinese", kGb18030},
    {"csgb2312", kGb18030},
    {"csiso58gb231280", kGb18030},
    {"gb18030", kGb18030},
    {"gb2312", kGb18030},
    {"gb_2312", kGb18030},
    {"gb_2312-80", kGb18030},
    {"gbk", kGb18030},
    {"iso-ir-58", kGb18030},
    {"x-gbk", kGb18030},
    {"big5", kBig5},
    {"big5-hkscs", kBig5},
    {"cn-big5", kBig5},
    {"csbig5", kBig5},
    {"x-x-big5", kBig5},
    {"csshiftjis", kShiftJis},
    {"ms932", kShiftJis},
    {"ms_kanji", kShiftJis},
    {"shift-jis", kShiftJis},
    {"shift_jis", kShiftJis},
    {"sjis", kShiftJis},
    {"windows-31j", kShiftJis},
    {"x-sjis", kShiftJis},
    {"cseuckr", kEucKr},
    {"csksc56011987", kEucKr},
    {"euc-kr", kEucKr},
    {"iso-ir-149", kEucKr},
    {"korean", kEucKr},
    {"ks_c_5601-1987", kEucKr},
    {"ks_c_5601-1989", kEucKr},
    {"ksc5601", kEucKr},
    {"ksc_5601", kEucKr},
    {"windows-949", kEucKr},
    {"cseucpkdfmtjapanese", kEucJp},
    {"euc-jp", kEucJp},
    {"x-euc-jp", kEucJp},
    {"ansi_x3.4-1968", kWindows1252},
    {"ascii", kWindows1252},
    {"cp1252", kWindows1252},
    {"cp819", kWindows1252},
    {"csisolatin1", kWindows1252},
    {"ibm819", kWindows1252},
    {"iso-8859-1", kWindows1252},
    {"iso-ir-100", kWindows1252},
    {"iso8859-1", kWindows1252},
    {"iso88591", kWindows1252},
    {"iso_8859-1", kWindows1252},
    {"iso_8859-1:1987", kWindows1252},
    {"l1", kWindows1252},
    {"latin1", kWindows1252},
    {"us-ascii", kWindows1252},
    {"windows-1252", kWindows1252},
    {"x-cp1252", kWindows1252},
    {"cp1251", kWindows1251},
    {"windows-1251", kWindows1251},
    {"x-cp1251", kWindows1251},
    {"cskoi8r", kKoi8R},
    {"koi", kKoi8R},
    {"koi8", kKoi8R},
    {"koi8-r", kKoi8R},
    {"koi8_r", kKoi8R},
    {"csunicode", kUtf16Le},
    {"iso-10646-ucs-2", kUtf16Le},
    {"ucs-2", kUtf16Le},
    {"unicode", kUtf16Le},
    {"unicodefeff", kUtf16Le},
    {"utf-16", kUtf16Le},
    {"utf-16le", kUtf16Le},
    {"unicodefffe", kUtf16Be},
    {"utf-16be", kUtf16Be},
    {"x-mac-cyrillic", {}},  // known to the standard, not decoded here
    {"x-user-defined", {}},
    {"replacement", {}},
    {"iso-2022-kr", {}},
}};

// glibc's converter for each canonical name decoded through iconv. The
// Microsoft code pages are the supersets that browsers decode these labels
// with.
std::optional<const char*> IconvName(std::string_view canonical) {
  constexpr std::array<std::pair<std::string_view, const char*>, 8> kNames{{
      {kGb18030, "GB18030"},
      {kBig5, "BIG5-HKSCS"},
      {kShiftJis, "CP932"},
      {kEucKr, "CP949"},
      {kEucJp, "EUC-JP"},
      {kWindows1252, "CP1252"},
      {kWindows1251, "CP1251"},
      {kKoi8R, "KOI8-R"},
  }};
  for (const auto& [name, iconv_name] : kNames) {
    if (name == canonical) {
      return iconv_name;
    }
  }
  return std::nullopt;
}

void AppendCodePoint(std::uint32_t code_point, std::string& out) {
  if (code_point < 0x80) {
    out.push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

// The length of the valid UTF-8 sequence at `pos`, or 0 when it is invalid;
// `bad` then tells how many bytes form its maximal invalid subpart (at least
// one), per the WHATWG UTF-8 decoder.
std::size_t Utf8SequenceAt(std::string_view text, std::size_t pos, std::size_t& bad) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x80) {
    return 1;
  }
  std::size_t needed = 0;
  unsigned char lower = 0x80;
  unsigned char upper = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    needed = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    needed = 2;
    lower = lead == 0xE0 ? 0xA0 : 0x80;
    upper = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    needed = 3;
    lower = lead == 0xF0 ? 0x90 : 0x80;
    upper = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    bad = 1;
    return 0;
  }
  for (std::size_t i = 1; i <= needed; ++i) {
    if (pos + i >= text.size()) {
      bad = i;
      return 0;
    }
    const auto byte = static_cast<unsigned char>(text[pos + i]);
    if (byte < lower || byte > upper) {
      bad = i;  // the offending byte starts the next sequence
      return 0;
    }
    lower = 0x80;
    upper = 0xBF;
  }
  return needed + 1;
}

std::string DecodeUtf16(std::string_view bytes, bool big_endian) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  const auto unit_at = [&](std::size_t pos) {
    const auto first = static_cast<unsigned char>(bytes[pos]);
    const auto second = static_cast<unsigned char>(bytes[pos + 1]);
    return big_endian ? static_cast<std::uint32_t>((first << 8) | second)
                      : static_cast<std::uint32_t>((second << 8) | first);
  };
  std::size_t pos = 0;
  while (pos + 1 < bytes.size()) {
    const std::uint32_t unit = unit_at(pos);
    pos += 2;
    if (unit >= 0xD800 && unit <= 0xDBFF && pos + 1 < bytes.size()) {
      const std::uint32_t low = unit_at(pos);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        pos += 2;
        AppendCodePoint(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), out);
        continue;
      }
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      out.append(kReplacement);
    } else {
      AppendCodePoint(unit, out);
    }
  }
  if (pos < bytes.size()) {
    out.append(kReplacement);  // an odd byte at the end
  }
  return out;
}

std::string DecodeWithIconv(std::string_view bytes, const char* iconv_name, bool windows1252) {
  const IconvHandle handle = OpenIconv("UTF-8", iconv_name);
  if (!handle) {
    return RepairUtf8(bytes);  // no converter on this system: read as UTF-8
  }
  // Converted through a small buffer and appended, so that only the bytes
  // written are ever touched: the reservation (room for every two-byte
  // character to become three) costs address space, not memory.
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2 + 16);
  std::array<char, 16384> chunk{};
  // iconv's interface takes non-const input, but never writes through it.
  char* in = const_cast<char*>(bytes.data());
  std::size_t in_left = bytes.size();
  bool input_done = false;
  while (true) {
    char* chunk_pointer = chunk.data();
    std::size_t chunk_left = chunk.size();
    // With the input consumed, one last call returns a stateful encoding to
    // its initial shift state.
    const std::size_t result =
        input_done ? iconv(handle.get(), nullptr, nullptr, &chunk_pointer, &chunk_left)
                   : iconv(handle.get(), &in, &in_left, &chunk_pointer, &chunk_left);
    const int error = errno;
    out.append(chunk.data(), chunk.size() - chunk_left);
    if (result != static_cast<std::size_t>(-1)) {
      if (input_done) {
        break;
      }
      input_done = true;
      continue;
    }
    if (error == E2BIG) {
      continue;  // the chunk is full: go round again
    }
    if (input_done) {
      break;
    }
    if (error == EILSEQ) {
      if (windows1252) {
        // The five bytes windows-1252 leaves undefined are C1 controls in
        // browsers; glibc refuses them.
        AppendCodePoint(static_cast<unsigned char>(*in), out);
      } else {
        out.append(kReplacement);
      }
      ++in;
      --in_left;
    } else {
      out.append(kReplacement);  // a sequence cut off by the end of the input
      in_left = 0;
      input_done = true;
    }
  }
  return out;
}

std::string DecodeAs(std::string_view bytes, std::string_view canonical) {
  if (canonical == kUtf16Le || canonical == kUtf16Be) {
    return DecodeUtf16(bytes, canonical == kUtf16Be);
  }
  if (const auto iconv_name = IconvName(canonical)) {
    return DecodeWithIconv(bytes, *iconv_name, canonical == kWindows1252);
  }
  return RepairUtf8(bytes);
}

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

std::string_view CanonicalEncoding(std::string_view label) {
  const std::string_view trimmed = text::TrimAsciiWhitespace(label);
  for (const auto& [name, canonical] : kLabels) {
    if (text::EqualsIgnoringAsciiCase(trimmed, name)) {
      return canonical;
    }
  }
  return {};
}

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

bool IsValidUtf8(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (static_cast<unsigned char>(text[pos]) < 0x80) {
      ++pos;
      continue;
    }
    std::size_t bad = 0;
    const std::size_t length = Utf8SequenceAt(text, pos, bad);
    if (length == 0) {
      return false;
    }
    pos += length;
  }
  return true;
}

std::string RepairUtf8(std::string_view bytes) {
  if (IsValidUtf8(bytes)) {
    return std::string(bytes);
  }
  std::string out;
  out.reserve(bytes.size() + 16);
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t bad = 0;
    const std::size_t length = Utf8SequenceAt(bytes, pos, bad);
    if (length == 0) {
      out.append(kReplacement);
      pos += bad;
    } else {
      out.append(bytes.substr(pos, length));
      pos += length;
    }
  }
  return out;
}

std::string DecodeToUtf8(std::string_view bytes, std::string_view declared_charset) {
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    return RepairUtf8(bytes.substr(3));
  }
  if (bytes.starts_with("\xFE\xFF")) {
    return DecodeUtf16(bytes.substr(2), true);
  }
  if (bytes.starts_with("\xFF\xFE")) {
    return DecodeUtf16(bytes.substr(2), false);
  }
  std::string_view encoding = CanonicalEncoding(declared_charset);
  if (encoding.empty()) {
    encoding = PrescanMetaCharset(bytes);
  }
  return DecodeAs(bytes, encoding.empty() ? kUtf8 : encoding);
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
