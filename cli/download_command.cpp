// vexel-dl URL...: the download job without a window. Each chapter page is
// loaded by address, the same DownloadJob the window runs analyses it and
// fetches its images, and the log is printed as the window's log pane shows
// it, followed by the outcome text. Several chapters, or every chapter a
// comic's page lists (--all-chapters), run as one queue over one set of
// connections, each after a header line.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli/commands.h"
#include "cli/console_output.h"
#include "cli/interrupt_flags.h"
#include "download/chapter_list.h"
#include "download/chapter_queue.h"
#include "download/download_job.h"
#include "download/outcome_texts.h"
#include "files/cbz_packer.h"
#include "files/real_file_system.h"
#include "net/curl_handle.h"
#include "net/curl_image_fetcher.h"
#include "net/page_loader.h"
#include "net/resolve_address.h"
#include "text/text.h"

namespace vexel::cli {
namespace {

constexpr int kExitComplete = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 3;
constexpr int kExitFailedPages = 4;

constexpr const char* kUsage =
    "usage: vexel-dl [-o DIR] [-j N] [--retries N] [--overwrite] [--cbz] CHAPTER-URL...\n"
    "       vexel-dl [options] --all-chapters [--chapters RANGES] COMIC-URL...\n"
    "       vexel-dl [options] -i FILE\n"
    "       vexel-dl chapters COMIC-URL\n"
    "       vexel-dl query --help\n"
    "\n"
    "Loads each chapter page, stores its page images as 1.ext, 2.ext, ... in a\n"
    "folder named after the chapter, and prints the job's log as the window shows\n"
    "it, then the outcome: 下载完成, 下载已终止 or 下载出错.\n"
    "Several chapters run one after another over the same connections, each\n"
    "after a line 【k/K】ADDRESS (chapter k of K). A page that is no chapter but\n"
    "lists chapters ends 下载出错 with a hint on standard error.\n"
    "\n"
    "  --all-chapters\n"
    "                each address is a comic's page: download every chapter it\n"
    "                lists, in the list's order (vexel-dl chapters COMIC-URL\n"
    "                shows the list)\n"
    "  --chapters RANGES\n"
    "                only the chapters at these positions of each list, counted\n"
    "                from 1: 1-5,8,10- (an open end runs to the last); implies\n"
    "                --all-chapters\n"
    "  -i, --input FILE\n"
    "                the addresses in FILE (- for standard input) too, after\n"
    "                those given as arguments: one a line; blank lines and lines\n"
    "                starting with # are skipped and a line ends at its first\n"
    "                tab, so the output of vexel-dl chapters can be fed in:\n"
    "                vexel-dl chapters URL | vexel-dl -i -\n"
    "  -o DIR        put the chapter folders in DIR (created when missing);\n"
    "                default: the current directory\n"
    "  --retries N   try a page up to N more times after a transient failure\n"
    "                (connection lost, timeout, HTTP 408/429/500/502/503/504);\n"
    "                default 3, 0 turns retries off\n"
    "  -j, --jobs N  fetch up to N pages at once (1 to 8, default 1); the log\n"
    "                still lists the pages in order\n"
    "  --overwrite   fetch every page again; by default a page whose file is\n"
    "                already in the chapter folder is kept (已存在)\n"
    "  --cbz         pack each chapter whose pages all arrived into\n"
    "                \"<chapter>.cbz\" with ComicInfo.xml, in place of its folder;\n"
    "                an existing archive counts as the chapter done unless\n"
    "                --overwrite\n"
    "  --version     print the version\n"
    "  -h, --help    show this text\n"
    "\n"
    "Ctrl-C stops after the page under way; a second Ctrl-C abandons that page\n"
    "at once. On a terminal a status line shows the page, bytes and rate.\n"
    "\n"
    "Exit status (with several chapters: 3 if stopped, else 1 if any chapter\n"
    "had an error, else 4 if any page failed, else 0):\n"
    "  0  every page stored or already present\n"
    "  1  error: a chapter page could not be loaded, or its job ended 下载出错\n"
    "     (with --all-chapters also: a comic page could not be loaded or lists\n"
    "     no chapter to download)\n"
    "  2  usage error\n"
    "  3  stopped by Ctrl-C (later chapters are skipped)\n"
    "  4  complete, but some pages failed (the log names them)\n";

class ConsoleHost final : public download::DownloadHost {
 public:
  ConsoleHost(PageDocument* document, std::string page_address, download::OutputDirectory output,
              ConsoleOutput& console, const InterruptFlags& interrupts)
      : document_(document),
        page_address_(std::move(page_address)),
        output_(std::move(output)),
        console_(console),
        interrupts_(interrupts) {}

