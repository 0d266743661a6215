// The window running download jobs: a whole chapter from the sample site, the
// state table with a stop, closing the window during a job, what the image
// requests carry, a second job over pages already there, and several pages at
// once.
#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iterator>

#include "examples/sample_site.h"
#include "tests/app/test_site.h"
#include "tests/app/window_fixture.h"
#include "tests/app/window_tests.h"

namespace vexel::app::testing {
namespace {

std::string ReadFile(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void PressDownload(CDownloaderDlg& window) {
  QTest::mouseClick(Button(window, kDownloadButtonId), Qt::LeftButton);
}

// The downloading arrangement: the log in the lower pane, the view parked.
bool InJobArrangement(const CDownloaderDlg& window) {
  const QRect pane(0, 26, window.width(), window.height() - 26);
  return window.Control(kLogViewId)->isVisible() &&
         window.Control(kLogViewId)->geometry() == pane &&
         window.Control(kBrowserViewId)->geometry() == QRect(-100, -100, 10, 10) &&
         !window.Control(kAddressBoxId)->isEnabled() &&
         !window.Control(kOpenButtonId)->isEnabled() &&
         Button(window, kDownloadButtonId)->text() == QStringLiteral("停止");
}

bool InIdleArrangement(const CDownloaderDlg& window) {
  const QRect pane(0, 26, window.width(), window.height() - 26);
  return window.Control(kLogViewId)->isHidden() &&
         window.Control(kBrowserViewId)->geometry() == pane &&
         window.Control(kAddressBoxId)->isEnabled() && window.Control(kOpenButtonId)->isEnabled() &&
         window.Control(kDownloadButtonId)->isEnabled() &&
         Button(window, kDownloadButtonId)->text() == QStringLiteral("下载") &&
         !window.Downloading();
}

}  // namespace

class JobTest : public SiteJobTest {
  Q_OBJECT

 private:
  // A window showing `address`, ready for a job.
  std::unique_ptr<CDownloaderDlg> WindowOn(const std::string& home, const std::string& address) {
    auto window = MakeWindow(home, OutDir());
    window->show();
    if (!WaitForPage(window->BrowserView(), QString::fromStdString(home))) {
      return nullptr;
    }
    if (address != home) {
      AddressBox(*window)->setText(QString::fromStdString(address));
      window->OnOpen();
      if (!WaitForPage(window->BrowserView(), QString::fromStdString(address))) {
        return nullptr;
      }
    }
    // The view's own request for the page's image is not the job's.
    site_->ClearImageRequests();
    return window;
  }

