// FetchImage over libcurl: the body goes to a file in the cache folder, which
// is then copied into place under the page's name.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "net/curl_handle.h"
#include "download/file_system.h"
#include "download/image_fetcher.h"
#include "net/transfer_options.h"

namespace vexel::net {

struct FetchOptions {
  // User-Agent, Referer (the chapter page's address), timeouts.
  TransferOptions transfer;
  // Where bodies are received; empty: UserCacheDirectory() + "vexel/".
  std::string cache_directory;
  // The Cookie header for one address ("a=1; b=2"); may be empty. Sent to
  // that address's host only, never along a redirect to another host, port
  // or scheme.
  std::function<std::string(const std::string& address)> cookies_for;
  // When set, the transfer under way fails at once and later fetches fail
  // without connecting.
  const std::atomic<bool>* abandon = nullptr;
  // Bytes received so far and expected in all (0 when unknown) of the transfer
  // under way; called on the fetching thread, about once a second at least.
  std::function<void(std::int64_t received, std::int64_t expected)> progress;
  // Null: the real file system.
  download::FileSystem* file_system = nullptr;
};

// Why the last FetchImage call returned false.
enum class FetchFailure {
  None,
  EmptyAddress,
  Abandoned,   // the abandon flag was set
  Transfer,    // no connection, a broken or stalled transfer, a bad address
  HttpStatus,  // the server answered 400 or more
  CacheFile,   // the body could not be written to the cache folder
  Copy,        // the cached body could not be copied into place
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
  bool FetchImage(const std::string& address, const std::string& target) override;

  FetchFailure LastFailure() const { return last_failure_; }
  // A one-line description of the last failure (curl's message, the status).
  const std::string& LastError() const { return last_error_; }
  // The cache file that `address` is received into.
  std::string CacheFileFor(const std::string& address) const;

 private:
  bool Fail(FetchFailure failure, std::string error);
  bool Receive(const std::string& address, const std::string& cache_file);
  bool CopyIntoPlace(const std::string& cache_file, const std::string& target);

  static std::size_t OnWrite(char* data, std::size_t size, std::size_t count, void* self);
  static int OnProgress(void* self, curl_off_t expected, curl_off_t received, curl_off_t,
                        curl_off_t);

  FetchOptions options_;
  download::FileSystem& file_system_;
  CurlEasy curl_;
  CurlSlist cookie_header_;  // the request under way's Cookie header, if any
  bool cache_ready_ = false;
  std::FILE* sink_ = nullptr;  // the cache file being received, owned by Receive
  bool sink_failed_ = false;
  // The stall watchdog: when the received count last changed.
  curl_off_t last_received_ = 0;
  std::chrono::steady_clock::time_point last_change_;
  bool stalled_ = false;
  FetchFailure last_failure_ = FetchFailure::None;
  std::string last_error_;
};

}  // namespace vexel::net
