// vexel-dl URL...: the download job without a window. Each chapter page is
// loaded by address, the same DownloadJob the window runs analyses it and
// fetches its images, and the log is printed as the window's log pane shows
// it, followed by the outcome text. Several chapters, or every chapter a
// comic's page lists (--all-chapters), run as one queue over one set of
// connections, each after a header line.
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/address_input.h"
#include "cli/commands.h"
#include "cli/console_session.h"
#include "cli/download_arguments.h"
#include "cli/library_access.h"
#include "download/chapter_list.h"
#include "net/page_loader.h"
#include "net/resolve_address.h"

namespace vexel::cli {
namespace {

// The chapters each comic page in `arguments` lists, or those of them that
// --chapters chooses, in order. A page that cannot be loaded or lists none
// is reported and sets `failed`; a stop leaves the list unfinished and sets
// `stopped`.
std::vector<download::ChapterLink> ListChapters(const DownloadArguments& arguments,
                                                const ConsoleSession& session, bool& failed,
                                                bool& stopped) {
  std::vector<download::ChapterLink> chapters;
  for (const std::string& address : arguments.addresses) {
    if (session.StopRequested()) {
      stopped = true;
      break;
    }
    const net::LoadedPage page = session.LoadPage(address);
    if (session.StopRequested()) {
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

  const CommandLineLibrary library =
      OpenLibraryForCommandLine(arguments->library_file, arguments->no_library);
  ConsoleSession session(*arguments, *output,
                         arguments->all_chapters || arguments->addresses.size() > 1,
                         library.library.get());

  bool failed = false;
  bool stopped = false;
  std::vector<download::ChapterLink> chapters;
  if (arguments->all_chapters) {
    chapters = ListChapters(*arguments, session, failed, stopped);
  } else {
    for (const std::string& address : arguments->addresses) {
      chapters.push_back({address, {}});
    }
  }
  if (stopped) {
    return kExitStopped;
  }
  return ExitStatus(session.Run(chapters), failed);
}

}  // namespace vexel::cli
