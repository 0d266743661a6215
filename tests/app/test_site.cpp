#include "tests/app/test_site.h"

#include <httplib.h>

#include <charconv>
#include <cstdlib>

#include "examples/png_image.h"
#include "tests/support/chapter_page.h"
#include "tests/support/local_server.h"

namespace vexel::app::testing {
namespace {

constexpr std::size_t kImageBytes = 1000;
constexpr std::size_t kHeldBack = 900;

const char* const kHtml = "text/html; charset=utf-8";

std::string Page(const std::string& title, const std::string& body) {
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + title +
         "</title></head><body>" + body + "</body></html>";
}

// The digits a route's pattern matched; 0 for a number too large for int.
int Number(const std::string& digits) {
  int value = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), value);
  return value;
}

}  // namespace

TestSite::TestSite() : local_(std::make_unique<vexel::testing::LocalServer>()) {
  httplib::Server& server = local_->server;
  // The browser keeps its connections open; enough workers and a short idle
  // time keep held image requests from starving the page requests.
  // httplib takes ownership of the queue it is handed.
  server.new_task_queue = [] {
    return new httplib::ThreadPool(24);  // NOLINT(cppcoreguidelines-owning-memory)
  };
  server.set_keep_alive_timeout(1);
  server.set_tcp_nodelay(true);  // no delayed-acknowledgement stall per request

  server.Get("/home/", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(Page("home", R"(<p id="here">home</p><a id="next" href="next.html">next</a>)"),
                    kHtml);
  });
  server.Get("/home/next.html", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(Page("next", "<p id=\"here\">next</p>"), kHtml);
  });
  server.Get(R"(/chapter/(\d+)\.html)", [](const httplib::Request& req, httplib::Response& res) {
    res.set_content(vexel::testing::BareChapterPage(
                        "您正在看：测试章节 >共" + req.matches[1].str() + "页", "pics/1.png"),
                    kHtml);
  });
  server.Get(R"(/chapter/pics/(\d+)\.png)",
             [this](const httplib::Request& req, httplib::Response& res) {
               const std::string number = req.matches[1].str();
               bool hold = false;
               {
                 std::lock_guard lock(mutex_);
                 image_requests_.push_back(
                     {req.path, req.get_header_value("User-Agent"), req.get_header_value("Cookie"),
                      req.get_header_value("Referer"), std::chrono::steady_clock::now()});
                 hold = holding_ && Number(number) >= hold_from_;
                 ++in_flight_;
               }
               std::string body = ImageBody(number);
               res.set_content_provider(
                   kImageBytes, "image/png",
                   [this, body, hold](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                     if (offset == 0 && hold) {
                       sink.write(body.data(), kImageBytes - kHeldBack);
                       return true;
                     }
                     if (hold) {
                       std::unique_lock lock(mutex_);
                       released_.wait(lock, [this] { return !holding_ || stopping_; });
                       if (stopping_) {
                         return false;
                       }
                     }
                     sink.write(body.data() + offset, kImageBytes - offset);
                     return true;
                   },
                   [this](bool) {
                     std::lock_guard lock(mutex_);
                     --in_flight_;
                   });
             });
  server.Get("/comic/", [this](const httplib::Request&, httplib::Response& res) {
    std::string links = R"(<p><a href="/home/">home</a></p><ul>)";
    const int count = comic_chapters_.load();
    for (int chapter = 1; chapter <= count; ++chapter) {
      const std::string number = std::to_string(chapter);
      links.append("<li><a id=\"ch").append(number).append("\" href=\"").append(number);
      links.append(".html\">第").append(number).append("话</a></li>");
    }
    res.set_content(Page("comic", links + "</ul>"), kHtml);
  });
  server.Get(R"(/comic/(\d+)\.html)", [](const httplib::Request& req, httplib::Response& res) {
    const int chapter = Number(req.matches[1].str());
    std::string page =
        vexel::testing::BareChapterPage("您正在看：测试漫画 第" + std::to_string(chapter) +
                                            "话 >共" + std::to_string(chapter + 1) + "页",
                                        "../chapter/pics/1.png");
    // Like pages that hold their content back until they are seen: the
    // chapter line stays only on a page that counts as visible.
    page.insert(page.rfind("</body>"),
                "<script>if (document.visibilityState !== 'visible') "
                "document.querySelector('.stauts_left').remove();</script>");
    res.set_content(page, kHtml);
  });
  server.Get("/popup.html", [](const httplib::Request& req, httplib::Response& res) {
    const std::string to = req.get_param_value("to");
    res.set_content(Page("popup", R"(<a id="pop" target="_blank" href=")" + to + "\">pop</a>"),
                    kHtml);
  });
  server.Get("/controls.html", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(
        Page("controls",
             "<button id=\"go\" onclick=\"document.title='clicked'\">go</button>"
             "<select id=\"pick\"><option>a</option><option>b</option><option>c</option></select>"
             "<input id=\"field\" value=\"old\"><textarea id=\"area\"></textarea>"
             "<p id=\"shown\">seen</p><div id=\"gone\" style=\"display:none\"><span>unseen</span>"
             "</div><!-- note --><div style=\"position:fixed\">pinned</div>"),
        kHtml);
  });
  server.Get("/slow.html", [local = local_.get()](const httplib::Request&, httplib::Response& res) {
    local->WaitForRelease();
    res.set_content(Page("slow", "<p>slow</p>"), kHtml);
  });
  server.Get("/cookie.html", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Set-Cookie", "session=abc123; Path=/");
    res.set_content(Page("cookie", "<p>cookie set</p>"), kHtml);
  });

  if (!local_->Start()) {
    return;  // Base() stays empty; the tests fail on it
  }
  base_ = local_->Url("/");
}

TestSite::~TestSite() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  released_.notify_all();
  local_.reset();
}

std::string TestSite::Url(const std::string& path) const { return base_ + path; }

void TestSite::HoldImagesFrom(int first_page) {
  std::lock_guard lock(mutex_);
  holding_ = true;
  hold_from_ = first_page;
}

void TestSite::Release() {
  {
    std::lock_guard lock(mutex_);
    holding_ = false;
  }
  released_.notify_all();
  local_->Release();
}

std::string TestSite::ImageBody(const std::string& number) {
  // A whole image, as a page file must be to count as stored.
  const auto shade = static_cast<std::uint8_t>(number.back());
  std::string body = sample::EncodePng({1, 1, {shade}}, kImageBytes);
  body.resize(kImageBytes);
  return body;
}

std::vector<ImageRequest> TestSite::ImageRequests() const {
  std::lock_guard lock(mutex_);
  return image_requests_;
}

void TestSite::ClearImageRequests() {
  std::lock_guard lock(mutex_);
  image_requests_.clear();
}

int TestSite::ImagesInFlight() const {
  std::lock_guard lock(mutex_);
  return in_flight_;
}

}  // namespace vexel::app::testing
