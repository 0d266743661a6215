// UTF-8 to GBK for the sample site's pages, which are served the way the
// target site serves its own: in the Simplified Chinese code page.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vexel::sample {

// `utf8` converted to GBK, or nothing when the C library has no GBK converter
// or the text holds a character GBK cannot represent.
std::optional<std::string> Utf8ToGbk(std::string_view utf8);

}  // namespace vexel::sample
