#include "app/app_icon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The icon lives in the resources of a static library, which the linker
// would leave out unless something refers to them.
static void EnsureIconResource() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(app);
    return true;
  }();
  (void)registered;
}

namespace vexel::app {

QIcon ProgramIcon() {
  EnsureIconResource();
  // Rendered here rather than through the SVG icon plugin, so the icon shows
  // even where that plugin is not installed. Not cached: a pixmap must not
  // outlive the application object.
  QIcon icon = [] {
    QIcon result;
    QSvgRenderer renderer(QStringLiteral(":/vexel/vexel-downloader.svg"));
    if (!renderer.isValid()) {
      return result;
    }
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
      QPixmap pixmap(size, size);
      pixmap.fill(Qt::transparent);
      QPainter painter(&pixmap);
      renderer.render(&painter);
      painter.end();
      result.addPixmap(pixmap);
    }
    return result;
  }();
  return icon;
}

}  // namespace vexel::app
