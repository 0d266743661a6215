#include "files/leftover_sweep.h"

#include <cerrno>
#include <utility>

namespace vexel::files {

HeldLock::HeldLock(download::FileSystem& file_system, const std::string& path)
    : file_system_(&file_system) {
  const download::OpenedFile opened = file_system.TryLock(path);
  fd_ = opened.fd;
  error_ = opened.error;
}

HeldLock::~HeldLock() {
  if (fd_ >= 0) {
    file_system_->CloseFile(fd_);
  }
}

HeldLock::HeldLock(HeldLock&& other) noexcept
    : file_system_(other.file_system_), fd_(std::exchange(other.fd_, -1)), error_(other.error_) {}

HeldLock& HeldLock::operator=(HeldLock&& other) noexcept {
  if (this != &other) {
    HeldLock old(std::move(*this));
    file_system_ = other.file_system_;
    fd_ = std::exchange(other.fd_, -1);
    error_ = other.error_;
  }
  return *this;
}

int SweepLeftovers(download::FileSystem& file_system, const std::string& folder,
                   const LeftoverMatcher& matcher, std::chrono::seconds minimum_age) {
  int removed = 0;
  for (const std::string& name : file_system.ListFolder(folder)) {
    const std::optional<LeftoverOwner> owner = matcher(name);
    if (!owner) {
      continue;
    }
    const std::string path = folder + name;
    const std::optional<std::chrono::seconds> age = file_system.AgeOfFile(path);
    if (!age || *age < minimum_age) {
      continue;
    }
    if (owner->process_id > 0) {
      if (file_system.ProcessHasEnded(owner->process_id) && file_system.Remove(path)) {
        ++removed;
      }
      continue;
    }
    // The lock is kept while the file goes, so that no run can take it up
    // in between.
    const HeldLock lock(file_system, owner->lock);
    if ((lock.held() || lock.error() == ENOENT) && file_system.Remove(path)) {
      ++removed;
    }
  }
  return removed;
}

}  // namespace vexel::files
