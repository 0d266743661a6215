#include "cli/console_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vexel::cli {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr std::string_view kClearLine = "\r\x1b[K";

// An estimate past this is no estimate (a chapter that claims millions of
// pages).
constexpr auto kLongestEstimate = std::chrono::hours(100);

// Cuts `text` to at most `columns` terminal columns. The status line is ASCII
// but for its Chinese words, which take two columns a character, so counting
// every non-ASCII character as two is exact; a line that wrapped would no
// longer be wiped by the next redraw.
std::string FitColumns(const std::string& text, int columns) {
  if (columns <= 0) {
    return text;
  }
  int count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte & 0xC0U) == 0x80U) {
      continue;  // a continuation byte
    }
    count += byte < 0x80U ? 1 : 2;
    if (count > columns) {
      return text.substr(0, i);
    }
  }
  return text;
}

// The length of the control character that starts at `at`: C0 or DEL (1),
// C1 in its UTF-8 form (2); 0 for anything else.
std::size_t ControlCharacterAt(std::string_view text, std::size_t at) {
  const auto byte = static_cast<unsigned char>(text[at]);
  if (byte < 0x20 || byte == 0x7F) {
    return 1;
  }
  const bool c1 = byte == 0xC2 && at + 1 < text.size() &&
                  static_cast<unsigned char>(text[at + 1]) >= 0x80 &&
                  static_cast<unsigned char>(text[at + 1]) <= 0x9F;
  return c1 ? 2 : 0;
}

}  // namespace

std::string ReplaceControlCharacters(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t control = ControlCharacterAt(text, i);
    if (control > 0) {
      shown += '?';
      i += control - 1;
    } else {
      shown += text[i];
    }
  }
  return shown;
}

std::size_t FindControlCharacter(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\t' && ControlCharacterAt(text, i) > 0) {
      return i;
    }
  }
  return std::string_view::npos;
}

std::string FormatBytes(double bytes) {
  char buffer[32];
  if (bytes >= 1024.0 * 1024.0) {
    std::snprintf(buffer, sizeof buffer, "%.1f MB", bytes / (1024.0 * 1024.0));
  } else if (bytes >= 1024.0) {
    std::snprintf(buffer, sizeof buffer, "%.0f KB", bytes / 1024.0);
  } else {
    std::snprintf(buffer, sizeof buffer, "%.0f B", bytes);
  }
  return buffer;
}

std::string FormatDuration(ConsoleOutput::Clock::duration duration) {
  const long long seconds =
      std::max(0LL, std::llround(std::chrono::duration<double>(duration).count()));
  char buffer[32];
  if (seconds < 60) {
    std::snprintf(buffer, sizeof buffer, "%llds", seconds);
  } else if (seconds < 3600) {
    std::snprintf(buffer, sizeof buffer, "%lldm%02llds", seconds / 60, seconds % 60);
  } else {
    std::snprintf(buffer, sizeof buffer, "%lldh%02lldm", seconds / 3600, seconds % 3600 / 60);
  }
  return buffer;
}

ConsoleOutput::ConsoleOutput(Sink sink, bool terminal, int width)
    : sink_(std::move(sink)), terminal_(terminal), width_(width) {}

void ConsoleOutput::WriteLogText(std::string_view text) {
  // "\r\n" may in principle be split across two appends; hold a final "\r".
  std::string converted;
  converted.reserve(text.size() + 1);
  if (carriage_return_pending_) {
    carriage_return_pending_ = false;
    if (text.empty() || text.front() != '\n') {
      converted += '\r';
    }
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 == text.size()) {
        carriage_return_pending_ = true;
        continue;
      }
      if (text[i + 1] == '\n') {
        continue;
      }
    }
    if (terminal_ && text[i] != '\n') {
      // The log carries text from the page (image addresses). On a terminal
      // a control character in it could move the cursor, retitle the window
      // or worse, so each one other than the line break shows as "?". Pipes
      // and files get the bytes as they are.
      if (const std::size_t control = ControlCharacterAt(text, i); control > 0) {
        converted += '?';
        i += control - 1;
        continue;
      }
    }
    converted += text[i];
  }
  if (!terminal_) {
    sink_(converted);
    return;
  }
  held_ += converted;
  const std::size_t end = held_.rfind('\n');
  if (end == std::string::npos) {
    return;
  }
  ClearStatus();
  sink_(std::string_view(held_).substr(0, end + 1));
  held_.erase(0, end + 1);
}

void ConsoleOutput::Log(std::string_view text) {
  const bool had_status = status_shown_;
  WriteLogText(text);
  if (had_status && !status_shown_) {
    DrawStatus(latest_);
  }
}

void ConsoleOutput::Line(std::string_view text) {
  Finish();
  std::string line(text);
  line += '\n';
  sink_(line);
}

void ConsoleOutput::ClearStatus() {
  if (status_shown_) {
    sink_(kClearLine);
    status_shown_ = false;
  }
}

void ConsoleOutput::DrawStatus(Clock::time_point now) {
  if (!terminal_) {
    return;
  }
  std::string text(kClearLine);
  text += FitColumns(StatusText(now), width_ > 1 ? width_ - 1 : 0);
  sink_(text);
  status_shown_ = true;
  last_draw_ = now;
}

