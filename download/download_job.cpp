#include "download/download_job.h"

#include <optional>
#include <string>

#include "download/chapter_plan.h"
#include "download/outcome_texts.h"
#include "query/element_query.h"

namespace vexel::download {
namespace {

bool Finish(DownloadHost& host, std::string_view result, std::string_view last_line, bool value) {
  host.SetResultText(result);
  host.AppendLog(last_line);
  return value;
}

bool Error(DownloadHost& host) { return Finish(host, kResultError, kLogError, false); }
bool Stopped(DownloadHost& host) { return Finish(host, kResultStopped, kLogStopped, false); }
bool Complete(DownloadHost& host) { return Finish(host, kResultComplete, kLogComplete, true); }

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

bool RunImageLoop(DownloadHost& host, const JobTools& tools, const ChapterPlan& plan) {
  const std::string base = host.PageAddress();
  // A 64-bit counter, so that a count of INT32_MAX still ends.
  for (std::int64_t page = 1; page <= plan.PageCount; ++page) {
    if (host.StopRequested()) {
      return Stopped(host);
    }
    const std::string reference = PageReference(plan, page);
    // An address that cannot be resolved is fetched as it stands and fails.
    const std::string address = tools.resolver.Resolve(base, reference).value_or(reference);
    std::string line(kLogPageStart);
    line.append(address).append(kLogPageEnd);
    host.AppendLog(line);
    host.PageStarted(page, plan.PageCount);
    const FetchResult result = tools.fetcher.FetchImage(address, PageFilePath(plan, page));
    host.AppendLog(result.stored ? kLogPageSucceeded : kLogPageFailed);
    host.PageFinished(page, result);
  }
  return host.StopRequested() ? Stopped(host) : Complete(host);
}

}  // namespace

bool DownloadJob(DownloadHost& host, const JobTools& tools) {
  host.ClearLog();
  std::optional<ChapterPlan> plan = Analyse(host);
  if (!plan) {
    return Error(host);
  }
  const OutputDirectory output = host.ChooseOutputDirectory();
  // Without an output directory the folder would land wherever the process
  // happens to run; that is no place to write to.
  if (output.path.empty()) {
    return Error(host);
  }
  plan->Folder = output.path + plan->Title;
  // An existing folder is reused; one that cannot be created shows later as
  // failed pages.
  tools.file_system.CreateDirectory(plan->Folder);
  if (output.fallback) {
    std::string line(kLogFallbackFolder);
    line.append(plan->Folder).append("\r\n");
    host.AppendLog(line);
  }
  plan->Folder += "/";
  return RunImageLoop(host, tools, *plan);
}

}  // namespace vexel::download
