#include "app/browser_profile.h"

#include <QStandardPaths>
#include <QWebEngineCookieStore>

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
                   [this](const QNetworkCookie& cookie) { cookies_.Add(cookie); });
  QObject::connect(store, &QWebEngineCookieStore::cookieRemoved, store,
                   [this](const QNetworkCookie& cookie) { cookies_.Remove(cookie); });
  // The cookies kept from earlier runs reach the jar through cookieAdded.
  store->loadAllCookies();
}

BrowserProfile::~BrowserProfile() = default;

}  // namespace vexel::app
