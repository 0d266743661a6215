// The window tests' program: gives the run a private home (the browser
// profile, the cache and the download folder all live under it), runs the
// browser engine offscreen without its sandbox, and runs each test class.
#include <QApplication>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/browser_profile.h"
#include "app/downloader_app.h"
#include "tests/app/window_tests.h"

namespace vexel::app::testing {
extern BrowserProfile* g_profile;
extern std::string g_home;
}  // namespace vexel::app::testing

int main(int argc, char** argv) {
  namespace testing = vexel::app::testing;
  char home_template[] = "/tmp/vexel-window-test-XXXXXX";
  if (mkdtemp(home_template) == nullptr) {
    return 2;
  }
  const std::string home = home_template;
  testing::g_home = home;
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
  setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
  setenv("XDG_DOWNLOAD_DIR", (home + "/Downloads").c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  setenv("QTWEBENGINE_CHROMIUM_FLAGS",
         "--disable-gpu --disable-background-networking --disable-component-update", 0);

  int status = 0;
  {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    vexel::app::UseChineseInTheBrowserEngine();  // as the program does, before the profile
    auto profile = std::make_unique<vexel::app::BrowserProfile>();
    testing::g_profile = profile.get();
    // VEXEL_WINDOW_TESTS=Shell,Job runs only those classes (for debugging).
    const char* only = std::getenv("VEXEL_WINDOW_TESTS");
    auto wanted = [only](const char* name) {
      return only == nullptr || std::string(only).find(name) != std::string::npos;
    };
    if (wanted("Support")) {
      status |= testing::RunSupportTests(argc, argv);
    }
    if (wanted("Shell")) {
      status |= testing::RunShellTests(argc, argv);
    }
    if (wanted("Job")) {
      status |= testing::RunJobTests(argc, argv);
    }
    if (wanted("LivePage")) {
      status |= testing::RunLivePageTests(argc, argv);
    }
    if (wanted("Queue")) {
      status |= testing::RunQueueTests(argc, argv);
    }
    if (wanted("Settings")) {
      status |= testing::RunSettingsTests(argc, argv);
    }
    testing::g_profile = nullptr;
    profile.reset();
  }
  std::error_code ignored;
  std::filesystem::remove_all(home, ignored);
  return status;
}
