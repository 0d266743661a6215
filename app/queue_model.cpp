#include "app/queue_model.h"

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>
#include <QMimeData>

#include <algorithm>
#include <set>

#include "app/queue_controller.h"
#include "download/outcome_texts.h"

namespace vexel::app {
namespace {

constexpr char kMimeType[] = "application/x-vexel-queue-items";

const queue::QueueItem* ItemAt(const QueueController& queue, int row) {
  const std::vector<queue::QueueItem>& items = queue.Queue().Items();
  if (row < 0 || static_cast<std::size_t>(row) >= items.size()) {
    return nullptr;
  }
  return &items[static_cast<std::size_t>(row)];
}

}  // namespace

QString StateText(const queue::QueueItem& item) {
  switch (item.state) {
    case queue::ItemState::Waiting:
      return QStringLiteral("等待");
    case queue::ItemState::Running:
      if (item.page_count > 0) {
        return QStringLiteral("下载中 %1/%2").arg(item.page).arg(item.page_count);
      }
      return QStringLiteral("下载中");
    case queue::ItemState::Paused:
      return QStringLiteral("暂停");
    case queue::ItemState::Done:
      return QStringLiteral("完成");
    case queue::ItemState::FailedPages:
      return QStringLiteral("有失败图片 ") +
             QString::fromStdString(download::PageRanges(item.failed));
    case queue::ItemState::Error:
      return item.error.empty() ? QStringLiteral("出错")
                                : QStringLiteral("出错：") + QString::fromStdString(item.error);
    case queue::ItemState::Cancelled:
      return QStringLiteral("已取消");
  }
  return {};
}

QString SpeedText(const queue::QueueItem& item) {
  if (item.state != queue::ItemState::Running || item.bytes_per_second <= 0) {
    return {};
  }
  const auto bytes = static_cast<double>(item.bytes_per_second);
  if (bytes >= 1024.0 * 1024.0) {
    return QStringLiteral("%1 MB/s").arg(bytes / (1024.0 * 1024.0), 0, 'f', 1);
  }
  return QStringLiteral("%1 KB/s").arg(std::max(1.0, bytes / 1024.0), 0, 'f', 0);
}

QString DurationText(std::chrono::seconds duration) {
  const auto total = std::max<std::int64_t>(duration.count(), 0);
  const std::int64_t hours = total / 3600;
  const std::int64_t minutes = (total % 3600) / 60;
  const std::int64_t seconds = total % 60;
  if (hours > 0) {
    return QStringLiteral("%1小时%2分").arg(hours).arg(minutes);
  }
  if (minutes > 0) {
    return QStringLiteral("%1分%2秒").arg(minutes).arg(seconds);
  }
  return QStringLiteral("%1秒").arg(seconds);
}

QueueModel::QueueModel(QueueController& queue, QObject* parent)
    : QAbstractTableModel(parent), queue_(queue) {
  connect(&queue_, &QueueController::Changed, this, [this] {
    beginResetModel();
    endResetModel();
  });
  connect(&queue_, &QueueController::ProgressChanged, this, [this](qint64 id) {
    if (const std::optional<int> row = RowOf(id)) {
      emit dataChanged(index(*row, kState), index(*row, kSpeed));
    }
  });
}

int QueueModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(queue_.Queue().Items().size());
}

int QueueModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant QueueModel::data(const QModelIndex& index, int role) const {
  const queue::QueueItem* item = ItemAt(queue_, index.row());
  if (item == nullptr || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) {
    return {};
  }
  switch (index.column()) {
    case kComic:
      return QString::fromStdString(item->comic_title.empty() ? item->comic : item->comic_title);
    case kChapter:
      if (role == Qt::ToolTipRole || item->title.empty()) {
        return QString::fromStdString(item->address);
      }
      return QString::fromStdString(item->title);
    case kState:
      return StateText(*item);
    case kSpeed:
      return SpeedText(*item);
    default:
      return {};
  }
}

QVariant QueueModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
    return {};
  }
  switch (section) {
    case kComic:
      return QStringLiteral("漫画");
    case kChapter:
      return QStringLiteral("章节");
    case kState:
      return QStringLiteral("状态");
    case kSpeed:
      return QStringLiteral("速度");
    default:
      return {};
  }
}

Qt::ItemFlags QueueModel::flags(const QModelIndex& index) const {
  const Qt::ItemFlags base = QAbstractTableModel::flags(index);
  // Rows move as wholes: a drop lands between rows, never on one.
  return index.isValid() ? base | Qt::ItemIsDragEnabled : base | Qt::ItemIsDropEnabled;
}

Qt::DropActions QueueModel::supportedDropActions() const { return Qt::MoveAction; }

QStringList QueueModel::mimeTypes() const { return {QString::fromLatin1(kMimeType)}; }

QMimeData* QueueModel::mimeData(const QModelIndexList& indexes) const {
  std::set<int> rows;
  for (const QModelIndex& index : indexes) {
    rows.insert(index.row());
  }
  QByteArray bytes;
  QDataStream out(&bytes, QIODevice::WriteOnly);
  for (const int row : rows) {
    out << static_cast<qint64>(IdAt(row));
  }
  auto* data = new QMimeData;  // Qt's drag takes it over
  data->setData(QString::fromLatin1(kMimeType), bytes);
  return data;
}

bool QueueModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int /*column*/,
                              const QModelIndex& parent) {
  if (action != Qt::MoveAction || data == nullptr || !data->hasFormat(kMimeType)) {
    return false;
  }
  QByteArray bytes = data->data(QString::fromLatin1(kMimeType));
  QDataStream in(&bytes, QIODevice::ReadOnly);
  std::vector<std::int64_t> ids;
  while (!in.atEnd()) {
    qint64 id = 0;
    in >> id;
    if (in.status() != QDataStream::Ok) {
      break;
    }
    ids.push_back(id);
  }
  const int end = rowCount({});
  int target = row >= 0 ? row : (parent.isValid() ? parent.row() : end);
  target = std::clamp(target, 0, end);
  // The queue moves the rows itself; the view's own removal of the dragged
  // rows is refused by returning false.
  queue_.MoveTo(ids, static_cast<std::size_t>(target));
  return false;
}

std::int64_t QueueModel::IdAt(int row) const {
  const queue::QueueItem* item = ItemAt(queue_, row);
  return item == nullptr ? 0 : item->id;
}

std::optional<int> QueueModel::RowOf(std::int64_t id) const {
  const std::vector<queue::QueueItem>& items = queue_.Queue().Items();
  for (std::size_t row = 0; row < items.size(); ++row) {
    if (items[row].id == id) {
      return static_cast<int>(row);
    }
  }
  return std::nullopt;
}

}  // namespace vexel::app
