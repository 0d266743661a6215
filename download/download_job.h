// The comic download job: analyse the chapter page, then fetch every page image.
#pragma once

#include "download/download_host.h"
#include "platform/file_system.h"
#include "platform/image_fetcher.h"

namespace vexel::download {

// Runs one whole job for `host`, fetching through `fetcher`. True only when
// the image loop ran to its end without a stop request. Sets the host's
// result text exactly once.
//
// The analysis reads the chapter line and the first page image tag through
// two element queries, creates the chapter folder in the host's output
// directory and then fetches pages 1 to the page count one after another,
// checking the stop flag before each page and once after the last. Image
// addresses are resolved against the host's page address, so the log and the
// fetch both show absolute addresses.
bool DownloadJob(DownloadHost& host, platform::ImageFetcher& fetcher);

// The same with the folder created through `file_system`.
bool DownloadJob(DownloadHost& host, platform::ImageFetcher& fetcher,
                 platform::FileSystem& file_system);

}  // namespace vexel::download