  // Earlier chapters' lines stay on the console.
  void ClearLog() override {}
  void AppendLog(std::string_view text) override { console_.Log(text); }
  bool StopRequested() override {
    console_.SetStopping(interrupts_.Count(), ConsoleOutput::Clock::now());
    return interrupts_.StopRequested();
  }
  void SetResultText(std::string_view text) override { result_ = text; }
  PageDocument* Document() override { return document_; }
  std::string PageAddress() override { return page_address_; }
  download::OutputDirectory ChooseOutputDirectory() override { return output_; }
  void PageStarted(std::int64_t page, std::int32_t page_count) override {
    console_.PageStarted(page, page_count, ConsoleOutput::Clock::now());
  }

  const std::string& Result() const { return result_; }

 private:
  PageDocument* document_;
  std::string page_address_;
  download::OutputDirectory output_;
  ConsoleOutput& console_;
  const InterruptFlags& interrupts_;
  std::string result_;
};

// Writes and flushes at once. False when the reader has gone away (EPIPE, as
// after `vexel-dl ... | head -1`; SIGPIPE is ignored).
bool WriteStdout(std::string_view bytes) {
  errno = 0;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
  return (std::fflush(stdout) == 0 && written) || errno != EPIPE;
}

void Complain(const std::string& message) {
  std::fprintf(stderr, "vexel-dl: %s\n", message.c_str());
}

int TerminalWidth() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0) {
    return size.ws_col;
  }
  return 0;
}

struct Arguments {
  std::string output_directory;
  std::vector<std::string> addresses;
  // -i: files of addresses, "-" for standard input, read after the parse.
  std::vector<std::string> address_files;
  download::JobOptions job{download::kDefaultRetries, /*skip_existing=*/true};
  bool all_chapters = false;
  std::optional<std::string> chapter_ranges;  // --chapters
  bool help = false;
  bool version = false;
};

// A usage error: one line with a pointer to the help, not the whole help.
void ComplainAboutUsage(const std::string& message) {
  Complain(message + " (see vexel-dl --help)");
}

// A whole number from `low` to `high`; nothing for anything else.
std::optional<int> ParseNumber(std::string_view text, int low, int high) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

// The value of an option given as "--name VALUE", "--name=VALUE" or, for a
// short name, "-n VALUE" and "-nVALUE"; nothing when `arg` is not that
// option. Either name may be empty. A missing value reads as empty.
std::optional<std::string_view> OptionValue(std::span<const std::string_view> args, std::size_t& i,
                                            std::string_view long_name,
                                            std::string_view short_name = {}) {
  const std::string_view arg = args[i];
  const auto next = [&]() { return i + 1 < args.size() ? args[++i] : std::string_view(); };
  if ((!long_name.empty() && arg == long_name) || (!short_name.empty() && arg == short_name)) {
    return next();
  }
  if (!long_name.empty() && arg.starts_with(long_name) && arg.size() > long_name.size() &&
      arg[long_name.size()] == '=') {
    return arg.substr(long_name.size() + 1);
  }
  if (!short_name.empty() && arg.starts_with(short_name) && arg.size() > short_name.size()) {
    return arg.substr(short_name.size());
  }
  return std::nullopt;
}

