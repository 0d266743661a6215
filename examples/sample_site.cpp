#include "examples/sample_site.h"

#include <httplib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <thread>

#include "examples/gbk_text.h"
#include "examples/png_image.h"

namespace vexel::sample {
namespace {

constexpr const char* kHtmlType = "text/html; charset=gbk";
constexpr const char* kSiteName = "Vexel示例漫画站";
// What a server that lost its image store might send in an image's place.
constexpr const char* kHtmlInPlaceOfImage =
    "<!DOCTYPE html><html><head><title>Image not available</title></head>"
    "<body><p>This image is not available right now.</p></body></html>\n";

bool Contains(const std::vector<int>& pages, int page) {
  return std::find(pages.begin(), pages.end(), page) != pages.end();
}

std::string EscapeHtml(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string PageHead(std::string_view title) {
  return "<!DOCTYPE html>\n<html><head>"
         "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">"
         "<title>" +
         EscapeHtml(title) + "</title></head>\n<body>\n";
}

constexpr const char* kPageFoot = "</body></html>\n";

std::string ComicPath(int comic) { return "/comic/" + std::to_string(comic) + "/"; }

// The site's categories, /list/1/ to /list/5/.
constexpr std::array<const char*, 5> kCategories = {"热血", "科幻", "冒险", "日常", "完结"};
// The pages of the comment pager on a comic's page.
constexpr int kCommentPages = 3;

std::string CategoryPath(std::size_t category) { return "/list/" + std::to_string(category) + "/"; }

// The category (1-based) that comic `comic_number` belongs to.
std::size_t CategoryOf(int comic_number) { return comic_number % 2 == 1 ? 2 : 4; }

// The comics of `category`, or all of them for 0.
std::string ComicLinks(const std::vector<SampleComic>& comics, std::size_t category) {
  std::string html = "<ul class=\"comics\">\n";
  for (std::size_t c = 0; c < comics.size(); ++c) {
    if (category == 0 || CategoryOf(static_cast<int>(c + 1)) == category) {
      html += "<li><a href=\"" + ComicPath(static_cast<int>(c + 1)) + "\">" +
              EscapeHtml(comics[c].name) + "</a></li>\n";
    }
  }
  return html + "</ul>\n";
}

std::string HomePage(const std::vector<SampleComic>& comics) {
  std::string html = PageHead(kSiteName);
  html += "<h1>" + std::string(kSiteName) + "</h1>\n<p>本站的漫画仅供试用下载器。</p>\n";
  html += ComicLinks(comics, 0);
  return html + kPageFoot;
}

std::string CategoryLinks() {
  std::string html = "<div class=\"categories\">分类：";
  for (std::size_t k = 0; k < kCategories.size(); ++k) {
    html += std::string(k > 0 ? " " : "") + "<a href=\"" + CategoryPath(k + 1) + "\">" +
            kCategories[k] + "</a>";
  }
  return html + "</div>\n";
}

std::string CategoryPage(const std::vector<SampleComic>& comics, std::size_t category) {
  const std::string name = kCategories[category - 1];
  std::string html = PageHead(name + " - " + kSiteName);
  html += "<div class=\"nav\"><a href=\"/\">首页</a> &gt; " + name + "</div>\n" + CategoryLinks();
  html += "<h1>" + name + "</h1>\n" + ComicLinks(comics, category);
  return html + kPageFoot;
}

// A comic's page as comic sites lay it out: navigation and categories above
// the chapter list, a "start reading" link to the first chapter below it,
// then the comments with their own pager and other comics. Only the chapter
// list is a large group of like addresses.
std::string ChapterListPage(const std::vector<SampleComic>& comics, int comic_number) {
  const SampleComic& comic = comics[static_cast<std::size_t>(comic_number - 1)];
  const std::size_t category = CategoryOf(comic_number);
  std::string html = PageHead(comic.name + " - " + kSiteName);
  html += "<div class=\"nav\"><a href=\"/\">首页</a> &gt; <a href=\"" + CategoryPath(category) +
          "\">" + kCategories[category - 1] + "</a> &gt; <a href=\"" + ComicPath(comic_number) +
          "\">" + EscapeHtml(comic.name) + "</a></div>\n";
  html += CategoryLinks();
  html += "<h1>" + EscapeHtml(comic.name) + "</h1>\n<p class=\"info\">共" +
          std::to_string(comic.chapters.size()) + "话</p>\n<ul class=\"chapters\">\n";
  for (std::size_t h = 0; h < comic.chapters.size(); ++h) {
    const SampleChapter& chapter = comic.chapters[h];
    html += "<li><a href=\"" + SampleSite::ChapterPath(comic_number, static_cast<int>(h + 1)) +
            "\">" + EscapeHtml(chapter.name) + "</a>（" + std::to_string(chapter.pages) +
            "页）</li>\n";
  }
  html += "</ul>\n<div class=\"start\"><a href=\"" + SampleSite::ChapterPath(comic_number, 1) +
          "\">开始阅读</a></div>\n";
  html += "<div class=\"comments\"><h2>评论</h2>\n<p>还没有评论。</p>\n<div class=\"pager\">";
  for (int page = 1; page <= kCommentPages; ++page) {
    html += "<a href=\"?page=" + std::to_string(page) + "\">" + std::to_string(page) + "</a> ";
  }
  html += "<a href=\"?page=2\">下一页</a></div></div>\n";
  html += "<div class=\"others\">看了这部漫画的人还看：";
  for (std::size_t c = 0; c < comics.size(); ++c) {
    if (static_cast<int>(c + 1) != comic_number) {
      html += "<a href=\"" + ComicPath(static_cast<int>(c + 1)) + "\">" +
              EscapeHtml(comics[c].name) + "</a> ";
    }
  }
  html += "</div>\n";
  return html + kPageFoot;
}

std::string PagerLinks(int page, int pages) {
  std::string html = "<div class=\"pager\">";
  if (page > 1) {
    html += "<a href=\"?p=" + std::to_string(page - 1) + "\">上一页</a> ";
  }
  html += "第" + std::to_string(page) + "页";
  if (page < pages) {
    html += " <a href=\"?p=" + std::to_string(page + 1) + "\">下一页</a>";
  }
  return html + "</div>\n";
}

// One view of a chapter: the chapter line, page `page`'s image and the pager.
// The image tag keeps class first and src last, as the site's own tags do.
std::string ChapterPage(const SampleComic& comic, int comic_number, const SampleChapter& chapter,
                        int chapter_number, int page) {
  const std::string page_name = "第" + std::to_string(page) + "页";
  std::string html = PageHead(comic.name + " " + chapter.name + " " + page_name);
  html += "<div class=\"nav\"><a href=\"/\">首页</a> &gt; <a href=\"" + ComicPath(comic_number) +
          "\">" + EscapeHtml(comic.name) + "</a></div>\n";
  html += "<div class=\"stauts_left\">您正在看：<a href=\"" + ComicPath(comic_number) + "\">" +
          EscapeHtml(comic.name) + "</a> &gt; <a href=\"" +
          SampleSite::ChapterPath(comic_number, chapter_number) + "\">" + EscapeHtml(chapter.name) +
          "</a> &gt;共" + std::to_string(chapter.pages) + "页</div>\n";
  html += PagerLinks(page, chapter.pages);
  html += R"(<div class="comic"><img class="ImgComic" alt=")" + page_name + "\" src=\"pics/ch" +
          std::to_string(chapter_number) + "/" + std::to_string(page) + ".png\"></div>\n";
  html += PagerLinks(page, chapter.pages);
  return html + kPageFoot;
}

// A decimal number in [1, 1000000], or 0.
int ParseNumber(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > 1000000) {
    return 0;
  }
  return value;
}

}  // namespace

