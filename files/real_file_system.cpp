#include "files/real_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <csignal>

#include <atomic>
#include <cerrno>
#include <chrono>
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
