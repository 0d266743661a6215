#include "net/page_loader.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <utility>

#include "download/retry_policy.h"
#include "html/charset_decoder.h"
#include "net/curl_failure.h"
#include "net/curl_handle.h"
#include "net/image_response.h"
#include "net/resolve_address.h"
#include "text/text.h"

namespace vexel::net {
namespace {

using download::FetchFailure;

bool IsAddress(std::string_view source) {
  return text::StartsWithIgnoringAsciiCase(source, "http://") ||
         text::StartsWithIgnoringAsciiCase(source, "https://") ||
         text::StartsWithIgnoringAsciiCase(source, "file://");
}

// Error texts are single lines, whatever a library put into them.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') {
      c = ' ';
    }
  }
  while (!text.empty() && text.back() == ' ') {
    text.pop_back();
  }
  return text;
}

struct Receiver {
  CURL* curl = nullptr;
  std::string* body = nullptr;
  std::size_t limit = 0;
  const std::atomic<bool>* abandon = nullptr;
  bool too_large = false;
  bool reserved = false;
};

// curl calls this about once a second even while nothing arrives, so a
// stalled load sees the flag as soon as one that is moving.
int OnProgress(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* receiver = static_cast<const Receiver*>(userdata);
  return receiver->abandon->load() ? 1 : 0;  // non-zero: CURLE_ABORTED_BY_CALLBACK
}

std::size_t Receive(char* data, std::size_t size, std::size_t count, void* userdata) {
  auto* receiver = static_cast<Receiver*>(userdata);
  const std::size_t bytes = size * count;
  if (!receiver->reserved) {
    // With the length known the body is received into one block, instead of
    // one that doubles (and briefly exists twice) as it grows.
    receiver->reserved = true;
    curl_off_t length = -1;
    if (curl_easy_getinfo(receiver->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) ==
            CURLE_OK &&
        length > 0) {
      receiver->body->reserve(std::min(static_cast<std::size_t>(length), receiver->limit));
    }
  }
  if (bytes > receiver->limit - receiver->body->size()) {
    receiver->too_large = true;
    return 0;  // makes curl stop with CURLE_WRITE_ERROR
  }
  receiver->body->append(data, bytes);
  return bytes;
}

std::string TooLarge(std::size_t limit, const std::string& url) {
  return "page larger than " + std::to_string(limit) + " bytes: " + url;
}

}  // namespace

