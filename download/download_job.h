// The comic download job: analyse the chapter page, then fetch every page image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "download/address_resolver.h"
#include "download/chapter_packer.h"
#include "download/claimed_names.h"
#include "download/download_host.h"
#include "download/file_system.h"
#include "download/image_fetcher.h"
#include "download/retry_policy.h"

namespace vexel::download {

// The parts a job works through; the window and vexel-dl hand in the real
// ones, tests hand in fakes.
struct JobTools {
  ImageFetcher& fetcher;
  FileSystem& file_system;
  const AddressResolver& resolver;
  // Packs finished chapters when JobOptions::pack_cbz asks for it.
  ChapterPacker* packer = nullptr;
  // The folder names the chapters before this one in the same run claimed;
  // null for a chapter run alone.
  ClaimedNames* claimed_names = nullptr;
};

// How a job treats pages; the defaults are the window's.
struct JobOptions {
  // Extra tries of a page after a transient failure; 0 turns retries off.
  int retries = kDefaultRetries;
  // A page whose file is already in the chapter folder, a regular file
  // holding a whole image (see image_check.h), is not fetched again
  // ("已存在") and counts as stored; anything else at its name (a link
  // included) is fetched and replaced.
  bool skip_existing = false;
  // Pages fetched at once (1 to 8); 1 is the plain one-after-another loop.
  // Log lines still come in page order.
  int jobs = 1;
  // A chapter whose every page is stored or present, and a whole image,
  // becomes one CBZ archive with ComicInfo.xml, "<folder name>.cbz" beside
  // the folder, which then goes. With skip_existing, an existing archive
  // that the packer finds whole counts as the chapter present (and a folder
  // left beside it loses its page files); anything else at its name is
  // renamed to a free "<name>.cbz.broken" and the chapter packed again.
  bool pack_cbz = false;
  // Page files are named with the number zero-padded to the width of the
  // page count (01.png … 12.png). With skip_existing a page is also found
  // under the other name (an earlier run with the other setting): a whole
  // image there is renamed to the name in use and counts as present.
  bool pad_pages = false;
  // Chapter folders and archives go into a folder of their comic inside
  // the output directory, named after the chapter line's part before the
  // first " > " (as ComicInfo's Series), made safe as titles are. A chapter
  // line without " > " leaves the chapter directly in the output directory.
  bool series_folders = false;
  // Refusals in a row (429, or 403 once pages have arrived) that end the
  // job with RefusalText; 0: never.
  int refusals_in_a_row = kDefaultRefusalsInARow;
};

enum class JobEnd { Error, Stopped, Complete };

struct JobOutcome {
  JobEnd end = JobEnd::Error;
  std::int64_t stored = 0;           // pages fetched and stored
  std::int64_t present = 0;          // pages already there, not fetched
  std::vector<std::int64_t> failed;  // pages that failed, in page order
  bool packed = false;               // the chapter became an archive
  bool pack_failed = false;          // packing was asked for and failed (an error)
  // What the analysis read and where the chapter went, once known: the title
  // as the page shows it, the chapter folder (without a final "/"), and the
  // archive when the chapter is one (packed now, or found whole).
  std::string title;
  std::string folder;
  std::string archive;
  // With every page stored or present and no archive: the page files' names
  // in `folder`, page 1 first.
  std::vector<std::string> page_files;
  // The site refused page after page: the job's log and result text
  // (RefusalText), with end Error. Empty otherwise.
  std::string refusal;
  bool complete() const { return end == JobEnd::Complete; }
};

// Runs one whole job for `host` with `tools`. Complete only when the image
// loop ran to its end without a stop request and stored (or found) at least
// one page of a chapter that has pages. Sets the host's result text exactly
// once.
//
// The analysis reads the chapter line and the first page image tag through
// two element queries, creates the chapter folder in the host's output
// directory and then fetches pages 1 to the page count one after another,
// checking the stop flag before each page and once after the last. Image
// addresses are resolved against the host's page address, so the log and the
// fetch both show absolute addresses. Transient failures are tried again as
// RetryDelay says; ten pages in a row that fail for good end the loop as if
// the count ended there.
JobOutcome DownloadJob(DownloadHost& host, const JobTools& tools, const JobOptions& options = {});

}  // namespace vexel::download
