#include "net/curl_image_fetcher.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "files/real_file_system.h"
#include "files/user_directories.h"

namespace vexel::net {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const {
    std::fclose(file);  // NOLINT(cppcoreguidelines-owning-memory)
  }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// 64-bit FNV-1a, to give every address a short, stable cache name.
std::uint64_t HashAddress(const std::string& address) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : address) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  return hash;
}

std::string TemporaryNameBeside(const std::string& target, unsigned attempt) {
  static std::atomic<unsigned> counter{0};
  // Short and independent of the page's own name, so that a page whose name
  // is close to the file system's limit still has room for it.
  const std::size_t slash = target.rfind('/');
  const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  return target.substr(0, name_start) + ".vexel-" + std::to_string(::getpid()) + "-" +
         std::to_string(counter++) + "-" + std::to_string(attempt) + ".part";
}

using download::FetchFailure;

download::FetchResult Fail(FetchFailure failure, std::string reason, long status = 0) {
  return download::FetchResult::Failed(failure, std::move(reason), status);
}

}  // namespace

CurlImageFetcher::CurlImageFetcher(FetchOptions options)
    : options_(std::move(options)),
      file_system_(options_.file_system != nullptr ? *options_.file_system
                                                   : files::RealFileSystem()),
      curl_(MakeCurlEasy()) {
  if (options_.cache_directory.empty()) {
    const std::string cache = files::UserCacheDirectory();
    options_.cache_directory = cache.empty() ? std::string() : cache + "vexel/";
  } else if (options_.cache_directory.back() != '/') {
    options_.cache_directory += '/';
  }
  if (!curl_) {
    return;
  }
  CURL* handle = curl_.get();
  bool ok = ApplyTransferOptions(handle, options_.transfer) == CURLE_OK;
  ok =
      ok && curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &CurlImageFetcher::OnWrite) == CURLE_OK;
  ok = ok && curl_easy_setopt(handle, CURLOPT_WRITEDATA, this) == CURLE_OK;
  ok = ok && curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
  ok = ok && curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &CurlImageFetcher::OnProgress) ==
                 CURLE_OK;
  ok = ok && curl_easy_setopt(handle, CURLOPT_XFERINFODATA, this) == CURLE_OK;
  // An error page is never stored as an image: stop at the status line.
  ok = ok && curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L) == CURLE_OK;
  // The cookies go to libcurl's own engine ("" starts it without reading a
  // file) rather than into a Cookie header: the engine matches every request
  // of the handle, each step of a redirect included, to the cookies' hosts,
  // paths and expiry, and keeps what the image servers set for later pages.
  ok = ok && curl_easy_setopt(handle, CURLOPT_COOKIEFILE, "") == CURLE_OK;
  for (const std::string& line : options_.cookie_lines) {
    // A line the engine cannot take is left out, as a browser leaves out a
    // cookie it cannot store; the other cookies still go.
    curl_easy_setopt(handle, CURLOPT_COOKIELIST, line.c_str());
  }
  if (!ok) {
    curl_.reset();
  }
}

CurlImageFetcher::~CurlImageFetcher() = default;

std::string CurlImageFetcher::CacheFileFor(const std::string& address) const {
  std::array<char, 17> hex{};
  std::snprintf(hex.data(), hex.size(), "%016llx",
                static_cast<unsigned long long>(HashAddress(address)));
  return options_.cache_directory + "image-" + hex.data();
}

download::FetchResult CurlImageFetcher::FetchImage(const std::string& address,
                                                   const std::string& target) {
  if (address.empty()) {
    return Fail(FetchFailure::Network, "no address");
  }
  if (options_.abandon != nullptr && options_.abandon->load()) {
    return Fail(FetchFailure::Abandoned, "abandoned");
  }
  if (!curl_) {
    return Fail(FetchFailure::Network, "no curl handle");
  }
  if (options_.cache_directory.empty()) {
    return Fail(FetchFailure::File, "no cache folder (no home directory)");
  }
  if (!cache_ready_) {
    cache_ready_ = file_system_.CreateDirectories(options_.cache_directory);
    if (!cache_ready_) {
      return Fail(FetchFailure::File, "cannot create " + options_.cache_directory);
    }
  }
  const std::string cache_file = CacheFileFor(address);
  download::FetchResult received = Receive(address, cache_file);
  if (!received.stored) {
    return received;
  }
  download::FetchResult placed = CopyIntoPlace(cache_file, target);
  placed.http_status = received.http_status;
  return placed;
}

