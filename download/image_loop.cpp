#include "download/image_loop.h"

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <string>

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

  JobOutcome Conclude(bool gave_up) {
    if (gave_up) {
      host_.AppendLog(kLogTooManyFailures);
    }
    if (host_.StopRequested()) {
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
  JobOutcome Stopped() {
    outcome_.end = JobEnd::Stopped;
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

// One page, tried again after transient failures as long as the policy and
// the stop flag allow.
FetchResult FetchWithRetries(DownloadHost& host, const JobTools& tools, const JobOptions& options,
                             const PageAddress& page) {
  PageAttempts attempts;
  for (;;) {
    const std::optional<std::chrono::milliseconds> delay =
        RecordTry(attempts, tools.fetcher.FetchImage(page.address, page.target), options);
    if (!delay || host.StopRequested() || !host.WaitBeforeRetry(*delay)) {
      return attempts.last;
    }
  }
}

JobOutcome RunOneAtATime(DownloadHost& host, const JobTools& tools, const JobOptions& options,
                         const ChapterPlan& plan) {
  PageLog log(host, plan);
  const std::string base = host.PageAddress();
  // A 64-bit counter, so that a count of INT32_MAX still ends.
  for (std::int64_t page = 1; page <= plan.PageCount; ++page) {
    if (host.StopRequested()) {
      return log.Stopped();
    }
    const PageAddress where = AddressOf(tools, base, plan, page);
    log.Open(page, where.address);
    if (options.skip_existing && tools.file_system.IsFile(where.target)) {
      log.Present(page);
      continue;
    }
    log.End(page, FetchWithRetries(host, tools, options, where));
    if (log.TooManyFailures() && page < plan.PageCount) {
      return log.Conclude(/*gave_up=*/true);
    }
  }
  return log.Conclude(/*gave_up=*/false);
}

// Up to `options.jobs` pages in flight. A page's line opens once every page
// before it is logged and ends once its fetch has ended, so the log reads
// as with one page at a time. A stop request starts no new page; the pages
// in flight finish and are logged. Nothing when the fetcher fetches only
// one page at a time.
std::optional<JobOutcome> RunSeveralAtOnce(DownloadHost& host, const JobTools& tools,
                                           const JobOptions& options, const ChapterPlan& plan) {
  struct Page {
    PageAddress where;
    PageAttempts attempts;
    bool present = false;
    bool ended = false;
    std::optional<Clock::time_point> retry_at;
  };
  PageLog log(host, plan);
  const std::string base = host.PageAddress();
  std::map<std::int64_t, Page> pages;  // started, not yet logged
  std::int64_t next_to_start = 1;
  std::int64_t next_to_log = 1;
  bool line_open = false;
  bool starting = true;
  bool gave_up = false;
  int in_flight = 0;

  const auto start = [&](std::int64_t number, Page& page) {
    ++in_flight;
    return tools.fetcher.StartFetch(static_cast<std::uint64_t>(number), page.where.address,
                                    page.where.target);
  };
  const auto ended = [&](Page& page, FetchResult result) {
    const std::optional<std::chrono::milliseconds> delay =
        RecordTry(page.attempts, std::move(result), options);
    if (delay && starting) {
      page.retry_at = Clock::now() + *delay;
    } else {
      page.ended = true;
    }
  };

  for (;;) {
    if (starting && host.StopRequested()) {
      starting = false;
    }
    // Pages waiting for a retry: again when due, or ended by a stop.
    for (auto& [number, page] : pages) {
      if (!page.retry_at) {
        continue;
      }
      if (!starting) {
        page.retry_at.reset();
        page.ended = true;
      } else if (*page.retry_at <= Clock::now()) {
        page.retry_at.reset();
        start(number, page);
      }
    }
    while (starting && in_flight < options.jobs && next_to_start <= plan.PageCount &&
           pages.size() < static_cast<std::size_t>(options.jobs) * 2) {
      const std::int64_t number = next_to_start++;
      Page& page = pages[number];
      page.where = AddressOf(tools, base, plan, number);
      if (options.skip_existing && tools.file_system.IsFile(page.where.target)) {
        page.present = true;
        page.ended = true;
      } else if (!start(number, page)) {
        return std::nullopt;  // only ever the first page: fetch one at a time instead
      }
    }
    // Lines in page order, as far as the pages have ended.
    while (!pages.empty() && pages.begin()->first == next_to_log) {
      Page& page = pages.begin()->second;
      if (!line_open) {
        log.Open(next_to_log, page.where.address);
        line_open = true;
      }
      if (!page.ended) {
        break;
      }
      if (page.present) {
        log.Present(next_to_log);
      } else {
        log.End(next_to_log, page.attempts.last);
      }
      if (log.TooManyFailures() && next_to_log < plan.PageCount) {
        starting = false;
        gave_up = true;
      }
      pages.erase(pages.begin());
      ++next_to_log;
      line_open = false;
    }
    if (pages.empty() && (!starting || next_to_start > plan.PageCount)) {
      break;
    }
    if (in_flight > 0) {
      if (std::optional<FinishedFetch> done = tools.fetcher.NextFinished(kStopCheckSlice)) {
        --in_flight;
        ended(pages.at(static_cast<std::int64_t>(done->tag)), std::move(done->result));
      }
    } else {
      // Nothing in flight: wait for the first retry that is due, or a stop
      // (which the host's wait sees itself). Without one (the pages so far
      // were already there), the next pages start at once.
      std::optional<Clock::time_point> first;
      for (const auto& [number, page] : pages) {
        if (page.retry_at && (!first || *page.retry_at < *first)) {
          first = page.retry_at;
        }
      }
      if (first) {
        host.WaitBeforeRetry(
            std::max(std::chrono::ceil<std::chrono::milliseconds>(*first - Clock::now()),
                     std::chrono::milliseconds(0)));
      }
    }
  }
  return log.Conclude(gave_up);
}

}  // namespace

JobOutcome RunImageLoop(DownloadHost& host, const JobTools& tools, const JobOptions& options,
                        const ChapterPlan& plan) {
  if (options.jobs > 1 && plan.PageCount > 1) {
    if (std::optional<JobOutcome> outcome = RunSeveralAtOnce(host, tools, options, plan)) {
      return std::move(*outcome);
    }
  }
  return RunOneAtATime(host, tools, options, plan);
}

}  // namespace vexel::download
