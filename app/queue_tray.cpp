#include "app/queue_tray.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QVariantMap>

#include <chrono>

#include "app/app_icon.h"
#include "app/queue_controller.h"
#include "app/queue_dlg.h"

namespace vexel::app {
namespace {

constexpr int kNotificationTimeoutMs = 8000;

// A notification through the desktop's freedesktop service, when the session
// has one; the call is not waited for.
bool SendNotification(const QString& title, const QString& text) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    return false;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"),
      QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  call << title << 0U << QStringLiteral("vexel-downloader") << title << text << QStringList()
       << QVariantMap() << kNotificationTimeoutMs;
  return bus.send(call);
}

}  // namespace

QueueTray::QueueTray(QueueController& queue, QObject* parent) : QObject(parent), queue_(queue) {
  connect(&queue_, &QueueController::Changed, this, [this] { Update(); });
  connect(&queue_, &QueueController::ProgressChanged, this, [this] { Update(); });
  connect(&queue_, &QueueController::Emptied, this, [this] { Notify(); });
}

QueueTray::~QueueTray() { delete menu_; }

QString QueueTray::EmptiedText(const QueueController& queue) {
  const queue::QueueTotals totals = queue.Queue().Totals(std::chrono::steady_clock::now());
  return QStringLiteral("下载队列已完成：完成%1话，有失败图片%2话，出错%3话，已取消%4话")
      .arg(totals.done)
      .arg(totals.failed_pages)
      .arg(totals.errors)
      .arg(totals.cancelled);
}

void QueueTray::Update() {
  const bool working = queue_.Working();
  const bool paused = !working && queue_.Queue().Unfinished() > 0;
  if (!working && !paused) {
    if (icon_ != nullptr) {
      icon_->hide();
    }
    return;
  }
  if (icon_ == nullptr) {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
      return;
    }
    icon_ = new QSystemTrayIcon(ProgramIcon(), this);
    menu_ = new QMenu;
    pause_ = menu_->addAction(QStringLiteral("暂停"));
    resume_ = menu_->addAction(QStringLiteral("继续"));
    connect(pause_, &QAction::triggered, this, [this] { queue_.PauseAll(); });
    connect(resume_, &QAction::triggered, this, [this] { queue_.ResumeAll(); });
    icon_->setContextMenu(menu_);
  }
  pause_->setEnabled(working);
  resume_->setEnabled(!working);
  icon_->setToolTip(QStringLiteral("Vexel漫画下载器\n") +
                    TotalsText(queue_, std::chrono::steady_clock::now()));
  icon_->show();
}

void QueueTray::Notify() {
  const QString title = QStringLiteral("Vexel漫画下载器");
  const QString text = EmptiedText(queue_);
  if (!SendNotification(title, text) && icon_ != nullptr && QSystemTrayIcon::supportsMessages()) {
    icon_->showMessage(title, text);
  }
  Update();
}

}  // namespace vexel::app
