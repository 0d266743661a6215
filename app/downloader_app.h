// CDownloaderApp: the application object. It runs the whole program from
// InitInstance: the main window as a modal dialog, and the end of the program
// when the dialog ends.
#pragma once

#include <QApplication>

namespace vexel::app {

class CDownloaderApp : public QApplication {
  Q_OBJECT

 public:
  CDownloaderApp(int& argc, char** argv);

  // Runs the program; returns false, as there is nothing left to run after
  // the window has closed.
  bool InitInstance();

  // The program's exit status: 0, or 2 after a bad command line.
  int ExitCode() const { return exit_code_; }

 private:
  int argc_;
  char** argv_;
  int exit_code_ = 0;
};

}  // namespace vexel::app
