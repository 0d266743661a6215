#include "download/download_job.h"

namespace vexel::download {

bool DownloadJob(DownloadHost& host, platform::ImageFetcher& /*fetcher*/) {
  host.SetResultText("下载出错");
  return false;
}

}  // namespace vexel::download
