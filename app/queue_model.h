// The queue window's table: one row per chapter of the queue, in its order,
// with its comic, its chapter, its state and its speed; rows are dragged to
// reorder them.
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "queue/queue_item.h"

namespace vexel::app {

class QueueController;

// "等待", "下载中 3/20", "暂停", "完成", "有失败图片 3、7-8", "出错：reason",
// "已取消".
QString StateText(const queue::QueueItem& item);
// "1.5 MB/s", "320 KB/s"; empty while the chapter does not run.
QString SpeedText(const queue::QueueItem& item);
// "2小时5分", "3分20秒", "45秒".
QString DurationText(std::chrono::seconds duration);

class QueueModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kComic, kChapter, kState, kSpeed, kColumns };

  // `queue` must outlive the model.
  QueueModel(QueueController& queue, QObject* parent);

  int rowCount(const QModelIndex& parent) const override;
  int columnCount(const QModelIndex& parent) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  Qt::DropActions supportedDropActions() const override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                    const QModelIndex& parent) override;

  // The id of the item at `row`, or 0.
  std::int64_t IdAt(int row) const;
  std::optional<int> RowOf(std::int64_t id) const;

 private:
  QueueController& queue_;
};

}  // namespace vexel::app
