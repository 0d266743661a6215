// What the window tells after and during a job: the outcome box with the
// failed pages, where the chapter went and its caption whole; the hint on a
// comic's page; 等待重试 in the title; 打开文件夹 before any job; and the
// page's own context menu with the window's chapter items, in Chinese.
#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QSignalSpy>
#include <QTest>

#include <fstream>
#include <map>
#include <set>
#include <string>

#include "app/downloader_app.h"
#include "app/window_boxes.h"
#include "tests/app/test_site.h"
#include "tests/app/window_fixture.h"
#include "tests/app/window_tests.h"

namespace vexel::app::testing {
namespace {

// Serves the test site's images without the network: pages in `missing`
// answer 404, those in `busy_once` 503 the first time.
class ScriptedImages final : public download::ImageFetcher {
 public:
  ScriptedImages(std::set<int> missing, std::set<int> busy_once)
      : missing_(std::move(missing)), busy_once_(std::move(busy_once)) {}

  download::FetchResult FetchImage(const std::string& address, const std::string& target) override {
    const std::string name = address.substr(address.rfind('/') + 1);
    const int page = std::stoi(name);  // "K.png": the site names every image so
    if (missing_.contains(page)) {
      return download::FetchResult::Failed(download::FetchFailure::HttpStatus, "HTTP 404", 404);
    }
    if (busy_once_.erase(page) > 0) {
      return download::FetchResult::Failed(download::FetchFailure::HttpStatus, "HTTP 503", 503);
    }
    std::ofstream(target, std::ios::binary) << TestSite::ImageBody(std::to_string(page));
    return download::FetchResult::Stored(200);
  }

 private:
  std::set<int> missing_;
  std::set<int> busy_once_;
};

FetcherFactory Scripted(const std::set<int>& missing, const std::set<int>& busy_once = {}) {
  return [missing, busy_once](const net::FetchOptions&) {
    return std::make_unique<ScriptedImages>(missing, busy_once);
  };
}

// The box fits its caption, as the title bar needs it.
bool FitsItsCaption(const QMessageBox& box) {
  QFont font = QApplication::font("QMdiSubWindowTitleBar");
  font.setBold(true);
  return box.width() >= QFontMetrics(font).horizontalAdvance(box.windowTitle()) + kTitleBarChrome;
}

}  // namespace

class OutcomeTest : public SiteJobTest {
  Q_OBJECT

 private:
  QString Url(const std::string& path) const { return QString::fromStdString(site_->Url(path)); }

  std::unique_ptr<CDownloaderDlg> OpenOn(const std::string& path, FetcherFactory fetcher = {}) {
    auto window = MakeWindow(site_->Url(path), OutDir(), std::move(fetcher));
    window->show();
    if (!WaitForPage(window->BrowserView(), Url(path))) {
      return nullptr;
    }
    return window;
  }

 private slots:
  // Failed pages are named in the box, as ranges, and the box's second line
  // says where the chapter went; the caption has room to be shown whole.
  void boxNamesFailedPagesAndTheFolder() {
    auto window = OpenOn("chapter/8.html", Scripted({3, 7, 8}));
    QVERIFY(window != nullptr);
    window->OnDownload();
    QVERIFY(AnswerMessageBox([&](QMessageBox* box) {
      QCOMPARE(box->text(), QStringLiteral("下载完成，有3张图片下载失败：3、7-8"));
      QCOMPARE(box->informativeText(), QStringLiteral("保存在：") +
                                           QString::fromStdString(OutDir()) +
                                           QStringLiteral("测试章节"));
      QVERIFY2(FitsItsCaption(*box), qPrintable(QString::number(box->width())));
      Shoot(box, QStringLiteral("failed_pages_box"));
    }));
    QTRY_VERIFY(!window->WorkerRunning());
  }

  // 下载 on the comic's page points to the chapter list before the error.
  void comicsPageGetsTheHint() {
    auto window = OpenOn("comic/");
    QVERIFY(window != nullptr);
    window->OnDownload();
    QStringList lines;
    QVERIFY(AnswerMessageBox([&](QMessageBox* box) {
      QCOMPARE(box->text(), QStringLiteral("下载出错"));
      QCOMPARE(box->informativeText(), QString());
      QVERIFY2(FitsItsCaption(*box), qPrintable(QString::number(box->width())));  // a short text
      lines = LogLines(*window);
      Shoot(window.get(), QStringLiteral("log_hint"));
    }));
    QCOMPARE(lines, (QStringList{QStringLiteral("本页列出3话，请用“下载本页列出的章节…”"),
                                 QStringLiteral("下载出错")}));
    QTRY_VERIFY(!window->WorkerRunning());
  }

