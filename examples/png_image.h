// Small PNG pictures for the sample site: a page number drawn in a plain
// bitmap font, encoded without a compression library (zlib "stored" blocks),
// so the sample site needs nothing beyond the standard library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vexel::sample {

// CRC-32 as PNG chunks use it (ISO 3309, reflected 0xEDB88320).
std::uint32_t Crc32(std::string_view bytes);
// Adler-32 as the zlib stream trailer uses it.
std::uint32_t Adler32(std::string_view bytes);

// An 8-bit grayscale image, one byte per pixel, row by row.
struct GrayImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
};

// Encodes `image` as a PNG file. When the result would be shorter than
// `min_bytes`, a tEXt chunk of spaces pads it to exactly `min_bytes` (or to
// the smallest size a padding chunk allows).
std::string EncodePng(const GrayImage& image, std::size_t min_bytes = 0);

// A 96 x 64 picture with `number` (0 or more, at most four digits shown)
// drawn in dark strokes on a background of shade `background`.
GrayImage DrawPageNumber(int number, std::uint8_t background);

}  // namespace vexel::sample