// Receives the body into a private temporary file and renames it to the
// address's cache name only once it is complete, so that the cache never holds
// a partial body under an address's name.
download::FetchResult CurlImageFetcher::Receive(const std::string& address,
                                                const std::string& cache_file) {
  std::string partial = cache_file + ".part-XXXXXX";
  const int fd = ::mkstemp(partial.data());
  if (fd < 0) {
    return Fail(FetchFailure::File, "cannot create a file in " + options_.cache_directory);
  }
  UniqueFile file(::fdopen(fd, "wb"));
  if (!file) {
    ::close(fd);
    file_system_.Remove(partial);
    return Fail(FetchFailure::File, "cannot open a file in " + options_.cache_directory);
  }

  CURL* handle = curl_.get();
  curl_easy_setopt(handle, CURLOPT_URL, address.c_str());
  sink_ = file.get();
  sink_failed_ = false;
  stalled_ = false;
  last_received_ = 0;
  last_change_ = std::chrono::steady_clock::now();
  const CURLcode result = curl_easy_perform(handle);
  sink_ = nullptr;
  long status = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);

  const bool closed = std::fclose(file.release()) == 0;
  download::FetchResult outcome = download::FetchResult::Stored(status);
  if (result == CURLE_ABORTED_BY_CALLBACK && stalled_) {
    outcome = Fail(FetchFailure::Timeout,
                   "no data for " + std::to_string(options_.transfer.stall_timeout_seconds) + " s",
                   status);
  } else if (result == CURLE_ABORTED_BY_CALLBACK) {
    outcome = Fail(FetchFailure::Abandoned, "abandoned", status);
  } else if (sink_failed_ || (result == CURLE_OK && !closed)) {
    outcome = Fail(FetchFailure::File, "cannot write to " + options_.cache_directory, status);
  } else if (result == CURLE_HTTP_RETURNED_ERROR || status >= 400) {
    outcome = Fail(FetchFailure::HttpStatus, "HTTP status " + std::to_string(status), status);
    // curl reads Retry-After in both its forms, seconds and an HTTP date.
    curl_off_t retry_after = 0;
    if (curl_easy_getinfo(handle, CURLINFO_RETRY_AFTER, &retry_after) == CURLE_OK &&
        retry_after > 0) {
      outcome.retry_after_seconds = retry_after;
    }
  } else if (result != CURLE_OK) {
    outcome =
        Fail(result == CURLE_OPERATION_TIMEDOUT ? FetchFailure::Timeout : FetchFailure::Network,
             curl_easy_strerror(result), status);
  } else if (!file_system_.Rename(partial, cache_file)) {
    outcome = Fail(FetchFailure::File, "cannot rename into " + options_.cache_directory, status);
  }
  if (!outcome.stored) {
    file_system_.Remove(partial);
  }
  return outcome;
}

download::FetchResult CurlImageFetcher::CopyIntoPlace(const std::string& cache_file,
                                                      const std::string& target) {
  constexpr unsigned kAttempts = 3;  // a stale temporary name is skipped, not reused
  for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
    const std::string temporary = TemporaryNameBeside(target, attempt);
    if (!file_system_.CopyToNewFile(cache_file, temporary)) {
      continue;
    }
    if (!file_system_.Rename(temporary, target)) {
      file_system_.Remove(temporary);
      return Fail(FetchFailure::File, "cannot rename to " + target);
    }
    file_system_.Remove(cache_file);
    return download::FetchResult::Stored(0);
  }
  return Fail(FetchFailure::File, "cannot copy to " + target);
}

std::size_t CurlImageFetcher::OnWrite(char* data, std::size_t size, std::size_t count, void* self) {
  auto* fetcher = static_cast<CurlImageFetcher*>(self);
  const std::size_t bytes = size * count;
  if (fetcher->sink_ == nullptr || std::fwrite(data, 1, bytes, fetcher->sink_) != bytes) {
    fetcher->sink_failed_ = true;
    return 0;  // any short count makes curl fail the transfer
  }
  return bytes;
}

int CurlImageFetcher::OnProgress(void* self, curl_off_t expected, curl_off_t received, curl_off_t,
                                 curl_off_t) {
  auto* fetcher = static_cast<CurlImageFetcher*>(self);
  if (fetcher->options_.abandon != nullptr && fetcher->options_.abandon->load()) {
    return 1;
  }
  // curl's own low-speed check averages over several seconds, so a burst
  // before a stall keeps a transfer alive for longer than the limit; this
  // counts the time since the last byte arrived instead.
  const auto now = std::chrono::steady_clock::now();
  if (received != fetcher->last_received_) {
    fetcher->last_received_ = received;
    fetcher->last_change_ = now;
  } else if (now - fetcher->last_change_ >=
             std::chrono::seconds(fetcher->options_.transfer.stall_timeout_seconds)) {
    fetcher->stalled_ = true;
    return 1;
  }
  if (fetcher->options_.progress) {
    fetcher->options_.progress(static_cast<std::int64_t>(received),
                               static_cast<std::int64_t>(expected));
  }
  return 0;
}

}  // namespace vexel::net
