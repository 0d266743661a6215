// Removing the temporary files that a killed run left in a folder, and the
// locks that tell whose files are still being written.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "download/file_system.h"

namespace vexel::files {

// Who a leftover belongs to: a process, or whoever holds a lock.
struct LeftoverOwner {
  long process_id = 0;  // > 0: the file is this process's
  std::string lock;     // otherwise: the file is of whoever holds a lock on this path
};

// The owner of a file named `name` when the name is exactly one of the
// caller's own temporary names; nothing for every other name.
using LeftoverMatcher = std::function<std::optional<LeftoverOwner>(std::string_view name)>;

// A file younger than this may belong to a run that is just starting: a
// process id can be read before its process has taken its lock, and a file
// system may show another machine's file before its process.
inline constexpr std::chrono::seconds kLeftoverMinimumAge{60};

// Removes from `folder` (ending in "/") each regular file whose name
// `matcher` claims, whose owner has gone (the process has ended, or the lock
// can be taken or its path no longer exists) and which last changed at least
// `minimum_age` ago. Anything else is left alone. Returns how many went.
int SweepLeftovers(download::FileSystem& file_system, const std::string& folder,
                   const LeftoverMatcher& matcher,
                   std::chrono::seconds minimum_age = kLeftoverMinimumAge);

// An exclusive lock taken through the seam, held until destroyed.
class HeldLock {
 public:
  HeldLock() = default;
  // Tries once, without waiting; error() says why when it was not taken.
  HeldLock(download::FileSystem& file_system, const std::string& path);
  ~HeldLock();
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;
  HeldLock(HeldLock&& other) noexcept;
  HeldLock& operator=(HeldLock&& other) noexcept;

  bool held() const { return fd_ >= 0; }
  int error() const { return error_; }

 private:
  download::FileSystem* file_system_ = nullptr;
  int fd_ = -1;
  int error_ = 0;
};

}  // namespace vexel::files
