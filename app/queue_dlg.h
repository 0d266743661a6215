// QueueDlg (下载队列): the background queue, one row per chapter, with its
// operations. Not modal: the window stays free for browsing while the queue
// runs, and the dialog only shows and steers it.
//
//   全部暂停 / 全部继续   the whole queue
//   暂停 继续 取消 重试   the selected chapters
//   重试失败的章节        every chapter with an error or failed pages
//   移到顶部 移到底部     the selected chapters (rows can be dragged too)
//   移除已完成           the chapters that are 完成
//   打开文件夹           the folder (or archive's folder) of the selected chapter
#pragma once

#include <QDialog>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

class QLabel;
class QPushButton;
class QTreeView;

namespace vexel::app {

class QueueController;
class QueueModel;

// The object names of the table and of the line at its foot, for the tests.
inline constexpr char kQueueListName[] = "queue";
inline constexpr char kQueueTotalsName[] = "totals";

// The line at the foot: "共12话：等待8话，暂停1话，完成3话，有失败图片0话，
// 出错0话，已取消0话", and "，剩余约3分20秒" once there is an estimate.
QString TotalsText(const QueueController& queue, std::chrono::steady_clock::time_point now);

class QueueDlg : public QDialog {
  Q_OBJECT

 public:
  // `queue` must outlive the dialog. `open_folder` opens a folder for the
  // user (the window's 打开文件夹).
  QueueDlg(QueueController& queue, std::function<void(const QString& folder)> open_folder,
           QWidget* parent);

  // The ids of the selected rows, in queue order.
  std::vector<std::int64_t> SelectedIds() const;
  // The item of the first selected row, or 0.
  std::int64_t CurrentId() const;
  QTreeView* List() const { return list_; }
  QueueModel* Model() const { return model_; }

 signals:
  // The selected chapter changed (0: none), for 显示上次日志.
  void CurrentChanged(qint64 id);

 private:
  void UpdateControls();
  void OpenFolderOfCurrent();
  void ForSelected(const std::function<void(std::int64_t id)>& operation) const;

  QueueController& queue_;
  std::function<void(const QString&)> open_folder_;
  QueueModel* model_ = nullptr;
  QTreeView* list_ = nullptr;
  QLabel* totals_ = nullptr;
  QPushButton* pause_all_ = nullptr;
  QPushButton* resume_all_ = nullptr;
  QPushButton* pause_ = nullptr;
  QPushButton* resume_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* retry_ = nullptr;
  QPushButton* retry_failed_ = nullptr;
  QPushButton* top_ = nullptr;
  QPushButton* bottom_ = nullptr;
  QPushButton* remove_finished_ = nullptr;
  QPushButton* open_folder_button_ = nullptr;
};

}  // namespace vexel::app
