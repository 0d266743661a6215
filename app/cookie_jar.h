// The browser view's cookies, as the image fetcher needs them.
//
// Qt WebEngine keeps its cookies inside the browser engine and only tells the
// program about them through the cookie store's added/removed signals, on the
// user-interface thread. The jar mirrors them so that the download worker can
// take, from its own thread, a copy in the form libcurl's cookie engine loads;
// that engine then chooses, request by request, the cookies the browser would
// send.
#pragma once

#include <QNetworkCookie>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace vexel::app {

class CookieJar {
 public:
  // From the cookie store's signals (any thread).
  void Add(const QNetworkCookie& cookie);
  void Remove(const QNetworkCookie& cookie);

  // Every cookie as one line of the Netscape cookie-file format, for
  // CURLOPT_COOKIELIST: domain (".domain" and TRUE for a domain cookie, the
  // exact host and FALSE for a host-only one), path, secure, expiry in unix
  // seconds (0 for a session cookie), name and value, tab-separated, with
  // "#HttpOnly_" before an http-only cookie's domain. In the order the cookies
  // were first added. A cookie whose text would break its line (a control
  // character) or that names no domain is left out.
  std::vector<std::string> CurlCookieLines() const;

  std::size_t size() const;

 private:
  struct Entry {
    std::string name;
    std::string value;
    std::string domain;  // lower case, without a leading dot
    bool host_only = true;
    std::string path;
    bool secure = false;
    bool http_only = false;
    std::int64_t expiry = 0;  // unix seconds; 0 for a session cookie
  };
  static Entry FromCookie(const QNetworkCookie& cookie);
  static bool SameCookie(const Entry& a, const Entry& b);

  mutable std::mutex mutex_;
  std::vector<Entry> entries_;  // in the order first added
};

}  // namespace vexel::app
