#include "tests/app/window_fixture.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWebEnginePage>

#include <cstdlib>
#include <memory>
#include <optional>

#include "app/settings.h"
#include "library/library.h"

namespace vexel::app::testing {

// Set by the test's main.
BrowserProfile* g_profile = nullptr;
std::string g_home;

BrowserProfile& SharedProfile() { return *g_profile; }

void Shoot(QWidget* widget, const QString& name) {
  const char* folder = std::getenv("VEXEL_SHOTS");
  if (folder == nullptr) {
    return;
  }
  const QString file = QString::fromLocal8Bit(folder) + u'/' + name + QStringLiteral(".png");
  // On a real display the screen is taken, with the window manager's title
  // bar; offscreen there is only the widget.
  QScreen* screen = QGuiApplication::primaryScreen();
  if (QGuiApplication::platformName() == u"xcb" && screen != nullptr) {
    // For a person's eyes only, never a test's: time for the window manager
    // to frame the window and for it to be drawn.
    QTest::qWait(500);
    const QRect frame = widget->window()->frameGeometry();
    screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).save(file);
    return;
  }
  widget->grab().save(file);
}
const std::string& TestHome() { return g_home; }

std::unique_ptr<CDownloaderDlg> MakeWindow(const std::string& site_home,
                                           const std::string& output_directory,
                                           FetcherFactory make_fetcher,
                                           std::size_t max_page_elements) {
  DialogOptions options;
  options.site_home_url = site_home;
  options.max_page_elements = max_page_elements;
  options.choose_output_directory = [output_directory] {
    return download::OutputDirectory{output_directory, false};
  };
  if (make_fetcher) {
    options.make_fetcher = std::move(make_fetcher);
  }
  return std::make_unique<CDownloaderDlg>(SharedProfile(), std::move(options));
}

bool WaitForPage(CExplorer* view, const QString& address, int timeout_ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < timeout_ms) {
    if (view->url().toString() == address && !view->GetBusy()) {
      // The load signals lag the address by a little; settle on a script run.
      if (RunScript(view, QStringLiteral("document.readyState")).toString() == u"complete") {
        return true;
      }
    }
    QTest::qWait(20);
  }
  return false;
}

QMessageBox* FindMessageBox() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) {
      return box;
    }
  }
  return nullptr;
}

bool AnswerMessageBox(const std::function<void(QMessageBox*)>& inspect, int timeout_ms) {
  bool answered = false;
  QTimer watcher;
  watcher.setInterval(10);
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    QMessageBox* box = FindMessageBox();
    if (box == nullptr || answered) {
      return;
    }
    answered = true;
    watcher.stop();
    inspect(box);
    box->button(QMessageBox::Ok)->click();
  });
  watcher.start();
  QElapsedTimer timer;
  timer.start();
  while (!answered && timer.elapsed() < timeout_ms) {
    QTest::qWait(10);
  }
  return answered;
}

bool AnswerCloseQuestion(const QString& button) {
  QMessageBox* box = FindMessageBox();
  if (box == nullptr || box->text() != QStringLiteral("正在下载，确定要退出吗？")) {
    return false;
  }
  QStringList captions;
  QAbstractButton* chosen = nullptr;
  for (QAbstractButton* candidate : box->buttons()) {
    captions << candidate->text();
    if (candidate->text() == button) {
      chosen = candidate;
    }
  }
  captions.sort();
  if (captions != QStringList{QStringLiteral("继续下载"), QStringLiteral("退出")} ||
      chosen == nullptr) {
    return false;
  }
  chosen->click();
  return true;
}

QLineEdit* AddressBox(const CDownloaderDlg& dialog) {
  return qobject_cast<QLineEdit*>(dialog.Control(kAddressBoxId));
}

QPushButton* Button(const CDownloaderDlg& dialog, int id) {
  return qobject_cast<QPushButton*>(dialog.Control(id));
}

QPlainTextEdit* LogView(const CDownloaderDlg& dialog) {
  return qobject_cast<QPlainTextEdit*>(dialog.Control(kLogViewId));
}

QStringList LogLines(const CDownloaderDlg& dialog) {
  QString text = LogView(dialog)->toPlainText();
  QStringList lines = text.split(u'\n');
  if (!lines.isEmpty() && lines.back().isEmpty()) {
    lines.removeLast();
  }
  return lines;
}

QVariant RunScript(CExplorer* view, const QString& script) {
  auto result = std::make_shared<std::optional<QVariant>>();
  view->page()->runJavaScript(script, [result](const QVariant& value) { *result = value; });
  QElapsedTimer timer;
  timer.start();
  while (!*result && timer.elapsed() < kLoadTimeoutMs) {
    QTest::qWait(5);
  }
  return result->value_or(QVariant());
}

QAction* MenuItem(const QMenu* menu, const QString& text) {
  for (QAction* item : menu->actions()) {
    if (item->text() == text) {
      return item;
    }
  }
  return nullptr;
}

QAction* SkipExistingItem(const CDownloaderDlg& dialog) {
  return MenuItem(dialog.SystemMenu(), QStringLiteral("跳过已下载的图片"));
}

QAction* JobsItem(const CDownloaderDlg& dialog, int jobs) {
  QAction* submenu = MenuItem(dialog.SystemMenu(), QStringLiteral("同时下载"));
  if (submenu == nullptr || submenu->menu() == nullptr) {
    return nullptr;
  }
  return MenuItem(submenu->menu(), QString::number(jobs));
}

MenuSettings ShownSettings(const CDownloaderDlg& dialog) {
  MenuSettings shown;
  shown.skip_existing = SkipExistingItem(dialog)->isChecked();
  for (int jobs = Settings::kMinJobs; jobs <= Settings::kMaxJobs; ++jobs) {
    if (JobsItem(dialog, jobs)->isChecked()) {
      shown.jobs << jobs;
    }
  }
  return shown;
}

char* toString(const MenuSettings& shown) {
  QStringList jobs;
  for (int count : shown.jobs) {
    jobs << QString::number(count);
  }
  return QTest::toString(QStringLiteral("skip %1, jobs [%2]")
                             .arg(shown.skip_existing ? u"on" : u"off", jobs.join(u',')));
}

// The library file every window without one of its own shares: a queue one
// test leaves behind would run in the next one's window.
void SiteJobTest::RemoveDefaultLibrary() {
  const QString path = QString::fromStdString(library::DefaultLibraryPath());
  for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
    QFile::remove(path + suffix);
  }
}

void SiteJobTest::initTestCase() {
  site_ = std::make_unique<TestSite>();
  QVERIFY(!site_->Base().empty());
}

void SiteJobTest::cleanupTestCase() { site_.reset(); }

void SiteJobTest::init() {
  RemoveDefaultLibrary();
  out_ = std::make_unique<QTemporaryDir>();
  QVERIFY(out_->isValid());
  site_->ClearImageRequests();
}

void SiteJobTest::cleanup() {
  site_->Release();
  out_.reset();
  QFile::remove(Settings::FilePath());
  RemoveDefaultLibrary();
}

}  // namespace vexel::app::testing
