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
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSignalBlocker>
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
#include "app/chapter_list_dlg.h"
#include "app/explorer.h"
#include "app/hidden_page.h"
#include "app/live_page_document.h"
#include "app/settings_dlg.h"
#include "download/chapter_queue.h"
#include "download/download_job.h"
#include "download/outcome_texts.h"
#include "files/cbz_packer.h"
#include "files/program_output_directory.h"
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

// The longest a chapter page of a queue may take to load before the chapter
// counts as one with an error.
constexpr std::chrono::seconds kChapterLoadTimeout{60};

// The program's title: its file's name without directory and extension.
QString ProgramTitle() {
  return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

// The window's title while page `page` of `page_count` is fetched: with the
// chapter's place when a queue holds more than one.
QString ProgressTitle(std::size_t position, std::size_t count, std::int64_t page,
                      std::int32_t page_count) {
  QString title = QString::fromUtf16(kWindowTitle) + QStringLiteral(" - ");
  if (count > 1) {
    title += QStringLiteral("第%1/%2话 ").arg(position).arg(count);
  }
  return title + QStringLiteral("第%1/%2页").arg(page).arg(page_count);
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
  // A job on `page`: the view, or the hidden page of chapter `position` of a
  // queue of `count` (0 for the view's own job). A queue empties the log once
  // before its first chapter, so its jobs leave the log alone: every chapter's
  // lines stay under its header.
  JobHost(CDownloaderDlg& dialog, LivePage& page, std::size_t position = 0, std::size_t count = 0)
      : dialog_(dialog),
        page_(page),
        document_(page, dialog.gate_, &dialog.stop_requested_, dialog.options_.max_page_elements),
        position_(position),
        count_(count) {}

  void ClearLog() override {
    if (count_ == 0) {
      dialog_.OnUi([this] { dialog_.log_view_->clear(); });
    }
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
      address = page_.EnginePage()->url().toString(QUrl::FullyEncoded).toStdString();
    });
    return address;
  }
  download::OutputDirectory ChooseOutputDirectory() override {
    if (dialog_.options_.choose_output_directory) {
      return dialog_.options_.choose_output_directory();
    }
    return files::ChooseProgramOutputDirectory(dialog_.job_download_folder_);
  }
  void ChapterFolder(const std::string& folder) override { folder_ = folder; }
  // The chapter folder the job made, or empty.
  const std::string& Folder() const { return folder_; }
  void PageStarted(std::int64_t page, std::int32_t page_count) override {
    dialog_.OnUi([this, title = ProgressTitle(position_, count_, page, page_count)] {
      dialog_.setWindowTitle(title);
    });
  }

 private:
  CDownloaderDlg& dialog_;
  LivePage& page_;
  LivePageDocument document_;
  std::size_t position_;
  std::size_t count_;
  std::string folder_;
};

// The queue's view of the window: each chapter is loaded into a hidden page
// of its own, which goes once the chapter's job has ended. Worker thread.
class CDownloaderDlg::QueueRunner : public download::ChapterRunner {
 public:
  QueueRunner(CDownloaderDlg& dialog, const download::JobOptions& job_options)
      : dialog_(dialog), job_options_(job_options) {}

  void AppendLog(std::string_view text) override {
    dialog_.OnUi([this, line = std::string(text)] { dialog_.AppendLogText(line); });
  }
  bool StopRequested() override { return dialog_.stop_requested_.load(); }

  std::optional<download::JobOutcome> RunChapter(std::size_t position, std::size_t count,
                                                 const download::ChapterLink& chapter) override {
    // Made and, later, deleted on the user-interface thread. When the window
    // closes in between, the window deletes it with itself.
    HiddenPage* page = nullptr;
    if (!dialog_.OnUi([this, &page] {
          page = new HiddenPage(dialog_.profile_.Profile(), &dialog_);  // owned by the window
        }) ||
        page == nullptr) {
      return StoppedOrNothing();
    }
    const QUrl address = QUrl::fromEncoded(QByteArray::fromStdString(chapter.address));
    // A stop gives up the wait at once; the page is dropped all the same.
    const std::optional<bool> loaded = dialog_.gate_.Await<bool>(
        [page, address](const std::function<void(bool)>& done) { page->Load(address, done); },
        std::chrono::duration_cast<std::chrono::milliseconds>(kChapterLoadTimeout),
        &dialog_.stop_requested_);
    std::optional<download::JobOutcome> outcome;
    if (loaded.value_or(false)) {
      JobHost host(dialog_, *page, position, count);
      outcome = dialog_.RunJob(host, job_options_);
    } else {
      outcome = StoppedOrNothing();
      AppendLog(outcome ? download::kLogStopped : download::kLogError);
    }
    dialog_.OnUi([page] { delete page; });
    return outcome;
  }

