#include "net/curl_image_fetcher.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>

#include "files/leftover_sweep.h"
#include "files/real_file_system.h"
#include "net/curl_failure.h"
#include "net/fetch_transfer.h"
#include "net/image_response.h"
#include "net/page_file.h"
#include "text/text.h"

namespace vexel::net {
namespace {

using download::FetchFailure;
using download::FetchResult;

constexpr long kMaxRedirects = 10;
// How long one wait for the network may last before the abandon flag and
// the stall watchdogs are looked at again.
constexpr std::chrono::milliseconds kPollSlice{100};

FetchResult Fail(FetchFailure failure, std::string reason, long status = 0) {
  return FetchResult::Failed(failure, std::move(reason), status);
}

FetchResult FileFailure(const std::string& what, int error) {
  FetchResult result = Fail(FetchFailure::File, what + ": " + std::strerror(error));
  result.system_error = error;
  return result;
}

}  // namespace

CurlImageFetcher::CurlImageFetcher(FetchOptions options)
    : options_(std::move(options)),
      file_system_(options_.file_system != nullptr ? *options_.file_system
                                                   : files::RealFileSystem()),
      budget_(options_.transfer.max_receive_bytes_per_second, std::chrono::steady_clock::now()) {
  EnsureCurlGlobalInit();
  multi_.reset(curl_multi_init());
}

CurlImageFetcher::~CurlImageFetcher() {
  // The transfers' page files go with them.
  for (const std::unique_ptr<Transfer>& transfer : active_) {
    if (!transfer->waiting_turn) {
      curl_multi_remove_handle(multi_.get(), transfer->easy.get());
    }
  }
}

std::unique_ptr<CurlImageFetcher::Transfer> CurlImageFetcher::TakeIdleTransfer() {
  if (!idle_.empty()) {
    std::unique_ptr<Transfer> transfer = std::move(idle_.back());
    idle_.pop_back();
    return transfer;
  }
  auto transfer = std::make_unique<Transfer>();
  transfer->owner = this;
  transfer->easy = MakeCurlEasy();
  if (!transfer->easy || !Configure(*transfer)) {
    return nullptr;
  }
  return transfer;
}

bool CurlImageFetcher::Configure(Transfer& transfer) {
  CURL* handle = transfer.easy.get();
  CURLcode result = ApplyTransferOptions(handle, options_.transfer);
  const auto set = [&](CURLoption option, auto value) {
    if (result == CURLE_OK) {
      result = curl_easy_setopt(handle, option, value);
    }
  };
  // Redirects are followed here, step by step, so that each step gets the
  // Referer a browser would send.
  set(CURLOPT_FOLLOWLOCATION, 0L);
  set(CURLOPT_WRITEFUNCTION, &CurlImageFetcher::OnWrite);
  set(CURLOPT_WRITEDATA, &transfer);
  set(CURLOPT_NOPROGRESS, 0L);
  set(CURLOPT_XFERINFOFUNCTION, &CurlImageFetcher::OnProgress);
  set(CURLOPT_XFERINFODATA, &transfer);
  set(CURLOPT_PRIVATE, &transfer);
  set(CURLOPT_ERRORBUFFER, transfer.detail.data());
  set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options_.max_bytes));
  // An error page is never stored as an image: stop at the status line.
  set(CURLOPT_FAILONERROR, 1L);
  // The cookies go to libcurl's own engine ("" starts it without reading a
  // file) rather than into a Cookie header: the engine matches every request
  // of the handle, each step of a redirect included, to the cookies' hosts,
  // paths and expiry, and keeps what the image servers set for later pages.
  set(CURLOPT_COOKIEFILE, "");
  // Under a shared cap a transfer may get only a share of it: the low-speed
  // check must not take that for a trickling server (a paused transfer is
  // not measured; one that moves slowly is).
  const std::int64_t cap = options_.transfer.max_receive_bytes_per_second;
  if (cap > 0 && options_.transfer.low_speed_bytes_per_second > cap / 16) {
    set(CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(std::max<std::int64_t>(cap / 16, 1)));
  }
  if (result != CURLE_OK) {
    return false;
  }
  for (const std::string& line : options_.cookie_lines) {
    // A line the engine cannot take is left out, as a browser leaves out a
    // cookie it cannot store; the other cookies still go.
    curl_easy_setopt(handle, CURLOPT_COOKIELIST, line.c_str());
  }
  return true;
}

