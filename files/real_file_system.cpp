#include "files/real_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <csignal>
#include <ctime>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>  // renameat2
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace vexel::files {
namespace {

// Owner of a POSIX file descriptor.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Close(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&&) = delete;
  UniqueFd& operator=(UniqueFd&&) = delete;

  bool valid() const { return fd_ >= 0; }
  int get() const { return fd_; }
  // Closes now and reports whether the close succeeded; a failed close can
  // mean lost data on some file systems.
  bool Close() {
    if (fd_ < 0) {
      return true;
    }
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
  }

 private:
  int fd_;
};

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::int64_t NanosecondsOf(const timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

class PosixFileSystem final : public download::FileSystem {
 public:
  download::FileResult CreateDirectory(const std::string& path) override {
    if (::mkdir(path.c_str(), 0777) == 0) {
      return {0, true};
    }
    const int error = errno;
    if (error == EEXIST && IsDirectory(path)) {
      return {};
    }
    return {error};
  }

  bool IsFile(const std::string& path) override {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  }

  bool CreateDirectories(const std::string& path) override {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return IsDirectory(path);
  }

  bool Rename(const std::string& from, const std::string& to) override {
    return ::rename(from.c_str(), to.c_str()) == 0;
  }

  bool Remove(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

  download::EntryKind KindOf(const std::string& path) override {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
      return download::EntryKind::None;
    }
    if (S_ISREG(info.st_mode)) {
      return download::EntryKind::File;
    }
    return S_ISDIR(info.st_mode) ? download::EntryKind::Directory : download::EntryKind::Other;
  }

  download::EntryStat StatOf(const std::string& path) override {
    download::EntryStat entry;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
      entry.error = errno;
      return entry;
    }
    entry.kind = S_ISREG(info.st_mode)   ? download::EntryKind::File
                 : S_ISDIR(info.st_mode) ? download::EntryKind::Directory
                                         : download::EntryKind::Other;
    entry.size = static_cast<std::uint64_t>(info.st_size);
    entry.changed_ns = NanosecondsOf(info.st_ctim);
    entry.inode = static_cast<std::uint64_t>(info.st_ino);
    // The kernel stamps changes with its coarse clock, read here after the
    // stat. A time on a 10 ms boundary comes, most likely, from a file
    // system that keeps times to 10 ms or 2 s (FAT, exFAT), where a change
    // made up to 2 s later can get the same time.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    const std::int64_t granule =
        entry.changed_ns % 10'000'000 == 0 ? std::int64_t{2'000'000'000} : std::int64_t{1};
    entry.settled = NanosecondsOf(now) >= entry.changed_ns + granule;
    return entry;
  }

  download::FileEnds ReadEnds(const std::string& path, std::size_t head,
                              std::size_t tail) override {
    download::FileEnds ends;
    // O_NONBLOCK: a pipe left at a page name must not hang the job.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
      ends.error = errno;
      return ends;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
      ends.error = errno;
      return ends;
    }
    if (!S_ISREG(info.st_mode)) {
      return ends;
    }
    ends.regular = true;
    ends.size = static_cast<std::uint64_t>(info.st_size);
    const auto read_at = [&](std::string& into, std::size_t count, std::uint64_t offset) {
      into.resize(count);
      std::size_t done = 0;
      while (done < count) {
        const ssize_t got =
            ::pread(fd.get(), into.data() + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
          continue;
        }
        if (got <= 0) {
          ends.error = got < 0 ? errno : 0;
          break;
        }
        done += static_cast<std::size_t>(got);
      }
      into.resize(done);
    };
    read_at(ends.head, static_cast<std::size_t>(std::min<std::uint64_t>(head, ends.size)), 0);
    const auto last = static_cast<std::size_t>(std::min<std::uint64_t>(tail, ends.size));
    read_at(ends.tail, last, ends.size - last);
    return ends;
  }

  download::FileResult RenameNoReplace(const std::string& from, const std::string& to) override {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
      return {};
    }
    if (errno != EINVAL && errno != ENOSYS) {
      return {errno};
    }
    // File systems without the flag: a hard link refuses an existing name
    // just the same (a directory cannot be linked and stays where it is).
    if (::link(from.c_str(), to.c_str()) != 0) {
      return {errno};
    }
    ::unlink(from.c_str());
    return {};
  }

  bool RemoveDirectory(const std::string& path) override { return ::rmdir(path.c_str()) == 0; }

  // Asks by trying: permission bits say nothing for root or on a read-only
  // mount, so a probe file is created and removed again.
  bool IsWritableDirectory(const std::string& path) override {
    if (path.empty() || !IsDirectory(path)) {
      return false;
    }
    static std::atomic<unsigned> counter{0};
    std::string probe = path;
    if (probe.back() != '/') {
      probe += '/';
    }
    probe += ".vexel-probe-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    UniqueFd fd(::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.valid()) {
      return false;
    }
    fd.Close();
    ::unlink(probe.c_str());
    return true;
  }

  // The mode goes to open(), which takes the umask off itself: reading the
  // umask would mean setting it, which races with every other thread.
  download::OpenedFile CreateNewFile(const std::string& path) override {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return fd >= 0 ? download::OpenedFile{fd, 0} : download::OpenedFile{-1, errno};
  }

  download::FileResult WriteFile(int fd, std::string_view data) override {
    while (!data.empty()) {
      const ssize_t written = ::write(fd, data.data(), data.size());
      if (written < 0 && errno == EINTR) {
        continue;
      }
      if (written <= 0) {
        return {written < 0 ? errno : EIO};
      }
      data.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
  }

  download::FileResult CloseFile(int fd) override { return {::close(fd) == 0 ? 0 : errno}; }

  download::OpenedFile TryLock(const std::string& path) override {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      return {-1, errno};
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno == EAGAIN ? EWOULDBLOCK : errno;
      ::close(fd);
      return {-1, error};
    }
    return {fd, 0};
  }

  std::vector<std::string> ListFolder(const std::string& path) override {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(path, error), end; !error && entry != end;
         entry.increment(error)) {
      names.push_back(entry->path().filename().string());
    }
    return names;
  }

  std::optional<std::chrono::seconds> AgeOfFile(const std::string& path) override {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
      return std::nullopt;
    }
    const auto changed = std::chrono::system_clock::from_time_t(info.st_mtim.tv_sec);
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now() -
                                                            changed);
  }

  // One syncfs of the whole file system costs about what an fsync of each
  // page file would, and covers the folder's own entries too.
  download::FileResult FlushToDisk(const std::string& path) override {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
      return {errno};
    }
    const int synced = ::syncfs(fd);
    const int error = synced == 0 ? 0 : errno;
    ::close(fd);
    return {error};
  }

  bool ProcessHasEnded(long pid) override {
    return pid > 0 && pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) == -1 &&
           errno == ESRCH;
  }
};

}  // namespace

download::FileSystem& RealFileSystem() {
  static PosixFileSystem file_system;
  return file_system;
}

}  // namespace vexel::files
