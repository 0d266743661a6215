#include "cli/interrupt_flags.h"

namespace vexel::cli {
namespace {

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");

std::atomic<int> g_interrupts{0};
std::atomic<bool> g_abandon{false};

extern "C" void OnInterrupt(int /*signal*/) {
  if (g_interrupts.fetch_add(1) + 1 >= 2) {
    g_abandon.store(true);
    // A further Ctrl-C ends the program at once.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(SIGINT, &default_action, nullptr);
  }
}

}  // namespace

InterruptFlags::InterruptFlags() {
  g_interrupts = 0;
  g_abandon = false;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, &previous_);
}

InterruptFlags::~InterruptFlags() { sigaction(SIGINT, &previous_, nullptr); }

int InterruptFlags::Count() const { return g_interrupts.load(); }

const std::atomic<bool>& InterruptFlags::Abandon() const { return g_abandon; }

}  // namespace vexel::cli
