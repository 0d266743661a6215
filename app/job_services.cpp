#include "app/job_services.h"

#include "net/curl_image_fetcher.h"

namespace vexel::app {

std::unique_ptr<download::ImageFetcher> MakeCurlImageFetcher(const FetcherSetup& setup) {
  net::FetchOptions options;
  options.transfer.user_agent = setup.user_agent;
  options.transfer.referer = setup.referer;
  options.cookie_lines = setup.cookie_lines;
  options.abandon = setup.abandon;
  return std::make_unique<net::CurlImageFetcher>(std::move(options));
}

}  // namespace vexel::app
