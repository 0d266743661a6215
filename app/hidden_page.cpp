#include "app/hidden_page.h"

#include <QWebEngineProfile>
#include <QWebEngineSettings>

#include <utility>

namespace vexel::app {

HiddenPage::HiddenPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent) {
  // The job fetches the chapter's images itself; the page's own copies would
  // only fetch every first page twice and hold the end of the load back
  // until they had arrived.
  settings()->setAttribute(QWebEngineSettings::AutoLoadImages, false);
  busy_.Follow(this);
  check_.Follow(this);
  connect(this, &QWebEnginePage::loadFinished, this, [this](bool ok) {
    if (done_) {
      std::function<void(bool)> done = std::move(done_);
      done_ = nullptr;
      done(ok);
    }
  });
}

HiddenPage::~HiddenPage() = default;

void HiddenPage::Load(const QUrl& address, std::function<void(bool)> done) {
  // Busy from now on, not only from the engine's loadStarted a little later.
  busy_.MarkBusy();
  done_ = std::move(done);
  load(address);
  // Seen as the view's page is, so that scripts which wait until their page
  // is visible (document.visibilityState) run as they would there. Set once
  // the load has begun: before that the engine has no page to tell.
  setVisible(true);
}

void HiddenPage::javaScriptAlert(const QUrl&, const QString&) {}

bool HiddenPage::javaScriptConfirm(const QUrl&, const QString&) { return false; }

bool HiddenPage::javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) {
  return false;
}

}  // namespace vexel::app
