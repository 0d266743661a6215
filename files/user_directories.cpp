#include "files/user_directories.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "download/file_system.h"

namespace vexel::files {
namespace {

std::string AbsoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') {
    return {};
  }
  return value;
}

std::string WithSlash(std::string path) {
  if (!path.empty() && path.back() != '/') {
    path += '/';
  }
  return path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::string HomeDirectory() {
  std::string home = AbsoluteEnv("HOME");
  if (!home.empty()) {
    return home;
  }
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  return {};
}

std::string ParseUserDirsDownload(const std::string& file_text, const std::string& home) {
  // Lines look like: XDG_DOWNLOAD_DIR="$HOME/Downloads"; the value is either
  // "$HOME/..." or an absolute path. The last assignment wins, as in a shell.
  std::string result;
  std::istringstream lines(file_text);
  std::string line;
  const std::string key = "XDG_DOWNLOAD_DIR=\"";
  while (std::getline(lines, line)) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, key.size(), key) != 0) {
      continue;
    }
    const std::size_t value_start = start + key.size();
    const std::size_t value_end = line.find('"', value_start);
    if (value_end == std::string::npos) {
      continue;
    }
    std::string value = line.substr(value_start, value_end - value_start);
    if (value.rfind("$HOME", 0) == 0 && (value.size() == 5 || value[5] == '/')) {
      if (home.empty()) {
        continue;
      }
      value.replace(0, 5, home);
    }
    if (!value.empty() && value[0] == '/') {
      result = value;
    }
  }
  return result;
}

std::string UserDownloadDirectory() {
  if (std::string dir = AbsoluteEnv("XDG_DOWNLOAD_DIR"); !dir.empty()) {
    return WithSlash(dir);
  }
  const std::string home = HomeDirectory();
  std::string config = AbsoluteEnv("XDG_CONFIG_HOME");
  if (config.empty() && !home.empty()) {
    config = home + "/.config";
  }
  if (!config.empty()) {
    if (std::string dir = ParseUserDirsDownload(ReadFile(config + "/user-dirs.dirs"), home);
        !dir.empty()) {
      return WithSlash(dir);
    }
  }
  return home.empty() ? std::string() : home + "/Downloads/";
}

}  // namespace vexel::files
