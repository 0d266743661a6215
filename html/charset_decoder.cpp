#include "html/charset_decoder.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "html/charset_names.h"
#include "html/iconv_handle.h"
#include "text/text.h"

namespace vexel::html {
namespace {

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

}  // namespace vexel::html
