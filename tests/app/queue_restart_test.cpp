// The background queue across restarts: closing while it works asks first;
// a window closed while its queue works leaves it to the next one, which
// goes on at once or, with 启动时暂停队列, once told to; and a program killed
// during a queue finishes it after a restart with every page whole.
#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/settings.h"
#include "tests/app/queue_fixture.h"
#include "tests/app/test_site.h"
#include "tests/app/window_fixture.h"
#include "tests/app/window_tests.h"

namespace vexel::app::testing {
namespace {

constexpr char kChildLibrary[] = "VEXEL_QUEUE_CHILD_LIBRARY";
constexpr char kChildOut[] = "VEXEL_QUEUE_CHILD_OUT";
constexpr char kChildSite[] = "VEXEL_QUEUE_CHILD_SITE";

// A window on the site's home page that keeps its library (and so its queue)
// in `library_file` and stores chapters under `out` (ending in "/").
std::unique_ptr<CDownloaderDlg> WindowWithLibrary(const std::string& site,
                                                  const std::string& library_file,
                                                  const std::string& out) {
  DialogOptions options;
  options.site_home_url = site + "home/";
  options.library_file = library_file;
  options.choose_output_directory = [out] { return download::OutputDirectory{out, false}; };
  auto window = std::make_unique<CDownloaderDlg>(SharedProfile(), std::move(options));
  window->show();
  return window;
}

}  // namespace

bool IsQueueChild() { return std::getenv(kChildLibrary) != nullptr; }

// The killed program: a window that queues the comic's three chapters and
// runs until it is killed.
int RunQueueChild() {
  const std::string site = std::getenv(kChildSite);
  auto window = WindowWithLibrary(site, std::getenv(kChildLibrary), std::getenv(kChildOut));
  window->Queue().Enqueue(ComicChapters(site, 1, 3), "comic");
  return QApplication::exec();
}

class QueueRestartTest : public SiteJobTest {
  Q_OBJECT

 private slots:
  // Closing while the queue works asks first; 取消 keeps the window and the
  // queue, 退出 ends the window once the chapter under way has let go.
  void closingWhileTheQueueWorksAsks() {
    auto window = WindowWithLibrary(site_->Base(), {}, OutDir());
    QSignalSpy finished(window.get(), &QDialog::finished);
    site_->HoldImagesFrom(3);
    window->Queue().Enqueue(ComicChapters(site_->Base(), 1, 3), "comic");
    QTRY_VERIFY_WITH_TIMEOUT(site_->ImagesInFlight() == 1, kJobTimeoutMs);
    for (const QString& answer : {QStringLiteral("取消"), QStringLiteral("退出")}) {
      window->close();
      QVERIFY(AnswerQueueCloseQuestion(
          QStringLiteral("下载队列中还有2话，退出后下次启动继续。确定退出吗？"), answer));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!window->Queue().WorkerRunning(), kJobTimeoutMs);
    QTRY_COMPARE(finished.count(), 1);
    QVERIFY(!window->isVisible());
  }

  // Closed with chapter 2 under way and chapter 3 paused: the next window
  // holds the queue as it was, chapter 2 waiting again; with 启动时暂停队列
  // nothing starts until 全部继续, and then both finish.
  void restartRestoresTheQueue() {
    QTemporaryDir library_dir;
    const std::string library_file = library_dir.filePath("library.sqlite3").toStdString();
    site_->HoldImagesFrom(3);
    {
      auto window = WindowWithLibrary(site_->Base(), library_file, OutDir());
      window->Queue().Enqueue(ComicChapters(site_->Base(), 1, 3), "comic");
      QTRY_VERIFY_WITH_TIMEOUT(site_->ImagesInFlight() == 1, kJobTimeoutMs);
      window->Queue().Pause(window->Queue().Queue().Items()[2].id);
      QSignalSpy finished(window.get(), &QDialog::finished);
      window->close();
      QVERIFY(AnswerQueueCloseQuestion(
          QStringLiteral("下载队列中还有2话，退出后下次启动继续。确定退出吗？"),
          QStringLiteral("退出")));
      QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kJobTimeoutMs);
      QTRY_VERIFY_WITH_TIMEOUT(!window->Queue().WorkerRunning(), kJobTimeoutMs);
    }
    site_->Release();
    Settings settings;
    settings.pause_queue_at_start = true;
    QVERIFY(settings.Save());

    auto window = WindowWithLibrary(site_->Base(), library_file, OutDir());
    QTRY_VERIFY(ShownQueue(*window) != nullptr);  // it opens by itself
    const QStringList kept{QStringLiteral("完成"), QStringLiteral("等待"), QStringLiteral("暂停")};
    QCOMPARE(QueueStates(*window), kept);
    QCOMPARE(QueueChapters(*window), (QStringList{QStringLiteral("第1话"), QStringLiteral("第2话"),
                                                  QStringLiteral("第3话")}));
    QVERIFY(!window->Queue().Working());
    QCOMPARE(window->Queue().RunningId(), 0);
    Shoot(window->QueueWindow(), QStringLiteral("queue_restored"));
    QueueButton(*window, QStringLiteral("全部继续"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(QueueStates(*window), QStringList(3, QStringLiteral("完成")),
                              kJobTimeoutMs);
    Shoot(window->QueueWindow(), QStringLiteral("queue_finished_after_restart"));
    QCOMPARE(CheckPageFiles(out_->path(), 3, 2 + 3 + 4), QString());
  }

  // SIGKILL during chapter 2's page 3: the next start finds chapter 1 done
  // and goes on with the rest, and every page is the site's, byte for byte.
  void killedDuringAQueueFinishesAfterARestart() {
    QTemporaryDir library_dir;
    const QString library_file = library_dir.filePath("library.sqlite3");
    site_->HoldImagesFrom(3);
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kChildLibrary), library_file);
    environment.insert(QString::fromLatin1(kChildOut), QString::fromStdString(OutDir()));
    environment.insert(QString::fromLatin1(kChildSite), QString::fromStdString(site_->Base()));
    environment.insert(QStringLiteral("VEXEL_TEST_HOME"),
                       library_dir.filePath(QStringLiteral("home")));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(site_->ImagesInFlight() == 1, kJobTimeoutMs * 2);
    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    QVERIFY(child.waitForFinished());
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    // The restart comes a while later: only what a killed run left a minute
    // ago or more is surely no live run's, and the run that writes into its
    // folder next takes it away.
    QDirIterator parts(out_->path(), {QStringLiteral("*.part")}, QDir::Files | QDir::Hidden,
                       QDirIterator::Subdirectories);
    while (parts.hasNext()) {
      std::filesystem::last_write_time(
          parts.next().toStdString(),
          std::filesystem::file_time_type::clock::now() - std::chrono::minutes(2));
    }
    site_->Release();

    auto window = WindowWithLibrary(site_->Base(), library_file.toStdString(), OutDir());
    QTRY_VERIFY(ShownQueue(*window) != nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(QueueStates(*window), QStringList(3, QStringLiteral("完成")),
                              kJobTimeoutMs);
    QCOMPARE(CheckPageFiles(out_->path(), 3, 2 + 3 + 4), QString());
  }
};

int RunQueueRestartTests(int argc, char** argv) {
  QueueRestartTest test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace vexel::app::testing

#include "queue_restart_test.moc"
