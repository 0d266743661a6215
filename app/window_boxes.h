// The boxes the window opens besides its outcome box. Each is window-modal on
// `parent`, which owns it, and deletes itself once answered, so the
// user-interface thread never waits in a loop of a box's own.
#pragma once

#include <QPointer>
#include <QString>
#include <QUrl>

#include <cstddef>
#include <functional>
#include <vector>

#include "app/chapter_list_dlg.h"
#include "app/job_services.h"
#include "download/chapter_list.h"

class QMessageBox;
class QWidget;

namespace vexel::app {

// The program's title: its file's name without directory and extension.
QString ProgramTitle();

// How much of a title bar its buttons and margins take besides the caption,
// in pixels: generous, as the window manager's own font and buttons are not
// Qt's to know.
inline constexpr int kTitleBarChrome = 160;

// Widens `box` (a message box, which sizes itself to its text) so that the
// window manager has room for its whole caption: the program's name is what
// tells the user whose box it is. With `whole_line`, so that this line of the
// box is not broken either (a path broken in the middle of a name misleads),
// as far as the screen allows; several lines are separated by "\n".
void FitCaption(QMessageBox& box, const QString& whole_lines = {});

// The outcome box: `text`, and `saved_at` ("保存在：…") as its second line
// when not empty; window-modal on `parent`, run until answered.
void RunOutcomeBox(QWidget* parent, const QString& text, const QString& saved_at,
                   QPointer<QMessageBox>& shown);

// 打开文件夹: `folder` through `open`; when no program could open it, a box
// names the folder, so the user can go there by hand.
void OpenFolder(QWidget* parent, const std::function<bool(const QUrl&)>& open,
                const QString& folder);

// Where chapters go as far as can be told without a job: the window's own
// rule when it has one, else the folder chosen as 下载到, else the program's
// default. Nothing is made on the disk.
QString DownloadFolder(const OutputDirectoryRule& rule, const QString& chosen);

// "正在下载，确定要退出吗？", with 退出 (calls `quit`) and 继续下载 (the
// default, and what Escape answers: the job goes on).
QMessageBox* OpenCloseQuestion(QWidget* parent, std::function<void()> quit);
// "下载队列中还有N话，退出后下次启动继续。确定退出吗？" with 退出 and 取消, for a
// window closed while its queue works; `quit` runs on 退出.
QMessageBox* OpenQueueCloseQuestion(QWidget* parent, std::size_t unfinished,
                                    std::function<void()> quit);

// The chapters a page lists, to choose from (ChapterListDlg) with what the
// library knows of them (`marks`: one for each, or none); `start` gets the
// checked ones on 确定. With no chapters: "本页没有找到章节列表".
void OpenChapterChoice(QWidget* parent, std::vector<download::ChapterLink> chapters,
                       std::vector<ChapterMarks> marks,
                       std::function<void(std::vector<download::ChapterLink>)> start);

// A box that says `text`; window-modal on `parent` when it is shown.
void OpenNotice(QWidget* parent, const QString& text);

}  // namespace vexel::app
