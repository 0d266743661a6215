// What the analysis of a chapter page yields, and the pure steps that derive
// it from the texts the two queries deliver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vexel::download {

struct ChapterPlan {
  std::string Title;       // folder name, made safe; may be empty
  std::int32_t PageCount;  // as read from the chapter line; may be 0 or negative
  std::string UrlPrefix;   // image address up to and including its last "/"
  std::string Extension;   // from the first "." of the address's last segment
  std::string Folder;      // output directory + Title + "/"
  // The title as the page shows it, before " >" is replaced: the series and
  // chapter names of an archive's ComicInfo.xml come from it.
  std::string ShownTitle;
  // Page files named with the page number zero-padded to the width of the
  // page count (01.png … 12.png), as inside an archive.
  bool PadPages = false;
};

struct ChapterLine {
  std::string title;  // trimmed, " >" replaced by "-"; not yet made safe
  std::int32_t page_count = 0;
  std::string shown_title;  // trimmed only, as the page shows it ("ABC > 第5话")
};

// Title and page count from the chapter line's text, or nothing when it has
// no ">共" after its first byte or no number in the range of a 32-bit integer
// right after it.
std::optional<ChapterLine> ReadChapterLine(std::string_view line);

// The address in the image tag's markup: from just after the first `src="`
// (which must not stand at the very start) up to the next `">`, with its
// character references decoded as a browser decodes the `src` it fetches.
// Nothing when either marker is missing or the address is empty.
std::optional<std::string> ImageAddressFromTag(std::string_view tag);

// `markup` with the character references that the markup rendering writes
// (&amp; &quot; &apos; &lt; &gt;) and numeric ones (&#38; &#x26;) decoded;
// anything else stays as it stands.
std::string DecodeCharacterReferences(std::string_view markup);

struct AddressPattern {
  std::string url_prefix;
  std::string extension;
};

// Splits an image address into its prefix (up to and including the last "/"
// after the first byte; the whole address when there is none) and its
// extension (from the first "." of the last segment). Nothing when either
// comes out empty.
std::optional<AddressPattern> SplitImageAddress(std::string_view address);

// A title that can only name one folder directly inside the output
// directory: "/", NUL and the other control characters become "_", the
// special names "." and ".." become "_" and "__", and a leading "." of any
// other title becomes "_", so that no chapter folder is hidden.
std::string SafeFolderName(std::string_view title);

// The longest file name the usual Linux file systems take (ext4, btrfs, XFS,
// tmpfs, FAT and NTFS drives count UTF-16 units, which this covers too).
inline constexpr std::size_t kMaxNameBytes = 255;
// What the program writes beside a chapter folder, longest first: libzip's
// temporary archive "<name>.cbz.part.XXXXXX" while a chapter is packed.
inline constexpr std::size_t kLongestFolderSuffixBytes = 16;

// `name` cut at a character boundary, so that `name` + `reserved` bytes is
// no longer than kMaxNameBytes; whole when it fits.
std::string FitFolderName(std::string_view name, std::size_t reserved);

// UrlPrefix + n + Extension: the page's address as the page states it.
std::string PageReference(const ChapterPlan& plan, std::int64_t page);
// The extension as a file name takes it: up to a "?" or "#", so a query
// string never becomes part of a page's file name.
std::string FileExtension(std::string_view extension);
// Folder + n + FileExtension(Extension), n padded with zeros to the width
// of the page count when `padded`.
std::string PageFilePath(const ChapterPlan& plan, std::int64_t page, bool padded);
// The page's file under the names the plan asks for (PadPages).
std::string PageFilePath(const ChapterPlan& plan, std::int64_t page);
// The page number as an archive names it: zero-padded to the width of the
// page count.
std::string PaddedPageNumber(std::int64_t page, std::int32_t page_count);

}  // namespace vexel::download
