#include "net/transfer_options.h"

namespace vexel::net {

CURLcode ApplyTransferOptions(CURL* handle, const TransferOptions& options) {
  const char* protocols = options.allow_file_scheme ? "http,https,file" : "http,https";
  const auto set = [handle](CURLoption option, auto value) {
    return curl_easy_setopt(handle, option, value);
  };
  const CURLcode results[] = {
      set(CURLOPT_NOSIGNAL, 1L),
      set(CURLOPT_FOLLOWLOCATION, 1L),
      set(CURLOPT_MAXREDIRS, 10L),
      set(CURLOPT_PROTOCOLS_STR, protocols),
      set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https"),
      set(CURLOPT_USERAGENT, options.user_agent.c_str()),
      set(CURLOPT_REFERER, options.referer.empty() ? nullptr : options.referer.c_str()),
      set(CURLOPT_CONNECTTIMEOUT, options.connect_timeout_seconds),
      set(CURLOPT_LOW_SPEED_LIMIT, options.low_speed_bytes_per_second),
      set(CURLOPT_LOW_SPEED_TIME,
          options.low_speed_bytes_per_second > 0 ? options.low_speed_seconds : 0L),
      set(CURLOPT_TIMEOUT, options.deadline_seconds),
      set(CURLOPT_ACCEPT_ENCODING, ""),
      set(CURLOPT_SHARE, options.share),
  };
  for (const CURLcode result : results) {
    if (result != CURLE_OK) {
      return result;
    }
  }
  // Each file set is read in addition to those set before, so the image
  // fetcher's "" (the engine alone) does not drop it.
  if (!options.cookie_file.empty()) {
    return set(CURLOPT_COOKIEFILE, options.cookie_file.c_str());
  }
  return CURLE_OK;
}

}  // namespace vexel::net
