// vexel-dl chapters ADDRESS: the chapters a comic's page lists, one a line as
// "address<TAB>title", so they can be looked over, chosen with grep or sed, and
// fed back with `vexel-dl -i -`.
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/address_input.h"
#include "cli/commands.h"
#include "cli/console_output.h"
#include "download/chapter_list.h"
#include "net/page_loader.h"
#include "net/resolve_address.h"

namespace vexel::cli {
namespace {

constexpr int kExitFound = 0;
constexpr int kExitNone = 1;
constexpr int kExitError = 2;

constexpr std::string_view kHelp =
    "usage: vexel-dl chapters COMIC-URL\n"
    "\n"
    "Loads a comic's page and prints the chapters it lists, in the list's order,\n"
    "one a line: the chapter's address, a tab, and its title. The list is the\n"
    "largest group of links on the page's own host whose addresses have one shape\n"
    "(digits aside), so navigation, categories and pagers are left out.\n"
    "\n"
    "  vexel-dl chapters URL | sed -n '3,5p' | vexel-dl -i -\n"
    "\n"
    "Control characters in a title show as '?'.\n"
    "\n"
    "Exit status: 0 chapters were found, 1 none were, 2 the page could not be\n"
    "loaded or the arguments are wrong.\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "vexel-dl chapters: %s\n", message.c_str());
  return kExitError;
}

}  // namespace

int RunChaptersCommand(std::span<const std::string_view> args) {
  for (const std::string_view arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::fwrite(kHelp.data(), 1, kHelp.size(), stdout);
      return kExitFound;
    }
  }
  std::vector<std::string_view> addresses;
  bool options_ended = false;
  for (const std::string_view arg : args) {
    if (!options_ended && arg == "--") {
      options_ended = true;
    } else if (!options_ended && arg.starts_with("-") && arg.size() > 1) {
      return Fail("unknown option " + std::string(arg) + " (see vexel-dl chapters --help)");
    } else {
      addresses.push_back(arg);
    }
  }
  if (addresses.size() != 1) {
    return Fail("expected one comic page address (see vexel-dl chapters --help)");
  }

  const std::string address(addresses.front());
  if (const std::optional<std::string> problem = AddressProblem(address)) {
    return Fail(*problem);
  }
  const net::LoadedPage page = net::LoadPage(address);
  if (!page.ok()) {
    return Fail(page.error);
  }
  const std::vector<download::ChapterLink> chapters =
      download::FindChapterList(page.document.get(), page.final_url, net::CurlAddressResolver());
  // Titles come from the page: no control character of theirs reaches a
  // terminal, and none makes the list one that `vexel-dl -i` refuses.
  const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  std::string out;
  for (const download::ChapterLink& chapter : chapters) {
    out += terminal ? ReplaceControlCharacters(chapter.address) : chapter.address;
    out += '\t';
    out += ReplaceControlCharacters(chapter.title);
    out += '\n';
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  return chapters.empty() ? kExitNone : kExitFound;
}

}  // namespace vexel::cli
