// The library's figures as vexel-dl shows them, each against servers on
// 127.0.0.1:
//   P9   --all-chapters over a downloaded 12-chapter comic: the requests it
//        takes with the library, and without it (--no-library);
//   P10  update over 50 followed comics of 200 downloaded chapters each,
//        nothing new, against one curl process fetching the same 50 pages
//        with the same Accept-Encoding (goal: at most 1.2 times curl), on
//        plain loopback and with every page answered 50 ms late, as a real
//        site's are;
//   `vexel-dl library` over 500 followed comics of 20 downloaded chapters
//        (goal: under 100 ms);
//   P1's flush: a chapter of 12, then of 300 pages of 100 KB images with
//        the library (its files flushed to disk, then recorded) and with
//        --no-library, which leaves its pages for the kernel to write out
//        after it has ended: that run once more with the wait for them
//        (sync) shows what being on disk costs either way.
// Each time is the median of several runs of the program.
//   build/dev/bench/update_bench [RUNS]
//   VEXEL_DL=OTHER/vexel-dl build/dev/bench/update_bench [RUNS]   (another build's)
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "examples/sample_site.h"
#include "files/real_file_system.h"
#include "library/library.h"
#include "tests/cli/download_process.h"
#include "tests/support/file_temp_dir.h"

namespace {

using vexel::download::ChapterLink;
using vexel::library::Library;
using vexel::testing::ProcessResult;
using vexel::testing::RunProcess;

constexpr int kComics = 50;
constexpr int kChaptersPerComic = 200;

double Median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times.empty() ? 0 : times[times.size() / 2];
}

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// Runs `argv` in `directory` and returns its wall time in ms; -1 when it did
// not exit 0.
double TimedRun(const std::vector<std::string>& argv, const std::string& directory,
                ProcessResult* result = nullptr) {
  const auto start = std::chrono::steady_clock::now();
  ProcessResult run = RunProcess(argv, directory, {}, std::chrono::seconds(600));
  const double ms = MsSince(start);
  if (run.exit_status != 0) {
    std::fprintf(stderr, "update_bench: %s failed (%d): %s\n", argv.front().c_str(),
                 run.exit_status, run.err.c_str());
  }
  const bool ok = run.exit_status == 0;
  if (result != nullptr) {
    *result = std::move(run);
  }
  return ok ? ms : -1;
}

// Comic pages of 200 chapter links each, as many comics as asked for.
class ComicPages {
 public:
  ComicPages() {
    server_.set_keep_alive_max_count(1000000);
    server_.set_tcp_nodelay(true);
    server_.Get(R"(/comic/(\d+)/)",
                [this](const httplib::Request& request, httplib::Response& response) {
                  ++requests_;
                  // A real site's answer takes a round trip and its time to make the page.
                  std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms.load()));
                  const std::string comic = request.matches[1].str();
                  std::string html = "<!DOCTYPE html><html><head><title>Comic " + comic +
                                     "</title></head><body><h1>Comic " + comic + "</h1><ul>\n";
                  for (int h = 1; h <= kChaptersPerComic; ++h) {
                    html += "<li><a href=\"/comic/" + comic + "/" + std::to_string(h) +
                            ".html\">第" + std::to_string(h) + "话</a></li>\n";
                  }
                  response.set_content(html + "</ul></body></html>\n", "text/html; charset=utf-8");
                });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() takes effect only on a running server.
    while (port_ > 0 && !server_.is_running()) {
      std::this_thread::yield();
    }
  }
  ~ComicPages() {
    server_.stop();
    thread_.join();
  }
  ComicPages(const ComicPages&) = delete;
  ComicPages& operator=(const ComicPages&) = delete;
  ComicPages(ComicPages&&) = delete;
  ComicPages& operator=(ComicPages&&) = delete;

  std::string Comic(int comic) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/comic/" + std::to_string(comic) + "/";
  }
  std::size_t TakeRequests() { return requests_.exchange(0); }

  std::atomic<int> delay_ms{0};

 private:
  httplib::Server server_;
  int port_ = -1;
  std::atomic<std::size_t> requests_{0};
  std::thread thread_;
};