std::string FileUrlFromPath(std::string_view absolute_path) {
  std::string url = "file://";
  for (const char c : absolute_path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool keep = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                      (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' ||
                      c == '~' || c == '/';
    if (keep) {
      url.push_back(c);
    } else {
      AppendPercentEncoded(byte, url);
    }
  }
  return url;
}

FetchedPage FetchPage(std::string_view source, const PageLoadOptions& options) {
  FetchedPage page;
  if (source.empty()) {
    page.Fail(FetchFailure::Network, "no page address given");
    return page;
  }
  std::string url;
  if (IsAddress(source)) {
    url = source;
  } else {
    std::error_code error;
    const std::filesystem::path absolute =
        std::filesystem::absolute(std::filesystem::path(source), error);
    if (error) {
      page.Fail(FetchFailure::File,
                OneLine("cannot find " + std::string(source) + ": " + error.message()));
      return page;
    }
    url = FileUrlFromPath(absolute.lexically_normal().string());
  }
  page.final_url = url;
  if (options.abandon != nullptr && options.abandon->load()) {
    page.Fail(FetchFailure::Abandoned, "abandoned");
    return page;
  }

  CurlEasy own_handle;
  CURL* curl = options.handle;
  if (curl != nullptr) {
    curl_easy_reset(curl);
  } else {
    own_handle = MakeCurlEasy();
    curl = own_handle.get();
  }
  if (curl == nullptr) {
    page.Fail(FetchFailure::Network, "cannot load " + url + ": libcurl could not start a transfer");
    return page;
  }
  TransferOptions transfer = options.transfer;
  transfer.allow_file_scheme = true;
  std::array<char, CURL_ERROR_SIZE> detail{};
  Receiver receiver{curl, &page.bytes, options.max_bytes, options.abandon};
  CURLcode result = ApplyTransferOptions(curl, transfer);
  const auto set = [&](CURLoption option, auto value) {
    if (result == CURLE_OK) {
      result = curl_easy_setopt(curl, option, value);
    }
  };
  set(CURLOPT_URL, url.c_str());
  set(CURLOPT_HTTPGET, 1L);
  set(CURLOPT_FAILONERROR, 1L);  // a status of 400 or more ends the transfer, body unread
  set(CURLOPT_ERRORBUFFER, detail.data());
  set(CURLOPT_WRITEFUNCTION, &Receive);
  set(CURLOPT_WRITEDATA, &receiver);
  set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.max_bytes));
  if (options.abandon != nullptr) {
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &OnProgress);
    set(CURLOPT_XFERINFODATA, &receiver);
  }
  // One page at a time: the whole cap is this transfer's, and the low-speed
  // check must not take a low cap for a trickling server.
  if (const std::int64_t cap = transfer.max_receive_bytes_per_second; cap > 0) {
    set(CURLOPT_MAX_RECV_SPEED_LARGE, static_cast<curl_off_t>(cap));
    if (transfer.low_speed_bytes_per_second > cap / 2) {
      set(CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(std::max<std::int64_t>(cap / 2, 1)));
    }
  }
  if (result != CURLE_OK) {
    page.Fail(FetchFailure::Network,
              OneLine("cannot load " + url + ": " + curl_easy_strerror(result)));
    return page;
  }
  // A local file is no request to the site.
  if (!text::StartsWithIgnoringAsciiCase(url, "file://") &&
      !TakeTurn(transfer.pacer, transfer.request_gap, transfer.stop_waiting, options.abandon)) {
    page.Fail(FetchFailure::Abandoned, "abandoned");
    return page;
  }
  result = curl_easy_perform(curl);

  char* effective = nullptr;
  if (curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK &&
      effective != nullptr) {
    page.final_url = effective;
  }
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  char* content_type = nullptr;
  if (curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &content_type) == CURLE_OK &&
      content_type != nullptr) {
    page.content_type = content_type;
  }

  page.http_status = status;
  if ((status == 429 || status == 503) && transfer.pacer != nullptr) {
    curl_off_t retry_after = 0;
    if (curl_easy_getinfo(curl, CURLINFO_RETRY_AFTER, &retry_after) == CURLE_OK &&
        retry_after > 0) {
      transfer.pacer->HoldUntil(std::chrono::steady_clock::now() +
                                std::min<std::chrono::seconds>(std::chrono::seconds(retry_after),
                                                               download::kMaxRetryAfter));
    }
  }
  page.browser_check =
      (status == 403 || status == 503) && IsHtmlContentType(page.content_type.c_str());
  if (result == CURLE_ABORTED_BY_CALLBACK) {
    page.Fail(FetchFailure::Abandoned, "abandoned");
  } else if (status >= 400) {
    page.Fail(FetchFailure::HttpStatus,
              "HTTP " + std::to_string(status) + " from " + page.final_url);
  } else if (receiver.too_large || result == CURLE_FILESIZE_EXCEEDED) {
    page.Fail(FetchFailure::TooLarge, TooLarge(options.max_bytes, page.final_url));
  } else if (result != CURLE_OK) {
    const std::string reason = detail[0] != '\0' ? detail.data() : curl_easy_strerror(result);
    page.Fail(FailureOfCurlCode(result), OneLine("cannot load " + page.final_url + ": " + reason));
  }
  if (!page.ok()) {
    page.bytes.clear();
  }
  return page;
}

LoadedPage LoadPage(std::string_view source, const PageLoadOptions& options) {
  return ReadPage(FetchPage(source, options));
}

LoadedPage ReadPage(FetchedPage fetched) {
  LoadedPage loaded;
  loaded.final_url = fetched.final_url;
  loaded.http_status = fetched.http_status;
  loaded.browser_check = fetched.browser_check;
  if (!fetched.ok()) {
    loaded.failure = fetched.failure;
    loaded.error = std::move(fetched.error);
    return loaded;
  }
  // The fetch has capped the size already (max_bytes); the parser checks the
  // decoded text against its own limit. The page's own bytes are let go once decoded; only the text
  // is parsed.
  std::string text =
      html::DecodeToUtf8(fetched.bytes, html::CharsetFromContentType(fetched.content_type));
  std::string().swap(fetched.bytes);
  html::ParseOutcome parsed = html::ParseHtml(text, fetched.final_url);
  if (!parsed.ok()) {
    // Past the parser's limits: the page is too large or too complex to
    // read, which is no matter of its size.
    loaded.too_complex = parsed.too_complex;
    loaded.failure = parsed.too_complex ? FetchFailure::None : FetchFailure::TooLarge;
    loaded.error = "cannot read " + fetched.final_url + ": " + parsed.error;
    return loaded;
  }
  loaded.document = std::move(parsed.document);
  return loaded;
}

}  // namespace vexel::net