// Page files of processes that ended without tidying up (killed, or the
// machine went down) are removed the first time a run writes into the same
// folder again; see SweepLeftovers for what counts as one.
void CurlImageFetcher::RemoveOrphans(const std::string& folder) {
  if (tidied_folders_.insert(folder).second) {
    files::SweepLeftovers(file_system_, folder, &PageFileOwner);
  }
}

bool CurlImageFetcher::StartFetch(std::uint64_t tag, const std::string& address,
                                  const std::string& target) {
  Start(tag, address, target);
  return true;
}

std::uint64_t CurlImageFetcher::Start(std::uint64_t tag, const std::string& address,
                                      const std::string& target) {
  const std::uint64_t serial = ++serials_;
  const auto finish_now = [&](FetchResult result) {
    finished_.push_back({serial, {tag, std::move(result)}});
    return serial;
  };
  // Only what a browser would fetch for an image: no relative or local
  // addresses, which curl would otherwise guess a host or a file for.
  if (!text::StartsWithIgnoringAsciiCase(address, "http://") &&
      !text::StartsWithIgnoringAsciiCase(address, "https://")) {
    return finish_now(Fail(FetchFailure::BadAddress, "not an http(s) address: " + address));
  }
  if (options_.abandon != nullptr && options_.abandon->load()) {
    return finish_now(Fail(FetchFailure::Abandoned, "abandoned"));
  }
  std::unique_ptr<Transfer> transfer = multi_ ? TakeIdleTransfer() : nullptr;
  if (!transfer) {
    return finish_now(Fail(FetchFailure::Network, "libcurl could not start a transfer"));
  }
  const std::string folder = FolderOf(target);
  RemoveOrphans(folder);
  if (const int error = transfer->file.Create(file_system_, target); error != 0) {
    idle_.push_back(std::move(transfer));
    return finish_now(FileFailure("cannot create a file in " + folder, error));
  }
  transfer->tag = tag;
  transfer->serial = serial;
  transfer->address = address;
  transfer->redirects = 0;
  transfer->ResetBody();
  transfer->waiting_turn = true;
  waiting_.push_back(transfer.get());
  active_.push_back(std::move(transfer));
  AdmitWaiting();
  return serial;
}

std::optional<download::FinishedFetch> CurlImageFetcher::TakeFinished(
    std::optional<std::uint64_t> serial) {
  const auto at = std::find_if(finished_.begin(), finished_.end(), [&](const Ended& ended) {
    return !serial || ended.serial == *serial;
  });
  if (at == finished_.end()) {
    return std::nullopt;
  }
  download::FinishedFetch done = std::move(at->fetch);
  finished_.erase(at);
  return done;
}

std::optional<download::FinishedFetch> CurlImageFetcher::WaitFor(
    std::optional<std::uint64_t> serial, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    if (std::optional<download::FinishedFetch> done = TakeFinished(serial)) {
      return done;
    }
    if (!active_.empty()) {
      Drive();
      if (std::optional<download::FinishedFetch> done = TakeFinished(serial)) {
        return done;
      }
    }
    const auto now = std::chrono::steady_clock::now();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    if (active_.empty() || left.count() <= 0) {
      return std::nullopt;
    }
    std::chrono::milliseconds slice = std::min(left, kPollSlice);
    if (const std::optional<std::chrono::steady_clock::time_point> wake = WakeTime()) {
      slice = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(*wake - now),
                         std::chrono::milliseconds(0), slice);
    }
    curl_multi_poll(multi_.get(), nullptr, 0, static_cast<int>(slice.count()), nullptr);
  }
}

std::optional<download::FinishedFetch> CurlImageFetcher::NextFinished(
    std::chrono::milliseconds timeout) {
  return WaitFor(std::nullopt, std::chrono::steady_clock::now() + timeout);
}

void CurlImageFetcher::SetReferer(const std::string& page_address) {
  options_.transfer.referer = page_address;
}