// Follows `comics` comics of `per_comic` chapters each in the library at
// `path`, every chapter recorded with a folder of two pages, taken in turn
// from `folders`.
bool MakeLibrary(const std::string& path, int comics, int per_comic,
                 const std::function<std::string(int)>& comic_address,
                 const std::vector<std::string>& folders) {
  auto opened = Library::Open(path, vexel::files::RealFileSystem());
  if (!opened.library) {
    std::fprintf(stderr, "update_bench: %s\n", opened.error.c_str());
    return false;
  }
  std::size_t next = 0;
  for (int c = 1; c <= comics; ++c) {
    const std::string comic = comic_address(c);
    std::vector<ChapterLink> chapters;
    for (int h = 1; h <= per_comic; ++h) {
      chapters.push_back({comic + std::to_string(h) + ".html", "第" + std::to_string(h) + "话"});
    }
    opened.library->Follow({comic, "Comic " + std::to_string(c), "/comics", true, chapters, false});
    for (const ChapterLink& link : chapters) {
      vexel::download::FinishedChapter chapter;
      chapter.address = link.address;
      chapter.title = link.title;
      chapter.comic = comic;
      chapter.folder = folders[next++ % folders.size()];
      chapter.page_files = {"1.png", "2.png"};
      if (!opened.library->Record(chapter)) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, static_cast<int>(std::strtol(argv[1], nullptr, 10))) : 5;
  // VEXEL_DL: another build's vexel-dl, to compare the two on one machine.
  const char* other_dl = std::getenv("VEXEL_DL");
  const std::string dl = other_dl != nullptr && other_dl[0] != '\0' ? other_dl : VEXEL_DL_PATH;
  vexel::testing::TempDir dir;
  // The library's own default file must not be the user's.
  ::setenv("XDG_DATA_HOME", dir.path().c_str(), 1);

  // P9.
  {
    vexel::sample::SampleSiteServer site;
    const std::string comic = site.BaseAddress() + "comic/1/";
    const std::string library = dir / "p9.sqlite3";
    if (TimedRun({dl, "--library", library, "-o", "p9", "--all-chapters", comic}, dir.path()) < 0) {
      return 1;
    }
    site.Site().ResetStats();
    TimedRun({dl, "--library", library, "-o", "p9", "--all-chapters", comic}, dir.path());
    const std::size_t with_library = site.Site().Stats().requests;
    site.Site().ResetStats();
    TimedRun({dl, "--no-library", "-o", "p9", "--all-chapters", comic}, dir.path());
    std::printf(
        "P9   --all-chapters over a downloaded 12-chapter comic: %zu request(s); without the "
        "library: %zu\n",
        with_library, site.Site().Stats().requests);
  }

  // P10 and `vexel-dl library`: 10,000 chapter folders of two pages, made
  // before any is recorded.
  std::vector<std::string> folders;
  for (int c = 1; c <= kComics; ++c) {
    for (int h = 1; h <= kChaptersPerComic; ++h) {
      const std::string folder = dir / ("comics/" + std::to_string(c) + "/" + std::to_string(h));
      std::filesystem::create_directories(folder);
      vexel::testing::WriteWholeFile(folder + "/1.png", "page one");
      vexel::testing::WriteWholeFile(folder + "/2.png", "page two");
      folders.push_back(folder);
    }
  }
  ComicPages pages;
  const std::string followed = dir / "p10.sqlite3";
  const std::string many = dir / "many.sqlite3";
  if (!MakeLibrary(
          followed, kComics, kChaptersPerComic, [&](int c) { return pages.Comic(c); }, folders) ||
      !MakeLibrary(
          many, 500, 20, [](int c) { return "http://127.0.0.1/comic/" + std::to_string(c) + "/"; },
          folders)) {
    return 1;
  }
  // --compressed: the same Accept-Encoding as vexel-dl's, so that the
  // server compresses both answers alike.
  std::vector<std::string> curl = {"/usr/bin/curl", "-s", "--compressed"};
  for (int c = 1; c <= kComics; ++c) {
    curl.insert(curl.end(), {"-o", "/dev/null", pages.Comic(c)});
  }
  for (const int delay : {0, 50}) {
    pages.delay_ms = delay;
    std::vector<double> update_times;
    std::vector<double> curl_times;
    std::vector<double> library_times;
    std::size_t update_requests = 0;
    for (int run = 0; run < runs; ++run) {
      pages.TakeRequests();
      ProcessResult result;
      update_times.push_back(TimedRun({dl, "update", "--library", followed}, dir.path(), &result));
      update_requests = pages.TakeRequests();
      if (!result.out.empty()) {
        std::fprintf(stderr, "update_bench: update found something new:\n%s", result.out.c_str());
        return 1;
      }
      curl_times.push_back(TimedRun(curl, dir.path()));
      pages.TakeRequests();
      if (delay > 0) {
        continue;
      }
      library_times.push_back(TimedRun({dl, "library", "--library", many}, dir.path(), &result));
      if (std::count(result.out.begin(), result.out.end(), '\n') != 500) {
        std::fprintf(stderr, "update_bench: library did not list 500 comics\n");
        return 1;
      }
    }
    const double update_ms = Median(update_times);
    const double curl_ms = Median(curl_times);
    std::printf(
        "P10  update over %d followed comics of %d chapters, nothing new, each page answered "
        "%d ms late: %.1f ms (%zu requests); one curl process, the same %d pages: %.1f ms; ratio "
        "%.2f (goal: at most 1.20)\n",
        kComics, kChaptersPerComic, delay, update_ms, update_requests, kComics, curl_ms,
        curl_ms > 0 ? update_ms / curl_ms : 0.0);
    if (delay == 0) {
      std::printf("     vexel-dl library over 500 followed comics of 20 chapters: %.1f ms\n",
                  Median(library_times));
    }
  }

  // P1's flush, on a 12-page chapter and on P1's own 300 pages.
  for (const int page_count : {12, 300}) {
    vexel::sample::SampleSiteOptions options;
    options.image_bytes = 100000;
    options.long_chapter_pages = page_count;
    vexel::sample::SampleSiteServer site(options);
    const std::string chapter = site.ChapterAddress(1, 3);
    std::vector<double> with_flush;
    std::vector<double> without;
    // --no-library, then the wait until its pages are on disk too: what
    // the same chapter costs when it is as safe as a recorded one.
    std::vector<double> without_then_synced;
    for (int run = 0; run < 4 * runs + 1; ++run) {
      const std::string n = std::to_string(page_count) + "-" + std::to_string(run);
      // Each run starts with nothing of anyone's waiting to be written, so
      // that the flush pays for its own chapter alone, not for what the run
      // before it (or another program) left behind; the two take turns to
      // go first.
      const auto with_library = [&] {
        ::sync();
        with_flush.push_back(
            TimedRun({dl, "--library", dir / "p1.sqlite3", "-o", dir / ("p1/with" + n), chapter},
                     dir.path()));
      };
      const auto no_library = [&] {
        ::sync();
        const auto start = std::chrono::steady_clock::now();
        const double ms =
            TimedRun({dl, "--no-library", "-o", dir / ("p1/without" + n), chapter}, dir.path());
        without.push_back(ms);
        ::sync();
        without_then_synced.push_back(ms < 0 ? ms : MsSince(start));
      };
      if (run % 2 == 0) {
        with_library();
        no_library();
      } else {
        no_library();
        with_library();
      }
      std::filesystem::remove_all(dir / "p1");
    }
    // The cost is the median of each round's own ratio: the machine's pace
    // drifts from round to round more than the flush costs.
    std::vector<double> ratios;
    for (std::size_t i = 0; i < with_flush.size() && i < without.size(); ++i) {
      if (with_flush[i] > 0 && without[i] > 0) {
        ratios.push_back(with_flush[i] / without[i]);
      }
    }
    std::printf(
        "P1   a %d-page chapter of 100 KB images: %.1f ms with the library (flushed to disk, "
        "then recorded), %.1f ms with --no-library: %+.1f%% (goal: under 5%%); --no-library "
        "and then sync: %.1f ms\n",
        page_count, Median(with_flush), Median(without),
        ratios.empty() ? 0.0 : (Median(ratios) - 1) * 100, Median(without_then_synced));
  }
  return 0;
}
