#include "app/queue_dlg.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <set>
#include <utility>

#include "app/queue_controller.h"
#include "app/queue_model.h"

namespace vexel::app {
namespace {

constexpr QSize kInitialSize(820, 460);
constexpr int kComicWidth = 200;
constexpr int kChapterWidth = 260;
constexpr int kStateWidth = 200;

}  // namespace

QString TotalsText(const QueueController& queue, std::chrono::steady_clock::time_point now) {
  const queue::QueueTotals totals = queue.Queue().Totals(now);
  QString text =
      QStringLiteral("共%1话：等待%2话，暂停%3话，完成%4话，有失败图片%5话，出错%6话，已取消%7话")
          .arg(totals.total)
          .arg(totals.waiting)
          .arg(totals.paused)
          .arg(totals.done)
          .arg(totals.failed_pages)
          .arg(totals.errors)
          .arg(totals.cancelled);
  if (totals.left && totals.waiting > 0) {
    text += QStringLiteral("，剩余约") + DurationText(*totals.left);
  }
  return text;
}

QueueDlg::QueueDlg(QueueController& queue, std::function<void(const QString& folder)> open_folder,
                   QWidget* parent)
    : QDialog(parent), queue_(queue), open_folder_(std::move(open_folder)) {
  setWindowTitle(QStringLiteral("下载队列"));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::WindowMinMaxButtonsHint);
  setModal(false);
  resize(kInitialSize);

  model_ = new QueueModel(queue_, this);
  list_ = new QTreeView(this);
  list_->setObjectName(QString::fromLatin1(kQueueListName));
  list_->setModel(model_);
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setAlternatingRowColors(true);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setDragDropMode(QAbstractItemView::InternalMove);
  list_->setDefaultDropAction(Qt::MoveAction);
  list_->setDropIndicatorShown(true);
  list_->header()->setStretchLastSection(true);
  list_->setColumnWidth(QueueModel::kComic, kComicWidth);
  list_->setColumnWidth(QueueModel::kChapter, kChapterWidth);
  list_->setColumnWidth(QueueModel::kState, kStateWidth);

  totals_ = new QLabel(this);
  totals_->setObjectName(QString::fromLatin1(kQueueTotalsName));
  totals_->setTextFormat(Qt::PlainText);

  auto button = [this](const QString& text, const std::function<void()>& run) {
    auto* made = new QPushButton(text, this);
    made->setAutoDefault(false);
    connect(made, &QPushButton::clicked, this, run);
    return made;
  };
  pause_all_ = button(QStringLiteral("全部暂停"), [this] { queue_.PauseAll(); });
  resume_all_ = button(QStringLiteral("全部继续"), [this] { queue_.ResumeAll(); });
  pause_ = button(QStringLiteral("暂停"),
                  [this] { ForSelected([this](std::int64_t id) { queue_.Pause(id); }); });
  resume_ = button(QStringLiteral("继续"),
                   [this] { ForSelected([this](std::int64_t id) { queue_.Resume(id); }); });
  cancel_ = button(QStringLiteral("取消"),
                   [this] { ForSelected([this](std::int64_t id) { queue_.Cancel(id); }); });
  retry_ = button(QStringLiteral("重试"),
                  [this] { ForSelected([this](std::int64_t id) { queue_.Retry(id); }); });
  retry_failed_ = button(QStringLiteral("重试失败的章节"), [this] { queue_.RetryFailed(); });
  top_ = button(QStringLiteral("移到顶部"), [this] { queue_.MoveToTop(SelectedIds()); });
  bottom_ = button(QStringLiteral("移到底部"), [this] { queue_.MoveToBottom(SelectedIds()); });
  remove_finished_ = button(QStringLiteral("移除已完成"), [this] { queue_.RemoveFinished(); });
  open_folder_button_ = button(QStringLiteral("打开文件夹"), [this] { OpenFolderOfCurrent(); });
  auto* close = button(QStringLiteral("关闭"), [this] { reject(); });

