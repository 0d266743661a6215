// vexel-dl update: each followed comic's page is loaded once, its chapter
// list refreshed in the library, and the chapters not yet downloaded run as
// one queue, as --all-chapters runs them, into the comic's own folder. The
// pages are fetched one after another on a thread of their own while this
// one reads them.
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "cli/console_session.h"
#include "cli/download_arguments.h"
#include "cli/library_access.h"
#include "cli/page_prefetch.h"
#include "download/chapter_list.h"
#include "library/library.h"
#include "net/page_loader.h"
#include "net/resolve_address.h"

namespace vexel::cli {
namespace {

constexpr std::string_view kUpdateUsage =
    "usage: vexel-dl update [download options] [--dry-run] [--library FILE] [COMIC-URL...]\n"
    "\n"
    "Loads the page of each followed comic (or of those given), in the order\n"
    "followed, refreshes its chapter list in the library, and downloads the\n"
    "chapters not yet downloaded, in list order, into -o DIR, else the comic's\n"
    "folder. A comic with nothing new costs one request. Chapters downloaded\n"
    "before the library knew them are loaded once, keep their pages (已存在)\n"
    "and are recorded.\n"
    "\n"
    "  --dry-run     refresh the lists, then print the chapters that would be\n"
    "                downloaded as ADDRESS<TAB>TITLE, and download nothing\n"
    "  --library FILE\n"
    "                the library file (see vexel-dl follow --help)\n"
    "The download options (-o, -j, --retries, --overwrite, --cbz) are those of\n"
    "vexel-dl --help.\n"
    "\n"
    "Exit status: those of a download; 1 also when a comic page cannot be\n"
    "loaded (the other comics go on), a given comic is not followed, or the\n"
    "library cannot be used; nothing pending is 0.\n";

// The comics to look at: those given, each once and followed, else all.
std::vector<library::ComicSummary> ChosenComics(const std::vector<library::ComicSummary>& followed,
                                                const std::vector<std::string>& given,
                                                bool& failed) {
  if (given.empty()) {
    return followed;
  }
  std::vector<library::ComicSummary> chosen;
  for (const std::string& address : given) {
    const std::string bare = address.substr(0, address.find('#'));
    bool found = false;
    for (const library::ComicSummary& comic : followed) {
      if (comic.address == bare) {
        found = true;
        chosen.push_back(comic);
        break;
      }
    }
    if (!found) {
      Complain(address + ": not followed (see vexel-dl follow)");
      failed = true;
    }
  }
  return chosen;
}

}  // namespace

int RunUpdateCommand(std::span<const std::string_view> args) {
  const std::optional<DownloadArguments> arguments = ParseDownloadArguments(args, true);
  if (!arguments) {
    return kExitUsage;
  }
  if (arguments->help) {
    std::fwrite(kUpdateUsage.data(), 1, kUpdateUsage.size(), stdout);
    return kExitComplete;
  }
  if (arguments->all_chapters || !arguments->address_files.empty() || arguments->no_library) {
    ComplainAboutUsage(
        "update takes comic addresses, not --all-chapters, --chapters, -i or "
        "--no-library");
    return kExitUsage;
  }
  const CommandLineLibrary opened = OpenLibraryForCommandLine(arguments->library_file, false);
  if (!opened.library) {
    return kExitError;
  }
  library::Library& library = *opened.library;
  // Their counts would look at every chapter's output once more.
  const library::ComicList followed = library.FollowedComics();
  if (!followed.error.empty()) {
    Complain(followed.error);
    return kExitError;
  }
  bool failed = false;
  const std::vector<library::ComicSummary> comics =
      ChosenComics(followed.comics, arguments->addresses, failed);
  std::optional<std::string> output;
  // A dry run makes no folder either.
  if (!arguments->output_directory.empty() && !arguments->dry_run) {
    output = PrepareOutputDirectory(arguments->output_directory);
    if (!output) {
      return kExitError;
    }
  }

  ConsoleSession session(*arguments, output.value_or(std::string()), true, &library);
  std::vector<download::ChapterLink> pending;
  {
    std::vector<std::string> addresses;
    addresses.reserve(comics.size());
    for (const library::ComicSummary& comic : comics) {
      addresses.push_back(comic.address);
    }
    PagePrefetch pages(session, std::move(addresses));
    for (const library::ComicSummary& comic : comics) {
      if (session.StopRequested()) {
        return kExitStopped;
      }
      const net::LoadedPage page = net::ReadPage(pages.Next());
      std::string problem;
      std::vector<download::ChapterLink> listed;
      if (!page.ok()) {
        problem = page.error;
      } else {
        listed = download::FindChapterList(page.document.get(), page.final_url,
                                           net::CurlAddressResolver());
        if (listed.empty()) {
          problem = "this page lists no chapters";
        }
      }
      if (session.StopRequested()) {
        return kExitStopped;
      }
      std::vector<download::ChapterLink> chapters;
      if (problem.empty()) {
        library::Library::Checked checked = library.Check(comic.address, listed);
        if (checked.store) {
          chapters = std::move(checked.pending);
        } else {
          problem = checked.store.error;
        }
      }
      if (!problem.empty()) {
        library.SetLastCheck(comic.address, problem);
        Complain(comic.address + ": " + problem);
        failed = true;
        continue;
      }
      if (chapters.empty()) {
        continue;
      }
      if (!output && !arguments->dry_run) {
        const std::optional<std::string> folder = PrepareOutputDirectory(comic.folder);
        if (!folder) {
          failed = true;
          continue;
        }
        session.SetComicFolder(comic.address, *folder);
      }
      for (download::ChapterLink& chapter : chapters) {
        chapter.comic = comic.address;
        pending.push_back(std::move(chapter));
      }
    }
  }
  if (arguments->dry_run) {
    for (const download::ChapterLink& chapter : pending) {
      std::printf("%s\t%s\n", chapter.address.c_str(), chapter.title.c_str());
    }
    return failed ? kExitError : kExitComplete;
  }
  if (pending.empty()) {
    return failed ? kExitError : kExitComplete;
  }
  return ExitStatus(session.Run(pending), failed);
}

}  // namespace vexel::cli
