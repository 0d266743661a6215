#include "cli/interrupt_flags.h"

namespace vexel::cli {
namespace {

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");

std::atomic<int> g_interrupts{0};
std::atomic<bool> g_abandon{false};

void SetAction(int signal, void (*handler)(int), struct sigaction* previous = nullptr) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signal, &action, previous);
}

// Raises the count to at least `count`; safe in a signal handler.
void RaiseCount(int count) {
  int current = g_interrupts.load();
  while (current < count && !g_interrupts.compare_exchange_weak(current, count)) {
  }
}

extern "C" void OnInterrupt(int /*signal*/) {
  if (g_interrupts.fetch_add(1) + 1 >= 2) {
    g_abandon.store(true);
    // A further Ctrl-C ends the program at once.
    SetAction(SIGINT, SIG_DFL);
  }
}

extern "C" void OnTerminate(int /*signal*/) {
  RaiseCount(2);
  g_abandon.store(true);
  // The transfer under way is being given up; a further SIGTERM or Ctrl-C
  // ends the program at once.
  SetAction(SIGTERM, SIG_DFL);
  SetAction(SIGINT, SIG_DFL);
}

}  // namespace

InterruptFlags::InterruptFlags() {
  g_interrupts = 0;
  g_abandon = false;
  SetAction(SIGINT, OnInterrupt, &previous_interrupt_);
  SetAction(SIGTERM, OnTerminate, &previous_terminate_);
  SetAction(SIGPIPE, SIG_IGN, &previous_pipe_);
}

InterruptFlags::~InterruptFlags() {
  sigaction(SIGPIPE, &previous_pipe_, nullptr);
  sigaction(SIGTERM, &previous_terminate_, nullptr);
  sigaction(SIGINT, &previous_interrupt_, nullptr);
}

int InterruptFlags::Count() const { return g_interrupts.load(); }

void InterruptFlags::RequestStop() { RaiseCount(1); }

const std::atomic<bool>& InterruptFlags::Abandon() const { return g_abandon; }

}  // namespace vexel::cli
