// Helpers of the window tests that queue chapters: the chapter dialog's
// checks, the queue's window with its rows and buttons, the comic's chapters
// as the queue takes them, and the pages they leave.
#pragma once

#include <QList>
#include <QPushButton>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

#include "app/chapter_list_dlg.h"
#include "app/downloader_dlg.h"
#include "app/queue_dlg.h"
#include "download/chapter_list.h"

namespace vexel::app::testing {

// The button of `dialog` captioned `text`, or null.
QPushButton* DialogButton(const QWidget& dialog, const QString& text);
// Whether each row of the chapter dialog is checked, in order.
QList<bool> CheckStates(const ChapterListDlg& chooser);

// The queue's window of `window` while it is shown, else null.
QueueDlg* ShownQueue(const CDownloaderDlg& window);
// The state column of every row, in order (empty without a queue window).
QStringList QueueStates(const CDownloaderDlg& window);
// The chapter column of every row, in order.
QStringList QueueChapters(const CDownloaderDlg& window);
// Selects row `row` of the queue's window alone.
void SelectRow(const CDownloaderDlg& window, int row);
// The queue window's button captioned `text`.
QPushButton* QueueButton(const CDownloaderDlg& window, const QString& text);
// The window's question on ending while the queue works, if it says `text`
// with its two buttons: presses `button` (退出 or 取消) and returns true.
bool AnswerQueueCloseQuestion(const QString& text, const QString& button);
// Chapters `first` to `last` of the test site's comic at `base`, as its
// chapter list gives them.
std::vector<download::ChapterLink> ComicChapters(const std::string& base, int first, int last);
// `chapters` chapter folders under `folder` hold `pages` page files in all,
// each equal to the site's image of its number, and no partial file; a
// message otherwise.
QString CheckPageFiles(const QString& folder, int chapters, int pages);

}  // namespace vexel::app::testing
