// The window and the library: 加入书架, the chapter dialog's 已下载 rows and
// the queue that skips them, 书架's 检查更新 and 下载待下载的章节, and a
// library file that cannot be used.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "app/bookshelf_dlg.h"
#include "app/chapter_list_dlg.h"
#include "app/settings.h"
#include "files/real_file_system.h"
#include "library/library.h"
#include "tests/app/queue_fixture.h"
#include "tests/app/test_site.h"
#include "tests/app/window_fixture.h"
#include "tests/app/window_tests.h"

namespace vexel::app::testing {
namespace {

template <typename Dialog>
Dialog* OpenDialog(const CDownloaderDlg& window) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < kLoadTimeoutMs) {
    for (Dialog* dialog : window.findChildren<Dialog*>()) {
      if (dialog->isVisible()) {
        return dialog;
      }
    }
    QTest::qWait(10);
  }
  return nullptr;
}

QTreeWidget* Rows(const QWidget& dialog, const char* name) {
  return dialog.findChild<QTreeWidget*>(QString::fromLatin1(name));
}

QStringList Column(const QTreeWidget* rows, int column) {
  QStringList texts;
  for (int row = 0; row < rows->topLevelItemCount(); ++row) {
    texts << rows->topLevelItem(row)->text(column);
  }
  return texts;
}

}  // namespace

class ShelfTest : public SiteJobTest {
  Q_OBJECT

 private:
  QString Url(const std::string& path) const { return QString::fromStdString(site_->Url(path)); }
  std::string LibraryFile() const {
    return library_dir_->filePath("library.sqlite3").toStdString();
  }

  // The test's own connection to the window's library file.
  std::unique_ptr<library::Library> OpenLibrary() const {
    return library::Library::Open(LibraryFile(), files::RealFileSystem()).library;
  }

  // A window on the comic's page that keeps its library in `library_file`.
  std::unique_ptr<CDownloaderDlg> WindowOnTheComic(const std::string& library_file) {
    DialogOptions options;
    options.site_home_url = site_->Url("comic/");
    options.library_file = library_file;
    options.choose_output_directory = [out = OutDir()] {
      return download::OutputDirectory{out, false};
    };
    auto window = std::make_unique<CDownloaderDlg>(SharedProfile(), std::move(options));
    window->show();
    if (!WaitForPage(window->BrowserView(), Url("comic/"))) {
      return nullptr;
    }
    return window;
  }

  // 加入书架 from the window's menu, and its box answered.
  static bool Follow(CDownloaderDlg& window, const QString& expected_box) {
    MenuItem(window.SystemMenu(), QStringLiteral("加入书架"))->trigger();
    QString said;
    return AnswerMessageBox([&](QMessageBox* box) { said = box->text(); }) && said == expected_box;
  }

  static ChapterListDlg* ListChapters(CDownloaderDlg& window) {
    MenuItem(window.SystemMenu(), QStringLiteral("下载本页列出的章节…"))->trigger();
    return OpenDialog<ChapterListDlg>(window);
  }

  // Presses 下载 in `chooser` and returns the outcome box's text.
  static QString Download(QPushButton* button) {
    button->click();
    QString said;
    return AnswerMessageBox([&](QMessageBox* box) { said = box->text(); }) ? said : QString();
  }

  // Clicks `button`, which queues chapters, and waits for the queue to run
  // them all: the states of its rows, or nothing when it did not end.
  static QStringList Queued(CDownloaderDlg& window, QPushButton* button) {
    button->click();
    const QueueController& queue = window.Queue();
    QElapsedTimer timer;
    timer.start();
    while ((queue.Queue().Unfinished() > 0 || queue.WorkerRunning()) &&
           timer.elapsed() < kJobTimeoutMs) {
      QTest::qWait(10);
    }
    return queue.Queue().Unfinished() == 0 ? QueueStates(window) : QStringList();
  }

  // A folder for this test's library file, and the comic as it starts.
  bool Fresh() {
    library_dir_ = std::make_unique<QTemporaryDir>();
    site_->SetComicChapters(3);
    return library_dir_->isValid();
  }

  std::unique_ptr<QTemporaryDir> library_dir_;

