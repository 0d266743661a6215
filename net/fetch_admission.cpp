// The admission of the image fetcher's transfers: a fetch waits for the
// pacer's turn before it is handed to curl, a server's Retry-After holds the
// pacer, and transfers paused by the shared rate cap are resumed once its
// budget has refilled.
#include <algorithm>
#include <chrono>
#include <memory>
#include <utility>

#include "download/retry_policy.h"
#include "net/curl_image_fetcher.h"
#include "net/fetch_transfer.h"

namespace vexel::net {
namespace {

using download::FetchFailure;
using download::FetchResult;

}  // namespace

void CurlImageFetcher::AdmitWaiting() {
  const TransferOptions& options = options_.transfer;
  while (!waiting_.empty()) {
    Transfer& next = *waiting_.front();
    const bool abandoned = options_.abandon != nullptr && options_.abandon->load();
    next_turn_.reset();
    if (!abandoned && options.pacer != nullptr) {
      next_turn_ =
          options.pacer->TryTakeTurn(options.request_gap, std::chrono::steady_clock::now());
    }
    // A stop cuts short only a wait: a fetch whose turn is due still starts.
    if (abandoned || (next_turn_ && options.stop_waiting && options.stop_waiting())) {
      waiting_.pop_front();
      next.waiting_turn = false;
      next_turn_.reset();
      Retire(next, FetchResult::Failed(FetchFailure::Abandoned, "abandoned"));
      continue;
    }
    if (next_turn_) {
      return;
    }
    waiting_.pop_front();
    Admit(next);
  }
  next_turn_.reset();
}

void CurlImageFetcher::Admit(Transfer& transfer) {
  transfer.waiting_turn = false;
  // The deadline counts from the request's start, not from the wait for it.
  transfer.ResetBody();
  transfer.deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(options_.transfer.deadline_seconds);
  CURL* handle = transfer.easy.get();
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, options_.transfer.deadline_seconds);
  curl_easy_setopt(handle, CURLOPT_URL, transfer.address.c_str());
  const std::string& referer = options_.transfer.referer;
  curl_easy_setopt(handle, CURLOPT_REFERER, referer.empty() ? nullptr : referer.c_str());
  if (curl_multi_add_handle(multi_.get(), handle) != CURLM_OK) {
    Retire(transfer,
           FetchResult::Failed(FetchFailure::Network, "libcurl could not start a transfer"));
  }
}

void CurlImageFetcher::Retire(Transfer& transfer, download::FetchResult outcome) {
  transfer.file.Discard();  // when it was not committed
  transfer.paused = false;
  finished_.push_back({transfer.serial, {transfer.tag, std::move(outcome)}});
  const auto at = std::find_if(active_.begin(), active_.end(),
                               [&](const auto& active) { return active.get() == &transfer; });
  idle_.push_back(std::move(*at));
  active_.erase(at);
}

// A paused transfer is resumed once the bucket has bytes again; all of
// them at once, so that none is starved while others move. Its stored
// bytes are delivered from within curl_easy_pause, which may pause it
// again at once.
void CurlImageFetcher::ResumePaused() {
  if (!any_paused_) {
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  const bool abandoned = options_.abandon != nullptr && options_.abandon->load();
  if (!budget_.Available(now) && !abandoned) {
    return;
  }
  any_paused_ = false;
  for (const std::unique_ptr<Transfer>& transfer : active_) {
    if (transfer->paused) {
      transfer->paused = false;
      transfer->last_change = now;
      curl_easy_pause(transfer->easy.get(), CURLPAUSE_CONT);
    }
  }
}

std::optional<std::chrono::steady_clock::time_point> CurlImageFetcher::WakeTime() const {
  std::optional<std::chrono::steady_clock::time_point> wake = next_turn_;
  if (any_paused_) {
    // A paused transfer makes no noise on its socket: the wait ends when
    // the budget holds a byte again (at once when it does already).
    const auto refill = budget_.AvailableAt();
    wake = wake ? std::min(*wake, refill) : refill;
  }
  return wake;
}

void CurlImageFetcher::HoldForServerPause(const download::FetchResult& outcome) const {
  // The server asked for a pause: no request of the process starts before
  // it has passed, those in flight finish.
  if ((outcome.http_status == 429 || outcome.http_status == 503) &&
      outcome.retry_after_seconds > 0 && options_.transfer.pacer != nullptr) {
    options_.transfer.pacer->HoldUntil(
        std::chrono::steady_clock::now() +
        std::min<std::chrono::seconds>(std::chrono::seconds(outcome.retry_after_seconds),
                                       download::kMaxRetryAfter));
  }
}

}  // namespace vexel::net
