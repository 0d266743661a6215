// FetchImage over libcurl: each body goes straight into a temporary file of
// its own in the target's folder, which is renamed over the page's file once
// the body is complete and checked.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "download/file_system.h"
#include "download/image_fetcher.h"
#include "net/curl_handle.h"
#include "net/image_response.h"  // RefererForRedirect
#include "net/receive_budget.h"
#include "net/transfer_options.h"

namespace vexel::net {

// A body larger than this, counted after decompression, is no page image.
inline constexpr std::uint64_t kMaxImageBytes = 256ULL << 20;

struct FetchOptions {
  // User-Agent, Referer (the chapter page's address), timeouts, the pacer
  // and the rate cap. A fetch waits in the fetcher, not in StartFetch, until
  // the pacer gives it its turn, so the transfers in flight keep moving
  // meanwhile; a 429 or 503 with Retry-After holds the pacer until then.
  // The rate cap is shared by all transfers of the fetcher in flight.
  TransferOptions transfer;
  // The cookies the requests may carry, one line each in the Netscape
  // cookie-file format that CURLOPT_COOKIELIST takes. They are loaded into
  // each of the fetcher's curl handles, and libcurl's cookie engine picks for
  // every request, each step of a redirect included, those whose host, path,
  // secure flag and expiry fit, as a browser would.
  std::vector<std::string> cookie_lines;
  // When set, the transfers under way fail at once and later fetches fail
  // without connecting.
  const std::atomic<bool>* abandon = nullptr;
  // Bytes received so far and expected in all (0 when unknown) of the
  // transfers under way; called on the fetching thread, about once a second
  // at least.
  std::function<void(std::int64_t received, std::int64_t expected)> progress;
  // Null: the real file system.
  download::FileSystem* file_system = nullptr;
  // Bodies past this many bytes fail the page.
  std::uint64_t max_bytes = kMaxImageBytes;
};

class CurlImageFetcher final : public download::ImageFetcher {
 public:
  explicit CurlImageFetcher(FetchOptions options);
  ~CurlImageFetcher() override;
  CurlImageFetcher(const CurlImageFetcher&) = delete;
  CurlImageFetcher& operator=(const CurlImageFetcher&) = delete;
  CurlImageFetcher(CurlImageFetcher&&) = delete;
  CurlImageFetcher& operator=(CurlImageFetcher&&) = delete;

  // Receives `address` into a new page file beside `target` and renames
  // it over `target` once the body is complete, so that no half-written file
  // ever carries the page's name. An empty body, a web page (text/html, or a
  // body that begins as one) and a body past max_bytes fail the page and
  // leave nothing behind. All transfers of one fetcher run on one multi
  // handle and reuse its connections.
  download::FetchResult FetchImage(const std::string& address, const std::string& target) override;
  // Replaces the Referer of the fetches that start from now on.
  void SetReferer(const std::string& page_address) override;
  // Any number of fetches may be in flight; NextFinished drives them all.
  bool StartFetch(std::uint64_t tag, const std::string& address,
                  const std::string& target) override;
  std::optional<download::FinishedFetch> NextFinished(std::chrono::milliseconds timeout) override;

 private:
  struct Transfer;

  struct Ended {
    std::uint64_t serial = 0;
    download::FinishedFetch fetch;
  };

  // Starts a fetch, or records its failure at once; returns its serial.
  std::uint64_t Start(std::uint64_t tag, const std::string& address, const std::string& target);
  // The first ended fetch, or the one of `serial`, if it has ended.
  std::optional<download::FinishedFetch> TakeFinished(std::optional<std::uint64_t> serial);
  // Drives the transfers until TakeFinished(serial) has one, or `deadline`.
  std::optional<download::FinishedFetch> WaitFor(std::optional<std::uint64_t> serial,
                                                 std::chrono::steady_clock::time_point deadline);
  std::unique_ptr<Transfer> TakeIdleTransfer();
  bool Configure(Transfer& transfer);
  void RemoveOrphans(const std::string& folder);
  // Runs the transfers and moves those that have ended into finished_.
  void Drive();
  void Conclude(Transfer& transfer, CURLcode result);
  // `status`: the response code of the transfer's last response.
  download::FetchResult Settle(Transfer& transfer, CURLcode result, long status) const;
  void ReportProgress();
  // Admission (fetch_admission.cpp): starts the fetches waiting for their
  // turn as far as the pacer allows.
  void AdmitWaiting();
  void Admit(Transfer& transfer);
  // Ends a transfer with `outcome`; it goes back to the idle handles.
  void Retire(Transfer& transfer, download::FetchResult outcome);
  void ResumePaused();
  // A 429 or 503 with Retry-After holds the pacer until then.
  void HoldForServerPause(const download::FetchResult& outcome) const;
  // The latest time to look again, for a fetch waiting for its turn or a
  // transfer paused by the cap.
  std::optional<std::chrono::steady_clock::time_point> WakeTime() const;

  static std::size_t OnWrite(char* data, std::size_t size, std::size_t count, void* transfer);
  static int OnProgress(void* transfer, curl_off_t expected, curl_off_t received, curl_off_t,
                        curl_off_t);

  FetchOptions options_;
  download::FileSystem& file_system_;
  CurlMulti multi_;
  std::vector<std::unique_ptr<Transfer>> active_;
  std::vector<std::unique_ptr<Transfer>> idle_;  // handles kept for their connections' sake
  std::deque<Ended> finished_;
  std::uint64_t serials_ = 0;
  std::set<std::string> tidied_folders_;
  std::deque<Transfer*> waiting_;  // created, waiting for the pacer's turn
  std::optional<std::chrono::steady_clock::time_point> next_turn_;
  ReceiveBudget budget_;
  bool any_paused_ = false;
};

}  // namespace vexel::net
