// vexel-dl's pace, rate cap, server pauses, refusals, page names, comic
// folders and cookies, run as a process against servers on 127.0.0.1.
#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tests/cli/run_dl.h"
#include "tests/support/file_temp_dir.h"
#include "tests/support/local_server.h"

namespace vexel::cli {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using testing::ListTree;
using testing::TempDir;
using testing::WriteWholeFile;

// A JPEG the job takes as whole, of about `size` bytes.
std::string Jpeg(std::size_t size = 64) {
  return std::string("\xff\xd8\xff\xe0\0\x10JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 20) +
         std::string(size, 'x') + "\xff\xd9";
}

struct Request {
  std::string path;
  std::string host;
  std::string cookie;
  Clock::time_point at;
};

// A chapter of `pages` pages at /c.html, its images at /img/N.jpg (on
// `image_host`, default this server), each answered by `image` (default:
// a small JPEG). Every request is recorded as it arrives.
class ChapterSite {
 public:
  using ImageHandler = std::function<void(int page, int tries, httplib::Response&)>;

  explicit ChapterSite(int pages, ImageHandler image = {}, std::string image_host = {})
      : pages_(pages), image_(std::move(image)), image_host_(std::move(image_host)) {
    server_.server.Get("/c.html", [this](const httplib::Request& request, httplib::Response& res) {
      Record(request);
      const std::string src = image_host_.empty() ? std::string("/img/1.jpg")
                                                  : server_.UrlAt(image_host_, "/img/1.jpg");
      res.set_content(
          "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>"
          "<div class=\"stauts_left\">您正在看：星际旅人 > 第5话 >共" +
              std::to_string(pages_) + "页</div><div><img class=\"ImgComic\" src=\"" + src +
              "\"></div></body></html>",
          "text/html; charset=utf-8");
    });
    server_.server.Get(R"(/img/(\d+)\.jpg)",
                       [this](const httplib::Request& request, httplib::Response& res) {
                         const int page = std::stoi(request.matches[1]);
                         const int tries = Record(request);
                         if (image_) {
                           image_(page, tries, res);
                         } else {
                           res.set_content(Jpeg(), "image/jpeg");
                         }
                       });
    started_ = server_.Start();
  }

  bool ok() const { return started_; }
  std::string Chapter() const { return server_.Url("/c.html"); }
  std::string At(const std::string& host, const std::string& path) const {
    return server_.UrlAt(host, path);
  }
  std::vector<Request> Requests() {
    const std::lock_guard lock(mutex_);
    return requests_;
  }
  int ImageRequests() {
    const std::vector<Request> all = Requests();
    return static_cast<int>(std::count_if(all.begin(), all.end(), [](const Request& request) {
      return request.path.starts_with("/img/");
    }));
  }
  testing::LocalServer& server() { return server_; }

 private:
  // How many requests for this path came before this one.
  int Record(const httplib::Request& request) {
    const std::lock_guard lock(mutex_);
    requests_.push_back({request.path, request.get_header_value("Host"),
                         request.get_header_value("Cookie"), Clock::now()});
    return static_cast<int>(
        std::count_if(requests_.begin(), requests_.end(),
                      [&](const Request& r) { return r.path == request.path; }));
  }

  int pages_;
  ImageHandler image_;
  std::string image_host_;
  std::mutex mutex_;
  std::vector<Request> requests_;
  testing::LocalServer server_;
  bool started_ = false;
};

std::vector<std::string> Files(const std::string& root) {
  const std::set<std::string> tree = ListTree(root);
  return {tree.begin(), tree.end()};
}

TEST(PoliteCommandTest, SleepRequestSpacesEveryStartUnderEightJobs) {
  ChapterSite site(8);
  ASSERT_TRUE(site.ok());
  const TempDir out;
  const auto run = Dl({"-j", "8", "--sleep-request", "0.15", "-o", out.path(), site.Chapter()});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  std::vector<Request> requests = site.Requests();
  ASSERT_EQ(requests.size(), 9U);  // the chapter page and eight images
  std::sort(requests.begin(), requests.end(),
            [](const Request& a, const Request& b) { return a.at < b.at; });
  // The server sees each start a little late, by a delay that varies on a
  // busy machine; over the whole run that delay counts only at its two ends.
  for (std::size_t i = 1; i < requests.size(); ++i) {
    EXPECT_GE(requests[i].at - requests[i - 1].at, milliseconds(100)) << requests[i].path;
  }
  EXPECT_GE(requests.back().at - requests.front().at, milliseconds(8 * 150 - 20));
  // A range is taken; a bad one is a usage error.
  EXPECT_EQ(Dl({"--sleep-request", "0-0.01", "-o", out.path(), site.Chapter()}).exit_status, 0);
  EXPECT_EQ(Dl({"--sleep-request", "2-1", site.Chapter()}).exit_status, 2);
  EXPECT_EQ(Dl({"--limit-rate", "fast", site.Chapter()}).exit_status, 2);
}

TEST(PoliteCommandTest, LimitRateCapsAllTransfersTogether) {
  // Four images of 100 KB at once under 200 KiB/s together: at least about
  // two seconds. Each under a cap of its own would take half a second.
  ChapterSite site(4, [](int, int, httplib::Response& res) {
    res.set_content(Jpeg(std::size_t{100} * 1024), "image/jpeg");
  });
  ASSERT_TRUE(site.ok());
  const TempDir out;
  const Clock::time_point start = Clock::now();
  const auto run = Dl({"-j", "4", "--limit-rate", "200k", "-o", out.path(), site.Chapter()});
  const Clock::duration took = Clock::now() - start;
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(site.ImageRequests(), 4);
  EXPECT_GE(took, milliseconds(1800));
}

TEST(PoliteCommandTest, RetryAfterPausesTheWholeChapter) {
  // Page 1 is answered 429 with Retry-After: 1; page 2 only once that answer
  // has been sent, so the pages after it could start at once but must not.
  std::mutex mutex;
  std::condition_variable sent_cv;
  bool sent = false;
  Clock::time_point refused_at;
  ChapterSite site(6, [&](int page, int tries, httplib::Response& res) {
    if (page == 1 && tries == 1) {
      res.status = 429;
      res.set_header("Retry-After", "1");
      refused_at = Clock::now();
      res.set_content_provider(4, "text/plain",
                               [&](std::size_t, std::size_t, httplib::DataSink& sink) {
                                 sink.write("slow", 4);
                                 {
                                   const std::lock_guard lock(mutex);
                                   sent = true;
                                 }
                                 sent_cv.notify_all();
                                 return true;
                               });
      return;
    }
    if (page == 2) {
      std::unique_lock lock(mutex);
      sent_cv.wait_for(lock, std::chrono::seconds(10), [&] { return sent; });
    }
    res.set_content(Jpeg(), "image/jpeg");
  });
  ASSERT_TRUE(site.ok());
  const TempDir out;
  const auto run = Dl({"-j", "2", "-o", out.path(), site.Chapter()});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  int after = 0;
  for (const Request& request : site.Requests()) {
    if (request.at > refused_at && request.path != "/img/2.jpg") {
      ++after;
      EXPECT_GE(request.at - refused_at, milliseconds(1000)) << request.path;
    }
  }
  EXPECT_EQ(after, 5);                                 // page 1 again, and pages 3 to 6
  EXPECT_EQ(run.out.find("等待"), std::string::npos);  // no new log line
}

TEST(PoliteCommandTest, FiveRefusalsInARowEndTheJob) {
  // Page 1 arrives, then the site answers 403 to every page.
  ChapterSite site(12, [](int page, int, httplib::Response& res) {
    if (page == 1) {
      res.set_content(Jpeg(), "image/jpeg");
    } else {
      res.status = 403;
    }
  });
  ASSERT_TRUE(site.ok());
  const TempDir out;
  const auto run = Dl({"--retries", "0", "-o", out.path(), site.Chapter()});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.out.find("网站拒绝访问（HTTP 403），已停止\n"), std::string::npos) << run.out;
  EXPECT_EQ(site.ImageRequests(), 6);
}

TEST(PoliteCommandTest, PaddedNamesResumeAndComicFoldersHoldTheArchive) {
  ChapterSite site(12);
  ASSERT_TRUE(site.ok());
  const TempDir out;
  ASSERT_EQ(Dl({"-o", out.path(), site.Chapter()}).exit_status, 0);
  const std::vector<std::string> plain = Files(out.path());
  ASSERT_EQ(plain.size(), 13U);               // the folder and 1.jpg … 12.jpg
  const std::string& folder = plain.front();  // ends in "/"
  EXPECT_EQ(plain[1], folder + "1.jpg");

  // The unpadded pages are taken over under their padded names.
  auto run = Dl({"--pad-pages", "-o", out.path(), site.Chapter()});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(site.ImageRequests(), 12);
  const std::vector<std::string> padded = Files(out.path());
  ASSERT_EQ(padded.size(), 13U);
  EXPECT_EQ(padded[1], folder + "01.jpg");
  EXPECT_EQ(padded[12], folder + "12.jpg");

  const TempDir shelf;
  run = Dl({"--pad-pages", "--series-folders", "--cbz", "-o", shelf.path(), site.Chapter()});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  const std::string archive = "星际旅人/" + folder.substr(0, folder.size() - 1) + ".cbz";
  EXPECT_EQ(Files(shelf.path()), (std::vector<std::string>{"星际旅人/", archive}));
  int error = 0;
  zip_t* zip = zip_open((shelf / archive).c_str(), ZIP_RDONLY, &error);
  ASSERT_NE(zip, nullptr);
  EXPECT_GE(zip_name_locate(zip, "01.jpg", 0), 0);
  EXPECT_GE(zip_name_locate(zip, "12.jpg", 0), 0);
  zip_discard(zip);
}

TEST(PoliteCommandTest, CookiesGoToTheirHostOnlyAndMissingFilesEndAtOnce) {
  // The chapter page on 127.0.0.1, its images on img.localhost: the cookie
  // file names only 127.0.0.1.
  ChapterSite site(2, {}, "img.localhost");
  ASSERT_TRUE(site.ok());
  const TempDir out;
  ASSERT_TRUE(WriteWholeFile(out / "cookies.txt",
                             "# Netscape HTTP Cookie File\n"
                             "127.0.0.1\tFALSE\t/\tFALSE\t0\tsession\tabc\n"));
  auto run = Dl({"--cookies", out / "cookies.txt", "-o", out / "dl", site.Chapter()});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  const std::vector<Request> requests = site.Requests();
  ASSERT_EQ(requests.size(), 3U);
  for (const Request& request : requests) {
    const bool page = request.path == "/c.html";
    EXPECT_EQ(request.cookie, page ? "session=abc" : "") << request.host << request.path;
  }

  run = Dl({"--cookies", out / "none.txt", site.Chapter()});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_NE(run.err.find("none.txt"), std::string::npos);

  // The window's folder without its files.
  const TempDir data;
  ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
  run = Dl({"--cookies-from-window", site.Chapter()});
  ::unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_NE(run.err.find(data.path() + "/vexel-downloader/cookies.txt"), std::string::npos);
}

TEST(PoliteCommandTest, ChallengePageSaysHowToPassIt) {
  testing::LocalServer server;
  server.server.Get("/c.html", [](const httplib::Request&, httplib::Response& res) {
    res.status = 503;
    res.set_content("<!DOCTYPE html><html><body>checking your browser</body></html>", "text/html");
  });
  ASSERT_TRUE(server.Start());
  const TempDir out;
  const auto run = Dl({"--retries", "0", "-o", out.path(), server.Url("/c.html")});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.err.find("the site asks for a browser check; open " + server.Url("/c.html") +
                         " in the window, then use --cookies-from-window\n"),
            std::string::npos)
      << run.err;
}

}  // namespace
}  // namespace vexel::cli
