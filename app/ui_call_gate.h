// How the download worker reaches the user-interface thread.
//
// Every window change the worker makes (captions, enabled states, layout, log
// lines, the outcome box) and every read of the live page is a call that runs
// on the user-interface thread while the worker waits for it. Qt's blocking
// queued connection would do the running, but its wait cannot be cut short: a
// worker waiting for a page script whose answer never comes, or for a window
// that is closing, would hang the program. The gate keeps each wait
// cancellable: once the window closes the gate, every wait under way and every
// later call ends at once as a failure, and the user-interface thread never
// has to wait for the worker.
#pragma once

#include <QObject>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace vexel::app {

class UiCallGate {
 public:
  // Calls run in the thread of `context` (the window) and are dropped by Qt
  // when it is destroyed.
  explicit UiCallGate(QObject* context);
  ~UiCallGate();
  UiCallGate(const UiCallGate&) = delete;
  UiCallGate& operator=(const UiCallGate&) = delete;
  UiCallGate(UiCallGate&&) = delete;
  UiCallGate& operator=(UiCallGate&&) = delete;

  // Worker side. Runs `task` on the user-interface thread and waits until it
  // has run. False when the gate was closed before or during the wait; the
  // task then may or may not have run, and will not run any more afterwards.
  bool Run(std::function<void()> task);

  // Worker side. Runs `start` on the user-interface thread, handing it a
  // completion to call (there or later, from a callback) with the answer, and
  // waits for that answer. Nothing when the gate closes first, when
  // `timeout` (if given) passes first, or when `give_up` (if given) is set
  // and WakeWaiters is called.
  template <typename T>
  std::optional<T> Await(std::function<void(std::function<void(T)>)> start,
                         std::optional<std::chrono::milliseconds> timeout = std::nullopt,
                         const std::atomic<bool>* give_up = nullptr) {
    auto slot = std::make_shared<Slot<T>>();
    auto state = state_;
    auto complete = [state, slot](T value) {
      {
        std::lock_guard lock(state->mutex);
        if (slot->value) {
          return;  // a completion counts once
        }
        slot->value.emplace(std::move(value));
      }
      state->changed.notify_all();
    };
    if (!Post([start = std::move(start), complete = std::move(complete)] { start(complete); })) {
      return std::nullopt;
    }
    std::unique_lock lock(state->mutex);
    auto ready = [&] {
      return slot->value.has_value() || state->closed || (give_up != nullptr && give_up->load());
    };
    if (timeout) {
      state->changed.wait_for(lock, *timeout, ready);
    } else {
      state->changed.wait(lock, ready);
    }
    if (!slot->value) {
      return std::nullopt;
    }
    return std::move(slot->value);
  }

  // User-interface side: releases every waiting worker call and fails all
  // later ones. Final.
  void Close();
  // Any thread: makes waiting calls look at their give-up flag again (after
  // it has been set).
  void WakeWaiters();
  bool IsClosed() const;

 private:
  struct State {
    mutable std::mutex mutex;
    std::condition_variable changed;
    bool closed = false;
  };
  template <typename T>
  struct Slot {
    std::optional<T> value;
  };

  // Queues `task` for the user-interface thread unless the gate is closed;
  // a task that comes up after closing is skipped.
  bool Post(std::function<void()> task);

  // Fixed at construction and only read afterwards, from either thread.
  QObject* context_;
  QThread* ui_thread_;
  std::shared_ptr<State> state_;
};

}  // namespace vexel::app
