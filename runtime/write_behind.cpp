#include "runtime/write_behind.h"

#include <utility>

namespace vexel::runtime {
namespace {

// Once this many bytes of pages have landed, one flush of the file system
// writes them out together, so that the flush before the record is left with
// the last few pages alone. Flushing (or starting the writeback of) each page
// on its own was measured slower: a disk write and a journal commit each,
// where a flush of a few megabytes makes a few large writes.
constexpr std::uint64_t kFlushEveryBytes = std::uint64_t{2} << 20;

}  // namespace

WriteBehindFiles::WriteBehindFiles(download::FileSystem& files)
    : files_(files), writer_([this](const std::stop_token& stop) { Write(stop); }) {}

WriteBehindFiles::~WriteBehindFiles() {
  Stop();
  // The jthread joins: a flush of the writer's under way is waited for here,
  // not by Stop(), whose caller flushes everything anyway.
}

void WriteBehindFiles::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
    flush_path_.clear();
  }
  writer_.request_stop();
}

bool WriteBehindFiles::Rename(const std::string& from, const std::string& to) {
  if (!files_.Rename(from, to)) {
    return false;
  }
  if (unflushed_.load(std::memory_order_relaxed) < kFlushEveryBytes) {
    return true;
  }
  unflushed_.store(0, std::memory_order_relaxed);
  {
    const std::lock_guard lock(mutex_);
    if (stopped_) {
      return true;
    }
    // A flush asked for while one runs is merged into the next.
    flush_path_ = to;
  }
  wake_.notify_one();
  return true;
}

void WriteBehindFiles::Write(const std::stop_token& stop) {
  for (;;) {
    std::string path;
    {
      std::unique_lock lock(mutex_);
      if (!wake_.wait(lock, stop, [this] { return !flush_path_.empty(); })) {
        return;
      }
      path = std::exchange(flush_path_, {});
    }
    files_.FlushToDisk(path);
  }
}

}  // namespace vexel::runtime
