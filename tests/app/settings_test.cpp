// The window's settings: what lasts from one window to the next (its size
// and place too), an unreadable settings file, the settings dialog (设置…),
// the home page at start-up, chapters packed into the settings' folder,
// 打开文件夹, and Qt's own texts in Chinese.
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>

#include <memory>
#include <string>

#include "app/app_options.h"
#include "app/downloader_app.h"
#include "app/explorer.h"
#include "app/settings.h"
#include "app/settings_dlg.h"
#include "tests/app/test_site.h"
#include "tests/app/window_fixture.h"
#include "tests/app/window_tests.h"

namespace vexel::app {

char* toString(const Settings& settings) {
  return QTest::toString(QStringLiteral("skip %1, jobs %2, cbz %3, folder \"%4\", home \"%5\"")
                             .arg(settings.skip_existing ? u"on" : u"off")
                             .arg(settings.jobs)
                             .arg(settings.pack_cbz ? u"on" : u"off")
                             .arg(settings.download_folder, settings.home_page));
}

namespace testing {
namespace {

// The chapter of the test site the jobs here download, and the name its
// folder or archive gets.
constexpr char kChapter[] = "chapter/2.html";
const QString kChapterName = QStringLiteral("测试章节");

// What the window's menu shows when it shows `settings`' page settings.
MenuSettings InMenu(const Settings& settings) { return {settings.skip_existing, {settings.jobs}}; }

// Opens the settings dialog through the window's menu.
SettingsDlg* OpenSettings(CDownloaderDlg& window) {
  QAction* item = MenuItem(window.SystemMenu(), QStringLiteral("设置…"));
  if (item == nullptr) {
    return nullptr;
  }
  item->trigger();
  auto* dialog = window.findChild<SettingsDlg*>();
  return dialog != nullptr && dialog->isVisible() ? dialog : nullptr;
}

QPushButton* DialogButton(const SettingsDlg& dialog, QDialogButtonBox::StandardButton which) {
  return dialog.Buttons()->button(which);
}

}  // namespace

class SettingsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TestSite> site_;
  std::unique_ptr<QTemporaryDir> out_;
  QList<QUrl> opened_;  // what 打开文件夹 asked the desktop to show

  QString Out(const QString& name = {}) const { return out_->path() + u'/' + name; }

  // A window on `site_home` (empty: the settings' home page) whose folder
  // openings are recorded. `output_directory` empty: the window's own rule.
  std::unique_ptr<CDownloaderDlg> Window(const std::string& site_home,
                                         const std::string& output_directory = {}) {
    DialogOptions options;
    options.site_home_url = site_home;
    if (!output_directory.empty()) {
      options.choose_output_directory = [output_directory] {
        return download::OutputDirectory{output_directory, false};
      };
    }
    options.open_url = [this](const QUrl& url) {
      opened_ << url;
      return true;
    };
    return std::make_unique<CDownloaderDlg>(SharedProfile(), std::move(options));
  }

  // Presses 下载 on a window showing the test chapter and waits for the job
  // to end; the outcome box's text and its second line, or empty when no box
  // came.
  QString RunJob(CDownloaderDlg& window) {
    window.show();
    if (!WaitForPage(window.BrowserView(), QString::fromStdString(site_->Url(kChapter)))) {
      return {};
    }
    QTest::mouseClick(Button(window, kDownloadButtonId), Qt::LeftButton);
    QString outcome;
    AnswerMessageBox(
        [&](QMessageBox* box) { outcome = box->text() + u'\n' + box->informativeText(); });
    if (!QTest::qWaitFor([&] { return !window.WorkerRunning(); }, kJobTimeoutMs)) {
      return {};
    }
    return outcome;
  }

 private slots:
  void initTestCase() {
    site_ = std::make_unique<TestSite>();
    QVERIFY(!site_->Base().empty());
    QVERIFY(Settings::FilePath().startsWith(QString::fromStdString(TestHome()) + u'/'));
  }
  void cleanupTestCase() { site_.reset(); }
  void init() {
    QFile::remove(Settings::FilePath());
    out_ = std::make_unique<QTemporaryDir>();
    QVERIFY(out_->isValid());
    opened_.clear();
  }
  void cleanup() {
    out_.reset();
    QFile::remove(Settings::FilePath());
  }

