// Shared pieces of the window tests: the process set-up (offscreen, no
// sandbox, a private home), the one browser profile of the run, and helpers to
// make a window and wait for what it does.
#pragma once

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QList>
#include <QMenu>
#include <QMessageBox>
#include <QObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <string>

#include "app/browser_profile.h"
#include "app/downloader_dlg.h"
#include "app/explorer.h"
#include "tests/app/test_site.h"

namespace vexel::app::testing {

// Generous waits: the browser engine starts slowly on a loaded machine.
inline constexpr int kLoadTimeoutMs = 30000;
inline constexpr int kJobTimeoutMs = 30000;

// The profile every window of the run shares (made by the test's main).
BrowserProfile& SharedProfile();
// The private home folder of the run.
const std::string& TestHome();

// A window on `site_home` that stores chapters under `output_directory`
// (ending in "/"). `make_fetcher` empty: the program's own fetcher.
std::unique_ptr<CDownloaderDlg> MakeWindow(
    const std::string& site_home, const std::string& output_directory,
    FetcherFactory make_fetcher = {},
    std::size_t max_page_elements = LivePageDocument::kMaxElements);

// Waits until the view shows `address` (exactly, as QUrl::toString gives it)
// and has finished loading.
bool WaitForPage(CExplorer* view, const QString& address, int timeout_ms = kLoadTimeoutMs);

// The visible message box, if any.
QMessageBox* FindMessageBox();

// The outcome box runs its own event loop inside the one the test waits in, so
// the test cannot look at it after waiting: this waits for it, calls
// `inspect` while it is shown, then presses its OK button. False when no box
// came within `timeout_ms`.
bool AnswerMessageBox(const std::function<void(QMessageBox*)>& inspect,
                      int timeout_ms = kJobTimeoutMs);

// The window's question on ending during a download, if it is shown with its
// two buttons: presses `button` (退出 or 继续下载) and returns true.
bool AnswerCloseQuestion(const QString& button);

// With VEXEL_SHOTS set to a folder, `widget` as it is drawn goes there as
// `name`.png, for a person to look at; nothing otherwise.
void Shoot(QWidget* widget, const QString& name);

// Typed access to the six controls.
QLineEdit* AddressBox(const CDownloaderDlg& dialog);
QPushButton* Button(const CDownloaderDlg& dialog, int id);
QPlainTextEdit* LogView(const CDownloaderDlg& dialog);

// The log's lines (without their line breaks).
QStringList LogLines(const CDownloaderDlg& dialog);

// Runs `script` in the view's page and waits for its value (UI thread).
QVariant RunScript(CExplorer* view, const QString& script);

// The item of `menu` captioned `text`, or null.
QAction* MenuItem(const QMenu* menu, const QString& text);
// The window's "跳过已下载的图片" item, and its "同时下载" choice `jobs`.
QAction* SkipExistingItem(const CDownloaderDlg& dialog);
QAction* JobsItem(const CDownloaderDlg& dialog, int jobs);

// The settings a window's menu shows: whether pages already there are
// skipped, and the checked "同时下载" choices (exactly one when all is well).
struct MenuSettings {
  bool skip_existing = false;
  QList<int> jobs;
  bool operator==(const MenuSettings&) const = default;
};
MenuSettings ShownSettings(const CDownloaderDlg& dialog);
char* toString(const MenuSettings& shown);

// The set-up of the test classes that run jobs: one test site for the whole
// class and, for each test, a fresh output folder and no image requests yet;
// after each, the site lets go of what it held and the settings file goes,
// so that no test's choices reach the next one.
class SiteJobTest : public QObject {
  Q_OBJECT

 protected:
  // The test's output folder, ending in "/".
  std::string OutDir() const { return out_->path().toStdString() + "/"; }

  std::unique_ptr<TestSite> site_;
  std::unique_ptr<QTemporaryDir> out_;

  static void RemoveDefaultLibrary();

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void init();
  void cleanup();
};

}  // namespace vexel::app::testing