download::FetchResult CurlImageFetcher::FetchImage(const std::string& address,
                                                   const std::string& target) {
  // Its own fetch only: those of StartFetch stay for NextFinished. Every
  // transfer ends by its deadline, its stall watch or the abandon flag.
  const std::uint64_t serial = Start(0, address, target);
  std::optional<download::FinishedFetch> done =
      WaitFor(serial, std::chrono::steady_clock::time_point::max());
  return done ? std::move(done->result) : Fail(FetchFailure::Network, "libcurl lost the transfer");
}

void CurlImageFetcher::Drive() {
  ResumePaused();
  AdmitWaiting();
  int running = 0;
  curl_multi_perform(multi_.get(), &running);
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
    if (message->msg != CURLMSG_DONE) {
      continue;
    }
    Transfer* transfer = nullptr;
    curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
    const CURLcode result = message->data.result;
    curl_multi_remove_handle(multi_.get(), message->easy_handle);
    Conclude(*transfer, result);
  }
}

void CurlImageFetcher::Conclude(Transfer& transfer, CURLcode result) {
  CURL* handle = transfer.easy.get();
  long status = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  char* location = nullptr;
  const bool redirect = result == CURLE_OK && status >= 300 && status < 400 &&
                        curl_easy_getinfo(handle, CURLINFO_REDIRECT_URL, &location) == CURLE_OK &&
                        location != nullptr && transfer.redirects < kMaxRedirects;
  const bool limited = options_.transfer.deadline_seconds > 0;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      transfer.deadline - std::chrono::steady_clock::now());
  if (redirect && limited && left.count() <= 0) {
    result = CURLE_OPERATION_TIMEDOUT;
  } else if (redirect) {
    const std::string next = location;
    const std::string referer = RefererForRedirect(options_.transfer.referer, next);
    ++transfer.redirects;
    transfer.ResetBody();
    curl_easy_setopt(handle, CURLOPT_URL, next.c_str());
    curl_easy_setopt(handle, CURLOPT_REFERER, referer.empty() ? nullptr : referer.c_str());
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, limited ? static_cast<long>(left.count()) : 0L);
    if (curl_multi_add_handle(multi_.get(), handle) == CURLM_OK) {
      return;
    }
  }
  FetchResult outcome = Settle(transfer, result, status);
  HoldForServerPause(outcome);
  Retire(transfer, std::move(outcome));
}

// What became of a transfer that has ended, and the page file when it
// arrived whole.
download::FetchResult CurlImageFetcher::Settle(Transfer& transfer, CURLcode result,
                                               long status) const {
  CURL* handle = transfer.easy.get();
  if (result == CURLE_ABORTED_BY_CALLBACK && transfer.stalled) {
    return Fail(FetchFailure::Timeout,
                "no data for " + std::to_string(options_.transfer.stall_timeout_seconds) + " s",
                status);
  }
  if (result == CURLE_ABORTED_BY_CALLBACK) {
    return Fail(FetchFailure::Abandoned, "abandoned", status);
  }
  if (result == CURLE_HTTP_RETURNED_ERROR || status >= 400) {
    FetchResult failed =
        Fail(FetchFailure::HttpStatus, "HTTP status " + std::to_string(status), status);
    // curl reads Retry-After in both its forms, seconds and an HTTP date.
    curl_off_t retry_after = 0;
    if (curl_easy_getinfo(handle, CURLINFO_RETRY_AFTER, &retry_after) == CURLE_OK &&
        retry_after > 0) {
      failed.retry_after_seconds = retry_after;
    }
    return failed;
  }
  if (transfer.too_large || result == CURLE_FILESIZE_EXCEEDED) {
    return Fail(FetchFailure::TooLarge,
                "larger than " + std::to_string(options_.max_bytes) + " bytes", status);
  }
  if (transfer.web_page) {
    return Fail(FetchFailure::NotAnImage, "a web page (text/html)", status);
  }
  if (transfer.file.error() != 0) {
    FetchResult failed = FileFailure("cannot write " + transfer.file.name(), transfer.file.error());
    failed.http_status = status;
    return failed;
  }
  if (result != CURLE_OK) {
    const char* reason =
        transfer.detail[0] != '\0' ? transfer.detail.data() : curl_easy_strerror(result);
    return Fail(FailureOfCurlCode(result), reason, status);
  }
  if (status >= 300) {
    return Fail(FetchFailure::HttpStatus, "HTTP status " + std::to_string(status), status);
  }
  if (transfer.body_bytes == 0) {
    return Fail(FetchFailure::Empty, "empty body", status);
  }
  if (LooksLikeHtml(transfer.head)) {
    return Fail(FetchFailure::NotAnImage, "a web page", status);
  }
  if (const int error = transfer.file.Commit(); error != 0) {
    FetchResult failed = FileFailure("cannot store " + transfer.file.target(), error);
    failed.http_status = status;
    return failed;
  }
  FetchResult stored = FetchResult::Stored(status);
  curl_off_t size = 0;
  if (curl_easy_getinfo(transfer.easy.get(), CURLINFO_SIZE_DOWNLOAD_T, &size) == CURLE_OK &&
      size > 0) {
    stored.bytes = static_cast<std::uint64_t>(size);
  }
  return stored;
}

