#include "files/real_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
};

}  // namespace

download::FileSystem& RealFileSystem() {
  static PosixFileSystem file_system;
  return file_system;
}

}  // namespace vexel::files