// Nothing when the arguments are unusable; the reason is printed.
std::optional<Arguments> ParseArguments(std::span<const std::string_view> args) {
  Arguments parsed;
  bool options_ended = false;
  const auto fail = [](const std::string& message) {
    ComplainAboutUsage(message);
    return std::nullopt;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (options_ended) {
      parsed.addresses.emplace_back(arg);
    } else if (arg == "-h" || arg == "--help") {
      parsed.help = true;
    } else if (arg == "--version") {
      parsed.version = true;
    } else if (const auto directory = OptionValue(args, i, {}, "-o")) {
      if (directory->empty()) {
        return fail("-o needs a directory");
      }
      parsed.output_directory = *directory;
    } else if (const auto file = OptionValue(args, i, "--input", "-i")) {
      if (file->empty()) {
        return fail("-i needs a file of addresses (- for standard input)");
      }
      parsed.address_files.emplace_back(*file);
    } else if (const auto retries = OptionValue(args, i, "--retries")) {
      const std::optional<int> value = ParseNumber(*retries, 0, 100);
      if (!value) {
        return fail("--retries needs a number from 0 to 100");
      }
      parsed.job.retries = *value;
    } else if (const auto jobs = OptionValue(args, i, "--jobs", "-j")) {
      const std::optional<int> value = ParseNumber(*jobs, 1, 8);
      if (!value) {
        return fail("--jobs needs a number from 1 to 8");
      }
      parsed.job.jobs = *value;
    } else if (const auto ranges = OptionValue(args, i, "--chapters")) {
      // Checked against an empty list, which only the form can fail.
      if (!download::ParseChapterRanges(*ranges, 0)) {
        return fail("--chapters needs positions like 1-5,8,10-, not '" + std::string(*ranges) +
                    "'");
      }
      parsed.chapter_ranges = std::string(*ranges);
      parsed.all_chapters = true;
    } else if (arg == "--all-chapters") {
      parsed.all_chapters = true;
    } else if (arg == "--overwrite") {
      parsed.job.skip_existing = false;
    } else if (arg == "--cbz") {
      parsed.job.pack_cbz = true;
    } else if (arg == "--") {
      options_ended = true;
    } else if (arg.starts_with("-") && arg.size() > 1) {
      return fail("unknown option " + std::string(arg));
    } else {
      parsed.addresses.emplace_back(arg);
    }
  }
  if (!parsed.help && !parsed.version && parsed.addresses.empty() && parsed.address_files.empty()) {
    return fail(parsed.all_chapters ? "no comic page address given" : "no chapter address given");
  }
  return parsed;
}

// The addresses in `input`: one a line, blank lines and lines that start
// with "#" skipped, each line cut at its first tab (where `vexel-dl chapters`
// puts the title) and trimmed.
void AppendAddressLines(std::string_view input, std::vector<std::string>& addresses) {
  while (!input.empty()) {
    const std::size_t end = input.find('\n');
    std::string_view line = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    line = text::TrimAsciiWhitespace(line.substr(0, line.find('\t')));
    if (!line.empty() && !line.starts_with('#')) {
      addresses.emplace_back(line);
    }
  }
}

// Adds the addresses of each -i file to `addresses`; false, with the reason
// printed, when one cannot be read.
bool ReadAddressFiles(const std::vector<std::string>& files, std::vector<std::string>& addresses) {
  for (const std::string& name : files) {
    const bool standard_input = name == "-";
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> opened(
        standard_input ? nullptr : std::fopen(name.c_str(), "rb"), &std::fclose);
    std::FILE* file = standard_input ? stdin : opened.get();
    if (file == nullptr) {
      Complain("cannot read " + name + ": " + std::strerror(errno));
      return false;
    }
    std::string bytes;
    char buffer[1 << 14];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
      bytes.append(buffer, got);
    }
    if (std::ferror(file) != 0) {
      Complain("cannot read " + (standard_input ? std::string("standard input") : name));
      return false;
    }
    AppendAddressLines(bytes, addresses);
  }
  return true;
}

