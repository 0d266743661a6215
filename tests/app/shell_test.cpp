// The window without a job: start-up, controls, layout, keys, the menu with
// its items, the job's settings and the about box, new-window requests and the Back
// button.
#include <QAction>
#include <QActionGroup>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <csignal>

#include "app/about_dlg.h"
#include "app/settings.h"
#include "tests/app/test_site.h"
#include "tests/app/window_fixture.h"
#include "tests/app/window_tests.h"

namespace vexel::app::testing {
namespace {

struct Geometry {
  QRect address, open, back, download, pane;
};

// Where every control belongs for a client area of `size`.
Geometry Expected(QSize size) {
  const int right = size.width();
  const int bottom = size.height();
  return {QRect(0, 0, std::max(right - 195, 0), 24), QRect(right - 194, 0, 64, 24),
          QRect(right - 129, 0, 64, 24), QRect(right - 64, 0, 64, 24),
          QRect(0, 26, right, std::max(bottom - 26, 0))};
}

}  // namespace

class ShellTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TestSite> site_;
  QString home_;

  std::unique_ptr<CDownloaderDlg> OpenWindow() {
    auto window = MakeWindow(home_.toStdString(), TestHome() + "/out/");
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window.get())) {
      qWarning("window not active");
    }
    return window;
  }

 private slots:
  void initTestCase() {
    site_ = std::make_unique<TestSite>();
    QVERIFY(!site_->Base().empty());
    home_ = QString::fromStdString(site_->Url("home/"));
    // The run's private config folder, never the user's own.
    QVERIFY(Settings::FilePath().startsWith(QString::fromStdString(TestHome()) + u'/'));
  }
  void cleanupTestCase() { site_.reset(); }
  void init() { QFile::remove(Settings::FilePath()); }
  void cleanup() { QFile::remove(Settings::FilePath()); }

  void startsOnTheHomePageWithItsControls() {
    auto window = OpenWindow();
    QCOMPARE(window->windowTitle(), QStringLiteral("Vexel漫画下载器"));
    QVERIFY(!window->windowIcon().isNull());
    // The address box shows the home page and the view loads it at once.
    QCOMPARE(AddressBox(*window)->text(), home_);
    QVERIFY(WaitForPage(window->BrowserView(), home_));
    QCOMPARE(AddressBox(*window)->text(), home_);

    QCOMPARE(Button(*window, kOpenButtonId)->text(), QStringLiteral("打开"));
    QCOMPARE(Button(*window, kDownloadButtonId)->text(), QStringLiteral("下载"));
    QCOMPARE(Button(*window, kBackButtonId)->text(), QStringLiteral("后退"));
    QCOMPARE(window->Control(kBrowserViewId), window->BrowserView());
    for (int id : {kOpenButtonId, kDownloadButtonId, kBackButtonId}) {
      QVERIFY(!Button(*window, id)->autoDefault());
      QVERIFY(!Button(*window, id)->isDefault());
    }

    QPlainTextEdit* log = LogView(*window);
    QVERIFY(log->isReadOnly());
    QVERIFY(!log->isEnabled());
    // Disabled, yet drawn in the ordinary text colour.
    QCOMPARE(log->palette().color(QPalette::Disabled, QPalette::Text),
             log->palette().color(QPalette::Active, QPalette::Text));
    QVERIFY(log->isHidden());
    QCOMPARE(log->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(log->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

    // Tab order: 1000 to 1005, the order the window made them in.
    QList<int> order;
    for (QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      bool numbered = false;
      const int id = child->objectName().toInt(&numbered);
      if (numbered) {
        order << id;
      }
    }
    QCOMPARE(order, (QList<int>{1000, 1001, 1002, 1003, 1004, 1005}));
  }

  void firstSizeNotificationIsSkipped() {
    auto window = MakeWindow(home_.toStdString(), TestHome() + "/out/");
    QWidget* open = window->Control(kOpenButtonId);
    const QRect laid_out = open->geometry();
    QCOMPARE(laid_out, Expected(window->size()).open);  // initialisation laid it out
    open->setGeometry(5, 5, 10, 10);
    window->show();  // the pending first size notification arrives now
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(open->geometry(), QRect(5, 5, 10, 10));
    window->resize(600, 400);
    QTRY_COMPARE(open->geometry(), Expected(QSize(600, 400)).open);
  }

  void layoutFollowsEverySize_data() {
    QTest::addColumn<QSize>("size");
    QTest::newRow("start") << QSize(786, 527);
    QTest::newRow("wide") << QSize(1200, 800);
    QTest::newRow("narrow") << QSize(300, 200);
    QTest::newRow("196") << QSize(196, 120);
    QTest::newRow("195") << QSize(195, 120);
    QTest::newRow("tiny") << QSize(90, 20);
  }
  void layoutFollowsEverySize() {
    QFETCH(QSize, size);
    auto window = OpenWindow();
    window->resize(size);
    QTRY_COMPARE(window->size(), size);
    const Geometry expected = Expected(size);
    QTRY_COMPARE(window->Control(kOpenButtonId)->geometry(), expected.open);
    QCOMPARE(window->Control(kBackButtonId)->geometry(), expected.back);
    QCOMPARE(window->Control(kDownloadButtonId)->geometry(), expected.download);
    QCOMPARE(window->Control(kAddressBoxId)->geometry(), expected.address);
    QCOMPARE(window->Control(kBrowserViewId)->geometry(), expected.pane);
    QVERIFY(window->Control(kLogViewId)->isHidden());
    QVERIFY(window->Control(kAddressBoxId)->isEnabled());
  }

  void enterInTheAddressBoxOpensTheAddress() {
    auto window = OpenWindow();
    QVERIFY(WaitForPage(window->BrowserView(), home_));
    QSignalSpy finished(window.get(), &QDialog::finished);
    const QString next = QString::fromStdString(site_->Url("home/next.html"));
    QLineEdit* box = AddressBox(*window);
    box->setFocus();
    box->setText(next);
    QTest::keyClick(box, Qt::Key_Return);
    QVERIFY(WaitForPage(window->BrowserView(), next));
    QVERIFY(window->isVisible());
    QCOMPARE(finished.count(), 0);
  }

  void openGoesToTheTextAsTyped() {
    auto window = OpenWindow();
    QVERIFY(WaitForPage(window->BrowserView(), home_));
    const QString next = QString::fromStdString(site_->Url("home/next.html"));
    AddressBox(*window)->setText(next);
    QTest::mouseClick(Button(*window, kOpenButtonId), Qt::LeftButton);
    QVERIFY(WaitForPage(window->BrowserView(), next));
    QCOMPARE(AddressBox(*window)->text(), next);
  }

  void escapeAndTheCloseBoxEndTheWindow() {
    for (bool escape : {true, false}) {
      auto window = OpenWindow();
      QSignalSpy finished(window.get(), &QDialog::finished);
      if (escape) {
        QTest::keyClick(window.get(), Qt::Key_Escape);
      } else {
        window->close();
      }
      QCOMPARE(finished.count(), 1);
      QVERIFY(!window->isVisible());
    }
  }

  // SIGTERM with no job ends the window as the close box does, and the
  // program then ends normally instead of being killed.
  void terminationSignalEndsAnIdleWindow() {
    auto window = OpenWindow();
    QSignalSpy finished(window.get(), &QDialog::finished);
    bool timed_out = false;
    QTimer::singleShot(0, window.get(), [] { raise(SIGTERM); });
    QTimer::singleShot(kLoadTimeoutMs, window.get(), [&] {
      timed_out = true;
      window->reject();
    });
    window->RunModal();
    QVERIFY(!timed_out);
    QCOMPARE(finished.count(), 1);
    QVERIFY(!window->isVisible());
  }

  void aboutBoxFromTheMenuAndF1() {
    auto window = OpenWindow();
    const QList<QAction*> items = window->SystemMenu()->actions();
    QCOMPARE(items.size(), 12);
    QCOMPARE(items[0]->text(), QStringLiteral("下载本页列出的章节…"));
    QCOMPARE(items[1]->text(), QStringLiteral("加入书架"));
    QCOMPARE(items[2]->text(), QStringLiteral("书架…"));
    QCOMPARE(items[3]->text(), QStringLiteral("下载队列"));
    QCOMPARE(items[4]->text(), QStringLiteral("显示上次日志"));
    QCOMPARE(items[5]->text(), QStringLiteral("打开文件夹"));
    QVERIFY(items[6]->isSeparator());
    QCOMPARE(items[7], SkipExistingItem(*window));
    QCOMPARE(items[8]->text(), QStringLiteral("同时下载"));
    QCOMPARE(items[9]->text(), QStringLiteral("设置…"));
    QVERIFY(items[10]->isSeparator());
    QCOMPARE(items[11]->text(), QStringLiteral("关于Vexel漫画下载器(&A)..."));

    // Each way in must open the box; the check runs inside its modal loop.
    const std::vector<std::function<void()>> ways = {
        [&] { items[11]->trigger(); },
        [&] { QTest::keyClick(window.get(), Qt::Key_F1); },
        [&] { window->OnSysCommand(kAboutCommand | 0x3); },
    };
    for (const auto& open : ways) {
      // The box took the activation last time; F1 goes to the active window.
      window->activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(window.get()));
      bool seen = false;
      QTimer::singleShot(0, [&] {
        QTRY_VERIFY(qobject_cast<CAboutDlg*>(QApplication::activeModalWidget()) != nullptr);
        auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        QCOMPARE(about->windowTitle(), QStringLiteral("关于Vexel漫画下载器"));
        QStringList texts;
        for (QLabel* label : about->findChildren<QLabel*>()) {
          texts << label->text();
        }
        QVERIFY(texts.contains(QStringLiteral("Vexel漫画下载器 0.01")));
        QVERIFY(std::any_of(texts.begin(), texts.end(),
                            [](const QString& t) { return t.contains(u"Copyright"); }));
        const auto buttons = about->findChildren<QPushButton*>();
        QCOMPARE(buttons.size(), 1);
        QCOMPARE(buttons[0]->text(), QStringLiteral("确定"));
        seen = true;
        buttons[0]->click();
      });
      open();
      QTRY_VERIFY(seen);
      QVERIFY(QApplication::activeModalWidget() == nullptr);
    }
    // Other commands open nothing.
    window->OnSysCommand(0xF020);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
  }

  void jobSettingsInTheMenuOutliveTheWindow() {
    {
      auto window = MakeWindow(home_.toStdString(), TestHome() + "/out/");
      QAction* skip = SkipExistingItem(*window);
      QVERIFY(skip != nullptr);
      QVERIFY(skip->isCheckable());
      QMenu* jobs = MenuItem(window->SystemMenu(), QStringLiteral("同时下载"))->menu();
      QVERIFY(jobs != nullptr);
      QStringList captions;
      for (QAction* item : jobs->actions()) {
        QVERIFY(item->isCheckable());
        QVERIFY(item->actionGroup() != nullptr && item->actionGroup()->isExclusive());
        captions << item->text();
      }
      QCOMPARE(captions, QStringList({"1", "2", "3", "4", "5", "6", "7", "8"}));
      QCOMPARE(ShownSettings(*window), (MenuSettings{false, {1}}));

      skip->trigger();
      JobsItem(*window, 4)->trigger();
      QCOMPARE(ShownSettings(*window), (MenuSettings{true, {4}}));
    }
    {
      auto window = MakeWindow(home_.toStdString(), TestHome() + "/out/");
      QCOMPARE(ShownSettings(*window), (MenuSettings{true, {4}}));
      SkipExistingItem(*window)->trigger();
      JobsItem(*window, 8)->trigger();
    }
    auto window = MakeWindow(home_.toStdString(), TestHome() + "/out/");
    QCOMPARE(ShownSettings(*window), (MenuSettings{false, {8}}));
  }

  void newWindowInsideTheSiteGoesToTheAddressBox() {
    auto window = OpenWindow();
    QVERIFY(WaitForPage(window->BrowserView(), home_));
    const QString target = home_ + QStringLiteral("next.html");
    const QString popup = QString::fromStdString(site_->Url("popup.html?to=")) + target;
    window->BrowserView()->Navigate(popup);
    QVERIFY(WaitForPage(window->BrowserView(), popup));
    QCOMPARE(AddressBox(*window)->text(), home_);  // ordinary navigation leaves it
    RunScript(window->BrowserView(), QStringLiteral("document.getElementById('pop').click()"));
    QVERIFY(WaitForPage(window->BrowserView(), target));
    QCOMPARE(AddressBox(*window)->text(), target);
  }

  void newWindowOutsideTheSiteOpensInTheView() {
    auto window = OpenWindow();
    QVERIFY(WaitForPage(window->BrowserView(), home_));
    // The same host but another path, and the home path in capitals: neither
    // begins with the home page's address.
    for (const QString& target : {QString::fromStdString(site_->Url("chapter/2.html")),
                                  QString::fromStdString(site_->Url("HOME/next.html"))}) {
      const QString popup = QString::fromStdString(site_->Url("popup.html?to=")) + target;
      window->BrowserView()->Navigate(popup);
      QVERIFY(WaitForPage(window->BrowserView(), popup));
      RunScript(window->BrowserView(), QStringLiteral("document.getElementById('pop').click()"));
      QVERIFY(WaitForPage(window->BrowserView(), target));
      QCOMPARE(AddressBox(*window)->text(), home_);
    }
  }

  void newWindowPrefixIsComparedByteForByte() {
    auto window = OpenWindow();
    QVERIFY(WaitForPage(window->BrowserView(), home_));
    // Exactly the home page matches; a shorter address never does.
    AddressBox(*window)->setText(QStringLiteral("typed"));
    window->OnNewWindow(QUrl(home_));
    QCOMPARE(AddressBox(*window)->text(), home_);
    AddressBox(*window)->setText(QStringLiteral("typed"));
    window->OnNewWindow(QUrl(home_.left(home_.size() - 1)));
    QCOMPARE(AddressBox(*window)->text(), QStringLiteral("typed"));
    QVERIFY(WaitForPage(window->BrowserView(), home_.left(home_.size() - 1)));
  }

  void backButtonFollowsTheHistory() {
    auto window = OpenWindow();
    QVERIFY(WaitForPage(window->BrowserView(), home_));
    QPushButton* back = Button(*window, kBackButtonId);
    QTRY_VERIFY(!back->isEnabled());
    // Opened through the address box: a page that navigates by script without
    // the user's gesture would be skipped by the engine's Back.
    const QString next = home_ + QStringLiteral("next.html");
    AddressBox(*window)->setText(next);
    QTest::mouseClick(Button(*window, kOpenButtonId), Qt::LeftButton);
    QVERIFY(WaitForPage(window->BrowserView(), next));
    QTRY_VERIFY(back->isEnabled());
    QTest::mouseClick(back, Qt::LeftButton);
    QVERIFY(WaitForPage(window->BrowserView(), home_));
    QTRY_VERIFY(!back->isEnabled());
    QCOMPARE(AddressBox(*window)->text(), next);  // going back leaves it
  }
};

int RunShellTests(int argc, char** argv) {
  ShellTest test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace vexel::app::testing

#include "shell_test.moc"
