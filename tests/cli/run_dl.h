// Runs vexel-dl as a child process, for the tests that drive it as a user would.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tests/cli/download_process.h"

namespace vexel::cli {

inline testing::ProcessResult Dl(
    std::vector<std::string> args, const std::string& directory = "",
    const std::function<void(const std::string&, pid_t)>& on_output = {},
    const testing::ProcessHooks& hooks = {}) {
  args.insert(args.begin(), VEXEL_DL_PATH);
  return RunProcess(args, directory, on_output, std::chrono::seconds(30), hooks);
}

}  // namespace vexel::cli
