// What a chapter's job reaches on the window's side: the view's own job
// writes into the window (its log pane and title), a chapter of the
// background queue into its row of the queue and a log of its own. Every
// call but Gate() and StopFlag() comes from the job's worker thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "app/ui_call_gate.h"
#include "download/download_host.h"

namespace vexel::app {

// Where a job is, for a progress display.
struct JobProgress {
  std::int64_t page = 0;
  std::int32_t page_count = 0;
  bool retry_pending = false;  // a page waits to be tried again
  // The end of the server's pause; none while there is none.
  std::optional<std::chrono::steady_clock::time_point> pause_until;
};

class JobChannel {
 public:
  virtual ~JobChannel() = default;

  // The gate to the user-interface thread, and the flag that ends the job.
  virtual UiCallGate& Gate() = 0;
  virtual const std::atomic<bool>& StopFlag() const = 0;
  virtual void ClearLog() = 0;
  virtual void AppendLog(std::string_view text) = 0;
  virtual void SetResultText(std::string_view text) = 0;
  virtual void ShowProgress(const JobProgress& progress) = 0;
  // A page was stored after `bytes` came in; for a display of the speed.
  virtual void PageStored(std::uint64_t /*bytes*/) {}
  virtual download::OutputDirectory ChooseOutputDirectory() = 0;
  // Pages with more elements than this are refused as too complex.
  virtual std::size_t MaxPageElements() const = 0;

 protected:
  JobChannel() = default;
  JobChannel(const JobChannel&) = default;
  JobChannel& operator=(const JobChannel&) = default;
  JobChannel(JobChannel&&) = default;
  JobChannel& operator=(JobChannel&&) = default;
};

}  // namespace vexel::app
