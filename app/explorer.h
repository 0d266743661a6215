// CExplorer: the browser view of the main window (control 1002), a Qt
// WebEngine view with the few operations the program performs through it.
// Its context menu is the engine's own (in Chinese once Qt's catalogues are
// installed), with the window's 下载本页列出的章节… and 加入书架 and, over a link,
// 下载链接指向的章节 added: that is where people look for them.
#pragma once

#include <QString>
#include <QUrl>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <vector>

#include "app/browser_check.h"
#include "app/live_page_document.h"
#include "app/load_busy.h"

class QAction;
class QContextMenuEvent;

namespace vexel::app {

// The caption of the item the view's context menu adds over a link.
inline constexpr char16_t kDownloadLinkCaption[] = u"下载链接指向的章节";

class CExplorer : public QWebEngineView, public LivePage {
  Q_OBJECT

 public:
  // The view's page uses `profile`, which must outlive the view.
  CExplorer(QWebEngineProfile* profile, QWidget* parent);
  ~CExplorer() override;
  CExplorer(const CExplorer&) = delete;
  CExplorer& operator=(const CExplorer&) = delete;
  CExplorer(CExplorer&&) = delete;
  CExplorer& operator=(CExplorer&&) = delete;

  // Starts loading `address` exactly as given: not trimmed, not validated, no
  // scheme added; an address the engine cannot use is the engine's to handle.
  void Navigate(const QString& address);
  // One step back in the view's history; nothing when there is none.
  void GoBack();
  // True while a page loads. Kept by the user-interface thread from the load
  // signals; safe to read from any thread.
  bool GetBusy() const { return busy_.Busy(); }
  bool CanGoBack() const;
  // One of the window's own items that the context menu adds, in the order
  // added (下载本页列出的章节…, 加入书架); `item` must outlive the view. The
  // menu keeps its state, which the window sets on ContextMenuOpening.
  void AddPageItem(QAction* item) { page_items_.push_back(item); }

  // What the download worker reads through.
  bool PageBusy() const override { return GetBusy(); }
  QWebEnginePage* EnginePage() override { return page(); }
  bool AsksForBrowserCheck() const override { return check_.AsksForCheck(); }

 signals:
  // The page asked for a new window (a link with a target, window.open):
  // `address` is the address it wants opened.
  void NewWindowRequested(const QUrl& address);
  // Whether back navigation is possible, after every change of the history.
  void BackStateChanged(bool enable);
  // The user chose 下载链接指向的章节 on the link to `address`.
  void DownloadLinkRequested(const QUrl& address);
  // The context menu is about to be made, so that the window's items in it
  // show whether they can be used now.
  void ContextMenuOpening();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void ReportBackState();

  LoadBusyTracker busy_;
  std::vector<QAction*> page_items_;
  BrowserCheckWatch check_;
};

}  // namespace vexel::app
