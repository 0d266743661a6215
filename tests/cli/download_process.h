// Runs a program as a child process with its standard output and error
// captured, optionally feeding its standard input, sending it signals once
// its output shows a given text or closing its output early, as a reader that
// goes away would.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace vexel::testing {

struct ProcessResult {
  int exit_status = -1;  // -1 when it did not exit normally
  int signal = 0;
  std::string out;
  std::string err;
};

struct ProcessHooks {
  // Called once the child runs, before any of its output is read.
  std::function<void(pid_t)> started;
  // When not empty: standard output is read until it shows this text, then
  // its read end is closed, as `program | head -1` does, and `output_closed`
  // runs.
  std::string close_output_after;
  std::function<void()> output_closed;
  // When set: the child's standard input, written to it through a stream
  // socket that is then closed, so it reads these bytes and then the end, as
  // from `producer | program`. Otherwise it inherits the test's.
  std::optional<std::string> input;
};

// `on_output` is called after every read with the output so far and the
// child's pid, so a test can signal it at the right moment. The child is
// killed when it outlives `limit`.
inline ProcessResult RunProcess(
    const std::vector<std::string>& argv, const std::string& directory,
    const std::function<void(const std::string&, pid_t)>& on_output = {},
    std::chrono::seconds limit = std::chrono::seconds(60), const ProcessHooks& hooks = {}) {
  ProcessResult result;
  int out_pipe[2];
  int err_pipe[2];
  int in_socket[2] = {-1, -1};
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0 ||
      (hooks.input && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in_socket) != 0)) {
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
  if (hooks.input) {
    posix_spawn_file_actions_adddup2(&actions, in_socket[0], STDIN_FILENO);
  }
  if (!directory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  }
  std::vector<char*> args;
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  pid_t pid = -1;
  // The child starts with SIGPIPE's default action, as from a shell: the
  // tests' cpp-httplib servers have the whole test process ignore it, and an
  // ignored signal would stay ignored in the child.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  const int spawned = ::posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  if (hooks.input) {
    ::close(in_socket[0]);
  }
  if (spawned != 0) {
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    if (hooks.input) {
      ::close(in_socket[1]);
    }
    return result;
  }
  if (hooks.started) {
    hooks.started(pid);
  }

  const auto deadline = std::chrono::steady_clock::now() + limit;
  pollfd fds[3] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}, {in_socket[1], POLLOUT, 0}};
  std::size_t written = 0;
  if (hooks.input && hooks.input->empty()) {
    ::close(fds[2].fd);
    fds[2].fd = -1;
  }
  int open_pipes = 2;
  char buffer[4096];
  while (open_pipes > 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      break;
    }
    if (::poll(fds, 3, 100) <= 0) {
      continue;
    }
    if (fds[2].fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
      // Written as the child reads, never blocking the loop that drains its
      // output, and with no SIGPIPE when the child has gone without reading.
      const ssize_t put = ::send(fds[2].fd, hooks.input->data() + written,
                                 hooks.input->size() - written, MSG_DONTWAIT | MSG_NOSIGNAL);
      written += put > 0 ? static_cast<std::size_t>(put) : 0;
      // Done, or the child closed its end without reading it all.
      if (written == hooks.input->size() || (put < 0 && errno != EAGAIN)) {
        ::close(fds[2].fd);
        fds[2].fd = -1;
      }
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0) {
        continue;
      }
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_pipes;
        continue;
      }
      (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(got));
      if (i == 0 && on_output) {
        on_output(result.out, pid);
      }
      if (i == 0 && !hooks.close_output_after.empty() &&
          result.out.find(hooks.close_output_after) != std::string::npos) {
        ::close(fds[0].fd);
        fds[0].fd = -1;
        --open_pipes;
        if (hooks.output_closed) {
          hooks.output_closed();
        }
      }
    }
  }
  for (const pollfd& fd : fds) {
    if (fd.fd >= 0) {
      ::close(fd.fd);
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

}  // namespace vexel::testing
