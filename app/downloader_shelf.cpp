// The window's part of the library: 下载本页列出的章节… with what the library
// knows of each chapter, 加入书架, 书架…, and the check at start-up.
#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>

#include <utility>

#include "app/bookshelf_dlg.h"
#include "app/downloader_dlg.h"
#include "app/explorer.h"
#include "app/window_boxes.h"

namespace vexel::app {

void CDownloaderDlg::InitShelf() {
  bookshelf_->request_gap = [this] { return settings_.request_gap; };
  follow_item_ = system_menu_->addAction(QStringLiteral("加入书架"));
  connect(follow_item_, &QAction::triggered, this, [this] { OnFollow(); });
  shelf_item_ = system_menu_->addAction(QStringLiteral("书架…"));
  connect(shelf_item_, &QAction::triggered, this, [this] { OnBookshelf(); });
  shelf_item_->setEnabled(bookshelf_->Library() != nullptr);
  // The page's own menu has the two items about the page too.
  browser_view_->AddPageItem(list_chapters_item_);
  browser_view_->AddPageItem(follow_item_);

  if (!bookshelf_->OpenError().isEmpty()) {
    // Once the window is up, and once only: the run goes on without a
    // library, and the file stays as it is.
    const QString text =
        QStringLiteral("书库文件无法使用，本次不记录下载，也不跳过已下载的章节：\n") +
        bookshelf_->OpenError();
    QTimer::singleShot(0, this, [this, text] { OpenNotice(this, text); });
  }
  if (settings_.check_at_start) {
    bookshelf_->StartCheck();
  }
}

void CDownloaderDlg::OnListChapters() {
  jobs_.ListChapters([this](std::vector<download::ChapterLink> chapters, const std::string& title) {
    ShowChapterList(std::move(chapters), title);
  });
}

void CDownloaderDlg::ShowChapterList(std::vector<download::ChapterLink> chapters,
                                     const std::string& title) {
  std::vector<ChapterMarks> marks = MarkChapters(bookshelf_->Library(), chapters);
  OpenChapterChoice(this, std::move(chapters), std::move(marks),
                    [this, title](const std::vector<download::ChapterLink>& chosen) {
                      EnqueueChapters(chosen, title);
                    });
}

void CDownloaderDlg::OnFollow() {
  if (bookshelf_->Library() == nullptr) {
    return;
  }
  jobs_.ListChapters([this](const std::vector<download::ChapterLink>& chapters,
                            const std::string& title) { FollowComic(chapters, title); });
}

void CDownloaderDlg::FollowComic(const std::vector<download::ChapterLink>& chapters,
                                 const std::string& title) {
  if (chapters.empty()) {
    OpenNotice(this, QStringLiteral("本页没有找到章节列表"));
    return;
  }
  // The comic's chapters go where the window's go now.
  const QString folder =
      DownloadFolder(options_.choose_output_directory, settings_.download_folder);
  const library::StoreResult followed =
      bookshelf_->Follow(chapters.front().comic, title, folder.toStdString(), chapters);
  if (!followed) {
    OpenNotice(this, QStringLiteral("无法写入书库文件：") + QString::fromStdString(followed.error));
    return;
  }
  if (shelf_dialog_ != nullptr) {
    shelf_dialog_->Reload();
  }
  const QString name = QString::fromStdString(title.empty() ? chapters.front().comic : title);
  OpenNotice(this, QStringLiteral("已加入书架：%1（%2话）").arg(name).arg(chapters.size()));
}

void CDownloaderDlg::OnBookshelf() {
  if (bookshelf_->Library() == nullptr) {
    return;
  }
  if (shelf_dialog_ != nullptr) {
    shelf_dialog_->raise();
    shelf_dialog_->activateWindow();
    return;
  }
  BookshelfActions actions;
  actions.download = [this](std::vector<download::ChapterLink> chapters) {
    // Each comic's chapters under its title; they come comic after comic.
    std::size_t start = 0;
    while (start < chapters.size()) {
      std::size_t end = start;
      while (end < chapters.size() && chapters[end].comic == chapters[start].comic) {
        ++end;
      }
      std::string title;
      if (bookshelf_->Library() != nullptr) {
        if (const auto comic = bookshelf_->Library()->Comic(chapters[start].comic)) {
          title = comic->title;
        }
      }
      queue_->Enqueue({chapters.begin() + static_cast<std::ptrdiff_t>(start),
                       chapters.begin() + static_cast<std::ptrdiff_t>(end)},
                      title);
      start = end;
    }
    OnQueueWindow();
  };
  actions.open = [this](const QString& address) {
    // A job may be reading the view's page.
    if (jobs_.Downloading()) {
      return;
    }
    address_box_->setText(address);
    OnOpen();
  };
  auto* dialog = new BookshelfDlg(*bookshelf_, std::move(actions), this);  // owned by the window
  shelf_dialog_ = dialog;
  // A job may have downloaded some of the pending chapters.
  connect(this, &CDownloaderDlg::WorkerFinished, dialog, &BookshelfDlg::OnJobEnded);
  connect(queue_.get(), &QueueController::WorkerEnded, dialog, &BookshelfDlg::OnJobEnded);
  connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater);
  dialog->show();
}

}  // namespace vexel::app
