// Whole comics in the window: the chapter behind a link (the view's context
// menu), the chapter list dialog, a queue of chapters run in hidden pages to
// its tally, a stop and a close in the middle of one, the progress in the
// window's title, and the last log shown again.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "app/chapter_list_dlg.h"
#include "tests/app/test_site.h"
#include "tests/app/window_fixture.h"
#include "tests/app/window_tests.h"

namespace vexel::app::testing {
namespace {

const QString kTitle = QStringLiteral("Vexel漫画下载器");

// The open chapter list dialog of `window`, if any.
ChapterListDlg* OpenChapterList(const CDownloaderDlg& window) {
  auto* chooser = window.findChild<ChapterListDlg*>();
  return chooser != nullptr && chooser->isVisible() ? chooser : nullptr;
}

QTreeWidget* ChapterRows(const ChapterListDlg& chooser) {
  return chooser.findChild<QTreeWidget*>(QString::fromLatin1(kChapterListName));
}

QString CheckedCountText(const ChapterListDlg& chooser) {
  return chooser.findChild<QLabel*>(QString::fromLatin1(kCheckedCountName))->text();
}

QList<bool> CheckStates(const ChapterListDlg& chooser) {
  QList<bool> states;
  const QTreeWidget* rows = ChapterRows(chooser);
  for (int row = 0; row < rows->topLevelItemCount(); ++row) {
    states << (rows->topLevelItem(row)->checkState(0) == Qt::Checked);
  }
  return states;
}

QPushButton* DialogButton(const QWidget& dialog, const QString& text) {
  for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
    if (button->text() == text) {
      return button;
    }
  }
  return nullptr;
}

// A click on row `row` of the list, anywhere on it.
void ClickRow(const ChapterListDlg& chooser, int row, Qt::KeyboardModifiers modifiers = {}) {
  QTreeWidget* rows = ChapterRows(chooser);
  const QRect rect = rows->visualItemRect(rows->topLevelItem(row));
  QTest::mouseClick(rows->viewport(), Qt::LeftButton, modifiers, rect.center());
}

// The log in the view's place while the controls stay usable.
bool ShowsLastLog(const CDownloaderDlg& window) {
  return window.ShowingLastLog() && window.Control(kLogViewId)->isVisible() &&
         window.Control(kBrowserViewId)->geometry() == QRect(-100, -100, 10, 10) &&
         window.Control(kAddressBoxId)->isEnabled() && window.Control(kOpenButtonId)->isEnabled();
}

// Dismisses any message box that comes up while a test waits for something
// else: a job that ends too early then fails that wait instead of holding it
// in the box's own event loop.
class BoxGuard {
 public:
  BoxGuard() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (QMessageBox* box = FindMessageBox()) {
        seen_ = true;
        box->reject();
      }
    });
    timer_.start(10);
  }
  // Called before the expected box is answered.
  void Stop() { timer_.stop(); }
  bool Seen() const { return seen_; }

 private:
  QTimer timer_;
  bool seen_ = false;
};

bool ShowsTheView(const CDownloaderDlg& window) {
  return !window.ShowingLastLog() && window.Control(kLogViewId)->isHidden() &&
         window.Control(kBrowserViewId)->geometry() ==
             QRect(0, 26, window.width(), window.height() - 26);
}

}  // namespace

class QueueTest : public SiteJobTest {
  Q_OBJECT

 private:
  QString Url(const std::string& path) const { return QString::fromStdString(site_->Url(path)); }

