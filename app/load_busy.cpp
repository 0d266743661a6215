#include "app/load_busy.h"

#include <QWebEnginePage>

namespace vexel::app {

void LoadBusyTracker::Follow(QWebEnginePage* page) {
  QObject::connect(page, &QWebEnginePage::loadStarted, page, [this] { MarkBusy(); });
  QObject::connect(page, &QWebEnginePage::loadFinished, page,
                   [this](bool) { busy_.store(false, std::memory_order_release); });
}

}  // namespace vexel::app
