// vexel-dl URL...: the download job without a window. Each chapter page is
// loaded by address, the same DownloadJob the window runs analyses it and
// fetches its images, and the log is printed as the window's log pane shows
// it, followed by the outcome text.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli/commands.h"
#include "cli/console_output.h"
#include "cli/interrupt_flags.h"
#include "download/download_job.h"
#include "download/outcome_texts.h"
#include "files/real_file_system.h"
#include "net/curl_handle.h"
#include "net/curl_image_fetcher.h"
#include "net/page_loader.h"
#include "net/resolve_address.h"

namespace vexel::cli {
namespace {

constexpr int kExitComplete = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 3;
constexpr int kExitFailedPages = 4;

constexpr const char* kUsage =
    "usage: vexel-dl [-o DIR] [-j N] [--retries N] [--overwrite] CHAPTER-URL...\n"
    "       vexel-dl query --help\n"
    "\n"
    "Loads each chapter page, stores its page images as 1.ext, 2.ext, ... in a\n"
    "folder named after the chapter, and prints the job's log as the window shows\n"
    "it, then the outcome: 下载完成, 下载已终止 or 下载出错.\n"
    "\n"
    "  -o DIR        put the chapter folders in DIR (created when missing);\n"
    "                default: the current directory\n"
    "  --retries N   try a page up to N more times after a transient failure\n"
    "                (connection lost, timeout, HTTP 408/429/500/502/503/504);\n"
    "                default 3, 0 turns retries off\n"
    "  -j, --jobs N  fetch up to N pages at once (1 to 8, default 1); the log\n"
    "                still lists the pages in order\n"
    "  --overwrite   fetch every page again; by default a page whose file is\n"
    "                already in the chapter folder is kept (已存在)\n"
    "  -h, --help    show this text\n"
    "\n"
    "Ctrl-C stops after the page under way; a second Ctrl-C abandons that page\n"
    "at once. On a terminal a status line shows the page, bytes and rate.\n"
    "\n"
    "Exit status (with several chapters: 3 if stopped, else 1 if any chapter\n"
    "had an error, else 4 if any page failed, else 0):\n"
    "  0  every page stored or already present\n"
    "  1  error: a chapter page could not be loaded, or its job ended 下载出错\n"
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
  download::JobOptions job{download::kDefaultRetries, /*skip_existing=*/true};
  bool help = false;
};

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
// option. A missing value reads as empty.
std::optional<std::string_view> OptionValue(std::span<const std::string_view> args, std::size_t& i,
                                            std::string_view long_name,
                                            std::string_view short_name = {}) {
  const std::string_view arg = args[i];
  const auto next = [&]() { return i + 1 < args.size() ? args[++i] : std::string_view(); };
  if (arg == long_name || (!short_name.empty() && arg == short_name)) {
    return next();
  }
  if (arg.starts_with(long_name) && arg.size() > long_name.size() && arg[long_name.size()] == '=') {
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
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (!options_ended && (arg == "-h" || arg == "--help")) {
      parsed.help = true;
    } else if (!options_ended && arg == "-o") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        Complain("-o needs a directory");
        return std::nullopt;
      }
      parsed.output_directory = args[++i];
    } else if (!options_ended && arg.starts_with("-o") && arg.size() > 2) {
      parsed.output_directory = arg.substr(2);
    } else if (const auto retries =
                   options_ended ? std::nullopt : OptionValue(args, i, "--retries")) {
      const std::optional<int> value = ParseNumber(*retries, 0, 100);
      if (!value) {
        Complain("--retries needs a number from 0 to 100");
        return std::nullopt;
      }
      parsed.job.retries = *value;
    } else if (const auto jobs =
                   options_ended ? std::nullopt : OptionValue(args, i, "--jobs", "-j")) {
      const std::optional<int> value = ParseNumber(*jobs, 1, 8);
      if (!value) {
        Complain("--jobs needs a number from 1 to 8");
        return std::nullopt;
      }
      parsed.job.jobs = *value;
    } else if (!options_ended && arg == "--overwrite") {
      parsed.job.skip_existing = false;
    } else if (!options_ended && arg == "--") {
      options_ended = true;
    } else if (!options_ended && arg.starts_with("-") && arg.size() > 1) {
      Complain("unknown option " + std::string(arg));
      return std::nullopt;
    } else {
      parsed.addresses.emplace_back(arg);
    }
  }
  if (!parsed.help && parsed.addresses.empty()) {
    Complain("no chapter address given");
    return std::nullopt;
  }
  return parsed;
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

}  // namespace

int RunDownloadCommand(std::span<const std::string_view> args) {
  const std::optional<Arguments> arguments = ParseArguments(args);
  if (!arguments) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  if (arguments->help) {
    std::fputs(kUsage, stdout);
    return kExitComplete;
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
  int status = kExitComplete;
  // Declared before every transfer that uses it, so it is cleaned up last.
  const net::CurlShare connections = net::MakeConnectionShare();

  for (const std::string& address : arguments->addresses) {
    if (interrupts.StopRequested()) {
      status = kExitStopped;
      break;
    }
    net::PageLoadOptions load_options;
    load_options.transfer.share = connections.get();
    load_options.abandon = &interrupts.Abandon();  // a second Ctrl-C ends the load at once
    const net::LoadedPage page = net::LoadPage(address, load_options);
    // Ctrl-C while the page was loading: no job, and no empty chapter folder.
    if (interrupts.StopRequested()) {
      status = kExitStopped;
      break;
    }
    if (!page.ok()) {
      Complain(address + ": " + page.error);
      status = kExitError;
      continue;
    }

    net::FetchOptions fetch_options;
    fetch_options.transfer.referer = page.final_url;
    fetch_options.transfer.share = connections.get();
    fetch_options.abandon = &interrupts.Abandon();
    fetch_options.progress = [&console](std::int64_t received, std::int64_t) {
      console.Transferred(received, ConsoleOutput::Clock::now());
    };
    net::CurlImageFetcher fetcher(fetch_options);
    ConsoleHost host(page.document.get(), page.final_url, {*output, false}, console, interrupts);
    const download::JobOutcome outcome = download::DownloadJob(
        host, {fetcher, files::RealFileSystem(), net::CurlAddressResolver()}, arguments->job);
    console.Line(host.Result());

    if (outcome.end == download::JobEnd::Stopped) {
      status = kExitStopped;
      break;
    }
    if (outcome.end == download::JobEnd::Error) {
      status = kExitError;
    } else if (!outcome.failed.empty() && status == kExitComplete) {
      status = kExitFailedPages;
    }
  }
  return status;
}

}  // namespace vexel::cli
