#include "net/curl_image_fetcher.h"

#include <unistd.h>
#include <csignal>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "files/real_file_system.h"
#include "net/resolve_address.h"
#include "text/text.h"

namespace vexel::net {
namespace {

using download::FetchFailure;
using download::FetchResult;

constexpr long kMaxRedirects = 10;
// How long one wait for the network may last before the abandon flag and
// the stall watchdogs are looked at again.
constexpr std::chrono::milliseconds kPollSlice{100};
// Temporary files are named ".vexel-<pid>-XXXXXX.part", so that a later run
// can tell those of a process that no longer runs.
constexpr std::string_view kTemporaryPrefix = ".vexel-";
constexpr std::string_view kTemporarySuffix = ".part";

struct FileCloser {
  void operator()(std::FILE* file) const {
    std::fclose(file);  // NOLINT(cppcoreguidelines-owning-memory)
  }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

FetchResult Fail(FetchFailure failure, std::string reason, long status = 0) {
  return FetchResult::Failed(failure, std::move(reason), status);
}

FetchResult FileFailure(const std::string& what, int error) {
  FetchResult result = Fail(FetchFailure::File, what + ": " + std::strerror(error));
  result.system_error = error;
  return result;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

// A body that a browser would show as a web page: "<!DOCTYPE html" or
// "<html" after white space, in any case.
bool LooksLikeHtml(std::string_view head) {
  while (!head.empty() && text::IsAsciiWhitespace(head.front())) {
    head.remove_prefix(1);
  }
  return text::StartsWithIgnoringAsciiCase(head, "<!doctype html") ||
         text::StartsWithIgnoringAsciiCase(head, "<html");
}

bool IsHtmlContentType(const char* content_type) {
  return content_type != nullptr &&
         text::StartsWithIgnoringAsciiCase(
             text::TrimAsciiWhitespace(std::string_view(content_type)), "text/html");
}

bool ProcessIsGone(const std::string& pid_text) {
  char* end = nullptr;
  const long pid = std::strtol(pid_text.c_str(), &end, 10);
  return end != pid_text.c_str() && *end == '\0' && pid > 0 && pid != ::getpid() &&
         ::kill(static_cast<pid_t>(pid), 0) == -1 && errno == ESRCH;
}

}  // namespace

// One page's transfer: its easy handle and everything that describes the
// body under way. Handles are kept after their page for the next one, so
// their connections and cookies carry over.
struct CurlImageFetcher::Transfer {
  CurlImageFetcher* owner = nullptr;
  CurlEasy easy;
  std::uint64_t tag = 0;
  std::string address;
  std::string target;
  std::string temporary;
  UniqueFile sink;
  int redirects = 0;
  std::uint64_t body_bytes = 0;
  std::string head;  // the body's first bytes, for the web page check
  // The response's status and type are read once, at its first bytes.
  bool response_read = false;
  bool redirect_body = false;
  bool sink_failed = false;
  int sink_error = 0;
  bool too_large = false;
  bool web_page = false;
  // The stall watchdog: when the received count last changed.
  curl_off_t received = 0;
  curl_off_t expected = 0;
  std::chrono::steady_clock::time_point last_change;
  bool stalled = false;

