#include "app/bookshelf_dlg.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <utility>

#include "app/bookshelf.h"

namespace vexel::app {
namespace {

constexpr QSize kInitialSize(760, 420);
constexpr int kTitleWidth = 260;
constexpr int kColumnMargin = 16;

QString Text(const std::string& text) { return QString::fromStdString(text); }

QString CheckTime(std::int64_t seconds) {
  if (seconds <= 0) {
    return QStringLiteral("未检查");
  }
  return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

}  // namespace

BookshelfDlg::BookshelfDlg(Bookshelf& shelf, BookshelfActions actions, QWidget* parent)
    : QDialog(parent), shelf_(shelf), actions_(std::move(actions)) {
  setWindowTitle(QStringLiteral("书架"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  resize(kInitialSize);

  list_ = new QTreeWidget(this);
  list_->setObjectName(QString::fromLatin1(kShelfListName));
  list_->setColumnCount(5);
  list_->setHeaderLabels({QStringLiteral("漫画"), QStringLiteral("已下载/总数"),
                          QStringLiteral("待下载"), QStringLiteral("上次检查"),
                          QStringLiteral("错误")});
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setAlternatingRowColors(true);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->header()->setStretchLastSection(true);
  list_->setColumnWidth(kShelfTitle, kTitleWidth);

  progress_ = new QLabel(this);
  progress_->setObjectName(QString::fromLatin1(kShelfProgressName));
  progress_->setTextFormat(Qt::PlainText);
  check_button_ = new QPushButton(QStringLiteral("检查更新"), this);
  download_button_ = new QPushButton(QStringLiteral("下载待下载的章节"), this);
  open_button_ = new QPushButton(QStringLiteral("打开"), this);
  remove_button_ = new QPushButton(QStringLiteral("移除"), this);
  auto* close = new QPushButton(QStringLiteral("关闭"), this);
  for (QPushButton* button : {check_button_, download_button_, open_button_, remove_button_}) {
    button->setAutoDefault(false);
  }
  connect(check_button_, &QPushButton::clicked, this, [this] { OnCheck(); });
  connect(download_button_, &QPushButton::clicked, this, [this] { OnDownloadPending(); });
  connect(open_button_, &QPushButton::clicked, this, [this] { OnOpen(); });
  connect(remove_button_, &QPushButton::clicked, this, [this] { OnRemove(); });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { OnOpen(); });

  connect(&shelf_, &Bookshelf::CheckProgress, this,
          [this](int position, int count, const QString& title) {
            download_said_ = false;
            progress_->setText(
                QStringLiteral("正在检查 %1/%2：%3").arg(position).arg(count).arg(title));
          });
  connect(&shelf_, &Bookshelf::ComicChecked, this, [this] { Reload(); });
  connect(&shelf_, &Bookshelf::CheckFinished, this, [this] {
    Reload();
    std::size_t pending = 0;
    for (const library::ComicSummary& comic : comics_) {
      pending += comic.pending;
    }
    progress_->setText(QStringLiteral("检查完成，待下载%1话").arg(pending));
    UpdateButtons();
  });

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(check_button_);
  buttons->addWidget(download_button_);
  buttons->addWidget(open_button_);
  buttons->addWidget(remove_button_);
  buttons->addStretch(1);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);  // owned by the dialog
  layout->addWidget(list_, 1);
  layout->addWidget(progress_);
  layout->addLayout(buttons);

  if (shelf_.Checking()) {
    progress_->setText(QStringLiteral("正在检查…"));
  }
  Reload();
}

void BookshelfDlg::Reload() {
  QSet<QString> selected;
  for (const QTreeWidgetItem* item : list_->selectedItems()) {
    selected.insert(item->data(kShelfTitle, Qt::UserRole).toString());
  }
  library::ComicList list;
  if (shelf_.Library() != nullptr) {
    list = shelf_.Library()->Comics();
  }
  if (!list.error.empty()) {
    progress_->setText(QStringLiteral("无法读取书架：") + Text(list.error));
  }
  comics_ = std::move(list.comics);
  list_->clear();
  for (const library::ComicSummary& comic : comics_) {
    auto* item = new QTreeWidgetItem(list_);  // owned by the list
    const QString address = Text(comic.address);
    item->setData(kShelfTitle, Qt::UserRole, address);
    item->setText(kShelfTitle, comic.title.empty() ? address : Text(comic.title));
    item->setToolTip(kShelfTitle, address);
    item->setText(kShelfDownloaded, QStringLiteral("%1/%2").arg(comic.downloaded).arg(comic.total));
    item->setText(kShelfPending, QString::number(comic.pending));
    item->setText(kShelfLastCheck, CheckTime(comic.last_check));
    item->setText(kShelfError, Text(comic.last_error));
    item->setToolTip(kShelfError, item->text(kShelfError));
    for (const int column : {kShelfDownloaded, kShelfPending}) {
      item->setTextAlignment(column, Qt::AlignCenter);
    }
    item->setSelected(selected.contains(address));
  }
  // The short columns fit their texts; the error takes what is left.
  for (const int column : {kShelfDownloaded, kShelfPending, kShelfLastCheck}) {
    list_->resizeColumnToContents(column);
    list_->setColumnWidth(column, list_->columnWidth(column) + kColumnMargin);
  }
  UpdateButtons();
}

std::vector<library::ComicSummary> BookshelfDlg::Chosen(bool all_when_none) const {
  std::vector<library::ComicSummary> chosen;
  for (int row = 0; row < list_->topLevelItemCount(); ++row) {
    if (list_->topLevelItem(row)->isSelected()) {
      chosen.push_back(comics_[static_cast<std::size_t>(row)]);
    }
  }
  if (chosen.empty() && all_when_none) {
    chosen = comics_;
  }
  return chosen;
}

void BookshelfDlg::UpdateButtons() {
  const bool any = !comics_.empty();
  const bool selected = !list_->selectedItems().isEmpty();
  check_button_->setEnabled(any && !shelf_.Checking());
  download_button_->setEnabled(any);
  open_button_->setEnabled(selected);
  remove_button_->setEnabled(selected);
}

void BookshelfDlg::OnCheck() {
  if (shelf_.StartCheck()) {
    progress_->setText(QStringLiteral("正在检查…"));
  }
  UpdateButtons();
}

void BookshelfDlg::OnDownloadPending() {
  if (shelf_.Library() == nullptr) {
    return;
  }
  std::vector<download::ChapterLink> chapters;
  for (const library::ComicSummary& comic : Chosen(true)) {
    for (download::ChapterLink& chapter : shelf_.Library()->PendingChapters(comic.address)) {
      // Listed chapters: a queue skips those that are downloaded meanwhile.
      chapter.comic = comic.address;
      chapters.push_back(std::move(chapter));
    }
  }
  if (chapters.empty()) {
    progress_->setText(QStringLiteral("没有待下载的章节"));
    return;
  }
  progress_->setText(QStringLiteral("开始下载%1话").arg(chapters.size()));
  download_said_ = true;
  actions_.download(std::move(chapters));
}

void BookshelfDlg::OnJobEnded() {
  if (download_said_) {
    download_said_ = false;
    progress_->clear();
  }
  Reload();
}

void BookshelfDlg::OnOpen() {
  const std::vector<library::ComicSummary> chosen = Chosen(false);
  if (!chosen.empty()) {
    actions_.open(Text(chosen.front().address));
  }
}

void BookshelfDlg::OnRemove() {
  if (shelf_.Library() == nullptr) {
    return;
  }
  for (const library::ComicSummary& comic : Chosen(false)) {
    if (const library::StoreResult removed = shelf_.Library()->Unfollow(comic.address); !removed) {
      progress_->setText(QStringLiteral("无法移除：") + Text(removed.error));
    }
  }
  list_->clearSelection();
  Reload();
}

}  // namespace vexel::app
