#include "download/image_check.h"

#include <gtest/gtest.h>

#include "tests/download/image_samples.h"

namespace vexel::download {
namespace {

bool Whole(const std::string& bytes) {
  return IsWholeImage(
      std::string_view(bytes).substr(0, kImageHeadBytes),
      std::string_view(bytes).substr(bytes.size() - std::min(bytes.size(), kImageTailBytes)),
      bytes.size());
}

TEST(ImageCheckTest, WholeImagesOfEachFormatPassTheRestDoNot) {
  using testing::SampleGif;
  using testing::SampleJpeg;
  using testing::SamplePng;
  using testing::SampleWebp;
  const std::string avif = std::string(
      "\0\0\0\x1c"
      "ftypmif1\0\0\0\0mif1avifmiaf",
      28);
  for (const std::string& whole :
       {SamplePng(), SampleJpeg(), SampleJpeg() + std::string(3, '\0'), SampleGif(), SampleWebp(),
        std::string("BM\x46\0\0\0\0\0\0\0\x36\0\0\0pixels", 20), avif}) {
    EXPECT_TRUE(Whole(whole)) << whole;
  }
  const std::string png = SamplePng();
  const std::string jpeg = SampleJpeg();
  const std::string webp = SampleWebp();
  for (const std::string& broken : {
           std::string(), testing::SampleHtmlPage(),
           png.substr(0, png.size() - 1),        // cut inside IEND
           png.substr(0, png.size() - 12),       // IEND missing
           jpeg.substr(0, jpeg.size() - 2),      // no FFD9
           SampleGif().substr(0, 13),            // no trailer
           webp.substr(0, webp.size() - 1),      // shorter than RIFF says
           webp + "x",                           // longer than RIFF says
           std::string("\x89PNG\r\n\x1a\n", 8),  // a signature alone
           std::string("\0\0\0\x18"
                       "ftypisom\0\0\0\0isommp41",
                       24),  // a video
       }) {
    EXPECT_FALSE(Whole(broken)) << broken;
  }
}

}  // namespace
}  // namespace vexel::download
