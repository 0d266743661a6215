#include "app/downloader_dlg.h"

#include <QAction>
#include <QActionGroup>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QUrl>

#include <algorithm>
#include <utility>

#include "app/about_dlg.h"
#include "app/app_icon.h"
#include "app/browser_profile.h"
#include "app/explorer.h"
#include "app/log_pane.h"
#include "app/settings_dlg.h"
#include "app/termination_watch.h"
#include "app/window_boxes.h"

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

// Widths and heights below zero are taken as zero, as the window system does.
void Place(QWidget* widget, int x, int y, int width, int height) {
  widget->setGeometry(x, y, std::max(width, 0), std::max(height, 0));
}

}  // namespace

CDownloaderDlg::CDownloaderDlg(BrowserProfile& profile, DialogOptions options, QWidget* parent)
    : QDialog(parent), profile_(profile), options_(std::move(options)) {
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
  bookshelf_ = std::make_unique<Bookshelf>(options_.library_file, profile_.Profile(),
                                           options_.max_page_elements, this);
  CreateControls();
  InitDialog();
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

  log_view_ = new LogPane(this);
  log_view_->setObjectName(QString::number(kLogViewId));

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
  InitShelf();
  InitQueue();
  show_log_item_ = system_menu_->addAction(QStringLiteral("显示上次日志"));
  connect(show_log_item_, &QAction::triggered, this, [this] { OnShowLastLog(); });
  open_folder_item_ = system_menu_->addAction(QStringLiteral("打开文件夹"));
  connect(open_folder_item_, &QAction::triggered, this, [this] { OnOpenFolder(); });
  connect(system_menu_, &QMenu::aboutToShow, this, [this] { UpdateMenuItems(); });
  connect(browser_view_, &CExplorer::ContextMenuOpening, this, [this] { UpdateMenuItems(); });
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
  OpenFolder(this, options_.open_url,
             !folder_to_open_.isEmpty()
                 ? folder_to_open_
                 : DownloadFolder(options_.choose_output_directory, settings_.download_folder));
}

void CDownloaderDlg::RememberFolder(const QString& folder) { folder_to_open_ = folder; }

int CDownloaderDlg::RunModal() {
  // A polite end of the program (SIGTERM from the session or a service
  // manager) loses no more than the close box would.
  const TerminationWatch termination(this, [this] { CloseNow(QDialog::Rejected); });
  const int result = exec();
  // Closed during a job: the window hid at once, which ends exec(), but the
  // job still has to notice the stop and let go of the page. Wait for it in
  // an event loop, never by blocking this thread on the worker.
  const auto busy = [this] { return jobs_.WorkerRunning() || queue_->WorkerRunning(); };
  if (busy()) {
    QEventLoop wait;
    const auto check = [&wait, &busy] {
      if (!busy()) {
        wait.quit();
      }
    };
    connect(this, &CDownloaderDlg::WorkerFinished, &wait, check);
    connect(queue_.get(), &QueueController::WorkerEnded, &wait, check);
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
  const bool downloading = jobs_.Downloading();  // read once: one arrangement
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
  // Over the last log, 后退 goes back to the page under it, not past it.
  if (showing_last_log_) {
    HideLastLog();
    return;
  }
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
  if (jobs_.Downloading()) {
    jobs_.RequestStop();
    return;
  }
  jobs_.StartSingle();
}

void CDownloaderDlg::OnDownloadLink(const QUrl& address) {
  if (!address.isValid()) {
    return;
  }
  download::ChapterLink chapter;
  chapter.address = address.toString(QUrl::FullyEncoded).toStdString();
  EnqueueChapters({std::move(chapter)}, {});
}

void CDownloaderDlg::OnShowLastLog() {
  if (jobs_.WorkerRunning()) {
    return;
  }
  const bool queue_shown = queue_dialog_ != nullptr && queue_dialog_->isVisible();
  ShowLogOf(queue_shown ? queue_dialog_->CurrentId() : 0);
  if (log_view_->IsEmpty()) {
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
  const bool idle = !jobs_.WorkerRunning();
  list_chapters_item_->setEnabled(idle);
  follow_item_->setEnabled(idle && bookshelf_->Library() != nullptr);
  const bool queue_shown = queue_dialog_ != nullptr && queue_dialog_->isVisible();
  const std::int64_t chosen = queue_shown ? queue_dialog_->CurrentId() : 0;
  const bool any_log = chosen != 0 ? !queue_->LogOf(chosen).isEmpty()
                                   : (log_item_ == 0 ? !log_view_->IsEmpty() : !job_log_.isEmpty());
  show_log_item_->setEnabled(idle && !showing_last_log_ && any_log);
}

void CDownloaderDlg::ShowOutcome(const QString& text, const QString& saved_at) {
  // The job is over: a question about ending it has nothing left to ask.
  if (close_question_ != nullptr) {
    close_question_->deleteLater();
    close_question_ = nullptr;
  }
  RunOutcomeBox(this, text, saved_at, outcome_box_);
}

void CDownloaderDlg::done(int result) {
  // Once the images are in (the outcome box is up) or the window is already
  // closing, there is nothing to lose by ending.
  if (jobs_.Downloading() && outcome_box_ == nullptr && !jobs_.Closing()) {
    AskBeforeClosing(result);
    return;
  }
  // A queue at work goes on at the next start; the window says so first.
  const std::size_t unfinished = queue_->Queue().Unfinished();
  if (!jobs_.Closing() && queue_->Working() && unfinished > 0) {
    if (close_question_ == nullptr || !close_question_->isVisible()) {
      close_question_ =
          OpenQueueCloseQuestion(this, unfinished, [this, result] { CloseNow(result); });
    }
    return;
  }
  CloseNow(result);
}

void CDownloaderDlg::AskBeforeClosing(int result) {
  // Window-modal, so the job's own window changes go on while it is asked.
  if (close_question_ == nullptr || !close_question_->isVisible()) {
    close_question_ = OpenCloseQuestion(this, [this, result] { CloseNow(result); });
  }
}

void CDownloaderDlg::CloseNow(int result) {
  if (close_question_ != nullptr) {
    close_question_->deleteLater();
    close_question_ = nullptr;
  }
  // Saved while the window is still shown, so its place is the one the user saw.
  Settings::SaveWindow(*this);
  // The queue's chapter under way is left as it is, to go on next time.
  queue_->Abandon();
  if (queue_dialog_ != nullptr) {
    queue_dialog_->hide();
  }
  if (jobs_.WorkerRunning()) {
    jobs_.CloseDuringJob(result);
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
