// A small site on 127.0.0.1 for the window tests, with pages the sample comic
// site does not have: a chapter whose images can be held back (so a job can be
// caught in the middle), a comic whose chapters share those images, pages that
// ask for new windows, a page with controls
// for the action queries, and a page that sets a cookie. It records the
// headers of every image request.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vexel::testing {
class LocalServer;
}

namespace vexel::app::testing {

struct ImageRequest {
  std::string path;
  std::string user_agent;
  std::string cookie;
  std::string referer;
  std::chrono::steady_clock::time_point when;
};

class TestSite {
 public:
  // Pages (UTF-8):
  //   /home/                  the home page, with links to /home/next.html
  //   /home/next.html         a second page
  //   /chapter/N.html         a chapter of N pages titled "测试章节"; its images
  //                           are /chapter/pics/K.png
  //   /chapter/pics/K.png     image K: 1000 bytes "K" repeated; while the site
  //                           is holding images, the first 100 bytes go out at
  //                           once and the rest only once released
  //   /comic/                 a comic's page "comic": links to its chapters
  //                           /comic/1.html to /comic/3.html ("第1话" to
  //                           "第3话", ids "ch1" to "ch3"; as many as
  //                           SetComicChapters says) and one to /home/
  //   /comic/K.html           chapter K of that comic, titled "测试漫画 第K话",
  //                           of K+1 pages; its images are those of /chapter/;
  //                           its chapter line stays only while the page
  //                           counts as visible
  //   /popup.html?to=ADDRESS  a link with target=_blank to ADDRESS (id "pop")
  //   /controls.html          a button (id "go") that writes "clicked" into
  //                           the title, a select (id "pick") with options
  //                           a, b, c, an input (id "field"), a text area (id
  //                           "area"), hidden text, a display:none div and a
  //                           fixed-position div
  //   /cookie.html            sets cookie "session=abc123" on path /
  //   /slow.html              a page that arrives once Release() is called
  TestSite();
  ~TestSite();
  TestSite(const TestSite&) = delete;
  TestSite& operator=(const TestSite&) = delete;

  // "http://127.0.0.1:PORT/"
  const std::string& Base() const { return base_; }
  std::string Url(const std::string& path) const;  // path without a leading "/"

  // Requests for images numbered `first_page` or more start holding their
  // bodies back until Release(), which also lets /slow.html arrive (from
  // then on at once).
  void HoldImagesFrom(int first_page);
  void Release();

  // How many chapters /comic/ lists from now on (3 at first).
  void SetComicChapters(int count) { comic_chapters_ = count; }

  std::vector<ImageRequest> ImageRequests() const;
  // The body of chapter image `number`: a whole PNG of a fixed size.
  static std::string ImageBody(const std::string& number);
  void ClearImageRequests();
  // Image requests whose bodies have not been sent in full (held, or cut off
  // by the client).
  int ImagesInFlight() const;

 private:
  // Stopped first of all in the destructor, once held requests are let go.
  std::unique_ptr<vexel::testing::LocalServer> local_;
  std::string base_;

  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool holding_ = false;
  int hold_from_ = 1;
  bool stopping_ = false;
  int in_flight_ = 0;
  std::vector<ImageRequest> image_requests_;
  std::atomic<int> comic_chapters_{3};
};

}  // namespace vexel::app::testing
