// Bookshelf: the window's side of the library file that it shares with
// vexel-dl. It opens the file once for the window's life (every job records
// into it, and the chapter dialog and 书架 read it), follows comics, and
// checks the followed comics for new chapters: one after another, each
// loaded in a hidden page of the window's browser profile on a thread of its
// own, so that the window and its jobs go on meanwhile.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/chapter_list_dlg.h"
#include "app/ui_call_gate.h"
#include "download/chapter_list.h"
#include "library/library.h"
#include "net/request_pacer.h"
#include "query/page_document.h"

class QWebEngineProfile;

namespace vexel::app {

// How the chapter dialog shows `chapters`: which are downloaded (recorded
// with their output present, or counted so by the library's moved rule for a
// followed comic) and which were first seen at the comic's last check.
// Without a library nothing is marked.
std::vector<ChapterMarks> MarkChapters(library::Library* library,
                                       const std::vector<download::ChapterLink>& chapters);

class Bookshelf : public QObject {
  Q_OBJECT

 public:
  // `library_file`: the file; nothing for the default one (its folder made
  // when missing); empty for none at all. A file that cannot be used is left
  // as it is, and OpenError names it and the fault. `profile` and `window`
  // (which owns the hidden pages) must outlive the shelf.
  Bookshelf(const std::optional<std::string>& library_file, QWebEngineProfile* profile,
            std::size_t max_page_elements, QObject* window);
  // A check under way is stopped and its thread joined.
  ~Bookshelf() override;
  Bookshelf(const Bookshelf&) = delete;
  Bookshelf& operator=(const Bookshelf&) = delete;
  Bookshelf(Bookshelf&&) = delete;
  Bookshelf& operator=(Bookshelf&&) = delete;

  // Null without a usable file.
  library::Library* Library() const { return library_.get(); }
  const QString& OpenError() const { return open_error_; }

  // Follows the comic at `address` (its fragment dropped), or refreshes its
  // list when it is followed already.
  library::StoreResult Follow(const std::string& address, const std::string& title,
                              const std::string& folder,
                              const std::vector<download::ChapterLink>& chapters);

  // 检查更新: every followed comic in the order followed, each page load
  // after a turn of the process's pacer with the gap `request_gap` gives.
  // Nothing while a check runs, or without a library. False when no check
  // was started.
  bool StartCheck();
  // The settings' 请求间隔 as a check starts; empty: no gap.
  std::function<net::PaceGap()> request_gap;
  bool Checking() const { return checking_; }

 signals:
  // Comic `position` (1-based) of `count`, titled `title`, is being loaded.
  void CheckProgress(int position, int count, const QString& title);
  // One comic's list and last check have been written.
  void ComicChecked();
  // The check has ended and its thread has been joined.
  void CheckFinished();

 private:
  void CheckWorker(const std::vector<library::ComicSummary>& comics);
  // The problem of checking the comic at `address`; empty when its list was
  // refreshed. Nothing when the check was stopped before it knew.
  std::optional<std::string> CheckComic(const std::string& address);
  void OnCheckDone();

  QWebEngineProfile* profile_;
  std::size_t max_page_elements_;
  QObject* window_;
  std::unique_ptr<library::Library> library_;
  QString open_error_;
  // User-interface thread only.
  bool checking_ = false;
  // Written before the check's thread starts, read by it.
  net::PaceGap gap_;
  // Set as the shelf goes: the check gives up its waits at once.
  std::atomic<bool> stop_{false};
  UiCallGate gate_;
  std::thread worker_;
};

}  // namespace vexel::app
