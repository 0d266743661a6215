#include "app/downloader_dlg.h"

#include <QAction>
#include <QActionGroup>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTextCursor>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <system_error>

#include "app/about_dlg.h"
#include "app/app_icon.h"
#include "app/browser_profile.h"
#include "app/explorer.h"
#include "app/live_page_document.h"
#include "download/download_job.h"
#include "files/real_file_system.h"
#include "net/resolve_address.h"

namespace vexel::app {
namespace {

// The window's first size in pixels.
constexpr int kInitialWidth = 786;
constexpr int kInitialHeight = 527;

// The strip at the top: the address box, then three 64-pixel buttons with
// 1-pixel gaps, the last ending at the right edge; the lower pane starts two
// pixels below the strip.
constexpr int kStripHeight = 24;
constexpr int kButtonWidth = 64;
constexpr int kOpenFromRight = 194;
constexpr int kBackFromRight = 129;
constexpr int kDownloadFromRight = 64;
constexpr int kAddressBoxShorterBy = 195;
constexpr int kPaneTop = 26;

// The program's title: its file's name without directory and extension.
QString ProgramTitle() {
  return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

// Widths and heights below zero are taken as zero, as the window system does.
void Place(QWidget* widget, int x, int y, int width, int height) {
  widget->setGeometry(x, y, std::max(width, 0), std::max(height, 0));
}

// Makes the real fetcher when the first image is asked for.
class DeferredFetcher final : public download::ImageFetcher {
 public:
  using Factory = std::function<std::unique_ptr<download::ImageFetcher>()>;
  explicit DeferredFetcher(Factory make) : make_(std::move(make)) {}

  download::FetchResult FetchImage(const std::string& address, const std::string& target) override {
    if (Inner() == nullptr) {
      return download::FetchResult::Failed(download::FetchFailure::Network, "no fetcher");
    }
    return fetcher_->FetchImage(address, target);
  }

  // Several pages at once reach the real fetcher; without one the job goes
  // back to FetchImage, which reports why.
  bool StartFetch(std::uint64_t tag, const std::string& address,
                  const std::string& target) override {
    return Inner() != nullptr && fetcher_->StartFetch(tag, address, target);
  }

  std::optional<download::FinishedFetch> NextFinished(std::chrono::milliseconds timeout) override {
    // Nothing was started while there is no fetcher yet.
    if (fetcher_ == nullptr) {
      return std::nullopt;
    }
    return fetcher_->NextFinished(timeout);
  }

 private:
  download::ImageFetcher* Inner() {
    if (fetcher_ == nullptr && make_) {
      fetcher_ = make_();
      make_ = nullptr;
    }
    return fetcher_.get();
  }

  Factory make_;
  std::unique_ptr<download::ImageFetcher> fetcher_;
};

}  // namespace

// The job's view of the window. Every call comes from the worker thread; the
// window changes go through the gate in the order the job makes them.
class CDownloaderDlg::JobHost : public download::DownloadHost {
 public:
  explicit JobHost(CDownloaderDlg& dialog)
      : dialog_(dialog),
        document_(*dialog.browser_view_, dialog.gate_, &dialog.stop_requested_,
                  dialog.options_.max_page_elements) {}

  void ClearLog() override {
    dialog_.OnUi([this] { dialog_.log_view_->clear(); });
  }
  void AppendLog(std::string_view text) override {
    dialog_.OnUi([this, line = std::string(text)] { dialog_.AppendLogText(line); });
  }
  bool StopRequested() override { return dialog_.stop_requested_.load(); }
  void SetResultText(std::string_view text) override { dialog_.result_text_ = text; }
  PageDocument* Document() override { return &document_; }
  bool DocumentTooComplex() override { return document_.TooComplex(); }
  // The page the job's queries read, so that its image addresses resolve
  // against it even when the view has gone on to another page since (Back
  // stays usable during a job, and a page may redirect itself).
  std::string PageAddress() override {
    if (!document_.SnapshotAddress().empty()) {
      return document_.SnapshotAddress();
    }
    std::string address;
    dialog_.OnUi([this, &address] {
      address = dialog_.browser_view_->url().toString(QUrl::FullyEncoded).toStdString();
    });
    return address;
  }
  download::OutputDirectory ChooseOutputDirectory() override {
    return dialog_.options_.choose_output_directory();
  }

