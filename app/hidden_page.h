// A page of the browser profile that no view shows: a chapter queue loads each
// chapter into one, so that the page's cookies and scripts act as they do in
// the browser view while the view keeps the user's page.
#pragma once

#include <QUrl>
#include <QWebEnginePage>

#include <functional>

#include "app/browser_check.h"
#include "app/live_page_document.h"
#include "app/load_busy.h"

class QWebEngineProfile;

namespace vexel::app {

class HiddenPage : public QWebEnginePage, public LivePage {
 public:
  // `profile` must outlive the page. User-interface thread only, except
  // PageBusy.
  HiddenPage(QWebEngineProfile* profile, QObject* parent);
  ~HiddenPage() override;
  HiddenPage(const HiddenPage&) = delete;
  HiddenPage& operator=(const HiddenPage&) = delete;
  HiddenPage(HiddenPage&&) = delete;
  HiddenPage& operator=(HiddenPage&&) = delete;

  // Starts loading `address`; `done` is told once, with whether the load
  // succeeded, when it finishes. Meant for a page that has loaded nothing
  // yet, so that the first end of a load is this one's.
  void Load(const QUrl& address, std::function<void(bool)> done);

  bool PageBusy() const override { return busy_.Busy(); }
  QWebEnginePage* EnginePage() override { return this; }
  bool AsksForBrowserCheck() const override { return check_.AsksForCheck(); }

 protected:
  // Nobody sees this page, so nobody could answer its dialogs: alerts are
  // dropped, confirmations refused and prompts left empty.
  void javaScriptAlert(const QUrl& origin, const QString& message) override;
  bool javaScriptConfirm(const QUrl& origin, const QString& message) override;
  bool javaScriptPrompt(const QUrl& origin, const QString& message, const QString& default_value,
                        QString* result) override;

 private:
  std::function<void(bool)> done_;
  LoadBusyTracker busy_;
  BrowserCheckWatch check_;
};

}  // namespace vexel::app
