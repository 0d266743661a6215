// Fetching one page image to a file.
#pragma once

#include <string>

namespace vexel::download {

class ImageFetcher {
 public:
  virtual ~ImageFetcher() = default;

  // Fetches `address` and stores the body at `target`, replacing any file
  // there. True only when the image was fetched and stored; on false nothing
  // half-written is left under `target`.
  virtual bool FetchImage(const std::string& address, const std::string& target) = 0;

 protected:
  ImageFetcher() = default;
  ImageFetcher(const ImageFetcher&) = default;
  ImageFetcher& operator=(const ImageFetcher&) = default;
  ImageFetcher(ImageFetcher&&) = default;
  ImageFetcher& operator=(ImageFetcher&&) = default;
};

}  // namespace vexel::download
