// Loading a page without a browser: fetch the markup over libcurl (or read
// it from disk), decode it and build the in-memory document.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "download/image_fetcher.h"
#include "html/html_document.h"
#include "html/html_parser.h"
#include "net/transfer_options.h"

namespace vexel::net {

struct PageLoadOptions {
  // User-Agent, cookies, the connect timeout, the low-speed limit and the
  // deadline (stall_timeout_seconds is the image fetcher's alone). The
  // loader always allows file:// addresses, whatever allow_file_scheme says.
  TransferOptions transfer;
  // A body larger than this fails the load; the parser takes no more anyway.
  std::size_t max_bytes = html::kMaxMarkupBytes;
  // When set, the load under way fails at once (Abandoned, "abandoned"), and
  // a load begun with it set fails without connecting.
  const std::atomic<bool>* abandon = nullptr;
  // Not owned. When set, the load is made with this handle, reset first,
  // instead of a new one: a thread that loads page after page then sets up
  // curl's transfer machinery once. Only one load at a time may use it.
  CURL* handle = nullptr;
};

struct FetchedPage {
  std::string bytes;
  std::string content_type;  // as the server sent it; empty for files
  std::string final_url;     // after redirects; file:// for local files
  long http_status = 0;      // the last response's; 0 for files
  // The kind of failure, with a one-line description in English; None and
  // empty on success.
  download::FetchFailure failure = download::FetchFailure::None;
  std::string error;
  // A 403 or 503 that came as a web page: the site wants a browser to pass
  // a check (a challenge page) before it serves this address.
  bool browser_check = false;
  bool ok() const { return failure == download::FetchFailure::None; }
  void Fail(download::FetchFailure kind, std::string text) {
    failure = kind;
    error = std::move(text);
  }
};

struct LoadedPage {
  std::unique_ptr<html::HtmlDocument> document;
  std::string final_url;
  long http_status = 0;
  // As FetchedPage's; TooLarge also for a page past the parser's limits of
  // size, depth or tags. None for a page refused as too complex.
  download::FetchFailure failure = download::FetchFailure::None;
  // The page arrived but would need more memory to parse than the parser
  // may use; error says so.
  bool too_complex = false;
  bool browser_check = false;  // as FetchedPage's
  std::string error;
  bool ok() const { return document != nullptr; }
};

// `source` is an http(s) address, a file:// address or a plain path
// (relative to the working directory). A GET that follows redirects; an HTTP
// status of 400 or more is an error ("HTTP 404 from http://...") and its body
// is not kept. With a pacer in the options the load first takes its turn; a
// 429 or 503 with Retry-After holds the pacer's next turn until then.
FetchedPage FetchPage(std::string_view source, const PageLoadOptions& options = {});

// FetchPage, then ReadPage. The document's Url() is the final address.
LoadedPage LoadPage(std::string_view source, const PageLoadOptions& options = {});
// The page that FetchPage brought, decoded with the Content-Type's charset
// and parsed; a failed fetch gives its failure.
LoadedPage ReadPage(FetchedPage fetched);

// The file:// address of an absolute path, with every byte outside the
// unreserved characters and "/" percent-encoded.
std::string FileUrlFromPath(std::string_view absolute_path);

}  // namespace vexel::net