 private:
  // A chapter that never reached its job: stopped when a stop (or the window
  // closing) cut it short, otherwise one whose page did not load.
  std::optional<download::JobOutcome> StoppedOrNothing() const {
    if (dialog_.stop_requested_.load()) {
      return download::JobOutcome{download::JobEnd::Stopped, 0, 0, {}};
    }
    return std::nullopt;
  }

  CDownloaderDlg& dialog_;
  download::JobOptions job_options_;
};

CDownloaderDlg::CDownloaderDlg(BrowserProfile& profile, DialogOptions options, QWidget* parent)
    : QDialog(parent), profile_(profile), options_(std::move(options)), gate_(this) {
  // Read once for the whole run: the start page comes from them too.
  settings_ = Settings::Load();
  site_home_url_ = settings_.StartPage(options_.site_home_url);
  site_home_encoded_ = QUrl(site_home_url_).toString(QUrl::FullyEncoded);
  setWindowTitle(QString::fromUtf16(kWindowTitle));
  // A resizable main window with minimize and maximize boxes, in the task bar.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setSizeGripEnabled(false);
  resize(kInitialWidth, kInitialHeight);
  Settings::RestoreWindow(*this);  // the size and place it had when last closed
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
  // Disabled, but in the ordinary text colour: the disabled grey on the
  // disabled background is hard to read.
  QPalette log_palette = log_view_->palette();
  log_palette.setColor(QPalette::Disabled, QPalette::Text,
                       log_palette.color(QPalette::Active, QPalette::Text));
  log_view_->setPalette(log_palette);
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
  connect(browser_view_, &CExplorer::DownloadLinkRequested, this,
          [this](const QUrl& address) { OnDownloadLink(address); });
  // Any navigation of the view brings it back in place of the last log.
  connect(browser_view_, &QWebEngineView::loadStarted, this, [this] { HideLastLog(); });
  connect(browser_view_, &QWebEngineView::urlChanged, this, [this] { HideLastLog(); });
}

void CDownloaderDlg::InitDialog() {
  // The window's menu (its context menu here): the chapter list, the last
  // log and the last chapter's folder, a separator, the job's settings and
  // the settings dialog, another separator, then the about item, also on F1.
  system_menu_ = new QMenu(this);
  list_chapters_item_ = system_menu_->addAction(QStringLiteral("下载本页列出的章节…"));
  connect(list_chapters_item_, &QAction::triggered, this, [this] { OnListChapters(); });
  show_log_item_ = system_menu_->addAction(QStringLiteral("显示上次日志"));
  connect(show_log_item_, &QAction::triggered, this, [this] { OnShowLastLog(); });
  open_folder_item_ = system_menu_->addAction(QStringLiteral("打开文件夹"));
  open_folder_item_->setEnabled(false);  // until a job has made a folder
  connect(open_folder_item_, &QAction::triggered, this, [this] { OnOpenFolder(); });
  connect(system_menu_, &QMenu::aboutToShow, this, [this] { UpdateMenuItems(); });
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
  skip_existing_item_ = system_menu_->addAction(QStringLiteral("跳过已下载的图片"));
  skip_existing_item_->setCheckable(true);
  skip_existing_item_->setChecked(settings_.skip_existing);
  connect(skip_existing_item_, &QAction::toggled, this, [this](bool checked) {
    settings_.skip_existing = checked;
    settings_.Save();
  });

  // Left enabled during a job: a job reads them only when it starts.
  QMenu* jobs_menu = system_menu_->addMenu(QStringLiteral("同时下载"));
  jobs_items_ = new QActionGroup(this);
  jobs_items_->setExclusive(true);
  for (int jobs = Settings::kMinJobs; jobs <= Settings::kMaxJobs; ++jobs) {
    QAction* item = jobs_menu->addAction(QString::number(jobs));
    item->setCheckable(true);
    item->setChecked(jobs == settings_.jobs);
    item->setData(jobs);
    jobs_items_->addAction(item);
  }
  connect(jobs_items_, &QActionGroup::triggered, this, [this](QAction* item) {
    settings_.jobs = item->data().toInt();
    settings_.Save();
  });

  QAction* settings_item = system_menu_->addAction(QStringLiteral("设置…"));
  connect(settings_item, &QAction::triggered, this, [this] { OnSettings(); });
}

void CDownloaderDlg::ShowSettingsInMenu() {
  // Shown, not changed: the items' own handlers would save again.
  const QSignalBlocker quiet(skip_existing_item_);
  skip_existing_item_->setChecked(settings_.skip_existing);
  for (QAction* item : jobs_items_->actions()) {
    item->setChecked(item->data().toInt() == settings_.jobs);
  }
}

