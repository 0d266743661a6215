#include "download/image_loop.h"

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <string>

#include "download/image_check.h"
#include "download/outcome_texts.h"
#include "download/retry_policy.h"

namespace vexel::download {
namespace {

using Clock = std::chrono::steady_clock;

// How long the loop with several pages in flight waits for the network
// before it looks at the stop flag again.
constexpr std::chrono::milliseconds kStopCheckSlice{100};

double Jitter() {
  thread_local std::minstd_rand random{std::random_device{}()};
  return std::uniform_real_distribution<double>(0.0, 1.0)(random);
}

// The log of the pages, in page order, and the counts that decide the end.
class PageLog {
 public:
  PageLog(DownloadHost& host, const ChapterPlan& plan) : host_(host), plan_(plan) {}

  void Open(std::int64_t page, const std::string& address) {
    std::string line(kLogPageStart);
    line.append(address).append(kLogPageEnd);
    host_.AppendLog(line);
    host_.PageStarted(page, plan_.PageCount);
  }
  void Present(std::int64_t page) {
    host_.AppendLog(kLogPageExists);
    ++outcome_.present;
    failures_in_a_row_ = 0;
    host_.PageFinished(page, FetchResult::Stored(0));
  }
  void End(std::int64_t page, const FetchResult& result) {
    if (result.stored) {
      host_.AppendLog(kLogPageSucceeded);
      ++outcome_.stored;
      failures_in_a_row_ = 0;
    } else {
      host_.AppendLog(PageFailedEnd(result));
      outcome_.failed.push_back(page);
      ++failures_in_a_row_;
    }
    host_.PageFinished(page, result);
  }
  // A count that lies (2^31 - 1 pages of which none exist) must not keep the
  // job asking for days: ten failures in a row end the loop as if the count
  // ended there.
  bool TooManyFailures() const { return failures_in_a_row_ >= kMaxFailuresInARow; }

  // `stopped`: a stop request was already seen. `refused`: the status of
  // the refusals that ended the job, or 0.
  JobOutcome Conclude(bool gave_up, bool stopped, long refused) {
    if (gave_up) {
      host_.AppendLog(kLogTooManyFailures);
    }
    if (refused != 0) {
      outcome_.end = JobEnd::Error;
      outcome_.refusal = RefusalText(refused);
    } else if (stopped || host_.StopRequested()) {
      outcome_.end = JobEnd::Stopped;
    } else if (plan_.PageCount > 0 && outcome_.stored + outcome_.present == 0) {
      // Pages were asked for and none arrived: that is no download.
      outcome_.end = JobEnd::Error;
    } else {
      if (!outcome_.failed.empty()) {
        host_.AppendLog(FailedPagesLine(outcome_.failed));
      }
      outcome_.end = JobEnd::Complete;
    }
    return std::move(outcome_);
  }

 private:
  DownloadHost& host_;
  const ChapterPlan& plan_;
  JobOutcome outcome_;
  int failures_in_a_row_ = 0;
};

struct PageAddress {
  std::string address;
  std::string target;
};

PageAddress AddressOf(const JobTools& tools, const std::string& base, const ChapterPlan& plan,
                      std::int64_t page) {
  const std::string reference = PageReference(plan, page);
  // An address that cannot be resolved is fetched as it stands and fails.
  return {tools.resolver.Resolve(base, reference).value_or(reference), PageFilePath(plan, page)};
}

// Records the end of one try of a page: the wait before the next try, or
// nothing when the page has ended (stored, or failed for good).
std::optional<std::chrono::milliseconds> RecordTry(PageAttempts& attempts, FetchResult result,
                                                   const JobOptions& options) {
  attempts.last = std::move(result);
  ++attempts.tries;
  if (attempts.last.stored) {
    return std::nullopt;
  }
  return RetryDelay(attempts.last, attempts.tries, options.retries, Jitter());
}

// One page from its start to its log line, as curl's per_transfer is for
// one transfer.
struct PageState {
  PageAddress where;
  PageAttempts attempts;
  bool present = false;    // already there, not fetched
  bool in_flight = false;  // started with StartFetch, not yet finished
  bool ended = false;      // stored, failed for good, or given up on
  std::optional<Clock::time_point> retry_at;
};

// Up to `options.jobs` pages at once (one when the fetcher fetches one at a
// time). A page's line opens once every page before it is logged, before
// its fetch when it is the next to log, and ends once its fetch has ended,
// so the log reads as with one page at a time. A stop request starts no new
// page; the pages in flight finish and are logged.
class ImageLoop {
 public:
  ImageLoop(DownloadHost& host, const JobTools& tools, const JobOptions& options,
            const ChapterPlan& plan)
      : host_(host),
        tools_(tools),
        options_(options),
        plan_(plan),
        log_(host, plan),
        base_(host.PageAddress()),
        several_(options.jobs > 1 && plan.PageCount > 1) {}

