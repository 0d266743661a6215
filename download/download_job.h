// The comic download job: analyse the chapter page, then fetch every page image.
#pragma once

#include "download/address_resolver.h"
#include "download/download_host.h"
#include "download/file_system.h"
#include "download/image_fetcher.h"

namespace vexel::download {

// The parts a job works through; the window and vexel-dl hand in the real
// ones, tests hand in fakes.
struct JobTools {
  ImageFetcher& fetcher;
  FileSystem& file_system;
  const AddressResolver& resolver;
};

// Runs one whole job for `host` with `tools`. True only when
// the image loop ran to its end without a stop request. Sets the host's
// result text exactly once.
//
// The analysis reads the chapter line and the first page image tag through
// two element queries, creates the chapter folder in the host's output
// directory and then fetches pages 1 to the page count one after another,
// checking the stop flag before each page and once after the last. Image
// addresses are resolved against the host's page address, so the log and the
// fetch both show absolute addresses.
bool DownloadJob(DownloadHost& host, const JobTools& tools);

}  // namespace vexel::download
