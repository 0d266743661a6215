#include "app/window_boxes.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include <utility>

#include "app/chapter_list_dlg.h"

namespace vexel::app {

QString ProgramTitle() {
  return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

QMessageBox* OpenCloseQuestion(QWidget* parent, std::function<void()> quit) {
  auto* box =
      new QMessageBox(QMessageBox::Question, ProgramTitle(),  // owned by `parent`
                      QStringLiteral("正在下载，确定要退出吗？"), QMessageBox::NoButton, parent);
  QPushButton* quit_button = box->addButton(QStringLiteral("退出"), QMessageBox::DestructiveRole);
  QPushButton* keep = box->addButton(QStringLiteral("继续下载"), QMessageBox::RejectRole);
  // A stray Enter or Escape must not throw the job away.
  box->setDefaultButton(keep);
  box->setEscapeButton(keep);
  QObject::connect(box, &QDialog::finished, box, &QObject::deleteLater);
  QObject::connect(quit_button, &QPushButton::clicked, box, std::move(quit));
  box->open();
  return box;
}

void OpenChapterChoice(QWidget* parent, std::vector<download::ChapterLink> chapters,
                       std::function<void(std::vector<download::ChapterLink>)> start) {
  // (A dialog that is done only hides; each goes on its finished signal.)
  if (chapters.empty()) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, ProgramTitle(),  // owned by `parent`
                                QStringLiteral("本页没有找到章节列表"), QMessageBox::Ok, parent);
    QObject::connect(box, &QDialog::finished, box, &QObject::deleteLater);
    box->open();
    return;
  }
  auto* chooser = new ChapterListDlg(std::move(chapters), parent);  // owned by `parent`
  QObject::connect(chooser, &QDialog::accepted, chooser,
                   [chooser, start = std::move(start)] { start(chooser->CheckedChapters()); });
  QObject::connect(chooser, &QDialog::finished, chooser, &QObject::deleteLater);
  chooser->open();
}

}  // namespace vexel::app
