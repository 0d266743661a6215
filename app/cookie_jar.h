// The browser view's cookies, as the image fetcher needs them.
//
// Qt WebEngine keeps its cookies inside the browser engine and only tells the
// program about them through the cookie store's added/removed signals, on the
// user-interface thread. The jar mirrors them so that the download worker can
// ask, from its own thread, which cookies a request to an address would carry,
// the way the browser would send them.
#pragma once

#include <QNetworkCookie>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace vexel::app {

class CookieJar {
 public:
  using Clock = std::chrono::system_clock;

  // From the cookie store's signals (any thread).
  void Add(const QNetworkCookie& cookie);
  void Remove(const QNetworkCookie& cookie);

  // The Cookie header value for a request to `address` at time `now`:
  // "name=value; name2=value2", longer paths first, then older cookies first;
  // empty when none applies or the address is not an http(s) address.
  std::string CookiesFor(const std::string& address, Clock::time_point now = Clock::now()) const;

  std::size_t size() const;

 private:
  struct Entry {
    std::string name;
    std::string value;
    std::string domain;  // lower case, without a leading dot
    bool host_only = true;
    std::string path;
    bool secure = false;
    bool expires = false;
    Clock::time_point expiry{};
    unsigned long long order = 0;  // insertion order, for ties
  };
  static Entry FromCookie(const QNetworkCookie& cookie);
  static bool SameCookie(const Entry& a, const Entry& b);

  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
  unsigned long long next_order_ = 0;
};

}  // namespace vexel::app
