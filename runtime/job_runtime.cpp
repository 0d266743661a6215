#include "runtime/job_runtime.h"

#include <utility>

#include "files/cbz_packer.h"
#include "files/real_file_system.h"
#include "net/resolve_address.h"

namespace vexel::runtime {

std::unique_ptr<download::ImageFetcher> MakeCurlFetcher(const net::FetchOptions& options) {
  return std::make_unique<net::CurlImageFetcher>(options);
}

download::JobOutcome StoppedBeforeJob() {
  download::JobOutcome stopped;
  stopped.end = download::JobEnd::Stopped;
  return stopped;
}

JobRuntime::JobRuntime(RunSetup setup) : setup_(std::move(setup)) {}

download::JobOutcome JobRuntime::RunChapter(download::DownloadHost& host) {
  if (setup_.cookies) {
    setup_.fetch.cookie_lines = setup_.cookies();
  }
  const std::unique_ptr<download::ImageFetcher> fetcher = setup_.make_fetcher(setup_.fetch);
  files::CbzPacker packer(files::RealFileSystem());
  return download::DownloadJob(
      host,
      {*fetcher, files::RealFileSystem(), net::CurlAddressResolver(), &packer, &claimed_names_},
      setup_.job);
}

download::QueueOutcome JobRuntime::RunQueue(download::ChapterRunner& runner,
                                            const std::vector<download::ChapterLink>& chapters) {
  return download::RunChapterQueue(runner, chapters);
}

}  // namespace vexel::runtime
