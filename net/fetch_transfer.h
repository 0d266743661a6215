// The image fetcher's record of one transfer, shared by the files that make
// up CurlImageFetcher (the transfers themselves, and their admission by the
// pacer and the rate cap). Nothing outside the fetcher uses it.
#pragma once

#include <curl/curl.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "net/curl_handle.h"
#include "net/curl_image_fetcher.h"
#include "net/page_file.h"

namespace vexel::net {

// One page's transfer: its easy handle and everything that describes the
// body under way. Handles are kept after their page for the next one, so
// their connections and cookies carry over.
struct CurlImageFetcher::Transfer {
  CurlImageFetcher* owner = nullptr;
  CurlEasy easy;
  std::uint64_t tag = 0;
  std::uint64_t serial = 0;  // which start this is, for FetchImage's wait
  std::string address;
  PageFile file;
  std::array<char, CURL_ERROR_SIZE> detail{};  // curl's own words for a failure
  int redirects = 0;
  std::uint64_t body_bytes = 0;
  std::string head;  // the body's first bytes, for the web page check
  // The response's status and type are read once, at its first bytes.
  bool response_read = false;
  bool redirect_body = false;
  bool too_large = false;
  bool web_page = false;
  // The stall watchdog: when the received count last changed.
  curl_off_t received = 0;
  curl_off_t expected = 0;
  std::chrono::steady_clock::time_point last_change;
  bool stalled = false;
  bool waiting_turn = false;  // not yet handed to curl
  bool paused = false;        // held by the rate cap
  // The page's deadline holds across its redirects, each a transfer of its
  // own to curl.
  std::chrono::steady_clock::time_point deadline;

  void ResetBody() {
    body_bytes = 0;
    head.clear();
    response_read = false;
    redirect_body = false;
    too_large = false;
    web_page = false;
    received = 0;
    expected = 0;
    stalled = false;
    last_change = std::chrono::steady_clock::now();
  }
};

}  // namespace vexel::net
