#include "app/cookie_file.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vexel::app {
namespace {

// The temporary file's descriptor, closed however the write ends.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor(Descriptor&&) = delete;
  Descriptor& operator=(Descriptor&&) = delete;

  int get() const { return fd_; }
  // False when the close reported a failed write.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

QString WindowDataFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/vexel-downloader");
}

bool WritePrivateFile(const QString& path, const std::string& contents) {
  const QString folder = QFileInfo(path).path();
  const QByteArray folder_name = QFile::encodeName(folder);
  if (!QFileInfo(folder).isDir() &&
      (!QDir().mkpath(QFileInfo(folder).path()) || ::mkdir(folder_name.constData(), 0700) != 0)) {
    return false;
  }
  // mkstemp makes the file with mode 0600 whatever the umask.
  QByteArray temporary = QFile::encodeName(path) + QByteArrayLiteral(".XXXXXX");
  Descriptor file(::mkstemp(temporary.data()));
  if (file.get() < 0) {
    return false;
  }
  const bool written = WriteAll(file.get(), contents) && file.Close() &&
                       ::rename(temporary.constData(), QFile::encodeName(path).constData()) == 0;
  if (!written) {
    ::unlink(temporary.constData());
  }
  return written;
}

std::string CookieFileText(const std::vector<std::string>& lines) {
  std::string text =
      "# Netscape HTTP Cookie File\n"
      "# The cookies of vexel-downloader's browser, for vexel-dl --cookies-from-window.\n"
      "# Rewritten whenever they change.\n\n";
  for (const std::string& line : lines) {
    text += line;
    text += '\n';
  }
  return text;
}

}  // namespace vexel::app
