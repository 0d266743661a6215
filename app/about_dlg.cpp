#include "app/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/app_icon.h"

namespace vexel::app {
namespace {

// The box's fixed size and the places of its controls, in pixels.
constexpr QSize kBoxSize(411, 158);
constexpr QRect kIconRect(12, 13, 32, 32);
constexpr QRect kVersionRect(137, 50, 208, 22);
constexpr QRect kCopyrightRect(161, 125, 208, 22);
constexpr QRect kOkRect(312, 13, 88, 30);

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("关于Vexel漫画下载器"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(kBoxSize);

  auto* icon = new QLabel(this);
  icon->setPixmap(ProgramIcon().pixmap(kIconRect.size()));
  icon->setGeometry(kIconRect);

  auto* version = new QLabel(QStringLiteral("Vexel漫画下载器 0.01"), this);
  version->setTextFormat(Qt::PlainText);
  version->setGeometry(kVersionRect);

  auto* copyright = new QLabel(QStringLiteral("Copyright (C) 2026 Vexel"), this);
  copyright->setTextFormat(Qt::PlainText);
  copyright->setGeometry(kCopyrightRect);

  auto* ok = new QPushButton(QStringLiteral("确定"), this);
  ok->setGeometry(kOkRect);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace vexel::app
