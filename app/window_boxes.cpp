#include "app/window_boxes.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>

#include <algorithm>
#include <utility>

#include "app/chapter_list_dlg.h"
#include "files/program_output_directory.h"

namespace vexel::app {

QString ProgramTitle() {
  return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

void FitCaption(QMessageBox& box, const QString& whole_lines) {
  // Qt leaves only 50 pixels beside the caption, too few for a title bar's
  // buttons, and the caption comes out cut short. A title bar's font is
  // usually the bold one. The box sizes itself to its layout's minimum width,
  // so an empty row of the caption's width widens it; the layout owns the row.
  QFont font = QApplication::font("QMdiSubWindowTitleBar");
  font.setBold(true);
  constexpr int kTextMargins = 40;  // the box's margins beside its text
  constexpr int kWidest = 1000;     // as wide as Qt lets a box grow
  int width = QFontMetrics(font).horizontalAdvance(box.windowTitle()) + kTitleBarChrome;
  for (const QString& line : whole_lines.split(u'\n')) {
    width = std::max(width, QFontMetrics(box.font()).horizontalAdvance(line) + kTextMargins);
  }
  width = std::min(width, kWidest);
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (grid != nullptr) {
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
}

void RunOutcomeBox(QWidget* parent, const QString& text, const QString& saved_at,
                   QPointer<QMessageBox>& shown) {
  QMessageBox box(QMessageBox::NoIcon, ProgramTitle(), text, QMessageBox::Ok, parent);
  box.setInformativeText(saved_at);
  // The folder's path can be copied from the box.
  box.setTextInteractionFlags(Qt::TextSelectableByMouse);
  FitCaption(box,
             text + u'\n' + saved_at);  // last: a second line makes the box lay itself out anew
  shown = &box;
  box.exec();
  shown = nullptr;
}

void OpenFolder(QWidget* parent, const std::function<bool(const QUrl&)>& open,
                const QString& folder) {
  if (folder.isEmpty() || (open && open(QUrl::fromLocalFile(folder)))) {
    return;
  }
  auto* box = new QMessageBox(QMessageBox::Information, ProgramTitle(),  // owned by `parent`
                              QStringLiteral("没有能打开文件夹的程序，文件夹在：\n") + folder,
                              QMessageBox::Ok, parent);
  box->setTextInteractionFlags(Qt::TextSelectableByMouse);
  FitCaption(*box);
  QObject::connect(box, &QDialog::finished, box, &QObject::deleteLater);
  box->open();
}

QString DownloadFolder(const OutputDirectoryRule& rule, const QString& chosen) {
  QString folder = chosen;
  if (rule) {
    folder = QString::fromStdString(rule().path);
  } else if (folder.isEmpty()) {
    folder = QString::fromStdString(files::PreferredProgramOutputDirectory());
  }
  while (folder.size() > 1 && folder.endsWith(u'/')) {
    folder.chop(1);
  }
  return folder;
}

namespace {

QMessageBox* OpenQuestion(QWidget* parent, const QString& text, const QString& keep_text,
                          std::function<void()> quit) {
  auto* box = new QMessageBox(QMessageBox::Question, ProgramTitle(),  // owned by `parent`
                              text, QMessageBox::NoButton, parent);
  FitCaption(*box);
  QPushButton* quit_button = box->addButton(QStringLiteral("退出"), QMessageBox::DestructiveRole);
  QPushButton* keep = box->addButton(keep_text, QMessageBox::RejectRole);
  // A stray Enter or Escape must not throw the job away.
  box->setDefaultButton(keep);
  box->setEscapeButton(keep);
  QObject::connect(box, &QDialog::finished, box, &QObject::deleteLater);
  QObject::connect(quit_button, &QPushButton::clicked, box, std::move(quit));
  box->open();
  return box;
}

}  // namespace

QMessageBox* OpenCloseQuestion(QWidget* parent, std::function<void()> quit) {
  return OpenQuestion(parent, QStringLiteral("正在下载，确定要退出吗？"),
                      QStringLiteral("继续下载"), std::move(quit));
}

QMessageBox* OpenQueueCloseQuestion(QWidget* parent, std::size_t unfinished,
                                    std::function<void()> quit) {
  return OpenQuestion(
      parent,
      QStringLiteral("下载队列中还有%1话，退出后下次启动继续。确定退出吗？").arg(unfinished),
      QStringLiteral("取消"), std::move(quit));
}

void OpenNotice(QWidget* parent, const QString& text) {
  // (A dialog that is done only hides; each goes on its finished signal.)
  auto* box = new QMessageBox(QMessageBox::NoIcon, ProgramTitle(),  // owned by `parent`
                              text, QMessageBox::Ok, parent);
  box->setTextInteractionFlags(Qt::TextSelectableByMouse);
  FitCaption(*box);
  QObject::connect(box, &QDialog::finished, box, &QObject::deleteLater);
  box->open();
}

void OpenChapterChoice(QWidget* parent, std::vector<download::ChapterLink> chapters,
                       std::vector<ChapterMarks> marks,
                       std::function<void(std::vector<download::ChapterLink>)> start) {
  if (chapters.empty()) {
    OpenNotice(parent, QStringLiteral("本页没有找到章节列表"));
    return;
  }
  auto* chooser =
      new ChapterListDlg(std::move(chapters), std::move(marks), parent);  // owned by `parent`
  QObject::connect(chooser, &QDialog::accepted, chooser,
                   [chooser, start = std::move(start)] { start(chooser->CheckedChapters()); });
  QObject::connect(chooser, &QDialog::finished, chooser, &QObject::deleteLater);
  chooser->open();
}

}  // namespace vexel::app
