// The smallest files of each image format the job takes as whole, and the
// things that sit at page names and are not.
#pragma once

#include <cstdint>
#include <string>

#include "examples/png_image.h"

namespace vexel::testing {

inline std::string SamplePng() { return sample::EncodePng({2, 2, {0, 255, 255, 0}}); }
inline std::string SampleJpeg() {
  return std::string("\xff\xd8\xff\xe0\0\x10JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 20) +
         "scan data\xff\xd9";
}
inline std::string SampleGif() { return std::string("GIF89a\x01\0\x01\0\0\0\0", 13) + ",data;"; }
inline std::string SampleWebp() {
  const std::string body("WEBPVP8L\x05\0\0\0abcde", 17);
  std::string riff = "RIFF";
  const auto length = static_cast<std::uint32_t>(body.size());
  for (int shift = 0; shift < 32; shift += 8) {
    riff += static_cast<char>((length >> shift) & 0xff);
  }
  return riff + body;
}
inline std::string SampleHtmlPage() {
  return "<!DOCTYPE html><html><body>502 Bad Gateway</body></html>\n";
}

}  // namespace vexel::testing