  QStringList Folders() const {
    return QDir(out_->path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  }

  // A window showing the comic's page.
  std::unique_ptr<CDownloaderDlg> WindowOnTheComic() {
    auto window = MakeWindow(site_->Url("home/"), OutDir());
    window->show();
    if (!WaitForPage(window->BrowserView(), Url("home/"))) {
      return nullptr;
    }
    AddressBox(*window)->setText(Url("comic/"));
    window->OnOpen();
    if (!WaitForPage(window->BrowserView(), Url("comic/"))) {
      return nullptr;
    }
    return window;
  }

  // Opens the chapter list from the window's menu and waits for it.
  static ChapterListDlg* ListChapters(CDownloaderDlg& window) {
    MenuItem(window.SystemMenu(), QStringLiteral("下载本页列出的章节…"))->trigger();
    QElapsedTimer timer;
    timer.start();
    while (OpenChapterList(window) == nullptr && timer.elapsed() < kLoadTimeoutMs) {
      QTest::qWait(10);
    }
    return OpenChapterList(window);
  }

  // The log lines of the comic's whole chapter `chapter`, at `position` of a
  // queue of `count`.
  QStringList ChapterLines(int chapter, int position, int count) const {
    QStringList lines{QStringLiteral("【%1/%2】%3")
                          .arg(position)
                          .arg(count)
                          .arg(Url("comic/" + std::to_string(chapter) + ".html")),
                      QStringLiteral("共有%1张图片").arg(chapter + 1)};
    for (int page = 1; page <= chapter + 1; ++page) {
      lines << QStringLiteral("下载图片[%1]...成功")
                   .arg(Url("chapter/pics/" + std::to_string(page) + ".png"));
    }
    return lines << QStringLiteral("下载全部完成");
  }

 private slots:
  // A right click on a link offers the chapter it points to; that chapter is
  // loaded and downloaded behind the view, which keeps its page, and the
  // window's title counts the pages meanwhile.
  void linkInTheViewsMenuDownloadsTheLinkedChapter() {
    auto window = WindowOnTheComic();
    QVERIFY(window != nullptr);
    CExplorer* view = window->BrowserView();
    const QVariantList center =
        RunScript(view, QStringLiteral("(function () { var r = document.getElementById('ch2')"
                                       ".getBoundingClientRect(); return [r.left + r.width / 2, "
                                       "r.top + r.height / 2]; })()"))
            .toList();
    QCOMPARE(center.size(), 2);
    site_->HoldImagesFrom(2);
    site_->ClearImageRequests();
    BoxGuard guard;

    QWidget* surface = view->focusProxy() != nullptr ? view->focusProxy() : view;
    QTest::mouseClick(surface, Qt::RightButton, {}, QPoint(center[0].toInt(), center[1].toInt()));
    QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QAction* item = MenuItem(menu, QStringLiteral("下载链接指向的章节"));
    QVERIFY(item != nullptr);
    item->trigger();
    menu->close();

    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), kTitle + QStringLiteral(" - 第2/3页"),
                              kJobTimeoutMs);
    guard.Stop();
    QVERIFY(!guard.Seen());
    site_->Release();
    QStringList lines;
    QVERIFY(AnswerMessageBox([&](QMessageBox* box) {
      QCOMPARE(box->text(), QStringLiteral("下载完成"));
      QCOMPARE(window->windowTitle(), kTitle);
      lines = LogLines(*window);
    }));
    QCOMPARE(lines, ChapterLines(2, 1, 1));
    QCOMPARE(view->url().toString(), Url("comic/"));
    QCOMPARE(Folders().size(), 1);
    QVERIFY2(Folders()[0].contains(QStringLiteral("第2话")), qPrintable(Folders()[0]));
    QCOMPARE(QDir(out_->path() + u'/' + Folders()[0]).entryList(QDir::Files).size(), 3);
    QTRY_VERIFY(!window->WorkerRunning());
    QVERIFY(!window->Downloading());
  }

  // The dialog: its captions, every chapter checked, select none and all, a
  // click and a Shift-click range, the count; 取消 starts nothing. A page that
  // lists no chapters says so instead.
  void chapterListDialogChoosesChapters() {
    auto window = WindowOnTheComic();
    QVERIFY(window != nullptr);
    site_->ClearImageRequests();
    ChapterListDlg* chooser = ListChapters(*window);
    QVERIFY(chooser != nullptr);
    QVERIFY(chooser->isModal());
    QCOMPARE(chooser->windowTitle(), QStringLiteral("下载本页列出的章节"));
    QTreeWidget* rows = ChapterRows(*chooser);
    QCOMPARE(rows->headerItem()->text(0), QStringLiteral("章节"));
    QCOMPARE(rows->headerItem()->text(1), QStringLiteral("地址"));
    QCOMPARE(rows->topLevelItemCount(), 3);
    for (int row = 0; row < 3; ++row) {
      QCOMPARE(rows->topLevelItem(row)->text(0), QStringLiteral("第%1话").arg(row + 1));
      QCOMPARE(rows->topLevelItem(row)->text(1), Url("comic/" + std::to_string(row + 1) + ".html"));
    }
    QPushButton* download = DialogButton(*chooser, QStringLiteral("下载"));
    QVERIFY(download != nullptr && DialogButton(*chooser, QStringLiteral("取消")) != nullptr);
    QCOMPARE(CheckStates(*chooser), (QList<bool>{true, true, true}));
    QCOMPARE(CheckedCountText(*chooser), QStringLiteral("已选 3 话"));

    DialogButton(*chooser, QStringLiteral("全不选"))->click();
    QCOMPARE(CheckStates(*chooser), (QList<bool>{false, false, false}));
    QCOMPARE(CheckedCountText(*chooser), QStringLiteral("已选 0 话"));
    QVERIFY(!download->isEnabled());
    ClickRow(*chooser, 0);
    ClickRow(*chooser, 2, Qt::ShiftModifier);
    QCOMPARE(CheckStates(*chooser), (QList<bool>{true, true, true}));
    ClickRow(*chooser, 1);
    QCOMPARE(CheckStates(*chooser), (QList<bool>{true, false, true}));
    QCOMPARE(CheckedCountText(*chooser), QStringLiteral("已选 2 话"));
    QVERIFY(download->isEnabled());
    ClickRow(*chooser, 0, Qt::ShiftModifier);  // from row 1, which went unchecked
    QCOMPARE(CheckStates(*chooser), (QList<bool>{false, false, true}));
    DialogButton(*chooser, QStringLiteral("全选"))->click();
    QCOMPARE(CheckStates(*chooser), (QList<bool>{true, true, true}));
    QCOMPARE(CheckedCountText(*chooser), QStringLiteral("已选 3 话"));

    QSignalSpy gone(chooser, &QObject::destroyed);
    DialogButton(*chooser, QStringLiteral("取消"))->click();
    QVERIFY(gone.wait(kLoadTimeoutMs));
    QVERIFY(!window->Downloading());
    QVERIFY(!window->WorkerRunning());
    QCOMPARE(site_->ImageRequests().size(), std::size_t{0});

    AddressBox(*window)->setText(Url("home/"));
    window->OnOpen();
    QVERIFY(WaitForPage(window->BrowserView(), Url("home/")));
    MenuItem(window->SystemMenu(), QStringLiteral("下载本页列出的章节…"))->trigger();
    QVERIFY(AnswerMessageBox(
        [](QMessageBox* box) { QCOMPARE(box->text(), QStringLiteral("本页没有找到章节列表")); }));
    QVERIFY(OpenChapterList(*window) == nullptr);
  }

  // Three chapters one after another under their headers, the log kept
  // across them, the tally in the box; then the last log comes back from the
  // menu until 打开, 后退 or the view's next navigation, and 后退 then stays
  // on the page.
  void queueRunsToItsTallyAndItsLogComesBack() {
    auto window = WindowOnTheComic();
    QVERIFY(window != nullptr);
    QAction* show_log = MenuItem(window->SystemMenu(), QStringLiteral("显示上次日志"));
    emit window->SystemMenu()->aboutToShow();
    QVERIFY(!show_log->isEnabled());  // no job yet, no log

    ChapterListDlg* chooser = ListChapters(*window);
    QVERIFY(chooser != nullptr);
    DialogButton(*chooser, QStringLiteral("下载"))->click();
    QStringList lines;
    QVERIFY(AnswerMessageBox([&](QMessageBox* box) {
      QCOMPARE(box->text(), QStringLiteral("共3话：完成3话，有失败图片0话，出错0话"));
      lines = LogLines(*window);
    }));
    QCOMPARE(lines, ChapterLines(1, 1, 3) + ChapterLines(2, 2, 3) + ChapterLines(3, 3, 3));
    QCOMPARE(Folders().size(), 3);
    QCOMPARE(window->BrowserView()->url().toString(), Url("comic/"));
    QTRY_VERIFY(!window->WorkerRunning());
    QVERIFY(ShowsTheView(*window));

    const std::vector<std::function<void()>> ways_back = {
        [&] { window->OnOpen(); },
        [&] {
          RunScript(window->BrowserView(),
                    QStringLiteral("location.href = '%1'").arg(Url("home/next.html")));
        },
    };
    for (const auto& go : ways_back) {
      emit window->SystemMenu()->aboutToShow();
      QVERIFY(show_log->isEnabled());
      show_log->trigger();
      QVERIFY(ShowsLastLog(*window));
      QCOMPARE(LogLines(*window), lines);
      go();
      QTRY_VERIFY(ShowsTheView(*window));
    }

    // 后退 over the last log takes only the log away: the view stays on its
    // page, one with a page before it, and starts no load.
    CExplorer* view = window->BrowserView();
    view->Navigate(Url("home/next.html"));
    QVERIFY(WaitForPage(view, Url("home/next.html")));
    QVERIFY(Button(*window, kBackButtonId)->isEnabled());
    emit window->SystemMenu()->aboutToShow();
    show_log->trigger();
    QVERIFY(ShowsLastLog(*window));
    QSignalSpy loads(view, &QWebEngineView::loadStarted);
    QTest::mouseClick(Button(*window, kBackButtonId), Qt::LeftButton);
    QVERIFY(ShowsTheView(*window));
    // A round trip to the page: a back navigation would have begun by then.
    QCOMPARE(RunScript(view, QStringLiteral("location.href")).toString(), Url("home/next.html"));
    QCOMPARE(loads.count(), 0);
    QCOMPARE(view->url().toString(), Url("home/next.html"));
  }

  // 停止 in chapter 2 of 3: its page under way ends, chapter 3 never starts.
  // The title shows the chapter and the page meanwhile.
  void stopInTheMiddleSkipsTheRest() {
    auto window = WindowOnTheComic();
    QVERIFY(window != nullptr);
    site_->HoldImagesFrom(3);  // chapter 1 (2 pages) passes, chapter 2 stalls on page 3
    BoxGuard guard;
    ChapterListDlg* chooser = ListChapters(*window);
    QVERIFY(chooser != nullptr);
    DialogButton(*chooser, QStringLiteral("下载"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), kTitle + QStringLiteral(" - 第2/3话 第3/3页"),
                              kJobTimeoutMs);
    QTRY_VERIFY(site_->ImagesInFlight() == 1);
    QCOMPARE(Button(*window, kDownloadButtonId)->text(), QStringLiteral("停止"));
    QVERIFY(!window->Control(kOpenButtonId)->isEnabled());
    QVERIFY(!window->Control(kAddressBoxId)->isEnabled());
    QVERIFY(window->Control(kLogViewId)->isVisible());

    guard.Stop();
    QVERIFY(!guard.Seen());
    QTest::mouseClick(Button(*window, kDownloadButtonId), Qt::LeftButton);
    QVERIFY(window->StopRequested());
    site_->Release();
    QStringList lines;
    QVERIFY(AnswerMessageBox([&](QMessageBox* box) {
      QCOMPARE(
          box->text(),
          QStringLiteral("共3话：完成1话，有失败图片0话，出错0话，未完成1话，未开始1话，已终止"));
      QCOMPARE(box->informativeText(), QStringLiteral("保存在：") + out_->path());
      Shoot(box, QStringLiteral("queue_summary_box"));
      QCOMPARE(window->windowTitle(), kTitle);
      lines = LogLines(*window);
    }));
    QStringList chapter2 = ChapterLines(2, 2, 3);
    chapter2.back() = QStringLiteral("下载已终止");
    QCOMPARE(lines, ChapterLines(1, 1, 3) + chapter2);
    QCOMPARE(Folders().size(), 2);
    QTRY_VERIFY(!window->WorkerRunning());
    QCOMPARE(Button(*window, kDownloadButtonId)->text(), QStringLiteral("下载"));
  }

  // Closing during a queue ends it as closing during a job does: no box, no
  // further chapter, and the window finishes once the worker has.
  void closingDuringAQueueEndsIt() {
    auto window = WindowOnTheComic();
    QVERIFY(window != nullptr);
    QSignalSpy finished(window.get(), &QDialog::finished);
    QSignalSpy worker_done(window.get(), &CDownloaderDlg::WorkerFinished);
    site_->HoldImagesFrom(3);
    BoxGuard guard;  // the outcome box would be a fault here
    ChapterListDlg* chooser = ListChapters(*window);
    QVERIFY(chooser != nullptr);
    DialogButton(*chooser, QStringLiteral("下载"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(window->windowTitle().endsWith(QStringLiteral("第2/3话 第3/3页")),
                             kJobTimeoutMs);
    QTRY_VERIFY(site_->ImagesInFlight() == 1);
    worker_done.clear();  // the chapter list's reader had a worker of its own

    window->close();
    QVERIFY(AnswerCloseQuestion(QStringLiteral("退出")));
    QVERIFY(!window->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(worker_done.count(), 1, kJobTimeoutMs);
    QCOMPARE(finished.count(), 1);
    QVERIFY(!window->WorkerRunning());
    QCoreApplication::processEvents();
    QVERIFY(!guard.Seen());
    QVERIFY(!LogLines(*window).join(u'\n').contains(QStringLiteral("【3/3】")));
    QCOMPARE(Folders().size(), 2);
  }
};

int RunQueueTests(int argc, char** argv) {
  QueueTest test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace vexel::app::testing

#include "queue_test.moc"
