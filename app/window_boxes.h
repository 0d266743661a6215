// The boxes the window opens besides its outcome box. Each is window-modal on
// `parent`, which owns it, and deletes itself once answered, so the
// user-interface thread never waits in a loop of a box's own.
#pragma once

#include <QString>

#include <functional>
#include <vector>

#include "download/chapter_list.h"

class QMessageBox;
class QWidget;

namespace vexel::app {

// The program's title: its file's name without directory and extension.
QString ProgramTitle();

// "正在下载，确定要退出吗？", with 退出 (calls `quit`) and 继续下载 (the
// default, and what Escape answers: the job goes on).
QMessageBox* OpenCloseQuestion(QWidget* parent, std::function<void()> quit);

// The chapters a page lists, to choose from (ChapterListDlg); `start` gets
// the checked ones on 确定. With no chapters: "本页没有找到章节列表".
void OpenChapterChoice(QWidget* parent, std::vector<download::ChapterLink> chapters,
                       std::function<void(std::vector<download::ChapterLink>)> start);

}  // namespace vexel::app
