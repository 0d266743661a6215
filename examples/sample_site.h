// The bundled sample comic site: two comics laid out like the target site, so
// the window, vexel-dl, the tests and the benchmark have something real to
// download from without touching the internet.
//
//   /                         home page, lists the comics
//   /list/K/                  category K, lists its comics
//   /comic/C/                 comic C's page: navigation, categories, the
//                             chapter list, a "start reading" link, a
//                             comment pager and other comics
//   /comic/C/H.html[?p=N]     chapter H, showing page N (default 1), with the
//                             chapter line, the page image and links to the
//                             neighbouring pages
//   /comic/C/pics/chH/N.png   page image N of chapter H
//
// Pages are GBK-encoded and served with "charset=gbk"; images are PNGs with
// the page number drawn on them.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace vexel::sample {

struct SampleChapter {
  std::string name;  // UTF-8, as the chapter line shows it
  int pages = 0;
};

struct SampleComic {
  std::string name;
  std::vector<SampleChapter> chapters;
};

struct SampleSiteOptions {
  // Page count of 星际旅人's chapters from 第3话 on, whose length is adjustable.
  int long_chapter_pages = 12;
  // Chapter count of 星际旅人 (at least its first three): 第4话 and later come
  // after them, so a whole comic can be as long as a benchmark needs.
  int comic_chapters = 12;
  // Each image is padded to at least this many bytes (0: natural size, a few KB).
  std::size_t image_bytes = 0;
  // Images answer 403 unless the request's Referer is a page of this site, as
  // sites that refuse hot-linking do.
  bool require_referer = false;
  // Page numbers whose images answer 404 in every chapter.
  std::vector<int> missing_pages;

  // Faults of a slow or struggling server, for the downloader's retries and
  // for the benchmark.
  //
  // Every image request is answered this many milliseconds late.
  int image_delay_ms = 0;
  // The first this many requests of each image (counted per path since the
  // site started) answer 503; later ones are served.
  int fail_first = 0;
  // The Retry-After (seconds) sent with those 503s; negative: none.
  int retry_after_seconds = -1;
  // Page numbers whose images answer 200 with an empty image/png body, and
  // page numbers whose images answer 200 with a small text/html page.
  std::vector<int> empty_pages;
  std::vector<int> html_pages;

  // Serves /stats (connections, requests and image requests seen so far) and
  // /stats/reset; requests to these two are not counted.
  bool stats_route = false;
};

struct SiteStats {
  std::size_t connections = 0;  // distinct client address and port pairs
  std::size_t requests = 0;
  std::size_t image_connections = 0;  // connections that carried image requests
  std::size_t image_requests = 0;
  // Image requests per request path ("/comic/1/pics/ch2/3.png").
  std::map<std::string, std::size_t> image_requests_by_path;
};

class SampleSite {
 public:
  explicit SampleSite(SampleSiteOptions options = {});
  ~SampleSite();
  SampleSite(const SampleSite&) = delete;
  SampleSite& operator=(const SampleSite&) = delete;

  // False when the pages could not be converted to GBK (no converter).
  bool ok() const { return ok_; }

  // Adds the site's routes and a pre-routing handler that counts requests to
  // `server`, and lets a connection carry any number of requests. The site
  // must outlive the server's use of it.
  void Register(httplib::Server& server);

  const std::vector<SampleComic>& Comics() const { return comics_; }

  // "/comic/C/H.html", both counted from 1.
  static std::string ChapterPath(int comic, int chapter);
  // The bytes served for page image `page` of chapter `chapter` of `comic`.
  std::string PageImage(int comic, int chapter, int page) const;

  SiteStats Stats() const;
  void ResetStats();

 private:
  struct Rendered;

  const SampleChapter* FindChapter(int comic, int chapter) const;
  void Count(const std::string& address, int port, const std::string& path, bool image);
  // Counts one more request of the image at `path`; true while that image
  // still answers 503 (fail_first).
  bool FailsThisTime(const std::string& path);
  // Answers a request for /comic/C/pics/chH/N.png.
  void ServeImage(const httplib::Request& request, httplib::Response& response);
  // Answers a request for /comic/C/H.html[?p=N]; false when there is no such
  // view.
  bool ServeChapterView(const httplib::Request& request, httplib::Response& response) const;

  SampleSiteOptions options_;
  std::vector<SampleComic> comics_;
  std::unique_ptr<Rendered> rendered_;
  bool ok_ = false;

  mutable std::mutex stats_mutex_;
  std::set<std::pair<std::string, int>> peers_;
  std::set<std::pair<std::string, int>> image_peers_;
  SiteStats stats_;
  // Requests per image path for fail_first; unlike stats_, never reset.
  std::map<std::string, int> image_tries_;
};

// The site served on 127.0.0.1 at a free port by a server thread of its own,
// for tests: up once constructed, stopped and joined on destruction.
class SampleSiteServer {
 public:
  explicit SampleSiteServer(SampleSiteOptions options = {});
  ~SampleSiteServer();
  SampleSiteServer(const SampleSiteServer&) = delete;
  SampleSiteServer& operator=(const SampleSiteServer&) = delete;

  bool ok() const;
  int Port() const;
  // "http://127.0.0.1:PORT/"
  const std::string& BaseAddress() const;
  // BaseAddress() without its last "/" followed by ChapterPath(comic, chapter).
  std::string ChapterAddress(int comic, int chapter) const;
  SampleSite& Site();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vexel::sample
