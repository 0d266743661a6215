// A fixture for fetcher tests: a local server whose /img/N.png answers a
// small image, an output folder and the fetch options under test.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <string>

#include "net/curl_image_fetcher.h"
#include "tests/support/file_temp_dir.h"
#include "tests/support/local_server.h"

namespace vexel::net {

class ImageSiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    local_.server.Get(R"(/img/(\d+)\.png)",
                      [](const httplib::Request&, httplib::Response& response) {
                        response.set_content("picture", "image/png");
                      });
    ASSERT_TRUE(local_.Start());
  }

  std::string Url(const std::string& path) const { return local_.Url(path); }

  testing::TempDir out_;
  FetchOptions options_;
  testing::LocalServer local_;
};

}  // namespace vexel::net
