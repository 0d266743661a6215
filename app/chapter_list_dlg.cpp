#include "app/chapter_list_dlg.h"

#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace vexel::app {
namespace {

constexpr QSize kInitialSize(640, 460);
// The title column fits its longest title within these bounds; the address
// takes the rest.
constexpr int kMinTitleWidth = 120;
constexpr int kMaxTitleWidth = 320;
constexpr int kTitleMargin = 24;

}  // namespace

ChapterListDlg::ChapterListDlg(std::vector<download::ChapterLink> chapters,
                               std::vector<ChapterMarks> marks, QWidget* parent)
    : QDialog(parent), chapters_(std::move(chapters)), marks_(std::move(marks)) {
  marks_.resize(chapters_.size());
  setWindowTitle(QStringLiteral("下载本页列出的章节"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  resize(kInitialSize);

  list_ = new QTreeWidget(this);
  list_->setObjectName(QString::fromLatin1(kChapterListName));
  list_->setColumnCount(3);
  list_->setHeaderLabels({QStringLiteral("章节"), QStringLiteral("地址"), QStringLiteral("状态")});
  // Read next to the title; the address, the longest, takes the rest.
  list_->header()->moveSection(kChapterMarkColumn, 1);
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setAlternatingRowColors(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->header()->setStretchLastSection(true);
  for (std::size_t i = 0; i < chapters_.size(); ++i) {
    const download::ChapterLink& chapter = chapters_[i];
    auto* item = new QTreeWidgetItem(list_);  // owned by the list
    item->setText(0, QString::fromStdString(chapter.title));
    item->setText(1, QString::fromStdString(chapter.address));
    if (marks_[i].downloaded) {
      item->setText(kChapterMarkColumn, QStringLiteral("已下载"));
      // Greyed: what is there already matters less than what is not.
      for (int column = 0; column < list_->columnCount(); ++column) {
        item->setForeground(column, list_->palette().brush(QPalette::Disabled, QPalette::Text));
      }
    } else if (marks_[i].is_new) {
      item->setText(kChapterMarkColumn, QStringLiteral("新"));
      QFont bold = item->font(0);
      bold.setBold(true);
      item->setFont(0, bold);
      item->setFont(kChapterMarkColumn, bold);
    }
    item->setToolTip(0, item->text(0));
    item->setToolTip(1, item->text(1));
    // Drawn with a check box, but turned over by this dialog rather than by
    // the view, so that a click anywhere on the row counts and Shift can
    // extend it.
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setCheckState(0, marks_[i].downloaded ? Qt::Unchecked : Qt::Checked);
  }
  list_->resizeColumnToContents(0);
  list_->resizeColumnToContents(kChapterMarkColumn);
  list_->setColumnWidth(kChapterMarkColumn, list_->columnWidth(kChapterMarkColumn) + kTitleMargin);
  list_->setColumnWidth(
      0, std::clamp(list_->columnWidth(0) + kTitleMargin, kMinTitleWidth, kMaxTitleWidth));
  // Current for the keyboard, but not shown selected: no row stands out
  // before the user picks one.
  if (list_->topLevelItemCount() > 0) {
    list_->setCurrentItem(list_->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
  }
  list_->viewport()->installEventFilter(this);
  list_->installEventFilter(this);

  auto* select_all = new QPushButton(QStringLiteral("全选"), this);
  auto* select_none = new QPushButton(QStringLiteral("全不选"), this);
  auto* select_missing = new QPushButton(QStringLiteral("只选未下载的"), this);
  count_label_ = new QLabel(this);
  count_label_->setObjectName(QString::fromLatin1(kCheckedCountName));
  count_label_->setTextFormat(Qt::PlainText);
  download_button_ = new QPushButton(QStringLiteral("下载"), this);
  auto* cancel = new QPushButton(QStringLiteral("取消"), this);
  for (QPushButton* button : {select_all, select_none, select_missing, cancel}) {
    button->setAutoDefault(false);
  }
  download_button_->setDefault(true);

  connect(select_all, &QPushButton::clicked, this, [this] { SetAllChecked(true); });
  connect(select_none, &QPushButton::clicked, this, [this] { SetAllChecked(false); });
  connect(select_missing, &QPushButton::clicked, this, [this] { CheckNotDownloaded(); });
  connect(download_button_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(select_all);
  buttons->addWidget(select_none);
  buttons->addWidget(select_missing);
  buttons->addSpacing(12);
  buttons->addWidget(count_label_);
  buttons->addStretch(1);
  buttons->addWidget(download_button_);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);  // owned by the dialog
  layout->addWidget(list_, 1);
  layout->addLayout(buttons);

  UpdateCount();
}

std::vector<download::ChapterLink> ChapterListDlg::CheckedChapters() const {
  std::vector<download::ChapterLink> checked;
  for (int row = 0; row < static_cast<int>(chapters_.size()); ++row) {
    if (IsChecked(row)) {
      checked.push_back(chapters_[static_cast<std::size_t>(row)]);
    }
  }
  return checked;
}

int ChapterListDlg::CheckedCount() const {
  int count = 0;
  for (int row = 0; row < list_->topLevelItemCount(); ++row) {
    count += IsChecked(row) ? 1 : 0;
  }
  return count;
}

bool ChapterListDlg::IsChecked(int row) const {
  const QTreeWidgetItem* item = list_->topLevelItem(row);
  return item != nullptr && item->checkState(0) == Qt::Checked;
}

void ChapterListDlg::SetChecked(int row, bool checked) {
  if (QTreeWidgetItem* item = list_->topLevelItem(row)) {
    item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
  }
}

void ChapterListDlg::ToggleRow(int row, bool extend) {
  if (row < 0 || row >= list_->topLevelItemCount()) {
    return;
  }
  const bool checked = !IsChecked(row);
  if (extend && anchor_ >= 0 && anchor_ < list_->topLevelItemCount()) {
    for (int i = std::min(anchor_, row); i <= std::max(anchor_, row); ++i) {
      SetChecked(i, checked);
    }
  } else {
    SetChecked(row, checked);
  }
  anchor_ = row;
  UpdateCount();
}

void ChapterListDlg::SetAllChecked(bool checked) {
  for (int row = 0; row < list_->topLevelItemCount(); ++row) {
    SetChecked(row, checked);
  }
  UpdateCount();
}

void ChapterListDlg::CheckNotDownloaded() {
  for (int row = 0; row < list_->topLevelItemCount(); ++row) {
    SetChecked(row, !marks_[static_cast<std::size_t>(row)].downloaded);
  }
  UpdateCount();
}

void ChapterListDlg::UpdateCount() {
  const int count = CheckedCount();
  count_label_->setText(QStringLiteral("已选 %1 话").arg(count));
  download_button_->setEnabled(count > 0);
}

bool ChapterListDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_->viewport() &&
      (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton) {
      return false;
    }
    QTreeWidgetItem* item = list_->itemAt(mouse->position().toPoint());
    if (item == nullptr) {
      return false;
    }
    list_->setCurrentItem(item);
    list_->setFocus(Qt::MouseFocusReason);
    ToggleRow(list_->indexOfTopLevelItem(item), mouse->modifiers().testFlag(Qt::ShiftModifier));
    return true;
  }
  if (watched == list_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Space && list_->currentItem() != nullptr) {
      ToggleRow(list_->indexOfTopLevelItem(list_->currentItem()),
                key->modifiers().testFlag(Qt::ShiftModifier));
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace vexel::app
