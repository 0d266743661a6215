#include "app/termination_watch.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <utility>

namespace vexel::app {
namespace {

// The handler reads it, so it must be lock-free to be safe there.
std::atomic<int> g_write_fd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnTerminationSignal(int /*signal*/) {
  const int saved_errno = errno;
  const int fd = g_write_fd.load();
  if (fd >= 0) {
    const char byte = 1;
    // A full pipe already holds a request; nothing is lost by dropping this.
    [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
  }
  errno = saved_errno;
}

}  // namespace

TerminationWatch::TerminationWatch(QObject* context, std::function<void()> requested) {
  int fds[2] = {-1, -1};
  if (g_write_fd.load() >= 0 || pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
    return;
  }
  read_fd_ = fds[0];
  write_fd_ = fds[1];
  notifier_ = std::make_unique<QSocketNotifier>(read_fd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, context,
                   [this, requested = std::move(requested)] {
                     Drain();
                     requested();
                   });
  g_write_fd.store(write_fd_);
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  installed_ = sigaction(SIGTERM, &action, &previous_) == 0;
  if (!installed_) {
    g_write_fd.store(-1);
  }
}

TerminationWatch::~TerminationWatch() {
  if (installed_) {
    sigaction(SIGTERM, &previous_, nullptr);
  }
  if (write_fd_ >= 0 && g_write_fd.load() == write_fd_) {
    g_write_fd.store(-1);
  }
  notifier_.reset();
  if (read_fd_ >= 0) {
    close(read_fd_);
  }
  if (write_fd_ >= 0) {
    close(write_fd_);
  }
}

void TerminationWatch::Drain() const {
  char bytes[64];
  while (read(read_fd_, bytes, sizeof bytes) > 0) {
  }
}

}  // namespace vexel::app
