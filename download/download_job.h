// The comic download job: analyse the chapter page, then fetch every page image.
#pragma once

#include "download/download_host.h"
#include "platform/image_fetcher.h"

namespace vexel::download {

// Runs one whole job for `host`, fetching through `fetcher`. True only when
// the image loop ran to its end without a stop request. Sets the host's
// result text exactly once.
bool DownloadJob(DownloadHost& host, platform::ImageFetcher& fetcher);

}  // namespace vexel::download
