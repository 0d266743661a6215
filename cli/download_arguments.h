// vexel-dl's download command line: its options, its help text, and the
// one-line complaints that end a run before any download begins.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "download/download_job.h"

namespace vexel::cli {

struct DownloadArguments {
  std::string output_directory;
  std::vector<std::string> addresses;
  // -i: files of addresses, "-" for standard input, read after the parse.
  std::vector<std::string> address_files;
  download::JobOptions job{download::kDefaultRetries, /*skip_existing=*/true};
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

// Nothing when the arguments are unusable; the reason is printed. `update`:
// the arguments of vexel-dl update, which may name no address and take
// --dry-run.
std::optional<DownloadArguments> ParseDownloadArguments(std::span<const std::string_view> args,
                                                        bool update = false);

}  // namespace vexel::cli