 private slots:
  void wholeChapterFromTheSampleSite() {
    sample::SampleSiteOptions options;
    options.require_referer = true;  // the images need the chapter page as Referer
    sample::SampleSiteServer sample(options);
    QVERIFY(sample.ok());
    const std::string chapter = sample.ChapterAddress(1, 1);
    const sample::SampleChapter& info = sample.Site().Comics()[0].chapters[0];
    auto window = WindowOn(sample.BaseAddress(), chapter);
    QVERIFY(window != nullptr);

    PressDownload(*window);
    QStringList lines;
    QVERIFY(AnswerMessageBox([&](QMessageBox* box) {
      QCOMPARE(box->text(), QStringLiteral("下载完成"));
      QCOMPARE(box->windowTitle(),
               QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
      QCOMPARE(box->icon(), QMessageBox::NoIcon);
      QCOMPARE(box->buttons().size(), 1);
      QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
      // Until the box is dismissed the window keeps the job's arrangement.
      QVERIFY(InJobArrangement(*window));
      QVERIFY(window->Downloading());
      lines = LogLines(*window);
    }));

    QCOMPARE(lines.size(), info.pages + 2);
    QCOMPARE(lines.front(), QStringLiteral("共有%1张图片").arg(info.pages));
    const QString prefix = QString::fromStdString(chapter).section(u'/', 0, -2) + u'/';
    for (int page = 1; page <= info.pages; ++page) {
      QVERIFY2(lines[page].startsWith(QStringLiteral("下载图片[") + prefix),
               qPrintable(lines[page]));
      QVERIFY2(lines[page].endsWith(QStringLiteral("]...成功")), qPrintable(lines[page]));
    }
    QCOMPARE(lines.back(), QStringLiteral("下载全部完成"));

    QTRY_VERIFY(InIdleArrangement(*window));
    QTRY_VERIFY(!window->WorkerRunning());
    // The log keeps its lines while hidden.
    QCOMPARE(LogLines(*window), lines);

    // One folder, named after the chapter, with every page as served.
    const QStringList folders = QDir(out_->path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(folders.size(), 1);
    QVERIFY2(folders[0].contains(QString::fromStdString(info.name)), qPrintable(folders[0]));
    const QDir folder(out_->path() + u'/' + folders[0]);
    QCOMPARE(folder.entryList(QDir::Files).size(), info.pages);
    for (int page = 1; page <= info.pages; ++page) {
      QCOMPARE(ReadFile(folder.filePath(QStringLiteral("%1.png").arg(page))),
               sample.Site().PageImage(1, 1, page));
    }
  }

  void stateTableThroughAStoppedJob() {
    const std::string home = site_->Url("home/");
    auto window = WindowOn(home, site_->Url("chapter/3.html"));
    QVERIFY(window != nullptr);
    QVERIFY(InIdleArrangement(*window));
    const bool back_enabled = window->Control(kBackButtonId)->isEnabled();
    site_->HoldImagesFrom(1);

    PressDownload(*window);
    QVERIFY(window->Downloading());  // before the worker has even started
    QTRY_VERIFY(InJobArrangement(*window));
    QVERIFY(window->Control(kDownloadButtonId)->isEnabled());
    QCOMPARE(window->Control(kBackButtonId)->isEnabled(), back_enabled);  // left alone
    QTRY_VERIFY2(site_->ImageRequests().size() == 1 && site_->ImagesInFlight() == 1,
                 qPrintable(QStringLiteral("%1 requests, %2 in flight; log: %3")
                                .arg(site_->ImageRequests().size())
                                .arg(site_->ImagesInFlight())
                                .arg(LogLines(*window).join(u'|'))));

    // Resizing during the job keeps the log in the pane and the view parked.
    for (QSize size : {QSize(500, 300), QSize(180, 90), QSize(900, 600)}) {
      window->resize(size);
      QTRY_COMPARE(window->size(), size);
      QTRY_VERIFY(InJobArrangement(*window));
      QCOMPARE(window->Control(kDownloadButtonId)->geometry(), QRect(size.width() - 64, 0, 64, 24));
      QCOMPARE(window->Control(kAddressBoxId)->geometry().width(), std::max(size.width() - 195, 0));
    }

    // A second press asks for a stop; it never starts a second job.
    PressDownload(*window);
    QVERIFY(window->StopRequested());
    QVERIFY(!window->Control(kDownloadButtonId)->isEnabled());
    QCOMPARE(Button(*window, kDownloadButtonId)->text(), QStringLiteral("停止"));
    window->OnDownload();  // as if pressed again: still only a stop request
    QCOMPARE(site_->ImageRequests().size(), std::size_t{1});

    // The page under way finishes; the job stops before the next one.
    site_->Release();
    QStringList lines;
    QVERIFY(AnswerMessageBox([&](QMessageBox* box) {
      QCOMPARE(box->text(), QStringLiteral("下载已终止"));
      QVERIFY(InJobArrangement(*window));
      QVERIFY(!window->Control(kDownloadButtonId)->isEnabled());
      lines = LogLines(*window);
    }));
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral("共有3张图片"));
    QVERIFY(lines[1].endsWith(QStringLiteral("/chapter/pics/1.png]...成功")));
    QCOMPARE(lines[2], QStringLiteral("下载已终止"));
    QCOMPARE(site_->ImageRequests().size(), std::size_t{1});
    QTRY_VERIFY(InIdleArrangement(*window));
    QTRY_VERIFY(!window->WorkerRunning());

    // The next job starts with an empty log and runs to its end.
    PressDownload(*window);
    QVERIFY(AnswerMessageBox([&](QMessageBox* box) {
      QCOMPARE(box->text(), QStringLiteral("下载完成"));
      QCOMPARE(LogLines(*window).size(), 5);
      QCOMPARE(LogLines(*window).front(), QStringLiteral("共有3张图片"));
    }));
    QTRY_VERIFY(InIdleArrangement(*window));
  }

  void errorOutcomeOnAPageWithoutAChapter() {
    const std::string home = site_->Url("home/");
    auto window = WindowOn(home, home);
    QVERIFY(window != nullptr);
    PressDownload(*window);
    QVERIFY(AnswerMessageBox([&](QMessageBox* box) {
      QCOMPARE(box->text(), QStringLiteral("下载出错"));
      QCOMPARE(LogLines(*window), QStringList{QStringLiteral("下载出错")});
    }));
    QTRY_VERIFY(InIdleArrangement(*window));
    QVERIFY(QDir(out_->path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
  }

  // A page with more elements than the document takes is refused, and the
  // log says why.
  void tooComplexPageIsRefusedWithItsReason() {
    const std::string home = site_->Url("home/");
    auto window = MakeWindow(home, OutDir(), {}, 5);
    window->show();
    QVERIFY(WaitForPage(window->BrowserView(), QString::fromStdString(home)));
    AddressBox(*window)->setText(QString::fromStdString(site_->Url("chapter/3.html")));
    window->OnOpen();
    QVERIFY(
        WaitForPage(window->BrowserView(), QString::fromStdString(site_->Url("chapter/3.html"))));
    PressDownload(*window);
    QVERIFY(AnswerMessageBox([&](QMessageBox* box) {
      QCOMPARE(box->text(), QStringLiteral("下载出错"));
      QCOMPARE(LogLines(*window),
               (QStringList{QStringLiteral("页面过于复杂"), QStringLiteral("下载出错")}));
    }));
    QTRY_VERIFY(InIdleArrangement(*window));
  }

  void closingDuringAJobEndsItWithoutTheOutcomeBox_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("modal");
    QTest::newRow("close box") << QStringLiteral("close box") << false;
    QTest::newRow("escape") << QStringLiteral("escape") << false;
    // As the program runs it: the window's modal loop ends when it hides, and
    // the program must still wait for the job before it goes.
    QTest::newRow("close box, modal") << QStringLiteral("close box") << true;
    QTest::newRow("escape, modal") << QStringLiteral("escape") << true;
    // A polite end of the program stops the job as the close box does,
    // without asking.
    QTest::newRow("SIGTERM, modal") << QStringLiteral("SIGTERM") << true;
  }
  void closingDuringAJobEndsItWithoutTheOutcomeBox() {
    QFETCH(QString, how);
    QFETCH(bool, modal);
    const std::string home = site_->Url("home/");
    auto window = WindowOn(home, site_->Url("chapter/4.html"));
    QVERIFY(window != nullptr);
    QSignalSpy finished(window.get(), &QDialog::finished);
    QSignalSpy worker_done(window.get(), &CDownloaderDlg::WorkerFinished);
    site_->HoldImagesFrom(2);  // page 1 arrives whole; page 2 stalls mid-transfer

    PressDownload(*window);
    QTRY_VERIFY_WITH_TIMEOUT(site_->ImageRequests().size() == 2 && site_->ImagesInFlight() == 1,
                             kJobTimeoutMs);
    bool box_seen = false;  // an outcome box would be a fault: note and dismiss it
    QTimer watcher;
    connect(&watcher, &QTimer::timeout, [&] {
      if (QMessageBox* box = FindMessageBox()) {
        box_seen = true;
        box->reject();
      }
    });
    watcher.start(10);
    auto ask_to_close = [&] {
      if (how == u"escape") {
        QTest::keyClick(window.get(), Qt::Key_Escape);
      } else {
        window->close();
      }
    };
    auto close = [&] {
      if (how == u"SIGTERM") {
        raise(SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), kJobTimeoutMs);
        return;
      }
      // During a download the window asks first; 继续下载 keeps the job.
      ask_to_close();
      QVERIFY(AnswerCloseQuestion(QStringLiteral("继续下载")));
      QVERIFY(window->isVisible());
      QVERIFY(window->Downloading());
      QCOMPARE(finished.count(), 0);
      ask_to_close();
      QVERIFY(AnswerCloseQuestion(QStringLiteral("退出")));
      // The window goes at once; it ends once the worker has finished, which
      // the abandoned transfer lets it do without the image being released.
      QVERIFY(!window->isVisible());
    };
    if (modal) {
      QTimer::singleShot(0, window.get(), close);
      window->RunModal();
      QCOMPARE(worker_done.count(), 1);
    } else {
      close();
      QTRY_COMPARE_WITH_TIMEOUT(worker_done.count(), 1, kJobTimeoutMs);
    }
    QCOMPARE(finished.count(), 1);
    QVERIFY(!window->WorkerRunning());
    // The worker has been joined: an outcome box it asked for would come up
    // with the events it left, and the watcher would see it.
    QCoreApplication::processEvents();
    QVERIFY(!box_seen);
    QCOMPARE(site_->ImageRequests().size(), std::size_t{2});

    // Page 1 is whole; page 2 left nothing under its name.
    const QStringList folders = QDir(out_->path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(folders.size(), 1);
    const QDir folder(out_->path() + u'/' + folders[0]);
    QCOMPARE(folder.entryList(QDir::Files), QStringList{QStringLiteral("1.png")});
    QCOMPARE(ReadFile(folder.filePath(QStringLiteral("1.png"))), TestSite::ImageBody("1"));
  }

  void destroyingTheWindowDuringAJobIsSafe() {
    const std::string home = site_->Url("home/");
    auto window = WindowOn(home, site_->Url("chapter/2.html"));
    QVERIFY(window != nullptr);
    site_->HoldImagesFrom(1);
    PressDownload(*window);
    QTRY_VERIFY_WITH_TIMEOUT(site_->ImageRequests().size() == 1 && site_->ImagesInFlight() == 1,
                             kJobTimeoutMs);
    window.reset();  // joins the worker, which the closed gate and abandon release
    QCOMPARE(site_->ImageRequests().size(), std::size_t{1});
  }

  void pagesAlreadyThereAreSkippedWhenAsked() {
    const std::string chapter = site_->Url("chapter/3.html");
    auto window = WindowOn(site_->Url("home/"), chapter);
    QVERIFY(window != nullptr);
    SkipExistingItem(*window)->trigger();
    QVERIFY(SkipExistingItem(*window)->isChecked());

    // The first job finds nothing there and fetches every page.
    PressDownload(*window);
    QVERIFY(AnswerMessageBox(
        [](QMessageBox* box) { QCOMPARE(box->text(), QStringLiteral("下载完成")); }));
    QCOMPARE(site_->ImageRequests().size(), std::size_t{3});
    QTRY_VERIFY(!window->WorkerRunning());
    site_->ClearImageRequests();

    PressDownload(*window);
    QStringList lines;
    QVERIFY(AnswerMessageBox([&](QMessageBox* box) {
      QCOMPARE(box->text(), QStringLiteral("下载完成"));
      lines = LogLines(*window);
    }));
    QStringList expected{QStringLiteral("共有3张图片")};
    for (int page = 1; page <= 3; ++page) {
      expected << QStringLiteral("下载图片[%1]...已存在")
                      .arg(QString::fromStdString(
                          site_->Url("chapter/pics/" + std::to_string(page) + ".png")));
    }
    expected << QStringLiteral("下载全部完成");
    QCOMPARE(lines, expected);
    QCOMPARE(site_->ImageRequests().size(), std::size_t{0});
    QTRY_VERIFY(!window->WorkerRunning());
  }

  void severalPagesAtOnceReachTheFetcher() {
    auto window = WindowOn(site_->Url("home/"), site_->Url("chapter/3.html"));
    QVERIFY(window != nullptr);
    JobsItem(*window, 3)->trigger();
    site_->HoldImagesFrom(1);

    // Every page is under way before any has arrived.
    PressDownload(*window);
    QTRY_VERIFY_WITH_TIMEOUT(site_->ImageRequests().size() == 3 && site_->ImagesInFlight() == 3,
                             kJobTimeoutMs);
    site_->Release();
    QStringList lines;
    QVERIFY(AnswerMessageBox([&](QMessageBox* box) {
      QCOMPARE(box->text(), QStringLiteral("下载完成"));
      lines = LogLines(*window);
    }));
    // The log still goes page by page.
    QCOMPARE(lines.size(), 5);
    for (int page = 1; page <= 3; ++page) {
      QCOMPARE(lines[page], QStringLiteral("下载图片[%1]...成功")
                                .arg(QString::fromStdString(
                                    site_->Url("chapter/pics/" + std::to_string(page) + ".png"))));
    }
    QTRY_VERIFY(!window->WorkerRunning());
  }

  void imageRequestsCarryTheViewsIdentity() {
    const std::string home = site_->Url("home/");
    auto window = WindowOn(home, site_->Url("cookie.html"));
    QVERIFY(window != nullptr);
    const std::string chapter = site_->Url("chapter/2.html");
    AddressBox(*window)->setText(QString::fromStdString(chapter));
    window->OnOpen();
    QVERIFY(WaitForPage(window->BrowserView(), QString::fromStdString(chapter)));
    // The engine tells the jar about the page's cookie a little after the load.
    const auto jar_has_the_cookie = [] {
      const std::vector<std::string> lines = SharedProfile().Cookies().CurlCookieLines();
      return std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.ends_with("\tsession\tabc123");
      });
    };
    QTRY_VERIFY(jar_has_the_cookie());
    site_->ClearImageRequests();

    PressDownload(*window);
    QVERIFY(AnswerMessageBox(
        [](QMessageBox* box) { QCOMPARE(box->text(), QStringLiteral("下载完成")); }));
    const std::vector<ImageRequest> requests = site_->ImageRequests();
    QCOMPARE(requests.size(), std::size_t{2});
    for (const ImageRequest& request : requests) {
      QCOMPARE(request.user_agent, SharedProfile().UserAgent());
      QCOMPARE(request.referer, chapter);
      QCOMPARE(request.cookie, std::string("session=abc123"));
    }
    QTRY_VERIFY(!window->WorkerRunning());
  }
};

int RunJobTests(int argc, char** argv) {
  JobTest test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace vexel::app::testing

#include "job_test.moc"