  auto* all_row = new QHBoxLayout;
  for (QPushButton* each : {pause_all_, resume_all_, retry_failed_, remove_finished_}) {
    all_row->addWidget(each);
  }
  all_row->addStretch();
  all_row->addWidget(close);
  auto* one_row = new QHBoxLayout;
  for (QPushButton* each : {pause_, resume_, cancel_, retry_, top_, bottom_, open_folder_button_}) {
    one_row->addWidget(each);
  }
  one_row->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);
  layout->addWidget(totals_);
  layout->addLayout(one_row);
  layout->addLayout(all_row);

  // The selection is kept across the model's resets by the items' ids.
  auto remembered = std::make_shared<std::vector<std::int64_t>>();
  connect(model_, &QAbstractItemModel::modelAboutToBeReset, this,
          [this, remembered] { *remembered = SelectedIds(); });
  connect(model_, &QAbstractItemModel::modelReset, this, [this, remembered] {
    for (const std::int64_t id : *remembered) {
      if (const std::optional<int> row = model_->RowOf(id)) {
        list_->selectionModel()->select(model_->index(*row, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
      }
    }
    UpdateControls();
  });
  connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    UpdateControls();
    emit CurrentChanged(CurrentId());
  });
  connect(&queue_, &QueueController::ProgressChanged, this, [this] { UpdateControls(); });
  UpdateControls();
}

std::vector<std::int64_t> QueueDlg::SelectedIds() const {
  std::set<int> rows;
  for (const QModelIndex& index : list_->selectionModel()->selectedRows()) {
    rows.insert(index.row());
  }
  std::vector<std::int64_t> ids;
  for (const int row : rows) {
    if (const std::int64_t id = model_->IdAt(row); id != 0) {
      ids.push_back(id);
    }
  }
  return ids;
}

std::int64_t QueueDlg::CurrentId() const {
  const std::vector<std::int64_t> ids = SelectedIds();
  return ids.empty() ? 0 : ids.front();
}

void QueueDlg::ForSelected(const std::function<void(std::int64_t id)>& operation) const {
  for (const std::int64_t id : SelectedIds()) {
    operation(id);
  }
}

void QueueDlg::OpenFolderOfCurrent() {
  const queue::QueueItem* item = queue_.Queue().Find(CurrentId());
  if (item == nullptr || item->output.empty()) {
    return;
  }
  // An archive's folder is the one that holds it.
  const QString output = QString::fromStdString(item->output);
  const QFileInfo info(output);
  open_folder_(info.isDir() ? output : info.path());
}

void QueueDlg::UpdateControls() {
  totals_->setText(TotalsText(queue_, std::chrono::steady_clock::now()));
  bool any_unfinished = false;
  bool any_paused = false;
  bool any_failed = false;
  bool any_done = false;
  for (const queue::QueueItem& item : queue_.Queue().Items()) {
    any_unfinished = any_unfinished || !queue::Finished(item.state);
    any_paused = any_paused || item.state == queue::ItemState::Paused;
    any_failed = any_failed || item.state == queue::ItemState::Error ||
                 item.state == queue::ItemState::FailedPages;
    any_done = any_done || item.state == queue::ItemState::Done;
  }
  pause_all_->setEnabled(any_unfinished && queue_.Working());
  resume_all_->setEnabled(any_paused || queue_.Queue().Held());
  retry_failed_->setEnabled(any_failed);
  remove_finished_->setEnabled(any_done);
  const std::vector<std::int64_t> ids = SelectedIds();
  bool can_pause = false;
  bool can_resume = false;
  bool can_cancel = false;
  bool can_retry = false;
  for (const std::int64_t id : ids) {
    const queue::QueueItem* item = queue_.Queue().Find(id);
    if (item == nullptr) {
      continue;
    }
    can_pause = can_pause || item->state == queue::ItemState::Waiting ||
                item->state == queue::ItemState::Running;
    can_resume = can_resume || item->state == queue::ItemState::Paused;
    can_cancel = can_cancel || !queue::Finished(item->state);
    can_retry = can_retry || queue::Finished(item->state);
  }
  pause_->setEnabled(can_pause);
  resume_->setEnabled(can_resume);
  cancel_->setEnabled(can_cancel);
  retry_->setEnabled(can_retry);
  top_->setEnabled(!ids.empty());
  bottom_->setEnabled(!ids.empty());
  const queue::QueueItem* current = queue_.Queue().Find(CurrentId());
  open_folder_button_->setEnabled(current != nullptr && !current->output.empty());
}

}  // namespace vexel::app
