// BookshelfDlg (书架…): the followed comics, one row each, in the order
// followed: the title, downloaded/total, pending, the time of the last check
// and its error. Not modal: a check (检查更新) goes on while the user works in
// the window, and the dialog shows its progress, or that of the check at
// start-up when it is opened during one.
//
//   检查更新            every comic, one after another (Bookshelf::StartCheck)
//   下载待下载的章节     the pending chapters of the selected comics (of all when
//                      none is selected), as the window's queue
//   打开               the window's view goes to the (first) selected comic
//   移除               the selected comics are no longer followed; their
//                      chapters' records stay
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <string>
#include <vector>

#include "download/chapter_list.h"
#include "library/library.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace vexel::app {

class Bookshelf;

// The object names of the list and the progress line, for the tests.
inline constexpr char kShelfListName[] = "comics";
inline constexpr char kShelfProgressName[] = "progress";

// The list's columns.
enum ShelfColumn : int {
  kShelfTitle = 0,
  kShelfDownloaded = 1,  // "downloaded/total"
  kShelfPending = 2,
  kShelfLastCheck = 3,
  kShelfError = 4,
};

// What the dialog asks of the window.
struct BookshelfActions {
  // Runs `chapters` as the window's queue.
  std::function<void(std::vector<download::ChapterLink> chapters)> download;
  // Shows the page at `address` in the view.
  std::function<void(const QString& address)> open;
};

class BookshelfDlg : public QDialog {
  Q_OBJECT

 public:
  // `shelf` must outlive the dialog and have a library.
  BookshelfDlg(Bookshelf& shelf, BookshelfActions actions, QWidget* parent = nullptr);

  // The rows anew from the library, keeping the selection.
  void Reload();
  // The window's job has ended: the rows anew, and the line that said the
  // download started goes.
  void OnJobEnded();

  void OnCheck();
  void OnDownloadPending();
  void OnOpen();
  void OnRemove();

 private:
  // The comics of the selected rows; all of them when none is selected and
  // `all_when_none`.
  std::vector<library::ComicSummary> Chosen(bool all_when_none) const;
  void UpdateButtons();

  Bookshelf& shelf_;
  BookshelfActions actions_;
  std::vector<library::ComicSummary> comics_;  // the rows, in order
  QTreeWidget* list_ = nullptr;
  QLabel* progress_ = nullptr;
  QPushButton* check_button_ = nullptr;
  QPushButton* download_button_ = nullptr;
  QPushButton* open_button_ = nullptr;
  QPushButton* remove_button_ = nullptr;
  bool download_said_ = false;  // the progress line says a download started
};

}  // namespace vexel::app
