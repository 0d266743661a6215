// vexel-dl URL...: the download job without a window. Each chapter page is
// loaded by address, the same DownloadJob the window runs analyses it and
// fetches its images, and the log is printed as the window's log pane shows
// it, followed by the outcome text. Several chapters, or every chapter a
// comic's page lists (--all-chapters), run as one queue over one set of
// connections, each after a header line.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "cli/address_input.h"
#include "cli/commands.h"
#include "cli/console_output.h"
#include "cli/download_arguments.h"
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

namespace vexel::cli {
namespace {

constexpr int kExitComplete = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 3;
constexpr int kExitFailedPages = 4;

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
  void PageFinished(std::int64_t /*page*/, const download::FetchResult& result) override {
    // A page already in the folder is reported stored with no response; it
    // took no time, so the estimate of the time left leaves it out.
    const bool present = result.stored && result.http_status == 0;
    console_.PageFinished(!present, ConsoleOutput::Clock::now());
  }
  void RetryPending(bool pending) override {
    console_.SetRetryPending(pending, ConsoleOutput::Clock::now());
  }
  void Paused(std::chrono::seconds wait) override {
    console_.SetPaused(wait, ConsoleOutput::Clock::now());
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

int TerminalWidth() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0) {
    return size.ws_col;
  }
  return 0;
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
  ConsoleChapterRunner(const DownloadArguments& arguments, std::string output,
                       ConsoleOutput& console, InterruptFlags& interrupts, CURLSH* connections)
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

  std::optional<download::JobOutcome> RunChapter(std::size_t position, std::size_t count,
                                                 const download::ChapterLink& chapter) override {
    console_.ChapterStarted(position, count, ConsoleOutput::Clock::now());
    const net::LoadedPage page = LoadPage(chapter.address);
    // Ctrl-C while the page was loading: no job, and no empty chapter folder.
    if (interrupts_.StopRequested()) {
      download::JobOutcome stopped;
      stopped.end = download::JobEnd::Stopped;
      return stopped;
    }
    if (!page.ok()) {
      ComplainAboutPage(chapter.address, page);
      return std::nullopt;
    }

    net::FetchOptions fetch_options;
    fetch_options.transfer = arguments_.transfer;
    fetch_options.transfer.stop_waiting = [this] { return interrupts_.StopRequested(); };
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
    load_options.transfer = arguments_.transfer;
    load_options.transfer.stop_waiting = [this] { return interrupts_.StopRequested(); };
    load_options.transfer.share = connections_;
    load_options.abandon = &interrupts_.Abandon();
    return net::LoadPage(address, load_options);
  }

 private:
  const DownloadArguments& arguments_;
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
std::vector<download::ChapterLink> ListChapters(const DownloadArguments& arguments,
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
      ComplainAboutPage(address, page);
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
  std::optional<DownloadArguments> arguments = ParseDownloadArguments(args);
  if (!arguments) {
    return kExitUsage;
  }
  if (arguments->help) {
    std::fwrite(kDownloadUsage.data(), 1, kDownloadUsage.size(), stdout);
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
  // Before anything is fetched: a mistyped address late in a list must not
  // end the run after hours of downloads.
  for (const std::string& address : arguments->addresses) {
    if (const std::optional<std::string> problem = AddressProblem(address)) {
      Complain(*problem);
      return kExitUsage;
    }
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
