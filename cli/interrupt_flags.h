// Ctrl-C for vexel-dl. The first SIGINT asks the job to stop after the page
// under way; the second abandons that page's transfer at once; a third ends
// the program the default way. The handler only sets atomics, which the job
// and the fetcher poll.
#pragma once

#include <atomic>
#include <csignal>

namespace vexel::cli {

class InterruptFlags {
 public:
  // Installs the SIGINT handler; the destructor puts the previous one back.
  // One instance at a time.
  InterruptFlags();
  ~InterruptFlags();
  InterruptFlags(const InterruptFlags&) = delete;
  InterruptFlags& operator=(const InterruptFlags&) = delete;

  // How many SIGINTs have arrived.
  int Count() const;
  bool StopRequested() const { return Count() >= 1; }
  // Set by the second SIGINT; handed to the image fetcher.
  const std::atomic<bool>& Abandon() const;

 private:
  struct sigaction previous_ {};
};

}  // namespace vexel::cli