struct SampleSite::Rendered {
  std::map<std::string, std::string> pages;  // "/", "/list/K/" and "/comic/C/"
};

SampleSite::SampleSite(SampleSiteOptions options)
    : options_(std::move(options)), rendered_(std::make_unique<Rendered>()) {
  const int long_pages = std::max(options_.long_chapter_pages, 0);
  comics_ = {
      {"星际旅人", {{"第1话", 5}, {"第2话", 8}, {"第3话", long_pages}}},
      // The second chapter's own name holds " >", which the job turns into "-".
      {"山城故事", {{"第1话", 6}, {"番外 >重逢", 4}}},
  };
  for (int h = 4; h <= options_.comic_chapters; ++h) {
    comics_[0].chapters.push_back({"第" + std::to_string(h) + "话", long_pages});
  }
  // After the extra chapter the story goes on, two pages a chapter.
  for (int h = 2; h <= 11; ++h) {
    comics_[1].chapters.push_back({"第" + std::to_string(h) + "话", 2});
  }

  // The fixed pages are rendered and converted once, and so is the first
  // view of every chapter, so a missing GBK converter (or a name it cannot
  // convert) shows at start-up rather than on the first request. Chapter
  // views are made when asked for: a long comic would take much memory.
  ok_ = true;
  const auto add = [this](std::string& slot, const std::string& utf8) {
    std::optional<std::string> gbk = Utf8ToGbk(utf8);
    ok_ = ok_ && gbk.has_value();
    slot = gbk.value_or(std::string());
  };
  add(rendered_->pages["/"], HomePage(comics_));
  for (std::size_t k = 1; k <= kCategories.size(); ++k) {
    add(rendered_->pages[CategoryPath(k)], CategoryPage(comics_, k));
  }
  for (std::size_t c = 0; c < comics_.size(); ++c) {
    const int comic_number = static_cast<int>(c + 1);
    const SampleComic& comic = comics_[c];
    add(rendered_->pages[ComicPath(comic_number)], ChapterListPage(comics_, comic_number));
    for (std::size_t h = 0; h < comic.chapters.size(); ++h) {
      ok_ = ok_ && Utf8ToGbk(ChapterPage(comic, comic_number, comic.chapters[h],
                                         static_cast<int>(h + 1), 1))
                       .has_value();
    }
  }
}

