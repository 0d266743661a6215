// The window tests' program: gives the run a private home (the browser
// profile, the cache and the download folder all live under it), runs the
// browser engine offscreen without its sandbox, and runs each test class, or
// those VEXEL_WINDOW_TESTS names (Shell,Job).
#include <QApplication>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/browser_profile.h"
#include "app/downloader_app.h"
#include "tests/app/window_tests.h"

namespace vexel::app::testing {
extern BrowserProfile* g_profile;
extern std::string g_home;
}  // namespace vexel::app::testing

namespace {

struct TestClass {
  const char* name;
  int (*run)(int argc, char** argv);
};

constexpr TestClass kClasses[] = {
    {"Support", vexel::app::testing::RunSupportTests},
    {"Shell", vexel::app::testing::RunShellTests},
    {"Job", vexel::app::testing::RunJobTests},
    {"LivePage", vexel::app::testing::RunLivePageTests},
    {"Queue", vexel::app::testing::RunQueueTests},
    {"QueueRestart", vexel::app::testing::RunQueueRestartTests},
    {"Settings", vexel::app::testing::RunSettingsTests},
    {"Outcome", vexel::app::testing::RunOutcomeTests},
    {"Shelf", vexel::app::testing::RunShelfTests},
    {"Polite", vexel::app::testing::RunPoliteTests},
};

// `only` empty or null: every class; else the classes it names, separated by
// commas (ctest runs one class per entry, so that a failure names it). A
// name that is no class fails the run rather than running nothing.
int RunClasses(const char* only, int argc, char** argv) {
  std::vector<std::string> wanted;
  std::string names = only != nullptr ? only : "";
  for (std::size_t start = 0; start < names.size();) {
    const std::size_t end = std::min(names.find(',', start), names.size());
    wanted.push_back(names.substr(start, end - start));
    start = end + 1;
  }
  int status = 0;
  for (const std::string& name : wanted) {
    if (std::find_if(std::begin(kClasses), std::end(kClasses), [&](const TestClass& test_class) {
          return name == test_class.name;
        }) == std::end(kClasses)) {
      std::fprintf(stderr, "no window test class named \"%s\"\n", name.c_str());
      status = 1;
    }
  }
  for (const TestClass& test_class : kClasses) {
    if (wanted.empty() ||
        std::find(wanted.begin(), wanted.end(), test_class.name) != wanted.end()) {
      status |= test_class.run(argc, argv);
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  namespace testing = vexel::app::testing;
  // A program started by a test (and killed by it) gets its home from that
  // test, which clears it away.
  char home_template[] = "/tmp/vexel-window-test-XXXXXX";
  const char* given_home = std::getenv("VEXEL_TEST_HOME");
  if (given_home == nullptr && mkdtemp(home_template) == nullptr) {
    return 2;
  }
  const std::string home = given_home != nullptr ? given_home : home_template;
  std::error_code made;
  std::filesystem::create_directories(home, made);
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
    status = testing::IsQueueChild() ? testing::RunQueueChild()
                                     : RunClasses(std::getenv("VEXEL_WINDOW_TESTS"), argc, argv);
    testing::g_profile = nullptr;
    profile.reset();
  }
  if (given_home == nullptr) {
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
  }
  return status;
}
