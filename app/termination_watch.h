// SIGTERM as a request to end, not an end: while a watch exists, the signal
// is turned into a call on the user-interface thread, so that the window can
// stop its job as the close box does (the image under way abandoned, the
// pages stored kept) before the program ends.
//
// The handler only writes a byte to a pipe (async-signal-safe); a socket
// notifier on the pipe's other end makes the call from the event loop.
#pragma once

#include <QSocketNotifier>

#include <csignal>
#include <functional>
#include <memory>

class QObject;

namespace vexel::app {

class TerminationWatch {
 public:
  // `requested` runs on the thread of `context` after each SIGTERM. One
  // watch at a time; without a pipe the signal keeps its old action.
  TerminationWatch(QObject* context, std::function<void()> requested);
  // Gives the signal its previous action back.
  ~TerminationWatch();
  TerminationWatch(const TerminationWatch&) = delete;
  TerminationWatch& operator=(const TerminationWatch&) = delete;
  TerminationWatch(TerminationWatch&&) = delete;
  TerminationWatch& operator=(TerminationWatch&&) = delete;

  bool Active() const { return installed_; }

 private:
  void Drain() const;

  int read_fd_ = -1;
  int write_fd_ = -1;
  bool installed_ = false;
  struct sigaction previous_ {};
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace vexel::app