// The absolute output directory, created when missing, ending in "/".
std::optional<std::string> PrepareOutputDirectory(const std::string& requested) {
  std::error_code error;
  std::filesystem::path path = requested.empty() ? std::filesystem::current_path(error)
                                                 : std::filesystem::absolute(requested, error);
  if (error) {
    Complain("cannot find the output directory: " + error.message());
    return std::nullopt;
  }
  std::filesystem::create_directories(path, error);
  if (!std::filesystem::is_directory(path, error)) {
    Complain("cannot create the output directory " + path.string());
    return std::nullopt;
  }
  std::string text = path.lexically_normal().string();
  if (text.empty() || text.back() != '/') {
    text += '/';
  }
  return text;
}

// Runs chapters for vexel-dl, alone or in a queue: each page is loaded, and
// its images fetched, over the one set of connections in `connections`.
class ConsoleChapterRunner final : public download::ChapterRunner {
 public:
  ConsoleChapterRunner(const Arguments& arguments, std::string output, ConsoleOutput& console,
                       InterruptFlags& interrupts, CURLSH* connections)
      : arguments_(arguments),
        output_(std::move(output)),
        console_(console),
        interrupts_(interrupts),
        connections_(connections),
        headers_(arguments.all_chapters || arguments.addresses.size() > 1) {}

  // The queue's chapter headers; one chapter given as such shows its log
  // alone.
  void AppendLog(std::string_view text) override {
    if (headers_) {
      console_.Log(text);
    }
  }
  bool StopRequested() override { return interrupts_.StopRequested(); }

  std::optional<download::JobOutcome> RunChapter(std::size_t /*position*/, std::size_t /*count*/,
                                                 const download::ChapterLink& chapter) override {
    const net::LoadedPage page = LoadPage(chapter.address);
    // Ctrl-C while the page was loading: no job, and no empty chapter folder.
    if (interrupts_.StopRequested()) {
      download::JobOutcome stopped;
      stopped.end = download::JobEnd::Stopped;
      return stopped;
    }
    if (!page.ok()) {
      Complain(chapter.address + ": " + page.error);
      return std::nullopt;
    }

    net::FetchOptions fetch_options;
    fetch_options.transfer.referer = page.final_url;
    fetch_options.transfer.share = connections_;
    fetch_options.abandon = &interrupts_.Abandon();
    fetch_options.progress = [this](std::int64_t received, std::int64_t) {
      console_.Transferred(received, ConsoleOutput::Clock::now());
    };
    net::CurlImageFetcher fetcher(fetch_options);
    files::CbzPacker packer(files::RealFileSystem());
    ConsoleHost host(page.document.get(), page.final_url, {output_, false}, console_, interrupts_);
    const download::JobOutcome outcome = download::DownloadJob(
        host,
        {fetcher, files::RealFileSystem(), net::CurlAddressResolver(), &packer, &claimed_names_},
        arguments_.job);
    console_.Line(host.Result());
    if (outcome.end == download::JobEnd::Error && !arguments_.all_chapters) {
      // Most often a comic's own page given where a chapter was meant.
      const std::size_t listed =
          download::FindChapterList(page.document.get(), page.final_url, net::CurlAddressResolver())
              .size();
      if (listed > 0) {
        Complain("this page lists " + std::to_string(listed) + " chapters; use --all-chapters");
      }
    }
    return outcome;
  }

  // `address` loaded over the shared connections; a second Ctrl-C ends the
  // load at once.
  net::LoadedPage LoadPage(const std::string& address) const {
    net::PageLoadOptions load_options;
    load_options.transfer.share = connections_;
    load_options.abandon = &interrupts_.Abandon();
    return net::LoadPage(address, load_options);
  }

 private:
  const Arguments& arguments_;
  std::string output_;
  ConsoleOutput& console_;
  InterruptFlags& interrupts_;
  CURLSH* connections_;
  bool headers_;
  download::ClaimedNames claimed_names_;  // two chapters of a queue never share a folder
};

