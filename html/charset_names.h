// The canonical names of the encodings the decoder knows, as the WHATWG
// Encoding standard spells them; shared by the decoder and the prescan.
#pragma once

#include <string_view>

namespace vexel::html {

inline constexpr std::string_view kUtf8 = "UTF-8";
inline constexpr std::string_view kUtf16Le = "UTF-16LE";
inline constexpr std::string_view kUtf16Be = "UTF-16BE";
inline constexpr std::string_view kGb18030 = "GB18030";
inline constexpr std::string_view kBig5 = "Big5";
inline constexpr std::string_view kShiftJis = "Shift_JIS";
inline constexpr std::string_view kEucKr = "EUC-KR";
inline constexpr std::string_view kEucJp = "EUC-JP";
inline constexpr std::string_view kWindows1252 = "windows-1252";
inline constexpr std::string_view kWindows1251 = "windows-1251";
inline constexpr std::string_view kKoi8R = "KOI8-R";

}  // namespace vexel::html