 private slots:
  // 加入书架, in both menus, follows the page's comic; a chapter downloaded
  // from the dialog is shown 已下载 and unchecked next time, 只选未下载的
  // checks the others, and a queue of all three skips it.
  void followAndTheChapterDialog() {
    QVERIFY(Fresh());
    auto window = WindowOnTheComic(LibraryFile());
    QVERIFY(window != nullptr);
    QVERIFY(MenuItem(window->SystemMenu(), QStringLiteral("加入书架"))->isEnabled());
    QVERIFY(Follow(*window, QStringLiteral("已加入书架：comic（3话）")));
    {
      const auto library = OpenLibrary();
      QVERIFY(library != nullptr);
      const library::ComicList list = library->Comics();
      QCOMPARE(list.comics.size(), std::size_t{1});
      QCOMPARE(QString::fromStdString(list.comics[0].address), Url("comic/"));
      QCOMPARE(QString::fromStdString(list.comics[0].title), QStringLiteral("comic"));
      QCOMPARE(QString::fromStdString(list.comics[0].folder), out_->path());
      QCOMPARE(list.comics[0].total, std::size_t{3});
      QCOMPARE(list.comics[0].pending, std::size_t{3});
    }

    ChapterListDlg* chooser = ListChapters(*window);
    QVERIFY(chooser != nullptr);
    QCOMPARE(CheckStates(*chooser), (QList<bool>{true, true, true}));
    DialogButton(*chooser, QStringLiteral("全不选"))->click();
    chooser->ToggleRow(1, false);
    QCOMPARE(Queued(*window, DialogButton(*chooser, QStringLiteral("下载"))),
             QStringList{QStringLiteral("完成")});

    chooser = ListChapters(*window);
    QVERIFY(chooser != nullptr);
    QCOMPARE(Column(Rows(*chooser, kChapterListName), kChapterMarkColumn),
             (QStringList{QString(), QStringLiteral("已下载"), QString()}));
    QCOMPARE(CheckStates(*chooser), (QList<bool>{true, false, true}));
    Shoot(chooser, QStringLiteral("chapter_dialog_downloaded"));
    DialogButton(*chooser, QStringLiteral("全选"))->click();
    DialogButton(*chooser, QStringLiteral("只选未下载的"))->click();
    QCOMPARE(CheckStates(*chooser), (QList<bool>{true, false, true}));
    DialogButton(*chooser, QStringLiteral("全选"))->click();
    site_->ClearImageRequests();
    QCOMPARE(Queued(*window, DialogButton(*chooser, QStringLiteral("下载"))),
             QStringList(3, QStringLiteral("完成")));
    QCOMPARE(QueueChapters(*window), (QStringList{QStringLiteral("第2话"), QStringLiteral("第1话"),
                                                  QStringLiteral("第3话")}));
    QCOMPARE(window->Queue().LogOf(window->Queue().Queue().Items()[0].id),
             QStringLiteral("已下载，跳过\r\n"));
    // Chapters 1 and 3 only: 2 and 4 pages.
    QCOMPARE(site_->ImageRequests().size(), std::size_t{6});

    // 下载 on the open chapter loads it all the same.
    AddressBox(*window)->setText(Url("comic/2.html"));
    window->OnOpen();
    QVERIFY(WaitForPage(window->BrowserView(), Url("comic/2.html")));
    site_->ClearImageRequests();
    QCOMPARE(Download(Button(*window, kDownloadButtonId)), QStringLiteral("下载完成"));
    QCOMPARE(site_->ImageRequests().size(), std::size_t{3});
    QTRY_VERIFY(!window->WorkerRunning());
  }

