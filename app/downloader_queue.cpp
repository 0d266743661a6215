// The window's part of the background queue: its menu item and window, the
// sources that feed it, the chapter logs shown in the log pane, and the tray.
#include <QAction>
#include <QMenu>
#include <QTimer>

#include <utility>

#include "app/downloader_dlg.h"
#include "app/log_pane.h"
#include "app/queue_dlg.h"
#include "app/queue_tray.h"
#include "app/window_boxes.h"

namespace vexel::app {

void CDownloaderDlg::InitQueue() {
  library::Library* library = bookshelf_->Library();
  queue_ = std::make_unique<QueueController>(*this, jobs_, library);
  queue_item_ = system_menu_->addAction(QStringLiteral("下载队列"));
  connect(queue_item_, &QAction::triggered, this, [this] { OnQueueWindow(); });
  tray_ = new QueueTray(*queue_, this);
  // The one-job rule: the view's job waits until the queue's chapter has let
  // go, and the queue goes on once that job has ended.
  jobs_.SetTurnWait([this](std::function<void()> go) { queue_->YieldThen(std::move(go)); });
  connect(this, &CDownloaderDlg::WorkerFinished, queue_.get(), [this] { queue_->TryStart(); });
  connect(queue_.get(), &QueueController::StoreFailed, this, [this](const QString& error) {
    OpenNotice(this, QStringLiteral("无法写入书库文件：") + error);
  });
  connect(queue_.get(), &QueueController::LogAppended, this,
          [this](qint64 id, const QString& text) {
            if (id == log_item_ && id != 0) {
              log_view_->AppendJobText(text.toStdString());
            }
          });
  // The kept queue comes back before anything can be added to it; what it
  // has to say waits until the window is up.
  std::string error;
  const bool restored = queue_->Restore(settings_.pause_queue_at_start, error);
  QTimer::singleShot(0, this, [this, restored, error] {
    if (!restored) {
      OpenNotice(this, QStringLiteral("无法读取下载队列：") + QString::fromStdString(error));
    }
    if (queue_->Queue().Unfinished() > 0) {
      OnQueueWindow();
    }
  });
}

void CDownloaderDlg::EnqueueChapters(const std::vector<download::ChapterLink>& chapters,
                                     const std::string& comic_title) {
  if (chapters.empty()) {
    return;
  }
  queue_->Enqueue(chapters, comic_title);
  OnQueueWindow();
}

void CDownloaderDlg::OnQueueWindow() {
  if (queue_dialog_ == nullptr) {
    auto* dialog = new QueueDlg(
        *queue_, [this](const QString& folder) { OpenFolder(this, options_.open_url, folder); },
        this);  // owned by the window
    queue_dialog_ = dialog;
    connect(dialog, &QueueDlg::CurrentChanged, this, [this](qint64 id) {
      // The pane follows the chapter chosen while it shows a queue log.
      if (showing_last_log_ && log_item_ != 0 && id != 0) {
        ShowLogOf(id);
      }
    });
  }
  queue_dialog_->show();
  queue_dialog_->raise();
  queue_dialog_->activateWindow();
}

void CDownloaderDlg::ShowLogOf(std::int64_t id) {
  if (id == log_item_ && id == 0) {
    return;
  }
  if (log_item_ == 0) {
    job_log_ = log_view_->toPlainText();  // the view's last job's, kept meanwhile
  }
  log_item_ = id;
  log_view_->clear();
  if (id == 0) {
    log_view_->setPlainText(job_log_);
    job_log_.clear();
  } else {
    log_view_->AppendJobText(queue_->LogOf(id).toStdString());
  }
}

CDownloaderDlg::~CDownloaderDlg() { delete queue_dialog_; }

}  // namespace vexel::app
