// vexel-dl: the comic download job without a window, plus "vexel-dl query",
// which evaluates one element query against a page, and "vexel-dl chapters",
// which lists the chapters a comic's page links to, and "vexel-dl follow",
// "unfollow" and "library", which keep the comics the user follows, and
// "vexel-dl update", which downloads what is new in them.
#include <string_view>
#include <vector>

#include "cli/commands.h"

int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv + 1, argv + argc);
  if (!args.empty() && args.front() == "query") {
    return vexel::cli::RunQueryCommand(std::span<const std::string_view>(args).subspan(1));
  }
  if (!args.empty() && args.front() == "chapters") {
    return vexel::cli::RunChaptersCommand(std::span<const std::string_view>(args).subspan(1));
  }
  if (!args.empty() && args.front() == "follow") {
    return vexel::cli::RunFollowCommand(std::span<const std::string_view>(args).subspan(1));
  }
  if (!args.empty() && args.front() == "unfollow") {
    return vexel::cli::RunUnfollowCommand(std::span<const std::string_view>(args).subspan(1));
  }
  if (!args.empty() && args.front() == "update") {
    return vexel::cli::RunUpdateCommand(std::span<const std::string_view>(args).subspan(1));
  }
  if (!args.empty() && args.front() == "library") {
    return vexel::cli::RunLibraryCommand(std::span<const std::string_view>(args).subspan(1));
  }
  return vexel::cli::RunDownloadCommand(args);
}