  JobOutcome Run() {
    for (;;) {
      // Waiting pages: a stop must reach them without a new page starting.
      if (starting_ && (in_flight_ > 0 || waiting_ > 0) && Stop()) {
        starting_ = false;
      }
      RestartDueRetries();
      StartNewPages();
      LogEndedPages();
      if (pages_.empty() && (!starting_ || next_to_start_ > plan_.PageCount)) {
        break;
      }
      WaitForProgress();
    }
    if (paused_) {
      host_.Paused(std::chrono::seconds(0));
    }
    return log_.Conclude(gave_up_, stopped_, refused_status_);
  }

 private:
  bool Stop() {
    if (host_.StopRequested()) {
      stopped_ = true;
    }
    return stopped_;
  }
  int Width() const { return several_ ? options_.jobs : 1; }

  // True unless the server's pause is still on; says so once it is over.
  bool PauseOver() {
    if (paused_ && Clock::now() >= paused_until_) {
      paused_ = false;
      host_.Paused(std::chrono::seconds(0));
    }
    return !paused_;
  }

  // Each try's answer: a server's pause holds every page of the chapter,
  // and refusals in a row end the job.
  void Heed(const FetchResult& result) {
    if (const std::optional<std::chrono::seconds> pause = ServerPause(result)) {
      const Clock::time_point until = Clock::now() + *pause;
      if (!paused_ || until > paused_until_) {
        paused_until_ = until;
        paused_ = true;
        host_.Paused(*pause);
      }
    }
    if (result.stored) {
      any_stored_ = true;
    }
    if (!IsRefusal(result, any_stored_)) {
      refusals_ = 0;
    } else if (options_.refusals_in_a_row > 0 && ++refusals_ >= options_.refusals_in_a_row) {
      refused_status_ = result.http_status;
      starting_ = false;
    }
  }

  // With skip-existing, a whole image under the page's other name (padded
  // or not) is taken over rather than fetched again.
  bool AdoptOtherName(std::int64_t number, const std::string& target) {
    const std::string other = PageFilePath(plan_, number, !plan_.PadPages);
    return other != target && IsWholeImageFile(tools_.file_system, other) &&
           tools_.file_system.RenameNoReplace(other, target);
  }

  // One try of a page. Several at once through StartFetch while the fetcher
  // takes them; the first page it refuses turns the loop into one page at a
  // time through FetchImage. A later refusal ends that page as failed: it
  // would otherwise count as a fetch that never ends.
  void Launch(std::int64_t number, PageState& page) {
    if (several_) {
      if (tools_.fetcher.StartFetch(static_cast<std::uint64_t>(number), page.where.address,
                                    page.where.target)) {
        page.in_flight = true;
        ++in_flight_;
        started_any_ = true;
        return;
      }
      if (started_any_ || page.attempts.tries > 0) {
        if (page.attempts.tries == 0) {
          RecordTry(page.attempts,
                    FetchResult::Failed(FetchFailure::Network, "the fetch could not start"),
                    options_);
        }
        page.ended = true;
        return;
      }
      several_ = false;
    }
    Ended(page, tools_.fetcher.FetchImage(page.where.address, page.where.target));
  }

  void Ended(PageState& page, FetchResult result) {
    Heed(result);
    const std::optional<std::chrono::milliseconds> delay =
        RecordTry(page.attempts, std::move(result), options_);
    if (delay && starting_) {
      page.retry_at = Clock::now() + *delay;
      if (waiting_++ == 0) {
        host_.RetryPending(true);
      }
    } else {
      page.ended = true;
    }
  }

  // Pages waiting for a retry: again when due, or ended by a stop.
  void RestartDueRetries() {
    for (auto& [number, page] : pages_) {
      if (!page.retry_at || (starting_ && (*page.retry_at > Clock::now() || !PauseOver()))) {
        continue;
      }
      page.retry_at.reset();
      if (--waiting_ == 0) {
        host_.RetryPending(false);
      }
      if (starting_) {
        Launch(number, page);
      } else {
        page.ended = true;
      }
    }
  }