  // The title says 等待重试 while page 2 waits for its second try, and no
  // longer once it is tried again.
  void titleShowsARetryWait() {
    auto window = OpenOn("chapter/3.html", Scripted({}, {2}));
    QVERIFY(window != nullptr);
    // Recorded rather than polled: the outcome box's own loop would hold a poll.
    QSignalSpy titles(window.get(), &QWidget::windowTitleChanged);
    window->OnDownload();
    QVERIFY(AnswerMessageBox(
        [](QMessageBox* box) { QCOMPARE(box->text(), QStringLiteral("下载完成")); }));
    QStringList seen;
    for (const QList<QVariant>& title : titles) {
      seen << title.at(0).toString();
    }
    const qsizetype waiting = seen.indexOf(QStringLiteral("Vexel漫画下载器 - 第2/3页 等待重试"));
    QVERIFY2(waiting >= 0, qPrintable(seen.join('|')));
    QVERIFY2(waiting + 1 < seen.size() && !seen[waiting + 1].contains(QStringLiteral("等待重试")),
             qPrintable(seen.join('|')));
    QTRY_VERIFY(!window->WorkerRunning());
  }

  // 打开文件夹 before any job opens the download folder; when nothing can
  // open a folder, a box names it.
  void openFolderBeforeAnyJob() {
    DialogOptions options;
    options.site_home_url = site_->Url("home/");
    const std::string out = OutDir();
    options.choose_output_directory = [out] { return download::OutputDirectory{out, false}; };
    QList<QUrl> asked;
    options.open_url = [&asked](const QUrl& url) {
      asked << url;
      return false;
    };
    CDownloaderDlg window(SharedProfile(), std::move(options));
    window.show();
    QAction* item = MenuItem(window.SystemMenu(), QStringLiteral("打开文件夹"));
    QVERIFY(item->isEnabled());
    item->trigger();
    QCOMPARE(asked, QList<QUrl>{QUrl::fromLocalFile(out_->path())});
    QTRY_VERIFY(FindMessageBox() != nullptr);
    QVERIFY2(FindMessageBox()->text().endsWith(u'\n' + out_->path()),
             qPrintable(FindMessageBox()->text()));
    FindMessageBox()->accept();
  }

  // The page's own menu holds the window's chapter items, the link's over a
  // link, and the engine's items read in Chinese.
  void pageMenuOffersTheChapterItems() {
    const ChineseQtTexts texts;
    QVERIFY(texts.Loaded());
    auto window = OpenOn("comic/");
    QVERIFY(window != nullptr);
    CExplorer* view = window->BrowserView();
    const QVariantList link =
        RunScript(view, QStringLiteral("(function () { var r = document.getElementById('ch2')"
                                       ".getBoundingClientRect(); return [r.left + r.width / 2, "
                                       "r.top + r.height / 2]; })()"))
            .toList();
    QCOMPARE(link.size(), 2);
    QWidget* surface = view->focusProxy() != nullptr ? view->focusProxy() : view;
    const std::map<QString, QPoint> places = {
        {QStringLiteral("page_menu"), QPoint(view->width() - 5, view->height() - 5)},
        {QStringLiteral("page_menu_link"), QPoint(link[0].toInt(), link[1].toInt())}};
    for (const auto& [name, place] : places) {
      QTest::mouseClick(surface, Qt::RightButton, {}, place);
      QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr);
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      QStringList captions;
      for (const QAction* item : menu->actions()) {
        captions << item->text();
      }
      QVERIFY2(captions.contains(QStringLiteral("下载本页列出的章节…")) &&
                   captions.contains(QStringLiteral("加入书架")),
               qPrintable(captions.join('|')));
      QCOMPARE(captions.contains(QStringLiteral("下载链接指向的章节")), name.endsWith("link"));
      QVERIFY2(captions.contains(QStringLiteral("后退")) ||
                   captions.contains(QStringLiteral("复制链接地址")),
               qPrintable(captions.join('|')));
      Shoot(menu, name);
      menu->close();
      QTRY_VERIFY(QApplication::activePopupWidget() == nullptr);
    }
  }
};

int RunOutcomeTests(int argc, char** argv) {
  OutcomeTest test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace vexel::app::testing

#include "outcome_test.moc"
