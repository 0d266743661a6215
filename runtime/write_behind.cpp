#include "runtime/write_behind.h"

#include <utility>

namespace vexel::runtime {
namespace {

// Written pages wait for their writeback in the kernel; once this many bytes
// have been handed on, one flush of the file system commits them, so that
// the flush before the record is left with the last few pages alone. A
// flush per page would cost a journal commit and a cache flush each.
constexpr std::uint64_t kFlushEveryBytes = std::uint64_t{4} << 20;

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
    queue_.clear();
  }
  writer_.request_stop();
}

bool WriteBehindFiles::Rename(const std::string& from, const std::string& to) {
  if (!files_.Rename(from, to)) {
    return false;
  }
  {
    const std::lock_guard lock(mutex_);
    if (stopped_) {
      return true;
    }
    queue_.push_back(to);
  }
  wake_.notify_one();
  return true;
}

void WriteBehindFiles::Write(const std::stop_token& stop) {
  std::uint64_t unflushed = 0;
  for (;;) {
    std::string path;
    {
      std::unique_lock lock(mutex_);
      if (!wake_.wait(lock, stop, [this] { return !queue_.empty(); })) {
        return;
      }
      path = std::move(queue_.front());
      queue_.pop_front();
    }
    files_.StartWriteOut(path);
    const download::EntryStat page = files_.StatOf(path);
    unflushed += page.size;
    if (unflushed >= kFlushEveryBytes) {
      files_.FlushToDisk(path);
      unflushed = 0;
    }
  }
}

}  // namespace vexel::runtime
