// The two jobs of vexel-dl. Each takes the arguments after the program name
// (and after "query" for the query command) and returns the exit status.
#pragma once

#include <span>
#include <string_view>

namespace vexel::cli {

int RunQueryCommand(std::span<const std::string_view> args);
int RunDownloadCommand(std::span<const std::string_view> args);

}  // namespace vexel::cli
