// The window's manners towards the site: the settings 请求间隔, 限速, 页码补零
// and 按漫画分文件夹 and what a job does with them, 等待 N 秒 in the title
// while the server's pause lasts, the cookie file that vexel-dl
// --cookies-from-window reads, and a queue's chapter that the site answers
// with a browser check.
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <sys/stat.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/cookie_file.h"
#include "app/settings.h"
#include "app/settings_dlg.h"
#include "net/curl_handle.h"
#include "net/request_pacer.h"
#include "tests/app/queue_fixture.h"
#include "tests/app/test_site.h"
#include "tests/app/window_fixture.h"
#include "tests/app/window_tests.h"
#include "tests/support/chapter_page.h"
#include "tests/support/local_server.h"

namespace vexel::app::testing {
namespace {

const QString kTitle = QStringLiteral("Vexel漫画下载器");
const char* const kHtml = "text/html; charset=utf-8";

QString ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

}  // namespace

class PoliteTest : public QObject {
  Q_OBJECT

 private:
  // Pages:
  //   /series/1.html  a chapter of comic "测试系列" with 10 pages
  //   /pause/1.html   a chapter of 3 pages; the first request for page 2 is
  //                   answered 503 with Retry-After: 1
  //   /check.html     a browser check: 503 with a web page
  //   /cookie.html    sets cookie "polite=xyz"
  //   /echo           records the Cookie header it gets
  vexel::testing::LocalServer server_;
  std::unique_ptr<QTemporaryDir> out_;
  std::mutex mutex_;
  std::string echoed_cookie_;
  std::atomic<bool> paused_once_{false};

  std::string Url(const std::string& path) const { return server_.Url("/" + path); }
  QString QUrlText(const std::string& path) const { return QString::fromStdString(Url(path)); }
  QString Out(const QString& name = {}) const { return out_->path() + u'/' + name; }

  // Presses 下载 on a window showing `chapter` and waits for the outcome
  // box; its text, or empty when none came.
  QString RunJob(CDownloaderDlg& window, const std::string& chapter) {
    window.show();
    if (!WaitForPage(window.BrowserView(), QUrlText(chapter))) {
      return {};
    }
    QTest::mouseClick(Button(window, kDownloadButtonId), Qt::LeftButton);
    QString outcome;
    AnswerMessageBox([&](QMessageBox* box) { outcome = box->text(); });
    if (!QTest::qWaitFor([&] { return !window.WorkerRunning(); }, kJobTimeoutMs)) {
      return {};
    }
    return outcome;
  }

