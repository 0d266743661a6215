// The comic pages of an update fetched in order on a thread of their own,
// one request at a time as before, so that reading each page and the
// library's work on it overlap the transfer of the next: with nothing new,
// the run takes about as long as its requests.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "cli/console_session.h"
#include "net/curl_handle.h"
#include "net/page_loader.h"

namespace vexel::cli {

class PagePrefetch {
 public:
  // Starts fetching `addresses` over `session`'s connections, which nothing
  // else may use until this object is gone; `session` must outlive it.
  PagePrefetch(const ConsoleSession& session, std::vector<std::string> addresses);
  // Waits for the fetch under way, if any (a second Ctrl-C abandons it).
  ~PagePrefetch();
  PagePrefetch(const PagePrefetch&) = delete;
  PagePrefetch& operator=(const PagePrefetch&) = delete;
  PagePrefetch(PagePrefetch&&) = delete;
  PagePrefetch& operator=(PagePrefetch&&) = delete;

  // The next address's page, in order, once it is there. Past the last, or
  // once a stop was asked for before its fetch began, a failed page.
  net::FetchedPage Next();

 private:
  void Fetch(const std::stop_token& stop);

  const ConsoleSession& session_;
  const std::vector<std::string> addresses_;
  std::mutex mutex_;
  std::condition_variable_any changed_;
  std::deque<net::FetchedPage> fetched_;
  bool finished_ = false;  // no more pages will come
  // Last: started once the rest exists, and joined before it goes.
  std::jthread fetcher_;
};

}  // namespace vexel::cli
