// What the window hands to each download job besides itself: the image
// fetcher and the rule for where chapter folders go. Both can be replaced, so
// tests and the benchmark can watch the fetches or redirect the output.
#pragma once

#include <functional>

#include "download/download_host.h"
#include "runtime/job_runtime.h"

namespace vexel::app {

using FetcherFactory = runtime::FetcherFactory;
using OutputDirectoryRule = std::function<download::OutputDirectory()>;

}  // namespace vexel::app
