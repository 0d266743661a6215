#include "download/image_check.h"

#include <algorithm>

namespace vexel::download {
namespace {

bool StartsWith(std::string_view bytes, std::string_view prefix) {
  return bytes.substr(0, prefix.size()) == prefix;
}

std::uint32_t LittleEndian32(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 4; i-- > 0;) {
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  }
  return value;
}

// Some encoders pad a file after its end marker; zeros and line ends after
// the marker still make a whole file.
std::string_view WithoutPadding(std::string_view tail) {
  while (!tail.empty() && (tail.back() == '\0' || tail.back() == '\n' || tail.back() == '\r')) {
    tail.remove_suffix(1);
  }
  return tail;
}

bool IsAvif(std::string_view head) {
  // An ISO media file whose first box is "ftyp" naming avif (or its image
  // sequence form) as major or compatible brand.
  if (head.size() < 16 || head.substr(4, 4) != "ftyp") {
    return false;
  }
  std::uint32_t length = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    length = (length << 8) | static_cast<unsigned char>(head[i]);
  }
  const std::size_t box = std::min<std::size_t>(head.size(), length);
  for (std::size_t at = 8; at + 4 <= box; at += 4) {
    const std::string_view brand = head.substr(at, 4);
    if (brand == "avif" || brand == "avis") {
      return true;
    }
  }
  return false;
}

}  // namespace

bool IsWholeImage(std::string_view head, std::string_view tail, std::uint64_t size) {
  using namespace std::string_view_literals;
  if (StartsWith(head, "\x89PNG\r\n\x1a\n"sv)) {
    // The IEND chunk: zero length, its type and its fixed CRC.
    return size >= 8 + 12 + 12 && tail.ends_with("\0\0\0\0IEND\xae\x42\x60\x82"sv);
  }
  if (StartsWith(head, "\xff\xd8\xff"sv)) {
    return size >= 4 && WithoutPadding(tail).ends_with("\xff\xd9"sv);
  }
  if (StartsWith(head, "GIF87a"sv) || StartsWith(head, "GIF89a"sv)) {
    return size > 6 && WithoutPadding(tail).ends_with(";"sv);
  }
  if (StartsWith(head, "RIFF"sv) && head.size() >= 12 && head.substr(8, 4) == "WEBP"sv) {
    // RIFF's length counts everything after its first eight bytes.
    return size == std::uint64_t{LittleEndian32(head, 4)} + 8;
  }
  if (StartsWith(head, "BM"sv)) {
    return size > 14;
  }
  return IsAvif(head);
}

bool IsWholeImageFile(FileSystem& file_system, const std::string& path) {
  const FileEnds ends = file_system.ReadEnds(path, kImageHeadBytes, kImageTailBytes);
  return ends.regular && ends.error == 0 && IsWholeImage(ends.head, ends.tail, ends.size);
}

}  // namespace vexel::download