void CDownloaderDlg::OnSettings() {
  // Window-modal and gone once answered, like the chapter list.
  auto* dialog = new SettingsDlg(settings_, this);  // owned by the window
  connect(dialog, &QDialog::accepted, this, [this, dialog] {
    settings_ = dialog->Chosen();
    settings_.Save();
    ShowSettingsInMenu();
  });
  connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater);
  dialog->open();
}

void CDownloaderDlg::OnOpenFolder() {
  if (!folder_to_open_.isEmpty()) {
    options_.open_url(QUrl::fromLocalFile(folder_to_open_));
  }
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
  const bool log_in_pane = downloading || showing_last_log_;

  Place(open_button_, right - kOpenFromRight, top, kButtonWidth, kStripHeight);
  Place(back_button_, right - kBackFromRight, top, kButtonWidth, kStripHeight);
  Place(download_button_, right - kDownloadFromRight, top, kButtonWidth, kStripHeight);
  Place(address_box_, left, top, (right - left) - kAddressBoxShorterBy, kStripHeight);
  if (!log_in_pane) {
    Place(browser_view_, left, kPaneTop, right - left, (bottom - top) - kPaneTop);
    log_view_->hide();
  } else {
    Place(log_view_, left, kPaneTop, right - left, (bottom - top) - kPaneTop);
    // Parked outside the client area rather than hidden, so that the page
    // stays loaded and laid out for the job.
    Place(browser_view_, -100, -100, 10, 10);
    log_view_->show();
  }
  address_box_->setEnabled(!downloading);
}

void CDownloaderDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (size_notifications_to_skip_ > 0) {
    --size_notifications_to_skip_;
    return;
  }
  LayoutControls();
}

void CDownloaderDlg::OnOpen() {
  HideLastLog();
  browser_view_->Navigate(address_box_->text());
}

void CDownloaderDlg::OnBack() {
  HideLastLog();
  browser_view_->GoBack();
}

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
  StartJob([this](const download::JobOptions& job_options) { DownloadWorker(job_options); });
}

void CDownloaderDlg::StartJob(std::function<void(const download::JobOptions&)> run) {
  stop_requested_ = false;
  // Read here, once: the worker never looks at the menu or the settings, so
  // changing them during a job touches only the next one. Retries keep the
  // job's own default.
  job_download_folder_ = settings_.download_folder.toStdString();
  const download::JobOptions job_options = settings_.ApplyTo(download::JobOptions{});
  // The window counts as downloading before the thread exists, so a second
  // press can only ever ask for a stop.
  downloading_ = true;
  HideLastLog();
  if (!StartWorker([run = std::move(run), job_options] { run(job_options); })) {
    downloading_ = false;  // no thread, no job: the window simply stays idle
  }
}

void CDownloaderDlg::OnDownloadLink(const QUrl& address) {
  if (!address.isValid()) {
    return;
  }
  download::ChapterLink chapter;
  chapter.address = address.toString(QUrl::FullyEncoded).toStdString();
  chapter.title = chapter.address;
  StartQueue({std::move(chapter)});
}

void CDownloaderDlg::StartQueue(std::vector<download::ChapterLink> chapters) {
  // The link item and the chapter list can only start a queue from idle.
  if (downloading_ || worker_running_ || chapters.empty()) {
    return;
  }
  StartJob([this, queue = std::move(chapters)](const download::JobOptions& job_options) {
    QueueWorker(job_options, queue);
  });
}

void CDownloaderDlg::OnListChapters() {
  if (worker_running_) {
    return;
  }
  listed_chapters_.clear();
  StartWorker([this] { ReadChapterList(); }, [this] { ShowChapterList(); });
}

void CDownloaderDlg::ShowChapterList() {
  // Both open window-modal and go once answered, so this thread never waits
  // in a loop of their own here. (A dialog that is done only hides; it goes
  // on its finished signal.)
  if (listed_chapters_.empty()) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, ProgramTitle(),  // owned by the window
                                QStringLiteral("本页没有找到章节列表"), QMessageBox::Ok, this);
    connect(box, &QDialog::finished, box, &QObject::deleteLater);
    box->open();
    return;
  }
  auto* chooser = new ChapterListDlg(std::move(listed_chapters_), this);  // owned by the window
  listed_chapters_.clear();
  connect(chooser, &QDialog::accepted, this,
          [this, chooser] { StartQueue(chooser->CheckedChapters()); });
  connect(chooser, &QDialog::finished, chooser, &QObject::deleteLater);
  chooser->open();
}

void CDownloaderDlg::OnShowLastLog() {
  if (worker_running_ || log_view_->document()->isEmpty()) {
    return;
  }
  showing_last_log_ = true;
  LayoutControls();
}

void CDownloaderDlg::HideLastLog() {
  if (!showing_last_log_) {
    return;
  }
  showing_last_log_ = false;
  LayoutControls();
}

