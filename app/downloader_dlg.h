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
//   1005 Back        "后退"
// The controls are placed by LayoutControls in pixels, not by a Qt layout, so
// the window looks the same whatever its fonts.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

#include <atomic>
#include <string>
#include <string_view>
#include <thread>

#include "app/job_services.h"
#include "app/live_page_document.h"
#include "app/settings.h"
#include "app/ui_call_gate.h"
#include "files/program_output_directory.h"

class QLineEdit;
class QMenu;
class QMessageBox;
class QPlainTextEdit;
class QPushButton;

namespace vexel::app {

class BrowserProfile;
class CExplorer;

inline constexpr int kAddressBoxId = 1000;
inline constexpr int kOpenButtonId = 1001;
inline constexpr int kBrowserViewId = 1002;
inline constexpr int kDownloadButtonId = 1003;
inline constexpr int kLogViewId = 1004;
inline constexpr int kBackButtonId = 1005;

// The command of the about item, as the window's menu reports it.
inline constexpr unsigned kAboutCommand = 0x0010;

struct DialogOptions {
  // The site's home page: shown and opened at start-up, and the prefix that
  // decides whether a new-window request goes to the address box.
  std::string site_home_url;
  // Beside the program, or the user's download folder where the program's
  // directory cannot be written.
  OutputDirectoryRule choose_output_directory = files::ChooseProgramOutputDirectory;
  FetcherFactory make_fetcher = MakeCurlImageFetcher;
  // Pages with more elements than this are refused as too complex.
  std::size_t max_page_elements = LivePageDocument::kMaxElements;
};

class CDownloaderDlg : public QDialog {
  Q_OBJECT

 public:
  // The window is initialised at once: the address box shows the home page
  // and the view starts loading it. `profile` must outlive the window.
  CDownloaderDlg(BrowserProfile& profile, DialogOptions options, QWidget* parent = nullptr);
  ~CDownloaderDlg() override;

  // Runs the window as the program's modal dialog until it is closed and,
  // when that happened during a job, until the job has finished too. The
  // user-interface thread keeps serving events all the while.
  int RunModal();

  // The control with number `id` (1000 to 1005), or null.
  QWidget* Control(int id) const;
  CExplorer* BrowserView() const { return browser_view_; }
  // The window's menu: a separator, the job's settings (the checkable
  // "跳过已下载的图片" and the submenu "同时下载" with the choices "1" to "8"),
  // another separator, then the about item.
  QMenu* SystemMenu() const { return system_menu_; }

  // True from the press of 下载 until the job has ended (the outcome box has
  // been dismissed).
  bool Downloading() const { return downloading_.load(); }
  bool StopRequested() const { return stop_requested_.load(); }
  // True while a worker thread exists, including its last steps after
  // Downloading has turned false.
  bool WorkerRunning() const { return worker_running_; }

  // Places the six controls for the current client size and state.
  void LayoutControls();

  // Handlers, public so that they can be driven like the buttons.
  void OnOpen();
  void OnBack();
  void OnDownload();
  void OnSysCommand(unsigned command);
  void OnNewWindow(const QUrl& address);
  void OnBackStateChange(bool enable);

 signals:
  // The worker of a job has ended and been joined (user-interface thread).
  void WorkerFinished();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 public:
  // Escape, the close box and any other end of the dialog come here: during a
  // job the window only asks the job to end and closes after it.
  void done(int result) override;

 private:
  class JobHost;
  friend class JobHost;

  void CreateControls();
  void InitDialog();

  void CreateSettingsItems();

  // The worker thread's whole run, with the options read when 下载 was
  // pressed.
  void DownloadWorker(const download::JobOptions& job_options);
  // Worker side: a window change, run on the user-interface thread before the
  // worker goes on. Skipped once the window is closing.
  bool OnUi(std::function<void()> change);
  void ShowOutcome(const QString& text);
  void AppendLogText(std::string_view text);
  void OnWorkerDone();
  void RequestCloseDuringJob();

  BrowserProfile& profile_;
  DialogOptions options_;
  QString site_home_url_;
  // The same as the engine spells addresses, for the new-window prefix test.
  QString site_home_encoded_;

  QLineEdit* address_box_ = nullptr;
  QPushButton* open_button_ = nullptr;
  CExplorer* browser_view_ = nullptr;
  QPushButton* download_button_ = nullptr;
  QPlainTextEdit* log_view_ = nullptr;
  QPushButton* back_button_ = nullptr;
  QMenu* system_menu_ = nullptr;
  QPointer<QMessageBox> outcome_box_;

  // The first size notification of the window's life arrives before the
  // window is initialised and is skipped; the window lays itself out then.
  int size_notifications_to_skip_ = 1;

  // Written by the user-interface thread before a job starts and by the worker
  // while it runs; read by either.
  std::atomic<bool> downloading_{false};
  // Written by the user-interface thread only; the job polls it.
  std::atomic<bool> stop_requested_{false};
  // Set when the window closes during a job: the fetch under way gives up.
  std::atomic<bool> abandon_{false};
  // User-interface thread only; each job gets a copy when it starts.
  Settings settings_;
  // User-interface thread only.
  bool worker_running_ = false;
  bool close_pending_ = false;
  int close_result_ = 0;
  // Worker thread only.
  std::string result_text_;

  UiCallGate gate_;
  std::thread worker_;
};

}  // namespace vexel::app
