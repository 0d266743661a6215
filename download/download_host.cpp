#include "download/download_host.h"

#include <algorithm>
#include <thread>

namespace vexel::download {

bool DownloadHost::WaitBeforeRetry(std::chrono::milliseconds delay) {
  constexpr std::chrono::milliseconds kPoll{50};
  const auto until = std::chrono::steady_clock::now() + delay;
  while (!StopRequested()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) {
      return true;
    }
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(until - now, kPoll));
  }
  return false;
}

}  // namespace vexel::download
