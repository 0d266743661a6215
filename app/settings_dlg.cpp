#include "app/settings_dlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSizePolicy>
#include <QSpinBox>

#include <string>
#include <string_view>
#include <utility>

#include "app/app_options.h"
#include "files/program_output_directory.h"

namespace vexel::app {

SettingsDlg::SettingsDlg(Settings settings, QWidget* parent)
    : QDialog(parent), settings_(std::move(settings)) {
  setWindowTitle(QStringLiteral("设置"));

  // Empty fields stand for the defaults, which they show greyed.
  folder_box_ = new QLineEdit(settings_.download_folder, this);
  folder_box_->setPlaceholderText(QString::fromStdString(files::PreferredProgramOutputDirectory()));
  folder_box_->setMinimumWidth(320);
  browse_button_ = new QPushButton(QStringLiteral("浏览…"), this);
  default_folder_button_ = new QPushButton(QStringLiteral("恢复默认"), this);
  auto* folder_row = new QHBoxLayout;
  folder_row->addWidget(folder_box_, 1);
  folder_row->addWidget(browse_button_);
  folder_row->addWidget(default_folder_button_);

  const std::string_view built_in = BuiltInSiteHomeUrl();
  home_page_box_ = new QLineEdit(settings_.home_page, this);
  home_page_box_->setPlaceholderText(
      QString::fromUtf8(built_in.data(), static_cast<qsizetype>(built_in.size())));

  skip_existing_box_ = new QCheckBox(QStringLiteral("跳过已下载的图片"), this);
  skip_existing_box_->setChecked(settings_.skip_existing);
  jobs_box_ = new QSpinBox(this);
  jobs_box_->setRange(Settings::kMinJobs, Settings::kMaxJobs);
  jobs_box_->setValue(settings_.jobs);
  // A number from 1 to 8 needs no more room than its box's own; the form
  // would stretch it across the dialog.
  jobs_box_->setSizePolicy(QSizePolicy::Fixed, jobs_box_->sizePolicy().verticalPolicy());
  pack_cbz_box_ = new QCheckBox(QStringLiteral("打包为CBZ"), this);
  pack_cbz_box_->setChecked(settings_.pack_cbz);
  check_at_start_box_ = new QCheckBox(QStringLiteral("启动时检查更新"), this);
  check_at_start_box_->setChecked(settings_.check_at_start);
  pause_queue_box_ = new QCheckBox(QStringLiteral("启动时暂停队列"), this);
  pause_queue_box_->setChecked(settings_.pause_queue_at_start);
  pad_pages_box_ = new QCheckBox(QStringLiteral("页码补零"), this);
  pad_pages_box_->setChecked(settings_.pad_pages);
  series_folders_box_ = new QCheckBox(QStringLiteral("按漫画分文件夹"), this);
  series_folders_box_->setChecked(settings_.series_folders);
  request_gap_box_ = new QLineEdit(Settings::RequestGapText(settings_.request_gap), this);
  request_gap_box_->setPlaceholderText(QStringLiteral("秒，或范围如 1-3；空为不等待"));
  rate_limit_box_ = new QLineEdit(Settings::RateLimitText(settings_.rate_limit), this);
  rate_limit_box_->setPlaceholderText(QStringLiteral("字节/秒，如 500k、2M；空为不限速"));

  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  // The captions are the program's own, whatever language Qt's texts are in.
  buttons_->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
  buttons_->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));

  auto* form = new QFormLayout(this);
  form->addRow(QStringLiteral("下载到"), folder_row);
  form->addRow(QStringLiteral("主页"), home_page_box_);
  form->addRow(skip_existing_box_);
  form->addRow(QStringLiteral("同时下载"), jobs_box_);
  form->addRow(pack_cbz_box_);
  form->addRow(check_at_start_box_);
  form->addRow(pause_queue_box_);
  form->addRow(pad_pages_box_);
  form->addRow(series_folders_box_);
  form->addRow(QStringLiteral("请求间隔"), request_gap_box_);
  form->addRow(QStringLiteral("限速"), rate_limit_box_);
  form->addRow(buttons_);

  connect(browse_button_, &QPushButton::clicked, this, [this] { OnBrowse(); });
  connect(default_folder_button_, &QPushButton::clicked, folder_box_, &QLineEdit::clear);
  connect(folder_box_, &QLineEdit::textChanged, this, [this] { UpdateOkButton(); });
  connect(home_page_box_, &QLineEdit::textChanged, this, [this] { UpdateOkButton(); });
  connect(request_gap_box_, &QLineEdit::textChanged, this, [this] { UpdateOkButton(); });
  connect(rate_limit_box_, &QLineEdit::textChanged, this, [this] { UpdateOkButton(); });
  connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  UpdateOkButton();
}

Settings SettingsDlg::Chosen() const {
  Settings chosen = settings_;
  chosen.download_folder = Settings::UsableFolder(folder_box_->text());
  chosen.home_page = Settings::UsableHomePage(home_page_box_->text());
  chosen.skip_existing = skip_existing_box_->isChecked();
  chosen.jobs = jobs_box_->value();
  chosen.pack_cbz = pack_cbz_box_->isChecked();
  chosen.check_at_start = check_at_start_box_->isChecked();
  chosen.pause_queue_at_start = pause_queue_box_->isChecked();
  chosen.pad_pages = pad_pages_box_->isChecked();
  chosen.series_folders = series_folders_box_->isChecked();
  // 确定 is disabled while either cannot be read; the setting's default then.
  chosen.request_gap = Settings::ParseRequestGap(request_gap_box_->text()).value_or(net::PaceGap{});
  chosen.rate_limit = Settings::ParseRateLimit(rate_limit_box_->text()).value_or(0);
  return chosen;
}

void SettingsDlg::OnBrowse() {
  QString start = Settings::UsableFolder(folder_box_->text());
  if (start.isEmpty()) {
    start = folder_box_->placeholderText();
  }
  const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("下载到"), start);
  if (!folder.isEmpty()) {
    folder_box_->setText(folder);
  }
}

void SettingsDlg::UpdateOkButton() {
  // Something typed must be usable; nothing typed means the default.
  const bool folder_ok = folder_box_->text().trimmed().isEmpty() ||
                         !Settings::UsableFolder(folder_box_->text()).isEmpty();
  const bool home_page_ok = home_page_box_->text().trimmed().isEmpty() ||
                            !Settings::UsableHomePage(home_page_box_->text()).isEmpty();
  const bool pace_ok = Settings::ParseRequestGap(request_gap_box_->text()).has_value() &&
                       Settings::ParseRateLimit(rate_limit_box_->text()).has_value();
  buttons_->button(QDialogButtonBox::Ok)->setEnabled(folder_ok && home_page_ok && pace_ok);
}

}  // namespace vexel::app
