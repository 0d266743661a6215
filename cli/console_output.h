// How vexel-dl shows a job: the log lines as the window's log pane would show
// them and, on a terminal, one status line below them (chapter k of K, page n
// of N, bytes, rate, time left, a retry awaited) that is wiped before each log
// line and drawn again after it, so the log is never garbled. When the output is not a terminal
// there is no status line and log text is written as it comes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vexel::cli {

class ConsoleOutput {
 public:
  using Clock = std::chrono::steady_clock;
  // Receives every byte written; flushed by the caller's choice.
  using Sink = std::function<void(std::string_view bytes)>;

  // `terminal`: draw the status line; `width`: the terminal's columns (0:
  // unknown), which the status line never reaches.
  ConsoleOutput(Sink sink, bool terminal, int width = 0);

  // Log text from the job; "\r\n" becomes "\n". On a terminal an unfinished
  // line is held back until its end arrives, so the status line can stay
  // below it.
  void Log(std::string_view text);
  // A line of vexel-dl's own (the outcome text), given without line end.
  void Line(std::string_view text);

  // Progress: chapter `chapter` of `chapter_count` (from 1) begins loading.
  // Without this call the run counts as one chapter.
  void ChapterStarted(std::size_t chapter, std::size_t chapter_count, Clock::time_point now);
  // From the job's page hooks and the fetcher's transfer callback. `fetched`
  // is false for a page that was already in the folder.
  void PageStarted(std::int64_t page, std::int32_t page_count, Clock::time_point now);
  void PageFinished(bool fetched, Clock::time_point now);
  void Transferred(std::int64_t received, Clock::time_point now);
  // While a page waits to be tried again nothing moves; the status line
  // says why.
  void SetRetryPending(bool pending, Clock::time_point now);
  // The server asked every request to wait `wait` from `now` (0: the pause
  // is over); the status line counts it down as 等待 N 秒.
  void SetPaused(std::chrono::seconds wait, Clock::time_point now);
  // Shown in the status line once a stop has been asked for.
  void SetStopping(int interrupts, Clock::time_point now);
  // Wipes the status line (and writes any unfinished log line) at the end of
  // a chapter.
  void Finish();

  // The status line's text for the current state.
  std::string StatusText(Clock::time_point now) const;
  // The estimated time until the last chapter ends; nothing before anything
  // has been fetched to measure by.
  std::optional<Clock::duration> TimeLeft(Clock::time_point now) const;

 private:
  void WriteLogText(std::string_view text);
  void ClearStatus();
  void DrawStatus(Clock::time_point now);
  void ResetChapter();

  Sink sink_;
  bool terminal_;
  int width_;
  bool carriage_return_pending_ = false;
  std::string held_;  // terminal: the unfinished log line
  bool status_shown_ = false;
  Clock::time_point last_draw_{};
  Clock::time_point latest_{};  // the latest time any call brought

  std::int64_t page_ = 0;
  std::int32_t page_count_ = 0;
  std::int64_t completed_bytes_ = 0;
  std::int64_t current_bytes_ = 0;
  Clock::time_point started_{};
  bool started_set_ = false;
  int interrupts_ = 0;
  bool retry_pending_ = false;
  std::optional<Clock::time_point> paused_until_;

  // For the estimate: the run's chapters, and the current chapter's pages
  // fetched (or failed) and found present.
  std::size_t chapter_ = 0;
  std::size_t chapter_count_ = 0;
  std::optional<Clock::time_point> run_started_;
  std::int64_t pages_fetched_ = 0;
  std::int64_t pages_present_ = 0;
};

// "45s", "12m05s", "3h20m"
std::string FormatDuration(ConsoleOutput::Clock::duration duration);

// "1.5 MB", "820 KB", "512 B"
std::string FormatBytes(double bytes);

// `text` with each control character (C0, DEL, and C1 in its UTF-8 form)
// shown as "?": what text from a page may bring to a terminal, where such a
// character could move the cursor, retitle the window or worse.
std::string ReplaceControlCharacters(std::string_view text);
// Where the first of those control characters other than the tab starts in
// `text`; npos when it holds none.
std::size_t FindControlCharacter(std::string_view text);

}  // namespace vexel::cli