  void ResetBody() {
    body_bytes = 0;
    head.clear();
    response_read = false;
    redirect_body = false;
    sink_failed = false;
    too_large = false;
    web_page = false;
    received = 0;
    expected = 0;
    stalled = false;
    last_change = std::chrono::steady_clock::now();
  }
};

std::string RefererForRedirect(const std::string& page, const std::string& target) {
  std::string page_origin = OriginOf(page);
  const std::string target_origin = OriginOf(target);
  if (page_origin.empty()) {
    return {};
  }
  if (page_origin == target_origin) {
    return page;
  }
  if (page_origin.starts_with("https:") && target_origin.starts_with("http:")) {
    return {};
  }
  return page_origin;
}

CurlImageFetcher::CurlImageFetcher(FetchOptions options)
    : options_(std::move(options)),
      file_system_(options_.file_system != nullptr ? *options_.file_system
                                                   : files::RealFileSystem()) {
  EnsureCurlGlobalInit();
  multi_.reset(curl_multi_init());
}

CurlImageFetcher::~CurlImageFetcher() {
  for (const std::unique_ptr<Transfer>& transfer : active_) {
    curl_multi_remove_handle(multi_.get(), transfer->easy.get());
    transfer->sink.reset();
    file_system_.Remove(transfer->temporary);
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
  set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options_.max_bytes));
  // An error page is never stored as an image: stop at the status line.
  set(CURLOPT_FAILONERROR, 1L);
  // The cookies go to libcurl's own engine ("" starts it without reading a
  // file) rather than into a Cookie header: the engine matches every request
  // of the handle, each step of a redirect included, to the cookies' hosts,
  // paths and expiry, and keeps what the image servers set for later pages.
  set(CURLOPT_COOKIEFILE, "");
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

// Temporary files of processes that ended without tidying up (killed, or
// the machine went down) are removed the first time a run writes into the
// same folder again. Those of processes still running are theirs.
void CurlImageFetcher::RemoveOrphans(const std::string& folder) {
  if (!tidied_folders_.insert(folder).second) {
    return;
  }
  std::error_code error;
  for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (!name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix)) {
      continue;
    }
    const std::size_t dash = name.find('-', kTemporaryPrefix.size());
    if (dash != std::string::npos &&
        ProcessIsGone(name.substr(kTemporaryPrefix.size(), dash - kTemporaryPrefix.size()))) {
      file_system_.Remove(entry->path().string());
    }
  }
}

bool CurlImageFetcher::StartFetch(std::uint64_t tag, const std::string& address,
                                  const std::string& target) {
  const auto finish_now = [&](FetchResult result) {
    finished_.push_back({tag, std::move(result)});
    return true;
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
  std::string name = folder + std::string(kTemporaryPrefix) + std::to_string(::getpid()) +
                     "-XXXXXX" + std::string(kTemporarySuffix);
  const int fd = ::mkstemps(name.data(), static_cast<int>(kTemporarySuffix.size()));
  if (fd < 0) {
    const int error = errno;
    idle_.push_back(std::move(transfer));
    return finish_now(FileFailure("cannot create a file in " + folder, error));
  }
  transfer->sink.reset(::fdopen(fd, "wb"));
  if (!transfer->sink) {
    const int error = errno;
    ::close(fd);
    file_system_.Remove(name);
    idle_.push_back(std::move(transfer));
    return finish_now(FileFailure("cannot open " + name, error));
  }
  transfer->tag = tag;
  transfer->address = address;
  transfer->target = target;
  transfer->temporary = std::move(name);
  transfer->redirects = 0;
  transfer->ResetBody();
  CURL* handle = transfer->easy.get();
  curl_easy_setopt(handle, CURLOPT_URL, address.c_str());
  const std::string& referer = options_.transfer.referer;
  curl_easy_setopt(handle, CURLOPT_REFERER, referer.empty() ? nullptr : referer.c_str());
  if (curl_multi_add_handle(multi_.get(), handle) != CURLM_OK) {
    transfer->sink.reset();
    file_system_.Remove(transfer->temporary);
    idle_.push_back(std::move(transfer));
    return finish_now(Fail(FetchFailure::Network, "libcurl could not start a transfer"));
  }
  active_.push_back(std::move(transfer));
  return true;
}

std::optional<download::FinishedFetch> CurlImageFetcher::NextFinished(
    std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (finished_.empty() && !active_.empty()) {
      Drive();
    }
    if (!finished_.empty()) {
      download::FinishedFetch done = std::move(finished_.front());
      finished_.pop_front();
      return done;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (active_.empty() || left.count() <= 0) {
      return std::nullopt;
    }
    curl_multi_poll(multi_.get(), nullptr, 0, static_cast<int>(std::min(left, kPollSlice).count()),
                    nullptr);
  }
}

download::FetchResult CurlImageFetcher::FetchImage(const std::string& address,
                                                   const std::string& target) {
  // A lone fetch; callers that start fetches of their own wait for them
  // with NextFinished instead.
  StartFetch(0, address, target);
  for (;;) {
    if (std::optional<download::FinishedFetch> done = NextFinished(std::chrono::seconds(1))) {
      return std::move(done->result);
    }
  }
}

void CurlImageFetcher::Drive() {
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
  if (result == CURLE_OK && status >= 300 && status < 400 &&
      curl_easy_getinfo(handle, CURLINFO_REDIRECT_URL, &location) == CURLE_OK &&
      location != nullptr && transfer.redirects < kMaxRedirects) {
    const std::string next = location;
    const std::string referer = RefererForRedirect(options_.transfer.referer, next);
    ++transfer.redirects;
    transfer.ResetBody();
    curl_easy_setopt(handle, CURLOPT_URL, next.c_str());
    curl_easy_setopt(handle, CURLOPT_REFERER, referer.empty() ? nullptr : referer.c_str());
    if (curl_multi_add_handle(multi_.get(), handle) == CURLM_OK) {
      return;
    }
  }
  FetchResult outcome = Settle(transfer, result, status);
  transfer.sink.reset();
  if (!outcome.stored) {
    file_system_.Remove(transfer.temporary);
  }
  finished_.push_back({transfer.tag, std::move(outcome)});
  const auto at = std::find_if(active_.begin(), active_.end(),
                               [&](const auto& active) { return active.get() == &transfer; });
  idle_.push_back(std::move(*at));
  active_.erase(at);
}

// What became of a transfer that has ended, and the page file when it
// arrived whole.
download::FetchResult CurlImageFetcher::Settle(Transfer& transfer, CURLcode result, long status) {
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
  if (transfer.sink_failed) {
    FetchResult failed = FileFailure("cannot write " + transfer.temporary, transfer.sink_error);
    failed.http_status = status;
    return failed;
  }
  if (result != CURLE_OK) {
    FetchFailure kind = FetchFailure::Network;
    if (result == CURLE_OPERATION_TIMEDOUT) {
      kind = FetchFailure::Timeout;
    } else if (result == CURLE_URL_MALFORMAT || result == CURLE_UNSUPPORTED_PROTOCOL) {
      kind = FetchFailure::BadAddress;
    }
    return Fail(kind, curl_easy_strerror(result), status);
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
  std::FILE* file = transfer.sink.release();
  if (std::fclose(file) != 0) {  // NOLINT(cppcoreguidelines-owning-memory)
    FetchResult failed = FileFailure("cannot write " + transfer.temporary, errno);
    failed.http_status = status;
    return failed;
  }
  errno = 0;
  if (!file_system_.Rename(transfer.temporary, transfer.target)) {
    FetchResult failed = FileFailure("cannot rename to " + transfer.target, errno);
    failed.http_status = status;
    return failed;
  }
  return FetchResult::Stored(status);
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
  if (transfer.sink == nullptr || std::fwrite(data, 1, bytes, transfer.sink.get()) != bytes) {
    transfer.sink_failed = true;
    transfer.sink_error = errno;
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
  // curl's own low-speed check averages over several seconds, so a burst
  // before a stall keeps a transfer alive for longer than the limit; this
  // counts the time since the last byte arrived instead.
  const auto now = std::chrono::steady_clock::now();
  if (received != transfer.received) {
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