  void StartNewPages() {
    const auto width = static_cast<std::size_t>(Width());
    while (starting_ && in_flight_ < Width() && next_to_start_ <= plan_.PageCount &&
           pages_.size() < (several_ ? width * 2 : 1) && PauseOver()) {
      // Before each page, as a user pressing stop expects.
      if (Stop()) {
        starting_ = false;
        return;
      }
      // A 64-bit counter, so that a count of INT32_MAX still ends.
      const std::int64_t number = next_to_start_++;
      PageState& page = pages_[number];
      page.where = AddressOf(tools_, base_, plan_, number);
      if (number == next_to_log_) {
        OpenLine();
      }
      // Only a whole image counts as there: an empty file, an error page,
      // a cut transfer or a link is fetched again (a link is replaced, its
      // target never read).
      if (options_.skip_existing && (IsWholeImageFile(tools_.file_system, page.where.target) ||
                                     AdoptOtherName(number, page.where.target))) {
        page.present = true;
        page.ended = true;
      } else {
        Launch(number, page);
      }
    }
  }

  void OpenLine() {
    if (!line_open_) {
      log_.Open(next_to_log_, pages_.begin()->second.where.address);
      line_open_ = true;
    }
  }

  // Lines in page order, as far as the pages have ended.
  void LogEndedPages() {
    while (!pages_.empty() && pages_.begin()->first == next_to_log_) {
      OpenLine();
      PageState& page = pages_.begin()->second;
      if (!page.ended) {
        return;
      }
      if (page.present) {
        log_.Present(next_to_log_);
      } else {
        log_.End(next_to_log_, page.attempts.last);
      }
      if (log_.TooManyFailures() && next_to_log_ < plan_.PageCount) {
        starting_ = false;
        gave_up_ = true;
      }
      pages_.erase(pages_.begin());
      ++next_to_log_;
      line_open_ = false;
    }
  }

  void WaitForProgress() {
    if (in_flight_ > 0) {
      if (std::optional<FinishedFetch> done = tools_.fetcher.NextFinished(kStopCheckSlice)) {
        const auto found = pages_.find(static_cast<std::int64_t>(done->tag));
        if (found != pages_.end() && found->second.in_flight) {
          found->second.in_flight = false;
          --in_flight_;
          Ended(found->second, std::move(done->result));
        }
      }
      return;
    }
    // Nothing in flight: wait for the first retry that is due, or a stop
    // (which the host's wait sees itself). Without one (the pages so far
    // were already there), the next pages start at once.
    std::optional<Clock::time_point> first;
    for (const auto& [number, page] : pages_) {
      if (page.retry_at && (!first || *page.retry_at < *first)) {
        first = page.retry_at;
      }
    }
    // A pause with pages still to start is waited for like a retry.
    if (paused_ && starting_ && (!first || paused_until_ < *first)) {
      first = paused_until_;
    }
    if (!first) {
      return;
    }
    if (!host_.WaitBeforeRetry(
            std::max(std::chrono::ceil<std::chrono::milliseconds>(*first - Clock::now()),
                     std::chrono::milliseconds(0)))) {
      starting_ = false;  // a stop, or the program closing
      return;
    }
    // The host waited as asked: those pages are due, whatever the clock
    // here says, so one wait is one retry.
    for (auto& [number, page] : pages_) {
      if (page.retry_at && *page.retry_at <= *first) {
        page.retry_at = Clock::time_point::min();
      }
    }
    if (paused_ && paused_until_ <= *first) {
      paused_until_ = Clock::time_point::min();
    }
  }

  DownloadHost& host_;
  const JobTools& tools_;
  const JobOptions& options_;
  const ChapterPlan& plan_;
  PageLog log_;
  const std::string base_;
  bool several_;
  std::map<std::int64_t, PageState> pages_;  // started, not yet logged
  std::int64_t next_to_start_ = 1;
  std::int64_t next_to_log_ = 1;
  int in_flight_ = 0;
  int waiting_ = 0;  // pages waiting for a retry
  bool started_any_ = false;
  bool line_open_ = false;
  bool starting_ = true;
  bool stopped_ = false;
  bool gave_up_ = false;
  bool paused_ = false;  // the server asked every request to wait
  Clock::time_point paused_until_{};
  bool any_stored_ = false;
  int refusals_ = 0;
  long refused_status_ = 0;
};

}  // namespace

JobOutcome RunImageLoop(DownloadHost& host, const JobTools& tools, const JobOptions& options,
                        const ChapterPlan& plan) {
  return ImageLoop(host, tools, options, plan).Run();
}

}  // namespace vexel::download
