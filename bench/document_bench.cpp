// What reading a chapter page without a browser costs: loading, decoding from
// GBK, the markup limits scan, gumbo, building the in-memory document and
// evaluating the site's two queries, on generated chapter pages of about
// 100 KB, 1 MB and 10 MB, against gumbo's bare parse of the same page.
//
// Goals: the whole path at most twice gumbo's bare parse; peak memory at most
// ten times the page size; cost linear in the size. After the benchmarks a
// summary prints the ratios, and the peak memory of one load measured in a
// fresh process (its peak resident set over its resident set at start).
//
//   document_bench [benchmark flags]
//   document_bench --peak FILE        (internal: one load, prints the peak bytes)
//   document_bench --peak-gumbo FILE  (internal: gumbo alone, the same)
#include <benchmark/benchmark.h>
#include <gumbo.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "html/charset_decoder.h"
#include "html/html_parser.h"
#include "net/page_loader.h"
#include "query/element_query.h"
#include "tests/support/chapter_page.h"
#include "tests/support/encode_text.h"

extern char** environ;

namespace {

using vexel::testing::kChapterLineQuery;
using vexel::testing::kImageQuery;

constexpr std::size_t kSizes[] = {100 * 1024, 1024 * 1024, 10 * 1024 * 1024};

// The size `utf8` will have in GBK: every character outside ASCII here is a
// three-byte Chinese character in UTF-8 and a two-byte one in GBK.
std::size_t GbkSize(std::string_view utf8) {
  std::size_t non_ascii = 0;
  for (const char c : utf8) {
    non_ascii += static_cast<unsigned char>(c) >= 0x80 ? 1 : 0;
  }
  return utf8.size() - non_ascii / 3;
}

// What fills a real chapter page around the chapter line and the image, in
// turn: a list of other comics, readers' comments, and inline scripts (ads,
// counters, the page-turning code).
std::string FillerItem(int n) {
  const std::string id = std::to_string(n);
  switch (n % 4) {
    case 0:
    case 1:
      return "<li class=\"item\"><a href=\"/comic/" + id + "/\" title=\"星际旅人" + id +
             "\"><img src=\"/cover/" + id + ".jpg\" alt=\"\"></a><a href=\"/comic/" + id +
             "/\">星际旅人 第" + id + "部</a> <span>更新至第" + id + "话</span></li>\r\n";
    case 2:
      return "<div class=\"comment\"><p class=\"user\">读者" + id +
             " 发表于 2012-03-04 12:34</p><p>这一话画得真好，期待下一话！主角的战斗场面非常精彩，"
             "分镜和节奏都很棒，配角的表情也很有趣。作者辛苦了，希望能早日更新，"
             "我会一直支持下去的。</p></div>\r\n";
    default:
      return "<script type=\"text/javascript\">\r\nvar slot" + id +
             " = document.getElementById('ad" + id +
             "');\r\nif (slot && slot.offsetWidth > 0) {\r\n  var html = '<a href=\"/ad/" + id +
             "\" target=\"_blank\"><img src=\"/ad/" + id +
             ".gif\" width=\"728\" height=\"90\"></a>';\r\n  slot.innerHTML = html;\r\n}\r\n"
             "function next" +
             id +
             "() { var p = parseInt(location.search.replace('?p=', '')) || 1; if (p < total) "
             "{ location.href = '?p=' + (p + 1); } }\r\n</script>\r\n<div id=\"ad" +
             id + "\"></div>\r\n";
  }
}

// A GBK chapter page of about `target` bytes: the tests' chapter page with
// filler lists inserted. Most of the filler stands before the chapter line and
// the page image, so that both queries walk nearly the whole element list.
std::string ChapterPage(std::size_t target) {
  std::string page = vexel::testing::ChapterPageUtf8(
      R"(<meta http-equiv="Content-Type" content="text/html; charset=gb2312" />)");
  std::string before = "<ul class=\"list\">\r\n";
  std::string after = before;
  std::size_t size = GbkSize(page) + 2 * GbkSize(before + "</ul>\r\n");
  for (int n = 0; size < target; ++n) {
    const std::string item = FillerItem(n);
    (n % 10 == 9 ? after : before) += item;
    size += GbkSize(item);
  }
  page.insert(page.find("</body>"), after + "</ul>\r\n");
  page.insert(page.find("<div class=\"stauts\">"), before + "</ul>\r\n");
  return vexel::testing::ToGbk(page);
}

struct Page {
  std::string gbk;
  std::string utf8;
  std::string path;
};

std::map<std::size_t, Page>& Pages() {
  static std::map<std::size_t, Page> pages;
  return pages;
}

const Page& PageOf(std::size_t target) {
  Page& page = Pages()[target];
  if (page.gbk.empty()) {
    page.gbk = ChapterPage(target);
    page.utf8 = vexel::html::DecodeToUtf8(page.gbk, "gbk");
    page.path = (std::filesystem::temp_directory_path() /
                 ("vexel-bench-chapter-" + std::to_string(target) + ".html"))
                    .string();
    std::ofstream(page.path, std::ios::binary) << page.gbk;
  }
  return page;
}

void RunQueries(vexel::PageDocument& document) {
  vexel::ElementQuery query(&document);
  std::string out;
  if (query.Evaluate(kChapterLineQuery, out) != vexel::QueryMatched) {
    std::abort();
  }
  benchmark::DoNotOptimize(out.data());
  if (query.Evaluate(kImageQuery, out) != vexel::QueryMatched) {
    std::abort();
  }
  benchmark::DoNotOptimize(out.data());
}

void SetCounters(benchmark::State& state, const Page& page) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(page.gbk.size()));
  state.counters["page_kb"] = static_cast<double>(page.gbk.size()) / 1024.0;
}

