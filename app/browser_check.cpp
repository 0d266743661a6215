#include "app/browser_check.h"

#include <QObject>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>

namespace vexel::app {

void BrowserCheckWatch::Follow(QWebEnginePage* page) {
  QObject::connect(
      page, &QWebEnginePage::loadingChanged, page, [this](const QWebEngineLoadingInfo& info) {
        if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
          check_.store(false, std::memory_order_release);
          return;
        }
        // The engine names the response's status in this domain,
        // a success's too.
        const int status = info.errorCode();
        const bool check = info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain &&
                           (status == 403 || status == 503) && !info.isErrorPage();
        check_.store(check, std::memory_order_release);
      });
}

}  // namespace vexel::app
