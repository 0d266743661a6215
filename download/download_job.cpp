#include "download/download_job.h"

#include <optional>
#include <random>
#include <string>

#include "download/chapter_plan.h"
#include "download/outcome_texts.h"
#include "query/element_query.h"

namespace vexel::download {
namespace {

JobOutcome Finish(DownloadHost& host, JobOutcome outcome, JobEnd end) {
  outcome.end = end;
  switch (end) {
    case JobEnd::Error:
      host.SetResultText(kResultError);
      host.AppendLog(kLogError);
      break;
    case JobEnd::Stopped:
      host.SetResultText(kResultStopped);
      host.AppendLog(kLogStopped);
      break;
    case JobEnd::Complete:
      host.SetResultText(kResultComplete);
      host.AppendLog(kLogComplete);
      break;
  }
  return outcome;
}

// The analysis up to, not including, the folder: the plan without Folder.
std::optional<ChapterPlan> Analyse(DownloadHost& host) {
  const ElementQuery query(host.Document());
  std::string chapter_line;
  if (query.Evaluate(std::string(kChapterLineQuery), chapter_line) != QueryMatched) {
    return std::nullopt;
  }
  const std::optional<ChapterLine> line = ReadChapterLine(chapter_line);
  if (!line) {
    return std::nullopt;
  }
  host.AppendLog(PageCountLine(line->page_count));

  std::string tag;
  if (query.Evaluate(std::string(kImageQuery), tag) != QueryMatched) {
    return std::nullopt;
  }
  const std::optional<std::string> address = ImageAddressFromTag(tag);
  if (!address) {
    return std::nullopt;
  }
  std::optional<AddressPattern> pattern = SplitImageAddress(*address);
  if (!pattern) {
    return std::nullopt;
  }
  return ChapterPlan{SafeFolderName(line->title),
                     line->page_count,
                     std::move(pattern->url_prefix),
                     std::move(pattern->extension),
                     {}};
}

// One page, tried again after transient failures as long as the policy and
// the stop flag allow.
FetchResult FetchWithRetries(DownloadHost& host, const JobTools& tools, const JobOptions& options,
                             const std::string& address, const std::string& target) {
  thread_local std::minstd_rand random{std::random_device{}()};
  PageAttempts attempts;
  for (;;) {
    attempts.last = tools.fetcher.FetchImage(address, target);
    ++attempts.tries;
    if (attempts.last.stored) {
      return attempts.last;
    }
    const double jitter = std::uniform_real_distribution<double>(0.0, 1.0)(random);
    const std::optional<std::chrono::milliseconds> delay =
        RetryDelay(attempts.last, attempts.tries, options.retries, jitter);
    if (!delay || host.StopRequested() || !host.WaitBeforeRetry(*delay)) {
      return attempts.last;
    }
  }
}

JobOutcome RunImageLoop(DownloadHost& host, const JobTools& tools, const JobOptions& options,
                        const ChapterPlan& plan) {
  JobOutcome outcome;
  const std::string base = host.PageAddress();
  int failures_in_a_row = 0;
  // A 64-bit counter, so that a count of INT32_MAX still ends.
  for (std::int64_t page = 1; page <= plan.PageCount; ++page) {
    if (host.StopRequested()) {
      return Finish(host, std::move(outcome), JobEnd::Stopped);
    }
    const std::string reference = PageReference(plan, page);
    // An address that cannot be resolved is fetched as it stands and fails.
    const std::string address = tools.resolver.Resolve(base, reference).value_or(reference);
    const std::string target = PageFilePath(plan, page);
    std::string line(kLogPageStart);
    line.append(address).append(kLogPageEnd);
    host.AppendLog(line);
    host.PageStarted(page, plan.PageCount);
    if (options.skip_existing && tools.file_system.IsFile(target)) {
      host.AppendLog(kLogPageExists);
      ++outcome.present;
      failures_in_a_row = 0;
      host.PageFinished(page, FetchResult::Stored(0));
      continue;
    }
    const FetchResult result = FetchWithRetries(host, tools, options, address, target);
    if (result.stored) {
      host.AppendLog(kLogPageSucceeded);
      ++outcome.stored;
      failures_in_a_row = 0;
    } else {
      host.AppendLog(PageFailedEnd(result));
      outcome.failed.push_back(page);
      ++failures_in_a_row;
    }
    host.PageFinished(page, result);
    // A count that lies (2^31 - 1 pages of which none exist) must not keep
    // the job asking for days.
    if (failures_in_a_row >= kMaxFailuresInARow && page < plan.PageCount) {
      host.AppendLog(kLogTooManyFailures);
      break;
    }
  }
  if (host.StopRequested()) {
    return Finish(host, std::move(outcome), JobEnd::Stopped);
  }
  // Pages were asked for and none arrived: that is no download.
  if (plan.PageCount > 0 && outcome.stored + outcome.present == 0) {
    return Finish(host, std::move(outcome), JobEnd::Error);
  }
  if (!outcome.failed.empty()) {
    host.AppendLog(FailedPagesLine(outcome.failed));
  }
  return Finish(host, std::move(outcome), JobEnd::Complete);
}

}  // namespace

JobOutcome DownloadJob(DownloadHost& host, const JobTools& tools, const JobOptions& options) {
  host.ClearLog();
  std::optional<ChapterPlan> plan = Analyse(host);
  if (!plan) {
    return Finish(host, {}, JobEnd::Error);
  }
  const OutputDirectory output = host.ChooseOutputDirectory();
  // Without an output directory the folder would land wherever the process
  // happens to run; that is no place to write to.
  if (output.path.empty()) {
    return Finish(host, {}, JobEnd::Error);
  }
  plan->Folder = output.path + plan->Title;
  // An existing folder is reused. One that cannot be made ends the job: every
  // page would fail, and the reason belongs in the log once.
  if (const FileResult created = tools.file_system.CreateDirectory(plan->Folder); !created) {
    host.AppendLog(FolderFailedLine(plan->Folder, created.error));
    return Finish(host, {}, JobEnd::Error);
  }
  if (output.fallback) {
    std::string line(kLogFallbackFolder);
    line.append(plan->Folder).append("\r\n");
    host.AppendLog(line);
  }
  plan->Folder += "/";
  return RunImageLoop(host, tools, options, *plan);
}

}  // namespace vexel::download
