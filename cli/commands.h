// The commands of vexel-dl. Each takes the arguments after the program name
// (and after "query" or "chapters" for those commands) and returns the exit
// status.
#pragma once

#include <span>
#include <string_view>

namespace vexel::cli {

int RunQueryCommand(std::span<const std::string_view> args);
int RunChaptersCommand(std::span<const std::string_view> args);
int RunDownloadCommand(std::span<const std::string_view> args);

}  // namespace vexel::cli
