// vexel-dl follow, unfollow and library: the comics the user follows, kept in
// the library file that the window shares.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli/address_input.h"
#include "cli/commands.h"
#include "cli/console_output.h"
#include "cli/library_access.h"
#include "download/chapter_list.h"
#include "net/page_loader.h"
#include "net/resolve_address.h"

namespace vexel::cli {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

constexpr std::string_view kFollowHelp =
    "usage: vexel-dl follow [-o DIR] [--new-only] [--library FILE] COMIC-URL...\n"
    "\n"
    "Loads each comic's page, finds its chapter list (as vexel-dl chapters does)\n"
    "and adds the comic to the library: its address, its title (the page's\n"
    "<title>), its folder and its chapters. Prints the comic's line as vexel-dl\n"
    "library does. A comic already followed has its list refreshed.\n"
    "\n"
    "  -o DIR        the comic's chapters go to DIR; default: the current\n"
    "                directory. For a comic already followed only -o changes it\n"
    "  --new-only    the chapters listed now are never pending; only chapters\n"
    "                that appear later are\n"
    "  --library FILE\n"
    "                the library file; default:\n"
    "                $XDG_DATA_HOME/vexel-downloader/library.sqlite3, else\n"
    "                ~/.local/share/vexel-downloader/library.sqlite3\n"
    "\n"
    "Exit status: 0 every comic was followed, 1 a page could not be loaded or\n"
    "lists no chapter (that comic is not added) or the library cannot be used,\n"
    "2 the arguments are wrong.\n";

constexpr std::string_view kUnfollowHelp =
    "usage: vexel-dl unfollow [--library FILE] COMIC-URL...\n"
    "\n"
    "Removes comics from the library. The records of their downloaded chapters\n"
    "stay, so the chapters are not downloaded again.\n"
    "\n"
    "Exit status: 0 every comic was removed, 1 one was not followed or the\n"
    "library cannot be used, 2 the arguments are wrong.\n";

constexpr std::string_view kLibraryHelp =
    "usage: vexel-dl library [--library FILE]\n"
    "\n"
    "Prints one line per followed comic, in the order followed:\n"
    "ADDRESS<TAB>TOTAL<TAB>DOWNLOADED<TAB>PENDING<TAB>TITLE\n"
    "TOTAL is the chapters listed at the last look, DOWNLOADED those of them\n"
    "recorded with their files still there, PENDING the rest, less those set\n"
    "aside by follow --new-only.\n"
    "\n"
    "Exit status: 0, 1 the library cannot be used, 2 the arguments are wrong.\n";

struct LibraryArguments {
  std::vector<std::string> addresses;
  std::optional<std::string> library_file;
  std::optional<std::string> output_directory;
  bool new_only = false;
  bool help = false;
};

void Complain(std::string_view command, const std::string& message) {
  std::fprintf(stderr, "vexel-dl %.*s: %s\n", static_cast<int>(command.size()), command.data(),
               message.c_str());
}

// Nothing, with one line printed, when the arguments are unusable.
// `follow`: -o and --new-only are allowed.
std::optional<LibraryArguments> Parse(std::string_view command,
                                      std::span<const std::string_view> args, bool follow) {
  LibraryArguments parsed;
  bool options_ended = false;
  const auto fail = [&](const std::string& message) {
    Complain(command, message + " (see vexel-dl " + std::string(command) + " --help)");
    return std::nullopt;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    const auto value = [&](std::string_view name) -> std::optional<std::string> {
      if (arg == name) {
        return i + 1 < args.size() ? std::string(args[++i]) : std::string();
      }
      if (arg.starts_with(name) && arg.size() > name.size() && arg[name.size()] == '=') {
        return std::string(arg.substr(name.size() + 1));
      }
      // -oDIR
      if (name.size() == 2 && arg.starts_with(name)) {
        return std::string(arg.substr(2));
      }
      return std::nullopt;
    };
    if (options_ended || !arg.starts_with("-") || arg.size() == 1) {
      parsed.addresses.emplace_back(arg);
    } else if (arg == "--") {
      options_ended = true;
    } else if (arg == "-h" || arg == "--help") {
      parsed.help = true;
    } else if (auto file = value("--library")) {
      if (file->empty()) {
        return fail("--library needs a file");
      }
      parsed.library_file = std::move(*file);
    } else if (follow && arg == "--new-only") {
      parsed.new_only = true;
    } else if (auto directory = follow ? value("-o") : std::nullopt) {
      if (directory->empty()) {
        return fail("-o needs a directory");
      }
      parsed.output_directory = std::move(*directory);
    } else {
      return fail("unknown option " + std::string(arg));
    }
  }
  if (parsed.help) {
    return parsed;
  }
  if (command == "library" ? !parsed.addresses.empty() : parsed.addresses.empty()) {
    return fail(command == "library" ? "takes no address" : "expected a comic page address");
  }
  for (const std::string& address : parsed.addresses) {
    if (const std::optional<std::string> problem = AddressProblem(address)) {
      return fail(*problem);
    }
  }
  return parsed;
}

// A comic as stored: the address as given, or for a saved page its file://
// address, without the fragment.
std::string ComicAddress(const std::string& given, const net::LoadedPage& page) {
  const bool is_address =
      given.starts_with("http://") || given.starts_with("https://") || given.starts_with("file://");
  const std::string address = is_address ? given : page.final_url;
  return address.substr(0, address.find('#'));
}

std::string LibraryLine(const library::ComicSummary& comic, bool terminal) {
  return (terminal ? ReplaceControlCharacters(comic.address) : comic.address) + '\t' +
         std::to_string(comic.total) + '\t' + std::to_string(comic.downloaded) + '\t' +
         std::to_string(comic.pending) + '\t' + ReplaceControlCharacters(comic.title) + '\n';
}

void Print(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

int ShowHelp(std::string_view help) {
  std::fwrite(help.data(), 1, help.size(), stdout);
  return kExitOk;
}

}  // namespace

int RunFollowCommand(std::span<const std::string_view> args) {
  const std::optional<LibraryArguments> parsed = Parse("follow", args, true);
  if (!parsed) {
    return kExitUsage;
  }
  if (parsed->help) {
    return ShowHelp(kFollowHelp);
  }
  std::error_code error;
  std::filesystem::path folder = parsed->output_directory
                                     ? std::filesystem::absolute(*parsed->output_directory, error)
                                     : std::filesystem::current_path(error);
  if (error) {
    Complain("follow", "cannot tell the folder: " + error.message());
    return kExitError;
  }
  std::string folder_text = folder.lexically_normal().string();
  while (folder_text.size() > 1 && folder_text.back() == '/') {
    folder_text.pop_back();
  }
  const CommandLineLibrary opened = OpenLibraryForCommandLine(parsed->library_file, false);
  if (!opened.library) {
    return kExitError;
  }
  const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  int status = kExitOk;
  for (const std::string& given : parsed->addresses) {
    const net::LoadedPage page = net::LoadPage(given);
    if (!page.ok()) {
      Complain("follow", page.error);
      status = kExitError;
      continue;
    }
    std::vector<download::ChapterLink> chapters =
        download::FindChapterList(page.document.get(), page.final_url, net::CurlAddressResolver());
    if (chapters.empty()) {
      Complain("follow", given + " lists no chapter; not followed");
      status = kExitError;
      continue;
    }
    library::FollowRequest request;
    request.address = ComicAddress(given, page);
    request.title = download::PageTitle(page.document.get());
    request.folder = folder_text;
    request.folder_given = parsed->output_directory.has_value();
    request.chapters = std::move(chapters);
    request.new_only = parsed->new_only;
    const library::StoreResult followed = opened.library->Follow(request);
    const std::optional<library::ComicSummary> summary =
        followed ? opened.library->Comic(request.address) : std::nullopt;
    if (!summary) {
      Complain("follow",
               "cannot write the library " + opened.library->path() + ": " + followed.error);
      status = kExitError;
      continue;
    }
    Print(LibraryLine(*summary, terminal));
  }
  return status;
}

int RunUnfollowCommand(std::span<const std::string_view> args) {
  const std::optional<LibraryArguments> parsed = Parse("unfollow", args, false);
  if (!parsed) {
    return kExitUsage;
  }
  if (parsed->help) {
    return ShowHelp(kUnfollowHelp);
  }
  const CommandLineLibrary opened = OpenLibraryForCommandLine(parsed->library_file, false);
  if (!opened.library) {
    return kExitError;
  }
  int status = kExitOk;
  for (const std::string& address : parsed->addresses) {
    const library::StoreResult removed = opened.library->Unfollow(address);
    if (!removed) {
      Complain("unfollow",
               "cannot write the library " + opened.library->path() + ": " + removed.error);
      status = kExitError;
    } else if (!removed.changed) {
      Complain("unfollow", "not followed: " + ReplaceControlCharacters(address));
      status = kExitError;
    }
  }
  return status;
}

int RunLibraryCommand(std::span<const std::string_view> args) {
  const std::optional<LibraryArguments> parsed = Parse("library", args, false);
  if (!parsed) {
    return kExitUsage;
  }
  if (parsed->help) {
    return ShowHelp(kLibraryHelp);
  }
  const CommandLineLibrary opened = OpenLibraryForCommandLine(parsed->library_file, false);
  if (!opened.library) {
    return kExitError;
  }
  const library::ComicList list = opened.library->Comics();
  if (!list.error.empty()) {
    Complain("library", "cannot read the library " + opened.library->path() + ": " + list.error);
    return kExitError;
  }
  const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  std::string out;
  for (const library::ComicSummary& comic : list.comics) {
    out += LibraryLine(comic, terminal);
  }
  Print(out);
  return kExitOk;
}

}  // namespace vexel::cli
