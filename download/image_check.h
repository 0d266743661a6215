// Telling a whole page image from what else may sit at a page name: an
// empty file, a server's error page, a transfer cut short, a link.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "download/file_system.h"

namespace vexel::download {

// How many bytes of each end of a file IsWholeImage looks at.
inline constexpr std::size_t kImageHeadBytes = 32;
inline constexpr std::size_t kImageTailBytes = 32;

// True when `head` (the first bytes) opens a PNG, JPEG, GIF, WebP, BMP or
// AVIF file and `tail` (the last bytes) is that format's end where it has
// one: PNG's IEND chunk, JPEG's FFD9, GIF's 3B, the length WebP's RIFF
// header gives. `size` is the whole file's.
bool IsWholeImage(std::string_view head, std::string_view tail, std::uint64_t size);

// True when a regular file (not a link: its target is never read) is at
// `path` and holds a whole image. Reads only its two ends.
bool IsWholeImageFile(FileSystem& file_system, const std::string& path);

}  // namespace vexel::download
