#include "cli/page_prefetch.h"

#include <utility>

namespace vexel::cli {
namespace {

// Pages fetched and not yet taken: enough to keep the transfers going while
// one page is read, and no pile of pages in memory.
constexpr std::size_t kAhead = 2;

}  // namespace

PagePrefetch::PagePrefetch(const ConsoleSession& session, std::vector<std::string> addresses)
    : session_(session),
      addresses_(std::move(addresses)),
      fetcher_([this](const std::stop_token& stop) { Fetch(stop); }) {}

PagePrefetch::~PagePrefetch() {
  fetcher_.request_stop();
  changed_.notify_all();
}

net::FetchedPage PagePrefetch::Next() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !fetched_.empty() || finished_; });
  if (fetched_.empty()) {
    net::FetchedPage none;
    none.Fail(download::FetchFailure::Abandoned, "stopped");
    return none;
  }
  net::FetchedPage page = std::move(fetched_.front());
  fetched_.pop_front();
  changed_.notify_all();
  return page;
}

void PagePrefetch::Fetch(const std::stop_token& stop) {
  // One handle for every page: curl's transfer set-up is made once.
  const net::CurlEasy handle = net::MakeCurlEasy();
  for (const std::string& address : addresses_) {
    {
      std::unique_lock lock(mutex_);
      if (!changed_.wait(lock, stop, [this] { return fetched_.size() < kAhead; })) {
        break;
      }
    }
    // A first Ctrl-C ends the run after the page under way: no new request.
    if (session_.StopRequested()) {
      break;
    }
    net::FetchedPage page = session_.FetchPage(address, handle.get());
    const std::lock_guard lock(mutex_);
    fetched_.push_back(std::move(page));
    changed_.notify_all();
  }
  const std::lock_guard lock(mutex_);
  finished_ = true;
  changed_.notify_all();
}

}  // namespace vexel::cli
