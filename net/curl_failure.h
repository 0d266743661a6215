// What a failed curl transfer means for a page, in the terms the job and
// its log use; written once for the page loader and the image fetcher.
#pragma once

#include <curl/curl.h>

#include "download/image_fetcher.h"

namespace vexel::net {

// CURLE_OPERATION_TIMEDOUT (the connect timeout, the low-speed limit and the
// deadline) is a Timeout; an address curl cannot use is BadAddress; a local
// file that cannot be read is File; a transfer the progress callback ended
// is Abandoned; one past CURLOPT_MAXFILESIZE is TooLarge; the rest is
// Network. CURLE_OK is None.
download::FetchFailure FailureOfCurlCode(CURLcode code);

}  // namespace vexel::net