// The chapters each comic page in `arguments` lists, or those of them that
// --chapters chooses, in order. A page that cannot be loaded or lists none
// is reported and sets `failed`; a stop leaves the list unfinished and sets
// `stopped`.
std::vector<download::ChapterLink> ListChapters(const Arguments& arguments,
                                                const ConsoleChapterRunner& runner,
                                                const InterruptFlags& interrupts, bool& failed,
                                                bool& stopped) {
  std::vector<download::ChapterLink> chapters;
  for (const std::string& address : arguments.addresses) {
    if (interrupts.StopRequested()) {
      stopped = true;
      break;
    }
    const net::LoadedPage page = runner.LoadPage(address);
    if (interrupts.StopRequested()) {
      stopped = true;
      break;
    }
    if (!page.ok()) {
      Complain(address + ": " + page.error);
      failed = true;
      continue;
    }
    std::vector<download::ChapterLink> listed =
        download::FindChapterList(page.document.get(), page.final_url, net::CurlAddressResolver());
    if (listed.empty()) {
      Complain(address + ": this page lists no chapters");
      failed = true;
      continue;
    }
    if (!arguments.chapter_ranges) {
      std::move(listed.begin(), listed.end(), std::back_inserter(chapters));
      continue;
    }
    const std::vector<std::size_t> positions =
        download::ParseChapterRanges(*arguments.chapter_ranges, listed.size())
            .value_or(std::vector<std::size_t>{});
    if (positions.empty()) {
      Complain(address + ": this page lists " + std::to_string(listed.size()) +
               " chapters, none of them at " + *arguments.chapter_ranges);
      failed = true;
    }
    for (const std::size_t position : positions) {
      chapters.push_back(std::move(listed[position - 1]));
    }
  }
  return chapters;
}

int ExitStatus(const download::QueueOutcome& outcome, bool failed) {
  if (outcome.stopped) {
    return kExitStopped;
  }
  if (failed || outcome.errors > 0) {
    return kExitError;
  }
  return outcome.with_failed_pages > 0 ? kExitFailedPages : kExitComplete;
}

}  // namespace

int RunDownloadCommand(std::span<const std::string_view> args) {
  std::optional<Arguments> arguments = ParseArguments(args);
  if (!arguments) {
    return kExitUsage;
  }
  if (arguments->help) {
    std::fputs(kUsage, stdout);
    return kExitComplete;
  }
  if (arguments->version) {
    std::fputs("vexel-dl " VEXEL_VERSION "\n", stdout);
    return kExitComplete;
  }
  if (!ReadAddressFiles(arguments->address_files, arguments->addresses)) {
    return kExitUsage;
  }
  if (arguments->addresses.empty()) {
    ComplainAboutUsage("no address given, and none in " + arguments->address_files.front());
    return kExitUsage;
  }
  const std::optional<std::string> output = PrepareOutputDirectory(arguments->output_directory);
  if (!output) {
    return kExitError;
  }

  InterruptFlags interrupts;
  const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  // Once the reader of the output has gone, nothing more is written and the
  // job stops after the page under way, as on a first Ctrl-C, rather than
  // dying halfway through a page.
  bool output_closed = false;
  ConsoleOutput console(
      [&interrupts, &output_closed](std::string_view bytes) {
        if (!output_closed && !WriteStdout(bytes)) {
          output_closed = true;
          interrupts.RequestStop();
        }
      },
      terminal, terminal ? TerminalWidth() : 0);
  // Declared before every transfer that uses it, so it is cleaned up last.
  // Comic pages, chapter pages and images all go over its connections.
  const net::CurlShare connections = net::MakeConnectionShare();
  ConsoleChapterRunner runner(*arguments, *output, console, interrupts, connections.get());

  bool failed = false;
  bool stopped = false;
  std::vector<download::ChapterLink> chapters;
  if (arguments->all_chapters) {
    chapters = ListChapters(*arguments, runner, interrupts, failed, stopped);
  } else {
    for (const std::string& address : arguments->addresses) {
      chapters.push_back({address, {}});
    }
  }
  if (stopped) {
    return kExitStopped;
  }
  return ExitStatus(download::RunChapterQueue(runner, chapters), failed);
}

}  // namespace vexel::cli