 private slots:
  void initTestCase() {
    httplib::Server& server = server_.server;
    server.Get("/series/1.html", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(
          vexel::testing::BareChapterPage("您正在看：测试系列 > 第1话 >共10页", "pics/1.png"),
          kHtml);
    });
    server.Get("/pause/1.html", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(vexel::testing::BareChapterPage("您正在看：暂停章节 >共3页", "pics/1.png"),
                      kHtml);
    });
    server.Get(R"(/(series|pause)/pics/(\d+)\.png)",
               [this](const httplib::Request& req, httplib::Response& res) {
                 const std::string number = req.matches[2].str();
                 if (req.matches[1] == "pause" && number == "2" && !paused_once_.exchange(true)) {
                   res.status = 503;
                   res.set_header("Retry-After", "1");
                   return;
                 }
                 res.set_content(TestSite::ImageBody(number), "image/png");
               });
    server.Get("/check.html", [](const httplib::Request&, httplib::Response& res) {
      res.status = 503;
      res.set_content(
          "<!DOCTYPE html><html><head><title>检查</title></head>"
          "<body><p id=\"check\">checking your browser</p></body></html>",
          kHtml);
    });
    server.Get("/cookie.html", [](const httplib::Request&, httplib::Response& res) {
      res.set_header("Set-Cookie", "polite=xyz; Path=/");
      res.set_content("<html><body>cookie</body></html>", kHtml);
    });
    server.Get("/echo", [this](const httplib::Request& req, httplib::Response& res) {
      const std::lock_guard lock(mutex_);
      echoed_cookie_ = req.get_header_value("Cookie");
      res.set_content("ok", "text/plain");
    });
    QVERIFY(server_.Start());
  }
  void init() {
    QFile::remove(Settings::FilePath());
    out_ = std::make_unique<QTemporaryDir>();
    QVERIFY(out_->isValid());
  }
  void cleanup() {
    out_.reset();
    QFile::remove(Settings::FilePath());
  }

  // The four settings come back as saved and as the dialog shows them; what
  // cannot be read cannot be saved. A job then names its pages padded, in a
  // folder of its comic, and fetches through the process's pacer with the
  // gap and the cap.
  void settingsLastAndReachTheJob() {
    QCOMPARE(Settings::ParseRequestGap(QStringLiteral(" 1.5-3 ")).value_or(net::PaceGap{}),
             (net::PaceGap{std::chrono::milliseconds(1500), std::chrono::milliseconds(3000)}));
    QCOMPARE(Settings::ParseRequestGap(QString()).value_or(
                 net::PaceGap{std::chrono::milliseconds(1), std::chrono::milliseconds(1)}),
             net::PaceGap{});
    QVERIFY(!Settings::ParseRequestGap(QStringLiteral("3-1")));
    QVERIFY(!Settings::ParseRequestGap(QStringLiteral("-1")));
    QCOMPARE(Settings::ParseRateLimit(QStringLiteral("1.5M")).value_or(-1), std::int64_t{1572864});
    QCOMPARE(Settings::ParseRateLimit(QString()).value_or(-1), std::int64_t{0});
    QVERIFY(!Settings::ParseRateLimit(QStringLiteral("fast")));
    QCOMPARE(Settings::RateLimitText(std::int64_t{500} << 10), QStringLiteral("500k"));

    Settings saved;
    saved.pad_pages = true;
    saved.series_folders = true;
    saved.request_gap = {std::chrono::milliseconds(50), std::chrono::milliseconds(50)};
    saved.rate_limit = std::int64_t{1} << 20;
    QVERIFY(saved.Save());
    QCOMPARE(Settings::Load() == saved, true);

    std::vector<net::FetchOptions> fetches;
    auto window = MakeWindow(Url("series/1.html"), Out().toStdString(),
                             [&fetches](const net::FetchOptions& options) {
                               fetches.push_back(options);
                               return runtime::MakeCurlFetcher(options);
                             });
    MenuItem(window->SystemMenu(), QStringLiteral("设置…"))->trigger();
    auto* dialog = window->findChild<SettingsDlg*>();
    QVERIFY(dialog != nullptr);
    QVERIFY(dialog->PadPagesBox()->isChecked() && dialog->SeriesFoldersBox()->isChecked());
    QCOMPARE(dialog->PadPagesBox()->text(), QStringLiteral("页码补零"));
    QCOMPARE(dialog->SeriesFoldersBox()->text(), QStringLiteral("按漫画分文件夹"));
    QCOMPARE(dialog->RequestGapBox()->text(), QStringLiteral("0.05"));
    QCOMPARE(dialog->RateLimitBox()->text(), QStringLiteral("1M"));
    QPushButton* ok = dialog->Buttons()->button(QDialogButtonBox::Ok);
    dialog->RequestGapBox()->setText(QStringLiteral("soon"));
    QVERIFY(!ok->isEnabled());
    dialog->RequestGapBox()->setText(QStringLiteral("0.05"));
    dialog->RateLimitBox()->setText(QStringLiteral("2x"));
    QVERIFY(!ok->isEnabled());
    dialog->RateLimitBox()->setText(QStringLiteral("1024k"));
    QVERIFY(ok->isEnabled());
    ok->click();
    QTRY_VERIFY(window->findChild<SettingsDlg*>() == nullptr);
    QCOMPARE(Settings::Load() == saved, true);

    QCOMPARE(RunJob(*window, "series/1.html"), QStringLiteral("下载完成"));
    const QStringList chapters =
        QDir(Out(QStringLiteral("测试系列"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(chapters.size(), 1);
    QStringList pages;
    for (int page = 1; page <= 10; ++page) {
      pages << QStringLiteral("%1.png").arg(page, 2, 10, QLatin1Char('0'));
    }
    QCOMPARE(QDir(Out(QStringLiteral("测试系列/") + chapters[0])).entryList(QDir::Files), pages);
    QCOMPARE(fetches.size(), std::size_t{1});
    const net::TransferOptions& transfer = fetches[0].transfer;
    QVERIFY(transfer.pacer == &net::ProcessPacer());
    QCOMPARE(transfer.request_gap, saved.request_gap);
    QCOMPARE(transfer.max_receive_bytes_per_second, saved.rate_limit);
    QVERIFY(transfer.stop_waiting && !transfer.stop_waiting());
  }

  // A 503 with Retry-After holds the chapter; the title says for how long
  // while it lasts, and is the plain title again once the job is over.
  void serverPauseShowsInTheTitle() {
    auto window = MakeWindow(Url("pause/1.html"), Out().toStdString());
    QStringList titles;
    connect(window.get(), &QWidget::windowTitleChanged, this,
            [&titles](const QString& title) { titles << title; });
    QCOMPARE(RunJob(*window, "pause/1.html"), QStringLiteral("下载完成"));
    QVERIFY2(titles.contains(kTitle + QStringLiteral(" - 第2/3页 等待 1 秒")),
             qPrintable(titles.join(u'|')));
    QCOMPARE(titles.last(), kTitle);
    QCOMPARE(QDir(Out(QStringLiteral("暂停章节"))).entryList(QDir::Files).size(), 3);
  }

  // The browser's cookies are written, readable by the user alone, where
  // vexel-dl --cookies-from-window looks, with the browser's user agent
  // beside them, and libcurl sends them back to the site.
  void cookiesAreWrittenForTheCommandLine() {
    const QString folder =
        QString::fromStdString(TestHome()) + QStringLiteral("/data/vexel-downloader");
    QCOMPARE(WindowDataFolder(), folder);
    const QString cookies = folder + QStringLiteral("/cookies.txt");
    auto window = MakeWindow(Url("cookie.html"), Out().toStdString());
    window->show();
    QVERIFY(WaitForPage(window->BrowserView(), QUrlText("cookie.html")));
    QTRY_VERIFY_WITH_TIMEOUT(ReadAll(cookies).contains(QStringLiteral("\tpolite\txyz\n")),
                             kLoadTimeoutMs);
    QVERIFY(ReadAll(cookies).startsWith(QStringLiteral("# Netscape HTTP Cookie File\n")));
    struct stat status {};
    QCOMPARE(::stat(QFile::encodeName(cookies).constData(), &status), 0);
    QCOMPARE(status.st_mode & 0777U, 0600U);
    const QString agent = folder + QStringLiteral("/user-agent");
    QCOMPARE(ReadAll(agent), QString::fromStdString(SharedProfile().UserAgent()) + u'\n');
    QCOMPARE(::stat(QFile::encodeName(agent).constData(), &status), 0);
    QCOMPARE(status.st_mode & 0777U, 0600U);
    QCOMPARE(QDir(folder).entryList({QStringLiteral("*.txt.*")}, QDir::Files), QStringList());

    net::CurlEasy curl = net::MakeCurlEasy();
    const std::string file = QFile::encodeName(cookies).toStdString();
    const std::string echo = Url("echo");
    curl_easy_setopt(curl.get(), CURLOPT_COOKIEFILE, file.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_URL, echo.c_str());
    curl_easy_setopt(
        curl.get(), CURLOPT_WRITEFUNCTION,
        +[](char*, std::size_t size, std::size_t count, void*) { return size * count; });
    QCOMPARE(curl_easy_perform(curl.get()), CURLE_OK);
    const std::lock_guard lock(mutex_);
    QVERIFY2(echoed_cookie_.find("polite=xyz") != std::string::npos, echoed_cookie_.c_str());
  }

  // A queue's chapter that the site answers with a browser check: its row
  // says 出错 with what to do, and the view shows the check's page, for the
  // user to pass.
  void browserCheckOfAQueueChapter() {
    auto window = MakeWindow(Url("cookie.html"), Out().toStdString());
    window->show();
    QVERIFY(WaitForPage(window->BrowserView(), QUrlText("cookie.html")));
    window->OnDownloadLink(QUrl(QUrlText("check.html")));
    QTRY_COMPARE_WITH_TIMEOUT(
        QueueStates(*window),
        QStringList{
            QStringLiteral("出错：网站要求浏览器验证，请在窗口中打开该页面完成验证后再下载")},
        kJobTimeoutMs);
    QVERIFY(WaitForPage(window->BrowserView(), QUrlText("check.html")));
    QTRY_VERIFY(!window->Queue().WorkerRunning());
  }
};

int RunPoliteTests(int argc, char** argv) {
  PoliteTest test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace vexel::app::testing

#include "polite_test.moc"
