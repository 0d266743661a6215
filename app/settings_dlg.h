// SettingsDlg: every setting of the window in one dialog (设置…).
//
//   下载到   the download folder: a line edit, 浏览… (a folder chooser) and
//            恢复默认 (empty: the program's own rule, shown greyed inside)
//   主页     the page the window starts on without --site (empty: the
//            built-in one, shown greyed inside)
//   跳过已下载的图片, 同时下载 (1 to 8), 打包为CBZ, 页码补零, 按漫画分文件夹,
//   启动时检查更新
//   请求间隔 seconds, or A-B (empty: no pause); 限速 bytes/s with k or M
//            (empty: no cap)
//   确定 / 取消
//
// The dialog only edits a copy; whoever opened it saves Chosen() on 确定.
// 确定 stays disabled while the folder is not an absolute path, the home
// page is not an http or https address, or the gap or the rate cannot be
// read.
#pragma once

#include <QDialog>

#include "app/settings.h"

class QCheckBox;
class QDialogButtonBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace vexel::app {

class SettingsDlg : public QDialog {
  Q_OBJECT

 public:
  explicit SettingsDlg(Settings settings, QWidget* parent = nullptr);

  // The settings as the dialog's fields show them, cleaned as Load cleans
  // them.
  Settings Chosen() const;

  QLineEdit* FolderBox() const { return folder_box_; }
  QPushButton* BrowseButton() const { return browse_button_; }
  QPushButton* DefaultFolderButton() const { return default_folder_button_; }
  QLineEdit* HomePageBox() const { return home_page_box_; }
  QCheckBox* SkipExistingBox() const { return skip_existing_box_; }
  QSpinBox* JobsBox() const { return jobs_box_; }
  QCheckBox* PackCbzBox() const { return pack_cbz_box_; }
  QCheckBox* CheckAtStartBox() const { return check_at_start_box_; }
  QCheckBox* PauseQueueAtStartBox() const { return pause_queue_box_; }
  QCheckBox* PadPagesBox() const { return pad_pages_box_; }
  QCheckBox* SeriesFoldersBox() const { return series_folders_box_; }
  QLineEdit* RequestGapBox() const { return request_gap_box_; }
  QLineEdit* RateLimitBox() const { return rate_limit_box_; }
  QDialogButtonBox* Buttons() const { return buttons_; }

 private:
  void OnBrowse();
  void UpdateOkButton();

  Settings settings_;
  QLineEdit* folder_box_ = nullptr;
  QPushButton* browse_button_ = nullptr;
  QPushButton* default_folder_button_ = nullptr;
  QLineEdit* home_page_box_ = nullptr;
  QCheckBox* skip_existing_box_ = nullptr;
  QSpinBox* jobs_box_ = nullptr;
  QCheckBox* pack_cbz_box_ = nullptr;
  QCheckBox* check_at_start_box_ = nullptr;
  QCheckBox* pause_queue_box_ = nullptr;
  QCheckBox* pad_pages_box_ = nullptr;
  QCheckBox* series_folders_box_ = nullptr;
  QLineEdit* request_gap_box_ = nullptr;
  QLineEdit* rate_limit_box_ = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
};

}  // namespace vexel::app
