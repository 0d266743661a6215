// FetchImage over libcurl: the body goes to a file in the cache folder, which
// is then copied into place under the page's name.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "download/file_system.h"
#include "download/image_fetcher.h"
#include "net/curl_handle.h"
#include "net/transfer_options.h"

namespace vexel::net {

struct FetchOptions {
  // User-Agent, Referer (the chapter page's address), timeouts.
  TransferOptions transfer;
  // Where bodies are received; empty: UserCacheDirectory() + "vexel/".
  std::string cache_directory;
  // The cookies the requests may carry, one line each in the Netscape
  // cookie-file format that CURLOPT_COOKIELIST takes. They are loaded into
  // the fetcher's curl handle once, and libcurl's cookie engine picks for
  // every request, each step of a redirect included, those whose host, path,
  // secure flag and expiry fit, as a browser would.
  std::vector<std::string> cookie_lines;
  // When set, the transfer under way fails at once and later fetches fail
  // without connecting.
  const std::atomic<bool>* abandon = nullptr;
  // Bytes received so far and expected in all (0 when unknown) of the transfer
  // under way; called on the fetching thread, about once a second at least.
  std::function<void(std::int64_t received, std::int64_t expected)> progress;
  // Null: the real file system.
  download::FileSystem* file_system = nullptr;
};

class CurlImageFetcher final : public download::ImageFetcher {
 public:
  explicit CurlImageFetcher(FetchOptions options);
  ~CurlImageFetcher() override;
  CurlImageFetcher(const CurlImageFetcher&) = delete;
  CurlImageFetcher& operator=(const CurlImageFetcher&) = delete;
  CurlImageFetcher(CurlImageFetcher&&) = delete;
  CurlImageFetcher& operator=(CurlImageFetcher&&) = delete;

  // Fetches `address` into the cache, then copies it to a temporary name in
  // the target's folder and renames it over `target`, so that no half-written
  // file ever carries the page's name. The cache file is removed after a
  // successful copy and kept after a failed one. All requests of one fetcher
  // go through one curl handle, so they share a connection.
  download::FetchResult FetchImage(const std::string& address, const std::string& target) override;

  // The cache file that `address` is received into.
  std::string CacheFileFor(const std::string& address) const;

 private:
  download::FetchResult Receive(const std::string& address, const std::string& cache_file);
  download::FetchResult CopyIntoPlace(const std::string& cache_file, const std::string& target);

  static std::size_t OnWrite(char* data, std::size_t size, std::size_t count, void* self);
  static int OnProgress(void* self, curl_off_t expected, curl_off_t received, curl_off_t,
                        curl_off_t);

  FetchOptions options_;
  download::FileSystem& file_system_;
  CurlEasy curl_;
  bool cache_ready_ = false;
  std::FILE* sink_ = nullptr;  // the cache file being received, owned by Receive
  bool sink_failed_ = false;
  // The stall watchdog: when the received count last changed.
  curl_off_t last_received_ = 0;
  std::chrono::steady_clock::time_point last_change_;
  bool stalled_ = false;
};

}  // namespace vexel::net
