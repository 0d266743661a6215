// CDownloaderDlg: the program's one window.
//
// Six controls, each known by its number, which is also its objectName
// ("1000" ... "1005"), so anything that needs a control (tests, the about
// item) finds it with findChild<QWidget*>("1003"):
//   1000 AddressBox  the address the Open button goes to
//   1001 Open        "打开"
//   1002 BrowserView the browser view (CExplorer)
//   1003 Download    "下载"; "停止" while a job runs
//   1004 LogView     the job's log, in the browser view's place during a job
//                    (and after it, on 显示上次日志, until the next navigation)
//   1005 Back        "后退"
// The controls are placed by LayoutControls in pixels, not by a Qt layout, so
// the window looks the same whatever its fonts.
//
// Besides the chapter the view shows, the window downloads chapters the view
// only links to: the one a link points to (the view's context menu), those
// the page lists (the window's menu and ChapterListDlg) and those 书架 finds
// new. They go to the background queue (QueueController, shown by QueueDlg):
// each is loaded into a hidden page of the same browser profile, one after
// another, while the view stays free for browsing. The view's own job is run
// by the window's JobController; the log it writes is a LogPane.
#pragma once

#include <QDesktopServices>
#include <QDialog>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/bookshelf.h"
#include "app/job_controller.h"
#include "app/job_services.h"
#include "app/live_page_document.h"
#include "app/queue_controller.h"
#include "app/queue_dlg.h"
#include "app/settings.h"
#include "download/chapter_list.h"
#include "files/program_output_directory.h"

class QAction;
class QActionGroup;
class QLineEdit;
class QMenu;
class QMessageBox;
class QPushButton;

namespace vexel::app {

class BookshelfDlg;
class BrowserProfile;
class QueueTray;
class CExplorer;
class LogPane;

inline constexpr int kAddressBoxId = 1000;
inline constexpr int kOpenButtonId = 1001;
inline constexpr int kBrowserViewId = 1002;
inline constexpr int kDownloadButtonId = 1003;
inline constexpr int kLogViewId = 1004;
inline constexpr int kBackButtonId = 1005;

// The command of the about item, as the window's menu reports it.
inline constexpr unsigned kAboutCommand = 0x0010;

// The window's title while no job runs; a job adds its progress to it.
inline constexpr char16_t kWindowTitle[] = u"Vexel漫画下载器";

struct DialogOptions {
  // The site's home page: shown and opened at start-up, and the prefix that
  // decides whether a new-window request goes to the address box. Empty: the
  // home page of the settings (主页), else the built-in one.
  std::string site_home_url;
  // Where chapter folders go. Empty: the settings' folder (下载到) when one
  // is set, else beside the program, or the user's download folder where the
  // program's directory cannot be written.
  OutputDirectoryRule choose_output_directory;
  // Shows a folder in the desktop's file manager (打开文件夹).
  std::function<bool(const QUrl&)> open_url = QDesktopServices::openUrl;
  FetcherFactory make_fetcher = runtime::MakeCurlFetcher;
  // Pages with more elements than this are refused as too complex.
  std::size_t max_page_elements = LivePageDocument::kMaxElements;
  // The library file every job records into: nothing for the one vexel-dl
  // uses too (library::DefaultLibraryPath), empty for none.
  std::optional<std::string> library_file;
};

class CDownloaderDlg : public QDialog {
  Q_OBJECT

 public:
  // The window is initialised at once: the address box shows the home page
  // and the view starts loading it. `profile` must outlive the window.
  // Normally it only goes once its worker has finished; its job controller,
  // which goes first, joins one that still runs.
  CDownloaderDlg(BrowserProfile& profile, DialogOptions options, QWidget* parent = nullptr);
  // The queue's window goes before the queue it shows.
  ~CDownloaderDlg() override;
  CDownloaderDlg(const CDownloaderDlg&) = delete;
  CDownloaderDlg& operator=(const CDownloaderDlg&) = delete;
  CDownloaderDlg(CDownloaderDlg&&) = delete;
  CDownloaderDlg& operator=(CDownloaderDlg&&) = delete;

  // Runs the window as the program's modal dialog until it is closed and,
  // when that happened during a job, until the job has finished too. The
  // user-interface thread keeps serving events all the while. SIGTERM
  // closes the window meanwhile as the close box does, without asking.
  int RunModal();

  // The control with number `id` (1000 to 1005), or null.
  QWidget* Control(int id) const;
  CExplorer* BrowserView() const { return browser_view_; }
  LogPane* Log() const { return log_view_; }
  BrowserProfile& Profile() const { return profile_; }
  const DialogOptions& Options() const { return options_; }
  // The window's library (its file may be unusable or none).
  Bookshelf& Shelf() const { return *bookshelf_; }
  // The background queue, and its window once it has been opened (or null).
  QueueController& Queue() const { return *queue_; }
  QueueDlg* QueueWindow() const { return queue_dialog_; }
  QueueTray* Tray() const { return tray_; }
  // The settings as the window holds them now.
  const Settings& CurrentSettings() const { return settings_; }
  // The window's menu: "下载本页列出的章节…", "加入书架", "书架…", "下载队列",
  // "显示上次日志" and "打开文件夹",
  // a separator, the job's settings (the checkable "跳过已下载的图片" and the
  // submenu "同时下载" with the choices "1" to "8") and "设置…", another
  // separator, then the about item.
  QMenu* SystemMenu() const { return system_menu_; }

  // True from the press of 下载 until the job has ended (the outcome box has
  // been dismissed).
  bool Downloading() const { return jobs_.Downloading(); }
  bool StopRequested() const { return jobs_.StopRequested(); }
  // True while a worker thread exists, including its last steps after
  // Downloading has turned false.
  bool WorkerRunning() const { return jobs_.WorkerRunning(); }
  // True while the last job's log stands in the view's place (显示上次日志).
  bool ShowingLastLog() const { return showing_last_log_; }