std::string ConsoleOutput::StatusText(Clock::time_point now) const {
  const std::int64_t bytes = completed_bytes_ + current_bytes_;
  const double seconds = started_set_ ? std::chrono::duration<double>(now - started_).count() : 0;
  std::string text;
  if (chapter_count_ > 1) {
    text = "chapter " + std::to_string(chapter_) + "/" + std::to_string(chapter_count_) + "  ";
  }
  text += "page " + std::to_string(page_) + "/" + std::to_string(page_count_) + "  " +
          FormatBytes(static_cast<double>(bytes));
  if (seconds > 0.05) {
    text += "  " + FormatBytes(static_cast<double>(bytes) / seconds) + "/s";
  }
  if (const std::optional<Clock::duration> left = TimeLeft(now)) {
    text += "  ~" + FormatDuration(*left) + " left";
  }
  if (paused_until_ && *paused_until_ > now) {
    const auto left = std::chrono::ceil<std::chrono::seconds>(*paused_until_ - now);
    text += "  等待 " + std::to_string(left.count()) + " 秒";
  } else if (retry_pending_) {
    text += "  等待重试";
  }
  if (interrupts_ == 1) {
    text += "  stopping after this page (Ctrl-C again: abandon it)";
  } else if (interrupts_ > 1) {
    text += "  abandoning";
  }
  return text;
}

// The share of the run done so far is the chapters before this one and the
// part of this one's pages to fetch that has been fetched; the time left is
// the time taken so far, scaled to the share still to do. Pages found
// present count neither way, so a resumed chapter is not thought almost
// done.
std::optional<ConsoleOutput::Clock::duration> ConsoleOutput::TimeLeft(Clock::time_point now) const {
  if (!run_started_ && !started_set_) {
    return std::nullopt;
  }
  const double chapters = chapter_count_ > 0 ? static_cast<double>(chapter_count_) : 1.0;
  const double earlier = chapter_ > 1 ? static_cast<double>(chapter_ - 1) : 0.0;
  const std::int64_t to_fetch = page_count_ - pages_present_;
  const double share =
      to_fetch > 0
          ? std::min(1.0, static_cast<double>(pages_fetched_) / static_cast<double>(to_fetch))
          : 0.0;
  const double done = earlier + share;
  if (done <= 0.0) {
    return std::nullopt;
  }
  const double elapsed =
      std::chrono::duration<double>(now - run_started_.value_or(started_)).count();
  const std::chrono::duration<double> left(std::max(0.0, elapsed * (chapters - done) / done));
  if (left > kLongestEstimate) {
    return std::nullopt;
  }
  return std::chrono::duration_cast<Clock::duration>(left);
}

void ConsoleOutput::ChapterStarted(std::size_t chapter, std::size_t chapter_count,
                                   Clock::time_point now) {
  latest_ = now;
  if (!run_started_) {
    run_started_ = now;
  }
  chapter_ = chapter;
  chapter_count_ = chapter_count;
  ResetChapter();
}

void ConsoleOutput::PageFinished(bool fetched, Clock::time_point now) {
  latest_ = now;
  ++(fetched ? pages_fetched_ : pages_present_);
}

void ConsoleOutput::SetRetryPending(bool pending, Clock::time_point now) {
  if (pending == retry_pending_) {
    return;
  }
  retry_pending_ = pending;
  latest_ = now;
  if (started_set_) {
    DrawStatus(now);
  }
}

void ConsoleOutput::SetPaused(std::chrono::seconds wait, Clock::time_point now) {
  paused_until_.reset();
  if (wait.count() > 0) {
    paused_until_ = now + wait;
  }
  latest_ = now;
  if (started_set_) {
    DrawStatus(now);
  }
}

void ConsoleOutput::PageStarted(std::int64_t page, std::int32_t page_count, Clock::time_point now) {
  latest_ = now;
  if (!started_set_) {
    started_ = now;
    started_set_ = true;
  }
  completed_bytes_ += current_bytes_;
  current_bytes_ = 0;
  page_ = page;
  page_count_ = page_count;
  DrawStatus(now);
}

void ConsoleOutput::Transferred(std::int64_t received, Clock::time_point now) {
  current_bytes_ = received;
  latest_ = now;
  if (terminal_ && now - last_draw_ >= kRedrawInterval) {
    DrawStatus(now);
  }
}

void ConsoleOutput::SetStopping(int interrupts, Clock::time_point now) {
  if (interrupts == interrupts_) {
    return;
  }
  interrupts_ = interrupts;
  latest_ = now;
  if (started_set_) {
    DrawStatus(now);
  }
}

void ConsoleOutput::Finish() {
  ClearStatus();
  if (carriage_return_pending_) {
    carriage_return_pending_ = false;
    held_ += '\r';
  }
  if (!held_.empty()) {
    sink_(held_);
    held_.clear();
  }
  ResetChapter();
}

void ConsoleOutput::ResetChapter() {
  completed_bytes_ = 0;
  current_bytes_ = 0;
  page_ = 0;
  page_count_ = 0;
  started_set_ = false;
  retry_pending_ = false;
  pages_fetched_ = 0;
  pages_present_ = 0;
}

}  // namespace vexel::cli
