// The background queue in the window: fed by the chapter behind a link (the
// view's context menu) and the chapter list dialog, run in hidden pages while
// the view stays free; pause, resume, cancel, retry and reorder; duplicates
// refused; the one-job rule with 下载; and each chapter's log shown again.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <functional>
#include <memory>
#include <vector>

#include "app/chapter_list_dlg.h"
#include "app/queue_model.h"
#include "tests/app/queue_fixture.h"
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

  // The comic's three chapters, queued from the chapter list.
  static bool QueueTheComic(CDownloaderDlg& window) {
    ChapterListDlg* chooser = ListChapters(window);
    if (chooser == nullptr) {
      return false;
    }
    DialogButton(*chooser, QStringLiteral("下载"))->click();
    return ShownQueue(window) != nullptr;
  }

  // The log lines of the comic's whole chapter `chapter`, as its job writes
  // them; `present` pages were there already.
  QStringList ChapterLines(int chapter, int present = 0) const {
    QStringList lines{QStringLiteral("共有%1张图片").arg(chapter + 1)};
    for (int page = 1; page <= chapter + 1; ++page) {
      lines << QStringLiteral("下载图片[%1]...%2")
                   .arg(Url("chapter/pics/" + std::to_string(page) + ".png"),
                        page <= present ? QStringLiteral("已存在") : QStringLiteral("成功"));
    }
    return lines << QStringLiteral("下载全部完成");
  }

  static QStringList Lines(const QString& log) {
    QStringList lines = log.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.back().isEmpty()) {
      lines.removeLast();
    }
    return lines;
  }

 private slots:
  // A right click on a link offers the chapter it points to; it joins the
  // queue, whose window opens, and is downloaded behind the view, which keeps
  // its page and stays usable: the address box, 打开 and 下载 too.
  void linkInTheViewsMenuQueuesTheLinkedChapter() {
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
    BoxGuard guard;

    QWidget* surface = view->focusProxy() != nullptr ? view->focusProxy() : view;
    QTest::mouseClick(surface, Qt::RightButton, {}, QPoint(center[0].toInt(), center[1].toInt()));
    QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QAction* item = MenuItem(menu, QStringLiteral("下载链接指向的章节"));
    QVERIFY(item != nullptr);
    item->trigger();
    menu->close();

    QVERIFY(ShownQueue(*window) != nullptr);
    QCOMPARE(QueueChapters(*window), QStringList{Url("comic/2.html")});
    QTRY_COMPARE_WITH_TIMEOUT(QueueStates(*window), QStringList{QStringLiteral("下载中 2/3")},
                              kJobTimeoutMs);
    QCOMPARE(window->windowTitle(), kTitle);
    QVERIFY(!window->Downloading());
    QVERIFY(ShowsTheView(*window));
    for (const int id : {kAddressBoxId, kOpenButtonId, kDownloadButtonId}) {
      QVERIFY(window->Control(id)->isEnabled());
    }
    QCOMPARE(Button(*window, kDownloadButtonId)->text(), QStringLiteral("下载"));
    // The view browses on meanwhile.
    AddressBox(*window)->setText(Url("home/next.html"));
    window->OnOpen();
    QVERIFY(WaitForPage(view, Url("home/next.html")));
    // Side by side, for the screenshots.
    window->QueueWindow()->move(window->frameGeometry().right() + 1, window->y());
    Shoot(window.get(), QStringLiteral("queue_browsing"));
    Shoot(window->QueueWindow(), QStringLiteral("queue_running"));

    site_->Release();
    QTRY_COMPARE_WITH_TIMEOUT(QueueStates(*window), QStringList{QStringLiteral("完成")},
                              kJobTimeoutMs);
    QCOMPARE(Folders().size(), 1);
    QVERIFY2(Folders()[0].contains(QStringLiteral("第2话")), qPrintable(Folders()[0]));
    QCOMPARE(QDir(out_->path() + u'/' + Folders()[0]).entryList(QDir::Files).size(), 3);
    QTRY_VERIFY(!window->Queue().WorkerRunning());
    QVERIFY(!guard.Seen());
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

  // Three chapters run one after another to 完成, with the totals at the
  // foot; then, with a chapter selected in the queue, 显示上次日志 shows its
  // log until 打开, 后退 or the view's next navigation, and 后退 then stays
  // on the page.
  void queueRunsAndEachChaptersLogComesBack() {
    auto window = WindowOnTheComic();
    QVERIFY(window != nullptr);
    QAction* show_log = MenuItem(window->SystemMenu(), QStringLiteral("显示上次日志"));
    emit window->SystemMenu()->aboutToShow();
    QVERIFY(!show_log->isEnabled());  // no job yet, no log

    QVERIFY(QueueTheComic(*window));
    const QStringList done(3, QStringLiteral("完成"));
    QTRY_COMPARE_WITH_TIMEOUT(QueueStates(*window), done, kJobTimeoutMs);
    QCOMPARE(QueueChapters(*window), (QStringList{QStringLiteral("第1话"), QStringLiteral("第2话"),
                                                  QStringLiteral("第3话")}));
    QCOMPARE(ShownQueue(*window)->findChild<QLabel*>(QString::fromLatin1(kQueueTotalsName))->text(),
             QStringLiteral("共3话：等待0话，暂停0话，完成3话，有失败图片0话，出错0话，已取消0话"));
    QCOMPARE(Folders().size(), 3);
    QCOMPARE(window->BrowserView()->url().toString(), Url("comic/"));
    Shoot(window->QueueWindow(), QStringLiteral("queue_done"));

    SelectRow(*window, 1);
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
      QCOMPARE(LogLines(*window), ChapterLines(2));
      go();
      QTRY_VERIFY(ShowsTheView(*window));
    }

    // 后退 over the log takes only the log away: the view stays on its page,
    // one with a page before it, and starts no load.
    CExplorer* view = window->BrowserView();
    view->Navigate(Url("home/next.html"));
    QVERIFY(WaitForPage(view, Url("home/next.html")));
    QVERIFY(Button(*window, kBackButtonId)->isEnabled());
    SelectRow(*window, 2);
    emit window->SystemMenu()->aboutToShow();
    show_log->trigger();
    QVERIFY(ShowsLastLog(*window));
    QCOMPARE(LogLines(*window), ChapterLines(3));
    QSignalSpy loads(view, &QWebEngineView::loadStarted);
    QTest::mouseClick(Button(*window, kBackButtonId), Qt::LeftButton);
    QVERIFY(ShowsTheView(*window));
    // A round trip to the page: a back navigation would have begun by then.
    QCOMPARE(RunScript(view, QStringLiteral("location.href")).toString(), Url("home/next.html"));
    QCOMPARE(loads.count(), 0);
  }

  // Chapter 2 is paused during its page 3, which still arrives; chapter 3,
  // cancelled while it waited, never starts. A chapter queued or running is
  // not added again. 继续 goes on from the next page with the pages stored
  // kept, 重试 runs the cancelled one, and 移除已完成 empties the queue.
  void pauseResumeCancelAndRetry() {
    auto window = WindowOnTheComic();
    QVERIFY(window != nullptr);
    site_->HoldImagesFrom(3);  // chapter 1 (2 pages) passes, chapter 2 stalls on page 3
    QVERIFY(QueueTheComic(*window));
    QTRY_COMPARE_WITH_TIMEOUT(
        QueueStates(*window),
        (QStringList{QStringLiteral("完成"), QStringLiteral("下载中 3/3"), QStringLiteral("等待")}),
        kJobTimeoutMs);
    QTRY_VERIFY(site_->ImagesInFlight() == 1);
    window->OnDownloadLink(QUrl(Url("comic/2.html")));
    window->Queue().Enqueue(ComicChapters(site_->Base(), 3, 3), "comic");
    QCOMPARE(QueueStates(*window).size(), 3);

    SelectRow(*window, 2);
    QueueButton(*window, QStringLiteral("取消"))->click();
    SelectRow(*window, 1);
    QueueButton(*window, QStringLiteral("暂停"))->click();
    QCOMPARE(QueueStates(*window)[2], QStringLiteral("已取消"));
    site_->Release();
    QTRY_COMPARE_WITH_TIMEOUT(QueueStates(*window)[1], QStringLiteral("暂停"), kJobTimeoutMs);
    QTRY_VERIFY(!window->Queue().WorkerRunning());
    QCOMPARE(QueueStates(*window)[2], QStringLiteral("已取消"));
    Shoot(window->QueueWindow(), QStringLiteral("queue_paused"));

    site_->ClearImageRequests();
    QueueButton(*window, QStringLiteral("继续"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(QueueStates(*window)[1], QStringLiteral("完成"), kJobTimeoutMs);
    QCOMPARE(Lines(window->Queue().LogOf(window->QueueWindow()->CurrentId())), ChapterLines(2, 3));
    QCOMPARE(site_->ImageRequests().size(), std::size_t{0});  // every page was stored

    SelectRow(*window, 2);
    QueueButton(*window, QStringLiteral("重试"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(QueueStates(*window), QStringList(3, QStringLiteral("完成")),
                              kJobTimeoutMs);
    QCOMPARE(QueueButton(*window, QStringLiteral("移除已完成"))->isEnabled(), true);
    QueueButton(*window, QStringLiteral("移除已完成"))->click();
    QVERIFY(QueueStates(*window).isEmpty());
    QCOMPARE(CheckPageFiles(out_->path(), 3, 2 + 3 + 4), QString());
  }

  // 移到顶部, a drag and 移到底部 reorder the queue, and the chapters then run
  // in the new order.
  void reorderChangesWhatRunsNext() {
    auto window = WindowOnTheComic();
    QVERIFY(window != nullptr);
    site_->HoldImagesFrom(1);  // chapter 1 stalls on its first page
    QVERIFY(QueueTheComic(*window));
    QTRY_COMPARE_WITH_TIMEOUT(QueueStates(*window)[0], QStringLiteral("下载中 1/2"), kJobTimeoutMs);
    std::vector<QString> started;
    connect(&window->Queue(), &QueueController::Changed, this, [&] {
      const queue::QueueItem* item = window->Queue().Queue().Find(window->Queue().RunningId());
      const QString title = item != nullptr ? QString::fromStdString(item->title) : QString();
      if (item != nullptr && (started.empty() || started.back() != title)) {
        started.push_back(title);
      }
    });

    SelectRow(*window, 2);
    QueueButton(*window, QStringLiteral("移到顶部"))->click();
    QCOMPARE(QueueChapters(*window), (QStringList{QStringLiteral("第3话"), QStringLiteral("第1话"),
                                                  QStringLiteral("第2话")}));
    QueueModel* model = window->QueueWindow()->Model();
    std::unique_ptr<QMimeData> dragged(model->mimeData({model->index(0, 0)}));
    model->dropMimeData(dragged.get(), Qt::MoveAction, 3, 0, {});
    QCOMPARE(QueueChapters(*window), (QStringList{QStringLiteral("第1话"), QStringLiteral("第2话"),
                                                  QStringLiteral("第3话")}));
    SelectRow(*window, 1);
    QueueButton(*window, QStringLiteral("移到底部"))->click();
    QCOMPARE(QueueChapters(*window), (QStringList{QStringLiteral("第1话"), QStringLiteral("第3话"),
                                                  QStringLiteral("第2话")}));
    Shoot(window->QueueWindow(), QStringLiteral("queue_reordered"));

    site_->Release();
    QTRY_COMPARE_WITH_TIMEOUT(QueueStates(*window), QStringList(3, QStringLiteral("完成")),
                              kJobTimeoutMs);
    QCOMPARE(started, (std::vector<QString>{QStringLiteral("第1话"), QStringLiteral("第3话"),
                                            QStringLiteral("第2话")}));
  }

  // The program runs one job at a time: 下载 while a chapter of the queue
  // runs waits until that chapter's page is in and it has given way; the
  // queue waits while the view's job and its box last, then goes on from
  // the chapter's next page.
  void downloadWaitsForTheQueueAndTheQueueForIt() {
    auto window = WindowOnTheComic();
    QVERIFY(window != nullptr);
    site_->HoldImagesFrom(2);
    window->OnDownloadLink(QUrl(Url("comic/3.html")));
    QTRY_COMPARE_WITH_TIMEOUT(QueueStates(*window), QStringList{QStringLiteral("下载中 2/4")},
                              kJobTimeoutMs);
    QTRY_VERIFY(site_->ImagesInFlight() == 1);
    AddressBox(*window)->setText(Url("chapter/2.html"));
    window->OnOpen();
    QVERIFY(WaitForPage(window->BrowserView(), Url("chapter/2.html")));
    site_->ClearImageRequests();

    window->OnDownload();
    QVERIFY(window->Downloading());
    QTRY_COMPARE(Button(*window, kDownloadButtonId)->text(), QStringLiteral("停止"));
    site_->Release();
    QVERIFY(AnswerMessageBox([&](QMessageBox* box) {
      QCOMPARE(box->text(), QStringLiteral("下载完成"));
      // Given way after its page 2, and waiting while the box is up.
      QCOMPARE(QueueStates(*window), QStringList{QStringLiteral("等待")});
      QCOMPARE(window->Queue().RunningId(), 0);
    }));
    const std::vector<ImageRequest> requests = site_->ImageRequests();
    QVERIFY(!requests.empty());
    QCOMPARE(requests.front().referer, site_->Url("chapter/2.html"));
    QTRY_COMPARE_WITH_TIMEOUT(QueueStates(*window), QStringList{QStringLiteral("完成")},
                              kJobTimeoutMs);
    QCOMPARE(Lines(window->Queue().LogOf(window->Queue().Queue().Items()[0].id)),
             ChapterLines(3, 2));
  }
};

int RunQueueTests(int argc, char** argv) {
  QueueTest test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace vexel::app::testing

#include "queue_test.moc"
