#include "download/download_job.h"

#include <optional>
#include <string>

#include <algorithm>

#include "download/chapter_plan.h"
#include "download/comic_info.h"
#include "download/image_loop.h"
#include "download/outcome_texts.h"
#include "query/element_query.h"

namespace vexel::download {
namespace {

// Sets the result text and writes the last line for the outcome's end.
JobOutcome Finish(DownloadHost& host, JobOutcome outcome) {
  switch (outcome.end) {
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

JobOutcome ErrorOutcome() { return JobOutcome{}; }

// The analysis up to, not including, the folder: the plan without Folder.
std::optional<ChapterPlan> Analyse(DownloadHost& host) {
  const ElementQuery query(host.Document());
  std::string chapter_line;
  if (query.Evaluate(std::string(kChapterLineQuery), chapter_line) != QueryMatched) {
    if (host.DocumentTooComplex()) {
      host.AppendLog(kLogPageTooComplex);
    }
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
                     {},
                     line->shown_title};
}

std::string ArchiveLine(const std::string& archive, std::string_view end) {
  std::string line(kLogArchiveStart);
  line.append(archive).append(kLogPageEnd).append(end);
  return line;
}

// Packs a chapter whose pages are all there; says why when it does not.
void PackChapter(DownloadHost& host, const JobTools& tools, const ChapterPlan& plan,
                 const std::string& archive, JobOutcome& outcome) {
  if (!outcome.failed.empty()) {
    host.AppendLog(kLogArchiveNotPacked);
    return;
  }
  if (plan.PageCount <= 0 || tools.packer == nullptr) {
    return;
  }
  PackRequest request;
  request.folder = plan.Folder;
  request.archive = archive;
  const std::size_t width = std::to_string(plan.PageCount).size();
  const std::string extension = FileExtension(plan.Extension);
  for (std::int64_t page = 1; page <= plan.PageCount; ++page) {
    std::string number = std::to_string(page);
    number.insert(0, width - number.size(), '0');
    request.pages.push_back({PageFilePath(plan, page), number + extension});
  }
  request.comic_info =
      ComicInfoXml(ComicInfoFor(plan.ShownTitle, plan.PageCount, host.PageAddress()));
  const PackResult packed = tools.packer->Pack(request);
  if (packed.ok) {
    outcome.packed = true;
    host.AppendLog(ArchiveLine(archive, kLogPageSucceeded));
    return;
  }
  // The chapter stays a folder, whole; but what was asked for did not
  // happen, and a reader library must not wait for an archive in vain.
  outcome.pack_failed = true;
  outcome.end = JobEnd::Error;
  FetchResult reason = FetchResult::Failed(FetchFailure::File, packed.reason);
  reason.system_error = packed.system_error;
  host.AppendLog(ArchiveLine(archive, PageFailedEnd(reason)));
}

}  // namespace

JobOutcome DownloadJob(DownloadHost& host, const JobTools& tools, const JobOptions& options) {
  host.ClearLog();
  std::optional<ChapterPlan> plan = Analyse(host);
  if (!plan) {
    return Finish(host, ErrorOutcome());
  }
  const OutputDirectory output = host.ChooseOutputDirectory();
  // Without an output directory the folder would land wherever the process
  // happens to run; that is no place to write to.
  if (output.path.empty()) {
    return Finish(host, ErrorOutcome());
  }
  plan->Title = ClaimFolderName(tools.claimed_names, output.path, plan->Title);
  const std::string archive = output.path + plan->Title + ".cbz";
  if (options.pack_cbz && options.skip_existing && tools.file_system.IsFile(archive)) {
    host.AppendLog(ArchiveLine(archive, kLogPageExists));
    JobOutcome present;
    present.end = JobEnd::Complete;
    present.present = std::max(plan->PageCount, 0);
    return Finish(host, std::move(present));
  }
  plan->Folder = output.path + plan->Title;
  // An existing folder is reused. One that cannot be made ends the job: every
  // page would fail, and the reason belongs in the log once.
  const FileResult created = tools.file_system.CreateDirectory(plan->Folder);
  if (!created) {
    host.AppendLog(FolderFailedLine(plan->Folder, created.error));
    return Finish(host, ErrorOutcome());
  }
  host.ChapterFolder(plan->Folder);
  if (output.fallback) {
    std::string line(output.chosen_folder_unwritable ? kLogChosenFolderFallback
                                                     : kLogFallbackFolder);
    line.append(plan->Folder).append("\r\n");
    host.AppendLog(line);
  }
  plan->Folder += "/";
  JobOutcome outcome = RunImageLoop(host, tools, options, *plan);
  // No page of a chapter that has pages arrived: an empty folder this job
  // made would only look like a chapter begun.
  if (created.made && plan->PageCount > 0 && outcome.stored == 0 && outcome.present == 0) {
    tools.file_system.RemoveDirectory(plan->Folder);
  }
  if (options.pack_cbz && outcome.end == JobEnd::Complete) {
    PackChapter(host, tools, *plan, archive, outcome);
  }
  return Finish(host, std::move(outcome));
}

}  // namespace vexel::download