  // Places the six controls for the current client size and state.
  void LayoutControls();

  // Handlers, public so that they can be driven like the buttons.
  void OnOpen();
  void OnBack();
  void OnDownload();
  void OnSysCommand(unsigned command);
  void OnNewWindow(const QUrl& address);
  void OnBackStateChange(bool enable);
  // 下载链接指向的章节: the chapter at `address` joins the queue.
  void OnDownloadLink(const QUrl& address);
  // 下载本页列出的章节…: reads the view's page on a worker, then offers the
  // chapters it lists in a ChapterListDlg (or says that it lists none); the
  // chosen ones join the queue.
  void OnListChapters();
  // `chapters` join the background queue, and its window shows them.
  void EnqueueChapters(const std::vector<download::ChapterLink>& chapters,
                       const std::string& comic_title);
  // 下载队列: the queue's window, made once and raised.
  void OnQueueWindow();
  // 加入书架: reads the view's page on a worker, then follows the comic it
  // is (its address, its title, the download folder, the chapters it
  // lists), or says that it lists none.
  void OnFollow();
  // 书架…: the followed comics (BookshelfDlg), one dialog at a time.
  void OnBookshelf();
  // 显示上次日志: the last job's log in the view's place until 打开, 后退 or
  // the view's next navigation. 后退 then only takes the log away. With a
  // chapter selected in the queue's window, that chapter's log instead.
  void OnShowLastLog();
  // 设置…: the settings dialog, window-modal; 确定 saves the settings and the
  // menu shows them.
  void OnSettings();
  // 打开文件夹: the folder of the last chapter a job made, or the folder that
  // holds its archive once it was packed; before any job, the folder chapters
  // go to. When nothing can open a folder, a box names it.
  void OnOpenFolder();

 signals:
  // The worker of a job has ended and been joined (user-interface thread).
  void WorkerFinished();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 public:
  // Escape, the close box and any other end of the dialog come here. During
  // a download the window asks first ("正在下载，确定要退出吗？": 退出 or
  // 继续下载); to quit, it only asks the job to end and closes after it.
  void done(int result) override;

 private:
  friend class JobController;

  void CreateControls();
  void InitDialog();

  void CreateSettingsItems();
  // The menu's setting items as settings_ holds them.
  void ShowSettingsInMenu();
  void ShowChapterList(std::vector<download::ChapterLink> chapters, const std::string& title);
  // The window's part of the library: its menu items, the start-up check,
  // and a file that cannot be used said once.
  void InitShelf();
  void FollowComic(const std::vector<download::ChapterLink>& chapters, const std::string& title);
  void HideLastLog();
  void UpdateMenuItems();
  // What 打开文件夹 opens from now on.
  void RememberFolder(const QString& folder);
  // `saved_at`: the box's second line, where the chapter went, or empty.
  void ShowOutcome(const QString& text, const QString& saved_at);
  // The window's part of the queue: its menu item, its store, the tray.
  void InitQueue();
  // The log pane shows chapter `id` of the queue (0: the view's last job).
  void ShowLogOf(std::int64_t id);
  // The window's end without a question: at once with no worker, else once
  // the job has stopped.
  void CloseNow(int result);
  void AskBeforeClosing(int result);
  void EndDialog(int result) { QDialog::done(result); }

  BrowserProfile& profile_;
  DialogOptions options_;
  QString site_home_url_;
  // The same as the engine spells addresses, for the new-window prefix test.
  QString site_home_encoded_;

  QLineEdit* address_box_ = nullptr;
  QPushButton* open_button_ = nullptr;
  CExplorer* browser_view_ = nullptr;
  QPushButton* download_button_ = nullptr;
  LogPane* log_view_ = nullptr;
  QPushButton* back_button_ = nullptr;
  QMenu* system_menu_ = nullptr;
  QAction* list_chapters_item_ = nullptr;
  QAction* follow_item_ = nullptr;
  QAction* shelf_item_ = nullptr;
  QAction* queue_item_ = nullptr;
  QAction* show_log_item_ = nullptr;
  QAction* open_folder_item_ = nullptr;
  QAction* skip_existing_item_ = nullptr;
  QActionGroup* jobs_items_ = nullptr;
  QPointer<QMessageBox> outcome_box_;
  QPointer<QMessageBox> close_question_;
  QPointer<BookshelfDlg> shelf_dialog_;
  QPointer<QueueDlg> queue_dialog_;
  QueueTray* tray_ = nullptr;  // owned by the window

  // The first size notification of the window's life arrives before the
  // window is initialised and is skipped; the window lays itself out then.
  int size_notifications_to_skip_ = 1;

  // User-interface thread only; each job gets a copy when it starts.
  Settings settings_;
  // User-interface thread only: what 打开文件夹 opens; empty until a job has
  // made a chapter folder, and the download folder is opened instead.
  QString folder_to_open_;
  // User-interface thread only.
  bool showing_last_log_ = false;
  // The queue chapter whose log the pane holds (0: the view's last job's),
  // and that job's log, kept meanwhile.
  std::int64_t log_item_ = 0;
  QString job_log_;

  // Before the jobs: it outlives their worker, which records into it.
  std::unique_ptr<Bookshelf> bookshelf_;
  // Between the two: its chapters record into the library, and its worker
  // is joined after the view's job has gone.
  std::unique_ptr<QueueController> queue_;

  // Last, so that it goes first: its worker is joined while every control
  // it may touch still exists.
  JobController jobs_{*this};
};

}  // namespace vexel::app
