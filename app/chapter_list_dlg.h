// ChapterListDlg: the chapters a page lists, to choose which to download.
//
// Every chapter starts checked, but those already downloaded: they show
// "已下载" and start unchecked; chapters first seen at the comic's last check
// show "新". A click anywhere on a row (or Space on the
// current row) turns its check over; with Shift held, every row from the one
// turned last up to this one takes this row's new state. 全选 and 全不选 check
// or clear them all, 只选未下载的 checks exactly those not downloaded, the label counts the checked
// ones, and 下载 (enabled while at least one is checked) accepts the dialog.
#pragma once

#include <QDialog>

#include <vector>

#include "download/chapter_list.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace vexel::app {

// The object names of the dialog's list and count label, for whoever needs
// to find them (the tests).
inline constexpr char kChapterListName[] = "chapters";
inline constexpr char kCheckedCountName[] = "checkedCount";
// The list's column of the marks (shown between the title and the address).
inline constexpr int kChapterMarkColumn = 2;

// What the library knows of a listed chapter.
struct ChapterMarks {
  bool downloaded = false;
  bool is_new = false;
};

class ChapterListDlg : public QDialog {
  Q_OBJECT

 public:
  // `marks`: one for each chapter, or none.
  ChapterListDlg(std::vector<download::ChapterLink> chapters, std::vector<ChapterMarks> marks = {},
                 QWidget* parent = nullptr);

  // The checked chapters, in the page's order.
  std::vector<download::ChapterLink> CheckedChapters() const;
  int CheckedCount() const;

  // Turns row `row`'s check over; with `extend`, the rows from the last one
  // turned up to `row` all take its new state.
  void ToggleRow(int row, bool extend);
  void SetAllChecked(bool checked);
  // Checks exactly the chapters not downloaded.
  void CheckNotDownloaded();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool IsChecked(int row) const;
  void SetChecked(int row, bool checked);
  void UpdateCount();

  std::vector<download::ChapterLink> chapters_;
  std::vector<ChapterMarks> marks_;
  QTreeWidget* list_ = nullptr;
  QLabel* count_label_ = nullptr;
  QPushButton* download_button_ = nullptr;
  // The row turned last, where a Shift range starts; -1 before the first.
  int anchor_ = -1;
};

}  // namespace vexel::app
