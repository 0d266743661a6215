#include "cli/console_session.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string_view>
#include <system_error>
#include <utility>

#include "download/download_host.h"
#include "download/download_job.h"
#include "net/resolve_address.h"

namespace vexel::cli {
namespace {

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
  void PageListsChapters(std::size_t count) override { listed_chapters_ = count; }

  // The chapters the page lists, when it turned out to be no chapter.
  std::size_t ListedChapters() const { return listed_chapters_; }

  const std::string& Result() const { return result_; }

 private:
  PageDocument* document_;
  std::string page_address_;
  download::OutputDirectory output_;
  ConsoleOutput& console_;
  const InterruptFlags& interrupts_;
  std::string result_;
  std::size_t listed_chapters_ = 0;
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

}  // namespace

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
  ConsoleChapterRunner(const DownloadArguments& arguments, std::string output, bool headers,
                       ConsoleOutput& console, InterruptFlags& interrupts, CURLSH* connections,
                       runtime::JobRuntime& runtime)
      : arguments_(arguments),
        output_(std::move(output)),
        console_(console),
        interrupts_(interrupts),
        connections_(connections),
        runtime_(runtime),
        headers_(headers) {}

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
      return runtime::StoppedBeforeJob();
    }
    if (!page.ok()) {
      ComplainAboutPage(chapter.address, page);
      return std::nullopt;
    }
    const auto folder = comic_folders_.find(chapter.comic);
    ConsoleHost host(page.document.get(), page.final_url,
                     {folder != comic_folders_.end() ? folder->second : output_, false}, console_,
                     interrupts_);
    const download::JobOutcome outcome = runtime_.RunChapter(host);
    console_.Line(host.Result());
    // Most often a comic's own page given where a chapter was meant.
    if (host.ListedChapters() > 0 && !arguments_.all_chapters) {
      Complain("this page lists " + std::to_string(host.ListedChapters()) +
               " chapters; use --all-chapters");
    }
    return outcome;
  }

  // `address` loaded over the shared connections; a second Ctrl-C ends the
  // load at once.
  net::LoadedPage LoadPage(const std::string& address) const {
    return net::LoadPage(address, LoadOptions());
  }
  net::FetchedPage FetchPage(const std::string& address, CURL* handle) const {
    net::PageLoadOptions options = LoadOptions();
    options.handle = handle;
    return net::FetchPage(address, options);
  }

  void SetComicFolder(const std::string& comic, std::string folder) {
    comic_folders_[comic] = std::move(folder);
  }

 private:
  net::PageLoadOptions LoadOptions() const {
    net::PageLoadOptions load_options;
    load_options.transfer = arguments_.transfer;
    load_options.transfer.stop_waiting = [this] { return interrupts_.StopRequested(); };
    load_options.transfer.share = connections_;
    load_options.abandon = &interrupts_.Abandon();
    return load_options;
  }

  const DownloadArguments& arguments_;
  std::string output_;
  ConsoleOutput& console_;
  InterruptFlags& interrupts_;
  CURLSH* connections_;
  runtime::JobRuntime& runtime_;
  bool headers_;
  std::map<std::string, std::string> comic_folders_;  // by comic address, each ending in "/"
};

int ExitStatus(const download::QueueOutcome& outcome, bool failed) {
  if (outcome.stopped) {
    return kExitStopped;
  }
  if (failed || outcome.errors > 0) {
    return kExitError;
  }
  return outcome.with_failed_pages > 0 ? kExitFailedPages : kExitComplete;
}

namespace {

runtime::RunSetup MakeRunSetup(const DownloadArguments& arguments, InterruptFlags& interrupts,
                               ConsoleOutput& console, CURLSH* connections,
                               download::ChapterRecords* records) {
  runtime::RunSetup setup;
  setup.job = arguments.job;
  setup.fetch.transfer = arguments.transfer;
  setup.fetch.transfer.stop_waiting = [&interrupts] { return interrupts.StopRequested(); };
  setup.fetch.transfer.share = connections;
  setup.fetch.abandon = &interrupts.Abandon();
  setup.fetch.progress = [&console](std::int64_t received, std::int64_t /*expected*/) {
    console.Transferred(received, ConsoleOutput::Clock::now());
  };
  setup.records = records;
  // --overwrite fetches everything again, chapters recorded as done too.
  setup.skip_downloaded = arguments.job.skip_existing;
  return setup;
}

}  // namespace

ConsoleSession::ConsoleSession(const DownloadArguments& arguments, std::string output, bool headers,
                               download::ChapterRecords* records)
    : console_(
          [this](std::string_view bytes) {
            if (!output_closed_ && !WriteStdout(bytes)) {
              output_closed_ = true;
              interrupts_.RequestStop();
            }
          },
          ::isatty(STDOUT_FILENO) == 1, ::isatty(STDOUT_FILENO) == 1 ? TerminalWidth() : 0),
      connections_(net::MakeConnectionShare()),
      runtime_(MakeRunSetup(arguments, interrupts_, console_, connections_.get(), records)),
      runner_(std::make_unique<ConsoleChapterRunner>(arguments, std::move(output), headers,
                                                     console_, interrupts_, connections_.get(),
                                                     runtime_)) {}

ConsoleSession::~ConsoleSession() = default;

net::LoadedPage ConsoleSession::LoadPage(const std::string& address) const {
  return runner_->LoadPage(address);
}

net::FetchedPage ConsoleSession::FetchPage(const std::string& address, CURL* handle) const {
  return runner_->FetchPage(address, handle);
}

void ConsoleSession::SetComicFolder(const std::string& comic, std::string folder) {
  runner_->SetComicFolder(comic, std::move(folder));
}

download::QueueOutcome ConsoleSession::Run(const std::vector<download::ChapterLink>& chapters) {
  return runtime_.RunQueue(*runner_, chapters);
}

}  // namespace vexel::cli