SampleSite::~SampleSite() = default;

std::string SampleSite::ChapterPath(int comic, int chapter) {
  return ComicPath(comic) + std::to_string(chapter) + ".html";
}

bool SampleSite::ServeChapterView(const httplib::Request& request,
                                  httplib::Response& response) const {
  const int comic = ParseNumber(request.matches[1].str());
  const int chapter = ParseNumber(request.matches[2].str());
  const SampleChapter* found = FindChapter(comic, chapter);
  // Only the chapter's own address: no "/comic/01/1.html".
  if (found == nullptr || request.path != ChapterPath(comic, chapter)) {
    return false;
  }
  const int shown = request.has_param("p") ? ParseNumber(request.get_param_value("p")) : 1;
  if (shown < 1 || shown > std::max(found->pages, 1)) {
    return false;
  }
  std::optional<std::string> view = Utf8ToGbk(
      ChapterPage(comics_[static_cast<std::size_t>(comic - 1)], comic, *found, chapter, shown));
  if (!view) {
    return false;
  }
  response.set_content(std::move(*view), kHtmlType);
  return true;
}

const SampleChapter* SampleSite::FindChapter(int comic, int chapter) const {
  if (comic < 1 || comic > static_cast<int>(comics_.size())) {
    return nullptr;
  }
  const auto& chapters = comics_[static_cast<std::size_t>(comic - 1)].chapters;
  if (chapter < 1 || chapter > static_cast<int>(chapters.size())) {
    return nullptr;
  }
  return &chapters[static_cast<std::size_t>(chapter - 1)];
}

std::string SampleSite::PageImage(int comic, int chapter, int page) const {
  const auto shade = static_cast<std::uint8_t>(0xF8 - 0x14 * ((comic * 3 + chapter) % 5));
  return EncodePng(DrawPageNumber(page, shade), options_.image_bytes);
}

SiteStats SampleSite::Stats() const {
  const std::lock_guard lock(stats_mutex_);
  return stats_;
}

void SampleSite::ResetStats() {
  const std::lock_guard lock(stats_mutex_);
  peers_.clear();
  image_peers_.clear();
  stats_ = {};
}

void SampleSite::Count(const std::string& address, int port, const std::string& path, bool image) {
  const std::lock_guard lock(stats_mutex_);
  peers_.emplace(address, port);
  stats_.connections = peers_.size();
  ++stats_.requests;
  if (image) {
    image_peers_.emplace(address, port);
    stats_.image_connections = image_peers_.size();
    ++stats_.image_requests;
    ++stats_.image_requests_by_path[path];
  }
}

bool SampleSite::FailsThisTime(const std::string& path) {
  if (options_.fail_first <= 0) {
    return false;
  }
  const std::lock_guard lock(stats_mutex_);
  return ++image_tries_[path] <= options_.fail_first;
}

void SampleSite::ServeImage(const httplib::Request& request, httplib::Response& response) {
  if (options_.image_delay_ms > 0) {
    // A slow server: the answer is late, the connection stays busy.
    std::this_thread::sleep_for(std::chrono::milliseconds(options_.image_delay_ms));
  }
  const int comic = ParseNumber(request.matches[1].str());
  const int chapter = ParseNumber(request.matches[2].str());
  const int page = ParseNumber(request.matches[3].str());
  const SampleChapter* found = FindChapter(comic, chapter);
  if (found == nullptr || page < 1 || page > found->pages ||
      Contains(options_.missing_pages, page)) {
    response.status = 404;
    response.set_content("no such image\n", "text/plain");
    return;
  }
  if (options_.require_referer) {
    const std::string site = "http://" + request.get_header_value("Host") + "/";
    if (request.get_header_value("Referer").rfind(site, 0) != 0) {
      response.status = 403;
      response.set_content("images are shown on the site's own pages\n", "text/plain");
      return;
    }
  }
  if (FailsThisTime(request.path)) {
    response.status = 503;
    if (options_.retry_after_seconds >= 0) {
      response.set_header("Retry-After", std::to_string(options_.retry_after_seconds));
    }
    response.set_content("busy, try again later\n", "text/plain");
    return;
  }
  if (Contains(options_.empty_pages, page)) {
    response.set_content(std::string(), "image/png");
    return;
  }
  if (Contains(options_.html_pages, page)) {
    response.set_content(kHtmlInPlaceOfImage, "text/html");
    return;
  }
  response.set_content(PageImage(comic, chapter, page), "image/png");
}

