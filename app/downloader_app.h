// CDownloaderApp: the application object. It runs the whole program from
// InitInstance: the main window as a modal dialog, and the end of the program
// when the dialog ends.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QTranslator>

namespace vexel::app {

// Qt's own texts (the standard buttons such as 确定, the file dialogs, the
// browser view's context menu) in Chinese, like the program's own texts,
// whatever language the system runs in: a window half in English and half
// in Chinese reads as broken. Installed for as long as the object lives.
class ChineseQtTexts {
 public:
  ChineseQtTexts();
  ~ChineseQtTexts() = default;
  ChineseQtTexts(const ChineseQtTexts&) = delete;
  ChineseQtTexts& operator=(const ChineseQtTexts&) = delete;
  ChineseQtTexts(ChineseQtTexts&&) = delete;
  ChineseQtTexts& operator=(ChineseQtTexts&&) = delete;

  // False when a catalogue is missing (qt6-translations-l10n not installed);
  // Qt then shows its English texts.
  bool Loaded() const { return base_loaded_ && engine_loaded_; }

 private:
  QTranslator base_;    // qtbase_zh_CN.qm: buttons, file dialogs, ...
  QTranslator engine_;  // qtwebengine_zh_CN.qm: the page's context menu
  bool base_loaded_ = false;
  bool engine_loaded_ = false;
};

// The browser engine's own language (its error pages, form messages and the
// languages pages are asked for) as Chinese. The engine fixes it when the
// first profile is made, so this must run before that.
void UseChineseInTheBrowserEngine();

// `flags` (QTWEBENGINE_CHROMIUM_FLAGS as found) with the engine's language
// set to Chinese, unless the user already chose one there.
QByteArray WithChineseEngineLanguage(const QByteArray& flags);

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