void CDownloaderDlg::UpdateMenuItems() {
  list_chapters_item_->setEnabled(!worker_running_);
  show_log_item_->setEnabled(!worker_running_ && !showing_last_log_ &&
                             !log_view_->document()->isEmpty());
}

bool CDownloaderDlg::StartWorker(std::function<void()> work, std::function<void()> then) {
  worker_running_ = true;
  after_worker_ = std::move(then);
  try {
    worker_ = std::thread([this, work = std::move(work)] {
      work();
      // Not through the gate: this one must arrive even when the window is
      // closing, since that is what finally lets it close.
      QMetaObject::invokeMethod(
          this, [this] { OnWorkerDone(); }, Qt::QueuedConnection);
    });
  } catch (const std::system_error&) {
    worker_running_ = false;
    after_worker_ = nullptr;
    return false;
  }
  return true;
}

bool CDownloaderDlg::OnUi(std::function<void()> change) { return gate_.Run(std::move(change)); }

void CDownloaderDlg::EnterJobState() {
  downloading_ = true;
  OnUi([this] { download_button_->setText(QStringLiteral("停止")); });
  OnUi([this] { open_button_->setEnabled(false); });
  OnUi([this] { address_box_->setEnabled(false); });
  OnUi([this] { LayoutControls(); });
}

void CDownloaderDlg::LeaveJobState(const QString& outcome) {
  // Skipped, like every later change, once the window is closing.
  OnUi([this] { setWindowTitle(QString::fromUtf16(kWindowTitle)); });
  OnUi([this, outcome] { ShowOutcome(outcome); });
  downloading_ = false;
  OnUi([this] { download_button_->setText(QStringLiteral("下载")); });
  OnUi([this] { download_button_->setEnabled(true); });
  OnUi([this] { open_button_->setEnabled(true); });
  OnUi([this] { address_box_->setEnabled(true); });
  OnUi([this] { LayoutControls(); });
}

download::JobOutcome CDownloaderDlg::RunJob(JobHost& host,
                                            const download::JobOptions& job_options) {
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
  files::CbzPacker packer(files::RealFileSystem());
  const download::JobOutcome outcome = download::DownloadJob(
      host, {fetcher, files::RealFileSystem(), net::CurlAddressResolver(), &packer}, job_options);
  if (!host.Folder().empty()) {
    // A packed chapter's folder is gone; its archive lies in the folder above.
    const QString folder = QString::fromStdString(host.Folder());
    const QString shown = outcome.packed ? QFileInfo(folder).path() : folder;
    OnUi([this, shown] {
      folder_to_open_ = shown;
      open_folder_item_->setEnabled(true);
    });
  }
  return outcome;
}

void CDownloaderDlg::DownloadWorker(const download::JobOptions& job_options) {
  EnterJobState();
  {
    JobHost host(*this, *browser_view_);
    RunJob(host, job_options);
  }
  LeaveJobState(QString::fromStdString(result_text_));
}

void CDownloaderDlg::QueueWorker(const download::JobOptions& job_options,
                                 const std::vector<download::ChapterLink>& chapters) {
  EnterJobState();
  OnUi([this] { log_view_->clear(); });
  result_text_.clear();
  QueueRunner runner(*this, job_options);
  const download::QueueOutcome outcome = download::RunChapterQueue(runner, chapters);
  std::string text;
  if (chapters.size() == 1) {
    // One chapter reads like the view's own job; one that never reached its
    // job was stopped or could not be loaded.
    if (!result_text_.empty()) {
      text = result_text_;
    } else {
      text = outcome.stopped ? download::kResultStopped : download::kResultError;
    }
  } else {
    text = download::QueueSummaryText(outcome);
  }
  LeaveJobState(QString::fromStdString(text));
}

void CDownloaderDlg::ReadChapterList() {
  std::string address;
  OnUi([this, &address] {
    address = browser_view_->url().toString(QUrl::FullyEncoded).toStdString();
  });
  LivePageDocument document(*browser_view_, gate_, nullptr, options_.max_page_elements);
  const download::AddressResolver& resolver = net::CurlAddressResolver();
  listed_chapters_ = download::FindChapterList(&document, address, resolver);
  // The view went on to another page between the two reads: its links
  // resolve against the page they were read from.
  if (!document.SnapshotAddress().empty() && document.SnapshotAddress() != address) {
    listed_chapters_ = download::FindChapterList(&document, document.SnapshotAddress(), resolver);
  }
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
  const std::function<void()> then = std::move(after_worker_);
  after_worker_ = nullptr;
  emit WorkerFinished();
  if (close_pending_) {
    close_pending_ = false;
    QDialog::done(close_result_);
    return;
  }
  if (then) {
    then();
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
  Settings::SaveWindow(*this);
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