void SampleSite::Register(httplib::Server& server) {
  // Browsers and the downloader fetch a whole chapter over one connection.
  server.set_keep_alive_max_count(1000000);
  // Without it an answer's last small segment waits for the client's delayed
  // acknowledgement, which adds some 40 ms to every request on a reused
  // connection.
  server.set_tcp_nodelay(true);

  // Counted before the answer goes out, so a client that has its answer can
  // read the counts that include it.
  server.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
    if (!(options_.stats_route && request.path.rfind("/stats", 0) == 0)) {
      Count(request.remote_addr, request.remote_port, request.path, request.path.ends_with(".png"));
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });

  if (options_.stats_route) {
    server.Get("/stats", [this](const httplib::Request&, httplib::Response& response) {
      const SiteStats stats = Stats();
      response.set_content("connections " + std::to_string(stats.connections) + "\nrequests " +
                               std::to_string(stats.requests) + "\nimage_connections " +
                               std::to_string(stats.image_connections) + "\nimages " +
                               std::to_string(stats.image_requests) + "\n",
                           "text/plain");
    });
    server.Get("/stats/reset", [this](const httplib::Request&, httplib::Response& response) {
      ResetStats();
      response.set_content("reset\n", "text/plain");
    });
  }

  server.Get(R"(/comic/(\d+)/pics/ch(\d+)/(\d+)\.png)",
             [this](const httplib::Request& request, httplib::Response& response) {
               ServeImage(request, response);
             });

  const auto not_found = [](httplib::Response& response) {
    response.status = 404;
    response.set_content("<html><body>404 Not Found</body></html>\n", "text/html");
  };
  server.Get(R"(/comic/(\d+)/(\d+)\.html)",
             [this, not_found](const httplib::Request& request, httplib::Response& response) {
               if (!ServeChapterView(request, response)) {
                 not_found(response);
               }
             });

  server.Get(
      R"(/.*)", [this, not_found](const httplib::Request& request, httplib::Response& response) {
        if (const auto page = rendered_->pages.find(request.path); page != rendered_->pages.end()) {
          response.set_content(page->second, kHtmlType);
          return;
        }
        not_found(response);
      });
}

// ---------------------------------------------------------------------------

struct SampleSiteServer::Impl {
  explicit Impl(SampleSiteOptions options) : site(std::move(options)) {}

  SampleSite site;
  httplib::Server server;
  int port = -1;
  std::string base_address;
  std::atomic<bool> finished{false};
  std::thread thread;
};

SampleSiteServer::SampleSiteServer(SampleSiteOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {
  impl_->site.Register(impl_->server);
  impl_->port = impl_->server.bind_to_any_port("127.0.0.1");
  if (impl_->port <= 0 || !impl_->site.ok()) {
    impl_->port = -1;
    return;
  }
  impl_->base_address = "http://127.0.0.1:" + std::to_string(impl_->port) + "/";
  impl_->thread = std::thread([impl = impl_.get()] {
    impl->server.listen_after_bind();
    impl->finished = true;
  });
  // stop() only takes effect on a running server, so wait until it runs.
  while (!impl_->server.is_running() && !impl_->finished) {
    std::this_thread::yield();
  }
}

SampleSiteServer::~SampleSiteServer() {
  if (impl_->thread.joinable()) {
    impl_->server.stop();
    impl_->thread.join();
  }
}

bool SampleSiteServer::ok() const { return impl_->port > 0; }
int SampleSiteServer::Port() const { return impl_->port; }
const std::string& SampleSiteServer::BaseAddress() const { return impl_->base_address; }
std::string SampleSiteServer::ChapterAddress(int comic, int chapter) const {
  return "http://127.0.0.1:" + std::to_string(impl_->port) +
         SampleSite::ChapterPath(comic, chapter);
}
SampleSite& SampleSiteServer::Site() { return impl_->site; }

}  // namespace vexel::sample
