// The commands of vexel-dl. Each takes the arguments after the program name
// (and after the command's name: "query", "chapters", "follow", "unfollow",
// "library") and returns the exit status.
#pragma once

#include <span>
#include <string_view>

namespace vexel::cli {

int RunQueryCommand(std::span<const std::string_view> args);
int RunChaptersCommand(std::span<const std::string_view> args);
int RunDownloadCommand(std::span<const std::string_view> args);
// The followed comics, in the library file (cli/library_commands.cpp).
int RunFollowCommand(std::span<const std::string_view> args);
int RunUnfollowCommand(std::span<const std::string_view> args);
int RunLibraryCommand(std::span<const std::string_view> args);
// Downloads what is new in the followed comics (cli/update_command.cpp).
int RunUpdateCommand(std::span<const std::string_view> args);

}  // namespace vexel::cli
