// CAboutDlg: the about box, opened from the window's menu or with F1.
#pragma once

#include <QDialog>

namespace vexel::app {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace vexel::app
