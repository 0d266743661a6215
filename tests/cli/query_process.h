// Runs the built vexel-dl as a child process: arguments, bytes for its
// standard input, and its exit status and both outputs captured in full.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace vexel::testing {

struct QueryRun {
  int exit_status = -1;  // -1: did not exit normally
  std::string out;
  std::string err;
};

inline std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The three streams go through files in a fresh directory, so no pipe can
// fill up and nothing needs polling.
inline QueryRun RunVexelDl(const std::vector<std::string>& arguments,
                           const std::string& standard_input = {}) {
  QueryRun run;
  std::string pattern =
      (std::filesystem::temp_directory_path() / "vexel-query-run-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    return run;
  }
  const std::filesystem::path directory = pattern;
  const std::string in_path = (directory / "in").string();
  const std::string out_path = (directory / "out").string();
  const std::string err_path = (directory / "err").string();
  std::ofstream(in_path, std::ios::binary) << standard_input;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, in_path.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> argv_text{VEXEL_DL_PATH};
  argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& text : argv_text) {
    argv.push_back(text.data());
  }
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) {
      run.exit_status = WEXITSTATUS(status);
    }
    run.out = ReadWholeFile(out_path);
    run.err = ReadWholeFile(err_path);
  }
  std::error_code ignored;
  std::filesystem::remove_all(directory, ignored);
  return run;
}

}  // namespace vexel::testing
