// Stop requests for vexel-dl. The first SIGINT asks the job to stop after the
// page under way; the second abandons that page's transfer at once; a third
// ends the program the default way. SIGTERM counts as a second SIGINT, so a
// killed download leaves no half-received file behind. SIGPIPE is ignored: a
// reader that goes away (vexel-dl ... | head -1) shows as EPIPE from a write,
// and the writer asks for a stop as a first SIGINT would. The handlers only
// set atomics, which the job and the fetcher poll.
#pragma once

#include <atomic>
#include <csignal>

namespace vexel::cli {

class InterruptFlags {
 public:
  // Installs the SIGINT and SIGTERM handlers and ignores SIGPIPE; the
  // destructor puts the previous actions back. One instance at a time.
  InterruptFlags();
  ~InterruptFlags();
  InterruptFlags(const InterruptFlags&) = delete;
  InterruptFlags& operator=(const InterruptFlags&) = delete;
  InterruptFlags(InterruptFlags&&) = delete;
  InterruptFlags& operator=(InterruptFlags&&) = delete;

  // How many SIGINTs have arrived; SIGTERM counts as two.
  int Count() const;
  bool StopRequested() const { return Count() >= 1; }
  // Asks for a stop after the page under way, as a first SIGINT does; no
  // effect once one has arrived.
  void RequestStop();
  // Set by the second SIGINT or by SIGTERM; handed to the page loader and the
  // image fetcher.
  const std::atomic<bool>& Abandon() const;

 private:
  struct sigaction previous_interrupt_ {};
  struct sigaction previous_terminate_ {};
  struct sigaction previous_pipe_ {};
};

}  // namespace vexel::cli
