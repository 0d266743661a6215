#include "app/explorer.h"

#include <QAction>
#include <QWebEngineHistory>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>

namespace vexel::app {

CExplorer::CExplorer(QWebEngineProfile* profile, QWidget* parent) : QWebEngineView(parent) {
  auto* page = new QWebEnginePage(profile, this);  // owned by the view
  setPage(page);
  connect(page, &QWebEnginePage::loadStarted, this, [this] {
    busy_.store(true, std::memory_order_release);
    ReportBackState();
  });
  connect(page, &QWebEnginePage::loadFinished, this, [this](bool) {
    busy_.store(false, std::memory_order_release);
    ReportBackState();
  });
  // The history has no signal of its own; a committed navigation (including
  // one inside the same document) changes the address, and the page's Back
  // action is re-enabled or disabled whenever the history changes.
  connect(page, &QWebEnginePage::urlChanged, this, [this] { ReportBackState(); });
  connect(page->action(QWebEnginePage::Back), &QAction::changed, this,
          [this] { ReportBackState(); });
  connect(page, &QWebEnginePage::newWindowRequested, this,
          [this](QWebEngineNewWindowRequest& request) {
            emit NewWindowRequested(request.requestedUrl());
          });
}

CExplorer::~CExplorer() = default;

void CExplorer::Navigate(const QString& address) { page()->load(QUrl(address)); }

void CExplorer::GoBack() { page()->triggerAction(QWebEnginePage::Back); }

bool CExplorer::CanGoBack() const { return page()->history()->canGoBack(); }

void CExplorer::ReportBackState() { emit BackStateChanged(CanGoBack()); }

}  // namespace vexel::app
