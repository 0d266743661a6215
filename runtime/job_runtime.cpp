#include "runtime/job_runtime.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "files/cbz_packer.h"
#include "files/real_file_system.h"
#include "net/resolve_address.h"
#include "runtime/write_behind.h"

namespace vexel::runtime {
namespace {

std::string WithoutFragment(const std::string& address) {
  return address.substr(0, address.find('#'));
}

// The address a chapter is recorded under: absolute and without fragment. A
// saved page given by its file name is recorded as the file:// address of
// that file, so that the two ways of naming it are one chapter.
std::string RecordAddress(const std::string& address) {
  std::string bare = WithoutFragment(address);
  if (bare.empty() || bare.find("://") != std::string::npos) {
    return bare;
  }
  std::error_code error;
  const std::filesystem::path path = std::filesystem::absolute(bare, error);
  return error ? bare : "file://" + path.lexically_normal().string();
}

}  // namespace

// The queue as the runner runs it, with the chapters the records hold left
// out and the chapter under way noted for its record.
class JobRuntime::QueueSteps final : public download::ChapterRunner {
 public:
  QueueSteps(JobRuntime& runtime, download::ChapterRunner& runner)
      : runtime_(runtime), runner_(runner) {}

  void AppendLog(std::string_view text) override { runner_.AppendLog(text); }
  bool StopRequested() override { return runner_.StopRequested(); }

  std::optional<download::JobOutcome> RunChapter(std::size_t position, std::size_t count,
                                                 const download::ChapterLink& chapter) override {
    if (runtime_.AlreadyDownloaded(chapter)) {
      runner_.AppendLog(kLogAlreadyDownloaded);
      download::JobOutcome done;
      done.end = download::JobEnd::Complete;
      done.title = chapter.title;
      return done;
    }
    runtime_.current_ = chapter;
    std::optional<download::JobOutcome> outcome = runner_.RunChapter(position, count, chapter);
    runtime_.current_ = {};
    return outcome;
  }

 private:
  JobRuntime& runtime_;
  download::ChapterRunner& runner_;
};

std::unique_ptr<download::ImageFetcher> MakeCurlFetcher(const net::FetchOptions& options) {
  return std::make_unique<net::CurlImageFetcher>(options);
}

download::JobOutcome StoppedBeforeJob() {
  download::JobOutcome stopped;
  stopped.end = download::JobEnd::Stopped;
  return stopped;
}

JobRuntime::JobRuntime(RunSetup setup) : setup_(std::move(setup)) {}

download::FileSystem& JobRuntime::Files() const {
  return setup_.file_system != nullptr ? *setup_.file_system : files::RealFileSystem();
}

download::JobOutcome JobRuntime::RunChapter(download::DownloadHost& host) {
  if (setup_.cookies) {
    setup_.fetch.cookie_lines = setup_.cookies();
  }
  // With a record to come, the pages go out to storage as they land, so that
  // the flush before the record has only the last of them to wait for.
  std::optional<WriteBehindFiles> write_behind;
  net::FetchOptions fetch = setup_.fetch;
  if (setup_.records != nullptr) {
    write_behind.emplace(fetch.file_system != nullptr ? *fetch.file_system
                                                      : files::RealFileSystem());
    fetch.file_system = &*write_behind;
  }
  const std::unique_ptr<download::ImageFetcher> fetcher = setup_.make_fetcher(fetch);
  files::CbzPacker packer(Files());
  const std::string address =
      RecordAddress(current_.address.empty() ? host.PageAddress() : current_.address);
  claimed_names_.owner = address;
  if (setup_.records != nullptr) {
    // A folder the library records for another chapter of the same title is
    // not this chapter's: its pages would count as this chapter's present.
    claimed_names_.held_elsewhere = [records = setup_.records, address](const std::string& path) {
      return records->HeldByAnother(path, address);
    };
  }
  download::JobOutcome outcome = download::DownloadJob(
      host, {*fetcher, Files(), net::CurlAddressResolver(), &packer, &claimed_names_}, setup_.job);
  if (write_behind) {
    write_behind->Stop();
  }
  if (setup_.records != nullptr && outcome.complete() && outcome.failed.empty()) {
    Record(host, outcome);
  }
  return outcome;
}

void JobRuntime::Record(download::DownloadHost& host, const download::JobOutcome& outcome) {
  download::FinishedChapter chapter;
  // Under the address its comic lists it by, so that the next look at the
  // list finds it; a chapter given by address goes under its page's.
  chapter.address = RecordAddress(current_.address.empty() ? host.PageAddress() : current_.address);
  chapter.title = outcome.title;
  chapter.comic = current_.comic;
  chapter.folder = outcome.archive.empty() ? outcome.folder : std::string();
  chapter.page_files = outcome.page_files;
  chapter.archive = outcome.archive;
  const std::string& output = chapter.archive.empty() ? chapter.folder : chapter.archive;
  if (output.empty()) {
    return;
  }
  if (!chapter.archive.empty()) {
    const download::FileEnds ends = Files().ReadEnds(chapter.archive, 0, 0);
    if (!ends.regular) {
      return;
    }
    chapter.archive_size = static_cast<std::int64_t>(ends.size);
  }
  // Nothing counts as done before it is on disk.
  if (!Files().FlushToDisk(output)) {
    return;
  }
  setup_.records->Record(chapter);
}

bool JobRuntime::AlreadyDownloaded(const download::ChapterLink& chapter) const {
  return setup_.records != nullptr && setup_.skip_downloaded && !chapter.comic.empty() &&
         setup_.records->IsDownloaded(WithoutFragment(chapter.address));
}

download::JobOutcome JobRuntime::RunListedChapter(download::DownloadHost& host,
                                                  const download::ChapterLink& chapter) {
  current_ = chapter;
  download::JobOutcome outcome = RunChapter(host);
  current_ = {};
  return outcome;
}

download::QueueOutcome JobRuntime::RunQueue(download::ChapterRunner& runner,
                                            const std::vector<download::ChapterLink>& chapters) {
  QueueSteps steps(*this, runner);
  return download::RunChapterQueue(steps, chapters);
}

}  // namespace vexel::runtime
