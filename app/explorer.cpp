#include "app/explorer.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QWebEngineContextMenuRequest>
#include <QWebEngineHistory>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>

namespace vexel::app {

CExplorer::CExplorer(QWebEngineProfile* profile, QWidget* parent) : QWebEngineView(parent) {
  auto* page = new QWebEnginePage(profile, this);  // owned by the view
  setPage(page);
  busy_.Follow(page);
  check_.Follow(page);
  connect(page, &QWebEnginePage::loadStarted, this, [this] { ReportBackState(); });
  connect(page, &QWebEnginePage::loadFinished, this, [this](bool) { ReportBackState(); });
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

void CExplorer::contextMenuEvent(QContextMenuEvent* event) {
  emit ContextMenuOpening();
  QMenu* menu = createStandardContextMenu();
  menu->setAttribute(Qt::WA_DeleteOnClose, true);
  if (!menu->isEmpty()) {
    menu->addSeparator();
  }
  for (QAction* item : page_items_) {
    menu->addAction(item);
  }
  // Only a web address can be loaded as a chapter page; javascript: and
  // mailto: links get no chapter item.
  const QWebEngineContextMenuRequest* request = lastContextMenuRequest();
  const QUrl link = request != nullptr ? request->linkUrl() : QUrl();
  if (link.isValid() && (link.scheme() == u"http" || link.scheme() == u"https")) {
    QAction* download = menu->addAction(QString::fromUtf16(kDownloadLinkCaption));
    connect(download, &QAction::triggered, this,
            [this, link] { emit DownloadLinkRequested(link); });
  }
  if (menu->isEmpty()) {
    delete menu;
    return;
  }
  menu->popup(event->globalPos());
}

void CExplorer::ReportBackState() { emit BackStateChanged(CanGoBack()); }

}  // namespace vexel::app
