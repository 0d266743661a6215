// What the window hands to each download job besides itself: the image
// fetcher and the rule for where chapter folders go. Both can be replaced, so
// tests and the benchmark can watch the fetches or redirect the output.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "download/download_host.h"
#include "download/image_fetcher.h"

namespace vexel::app {

// Everything a fetcher for one job needs to behave like the browser view.
struct FetcherSetup {
  std::string user_agent;  // the view's
  std::string referer;     // the chapter page's address
  // The view's cookies when the fetcher is made, as CookieJar::CurlCookieLines
  // gives them; the fetcher's own cookie engine picks each request's.
  std::vector<std::string> cookie_lines;
  // Set when the window closes: the transfer under way gives up.
  const std::atomic<bool>* abandon = nullptr;
};

using FetcherFactory =
    std::function<std::unique_ptr<download::ImageFetcher>(const FetcherSetup& setup)>;
using OutputDirectoryRule = std::function<download::OutputDirectory()>;

// The program's own fetcher: libcurl, each page into a temporary file beside
// its own, then into place.
std::unique_ptr<download::ImageFetcher> MakeCurlImageFetcher(const FetcherSetup& setup);

}  // namespace vexel::app
