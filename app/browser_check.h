// A site's browser check: its chapter page answered 403 or 503 with a web page
// of its own (a challenge to pass, or a form to fill in), not the chapter. The
// download cannot get past it; the user can, in the window, and the cookies
// then serve the downloads.
#pragma once

#include <atomic>

class QWebEnginePage;

namespace vexel::app {

// The log's line when a job meets one.
inline constexpr char kLogBrowserCheck[] =
    "网站要求浏览器验证，请在窗口中打开该页面完成验证后再下载\r\n";

class BrowserCheckWatch {
 public:
  // Follows the loads of `page`'s main frame from now on (user-interface
  // thread); the connection goes with the page.
  void Follow(QWebEnginePage* page);
  // True when the page's last load ended on a 403 or 503 that the site sent
  // a page with (the engine's own error page for an empty one is no check).
  // Any thread.
  bool AsksForCheck() const { return check_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> check_{false};
};

}  // namespace vexel::app
