// vexel-sample-site: serves the bundled sample comic site on 127.0.0.1.
//
// The first line on standard output is the site's base address, so scripts
// can start it on a free port and read where it listens.
#include <httplib.h>

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "examples/sample_site.h"

namespace {

constexpr const char* kUsage =
    "usage: vexel-sample-site [options]\n"
    "Serves the sample comic site on 127.0.0.1 and prints its address.\n"
    "  --port N           port to listen on (0, the default: a free port)\n"
    "  --pages N          page count of the adjustable chapters (/comic/1/3.html and on,\n"
    "                     default 12)\n"
    "  --chapters N       chapter count of /comic/1/ (3 to 10000, default 12)\n"
    "  --image-bytes B    pad every page image to at least B bytes\n"
    "  --require-referer  images only for requests whose Referer is a page of the site\n"
    "  --missing-page N   image N of every chapter answers 404 (repeatable)\n"
    "  --delay-ms N       answer every image request N ms late\n"
    "  --fail-first N     the first N requests of each image answer 503\n"
    "  --retry-after S    send Retry-After: S (seconds) with those 503s\n"
    "  --empty-page N     image N of every chapter answers 200 with an empty body (repeatable)\n"
    "  --html-page N      image N of every chapter answers 200 with an HTML page (repeatable)\n"
    "  --stats            serve /stats (connections and requests seen) and /stats/reset\n"
    "  --help             this text\n";

bool ReadNumber(std::string_view text, long long& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value >= 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  vexel::sample::SampleSiteOptions options;
  long long port = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--require-referer") {
      options.require_referer = true;
      continue;
    }
    if (arg == "--stats") {
      options.stats_route = true;
      continue;
    }
    long long value = 0;
    if (i + 1 >= args.size() || !ReadNumber(args[i + 1], value)) {
      std::fprintf(stderr, "vexel-sample-site: bad or missing value for %.*s\n%s",
                   static_cast<int>(arg.size()), arg.data(), kUsage);
      return 2;
    }
    ++i;
    if (arg == "--port" && value <= 65535) {
      port = value;
    } else if (arg == "--pages" && value <= 1000000) {
      options.long_chapter_pages = static_cast<int>(value);
    } else if (arg == "--chapters" && value >= 3 && value <= 10000) {
      options.comic_chapters = static_cast<int>(value);
    } else if (arg == "--image-bytes" && value <= 100'000'000) {
      options.image_bytes = static_cast<std::size_t>(value);
    } else if (arg == "--missing-page" && value <= 1000000) {
      options.missing_pages.push_back(static_cast<int>(value));
    } else if (arg == "--delay-ms" && value <= 600'000) {
      options.image_delay_ms = static_cast<int>(value);
    } else if (arg == "--fail-first" && value <= 1000000) {
      options.fail_first = static_cast<int>(value);
    } else if (arg == "--retry-after" && value <= 86400) {
      options.retry_after_seconds = static_cast<int>(value);
    } else if (arg == "--empty-page" && value <= 1000000) {
      options.empty_pages.push_back(static_cast<int>(value));
    } else if (arg == "--html-page" && value <= 1000000) {
      options.html_pages.push_back(static_cast<int>(value));
    } else {
      std::fprintf(stderr, "vexel-sample-site: bad option %.*s\n%s", static_cast<int>(arg.size()),
                   arg.data(), kUsage);
      return 2;
    }
  }

  vexel::sample::SampleSite site(options);
  if (!site.ok()) {
    std::fputs("vexel-sample-site: this system cannot convert text to GBK\n", stderr);
    return 1;
  }
  httplib::Server server;
  site.Register(server);
  int bound = -1;
  if (port == 0) {
    bound = server.bind_to_any_port("127.0.0.1");
  } else if (server.bind_to_port("127.0.0.1", static_cast<int>(port))) {
    bound = static_cast<int>(port);
  }
  if (bound <= 0) {
    std::fprintf(stderr, "vexel-sample-site: cannot listen on 127.0.0.1:%lld\n", port);
    return 1;
  }
  std::printf("http://127.0.0.1:%d/\n", bound);
  std::fflush(stdout);
  return server.listen_after_bind() ? 0 : 1;
}
