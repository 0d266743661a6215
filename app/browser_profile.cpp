#include "app/browser_profile.h"

#include <QStandardPaths>
#include <QWebEngineCookieStore>
#include <QtGlobal>

#include "app/cookie_file.h"

namespace vexel::app {

BrowserProfile::BrowserProfile(const QString& storage_name)
    : profile_(std::make_unique<QWebEngineProfile>(storage_name)),
      user_agent_(profile_->httpUserAgent().toStdString()) {
  // The program's own folders under the user's data and cache folders,
  // whatever organisation name the application carries.
  const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
  profile_->setPersistentStoragePath(data + QStringLiteral("/vexel-downloader/") + storage_name);
  profile_->setCachePath(cache + QStringLiteral("/vexel-downloader/") + storage_name);
  QWebEngineCookieStore* store = profile_->cookieStore();
  QObject::connect(store, &QWebEngineCookieStore::cookieAdded, store,
                   [this](const QNetworkCookie& cookie) {
                     cookies_.Add(cookie);
                     CookiesChanged();
                   });
  QObject::connect(store, &QWebEngineCookieStore::cookieRemoved, store,
                   [this](const QNetworkCookie& cookie) {
                     cookies_.Remove(cookie);
                     CookiesChanged();
                   });
  cookie_write_.setSingleShot(true);
  cookie_write_.setInterval(kCookieWriteDelayMs);
  QObject::connect(&cookie_write_, &QTimer::timeout, &cookie_write_, [this] { WriteCookieFile(); });
  // The user agent is the engine's for the whole run. The cookie file is
  // written once at start too, so that it is there with none.
  if (!WritePrivateFile(WindowDataFolder() + QStringLiteral("/user-agent"), user_agent_ + '\n')) {
    qWarning("vexel-downloader: cannot write the user agent into %s",
             qPrintable(WindowDataFolder()));
  }
  CookiesChanged();
  // The cookies kept from earlier runs reach the jar through cookieAdded.
  store->loadAllCookies();
}

BrowserProfile::~BrowserProfile() {
  // A change that has not been written yet is not lost with the program.
  if (cookie_write_.isActive()) {
    cookie_write_.stop();
    WriteCookieFile();
  }
}

void BrowserProfile::CookiesChanged() { cookie_write_.start(); }

void BrowserProfile::WriteCookieFile() {
  const QString path = WindowDataFolder() + QStringLiteral("/cookies.txt");
  if (!WritePrivateFile(path, CookieFileText(cookies_.CurlCookieLines())) &&
      !cookie_write_warned_) {
    cookie_write_warned_ = true;  // once a run, not at every cookie
    qWarning("vexel-downloader: cannot write the cookies into %s", qPrintable(path));
  }
}

}  // namespace vexel::app
