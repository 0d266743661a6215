// Markup bytes in whatever encoding a page uses, to UTF-8 text.
//
// The encoding is chosen as a browser chooses it: a byte-order mark first,
// then the charset the caller knows (from the HTTP Content-Type), then a
// <meta charset> / http-equiv declaration in the first 1,024 bytes, else
// UTF-8. Labels follow the WHATWG Encoding standard, so GBK and GB2312 read
// as GB18030 and ISO-8859-1 and ASCII as windows-1252. Bytes that do not
// decode become U+FFFD; the result is always valid UTF-8 (U+0000 stays a
// character of the text, so callers must use lengths, never C strings).
#pragma once

#include <string>
#include <string_view>

namespace vexel::html {

std::string DecodeToUtf8(std::string_view bytes, std::string_view declared_charset = {});

// The charset parameter of a Content-Type value ("text/html; charset=gbk"
// gives "gbk"), quotes removed; empty when there is none.
std::string CharsetFromContentType(std::string_view content_type);

// The canonical name of an encoding label ("gb2312" gives "GB18030",
// "latin1" gives "windows-1252"), or empty for a label this decoder does not
// know. Case and surrounding white space are ignored.
std::string_view CanonicalEncoding(std::string_view label);

// The encoding a <meta> declaration in the first 1,024 bytes names
// (canonical, empty when none), found as the HTML standard's prescan does.
std::string_view PrescanMetaCharset(std::string_view bytes);

bool IsValidUtf8(std::string_view text);

// `bytes` read as UTF-8, each maximal invalid subsequence replaced by U+FFFD.
std::string RepairUtf8(std::string_view bytes);

}  // namespace vexel::html
