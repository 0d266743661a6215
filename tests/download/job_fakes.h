// A host that records what the download job does, and a fetcher whose
// answers a test scripts.
#pragma once

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "download/download_host.h"
#include "download/image_fetcher.h"
#include "tests/support/file_temp_dir.h"

namespace vexel::testing {

// The smallest file the job takes for a whole image (a GIF's signature and
// end) holding `text`, so that a test can still tell pages apart.
inline std::string FakeImage(const std::string& text) { return "GIF89a" + text + ";"; }

// Stores a body as the real fetcher does: a file of its own renamed over the
// target, which replaces a link there rather than writing through it.
inline bool StoreBody(const std::string& target, const std::string& bytes) {
  const std::string part = target + ".part";
  return WriteWholeFile(part, bytes) && std::rename(part.c_str(), target.c_str()) == 0;
}

class RecordingHost final : public download::DownloadHost {
 public:
  // The log as the pane would show it, and every append separately.
  std::string log;
  std::vector<std::string> appends;
  int clears = 0;
  std::vector<std::string> results;
  // Answers StopRequested; counts how often it was asked.
  std::function<bool()> stop = [] { return false; };
  int stop_checks = 0;

  PageDocument* document = nullptr;
  std::string page_address = "http://127.0.0.1:1/comic/1/1.html";
  download::OutputDirectory output;
  int output_requests = 0;

  void ClearLog() override {
    ++clears;
    log.clear();
    appends.emplace_back("<clear>");
  }
  void AppendLog(std::string_view text) override {
    log.append(text);
    appends.emplace_back(text);
  }
  bool StopRequested() override {
    ++stop_checks;
    return stop();
  }
  void SetResultText(std::string_view text) override { results.emplace_back(text); }
  PageDocument* Document() override { return document; }
  std::string PageAddress() override { return page_address; }
  void PageStarted(std::int64_t page, std::int32_t page_count) override {
    appends.push_back("<page " + std::to_string(page) + "/" + std::to_string(page_count) + ">");
  }
  download::OutputDirectory ChooseOutputDirectory() override {
    ++output_requests;
    return output;
  }
  // Waits before retries return at once; `waits` records what was asked and
  // `wait_answer` says whether a stop ended the wait.
  std::vector<std::chrono::milliseconds> waits;
  std::function<bool()> wait_answer = [] { return true; };
  bool WaitBeforeRetry(std::chrono::milliseconds delay) override {
    waits.push_back(delay);
    return wait_answer();
  }
  void PageListsChapters(std::size_t count) override {
    appends.push_back("<lists " + std::to_string(count) + ">");
  }
  void RetryPending(bool pending) override {
    appends.emplace_back(pending ? "<retry pending>" : "<retry over>");
  }
};

class ScriptedFetcher final : public download::ImageFetcher {
 public:
  struct Call {
    std::string address;
    std::string target;
  };
  std::vector<Call> calls;
  // What a fetch answers: true (stored), false (HTTP 404) or a result.
  struct Answer {
    Answer(bool stored)  // NOLINT(google-explicit-constructor): lambdas return bool
        : result(stored ? download::FetchResult::Stored(200)
                        : download::FetchResult::Failed(download::FetchFailure::HttpStatus,
                                                        "HTTP 404", 404)) {}
    Answer(download::FetchResult fetched)  // NOLINT(google-explicit-constructor)
        : result(std::move(fetched)) {}
    download::FetchResult result;
  };
  // Decides each fetch (1-based call number); the default stores the address
  // as the file's content, the way a real fetch stores a body.
  std::function<Answer(int call, const Call&)> answer = [](int, const Call& call) {
    return StoreBody(call.target, FakeImage(call.address));
  };

  download::FetchResult FetchImage(const std::string& address, const std::string& target) override {
    calls.push_back({address, target});
    return answer(static_cast<int>(calls.size()), calls.back()).result;
  }
};

// Takes several pages at once and ends the newest first, so that pages end
// out of order; pages in `missing` answer 404, those in `busy_once` 503 the
// first time.
class ConcurrentFetcher final : public download::ImageFetcher {
 public:
  std::set<std::uint64_t> missing;
  std::set<std::uint64_t> busy_once;
  std::vector<std::uint64_t> started;  // every start, retries included
  std::size_t most_in_flight = 0;
  std::function<void()> on_finish = [] {};
  bool refuse_restarts = false;  // a page's second StartFetch answers false

  download::FetchResult FetchImage(const std::string&, const std::string&) override {
    return download::FetchResult::Failed(download::FetchFailure::Network, "not used");
  }
  bool StartFetch(std::uint64_t tag, const std::string& address,
                  const std::string& target) override {
    if (refuse_restarts && std::ranges::find(started, tag) != started.end()) {
      return false;
    }
    started.push_back(tag);
    in_flight_.push_back({tag, address, target});
    most_in_flight_ = std::max(most_in_flight_, in_flight_.size());
    most_in_flight = most_in_flight_;
    return true;
  }
  std::optional<download::FinishedFetch> NextFinished(std::chrono::milliseconds) override {
    if (in_flight_.empty()) {
      return std::nullopt;
    }
    const Flight flight = in_flight_.back();
    in_flight_.pop_back();
    on_finish();
    if (missing.contains(flight.tag)) {
      return download::FinishedFetch{
          flight.tag,
          download::FetchResult::Failed(download::FetchFailure::HttpStatus, "HTTP 404", 404)};
    }
    if (busy_once.erase(flight.tag) > 0) {
      download::FetchResult busy =
          download::FetchResult::Failed(download::FetchFailure::HttpStatus, "HTTP 503", 503);
      busy.retry_after_seconds = 0;
      return download::FinishedFetch{flight.tag, busy};
    }
    StoreBody(flight.target, FakeImage(flight.address));
    return download::FinishedFetch{flight.tag, download::FetchResult::Stored(200)};
  }

 private:
  struct Flight {
    std::uint64_t tag;
    std::string address;
    std::string target;
  };
  std::vector<Flight> in_flight_;
  std::size_t most_in_flight_ = 0;
};

}  // namespace vexel::testing
