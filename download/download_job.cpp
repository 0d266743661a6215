#include "download/download_job.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>

#include "download/chapter_list.h"
#include "download/chapter_plan.h"
#include "download/comic_info.h"
#include "download/image_check.h"
#include "download/image_loop.h"
#include "download/outcome_texts.h"
#include "query/element_query.h"

namespace vexel::download {
namespace {

// Sets the result text and writes the last line for the outcome's end.
JobOutcome Finish(DownloadHost& host, JobOutcome outcome) {
  if (!outcome.refusal.empty()) {
    host.SetResultText(outcome.refusal);
    host.AppendLog(outcome.refusal + "\r\n");
    return outcome;
  }
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

// Where a chapter whose folder the loop filled went: the folder and its
// page files, or the archive it became.
void NoteOutput(JobOutcome& outcome, const ChapterPlan& plan, const std::string& archive) {
  if (outcome.packed) {
    outcome.archive = archive;
    return;
  }
  outcome.folder = plan.Folder.substr(0, plan.Folder.size() - 1);
  if (!outcome.complete() || !outcome.failed.empty()) {
    return;
  }
  for (std::int64_t page = 1; page <= plan.PageCount; ++page) {
    outcome.page_files.push_back(PageFilePath(plan, page).substr(plan.Folder.size()));
  }
}

// A page that is no chapter may be the comic's own page: the host is told
// how many chapters it lists.
void TellListedChapters(DownloadHost& host, const JobTools& tools) {
  PageDocument* document = host.Document();
  if (document == nullptr) {
    return;
  }
  const std::size_t count = FindChapterList(document, host.PageAddress(), tools.resolver).size();
  if (count > 0) {
    host.PageListsChapters(count);
  }
}

// The folder of a chapter's comic: the series ComicInfo.xml names, made
// safe and cut as chapter titles are; empty when the line names none.
std::string SeriesFolderName(const std::string& shown_title) {
  const std::string series = ComicInfoFor(shown_title, 0, {}).series;
  return series.empty() ? std::string() : FitFolderName(SafeFolderName(series), 0);
}

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
                     line->shown_title,
                     false};
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
  // A page that is not a whole image (cut short, replaced meanwhile) would
  // make an archive that looks done and is not: the chapter stays a folder,
  // and the next run with skip-existing fetches that page again.
  for (std::int64_t page = 1; page <= plan.PageCount; ++page) {
    if (!IsWholeImageFile(tools.file_system, PageFilePath(plan, page))) {
      outcome.pack_failed = true;
      outcome.end = JobEnd::Error;
      host.AppendLog(
          ArchiveLine(archive, "失败（第" + std::to_string(page) + "张图片不完整）\r\n"));
      return;
    }
  }
  PackRequest request;
  request.folder = plan.Folder;
  request.archive = archive;
  const std::string extension = FileExtension(plan.Extension);
  for (std::int64_t page = 1; page <= plan.PageCount; ++page) {
    request.pages.push_back(
        {PageFilePath(plan, page), PaddedPageNumber(page, plan.PageCount) + extension});
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

// A kill during packing can leave the folder beside the finished archive:
// its page files go, and the folder when nothing else is in it. Nothing but
// the names the job gives pages is touched, and nothing through a link.
void RemoveLeftoverFolder(FileSystem& file_system, ChapterPlan plan) {
  if (file_system.KindOf(plan.Folder) != EntryKind::Directory) {
    return;
  }
  const std::string folder = plan.Folder;
  plan.Folder += "/";
  for (std::int64_t page = 1; page <= plan.PageCount; ++page) {
    const std::string file = PageFilePath(plan, page);
    if (file_system.KindOf(file) == EntryKind::File) {
      file_system.Remove(file);
    }
  }
  file_system.RemoveDirectory(folder);
}

// Moves an archive that is not whole out of the way, to the first free
// "<archive>.broken" name, so that nothing of the user's is lost.
std::optional<std::string> SetAside(FileSystem& file_system, const std::string& archive,
                                    int& error) {
  constexpr int kMostNames = 100;
  for (int n = 1; n <= kMostNames; ++n) {
    std::string aside = archive + ".broken";
    if (n > 1) {
      aside += "." + std::to_string(n);
    }
    const FileResult moved = file_system.RenameNoReplace(archive, aside);
    if (moved) {
      return aside;
    }
    if (moved.error != EEXIST) {
      error = moved.error;
      return std::nullopt;
    }
  }
  error = EEXIST;
  return std::nullopt;
}

enum class EarlierArchive { None, Whole, SetAside, Stuck };

// With skip-existing, an archive from an earlier run counts as the chapter
// done only when it is whole; anything else at its name is set aside and
// the chapter packed again.
EarlierArchive LookAtEarlierArchive(DownloadHost& host, const JobTools& tools,
                                    const ChapterPlan& plan, const std::string& archive) {
  if (tools.packer == nullptr || tools.file_system.KindOf(archive) == EntryKind::None) {
    return EarlierArchive::None;
  }
  if (tools.file_system.KindOf(archive) == EntryKind::File &&
      tools.packer->IsWholeArchive(archive, std::max(plan.PageCount, 0))) {
    host.AppendLog(ArchiveLine(archive, kLogPageExists));
    return EarlierArchive::Whole;
  }
  int error = 0;
  if (const std::optional<std::string> aside = SetAside(tools.file_system, archive, error)) {
    std::string end(kLogArchiveSetAside);
    end.append(*aside).append("\r\n");
    host.AppendLog(ArchiveLine(archive, end));
    return EarlierArchive::SetAside;
  }
  // Packing would replace it; the job ends instead.
  FetchResult reason = FetchResult::Failed(FetchFailure::File, "cannot set aside " + archive);
  reason.system_error = error;
  host.AppendLog(ArchiveLine(archive, PageFailedEnd(reason)));
  return EarlierArchive::Stuck;
}

}  // namespace

JobOutcome DownloadJob(DownloadHost& host, const JobTools& tools, const JobOptions& options) {
  host.ClearLog();
  std::optional<ChapterPlan> plan = Analyse(host);
  if (!plan) {
    TellListedChapters(host, tools);
    return Finish(host, ErrorOutcome());
  }
  const OutputDirectory output = host.ChooseOutputDirectory();
  // Without an output directory the folder would land wherever the process
  // happens to run; that is no place to write to.
  if (output.path.empty()) {
    return Finish(host, ErrorOutcome());
  }
  plan->PadPages = options.pad_pages;
  std::string directory = output.path;
  if (options.series_folders) {
    const std::string series = SeriesFolderName(plan->ShownTitle);
    if (!series.empty()) {
      // An existing folder of the comic is reused.
      directory += series;
      const FileResult made = tools.file_system.CreateDirectory(directory);
      if (!made) {
        host.AppendLog(FolderFailedLine(directory, made.error));
        return Finish(host, ErrorOutcome());
      }
      directory += "/";
    }
  }
  plan->Title = ClaimFolderName(tools.claimed_names, directory, plan->Title);
  const std::string archive = directory + plan->Title + ".cbz";
  plan->Folder = directory + plan->Title;
  if (options.pack_cbz && options.skip_existing) {
    switch (LookAtEarlierArchive(host, tools, *plan, archive)) {
      case EarlierArchive::Whole: {
        RemoveLeftoverFolder(tools.file_system, *plan);
        JobOutcome present;
        present.end = JobEnd::Complete;
        present.present = std::max(plan->PageCount, 0);
        present.title = plan->ShownTitle;
        present.archive = archive;
        return Finish(host, std::move(present));
      }
      case EarlierArchive::Stuck: {
        JobOutcome stuck;
        stuck.pack_failed = true;
        return Finish(host, std::move(stuck));
      }
      case EarlierArchive::None:
      case EarlierArchive::SetAside:
        break;
    }
  }
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
  tools.fetcher.SetReferer(host.PageAddress());
  JobOutcome outcome = RunImageLoop(host, tools, options, *plan);
  // No page of a chapter that has pages arrived: an empty folder this job
  // made would only look like a chapter begun.
  const bool removed = created.made && plan->PageCount > 0 && outcome.stored == 0 &&
                       outcome.present == 0 && tools.file_system.RemoveDirectory(plan->Folder);
  if (options.pack_cbz && outcome.end == JobEnd::Complete) {
    PackChapter(host, tools, *plan, archive, outcome);
  }
  outcome.title = plan->ShownTitle;
  if (!removed) {
    NoteOutput(outcome, *plan, archive);
  }
  return Finish(host, std::move(outcome));
}

}  // namespace vexel::download
