// vexel-dl's download command line: its options, its help text, and the
// one-line complaints that end a run before any download begins.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "download/download_job.h"
#include "net/page_loader.h"
#include "net/transfer_options.h"

namespace vexel::cli {

struct DownloadArguments {
  std::string output_directory;
  std::vector<std::string> addresses;
  // -i: files of addresses, "-" for standard input, read after the parse.
  std::vector<std::string> address_files;
  download::JobOptions job{download::kDefaultRetries, /*skip_existing=*/true};
  // What every page load and image fetch of the run starts from: the
  // process's pacer and the gap (--sleep-request), the cap (--limit-rate),
  // the cookie file and the user agent (--cookies, --cookies-from-window).
  // The caller adds the Referer, the connections and the stop.
  net::TransferOptions transfer;
  bool all_chapters = false;
  std::optional<std::string> chapter_ranges;  // --chapters
  std::optional<std::string> library_file;    // --library; nothing: the default file
  bool no_library = false;                    // --no-library
  bool dry_run = false;                       // update --dry-run
  bool help = false;
  bool version = false;
};

// The text of vexel-dl --help.
extern const std::string_view kDownloadUsage;

// "vexel-dl: MESSAGE" on standard error.
void Complain(const std::string& message);
// A usage error: one line with a pointer to the help, not the whole help.
void ComplainAboutUsage(const std::string& message);

// "ADDRESS: REASON" for a page that could not be loaded and, when the site
// answered with a browser check, how to pass it.
void ComplainAboutPage(const std::string& address, const net::LoadedPage& page);

// The window's data folder: $XDG_DATA_HOME/vexel-downloader, else
// ~/.local/share/vexel-downloader; empty when neither is known.
std::string WindowDataFolder();

// Nothing when the arguments are unusable; the reason is printed. `update`:
// the arguments of vexel-dl update, which may name no address and take
// --dry-run.
std::optional<DownloadArguments> ParseDownloadArguments(std::span<const std::string_view> args,
                                                        bool update = false);

}  // namespace vexel::cli
