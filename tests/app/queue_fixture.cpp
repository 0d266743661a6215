#include "tests/app/queue_fixture.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QTreeView>
#include <QTreeWidget>

#include "app/queue_model.h"
#include "tests/app/test_site.h"
#include "tests/app/window_fixture.h"

namespace vexel::app::testing {
namespace {

QStringList Column(const CDownloaderDlg& window, int column) {
  QStringList texts;
  const QueueDlg* queue = ShownQueue(window);
  if (queue == nullptr) {
    return texts;
  }
  const QAbstractItemModel* model = queue->List()->model();
  for (int row = 0; row < model->rowCount(); ++row) {
    texts << model->index(row, column).data().toString();
  }
  return texts;
}

}  // namespace

QPushButton* DialogButton(const QWidget& dialog, const QString& text) {
  for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
    if (button->text() == text) {
      return button;
    }
  }
  return nullptr;
}

QList<bool> CheckStates(const ChapterListDlg& chooser) {
  QList<bool> states;
  const auto* rows = chooser.findChild<QTreeWidget*>(QString::fromLatin1(kChapterListName));
  for (int row = 0; row < rows->topLevelItemCount(); ++row) {
    states << (rows->topLevelItem(row)->checkState(0) == Qt::Checked);
  }
  return states;
}

QueueDlg* ShownQueue(const CDownloaderDlg& window) {
  QueueDlg* queue = window.QueueWindow();
  return queue != nullptr && queue->isVisible() ? queue : nullptr;
}

QStringList QueueStates(const CDownloaderDlg& window) { return Column(window, QueueModel::kState); }

QStringList QueueChapters(const CDownloaderDlg& window) {
  return Column(window, QueueModel::kChapter);
}

void SelectRow(const CDownloaderDlg& window, int row) {
  QTreeView* list = window.QueueWindow()->List();
  list->selectionModel()->select(list->model()->index(row, 0),
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

QPushButton* QueueButton(const CDownloaderDlg& window, const QString& text) {
  return DialogButton(*window.QueueWindow(), text);
}

bool AnswerQueueCloseQuestion(const QString& text, const QString& button) {
  QMessageBox* box = FindMessageBox();
  if (box == nullptr || box->text() != text || box->buttons().size() != 2) {
    return false;
  }
  for (QAbstractButton* candidate : box->buttons()) {
    if (candidate->text() == button) {
      candidate->click();
      return true;
    }
  }
  return false;
}

std::vector<download::ChapterLink> ComicChapters(const std::string& base, int first, int last) {
  std::vector<download::ChapterLink> chapters;
  for (int chapter = first; chapter <= last; ++chapter) {
    chapters.push_back({base + "comic/" + std::to_string(chapter) + ".html",
                        "第" + std::to_string(chapter) + "话", base + "comic/"});
  }
  return chapters;
}

QString CheckPageFiles(const QString& folder, int chapters, int pages) {
  const QStringList folders = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  if (folders.size() != chapters) {
    return QStringLiteral("%1 chapter folders: %2").arg(folders.size()).arg(folders.join(u','));
  }
  int found = 0;
  for (const QString& name : folders) {
    const QString chapter = folder + u'/' + name;
    const QStringList files = QDir(chapter).entryList(QDir::Files | QDir::Hidden);
    found += static_cast<int>(files.size());
    for (const QString& file : files) {
      QFile page(chapter + u'/' + file);
      if (!page.open(QIODevice::ReadOnly)) {
        return QStringLiteral("cannot read ") + page.fileName();
      }
      const std::string number = QFileInfo(file).completeBaseName().toStdString();
      if (QFileInfo(file).suffix() != u"png" ||
          page.readAll().toStdString() != TestSite::ImageBody(number)) {
        return QStringLiteral("not the site's page: ") + page.fileName();
      }
    }
  }
  return found == pages ? QString() : QStringLiteral("%1 page files").arg(found);
}

}  // namespace vexel::app::testing
