#include "app/downloader_app.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <string>
#include <vector>

#include "app/app_options.h"
#include "app/browser_profile.h"
#include "app/downloader_dlg.h"

namespace vexel::app {

CDownloaderApp::CDownloaderApp(int& argc, char** argv)
    : QApplication(argc, argv), argc_(argc), argv_(argv) {}

bool CDownloaderApp::InitInstance() {
  // QApplication has taken its own options (-platform and the like) out of
  // argv already; what is left is the program's.
  std::vector<std::string> args;
  for (int i = 1; i < argc_; ++i) {
    args.emplace_back(argv_[i]);
  }
  const ParsedArguments parsed = ParseArguments(args);
  if (parsed.help || !parsed.ok) {
    if (!parsed.ok) {
      std::fprintf(stderr, "vexel-downloader: %s\n", parsed.error.c_str());
    }
    std::fputs(std::string(Usage()).c_str(), parsed.ok ? stdout : stderr);
    exit_code_ = parsed.ok ? 0 : 2;
    return false;
  }

  // The settings key; nothing is ever stored under it.
  setOrganizationName(QStringLiteral("应用程序向导生成的本地应用程序"));
  // The program ends when its dialog ends, not when its last window hides
  // (the window hides at once when closed during a job, and ends later).
  setQuitOnLastWindowClosed(false);

  // Qt's own texts (the message box's OK button and the like) in the user's
  // language, as the rest of the desktop shows them; English where Qt has no
  // translation for it.
  QTranslator qt_texts;
  if (qt_texts.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    installTranslator(&qt_texts);
  }

  BrowserProfile profile;
  {
    DialogOptions options;
    // Without --site the window takes the home page of its settings.
    if (parsed.options.site_given) {
      options.site_home_url = parsed.options.site_home_url;
    }
    CDownloaderDlg dialog(profile, std::move(options));
    dialog.RunModal();
  }
  return false;
}

}  // namespace vexel::app
