// Whether a page of the browser engine is loading, for the job's reads from
// another thread: a document is read only once its page has settled.
#pragma once

#include <atomic>

class QWebEnginePage;

namespace vexel::app {

class LoadBusyTracker {
 public:
  // Follows the loads of `page` from now on. Connected before any other
  // handler of the page's load signals, so those see the new state already.
  // User-interface thread; `page` must outlive the tracker's connections
  // (they go with the page).
  void Follow(QWebEnginePage* page);
  // Busy from now on, ahead of the engine's own loadStarted (a load that has
  // just been asked for).
  void MarkBusy() { busy_.store(true, std::memory_order_release); }
  // Any thread.
  bool Busy() const { return busy_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> busy_{false};
};

}  // namespace vexel::app
