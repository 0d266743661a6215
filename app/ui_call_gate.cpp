#include "app/ui_call_gate.h"

#include <QMetaObject>

namespace vexel::app {

UiCallGate::UiCallGate(QObject* context)
    : context_(context),
      ui_thread_(context != nullptr ? context->thread() : nullptr),
      state_(std::make_shared<State>()) {}

UiCallGate::~UiCallGate() { Close(); }

bool UiCallGate::Run(std::function<void()> task) {
  if (QThread::currentThread() == ui_thread_) {
    // Already on the user-interface thread: waiting for a queued call here
    // would wait forever.
    if (IsClosed()) {
      return false;
    }
    task();
    return true;
  }
  return Await<bool>([task = std::move(task)](const std::function<void(bool)>& done) {
           task();
           done(true);
         })
      .has_value();
}

bool UiCallGate::Post(std::function<void()> task) {
  if (context_ == nullptr || QThread::currentThread() == ui_thread_) {
    return false;
  }
  if (IsClosed()) {
    return false;
  }
  auto state = state_;
  return QMetaObject::invokeMethod(
      context_,
      [state, task = std::move(task)] {
        {
          std::lock_guard lock(state->mutex);
          if (state->closed) {
            return;
          }
        }
        task();
      },
      Qt::QueuedConnection);
}

void UiCallGate::Close() {
  {
    std::lock_guard lock(state_->mutex);
    state_->closed = true;
  }
  state_->changed.notify_all();
}

void UiCallGate::WakeWaiters() {
  // Taking the lock orders the flag's store before any waiter's next check.
  { const std::lock_guard lock(state_->mutex); }
  state_->changed.notify_all();
}

bool UiCallGate::IsClosed() const {
  std::lock_guard lock(state_->mutex);
  return state_->closed;
}

}  // namespace vexel::app