  // 书架: 检查更新 finds the chapter the comic listed since, shows the count
  // and the check, and an error for a comic whose page lists nothing;
  // 下载待下载的章节 downloads the selected comic's pending chapters.
  void bookshelfChecksAndDownloadsPending() {
    QVERIFY(Fresh());
    site_->SetComicChapters(2);
    auto window = WindowOnTheComic(LibraryFile());
    QVERIFY(window != nullptr);
    QVERIFY(Follow(*window, QStringLiteral("已加入书架：comic（2话）")));
    {
      // A second comic, whose page has gone since it was followed.
      const auto library = OpenLibrary();
      library::FollowRequest gone;
      gone.address = site_->Url("home/next.html");
      gone.title = "已下架的漫画";
      gone.folder = out_->path().toStdString();
      gone.chapters = {{site_->Url("gone/1.html"), "第1话"}, {site_->Url("gone/2.html"), "第2话"}};
      QVERIFY(library->Follow(gone));
      // A third, another page of the same chapters.
      library::FollowRequest again = gone;
      again.address = site_->Url("comic/?all");
      again.title = "测试漫画（合集）";
      again.chapters = {{site_->Url("comic/1.html"), "第1话"},
                        {site_->Url("comic/2.html"), "第2话"}};
      QVERIFY(library->Follow(again));
    }
    site_->SetComicChapters(3);
    AddressBox(*window)->setText(Url("home/"));
    window->OnOpen();
    QVERIFY(WaitForPage(window->BrowserView(), Url("home/")));
    MenuItem(window->SystemMenu(), QStringLiteral("书架…"))->trigger();
    auto* shelf = OpenDialog<BookshelfDlg>(*window);
    QVERIFY(shelf != nullptr);
    QTreeWidget* rows = Rows(*shelf, kShelfListName);
    QCOMPARE(Column(rows, kShelfTitle), (QStringList{"comic", QStringLiteral("已下架的漫画"),
                                                     QStringLiteral("测试漫画（合集）")}));
    QCOMPARE(Column(rows, kShelfDownloaded), (QStringList{"0/2", "0/2", "0/2"}));

    QSignalSpy checked(&window->Shelf(), &Bookshelf::CheckFinished);
    DialogButton(*shelf, QStringLiteral("检查更新"))->click();
    QVERIFY(window->Shelf().Checking());
    QVERIFY(checked.wait(kJobTimeoutMs));
    QCOMPARE(Column(rows, kShelfDownloaded), (QStringList{"0/3", "0/2", "0/3"}));
    QCOMPARE(Column(rows, kShelfPending), (QStringList{"3", "2", "3"}));
    QVERIFY(rows->topLevelItem(0)->text(kShelfLastCheck) != QStringLiteral("未检查"));
    QCOMPARE(Column(rows, kShelfError),
             (QStringList{QString(), QStringLiteral("本页没有找到章节列表"), QString()}));
    QCOMPARE(shelf->findChild<QLabel*>(QString::fromLatin1(kShelfProgressName))->text(),
             QStringLiteral("检查完成，待下载8话"));
    {
      const auto library = OpenLibrary();
      const std::vector<library::ComicChapter> listed = library->Chapters(site_->Url("comic/"));
      QCOMPARE(listed.size(), std::size_t{3});
      QVERIFY(!listed[0].new_at_last_check && listed[2].new_at_last_check);
    }
    Shoot(shelf, QStringLiteral("bookshelf"));
    // 打开 shows the comic, whose dialog marks the chapter new at the check.
    rows->topLevelItem(0)->setSelected(true);
    DialogButton(*shelf, QStringLiteral("打开"))->click();
    QVERIFY(WaitForPage(window->BrowserView(), Url("comic/")));
    ChapterListDlg* chooser = ListChapters(*window);
    QVERIFY(chooser != nullptr);
    QCOMPARE(Column(Rows(*chooser, kChapterListName), kChapterMarkColumn),
             (QStringList{QString(), QString(), QStringLiteral("新")}));
    Shoot(chooser, QStringLiteral("chapter_dialog_new"));
    chooser->reject();

    QCOMPARE(Queued(*window, DialogButton(*shelf, QStringLiteral("下载待下载的章节"))),
             QStringList(3, QStringLiteral("完成")));
    QCOMPARE(QueueChapters(*window), (QStringList{QStringLiteral("第1话"), QStringLiteral("第2话"),
                                                  QStringLiteral("第3话")}));
    QCOMPARE(QDir(out_->path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 3);
    QCOMPARE(Column(rows, kShelfDownloaded), (QStringList{"3/3", "0/2", "3/3"}));
    QCOMPARE(Column(rows, kShelfPending), (QStringList{"0", "2", "0"}));
    QVERIFY(shelf->findChild<QLabel*>(QString::fromLatin1(kShelfProgressName))->text().isEmpty());
    Shoot(shelf, QStringLiteral("bookshelf_downloaded"));

    // 启动时检查更新: the next window checks as it starts.
    Settings settings = Settings::Load();
    settings.check_at_start = true;
    QVERIFY(settings.Save());
    window.reset();
    auto next = WindowOnTheComic(LibraryFile());
    QVERIFY(next != nullptr);
    QSignalSpy next_checked(&next->Shelf(), &Bookshelf::CheckFinished);
    QVERIFY(next->Shelf().Checking() || next_checked.count() == 1);
    QVERIFY(next_checked.count() == 1 || next_checked.wait(kJobTimeoutMs));
  }

  // A file that is no library is said once, and the window goes on without
  // one: nothing skipped or recorded, the file byte for byte as it was.
  void brokenLibraryIsSaidOnceAndLeftAlone() {
    QVERIFY(Fresh());
    const QByteArray garbage("this is not a database\n\x01\x02", 25);
    QFile file(QString::fromStdString(LibraryFile()));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(garbage) == garbage.size());
    file.close();
    auto window = WindowOnTheComic(LibraryFile());
    QVERIFY(window != nullptr);
    QString said;
    QVERIFY(AnswerMessageBox([&](QMessageBox* box) { said = box->text(); }));
    QVERIFY2(said.startsWith(QStringLiteral("书库文件无法使用")) &&
                 said.contains(QString::fromStdString(LibraryFile())),
             qPrintable(said));
    QVERIFY(!MenuItem(window->SystemMenu(), QStringLiteral("书架…"))->isEnabled());

    // The queue lasts this run only.
    ChapterListDlg* chooser = ListChapters(*window);
    QVERIFY(chooser != nullptr);
    QCOMPARE(CheckStates(*chooser), (QList<bool>{true, true, true}));
    QCOMPARE(Queued(*window, DialogButton(*chooser, QStringLiteral("下载"))),
             QStringList(3, QStringLiteral("完成")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), garbage);
  }
};

int RunShelfTests(int argc, char** argv) {
  ShelfTest test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace vexel::app::testing

#include "shelf_test.moc"