void CurlImageFetcher::ReportProgress() {
  if (!options_.progress || active_.empty()) {
    return;
  }
  curl_off_t received = 0;
  curl_off_t expected = 0;
  for (const std::unique_ptr<Transfer>& transfer : active_) {
    received += transfer->received;
    expected += transfer->expected;
  }
  options_.progress(static_cast<std::int64_t>(received), static_cast<std::int64_t>(expected));
}

std::size_t CurlImageFetcher::OnWrite(char* data, std::size_t size, std::size_t count,
                                      void* transfer_pointer) {
  auto& transfer = *static_cast<Transfer*>(transfer_pointer);
  const std::size_t bytes = size * count;
  CurlImageFetcher& owner = *transfer.owner;
  // The shared cap: a write past the budget waits, paused, until it has
  // refilled; curl keeps the bytes and hands them in again.
  const bool abandoned = owner.options_.abandon != nullptr && owner.options_.abandon->load();
  if (!abandoned && !owner.budget_.Take(bytes, std::chrono::steady_clock::now())) {
    transfer.paused = true;
    owner.any_paused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  if (!transfer.response_read) {
    transfer.response_read = true;
    long status = 0;
    curl_easy_getinfo(transfer.easy.get(), CURLINFO_RESPONSE_CODE, &status);
    transfer.redirect_body = status >= 300 && status < 400;
    char* content_type = nullptr;
    if (!transfer.redirect_body &&
        curl_easy_getinfo(transfer.easy.get(), CURLINFO_CONTENT_TYPE, &content_type) == CURLE_OK &&
        IsHtmlContentType(content_type)) {
      transfer.web_page = true;
      return 0;  // any short count makes curl fail the transfer
    }
  }
  if (transfer.redirect_body) {
    return bytes;  // the body of a redirect is nobody's image
  }
  // Counted after decompression, as the bytes arrive: a small compressed body
  // must not unpack into gigabytes on disk.
  if (bytes > transfer.owner->options_.max_bytes - transfer.body_bytes) {
    transfer.too_large = true;
    return 0;
  }
  if (transfer.head.size() < 64) {
    transfer.head.append(data, std::min(bytes, 64 - transfer.head.size()));
  }
  if (!transfer.file.Write(std::string_view(data, bytes))) {
    return 0;
  }
  transfer.body_bytes += bytes;
  return bytes;
}

int CurlImageFetcher::OnProgress(void* transfer_pointer, curl_off_t expected, curl_off_t received,
                                 curl_off_t, curl_off_t) {
  auto& transfer = *static_cast<Transfer*>(transfer_pointer);
  const FetchOptions& options = transfer.owner->options_;
  if (options.abandon != nullptr && options.abandon->load()) {
    return 1;
  }
  // Beside curl's low-speed check and deadline, which end a trickle: this
  // counts the time since the last body byte, which ends a stall also when
  // the low-speed check is off. Returning 0 leaves curl's checks in force.
  const auto now = std::chrono::steady_clock::now();
  if (transfer.paused) {
    transfer.last_change = now;  // waiting for the cap, not for the server
  } else if (received != transfer.received) {
    transfer.received = received;
    transfer.last_change = now;
  } else if (now - transfer.last_change >=
             std::chrono::seconds(options.transfer.stall_timeout_seconds)) {
    transfer.stalled = true;
    return 1;
  }
  transfer.expected = expected;
  transfer.owner->ReportProgress();
  return 0;
}

}  // namespace vexel::net
