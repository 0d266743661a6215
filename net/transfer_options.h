// The settings every HTTP transfer of the program shares: the page loader and
// the image fetcher set up their curl handles through ApplyTransferOptions so
// that both behave like the same browser.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <string>

#include "net/request_pacer.h"

namespace vexel::net {

// A current desktop browser's User-Agent; some sites refuse unknown clients.
inline constexpr const char* kDefaultUserAgent =
    "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/108.0.0.0 Safari/537.36";

struct TransferOptions {
  std::string user_agent = kDefaultUserAgent;
  std::string referer;  // empty: no Referer header
  long connect_timeout_seconds = 30;
  // A transfer slower than low_speed_bytes_per_second for low_speed_seconds
  // running, response headers included, fails as a timeout: a server that
  // trickles a byte now and then would otherwise hold a page for hours.
  // curl measures the speed over the last few seconds, so a steady slow line
  // above the limit keeps working. 0 bytes turns the check off.
  long low_speed_bytes_per_second = 1024;
  long low_speed_seconds = 30;
  // However fast it moves, one transfer (a page image with all its
  // redirects, or a page) fails as a timeout past this many seconds.
  long deadline_seconds = 600;
  // The image fetcher's own watch: a page of which no body byte arrives for
  // this long fails as a timeout, also when the low-speed check is off.
  long stall_timeout_seconds = 60;
  bool allow_file_scheme = false;  // only the page loader reads local files
  // Not owned. Transfers given the same share (on one thread) reuse each
  // other's connections; see MakeConnectionShare.
  CURLSH* share = nullptr;

  // Not owned. Every request takes its turn here before it starts, at least
  // `request_gap` after the start of the one before; null: no pacing, and no
  // server's Retry-After holds other requests.
  RequestPacer* pacer = nullptr;
  PaceGap request_gap;
  // A wait for a turn ends once this says true (a stop asked for); the
  // request then fails as Abandoned without connecting. The abandon flags of
  // the page loader and the fetcher end it too.
  std::function<bool()> stop_waiting;
  // Bytes per second that all transfers together may receive; 0: no cap.
  // The image fetcher shares it between its transfers in flight, the page
  // loader (one page at a time) gives it to its one transfer.
  std::int64_t max_receive_bytes_per_second = 0;
  // A Netscape cookies.txt that libcurl reads for each transfer; its
  // cookies go only where libcurl's cookie rules send them. Empty: none.
  std::string cookie_file;
};

// Applies redirects (at most 10, http and https only, plus file when allowed),
// the User-Agent and Referer, the connect timeout, the low-speed limit and
// the deadline, the cookie file, and turns off signals so the handle can be used from any thread.
// Returns the first error from curl_easy_setopt, or CURLE_OK.
CURLcode ApplyTransferOptions(CURL* handle, const TransferOptions& options);

}  // namespace vexel::net
