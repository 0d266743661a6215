// The browser view's profile: where its cookies, cache and storage live.
//
// A named profile keeps its cookies on disk between runs, as a browser does,
// so a user who logs in to the site stays logged in. The profile must outlive
// every page that uses it, so it lives with the application, not the window.
//
// Its cookies and user agent are also kept written in the window's data
// folder (cookie_file.h), so that vexel-dl --cookies-from-window can use a
// login made, or a browser check passed, in the window.
#pragma once

#include <QString>
#include <QTimer>
#include <QWebEngineProfile>

#include <memory>
#include <string>

#include "app/cookie_jar.h"

namespace vexel::app {

class BrowserProfile {
 public:
  // `storage_name` names the profile's folders under the user's data and cache
  // folders.
  explicit BrowserProfile(const QString& storage_name = QStringLiteral("vexel-downloader"));
  ~BrowserProfile();
  BrowserProfile(const BrowserProfile&) = delete;
  BrowserProfile& operator=(const BrowserProfile&) = delete;
  BrowserProfile(BrowserProfile&&) = delete;
  BrowserProfile& operator=(BrowserProfile&&) = delete;

  QWebEngineProfile* Profile() const { return profile_.get(); }
  // The view's cookies, kept current from the cookie store.
  const CookieJar& Cookies() const { return cookies_; }
  // The user agent the view sends, for the image fetches.
  const std::string& UserAgent() const { return user_agent_; }

  // How long after a change of the cookies the file is written: a page
  // sets a burst of them at once, which is written once.
  static constexpr int kCookieWriteDelayMs = 200;

 private:
  void CookiesChanged();
  void WriteCookieFile();

  std::unique_ptr<QWebEngineProfile> profile_;
  CookieJar cookies_;
  std::string user_agent_;
  QTimer cookie_write_;
  bool cookie_write_warned_ = false;
};

}  // namespace vexel::app
