#include "files/real_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

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

  int get() const { return fd_; }
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

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool CopyContents(int from, int to) {
  // The kernel copies without bringing the bytes into this process; file
  // systems or kernels that cannot say so, and the loop below does it.
  for (;;) {
    const ssize_t copied = ::copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
    if (copied == 0) {
      return true;
    }
    if (copied < 0) {
      if (errno == EINTR) {
        continue;
      }
      if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
          errno != EPERM) {
        return false;
      }
      break;
    }
  }
  std::array<char, std::size_t{64} * 1024> buffer{};
  for (;;) {
    const ssize_t got = ::read(from, buffer.data(), buffer.size());
    if (got == 0) {
      return true;
    }
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    if (!WriteAll(to, buffer.data(), static_cast<std::size_t>(got))) {
      return false;
    }
  }
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

class PosixFileSystem final : public download::FileSystem {
 public:
  download::FileResult CreateDirectory(const std::string& path) override {
    if (::mkdir(path.c_str(), 0777) == 0) {
      return {};
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

  bool CopyToNewFile(const std::string& from, const std::string& to) override {
    const UniqueFd source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!source.valid()) {
      return false;
    }
    UniqueFd target(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!target.valid()) {
      return false;
    }
    const bool copied = CopyContents(source.get(), target.get());
    if (!target.Close() || !copied) {
      ::unlink(to.c_str());
      return false;
    }
    return true;
  }

  bool Rename(const std::string& from, const std::string& to) override {
    return ::rename(from.c_str(), to.c_str()) == 0;
  }

  bool Remove(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

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
};

}  // namespace

download::FileSystem& RealFileSystem() {
  static PosixFileSystem file_system;
  return file_system;
}

}  // namespace vexel::files
