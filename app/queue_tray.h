// Telling the user about the background queue outside its window: a tray
// icon while it works, with its progress in the tooltip and 暂停/继续 in its
// menu, and a desktop notification once it has emptied. Without a tray or a
// notification service the program does without, silently.
#pragma once

#include <QObject>
#include <QString>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace vexel::app {

class QueueController;

class QueueTray : public QObject {
  Q_OBJECT

 public:
  // `queue` must outlive the tray.
  QueueTray(QueueController& queue, QObject* parent);
  ~QueueTray() override;
  QueueTray(const QueueTray&) = delete;
  QueueTray& operator=(const QueueTray&) = delete;
  QueueTray(QueueTray&&) = delete;
  QueueTray& operator=(QueueTray&&) = delete;

  // The icon, or null while the queue does not work or there is no tray.
  QSystemTrayIcon* Icon() const { return icon_; }
  // The notification's text once the queue has emptied: "下载队列已完成：完成a话，
  // 有失败图片b话，出错c话，已取消d话".
  static QString EmptiedText(const QueueController& queue);

 private:
  void Update();
  void Notify();

  QueueController& queue_;
  QSystemTrayIcon* icon_ = nullptr;  // owned by this object
  QMenu* menu_ = nullptr;            // owned here; a menu has no QObject parent
  QAction* pause_ = nullptr;
  QAction* resume_ = nullptr;
};

}  // namespace vexel::app