GumboOptions QuietGumbo() {
  GumboOptions options = kGumboDefaultOptions;
  options.max_errors = 0;
  return options;
}

void GumboParse(benchmark::State& state, const GumboOptions& options) {
  const Page& page = PageOf(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    GumboOutput* output = gumbo_parse_with_options(&options, page.utf8.data(), page.utf8.size());
    benchmark::DoNotOptimize(output);
    gumbo_destroy_output(&options, output);
  }
  SetCounters(state, page);
}

// gumbo alone over the decoded page, as it comes (it records every parse
// error): the yardstick.
void BM_GumboBareParse(benchmark::State& state) { GumboParse(state, kGumboDefaultOptions); }

// The same without recording parse errors, as the document path runs it.
void BM_GumboBareParseNoErrors(benchmark::State& state) { GumboParse(state, QuietGumbo()); }

// GBK bytes in memory to both query answers.
void BM_DecodeBuildQuery(benchmark::State& state) {
  const Page& page = PageOf(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    vexel::html::ParseOutcome parsed = vexel::html::ParseHtmlBytes(page.gbk, "gbk");
    if (!parsed.ok()) {
      state.SkipWithError(parsed.error.c_str());
      return;
    }
    RunQueries(*parsed.document);
  }
  SetCounters(state, page);
}

// The same from a saved page, through the loader (file://, charset by meta).
void BM_LoadBuildQuery(benchmark::State& state) {
  const Page& page = PageOf(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    vexel::net::LoadedPage loaded = vexel::net::LoadPage(page.path);
    if (!loaded.ok()) {
      state.SkipWithError(loaded.error.c_str());
      return;
    }
    RunQueries(*loaded.document);
  }
  SetCounters(state, page);
}

void Sizes(benchmark::internal::Benchmark* benchmark) {
  for (const std::size_t size : kSizes) {
    benchmark->Arg(static_cast<std::int64_t>(size));
  }
  benchmark->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_GumboBareParse)->Apply(Sizes);
BENCHMARK(BM_GumboBareParseNoErrors)->Apply(Sizes);
BENCHMARK(BM_DecodeBuildQuery)->Apply(Sizes);
BENCHMARK(BM_LoadBuildQuery)->Apply(Sizes);

// Keeps the console output and remembers each run's time per iteration.
class SummaryReporter final : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        seconds_[run.benchmark_name()] =
            run.real_accumulated_time / static_cast<double>(run.iterations);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double Seconds(const std::string& name) const {
    const auto found = seconds_.find(name);
    return found == seconds_.end() ? 0.0 : found->second;
  }

 private:
  std::map<std::string, double> seconds_;
};

long StatusKilobytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(status, line)) {
    if (line.starts_with(prefix)) {
      return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    }
  }
  return -1;
}

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// In a fresh process: one load of `path` and both queries (or, with
// `gumbo_only`, gumbo's parse of the decoded page); prints how far the
// resident set rose above where it started, and what the first load of any
// page costs once (libcurl and TLS set-up, the converter tables), measured
// with a small page beforehand and left out of the first figure.
int MeasurePeak(const char* path, bool gumbo_only) {
  const long before_warm_up = StatusKilobytes("VmRSS");
  const std::string warm_up_path = std::string(path) + ".warm-up.html";
  std::ofstream(warm_up_path, std::ios::binary)
      << vexel::testing::ToGbk("<meta charset=gbk><p class=stauts_left>您正在看：a >共1页</p>");
  const vexel::net::LoadedPage warm_up = vexel::net::LoadPage(warm_up_path);
  std::filesystem::remove(warm_up_path);
  std::string text;
  if (gumbo_only) {
    text = vexel::html::DecodeToUtf8(ReadFile(path), "gbk");
  }
  std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
  const long start = StatusKilobytes("VmRSS");
  if (gumbo_only) {
    const GumboOptions options = QuietGumbo();
    GumboOutput* output = gumbo_parse_with_options(&options, text.data(), text.size());
    benchmark::DoNotOptimize(output);
  } else {
    vexel::net::LoadedPage loaded = vexel::net::LoadPage(path);
    if (!loaded.ok() || !warm_up.ok()) {
      std::fprintf(stderr, "%s%s\n", loaded.error.c_str(), warm_up.error.c_str());
      return 1;
    }
    RunQueries(*loaded.document);
  }
  std::printf("%ld %ld\n", (StatusKilobytes("VmHWM") - start) * 1024,
              (start - before_warm_up) * 1024);
  return 0;
}

