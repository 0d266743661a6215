#include "app/downloader_app.h"

#include <QByteArrayList>
#include <QLibraryInfo>
#include <QLocale>
#include <QtGlobal>

#include <cstdio>
#include <string>
#include <vector>

#include "app/app_options.h"
#include "app/browser_profile.h"
#include "app/downloader_dlg.h"

namespace vexel::app {

namespace {

QLocale Chinese() { return {QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China}; }
constexpr char kEngineFlagsVariable[] = "QTWEBENGINE_CHROMIUM_FLAGS";

bool LoadQtCatalogue(QTranslator& translator, const QString& name) {
  if (!translator.load(Chinese(), name, QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    qWarning(
        "vexel-downloader: Qt's Chinese texts (%s_zh_CN.qm) are missing; Qt's own texts "
        "stay in English",
        qPrintable(name));
    return false;
  }
  return QCoreApplication::installTranslator(&translator);
}

}  // namespace

ChineseQtTexts::ChineseQtTexts()
    : base_loaded_(LoadQtCatalogue(base_, QStringLiteral("qtbase"))),
      engine_loaded_(LoadQtCatalogue(engine_, QStringLiteral("qtwebengine"))) {}

QByteArray WithChineseEngineLanguage(const QByteArray& flags) {
  for (const QByteArray& flag : flags.split(' ')) {
    if (flag == "--lang" || flag.startsWith("--lang=")) {
      return flags;
    }
  }
  QByteArray with = flags.trimmed();
  if (!with.isEmpty()) {
    with += ' ';
  }
  return with + "--lang=zh-CN";
}

void UseChineseInTheBrowserEngine() {
  // The engine fixes its language as it starts: from --lang among its flags,
  // else from the default locale, which would give plain "zh" rather than
  // zh-CN. The default locale is Qt's own widgets' too (dates and numbers in
  // the file dialog and the spin boxes).
  QLocale::setDefault(Chinese());
  qputenv(kEngineFlagsVariable, WithChineseEngineLanguage(qgetenv(kEngineFlagsVariable)));
}

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

  const ChineseQtTexts qt_texts;
  // The desktop's own file dialogs speak the system's language; Qt's own
  // dialog speaks Chinese through the catalogues above.
  setAttribute(Qt::AA_DontUseNativeDialogs);
  UseChineseInTheBrowserEngine();

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