 private:
  CDownloaderDlg& dialog_;
  LivePageDocument document_;
};

CDownloaderDlg::CDownloaderDlg(BrowserProfile& profile, DialogOptions options, QWidget* parent)
    : QDialog(parent),
      profile_(profile),
      options_(std::move(options)),
      site_home_url_(QString::fromStdString(options_.site_home_url)),
      site_home_encoded_(QUrl(site_home_url_).toString(QUrl::FullyEncoded)),
      gate_(this) {
  setWindowTitle(QStringLiteral("Vexel漫画下载器"));
  // A resizable main window with minimize and maximize boxes, in the task bar.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setSizeGripEnabled(false);
  resize(kInitialWidth, kInitialHeight);
  CreateControls();
  InitDialog();
}

CDownloaderDlg::~CDownloaderDlg() {
  // Normally the window only goes once its worker has finished. If it is
  // destroyed during a job all the same, the job is told to end, every wait of
  // the worker is released, and the thread is joined before anything it uses
  // goes away.
  if (worker_.joinable()) {
    stop_requested_ = true;
    abandon_ = true;
    gate_.Close();
    worker_.join();
  }
}

void CDownloaderDlg::CreateControls() {
  // Created in tab order.
  address_box_ = new QLineEdit(this);
  address_box_->setObjectName(QString::number(kAddressBoxId));

  open_button_ = new QPushButton(QStringLiteral("打开"), this);
  open_button_->setObjectName(QString::number(kOpenButtonId));

  browser_view_ = new CExplorer(profile_.Profile(), this);
  browser_view_->setObjectName(QString::number(kBrowserViewId));

  download_button_ = new QPushButton(QStringLiteral("下载"), this);
  download_button_->setObjectName(QString::number(kDownloadButtonId));

  log_view_ = new QPlainTextEdit(this);
  log_view_->setObjectName(QString::number(kLogViewId));
  log_view_->setReadOnly(true);
  log_view_->setEnabled(false);  // for its whole life: only the job writes it
  log_view_->setLineWrapMode(QPlainTextEdit::NoWrap);
  log_view_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  log_view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  log_view_->setUndoRedoEnabled(false);
  log_view_->hide();

  back_button_ = new QPushButton(QStringLiteral("后退"), this);
  back_button_->setObjectName(QString::number(kBackButtonId));

  // No button is the dialog's default: Enter in the address box opens the
  // address instead of pressing a button or ending the program.
  for (QPushButton* button : {open_button_, download_button_, back_button_}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }

  connect(open_button_, &QPushButton::clicked, this, [this] { OnOpen(); });
  connect(download_button_, &QPushButton::clicked, this, [this] { OnDownload(); });
  connect(back_button_, &QPushButton::clicked, this, [this] { OnBack(); });
  connect(address_box_, &QLineEdit::returnPressed, this, [this] { OnOpen(); });
  connect(browser_view_, &CExplorer::NewWindowRequested, this,
          [this](const QUrl& address) { OnNewWindow(address); });
  connect(browser_view_, &CExplorer::BackStateChanged, this,
          [this](bool enable) { OnBackStateChange(enable); });
}

void CDownloaderDlg::InitDialog() {
  // The window's menu (its context menu here): a separator, the job's
  // settings, another separator, then the about item, also on F1.
  system_menu_ = new QMenu(this);
  system_menu_->addSeparator();
  CreateSettingsItems();
  system_menu_->addSeparator();
  auto* about = new QAction(QStringLiteral("关于Vexel漫画下载器(&A)..."), this);
  about->setShortcut(QKeySequence(Qt::Key_F1));
  about->setShortcutContext(Qt::WindowShortcut);
  connect(about, &QAction::triggered, this, [this] { OnSysCommand(kAboutCommand); });
  system_menu_->addAction(about);
  addAction(about);  // so F1 works without opening the menu

  setWindowIcon(ProgramIcon());

  address_box_->setText(site_home_url_);
  downloading_ = false;
  LayoutControls();
  OnOpen();
}

// Every change is saved at once. A file that cannot be written has been
// warned about by then; the choice still holds for this run.
void CDownloaderDlg::CreateSettingsItems() {
  settings_ = Settings::Load();

  auto* skip_existing = new QAction(QStringLiteral("跳过已下载的图片"), this);
  skip_existing->setCheckable(true);
  skip_existing->setChecked(settings_.skip_existing);
  connect(skip_existing, &QAction::toggled, this, [this](bool checked) {
    settings_.skip_existing = checked;
    settings_.Save();
  });
  system_menu_->addAction(skip_existing);

  // Left enabled during a job: a job reads them only when it starts.
  QMenu* jobs_menu = system_menu_->addMenu(QStringLiteral("同时下载"));
  auto* jobs_items = new QActionGroup(this);
  jobs_items->setExclusive(true);
  for (int jobs = Settings::kMinJobs; jobs <= Settings::kMaxJobs; ++jobs) {
    QAction* item = jobs_menu->addAction(QString::number(jobs));
    item->setCheckable(true);
    item->setChecked(jobs == settings_.jobs);
    item->setData(jobs);
    jobs_items->addAction(item);
  }
  connect(jobs_items, &QActionGroup::triggered, this, [this](QAction* item) {
    settings_.jobs = item->data().toInt();
    settings_.Save();
  });
}

int CDownloaderDlg::RunModal() {
  const int result = exec();
  // Closed during a job: the window hid at once, which ends exec(), but the
  // job still has to notice the stop and let go of the page. Wait for it in
  // an event loop, never by blocking this thread on the worker.
  if (worker_running_) {
    QEventLoop wait;
    connect(this, &CDownloaderDlg::WorkerFinished, &wait, &QEventLoop::quit);
    wait.exec();
  }
  return result;
}

QWidget* CDownloaderDlg::Control(int id) const {
  return findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

void CDownloaderDlg::LayoutControls() {
  const QRect client = rect();
  const int left = client.left();
  const int top = client.top();
  const int right = client.left() + client.width();
  const int bottom = client.top() + client.height();
  const bool downloading = downloading_.load();  // read once: one arrangement

  Place(open_button_, right - kOpenFromRight, top, kButtonWidth, kStripHeight);
  Place(back_button_, right - kBackFromRight, top, kButtonWidth, kStripHeight);
  Place(download_button_, right - kDownloadFromRight, top, kButtonWidth, kStripHeight);
  Place(address_box_, left, top, (right - left) - kAddressBoxShorterBy, kStripHeight);
  if (!downloading) {
    Place(browser_view_, left, kPaneTop, right - left, (bottom - top) - kPaneTop);
    log_view_->hide();
    address_box_->setEnabled(true);
  } else {
    Place(log_view_, left, kPaneTop, right - left, (bottom - top) - kPaneTop);
    // Parked outside the client area rather than hidden, so that the page
    // stays loaded and laid out for the job.
    Place(browser_view_, -100, -100, 10, 10);
    log_view_->show();
    address_box_->setEnabled(false);
  }
}

void CDownloaderDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (size_notifications_to_skip_ > 0) {
    --size_notifications_to_skip_;
    return;
  }
  LayoutControls();
}

void CDownloaderDlg::OnOpen() { browser_view_->Navigate(address_box_->text()); }

void CDownloaderDlg::OnBack() { browser_view_->GoBack(); }

void CDownloaderDlg::OnBackStateChange(bool enable) { back_button_->setEnabled(enable); }

void CDownloaderDlg::OnNewWindow(const QUrl& address) {
  const QString text = address.toString(QUrl::FullyEncoded);
  if (text.isEmpty()) {
    return;
  }
  // The page opens inside the view, never in a window of its own. An address
  // of the site also goes to the address box: the first bytes, as many as the
  // home page's address has, must equal it exactly. Both are compared in the
  // engine's fully encoded form, so that a home address with escapes or
  // non-ASCII letters in it still matches its own pages.
  if (text.startsWith(site_home_encoded_)) {
    address_box_->setText(text);
  }
  browser_view_->Navigate(text);
}

void CDownloaderDlg::OnDownload() {
  if (downloading_) {
    stop_requested_ = true;
    download_button_->setEnabled(false);
    gate_.WakeWaiters();  // a read stuck on the page gives up now
    return;
  }
  // A worker that has finished its job but not yet its last window changes
  // still owns the thread; the press that caught it there has nothing to do.
  if (worker_running_) {
    return;
  }
  stop_requested_ = false;
  // Read here, once: the worker never looks at the menu or the settings, so
  // changing them during a job touches only the next one. Retries keep the
  // job's own default.
  const download::JobOptions job_options = settings_.ApplyTo(download::JobOptions{});
  // The window counts as downloading before the thread exists, so a second
  // press can only ever ask for a stop.
  downloading_ = true;
  worker_running_ = true;
  try {
    worker_ = std::thread([this, job_options] { DownloadWorker(job_options); });
  } catch (const std::system_error&) {
    // No thread, no job: the window simply stays idle.
    downloading_ = false;
    worker_running_ = false;
  }
}

bool CDownloaderDlg::OnUi(std::function<void()> change) { return gate_.Run(std::move(change)); }

void CDownloaderDlg::DownloadWorker(const download::JobOptions& job_options) {
  downloading_ = true;
  OnUi([this] { download_button_->setText(QStringLiteral("停止")); });
  OnUi([this] { open_button_->setEnabled(false); });
  OnUi([this] { address_box_->setEnabled(false); });
  OnUi([this] { LayoutControls(); });

  {
    JobHost host(*this);
    const CookieJar& cookies = profile_.Cookies();
    // Made at the first image, once the queries have read the page: its
    // Referer is then the address of the page they read, and its cookies are
    // the ones the view holds by then; the job's later pages share them.
    DeferredFetcher fetcher([&] {
      FetcherSetup setup;
      setup.user_agent = profile_.UserAgent();
      setup.referer = host.PageAddress();
      setup.cookie_lines = cookies.CurlCookieLines();
      setup.abandon = &abandon_;
      return options_.make_fetcher(setup);
    });
    download::DownloadJob(host, {fetcher, files::RealFileSystem(), net::CurlAddressResolver()},
                          job_options);
  }

  // Skipped, like every later change, once the window is closing.
  OnUi([this, text = QString::fromStdString(result_text_)] { ShowOutcome(text); });
  downloading_ = false;
  OnUi([this] { download_button_->setText(QStringLiteral("下载")); });
  OnUi([this] { download_button_->setEnabled(true); });
  OnUi([this] { open_button_->setEnabled(true); });
  OnUi([this] { address_box_->setEnabled(true); });
  OnUi([this] { LayoutControls(); });

  // Not through the gate: this one must arrive even when the window is
  // closing, since that is what finally lets it close.
  QMetaObject::invokeMethod(
      this, [this] { OnWorkerDone(); }, Qt::QueuedConnection);
}

void CDownloaderDlg::ShowOutcome(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, ProgramTitle(), text, QMessageBox::Ok, this);
  outcome_box_ = &box;
  box.exec();
  outcome_box_ = nullptr;
}

void CDownloaderDlg::AppendLogText(std::string_view text) {
  // The job ends its lines with "\r\n"; the pane keeps plain line breaks.
  QString piece = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  piece.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  // Always at the end, and the end in view: the pane shows the newest text.
  log_view_->moveCursor(QTextCursor::End);
  log_view_->insertPlainText(piece);
  log_view_->ensureCursorVisible();
}

void CDownloaderDlg::OnWorkerDone() {
  // The worker posts this as its very last act, so the join is immediate.
  if (worker_.joinable()) {
    worker_.join();
  }
  worker_running_ = false;
  emit WorkerFinished();
  if (close_pending_) {
    close_pending_ = false;
    QDialog::done(close_result_);
  }
}

void CDownloaderDlg::RequestCloseDuringJob() {
  close_pending_ = true;
  stop_requested_ = true;
  abandon_ = true;
  // Releases the worker from any wait on this thread; from now on it makes no
  // window change, shows no outcome box, and only reports that it is done.
  gate_.Close();
  if (outcome_box_ != nullptr) {
    outcome_box_->reject();
  }
  hide();
}

void CDownloaderDlg::done(int result) {
  if (worker_running_) {
    close_result_ = result;
    RequestCloseDuringJob();
    return;
  }
  QDialog::done(result);
}

void CDownloaderDlg::contextMenuEvent(QContextMenuEvent* event) {
  system_menu_->exec(event->globalPos());
}

void CDownloaderDlg::OnSysCommand(unsigned command) {
  if ((command & 0xFFF0u) == kAboutCommand) {
    CAboutDlg about(this);
    about.exec();
  }
}

}  // namespace vexel::app
