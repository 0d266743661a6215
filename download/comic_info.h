// The ComicInfo.xml that comic readers (Komga, Kavita, phone readers) read
// from an archive: series, chapter title and number, page count, source.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vexel::download {

struct ComicInfo {
  std::string series;  // the title before its first " > ", trimmed
  std::string title;   // the rest, or the whole title when there is no " > "
  std::string number;  // the first number in `title`; empty when none
  std::int32_t page_count = 0;
  std::string web;  // the chapter page's address
};

// Splits the chapter title as the page shows it ("ABC > 第5话").
ComicInfo ComicInfoFor(std::string_view shown_title, std::int32_t page_count, std::string web);

// The document, schema 2.0, UTF-8, LanguageISO "zh". Always well-formed:
// a character XML 1.0 forbids, or a byte that is not UTF-8, becomes U+FFFD.
std::string ComicInfoXml(const ComicInfo& info);

}  // namespace vexel::download