  // Every setting comes back as saved, however awkward: a folder with a
  // comma (a list separator in the file's syntax) and letters beyond ASCII,
  // a home page with a query. A new window shows them in its menu and in
  // its dialog; 取消 keeps them, 确定 saves what the dialog shows.
  void settingsLastAndTheDialogEditsThem() {
    Settings saved;
    saved.skip_existing = true;
    saved.jobs = 5;
    saved.pack_cbz = true;
    saved.download_folder = Out(QStringLiteral("漫画, 新"));
    saved.home_page = QString::fromStdString(site_->Url("home/next.html?第=1,2"));
    QVERIFY(saved.Save());
    QCOMPARE(Settings::Load(), saved);
    const download::JobOptions options = saved.ApplyTo({});
    QVERIFY(options.skip_existing && options.pack_cbz);
    QCOMPARE(options.jobs, 5);

    auto window = Window(site_->Url("home/"));
    QCOMPARE(ShownSettings(*window), InMenu(saved));
    SettingsDlg* dialog = OpenSettings(*window);
    QVERIFY(dialog != nullptr);
    QVERIFY(dialog->isModal());
    QCOMPARE(dialog->FolderBox()->text(), saved.download_folder);
    QCOMPARE(dialog->HomePageBox()->text(), saved.home_page);
    QVERIFY(dialog->SkipExistingBox()->isChecked());
    QCOMPARE(dialog->JobsBox()->value(), 5);
    QCOMPARE(dialog->JobsBox()->minimum(), 1);
    QCOMPARE(dialog->JobsBox()->maximum(), 8);
    QVERIFY(dialog->PackCbzBox()->isChecked());
    QCOMPARE(dialog->BrowseButton()->text(), QStringLiteral("浏览…"));
    QCOMPARE(dialog->DefaultFolderButton()->text(), QStringLiteral("恢复默认"));
    QCOMPARE(DialogButton(*dialog, QDialogButtonBox::Ok)->text(), QStringLiteral("确定"));
    QCOMPARE(DialogButton(*dialog, QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
    // The page count keeps its own width, not the dialog's.
    QCOMPARE(dialog->JobsBox()->width(), dialog->JobsBox()->sizeHint().width());

    // 取消 changes nothing, on disk or in the menu.
    dialog->SkipExistingBox()->setChecked(false);
    dialog->JobsBox()->setValue(2);
    dialog->FolderBox()->setText(Out(QStringLiteral("other")));
    DialogButton(*dialog, QDialogButtonBox::Cancel)->click();
    QTRY_VERIFY(window->findChild<SettingsDlg*>() == nullptr);
    QCOMPARE(Settings::Load(), saved);
    QCOMPARE(ShownSettings(*window), InMenu(saved));

    // 恢复默认 empties the folder. What cannot be used cannot be saved.
    dialog = OpenSettings(*window);
    QVERIFY(dialog != nullptr);
    QPushButton* ok = DialogButton(*dialog, QDialogButtonBox::Ok);
    dialog->DefaultFolderButton()->click();
    QCOMPARE(dialog->FolderBox()->text(), QString());
    QVERIFY(ok->isEnabled());
    dialog->FolderBox()->setText(QStringLiteral("relative/folder"));
    QVERIFY(!ok->isEnabled());
    dialog->FolderBox()->clear();
    dialog->HomePageBox()->setText(QStringLiteral("not an address"));
    QVERIFY(!ok->isEnabled());
    dialog->HomePageBox()->clear();
    QVERIFY(ok->isEnabled());
    dialog->SkipExistingBox()->setChecked(false);
    dialog->JobsBox()->setValue(2);
    dialog->PackCbzBox()->setChecked(false);
    ok->click();
    QTRY_VERIFY(window->findChild<SettingsDlg*>() == nullptr);

    Settings expected;
    expected.jobs = 2;
    QCOMPARE(Settings::Load(), expected);
    QCOMPARE(ShownSettings(*window), InMenu(expected));
    window.reset();
    window = Window(site_->Url("home/"));
    QCOMPARE(ShownSettings(*window), InMenu(expected));
  }

  // The window opens where it was closed, at the size it had; saving the
  // other settings leaves that alone. Nothing saved: the window's own size.
  void windowSizeAndPlaceLast() {
    auto window = Window(site_->Url("home/"));
    const QSize own_size = window->size();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QRect closed_at(40, 50, 700, 520);
    QVERIFY(closed_at.size() != own_size);
    window->setGeometry(closed_at);
    QTRY_COMPARE(window->geometry(), closed_at);
    window->reject();
    QTRY_VERIFY(!window->isVisible());
    window.reset();
    QVERIFY(Settings{}.Save());

    window = Window(site_->Url("home/"));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(window->geometry(), closed_at);
    window.reset();

    QFile::remove(Settings::FilePath());
    QCOMPARE(Window(site_->Url("home/"))->size(), own_size);
  }

  // Qt's standard buttons, its file dialog and the page's context menu read
  // in Chinese whatever LANG says (the tests run under LANG=C), and so does
  // the engine's own language, which pages see.
  void qtTextsAreChinese() {
    {
      const ChineseQtTexts texts;
      QVERIFY(texts.Loaded());
      QMessageBox box(QMessageBox::Information, QStringLiteral("标题"), QStringLiteral("正文"),
                      QMessageBox::Ok);
      QCOMPARE(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
      QFileDialog files;
      files.setOption(QFileDialog::DontUseNativeDialog);
      QCOMPARE(files.labelText(QFileDialog::Reject), QStringLiteral("取消"));
      QWebEnginePage page(SharedProfile().Profile());
      QCOMPARE(page.action(QWebEnginePage::Back)->text(), QStringLiteral("后退"));
      QCOMPARE(page.action(QWebEnginePage::CopyLinkToClipboard)->text(),
               QStringLiteral("复制链接地址"));
    }
    QCOMPARE(QMessageBox(QMessageBox::Information, {}, {}, QMessageBox::Ok)
                 .button(QMessageBox::Ok)
                 ->text(),
             QStringLiteral("OK"));

    auto window = Window(site_->Url("home/"));
    window->show();
    QVERIFY(WaitForPage(window->BrowserView(), QString::fromStdString(site_->Url("home/"))));
    QCOMPARE(RunScript(window->BrowserView(), QStringLiteral("navigator.language")).toString(),
             QStringLiteral("zh-CN"));

    // A language the user chose for the engine stays.
    QCOMPARE(WithChineseEngineLanguage(""), QByteArray("--lang=zh-CN"));
    QCOMPARE(WithChineseEngineLanguage("--disable-gpu "), QByteArray("--disable-gpu --lang=zh-CN"));
    QCOMPARE(WithChineseEngineLanguage("--lang=fr --disable-gpu"),
             QByteArray("--lang=fr --disable-gpu"));
  }

  // A file that cannot be parsed: the defaults and one warning. Values that
  // cannot be used: their defaults, quietly. Values typed by hand are read
  // as meant.
  void settingsFileAsFound_data() {
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("warns");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("home_page");
    QTest::addColumn<bool>("skip_existing");
    QTest::addColumn<int>("jobs");
    QTest::newRow("unparsable") << QByteArray(
                                       "[download\npackCbz=true\nfolder=/srv/comics\n"
                                       "skipExisting=true\njobs=5\n"
                                       "[window]\nhomePage=http://127.0.0.1:1/\n")
                                << true << QString() << QString() << false << 1;
    QTest::newRow("unusable values")
        << QByteArray(
               "[download]\npackCbz=sometimes\nfolder=relative/comics\n"
               "skipExisting=yes please\njobs=five\n"
               "[window]\nhomePage=ftp://127.0.0.1/\n")
        << false << QString() << QString() << false << 1;
    QTest::newRow("typed by hand")
        << QByteArray(
               "[download]\nfolder=~/漫画, 新/\nskipExisting=true\njobs=12\n"
               "[window]\nhomePage= http://127.0.0.1:1/ \n")
        << false << QDir::homePath() + QStringLiteral("/漫画, 新")
        << QStringLiteral("http://127.0.0.1:1/") << true << 8;
  }
  void settingsFileAsFound() {
    QFETCH(QByteArray, contents);
    QFETCH(bool, warns);
    QFETCH(QString, folder);
    QFETCH(QString, home_page);
    QFETCH(bool, skip_existing);
    QFETCH(int, jobs);
    QVERIFY(QDir().mkpath(QFileInfo(Settings::FilePath()).path()));
    QFile file(Settings::FilePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(contents), contents.size());
    file.close();

    const QRegularExpression warning(QStringLiteral("settings file"));
    if (warns) {
      QTest::ignoreMessage(QtWarningMsg, warning);
    }
    QTest::failOnWarning(warning);
    Settings expected;
    expected.download_folder = folder;
    expected.home_page = home_page;
    expected.skip_existing = skip_existing;
    expected.jobs = jobs;  // past 8 taken as 8
    QCOMPARE(Settings::Load(), expected);
  }

  // Without --site the window starts on the home page of the settings; with
  // it, on the one given. Neither set: the built-in one.
  void homePageOfTheSettingsIsTheStartPage() {
    Settings settings;
    settings.home_page = QString::fromStdString(site_->Url("home/next.html"));
    QVERIFY(settings.Save());
    auto window = Window("");
    window->show();
    QCOMPARE(AddressBox(*window)->text(), settings.home_page);
    QVERIFY(WaitForPage(window->BrowserView(), settings.home_page));
    window.reset();

    const std::string given = site_->Url("home/");
    window = Window(given);
    QCOMPARE(AddressBox(*window)->text(), QString::fromStdString(given));
    window.reset();

    QCOMPARE(Settings{}.StartPage(""), QString::fromUtf8(BuiltInSiteHomeUrl()));
  }

  // With 打包为CBZ the chapter becomes "<title>.cbz" in the settings'
  // folder, made when missing; 打开文件夹 shows that folder from the start,
  // and the folder that holds the archive after the job.
  void packedChapterGoesIntoTheSettingsFolder() {
    Settings settings;
    settings.pack_cbz = true;
    settings.download_folder = Out(QStringLiteral("漫画/新"));
    QVERIFY(settings.Save());
    auto window = Window(site_->Url(kChapter));
    QAction* open_folder = MenuItem(window->SystemMenu(), QStringLiteral("打开文件夹"));
    QVERIFY(open_folder != nullptr && open_folder->isEnabled());
    open_folder->trigger();
    QCOMPARE(opened_, QList<QUrl>{QUrl::fromLocalFile(settings.download_folder)});
    opened_.clear();

    QCOMPARE(RunJob(*window), QStringLiteral("下载完成\n保存在：") + settings.download_folder +
                                  u'/' + kChapterName + QStringLiteral(".cbz"));
    const QDir folder(settings.download_folder);
    QCOMPARE(folder.entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{kChapterName + QStringLiteral(".cbz")});
    QFile archive(folder.filePath(kChapterName + QStringLiteral(".cbz")));
    QVERIFY(archive.open(QIODevice::ReadOnly));
    QCOMPARE(archive.read(4), QByteArray("PK\x03\x04"));

    QVERIFY(open_folder->isEnabled());
    open_folder->trigger();
    QCOMPARE(opened_, QList<QUrl>{QUrl::fromLocalFile(settings.download_folder)});
  }

  // A rule of the window's own (as the tests and the benchmark give) comes
  // before the settings' folder; 打开文件夹 shows the chapter folder.
  void openFolderShowsTheChapterFolder() {
    Settings settings;
    settings.download_folder = Out(QStringLiteral("unused"));
    QVERIFY(settings.Save());
    auto window = Window(site_->Url(kChapter), Out().toStdString());
    QCOMPARE(RunJob(*window), QStringLiteral("下载完成\n保存在：") + Out(kChapterName));
    QVERIFY(QFileInfo(Out(kChapterName)).isDir());
    QVERIFY(!QFileInfo::exists(settings.download_folder));

    QAction* open_folder = MenuItem(window->SystemMenu(), QStringLiteral("打开文件夹"));
    QVERIFY(open_folder->isEnabled());
    open_folder->trigger();
    QCOMPARE(opened_, QList<QUrl>{QUrl::fromLocalFile(Out(kChapterName))});
  }
};

int RunSettingsTests(int argc, char** argv) {
  SettingsTest test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace testing
}  // namespace vexel::app

#include "settings_test.moc"
