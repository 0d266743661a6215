#include "examples/png_image.h"

#include <algorithm>
#include <array>
#include <string>

namespace vexel::sample {
namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) {
      c = (c & 1U) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
    }
    table[n] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

void PutBigEndian32(std::string& out, std::uint32_t value) {
  out.push_back(static_cast<char>((value >> 24) & 0xFFU));
  out.push_back(static_cast<char>((value >> 16) & 0xFFU));
  out.push_back(static_cast<char>((value >> 8) & 0xFFU));
  out.push_back(static_cast<char>(value & 0xFFU));
}

void PutChunk(std::string& out, std::string_view type, std::string_view data) {
  PutBigEndian32(out, static_cast<std::uint32_t>(data.size()));
  std::string typed;
  typed.reserve(type.size() + data.size());
  typed.append(type).append(data);
  out.append(typed);
  PutBigEndian32(out, Crc32(typed));
}

// A zlib stream of stored (uncompressed) deflate blocks.
std::string StoredZlib(std::string_view raw) {
  std::string out;
  out.push_back(static_cast<char>(0x78));  // deflate, 32 KB window
  out.push_back(static_cast<char>(0x01));  // no preset dictionary; header % 31 == 0
  constexpr std::size_t kMaxBlock = 65535;
  std::size_t position = 0;
  do {
    const std::size_t length = std::min(kMaxBlock, raw.size() - position);
    const bool last = position + length == raw.size();
    out.push_back(static_cast<char>(last ? 1 : 0));
    const auto len16 = static_cast<std::uint16_t>(length);
    const auto nlen16 = static_cast<std::uint16_t>(~len16);
    out.push_back(static_cast<char>(len16 & 0xFFU));
    out.push_back(static_cast<char>(len16 >> 8));
    out.push_back(static_cast<char>(nlen16 & 0xFFU));
    out.push_back(static_cast<char>(nlen16 >> 8));
    out.append(raw.substr(position, length));
    position += length;
  } while (position < raw.size());
  PutBigEndian32(out, Adler32(raw));
  return out;
}

// 5 x 7 glyphs of the decimal digits; bit 4 of each row is the leftmost pixel.
constexpr std::array<std::array<std::uint8_t, 7>, 10> kDigits = {{
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},  // 0
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},  // 1
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},  // 2
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},  // 3
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},  // 4
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},  // 5
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},  // 6
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},  // 7
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},  // 8
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},  // 9
}};

}  // namespace

std::uint32_t Crc32(std::string_view bytes) {
  std::uint32_t c = 0xFFFFFFFFU;
  for (const char byte : bytes) {
    c = kCrcTable[(c ^ static_cast<std::uint8_t>(byte)) & 0xFFU] ^ (c >> 8);
  }
  return c ^ 0xFFFFFFFFU;
}

std::uint32_t Adler32(std::string_view bytes) {
  constexpr std::uint32_t kModulus = 65521;
  std::uint32_t a = 1;
  std::uint32_t b = 0;
  for (const char byte : bytes) {
    a = (a + static_cast<std::uint8_t>(byte)) % kModulus;
    b = (b + a) % kModulus;
  }
  return (b << 16) | a;
}

std::string EncodePng(const GrayImage& image, std::size_t min_bytes) {
  const auto width = static_cast<std::size_t>(image.width);
  const auto height = static_cast<std::size_t>(image.height);
  std::string raw;
  raw.reserve(height * (width + 1));
  for (std::size_t y = 0; y < height; ++y) {
    raw.push_back('\0');  // filter type None
    const auto* row = image.pixels.data() + y * width;
    raw.append(reinterpret_cast<const char*>(row), width);
  }

  std::string header;
  PutBigEndian32(header, static_cast<std::uint32_t>(width));
  PutBigEndian32(header, static_cast<std::uint32_t>(height));
  header.append({'\x08', '\x00', '\x00', '\x00', '\x00'});  // 8-bit gray, no interlace

  std::string png = "\x89PNG\r\n\x1a\n";
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", StoredZlib(raw));

  constexpr std::size_t kChunkOverhead = 12;  // length, type, CRC
  const std::string_view keyword("Comment\0", 8);
  const std::size_t end_chunk = kChunkOverhead;
  const std::size_t smallest_pad = kChunkOverhead + keyword.size();
  if (png.size() + end_chunk < min_bytes) {
    const std::size_t room = min_bytes - png.size() - end_chunk;
    const std::size_t spaces = room > smallest_pad ? room - smallest_pad : 0;
    std::string text(keyword);
    text.append(spaces, ' ');
    PutChunk(png, "tEXt", text);
  }
  PutChunk(png, "IEND", {});
  return png;
}

GrayImage DrawPageNumber(int number, std::uint8_t background) {
  constexpr int kWidth = 96;
  constexpr int kHeight = 64;
  constexpr int kScale = 4;
  constexpr int kAdvance = 6 * kScale;  // glyph plus one column of space
  GrayImage image{
      kWidth, kHeight,
      std::vector<std::uint8_t>(static_cast<std::size_t>(kWidth * kHeight), background)};

  std::string digits = std::to_string(std::max(number, 0));
  if (digits.size() > 4) {
    digits = digits.substr(digits.size() - 4);
  }
  const int text_width = static_cast<int>(digits.size()) * kAdvance - kScale;
  const int left = (kWidth - text_width) / 2;
  const int top = (kHeight - 7 * kScale) / 2;
  const std::uint8_t ink = background > 0x80 ? 0x20 : 0xE0;
  for (std::size_t d = 0; d < digits.size(); ++d) {
    const auto& glyph = kDigits[static_cast<std::size_t>(digits[d] - '0')];
    for (int row = 0; row < 7; ++row) {
      for (int column = 0; column < 5; ++column) {
        if ((glyph[static_cast<std::size_t>(row)] & (0x10U >> column)) == 0) {
          continue;
        }
        for (int dy = 0; dy < kScale; ++dy) {
          for (int dx = 0; dx < kScale; ++dx) {
            const int x = left + static_cast<int>(d) * kAdvance + column * kScale + dx;
            const int y = top + row * kScale + dy;
            image.pixels[(static_cast<std::size_t>(y) * kWidth) + static_cast<std::size_t>(x)] =
                ink;
          }
        }
      }
    }
  }
  return image;
}

}  // namespace vexel::sample