// The peak rise of a child process, and its one-off start-up cost in `init`.
long PeakInChild(const char* self, const std::string& path, bool gumbo_only, long* init = nullptr) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) {
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
  std::string self_copy = self;
  std::string flag = gumbo_only ? "--peak-gumbo" : "--peak";
  std::string path_copy = path;
  char* argv[] = {self_copy.data(), flag.data(), path_copy.data(), nullptr};
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, self, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  std::string output;
  char buffer[64];
  ssize_t got = 0;
  while (spawned == 0 && (got = read(pipe_fds[0], buffer, sizeof buffer)) > 0) {
    output.append(buffer, static_cast<std::size_t>(got));
  }
  close(pipe_fds[0]);
  int status = 0;
  if (spawned != 0 || waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    return -1;
  }
  char* rest = nullptr;
  const long peak = std::strtol(output.c_str(), &rest, 10);
  if (init != nullptr) {
    *init = std::strtol(rest, nullptr, 10);
  }
  return peak;
}

void PrintSummary(const SummaryReporter& reporter, const char* self) {
  std::printf(
      "\nSummary: GBK chapter pages; the path is decode + limits scan + gumbo + build + both\n"
      "queries; ratios are against gumbo's bare parse of the decoded page, as it comes and\n"
      "without error recording; peak is one load in a fresh process (resident set rise\n"
      "after a first small load has set up libcurl and the converters), gumbo is gumbo's own\n"
      "parse alone measured the same way, both over the page size.\n");
  std::printf("%9s %9s %9s %9s %9s %7s %7s %9s %9s %8s %8s\n", "page", "elements", "gumbo ms",
              "quiet ms", "path ms", "ratio", "ratio2", "load ms", "ms per MB", "peak", "gumbo");
  long init = 0;
  for (const std::size_t size : kSizes) {
    const Page& page = PageOf(size);
    const std::string suffix = "/" + std::to_string(size);
    const double gumbo = reporter.Seconds("BM_GumboBareParse" + suffix);
    const double quiet = reporter.Seconds("BM_GumboBareParseNoErrors" + suffix);
    const double path = reporter.Seconds("BM_DecodeBuildQuery" + suffix);
    const double load = reporter.Seconds("BM_LoadBuildQuery" + suffix);
    const double megabytes = static_cast<double>(page.gbk.size()) / (1024.0 * 1024.0);
    const auto per_page = [&](long bytes) {
      return bytes >= 0 ? static_cast<double>(bytes) / static_cast<double>(page.gbk.size()) : -1.0;
    };
    const vexel::html::ParseOutcome parsed = vexel::html::ParseHtmlBytes(page.gbk, "gbk");
    std::printf("%8zuK %9ld %9.1f %9.1f %9.1f %7.2f %7.2f %9.1f %9.1f %7.1fx %7.1fx\n",
                page.gbk.size() / 1024, parsed.ok() ? parsed.document->ElementCount() : -1L,
                gumbo * 1e3, quiet * 1e3, path * 1e3, gumbo > 0 ? path / gumbo : 0.0,
                quiet > 0 ? path / quiet : 0.0, load * 1e3, path * 1e3 / megabytes,
                per_page(PeakInChild(self, page.path, false, &init)),
                per_page(PeakInChild(self, page.path, true)));
  }
  std::printf("One-off cost of the first load in a process (not in the peaks): %.1f MB\n",
              static_cast<double>(init) / (1024.0 * 1024.0));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 &&
      (std::string_view(argv[1]) == "--peak" || std::string_view(argv[1]) == "--peak-gumbo")) {
    return MeasurePeak(argv[2], std::string_view(argv[1]) == "--peak-gumbo");
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintSummary(reporter, "/proc/self/exe");
  for (const auto& [size, page] : Pages()) {
    std::error_code ignored;
    std::filesystem::remove(page.path, ignored);
  }
  benchmark::Shutdown();
  return 0;
}
